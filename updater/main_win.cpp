// Process entry of Updater.exe. The updater takes no command line and does
// not care how it was asked to show itself; its exit code is UpdaterMain's.
// The C runtime calls WinMain by its C name with the module instance first;
// the other three arguments are never read, so no system header is needed.
#include "flow/startup.h"

extern "C" int PLATFORM_CALL WinMain(ModuleHandle instance, ModuleHandle previous,
                                     char* commandLine, int show);

extern "C" int PLATFORM_CALL WinMain(ModuleHandle instance, ModuleHandle, char*, int) {
  return UpdaterMain(instance);
}

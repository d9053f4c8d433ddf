// Process entry of Updater.exe. The updater takes no command line and does
// not care how it was asked to show itself; its exit code is UpdaterMain's.
#include <windows.h>

#include "flow/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  return UpdaterMain((ModuleHandle)instance);
}

// The end-to-end driver. Without a mode it runs the GoogleTest cases;
// --walk-example walks the example updater for tools/run-example.sh.
//
//   updater_e2e --updater=<base Updater.exe> --work=<folder> [gtest flags]
//   updater_e2e --walk-example --updater=<Updater.exe with package>
//               --work=<folder> [--shots=<folder>]
//               [--disk=<disk's files> --drive=<folder of the CD-ROM drive>]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "e2e/harness.h"
#include "e2e/walk.h"

int main(int argc, char** argv) {
  bool walk = false;
  e2e::WalkOptions walkOptions;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--walk-example") == 0) {
      walk = true;
    } else if (std::strncmp(argv[i], "--shots=", 8) == 0) {
      walkOptions.shots = e2e::WindowsPath(argv[i] + 8);
    } else if (std::strncmp(argv[i], "--disk=", 7) == 0) {
      walkOptions.disk = e2e::WindowsPath(argv[i] + 7);
    } else if (std::strncmp(argv[i], "--drive=", 8) == 0) {
      walkOptions.drive = e2e::WindowsPath(argv[i] + 8);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  argv[argc] = nullptr;
  e2e::ParseOptions(&argc, argv);

  // Wine takes the X display from the Unix environment.
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "updater_e2e: DISPLAY is not set; the updater's windows need one\n");
    return 1;
  }
  if (walk) {
    if (e2e::Config().updater.empty() || e2e::Config().work.empty()) {
      std::fprintf(stderr, "updater_e2e --walk-example needs --updater= and --work=\n");
      return 1;
    }
    try {
      walkOptions.updater = e2e::Config().updater;
      walkOptions.work = e2e::Config().work;
      return e2e::WalkExample(walkOptions);
    } catch (const e2e::StepFailed& failed) {
      std::printf("walk failed: %s\n", failed.what());
      return 2;
    }
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

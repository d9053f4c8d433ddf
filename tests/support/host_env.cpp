#if !defined(_WIN32)
#include "support/host_env.h"

#include "flow/run_state.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/messagebox.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "platform/shell.h"

// Resets of modules that keep process-wide state. Weak, so the tests of one
// module link before the others exist.
__attribute__((weak)) void ResetPackageState();
__attribute__((weak)) void ResetSettingsState();
__attribute__((weak)) void ResetStartupState();
__attribute__((weak)) void ResetWizardState();
__attribute__((weak)) void ResetUpdateState();
__attribute__((weak)) void HostResetUi();

void ResetHostSimulation() {
  for (void (*reset)() : {ResetPackageState, ResetSettingsState, ResetStartupState,
                          ResetWizardState, ResetUpdateState, HostResetUi})
    if (reset) reset();
  HostResetMessageBoxes();
  HostResetDrives();
  HostResetLibraries();
  HostResetResources();
  HostRegistryReset();
  HostShellReset();
  HostFailAllocation(-1);
  ResetRunState();
}

void HostTest::SetUp() {
  ResetHostSimulation();
  scratch_ = std::make_unique<ScratchFolder>();
}

void HostTest::TearDown() { scratch_.reset(); }
#endif

#if !defined(_WIN32)
#include "support/host_env.h"

#include "flow/records.h"
#include "flow/startup.h"
#include "flow/update_run.h"
#include "flow/wizard.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/messagebox.h"
#include "platform/ui.h"
#include "runtime/run_state.h"
#include "settings/setup_description.h"
#include "sim/sim.h"

void ResetHostSimulation() {
  ReleasePackage(&UpdaterPackage);
  ResetSettingsState();
  ResetStartupState();
  ResetWizardState();
  ResetUpdateState();
  HostResetUi();
  HostResetMessageBoxes();
  HostResetDrives();
  HostResetLibraries();
  HostResetResources();
  HostRegistryReset();
  HostShellReset();
  HostFailAllocation(-1);
  HostResetFaults();
  ResetRunState();
}

void HostTest::SetUp() {
  ResetHostSimulation();
  scratch_ = std::make_unique<ScratchFolder>();
}

void HostTest::TearDown() { scratch_.reset(); }
#endif

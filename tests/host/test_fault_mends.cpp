// Single failures that the fault-point sweep (tests/faults) found mishandled,
// each named here so it stays mended.
#include <string>
#include <vector>

#include "support/host_env.h"
#include "flow/startup.h"
#include "texts.h"

#include "support/startup_env.h"
#include "sim/sim.h"

namespace {

// UPDATE.INI that cannot be written into the temporary folder ends the
// updater with the temporary-file message, never without a word.
struct UnwritableUpdateIni {
  HostCallKind kind;
  const char* prefix;  // below the temporary folder
};

class UpdateIniUnwritable : public HostTest {};

TEST_F(UpdateIniUnwritable, SaysSo) {
  const UnwritableUpdateIni cases[] = {
      {kCallCreate, "QK2"}, {kCallWrite, "QK2"},   {kCallFlush, "QK2"},
      {kCallClose, "QK2"},  {kCallReplace, "UPD"},
  };
  StartupEnv env(Root());
  const std::string drive = HostPath("C:");
  const std::string format = kTextTempFileFailed;
  const std::string told = format.substr(0, format.find('%'));
  for (const UnwritableUpdateIni& c : cases) {
    SCOPED_TRACE(HostCallKindName(c.kind));
    ResetHostSimulation();
    HostMapDrive('C', drive.c_str());
    env.Install();
    HostFailFirstCall(c.kind, env.tempFolder + c.prefix);
    EXPECT_EQ(UpdaterMain(HostModule()), 0);
    ASSERT_NE(HostFailedCall(), nullptr);
    ASSERT_EQ(HostMessageBoxes().size(), 1u);
    EXPECT_EQ(HostMessageBoxes()[0].text.substr(0, told.size()), told);
    EXPECT_EQ(HostMessageBoxes()[0].flags, kMbOk | kMbIconError);
    EXPECT_EQ(env.TempFiles(), std::vector<std::string>{});
  }
}

}  // namespace

// The update folder check reads UPDATE.INI as the updater does: for texts
// written by hand to catch the rules at their edges, its account of every
// line equals the updater's own plan in every installation mode.
#include <gtest/gtest.h>

#include <fstream>

#include "support/host_env.h"
#include "support/one_reading.h"
#include "sim/sim.h"

namespace {

class OneReading : public HostTest {};

TEST_F(OneReading, CheckerAndPlanAgreeLineByLine) {
  const char* const kSections[] = {
      "UpdateFile00=a.dat\r\nUpdateFile01=u,BGM\\t.dat\r\nUpdateFile02=d,save.dat\r\n"
      "UpdateFile03=o,x.ini\r\nUpdateFile04=2,o,sys.ini\r\nUpdateFile05=12,u,a.dat\r\n",
      "UpdateFile00=u ,a.dat\r\nUpdateFile01=U,b.dat\r\nUpdateFile02=u\r\nUpdateFile03=3\r\n"
      "UpdateFile04=,u,a.dat\r\nUpdateFile05=bgm.dat,other\r\n",
      // A trail byte 0x5C is no separator; a disk prefix is dropped from a token.
      "UpdateFile00=u,\x83\x5C\\\x83\x5C.dat\r\nUpdateFile01=1:u,c.dat\r\nUpdateFile02=a,,b\r\n",
      "UpdateFile00=  spaced.dat  \r\nUpdateFile01=\"quoted.dat\"\r\nUpdateFile02=a.dat\r\n"
      "UpdateFile04=after-a-gap.dat\r\n",
      "CopyFile00=1,1:MOVIE\\OP.MPG\r\nCopyFile01=2:a, b ,c\r\nCopyFile02=MANUAL\r\n"
      "CopyFile03=A,3:x\r\nCopyFile04=0:zero\r\n",
      "CopyFile00=x:no-disk\r\nCopyFile01=10:ten\r\nUpdateFile00=9,d,only-nine.dat\r\n",
      "",
  };
  for (const char* section : kSections) {
    SCOPED_TRACE(section);
    const std::string folder = HostPath(Root().c_str());
    std::ofstream(folder + "/UPDATE.INI", std::ios::binary)
        << "[SETUP]\r\nCompanyName=A\r\n[UPDATE]\r\n" << section;
    EXPECT_EQ(CompareReadings(folder), "");
  }
}

}  // namespace

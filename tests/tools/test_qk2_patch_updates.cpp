// make-updater --patch-from: patch entries in the updater, and what list,
// verify, extract and preview make of them. The Windows qk2 has no patch
// maker and says so.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json.h"
#include "qk2_run.h"
#include "update_folder.h"

namespace qk2test {
namespace {

// A text file of about 300 KB; later versions change a few places.
std::string GameData(int version) {
  std::string text;
  for (int i = 0; i < 30000; ++i) text += "entry " + std::to_string(i * 37 % 9973) + ";\n";
  if (version >= 1) text.replace(5000, 8, "VERSION1");
  if (version >= 2) text.insert(200000, "inserted in version 2\n");
  return text;
}

class PatchUpdates : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveFixtureBase()) GTEST_SKIP() << "no test image to make a base from";
    ASSERT_TRUE(WriteFixtureBase(temp_ / "base.exe"));
    for (const char* folder : {"update", "old0", "old1", "install"})
      ASSERT_TRUE(MakeFolder(temp_ / folder));
    std::vector<FolderFile> files = StandardFiles();
    for (FolderFile& file : files)
      if (file.name == "GAME.DAT") file.bytes = GameData(2);
    WriteUpdateFolder(temp_ / "update", StandardIniLines(), files);
    ASSERT_TRUE(WriteFile(PathIn(temp_ / "old0", "GAME.DAT"), GameData(0)));
    ASSERT_TRUE(WriteFile(PathIn(temp_ / "old1", "GAME.DAT"), GameData(1)));
    ASSERT_TRUE(
        WriteFile(PathIn(temp_ / "install", "SETUP.INI"),
                  "[SETUP]\r\nCompanyName=TestSoft\r\nGameTitle=Game\r\nGameDir=TestGame\r\n"
                  "GameExe=g.exe\r\nUninstExe=u.exe\r\nSetupBmp=s.bmp\r\n"
                  "InstallSelects=1\r\nInstallTitle0=T\r\nInstallFiles0=g.exe\r\n"
                  "Shortcuts=0\r\n"));
  }
  ToolRun Make(const std::string& exe, std::vector<std::string> extra) {
    std::vector<std::string> args = {"make-updater", temp_ / "update",  "-o", exe,
                                     "--base",       temp_ / "base.exe"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunQk2(args);
  }
  TempFolder temp_;
};

#if defined(_WIN32)
TEST_F(PatchUpdates, TheWindowsToolSaysItCannotMakeThem) {
  const ToolRun run = Make(temp_ / "u.exe", {"--patch-from", temp_ / "old0"});
  EXPECT_EQ(run.code, 2) << run.Shown();
  EXPECT_NE(run.err.find("--patch-from needs the patch maker"), std::string::npos) << run.Shown();
  EXPECT_FALSE(FileExists(temp_ / "u.exe"));
}
#else
TEST_F(PatchUpdates, PatchEntriesThroughEveryCommand) {
  for (const bool keepWhole : {false, true}) {
    SCOPED_TRACE(keepWhole ? "--keep-whole" : "patch only");
    const std::string exe = temp_ / (keepWhole ? "whole.exe" : "patch.exe");
    std::vector<std::string> extra = {"--patch-from", temp_ / "old0", "--patch-from",
                                      temp_ / "old1"};
    if (keepWhole) extra.push_back("--keep-whole");
    const ToolRun made = Make(exe, extra);
    ASSERT_EQ(made.code, 0) << made.Shown();
    EXPECT_NE(made.out.find("patch GAME.DAT: from 2 old versions, "), std::string::npos)
        << made.out;
    // Much smaller than the whole file, which compresses to some 20 KB.
    const size_t exeSize = ReadFileOrEmpty(exe).size();
    EXPECT_EQ(RunQk2({"verify", exe}).code, 0) << RunQk2({"verify", exe}).Shown();

    const ToolRun listed = RunQk2({"list", exe});
    EXPECT_NE(listed.out.find("patch"), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find("GAME.DAT|whole") != std::string::npos, keepWhole) << listed.out;

    const std::string out = temp_ / (keepWhole ? "out-whole" : "out-patch");
    const ToolRun extracted = RunQk2({"extract", exe, "-C", out});
    EXPECT_EQ(extracted.code, keepWhole ? 0 : 1) << extracted.Shown();
    EXPECT_EQ(ReadFileOrEmpty(PathIn(out, "GAME.DAT")), keepWhole ? GameData(2) : "");
    if (!keepWhole) {
      EXPECT_NE(extracted.err.find("'GAME.DAT': a patch, which needs the installed file"),
                std::string::npos)
          << extracted.Shown();
    }

    // The preview names what the installed file is.
    struct Installed {
      std::string bytes;
      std::string action;
      std::string reason;  // its start
    };
    const Installed installs[] = {
        {GameData(0), "write", "patch from source "},
        {GameData(2), "keep-new", "already the new version"},
        {GameData(0) + "x", keepWhole ? "write" : "stop",
         keepWhole ? "installed file matches no patch source: the whole copy is written"
                   : "installed file matches no patch source, and there is no whole copy"},
    };
    for (const Installed& i : installs) {
      SCOPED_TRACE(i.action);
      ASSERT_TRUE(WriteFile(PathIn(temp_ / "install", "GAME.DAT"), i.bytes));
      const ToolRun run = RunQk2(
          {"preview", exe, "--install", temp_ / "install", "--data", temp_ / "install", "--json"});
      Json json;
      std::string error;
      ASSERT_TRUE(ParseJson(run.out, &json, &error)) << error << run.Shown();
      const Json& line = json["lines"].items.at(0);
      EXPECT_EQ(line["action"].text, i.action);
      EXPECT_EQ(line["reason"].text.rfind(i.reason, 0), 0u) << line["reason"].text;
    }
    if (!keepWhole) {
      EXPECT_LT(exeSize, ReadFileOrEmpty(temp_ / "base.exe").size() + 8000);
    }
  }
}

TEST_F(PatchUpdates, CheckSaysWhichLinesFindAnOldVersion) {
  const ToolRun run = RunQk2({"check", temp_ / "update", "--patch-from", temp_ / "old0",
                              "--patch-from", temp_ / "install"});
  EXPECT_EQ(run.code, 0) << run.Shown();
  const std::string ini = PathIn(temp_ / "update", "UPDATE.INI");
  for (const std::string& line :
       {ini + ":9: note: UpdateFile00: old version in 1 of 2 --patch-from folders",
        ini + ":10: note: UpdateFile01: no old version in the 2 --patch-from folders",
        ini + ":11: note: UpdateFile02: a \"d\" line: the player's file travels whole"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.Shown();
}

TEST_F(PatchUpdates, KeepWholeBelongsToPatchFrom) {
  const ToolRun run = Make(temp_ / "u.exe", {"--keep-whole"});
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("--keep-whole belongs to --patch-from"), std::string::npos) << run.Shown();
}
#endif

}  // namespace
}  // namespace qk2test

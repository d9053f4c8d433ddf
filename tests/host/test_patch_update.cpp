// A patch entry placed by the run: the installed file patched, left alone
// when it already is the new file, written from the whole copy, or refused
// with the user's file untouched.
#include <filesystem>

#include "packer/patch_maker.h"
#include "update_env.h"

namespace {
const char kNotThisVersion[] =
    "インストールされているファイルは、このアップデートの対象のバージョンではありません。\r";
const char kWriteFailed[] = "ファイルの書き込みに失敗しました";

std::string Version(char which) {
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "line " + std::to_string(i * 7 % 1000) + "\n";
  if (which >= '1') text.replace(1000, 5, "1.01!");
  if (which >= '2') text.insert(90000, "an inserted stretch");
  return text;
}

std::string Patch(const std::string& old, const std::string& updated) {
  const std::vector<uint8_t> patch =
      MakePatch({{(const uint8_t*)old.data(), old.size()}}, (const uint8_t*)updated.data(),
                updated.size(), CompressEffort::kFast);
  return std::string(patch.begin(), patch.end());
}

struct PatchCase {
  const char* what;
  const char* line;
  std::string installed;  // "<missing>" for none
  long installedTime;
  bool whole;  // the package carries the whole copy too
  std::string after;
  bool completes;
};

class PatchUpdate : public UpdateTest {};

TEST_F(PatchUpdate, EachInstalledVersion) {
  const std::string v100 = Version('0'), v101 = Version('2'), other = Version('1');
  const PatchCase cases[] = {
      {"1.00 patched", "GAME.DAT", v100, kYear2010, false, v101, true},
      {"already 1.01", "GAME.DAT", v101, kYear2010, false, v101, true},
      {"modified, no whole copy", "GAME.DAT", other, kYear2010, false, other, false},
      {"modified, whole copy", "GAME.DAT", other, kYear2010, true, v101, true},
      {"missing, no whole copy", "GAME.DAT", "<missing>", 0, false, "<missing>", false},
      {"missing, whole copy", "GAME.DAT", "<missing>", 0, true, v101, true},
      {"newer 1.00 kept", "u,GAME.DAT", v100, kYear2030, false, v100, true},
      {"older 1.00 patched", "u,GAME.DAT", v100, kYear2010, false, v101, true},
  };
  const std::string patch = Patch(v100, v101);
  ASSERT_LT(patch.size(), v101.size() / 20);
  for (const PatchCase& c : cases) {
    SCOPED_TRACE(c.what);
    HostResetMessageBoxes();
    std::vector<TestEntry> entries = {{"GAME.DAT", patch, kTestPatch}};
    if (c.whole) entries.push_back({"GAME.DAT|whole", v101, kTestCompressed | kTestScrambled});
    Package(entries);
    Remove(Game("GAME.DAT"));
    if (c.installed != "<missing>") {
      ASSERT_TRUE(WriteTestFile(Game("GAME.DAT"), c.installed));
      SetModified(Game("GAME.DAT"), c.installedTime);
    }
    Ini(std::string("UpdateFile00=") + c.line + "\r\n");
    EXPECT_EQ(RunWizard(), c.completes ? 0 : -1);
    EXPECT_EQ(Content(Game("GAME.DAT")), c.after);
    // A file made or patched carries the entry's time; one left alone its own.
    if (c.after == v101 && c.installed != v101) {
      EXPECT_EQ(Modified(Game("GAME.DAT")), 1577934245L);  // kTestEntryTime
    }
    if (c.after == c.installed && c.installed != "<missing>") {
      EXPECT_EQ(Modified(Game("GAME.DAT")), c.installedTime);
    }
    if (!c.completes) {
      EXPECT_EQ(BoxTexts(),
                (std::vector<std::string>{kNotThisVersion + Game("GAME.DAT"), kWriteFailed}));
    }
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(HostPath(game_.c_str())))
      files += entry.is_regular_file();
    EXPECT_EQ(files, c.after == "<missing>" ? 0u : 1u) << "a temporary file was left";
  }
}

// A damaged container never replaces the installed file.
TEST_F(PatchUpdate, DamagedPatchLeavesTheFile) {
  const std::string v100 = Version('0');
  std::string patch = Patch(v100, Version('2'));
  for (size_t at : {size_t{4}, size_t{60}, patch.size() / 2, patch.size() - 1}) {
    SCOPED_TRACE(at);
    std::string damaged = patch;
    damaged[at] ^= 0x55;
    Package({{"GAME.DAT", damaged, kTestPatch}});
    ASSERT_TRUE(WriteTestFile(Game("GAME.DAT"), v100));
    Ini("UpdateFile00=GAME.DAT\r\n");
    EXPECT_EQ(RunWizard(), -1);
    EXPECT_EQ(Content(Game("GAME.DAT")), v100);
  }
}
}  // namespace

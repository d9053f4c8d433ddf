// From an update folder to a running updater under Wine: qk2.exe makes the
// updater from the base Updater.exe, and the updater made is run and played
// through with the windows of the end-to-end harness.
//
//   qk2_e2e --updater=<base Updater.exe> --work=<folder> [gtest flags]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "packer/pe_resources.h"
#include "qk2_run.h"
#include "update_folder.h"

namespace {

using e2e::Config;
using e2e::Utf8;

// A game of this test's own, apart from the harness's cases.
constexpr const char* kCompany = "Qk2Soft";
constexpr const char* kGameDir = "Qk2Game";
constexpr const char* kCaption = "テストゲーム アップデータ 2.0";

class MadeUpdater : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Config().updater.empty() || Config().work.empty())
        << "qk2_e2e needs --updater=<base Updater.exe> and --work=<folder>";
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = Config().work + "\\" + test->name();
    e2e::RemoveTree(root_);
    e2e::MakeFolders(root_);
    update_ = root_ + "\\update";
    install_ = root_ + "\\install";
    data_ = root_ + "\\save";
    temp_ = root_ + "\\temp";
    for (const std::string* folder : {&update_, &install_, &data_, &temp_})
      e2e::MakeFolders(*folder);
    e2e::DeleteCompanyKey(kCompany);
  }
  void TearDown() override {
    if (process_ && process_->Kill()) ADD_FAILURE() << "the updater was still running at the end";
    process_.reset();
    e2e::DeleteCompanyKey(kCompany);
    if (!HasFailure()) e2e::RemoveTree(root_);
  }

  // The standard update folder of the qk2 tests, for this test's game, and
  // the updater that qk2.exe makes of it.
  std::string MakeUpdaterExe() {
    std::vector<std::string> ini = qk2test::StandardIniLines();
    ini[1] = std::string("CompanyName=") + kCompany;
    ini[4] = std::string("GameDir=") + kGameDir;
    qk2test::WriteUpdateFolder(update_, ini, qk2test::StandardFiles());
    const std::string exe = root_ + "\\Update.exe";
    const qk2test::ToolRun run =
        qk2test::RunQk2({"make-updater", update_, "-o", exe, "--base", Config().updater});
    EXPECT_EQ(run.code, 0) << run.Shown();
    return exe;
  }

  void InstallGame() {
    e2e::InstallValues values;
    values.instPath = install_;
    values.dataPath = data_;
    values.instMode = 1;
    e2e::WriteInstallKey(kCompany, kGameDir, values);
    const e2e::Ini setup =
        e2e::StandardSetupIni(kCompany, kGameDir, "テストゲーム", "TestGameClass");
    ASSERT_TRUE(e2e::WriteBytes(install_ + "\\SETUP.INI", setup.Text()));
  }

  e2e::Process& Start(const std::string& exe) {
    process_ = std::make_unique<e2e::Process>(exe, root_, temp_);
    return *process_;
  }

  std::string root_, update_, install_, data_, temp_;
  std::unique_ptr<e2e::Process> process_;
};

std::string Listing(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + Utf8(name);
  return "{" + out + "}";
}

TEST_F(MadeUpdater, PlacesExactlyTheFolderFiles) {
  const std::string exe = MakeUpdaterExe();
  ASSERT_FALSE(HasFailure());
  InstallGame();
  e2e::Process& updater = Start(exe);
  const e2e::Wizard wizard = e2e::WaitForWizard(updater, kCaption);
  // The agreement is stored unscrambled: the updater shows it as written.
  EXPECT_TEXT(wizard.Text(e2e::Wizard::kAgreement), qk2test::kAgreementText);
  wizard.Press(e2e::Wizard::kAgree);
  wizard.Press(e2e::Wizard::kNext);
  wizard.WaitInfo("アップデートを実行します");
  wizard.PressAsync(e2e::Wizard::kNext);
  wizard.WaitInfo("アップデートは完了しました");
  EXPECT_TEXT(wizard.Text(e2e::Wizard::kNext), "完了");
  wizard.PressAsync(e2e::Wizard::kNext);
  EXPECT_EQ(updater.WaitExit(), 1u);

  EXPECT_EQ(Listing(e2e::FolderEntries(install_)),
            Listing({"SETUP.INI", "GAME.DAT", "ステージ.DAT"}));
  EXPECT_EQ(Listing(e2e::FolderEntries(data_)), Listing({"SAVE.DAT"}));
  EXPECT_EQ(Listing(e2e::FolderEntries(temp_)), Listing({}));
  const std::pair<std::string, std::string> placed[] = {
      {install_, "GAME.DAT"}, {install_, "ステージ.DAT"}, {data_, "SAVE.DAT"}};
  for (const auto& file : placed) {
    const std::string path = file.first + "\\" + file.second;
    std::string bytes, original;
    EXPECT_TRUE(e2e::ReadBytes(path, &bytes)) << Utf8(path);
    EXPECT_TRUE(e2e::ReadBytes(update_ + "\\" + file.second, &original));
    EXPECT_EQ(bytes, original) << Utf8(path);
    EXPECT_EQ(e2e::ShowTime(e2e::LastWriteTime(path)), e2e::ShowTime(qk2test::kFolderTime))
        << Utf8(path);
  }
}

TEST_F(MadeUpdater, ChangedPackageEndsTheRunBeforeAnythingIsWritten) {
  const std::string exe = MakeUpdaterExe();
  ASSERT_FALSE(HasFailure());
  InstallGame();
  // One byte in the middle of the package inside the executable.
  std::string image, package;
  ASSERT_TRUE(e2e::ReadBytes(exe, &image));
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(ReadPeResource(std::vector<uint8_t>(image.begin(), image.end()),
                             ResourceKey::Name(std::string("UPDATE")), 102, &bytes, &error))
      << error;
  package.assign(bytes.begin(), bytes.end());
  const size_t at = image.find(package);
  ASSERT_NE(at, std::string::npos);
  image[at + package.size() / 2] ^= 0x10;
  ASSERT_TRUE(e2e::WriteBytes(exe, image));
  const qk2test::ToolRun verified = qk2test::RunQk2({"verify", exe});
  EXPECT_EQ(verified.code, 1) << verified.Shown();
  EXPECT_NE(verified.err.find("the package does not match its digest resource"), std::string::npos)
      << verified.Shown();

  e2e::Process& updater = Start(exe);
  const e2e::MsgBox box = e2e::WaitForBox(updater, "UPDATE");
  EXPECT_TEXT(box.Text(), "RESOURCE READ ERROR");
  // While the box is up: not even UPDATE.INI has been taken out.
  EXPECT_EQ(Listing(e2e::FolderEntries(temp_)), Listing({}));
  EXPECT_EQ(Listing(e2e::FolderEntries(install_)), Listing({"SETUP.INI"}));
  EXPECT_EQ(Listing(e2e::FolderEntries(data_)), Listing({}));
  box.Press(IDOK);
  EXPECT_EQ(updater.WaitExit(), 0u);
  EXPECT_EQ(Listing(e2e::FolderEntries(temp_)), Listing({}));
  EXPECT_EQ(Listing(e2e::FolderEntries(install_)), Listing({"SETUP.INI"}));
}

// An updater made with --patch-from (by the host qk2, at build time) on
// each kind of installed file: version 1.00 becomes 1.01 byte for byte, a
// 1.01 is left alone, anything else is refused with its box and kept.
TEST_F(MadeUpdater, PatchTurnsTheOldVersionIntoTheNew) {
  const std::string fixture = PATCH_FIXTURE;
  std::string v100, v101;
  ASSERT_TRUE(e2e::ReadBytes(fixture + "/old/GAME.DAT", &v100));
  ASSERT_TRUE(e2e::ReadBytes(fixture + "/update/GAME.DAT", &v101));
  struct Installed {
    const char* what;
    std::string bytes;
    bool finishes;
    std::string after;
  };
  const Installed cases[] = {
      {"1.00", v100, true, v101},
      {"1.01", v101, true, v101},
      {"modified", v100.substr(0, 1000) + "changed by the player", false,
       v100.substr(0, 1000) + "changed by the player"},
  };
  for (const Installed& c : cases) {
    SCOPED_TRACE(c.what);
    InstallGame();
    const std::string game = install_ + "\\GAME.DAT";
    const e2e::FileTimeValue before = e2e::FileTimeOf(2023, 1, 15);
    e2e::PutFile(game, c.bytes, before);
    e2e::Process& updater = Start(fixture + "/PatchUpdate.exe");
    const e2e::Wizard wizard = e2e::WaitForWizard(updater, kCaption);
    wizard.Press(e2e::Wizard::kNext);
    wizard.WaitInfo("アップデートを実行します");
    wizard.PressAsync(e2e::Wizard::kNext);
    if (c.finishes) {
      wizard.WaitInfo("アップデートは完了しました");
      wizard.PressAsync(e2e::Wizard::kNext);
      EXPECT_EQ(updater.WaitExit(), 1u);
    } else {
      const e2e::MsgBox refused = e2e::WaitForBox(updater, kCaption);
      EXPECT_TEXT(refused.Text(),
                  "インストールされているファイルは、このアップデートの対象のバージョンではありません。\r" +
                      game);
      refused.Press(IDOK);
      e2e::WaitForBox(updater, kCaption).Press(IDOK);  // the write failed
      const e2e::MsgBox interrupted = e2e::WaitForBox(updater, kCaption);
      EXPECT_TEXT(interrupted.Text(), "アップデートが中断されました");
      interrupted.Press(IDOK);
      EXPECT_EQ(updater.WaitExit(), 0u);
    }
    std::string now;
    EXPECT_TRUE(e2e::ReadBytes(game, &now));
    EXPECT_TRUE(now == c.after) << now.size() << " bytes";
    if (c.after == c.bytes) {
      EXPECT_EQ(e2e::ShowTime(e2e::LastWriteTime(game)), e2e::ShowTime(before));
    }
    EXPECT_EQ(Listing(e2e::FolderEntries(install_)), Listing({"SETUP.INI", "GAME.DAT"}));
    EXPECT_EQ(Listing(e2e::FolderEntries(temp_)), Listing({}));
    process_.reset();
  }
}

}  // namespace

int main(int argc, char** argv) {
  e2e::ParseOptions(&argc, argv);
  if (!std::getenv("DISPLAY")) {
    std::fprintf(stderr, "qk2_e2e: DISPLAY is not set; the updater's windows need one\n");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// The update step under the simulated wizard: an installation in the
// scratch folder, an UPDATE.INI whose section "UPDATE" each test writes, a
// package opened from test entries, and the wizard walked to its update step.
#pragma once
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "runtime/run_state.h"
#include "flow/startup.h"
#include "flow/update_plan.h"
#include "flow/wizard.h"
#include "package/package.h"
#include "platform/files.h"
#include "platform/messagebox.h"
#include "platform/ui.h"
#include "settings/settings.h"
#include "settings/setup_description.h"
#include "support/host_env.h"
#include "support/test_package.h"
#include "texts.h"
#include "sim/sim.h"

// Unix times of file stamps around the entries' kTestEntryTime (2020).
constexpr long kYear2010 = 1262304000;
constexpr long kYear2030 = 1893456000;

inline void SetText(char* buffer, const std::string& text) {
  ASSERT_LT(text.size(), (size_t)kPathSize);
  memcpy(buffer, text.c_str(), text.size() + 1);
}

class UpdateTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ResolveDynamicApi();
    ReportMissingKeys = 0;
    SetText(UpdateIniPath, At("UPDATE.INI"));
    game_ = At("Game");
    MakeTestFolder(game_);
    SetText(InstallRecord.InstPath, game_);
    InstallRecord.InstMode = 1;
    UpdateDescription.ModeWord = kTextModeWordUpdate;
    SetText(SetupDescription.GameTitle, "Game");
    SetText(WindowCaption, "Game Updater");
  }

  // Section "UPDATE" with these lines ("Key=value\r\n" each).
  void Ini(const std::string& lines) {
    ASSERT_TRUE(WriteTestFile(At("UPDATE.INI"), "[UPDATE]\r\n" + lines));
  }
  void Package(const std::vector<TestEntry>& entries) {
    ASSERT_NE(OpenTestPackage(BuildTestPackage(entries)), nullptr);
  }
  // A CD-ROM drive `letter` over a scratch folder of its own holding `files`
  // (relative Windows paths, folders created as needed).
  void MapCd(char letter, const std::vector<std::string>& files) {
    std::string folder = At(std::string("cd") + letter);
    MakeTestFolder(folder);
    for (const std::string& file : files) {
      size_t slash = file.rfind('\\');
      if (slash != std::string::npos) MakeTestFolder(folder + "\\" + file.substr(0, slash));
      ASSERT_TRUE(WriteTestFile(folder + "\\" + file, "cd:" + file));
    }
    HostMapDrive(letter, HostPath(folder.c_str()).c_str(), kDriveCdrom);
  }
  // Opens the wizard, presses Next on the opening and the ready page, then
  // runs `then` (by default the press of the button that now reads "完了").
  // Returns the dialog's result.
  intptr_t RunWizard(std::function<void(WindowHandle)> then = nullptr) {
    HostSetDialogScript([then](WindowHandle dialog) {
      HostClick(dialog, kIdNext);
      HostClick(dialog, kIdNext);
      if (then) then(dialog);
      else HostClick(dialog, kIdNext);
    });
    return OsDialogBox(HostModule(), kTemplateWizard, nullptr, WizardProc, 0);
  }
  std::string Game(const std::string& relative) const { return game_ + "\\" + relative; }
  std::string Info() const { return HostDialogControl(kIdInfo)->text; }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const HostMessageBox& box : HostMessageBoxes()) texts.push_back(box.text);
    return texts;
  }
  static std::string Content(const std::string& path) {
    std::string bytes;
    return ReadTestFile(path, &bytes) ? bytes : "<missing>";
  }
  static void SetModified(const std::string& path, long unixSeconds) {
    struct timespec times[2] = {{unixSeconds, 0}, {unixSeconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, HostPath(path.c_str()).c_str(), times, 0), 0);
  }
  static long Modified(const std::string& path) {
    struct stat st;
    return stat(HostPath(path.c_str()).c_str(), &st) == 0 ? (long)st.st_mtime : -1;
  }
  static void Remove(const std::string& path) { std::remove(HostPath(path.c_str()).c_str()); }
  static void SetReadOnly(const std::string& path) {
    ASSERT_EQ(chmod(HostPath(path.c_str()).c_str(), 0444), 0);
  }
  static bool IsReadOnly(const std::string& path) {
    struct stat st;
    return stat(HostPath(path.c_str()).c_str(), &st) == 0 && !(st.st_mode & S_IWUSR);
  }

  std::string game_;
};

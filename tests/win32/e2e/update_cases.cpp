// The update step run for real under Wine: package entries placed by kind
// and installation mode, files and folders copied from CD-ROM drives, the
// prompt for a missing disk, the failures that interrupt an update, and the
// free-space checks (of the ready page and of each entry).
#include <algorithm>
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace e2e {
namespace {

constexpr const char* kReadyText = "アップデートを実行します";
constexpr const char* kRunningText = "アップデートを実行しています";
constexpr const char* kInterrupted = "アップデートが中断されました";

// Entry contents that differ per name; long ones are compressed by the packer.
std::string Content(const std::string& name, size_t repeat = 1) {
  std::string text;
  for (size_t i = 0; i < repeat; ++i) {
    text += "package " + name + " line " + std::to_string(i) + "\r\n";
  }
  return text;
}

std::string Listing(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + Utf8(name);
  return "{" + out + "}";
}

// The file exists with these bytes and, when `time` is not 0, this
// last-write time.
void ExpectFile(const std::string& path, const std::string& bytes, FileTimeValue time = 0) {
  std::string actual;
  if (!ReadBytes(path, &actual)) {
    ADD_FAILURE() << Utf8(path) << " is missing";
    return;
  }
  EXPECT_EQ(actual, bytes) << "content of " << Utf8(path);
  if (time != 0) {
    EXPECT_EQ(ShowTime(LastWriteTime(path)), ShowTime(time)) << "last-write time of " << Utf8(path);
  }
}

// The folder holds exactly these names: nothing missing, nothing extra (no
// temporary file of a write left behind).
void ExpectFolder(const std::string& folder, std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  EXPECT_EQ(Listing(FolderEntries(folder)), Listing(names)) << "in " << Utf8(folder);
}

// The wizard in its busy look while a box of the update step is up.
void ExpectBusy(const Wizard& wizard) {
  EXPECT_TEXT(wizard.Info(), kRunningText);
  EXPECT_FALSE(wizard.Enabled(Wizard::kNext)) << wizard.Describe();
  EXPECT_FALSE(wizard.Enabled(Wizard::kBack)) << wizard.Describe();
  EXPECT_FALSE(wizard.Enabled(Wizard::kCancel)) << wizard.Describe();
}

void WaitGone(const MsgBox& box) {
  if (!Eventually([&] { return !IsWindow(box.handle()) || !IsWindowVisible(box.handle()); })) {
    throw StepFailed("the box \"" + Utf8(box.Text()) + "\" stays after its answer");
  }
}

// ---------------------------------------------------------------- placing entries

using Placement = UpdaterCase;

TEST_F(Placement, EveryKindIntoTheInstallationAndDataFolders) {
  InstallGame();
  const std::string folder = "追加データ";  // DataFolder, below both roots
  const std::string inst = installDir() + "\\" + folder;
  const std::string data = dataDir() + "\\" + folder;
  MakeFolders(inst + "\\BGM");
  MakeFolders(data);
  const FileTimeValue older = FileTimeOf(2010, 5, 6, 7, 8, 9);
  const FileTimeValue newer = FileTimeOf(2030, 1, 1);
  PutFile(inst + "\\PLAIN.DAT", "installed plain", newer);
  PutFile(inst + "\\NEWER.DAT", "installed newer", newer);
  PutFile(inst + "\\OLDER.DAT", "installed older", older);
  PutFile(inst + "\\SAME.DAT", "installed same", kEntryTime);  // not newer
  PutFile(inst + "\\BGM\\TRACK01.DAT", "installed track", older);
  PutFile(inst + "\\OVER.DAT", "installed over", newer);
  PutFile(data + "\\CONFIG.DAT", "the player's settings", older);

  Ini ini = StandardUpdateIni()
                .Set("SETUP", "DataFolder", folder)
                .Set("UPDATE", "UpdateFile00", "PLAIN.DAT")        // over a newer file
                .Set("UPDATE", "UpdateFile01", "FIRST.DAT")        // missing
                .Set("UPDATE", "UpdateFile02", "u,NEWER.DAT")      // newer stays
                .Set("UPDATE", "UpdateFile03", "U,OLDER.DAT")      // older replaced
                .Set("UPDATE", "UpdateFile04", "u,FRESH.DAT")      // missing
                .Set("UPDATE", "UpdateFile05", "u,BGM\\TRACK01.DAT")
                .Set("UPDATE", "UpdateFile06", "o,OVER.DAT")       // existing, even newer
                .Set("UPDATE", "UpdateFile07", "o,ABSENT.DAT")     // missing: skipped
                .Set("UPDATE", "UpdateFile08", "d,CONFIG.DAT")     // kept
                .Set("UPDATE", "UpdateFile09", "D,NEWSAVE.DAT")    // missing
                .Set("UPDATE", "UpdateFile10", "u,SAME.DAT");      // as old: replaced
  std::vector<PackageFile> entries;
  for (const char* name : {"PLAIN.DAT", "FIRST.DAT", "NEWER.DAT", "OLDER.DAT", "FRESH.DAT",
                           "TRACK01.DAT", "OVER.DAT", "ABSENT.DAT", "CONFIG.DAT", "NEWSAVE.DAT",
                           "SAME.DAT"}) {
    entries.push_back({name, Content(name, std::string(name) == "OLDER.DAT" ? 2000 : 3)});
  }
  Process& updater = Launch(ini, entries);
  Wizard wizard = OpenReadyPage(updater);
  const FileTimeValue started = Now();
  RunToFinish(updater, wizard);
  const FileTimeValue finished = Now();

  ExpectFile(inst + "\\PLAIN.DAT", Content("PLAIN.DAT", 3), kEntryTime);
  ExpectFile(inst + "\\FIRST.DAT", Content("FIRST.DAT", 3), kEntryTime);
  ExpectFile(inst + "\\NEWER.DAT", "installed newer", newer);
  ExpectFile(inst + "\\OLDER.DAT", Content("OLDER.DAT", 2000), kEntryTime);
  ExpectFile(inst + "\\FRESH.DAT", Content("FRESH.DAT", 3), kEntryTime);
  ExpectFile(inst + "\\BGM\\TRACK01.DAT", Content("TRACK01.DAT", 3), kEntryTime);
  ExpectFile(inst + "\\OVER.DAT", Content("OVER.DAT", 3), kEntryTime);
  ExpectFile(inst + "\\SAME.DAT", Content("SAME.DAT", 3), kEntryTime);
  ExpectFile(data + "\\NEWSAVE.DAT", Content("NEWSAVE.DAT", 3), kEntryTime);
  // The kept data file is written anew with its own bytes: a fresh time.
  ExpectFile(data + "\\CONFIG.DAT", "the player's settings");
  FileTimeValue kept = LastWriteTime(data + "\\CONFIG.DAT");
  EXPECT_GE(kept + 2 * kOneSecond, started) << ShowTime(kept);
  EXPECT_LE(kept, finished + 2 * kOneSecond) << ShowTime(kept);

  ExpectFolder(installDir(), {"SETUP.INI", folder});
  ExpectFolder(inst, {"BGM", "FIRST.DAT", "FRESH.DAT", "NEWER.DAT", "OLDER.DAT", "OVER.DAT",
                      "PLAIN.DAT", "SAME.DAT"});
  ExpectFolder(inst + "\\BGM", {"TRACK01.DAT"});
  ExpectFolder(dataDir(), {folder});
  ExpectFolder(data, {"CONFIG.DAT", "NEWSAVE.DAT"});
}

// Entries of several megabytes are written a window at a time through the
// real WriteFile and FlushFileBuffers: a compressed one whose matches reach
// across every window, and one that does not compress and is stored
// scrambled, each replacing an installed file.
TEST_F(Placement, LargeEntriesArePlacedWhole) {
  InstallGame();
  std::string noise(2500000, '\0');
  unsigned seed = 7;
  for (char& c : noise) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  const std::string text = Content("LARGE.DAT", 140000);  // about 3.6 MB
  PutFile(installDir() + "\\LARGE.DAT", "installed large", FileTimeOf(2010, 1, 1));
  PutFile(installDir() + "\\NOISE.DAT", "installed noise", FileTimeOf(2010, 1, 1));
  Ini ini = StandardUpdateIni()
                .Set("UPDATE", "UpdateFile00", "u,LARGE.DAT")
                .Set("UPDATE", "UpdateFile01", "NOISE.DAT");
  Process& updater = Launch(ini, {{"LARGE.DAT", text}, {"NOISE.DAT", noise}});
  Wizard wizard = OpenReadyPage(updater);
  RunToFinish(updater, wizard);
  ExpectFile(installDir() + "\\LARGE.DAT", text, kEntryTime);
  ExpectFile(installDir() + "\\NOISE.DAT", noise, kEntryTime);
  ExpectFolder(installDir(), {"LARGE.DAT", "NOISE.DAT", "SETUP.INI"});
}

TEST_F(Placement, DataFolderIsMadeBelowEachRoot) {
  InstallGame();
  Ini ini = StandardUpdateIni()
                .Set("SETUP", "DataFolder", "新規")
                .Set("UPDATE", "UpdateFile00", "GAME.DAT")
                .Set("UPDATE", "UpdateFile01", "d,SAVE.DAT");
  Process& updater = Launch(ini, {{"GAME.DAT", "game"}, {"SAVE.DAT", "save"}});
  Wizard wizard = OpenReadyPage(updater);
  RunToFinish(updater, wizard);
  ExpectFile(installDir() + "\\新規\\GAME.DAT", "game", kEntryTime);
  ExpectFile(dataDir() + "\\新規\\SAVE.DAT", "save", kEntryTime);
  ExpectFolder(installDir(), {"SETUP.INI", "新規"});
  ExpectFolder(dataDir(), {"新規"});
}

TEST_F(Placement, RootsRecordedWithATrailingBackslash) {
  InstallValues values;
  values.instPath = installDir() + "\\";
  values.dataPath = dataDir() + "\\";
  values.instMode = 1;
  Register(values);
  WriteSetupIni(StandardSetupIni());
  Ini ini = StandardUpdateIni().Set("UPDATE", "UpdateFile01", "d,SAVE.DAT");
  Process& updater = Launch(ini, {{"GAME.DAT", "game"}, {"SAVE.DAT", "save"}});
  Wizard wizard = OpenReadyPage(updater);
  RunToFinish(updater, wizard);
  ExpectFile(installDir() + "\\GAME.DAT", "game", kEntryTime);
  ExpectFile(dataDir() + "\\SAVE.DAT", "save", kEntryTime);
  ExpectFolder(installDir(), {"GAME.DAT", "SETUP.INI"});
  ExpectFolder(dataDir(), {"SAVE.DAT"});
}

TEST_F(Placement, OverwriteOnlyPlacesOverExistingFilesAlone) {
  InstallGame();
  const FileTimeValue older = FileTimeOf(2011, 2, 3);
  PutFile(installDir() + "\\A.DAT", "installed a", older);
  PutFile(installDir() + "\\U.DAT", "installed u", older);
  PutFile(dataDir() + "\\D.DAT", "installed d", older);
  Ini ini = StandardUpdateIni()
                .Set("UPDATE", "OverwriteOnly", "1")
                .Set("UPDATE", "UpdateFile00", "A.DAT")
                .Set("UPDATE", "UpdateFile01", "B.DAT")
                .Set("UPDATE", "UpdateFile02", "u,U.DAT")
                .Set("UPDATE", "UpdateFile03", "u,V.DAT")
                .Set("UPDATE", "UpdateFile04", "d,D.DAT")
                .Set("UPDATE", "UpdateFile05", "d,E.DAT");
  std::vector<PackageFile> entries;
  for (const char* name : {"A.DAT", "B.DAT", "U.DAT", "V.DAT", "D.DAT", "E.DAT"}) {
    entries.push_back({name, Content(name)});
  }
  Process& updater = Launch(ini, entries);
  Wizard wizard = OpenReadyPage(updater);
  RunToFinish(updater, wizard);
  ExpectFile(installDir() + "\\A.DAT", Content("A.DAT"), kEntryTime);
  ExpectFile(installDir() + "\\U.DAT", Content("U.DAT"), kEntryTime);
  ExpectFile(dataDir() + "\\D.DAT", "installed d");
  ExpectFolder(installDir(), {"A.DAT", "SETUP.INI", "U.DAT"});
  ExpectFolder(dataDir(), {"D.DAT"});
}

using InstallModes = UpdaterCase;

TEST_F(InstallModes, OnlyTheLinesOfTheRecordedModeArePlaced) {
  InstallValues values;
  values.instPath = installDir();
  values.dataPath = dataDir();
  values.instMode = 2;
  Register(values);
  WriteSetupIni(StandardSetupIni());
  Ini ini = StandardUpdateIni()
                .Set("UPDATE", "UpdateFile00", "1,MODE1.DAT")
                .Set("UPDATE", "UpdateFile01", "2,MODE2.DAT")
                .Set("UPDATE", "UpdateFile02", "1,u,UPDATE1.DAT")
                .Set("UPDATE", "UpdateFile03", "2,u,UPDATE2.DAT")
                .Set("UPDATE", "UpdateFile04", "1,d,SAVE1.DAT")
                .Set("UPDATE", "UpdateFile05", "2,d,SAVE2.DAT")
                .Set("UPDATE", "UpdateFile06", "EVERY.DAT")
                .Set("UPDATE", "UpdateFile07", "3,EVERY.DAT");
  std::vector<PackageFile> entries;
  for (const char* name : {"MODE1.DAT", "MODE2.DAT", "UPDATE1.DAT", "UPDATE2.DAT", "SAVE1.DAT",
                           "SAVE2.DAT", "EVERY.DAT"}) {
    entries.push_back({name, Content(name)});
  }
  Process& updater = Launch(ini, entries);
  Wizard wizard = OpenReadyPage(updater);
  RunToFinish(updater, wizard);
  ExpectFolder(installDir(), {"EVERY.DAT", "MODE2.DAT", "SETUP.INI", "UPDATE2.DAT"});
  ExpectFolder(dataDir(), {"SAVE2.DAT"});
  ExpectFile(installDir() + "\\MODE2.DAT", Content("MODE2.DAT"), kEntryTime);
  ExpectFile(installDir() + "\\UPDATE2.DAT", Content("UPDATE2.DAT"), kEntryTime);
  ExpectFile(dataDir() + "\\SAVE2.DAT", Content("SAVE2.DAT"), kEntryTime);
}

TEST_F(InstallModes, NothingForTheRecordedModeSaysSoAndFinishes) {
  InstallValues values;
  values.instPath = installDir();
  values.dataPath = dataDir();
  values.instMode = 3;
  Register(values);
  WriteSetupIni(StandardSetupIni());
  Ini ini = StandardUpdateIni()
                .Set("UPDATE", "UpdateFile00", "1,GAME.DAT")
                .Set("UPDATE", "UpdateFile01", "2,d,SAVE.DAT")
                .Set("UPDATE", "CopyFile00", "1,1:MOVIE\\OP.MPG");
  Process& updater = Launch(ini, {{"GAME.DAT", "game"}, {"SAVE.DAT", "save"}});
  Wizard wizard = OpenReadyPage(updater);
  wizard.PressAsync(Wizard::kNext);
  AnswerBox(updater, kCaption, "アップデートする必要のあるファイルはありません");
  FinishCompleted(updater, wizard);
  ExpectFolder(installDir(), {"SETUP.INI"});
  ExpectFolder(dataDir(), {});
}

// ---------------------------------------------------------------- copies from the CD-ROM

// Cases with the CD-ROM drives of run.sh, both empty at the start. The test
// game's SETUP.INI names a check file for disks 1 and 2.
class Media : public UpdaterCase {
 protected:
  void SetUp() override {
    UpdaterCase::SetUp();
    for (char letter : {kLowerCdrom, kCdrom}) {
      char root[] = {letter, ':', '\\', '\0'};
      ASSERT_EQ(GetDriveTypeA(root), (UINT)DRIVE_CDROM)
          << root << " is not a CD-ROM drive; the driver runs under run.sh, which makes it";
      std::string folder = DriveFolder(letter);
      RemoveTree(folder);
      MakeFolders(folder);
    }
    Register();
    WriteSetupIni(StandardSetupIni()
                      .Set("SETUP", "DiskCheckFile1", "DISK1.ID")
                      .Set("SETUP", "DiskCheckFile2", "CHECK\\DISK2.ID"));
  }
  void TearDown() override {
    UpdaterCase::TearDown();
    for (char letter : {kLowerCdrom, kCdrom}) RemoveTree(DriveFolder(letter));
  }

  // Puts a file on the disk in drive `letter` (its folders made first);
  // read-only as files on a CD-ROM are, unless `writable`.
  void OnDisk(char letter, const std::string& path, const std::string& bytes,
              bool writable = false) {
    std::string full = DriveFolder(letter) + "\\" + path;
    MakeFolders(full.substr(0, full.rfind('\\')));
    if (!WriteBytes(full, bytes)) throw StepFailed("cannot write " + Utf8(full));
    if (!writable) SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_READONLY);
  }
  void InsertDisk1(char letter) { OnDisk(letter, "DISK1.ID", "disk 1"); }
  void InsertDisk2(char letter) { OnDisk(letter, "CHECK\\DISK2.ID", "disk 2"); }

  static std::string InsertPrompt(int disk) {
    return "ＣＤ－ＲＯＭドライブに「テストゲーム」ディスク " + std::to_string(disk) +
           " を入れて下さい";
  }
};

bool ReadOnly(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

TEST_F(Media, FilesAndFoldersComeFromTheDriveHoldingEachDisk) {
  // Disk 2 in the lower drive, disk 1 in the other one.
  InsertDisk2(kLowerCdrom);
  OnDisk(kLowerCdrom, "VOICE\\VOICE.PAK", Content("VOICE.PAK", 50));
  InsertDisk1(kCdrom);
  OnDisk(kCdrom, "MOVIE\\OP.MPG", Content("OP.MPG", 400));
  OnDisk(kCdrom, "MOVIE\\ED.MPG", "ending");
  OnDisk(kCdrom, "MOVIE\\EXTRA.MPG", "for another mode");
  OnDisk(kCdrom, "MANUAL\\INDEX.HTM", "manual", true);
  OnDisk(kCdrom, "MANUAL\\IMG\\LOGO.PNG", "logo", true);
  ASSERT_TRUE(ReadOnly(DriveFolder(kCdrom) + "\\MOVIE\\OP.MPG"));

  Ini ini = StandardUpdateIni()
                .Set("UPDATE", "CopyFile00", "1:MOVIE\\OP.MPG")
                .Set("UPDATE", "CopyFile01", "MANUAL")  // no disk: the drive found last
                .Set("UPDATE", "CopyFile02", "2:VOICE\\VOICE.PAK")
                .Set("UPDATE", "CopyFile03", "1,1:MOVIE\\ED.MPG")
                .Set("UPDATE", "CopyFile04", "2,1:MOVIE\\EXTRA.MPG");
  Process& updater = Launch(ini, {{"GAME.DAT", "game"}});
  Wizard wizard = OpenReadyPage(updater);
  RunToFinish(updater, wizard);

  ExpectFile(installDir() + "\\GAME.DAT", "game", kEntryTime);
  ExpectFile(installDir() + "\\MOVIE\\OP.MPG", Content("OP.MPG", 400));
  EXPECT_FALSE(ReadOnly(installDir() + "\\MOVIE\\OP.MPG")) << "the copy stayed read-only";
  ExpectFile(installDir() + "\\MOVIE\\ED.MPG", "ending");
  EXPECT_FALSE(ReadOnly(installDir() + "\\MOVIE\\ED.MPG")) << "the copy stayed read-only";
  ExpectFile(installDir() + "\\VOICE\\VOICE.PAK", Content("VOICE.PAK", 50));
  EXPECT_FALSE(ReadOnly(installDir() + "\\VOICE\\VOICE.PAK")) << "the copy stayed read-only";
  ExpectFile(installDir() + "\\MANUAL\\INDEX.HTM", "manual");
  ExpectFile(installDir() + "\\MANUAL\\IMG\\LOGO.PNG", "logo");
  ExpectFolder(installDir(), {"GAME.DAT", "MANUAL", "MOVIE", "SETUP.INI", "VOICE"});
  ExpectFolder(installDir() + "\\MOVIE", {"ED.MPG", "OP.MPG"});
  ExpectFolder(installDir() + "\\MANUAL", {"IMG", "INDEX.HTM"});
}

TEST_F(Media, TheLowestDriveHoldingTheDiskWins) {
  InsertDisk1(kLowerCdrom);
  OnDisk(kLowerCdrom, "OP.MPG", "from the lower drive");
  InsertDisk1(kCdrom);
  OnDisk(kCdrom, "OP.MPG", "from the higher drive");
  Process& updater = Launch(StandardUpdateIni().Remove("UPDATE", "UpdateFile00")
                                .Set("UPDATE", "CopyFile00", "1:OP.MPG"));
  Wizard wizard = OpenReadyPage(updater);
  RunToFinish(updater, wizard);
  ExpectFile(installDir() + "\\OP.MPG", "from the lower drive");
  ExpectFolder(installDir(), {"OP.MPG", "SETUP.INI"});
}

TEST_F(Media, DiskPromptCancelledInterruptsTheUpdate) {
  InsertDisk2(kLowerCdrom);  // another disk of the set does not count
  OnDisk(kLowerCdrom, "MOVIE\\OP.MPG", "disk 2's movie");
  Ini ini = StandardUpdateIni().Set("UPDATE", "CopyFile00", "1:MOVIE\\OP.MPG");
  Process& updater = Launch(ini, {{"GAME.DAT", "game"}});
  Wizard wizard = OpenReadyPage(updater);
  wizard.PressAsync(Wizard::kNext);
  MsgBox prompt = WaitForBox(updater, kCaption);
  EXPECT_TEXT(prompt.Text(), InsertPrompt(1));
  EXPECT_TRUE(prompt.HasButton(IDOK));
  EXPECT_TRUE(prompt.HasButton(IDCANCEL));
  ExpectBusy(wizard);
  // The update items come first: already in place while the prompt is up.
  ExpectFile(installDir() + "\\GAME.DAT", "game", kEntryTime);
  prompt.Press(IDCANCEL);
  WaitGone(prompt);
  AnswerBox(updater, kCaption, kInterrupted);
  ExpectExit(updater, 0);
  // Nothing is rolled back, nothing copied.
  ExpectFolder(installDir(), {"GAME.DAT", "SETUP.INI"});
}

TEST_F(Media, DiskPromptComesBackUntilTheDiskIsInserted) {
  Ini ini = StandardUpdateIni()
                .Remove("UPDATE", "UpdateFile00")
                .Set("UPDATE", "CopyFile00", "2:VOICE\\VOICE.PAK");
  Process& updater = Launch(ini);
  Wizard wizard = OpenReadyPage(updater);
  wizard.PressAsync(Wizard::kNext);
  MsgBox first = WaitForBox(updater, kCaption);
  EXPECT_TEXT(first.Text(), InsertPrompt(2));
  first.Press(IDOK);  // still no disk: asked again
  WaitGone(first);
  MsgBox second = WaitForBox(updater, kCaption);
  EXPECT_TEXT(second.Text(), InsertPrompt(2));
  // Esc on the wizard meanwhile does nothing: it is busy.
  wizard.Command(IDCANCEL);
  EXPECT_TRUE(IsWindow(wizard.handle()));
  ExpectBusy(wizard);
  EXPECT_TRUE(IsWindowVisible(second.handle()));

  InsertDisk2(kCdrom);
  OnDisk(kCdrom, "VOICE\\VOICE.PAK", "voices");
  second.Press(IDOK);
  FinishCompleted(updater, wizard);
  ExpectFile(installDir() + "\\VOICE\\VOICE.PAK", "voices");
  EXPECT_FALSE(ReadOnly(installDir() + "\\VOICE\\VOICE.PAK"));
}

TEST_F(Media, MissingSourceOnTheDiskInterruptsTheUpdate) {
  InsertDisk1(kCdrom);
  OnDisk(kCdrom, "MOVIE\\OP.MPG", "opening");
  Ini ini = StandardUpdateIni()
                .Set("UPDATE", "CopyFile00", "1:MOVIE\\OP.MPG")
                .Set("UPDATE", "CopyFile01", "1:MOVIE\\NOSUCH.MPG")
                .Set("UPDATE", "CopyFile02", "1:MOVIE\\LATER.MPG");
  OnDisk(kCdrom, "MOVIE\\LATER.MPG", "never copied");
  Process& updater = Launch(ini, {{"GAME.DAT", "game"}});
  Wizard wizard = OpenReadyPage(updater);
  wizard.PressAsync(Wizard::kNext);
  MsgBox failed = WaitForBox(updater, kCaption);
  EXPECT_TEXT(failed.Text(), "SETUP.INI : \"MOVIE\\NOSUCH.MPG\" のコピーに失敗しました");
  failed.Press(IDOK);
  WaitGone(failed);
  AnswerBox(updater, kCaption, kInterrupted);
  ExpectExit(updater, 0);
  ExpectFile(installDir() + "\\MOVIE\\OP.MPG", "opening");
  ExpectFolder(installDir() + "\\MOVIE", {"OP.MPG"});
}

// ---------------------------------------------------------------- failures and free space

using UpdateFailures = UpdaterCase;

TEST_F(UpdateFailures, WriteIntoAMissingFolderInterruptsTheUpdate) {
  InstallGame();
  Ini ini = StandardUpdateIni()
                .Set("UPDATE", "UpdateFile00", "GAME.DAT")
                .Set("UPDATE", "UpdateFile01", "NOSUCH\\MORE.DAT")
                .Set("UPDATE", "UpdateFile02", "LAST.DAT");
  Process& updater =
      Launch(ini, {{"GAME.DAT", "game"}, {"MORE.DAT", "more"}, {"LAST.DAT", "last"}});
  Wizard wizard = OpenReadyPage(updater);
  wizard.PressAsync(Wizard::kNext);
  MsgBox failed = WaitForBox(updater, kCaption);
  EXPECT_TEXT(failed.Text(), "ファイルの書き込みに失敗しました");
  ExpectBusy(wizard);
  failed.Press(IDOK);
  WaitGone(failed);
  AnswerBox(updater, kCaption, kInterrupted);
  ExpectExit(updater, 0);
  // The file before the failure stays; no folder is made, nothing after it
  // is written, no temporary file is left.
  ExpectFile(installDir() + "\\GAME.DAT", "game", kEntryTime);
  ExpectFolder(installDir(), {"GAME.DAT", "SETUP.INI"});
}

TEST_F(UpdateFailures, EntryMissingFromThePackageInterruptsTheUpdate) {
  InstallGame();
  Process& updater = Launch(StandardUpdateIni());  // UpdateFile00=GAME.DAT, no such entry
  Wizard wizard = OpenReadyPage(updater);
  wizard.PressAsync(Wizard::kNext);
  AnswerBox(updater, kCaption, "Can't Find File in Resource !!");
  AnswerBox(updater, kCaption, "ファイルの書き込みに失敗しました");
  AnswerBox(updater, kCaption, kInterrupted);
  ExpectExit(updater, 0);
  ExpectFolder(installDir(), {"SETUP.INI"});
}

TEST_F(UpdateFailures, CopyLineWithADriveLetterStopsBeforeAnythingIsWritten) {
  InstallGame();
  // "C:" reads as disk 19, which no check file can answer.
  Ini ini = StandardUpdateIni()
                .Set("UPDATE", "CopyFile00", "1:MOVIE\\OP.MPG")
                .Set("UPDATE", "CopyFile01", "C:\\MOVIE\\ED.MPG");
  Process& updater = Launch(ini, {{"GAME.DAT", "game"}});
  Wizard wizard = OpenReadyPage(updater);
  wizard.PressAsync(Wizard::kNext);
  AnswerBox(updater, kCaption,
            "UPDATE.INI : CopyFile01 \"C:\\MOVIE\\ED.MPG\" のディスク番号が正しくありません");
  AnswerBox(updater, kCaption, kInterrupted);
  ExpectExit(updater, 0);
  ExpectFolder(installDir(), {"SETUP.INI"});
}

// Cases whose installation folder is reached through the drive without free
// space (its data folder is not).
class FreeSpace : public UpdaterCase {
 protected:
  void SetUp() override {
    UpdaterCase::SetUp();
    char root[] = {kFullDrive, ':', '\\', '\0'};
    ULARGE_INTEGER available;
    ASSERT_TRUE(GetDiskFreeSpaceExA(root, &available, nullptr, nullptr) &&
                available.QuadPart == 0)
        << root << " does not report a full disk; the driver runs under run.sh, which makes it";
    InstallValues values;
    values.instPath = ThroughFullDrive(installDir());
    values.dataPath = dataDir();
    values.instMode = 1;
    Register(values);
    WriteSetupIni(StandardSetupIni());
  }
};

TEST_F(FreeSpace, ShortageKeepsTheUserBeforeTheUpdate) {
  const std::string shortage = std::string("ディスク容量が足りません。\r") + kFullDrive +
                               ": ドライブに 4096 バイトの空き容量が必要です";
  Process& updater = Launch(StandardUpdateIni().Set("UPDATE", "RequiredDiskSpace", "4096"),
                            {{"GAME.DAT", "game"}});
  Wizard wizard = OpenReadyPage(updater);
  wizard.PressAsync(Wizard::kNext);
  wizard.WaitInfo(shortage);
  EXPECT_TRUE(wizard.Enabled(Wizard::kBack)) << wizard.Describe();
  EXPECT_FALSE(wizard.Enabled(Wizard::kNext)) << wizard.Describe();
  EXPECT_TRUE(wizard.Enabled(Wizard::kCancel)) << wizard.Describe();

  // Back shows the ready page again; Next checks anew.
  wizard.Press(Wizard::kBack);
  wizard.WaitInfo(kReadyText);
  EXPECT_TRUE(wizard.Enabled(Wizard::kNext)) << wizard.Describe();
  EXPECT_FALSE(wizard.Enabled(Wizard::kBack)) << wizard.Describe();
  EXPECT_TRUE(wizard.Enabled(Wizard::kCancel)) << wizard.Describe();
  wizard.PressAsync(Wizard::kNext);
  wizard.WaitInfo(shortage);
  EXPECT_FALSE(wizard.Enabled(Wizard::kNext)) << wizard.Describe();

  CancelAndExpectInterrupted(updater, wizard);
  ExpectFolder(installDir(), {"SETUP.INI"});
}

TEST_F(FreeSpace, EachEntryNeedsRoomEvenWhenTheInstalledFileIsNewer) {
  PutFile(installDir() + "\\GAME.DAT", "installed", FileTimeOf(2030, 1, 1));
  PutFile(dataDir() + "\\SAVE.DAT", "the player's", FileTimeOf(2010, 1, 1));
  // The data file is kept without an entry, so it needs no room; the
  // update line's entry does, before its time is compared.
  Ini ini = StandardUpdateIni()
                .Set("UPDATE", "UpdateFile00", "d,SAVE.DAT")
                .Set("UPDATE", "UpdateFile01", "u,GAME.DAT");
  Process& updater = Launch(ini, {{"SAVE.DAT", "package save"}, {"GAME.DAT", "game"}});
  Wizard wizard = OpenReadyPage(updater);
  wizard.PressAsync(Wizard::kNext);
  AnswerBox(updater, kCaption,
            std::string("ディスク容量が足りません。") + kFullDrive +
                ": ドライブに 4 バイトの空き容量が必要です");
  AnswerBox(updater, kCaption, "ファイルの書き込みに失敗しました");
  AnswerBox(updater, kCaption, kInterrupted);
  ExpectExit(updater, 0);
  ExpectFile(installDir() + "\\GAME.DAT", "installed", FileTimeOf(2030, 1, 1));
  ExpectFile(dataDir() + "\\SAVE.DAT", "the player's");
  ExpectFolder(installDir(), {"GAME.DAT", "SETUP.INI"});
  ExpectFolder(dataDir(), {"SAVE.DAT"});
}

}  // namespace
}  // namespace e2e

// Every failure point of a whole update: UpdaterMain over the simulation,
// once with each call that can fail failing, once stopped after each change
// of the file system, in three installations. After every run each file the
// update touches is old or new and whole, nothing else changed, no
// temporary file stayed, and the user was told.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fault_harness.h"
#include "flow/records.h"
#if defined(UPDATER_PATCH_MAKER)
#include "packer/patch_maker.h"
#endif
#include "platform/format.h"
#include "platform/messagebox.h"
#include "support/host_env.h"
#include "support/startup_env.h"
#include "support/test_package.h"
#include "texts.h"
#include "sim/sim.h"

namespace {

constexpr i64 kNs2010 = 1262304000ll * 1000000000;
constexpr i64 kNs2030 = 1893456000ll * 1000000000;
constexpr u64 kFileTimeOf1970 = 116444736000000000ull;
constexpr i64 kEntryNs = (i64)(kTestEntryTime - kFileTimeOf1970) * 100;

// Words from a small generator: text that compresses, but not to nothing.
std::string Content(size_t size, unsigned seed) {
  static const char* const kWords[] = {"star ", "garden ", "moon ", "river ", "stone ",
                                       "light ", "wind ",  "song ", "\r\n"};
  std::string text;
  unsigned state = seed * 2654435761u + 1;
  while (text.size() < size) {
    state = state * 1103515245u + 12345u;
    text += kWords[(state >> 16) % 9];
    if ((state >> 8) % 7 == 0) text += std::to_string(state % 1000);
  }
  text.resize(size);
  return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The failures every scenario's update passes over: a window search, a
// free-space question, an attribute set, the close of a file only read, the
// optional registry value and resource, a drive's type (the user is asked
// for the disk and puts it in), the attributes of anything but SETUP.INI
// (the file is asked itself), and the reads of the newer-file rule and of a
// kept data file (which fall back to writing the package's file), the
// folder each line makes (it is there already; the write decides), and the
// delete of the updater's UPDATE.INI once the wizard has given its result.
bool PassedOver(const HostCall& call) {
  switch (call.kind) {
    case kCallMakeFolder:
      return call.what.size() > 1 && call.what[1] == ':';  // not the shell's
    case kCallDelete:
    case kCallFind:
    case kCallFreeSpace:
    case kCallSetAttributes:
    case kCallDriveType:
    case kCallOpen:
    case kCallGetTime:
    case kCallGetSize:
    case kCallRead:
      return true;
    case kCallClose:
      return call.what.find("\\QK2") == std::string::npos;
    case kCallRegistry:
      return call.what == "InstAdd";
    case kCallResource:
      return call.what == "FindResourceA 103";  // the digest: without it, no check
    case kCallGetAttributes:
      return !EndsWith(call.what, "SETUP.INI");
    case kCallCreate:
    case kCallWrite:
    case kCallFlush:
    case kCallSetTime:
    case kCallReplace:
    case kCallTempPath:
    case kCallTempName:
    case kCallAllocation:
    case kCallShellCopy:
    case kCallShellCopyFile:
    case kCallDialog:
    case kCallKinds:
      return false;
  }
  return false;
}

bool PassedOverAnywhere(const std::vector<HostCall>& calls, size_t index) {
  return PassedOver(calls[index]);
}

FileState Written(const std::string& bytes, i64 modified, bool readOnly = false) {
  FileState state;
  state.bytes = bytes;
  state.modified = modified;
  state.readOnly = readOnly;
  return state;
}

class FaultPoints : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    drive_ = HostPath("C:");
    host_ = HostPath(Root().c_str());
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) cwd_ = cwd;
    // The folder the updater is started in (the harness moves there): a
    // relative path lands in the picture, not in the build folder.
    MakeTestFolder(Root() + "\\start");
  }
  void TearDown() override {
    if (!cwd_.empty()) (void)chdir(cwd_.c_str());
    HostTest::TearDown();
  }

  void Put(const std::string& path, const std::string& bytes, i64 modified,
           bool readOnly = false) {
    ASSERT_TRUE(WriteTestFile(path, bytes));
    const std::string host = HostPath(path.c_str());
    struct timespec times[2] = {{(time_t)(modified / 1000000000), 0},
                                {(time_t)(modified / 1000000000), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, host.c_str(), times, 0), 0);
    if (readOnly) {
      ASSERT_EQ(chmod(host.c_str(), 0444), 0);
    }
  }

  // Prints the sweep's figures and fails on any violation, naming the
  // first ones.
  void Report(const char* what, const char* scenario, const SweepTotals& t) {
    std::printf("%s: scenario %s: %ld tried, %ld violations (", what, scenario, t.points,
                t.violations);
    if (t.finished || t.ended) std::printf("%ld finished, %ld ended", t.finished, t.ended);
    else std::printf("each run after the stop finished");
    if (t.allocations) std::printf("; %ld allocations", t.allocations);
    if (t.ignored) std::printf("; %ld passed over by design", t.ignored);
    if (t.shellTorn) std::printf("; %ld copies cut short by the shell", t.shellTorn);
    std::printf(")\n");
    for (const std::string& folder : t.leftoverFolders)
      std::printf("  temporary file left by a stop: %s\n", folder.c_str());
    for (const auto& [text, count] : t.boxes)
      std::printf("  %4ld x the user saw: %s\n", count, text.c_str());
    std::string examples;
    for (const std::string& example : t.examples) examples += "\n  " + example;
    EXPECT_EQ(t.violations, 0) << what << " " << scenario << ":" << examples;
  }

  void Sweep(const char* scenario, FaultHarness& harness) {
    EXPECT_EQ(harness.UnflushedReplacements(), std::vector<std::string>{});
    std::map<std::string, int> kinds;
    for (const HostCall& call : harness.ReferenceCalls()) ++kinds[HostCallKindName(call.kind)];
    std::printf("scenario %s: %ld fault points and %ld changes in a whole run:", scenario,
                harness.ReferencePoints(), harness.ReferenceChanges());
    for (const auto& [kind, count] : kinds) std::printf(" %s %d,", kind.c_str(), count);
    std::printf("\n");
    if (getenv("FAULT_TRACE"))
      for (size_t i = 0; i < harness.ReferenceCalls().size(); ++i)
        std::printf("  %zu %s %s\n", i + 1, HostCallKindName(harness.ReferenceCalls()[i].kind),
                    harness.ReferenceCalls()[i].what.c_str());
    Report("fault points", scenario, harness.FailEachPoint());
    Report("stop points", scenario, harness.StopAtEachChange());
  }

  // What every run starts from: C: over the scratch folder (with
  // `freeBytes` free), the temp folder, the package as the updater's
  // resource, and the game's registry key.
  std::function<void()> Installer(const StartupEnv& env, u64 freeBytes = UINT64_MAX) const {
    const std::string drive = drive_, package = env.PackageBytes();
    return [&env, drive, package, freeBytes] {
      HostMapDrive('C', drive.c_str(), kDriveFixed, freeBytes);
      HostSetTempPath(env.tempFolder.c_str());
      InstallTestPackage(package);
      env.InstallRegistry();
    };
  }

  std::string drive_;  // the host folder of C:
  std::string host_;   // the scratch folder on the host
  std::string cwd_;
  int prompts_ = 0;  // disk prompts or shortages the user met in the reference run
};

// (a) Every kind of line into both folders below DataFolder; entries large
// enough for several windows, scrambled, stored.
TEST_F(FaultPoints, EveryKindOfLine) {
  StartupEnv env(Root());
  env.dataPath = Root() + "\\save";
  env.setupLines += "DataFolder=DATA\r\n";
  env.updateLines =
      "UpdateFile00=PLAIN.DAT\r\n"
      "UpdateFile01=u,NEWER.DAT\r\n"
      "UpdateFile02=u,OLDER.DAT\r\n"
      "UpdateFile03=d,SAVE.INI\r\n"
      "UpdateFile04=d,NEW.INI\r\n"
      "UpdateFile05=o,OVER.DAT\r\n"
      "UpdateFile06=o,ABSENT.DAT\r\n"
      "UpdateFile07=BIG.DAT\r\n"
      "UpdateFile08=u,SCRAMBLED.DAT\r\n"
      "UpdateFile09=STORED.DAT\r\n";
  const std::string big = Content(2 * 1024 * 1024 + 700 * 1024, 7);
  const std::string scrambled = Content(1200 * 1024, 8);
  env.entries = {{"PLAIN.DAT", Content(5000, 1), kTestCompressed},
                 {"NEWER.DAT", Content(3000, 2), kTestCompressed | kTestScrambled},
                 {"OLDER.DAT", Content(3000, 3), kTestCompressed},
                 {"SAVE.INI", "[save]\r\nslot=default\r\n", kTestScrambled},
                 {"NEW.INI", "[new]\r\nvolume=5\r\n", kTestCompressed},
                 {"OVER.DAT", Content(2000, 4), kTestStored},
                 {"ABSENT.DAT", Content(2000, 5), kTestStored},
                 {"BIG.DAT", big, kTestCompressed | kTestScrambled},
                 {"SCRAMBLED.DAT", scrambled, kTestScrambled},
                 {"STORED.DAT", Content(3000, 6), kTestStored}};
  env.InstallTempFolder();
  env.InstallGame();
  const std::string game = env.installFolder + "\\DATA\\";
  const std::string save = env.dataPath + "\\DATA\\";
  MakeTestFolder(env.installFolder + "\\DATA");
  MakeTestFolder(env.dataPath);
  MakeTestFolder(env.dataPath + "\\DATA");
  Put(game + "PLAIN.DAT", "old plain", kNs2010);
  Put(game + "NEWER.DAT", "newer than the package", kNs2030);
  Put(game + "OLDER.DAT", "older than the package", kNs2010);
  Put(game + "OVER.DAT", "old over", kNs2010);
  Put(game + "BIG.DAT", "old big", kNs2010);
  Put(game + "SCRAMBLED.DAT", "old scrambled", kNs2010);
  Put(game + "OTHER.TXT", "not the update's", kNs2010);
  Put(save + "SAVE.INI", "[save]\r\nslot=3\r\n", kNs2010);
  Put(save + "OTHER.SAV", "the player's", kNs2010);

  Scenario scenario;
  scenario.install = Installer(env);
  // The newer-file rule counts a file it cannot open or time as older.
  scenario.alternatives.push_back(
      {"game/DATA/NEWER.DAT", Written(env.entries[1].bytes, kEntryNs), {kCallOpen, kCallGetTime}});
  // A kept data file that cannot be read back is replaced by the package's;
  // one whose write-back fails keeps its bytes and its old time.
  scenario.alternatives.push_back({"save/DATA/SAVE.INI", Written(env.entries[3].bytes, kEntryNs),
                                   {kCallOpen, kCallGetSize, kCallAllocation, kCallRead}});
  scenario.alternatives.push_back(
      {"save/DATA/SAVE.INI", Written("[save]\r\nslot=3\r\n", kNs2010),
       {kCallTempName, kCallCreate, kCallWrite, kCallFlush, kCallClose, kCallReplace}});
  // Besides, every call of keeping SAVE.INI: from opening it to the
  // attributes set after its write-back.
  scenario.ignored = [](const std::vector<HostCall>& calls, size_t index) {
    if (PassedOver(calls[index])) return true;
    size_t opened = 0, replaced = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
      if (!EndsWith(calls[i].what, "\\SAVE.INI")) continue;
      if (calls[i].kind == kCallOpen && !opened) opened = i;
      if (calls[i].kind == kCallReplace) replaced = i;
    }
    return opened && index >= opened && index <= replaced + 1;
  };

  FaultHarness harness(host_, scenario);
  ASSERT_TRUE(harness.Reference());
  const Tree& after = harness.After();
  EXPECT_EQ(after.at("game/DATA/BIG.DAT").bytes, big);
  EXPECT_EQ(after.at("game/DATA/SCRAMBLED.DAT").bytes, scrambled);
  EXPECT_EQ(after.at("game/DATA/NEWER.DAT").bytes, "newer than the package");
  EXPECT_EQ(after.at("save/DATA/SAVE.INI").bytes, "[save]\r\nslot=3\r\n");
  EXPECT_EQ(after.at("save/DATA/NEW.INI").bytes, env.entries[4].bytes);
  EXPECT_EQ(after.count("game/DATA/ABSENT.DAT"), 0u);
  Sweep("a", harness);
}

// (b) CopyFile lines: a file, a folder and a second disk that the user is
// asked to insert.
TEST_F(FaultPoints, CopiesFromTheDisks) {
  StartupEnv env(Root());
  env.setupIni += "DiskCheckFile1=DISK1.ID\r\nDiskCheckFile2=DISK2.ID\r\n";
  env.updateLines =
      "UpdateFile00=README.TXT\r\n"
      "CopyFile00=1:MOVIE\\OP.MPG\r\n"
      "CopyFile01=MANUAL\r\n"
      "CopyFile02=2:EXTRA\\BONUS.DAT\r\n";
  env.entries = {{"README.TXT", Content(4000, 11), kTestCompressed}};
  env.InstallTempFolder();
  env.InstallGame();
  const std::string disk1 = Root() + "\\disk1", disk2 = Root() + "\\disk2";
  for (const std::string& folder : {disk1, disk1 + "\\MOVIE", disk1 + "\\MANUAL", disk2,
                                    disk2 + "\\EXTRA", env.installFolder + "\\MOVIE"})
    MakeTestFolder(folder);
  const std::string movie = Content(300000, 12), bonus = Content(50000, 13);
  Put(disk1 + "\\DISK1.ID", "1", kNs2010, true);
  Put(disk1 + "\\MOVIE\\OP.MPG", movie, kNs2010, true);
  Put(disk1 + "\\MANUAL\\PAGE1.TXT", Content(3000, 14), kNs2010, true);
  Put(disk1 + "\\MANUAL\\PAGE2.TXT", Content(3000, 15), kNs2010, true);
  Put(disk2 + "\\DISK2.ID", "2", kNs2010, true);
  Put(disk2 + "\\EXTRA\\BONUS.DAT", bonus, kNs2010, true);
  Put(env.installFolder + "\\README.TXT", "old readme", kNs2010);
  Put(env.installFolder + "\\MOVIE\\OP.MPG", "old movie", kNs2010);

  char prompt1[kTextSize], prompt2[kTextSize];
  OsFormat(prompt1, sizeof prompt1, kTextInsertDisk, kTestGameTitle, 1);
  OsFormat(prompt2, sizeof prompt2, kTextInsertDisk, kTestGameTitle, 2);
  const std::string host1 = HostPath(disk1.c_str()), host2 = HostPath(disk2.c_str());
  const std::string wantDisk1 = prompt1, wantDisk2 = prompt2;
  int* prompts = &prompts_;
  Scenario scenario;
  const std::function<void()> install = Installer(env);
  scenario.install = [install, host1, host2, wantDisk1, wantDisk2, prompts] {
    install();
    HostMapDrive('Q', host1.c_str(), kDriveCdrom);
    // The user puts in the disk asked for.
    HostSetMessageBoxResponder([=](const HostMessageBox& box) {
      if (box.text == wantDisk1) HostMapDrive('Q', host1.c_str(), kDriveCdrom);
      if (box.text == wantDisk2) HostMapDrive('Q', host2.c_str(), kDriveCdrom);
      if (box.text == wantDisk1 || box.text == wantDisk2) ++*prompts;
      return kIdOk;
    });
  };
  // Clearing the read-only attribute of a copy may fail; the run goes on.
  scenario.alternatives.push_back(
      {"game/MOVIE/OP.MPG", Written(movie, kNs2010, true), {kCallSetAttributes}});
  scenario.alternatives.push_back(
      {"game/EXTRA/BONUS.DAT", Written(bonus, kNs2010, true), {kCallSetAttributes}});
  scenario.ignored = PassedOverAnywhere;
  scenario.shellCopies = {"game/MOVIE/OP.MPG", "game/MANUAL/PAGE1.TXT", "game/MANUAL/PAGE2.TXT",
                          "game/EXTRA/BONUS.DAT"};

  FaultHarness harness(host_, scenario);
  ASSERT_TRUE(harness.Reference());
  EXPECT_EQ(prompts_, 1);  // disk 2 was asked for
  const Tree& after = harness.After();
  EXPECT_EQ(after.at("game/MOVIE/OP.MPG").bytes, movie);
  EXPECT_FALSE(after.at("game/MOVIE/OP.MPG").readOnly);
  EXPECT_EQ(after.at("game/EXTRA/BONUS.DAT").bytes, bonus);
  EXPECT_EQ(after.count("game/MANUAL/PAGE2.TXT"), 1u);
  Sweep("b", harness);
}

// (c) The agreement page and a drive short of space that the user frees.
TEST_F(FaultPoints, AgreementAndFreeSpace) {
  StartupEnv env(Root());
  env.setupLines += "AgreementText=AGREE.TXT\r\nAgreementTitle=TITLE.TXT\r\n";
  env.updateLines =
      "RequiredDiskSpace=100000\r\n"
      "UpdateFile00=PLAIN.DAT\r\n"
      "UpdateFile01=u,OLDER.DAT\r\n";
  env.entries = {{"AGREE.TXT", "同意して下さい", kTestStored},
                 {"TITLE.TXT", "タイトル", kTestStored},
                 {"PLAIN.DAT", Content(6000, 21), kTestCompressed | kTestScrambled},
                 {"OLDER.DAT", Content(6000, 22), kTestCompressed}};
  env.InstallTempFolder();
  env.InstallGame();
  Put(env.installFolder + "\\OLDER.DAT", "older", kNs2010);

  int* shortages = &prompts_;
  Scenario scenario;
  const std::string drive = drive_;
  scenario.install = Installer(env, 5000);
  // The ready page's free-space question failing lets the update go on, and
  // the drive, still short, then stops the first file with its message.
  scenario.ignored = [](const std::vector<HostCall>& calls, size_t index) {
    size_t shortCheck = 0;
    for (size_t i = 0; i < calls.size() && !shortCheck; ++i)
      if (calls[i].kind == kCallDialog)
        for (size_t j = i; j < calls.size() && !shortCheck; ++j)
          if (calls[j].kind == kCallFreeSpace) shortCheck = j;
    return index != shortCheck && PassedOver(calls[index]);
  };
  scenario.onShortage = [drive, shortages] {
    HostMapDrive('C', drive.c_str());
    ++*shortages;
  };

  FaultHarness harness(host_, scenario);
  ASSERT_TRUE(harness.Reference());
  EXPECT_EQ(prompts_, 1);  // the page said the space was short
  EXPECT_EQ(harness.After().at("game/PLAIN.DAT").bytes, env.entries[2].bytes);
  Sweep("c", harness);
}

#if defined(UPDATER_PATCH_MAKER)
std::string PatchOf(const std::string& old, const std::string& updated) {
  const std::vector<uint8_t> patch =
      MakePatch({{(const uint8_t*)old.data(), old.size()}}, (const uint8_t*)updated.data(),
                updated.size(), CompressEffort::kFast);
  return std::string(patch.begin(), patch.end());
}

// `text` with a few places changed and a stretch inserted: the next version.
std::string NextVersion(std::string text, unsigned seed) {
  for (size_t at = seed * 997 % 5000; at + 8 < text.size(); at += text.size() / 5)
    text.replace(at, 8, "CHANGED!");
  text.insert(text.size() / 3, Content(3000, seed + 100));
  return text;
}

// (d) Patch entries: an old version patched (one large enough for several
// windows of the installed file and of the result), the new version left as
// it is, and a file that matches no source written from the whole copy.
TEST_F(FaultPoints, PatchUpdate) {
  StartupEnv env(Root());
  env.updateLines =
      "UpdateFile00=PATCHED.DAT\r\n"
      "UpdateFile01=CURRENT.DAT\r\n"
      "UpdateFile02=OTHER.DAT\r\n"
      "UpdateFile03=u,BIG.DAT\r\n";
  const std::string small0 = Content(40000, 31), small1 = NextVersion(small0, 1);
  const std::string big0 = Content(2 * 1024 * 1024 + 300 * 1024, 32), big1 = NextVersion(big0, 2);
  const std::string other0 = Content(30000, 33), other1 = NextVersion(other0, 3);
  env.entries = {{"PATCHED.DAT", PatchOf(small0, small1), kTestPatch},
                 {"CURRENT.DAT", PatchOf(small0, small1), kTestPatch},
                 {"OTHER.DAT", PatchOf(other0, other1), kTestPatch},
                 {"OTHER.DAT|whole", other1, kTestCompressed | kTestScrambled},
                 {"BIG.DAT", PatchOf(big0, big1), kTestPatch}};
  env.InstallTempFolder();
  env.InstallGame();
  const std::string game = env.installFolder + "\\";
  Put(game + "PATCHED.DAT", small0, kNs2010);
  Put(game + "CURRENT.DAT", small1, kNs2010);
  Put(game + "OTHER.DAT", other0 + "changed by the player", kNs2010);
  Put(game + "BIG.DAT", big0, kNs2010, true);

  Scenario scenario;
  scenario.install = Installer(env);
  // Read-only is cleared before the file is patched and stays cleared when
  // the run goes no further, as for any entry.
  scenario.alternatives.push_back({"game/BIG.DAT", Written(big0, kNs2010), {}});
  // The installed file must be read to be patched or known: a failing open,
  // size or read there ends the run like a failed write; so does read-only
  // that cannot be cleared (BIG.DAT). The newer-file rule passes over an
  // untimed file as before.
  scenario.ignored = [](const std::vector<HostCall>& calls, size_t index) {
    const HostCall& call = calls[index];
    const bool readsInstalled = (call.kind == kCallOpen || call.kind == kCallGetSize ||
                                 call.kind == kCallRead) &&
                                EndsWith(call.what, ".DAT");
    const bool clearsReadOnly = call.kind == kCallSetAttributes && EndsWith(call.what, "BIG.DAT");
    return PassedOver(call) && !readsInstalled && !clearsReadOnly;
  };

  FaultHarness harness(host_, scenario);
  ASSERT_TRUE(harness.Reference());
  const Tree& after = harness.After();
  EXPECT_EQ(after.at("game/PATCHED.DAT").bytes, small1);
  EXPECT_EQ(after.at("game/CURRENT.DAT").bytes, small1);
  EXPECT_EQ(after.at("game/CURRENT.DAT").modified, kNs2010);
  EXPECT_EQ(after.at("game/OTHER.DAT").bytes, other1);
  EXPECT_EQ(after.at("game/BIG.DAT").bytes, big1);
  EXPECT_FALSE(after.at("game/BIG.DAT").readOnly);
  Sweep("d", harness);
}
#endif

}  // namespace

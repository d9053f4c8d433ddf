// qk2 make-updater and qk2 extract with each file call of the tool failing
// in turn (the test build qk2_faults): every output is absent, the previous
// one unchanged, or the complete new one; nothing half-written stays beside
// it; and a run that fails says why.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "qk2_run.h"
#include "update_folder.h"

namespace qk2test {
namespace {

std::string FaultsTool() { return QK2_FAULTS_TOOL; }

// Every file below `folder` (no folders), by name, with its bytes.
std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const std::string& name : FolderNames(folder)) files[name] = ReadFileOrEmpty(PathIn(folder, name));
  return files;
}

// `folder` emptied and filled with `files`.
void PutFiles(const std::string& folder, const std::map<std::string, std::string>& files) {
  for (const std::string& name : FolderNames(folder)) std::remove(PathIn(folder, name).c_str());
  for (const auto& [name, bytes] : files) ASSERT_TRUE(WriteFile(PathIn(folder, name), bytes));
}

struct FaultRun {
  ToolRun run;
  long calls = 0;
  std::string failed;  // the call that failed, with its path
};

// qk2_faults with call `failAt` failing (0: none), counting its calls.
FaultRun RunFailing(const std::vector<std::string>& args, long failAt, const std::string& countFile) {
  setenv("QK2_FAULT_AT", std::to_string(failAt).c_str(), 1);
  setenv("QK2_FAULT_COUNT", countFile.c_str(), 1);
  FaultRun result;
  result.run = RunProgram(FaultsTool(), args);
  unsetenv("QK2_FAULT_AT");
  unsetenv("QK2_FAULT_COUNT");
  const std::string count = ReadFileOrEmpty(countFile);
  std::remove(countFile.c_str());
  result.calls = std::atol(count.c_str());
  const size_t line = count.find('\n');
  if (line != std::string::npos) result.failed = count.substr(line + 1);
  while (!result.failed.empty() && result.failed.back() == '\n') result.failed.pop_back();
  return result;
}

struct Totals {
  long tried = 0;
  long violations = 0;
  long failedRuns = 0;
  std::string examples;
  void Note(long n, const FaultRun& r, const std::string& what) {
    ++violations;
    if (violations <= 10) examples += "\n  call " + std::to_string(n) + " (" + r.failed + "): " + what;
  }
};

// The outputs in `folder` after a run that began with `before` and whose
// complete result is `after`: each file as before or as after, nothing
// else but what a failed unlink could not remove.
void CheckOutputs(long n, const FaultRun& r, const std::string& folder,
                  const std::map<std::string, std::string>& before,
                  const std::map<std::string, std::string>& after, Totals* totals) {
  const std::map<std::string, std::string> now = Files(folder);
  for (const auto& [name, bytes] : now) {
    auto old = before.find(name), complete = after.find(name);
    const bool asBefore = old != before.end() && old->second == bytes;
    const bool asAfter = complete != after.end() && complete->second == bytes;
    const bool unremovable = r.failed == "unlink " + PathIn(folder, name);
    if (!asBefore && !asAfter && !unremovable)
      totals->Note(n, r, name + (complete == after.end() && old == before.end()
                                     ? " left behind"
                                     : " is neither old nor new (" + std::to_string(bytes.size()) +
                                           " bytes)"));
  }
  for (const auto& [name, bytes] : before)
    if (!now.count(name) && !after.count(name)) totals->Note(n, r, name + " removed");
  if (r.run.code == 0 && now != after) totals->Note(n, r, "exit 0, but the output is not complete");
  if (r.run.code != 0) {
    ++totals->failedRuns;
    if (r.run.err.empty()) totals->Note(n, r, "exit " + std::to_string(r.run.code) + " without a word");
  }
  ++totals->tried;
}

void Report(const char* command, const Totals& t) {
  std::printf("fault points: qk2 %s: %ld tried, %ld violations (%ld runs failed with a message)\n",
              command, t.tried, t.violations, t.failedRuns);
  EXPECT_EQ(t.violations, 0) << command << ":" << t.examples;
}

TEST(Qk2FaultPoints, MakeUpdater) {
  if (!HaveFixtureBase()) GTEST_SKIP() << "no fixture image";
  TempFolder temp;
  const std::string folder = temp / "update", out = temp / "out", base = temp / "base.exe";
  ASSERT_TRUE(MakeFolder(folder));
  ASSERT_TRUE(MakeFolder(out));
  ASSERT_TRUE(WriteFixtureBase(base));
  const std::string exe = PathIn(out, "Game.exe");
  const std::vector<std::string> args = {"make-updater", folder, "-o", exe, "--base", base, "-1", "-q"};

  // The previous updater, then the inputs of the new one.
  std::vector<FolderFile> files = StandardFiles();
  files[0].bytes = Compressible(15000);
  WriteUpdateFolder(folder, StandardIniLines(), files);
  ASSERT_EQ(RunQk2(args).code, 0);
  const std::map<std::string, std::string> previous = Files(out);
  WriteUpdateFolder(folder, StandardIniLines(), StandardFiles());
  const std::map<std::string, std::string> inputs = Files(folder);
  ASSERT_EQ(RunQk2(args).code, 0);
  const std::map<std::string, std::string> made = Files(out);
  ASSERT_NE(made, previous);
  const std::string countFile = temp / "count";

  Totals totals;
  for (const auto& before : {previous, std::map<std::string, std::string>()}) {
    PutFiles(out, before);
    const long calls = RunFailing(args, 0, countFile).calls;
    ASSERT_GT(calls, 10);
    for (long n = 1; n <= calls; ++n) {
      PutFiles(out, before);
      const FaultRun r = RunFailing(args, n, countFile);
      CheckOutputs(n, r, out, before, made, &totals);
      if (Files(folder) != inputs) totals.Note(n, r, "the update folder changed");
    }
  }
  Report("make-updater", totals);
}

// A read of UPDATE.INI that fails while the check takes its lines makes no
// updater: the reader would have given a list cut short, and the package
// would have lacked the files of the lines after it.
TEST(Qk2FaultPoints, UnreadableUpdateIniMakesNothing) {
  if (!HaveFixtureBase()) GTEST_SKIP() << "no fixture image";
  TempFolder temp;
  const std::string folder = temp / "update", exe = temp / "Game.exe", base = temp / "base.exe";
  ASSERT_TRUE(MakeFolder(folder));
  ASSERT_TRUE(WriteFixtureBase(base));
  WriteUpdateFolder(folder, StandardIniLines(), StandardFiles());
  const std::vector<std::string> args = {"make-updater", folder, "-o", exe, "--base", base, "-1", "-q"};
  ASSERT_EQ(RunQk2(args).code, 0);
  const std::string made = ReadFileOrEmpty(exe);
  // Each reading opens the file for UpdateFile00 to 03 (the last one not
  // there) and CopyFile00 (not there either): a failed open of a key that is
  // not there changes nothing.
  const bool refused[] = {true, true, true, false, false, true, true, true, false, false};
  setenv("QK2_FAULT_ON", "open UPDATE.INI", 1);
  for (long n = 1; n <= 10; ++n) {
    SCOPED_TRACE(n);
    std::remove(exe.c_str());
    const FaultRun r = RunFailing(args, n, temp / "count");
    ASSERT_NE(r.failed, "");
    if (refused[n - 1]) {
      EXPECT_NE(r.run.code, 0);
      EXPECT_NE(r.run.err.find("cannot read the file"), std::string::npos) << r.run.err;
      EXPECT_FALSE(FileExists(exe));
    } else {
      EXPECT_EQ(r.run.code, 0) << r.run.err;
      EXPECT_EQ(ReadFileOrEmpty(exe), made);
    }
  }
  unsetenv("QK2_FAULT_ON");
}

TEST(Qk2FaultPoints, Extract) {
  TempFolder temp;
  const std::string folder = temp / "update", out = temp / "out", package = temp / "update.pkg";
  ASSERT_TRUE(MakeFolder(folder));
  ASSERT_TRUE(MakeFolder(out));
  // A large entry is written a window at a time.
  std::vector<FolderFile> files = StandardFiles();
  files.push_back({"BIG.DAT", Compressible(1536 * 1024)});
  WriteUpdateFolder(folder, StandardIniLines(), files);
  std::vector<std::string> pack = {"pack", "-1", package};
  for (const FolderFile& file : files) pack.push_back(PathIn(folder, file.name));
  ASSERT_EQ(RunQk2(pack).code, 0);
  const std::vector<std::string> args = {"extract", package, "-C", out};
  ASSERT_EQ(RunQk2(args).code, 0);
  const std::map<std::string, std::string> extracted = Files(out);
  ASSERT_EQ(extracted.size(), files.size());
  // An earlier GAME.DAT, which the extraction replaces.
  const std::map<std::string, std::string> before = {{"GAME.DAT", "earlier"}};
  const std::string countFile = temp / "count";

  Totals totals;
  PutFiles(out, before);
  const long calls = RunFailing(args, 0, countFile).calls;
  ASSERT_GT(calls, 10);
  for (long n = 1; n <= calls; ++n) {
    PutFiles(out, before);
    CheckOutputs(n, RunFailing(args, n, countFile), out, before, extracted, &totals);
  }
  Report("extract", totals);
}

}  // namespace
}  // namespace qk2test

#if !defined(_WIN32)
#include "fault_harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "flow/records.h"
#include "flow/startup.h"
#include "support/host_env.h"
#include "texts.h"

namespace fs = std::filesystem;

namespace {

enum : int { kStoppedExit = 77, kOverLimitExit = 78 };

i64 NanosecondsOf(const struct timespec& t) { return (i64)t.tv_sec * 1000000000 + t.tv_nsec; }

i64 Now() {
  struct timespec t;
  clock_gettime(CLOCK_REALTIME, &t);
  return NanosecondsOf(t);
}

int CountOpenFiles() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

bool IsTemporaryName(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  return (name.rfind("QK2", 0) == 0 || name.rfind("UPD", 0) == 0) && name.size() > 4 &&
         name.substr(name.size() - 4) == ".tmp";
}

// `a` and `b` the same (either may be absent); `fresh`: a file kept with
// the same bytes, whose time is one of this run (at or after `since`).
bool SameState(const FileState* a, const FileState* b, bool fresh = false, i64 since = 0) {
  if (!a || !b) return !a && !b;
  if (a->folder || b->folder) return a->folder == b->folder;
  if (a->bytes != b->bytes || a->readOnly != b->readOnly) return false;
  return fresh ? a->modified >= since : a->modified == b->modified;
}

const FileState* Find(const Tree& tree, const std::string& path) {
  auto found = tree.find(path);
  return found == tree.end() ? nullptr : &found->second;
}

std::string Describe(const FileState* s) {
  if (!s) return "absent";
  if (s->folder) return "a folder";
  return std::to_string(s->bytes.size()) + " bytes" + (s->readOnly ? ", read-only" : "") +
         ", time " + std::to_string(s->modified);
}

std::string CallText(const HostCall& call) {
  return std::string(HostCallKindName(call.kind)) + " " + call.what;
}

void Note(SweepTotals* totals, const std::string& text) {
  ++totals->violations;
  if (totals->examples.size() < 12) totals->examples.push_back(text);
}
}  // namespace

Tree TakeTree(const std::string& hostRoot) {
  Tree tree;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(hostRoot, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    const std::string full = it->path().string();
    struct stat st;
    if (lstat(full.c_str(), &st) != 0) continue;
    FileState state;
    state.folder = S_ISDIR(st.st_mode);
    if (!state.folder) {
      // One read a file: the tests are built unoptimised under the sanitizers.
      state.bytes.resize((size_t)st.st_size);
      const int fd = open(full.c_str(), O_RDONLY);
      const ssize_t got = fd < 0 ? -1 : read(fd, &state.bytes[0], state.bytes.size());
      if (fd >= 0) close(fd);
      state.bytes.resize(got > 0 ? (size_t)got : 0);
      state.modified = NanosecondsOf(st.st_mtim);
      state.readOnly = !(st.st_mode & S_IWUSR);
    }
    tree[fs::relative(it->path(), hostRoot).string()] = std::move(state);
  }
  return tree;
}

void PutTree(const std::string& hostRoot, const Tree& tree) {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(hostRoot, error);
       it != fs::recursive_directory_iterator(); it.increment(error))
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, error);
  for (const auto& entry : fs::directory_iterator(hostRoot, error)) fs::remove_all(entry, error);
  for (const auto& [relative, state] : tree) {  // a folder sorts before what it holds
    const std::string full = hostRoot + "/" + relative;
    if (state.folder) {
      fs::create_directory(full, error);
      continue;
    }
    std::ofstream(full, std::ios::binary).write(state.bytes.data(),
                                                (std::streamsize)state.bytes.size());
    struct timespec times[2] = {{(time_t)(state.modified / 1000000000),
                                 (long)(state.modified % 1000000000)},
                                {(time_t)(state.modified / 1000000000),
                                 (long)(state.modified % 1000000000)}};
    utimensat(AT_FDCWD, full.c_str(), times, 0);
    if (state.readOnly) chmod(full.c_str(), 0444);
  }
}

void WalkWizard(WindowHandle dialog, const std::function<void()>& onShortage) {
  for (int step = 0; step < 16; ++step) {
    const HostDialogState& state = HostDialog();
    if (!state.running || state.ended) return;
    const HostControl* next = HostDialogControl(kIdNext);
    const HostControl* back = HostDialogControl(kIdBack);
    const HostControl* agree = HostDialogControl(kIdAgree);
    if (agree && agree->visible && agree->enabled && !agree->checked) {
      HostClick(dialog, kIdAgree);
    } else if (next && next->enabled && next->visible) {
      HostClick(dialog, kIdNext);
    } else if (back && back->enabled && back->visible) {
      if (onShortage) onShortage();
      HostClick(dialog, kIdBack);
    } else {
      return;
    }
  }
}

FaultHarness::FaultHarness(const std::string& hostRoot, Scenario scenario)
    : root_(hostRoot), scenario_(std::move(scenario)), before_(TakeTree(hostRoot)) {}

void FaultHarness::Prepare() {
  ResetHostSimulation();
  HostWaitForDisk(0);
  scenario_.install();
}

// The picture put back. The folder the updater is started in is made
// anew with it, so the process moves into the new one: a relative path
// then lands in the picture, where the checks see it.
void FaultHarness::PutFiles() {
  PutTree(root_, before_);
  if (chdir((root_ + "/start").c_str()) != 0) std::perror("the start folder");
}

FaultHarness::Run FaultHarness::RunOnce(long failAt) {
  Run run;
  const long live = HostLiveAllocations();
  const int files = CountOpenFiles();
  HostFailCall(failAt);
  if (referencePoints_) {
    HostSetFaultPointLimit(referencePoints_ * 4 + 200, [failAt] {
      std::fprintf(stderr, "fault point %ld: the run makes calls without end\n", failAt);
      std::abort();
    });
  }
  bool* wizard = &run.wizard;
  const std::function<void()> onShortage = scenario_.onShortage;
  HostSetDialogScript([wizard, onShortage](WindowHandle dialog) {
    *wizard = true;
    WalkWizard(dialog, onShortage);
  });
  run.start = Now() - 1000000000;  // file times come from a coarser clock
  run.code = UpdaterMain(HostModule());
  run.boxes = HostMessageBoxes();
  run.leftOpen = HostDialogsShown() > 0 && HostDialog().leftOpen;
  const long agreementBlocks = (UpdateDescription.AgreementText != nullptr) +
                               (UpdateDescription.AgreementTitle != nullptr);
  run.leaked = HostLiveAllocations() - live - agreementBlocks;
  run.filesLeftOpen = CountOpenFiles() - files;
  run.keysLeftOpen = HostRegistryOpenKeys();
  if (const HostCall* failed = HostFailedCall()) {
    run.failed = true;
    run.failedCall = *failed;
  }
  return run;
}

int FaultHarness::Reference() {
  Prepare();
  PutFiles();
  const Run run = RunOnce(0);
  referencePoints_ = HostFaultPoints();
  referenceChanges_ = HostChangePoints();
  referenceCalls_ = HostFaultTrace();
  reference_ = TakeTree(root_);
  std::set<std::string> paths;
  for (const auto& entry : before_) paths.insert(entry.first);
  for (const auto& entry : reference_) paths.insert(entry.first);
  for (const std::string& path : paths) {
    const FileState* b = Find(before_, path);
    const FileState* r = Find(reference_, path);
    if (SameState(b, r)) continue;
    destinations_.insert(path);
    if (b && r && !b->folder && !r->folder && b->bytes == r->bytes) freshTime_.insert(path);
  }
  for (const Alternative& alternative : scenario_.alternatives)
    destinations_.insert(alternative.path);
  return run.code == 1 && run.leaked == 0 && run.filesLeftOpen == 0;
}

std::vector<std::string> FaultHarness::UnflushedReplacements() const {
  std::vector<std::string> unflushed;
  for (size_t i = 0; i < referenceCalls_.size(); ++i) {
    if (referenceCalls_[i].kind != kCallReplace) continue;
    // The file that takes the place: the last one created before.
    size_t created = i;
    while (created > 0 && referenceCalls_[created].kind != kCallCreate) --created;
    bool flushed = false;
    for (size_t j = created; j < i; ++j)
      flushed |= referenceCalls_[j].kind == kCallFlush &&
                 referenceCalls_[j].what == referenceCalls_[created].what;
    if (!flushed) unflushed.push_back(referenceCalls_[i].what);
  }
  return unflushed;
}

void FaultHarness::CheckTold(const Run& run, std::vector<std::string>* problems) const {
  std::vector<const HostMessageBox*> errors;
  for (const HostMessageBox& box : run.boxes)
    if (box.flags & kMbIconError) errors.push_back(&box);
  // A package resource that cannot be found ends start-up without a word,
  // by design: there is nothing to name.
  const bool silentByDesign = run.failed && run.failedCall.kind == kCallResource;
  if (errors.empty() && !silentByDesign) problems->push_back("ended without a message");
  // Memory that runs out is named as such, or, for the package's own
  // directory, as the package that cannot be read.
  if (run.failed && run.failedCall.kind == kCallAllocation && !errors.empty() &&
      errors.front()->text != kTextNoMemory && errors.front()->text != kTextResourceReadError)
    problems->push_back("no memory, but the box says " + errors.front()->text);
  const bool dialogFailed = run.failed && run.failedCall.kind == kCallDialog;
  if (run.wizard || dialogFailed) {
    if (errors.empty() || errors.back()->text != kTextInterrupted)
      problems->push_back("the wizard ended without the interrupted message");
    else if (!dialogFailed && errors.size() < 2)
      problems->push_back("interrupted without a message saying why");
  }
}

void FaultHarness::CheckFiles(const Tree& after, const Run& run, bool stopped, bool finished,
                              std::vector<std::string>* problems, SweepTotals* totals) const {
  std::set<std::string> paths;
  for (const auto& entry : before_) paths.insert(entry.first);
  for (const auto& entry : after) paths.insert(entry.first);
  for (const std::string& path : paths) {
    const FileState* b = Find(before_, path);
    const FileState* a = Find(after, path);
    if (!IsDestination(path)) {
      if (SameState(a, b)) continue;
      const bool leftOver = !b && a && !a->folder;
      if (leftOver && run.failed && run.failedCall.kind == kCallDelete &&
          HostPath(run.failedCall.what.c_str()) == root_ + "/" + path)
        continue;  // the failed delete itself: nothing can remove it
      if (leftOver && stopped && IsTemporaryName(path)) {
        totals->leftoverFolders.insert(fs::path(path).parent_path().string() + "/" +
                                       fs::path(path).filename().string().substr(0, 3) + "*.tmp");
        continue;
      }
      problems->push_back(path + (leftOver ? " left behind" : " changed: " + Describe(a)));
      continue;
    }
    const FileState* r = Find(reference_, path);
    const bool fresh = freshTime_.count(path) != 0;
    const bool asReference = SameState(a, r, fresh, run.start);
    const Alternative* alternative = nullptr;
    for (const Alternative& candidate : scenario_.alternatives)
      if (candidate.path == path && SameState(a, &candidate.state)) alternative = &candidate;
    bool allowed = asReference || SameState(a, b) || alternative;
    if (!allowed && stopped && scenario_.shellCopies.count(path) && a && r && !a->folder &&
        a->bytes.size() < r->bytes.size() && r->bytes.compare(0, a->bytes.size(), a->bytes) == 0) {
      ++totals->shellTorn;
      allowed = true;
    }
    if (!allowed) {
      problems->push_back(path + " is neither old nor new: " + Describe(a));
      continue;
    }
    if (!finished || asReference) continue;
    const bool excused = alternative && run.failed &&
                         alternative->whenFinished.count(run.failedCall.kind) != 0;
    if (!excused)
      problems->push_back("finished, but " + path + " is not as the update leaves it: " +
                          Describe(a));
  }
}

SweepTotals FaultHarness::FailEachPoint() {
  SweepTotals totals;
  for (long n = 1; n <= referencePoints_; ++n) {
    Prepare();
    PutFiles();
    const Run run = RunOnce(n);
    const Tree after = TakeTree(root_);
    std::vector<std::string> problems;
    ++totals.points;
    if (run.failed && run.failedCall.kind == kCallAllocation) ++totals.allocations;
    if (!run.failed) problems.push_back("the point was never reached");
    const bool finished = run.code == 1;
    if (run.code != 0 && run.code != 1) problems.push_back("exit " + std::to_string(run.code));
    if (scenario_.ignored && scenario_.ignored(referenceCalls_, (size_t)(n - 1))) {
      if (finished) ++totals.ignored;
      else problems.push_back("a failure the design passes over ended the update");
    }
    if (finished) {
      ++totals.finished;
      for (const HostMessageBox& box : run.boxes)
        if (box.flags & kMbIconError) problems.push_back("finished after the error box " + box.text);
    } else {
      ++totals.ended;
      CheckTold(run, &problems);
    }
    if (run.leftOpen) problems.push_back("the wizard was left with no way on");
    if (run.leaked) problems.push_back(std::to_string(run.leaked) + " blocks not released");
    if (run.filesLeftOpen) problems.push_back("a file left open");
    if (run.keysLeftOpen) problems.push_back("a registry key left open");
    CheckFiles(after, run, false, finished, &problems, &totals);
    // What the user saw, each box up to its second line (a path, say).
    std::string shown;
    for (const HostMessageBox& box : run.boxes)
      if (box.flags & kMbIconError)
        shown += (shown.empty() ? "" : " -> ") + box.text.substr(0, box.text.find('\r'));
    if (!finished) ++totals.boxes[shown.empty() ? "(none)" : shown];
    for (const std::string& problem : problems)
      Note(&totals, "point " + std::to_string(n) + " (" + CallText(run.failedCall) + "): " + problem);
  }
  return totals;
}

SweepTotals FaultHarness::StopAtEachChange() {
  SweepTotals totals;
  for (long n = 0; n < referenceChanges_; ++n) {
    Prepare();
    PutFiles();
    std::vector<std::string> problems;
    ++totals.points;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
      HostStopAfterChanges(n, [] { _exit(kStoppedExit); });
      HostSetFaultPointLimit(referencePoints_ * 4 + 200, [] { _exit(kOverLimitExit); });
      const std::function<void()> onShortage = scenario_.onShortage;
      HostSetDialogScript([onShortage](WindowHandle dialog) { WalkWizard(dialog, onShortage); });
      UpdaterMain(HostModule());
      _exit(0);
    }
    int status = 0;
    Run stop;
    stop.start = Now() - 1000000000;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status)) problems.push_back("the run crashed");
    else if (WEXITSTATUS(status) == kOverLimitExit) problems.push_back("the run makes calls without end");
    else if (WEXITSTATUS(status) != kStoppedExit) problems.push_back("the run never got there");
    const Tree cut = TakeTree(root_);
    CheckFiles(cut, stop, true, false, &problems, &totals);

    // The next start, over whatever the stop left.
    Prepare();
    const Run again = RunOnce(0);
    const Tree after = TakeTree(root_);
    if (again.code != 1) problems.push_back("the next run did not finish");
    for (const std::string& path : destinations_) {
      const FileState* a = Find(after, path);
      const FileState* r = Find(reference_, path);
      if (!SameState(a, r, true, 0))
        problems.push_back("after the next run " + path + " is " + Describe(a) + ", not " +
                           Describe(r));
    }
    for (const auto& [path, state] : after)
      if (!IsDestination(path) && !Find(before_, path) && !Find(cut, path))
        problems.push_back("the next run left " + path);
    for (const std::string& problem : problems)
      Note(&totals, "stop after change " + std::to_string(n) + ": " + problem);
  }
  return totals;
}
#endif

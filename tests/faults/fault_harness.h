// A whole update run again and again over the simulation, once with each
// fault point failing and once stopped after each change, with the state of
// every file checked after each run.
//
// A scenario builds an installation in the scratch folder once; the harness
// keeps a picture of every file and folder below it (bytes, last-write time,
// read-only) and puts that picture back before each run. A run without any
// fault gives the reference: the files as the finished update leaves them.
#pragma once
#if !defined(_WIN32)
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/base.h"
#include "support/startup_env.h"
#include "sim/sim.h"

struct FileState {
  bool folder = false;
  std::string bytes;
  i64 modified = 0;  // nanoseconds since 1970
  bool readOnly = false;
};
// Below the scratch folder, by host path relative to it ("game/DATA/A.DAT").
typedef std::map<std::string, FileState> Tree;

Tree TakeTree(const std::string& hostRoot);
// Empties `hostRoot` and makes it hold exactly `tree`.
void PutTree(const std::string& hostRoot, const Tree& tree);

// A state a file may take besides the old and the reference one, and the
// failed calls after which it may stand in a run that finished.
struct Alternative {
  std::string path;
  FileState state;
  std::set<HostCallKind> whenFinished;
};

struct Scenario {
  // Run before each run, after the simulation is reset: drives, package,
  // registry, message-box responder. The files come from the picture.
  std::function<void()> install;
  // The user's part when the page wants more than Next (the free space
  // short, say); runs before Back is pressed.
  std::function<void()> onShortage;
  std::vector<Alternative> alternatives;
  // Copies made by the shell: a stop in the middle of one leaves it short,
  // as the shell writes in place; the next run replaces it.
  std::set<std::string> shellCopies;
  // Failures the design passes over: call `index` of the reference run
  // failing must still let the update finish.
  std::function<bool(const std::vector<HostCall>& calls, size_t index)> ignored;
};

struct SweepTotals {
  long points = 0;
  long violations = 0;
  long finished = 0;     // runs that still reached "完了"
  long ended = 0;        // runs that ended with a message
  long allocations = 0;  // of the points, allocations
  long ignored = 0;      // of the finished runs, failures the design passes over
  std::vector<std::string> examples;             // the first violations, for the test's output
  std::map<std::string, long> boxes;             // ended runs by the error boxes shown
  std::set<std::string> leftoverFolders;         // stops: where temporary files stayed
  long shellTorn = 0;                            // stops: copies cut short by the shell
};

class FaultHarness {
 public:
  // `hostRoot`: the scratch folder on the host. The files below it are the
  // scenario's installation as it stands now; its folder "start" is where
  // the updater runs.
  FaultHarness(const std::string& hostRoot, Scenario scenario);
  // The run without faults; 1 when it finished.
  int Reference();
  // Replacements in the reference run whose new file was not flushed first
  // (a power cut of the machine could then leave an empty file in place).
  std::vector<std::string> UnflushedReplacements() const;
  long ReferencePoints() const { return referencePoints_; }
  long ReferenceChanges() const { return referenceChanges_; }
  // The fault points of the reference run, in order.
  const std::vector<HostCall>& ReferenceCalls() const { return referenceCalls_; }
  const Tree& After() const { return reference_; }
  // Every fault point failing in turn.
  SweepTotals FailEachPoint();
  // The run stopped after each change in turn (in a child process that
  // ends there, as a killed one), then a run without faults.
  SweepTotals StopAtEachChange();

 private:
  struct Run {
    int code = -1;
    std::vector<HostMessageBox> boxes;
    bool wizard = false;
    bool leftOpen = false;
    long leaked = 0;
    int filesLeftOpen = 0;
    int keysLeftOpen = 0;
    bool failed = false;
    HostCall failedCall;
    i64 start = 0;
  };
  void Prepare();
  void PutFiles();
  Run RunOnce(long failAt);
  void CheckFiles(const Tree& after, const Run& run, bool stopped, bool finished,
                  std::vector<std::string>* problems, SweepTotals* totals) const;
  void CheckTold(const Run& run, std::vector<std::string>* problems) const;
  bool IsDestination(const std::string& path) const { return destinations_.count(path) != 0; }

  std::string root_;
  Scenario scenario_;
  Tree before_;
  Tree reference_;
  std::set<std::string> destinations_;
  std::set<std::string> freshTime_;  // kept files: same bytes, a time of the run
  long referencePoints_ = 0;
  long referenceChanges_ = 0;
  std::vector<HostCall> referenceCalls_;
};

// Clicks through the wizard as a user who accepts everything.
void WalkWizard(WindowHandle dialog, const std::function<void()>& onShortage);
#endif

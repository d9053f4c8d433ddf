// One numbering of every call of the simulation that can fail, and of
// every call that changes the file system, so a test can fail or stop a run
// at each in turn.
#include "sim/faults_sim.h"

#include <utility>

namespace {
const char* const kKindNames[] = {
    "create",          "open",        "read",           "write",      "flush",
    "close",           "get time",    "set time",       "get size",   "get attributes",
    "set attributes",  "make folder", "move or replace", "delete",    "find window",
    "drive type",      "free space",  "temp folder",    "temp name",  "allocation",
    "registry",        "resource",    "shell copy",     "shell copy of a file", "dialog",
};
static_assert(sizeof kKindNames / sizeof kKindNames[0] == kCallKinds, "a name for every kind");

std::vector<HostCall> trace;
long failAt;  // 1-based; 0: nothing fails
int failByName;
HostCallKind failKind;
std::string failPrefix;
int failed;
HostCall failedCall;
long changes;
long stopAfter = -1;  // -1: no stop
std::function<void()> stopRun;
long limit;  // 0: none
std::function<void()> overLimit;
}  // namespace

const char* HostCallKindName(HostCallKind kind) {
  return kind >= 0 && kind < kCallKinds ? kKindNames[kind] : "?";
}

void HostResetFaults() {
  trace.clear();
  failAt = 0;
  failByName = 0;
  failPrefix.clear();
  failed = 0;
  failedCall = HostCall();
  changes = 0;
  stopAfter = -1;
  stopRun = nullptr;
  limit = 0;
  overLimit = nullptr;
}

void HostFailCall(long n) { failAt = n; }

void HostFailFirstCall(HostCallKind kind, const std::string& prefix) {
  failByName = 1;
  failKind = kind;
  failPrefix = prefix;
}
long HostFaultPoints() { return (long)trace.size(); }
const std::vector<HostCall>& HostFaultTrace() { return trace; }
const HostCall* HostFailedCall() { return failed ? &failedCall : nullptr; }
long HostChangePoints() { return changes; }

void HostStopAfterChanges(long n, std::function<void()> stop) {
  stopAfter = n;
  stopRun = std::move(stop);
}

void HostSetFaultPointLimit(long most, std::function<void()> whenPassed) {
  limit = most;
  overLimit = std::move(whenPassed);
}

int HostFaultHere(HostCallKind kind, const std::string& what) {
  trace.push_back(HostCall{kind, what});
  if (limit && (long)trace.size() > limit && overLimit) overLimit();
  const int named = failByName && kind == failKind && what.rfind(failPrefix, 0) == 0;
  if (named) failByName = 0;
  if (!named && (long)trace.size() != failAt) return 0;
  failed = 1;
  failedCall = trace.back();
  return 1;
}

void HostChangeHere(const std::string& what, const std::function<void()>& partly) {
  (void)what;
  if (stopAfter >= 0 && changes == stopAfter && stopRun) {
    if (partly) partly();
    stopRun();
  }
  ++changes;
}

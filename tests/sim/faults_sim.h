// The fault points of the host simulation (see sim.h): every simulated call
// that can fail asks here first, and every call that changes a file or a
// folder says so before it does.
#pragma once
#include <functional>
#include <string>

#include "sim/sim.h"

// Counts a fault point of `kind` on `what` (a path, a key, a size); 1 when
// it is the one chosen to fail, which must then fail as the system does.
int HostFaultHere(HostCallKind kind, const std::string& what);
// Counts a change about to be made to `what`. When the run is to stop here,
// `partly` (when given) first makes the part of the change that a cut in
// its middle leaves behind, and then the stop runs.
void HostChangeHere(const std::string& what, const std::function<void()>& partly = nullptr);

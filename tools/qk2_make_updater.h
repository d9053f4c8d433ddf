// `qk2 make-updater`: from an update folder to a ready updater executable.
#pragma once

#include <string>
#include <vector>

extern const char kMakeUpdaterUsage[];
extern const char kCheckUsage[];

// Runs the command on its arguments (those after "make-updater") and
// returns the exit code.
int CommandMakeUpdater(const std::vector<std::string>& args);

// `qk2 check`: the folder check alone, writing nothing.
int CommandCheck(const std::vector<std::string>& args);

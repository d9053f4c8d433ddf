// The update folder check against the updater's own plan reader: both read
// the UPDATE.INI of one folder, and for every installation mode the plan's
// items must be exactly the checker's lines meant for that mode, in order.
#pragma once
#include <string>

// Empty when the two agree; else the first difference, for a message.
// Needs the host simulation (the plan reader reads UpdateIniPath through it).
std::string CompareReadings(const std::string& folder);

// The example walk of tools/run-example.sh (see walk.cpp).
#pragma once
#include <string>

namespace e2e {

// Starts `updater` (Windows path) in `work`, answers every page and box
// the way a user who accepts everything would, and prints what it saw.
// `shots`: folder for screenshot requests, or empty for none. Returns 0
// when the updater ended and left its temporary folder empty.
int WalkExample(const std::string& updater, const std::string& work, const std::string& shots);

}  // namespace e2e

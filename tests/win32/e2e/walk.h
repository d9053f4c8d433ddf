// The example walk of tools/run-example.sh (see walk.cpp).
#pragma once
#include <string>

namespace e2e {

struct WalkOptions {
  std::string updater;  // Updater.exe with its package (Windows path)
  std::string work;     // folder for the run (its temporary folder goes here)
  std::string shots;    // folder for screenshot requests; empty: none
  // The disk that the user inserts when the updater asks for one: the
  // disk's files (`disk`) are copied into the folder behind the CD-ROM
  // drive (`drive`). Empty: the user has no disk to insert.
  std::string disk;
  std::string drive;
};

// Starts the updater in `work`, answers every page and box the way a user
// who accepts everything would, and prints what it saw. Returns 0 when the
// updater ended and left its temporary folder empty.
int WalkExample(const WalkOptions& options);

}  // namespace e2e

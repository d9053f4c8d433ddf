// Checks an update folder before it is packed: reads its UPDATE.INI the way
// the updater will (cp932 bytes, the updater's key and list rules), reports
// everything that would make the update fail or silently do less than it
// says, and lists the files that go into the package.
#pragma once

#include <string>
#include <vector>

struct IniProblem {
  std::string file;  // the INI file's path, as the folder was given
  int line;          // 1-based; 0 when the problem belongs to no one line
  std::string message;
};

// One package entry and the file it is made from.
struct PlannedEntry {
  std::string name;     // entry name in the package (cp932)
  std::string path;     // the file in the update folder, a path the tool can open
  std::string namedBy;  // "UPDATE.INI", "UpdateFile03", "AgreementText", ...
  // The updater reads the agreement texts in place, without descrambling,
  // so those entries must be stored unscrambled.
  bool scramble = true;
};

struct UpdateFolderCheck {
  std::vector<IniProblem> problems;
  // UPDATE.INI first, then each file that an UpdateFile line names in line
  // order, then the agreement files; each name once (a later mention of a
  // name already listed can only clear its scramble flag). Listed even when
  // there are problems, without the files that are missing.
  std::vector<PlannedEntry> entries;
  bool ok() const { return problems.empty(); }
};

// Checks `folder` (a path in the tool's own file-name encoding: UTF-8 on
// Linux, the ANSI code page on Windows) and its UPDATE.INI.
UpdateFolderCheck CheckUpdateFolder(const std::string& folder);

// "UPDATE.INI:12: message", or "UPDATE.INI: message" for line 0.
std::string FormatIniProblem(const IniProblem& problem);

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
  std::string code;  // what kind of problem, for tools: "unknown-key", ...
  int column = 0;    // 1-based; 0 when it concerns the whole line
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

// What the updater makes of one UpdateFile or CopyFile line that it reads:
// its own INI reader gives the value, its own plan reader takes it apart.
struct LineAccount {
  std::string key;   // "UpdateFile03", "CopyFile00"
  int line = 0;      // the line of UPDATE.INI that sets it (0 when not found there)
  bool copy = false; // a CopyFile line
  int mode = -1;     // -1: for every installation; else the InstMode it is for
  int kind = 0;      // an UpdateFile line's ItemKind
  bool dataRoot = false;  // placed below the data folder (kind d)
  std::string path;  // below the destination (UpdateFile) or the disk (CopyFile), cp932
  std::string entry; // the package entry an UpdateFile line places
  int disk = 0;      // a CopyFile line's disk, 0 for none
  bool refused = false;  // a CopyFile line the updater refuses (disk not 1 to 9)
};

struct UpdateFolderCheck {
  std::vector<IniProblem> problems;  // errors: no updater is made
  // Lines the updater reads otherwise than they were most likely meant, or
  // reads not at all: keys and sections it does not know, values it takes
  // differently, paths that leave the installation, files no line names.
  std::vector<IniProblem> warnings;
  // UPDATE.INI first, then each file that an UpdateFile line names in line
  // order, then the agreement files; each name once (a later mention of a
  // name already listed can only clear its scramble flag). Listed even when
  // there are problems, without the files that are missing.
  std::vector<PlannedEntry> entries;
  // Every line the updater reads, UpdateFile lines first, in its order.
  std::vector<LineAccount> lines;
  // DataFolder of section "SETUP" as the updater reads it (cp932), joined
  // between the installation or data folder and each UpdateFile path.
  std::string dataFolder;
  bool ok() const { return problems.empty(); }
};

// Checks `folder` (a path in the tool's own file-name encoding: UTF-8 on
// Linux, the ANSI code page on Windows) and its UPDATE.INI.
UpdateFolderCheck CheckUpdateFolder(const std::string& folder);

// "UPDATE.INI:12: message", or "UPDATE.INI: message" for line 0; a warning
// reads "UPDATE.INI:12: warning: message".
std::string FormatIniProblem(const IniProblem& problem, bool warning = false);

// Small update folders for the qk2 tests: an UPDATE.INI given line by line
// (cp932, CRLF) and the files it names, all with the time kFolderTime.
#pragma once

#include <string>
#include <vector>

#include "qk2_run.h"

namespace qk2test {

struct FolderFile {
  std::string name;  // native spelling (NATIVE("..."))
  std::string bytes;
};

// Content that compresses well, and content that does not.
std::string Compressible(size_t size);
std::string Incompressible(size_t size, unsigned seed);

// The agreement text of the standard folder (cp932).
extern const char kAgreementText[];

// UPDATE.INI of a complete update of the host simulation's test game
// (CompanyName TestSoft, GameDir TestGame), with an agreement and a plain,
// a "u" and a "d" line:
//    1 [SETUP]
//    2 CompanyName=TestSoft
//    3 GameTitle=テストゲーム
//    4 GameClass=TestGameClass
//    5 GameDir=TestGame
//    6 UpdaterVersion=2.0
//    7 AgreementText=AGREE.TXT
//    8 [UPDATE]
//    9 UpdateFile00=GAME.DAT
//   10 UpdateFile01=u,ステージ.DAT
//   11 UpdateFile02=d,SAVE.DAT
std::vector<std::string> StandardIniLines();
// The files those lines name.
std::vector<FolderFile> StandardFiles();

std::string IniText(const std::vector<std::string>& lines);

// Writes the folder: UPDATE.INI (unless `iniLines` is empty) and `files`.
void WriteUpdateFolder(const std::string& folder, const std::vector<std::string>& iniLines,
                       const std::vector<FolderFile>& files);

}  // namespace qk2test

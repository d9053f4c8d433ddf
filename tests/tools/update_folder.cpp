#include "update_folder.h"

#include <gtest/gtest.h>

namespace qk2test {

const char kAgreementText[] =
    "使用許諾契約書\r\n第1条 本ソフトウェアの著作権は当社に帰属します。\r\n";

std::string Compressible(size_t size) {
  std::string bytes;
  for (size_t i = 0; bytes.size() < size; ++i) bytes += "stage " + std::to_string(i % 37) + ";";
  bytes.resize(size);
  return bytes;
}

std::string Incompressible(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = (char)(x >> 24);
  }
  return bytes;
}

std::vector<std::string> StandardIniLines() {
  return {"[SETUP]",
          "CompanyName=TestSoft",
          "GameTitle=テストゲーム",
          "GameClass=TestGameClass",
          "GameDir=TestGame",
          "UpdaterVersion=2.0",
          "AgreementText=AGREE.TXT",
          "[UPDATE]",
          "UpdateFile00=GAME.DAT",
          "UpdateFile01=u,ステージ.DAT",
          "UpdateFile02=d,SAVE.DAT"};
}

std::vector<FolderFile> StandardFiles() {
  return {{"GAME.DAT", Compressible(20000)},
          {NATIVE("ステージ.DAT"), Incompressible(300, 7)},
          {"SAVE.DAT", "[Save]\r\nSlot=1\r\n"},
          {"AGREE.TXT", kAgreementText}};
}

std::string IniText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

void WriteUpdateFolder(const std::string& folder, const std::vector<std::string>& iniLines,
                       const std::vector<FolderFile>& files) {
  std::vector<FolderFile> all = files;
  if (!iniLines.empty()) all.push_back({"UPDATE.INI", IniText(iniLines)});
  for (const FolderFile& file : all) {
    const std::string path = PathIn(folder, file.name);
    ASSERT_TRUE(WriteFile(path, file.bytes)) << path;
    ASSERT_TRUE(SetModified(path, kFolderTime)) << path;
  }
}

}  // namespace qk2test

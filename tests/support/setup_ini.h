// SETUP.INI texts for the loader's tests: a small valid description with
// keys replaced, added or removed, written to a new file each time (so no
// reader's cache can hand back an earlier text) and named by SetupIniPath.
#pragma once
#include <string.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "settings/settings.h"
#include "support/scratch.h"

struct IniKey {
  const char* key;
  const char* value;  // null removes the key
};

inline std::string SetupIniText(const std::vector<IniKey>& changes) {
  std::vector<std::pair<std::string, std::string>> keys = {
      {"CompanyName", "Company"},   {"GameTitle", "ゲーム"},
      {"GameDir", "GameDir"},       {"GameExe", "game.exe"},
      {"UninstExe", "uninst.exe"},  {"SetupBmp", "a.bmp,b.bmp"},
      {"InstallSelects", "2"},      {"InstallTitle0", "Full"},
      {"InstallFiles0", "a.dat,2:b.dat,c.dat"},
      {"InstallTitle1", "Small"},   {"InstallFiles1", "d.dat"},
      {"Shortcuts", "1"},           {"Shortcut0", "Game,game.exe,,icon.ico"},
  };
  for (const IniKey& change : changes) {
    size_t at = 0;
    while (at < keys.size() && keys[at].first != change.key) ++at;
    if (at == keys.size()) {
      if (change.value) keys.emplace_back(change.key, change.value);
    } else if (change.value) {
      keys[at].second = change.value;
    } else {
      keys.erase(keys.begin() + (long)at);
    }
  }
  std::string text = "; installed by the game's installer\r\n[SETUP]\r\n";
  for (const auto& key : keys) text += key.first + "=" + key.second + "\r\n";
  return text;
}

class SetupIniFiles {
 public:
  // Writes `text` to a new file and points SetupIniPath at it.
  bool Use(const std::string& text) {
    std::string path = scratch_ / ("SETUP" + std::to_string(count_++) + ".INI");
    if (path.size() >= sizeof SetupIniPath || !WriteTestFile(path, text)) return false;
    memcpy(SetupIniPath, path.c_str(), path.size() + 1);
    return true;
  }

 private:
  ScratchFolder scratch_;
  int count_ = 0;
};

#include "packer/entry_names.h"

#include <cstring>

#include "packer/encoding.h"

bool IsBareEntryName(const std::string& cp932) {
  if (cp932.empty() || cp932 == "." || cp932 == "..") return false;
  for (size_t i = 0; i < cp932.size(); ++i) {
    const unsigned char c = (unsigned char)cp932[i];
    if (IsCp932LeadByte(c) && i + 1 < cp932.size()) {
      ++i;
      continue;
    }
    if (c < 0x20 || std::strchr("\\/:<>\"|?*", c)) return false;
  }
  // Device names, with any extension, name no file on Windows.
  std::string stem = WindowsFileKey(cp932.substr(0, cp932.find('.')));
  for (const char* device : {"CON", "PRN", "AUX", "NUL"})
    if (stem == device) return false;
  return !(stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '1' && stem[3] <= '9');
}

std::string WindowsFileKey(const std::string& cp932) {
  std::string key;
  size_t kept = 0;  // the key's length without trailing dots and blanks
  for (size_t i = 0; i < cp932.size(); ++i) {
    const unsigned char c = (unsigned char)cp932[i];
    if (IsCp932LeadByte(c) && i + 1 < cp932.size()) {
      key += cp932.substr(i++, 2);
      kept = key.size();
      continue;
    }
    key += (char)(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (c != '.' && c != ' ') kept = key.size();
  }
  key.resize(kept);
  return key;
}

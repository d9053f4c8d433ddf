// INI files by their native path.
#include "platform/ini.h"

u32 OsReadIniString(const char* section, const char* key, const char* defaultValue, char* out,
                    u32 size, const char* path) {
  return PosixReadIniString(section, key, defaultValue, out, size, path);
}

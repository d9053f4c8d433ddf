#include "platform/ini.h"

#include <windows.h>

/* OsReadIniString: GetPrivateProfileStringA itself; the count it returns. */
u32 OsReadIniString(const char* section, const char* key, const char* defaultValue, char* out,
                    u32 size, const char* path) {
  return GetPrivateProfileStringA(section, key, defaultValue, out, size, path);
}

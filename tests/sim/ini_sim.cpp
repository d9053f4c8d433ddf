// INI files by Windows paths: the simulated drive maps the path, and the
// POSIX reader reads the host file.
#include "platform/ini.h"
#include "sim/sim.h"

u32 OsReadIniString(const char* section, const char* key, const char* defaultValue, char* out,
                    u32 size, const char* path) {
  const std::string host = path ? HostPath(path) : std::string();
  return PosixReadIniString(section, key, defaultValue, out, size,
                            path && !host.empty() ? host.c_str() : nullptr);
}

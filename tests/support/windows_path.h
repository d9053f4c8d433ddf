// The Windows path under Wine of a host path: the test programs that run
// under Wine are handed host paths by CMake and the scripts, and Wine's
// drive Z: is the host's root.
#pragma once
#include <string>

// "/a/b" gives "Z:\a\b"; a path that is not absolute on the host is kept.
inline std::string WindowsPath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:" + path;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

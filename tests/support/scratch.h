// A scratch folder for tests, addressed by Windows paths on both builds:
// under Wine a real folder in the temporary folder; on the host a fresh
// folder that drive C: is mapped to.
#pragma once
#include <string>
#include <vector>

#include "platform/base.h"

class ScratchFolder {
 public:
  ScratchFolder();   // creates it (and, on the host, maps C: to it)
  ~ScratchFolder();  // removes it with everything inside
  // Windows path of the folder, without a trailing backslash ("C:\\scratch").
  const std::string& path() const { return path_; }
  // Windows path of `relative` inside the folder.
  std::string operator/(const std::string& relative) const;

 private:
  std::string path_;
  std::string native_;  // the same folder as the running system names it
};

// Whole-file helpers on Windows paths; they use the C++ library, not the
// code under test. Read returns false when the file cannot be read.
bool WriteTestFile(const std::string& path, const std::string& bytes);
bool ReadTestFile(const std::string& path, std::string* bytes);
bool TestPathExists(const std::string& path);
bool MakeTestFolder(const std::string& path);

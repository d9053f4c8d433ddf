// What the tools' file functions share on every system.
#include "platform/tool_files.h"

bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string* error) {
  OutputFile out;
  return out.Open(path, error) && out.Write(bytes.data(), bytes.size(), error) &&
         out.Commit(nullptr, false, error);
}

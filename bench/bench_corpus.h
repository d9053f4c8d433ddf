// The benchmark corpus shared by the codec benchmarks (about 40 MiB), taken
// deterministically from files a Debian machine carries, in sorted path
// order, each file limited to its first MiB:
//   programs     /usr/bin                                        16 MiB
//   text         /usr/share/common-licenses, /usr/share/doc (not .gz),
//                then /usr/share/perl5 and /usr/include if short   16 MiB
//   compressed   .gz files of /usr/share/doc and /usr/share/man   8 MiB
// Whole files are concatenated into blocks of about 1 MiB, the size of a
// package entry.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kBlockSize = kMiB;

struct Category {
  const char* name;
  std::vector<const char*> roots;
  bool compressedFiles;  // only .gz files, or only files that are not .gz
  size_t quota;
};

inline const std::vector<Category>& Categories() {
  static const std::vector<Category> categories = {
      {"programs", {"/usr/bin"}, false, 16 * kMiB},
      {"text",
       {"/usr/share/common-licenses", "/usr/share/doc", "/usr/share/perl5", "/usr/include"},
       false,
       16 * kMiB},
      {"compressed", {"/usr/share/doc", "/usr/share/man"}, true, 8 * kMiB},
  };
  return categories;
}

struct RawBlock {
  size_t category;
  std::vector<uint8_t> bytes;
};

inline std::vector<std::string> SortedFiles(const char* root, bool compressedFiles) {
  namespace fs = std::filesystem;
  std::vector<std::string> files;
  std::error_code error;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_symlink() || !it->is_regular_file()) continue;
    const std::string path = it->path().string();
    const bool gz = path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
    if (gz == compressedFiles) files.push_back(path);
  }
  std::sort(files.begin(), files.end());
  return files;
}

inline std::vector<uint8_t> ReadPart(const std::string& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes(limit);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(limit));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

// The blocks of every category in order. Exits when no file was found.
inline std::vector<RawBlock> BuildRawCorpus() {
  std::vector<RawBlock> blocks;
  const std::vector<Category>& categories = Categories();
  for (size_t c = 0; c < categories.size(); ++c) {
    const Category& category = categories[c];
    size_t taken = 0;
    RawBlock block{c, {}};
    for (const char* root : category.roots) {
      for (const std::string& path : SortedFiles(root, category.compressedFiles)) {
        if (taken >= category.quota) break;
        std::vector<uint8_t> part = ReadPart(path, std::min(kMiB, category.quota - taken));
        if (part.empty()) continue;
        if (block.bytes.size() + part.size() > kBlockSize) {
          blocks.push_back(std::move(block));
          block = RawBlock{c, {}};
        }
        block.bytes.insert(block.bytes.end(), part.begin(), part.end());
        taken += part.size();
      }
    }
    if (!block.bytes.empty()) blocks.push_back(std::move(block));
  }
  if (blocks.empty()) {
    std::fprintf(stderr, "no corpus files found\n");
    std::exit(1);
  }
  return blocks;
}

}  // namespace bench

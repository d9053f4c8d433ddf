#include "tools/qk2_package.h"

#include <cstdio>
#include <cstring>

#include "package/format.h"
#include "packer/compress.h"
#include "tools/qk2_common.h"

namespace {

constexpr uint64_t kMegabyte = 1024 * 1024;
constexpr int kBarWidth = 30;

uint32_t GetLE32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

void PutLE32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = (uint8_t)(value >> (8 * i));
}

// Takes 64 bits, so the test stays meaningful where size_t has 32.
bool ExceedsU32(uint64_t size) { return size > 0xFFFFFFFFull; }

}  // namespace

// ---- progress

PackProgress::PackProgress(size_t entries, uint64_t bytes, bool show)
    : show_(show), entries_(entries), bytes_(bytes) {
  Draw();
}

void PackProgress::EntryStarting(const std::string& name) {
  current_ = name;
  Draw();
}

void PackProgress::EntryDone(uint64_t bytes) {
  current_.clear();
  ++entriesDone_;
  bytesDone_ += bytes;
  Draw();
}

void PackProgress::Finish() {
  if (!drawn_) return;
  std::fputc('\n', stderr);
  std::fflush(stderr);
  drawn_ = false;
}

std::string PackProgress::Line() const {
  // By bytes, which is what takes the time; by entries when all are empty.
  const double part = bytes_     ? (double)bytesDone_ / (double)bytes_
                      : entries_ ? (double)entriesDone_ / (double)entries_
                                 : 1.0;
  const int filled = (int)(part * kBarWidth + 0.5);
  char text[160];
  std::snprintf(text, sizeof text, "packing [%s%s] %3d%%  %zu/%zu entries  %.1f/%.1f MB",
                std::string((size_t)filled, '#').c_str(),
                std::string((size_t)(kBarWidth - filled), '-').c_str(), (int)(part * 100 + 0.5),
                entriesDone_, entries_, (double)bytesDone_ / (double)kMegabyte,
                (double)bytes_ / (double)kMegabyte);
  return text;
}

void PackProgress::Draw() {
  if (!show_) return;
  // Carriage return only: the line is redrawn in place on a terminal, and
  // blanks cover whatever a longer line left.
  std::string line = Line();
  if (!current_.empty()) line += "  " + current_;
  const size_t width = line.size();
  if (width < drawnWidth_) line.append(drawnWidth_ - width, ' ');
  drawnWidth_ = width;
  std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

bool ReadPackInput(const std::string& path, PackInput* input) {
  return ReadWholeFile(path, &input->content) && FileModified(path, &input->modified);
}

bool PackingTakesAWhile(uint64_t bytes) { return bytes >= kMegabyte; }

// ---- the package, entry by entry

bool AssemblePackage(std::vector<PackInput> inputs, const PackOptions& options,
                     PackProgress* progress, std::vector<uint8_t>* out, std::string* error) {
  // Each entry goes through BuildPackage alone, so the writer keeps its say
  // over how an entry is stored; this only lays the results side by side as
  // BuildPackage would have (the tests compare the two).
  PackOptions single = options;
  single.compressDirectory = false;
  std::vector<uint8_t> package(kPackageHeaderSize, 0);
  std::vector<uint8_t> directory;
  directory.reserve(inputs.size() * kPackageEntrySize);
  for (PackInput& input : inputs) {
    const uint64_t contentBytes = input.content.size();
    if (progress) progress->EntryStarting(FromCp932(input.name));
    std::vector<PackInput> one;
    one.push_back(std::move(input));
    std::vector<uint8_t> alone;
    if (!BuildPackage(one, single, &alone, error)) return false;
    const uint32_t directoryOffset = GetLE32(&alone[8]);
    const uint8_t* record = &alone[directoryOffset];
    const uint32_t storedSize = GetLE32(record + 276);
    package.insert(package.end(), alone.begin() + kPackageHeaderSize,
                   alone.begin() + kPackageHeaderSize + AlignedStoredSize(storedSize));
    directory.insert(directory.end(), record, record + kPackageEntrySize);
    if (ExceedsU32(package.size())) {
      *error = "package larger than 4 GiB";
      return false;
    }
    if (progress) progress->EntryDone(contentBytes);
  }
  const uint32_t directoryOffset = (uint32_t)package.size();
  if (options.compressDirectory) {
    const std::vector<uint8_t> stream =
        CompressBlock(directory.data(), directory.size(), options.effort);
    package.insert(package.end(), stream.begin(), stream.end());
  } else {
    package.insert(package.end(), directory.begin(), directory.end());
  }
  if (ExceedsU32(package.size())) {
    *error = "package larger than 4 GiB";
    return false;
  }
  std::memcpy(package.data(), kPackageMagic, 4);
  PutLE32(&package[4], options.compressDirectory ? uint32_t{kPackageFlagCompressedDirectory} : 0u);
  PutLE32(&package[8], directoryOffset);
  PutLE32(&package[12], (uint32_t)directory.size() / kPackageEntrySize);
  *out = std::move(package);
  return true;
}

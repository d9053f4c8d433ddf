#include "packer/package_writer.h"

#include <cstring>

#include "package/format.h"
#include "package/scramble.h"

namespace {

// Takes 64 bits, so the test stays meaningful where size_t has 32.
bool ExceedsU32(uint64_t size) { return size > 0xFFFFFFFFull; }

bool CheckName(const std::string& name, std::string* error) {
  if (name.empty()) {
    *error = "an entry name is empty";
    return false;
  }
  if (name.find('\0') != std::string::npos) {
    *error = "entry name contains a NUL byte";
    return false;
  }
  if (name.size() > kMaxEntryNameLength) {
    *error = "entry name longer than 259 bytes: " + name.substr(0, 40) + "...";
    return false;
  }
  return true;
}

void PutLE32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The stored bytes of one entry and its directory record.
bool StoreEntry(const PackInput& input, const PackOptions& options, std::vector<uint8_t>* stored,
                uint8_t record[kPackageEntrySize], std::string* error) {
  if (!CheckName(input.name, error)) return false;
  if (ExceedsU32(input.content.size())) {
    *error = input.name + ": content larger than 4 GiB";
    return false;
  }
  bool compressed = false;
  // The encoder takes less than 2 GiB at a time; larger content is stored
  // as it is.
  const bool compressible = input.content.size() <= 0x7FFFFFFFull;
  if (!compressible && input.compression == EntryCompression::kAlways) {
    *error = input.name + ": content of 2 GiB or more cannot be compressed";
    return false;
  }
  if (input.compression != EntryCompression::kNever && compressible && !input.patch) {
    CompressProgress onProgress;
    if (options.onEntryProgress) onProgress = [&](size_t done) { options.onEntryProgress(input, done); };
    std::vector<uint8_t> stream =
        CompressBlock(input.content.data(), input.content.size(), options.effort, onProgress);
    compressed = input.compression == EntryCompression::kAlways ||
                 CompressionPays(stream.size(), input.content.size());
    if (compressed) *stored = std::move(stream);
  }
  if (!compressed) *stored = input.content;
  if (stored->size() > 0xFFFFFFF0ull) {
    *error = input.name + ": stored bytes larger than 4 GiB";
    return false;
  }
  if (input.scramble) DescrambleBlock(stored->data(), static_cast<u32>(stored->size()));

  std::memset(record, 0, kPackageEntrySize);
  std::memcpy(record, input.name.data(), input.name.size());
  record[260] = static_cast<uint8_t>(compressed    ? kEntryFlagCompressed
                                    : input.patch ? kEntryFlagPatch | kEntryFlagStored
                                                  : kEntryFlagStored);
  record[262] = input.scramble ? uint8_t{kEntryScrambled} : uint8_t{0};
  PutLE32(record + 264, input.modified.low);
  PutLE32(record + 268, input.modified.high);
  PutLE32(record + 272, static_cast<uint32_t>(input.content.size()));
  PutLE32(record + 276, static_cast<uint32_t>(stored->size()));
  return true;
}

}  // namespace

bool BuildPackage(const std::vector<PackInput>& entries, const PackOptions& options,
                  std::vector<uint8_t>* out, std::string* error) {
  if (entries.size() > (0xFFFFFFFFull - kPackageHeaderSize) / kPackageEntrySize) {
    *error = "too many entries";
    return false;
  }
  std::vector<uint8_t> package(kPackageHeaderSize, 0);
  std::vector<uint8_t> directory(entries.size() * kPackageEntrySize, 0);
  for (size_t i = 0; i < entries.size(); ++i) {
    std::vector<uint8_t> stored;
    if (options.onEntry) options.onEntry(entries[i], false);
    if (!StoreEntry(entries[i], options, &stored, &directory[i * kPackageEntrySize], error))
      return false;
    if (options.onEntry) options.onEntry(entries[i], true);
    package.insert(package.end(), stored.begin(), stored.end());
    package.resize((package.size() + kPackageAlignment - 1) & ~size_t{kPackageAlignment - 1}, 0);
    if (ExceedsU32(package.size())) {
      *error = "package larger than 4 GiB";
      return false;
    }
  }
  const uint32_t directoryOffset = static_cast<uint32_t>(package.size());
  if (options.compressDirectory) {
    std::vector<uint8_t> stream = CompressBlock(directory.data(), directory.size(), options.effort);
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
  PutLE32(&package[12], static_cast<uint32_t>(entries.size()));
  *out = std::move(package);
  return true;
}

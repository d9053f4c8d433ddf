// Building update packages: the format of package/format.h, written from a
// list of entries in memory. Used by the qk2 tool and by the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "package/format.h"
#include "packer/compress.h"
#include "platform/base.h"

// How an entry's content is stored.
enum class EntryCompression {
  kNever,      // as it is (entry flag kEntryFlagStored)
  kIfSmaller,  // compressed only when the stream is strictly smaller
  kAlways,     // compressed even when the stream is larger (tests)
};

struct PackInput {
  std::string name;              // cp932, at most 259 bytes, no NUL inside
  std::vector<uint8_t> content;  // the entry's bytes as they will be written out
  FileTime modified{0, 0};       // FILETIME that extraction stamps the file with
  EntryCompression compression = EntryCompression::kIfSmaller;
  bool scramble = true;          // scramble the stored bytes (after compression)
  // The content is a patch container (package/format.h): stored as it is,
  // whatever `compression` says, and flagged so.
  bool patch = false;
};

struct PackOptions {
  bool compressDirectory = true;
  CompressEffort effort = CompressEffort::kBest;
  // Told before (`done` false) and after (`done` true) each entry is stored:
  // a large entry takes a while, and a progress display can follow it.
  std::function<void(const PackInput& entry, bool done)> onEntry;
  // Told, while a large entry is compressed, how many of its content bytes
  // are done, about every MiB.
  std::function<void(const PackInput& entry, size_t done)> onEntryProgress;
};

// Builds a complete package: header, each entry's stored bytes at a multiple
// of 16 with zero padding, then the directory (one compressed stream to the
// end of the package, or plain 280-byte records). Returns false with a
// message in `*error` for a name that is empty, longer than 259 bytes or has
// a NUL inside, or for a package that would not fit 32-bit sizes and offsets;
// `*out` is then untouched.
bool BuildPackage(const std::vector<PackInput>& entries, const PackOptions& options,
                  std::vector<uint8_t>* out, std::string* error);

// Longest entry name in bytes (the record's field is 260 with the terminator).
constexpr size_t kMaxEntryNameLength = 259;

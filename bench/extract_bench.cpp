// Extraction against the disk: ExtractPackageEntry writing a large entry
// (the corpus of bench_corpus.h five times over, about 210 MB) next to a
// plain write(2) of the same bytes to a file in the same folder, as the
// ratio of their times. Extraction makes sure the file is on the disk before
// it replaces the destination (fsync on this build, FlushFileBuffers on
// Windows), so the plain write that compares with it does the same: that is
// the speed of the disk. The plain write left in the page cache is printed
// too; it measures memory, not the disk. The entry is compressed and scrambled, as the
// updater's own library is; a second entry with the same bytes is stored as
// it is, neither compressed nor scrambled, and must be written straight from
// the package. The package is built with the package writer at its default
// level and lies in memory, as the resource would.
//
// Also prints the memory each extraction takes at its peak (resident set,
// with the high-water mark reset just before): for the compressed entry
// two windows of about 1 MiB, one of descrambled stream and one of content,
// since it is descrambled, expanded and written a window at a time; next
// to nothing for the stored one. "block MiB" is the largest block it asked
// of the allocator (the resident set may not grow when freed memory is
// reused). The last column gives stored plus content size, what holding the
// whole content and a descrambled copy would take. The package bytes
// themselves are not counted.
//
// Run: extract_bench [--folder DIR] [--passes N]. DIR (default: a new folder
// "extract_bench.out" in the current one) becomes drive C:; it is emptied
// and removed at the end.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "runtime/run_state.h"
#include "flow/records.h"
#include "package/entry_content.h"
#include "package/extract.h"
#include "package/package.h"
#include "package/scramble.h"
#include "packer/package_writer.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "sim/sim.h"

namespace {

constexpr int kRepeats = 5;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "extract_bench: %s\n", what.c_str());
  std::exit(1);
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t n = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
      return std::strtol(line.c_str() + n + 1, nullptr, 10);
  }
  return -1;
}

// Makes the resident set's high-water mark start again from the current size.
void ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The baseline: create the file, write the bytes with write(2), with
// `durable` fsync it, close it.
void PlainWrite(const std::string& path, const std::vector<uint8_t>& bytes, bool durable) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) Fail("cannot create " + path);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) Fail("write failed");
    done += static_cast<size_t>(n);
  }
  if (durable && ::fsync(fd) != 0) Fail("fsync failed");
  if (::close(fd) != 0) Fail("close failed");
}

bool FileEquals(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> read((std::istreambuf_iterator<char>(in)), {});
  return read == bytes;
}

struct Measured {
  double extractSeconds, plainSeconds, cachedSeconds;
  long peakKiB;  // above the resident set before the extraction
  u32 largestBlock;  // the largest block the extraction asked for
};

Measured Measure(const char* entry, const std::string& hostFolder, const std::vector<uint8_t>& content,
                 int passes) {
  const std::string windowsOut = std::string("C:\\") + entry;
  const std::string hostOut = hostFolder + "/" + entry;
  const std::string plainOut = hostFolder + "/plain.out";
  std::vector<double> extractTimes, plainTimes, cachedTimes;
  long peak = 0;
  u32 largest = 0;
  for (int pass = 0; pass < passes; ++pass) {
    // Both start from a missing file, one after the other.
    std::remove(hostOut.c_str());
    std::remove(plainOut.c_str());
    const long liveBefore = HostLiveAllocations();
    ResetPeak();
    const long rssBefore = StatusKiB("VmRSS");
    HostTakeLargestAllocation();
    auto start = std::chrono::steady_clock::now();
    if (ExtractPackageEntry(&UpdaterPackage, entry, windowsOut.c_str(), 0) != 1) Fail(std::string("extraction of ") + entry + " failed");
    extractTimes.push_back(Seconds(start));
    largest = std::max(largest, HostTakeLargestAllocation());
    peak = std::max(peak, StatusKiB("VmHWM") - rssBefore);
    if (HostLiveAllocations() != liveBefore) Fail("extraction left blocks allocated");
    if (pass == 0 && !FileEquals(hostOut, content)) Fail(std::string(entry) + ": the file differs from the content");

    start = std::chrono::steady_clock::now();
    PlainWrite(plainOut, content, true);
    plainTimes.push_back(Seconds(start));
    std::remove(plainOut.c_str());
    start = std::chrono::steady_clock::now();
    PlainWrite(plainOut, content, false);
    cachedTimes.push_back(Seconds(start));
    ::sync();  // its bytes reach the disk before the next pass is timed
  }
  std::remove(hostOut.c_str());
  std::remove(plainOut.c_str());
  return {Median(extractTimes), Median(plainTimes), Median(cachedTimes), peak, largest};
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder = "extract_bench.out";
  int passes = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--folder") == 0) folder = argv[i + 1];
    else if (std::strcmp(argv[i], "--passes") == 0) passes = std::max(1, std::atoi(argv[i + 1]));
    else Fail(std::string("unknown option ") + argv[i]);
  }
  namespace fs = std::filesystem;
  fs::create_directories(folder);
  const std::string hostFolder = fs::absolute(folder).string();

  ResolveDynamicApi();
  HostMapDrive('C', hostFolder.c_str());

  std::vector<uint8_t> content;
  {
    const std::vector<bench::RawBlock> corpus = bench::BuildRawCorpus();
    for (int r = 0; r < kRepeats; ++r)
      for (const bench::RawBlock& block : corpus) content.insert(content.end(), block.bytes.begin(), block.bytes.end());
  }

  std::vector<uint8_t> package;
  {
    auto start = std::chrono::steady_clock::now();
    std::vector<PackInput> entries(2);
    entries[0].name = "PACKED.DAT";
    entries[0].content = content;
    entries[0].compression = EntryCompression::kIfSmaller;
    entries[0].scramble = true;
    entries[1].name = "STORED.DAT";
    entries[1].content = content;
    entries[1].compression = EntryCompression::kNever;
    entries[1].scramble = false;
    std::string error;
    if (!BuildPackage(entries, PackOptions{}, &package, &error)) Fail(error);
    std::printf("package built in %.1f s: %zu bytes\n", Seconds(start), package.size());
  }
  UpdaterPackage.source = package.data();
  UpdaterPackage.size = static_cast<u32>(package.size());
  if (!OpenPackage(&UpdaterPackage)) Fail("the package does not open");
  u32 offset = 0;
  const PackageEntry* packed = FindPackageRecord(&UpdaterPackage, "PACKED.DAT", &offset);
  if (!packed || !(packed->flags & kEntryFlagCompressed) || packed->scrambled != kEntryScrambled)
    Fail("PACKED.DAT is not compressed and scrambled");

  std::printf("content: %zu bytes; PACKED.DAT stored as %u bytes (%.1f%%), compressed and scrambled; "
              "STORED.DAT as it is\n",
              content.size(), packed->storedSize,
              100.0 * packed->storedSize / static_cast<double>(content.size()));
  std::printf("drive C: = %s; median of %d passes, each extraction followed by the plain writes\n"
              "plain: write(2) and fsync, as extraction does; cached: write(2) into the page cache only\n\n",
              hostFolder.c_str(), passes);

  std::printf("%-11s %10s %7s %10s %7s %7s %10s %7s %9s %9s %14s\n", "entry", "extract s", "MB/s", "plain s",
              "MB/s", "ratio", "cached s", "ratio", "peak MiB", "block MiB", "stored+content");
  for (const char* name : {"PACKED.DAT", "STORED.DAT"}) {
    const PackageEntry* record = FindPackageRecord(&UpdaterPackage, name, &offset);
    const Measured m = Measure(name, hostFolder, content, passes);
    const double mb = static_cast<double>(content.size()) / 1e6;
    const bool copies = (record->flags & kEntryFlagCompressed) || record->scrambled == kEntryScrambled;
    const double expected = copies ? (static_cast<double>(record->storedSize) + content.size()) / 1048576.0 : 0.0;
    std::printf("%-11s %10.3f %7.0f %10.3f %7.0f %7.2f %10.3f %7.2f %9.1f %9.2f %14.1f\n", name,
                m.extractSeconds, mb / m.extractSeconds, m.plainSeconds, mb / m.plainSeconds,
                m.extractSeconds / m.plainSeconds, m.cachedSeconds, m.extractSeconds / m.cachedSeconds,
                m.peakKiB / 1024.0, m.largestBlock / 1048576.0, expected);
  }

  // Where the compressed entry's time goes: the content made a piece at a
  // time as extraction makes it (descrambled and expanded, nothing
  // written), and within that the descrambling alone.
  {
    packed = FindPackageRecord(&UpdaterPackage, "PACKED.DAT", &offset);
    std::vector<double> pieceTimes, descrambleTimes;
    std::vector<uint8_t> input(kStreamInputSize);
    for (int pass = 0; pass < passes; ++pass) {
      auto start = std::chrono::steady_clock::now();
      ContentPieces pieces;
      if (!OpenContentPieces(&UpdaterPackage, packed, offset, &pieces)) Fail("the entry does not open");
      uint64_t total = pieces.pieceLength;
      while (pieces.remaining) {
        if (!NextContentPiece(&pieces)) Fail("the entry does not expand");
        total += pieces.pieceLength;
      }
      CloseContentPieces(&pieces);
      pieceTimes.push_back(Seconds(start));
      if (total != content.size()) Fail("the pieces do not add up to the content");
      start = std::chrono::steady_clock::now();
      for (u32 at = 0; at < packed->storedSize; at += kStreamInputSize)
        DescrambleRange(input.data(), package.data() + offset + at, at, kStreamInputSize, packed->storedSize);
      descrambleTimes.push_back(Seconds(start));
    }
    const double mb = static_cast<double>(content.size()) / 1e6;
    std::printf("\nPACKED.DAT without the file (median s): every piece made %.3f (%.0f MB/s of content), "
                "of which descrambling %.3f\n",
                Median(pieceTimes), mb / Median(pieceTimes), Median(descrambleTimes));
  }

  ClosePackage(&UpdaterPackage);
  fs::remove_all(hostFolder);
  return 0;
}

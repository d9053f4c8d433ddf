// Patch entries: size, making speed and applying speed on four pairs of
// old and new files, next to xdelta3 -9, zstd --patch-from (-22 --long=31)
// and bsdiff run on the same pairs.
//
// The pairs are made deterministically from what a Debian machine has:
//   archive   about 200 MB: every regular file of /usr/share then /usr/lib in
//             sorted order, each behind a 64-byte header. 1% of the members
//             change (seed fixed): a third get a few short runs of bytes
//             replaced, a third are removed, and after a third a new member
//             (a file of /usr/include) is inserted, so later content shifts.
//   program   one generated C++ program of 1500 functions built twice with
//             g++ -O2, the second time with one function added near the
//             start and one constant changed: later code moves and the
//             calls into it change. --old-program/--new-program take two
//             files instead.
//   text      about 4 MB of licences, Perl modules and headers, with 300
//             scattered edits (lines inserted, runs deleted, words replaced).
//   unrelated two files of 8 MB of random bytes: nothing in common, and
//             nothing to compress.
// For the archive it also prints the patch as a share of the whole new
// file compressed with CompressBlock (kBest).
//
// Making is timed over MakePatch (kBest) from the files in memory; its
// memory is the peak resident set, reset just before. Applying is timed
// over FindPatchSource and ApplyPatch (both SHA-256 checks included),
// reading the old file from the page cache with pread and writing the
// result to a file, best of several passes; its memory is the applier's own
// block. Making is timed once: its figure varies with the machine's load.
//
// Run: patch_bench [--folder DIR] [--pairs archive,program,text,unrelated]
//                  [--old-program FILE --new-program FILE] [--no-tools] [--keep]
// DIR (default /tmp/patch_bench.out) is emptied and removed at the end,
// unless --keep leaves it with each pair as NAME.old and NAME.new.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "package/patch.h"
#include "packer/compress.h"
#include "packer/patch_maker.h"
#include "platform/memory.h"
#include "sim/sim.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

void Fail(const std::string& what) {
  std::fprintf(stderr, "patch_bench: %s\n", what.c_str());
  std::exit(1);
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path);
  return Bytes((std::istreambuf_iterator<char>(in)), {});
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
  if (!out) Fail("cannot write " + path);
}

std::vector<std::string> AllFiles(const char* root) {
  std::vector<std::string> files = bench::SortedFiles(root, false);
  std::vector<std::string> gz = bench::SortedFiles(root, true);
  files.insert(files.end(), gz.begin(), gz.end());
  std::sort(files.begin(), files.end());
  return files;
}

// At most `limit` bytes of a file, in a block of its own size.
Bytes ReadUpTo(const std::string& path, size_t limit) {
  std::error_code error;
  const uintmax_t size = fs::file_size(path, error);
  if (error) return Bytes();
  return bench::ReadPart(path, (size_t)std::min<uintmax_t>(size, limit));
}

void AddMember(Bytes& archive, const std::string& name, const Bytes& content) {
  char header[64] = {};
  std::snprintf(header, sizeof header, "%.44s %018zu", name.c_str(), content.size());
  archive.insert(archive.end(), header, header + sizeof header);
  archive.insert(archive.end(), content.begin(), content.end());
}

void MakeArchivePair(Bytes& old, Bytes& next) {
  constexpr size_t kTarget = 200u << 20;
  std::vector<std::pair<std::string, Bytes>> members;
  size_t total = 0;
  for (const char* root : {"/usr/share", "/usr/lib"}) {
    for (const std::string& path : AllFiles(root)) {
      if (total >= kTarget) break;
      Bytes content = ReadUpTo(path, std::min<size_t>(kTarget - total, 64u << 20));
      total += content.size() + 64;
      members.emplace_back(path, std::move(content));
    }
  }
  std::vector<std::string> fresh = AllFiles("/usr/include");
  std::mt19937 random(20261207);
  std::vector<size_t> order(members.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  std::vector<int> change(members.size(), -1);
  for (size_t i = 0; i < members.size() / 100; ++i) change[order[i]] = (int)(i % 3);
  size_t freshAt = 0;
  for (size_t i = 0; i < members.size(); ++i) {
    AddMember(old, members[i].first, members[i].second);
    Bytes content = members[i].second;
    if (change[i] == 1) continue;  // removed
    if (change[i] == 0 && !content.empty()) {
      for (int edits = 1 + (int)(random() % 4); edits; --edits) {
        const size_t at = random() % content.size();
        const size_t count = std::min<size_t>(1 + random() % 32, content.size() - at);
        for (size_t k = 0; k < count; ++k) content[at + k] = (uint8_t)random();
      }
    }
    AddMember(next, members[i].first, content);
    if (change[i] == 2 && freshAt < fresh.size()) {
      const std::string& path = fresh[freshAt++ * 7 % fresh.size()];
      AddMember(next, path, ReadUpTo(path, 1u << 20));
    }
  }
}

std::string ProgramSource(bool changed) {
  constexpr int kFunctions = 1500;
  std::mt19937 random(99);
  std::string source = "#include <cstdio>\n#include <cstdlib>\n#include <cstring>\n";
  auto name = [](int i) { return "f" + std::to_string(i); };
  for (int i = 0; i < kFunctions; ++i) {
    if (changed && i == 40)
      source +=
          "__attribute__((noinline)) int added(int x) { char b[32]; "
          "snprintf(b, sizeof b, \"added %d\", x); return (int)strlen(b) * x; }\n";
    int a = (int)(random() % 100) + 1;
    const int b = (int)(random() % 7) + 1, kind = (int)(random() % 4);
    const std::string callee = i ? name((int)(random() % (unsigned)i)) : std::string("abs");
    if (changed && i == kFunctions / 2) a += 3;
    source += "__attribute__((noinline)) int " + name(i) + "(int x) {";
    const std::string sa = std::to_string(a), sb = std::to_string(b);
    switch (kind) {
      case 0:
        source += "int s = 0; for (int k = 0; k < x % " + sa + " + 1; ++k) s += (k * " + sb +
                  ") ^ " + callee + "(k); return s; }\n";
        break;
      case 1:
        source += "switch (x & 7) { case 0: return x * " + sa + "; case 1: return " + callee +
                  "(x) + " + sb + "; case 2: return x - " + sa + "; case 3: return " + callee +
                  "(x >> 1); default: return x ^ " + sb + "; } }\n";
        break;
      case 2:
        source += "char b[64]; snprintf(b, sizeof b, \"value %d of " + name(i) +
                  "\", x); return (int)strlen(b) + " + sa + "; }\n";
        break;
      default:
        source += "return x > " + sa + " ? " + callee + "(x - " + sb + ") : x * " + sb + " + " +
                  sa + "; }\n";
    }
  }
  source += "int (*table[])(int) = {";
  for (int i = 0; i < kFunctions; ++i) source += name(i) + ",";
  if (changed) source += "added,";
  source +=
      "};\nint main(int argc, char**) { int s = 0; for (auto* f : table) s += f(argc); "
      "printf(\"%d\\n\", s); return 0; }\n";
  return source;
}

void MakeProgramPair(const std::string& folder, Bytes& old, Bytes& next) {
  for (int version = 0; version < 2; ++version) {
    const std::string source = folder + "/program" + std::to_string(version) + ".cpp";
    const std::string program = folder + "/program" + std::to_string(version);
    const std::string text = ProgramSource(version == 1);
    WriteFile(source, Bytes(text.begin(), text.end()));
    const std::string command = "nice -n 10 g++ -O2 -o " + program + " " + source;
    if (std::system(command.c_str()) != 0) Fail("cannot build " + source);
    (version ? next : old) = ReadFile(program);
  }
}

void MakeTextPair(Bytes& old, Bytes& next) {
  constexpr size_t kTarget = 4u << 20;
  for (const char* root : {"/usr/share/common-licenses", "/usr/share/perl5", "/usr/include"})
    for (const std::string& path : bench::SortedFiles(root, false)) {
      if (old.size() >= kTarget) break;
      const Bytes part = ReadUpTo(path, kTarget - old.size());
      old.insert(old.end(), part.begin(), part.end());
    }
  std::mt19937 random(42);
  std::vector<size_t> places(300);
  for (size_t& place : places) place = random() % old.size();
  std::sort(places.begin(), places.end());
  size_t from = 0;
  const char* words[] = {"update", "version", "patch", "window", "license", "value"};
  for (size_t i = 0; i < places.size(); ++i) {
    const size_t at = std::max(places[i], from);
    next.insert(next.end(), old.begin() + (long)from, old.begin() + (long)at);
    from = at;
    switch (i % 3) {
      case 0: {
        const std::string line = std::string("\n// ") + words[random() % 6] + " " +
                                 words[random() % 6] + " " + std::to_string(random() % 1000) + "\n";
        next.insert(next.end(), line.begin(), line.end());
        break;
      }
      case 1:
        from = std::min(old.size(), from + 1 + random() % 80);
        break;
      default: {
        const std::string word = words[random() % 6];
        next.insert(next.end(), word.begin(), word.end());
        from = std::min(old.size(), from + word.size() + random() % 3);
      }
    }
  }
  next.insert(next.end(), old.begin() + (long)from, old.end());
}

void MakeUnrelatedPair(Bytes& old, Bytes& next) {
  std::mt19937 random(1);
  old.resize(8u << 20);
  next.resize(8u << 20);
  for (uint8_t& b : old) b = (uint8_t)random();
  for (uint8_t& b : next) b = (uint8_t)random();
}

void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

size_t PeakMemory() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10) << 10;
  return 0;
}

int ReadAt(void* context, u32 offset, u8* to, u32 length) {
  const int fd = *(const int*)context;
  while (length) {
    const ssize_t got = pread(fd, to, length, offset);
    if (got <= 0) return 0;
    to += got;
    offset += (u32)got;
    length -= (u32)got;
  }
  return 1;
}

int WriteNext(void* context, const u8* bytes, u32 length) {
  const int fd = *(const int*)context;
  while (length) {
    const ssize_t put = write(fd, bytes, length);
    if (put <= 0) return 0;
    bytes += put;
    length -= (u32)put;
  }
  return 1;
}

struct Row {
  std::string name;
  size_t oldSize = 0, newSize = 0, ours = 0;
  size_t xdelta = 0, zstd = 0, bsdiff = 0;
  double makeSeconds = 0, applySeconds = 0;
  size_t makePeak = 0, makeBase = 0, applyBlock = 0;
  double xdeltaSeconds = 0, zstdSeconds = 0, bsdiffSeconds = 0;
  PatchMakeReport report;
};

// Runs a tool, returns the size of what it wrote and its time.
size_t RunTool(const std::string& command, const std::string& output, double* seconds) {
  const Clock::time_point start = Clock::now();
  if (std::system(("nice -n 10 " + command + " >/dev/null 2>&1").c_str()) != 0)
    Fail("failed: " + command);
  *seconds = Seconds(start);
  const size_t size = fs::file_size(output);
  fs::remove(output);
  return size;
}

Row Measure(const std::string& folder, const std::string& name, const Bytes& old, const Bytes& next,
            bool tools, bool keep) {
  Row row;
  row.name = name;
  row.oldSize = old.size();
  row.newSize = next.size();
  const std::string oldPath = folder + "/" + name + ".old", newPath = folder + "/" + name + ".new";
  WriteFile(oldPath, old);
  WriteFile(newPath, next);

  ResetPeakMemory();
  row.makeBase = PeakMemory();
  Clock::time_point start = Clock::now();
  const Bytes patch = MakePatch({{old.data(), old.size()}}, next.data(), next.size(),
                                CompressEffort::kBest, &row.report);
  row.makeSeconds = Seconds(start);
  row.makePeak = PeakMemory();
  row.ours = patch.size();

  // Applying, from the page cache: one unmeasured pass warms it.
  const std::string outPath = folder + "/" + name + ".out";
  // The best of several passes (at least three, and a second of them): the
  // machine is shared, and the first pass reads the old file into the cache.
  row.applySeconds = 1e9;
  const Clock::time_point passesStart = Clock::now();
  for (int pass = 0; pass < 3 || Seconds(passesStart) < 1.0; ++pass) {
    int oldFd = open(oldPath.c_str(), O_RDONLY);
    int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (oldFd < 0 || outFd < 0) Fail("cannot open the apply files");
    PatchFiles files{(u32)old.size(), ReadAt, &oldFd, WriteNext, &outFd, nullptr};
    HostTakeLargestAllocation();
    start = Clock::now();
    const int source = FindPatchSource(patch.data(), (u32)patch.size(), &files);
    const int applied =
        source == 0 && ApplyPatch(patch.data(), (u32)patch.size(), (u32)source, &files);
    row.applySeconds = std::min(row.applySeconds, Seconds(start));
    row.applyBlock = HostTakeLargestAllocation();
    close(oldFd);
    close(outFd);
    if (!applied) Fail("the patch of " + name + " did not apply");
  }
  if (ReadFile(outPath) != next) Fail("the patch of " + name + " gave a different file");
  fs::remove(outPath);

  if (tools) {
    const std::string out = folder + "/" + name + ".tool";
    row.xdelta = RunTool("xdelta3 -9 -e -f -s " + oldPath + " " + newPath + " " + out, out,
                         &row.xdeltaSeconds);
    row.zstd = RunTool(
        "zstd -q -f --patch-from=" + oldPath + " --ultra -22 --long=31 " + newPath + " -o " + out,
        out, &row.zstdSeconds);
    row.bsdiff = RunTool("bsdiff " + oldPath + " " + newPath + " " + out, out, &row.bsdiffSeconds);
  }
  if (!keep) {
    fs::remove(oldPath);
    fs::remove(newPath);
  }
  return row;
}

double MB(size_t bytes, double seconds) { return seconds > 0 ? bytes / seconds / 1e6 : 0; }

}  // namespace

int main(int argc, char** argv) {
  std::string folder = "/tmp/patch_bench.out", pairs = "archive,program,text,unrelated";
  std::string oldProgram, newProgram;
  bool tools = true, keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--folder" && hasValue)
      folder = argv[++i];
    else if (arg == "--pairs" && hasValue)
      pairs = argv[++i];
    else if (arg == "--old-program" && hasValue)
      oldProgram = argv[++i];
    else if (arg == "--new-program" && hasValue)
      newProgram = argv[++i];
    else if (arg == "--no-tools")
      tools = false;
    else if (arg == "--keep")
      keep = true;
    else
      Fail(
          "usage: patch_bench [--folder DIR] [--pairs LIST] [--old-program F --new-program F] "
          "[--no-tools] [--keep]");
  }
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::vector<Row> rows;
  size_t archiveCompressed = 0, archivePatch = 0;
  for (const std::string name : {"archive", "program", "text", "unrelated"}) {
    if (("," + pairs + ",").find("," + name + ",") == std::string::npos) continue;
    Bytes old, next;
    if (name == "archive")
      MakeArchivePair(old, next);
    else if (name == "program" && !oldProgram.empty())
      old = ReadFile(oldProgram), next = ReadFile(newProgram);
    else if (name == "program")
      MakeProgramPair(folder, old, next);
    else if (name == "text")
      MakeTextPair(old, next);
    else
      MakeUnrelatedPair(old, next);
    std::printf("%s: %zu -> %zu bytes\n", name.c_str(), old.size(), next.size());
    std::fflush(stdout);
    rows.push_back(Measure(folder, name, old, next, tools, keep));
    if (name == "archive") {
      archiveCompressed = CompressBlock(next.data(), next.size()).size();
      archivePatch = rows.back().ours;
    }
  }
  if (!keep) fs::remove_all(folder);

  std::printf("\n%-10s %11s %10s %10s %10s %10s  %6s %6s %6s\n", "pair", "new bytes", "ours",
              "xdelta3-9", "zstd-22", "bsdiff", "/xd", "/zstd", "/bsd");
  for (const Row& r : rows) {
    auto ratio = [&](size_t other) { return other ? (double)r.ours / (double)other : 0.0; };
    std::printf("%-10s %11zu %10zu %10zu %10zu %10zu  %6.3f %6.3f %6.3f\n", r.name.c_str(),
                r.newSize, r.ours, r.xdelta, r.zstd, r.bsdiff, ratio(r.xdelta), ratio(r.zstd),
                ratio(r.bsdiff));
  }
  std::printf("\n%-10s %9s %9s %9s %11s %11s   %s\n", "pair", "make MB/s", "peak MiB", "+make MiB",
              "apply MB/s", "block MiB", "changed/added/stream bytes, equal bytes");
  for (const Row& r : rows)
    std::printf("%-10s %9.1f %9.1f %9.1f %11.1f %11.2f   %zu/%zu/%zu %zu\n", r.name.c_str(),
                MB(r.newSize, r.makeSeconds), r.makePeak / 1048576.0,
                (r.makePeak - r.makeBase) / 1048576.0, MB(r.newSize, r.applySeconds),
                r.applyBlock / 1048576.0, r.report.changedBytes, r.report.addedBytes,
                r.report.stream, r.report.equalBytes);
  if (tools) {
    std::printf("\ntool seconds (xdelta3 / zstd / bsdiff):");
    for (const Row& r : rows)
      std::printf("  %s %.1f/%.1f/%.1f", r.name.c_str(), r.xdeltaSeconds, r.zstdSeconds,
                  r.bsdiffSeconds);
    std::printf("\n");
  }
  if (archiveCompressed)
    std::printf("archive: patch %zu bytes = %.2f%% of the new file compressed (%zu bytes)\n",
                archivePatch, 100.0 * (double)archivePatch / (double)archiveCompressed,
                archiveCompressed);
  return 0;
}

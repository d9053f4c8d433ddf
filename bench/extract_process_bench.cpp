// Whole-process extraction: `qk2 extract` of a package of the benchmark
// corpus (50 entries of about 1 MiB, packed at the best level and
// scrambled, as make-updater packs them) against a program that inflates
// the same blocks compressed by zlib at level 9 and writes each to a file of
// its own (this program, started again in its zlib mode). Both read their
// input from and write their output to /dev/shm (tmpfs), so the disk does
// not decide; qk2 also flushes each file and gives it its time stamp, as
// the updater does. Prints the median wall time of 7 runs of each, the
// ratio, and the peak resident memory of each process.
//
//   extract_process_bench [WORK_FOLDER]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "packer/package_writer.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "extract_process_bench: %s\n", what.c_str());
  std::exit(1);
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), (std::streamsize)bytes.size());
  if (!out) Fail("cannot write " + path.string());
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void PutU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back((uint8_t)(v >> (8 * i)));
}

uint32_t GetU32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

// The zlib side as a process: [content size, stream size, stream]... into
// one file per block.
int InflateMode(const char* input, const char* folder) {
  const std::vector<uint8_t> all = ReadFile(input);
  std::vector<uint8_t> content;
  size_t at = 0;
  for (int n = 0; at + 8 <= all.size(); ++n) {
    const uint32_t size = GetU32(&all[at]), stored = GetU32(&all[at + 4]);
    at += 8;
    content.resize(size);
    uLongf got = size;
    if (uncompress(content.data(), &got, &all[at], stored) != Z_OK || got != size) return 1;
    at += stored;
    FILE* out = std::fopen((std::string(folder) + "/" + std::to_string(n) + ".bin").c_str(), "wb");
    if (!out || std::fwrite(content.data(), 1, size, out) != size || std::fclose(out)) return 1;
  }
  return 0;
}

struct Run {
  double seconds;
  long peakKiB;
};

Run RunProcess(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen("/dev/null", "w", stdout)) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) Fail("cannot run " + args[0]);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail(args[0] + " failed");
  return Run{seconds, usage.ru_maxrss};
}

Run Median(std::vector<Run> runs) {
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
  Run m = runs[runs.size() / 2];
  for (const Run& r : runs) m.peakKiB = std::max(m.peakKiB, r.peakKiB);
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--inflate") == 0) return InflateMode(argv[2], argv[3]);
  const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::path("/dev/shm/extract_process_bench");
  fs::remove_all(work);
  fs::create_directories(work / "ours");
  fs::create_directories(work / "zlib");

  size_t entries = 0, total = 0, packageSize = 0, zlibSize = 0;
  // In a scope of its own: the corpus is released before the processes are
  // started, so that a forked child's peak memory is its own.
  {
  const std::vector<bench::RawBlock> blocks = bench::BuildRawCorpus();
  std::vector<PackInput> inputs;
  std::vector<uint8_t> zlibFile;
  for (size_t i = 0; i < blocks.size(); ++i) {
    PackInput input;
    input.name = "BLOCK" + std::to_string(i) + ".BIN";
    input.content = blocks[i].bytes;
    inputs.push_back(input);
    total += blocks[i].bytes.size();
    uLongf size = compressBound((uLong)blocks[i].bytes.size());
    std::vector<uint8_t> stream(size);
    if (compress2(stream.data(), &size, blocks[i].bytes.data(), (uLong)blocks[i].bytes.size(), 9) !=
        Z_OK)
      Fail("zlib compression failed");
    PutU32(&zlibFile, (uint32_t)blocks[i].bytes.size());
    PutU32(&zlibFile, (uint32_t)size);
    zlibFile.insert(zlibFile.end(), stream.begin(), stream.begin() + (long)size);
  }
  std::vector<uint8_t> package;
  std::string error;
  if (!BuildPackage(inputs, PackOptions(), &package, &error)) Fail(error);
  WriteFile(work / "corpus.pkg", package);
  WriteFile(work / "corpus.zlib", zlibFile);
  entries = blocks.size();
  packageSize = package.size();
  zlibSize = zlibFile.size();
  }

  const std::string self = fs::read_symlink("/proc/self/exe").string();
  std::vector<Run> ours, zlib;
  for (int i = 0; i < 7; ++i) {
    ours.push_back(RunProcess({QK2_TOOL, "extract", (work / "corpus.pkg").string(), "-C",
                               (work / "ours").string()}));
    zlib.push_back(RunProcess({self, "--inflate", (work / "corpus.zlib").string(),
                               (work / "zlib").string()}));
  }
  const Run o = Median(ours), z = Median(zlib);
  std::printf("corpus: %zu entries, %.1f MB; package %.1f MB, zlib -9 %.1f MB\n", entries,
              total / 1e6, packageSize / 1e6, zlibSize / 1e6);
  std::printf("qk2 extract (whole process):  %.3f s  %6.1f MB/s  peak RSS %.1f MiB\n", o.seconds,
              total / 1e6 / o.seconds, o.peakKiB / 1024.0);
  std::printf("zlib inflate (whole process): %.3f s  %6.1f MB/s  peak RSS %.1f MiB\n", z.seconds,
              total / 1e6 / z.seconds, z.peakKiB / 1024.0);
  std::printf("ours / zlib: %.2fx\n", z.seconds / o.seconds);
  fs::remove_all(work);
  return 0;
}

// Decoding speed of the package stream format next to zlib's inflate and
// LZ4's safe decoder, on one corpus compressed three ways.
//
// The corpus (about 40 MiB) is taken deterministically from files a Debian
// machine carries, in sorted path order, each file limited to its first MiB:
//   programs     /usr/bin                                        16 MiB
//   text         /usr/share/common-licenses, /usr/share/doc (not .gz),
//                then /usr/share/perl5 and /usr/include if short   16 MiB
//   compressed   .gz files of /usr/share/doc and /usr/share/man   8 MiB
// Whole files are concatenated into blocks of about 1 MiB, the size of a
// package entry; every block is compressed on its own by our encoder, by
// zlib at level 9 and by LZ4 HC at its highest level.
//
// Run: decode_bench [--benchmark_repetitions=N ...]. After Google
// Benchmark's own table it prints MB/s of each decoder per category, the
// speed ratios ours/zlib and ours/lz4, and the compressed sizes.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "package/decompress.h"
#include "packer/compress.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kBlockSize = kMiB;
constexpr size_t kFilePart = kMiB;

struct Category {
  const char* name;
  std::vector<const char*> roots;
  bool compressedFiles;  // only .gz files, or only files that are not .gz
  size_t quota;
};

const std::vector<Category>& Categories() {
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

struct Block {
  size_t category;
  std::vector<uint8_t> original;
  std::vector<uint8_t> ours;
  std::vector<uint8_t> zlib;
  std::vector<uint8_t> lz4;
};

struct Corpus {
  std::vector<Block> blocks;
};

std::vector<std::string> SortedFiles(const char* root, bool compressedFiles) {
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

std::vector<uint8_t> ReadPart(const std::string& path, size_t limit) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes(limit);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(limit));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

void Fail(const char* what) {
  std::fprintf(stderr, "decode_bench: %s\n", what);
  std::exit(1);
}

void CompressBlockThreeWays(Block& block) {
  const std::vector<uint8_t>& in = block.original;
  block.ours = CompressBlock(in.data(), in.size());

  uLongf zlibSize = compressBound(static_cast<uLong>(in.size()));
  block.zlib.resize(zlibSize);
  if (compress2(block.zlib.data(), &zlibSize, in.data(), static_cast<uLong>(in.size()), 9) != Z_OK)
    Fail("zlib compression failed");
  block.zlib.resize(zlibSize);

  block.lz4.resize(static_cast<size_t>(LZ4_compressBound(static_cast<int>(in.size()))));
  const int lz4Size = LZ4_compress_HC(reinterpret_cast<const char*>(in.data()),
                                      reinterpret_cast<char*>(block.lz4.data()),
                                      static_cast<int>(in.size()),
                                      static_cast<int>(block.lz4.size()), LZ4HC_CLEVEL_MAX);
  if (lz4Size <= 0) Fail("lz4 compression failed");
  block.lz4.resize(static_cast<size_t>(lz4Size));

  // Every decoder must give the block back before it is timed.
  std::vector<uint8_t> out(in.size() + 1);
  u32 written = 0, consumed = 0;
  if (!DecompressBlock(out.data(), static_cast<u32>(in.size()), block.ours.data(),
                       static_cast<u32>(block.ours.size()), &written, &consumed) ||
      written != in.size() || consumed != block.ours.size() ||
      std::memcmp(out.data(), in.data(), in.size()) != 0)
    Fail("our stream does not decode to its block");
  uLongf outSize = static_cast<uLongf>(in.size());
  if (uncompress(out.data(), &outSize, block.zlib.data(), static_cast<uLong>(block.zlib.size())) !=
          Z_OK ||
      outSize != in.size() || std::memcmp(out.data(), in.data(), in.size()) != 0)
    Fail("zlib stream does not decode to its block");
  if (LZ4_decompress_safe(reinterpret_cast<const char*>(block.lz4.data()),
                          reinterpret_cast<char*>(out.data()), static_cast<int>(block.lz4.size()),
                          static_cast<int>(in.size())) != static_cast<int>(in.size()) ||
      std::memcmp(out.data(), in.data(), in.size()) != 0)
    Fail("lz4 stream does not decode to its block");
}

Corpus BuildCorpus() {
  Corpus corpus;
  const std::vector<Category>& categories = Categories();
  for (size_t c = 0; c < categories.size(); ++c) {
    const Category& category = categories[c];
    size_t taken = 0;
    Block block{c, {}, {}, {}, {}};
    auto close = [&]() {
      if (!block.original.empty()) corpus.blocks.push_back(std::move(block));
      block = Block{c, {}, {}, {}, {}};
    };
    for (const char* root : category.roots) {
      for (const std::string& path : SortedFiles(root, category.compressedFiles)) {
        if (taken >= category.quota) break;
        std::vector<uint8_t> part = ReadPart(path, std::min(kFilePart, category.quota - taken));
        if (part.empty()) continue;
        if (block.original.size() + part.size() > kBlockSize) close();
        block.original.insert(block.original.end(), part.begin(), part.end());
        taken += part.size();
      }
    }
    close();
  }
  if (corpus.blocks.empty()) Fail("no corpus files found");
  for (Block& block : corpus.blocks) CompressBlockThreeWays(block);
  return corpus;
}

const Corpus& GetCorpus() {
  static const Corpus corpus = BuildCorpus();
  return corpus;
}

// Argument 0 selects every block, 1..3 the blocks of one category.
bool Selected(const Block& block, int64_t selection) {
  return selection == 0 || static_cast<int64_t>(block.category) + 1 == selection;
}

size_t SelectedBytes(int64_t selection) {
  size_t total = 0;
  for (const Block& block : GetCorpus().blocks)
    if (Selected(block, selection)) total += block.original.size();
  return total;
}

void BM_Ours(benchmark::State& state) {
  const Corpus& corpus = GetCorpus();
  std::vector<uint8_t> out(kBlockSize);
  for (auto _ : state) {
    for (const Block& block : corpus.blocks) {
      if (!Selected(block, state.range(0))) continue;
      u32 written = 0;
      if (!DecompressBlock(out.data(), static_cast<u32>(block.original.size()), block.ours.data(),
                           static_cast<u32>(block.ours.size()), &written, nullptr) ||
          written != block.original.size()) {
        state.SkipWithError("decode failed");
        return;
      }
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(SelectedBytes(state.range(0))));
}

void BM_Zlib(benchmark::State& state) {
  const Corpus& corpus = GetCorpus();
  std::vector<uint8_t> out(kBlockSize);
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) {
    state.SkipWithError("inflateInit failed");
    return;
  }
  for (auto _ : state) {
    for (const Block& block : corpus.blocks) {
      if (!Selected(block, state.range(0))) continue;
      inflateReset(&stream);
      stream.next_in = const_cast<Bytef*>(block.zlib.data());
      stream.avail_in = static_cast<uInt>(block.zlib.size());
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(block.original.size());
      if (inflate(&stream, Z_FINISH) != Z_STREAM_END) {
        state.SkipWithError("inflate failed");
        inflateEnd(&stream);
        return;
      }
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  inflateEnd(&stream);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(SelectedBytes(state.range(0))));
}

void BM_Lz4(benchmark::State& state) {
  const Corpus& corpus = GetCorpus();
  std::vector<uint8_t> out(kBlockSize);
  for (auto _ : state) {
    for (const Block& block : corpus.blocks) {
      if (!Selected(block, state.range(0))) continue;
      const int n = LZ4_decompress_safe(reinterpret_cast<const char*>(block.lz4.data()),
                                        reinterpret_cast<char*>(out.data()),
                                        static_cast<int>(block.lz4.size()),
                                        static_cast<int>(block.original.size()));
      if (n != static_cast<int>(block.original.size())) {
        state.SkipWithError("lz4 decode failed");
        return;
      }
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(SelectedBytes(state.range(0))));
}

BENCHMARK(BM_Ours)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Zlib)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Lz4)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Keeps bytes per second of every benchmark (the median when repeated).
class SpeedRecorder : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    benchmark::ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const auto found = run.counters.find("bytes_per_second");
      if (found == run.counters.end()) continue;
      const std::string name = run.run_name.function_name + "/" + run.run_name.args;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (median || (run.run_type == Run::RT_Iteration && !medians_.count(name))) {
        speeds_[name] = found->second.value;
        if (median) medians_[name] = true;
      }
    }
  }
  double Speed(const std::string& name) const {
    const auto found = speeds_.find(name);
    return found == speeds_.end() ? 0.0 : found->second / 1e6;
  }

 private:
  std::map<std::string, double> speeds_;
  std::map<std::string, bool> medians_;
};

void PrintSummary(const SpeedRecorder& recorder) {
  const Corpus& corpus = GetCorpus();
  const std::vector<Category>& categories = Categories();
  std::printf("\nDecoding speed, MB/s (1 MB = 10^6 bytes of output)\n");
  std::printf("%-12s %9s %9s %9s %10s %10s\n", "blocks", "ours", "zlib", "lz4", "ours/zlib",
              "ours/lz4");
  for (int selection = 0; selection <= static_cast<int>(categories.size()); ++selection) {
    const std::string arg = "/" + std::to_string(selection);
    const double ours = recorder.Speed("BM_Ours" + arg);
    const double zlib = recorder.Speed("BM_Zlib" + arg);
    const double lz4 = recorder.Speed("BM_Lz4" + arg);
    if (ours == 0.0 && zlib == 0.0 && lz4 == 0.0) continue;
    std::printf("%-12s %9.0f %9.0f %9.0f %10.2f %10.2f\n",
                selection == 0 ? "all" : categories[static_cast<size_t>(selection - 1)].name, ours,
                zlib, lz4, zlib > 0 ? ours / zlib : 0.0, lz4 > 0 ? ours / lz4 : 0.0);
  }

  std::printf("\nCompressed sizes, bytes (percent of the original)\n");
  std::printf("%-12s %7s %10s %20s %20s %20s\n", "blocks", "count", "original", "ours", "zlib -9",
              "lz4hc max");
  for (size_t selection = 0; selection <= categories.size(); ++selection) {
    size_t count = 0, original = 0, ours = 0, zlib = 0, lz4 = 0;
    for (const Block& block : corpus.blocks) {
      if (!Selected(block, static_cast<int64_t>(selection))) continue;
      ++count;
      original += block.original.size();
      ours += block.ours.size();
      zlib += block.zlib.size();
      lz4 += block.lz4.size();
    }
    if (count == 0) continue;
    auto percent = [original](size_t n) { return 100.0 * static_cast<double>(n) / static_cast<double>(original); };
    std::printf("%-12s %7zu %10zu %12zu (%5.1f%%) %12zu (%5.1f%%) %12zu (%5.1f%%)\n",
                selection == 0 ? "all" : categories[selection - 1].name, count, original, ours,
                percent(ours), zlib, percent(zlib), lz4, percent(lz4));
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const Corpus& corpus = GetCorpus();
  size_t total = 0;
  for (const Block& block : corpus.blocks) total += block.original.size();
  std::printf("corpus: %zu blocks, %zu bytes\n", corpus.blocks.size(), total);
  SpeedRecorder recorder;
  benchmark::RunSpecifiedBenchmarks(&recorder);
  PrintSummary(recorder);
  benchmark::Shutdown();
  return 0;
}

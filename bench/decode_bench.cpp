// Decoding speed of the package stream format next to zlib's inflate and
// LZ4's safe decoder, on the corpus of bench_corpus.h (about 40 MiB in
// blocks of about 1 MiB, the size of a package entry) compressed three ways:
// by our encoder at its default level, by zlib at level 9 and by LZ4 HC at
// its highest level.
//
// Run: decode_bench [--benchmark_repetitions=N ...]. After Google
// Benchmark's own table it prints MB/s of each decoder per category, the
// speed ratios ours/zlib and ours/lz4, and the compressed sizes. A second
// figure for ours counts blocks as the package writer stores them: a block
// whose stream does not shrink it is kept as it is, and extraction copies
// it instead of expanding it (here: one memcpy).
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "package/decompress.h"
#include "packer/compress.h"

namespace {

using bench::kBlockSize;

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
  for (bench::RawBlock& raw : bench::BuildRawCorpus())
    corpus.blocks.push_back(Block{raw.category, std::move(raw.bytes), {}, {}, {}});
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

// Our stream of `block` into `out`; false unless it gives the whole block.
bool DecodeOurs(const Block& block, uint8_t* out) {
  u32 written = 0;
  return DecompressBlock(out, static_cast<u32>(block.original.size()), block.ours.data(),
                         static_cast<u32>(block.ours.size()), &written, nullptr) &&
         written == block.original.size();
}

void BM_Ours(benchmark::State& state) {
  const Corpus& corpus = GetCorpus();
  std::vector<uint8_t> out(kBlockSize);
  for (auto _ : state) {
    for (const Block& block : corpus.blocks) {
      if (!Selected(block, state.range(0))) continue;
      if (!DecodeOurs(block, out.data())) {
        state.SkipWithError("decode failed");
        return;
      }
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(SelectedBytes(state.range(0))));
}

// As the package stores the blocks: a stream that does not shrink its block
// is not used, and the stored bytes are copied instead.
void BM_OursStored(benchmark::State& state) {
  const Corpus& corpus = GetCorpus();
  std::vector<uint8_t> out(kBlockSize);
  for (auto _ : state) {
    for (const Block& block : corpus.blocks) {
      if (!Selected(block, state.range(0))) continue;
      if (!CompressionPays(block.ours.size(), block.original.size())) {
        std::memcpy(out.data(), block.original.data(), block.original.size());
        continue;
      }
      if (!DecodeOurs(block, out.data())) {
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
BENCHMARK(BM_OursStored)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Zlib)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_Lz4)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Keeps bytes per second of every benchmark (the median when repeated).
class SpeedRecorder : public benchmark::ConsoleReporter {
 public:
  SpeedRecorder() : benchmark::ConsoleReporter(OO_Tabular) {}
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

// Seconds for one pass of `decode` over every block, as the median of
// `passes` passes taken in turn with the other decoders, so that a change of
// load on the machine weighs on all of them alike.
std::vector<double> InterleavedSeconds(int passes) {
  const Corpus& corpus = GetCorpus();
  std::vector<uint8_t> out(kBlockSize);
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) Fail("inflateInit failed");
  std::vector<std::vector<double>> times(2);
  for (int pass = 0; pass < passes; ++pass) {
    for (int decoder = 0; decoder < 2; ++decoder) {
      const auto start = std::chrono::steady_clock::now();
      for (const Block& block : corpus.blocks) {
        if (decoder == 0) {
          u32 written = 0;
          if (!DecompressBlock(out.data(), static_cast<u32>(block.original.size()),
                               block.ours.data(), static_cast<u32>(block.ours.size()), &written,
                               nullptr))
            Fail("decode failed");
        } else {
          inflateReset(&stream);
          stream.next_in = const_cast<Bytef*>(block.zlib.data());
          stream.avail_in = static_cast<uInt>(block.zlib.size());
          stream.next_out = out.data();
          stream.avail_out = static_cast<uInt>(block.original.size());
          if (inflate(&stream, Z_FINISH) != Z_STREAM_END) Fail("inflate failed");
        }
      }
      benchmark::DoNotOptimize(out.data());
      times[static_cast<size_t>(decoder)].push_back(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
  }
  inflateEnd(&stream);
  std::vector<double> medians;
  for (std::vector<double>& t : times) {
    std::sort(t.begin(), t.end());
    medians.push_back(t[t.size() / 2]);
  }
  return medians;
}

void PrintSummary(const SpeedRecorder& recorder) {
  const Corpus& corpus = GetCorpus();
  const std::vector<bench::Category>& categories = bench::Categories();
  std::printf("\nDecoding speed, MB/s (1 MB = 10^6 bytes of output); \"stored\": blocks as the\n"
              "package keeps them, copied when our stream does not shrink them\n");
  std::printf("%-12s %9s %9s %9s %9s %10s %12s %10s\n", "blocks", "ours", "stored", "zlib", "lz4",
              "ours/zlib", "stored/zlib", "ours/lz4");
  for (int selection = 0; selection <= static_cast<int>(categories.size()); ++selection) {
    const std::string arg = "/" + std::to_string(selection);
    const double ours = recorder.Speed("BM_Ours" + arg);
    const double stored = recorder.Speed("BM_OursStored" + arg);
    const double zlib = recorder.Speed("BM_Zlib" + arg);
    const double lz4 = recorder.Speed("BM_Lz4" + arg);
    if (ours == 0.0 && zlib == 0.0 && lz4 == 0.0) continue;
    std::printf("%-12s %9.0f %9.0f %9.0f %9.0f %10.2f %12.2f %10.2f\n",
                selection == 0 ? "all" : categories[static_cast<size_t>(selection - 1)].name, ours,
                stored, zlib, lz4, zlib > 0 ? ours / zlib : 0.0, zlib > 0 ? stored / zlib : 0.0,
                lz4 > 0 ? ours / lz4 : 0.0);
  }
  constexpr int kPasses = 15;
  const std::vector<double> seconds = InterleavedSeconds(kPasses);
  size_t total = 0;
  for (const Block& block : corpus.blocks) total += block.original.size();
  std::printf("interleaved, all blocks, median of %d passes: ours %.0f MB/s, zlib %.0f MB/s, "
              "ours/zlib %.2f\n",
              kPasses, static_cast<double>(total) / seconds[0] / 1e6,
              static_cast<double>(total) / seconds[1] / 1e6, seconds[1] / seconds[0]);

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

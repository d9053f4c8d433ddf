// Compression speed and size of our encoder's levels next to LZ4 HC at its
// highest level (LZ4HC_CLEVEL_MAX, "-12"), block by block on the corpus of
// bench_corpus.h. Each level's every stream is checked to decode back to its
// block after it has been timed.
//
// Run: encode_bench [--benchmark_repetitions=N ...]. After Google
// Benchmark's own table it prints MB/s of each encoder per category and over
// the whole corpus (total bytes over total time; medians when repeated),
// the speed ratios, and the compressed sizes, also counted as the package
// writer stores them (a block whose stream does not shrink it stays as it is).
#include <benchmark/benchmark.h>
#include <lz4hc.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_corpus.h"
#include "package/decompress.h"
#include "packer/compress.h"

namespace {

enum Coder { kOursFast, kOursNormal, kOursBest, kLz4hcMax, kLz4hcWindow, kCoderCount };
const char* const kCoderNames[kCoderCount] = {"ours -1 (lazy)", "ours normal", "ours best",
                                              "lz4hc -12", "lz4hc -12 8K"};

// The "8K" variant gives LZ4 HC a window close to ours: the block goes in
// 4 KiB pieces, each of which may refer only to itself and the 8 KiB before
// it (so 8 to 12 KiB back, where ours reaches 8 KiB).
constexpr size_t kWindowPiece = 4096;
constexpr int kWindowDictionary = 8192;

const std::vector<bench::RawBlock>& Corpus() {
  static const std::vector<bench::RawBlock> blocks = bench::BuildRawCorpus();
  return blocks;
}

struct Sizes {
  size_t original = 0, compressed = 0, stored = 0;  // stored: the smaller of the two per block
};
// By coder and category.
std::map<std::pair<int, size_t>, Sizes> gSizes;

void Fail(const char* what) {
  std::fprintf(stderr, "encode_bench: %s\n", what);
  std::exit(1);
}

// Pieces one after the other, each preceded by its compressed size (4 bytes,
// counted in the size: LZ4 blocks do not end themselves).
std::vector<uint8_t> EncodeLz4Window(const std::vector<uint8_t>& in) {
  LZ4_streamHC_t* stream = LZ4_createStreamHC();
  LZ4_resetStreamHC_fast(stream, LZ4HC_CLEVEL_MAX);
  std::vector<char> dictionary(kWindowDictionary);
  std::vector<uint8_t> out;
  std::vector<char> piece(static_cast<size_t>(LZ4_compressBound(static_cast<int>(kWindowPiece))));
  for (size_t at = 0; at < in.size(); at += kWindowPiece) {
    const int length = static_cast<int>(std::min(kWindowPiece, in.size() - at));
    const int n = LZ4_compress_HC_continue(stream, reinterpret_cast<const char*>(in.data() + at), piece.data(),
                                           length, static_cast<int>(piece.size()));
    if (n <= 0) Fail("lz4 compression failed");
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(n) >> (8 * k)));
    out.insert(out.end(), piece.begin(), piece.begin() + n);
    LZ4_saveDictHC(stream, dictionary.data(), kWindowDictionary);
  }
  LZ4_freeStreamHC(stream);
  return out;
}

bool DecodesLz4Window(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out(in.size());
  size_t ip = 0;
  for (size_t at = 0; at < in.size(); at += kWindowPiece) {
    if (ip + 4 > stream.size()) return false;
    const int n = static_cast<int>(stream[ip] | (stream[ip + 1] << 8) | (stream[ip + 2] << 16) |
                                   (uint32_t{stream[ip + 3]} << 24));
    ip += 4;
    const int length = static_cast<int>(std::min(kWindowPiece, in.size() - at));
    const size_t dictionary = std::min<size_t>(at, kWindowDictionary);
    if (LZ4_decompress_safe_usingDict(reinterpret_cast<const char*>(stream.data() + ip),
                                      reinterpret_cast<char*>(out.data() + at), n, length,
                                      reinterpret_cast<const char*>(out.data() + at - dictionary),
                                      static_cast<int>(dictionary)) != length)
      return false;
    ip += static_cast<size_t>(n);
  }
  return ip == stream.size() && out == in;
}

std::vector<uint8_t> Encode(int coder, const std::vector<uint8_t>& in) {
  switch (coder) {
    case kOursFast:
      return CompressBlock(in.data(), in.size(), CompressEffort::kFast);
    case kOursNormal:
      return CompressBlock(in.data(), in.size(), CompressEffort::kNormal);
    case kOursBest:
      return CompressBlock(in.data(), in.size(), CompressEffort::kBest);
    case kLz4hcWindow:
      return EncodeLz4Window(in);
    default:
      break;
  }
  std::vector<uint8_t> out(static_cast<size_t>(LZ4_compressBound(static_cast<int>(in.size()))));
  const int n = LZ4_compress_HC(reinterpret_cast<const char*>(in.data()),
                                reinterpret_cast<char*>(out.data()), static_cast<int>(in.size()),
                                static_cast<int>(out.size()), LZ4HC_CLEVEL_MAX);
  if (n <= 0) Fail("lz4 compression failed");
  out.resize(static_cast<size_t>(n));
  return out;
}

void CheckDecodes(int coder, const std::vector<uint8_t>& in, const std::vector<uint8_t>& stream) {
  if (coder == kLz4hcWindow) {
    if (!DecodesLz4Window(stream, in)) Fail("lz4 pieces do not decode to their block");
    return;
  }
  std::vector<uint8_t> out(in.size());
  if (coder == kLz4hcMax) {
    if (LZ4_decompress_safe(reinterpret_cast<const char*>(stream.data()),
                            reinterpret_cast<char*>(out.data()), static_cast<int>(stream.size()),
                            static_cast<int>(in.size())) != static_cast<int>(in.size()) ||
        out != in)
      Fail("lz4 stream does not decode to its block");
    return;
  }
  u32 written = 0, consumed = 0;
  if (!DecompressBlock(out.data(), static_cast<u32>(in.size()), stream.data(),
                       static_cast<u32>(stream.size()), &written, &consumed) ||
      written != in.size() || consumed != stream.size() || out != in)
    Fail("our stream does not decode to its block");
}

// Arguments: coder, category (0-based).
void BM_Encode(benchmark::State& state) {
  const int coder = static_cast<int>(state.range(0));
  const size_t category = static_cast<size_t>(state.range(1));
  std::vector<std::vector<uint8_t>> streams;
  size_t bytes = 0;
  for (auto _ : state) {
    streams.clear();
    bytes = 0;
    for (const bench::RawBlock& block : Corpus()) {
      if (block.category != category) continue;
      streams.push_back(Encode(coder, block.bytes));
      bytes += block.bytes.size();
    }
    benchmark::DoNotOptimize(streams.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
  Sizes sizes;
  size_t k = 0;
  for (const bench::RawBlock& block : Corpus()) {
    if (block.category != category) continue;
    CheckDecodes(coder, block.bytes, streams[k]);
    sizes.original += block.bytes.size();
    sizes.compressed += streams[k].size();
    sizes.stored += std::min(streams[k].size(), block.bytes.size());
    ++k;
  }
  gSizes[{coder, category}] = sizes;
}

BENCHMARK(BM_Encode)
    ->ArgsProduct({{kOursFast, kOursNormal, kOursBest, kLz4hcMax, kLz4hcWindow}, {0, 1, 2}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Seconds per run of every benchmark (the median when repeated).
class TimeRecorder : public benchmark::ConsoleReporter {
 public:
  TimeRecorder() : benchmark::ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    benchmark::ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const std::string name = run.run_name.function_name + "/" + run.run_name.args;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (median || (run.run_type == Run::RT_Iteration && !medians_.count(name))) {
        seconds_[name] = run.GetAdjustedCPUTime() /
                         benchmark::GetTimeUnitMultiplier(run.time_unit);
        if (median) medians_[name] = true;
      }
    }
  }
  double Seconds(int coder, size_t category) const {
    const auto found = seconds_.find("BM_Encode/" + std::to_string(coder) + "/" + std::to_string(category));
    return found == seconds_.end() ? 0.0 : found->second;
  }

 private:
  std::map<std::string, double> seconds_;
  std::map<std::string, bool> medians_;
};

void PrintSummary(const TimeRecorder& recorder) {
  const std::vector<bench::Category>& categories = bench::Categories();
  const size_t all = categories.size();
  auto name = [&](size_t c) { return c == all ? "all" : categories[c].name; };
  auto seconds = [&](int coder, size_t c) {
    if (c != all) return recorder.Seconds(coder, c);
    double total = 0;
    for (size_t k = 0; k < all; ++k) total += recorder.Seconds(coder, k);
    return total;
  };
  auto sizes = [&](int coder, size_t c) {
    Sizes s;
    for (size_t k = 0; k < all; ++k) {
      if (c != all && k != c) continue;
      const Sizes& one = gSizes[{coder, k}];
      s.original += one.original;
      s.compressed += one.compressed;
      s.stored += one.stored;
    }
    return s;
  };
  auto speed = [&](int coder, size_t c) {
    const double t = seconds(coder, c);
    return t > 0 ? static_cast<double>(sizes(coder, c).original) / t / 1e6 : 0.0;
  };

  std::printf("\nCompression speed, MB/s of input (CPU time; 1 MB = 10^6 bytes)\n");
  std::printf("%-12s", "blocks");
  for (int coder = 0; coder < kCoderCount; ++coder) std::printf(" %15s", kCoderNames[coder]);
  std::printf(" %12s %12s\n", "best/lz4hc", "lazy/best");
  for (size_t c = 0; c <= all; ++c) {
    std::printf("%-12s", name(c));
    for (int coder = 0; coder < kCoderCount; ++coder) std::printf(" %15.2f", speed(coder, c));
    const double best = speed(kOursBest, c), lz4 = speed(kLz4hcMax, c), lazy = speed(kOursFast, c);
    std::printf(" %12.2f %12.2f\n", lz4 > 0 ? best / lz4 : 0.0, best > 0 ? lazy / best : 0.0);
  }

  std::printf("\nCompressed sizes, bytes (percent of the original)\n");
  std::printf("%-12s %10s", "blocks", "original");
  for (int coder = 0; coder < kCoderCount; ++coder) std::printf(" %22s", kCoderNames[coder]);
  std::printf("\n");
  for (int storedForm = 0; storedForm < 2; ++storedForm) {
    std::printf(storedForm ? "as stored (a stream that does not shrink its block is not used):\n"
                           : "streams:\n");
    for (size_t c = 0; c <= all; ++c) {
      const size_t original = sizes(kOursBest, c).original;
      if (original == 0) continue;
      std::printf("%-12s %10zu", name(c), original);
      for (int coder = 0; coder < kCoderCount; ++coder) {
        const Sizes s = sizes(coder, c);
        const size_t n = storedForm ? s.stored : s.compressed;
        std::printf(" %13zu (%5.1f%%)", n, 100.0 * static_cast<double>(n) / static_cast<double>(original));
      }
      std::printf("\n");
    }
  }
  const Sizes best = sizes(kOursBest, all), lz4 = sizes(kLz4hcMax, all), lz4Window = sizes(kLz4hcWindow, all);
  std::printf("\nours best / lz4hc -12, size: streams %.4f, as stored %.4f; speed %.2fx\n",
              static_cast<double>(best.compressed) / static_cast<double>(lz4.compressed),
              static_cast<double>(best.stored) / static_cast<double>(lz4.stored),
              speed(kLz4hcMax, all) > 0 ? speed(kOursBest, all) / speed(kLz4hcMax, all) : 0.0);
  std::printf("ours best / lz4hc -12 8K (a window like ours), size: streams %.4f, as stored %.4f\n",
              static_cast<double>(best.compressed) / static_cast<double>(lz4Window.compressed),
              static_cast<double>(best.stored) / static_cast<double>(lz4Window.stored));
  std::printf("ours -1 (lazy) speed / ours best speed: %.2fx\n",
              speed(kOursBest, all) > 0 ? speed(kOursFast, all) / speed(kOursBest, all) : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  size_t total = 0;
  for (const bench::RawBlock& block : Corpus()) total += block.bytes.size();
  std::printf("corpus: %zu blocks, %zu bytes\n", Corpus().size(), total);
  TimeRecorder recorder;
  benchmark::RunSpecifiedBenchmarks(&recorder);
  PrintSummary(recorder);
  benchmark::Shutdown();
  return 0;
}

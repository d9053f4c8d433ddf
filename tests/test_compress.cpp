// CompressBlock: round trips through DecompressBlock over many sizes and
// kinds of data, the exact streams of the worked examples, the form chosen
// at each reach, and CompressionPays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "package/decompress.h"
#include "packer/compress.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The stream must give back `input` into exactly its size, consume exactly
// its own bytes, leave the canary after the buffer, and not fit one byte less.
void ExpectRoundTrip(const Bytes& input, CompressEffort effort) {
  const Bytes stream = CompressBlock(input.data(), input.size(), effort);
  for (size_t capacity : {input.size(), input.size() - 1}) {
    if (capacity > input.size()) continue;  // no "one less" for empty input
    Bytes out(capacity + 64, 0x5A);
    u32 written = 0, consumed = 0;
    const int result = DecompressBlock(out.data(), static_cast<u32>(capacity), stream.data(),
                                       static_cast<u32>(stream.size()), &written, &consumed);
    EXPECT_TRUE(std::all_of(out.begin() + static_cast<ptrdiff_t>(capacity), out.end(),
                            [](uint8_t b) { return b == 0x5A; }));
    if (capacity < input.size()) {
      EXPECT_EQ(result, 0);
      continue;
    }
    ASSERT_EQ(result, 1);
    EXPECT_EQ(written, input.size());
    EXPECT_EQ(consumed, stream.size());
    EXPECT_TRUE(std::equal(input.begin(), input.end(), out.begin()));
  }
}

// Counts of the codes in a valid stream, read with the format's rules.
struct CodeCounts {
  size_t narrowTwoByte = 0, wideTwoByte = 0, longMatches = 0, farthest = 0;
};

CodeCounts CountCodes(const Bytes& s) {
  CodeCounts c;
  size_t ip = 0;
  uint32_t word = 0;
  int left = 0;
  auto bits = [&](int n) {
    uint32_t v = 0;
    for (; n > 0; --n, --left, word <<= 1) {
      if (left == 0) {
        word = s.at(ip) | (s.at(ip + 1) << 8) | (s.at(ip + 2) << 16) | (uint32_t{s.at(ip + 3)} << 24);
        ip += 4;
        left = 32;
      }
      v = v * 2 + (word >> 31);
    }
    return v;
  };
  for (;;) {
    if (bits(1)) {
      ++ip;
    } else if (bits(1)) {
      const uint32_t wide = bits(1), b = s.at(ip++);
      const uint32_t v = wide ? b * 8 + bits(3) + 256 : b;
      if (v == 2303) return c;
      ++(wide ? c.wideTwoByte : c.narrowTwoByte);
      c.farthest = std::max<size_t>(c.farthest, v + 1);
    } else {
      static const uint32_t kBase[5] = {0, 512, 1024, 2048, 4096};
      static const int kLow[5] = {1, 1, 2, 3, 4}, kExtra[6] = {0, 0, 1, 2, 4, 0};
      int zeros = 0, cls = 0;
      while (zeros < 4 && !bits(1)) ++zeros;
      const uint32_t b = s.at(ip++);
      c.farthest = std::max<size_t>(c.farthest, kBase[zeros] + (b << kLow[zeros]) + bits(kLow[zeros]) + 1);
      while (cls < 5 && !bits(1)) ++cls;
      if (cls == 5) {
        ++ip;  // the length byte
      } else {
        bits(kExtra[cls]);
      }
      ++c.longMatches;
    }
  }
}

Bytes Random(std::mt19937& rng, size_t n) {
  Bytes b(n);
  for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
  return b;
}

// Words from a small vocabulary, like an INI file or a text.
Bytes Words(std::mt19937& rng, size_t n) {
  static const char* const kWords[] = {"update ", "package ", "the ", "entry ", "folder ", "install ",
                                       "data\r\n", "of ", "=", "1, ", "game "};
  Bytes b;
  while (b.size() < n) {
    const char* w = kWords[rng() % 11];
    b.insert(b.end(), w, w + std::strlen(w));
  }
  b.resize(n);
  return b;
}

// Like machine code: repeated opcodes, growing addresses, zeros, noise.
Bytes Records(std::mt19937& rng, size_t n) {
  Bytes b;
  for (uint32_t address = 0x401000; b.size() < n;) {
    const uint32_t kind = rng() % 4;
    if (kind == 0) b.insert(b.end(), {0x55, 0x8B, 0xEC, 0x83, 0xEC});
    if (kind == 1) {
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(address >> (8 * i)));
      address += 4 + rng() % 64;
    }
    if (kind == 2) b.insert(b.end(), rng() % 12, 0);
    if (kind == 3) b.push_back(static_cast<uint8_t>(rng()));
  }
  b.resize(n);
  return b;
}

// A random block repeated at `period`, one byte in 97 changed.
Bytes Periodic(std::mt19937& rng, size_t n, size_t period) {
  Bytes b = Random(rng, std::min(n, period));
  while (b.size() < n) b.push_back(rng() % 97 ? b[b.size() - period] : static_cast<uint8_t>(rng()));
  return b;
}

TEST(CompressRoundTrip, EveryKindOfDataAndSize) {
  using Make = std::function<Bytes(std::mt19937&, size_t)>;
  auto period = [](size_t p) -> Make { return [p](std::mt19937& r, size_t n) { return Periodic(r, n, p); }; };
  const std::pair<const char*, Make> kinds[] = {
      {"random", Random}, {"zeros", [](std::mt19937&, size_t n) { return Bytes(n, 0); }},
      {"words", Words}, {"records", Records}, {"period 1", period(1)}, {"period 2", period(2)},
      {"period 3", period(3)}, {"period 7", period(7)}, {"period 300", period(300)},
      {"period 2303", period(2303)}, {"period 8192", period(8192)}, {"period 8193", period(8193)},
  };
  std::mt19937 rng(1234);
  for (const auto& kind : kinds) {
    for (size_t size : {0, 1, 2, 3, 4, 5, 31, 32, 33, 47, 48, 49, 100, 319, 320, 321, 1000, 4097, 20000}) {
      SCOPED_TRACE(std::string(kind.first) + ", " + std::to_string(size) + " bytes");
      ExpectRoundTrip(kind.second(rng, size), CompressEffort::kBest);
    }
  }
}

TEST(CompressRoundTrip, EveryEffort) {
  std::mt19937 rng(99);
  Bytes mixed = Words(rng, 60000);
  for (const Bytes& more : {Records(rng, 60000), Random(rng, 20000), Bytes(5000, 0xFF)})
    mixed.insert(mixed.end(), more.begin(), more.end());
  for (CompressEffort effort : {CompressEffort::kFast, CompressEffort::kNormal, CompressEffort::kBest}) {
    SCOPED_TRACE(static_cast<int>(effort));
    ExpectRoundTrip(mixed, effort);
    for (int round = 0; round < 20; ++round) {
      const size_t size = rng() % 3000;
      ExpectRoundTrip(round % 2 ? Words(rng, size) : Records(rng, size), effort);
    }
  }
}

TEST(CompressStreams, WorkedExamplesComeOutByteForByte) {
  Bytes forty, fortyStream = {0xFF, 0xFF, 0xFF, 0xFF};
  for (int i = 0; i < 40; ++i) {
    forty.push_back(static_cast<uint8_t>(i * 5));
    if (i == 32) fortyStream.insert(fortyStream.end(), {0x00, 0x00, 0x7C, 0xFF});
    fortyStream.push_back(forty.back());
  }
  fortyStream.push_back(0xFF);
  const std::string abc = "abcabcabcX";
  const struct {
    const char* name;
    Bytes input, stream;
  } cases[] = {
      {"empty input: the end code alone", {}, {0x00, 0x00, 0x00, 0x7C, 0xFF}},
      {"abcabcabcX", Bytes(abc.begin(), abc.end()), {0x00, 0xC0, 0x77, 0xE4, 0x61, 0x62, 0x63, 0x01, 0x58, 0xFF}},
      {"40 distinct literals", forty, fortyStream},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (CompressEffort effort : {CompressEffort::kFast, CompressEffort::kBest})
      EXPECT_EQ(CompressBlock(c.input.data(), c.input.size(), effort), c.stream);
  }
}

TEST(CompressStreams, PicksTheCheapestFormAtEachReach) {
  // A piece seen again after a gap in which no pair of bytes occurs twice.
  auto withGap = [](const std::string& piece, size_t gap) {
    Bytes b(piece.begin(), piece.end());
    for (size_t i = 0; i < gap; ++i) b.push_back(static_cast<uint8_t>(i % 2 ? 128 + i / 128 : i / 2 % 64));
    b.insert(b.end(), piece.begin(), piece.end());
    return b;
  };
  const struct {
    const char* name;
    Bytes input;
    size_t narrow, wide, longMatches, farthest;
  } cases[] = {
      {"pair at 256: narrow two-byte", withGap("QZ", 254), 1, 0, 0, 256},
      {"pair at 257: wide two-byte", withGap("QZ", 255), 0, 1, 0, 257},
      {"pair at 2303: wide two-byte", withGap("QZ", 2301), 0, 1, 0, 2303},
      {"pair at 2304: literals", withGap("QZ", 2302), 0, 0, 0, 0},
      {"triple at 8192: long match", withGap("QZJ", 8189), 0, 0, 1, 8192},
      {"triple at 8193: literals", withGap("QZJ", 8190), 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const CodeCounts counts = CountCodes(CompressBlock(c.input.data(), c.input.size()));
    EXPECT_EQ(counts.narrowTwoByte, c.narrow);
    EXPECT_EQ(counts.wideTwoByte, c.wide);
    EXPECT_EQ(counts.longMatches, c.longMatches);
    EXPECT_EQ(counts.farthest, c.farthest);
    ExpectRoundTrip(c.input, CompressEffort::kBest);
  }
}

TEST(CompressStreams, CompressesWhatRepeats) {
  std::mt19937 rng(5);
  const struct {
    const char* name;
    Bytes input;
    double atMost;  // of the input size
  } cases[] = {
      {"zeros", Bytes(100000, 0), 0.012},  // 282 bytes a code at best
      {"period 7", Periodic(rng, 100000, 7), 0.25},
      {"words", Words(rng, 100000), 0.40},
      {"random", Random(rng, 100000), 1.13},  // 9 bits a byte at worst
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const double size = static_cast<double>(CompressBlock(c.input.data(), c.input.size()).size());
    EXPECT_LE(size, c.atMost * static_cast<double>(c.input.size()));
  }
}

TEST(CompressionPays, OnlyWhenStrictlySmaller) {
  const struct {
    size_t compressed, content;
    bool pays;
  } cases[] = {{5, 0, false}, {5, 5, false}, {5, 6, true}, {100, 99, false}, {0, 1, true}};
  for (const auto& c : cases) EXPECT_EQ(CompressionPays(c.compressed, c.content), c.pays) << c.compressed << " of " << c.content;
}

}  // namespace

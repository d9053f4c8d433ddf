// CompressBlock: round trips through DecompressBlock over many sizes and
// kinds of data, the exact streams of three known inputs, the form chosen
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
  size_t bits = 0;  // of every code but the end code, data bytes counted 8
};

CodeCounts CountCodes(const Bytes& s) {
  CodeCounts c;
  size_t ip = 0;
  uint32_t word = 0;
  int left = 0;
  auto bits = [&](int n) {
    c.bits += static_cast<size_t>(n);
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
      c.bits += 8;
    } else if (bits(1)) {
      const uint32_t wide = bits(1), b = s.at(ip++);
      c.bits += 8;
      const uint32_t v = wide ? b * 8 + bits(3) + 256 : b;
      if (v == 2303) {
        c.bits -= 14;
        return c;
      }
      ++(wide ? c.wideTwoByte : c.narrowTwoByte);
      c.farthest = std::max<size_t>(c.farthest, v + 1);
    } else {
      static const uint32_t kBase[5] = {0, 512, 1024, 2048, 4096};
      static const int kLow[5] = {1, 1, 2, 3, 4}, kExtra[6] = {0, 0, 1, 2, 4, 0};
      int zeros = 0, cls = 0;
      while (zeros < 4 && !bits(1)) ++zeros;
      const uint32_t b = s.at(ip++);
      c.bits += 8;
      c.farthest = std::max<size_t>(c.farthest, kBase[zeros] + (b << kLow[zeros]) + bits(kLow[zeros]) + 1);
      while (cls < 5 && !bits(1)) ++cls;
      if (cls == 5) {
        ++ip;  // the length byte
        c.bits += 8;
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

// The fewest bits any parse of `in` can take (the end code left out), by
// trying every distance of every length at every position.
size_t FewestBits(const Bytes& in) {
  auto distanceBits = [](size_t d) -> size_t {
    return d <= 512 ? 10 : d <= 1024 ? 11 : d <= 2048 ? 13 : d <= 4096 ? 15 : 16;
  };
  auto lengthBits = [](size_t n) -> size_t {
    return n == 3 ? 1 : n == 4 ? 2 : n <= 6 ? 4 : n <= 10 ? 6 : n <= 26 ? 9 : 13;
  };
  const size_t n = in.size();
  std::vector<size_t> best(n + 1, SIZE_MAX);
  best[0] = 0;
  for (size_t i = 0; i < n; ++i) {
    auto offer = [&](size_t to, size_t bits) { best[to] = std::min(best[to], best[i] + bits); };
    offer(i + 1, 9);
    for (size_t d = 1; d <= std::min<size_t>(i, 8192); ++d) {
      size_t length = 0;
      while (i + length < n && length < 282 && in[i + length] == in[i + length - d]) ++length;
      if (length >= 2 && d <= 2303) offer(i + 2, d <= 256 ? 11 : 14);
      for (size_t l = 3; l <= length; ++l) offer(i + l, 2 + distanceBits(d) + lengthBits(l));
    }
  }
  return best[n];
}

TEST(CompressOptimal, TakesTheFewestBitsThereAre) {
  // Inputs without a match of 282 bytes, where the parse is exact.
  std::mt19937 rng(31);
  const std::pair<const char*, std::function<Bytes(size_t)>> kinds[] = {
      {"words", [&](size_t n) { return Words(rng, n); }},
      {"records", [&](size_t n) { return Records(rng, n); }},
      {"period 300", [&](size_t n) { return Periodic(rng, n, 300); }},
      {"random", [&](size_t n) { return Random(rng, n); }},
      {"few letters", [&](size_t n) {
         Bytes b(n);
         for (uint8_t& v : b) v = static_cast<uint8_t>('a' + rng() % 3);
         return b;
       }},
  };
  for (const auto& kind : kinds) {
    for (size_t size : {0, 1, 2, 3, 4, 7, 40, 281, 283, 700, 2400}) {
      const Bytes input = kind.second(size);
      SCOPED_TRACE(std::string(kind.first) + ", " + std::to_string(size) + " bytes");
      const Bytes stream = CompressBlock(input.data(), input.size());
      EXPECT_EQ(CountCodes(stream).bits, FewestBits(input));
      ExpectRoundTrip(input, CompressEffort::kBest);
    }
  }
}

TEST(CompressOptimal, NeverLargerThanTheLazyParse) {
  std::mt19937 rng(77);
  using Make = std::function<Bytes(size_t)>;
  const std::pair<const char*, Make> kinds[] = {
      {"words", [&](size_t n) { return Words(rng, n); }},
      {"records", [&](size_t n) { return Records(rng, n); }},
      {"period 7", [&](size_t n) { return Periodic(rng, n, 7); }},
      {"period 2303", [&](size_t n) { return Periodic(rng, n, 2303); }},
      {"period 8192", [&](size_t n) { return Periodic(rng, n, 8192); }},
      {"zeros", [](size_t n) { return Bytes(n, 0); }},
      {"random", [&](size_t n) { return Random(rng, n); }},
      {"mixed", [&](size_t n) {
         Bytes b = Words(rng, n / 3);
         for (const Bytes& more : {Records(rng, n / 3), Periodic(rng, n - 2 * (n / 3), 1000)})
           b.insert(b.end(), more.begin(), more.end());
         return b;
       }},
  };
  for (const auto& kind : kinds) {
    for (size_t size : {10, 300, 5000, 70000, 150000}) {
      for (int round = 0; round < 2; ++round) {
        const Bytes input = kind.second(size);
        SCOPED_TRACE(std::string(kind.first) + ", " + std::to_string(size) + " bytes");
        const size_t lazy = CompressBlock(input.data(), input.size(), CompressEffort::kFast).size();
        for (CompressEffort effort : {CompressEffort::kNormal, CompressEffort::kBest}) {
          const Bytes stream = CompressBlock(input.data(), input.size(), effort);
          EXPECT_LE(stream.size(), lazy) << static_cast<int>(effort);
        }
        ExpectRoundTrip(input, CompressEffort::kBest);
      }
    }
  }
}

TEST(CompressRoundTrip, SizesAroundTheWindowAndTheLongestMatch) {
  // Zeros and a short period give matches of every length up to 282 and past
  // it; a period of 8192 reaches exactly back to the window's far end.
  std::mt19937 rng(8);
  const size_t sizes[] = {0, 1, 2, 3, 280, 281, 282, 283, 284, 285, 563, 564, 565, 566,
                          2303, 2304, 2305, 8191, 8192, 8193, 8194, 8195, 8474, 8475, 8476,
                          16384, 16385, 65535, 65536, 65537, 65818, 65819};
  for (size_t size : sizes) {
    const Bytes kinds[] = {Bytes(size, 0x11), Periodic(rng, size, 2), Periodic(rng, size, 8192),
                           Periodic(rng, size, 8193), Words(rng, size)};
    for (const Bytes& input : kinds) {
      SCOPED_TRACE(std::to_string(size) + " bytes");
      for (CompressEffort effort : {CompressEffort::kFast, CompressEffort::kNormal, CompressEffort::kBest})
        ExpectRoundTrip(input, effort);
    }
  }
}

TEST(CompressStreams, KnownInputsComeOutByteForByte) {
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

// A large block reports its progress about every MiB, rising and within the
// block, at every effort, and reporting changes nothing in the stream.
TEST(CompressProgress, ReportedAboutEveryMegabyte) {
  Bytes input(2300000);
  std::mt19937 rng(99);
  for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i % 251 < 200 ? i % 7 : rng());
  for (CompressEffort effort : {CompressEffort::kFast, CompressEffort::kNormal, CompressEffort::kBest}) {
    std::vector<size_t> told;
    const Bytes stream = CompressBlock(input.data(), input.size(), effort, [&](size_t done) { told.push_back(done); });
    EXPECT_EQ(stream, CompressBlock(input.data(), input.size(), effort)) << static_cast<int>(effort);
    ASSERT_EQ(told.size(), 2u) << static_cast<int>(effort);
    for (size_t i = 0; i < told.size(); ++i) {
      EXPECT_GE(told[i] - (i ? told[i - 1] : 0), size_t{1} << 20) << static_cast<int>(effort);
      EXPECT_LE(told[i], input.size()) << static_cast<int>(effort);
    }
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

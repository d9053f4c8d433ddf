// DecompressBlock: the codes and their exact bytes, where control words
// fall, and the bounds it refuses. Every valid stream is checked exactly
// sized (the decoder's checked loop) and with room to spare (its fast loop).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "package/decompress.h"
#include "support/piecewise.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Writes codes as the format lays them out: a control word is reserved where
// its first bit is needed; data bytes follow in order.
class StreamBuilder {
 public:
  StreamBuilder& Bits(uint32_t value, int count) {
    while (count-- > 0) {
      if (free_ == 0) {
        wordAt_ = bytes_.size();
        bytes_.insert(bytes_.end(), 4, 0);
        free_ = 32;
      }
      --free_;
      if ((value >> count) & 1u) bytes_[wordAt_ + free_ / 8] |= static_cast<uint8_t>(1u << (free_ % 8));
    }
    return *this;
  }
  StreamBuilder& Byte(uint32_t v) { bytes_.push_back(static_cast<uint8_t>(v)); return *this; }
  StreamBuilder& Literal(uint8_t v) { return Bits(1, 1).Byte(v); }
  StreamBuilder& TwoByte(uint32_t d) {  // 1 to 2303
    if (d <= 256) return Bits(0b010, 3).Byte(d - 1);
    return Bits(0b011, 3).Byte((d - 257) >> 3).Bits((d - 257) & 7u, 3);
  }
  StreamBuilder& Long(uint32_t d, uint32_t length) {  // 1 to 8192, 3 to 282
    static const uint32_t kBase[5] = {0, 512, 1024, 2048, 4096};
    static const int kLow[5] = {1, 1, 2, 3, 4};
    const int cls = d <= 512 ? 0 : d <= 1024 ? 1 : d <= 2048 ? 2 : d <= 4096 ? 3 : 4;
    const uint32_t o = d - 1 - kBase[cls];
    Bits(0b00, 2).Bits(cls < 4 ? 1 : 0, cls < 4 ? cls + 1 : 4).Byte(o >> kLow[cls]).Bits(o, kLow[cls]);
    if (length == 3) return Bits(1, 1);
    if (length == 4) return Bits(1, 2);
    if (length <= 6) return Bits(1, 3).Bits(length - 5, 1);
    if (length <= 10) return Bits(1, 4).Bits(length - 7, 2);
    if (length <= 26) return Bits(1, 5).Bits(length - 11, 4);
    return Bits(0, 5).Byte(length - 27);
  }
  StreamBuilder& End() { return Bits(0b011, 3).Byte(0xFF).Bits(7, 3); }
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
  size_t wordAt_ = 0;
  int free_ = 0;
};

constexpr uint8_t kCanary = 0xA5;
constexpr size_t kCanarySize = 64;

struct Expansion {
  int result = 0;
  Bytes out;  // the `written` bytes
  u32 consumed = 0;
  bool canaryIntact = true;
};

// Decodes an exactly sized copy of `stream` (a sanitizer sees any read past
// it) into `capacity` bytes followed by a canary.
Expansion Expand(const Bytes& stream, size_t capacity) {
  const Bytes source(stream);
  Bytes buffer(capacity + kCanarySize, kCanary);
  Expansion e;
  u32 written = 0;
  e.result = DecompressBlock(buffer.data(), static_cast<u32>(capacity), source.empty() ? nullptr : source.data(),
                             static_cast<u32>(source.size()), &written, &e.consumed);
  for (size_t i = capacity; i < buffer.size(); ++i) e.canaryIntact &= buffer[i] == kCanary;
  if (e.result == 1) e.out.assign(buffer.begin(), buffer.begin() + written);
  return e;
}

// Exactly sized, then with room and trailing bytes that must not be consumed.
void ExpectExpands(const Bytes& stream, const Bytes& expected) {
  for (bool roomy : {false, true}) {
    SCOPED_TRACE(roomy ? "room and trailing bytes" : "exact sizes");
    Bytes source(stream);
    if (roomy) source.insert(source.end(), 100, 0xEE);
    const Expansion e = Expand(source, expected.size() + (roomy ? 1000 : 0));
    ASSERT_EQ(e.result, 1);
    EXPECT_EQ(e.out, expected);
    EXPECT_EQ(e.consumed, stream.size());
    EXPECT_TRUE(e.canaryIntact);
  }
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// `count` literals of a pattern with no short repeats.
void Literals(StreamBuilder& s, Bytes& e, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t v = static_cast<uint8_t>((i * 7 + i / 256) & 0xFF);
    s.Literal(v);
    e.push_back(v);
  }
}

void Copy(Bytes& e, size_t distance, size_t length) {
  for (size_t i = 0; i < length; ++i) e.push_back(e[e.size() - distance]);
}

// 40 literals 'A'.. and the end code, the second control word after `split`.
Bytes FortyLiterals(size_t split) {
  Bytes s = {0xFF, 0xFF, 0xFF, 0xFF};
  for (size_t i = 0; i < 40; ++i) {
    if (i == split) s.insert(s.end(), {0x00, 0x00, 0x7C, 0xFF});  // FF7C0000
    s.push_back(static_cast<uint8_t>('A' + i));
  }
  s.push_back(0xFF);
  return s;
}

TEST(DecompressKnownStreams, ExpandToTheirKnownBytes) {
  struct Case {
    const char* name;
    Bytes stream, expected;
  };
  const Case cases[] = {
      {"abcabcabcX", {0x00, 0xC0, 0x77, 0xE4, 0x61, 0x62, 0x63, 0x01, 0x58, 0xFF}, Text("abcabcabcX")},
      {"40 literals, second word after the 32nd", FortyLiterals(32),
       Text("ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefgh")},
      {"end code alone", {0x00, 0x00, 0x00, 0x7C, 0xFF}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectExpands(c.stream, c.expected);
  }
  // The builder the other tests use lays the first one out the same way.
  StreamBuilder abc;
  abc.Literal('a').Literal('b').Literal('c').Long(3, 6).Literal('X').End();
  EXPECT_EQ(abc.bytes(), cases[0].stream);
}

TEST(DecompressKnownStreams, SecondControlWordIsNotReadBeforeThe32ndLiteral) {
  // With the word one literal early, a decoder reading it early would accept.
  for (size_t capacity : {size_t{40}, size_t{4096}}) {
    Bytes early = FortyLiterals(31);
    if (capacity > 40) early.insert(early.end(), 100, 0xEE);
    const Expansion e = Expand(early, capacity);
    EXPECT_FALSE(e.result == 1 && e.out == Text("ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefgh"));
    EXPECT_TRUE(e.canaryIntact);
  }
}

// Each case writes codes and, by hand, the bytes they stand for.
struct CodeCase {
  const char* name;
  std::function<void(StreamBuilder&, Bytes&)> build;
};

const std::vector<CodeCase>& CodeCases() {
  static const std::vector<CodeCase> cases = {
      {"two-byte E=1 B=255 X=6 is distance 2303",
       [](StreamBuilder& s, Bytes& e) { Literals(s, e, 2303); s.Bits(0b011, 3).Byte(255).Bits(6, 3); Copy(e, 2303, 2); }},
      {"two-byte E=0 B=0 is distance 1, the last byte twice",
       [](StreamBuilder& s, Bytes& e) { Literals(s, e, 3); s.Bits(0b010, 3).Byte(0); Copy(e, 1, 2); }},
      {"two-byte E=0 B=255 is distance 256",
       [](StreamBuilder& s, Bytes& e) { Literals(s, e, 256); s.Bits(0b010, 3).Byte(255); Copy(e, 256, 2); }},
      {"two-byte E=1 B=0 X=0 is distance 257",
       [](StreamBuilder& s, Bytes& e) { Literals(s, e, 300); s.Bits(0b011, 3).Byte(0).Bits(0, 3); Copy(e, 257, 2); }},
      {"long distance 1 length 282 repeats the byte",
       [](StreamBuilder& s, Bytes& e) { s.Literal('q').Long(1, 282); e.assign(283, 'q'); }},
      {"long distance 2 odd length ends on the earlier byte",
       [](StreamBuilder& s, Bytes& e) { s.Literal('x').Literal('y').Long(2, 7); e = Text("xyxyxyxyx"); }},
      {"long distance 2 length 281",
       [](StreamBuilder& s, Bytes& e) {
         s.Literal('x').Literal('y').Long(2, 281);
         for (int i = 0; i < 283; ++i) e.push_back(i % 2 ? 'y' : 'x');
       }},
      {"long distance 3 length 4 ends on the first again",
       [](StreamBuilder& s, Bytes& e) { s.Literal('a').Literal('b').Literal('c').Long(3, 4); e = Text("abcabca"); }},
      {"long distance 3 length 8",
       [](StreamBuilder& s, Bytes& e) { s.Literal('a').Literal('b').Literal('c').Long(3, 8); e = Text("abcabcabcab"); }},
      {"long distances 4 to 17 shorter than their length",
       [](StreamBuilder& s, Bytes& e) {
         Literals(s, e, 20);
         for (uint32_t d = 4; d <= 17; ++d) { s.Long(d, 3 * d + 1); Copy(e, d, 3 * d + 1); }
       }},
      {"long, every length class at its ends",
       [](StreamBuilder& s, Bytes& e) {
         Literals(s, e, 300);
         for (uint32_t n : {3u, 4u, 5u, 6u, 7u, 10u, 11u, 26u, 27u, 282u}) { s.Long(300, n); Copy(e, 300, n); }
       }},
      {"long, every distance class at its ends",
       [](StreamBuilder& s, Bytes& e) {
         Literals(s, e, 8192);
         for (uint32_t d : {1u, 2u, 512u, 513u, 1024u, 1025u, 2048u, 2049u, 4096u, 4097u, 8192u}) {
           s.Long(d, 5);
           Copy(e, d, 5);
         }
       }},
      {"long, class 0000 byte FF bits 1111 is distance 8192",
       [](StreamBuilder& s, Bytes& e) {
         Literals(s, e, 8192);
         s.Bits(0, 6).Byte(255).Bits(15, 4).Bits(0, 5).Byte(255);
         Copy(e, 8192, 282);
       }},
  };
  return cases;
}

TEST(DecompressCodes, ExpandToTheBytesTheyStandFor) {
  for (const CodeCase& c : CodeCases()) {
    SCOPED_TRACE(c.name);
    StreamBuilder s;
    Bytes expected;
    c.build(s, expected);
    ExpectExpands(s.End().bytes(), expected);
  }
}

TEST(DecompressCodes, TwoByteX7IsTheEndAndNothingAfterItIsRead) {
  StreamBuilder s;
  s.Literal('a').Bits(0b011, 3).Byte(255).Bits(7, 3);
  Bytes stream = s.bytes();
  stream.insert(stream.end(), {0xFF, 0xFF, 0xFF, 0xFF, 'b', 'c'});
  const Expansion e = Expand(stream, 10);
  ASSERT_EQ(e.result, 1);
  EXPECT_EQ(e.out, Text("a"));
  EXPECT_EQ(e.consumed, s.bytes().size());
}

TEST(DecompressControlWords, HandLaidWordsInsideALongMatch) {
  const Bytes lits = Text("abcdefghijklmnopqrstuvwxyzabcde");
  // 31 literals and the first 0 of a long match fill word 1 (FFFFFFFE); the
  // second 0 is due next, so word 2 comes before the distance byte. Word 2:
  // 0, class 1, low bit 1 after byte 00 (distance 2), length 1 (3), end code
  // 011 .. 111: 0111 0111 11 = 77C00000; then the bytes 00 and FF.
  Bytes before = {0xFE, 0xFF, 0xFF, 0xFF};
  before.insert(before.end(), lits.begin(), lits.end());
  before.insert(before.end(), {0x00, 0x00, 0xC0, 0x77, 0x00, 0xFF});
  Bytes beforeExpected(lits);
  Copy(beforeExpected, 2, 3);
  // 28 literals, 00 1, byte 00 and the low bit 1 fill word 1 (FFFFFFF3); the
  // length bit needs word 2, after the distance byte: 1, 011 .. 111 = BE000000.
  Bytes after = {0xF3, 0xFF, 0xFF, 0xFF};
  after.insert(after.end(), lits.begin(), lits.begin() + 28);
  after.insert(after.end(), {0x00, 0x00, 0x00, 0x00, 0xBE, 0xFF});
  Bytes afterExpected(lits.begin(), lits.begin() + 28);
  Copy(afterExpected, 2, 3);
  SCOPED_TRACE("word before the distance byte");
  ExpectExpands(before, beforeExpected);
  SCOPED_TRACE("word after the distance byte");
  ExpectExpands(after, afterExpected);
}

TEST(DecompressControlWords, EveryBoundaryInsideEveryCode) {
  // Literals move the word boundary through each bit of the codes after them.
  using Code = std::function<void(StreamBuilder&, Bytes&)>;
  const std::pair<const char*, Code> codes[] = {
      {"literal", [](StreamBuilder& s, Bytes& e) { s.Literal(0x5C); e.push_back(0x5C); }},
      {"two-byte narrow", [](StreamBuilder& s, Bytes& e) { s.TwoByte(77); Copy(e, 77, 2); }},
      {"two-byte wide", [](StreamBuilder& s, Bytes& e) { s.TwoByte(2000); Copy(e, 2000, 2); }},
      {"long, far, length byte", [](StreamBuilder& s, Bytes& e) { s.Long(8000, 200); Copy(e, 8000, 200); }},
      {"long, 4 extra length bits", [](StreamBuilder& s, Bytes& e) { s.Long(3000, 20); Copy(e, 3000, 20); }},
      {"long, near, length 3", [](StreamBuilder& s, Bytes& e) { s.Long(5, 3); Copy(e, 5, 3); }},
  };
  for (const auto& code : codes) {
    for (size_t shift = 0; shift < 32; ++shift) {
      SCOPED_TRACE(std::string(code.first) + ", literals " + std::to_string(shift));
      StreamBuilder s;
      Bytes expected;
      Literals(s, expected, 8192 + shift);  // 8192 literal bits fill whole words
      code.second(s, expected);
      code.second(s, expected);
      ExpectExpands(s.End().bytes(), expected);  // the end code meets every boundary too
    }
  }
}

TEST(DecompressControlWords, EveryBoundaryInsideEveryDistanceAndLengthClass) {
  // Where the next control word stands is found by walking the current
  // word's bits code by code: a boundary in each bit of each class of both
  // codes of a long match must put it in the right place.
  const uint32_t distances[] = {1, 512, 513, 1024, 1025, 2048, 2049, 4096, 4097, 8192};
  const uint32_t lengths[] = {3, 4, 6, 10, 26, 27, 282};
  for (uint32_t d : distances) {
    for (uint32_t n : lengths) {
      for (size_t shift = 0; shift < 32; ++shift) {
        SCOPED_TRACE("distance " + std::to_string(d) + ", length " + std::to_string(n) + ", literals " +
                     std::to_string(8192 + shift));
        StreamBuilder s;
        Bytes expected;
        Literals(s, expected, 8192 + shift);
        s.Long(d, n).TwoByte(d % 2303 + 1).Long(d, n);
        Copy(expected, d, n);
        Copy(expected, d % 2303 + 1, 2);
        Copy(expected, d, n);
        ExpectExpands(s.End().bytes(), expected);
      }
    }
  }
}

TEST(DecompressControlWords, LiteralRunsEndingOnEveryWordBoundary) {
  // Words of nothing but literals, streams ending at every point near the
  // end of the room a fast round needs: the hand-over to the checked loop
  // meets a word of which nothing is read yet.
  for (size_t count = 280; count <= 480; ++count) {
    SCOPED_TRACE(std::to_string(count) + " literals");
    StreamBuilder s;
    Bytes expected;
    for (size_t i = 0; i < count; ++i) {
      expected.push_back(static_cast<uint8_t>(i * 13));
      s.Literal(expected.back());
    }
    ExpectExpands(s.End().bytes(), expected);
  }
}

TEST(DecompressBounds, RefusesEveryTruncationAndACapacityShort) {
  for (const CodeCase& c : CodeCases()) {
    StreamBuilder s;
    Bytes expected;
    c.build(s, expected);
    const Bytes& stream = s.End().bytes();
    // Every cut near either end, a sample between.
    for (size_t cut = 0; cut < stream.size(); cut += (cut < 64 || stream.size() - cut < 64) ? 1 : 97) {
      SCOPED_TRACE(std::string(c.name) + ", cut at " + std::to_string(cut));
      for (size_t room : {size_t{0}, size_t{1000}}) {
        const Expansion e = Expand(Bytes(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(cut)),
                                   expected.size() + room);
        EXPECT_EQ(e.result, 0);
        EXPECT_TRUE(e.canaryIntact);
      }
    }
    for (size_t shortBy : {size_t{1}, size_t{2}, expected.size()}) {
      SCOPED_TRACE(std::string(c.name) + ", capacity short by " + std::to_string(shortBy));
      Bytes padded(stream);
      padded.insert(padded.end(), 100, 0xEE);
      const Expansion e = Expand(padded, expected.size() - shortBy);
      EXPECT_EQ(e.result, 0);
      EXPECT_TRUE(e.canaryIntact);
    }
  }
}

TEST(DecompressBounds, RefusesADistanceBeforeTheStart) {
  auto literals = [](StreamBuilder& s, int n) { for (int i = 0; i < n; ++i) s.Literal(static_cast<uint8_t>(i)); };
  const std::pair<const char*, std::function<void(StreamBuilder&)>> cases[] = {
      {"two-byte first", [](StreamBuilder& s) { s.TwoByte(1); }},
      {"two-byte one too far", [&](StreamBuilder& s) { literals(s, 2); s.TwoByte(3); }},
      {"wide two-byte one too far", [&](StreamBuilder& s) { literals(s, 1000); s.TwoByte(1001); }},
      {"long first", [](StreamBuilder& s) { s.Long(1, 3); }},
      {"long one too far", [&](StreamBuilder& s) { literals(s, 2); s.Long(3, 3); }},
      {"long 8192 after 8191 bytes", [&](StreamBuilder& s) { literals(s, 8191); s.Long(8192, 282); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    StreamBuilder s;
    c.second(s);
    Bytes padded(s.End().bytes());
    padded.insert(padded.end(), 100, 0xEE);
    const Expansion e = Expand(padded, 20000);
    EXPECT_EQ(e.result, 0);
    EXPECT_TRUE(e.canaryIntact);
  }
}

TEST(DecompressBounds, RefusesNullBuffers) {
  const uint8_t end[] = {0x00, 0x00, 0x00, 0x7C, 0xFF};
  uint8_t out[4];
  EXPECT_EQ(DecompressBlock(out, sizeof out, nullptr, 5, nullptr, nullptr), 0);
  EXPECT_EQ(DecompressBlock(nullptr, 4, end, sizeof end, nullptr, nullptr), 0);
  EXPECT_EQ(DecompressBlock(nullptr, 0, end, sizeof end, nullptr, nullptr), 1);  // nothing to write
}

// A random valid stream of at least `size` bytes: literals with a share
// picked per stream, two-byte and long matches of every distance class.
Bytes RandomStream(std::mt19937& rng, size_t size, Bytes* expected) {
  auto pick = [&rng](uint32_t lo, uint32_t hi) { return std::uniform_int_distribution<uint32_t>(lo, hi)(rng); };
  StreamBuilder s;
  Bytes& e = *expected;
  e.clear();
  const uint32_t literalShare = pick(5, 90);
  while (e.size() < size) {
    const uint32_t kind = pick(0, 99);
    const uint32_t have = static_cast<uint32_t>(e.size());
    if (have < 3 || kind < literalShare) {
      e.push_back(static_cast<uint8_t>(pick(0, 3) ? pick('a', 'h') : pick(0, 255)));
      s.Literal(e.back());
    } else if (kind % 3 == 0) {
      const uint32_t d = pick(1, std::min(have, pick(0, 1) ? 256u : 2303u));
      s.TwoByte(d);
      Copy(e, d, 2);
    } else {
      const uint32_t d = pick(1, std::min(have, pick(0, 1) ? 20u : 8192u));
      const uint32_t n = pick(0, 3) ? pick(3, 12) : pick(3, 282);
      s.Long(d, n);
      Copy(e, d, n);
    }
  }
  return s.End().bytes();
}

void FlipBits(std::mt19937& rng, Bytes* stream, int count) {
  for (int flip = 0; flip < count; ++flip)
    (*stream)[rng() % stream->size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
}

TEST(DecompressRandom, ValidStreamsExpandExactlyAndDamagedOnesStayInBounds) {
  std::mt19937 rng(20240601);
  for (size_t size : {size_t{1}, size_t{50}, size_t{321}, size_t{700}, size_t{5000}, size_t{40000}}) {
    for (int round = 0; round < 12; ++round) {
      SCOPED_TRACE("size " + std::to_string(size) + ", round " + std::to_string(round));
      Bytes e;
      Bytes stream = RandomStream(rng, size, &e);
      ExpectExpands(stream, e);
      FlipBits(rng, &stream, 4);
      for (size_t capacity : {size_t{0}, e.size(), e.size() + 1000}) {
        const Expansion damaged = Expand(stream, capacity);
        EXPECT_TRUE(damaged.canaryIntact);
        if (damaged.result == 1) {
          EXPECT_LE(damaged.consumed, stream.size());
        }
      }
    }
  }
}

// A stream expanded in pieces gives what the whole-block decoder gives, for
// every piece size: pauses fall on every kind of code boundary, inside
// control words, and resume in both loops (pieces of 40 bytes and more
// resume in the fast one). A damaged stream fails in pieces exactly when it
// fails whole.
TEST(DecompressInPieces, EveryPieceSizeGivesTheWholeBlocksBytes) {
  std::mt19937 rng(20261207);
  for (size_t size : {size_t{0}, size_t{5}, size_t{1000}, size_t{9000}, size_t{60000}}) {
    for (int round = 0; round < 4; ++round) {
      Bytes e;
      Bytes stream = RandomStream(rng, size, &e);
      for (uint32_t step : {1u, 2u, 37u, 41u, 300u, 4096u, 100000u}) for (bool feed : {false, true}) {
        SCOPED_TRACE("size " + std::to_string(size) + ", round " + std::to_string(round) + ", step " +
                     std::to_string(step) + (feed ? ", input fed" : ""));
        const piecewise::Result r = piecewise::ExpandInPieces(stream, static_cast<uint32_t>(e.size()), step, feed);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.out, e);
        EXPECT_EQ(r.consumed, stream.size());
        EXPECT_TRUE(r.canaryIntact);
        if (e.size() > 2 * (kLongestReach + step + kLongestCode)) {
          EXPECT_GT(r.pieces, 2u);
        }
      }
      for (int damage = 0; damage < 6; ++damage) {
        Bytes damaged(stream);
        FlipBits(rng, &damaged, 1 + damage % 3);
        const Expansion whole = Expand(damaged, e.size());
        for (uint32_t step : {1u, 41u, 4096u}) {
          SCOPED_TRACE("damaged, size " + std::to_string(size) + ", step " + std::to_string(step));
          const piecewise::Result r =
              piecewise::ExpandInPieces(damaged, static_cast<uint32_t>(e.size()), step, step == 41);
          EXPECT_TRUE(r.canaryIntact);
          ASSERT_EQ(r.ok, whole.result == 1);
          if (r.ok) {
            EXPECT_EQ(r.out, whole.out);
            EXPECT_EQ(r.consumed, whole.consumed);
          }
        }
      }
    }
  }
}

// With room well past the pause point, a pause still comes at the first code
// boundary at or past it: less than one code's bytes beyond, never before,
// and a call whose output already stands at its pause point writes nothing.
// Rounds of 31 literals and a 282-byte match are the longest there are.
TEST(DecompressInPieces, PausesWithinOneCodeOfThePausePoint) {
  StreamBuilder s;
  Bytes e;
  for (int i = 0; i < 40; ++i) {
    Literals(s, e, 31);
    s.Long(1, 282);
    Copy(e, 1, 282);
  }
  std::mt19937 rng(5);
  Bytes randomExpected;
  const Bytes randomStream = RandomStream(rng, 20000, &randomExpected);
  for (const auto& [stream, expected] : {std::make_pair(s.End().bytes(), e), std::make_pair(randomStream, randomExpected)}) {
    const u32 capacity = static_cast<u32>(expected.size());
    for (u32 pauseAt = 1; pauseAt + 2000 < capacity; pauseAt += 37) {
      SCOPED_TRACE("pause at " + std::to_string(pauseAt));
      StreamDecoder decoder;
      ASSERT_EQ(1, BeginStreamDecode(&decoder, stream.data(), static_cast<u32>(stream.size())));
      Bytes window(capacity + 64, 0xA5);
      u32 filled = 0;
      ASSERT_EQ(1, ContinueStreamDecode(&decoder, window.data(), &filled, pauseAt, capacity));
      ASSERT_EQ(0u, decoder.ended);
      EXPECT_GE(filled, pauseAt);
      EXPECT_LT(filled - pauseAt, kLongestCode);
      EXPECT_TRUE(std::equal(window.begin(), window.begin() + filled, expected.begin()));
      const u32 paused = filled;
      ASSERT_EQ(1, ContinueStreamDecode(&decoder, window.data(), &filled, filled, capacity));
      EXPECT_EQ(paused, filled);
      ASSERT_EQ(1, ContinueStreamDecode(&decoder, window.data(), &filled, capacity, capacity));
      EXPECT_EQ(1u, decoder.ended);
      EXPECT_EQ(expected, Bytes(window.begin(), window.begin() + filled));
    }
  }
}

// Literals read the most input per byte written (9 bits): a stream of them
// alone, its input handed over with no more than that bound, still ends.
TEST(DecompressInPieces, LiteralsAloneNeedNoMoreInputThanTheBound) {
  StreamBuilder s;
  Bytes e;
  Literals(s, e, 20000);
  const Bytes stream = s.End().bytes();
  for (uint32_t step : {1u, 41u, 300u, 4096u}) {
    const piecewise::Result r = piecewise::ExpandInPieces(stream, static_cast<uint32_t>(e.size()), step, true);
    ASSERT_TRUE(r.ok) << step;
    EXPECT_EQ(r.out, e) << step;
    EXPECT_EQ(r.consumed, stream.size()) << step;
  }
}

TEST(DecompressInPieces, RefusesCallsOutsideItsContract) {
  const Bytes stream = StreamBuilder().Literal('a').Literal('b').End().bytes();
  StreamDecoder decoder;
  EXPECT_EQ(0, BeginStreamDecode(&decoder, nullptr, 0));
  EXPECT_EQ(0, BeginStreamDecode(nullptr, stream.data(), static_cast<u32>(stream.size())));
  ASSERT_EQ(1, BeginStreamDecode(&decoder, stream.data(), static_cast<u32>(stream.size())));
  u8 window[8] = {0};
  u32 filled = 3;
  EXPECT_EQ(0, ContinueStreamDecode(&decoder, window, &filled, 2, 8));  // filled past pauseAt
  filled = 0;
  EXPECT_EQ(0, ContinueStreamDecode(&decoder, window, &filled, 8, 7));  // pauseAt past capacity
  EXPECT_EQ(0, ContinueStreamDecode(&decoder, nullptr, &filled, 2, 2));
  ASSERT_EQ(1, ContinueStreamDecode(&decoder, window, &filled, 8, 8));
  EXPECT_EQ(1u, decoder.ended);
  EXPECT_EQ(2u, filled);
  EXPECT_EQ(0, std::memcmp(window, "ab", 2));
  EXPECT_EQ(stream.size(), StreamBytesConsumed(&decoder));
  EXPECT_EQ(0, ContinueStreamDecode(&decoder, window, &filled, 8, 8));  // ended: nothing more
  // A pause point reached by the first literal: one code, then the pause.
  ASSERT_EQ(1, BeginStreamDecode(&decoder, stream.data(), static_cast<u32>(stream.size())));
  filled = 0;
  ASSERT_EQ(1, ContinueStreamDecode(&decoder, window, &filled, 1, 8));
  EXPECT_EQ(1u, filled);
  EXPECT_EQ(0u, decoder.ended);
  ASSERT_EQ(1, ContinueStreamDecode(&decoder, window, &filled, 8, 8));
  EXPECT_EQ(2u, filled);
  EXPECT_EQ(1u, decoder.ended);
}

}  // namespace

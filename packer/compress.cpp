// The encoder of the package's stream format.
//
// Codes and their sizes in bits (a data byte counts 8):
//   literal                      1 + 8                       = 9
//   two-byte match, 1..256       3 + 8                       = 11
//   two-byte match, 257..2303    3 + 8 + 3                   = 14
//   long match                   2 + distance + length code
//     distance  1..512: 10, ..1024: 11, ..2048: 13, ..4096: 15, ..8192: 16
//     length    3: 1, 4: 2, 5-6: 4, 7-10: 6, 11-26: 9, 27-282: 13
//   end code                     3 + 8 + 3                   = 14
//
// The parse is lazy: at each position the match finder proposes its best
// match; when a literal here and the next position's match cost fewer bits
// per byte they cover, the current byte goes out as a literal and the
// decision moves on.
#include "packer/compress.h"

#include <cstring>
#include <stdexcept>

namespace {

constexpr size_t kLongReach = 8192;    // a long match reaches back this far
constexpr size_t kShortReach = 2303;   // the two-byte match, wide form
constexpr size_t kShortNearReach = 256;  // the two-byte match, narrow form
constexpr size_t kMinLong = 3;
constexpr size_t kMaxLong = 282;
constexpr uint32_t kEndValue = 2303;

constexpr int kHashBits = 15;
constexpr size_t kChainSize = 16384;  // a power of two above kLongReach
constexpr size_t kChainMask = kChainSize - 1;

struct Match {
  size_t length;    // 0: none; 2: two-byte form; 3..282: long form
  size_t distance;  // 1..kLongReach
};

int DistanceCost(size_t distance) {
  const size_t offset = distance - 1;
  if (offset < 512) return 10;
  if (offset < 1024) return 11;
  if (offset < 2048) return 13;
  if (offset < 4096) return 15;
  return 16;
}

int LengthCost(size_t length) {
  if (length == 3) return 1;
  if (length == 4) return 2;
  if (length <= 6) return 4;
  if (length <= 10) return 6;
  if (length <= 26) return 9;
  return 13;
}

// Bits of the code for `m` (a match, length 2 or more).
int Cost(const Match& m) {
  if (m.length == 2) return m.distance <= kShortNearReach ? 11 : 14;
  return 2 + DistanceCost(m.distance) + LengthCost(m.length);
}

// Appends codes to the stream. Control bits fill a word reserved at the
// position the decoder will read it from: the first time a bit is needed
// after the previous word's 32 bits are spent.
class StreamWriter {
 public:
  explicit StreamWriter(size_t inputSize) { out_.reserve(inputSize + inputSize / 8 + 16); }

  void Bit(uint32_t bit) {
    if (free_ == 0) {
      FlushWord();
      wordAt_ = out_.size();
      out_.resize(out_.size() + 4);
      word_ = 0;
      free_ = 32;
    }
    --free_;
    word_ |= (bit & 1u) << free_;
  }

  // `count` bits of `value`, most significant first.
  void Bits(uint32_t value, int count) {
    while (count-- > 0) Bit((value >> count) & 1u);
  }

  void Byte(uint32_t value) { out_.push_back(static_cast<uint8_t>(value)); }

  void Literal(uint8_t value) {
    Bit(1);
    Byte(value);
  }

  void ShortMatch(size_t distance) {
    Bits(0b01, 2);
    if (distance <= kShortNearReach) {
      Bit(0);
      Byte(static_cast<uint32_t>(distance - 1));
    } else {
      const uint32_t v = static_cast<uint32_t>(distance - 1) - 256;
      Bit(1);
      Byte(v >> 3);
      Bits(v & 7u, 3);
    }
  }

  void LongMatch(size_t length, size_t distance) {
    Bits(0b00, 2);
    const uint32_t offset = static_cast<uint32_t>(distance - 1);
    if (offset < 512) {
      Bit(1);
      Byte(offset >> 1);
      Bits(offset & 1u, 1);
    } else if (offset < 1024) {
      Bits(0b01, 2);
      Byte((offset - 512) >> 1);
      Bits((offset - 512) & 1u, 1);
    } else if (offset < 2048) {
      Bits(0b001, 3);
      Byte((offset - 1024) >> 2);
      Bits((offset - 1024) & 3u, 2);
    } else if (offset < 4096) {
      Bits(0b0001, 4);
      Byte((offset - 2048) >> 3);
      Bits((offset - 2048) & 7u, 3);
    } else {
      Bits(0b0000, 4);
      Byte((offset - 4096) >> 4);
      Bits((offset - 4096) & 15u, 4);
    }
    const uint32_t n = static_cast<uint32_t>(length);
    if (n == 3) {
      Bit(1);
    } else if (n == 4) {
      Bits(0b01, 2);
    } else if (n <= 6) {
      Bits(0b001, 3);
      Bits(n - 5, 1);
    } else if (n <= 10) {
      Bits(0b0001, 4);
      Bits(n - 7, 2);
    } else if (n <= 26) {
      Bits(0b00001, 5);
      Bits(n - 11, 4);
    } else {
      Bits(0b00000, 5);
      Byte(n - 27);
    }
  }

  void Emit(const Match& m) {
    if (m.length == 2) {
      ShortMatch(m.distance);
    } else {
      LongMatch(m.length, m.distance);
    }
  }

  void End() {
    const uint32_t v = kEndValue - 256;
    Bits(0b011, 3);
    Byte(v >> 3);
    Bits(v & 7u, 3);
  }

  std::vector<uint8_t> Finish() {
    FlushWord();
    return std::move(out_);
  }

 private:
  void FlushWord() {
    if (wordAt_ == kNoWord) return;
    uint8_t* p = out_.data() + wordAt_;
    p[0] = static_cast<uint8_t>(word_);
    p[1] = static_cast<uint8_t>(word_ >> 8);
    p[2] = static_cast<uint8_t>(word_ >> 16);
    p[3] = static_cast<uint8_t>(word_ >> 24);
  }

  static constexpr size_t kNoWord = static_cast<size_t>(-1);
  std::vector<uint8_t> out_;
  size_t wordAt_ = kNoWord;
  uint32_t word_ = 0;
  int free_ = 0;
};

struct SearchLimits {
  int chain;           // candidates tried per position
  size_t goodEnough;   // stop searching at this length
  size_t lazyBelow;    // look one position ahead while the match is shorter
};

SearchLimits LimitsFor(CompressEffort effort) {
  switch (effort) {
    case CompressEffort::kFast:
      return {8, 32, 8};
    case CompressEffort::kNormal:
      return {48, 128, 64};
    case CompressEffort::kBest:
      break;
  }
  return {256, kMaxLong, kMaxLong};
}

// Hash chains over three-byte prefixes within kLongReach, and the latest
// position of every two-byte prefix for the two-byte form. Positions are
// added lazily, just before a search at a later position.
class MatchFinder {
 public:
  MatchFinder(const uint8_t* data, size_t size, const SearchLimits& limits)
      : in_(data), size_(size), limits_(limits),
        head_(size_t{1} << kHashBits, -1), prev_(kChainSize, -1), head2_(65536, -1) {}

  Match Find(size_t p) {
    InsertUpTo(p);
    Match best{0, 0};
    const size_t available = size_ - p;
    const size_t limit = available < kMaxLong ? available : kMaxLong;
    if (limit >= kMinLong) {
      int32_t candidate = head_[Hash3(in_ + p)];
      int budget = limits_.chain;
      while (candidate >= 0 && p - static_cast<size_t>(candidate) <= kLongReach && budget-- > 0) {
        const uint8_t* c = in_ + candidate;
        if (c[best.length] == in_[p + best.length]) {
          const size_t length = MatchLength(c, in_ + p, limit);
          if (length > best.length && length >= kMinLong) {
            best = {length, p - static_cast<size_t>(candidate)};
            if (length >= limit || length >= limits_.goodEnough) break;
          }
        }
        const int32_t next = prev_[static_cast<size_t>(candidate) & kChainMask];
        if (next >= candidate) break;
        candidate = next;
      }
    }
    if (best.length == 0 && available >= 2) {
      const int32_t q = head2_[Key2(in_ + p)];
      if (q >= 0 && p - static_cast<size_t>(q) <= kShortReach) best = {2, p - static_cast<size_t>(q)};
    }
    return best;
  }

 private:
  static uint32_t Hash3(const uint8_t* p) {
    const uint32_t v = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    return (v * 2654435761u) >> (32 - kHashBits);
  }
  static uint32_t Key2(const uint8_t* p) { return uint32_t{p[0]} | (uint32_t{p[1]} << 8); }

  static size_t MatchLength(const uint8_t* a, const uint8_t* b, size_t limit) {
    size_t n = 0;
    while (n + 8 <= limit) {
      uint64_t x, y;
      std::memcpy(&x, a + n, 8);
      std::memcpy(&y, b + n, 8);
      if (x != y) break;
      n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
  }

  void InsertUpTo(size_t p) {
    for (; inserted_ < p; ++inserted_) {
      const size_t q = inserted_;
      if (q + 2 < size_) {
        const uint32_t h = Hash3(in_ + q);
        prev_[q & kChainMask] = head_[h];
        head_[h] = static_cast<int32_t>(q);
      }
      if (q + 1 < size_) head2_[Key2(in_ + q)] = static_cast<int32_t>(q);
    }
  }

  const uint8_t* in_;
  size_t size_;
  SearchLimits limits_;
  std::vector<int32_t> head_;
  std::vector<int32_t> prev_;
  std::vector<int32_t> head2_;
  size_t inserted_ = 0;
};

}  // namespace

std::vector<uint8_t> CompressBlock(const uint8_t* data, size_t size, CompressEffort effort) {
  if (size > 0x7FFFFFFFu) throw std::length_error("CompressBlock: input of 2 GiB or more");
  if (data == nullptr && size != 0) throw std::invalid_argument("CompressBlock: null input");

  const SearchLimits limits = LimitsFor(effort);
  StreamWriter writer(size);
  MatchFinder finder(data, size, limits);
  size_t p = 0;
  while (p < size) {
    Match m = finder.Find(p);
    if (m.length == 0) {
      writer.Literal(data[p]);
      ++p;
      continue;
    }
    // Lazy step: a literal here and the next position's match pay when they
    // cost fewer bits per byte covered than this match.
    while (m.length < limits.lazyBelow && p + 1 < size) {
      const Match next = finder.Find(p + 1);
      if (next.length == 0) break;
      const size_t thisBits = static_cast<size_t>(Cost(m)), thisBytes = m.length;
      const size_t laterBits = static_cast<size_t>(9 + Cost(next)), laterBytes = next.length + 1;
      if (laterBits * thisBytes >= thisBits * laterBytes) break;
      writer.Literal(data[p]);
      ++p;
      m = next;
    }
    writer.Emit(m);
    p += m.length;
  }
  writer.End();
  return writer.Finish();
}

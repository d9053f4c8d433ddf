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
// A stream's size is its data bytes plus four bytes per 32 control bits, so
// the sum of these sizes is what a parse has to make small.
//
// Two parsers share the stream writer:
// - The optimal parse (kNormal, kBest) prices every way of reaching every
//   position of a stretch of input: a literal, the nearest two-byte match,
//   and every length of the long matches found there, each at the nearest
//   distance that has it, and then follows the cheapest way back. Its match
//   finder is a binary tree over the window, which reports exactly those
//   nearest distances as it inserts the position.
// - The lazy parse (kFast) takes the longest match of a hash chain search
//   unless a literal and the next position's match cost fewer bits a byte.
#include "packer/compress.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

constexpr size_t kLongReach = 8192;      // a long match reaches back this far
constexpr size_t kShortReach = 2303;     // the two-byte match, wide form
constexpr size_t kShortNearReach = 256;  // the two-byte match, narrow form
constexpr size_t kMinLong = 3;
constexpr size_t kMaxLong = 282;
constexpr uint32_t kEndValue = 2303;

constexpr uint32_t kLiteralBits = 9;
constexpr uint32_t kLongPrefixBits = 2;
// Distance code bits by class: offsets below 512, 1024, 2048, 4096, 8192.
constexpr uint32_t kDistanceClassBits[5] = {10, 11, 13, 15, 16};

uint32_t DistanceClass(size_t distance) {
  const size_t offset = distance - 1;
  if (offset < 512) return 0;
  if (offset < 1024) return 1;
  if (offset < 2048) return 2;
  if (offset < 4096) return 3;
  return 4;
}

uint32_t DistanceCost(size_t distance) { return kDistanceClassBits[DistanceClass(distance)]; }

uint32_t LengthCost(size_t length) {
  if (length == 3) return 1;
  if (length == 4) return 2;
  if (length <= 6) return 4;
  if (length <= 10) return 6;
  if (length <= 26) return 9;
  return 13;
}

uint32_t ShortCost(size_t distance) { return distance <= kShortNearReach ? 11 : 14; }

struct Match {
  size_t length;    // 0: none; 2: two-byte form; 3..282: long form
  size_t distance;  // 1..kLongReach
};

// Bits of the code for `m` (a match, length 2 or more).
uint32_t Cost(const Match& m) {
  if (m.length == 2) return ShortCost(m.distance);
  return kLongPrefixBits + DistanceCost(m.distance) + LengthCost(m.length);
}

size_t MatchLength(const uint8_t* a, const uint8_t* b, size_t from, size_t limit) {
  size_t n = from;
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) {
      const uint64_t diff = x ^ y;
#if defined(__GNUC__) || defined(__clang__)
      if (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) return n + static_cast<size_t>(__builtin_ctzll(diff)) / 8;
#endif
      break;
    }
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// Appends codes to the stream. Control bits fill a word reserved at the
// position the decoder will read it from: the first time a bit is needed
// after the previous word's 32 bits are spent.
class StreamWriter {
 public:
  explicit StreamWriter(size_t inputSize) { out_.reserve(inputSize + inputSize / 8 + 16); }

  // `count` (1 to 31) bits of `value`, most significant first.
  void Bits(uint32_t value, int count) {
    while (count > 0) {
      if (free_ == 0) {
        FlushWord();
        wordAt_ = out_.size();
        out_.resize(out_.size() + 4);
        word_ = 0;
        free_ = 32;
      }
      const int n = count < free_ ? count : free_;
      const uint32_t part = (value >> (count - n)) & ((1u << n) - 1u);
      free_ -= n;
      count -= n;
      word_ |= part << free_;
    }
  }

  void Byte(uint32_t value) { out_.push_back(static_cast<uint8_t>(value)); }

  void Literal(uint8_t value) {
    Bits(1, 1);
    Byte(value);
  }

  void ShortMatch(size_t distance) {
    if (distance <= kShortNearReach) {
      Bits(0b010, 3);
      Byte(static_cast<uint32_t>(distance - 1));
    } else {
      const uint32_t v = static_cast<uint32_t>(distance - 1) - 256;
      Bits(0b011, 3);
      Byte(v >> 3);
      Bits(v & 7u, 3);
    }
  }

  void LongMatch(size_t length, size_t distance) {
    const uint32_t offset = static_cast<uint32_t>(distance - 1);
    // "00" and the class prefix go out together: both come before the byte.
    if (offset < 512) {
      Bits(0b001, 3);
      Byte(offset >> 1);
      Bits(offset & 1u, 1);
    } else if (offset < 1024) {
      Bits(0b0001, 4);
      Byte((offset - 512) >> 1);
      Bits((offset - 512) & 1u, 1);
    } else if (offset < 2048) {
      Bits(0b00001, 5);
      Byte((offset - 1024) >> 2);
      Bits((offset - 1024) & 3u, 2);
    } else if (offset < 4096) {
      Bits(0b000001, 6);
      Byte((offset - 2048) >> 3);
      Bits((offset - 2048) & 7u, 3);
    } else {
      Bits(0b000000, 6);
      Byte((offset - 4096) >> 4);
      Bits((offset - 4096) & 15u, 4);
    }
    const uint32_t n = static_cast<uint32_t>(length);
    if (n == 3) {
      Bits(1, 1);
    } else if (n == 4) {
      Bits(0b01, 2);
    } else if (n <= 6) {
      Bits(0b0010 | (n - 5), 4);
    } else if (n <= 10) {
      Bits(0b000100 | (n - 7), 6);
    } else if (n <= 26) {
      Bits(0b000010000 | (n - 11), 9);
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

// Tables are sized to the input, so that a small entry is not charged for
// clearing tables made for a large one: the bits of a hash with about two
// buckets per position, from `least` to `most`.
int TableBits(size_t size, int least, int most) {
  int bits = least;
  while (bits < most && (size_t{1} << bits) < 2 * size) ++bits;
  return bits;
}

// The newest earlier position of each byte pair within kShortReach. The
// pairs are hashed into buckets; a bucket's positions are chained from the
// newest, and the walk checks the bytes, so a shared bucket costs steps but
// never gives a wrong pair. With 16 bits the hash is the pair itself.
class PairFinder {
 public:
  PairFinder(const uint8_t* data, size_t size)
      : in_(data), size_(size), bits_(TableBits(size, 10, 16)), head_(size_t{1} << bits_, 0),
        chain_(kChainSize, 0) {}

  // The distance of the nearest earlier occurrence of the two bytes at `p`
  // among the positions recorded, or 0.
  size_t Nearest(size_t p) const {
    if (size_ - p < 2) return 0;
    for (uint32_t q = head_[Bucket(in_ + p)], steps = kSteps; q != 0 && steps != 0;
         q = chain_[(q - 1) & kChainMask], --steps) {
      const size_t distance = p + 1 - q;
      if (distance > kShortReach) break;
      if (in_[q - 1] == in_[p] && in_[q] == in_[p + 1]) return distance;
    }
    return 0;
  }

  // Records position `p`; positions are recorded in order, each once.
  void Record(size_t p) {
    if (size_ - p < 2) return;
    uint32_t& head = head_[Bucket(in_ + p)];
    chain_[p & kChainMask] = head;
    head = static_cast<uint32_t>(p + 1);
  }

  void Prefetch(size_t p) const {
    if (size_ - p >= 2) PrefetchAddress(&head_[Bucket(in_ + p)]);
  }

  static void PrefetchAddress(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
  }

 private:
  static constexpr size_t kChainSize = 4096;  // a power of two above kShortReach
  static constexpr size_t kChainMask = kChainSize - 1;
  static constexpr uint32_t kSteps = 16;

  uint32_t Bucket(const uint8_t* p) const {
    const uint32_t pair = uint32_t{p[0]} | (uint32_t{p[1]} << 8);
    return bits_ == 16 ? pair : (pair * 2654435761u) >> (32 - bits_);
  }

  const uint8_t* in_;
  size_t size_;
  int bits_;
  std::vector<uint32_t> head_;   // newest position + 1 of each bucket
  std::vector<uint32_t> chain_;  // the position + 1 before each, by position
};

// ---- the optimal parse ----

// A long match the tree finder reports.
struct Candidate {
  uint32_t length;
  uint32_t distance;
};

// A binary search tree of the positions within kLongReach, ordered by the
// bytes that follow each, in which every node is newer than the nodes below
// it; one tree per three-byte hash. Inserting a position walks from the
// newest position of its hash down to the new position's place and splits
// the tree around it, so the new position becomes the root and every node
// met on the way is compared with it. The positions that share the first n
// bytes with the new one form a contiguous run of that order whose newest
// member lies on the walk, so each time the walk meets a longer match it
// is at the nearest distance that has that length (within `depth` steps).
class TreeFinder {
 public:
  TreeFinder(const uint8_t* data, size_t size, uint32_t depth)
      : in_(data), size_(size), depth_(depth), hashBits_(TableBits(size, 10, 16)),
        treeMask_((size_t{1} << TableBits(size, 6, 14)) - 1), head_(size_t{1} << hashBits_, 0),
        son_(2 * (treeMask_ + 1), 0), pairs_(data, size) {}

  // Inserts position `p` (positions are taken in order, each once) and
  // stores in `out` (kMaxLong entries) the matches met, each longer and no
  // nearer than the one before. Returns their number.
  size_t Find(size_t p, Candidate* out) { return Insert<true>(p, out); }
  void Skip(size_t p) { Insert<false>(p, nullptr); }

  // The distance of the nearest earlier occurrence of the two bytes at `p`
  // within kShortReach, or 0; then records `p` as the newest.
  size_t NearestPair(size_t p) {
    // The tables are too large for the nearest cache: ask for the next
    // position's entries while this one is worked on.
    if (size_ - p >= 4) {
      pairs_.Prefetch(p + 1);
      PairFinder::PrefetchAddress(&head_[Hash3(in_ + p + 1)]);
    }
    const size_t distance = pairs_.Nearest(p);
    pairs_.Record(p);
    return distance;
  }

 private:
  // The tree's slots are taken by position modulo their number, a power of
  // two above kLongReach (or above the input's size).
  // Node values are positions plus kBias; 0, the empty link, then lies more
  // than kLongReach before every position and ends a walk like an old node.
  static constexpr uint32_t kBias = 16384;

  uint32_t Hash3(const uint8_t* p) const {
    const uint32_t v = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    return (v * 2654435761u) >> (32 - hashBits_);
  }

  template <bool kCollect>
  size_t Insert(size_t p, Candidate* out) {
    const size_t available = size_ - p;
    // Nothing after `p` can match three bytes from here.
    if (available < kMinLong) return 0;
    const size_t limit = available < kMaxLong ? available : kMaxLong;
    const uint8_t* const here = in_ + p;
    const uint32_t current = static_cast<uint32_t>(p) + kBias;
    uint32_t& head = head_[Hash3(here)];
    uint32_t node = head;
    head = current;
    uint32_t* const slot = &son_[(p & treeMask_) * 2];
    uint32_t* smaller = slot;      // where the next node ordered below `p` goes
    uint32_t* larger = slot + 1;   // and above it
    size_t smallerLength = 0, largerLength = 0;
    size_t best = kMinLong - 1;
    size_t count = 0;
    for (uint32_t steps = depth_;; --steps) {
      const uint32_t distance = current - node;
      if (steps == 0 || distance > kLongReach) {
        *smaller = 0;
        *larger = 0;
        return count;
      }
      uint32_t* const pair = &son_[((p - distance) & treeMask_) * 2];
      const uint8_t* const there = here - distance;
      // Both sides' nodes share at least the shorter of their lengths.
      size_t length = std::min(smallerLength, largerLength);
      if (there[length] == here[length]) {
        length = MatchLength(there, here, length + 1, limit);
        if (length > best) {
          best = length;
          if (kCollect) out[count++] = {static_cast<uint32_t>(length), distance};
          if (length == limit) {
            // The same bytes as far as we compare: take over its children.
            *smaller = pair[0];
            *larger = pair[1];
            return count;
          }
        }
      }
      if (there[length] < here[length]) {
        *smaller = node;
        smaller = pair + 1;
        node = *smaller;
        smallerLength = length;
      } else {
        *larger = node;
        larger = pair;
        node = *larger;
        largerLength = length;
      }
    }
  }

  const uint8_t* in_;
  size_t size_;
  uint32_t depth_;
  int hashBits_;
  size_t treeMask_;
  std::vector<uint32_t> head_;  // newest position + kBias of each hash
  std::vector<uint32_t> son_;   // two links per tree slot: below, above
  PairFinder pairs_;
};

// How the cheapest way found so far reaches a position, in one number: its
// price in bits in the high half, and in the low half the code that ends
// there (its length, 1 for a literal, 2 for the two-byte form, 3 to 282 for
// a long match, then its distance), so that keeping the cheaper of two ways
// is keeping the smaller number.
using Way = uint64_t;
constexpr Way kUnreached = ~Way{0};

Way MakeWay(uint32_t price, size_t length, size_t distance) {
  return (Way{price} << 32) | (Way{length} << 16) | distance;
}
uint32_t PriceOf(Way way) { return static_cast<uint32_t>(way >> 32); }
size_t LengthOf(Way way) { return static_cast<size_t>(way >> 16) & 0xFFFFu; }
size_t DistanceOf(Way way) { return static_cast<size_t>(way) & 0xFFFFu; }

// Bits of the long match's length code, by length.
struct LengthCostTable {
  uint8_t bits[kMaxLong + 1];
  LengthCostTable() {
    for (size_t n = 0; n <= kMaxLong; ++n) bits[n] = n < kMinLong ? 0 : static_cast<uint8_t>(LengthCost(n));
  }
};

// Length classes of the long match: the first length of each, and an end.
constexpr size_t kLengthClassStart[7] = {3, 4, 5, 7, 11, 27, kMaxLong + 1};

// Tells `onProgress` how far the parse has come, once per MiB at most.
class ProgressReport {
 public:
  explicit ProgressReport(const CompressProgress& onProgress) : onProgress_(onProgress) {}
  void Reached(size_t parsed) {
    if (!onProgress_ || parsed - told_ < kStep) return;
    told_ = parsed;
    onProgress_(parsed);
  }

 private:
  static constexpr size_t kStep = size_t{1} << 20;
  const CompressProgress& onProgress_;
  size_t told_ = 0;
};

// `depth` bounds the steps of a tree search; a match of `takeWhole` bytes or
// more is taken as it is: the positions it covers are only inserted into the
// tree, not priced.
void OptimalParse(const uint8_t* in, size_t size, uint32_t depth, size_t takeWhole,
                  StreamWriter& writer, ProgressReport& progress) {
  static const LengthCostTable kLengthBits;
  // The prices of a stretch of positions are worked out before its path is
  // written. A stretch ends after at least kStretch positions at the first
  // position that no priced code runs past, so that every parse goes through
  // it and cutting there loses nothing; where none comes within kOverrun
  // more positions, it ends there anyway.
  constexpr size_t kStretch = size_t{1} << 16;
  constexpr size_t kOverrun = 4096;
  TreeFinder finder(in, size, depth);
  std::vector<Way> ways(std::min(size, kStretch + kOverrun + kMaxLong) + 1);
  std::vector<Way> path;
  Candidate found[kMaxLong];

  size_t start = 0;
  while (start < size) {
    const size_t horizon = start + kStretch;
    const size_t last = std::min(size - start, kStretch + kOverrun + kMaxLong);
    std::fill(ways.begin(), ways.begin() + static_cast<ptrdiff_t>(last + 1), kUnreached);
    ways[0] = 0;
    Way* const way = ways.data();

    size_t p = start;
    size_t farthest = start;  // where the farthest code priced so far ends
    while (p < size && (p < horizon || (farthest > p && p < horizon + kOverrun))) {
      // Every position up to here is reached: by a literal at least.
      const size_t at = p - start;
      const uint32_t base = PriceOf(way[at]);
      const size_t pair = finder.NearestPair(p);
      const size_t count = finder.Find(p, found);
      way[at + 1] = std::min(way[at + 1], MakeWay(base + kLiteralBits, 1, 0));
      if (pair != 0) way[at + 2] = std::min(way[at + 2], MakeWay(base + ShortCost(pair), 2, pair));
      farthest = std::max(farthest, p + (pair != 0 ? 2 : 1));
      if (count == 0) {
        ++p;
        continue;
      }
      const Candidate longest = found[count - 1];
      farthest = std::max(farthest, p + longest.length);
      if (longest.length >= takeWhole) {
        const uint32_t cost = kLongPrefixBits + DistanceCost(longest.distance) + kLengthBits.bits[longest.length];
        way[at + longest.length] =
            std::min(way[at + longest.length], MakeWay(base + cost, longest.length, longest.distance));
        for (size_t k = 1; k < longest.length; ++k) {
          finder.NearestPair(p + k);
          finder.Skip(p + k);
        }
        p += longest.length;
        continue;
      }
      // Each length at the nearest distance that has it; a match is passed
      // over when the next one is in the same distance class, which gives
      // every length it has at the same cost. Within a length class the
      // price is the same too, and only the length in the way changes.
      size_t length = kMinLong;
      size_t lengthClass = 0;
      for (size_t k = 0; k < count; ++k) {
        const uint32_t cls = DistanceClass(found[k].distance);
        if (k + 1 < count && DistanceClass(found[k + 1].distance) == cls) continue;
        const uint32_t matchBase = base + kLongPrefixBits + kDistanceClassBits[cls];
        const size_t distance = found[k].distance;
        const size_t end = found[k].length + 1;
        while (length < end) {
          while (kLengthClassStart[lengthClass + 1] <= length) ++lengthClass;
          const size_t classEnd = std::min(end, kLengthClassStart[lengthClass + 1]);
          Way candidate = MakeWay(matchBase + kLengthBits.bits[length], length, distance);
          Way* target = way + at + length;
          for (size_t n = classEnd - length; n != 0; --n, ++target, candidate += Way{1} << 16)
            *target = std::min(*target, candidate);
          length = classEnd;
        }
      }
      ++p;
    }

    // `p` is reached and no code runs past it: the path back from it.
    path.clear();
    for (size_t at = p - start; at > 0; at -= LengthOf(way[at])) path.push_back(way[at]);
    size_t q = start;
    for (auto step = path.rbegin(); step != path.rend(); ++step) {
      const size_t length = LengthOf(*step);
      if (length == 1) {
        writer.Literal(in[q]);
      } else {
        writer.Emit({length, DistanceOf(*step)});
      }
      q += length;
    }
    start = p;
    progress.Reached(start);
  }
}

// ---- the lazy parse ----

struct SearchLimits {
  int chain;           // candidates tried per position
  size_t goodEnough;   // stop searching at this length
  size_t lazyBelow;    // look one position ahead while the match is shorter
};

// Hash chains over three-byte prefixes within kLongReach, and the latest
// position of every two-byte prefix for the two-byte form. Positions are
// added lazily, just before a search at a later position.
class ChainFinder {
 public:
  ChainFinder(const uint8_t* data, size_t size, const SearchLimits& limits)
      : in_(data), size_(size), limits_(limits),
        hashBits_(TableBits(size, 10, 15)), chainMask_((size_t{1} << TableBits(size, 6, 14)) - 1),
        head_(size_t{1} << hashBits_, -1), prev_(chainMask_ + 1, -1), pairs_(data, size) {}

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
          const size_t length = MatchLength(c, in_ + p, 0, limit);
          if (length > best.length && length >= kMinLong) {
            best = {length, p - static_cast<size_t>(candidate)};
            if (length >= limit || length >= limits_.goodEnough) break;
          }
        }
        const int32_t next = prev_[static_cast<size_t>(candidate) & chainMask_];
        if (next >= candidate) break;
        candidate = next;
      }
    }
    if (best.length == 0) {
      const size_t distance = pairs_.Nearest(p);
      if (distance != 0) best = {2, distance};
    }
    return best;
  }

 private:
  // The chain's slots are taken by position modulo their number, a power of
  // two above kLongReach (or above the input's size).
  uint32_t Hash3(const uint8_t* p) const {
    const uint32_t v = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    return (v * 2654435761u) >> (32 - hashBits_);
  }

  void InsertUpTo(size_t p) {
    for (; inserted_ < p; ++inserted_) {
      const size_t q = inserted_;
      if (q + 2 < size_) {
        const uint32_t h = Hash3(in_ + q);
        prev_[q & chainMask_] = head_[h];
        head_[h] = static_cast<int32_t>(q);
      }
      pairs_.Record(q);
    }
  }

  const uint8_t* in_;
  size_t size_;
  SearchLimits limits_;
  int hashBits_;
  size_t chainMask_;
  std::vector<int32_t> head_;
  std::vector<int32_t> prev_;
  PairFinder pairs_;
  size_t inserted_ = 0;
};

void LazyParse(const uint8_t* data, size_t size, const SearchLimits& limits, StreamWriter& writer,
               ProgressReport& progress) {
  ChainFinder finder(data, size, limits);
  size_t p = 0;
  while (p < size) {
    progress.Reached(p);
    Match m = finder.Find(p);
    if (m.length == 0) {
      writer.Literal(data[p]);
      ++p;
      continue;
    }
    // A literal here and the next position's match pay when they cost fewer
    // bits per byte covered than this match.
    while (m.length < limits.lazyBelow && p + 1 < size) {
      const Match next = finder.Find(p + 1);
      if (next.length == 0) break;
      const size_t thisBits = Cost(m), thisBytes = m.length;
      const size_t laterBits = kLiteralBits + Cost(next), laterBytes = next.length + 1;
      if (laterBits * thisBytes >= thisBits * laterBytes) break;
      writer.Literal(data[p]);
      ++p;
      m = next;
    }
    writer.Emit(m);
    p += m.length;
  }
}

}  // namespace

std::vector<uint8_t> CompressBlock(const uint8_t* data, size_t size, CompressEffort effort,
                                   const CompressProgress& onProgress) {
  if (size > 0x7FFFFFFFu) throw std::length_error("CompressBlock: input of 2 GiB or more");
  if (data == nullptr && size != 0) throw std::invalid_argument("CompressBlock: null input");

  StreamWriter writer(size);
  ProgressReport progress(onProgress);
  switch (effort) {
    case CompressEffort::kFast:
      LazyParse(data, size, {16, 64, 32}, writer, progress);
      break;
    case CompressEffort::kNormal:
      OptimalParse(data, size, 16, 64, writer, progress);
      break;
    case CompressEffort::kBest:
      OptimalParse(data, size, 64, kMaxLong, writer, progress);
      break;
  }
  writer.End();
  return writer.Finish();
}

#include "packer/patch_maker.h"

#include <divsufsort.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "package/format.h"
#include "package/sha256.h"

namespace {

// An exact match shorter than this is not worth an operation that moves
// the old position; one that moves it far (a seek of several bytes, which
// no stream match shortens) must be longer still, or common phrases found
// all over a large old file cost more than the bytes they stand for.
constexpr size_t kShortestAnchor = 12;
constexpr size_t kShortestFarAnchor = 32;
constexpr size_t kNearSeek = 1u << 12;
// Where an alignment breaks, it resumes when this many bytes match again
// within kResumeReach bytes; a resumed run this long is kept without
// looking elsewhere.
constexpr size_t kResumeRun = 4;
constexpr size_t kResumeReach = 32;
constexpr size_t kTrustedRun = 32;
// Where no exact run resumes, the alignment still holds while at least
// kLooseShare of the next kLooseReach bytes agree with it.
constexpr size_t kLooseReach = 64;
constexpr size_t kLooseShare = 16;
constexpr size_t kNearbyShift = 16;
// How changed bytes are grouped. Equal stretches shorter than
// `shortestEqual` between changed bytes cost less as zero differences than
// as an operation of their own; a run of changes is made at least
// `shortestChange` long, so that a moved address reads the same whether or
// not its change carried into the next byte, and a table of them repeats
// exactly. Which shape packs smallest depends on the file, so each of these
// is tried.
struct Shape {
  size_t shortestEqual, shortestChange;
};
constexpr Shape kShapes[] = {{2, 1}, {4, 1}, {2, 2}, {4, 2}};
constexpr size_t kLargestFile = 0x7FFFFFFF;

size_t CommonPrefix(const uint8_t* a, size_t aLength, const uint8_t* b, size_t bLength) {
  const size_t limit = std::min(aLength, bLength);
  size_t n = 0;
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + (size_t)(__builtin_ctzll(x ^ y) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// How many of the first `length` bytes of `b` equal `a` at the same place.
size_t SameBytes(const uint8_t* a, size_t aLength, const uint8_t* b, size_t length) {
  const size_t limit = std::min(aLength, length);
  size_t same = 0;
  for (size_t i = 0; i < limit; ++i) same += a[i] == b[i];
  return same;
}

struct Match {
  size_t length = 0;
  size_t oldAt = 0;
};

uint64_t AnchorHash(const uint8_t* bytes) {
  static_assert(kShortestAnchor == 12, "the hash reads 12 bytes");
  uint64_t head;
  uint32_t tail;
  std::memcpy(&head, bytes, 8);
  std::memcpy(&tail, bytes + 8, 4);
  const uint64_t mixed = (head ^ ((uint64_t)tail << 29)) * 0x9E3779B97F4A7C15ull + tail;
  return mixed ^ (mixed >> 29);
}

class OldIndex {
 public:
  OldIndex(const uint8_t* old, size_t size) : old_(old), size_(size), suffixes_(size) {
    if (size && divsufsort(old, suffixes_.data(), (saidx_t)size) != 0)
      throw std::runtime_error("suffix sorting failed");
    // A bit for the hash of every anchor-long stretch of the old file: where
    // the new file's bit is clear no anchor can start, and bytes that are
    // found nowhere are passed over without a search.
    // Two bits of 16 per stretch: about one search in 70 finds nothing.
    size_t bits = size_t{1} << 16;
    while (bits < size * 16 && bits < (size_t{1} << 31)) bits <<= 1;
    anchorBits_.assign(bits / 64, 0);
    anchorMask_ = bits - 1;
    for (size_t at = 0; at + kShortestAnchor <= size; ++at) {
      const uint64_t hash = AnchorHash(old + at);
      Set(hash & anchorMask_);
      Set((hash >> 32) & anchorMask_);
    }
  }

  // False when no stretch of kShortestAnchor bytes of the old file is
  // `text`'s first bytes; true when one may be.
  bool MayAnchor(const uint8_t* text, size_t length) const {
    if (length < kShortestAnchor) return false;
    const uint64_t hash = AnchorHash(text);
    return IsSet(hash & anchorMask_) && IsSet((hash >> 32) & anchorMask_);
  }

  // The longest prefix of `text` found in the old file. A binary search
  // over the sorted suffixes; the longest match is one of the suffixes it
  // visits last on either side, and the prefix common to both bounds is
  // never compared again.
  Match Longest(const uint8_t* text, size_t length) const {
    Match best;
    size_t low = 0, high = size_, lowCommon = 0, highCommon = 0;
    while (low < high) {
      const size_t middle = low + (high - low) / 2;
      const size_t at = (size_t)suffixes_[middle];
      const size_t skip = std::min(lowCommon, highCommon);
      const size_t common =
          skip + CommonPrefix(old_ + at + skip, size_ - at - skip, text + skip, length - skip);
      if (common > best.length) best = {common, at};
      if (common == length) break;
      if (at + common == size_ || old_[at + common] < text[common]) {
        low = middle + 1;
        lowCommon = common;
      } else {
        high = middle;
        highCommon = common;
      }
    }
    return best;
  }

 private:
  const uint8_t* old_;
  size_t size_;
  std::vector<saidx_t> suffixes_;
  void Set(uint64_t bit) { anchorBits_[bit / 64] |= uint64_t{1} << (bit % 64); }
  bool IsSet(uint64_t bit) const { return (anchorBits_[bit / 64] >> (bit % 64)) & 1; }

  std::vector<uint64_t> anchorBits_;
  uint64_t anchorMask_ = 0;
};

bool WorthAnchoring(const Match& match, size_t oldPosition) {
  const size_t distance =
      match.oldAt > oldPosition ? match.oldAt - oldPosition : oldPosition - match.oldAt;
  return match.length >= (distance < kNearSeek ? kShortestAnchor : kShortestFarAnchor);
}

// New bytes [newStart, newStart + length) coded against old bytes from
// oldStart on.
struct Segment {
  size_t newStart, oldStart, length;
};

std::vector<Segment> Align(const OldIndex& index, const uint8_t* old, size_t oldSize,
                           const uint8_t* next, size_t newSize) {
  std::vector<Segment> segments;
  size_t position = 0, gapStart = 0;
  bool aligned = false;
  Segment current{};
  auto close = [&](size_t end) {
    current.length = end - current.newStart;
    segments.push_back(current);
    gapStart = end;
    aligned = false;
  };
  auto open = [&](size_t at, const Match& match) {
    size_t newStart = at, oldStart = match.oldAt;
    while (newStart > gapStart && oldStart > 0 && next[newStart - 1] == old[oldStart - 1])
      --newStart, --oldStart;
    current = {newStart, oldStart, 0};
    aligned = true;
  };
  while (position < newSize) {
    if (!aligned) {
      // Shortly after an alignment is lost, one close to it (the next part
      // padded differently) may hold loosely where no exact match is long.
      // Before the first alignment, the old position's start stands in.
      if (position - gapStart < kLooseReach) {
        const Segment last = segments.empty() ? Segment{0, 0, 0} : segments.back();
        const size_t reach = std::min(kLooseReach, newSize - position);
        size_t bestSame = 0, bestOld = 0;
        for (size_t shift = 0; shift <= 2 * kNearbyShift; ++shift) {
          const size_t oldAt = position + last.oldStart + shift;
          if (oldAt < last.newStart + kNearbyShift) continue;
          const size_t at = oldAt - last.newStart - kNearbyShift;
          if (at >= oldSize) break;
          const size_t same = SameBytes(old + at, oldSize - at, next + position, reach);
          if (same > bestSame) bestSame = same, bestOld = at;
        }
        if (bestSame >= kLooseShare * 2 && next[position] == old[bestOld]) {
          current = {position, bestOld, 0};
          aligned = true;
          continue;
        }
      }
      if (!index.MayAnchor(next + position, newSize - position)) {
        ++position;
        continue;
      }
      const Match match = index.Longest(next + position, newSize - position);
      const size_t oldPosition =
          segments.empty() ? 0 : segments.back().oldStart + segments.back().length;
      if (WorthAnchoring(match, oldPosition)) {
        open(position, match);
        position += match.length;
      } else {
        ++position;
      }
      continue;
    }
    size_t oldAt = current.oldStart + (position - current.newStart);
    const size_t run =
        CommonPrefix(old + oldAt, oldSize - oldAt, next + position, newSize - position);
    position += run;
    oldAt += run;
    if (position == newSize) break;
    if (oldAt == oldSize) {
      close(position);
      continue;
    }
    // Changed bytes here: does the same alignment pick up again shortly?
    size_t skip = 0, resumed = 0;
    for (size_t k = 1; k <= kResumeReach && position + k < newSize && oldAt + k < oldSize; ++k) {
      resumed = CommonPrefix(old + oldAt + k, std::min(oldSize - oldAt - k, kTrustedRun),
                             next + position + k, newSize - position - k);
      if (resumed >= kResumeRun) {
        skip = k;
        break;
      }
    }
    if (!skip && SameBytes(old + oldAt, oldSize - oldAt, next + position,
                           std::min(kLooseReach, newSize - position)) >= kLooseShare) {
      // Dense small changes (tables of moved addresses): the alignment
      // holds; its changed bytes cost no more than added ones would.
      skip = 1;
      while (position + skip < newSize && oldAt + skip < oldSize &&
             next[position + skip] != old[oldAt + skip])
        ++skip;
    }
    if (skip && resumed >= kTrustedRun) {
      position += skip;
      continue;
    }
    // A match elsewhere takes over only when it is clearly longer than what
    // the current alignment gets right over the same bytes: code that moved
    // keeps matching its old place with scattered changes, and a longer
    // exact match at an unrelated place would only break that up.
    const Match match = index.MayAnchor(next + position, newSize - position)
                            ? index.Longest(next + position, newSize - position)
                            : Match{};
    if (WorthAnchoring(match, oldAt) &&
        match.length > SameBytes(old + oldAt, oldSize - oldAt, next + position, match.length) + 8) {
      close(position);
      open(position, match);
      position += match.length;
    } else if (skip) {
      position += skip;
    } else {
      close(position);
    }
  }
  if (aligned) close(position);
  return segments;
}

void PutNumber(std::vector<uint8_t>& out, uint32_t value) {
  while (value >= 0x80) {
    out.push_back((uint8_t)(value | 0x80));
    value >>= 7;
  }
  out.push_back((uint8_t)value);
}

struct Recipe {
  std::vector<uint8_t> streams[kPatchStreams];
  size_t equalBytes = 0, changedBytes = 0, addedBytes = 0;
};

// Jump to the next segment (or the end): the added bytes, then the seek.
void PutJump(Recipe& recipe, const uint8_t* next, size_t from, size_t to, size_t oldFrom,
             size_t oldTo) {
  PutNumber(recipe.streams[kPatchOperations], (uint32_t)(to - from));
  std::vector<uint8_t>& added = recipe.streams[kPatchAdded];
  added.insert(added.end(), next + from, next + to);
  recipe.addedBytes += to - from;
  const uint32_t seek =
      oldTo >= oldFrom ? (uint32_t)(oldTo - oldFrom) * 2 : (uint32_t)(oldFrom - oldTo) * 2 - 1;
  PutNumber(recipe.streams[kPatchSeeks], seek);
}

void PutCopy(Recipe& recipe, size_t equal, size_t changed, bool jump) {
  constexpr size_t kLongestEqual = size_t{1} << 28;  // equal * 8 stays within 32 bits
  std::vector<uint8_t>& operations = recipe.streams[kPatchOperations];
  for (; equal > kLongestEqual; equal -= kLongestEqual)
    PutNumber(operations, (uint32_t)(kLongestEqual * 8));
  PutNumber(operations, (uint32_t)(equal * 8 + std::min<size_t>(changed, 3) * 2 + jump));
  if (changed >= 3) PutNumber(operations, (uint32_t)(changed - 3));
}

Recipe Encode(const std::vector<Segment>& segments, const uint8_t* old, const uint8_t* next,
              size_t newSize, const Shape& shape) {
  Recipe recipe;
  size_t oldPosition = 0;
  if (segments.empty() ? newSize > 0
                       : segments.front().newStart > 0 || segments.front().oldStart > 0) {
    const size_t to = segments.empty() ? newSize : segments.front().newStart;
    const size_t oldTo = segments.empty() ? 0 : segments.front().oldStart;
    PutCopy(recipe, 0, 0, true);
    PutJump(recipe, next, 0, to, 0, oldTo);
    oldPosition = oldTo;
  }
  for (size_t s = 0; s < segments.size(); ++s) {
    const Segment& segment = segments[s];
    const uint8_t* n = next + segment.newStart;
    const uint8_t* o = old + segment.oldStart;
    const size_t length = segment.length;
    const size_t end = segment.newStart + length;
    const size_t nextStart = s + 1 < segments.size() ? segments[s + 1].newStart : newSize;
    const size_t nextOld =
        s + 1 < segments.size() ? segments[s + 1].oldStart : segment.oldStart + length;
    const bool jumps = nextStart > end || nextOld != segment.oldStart + length;
    size_t i = 0;
    do {
      const size_t equalEnd = i + CommonPrefix(o + i, length - i, n + i, length - i);
      size_t changedEnd = equalEnd;
      while (changedEnd < length) {
        if (n[changedEnd] != o[changedEnd]) {
          ++changedEnd;
          continue;
        }
        size_t same = changedEnd;
        while (same < length && n[same] == o[same] && same - changedEnd < shape.shortestEqual)
          ++same;
        if (same - changedEnd >= shape.shortestEqual || same == length) break;
        changedEnd = same;
      }
      if (changedEnd > equalEnd)
        changedEnd = std::min(length, std::max(changedEnd, equalEnd + shape.shortestChange));
      PutCopy(recipe, equalEnd - i, changedEnd - equalEnd, changedEnd == length && jumps);
      int borrow = 0;
      for (size_t k = equalEnd; k < changedEnd; ++k) {
        const int difference = (int)n[k] - (int)o[k] - borrow;
        recipe.streams[kPatchDifferences].push_back((uint8_t)difference);
        borrow = difference < 0;
      }
      recipe.equalBytes += equalEnd - i;
      recipe.changedBytes += changedEnd - equalEnd;
      i = changedEnd;
    } while (i < length);
    oldPosition = segment.oldStart + length;
    if (jumps) {
      PutJump(recipe, next, end, nextStart, oldPosition, nextOld);
      oldPosition = nextOld;
    }
  }
  return recipe;
}

// The packed streams of a recipe.
struct Stored {
  std::vector<uint8_t> streams[kPatchStreams];
  bool raw[kPatchStreams] = {};
  size_t Size() const {
    size_t size = 0;
    for (const std::vector<uint8_t>& stream : streams) size += stream.size();
    return size;
  }
};

// The encoder of the streams' range coding (package/format.h), the
// applier's decoder mirrored.
class RangeEncoder {
 public:
  void Decide(uint16_t& p, unsigned bit) {
    if (range_ < (1u << 24)) {
      range_ <<= 8;
      ShiftLow();
    }
    const uint32_t bound = (range_ >> 11) * p;
    if (!bit) {
      range_ = bound;
      p = (uint16_t)(p + ((2048 - p) >> 5));
    } else {
      low_ += bound;
      range_ -= bound;
      p = (uint16_t)(p - (p >> 5));
    }
  }
  // `value` as a tree of `bits` decisions; plain bits without `probs`.
  void Tree(uint16_t* probs, unsigned bits, uint32_t value) {
    uint32_t m = 1;
    for (unsigned i = bits; i--;) {
      const unsigned bit = (value >> i) & 1;
      uint16_t plain = 1024;
      Decide(probs ? probs[m] : plain, bit);
      m = m * 2 + bit;
    }
  }
  std::vector<uint8_t> Finish() {
    for (int i = 0; i < 5; ++i) ShiftLow();
    return std::move(out_);
  }

 private:
  // Bytes leave once no carry can reach them; the first is always 0 and
  // is not written.
  void ShiftLow() {
    if ((uint32_t)low_ < 0xFF000000u || (low_ >> 32)) {
      const uint8_t carry = (uint8_t)(low_ >> 32);
      uint8_t byte = cache_;
      do {
        if (!first_) out_.push_back((uint8_t)(byte + carry));
        first_ = false;
        byte = 0xFF;
      } while (--waiting_);
      cache_ = (uint8_t)(low_ >> 24);
    }
    ++waiting_;
    low_ = (low_ & 0x00FFFFFFu) << 8;
  }
  uint64_t low_ = 0;
  uint32_t range_ = 0xFFFFFFFFu;
  uint8_t cache_ = 0;
  uint64_t waiting_ = 1;
  bool first_ = true;
  std::vector<uint8_t> out_;
};

// The probabilities' layout, as the applier's.
constexpr size_t kIsMatch = 0, kIsNewDistance = 2, kSlot = 4, kLength = kSlot + 32,
                 kLiteral = kLength + 256, kProbabilities = kLiteral + 8 * 256;
constexpr size_t kShortestMatch = 2, kLongestMatch = 257;

// The cost of a decision in 1/16 bits, by its probability.
struct Prices {
  uint16_t of[2048];
  Prices() {
    for (int p = 0; p < 2048; ++p) of[p] = (uint16_t)(p ? -std::log2(p / 2048.0) * 16 + 0.5 : 400);
  }
  unsigned Bit(uint16_t p, unsigned bit) const { return of[bit ? 2048 - p : p]; }
  unsigned Tree(const uint16_t* probs, unsigned bits, uint32_t value) const {
    unsigned price = 0;
    for (uint32_t m = 1, i = bits; i--;) {
      const unsigned bit = (value >> i) & 1;
      price += probs ? Bit(probs[m], bit) : 16;
      m = m * 2 + bit;
    }
    return price;
  }
};

unsigned SlotOf(uint32_t v) { return v < 2 ? v : 32 - (unsigned)__builtin_clz(v); }

// Range codes `data`: LZ77 over hash chains within kPatchReach, a match
// taken where it costs fewer bits, at the model's current prices, than
// literals for the same bytes, and put off by one byte when the next
// position has a longer one.
std::vector<uint8_t> RangeCode(const std::vector<uint8_t>& data, CompressEffort effort) {
  static const Prices prices;
  const size_t size = data.size();
  const uint8_t* d = data.data();
  const unsigned depth = effort == CompressEffort::kFast     ? 8
                         : effort == CompressEffort::kNormal ? 32
                                                             : 128;
  constexpr unsigned kHashBits = 18;
  std::vector<int32_t> head(size_t{1} << kHashBits, -1), chain(size);
  auto hash = [&](size_t i) {
    uint32_t x = d[i] | d[i + 1] << 8 | d[i + 2] << 16;
    return (x * 2654435761u) >> (32 - kHashBits);
  };
  size_t inserted = 0;
  auto insertUpTo = [&](size_t end) {
    for (; inserted < end && inserted + 3 <= size; ++inserted) {
      const uint32_t h = hash(inserted);
      chain[inserted] = head[h];
      head[h] = (int32_t)inserted;
    }
  };
  struct Found {
    size_t length = 0, distance = 0;
  };
  auto longest = [&](size_t i) {
    Found best;
    insertUpTo(i);
    if (i + 3 > size) return best;
    const size_t limit = std::min(kLongestMatch, size - i);
    int32_t at = head[hash(i)];
    for (unsigned steps = depth; at >= 0 && steps && i - (size_t)at <= kPatchReach; --steps) {
      const size_t n = CommonPrefix(d + at, limit, d + i, limit);
      if (n > best.length) best = {n, i - (size_t)at};
      if (n == limit) break;
      at = chain[(size_t)at];
    }
    return best;
  };

  std::vector<uint16_t> p(kProbabilities, 1024);
  RangeEncoder encoder;
  size_t i = 0, last = 0;  // last: the last match's distance, 0 before one
  unsigned after = 0;
  auto literalPrice = [&](size_t at, size_t count) {
    unsigned price = 0;
    for (size_t k = at; k < at + count; ++k)
      price += prices.Bit(p[kIsMatch + (k == at ? after : 0)], 0) +
               prices.Tree(&p[kLiteral + (k ? d[k - 1] >> 5 : 0) * 256], 8, d[k]);
    return price;
  };
  auto matchPrice = [&](size_t length, size_t distance) {
    unsigned price = prices.Bit(p[kIsMatch + after], 1) +
                     prices.Tree(&p[kLength], 8, (uint32_t)(length - kShortestMatch));
    if (distance == last) return price + prices.Bit(p[kIsNewDistance + after], 0);
    const uint32_t v = (uint32_t)(distance - 1);
    const unsigned slot = SlotOf(v);
    return price + prices.Bit(p[kIsNewDistance + after], 1) + prices.Tree(&p[kSlot], 5, slot) +
           (slot < 2 ? 0 : (slot - 1) * 16);
  };
  Found next = longest(0);
  while (i < size) {
    Found here = next;
    // The last distance again, which costs no distance.
    Found repeat;
    if (last && last <= i) {
      const size_t limit = std::min(kLongestMatch, size - i);
      repeat = {CommonPrefix(d + i - last, limit, d + i, limit), last};
    }
    next = i + 1 < size ? longest(i + 1) : Found{};
    Found chosen;
    if (repeat.length >= kShortestMatch &&
        matchPrice(repeat.length, last) < literalPrice(i, repeat.length) &&
        repeat.length + 1 >= here.length)
      chosen = repeat;
    else if (here.length >= 3 &&
             matchPrice(here.length, here.distance) < literalPrice(i, here.length) &&
             next.length <= here.length + 1)
      chosen = here;
    if (!chosen.length) {
      encoder.Decide(p[kIsMatch + after], 0);
      encoder.Tree(&p[kLiteral + (i ? d[i - 1] >> 5 : 0) * 256], 8, d[i]);
      after = 0;
      ++i;
      continue;
    }
    encoder.Decide(p[kIsMatch + after], 1);
    if (chosen.distance == last) {
      encoder.Decide(p[kIsNewDistance + after], 0);
    } else {
      encoder.Decide(p[kIsNewDistance + after], 1);
      const uint32_t v = (uint32_t)(chosen.distance - 1);
      const unsigned slot = SlotOf(v);
      encoder.Tree(&p[kSlot], 5, slot);
      if (slot >= 2) encoder.Tree(nullptr, slot - 1, v - (1u << (slot - 1)));
      last = chosen.distance;
    }
    encoder.Tree(&p[kLength], 8, (uint32_t)(chosen.length - kShortestMatch));
    after = 1;
    i += chosen.length;
    next = i < size ? longest(i) : Found{};
  }
  return encoder.Finish();
}

// Stream `k` range coded, or kept as it is when coding does not shrink it.
void Pack(const std::vector<uint8_t>& bytes, CompressEffort effort, Stored& into, u32 k) {
  std::vector<uint8_t> packed = RangeCode(bytes, effort);
  into.raw[k] = !CompressionPays(packed.size(), bytes.size());
  into.streams[k] = into.raw[k] ? bytes : std::move(packed);
}

void PutBytes(std::vector<uint8_t>& out, const void* bytes, size_t length) {
  const uint8_t* p = (const uint8_t*)bytes;
  out.insert(out.end(), p, p + length);
}

}  // namespace

std::vector<uint8_t> MakePatch(const std::vector<PatchOldVersion>& olds, const uint8_t* newData,
                               size_t newSize, CompressEffort effort, PatchMakeReport* report) {
  if (olds.empty()) throw std::length_error("a patch needs an old version");
  if (newSize > kLargestFile) throw std::length_error("file too large for a patch");
  struct Kept {
    PatchSource record;
    std::vector<uint8_t> stored;  // the streams one after the other
  };
  std::vector<Kept> kept;
  PatchMakeReport made;
  for (const PatchOldVersion& version : olds) {
    if (version.size > kLargestFile) throw std::length_error("file too large for a patch");
    Kept source{};
    source.record.oldSize = (u32)version.size;
    Sha256(version.data, (u32)version.size, source.record.oldSha256);
    const bool seen = std::any_of(kept.begin(), kept.end(), [&](const Kept& other) {
      return other.record.oldSize == source.record.oldSize &&
             std::memcmp(other.record.oldSha256, source.record.oldSha256, kSha256Size) == 0;
    });
    if (seen) continue;
    Recipe recipe;
    Stored best;
    {
      const OldIndex index(version.data, version.size);
      const std::vector<Segment> segments =
          Align(index, version.data, version.size, newData, newSize);
      // The shape changes only the operations and the differences: the
      // seeks and the added bytes are packed once.
      bool first = true;
      for (const Shape& shape : kShapes) {
        Recipe candidate = Encode(segments, version.data, newData, newSize, shape);
        Stored packed;
        for (u32 k = 0; k < kPatchStreams; ++k) {
          if (!first && (k == kPatchSeeks || k == kPatchAdded)) {
            packed.streams[k] = best.streams[k];
            packed.raw[k] = best.raw[k];
          } else {
            Pack(candidate.streams[k], effort, packed, k);
          }
        }
        const bool better = first || packed.Size() < best.Size();
        first = false;
        if (!better) continue;
        recipe = std::move(candidate);
        best = std::move(packed);
        if (!recipe.changedBytes) break;  // every shape gives the same recipe
      }
    }
    for (u32 k = 0; k < kPatchStreams; ++k) {
      if (recipe.streams[k].size() > 0xFFFFFFFFu) throw std::length_error("patch too large");
      source.record.rawStreams |= (u32)best.raw[k] << k;
      source.record.expandedSize[k] = (u32)recipe.streams[k].size();
      source.record.storedSize[k] = (u32)best.streams[k].size();
      source.stored.insert(source.stored.end(), best.streams[k].begin(), best.streams[k].end());
      made.stream += recipe.streams[k].size();
    }
    made.equalBytes += recipe.equalBytes;
    made.changedBytes += recipe.changedBytes;
    made.addedBytes += recipe.addedBytes;
    kept.push_back(std::move(source));
  }
  made.sources = kept.size();

  PatchHeader header{};
  std::memcpy(header.magic, kPatchMagic, sizeof header.magic);
  header.newSize = (u32)newSize;
  Sha256(newData, (u32)newSize, header.newSha256);
  header.sourceCount = (u32)kept.size();
  size_t offset = kPatchHeaderSize + kept.size() * kPatchSourceSize;
  for (Kept& source : kept) {
    source.record.streamOffset = (u32)offset;
    offset += source.stored.size();
  }
  if (offset > 0xFFFFFFFFu) throw std::length_error("patch too large");
  std::vector<uint8_t> container;
  container.reserve(offset);
  PutBytes(container, &header, sizeof header);
  for (const Kept& source : kept) PutBytes(container, &source.record, sizeof source.record);
  for (const Kept& source : kept) PutBytes(container, source.stored.data(), source.stored.size());
  if (report) *report = made;
  return container;
}

// Patch entries: the maker's container applied back over memory files.
// Every result is checked byte for byte and the writer's buffer carries a
// canary past the new size; damaged containers must be refused or still
// give exactly the new file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "package/format.h"
#include "package/patch.h"
#include "packer/patch_maker.h"
#include "platform/memory.h"
#include "sim/sim.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kCanary = 0xA5;
constexpr size_t kCanarySize = 16;

struct MemoryFiles {
  const Bytes* old = nullptr;
  Bytes out;  // newSize bytes, then the canary
  size_t written = 0;
  bool failReads = false;
  bool failWrites = false;
};

int ReadOld(void* context, u32 offset, u8* to, u32 length) {
  MemoryFiles* files = (MemoryFiles*)context;
  if (files->failReads || (size_t)offset + length > files->old->size()) return 0;
  if (length) std::memcpy(to, files->old->data() + offset, length);
  return 1;
}

// Writes whatever fits the whole buffer, canary included, so a result that
// runs past the new size shows as a damaged canary.
int WriteNew(void* context, const u8* bytes, u32 length) {
  MemoryFiles* files = (MemoryFiles*)context;
  if (files->failWrites || files->written + length > files->out.size()) return 0;
  std::memcpy(files->out.data() + files->written, bytes, length);
  files->written += length;
  return 1;
}

struct Outcome {
  int source = kPatchNoSource;
  int applied = 0;
  bool exact = false;  // the bytes written are the new file
  bool canaryIntact = true;
};

Outcome Apply(const Bytes& patch, const Bytes& installed, const Bytes& expected,
              int forceSource = -1, bool failReads = false, bool failWrites = false) {
  MemoryFiles memory;
  memory.old = &installed;
  memory.out.assign(expected.size() + kCanarySize, kCanary);
  memory.failReads = failReads;
  memory.failWrites = failWrites;
  PatchFiles files{(u32)installed.size(), ReadOld, &memory, WriteNew, &memory, nullptr};
  Outcome outcome;
  outcome.source = FindPatchSource(patch.data(), (u32)patch.size(), &files);
  const int index = forceSource >= 0 ? forceSource : outcome.source;
  if (index >= 0) outcome.applied = ApplyPatch(patch.data(), (u32)patch.size(), (u32)index, &files);
  outcome.exact = memory.written == expected.size() &&
                  std::equal(expected.begin(), expected.end(), memory.out.begin());
  outcome.canaryIntact = std::all_of(memory.out.end() - kCanarySize, memory.out.end(),
                                     [](uint8_t b) { return b == kCanary; });
  return outcome;
}

Bytes MakeFrom(const std::vector<const Bytes*>& olds, const Bytes& next,
               CompressEffort effort = CompressEffort::kFast) {
  std::vector<PatchOldVersion> versions;
  for (const Bytes* old : olds) versions.push_back({old->data(), old->size()});
  return MakePatch(versions, next.data(), next.size(), effort);
}

// Bytes that look like a program: runs of opcodes, small numbers, zeros.
Bytes ProgramLike(std::mt19937& random, size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) {
    const uint32_t r = random();
    bytes[i] = r % 4 == 0 ? 0 : (uint8_t)(r % 3 == 0 ? (r >> 8) : (r >> 8) % 24 + 0x40);
  }
  return bytes;
}

using Mutation = std::function<Bytes(const Bytes&, std::mt19937&)>;

Bytes Insert(const Bytes& old, std::mt19937& random) {
  Bytes next = old;
  const size_t at = old.empty() ? 0 : random() % old.size();
  const Bytes inserted = ProgramLike(random, 1 + random() % 5000);
  next.insert(next.begin() + (long)at, inserted.begin(), inserted.end());
  return next;
}
Bytes Delete(const Bytes& old, std::mt19937& random) {
  if (old.size() < 2) return Bytes();
  Bytes next = old;
  const size_t at = random() % (old.size() - 1);
  const size_t count = 1 + random() % std::min<size_t>(old.size() - at - 1, 4000);
  next.erase(next.begin() + (long)at, next.begin() + (long)(at + count));
  return next;
}
Bytes Replace(const Bytes& old, std::mt19937& random) {
  Bytes next = old;
  for (int i = 0; i < 200 && !next.empty(); ++i)
    next[random() % next.size()] ^= (uint8_t)(1 + random() % 255);
  return next;
}
Bytes Move(const Bytes& old, std::mt19937& random) {
  if (old.size() < 4) return old;
  const size_t a = random() % (old.size() / 2), b = old.size() / 2 + random() % (old.size() / 2);
  Bytes next(old.begin() + (long)b, old.end());
  next.insert(next.end(), old.begin() + (long)a, old.begin() + (long)b);
  next.insert(next.end(), old.begin(), old.begin() + (long)a);
  return next;
}
Bytes Truncate(const Bytes& old, std::mt19937& random) {
  return Bytes(old.begin(), old.begin() + (long)(old.empty() ? 0 : random() % old.size()));
}
Bytes Unrelated(const Bytes& old, std::mt19937& random) {
  return ProgramLike(random, old.size() / 2 + 1);
}
// New bytes found nowhere in the old file that repeat further apart than a
// piece of a stream: the coded stream's matches reach back across pieces.
Bytes RepeatedNew(const Bytes&, std::mt19937& random) {
  Bytes block(300000), next;
  for (uint8_t& b : block) b = (uint8_t)random();
  for (int i = 0; i < 3; ++i) next.insert(next.end(), block.begin(), block.end());
  return next;
}
Bytes Same(const Bytes& old, std::mt19937&) { return old; }
Bytes Emptied(const Bytes&, std::mt19937&) { return Bytes(); }

struct Case {
  const char* name;
  Mutation mutate;
  size_t oldSize;
};

TEST(Patch, EachMutationRoundTrips) {
  const Case cases[] = {
      {"insert", Insert, 100000},
      {"delete", Delete, 100000},
      {"replace", Replace, 100000},
      {"move", Move, 100000},
      {"truncate", Truncate, 100000},
      {"unrelated", Unrelated, 50000},
      {"identical", Same, 70000},
      {"emptied", Emptied, 1000},
      {"from empty", Insert, 0},
      {"both empty", Same, 0},
      // Larger than every window of the applier, so each moves along.
      {"large replace", Replace, 5u << 20},
      {"large insert", Insert, 3u << 20},
      {"repeated new bytes", RepeatedNew, 1000},
  };
  for (const Case& c : cases) {
    std::mt19937 random(7);
    const Bytes old = ProgramLike(random, c.oldSize);
    const Bytes next = c.mutate(old, random);
    const Bytes patch = MakeFrom({&old}, next);
    ASSERT_EQ(CheckPatchContainer(patch.data(), (u32)patch.size()), 1) << c.name;
    const long live = HostLiveAllocations();
    HostTakeLargestAllocation();
    const Outcome outcome = Apply(patch, old, next, 0);
    EXPECT_EQ(outcome.applied, 1) << c.name;
    EXPECT_TRUE(outcome.exact) << c.name;
    EXPECT_TRUE(outcome.canaryIntact) << c.name;
    EXPECT_EQ(outcome.source, old == next ? kPatchAlreadyNew : 0) << c.name;
    EXPECT_LE(HostTakeLargestAllocation(), PatchWorkspaceSize()) << c.name;
    EXPECT_EQ(HostLiveAllocations(), live) << c.name;
  }
}

TEST(Patch, WorkingMemoryIsFixed) { EXPECT_LE(PatchWorkspaceSize(), 16u << 20); }

TEST(Patch, RandomMutationChainsRoundTrip) {
  const Mutation mutations[] = {Insert, Delete, Replace, Move, Truncate};
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    std::mt19937 random(seed);
    const Bytes old = ProgramLike(random, random() % 300000);
    Bytes next = old;
    for (uint32_t steps = 1 + random() % 4; steps; --steps)
      next = mutations[random() % 5](next, random);
    const Bytes patch = MakeFrom({&old}, next);
    const Outcome outcome = Apply(patch, old, next, 0);
    EXPECT_EQ(outcome.applied, 1) << "seed " << seed;
    EXPECT_TRUE(outcome.exact && outcome.canaryIntact) << "seed " << seed;
  }
}

TEST(Patch, SimilarFilesMakeSmallPatches) {
  std::mt19937 random(3);
  const Bytes old = ProgramLike(random, 1u << 20);
  Bytes shifted = old;
  shifted.insert(shifted.begin() + 1000, 17, 0x90);
  EXPECT_LT(MakeFrom({&old}, shifted, CompressEffort::kBest).size(), 300u);
  EXPECT_LT(MakeFrom({&old}, old, CompressEffort::kBest).size(), 300u);
  // Added bytes that repeat 300 KB apart cost about one copy (random
  // bytes cost the coder a little more than their size).
  const Bytes repeated = RepeatedNew(old, random);
  EXPECT_LT(MakeFrom({&old}, repeated, CompressEffort::kBest).size(), 310000u);
}

// A table of (address, length) entries whose addresses all moved by the
// same step, as in a program's symbol tables, from the first byte on: no
// exact match is long, yet the alignment holds and the recipe repeats.
TEST(Patch, MovedAddressesPatchSmall) {
  std::mt19937 random(13);
  Bytes old(1u << 16), moved(old.size());
  uint32_t address = 0x401000;
  for (size_t at = 0; at < old.size(); at += 8) {
    const uint32_t length = 16 + random() % 200;
    const uint32_t entry[2] = {address, length};
    const uint32_t shifted[2] = {address + 0x38, length};
    address += length;
    std::memcpy(old.data() + at, entry, 8);
    std::memcpy(moved.data() + at, shifted, 8);
  }
  const Bytes patch = MakeFrom({&old}, moved, CompressEffort::kBest);
  EXPECT_LT(patch.size(), 1000u);
  EXPECT_TRUE(Apply(patch, old, moved, 0).exact);
}

TEST(Patch, TheInstalledVersionPicksItsSource) {
  std::mt19937 random(11);
  const Bytes first = ProgramLike(random, 40000);
  const Bytes second = Insert(first, random);
  const Bytes third = Replace(second, random);
  const Bytes next = Delete(third, random);
  const Bytes patch = MakeFrom({&first, &second, &first, &third}, next);  // first once only
  PatchHeader header;
  std::memcpy(&header, patch.data(), sizeof header);
  EXPECT_EQ(header.sourceCount, 3u);
  const Bytes* versions[] = {&first, &second, &third};
  for (int i = 0; i < 3; ++i) {
    const Outcome outcome = Apply(patch, *versions[i], next);
    EXPECT_EQ(outcome.source, i);
    EXPECT_TRUE(outcome.applied && outcome.exact && outcome.canaryIntact) << i;
  }
  EXPECT_EQ(Apply(patch, next, next).source, kPatchAlreadyNew);
  Bytes stranger = second;
  stranger[stranger.size() / 2] ^= 1;  // the size of a source, not its hash
  EXPECT_EQ(Apply(patch, stranger, next).source, kPatchNoSource);
  // Applied over the wrong old file anyway, the result's hash refuses it.
  const Outcome forced = Apply(patch, stranger, next, 1);
  EXPECT_EQ(forced.applied, 0);
  EXPECT_TRUE(forced.canaryIntact);
}

TEST(Patch, FailuresOfTheCallerAreReported) {
  std::mt19937 random(5);
  const Bytes old = ProgramLike(random, 600000);
  const Bytes next = Replace(Insert(old, random), random);
  const Bytes patch = MakeFrom({&old}, next);
  EXPECT_EQ(Apply(patch, old, next, 0, true, false).source, kPatchCannotRead);
  EXPECT_EQ(Apply(patch, old, next, 0, true, false).applied, 0);
  EXPECT_EQ(Apply(patch, old, next, 0, false, true).applied, 0);
  const long live = HostLiveAllocations();
  HostFailAllocation(0);  // hashing the installed file
  EXPECT_EQ(Apply(patch, old, next).source, kPatchCannotRead);
  HostFailAllocation(1);  // applying
  EXPECT_EQ(Apply(patch, old, next).applied, 0);
  HostFailAllocation(-1);
  EXPECT_EQ(HostLiveAllocations(), live);
}

// Every single-byte change and every truncation of a small patch: refused,
// or (a byte nothing reads) still exactly the new file.
TEST(Patch, DamagedContainersAreRefused) {
  std::mt19937 random(9);
  const Bytes old = ProgramLike(random, 20000);
  const Bytes next = Replace(Insert(Delete(old, random), random), random);
  const Bytes patch = MakeFrom({&old}, next);
  size_t refused = 0;
  for (size_t at = 0; at < patch.size(); ++at) {
    for (uint8_t flip : {0x01, 0x80, 0xFF}) {
      Bytes damaged = patch;
      damaged[at] ^= flip;
      const Outcome outcome = Apply(damaged, old, next, 0);
      ASSERT_TRUE(outcome.canaryIntact) << at;
      if (outcome.applied)
        ASSERT_TRUE(outcome.exact) << "byte " << at << " flip " << (int)flip;
      else
        ++refused;
    }
  }
  EXPECT_GT(refused, patch.size() * 2);
  for (size_t length = 0; length < patch.size(); ++length) {
    const Bytes cut(patch.begin(), patch.begin() + (long)length);
    EXPECT_EQ(Apply(cut, old, next, 0).applied, 0) << length;
  }
  EXPECT_EQ(CheckPatchContainer(nullptr, 100), 0);
}

}  // namespace

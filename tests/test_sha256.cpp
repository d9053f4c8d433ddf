// The package digest's hash against the published SHA-256 test vectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "package/sha256.h"

namespace {
std::string Hex(const u8* digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < kSha256Size; ++i) {
    text += kDigits[digest[i] >> 4];
    text += kDigits[digest[i] & 15];
  }
  return text;
}

std::string HashOf(const std::string& bytes) {
  u8 digest[kSha256Size];
  Sha256(bytes.data(), (u32)bytes.size(), digest);
  return Hex(digest);
}

TEST(Sha256, PublishedVectors) {
  struct Case {
    std::string input;
    const char* digest;
  } const cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the length no longer fits the first padding block.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases) EXPECT_EQ(HashOf(c.input), c.digest) << c.input.size() << " bytes";
}

TEST(Sha256, EveryTailLengthAroundTheBlockEdge) {
  // Lengths 55, 56, 63, 64 and 65 take different padding paths; each must
  // differ from its neighbour and be stable.
  std::string previous;
  for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u}) {
    const std::string hash = HashOf(std::string(length, 'x'));
    EXPECT_NE(hash, previous);
    EXPECT_EQ(hash, HashOf(std::string(length, 'x')));
    previous = hash;
  }
}
}  // namespace

namespace {
// The hash of bytes handed over in pieces of every awkward length must be
// the hash of the whole.
TEST(Sha256, PiecesGiveTheHashOfTheWhole) {
  std::string bytes(1000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (char)(i * 131 + (i >> 3));
  const std::string whole = HashOf(bytes);
  for (size_t step : {1u, 3u, 63u, 64u, 65u, 127u, 999u}) {
    Sha256State hash;
    Sha256Begin(&hash);
    for (size_t at = 0; at < bytes.size(); at += step)
      Sha256Update(&hash, bytes.data() + at, (u32)std::min(step, bytes.size() - at));
    u8 digest[kSha256Size];
    Sha256End(&hash, digest);
    EXPECT_EQ(Hex(digest), whole) << "pieces of " << step;
  }
}
}  // namespace

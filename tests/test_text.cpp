// Multibyte helpers: the host versions must agree with the system's
// lstrcmpiA / CharNextA on the names the updater compares.
#include <gtest/gtest.h>

#include "platform/text.h"

namespace {
// Exact-size arrays, so a read past a terminator is caught under ASan.
const char kShort[] = "u";
const char kLeadAfterU[] = "u\x83t";
const char kSo[] = "\x83\x5c";       // katakana SO, trail byte is '\'
const char kSoLower[] = "\x83\x5c" "a";
const char kSoUpper[] = "\x83\x5c" "A";
const char kUpdateLower[] = "update.ini";
const char kUpdateUpper[] = "UPDATE.INI";

struct CompareCase {
  const char* a;
  const char* b;
  bool equal;
};

TEST(TextCompare, EqualityAgreesWithTheSystem) {
  const CompareCase cases[] = {
      {kUpdateLower, kUpdateUpper, true}, {kSo, kSo, true},
      {kSoLower, kSoUpper, true},         {kLeadAfterU, kShort, false},
      {kShort, kLeadAfterU, false},       {kSo, kShort, false},
      {kShort, kUpdateLower, false},
  };
  for (const CompareCase& c : cases) {
    EXPECT_EQ(OsCompareNoCase(c.a, c.b) == 0, c.equal) << c.a << " vs " << c.b;
  }
}

TEST(TextCompare, OrderIsAntisymmetric) {
  EXPECT_GT(OsCompareNoCase(kLeadAfterU, kShort) * OsCompareNoCase(kShort, kLeadAfterU) * -1, 0);
}

TEST(TextCharNext, DoubleByteCharactersStayWhole) {
  EXPECT_EQ(OsCharNext(kSo), kSo + 2);
  EXPECT_EQ(OsCharNext(kShort), kShort + 1);
  EXPECT_EQ(OsCharNext(kShort + 1), kShort + 1);  // stays on the terminator
  EXPECT_TRUE(OsIsLeadByte(0x83));
  EXPECT_FALSE(OsIsLeadByte('a'));
}
}  // namespace

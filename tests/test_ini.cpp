// OsReadIniString on both builds: under Wine these cases pin the host reader
// to the system's GetPrivateProfileStringA in the Japanese code page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ini.h"
#include "support/scratch.h"

using namespace std::string_literals;

namespace {

struct IniCase {
  const char* name;
  std::string content;
  const char* section;
  const char* key;
  u32 size;
  const char* defaultValue;
  u32 count;
  // The buffer up to its terminator; '#' marks a byte the reader left alone.
  std::string expected;
};

const IniCase kIniCases[] = {
    {"crlf", "[SETUP]\r\nKey=value\r\n", "SETUP", "Key", 32, "", 5, "value"},
    {"lf", "[SETUP]\nKey=value\n", "SETUP", "Key", 32, "", 5, "value"},
    {"cr only ends lines", "[SETUP]\rA=1\rKey=v\r", "SETUP", "Key", 32, "", 1, "v"},
    {"cr cr lf", "[SETUP]\r\r\nKey=v\r\r\n", "SETUP", "Key", 32, "", 1, "v"},
    {"no final line end", "[SETUP]\nKey=v", "SETUP", "Key", 32, "", 1, "v"},
    {"names ignore case", "[setup]\nkEY=value\n", "SETUP", "Key", 32, "", 5, "value"},
    {"blanks around", "  [SETUP]  \n \t Key \t =  \t value \t \n", "SETUP", "Key", 32, "", 5, "value"},
    {"blanks in header", "[\t SETUP ]\nKey=v\n", "SETUP", "Key", 32, "", 1, "v"},
    {"blanks in query", "[SETUP]\nKey=v\n", " SETUP\t", " Key ", 32, "", 1, "v"},
    {"vt ff ctrl-z are blanks", "\x1a[SETUP]\x1a\n\x0b\x1aKey=\x0b\x0cv\x0c\x1a\n", "SETUP", "Key", 32, "", 1, "v"},
    {"blank inside a name", "[SETUP]\nKe y=v\n", "SETUP", "Ke y", 32, "", 1, "v"},
    {"first key wins", "[SETUP]\nKey=first\nKey=second\n", "SETUP", "Key", 32, "", 5, "first"},
    {"first line without = wins", "[SETUP]\nKey\nKey=second\n", "SETUP", "Key", 32, "dflt", 4, "dflt"},
    {"only the first section", "[SETUP]\nA=1\n[SETUP]\nKey=second\n", "SETUP", "Key", 32, "", 0, ""},
    {"other section", "[OTHER]\nKey=x\n[SETUP]\nKey=v\n", "SETUP", "Key", 32, "", 1, "v"},
    {"key of another section", "[SETUP]\nA=1\n[OTHER]\nKey=x\n", "SETUP", "Key", 32, "", 0, ""},
    {"comment does not define", "[SETUP]\n;Key=c\nKey=v\n", "SETUP", "Key", 32, "", 1, "v"},
    {"comment only", "[SETUP]\n; Key=c\n", "SETUP", "Key", 32, "d", 1, "d"},
    {"double quotes", "[SETUP]\nKey=\"abc\"\n", "SETUP", "Key", 32, "", 3, "abc"},
    {"single quotes", "[SETUP]\nKey='abc'\n", "SETUP", "Key", 32, "", 3, "abc"},
    {"quotes then blanks", "[SETUP]\nKey = \"a\"  \n", "SETUP", "Key", 32, "", 1, "a"},
    {"quotes keep blanks", "[SETUP]\nKey=\" a \"\n", "SETUP", "Key", 32, "", 3, " a "},
    {"quote inside", "[SETUP]\nKey=\"a\"b\"\n", "SETUP", "Key", 32, "", 3, "a\"b"},
    {"quotes differ", "[SETUP]\nKey=\"abc'\n", "SETUP", "Key", 32, "", 5, "\"abc'"},
    {"one quote", "[SETUP]\nKey=\"\n", "SETUP", "Key", 32, "", 1, "\""},
    {"empty quotes", "[SETUP]\nKey=\"\"\n", "SETUP", "Key", 32, "d", 0, ""},
    {"quotes fit with room", "[SETUP]\nKey=\"abc\"\n", "SETUP", "Key", 5, "", 3, "abc"},
    {"quotes fit exactly", "[SETUP]\nKey=\"abc\"\n", "SETUP", "Key", 4, "", 2, "ab"},
    {"quotes cut", "[SETUP]\nKey=\"abcdef\"\n", "SETUP", "Key", 4, "", 3, "abc"},
    {"empty value is no default", "[SETUP]\nKey=\n", "SETUP", "Key", 32, "dflt", 0, ""},
    {"missing key default", "[SETUP]\n", "SETUP", "Key", 32, "dflt  ", 4, "dflt"},
    {"default keeps a tab", "[SETUP]\n", "SETUP", "Key", 32, "dflt\t", 5, "dflt\t"},
    {"default cut", "[SETUP]\n", "SETUP", "Key", 3, "dflt", 2, "df"},
    {"default quotes", "[SETUP]\n", "SETUP", "Key", 32, "\"q\"", 1, "q"},
    {"empty file", "", "SETUP", "Key", 32, "", 0, ""},
    {"value cut", "[SETUP]\nKey=abcdef\n", "SETUP", "Key", 4, "", 3, "abc"},
    {"size one", "[SETUP]\nKey=abcdef\n", "SETUP", "Key", 1, "", 0, ""},
    {"size zero", "[SETUP]\nKey=abcdef\n", "SETUP", "Key", 0, "", 0, "#"},
    {"nul ends value", "[SETUP]\nKey=ab\0cd\n"s, "SETUP", "Key", 32, "", 2, "ab"},
    {"blank before nul stays", "[SETUP]\nKey=ab \0cd\n"s, "SETUP", "Key", 32, "", 3, "ab "},
    {"nul ends key name", "[SETUP]\nKe\0y=v\n"s, "SETUP", "Ke", 32, "", 1, "v"},
    {"blank before nul in name", "[SETUP]\nKe \0y=v\n"s, "SETUP", "Ke", 32, "", 0, ""},
    {"nul ends section name", "[SET\0UP]\nKey=v\n"s, "SET", "Key", 32, "", 1, "v"},
    {"text after header", "[SETUP] junk\nKey=v\n", "SETUP", "Key", 32, "", 1, "v"},
    {"open header is a key line", "[SETUP]\n[X\nKey=v\n", "SETUP", "Key", 32, "", 1, "v"},
    {"last bracket closes", "[SE]TUP]\nKey=v\n", "SE]TUP", "Key", 32, "", 1, "v"},
    {"keys before any header", "Key=v\n[SETUP]\n", "", "Key", 32, "", 1, "v"},
    {"empty header unreachable", "[]\nKey=v\n", "", "Key", 32, "", 0, ""},
    {"empty name line", "[SETUP]\n=v\n", "SETUP", " ", 32, "d", 1, "v"},
    {"tab inside value", "[SETUP]\nKey=a\tb\n", "SETUP", "Key", 32, "", 3, "a\tb"},
    {"= inside value", "[SETUP]\nKey=a=b\n", "SETUP", "Key", 32, "", 3, "a=b"},
    {"utf-8 mark skipped", "\xef\xbb\xbf[SETUP]\nKey=v\n", "SETUP", "Key", 32, "", 1, "v"},
    {"full-width space kept", "[SETUP]\nKey=　v　\n", "SETUP", "Key", 32, "", 5, "　v　"},
    {"trail byte 5c", "[SETUP]\nKey=ソソ\n", "SETUP", "Key", 32, "", 4, "ソソ"},
    {"double-byte key", "[SETUP]\nキー=v\n", "SETUP", "キー", 32, "", 1, "v"},
    {"double-byte not folded", "[SETUP]\nＡ=v\n", "SETUP", "ａ", 32, "", 0, ""},
    {"single bytes kept", "[SETUP]\nKey=a\xa0\xfd\xfe\xff\x80z\n", "SETUP", "Key", 32, "", 7, "a\xa0\xfd\xfe\xff\x80z"},
    {"bad pair is a middle dot", "[SETUP]\nKey=a\x81 z\n", "SETUP", "Key", 32, "", 4, "a・z"},
    {"lead byte at the end", "[SETUP]\nKey=a\x82", "SETUP", "Key", 32, "", 3, "a・"},
    {"lead byte takes lf", "[SETUP]\nA=x\x82\nKey=v\n", "SETUP", "A", 32, "", 8, "x・Key=v"},
    {"merged line hides key", "[SETUP]\nA=x\x82\nKey=v\n", "SETUP", "Key", 32, "", 0, ""},
    {"lead byte takes =", "[SETUP]\nK\x82=v\nKey=w\n", "SETUP", "Key", 32, "", 1, "w"},
    {"trail byte is no bracket", "[SETUP\x83]\nKey=v\n", "SETUP", "Key", 32, "", 0, ""},
    {"lead byte takes quote", "[SETUP]\nKey=\"\x82\"\n", "SETUP", "Key", 32, "", 3, "\"・"},
    {"cut before a double byte", "[SETUP]\nKey=ab" "あ" "\n", "SETUP", "Key", 3, "", 2, "ab"},
    {"double byte not split", "[SETUP]\nKey=a" "あい" "\n", "SETUP", "Key", 3, "", 2, "a#"},
    {"double bytes cut", "[SETUP]\nKey=あいう\n", "SETUP", "Key", 4, "", 3, "あ#"},
    {"double bytes fit", "[SETUP]\nKey=ああああ\n", "SETUP", "Key", 7, "", 6, "あああ"},
    {"size two double byte", "[SETUP]\nKey=あ\n", "SETUP", "Key", 2, "", 1, "#"},
    {"quoted double bytes exact", "[SETUP]\nKey=\"ああ\"\n", "SETUP", "Key", 3, "", 2, "あ"},
    {"quoted double bytes cut", "[SETUP]\nKey=\"ああ\"\n", "SETUP", "Key", 4, "", 3, "あ#"},
    {"quoted double bytes fit", "[SETUP]\nKey=\"ああ\"\n", "SETUP", "Key", 5, "", 4, "ああ"},
    {"default double byte cut", "[SETUP]\n", "SETUP", "Key", 2, "あ", 1, "#"},
    {"default lone lead dropped", "[SETUP]\n", "SETUP", "Key", 32, "a\x82", 1, "a"},
};

class IniTest : public ::testing::Test {
 protected:
  std::string NewFile(const std::string& content) {
    std::string path = scratch_ / ("f" + std::to_string(files_++) + ".ini");
    EXPECT_TRUE(WriteTestFile(path, content));
    return path;
  }
  ScratchFolder scratch_;
  int files_ = 0;
};

// The buffer starts as '#' bytes: the result, its terminator, then bytes
// never written, up to and past the given size.
void ExpectBuffer(const IniCase& c, const std::vector<char>& buffer) {
  const std::string& e = c.expected;
  if (c.size == 0) {
    EXPECT_EQ(std::string(buffer.size(), '#'), std::string(buffer.begin(), buffer.end()));
    return;
  }
  ASSERT_LT(e.size(), buffer.size());
  EXPECT_EQ(e, std::string(buffer.data(), e.size()));
  EXPECT_EQ(0, buffer[e.size()]);
  for (size_t i = e.size() + 1; i < buffer.size(); ++i) EXPECT_EQ('#', buffer[i]) << "byte " << i;
}

TEST_F(IniTest, ReadsAsTheSystemReader) {
  for (const IniCase& c : kIniCases) {
    SCOPED_TRACE(c.name);
    std::string path = NewFile(c.content);
    std::vector<char> buffer(c.size + 16, '#');
    u32 count = OsReadIniString(c.section, c.key, c.defaultValue, buffer.data(), c.size, path.c_str());
    EXPECT_EQ(c.count, count);
    ExpectBuffer(c, buffer);
  }
}

TEST_F(IniTest, MissingFileGivesTheDefault) {
  std::string path = scratch_ / "absent.ini";
  std::string inAbsentFolder = scratch_ / "absent\\x.ini";
  for (const std::string& p : {path, inAbsentFolder}) {
    char buffer[16];
    EXPECT_EQ(4u, OsReadIniString("SETUP", "Key", "dflt", buffer, sizeof buffer, p.c_str()));
    EXPECT_STREQ("dflt", buffer);
    EXPECT_EQ(0u, OsReadIniString("SETUP", "Key", "", buffer, sizeof buffer, p.c_str()));
    EXPECT_STREQ("", buffer);
  }
}

TEST_F(IniTest, HugeLinesAndFilesReadCompletely) {
  const std::string longValue(3 << 20, 'x');
  std::string content = "[SETUP]\r\nLong=" + longValue + "\r\n";
  for (int i = 0; i < 100000; ++i) content += "Filler" + std::to_string(i) + "=some value\r\n";
  content += "Key=after\r\n[NEXT]\r\nLong=y\r\n";
  const std::string path = NewFile(content);

  char buffer[1024];
  EXPECT_EQ(5u, OsReadIniString("SETUP", "Key", "", buffer, sizeof buffer, path.c_str()));
  EXPECT_STREQ("after", buffer);
  EXPECT_EQ(1023u, OsReadIniString("SETUP", "Long", "", buffer, sizeof buffer, path.c_str()));
  EXPECT_EQ(std::string(1023, 'x'), buffer);
  EXPECT_EQ(10u, OsReadIniString("SETUP", "Filler99999", "", buffer, sizeof buffer, path.c_str()));
  EXPECT_EQ(1u, OsReadIniString("NEXT", "Long", "", buffer, sizeof buffer, path.c_str()));
}

}  // namespace

// qk2 on input it did not make: names that would leave the folder or that
// name one file twice, control bytes in names, updaters whose package does
// not match its digest, links planted at outputs, folders where files
// belong, and claims of content far beyond what is stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qk2_run.h"
#include "support/test_package.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qk2test {
namespace {

// Entry names that a package someone sent may carry (cp932).
const std::vector<TestEntry> kHostileEntries = {
    {"A.DAT", "first"},
    {"a.dat", "the updater never finds this one"},
    {"B.DAT", "b"},
    {"B.DAT.", "Windows stores this as B.DAT"},
    {"..\\X.DAT", "parent"},
    {"C:\\X.DAT", "drive"},
    {"/tmp/X.DAT", "absolute"},
    {"\x1b[2JESC.DAT", "clears the screen"},
    {"\x83\x5C.DAT", "katakana so, second byte 0x5C"},
};

bool HasRawControl(const std::string& text) {
  for (char c : text)
    if (c == '\x1b') return true;
  return false;
}

TEST(Qk2Hostile, NamesAreCheckedEscapedAndKeptInsideTheFolder) {
  TempFolder temp;
  const std::string package = temp / "hostile.pkg";
  ASSERT_TRUE(WriteFile(package, BuildTestPackage(kHostileEntries)));

  const ToolRun verify = RunQk2({"verify", package});
  EXPECT_EQ(verify.code, 1) << verify.Shown();
  for (const char* expected :
       {"entry 1 'a.dat': the same name as entry 0", "entry 3 'B.DAT.': the same file as entry 2",
        "entry 4 '..\\X.DAT': not a plain file name", "entry 5 'C:\\X.DAT': not a plain file name",
        "entry 6 '/tmp/X.DAT': not a plain file name",
        "entry 7 '\\x1B[2JESC.DAT': not a plain file name"})
    EXPECT_NE(verify.err.find(expected), std::string::npos) << expected << "\n" << verify.Shown();

  const ToolRun list = RunQk2({"list", package});
  EXPECT_EQ(list.code, 0) << list.Shown();
  EXPECT_NE(list.out.find("\\x1B[2JESC.DAT"), std::string::npos) << list.Shown();

  const std::string out = temp / "out";
  const ToolRun extract = RunQk2({"extract", package, "-C", out});
  EXPECT_EQ(extract.code, 1) << extract.Shown();
  EXPECT_NE(extract.err.find("'\\x1B[2JESC.DAT': not a plain file name"), std::string::npos)
      << extract.Shown();
  for (const ToolRun* run : {&verify, &list, &extract})
    EXPECT_FALSE(HasRawControl(run->out + run->err)) << run->Shown();
  // Only the first of each file, and nothing outside the folder or in a
  // folder of its own.
  std::vector<std::string> expected = {"A.DAT", "B.DAT", Native("\x83\x5C.DAT")};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FolderNames(out), expected);
  EXPECT_EQ(ReadFileOrEmpty(PathIn(out, "A.DAT")), "first");
  EXPECT_EQ(ReadFileOrEmpty(PathIn(out, Native("\x83\x5C.DAT"))), "katakana so, second byte 0x5C");
  EXPECT_FALSE(FileExists(temp / "X.DAT"));
}

// A package whose entry claims far more content than its stream can give,
// checked without allocating the claim: on Linux under an address-space
// limit that the claim alone would break.
TEST(Qk2Hostile, ClaimsBeyondTheStoredBytesCostNoMemory) {
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "needs a plain Linux build to limit the address space";
#else
  TempFolder temp;
  // Each entry's record claims 90 times its stored size: 40 entries of a
  // 64 KiB stream claim some 230 MB together, and verify and list of old
  // kept every content whole.
  std::string random(64 << 10, '\0');
  uint32_t seed = 12345;
  for (char& c : random) c = (char)((seed = seed * 1103515245u + 12345u) >> 24);
  std::vector<TestEntry> entries;
  for (int i = 0; i < 40; ++i) entries.push_back({"Z" + std::to_string(i), random, kTestCompressed});
  std::string bytes = BuildTestPackage(entries, /*plainDirectory=*/true);
  const uint32_t directory = (uint8_t)bytes[8] | (uint8_t)bytes[9] << 8 |
                             (uint32_t)(uint8_t)bytes[10] << 16 | (uint32_t)(uint8_t)bytes[11] << 24;
  for (int i = 0; i < 40; ++i) {
    const size_t record = directory + (size_t)i * 280;
    uint32_t stored = 0;
    for (int b = 0; b < 4; ++b) stored |= (uint32_t)(uint8_t)bytes[record + 276 + b] << (8 * b);
    const uint32_t claim = stored * 90;
    for (int b = 0; b < 4; ++b) bytes[record + 272 + b] = (char)(claim >> (8 * b));
  }
  const std::string package = temp / "claims.pkg";
  ASSERT_TRUE(WriteFile(package, bytes));
  for (const char* command : {"verify", "list"}) {
    const ToolRun run = RunProgram(
        "/bin/sh", {"-c", "ulimit -v 150000; exec \"$0\" \"$1\" \"$2\"", ToolPath(), command, package});
    EXPECT_EQ(run.code, 1) << command << "\n" << run.Shown();
    EXPECT_NE(run.err.find("'Z0'"), std::string::npos) << run.Shown();
  }
#endif
}

#if !defined(_WIN32)
// Links planted where qk2 writes are replaced, never followed.
TEST(Qk2Hostile, NeverWritesThroughALink) {
  TempFolder temp;
  const std::string package = temp / "p.pkg";
  ASSERT_TRUE(WriteFile(package, BuildTestPackage({{"A.DAT", "new"}})));
  const std::string target = temp / "target";
  ASSERT_TRUE(WriteFile(target, "keep"));
  ASSERT_EQ(chmod(target.c_str(), 0400), 0);
  const std::string out = temp / "out";
  ASSERT_TRUE(MakeFolder(out));
  ASSERT_EQ(symlink(target.c_str(), PathIn(out, "A.DAT").c_str()), 0);
  const ToolRun extract = RunQk2({"extract", package, "-C", out});
  EXPECT_EQ(extract.code, 0) << extract.Shown();
  struct stat st;
  ASSERT_EQ(lstat(PathIn(out, "A.DAT").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(ReadFileOrEmpty(PathIn(out, "A.DAT")), "new");
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0400u);
  EXPECT_EQ(ReadFileOrEmpty(target), "keep");

  // The package written by pack goes beside a link at its name, then
  // replaces the link.
  ASSERT_EQ(symlink(target.c_str(), (temp / "out.pkg").c_str()), 0);
  ASSERT_TRUE(WriteFile(temp / "F.DAT", "f"));
  const ToolRun pack = RunQk2({"pack", temp / "out.pkg", temp / "F.DAT"});
  EXPECT_EQ(pack.code, 0) << pack.Shown();
  EXPECT_EQ(ReadFileOrEmpty(target), "keep");
}
#endif

// A folder given where a file belongs is an error with the system's reason,
// never a crash.
TEST(Qk2Hostile, FoldersWhereFilesBelong) {
  TempFolder temp;
  const std::string folder = temp / "folder";
  ASSERT_TRUE(MakeFolder(folder));
  const std::vector<std::vector<std::string>> commands = {
      {"list", folder}, {"verify", folder}, {"extract", folder}, {"pack", temp / "o.pkg", folder}};
  for (const auto& args : commands) {
    const ToolRun run = RunQk2(args);
    EXPECT_EQ(run.code, 3) << args[0] << "\n" << run.Shown();
    EXPECT_NE(run.err.find("qk2: " + folder + ": cannot "), std::string::npos) << run.Shown();
  }
}

}  // namespace
}  // namespace qk2test

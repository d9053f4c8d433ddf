// Entry extraction and the scrambling on both builds: the files written,
// their times and attributes, the newer-file rule and the safe replacement.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/run_state.h"
#include "flow/records.h"
#include "package/extract.h"
#include "package/format.h"
#include "package/package.h"
#include "package/scramble.h"
#include "platform/files.h"
#include "support/scratch.h"
#include "support/test_package.h"
#include "sim/sim.h"

namespace {

// ---- DescrambleBlock ----

TEST(DescrambleBlock, ShortBlocksStayAsTheyAre) {
  for (u32 length = 0; length < 4; ++length) {
    u8 bytes[4] = {1, 2, 3, 4};
    DescrambleBlock(bytes, length);
    EXPECT_EQ(0, std::memcmp(bytes, "\1\2\3\4", 4)) << length;
  }
}

TEST(DescrambleBlock, SevenBytesChangeOnlyTheFirstWord) {
  u8 bytes[7] = {0, 0, 0, 0, 5, 6, 7};
  DescrambleBlock(bytes, 7);
  EXPECT_NE(0, std::memcmp(bytes, "\0\0\0\0", 4));
  EXPECT_EQ(0, std::memcmp(bytes + 4, "\5\6\7", 3));
}

// Key words worked out by hand from the seed 0x5A3C96E1 and the rotation
// table, so the packer and the updater cannot drift apart unnoticed.
TEST(DescrambleBlock, KnownKeyWords) {
  const struct {
    u32 length;
    std::vector<u8> key;
  } cases[] = {
      {4, {0x6E, 0xC9, 0xA3, 0x55}},
      {8, {0x96, 0x3C, 0x5A, 0xE9, 0x2B, 0xDD, 0x92, 0x47}},
      {11, {0x92, 0x47, 0x4B, 0xDD, 0xF2, 0x68, 0xA9, 0x5B}},
  };
  for (const auto& c : cases) {
    std::vector<u8> bytes(c.length, 0);
    DescrambleBlock(bytes.data(), c.length);
    std::vector<u8> expected = c.key;
    expected.resize(c.length, 0);
    EXPECT_EQ(expected, bytes) << c.length;
  }
  // Seven and eight set bits in the length: the last and the first rotation
  // count (23, then 7); only the first two key words are checked.
  const struct {
    u32 length;
    u8 key[8];
  } longer[] = {{127, {0x3C, 0x2D, 0x79, 0xB4, 0x96, 0x3C, 0x5A, 0x9E}},
                {255, {0x3C, 0x2C, 0x79, 0xB4, 0x5A, 0x1E, 0x96, 0x3C}}};
  for (const auto& c : longer) {
    std::vector<u8> bytes(c.length, 0);
    DescrambleBlock(bytes.data(), c.length);
    EXPECT_EQ(0, std::memcmp(c.key, bytes.data(), 8)) << c.length;
    EXPECT_EQ(std::vector<u8>(3, 0), std::vector<u8>(bytes.end() - 3, bytes.end())) << c.length;
  }
}

TEST(DescrambleBlock, TwiceRestores) {
  for (u32 length : {4u, 5u, 64u, 255u, 1000u, 4099u}) {
    std::vector<u8> original(length);
    for (u32 i = 0; i < length; ++i) original[i] = (u8)(i * 37 + 11);
    std::vector<u8> bytes = original;
    DescrambleBlock(bytes.data(), length);
    EXPECT_NE(original, bytes) << length;
    DescrambleBlock(bytes.data(), length);
    EXPECT_EQ(original, bytes) << length;
  }
}

// A block descrambled in pieces (each starting on a word, of any length,
// the last one cut at the block's end) equals the block descrambled whole,
// beyond the 32 words after which the key comes round; nothing past a piece
// is written.
TEST(DescrambleRange, PiecesGiveTheWholeBlock) {
  for (u32 length : {4u, 7u, 130u, 1027u, 4099u}) {
    std::vector<u8> original(length);
    for (u32 i = 0; i < length; ++i) original[i] = (u8)(i * 37 + 11);
    std::vector<u8> whole = original;
    DescrambleBlock(whole.data(), length);
    for (u32 piece : {4u, 12u, 132u, 1000u, 5000u}) {
      std::vector<u8> pieces(length + 8, 0xA5);
      for (u32 offset = 0; offset < length; offset += piece)
        DescrambleRange(pieces.data() + offset, original.data() + offset, offset, piece, length);
      // The first piece once more, cut short inside a word (6 and 10 bytes).
      for (u32 part : {6u, 10u}) {
        std::vector<u8> start(part + 8, 0xA5);
        DescrambleRange(start.data(), original.data(), 0, part, length);
        const u32 got = std::min(part, length);
        EXPECT_EQ(std::vector<u8>(whole.begin(), whole.begin() + got), std::vector<u8>(start.begin(), start.begin() + got))
            << length << "/" << part;
        EXPECT_EQ(0xA5, start[got]) << length << "/" << part;
      }
      EXPECT_EQ(whole, std::vector<u8>(pieces.begin(), pieces.begin() + length)) << length << "/" << piece;
      EXPECT_EQ(std::vector<u8>(8, 0xA5), std::vector<u8>(pieces.end() - 8, pieces.end()))
          << length << "/" << piece;
    }
  }
}

// ---- extraction ----

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReleasePackage(&UpdaterPackage);
    ResolveDynamicApi();
  }
  void TearDown() override { ReleasePackage(&UpdaterPackage); }

  std::string Read(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(ReadTestFile(path, &bytes)) << path;
    return bytes;
  }

  // Sets all three times of an existing file.
  static bool SetTimes(const std::string& path, u64 value) {
    FileHandle file = DynamicApi.pfnCreateFile(path.c_str(), kGenericWrite, 0, nullptr,
                                               kOpenExisting, kAttrNormal, nullptr);
    if (file == kInvalidFile) return false;
    FileTime time = MakeFileTime(value);
    bool ok = OsSetFileTime(file, &time, &time, &time);
    return OsCloseFile(file) && ok;
  }

  static bool GetTimes(const std::string& path, FileTime* creation, FileTime* access,
                       FileTime* write) {
    FileHandle file = OpenFileForRead(path.c_str());
    if (file == kInvalidFile) return false;
    bool ok = OsGetFileTime(file, creation, access, write);
    OsCloseFile(file);
    return ok;
  }

  // Names of everything in the scratch folder.
  std::vector<std::string> Listing() {
    std::vector<std::string> names;
    std::string native;
#if defined(_WIN32)
    native = scratch_.path();
#else
    native = HostPath(scratch_.path().c_str());
#endif
    for (const auto& item : std::filesystem::directory_iterator(native))
      names.push_back(item.path().filename().string());
    return names;
  }

  ScratchFolder scratch_;
};

const std::string kOld = "the user's earlier file";
const std::string kNew = "the entry's content, different from the old one";

TEST_F(ExtractTest, EveryStorageFormWritesTheContentWithItsTime) {
  const std::string content = "line 1\r\nline 2\r\n" + std::string(500, 'z') + "end";
  const u64 time = kTestEntryTime + 1234567;
  for (int flags : {kTestStored, kTestScrambled, kTestCompressed, kTestCompressed | kTestScrambled}) {
    ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"FILE.DAT", content, flags, time}})));
    std::string path = scratch_ / ("out" + std::to_string(flags) + ".dat");
    EXPECT_EQ(1, ExtractPackageEntry(&UpdaterPackage, "file.dat", path.c_str(), 0)) << flags;
    // Times first: reading the content may move the access time.
    FileTime creation, access, write;
    ASSERT_TRUE(GetTimes(path, &creation, &access, &write));
    EXPECT_EQ(time, FileTimeValue(&write)) << flags;
    EXPECT_EQ(time, FileTimeValue(&access)) << flags;
    EXPECT_EQ(time, FileTimeValue(&creation)) << flags;
    EXPECT_EQ(content, Read(path)) << flags;
    EXPECT_EQ(0u, OsGetFileAttributes(path.c_str()) & (kAttrReadOnly | kAttrDirectory | kAttrHidden));
  }
}

TEST_F(ExtractTest, EmptyEntryWritesAnEmptyFile) {
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"EMPTY", "", kTestCompressed}, {"E2", ""}})));
  for (const char* name : {"EMPTY", "E2"}) {
    std::string path = scratch_ / name;
    ASSERT_TRUE(WriteTestFile(path, kOld));
    EXPECT_EQ(1, ExtractPackageEntry(&UpdaterPackage, name, path.c_str(), 0)) << name;
    EXPECT_EQ("", Read(path)) << name;
  }
}

// keepNewer against an existing file whose last-write time is `existing`
// relative to the entry's time.
TEST_F(ExtractTest, NewerFileRule) {
  const struct {
    int keepNewer;
    i64 existingMinusEntry;
    bool replaced;
  } cases[] = {
      {0, +10000000, true},  // keepNewer 0 always writes
      {1, 0, true},          // equal time: replaced
      {1, -1, true},         // older: replaced
      {1, +1, false},        // later by one 100-ns unit: kept
      {1, +10000000, false},
  };
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"F", kNew, kTestCompressed}})));
  for (const auto& c : cases) {
    std::string path = scratch_ / "target.txt";
    ASSERT_TRUE(WriteTestFile(path, kOld));
    ASSERT_TRUE(SetTimes(path, kTestEntryTime + c.existingMinusEntry));
    EXPECT_EQ(1, ExtractPackageEntry(&UpdaterPackage, "F", path.c_str(), c.keepNewer));
    EXPECT_EQ(c.replaced ? kNew : kOld, Read(path)) << c.existingMinusEntry;
    FileTime write;
    ASSERT_TRUE(GetTimes(path, nullptr, nullptr, &write));
    EXPECT_EQ(c.replaced ? kTestEntryTime : kTestEntryTime + c.existingMinusEntry,
              FileTimeValue(&write));
  }
}

TEST_F(ExtractTest, MissingDestinationIsWrittenUnderKeepNewer) {
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"F", kNew}})));
  std::string path = scratch_ / "new.txt";
  EXPECT_EQ(1, ExtractPackageEntry(&UpdaterPackage, "F", path.c_str(), 1));
  EXPECT_EQ(kNew, Read(path));
}

TEST_F(ExtractTest, ReadOnlyDestinationEndsNormalWhetherReplacedOrKept) {
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"F", kNew}})));
  for (bool newer : {false, true}) {
    std::string path = scratch_ / (newer ? "kept.txt" : "replaced.txt");
    ASSERT_TRUE(WriteTestFile(path, kOld));
    ASSERT_TRUE(SetTimes(path, kTestEntryTime + (newer ? 1 : 0)));
    ASSERT_TRUE(OsSetFileAttributes(path.c_str(), kAttrReadOnly));
    ASSERT_TRUE(OsGetFileAttributes(path.c_str()) & kAttrReadOnly);
    EXPECT_EQ(1, ExtractPackageEntry(&UpdaterPackage, "F", path.c_str(), 1));
    EXPECT_EQ(newer ? kOld : kNew, Read(path));
    EXPECT_EQ(0u, OsGetFileAttributes(path.c_str()) & kAttrReadOnly) << newer;
  }
}

TEST_F(ExtractTest, FolderDestinationIsRefused) {
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"F", kNew}})));
  std::string path = scratch_ / "folder";
  ASSERT_TRUE(MakeTestFolder(path));
  EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "F", path.c_str(), 0));
  EXPECT_EQ(kAttrDirectory, OsGetFileAttributes(path.c_str()) & kAttrDirectory);
  EXPECT_EQ(std::vector<std::string>{"folder"}, Listing());
}

TEST_F(ExtractTest, OverlongPathIsRefusedSilently) {
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"F", kNew}})));
  std::string path = scratch_ / std::string(300 - scratch_.path().size(), 'p');
  EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "F", path.c_str(), 0));
  EXPECT_EQ(0, WriteFileWithTime(path.c_str(), "x", 1, nullptr));
  EXPECT_TRUE(Listing().empty());
}

TEST_F(ExtractTest, WriteFileWithTimeWithoutTimeKeepsContentAndLeavesNoTemporary) {
  std::string path = scratch_ / "plain.bin";
  ASSERT_TRUE(WriteTestFile(path, kOld));
  const std::string bytes("\0\1\2binary\xff", 10);
  EXPECT_EQ(1, WriteFileWithTime(path.c_str(), bytes.data(), (u32)bytes.size(), nullptr));
  EXPECT_EQ(bytes, Read(path));
  EXPECT_EQ(std::vector<std::string>{"plain.bin"}, Listing());
}

TEST_F(ExtractTest, WriteIntoMissingFolderFails) {
  std::string path = scratch_ / "no-such-folder\\file.txt";
  EXPECT_EQ(0, WriteFileWithTime(path.c_str(), "x", 1, nullptr));
  EXPECT_FALSE(TestPathExists(path));
}

// The write fails halfway: the original file keeps its bytes and no
// temporary is left behind.
WriteFileFn realWrite = nullptr;
int writeCalls = 0;
int PLATFORM_CALL HalfWrite(FileHandle file, const void* buffer, u32 length, u32* written,
                            void* overlapped) {
  ++writeCalls;
  u32 half = 0;
  if (length > 1) realWrite(file, buffer, length / 2, &half, overlapped);
  if (written) *written = half;
  return 0;
}

TEST_F(ExtractTest, FailedWriteLeavesTheOriginalUntouched) {
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"F", kNew, kTestCompressed}})));
  std::string path = scratch_ / "keep.txt";
  ASSERT_TRUE(WriteTestFile(path, kOld));
  realWrite = DynamicApi.pfnWriteFile;
  DynamicApi.pfnWriteFile = &HalfWrite;
  writeCalls = 0;
  EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "F", path.c_str(), 0));
  EXPECT_EQ(0, WriteFileWithTime(path.c_str(), kNew.data(), (u32)kNew.size(), nullptr));
  DynamicApi.pfnWriteFile = realWrite;
  EXPECT_EQ(2, writeCalls);
  EXPECT_EQ(kOld, Read(path));
  EXPECT_EQ(std::vector<std::string>{"keep.txt"}, Listing());
}

}  // namespace

// The package reader on both builds: format, lookups, the two opening forms
// and the refusal of damaged packages. Paths that show an error box are
// tested on the host build only (tests/host), where boxes are recorded.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/run_state.h"
#include "flow/records.h"
#include "package/format.h"
#include "package/package.h"
#include "package/scramble.h"
#include "packer/package_writer.h"
#include "support/scratch.h"
#include "support/test_package.h"

namespace {

u32 GetU32(const std::string& bytes, size_t at) {
  u32 value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | (u8)bytes.at(at + i);
  return value;
}

void PutU32(std::string* bytes, size_t at, u32 value) {
  for (int i = 0; i < 4; ++i) (*bytes).at(at + i) = (char)(value >> (8 * i));
}

// Offset of field `field` of record `index` in a package with a plain directory.
size_t RecordField(const std::string& package, u32 index, size_t field) {
  return GetU32(package, 8) + (size_t)index * kPackageEntrySize + field;
}

std::string Content(const u8* p, u32 size) { return std::string((const char*)p, size); }

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ReleasePackage(&UpdaterPackage);
    ResolveDynamicApi();
  }
  void TearDown() override { ReleasePackage(&UpdaterPackage); }

  // Opens `bytes` in the file form from a scratch file.
  const PackageImage* OpenAsFile(const std::string& bytes) {
    path_ = scratch_ / "test.pkg";
    EXPECT_TRUE(WriteTestFile(path_, bytes));
    ClosePackage(&UpdaterPackage);
    UpdaterPackage.source = (const u8*)path_.c_str();
    UpdaterPackage.size = 0;
    return OpenPackage(&UpdaterPackage);
  }

  ScratchFolder scratch_;
  std::string path_;
};

TEST_F(PackageTest, WriterLaysOutHeaderRecordsAndPadding) {
  const u64 time = 0x0123456789ABCDEFull;
  std::string package = BuildTestPackage(
      {{"A.TXT", "hello", kTestStored, time}, {"B.BIN", std::string(40, 'x'), kTestCompressed | kTestScrambled}},
      /*plainDirectory=*/true);
  EXPECT_EQ(0, std::memcmp(package.data(), "QK2\0", 4));
  EXPECT_EQ(0u, GetU32(package, 4));
  EXPECT_EQ(2u, GetU32(package, 12));
  const u32 storedB = GetU32(package, RecordField(package, 1, 276));
  EXPECT_EQ(16u + 16u + AlignedStoredSize(storedB), GetU32(package, 8));
  EXPECT_EQ(GetU32(package, 8) + 2 * kPackageEntrySize, package.size());

  EXPECT_EQ("hello", package.substr(16, 5));
  EXPECT_EQ(std::string(11, '\0'), package.substr(21, 11));  // padding to 32
  EXPECT_EQ("A.TXT", std::string(&package[RecordField(package, 0, 0)]));
  EXPECT_EQ(kEntryFlagStored, (u8)package[RecordField(package, 0, 260)]);
  EXPECT_EQ(0, package[RecordField(package, 0, 262)]);
  EXPECT_EQ(0x89ABCDEFu, GetU32(package, RecordField(package, 0, 264)));
  EXPECT_EQ(0x01234567u, GetU32(package, RecordField(package, 0, 268)));
  EXPECT_EQ(5u, GetU32(package, RecordField(package, 0, 272)));
  EXPECT_EQ(5u, GetU32(package, RecordField(package, 0, 276)));
  EXPECT_EQ(kEntryFlagCompressed, (u8)package[RecordField(package, 1, 260)]);
  EXPECT_EQ(kEntryScrambled, (u8)package[RecordField(package, 1, 262)]);
  EXPECT_EQ(40u, GetU32(package, RecordField(package, 1, 272)));
}

TEST_F(PackageTest, WriterKeepsEntriesThatDoNotShrink) {
  PackInput input;
  input.name = "NOISE";
  input.content = {0x8f, 0x12, 0xa7};
  std::vector<uint8_t> package;
  std::string error;
  ASSERT_TRUE(BuildPackage({input}, PackOptions(), &package, &error)) << error;
  ASSERT_TRUE(OpenTestPackage(std::string(package.begin(), package.end())));
  EXPECT_EQ(kEntryFlagStored, UpdaterPackage.image->entries[0].flags);
  EXPECT_EQ(3u, UpdaterPackage.image->entries[0].storedSize);
}

TEST_F(PackageTest, WriterRefusesBadNames) {
  const std::string names[] = {"", std::string(260, 'n'), std::string("a\0b", 3)};
  for (const std::string& name : names) {
    PackInput input;
    input.name = name;
    std::vector<uint8_t> package{1, 2, 3};
    std::string error;
    EXPECT_FALSE(BuildPackage({input}, PackOptions(), &package, &error)) << name.size();
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(3u, package.size());  // untouched
  }
  PackInput longest;
  longest.name = std::string(259, 'n');
  std::vector<uint8_t> package;
  std::string error;
  EXPECT_TRUE(BuildPackage({longest}, PackOptions(), &package, &error)) << error;
}

TEST_F(PackageTest, DataOffsetsAdvanceByAlignedStoredSize) {
  std::string package = BuildTestPackage({{"ZERO", ""},
                                          {"SIXTEEN", std::string(16, 'b')},
                                          {"SEVENTEEN", std::string(17, 'c')},
                                          {"LAST", "d"}});
  ASSERT_TRUE(OpenTestPackage(package));
  const struct {
    const char* name;
    u32 offset;
  } cases[] = {{"ZERO", 16}, {"SIXTEEN", 16}, {"SEVENTEEN", 32}, {"LAST", 64}};
  for (const auto& c : cases) {
    u32 offset = 0;
    const PackageEntry* record = FindPackageRecord(&UpdaterPackage, c.name, &offset);
    ASSERT_NE(nullptr, record) << c.name;
    EXPECT_EQ(c.offset, offset) << c.name;
  }
  EXPECT_EQ(80u, UpdaterPackage.image->header.directoryOffset);
  u32 size = 99;
  const u8* last = FindPackageEntry(&UpdaterPackage, "LAST", &size);
  ASSERT_NE(nullptr, last);
  EXPECT_EQ("d", Content(last, size));
  EXPECT_EQ(UpdaterPackage.source + 64, last);  // stored entries are handed out in place
}

TEST_F(PackageTest, LookupIgnoresCaseAndFirstMatchWins) {
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"UPDATE.INI", "first"},
                                                {"データ.BIN", "kana"},
                                                {"update.ini", "second"}})));
  const struct {
    const char* asked;
    const char* content;
  } cases[] = {{"update.ini", "first"}, {"UPDATE.INI", "first"}, {"Update.Ini", "first"},
               {"データ.bin", "kana"}};
  for (const auto& c : cases) {
    u32 size = 0;
    const u8* content = FindPackageEntry(&UpdaterPackage, c.asked, &size);
    ASSERT_NE(nullptr, content) << c.asked;
    EXPECT_EQ(c.content, Content(content, size)) << c.asked;
  }
  EXPECT_EQ(nullptr, FindPackageRecord(&UpdaterPackage, "UPDATE.IN", nullptr));
  EXPECT_EQ(nullptr, FindPackageRecord(&UpdaterPackage, "UPDATE.INI2", nullptr));
}

TEST_F(PackageTest, EmptyDirectoryOpensInBothFormsAndFindsNothing) {
  for (bool plain : {false, true}) {
    ASSERT_NE(nullptr, OpenTestPackage(BuildTestPackage({}, plain))) << plain;
    EXPECT_EQ(0u, UpdaterPackage.image->header.entryCount);
    EXPECT_EQ(nullptr, FindPackageRecord(&UpdaterPackage, "UPDATE.INI", nullptr));
  }
}

TEST_F(PackageTest, BothDirectoryFormsGiveTheSameRecords) {
  std::vector<TestEntry> entries = {{"UPDATE.INI", "[SETUP]\r\n", kTestCompressed | kTestScrambled},
                                    {"GAME.DAT", std::string(300, 'g'), kTestScrambled},
                                    {"LIB.DLL", std::string(1000, 'l'), kTestCompressed}};
  std::string compressed = BuildTestPackage(entries);
  std::string plain = BuildTestPackage(entries, true);
  EXPECT_EQ(1u, GetU32(compressed, 4));
  EXPECT_LT(compressed.size(), plain.size());
  ASSERT_TRUE(OpenTestPackage(plain));
  std::string fromPlain((const char*)UpdaterPackage.image, 16 + 3 * kPackageEntrySize);
  ASSERT_TRUE(OpenTestPackage(compressed));
  std::string fromCompressed((const char*)UpdaterPackage.image, 16 + 3 * kPackageEntrySize);
  EXPECT_EQ(fromPlain.substr(16), fromCompressed.substr(16));
  EXPECT_EQ(compressed.substr(0, 16), fromCompressed.substr(0, 16));
}

TEST_F(PackageTest, MagicMattersOnlyInTheFileForm) {
  std::string package = BuildTestPackage({{"A", "a"}});
  ASSERT_NE(nullptr, OpenAsFile(package));
  EXPECT_NE(nullptr, FindPackageRecord(&UpdaterPackage, "A", nullptr));
  std::string wrong = package;
  wrong[3] = '!';
  EXPECT_EQ(nullptr, OpenAsFile(wrong));
  EXPECT_EQ(nullptr, UpdaterPackage.image);
  EXPECT_NE(nullptr, OpenTestPackage(wrong));
  EXPECT_NE(nullptr, FindPackageRecord(&UpdaterPackage, "A", nullptr));
}

TEST_F(PackageTest, FileFormReadsTheSameDirectoryAsTheMemoryForm) {
  for (bool plain : {false, true}) {
    std::string package =
        BuildTestPackage({{"ONE", "1111", kTestCompressed}, {"TWO", "22"}}, plain);
    ASSERT_TRUE(OpenTestPackage(package));
    std::string memory((const char*)UpdaterPackage.image, 16 + 2 * kPackageEntrySize);
    ASSERT_TRUE(OpenAsFile(package)) << plain;
    EXPECT_EQ(memory, std::string((const char*)UpdaterPackage.image, 16 + 2 * kPackageEntrySize));
  }
}

// Each case damages a package with a plain directory of two entries.
struct Damage {
  const char* what;
  void (*apply)(std::string* package);
};

const Damage kDamages[] = {
    {"directory offset beyond the end",
     [](std::string* p) { PutU32(p, 8, (u32)p->size() + 1); }},
    {"directory offset inside the header", [](std::string* p) { PutU32(p, 8, 8); }},
    {"directory cut short", [](std::string* p) { p->resize(p->size() - 1); }},
    {"one record more than stored",
     [](std::string* p) { PutU32(p, 12, GetU32(*p, 12) + 1); }},
    {"count whose size wraps 32 bits", [](std::string* p) { PutU32(p, 12, 0x0EA0EA0Fu); }},
    {"count of all ones", [](std::string* p) { PutU32(p, 12, 0xFFFFFFFFu); }},
    {"stored bytes past the directory",
     [](std::string* p) { PutU32(p, RecordField(*p, 1, 276), GetU32(*p, RecordField(*p, 1, 276)) + 16); }},
    {"stored size near 4 GiB",
     [](std::string* p) { PutU32(p, RecordField(*p, 1, 276), 0xFFFFFFF0u); }},
    {"stored size whose alignment wraps 32 bits",
     [](std::string* p) { PutU32(p, RecordField(*p, 1, 276), 0xFFFFFFFFu); }},
    {"name without terminator",
     [](std::string* p) { std::memset(&(*p)[RecordField(*p, 0, 0)], 'N', 260); }},
    {"stored entry whose content size differs",
     [](std::string* p) { PutU32(p, RecordField(*p, 0, 272), 7); }},
};

std::string TwoEntryPackage() {
  return BuildTestPackage({{"FIRST", "0123456789abcdef!"}, {"SECOND", std::string(20, 's'), kTestCompressed}},
                          true);
}

TEST_F(PackageTest, DamagedPackagesAreRefusedInBothForms) {
  ASSERT_NE(nullptr, OpenTestPackage(TwoEntryPackage()));
  ASSERT_NE(nullptr, OpenAsFile(TwoEntryPackage()));
  for (const Damage& damage : kDamages) {
    std::string package = TwoEntryPackage();
    damage.apply(&package);
    EXPECT_EQ(nullptr, OpenTestPackage(package)) << "memory: " << damage.what;
    EXPECT_EQ(nullptr, UpdaterPackage.image) << damage.what;
    EXPECT_EQ(nullptr, OpenAsFile(package)) << "file: " << damage.what;
  }
}

TEST_F(PackageTest, DirectoryStreamMustExpandToExactlyTheRecords) {
  std::string package = BuildTestPackage({{"A", "aaaa"}, {"B", "bbbb"}});
  ASSERT_NE(nullptr, OpenTestPackage(package));
  const struct {
    const char* what;
    u32 count;
    size_t cut;
  } cases[] = {{"count one higher", 3, 0}, {"count one lower", 1, 0}, {"stream cut", 2, 1}};
  for (const auto& c : cases) {
    std::string damaged = package;
    PutU32(&damaged, 12, c.count);
    damaged.resize(damaged.size() - c.cut);
    EXPECT_EQ(nullptr, OpenTestPackage(damaged)) << c.what;
    EXPECT_EQ(nullptr, OpenAsFile(damaged)) << c.what;
  }
}

TEST_F(PackageTest, TooShortOrMissingPackagesAreRefused) {
  EXPECT_EQ(nullptr, OpenTestPackage(std::string("QK2\0\0\0\0", 8)));
  EXPECT_EQ(nullptr, OpenAsFile(std::string("QK2\0\0\0\0", 8)));
  UpdaterPackage.source = (const u8*)"C:\\no\\such\\package.pkg";
  UpdaterPackage.size = 0;
  EXPECT_EQ(nullptr, OpenPackage(&UpdaterPackage));
  UpdaterPackage.source = nullptr;
  UpdaterPackage.size = 100;
  EXPECT_EQ(nullptr, OpenPackage(&UpdaterPackage));
}

TEST_F(PackageTest, CompressedEntryReadTwiceGivesTwoEqualBlocks) {
  const std::string text = "Agreement text, long enough to compress well. " + std::string(200, '=');
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"AGREE.TXT", text, kTestCompressed}})));
  u32 firstSize = 0, secondSize = 0;
  const u8* first = FindPackageEntry(&UpdaterPackage, "AGREE.TXT", &firstSize);
  const u8* second = FindPackageEntry(&UpdaterPackage, "agree.txt", &secondSize);
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_NE(first, second);
  EXPECT_EQ(text, Content(first, firstSize));
  EXPECT_EQ(text, Content(second, secondSize));
}

// The reader refuses content sizes above 91 times the stream; the densest
// stream the format allows (about 90.2 times) must still read.
TEST_F(PackageTest, MostCompressibleContentStillReads) {
  const std::string zeros(300000, '\0');
  std::string package = BuildTestPackage({{"Z", zeros, kTestCompressed}}, true);
  const u32 stored = GetU32(package, RecordField(package, 0, 276));
  EXPECT_GT(zeros.size(), 90u * stored);
  ASSERT_TRUE(OpenTestPackage(package));
  u32 size = 0;
  const u8* content = FindPackageEntry(&UpdaterPackage, "Z", &size);
  ASSERT_NE(nullptr, content);
  EXPECT_EQ(zeros, Content(content, size));
}

TEST_F(PackageTest, ScrambledEntriesAreReadDescrambled) {
  const std::string text = "scrambled over the compressed stream, or over the bytes themselves";
  for (int flags : {kTestStored, kTestScrambled, kTestCompressed, kTestCompressed | kTestScrambled}) {
    ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"E", text, flags}})));
    u32 size = 0;
    const u8* content = FindPackageEntry(&UpdaterPackage, "E", &size);
    ASSERT_NE(nullptr, content) << flags;
    EXPECT_EQ(text, Content(content, size)) << flags;
  }
  // An unscrambled stored entry is handed out in place.
  std::string package = BuildTestPackage({{"E", text}});
  ASSERT_TRUE(OpenTestPackage(package));
  EXPECT_EQ(UpdaterPackage.source + 16, FindPackageEntry(&UpdaterPackage, "E", nullptr));
}

TEST_F(PackageTest, NoResourceMeansNoPackage) {
  ModuleInstance = nullptr;
  UpdaterPackage.size = 0;
  EXPECT_EQ(nullptr, LocatePackageResource(&UpdaterPackage));
  EXPECT_EQ(0u, UpdaterPackage.size);
}

}  // namespace

// The package reader and extraction over the host simulation: the resource
// lookup, every error box with its caption and owner, the free-space rule,
// allocation failures and damaged entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/run_state.h"
#include "flow/records.h"
#include "package/entry_content.h"
#include "package/extract.h"
#include "package/format.h"
#include "package/package.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/messagebox.h"
#include "support/host_env.h"
#include "support/test_package.h"
#include "sim/sim.h"

namespace {

const char kNotFound[] = "Can't Find File in Resource !!";
const char kNoMemory[] = "Can't Allocate Memory !!";
const char kReadError[] = "RESOURCE READ ERROR";

u32 GetU32(const std::string& bytes, size_t at) {
  u32 value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | (u8)bytes.at(at + i);
  return value;
}

void PutU32(std::string* bytes, size_t at, u32 value) {
  for (int i = 0; i < 4; ++i) bytes->at(at + i) = (char)(value >> (8 * i));
}

// Offset of field `field` of record `index` in a package with a plain directory.
size_t RecordField(const std::string& package, u32 index, size_t field) {
  return GetU32(package, 8) + (size_t)index * kPackageEntrySize + field;
}

class PackageHostTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ResolveDynamicApi();
  }

  // The one box shown since the last reset, checked for the error style.
  void ExpectOneBox(const std::string& text, const std::string& caption = "UPDATE",
                    WindowHandle owner = nullptr) {
    const std::vector<HostMessageBox>& boxes = HostMessageBoxes();
    ASSERT_EQ(1u, boxes.size()) << (boxes.empty() ? "" : boxes.back().text);
    EXPECT_EQ(text, boxes[0].text);
    EXPECT_EQ(caption, boxes[0].caption);
    EXPECT_EQ(owner, boxes[0].owner);
    EXPECT_EQ(kMbOk | kMbIconError, boxes[0].flags);
    HostResetMessageBoxes();
  }

  void ExpectNoBox() {
    EXPECT_TRUE(HostMessageBoxes().empty())
        << HostMessageBoxes().size() << ": " << HostMessageBoxes().front().text;
  }

  std::string Read(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(ReadTestFile(path, &bytes)) << path;
    return bytes;
  }
};

// ---- LocatePackageResource ----

TEST_F(PackageHostTest, LocateFindsTheUpdateResource) {
  const std::string package = BuildTestPackage({{"UPDATE.INI", "[SETUP]"}});
  InstallTestPackage(package);
  const u8* bytes = LocatePackageResource(&UpdaterPackage);
  ASSERT_NE(nullptr, bytes);
  EXPECT_EQ(package.size(), UpdaterPackage.size);
  EXPECT_EQ(package, std::string((const char*)bytes, UpdaterPackage.size));
  UpdaterPackage.source = bytes;
  ASSERT_NE(nullptr, OpenPackage(&UpdaterPackage));
  EXPECT_NE(nullptr, FindPackageRecord(&UpdaterPackage, "UPDATE.INI", nullptr));
  ExpectNoBox();
}

TEST_F(PackageHostTest, LocateFailsSilently) {
  const std::string package = BuildTestPackage({{"A", "a"}});
  const struct {
    const char* what;
    void (*arrange)(const std::string& package);
  } cases[] = {
      {"no resource", [](const std::string&) { ModuleInstance = HostModule(); }},
      {"other id",
       [](const std::string& p) {
         HostSetResource("UPDATE", 103, p.data(), (u32)p.size());
         ModuleInstance = HostModule();
       }},
      {"empty resource",
       [](const std::string&) {
         HostSetResource("UPDATE", 102, "", 0);
         ModuleInstance = HostModule();
       }},
      {"other module", [](const std::string& p) { InstallTestPackage(p); ModuleInstance = nullptr; }},
      {"FindResourceA missing",
       [](const std::string& p) { InstallTestPackage(p); HostSetEntryPointMissing("FindResourceA", 1); }},
      {"SizeofResource missing",
       [](const std::string& p) { InstallTestPackage(p); HostSetEntryPointMissing("SizeofResource", 1); }},
      {"LoadResource missing",
       [](const std::string& p) { InstallTestPackage(p); HostSetEntryPointMissing("LoadResource", 1); }},
      {"LockResource missing",
       [](const std::string& p) { InstallTestPackage(p); HostSetEntryPointMissing("LockResource", 1); }},
  };
  for (const auto& c : cases) {
    ResetHostSimulation();
    ResolveDynamicApi();
    c.arrange(package);
    UpdaterPackage.size = 0;
    EXPECT_EQ(nullptr, LocatePackageResource(&UpdaterPackage)) << c.what;
    EXPECT_EQ(0u, UpdaterPackage.size) << c.what;
    ExpectNoBox();
  }
}

TEST_F(PackageHostTest, LocateWithoutKernelLibraryFails) {
  InstallTestPackage(BuildTestPackage({{"A", "a"}}));
  HostSetLibraryMissing("KERNEL32.DLL", 1);
  ResetRunState();
  ResolveDynamicApi();
  HostResetMessageBoxes();
  EXPECT_EQ(nullptr, LocatePackageResource(&UpdaterPackage));
  ExpectNoBox();
}

// ---- error boxes: text, caption, owner ----

TEST_F(PackageHostTest, MissingEntryBoxesCarryCaptionAndOwner) {
  const struct {
    const char* caption;
    WindowHandle owner;
  } runs[] = {{"UPDATE", nullptr}, {"ゲーム アップデータ 1.2", (WindowHandle)0x1234}};
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"A", "a"}})));
  for (const auto& run : runs) {
    std::strcpy(WindowCaption, run.caption);
    WizardWindow = run.owner;
    u32 size = 77;
    EXPECT_EQ(nullptr, FindPackageEntry(&UpdaterPackage, "B", &size));
    EXPECT_EQ(77u, size);
    ExpectOneBox(kNotFound, run.caption, run.owner);
    EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "B", At("b.txt").c_str(), 0));
    ExpectOneBox(kNotFound, run.caption, run.owner);
    EXPECT_FALSE(TestPathExists(At("b.txt")));
  }
}

TEST_F(PackageHostTest, EmptyOrAbsentDirectoryFindsNothing) {
  EXPECT_EQ(nullptr, FindPackageEntry(&UpdaterPackage, "UPDATE.INI", nullptr));
  ExpectOneBox(kNotFound);
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({})));
  EXPECT_EQ(nullptr, FindPackageEntry(&UpdaterPackage, "UPDATE.INI", nullptr));
  ExpectOneBox(kNotFound);
  EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "UPDATE.INI", At("UPDATE.INI").c_str(), 0));
  ExpectOneBox(kNotFound);
}

// ---- damaged entries ----

// Each case damages the compressed entry "C" of a package with a plain
// directory; reading it by name and extracting it must both fail with the
// read-error box, write nothing and leak nothing.
TEST_F(PackageHostTest, DamagedCompressedEntryShowsReadError) {
  const std::string text = "the real content of the compressed entry, " + std::string(100, 'c');
  const std::string package =
      BuildTestPackage({{"C", text, kTestCompressed | kTestScrambled}, {"Z", "z"}}, true);
  const size_t content = RecordField(package, 0, 272);
  const size_t stored = RecordField(package, 0, 276);
  const u32 storedSize = GetU32(package, stored);
  const struct {
    const char* what;
    size_t at;
    u32 value;
  } cases[] = {
      {"content size one larger", content, (u32)text.size() + 1},
      {"content size one smaller", content, (u32)text.size() - 1},
      {"content size beyond any stream", content, 0x7FFFFFFFu},
      {"stream cut short", stored, storedSize - 3},
      {"scrambling marker cleared", RecordField(package, 0, 262), 0},
  };
  for (const auto& c : cases) {
    std::string damaged = package;
    if (c.at == RecordField(package, 0, 262)) damaged[c.at] = 0;
    else PutU32(&damaged, c.at, c.value);
    ASSERT_TRUE(OpenTestPackage(damaged)) << c.what;
    const long live = HostLiveAllocations();
    EXPECT_EQ(nullptr, FindPackageEntry(&UpdaterPackage, "C", nullptr)) << c.what;
    ExpectOneBox(kReadError);
    EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "C", At("c.txt").c_str(), 0)) << c.what;
    ExpectOneBox(kReadError);
    EXPECT_FALSE(TestPathExists(At("c.txt"))) << c.what;
    EXPECT_EQ(live, HostLiveAllocations()) << c.what;
  }
}

TEST_F(PackageHostTest, DamagedEntryLeavesTheExistingFile) {
  std::string package = BuildTestPackage({{"C", std::string(300, 'x'), kTestCompressed}}, true);
  PutU32(&package, RecordField(package, 0, 272), 301);
  ASSERT_TRUE(OpenTestPackage(package));
  ASSERT_TRUE(WriteTestFile(At("c.txt"), "old"));
  EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "C", At("c.txt").c_str(), 0));
  ExpectOneBox(kReadError);
  EXPECT_EQ("old", Read(At("c.txt")));
}

// ---- entries larger than one window ----

// Several windows of content whose matches reach across every piece
// boundary: numbered lines (short repeats) with runs of pseudo-random bytes.
std::string LargeContent(size_t size) {
  std::string content;
  uint32_t seed = 12345;
  while (content.size() < size) {
    content += "line " + std::to_string(content.size() % 9973) + " of the large entry\r\n";
    for (int i = 0; i < 40; ++i) {
      seed = seed * 1103515245u + 12345u;
      content.push_back((char)(seed >> 24));
    }
  }
  content.resize(size);
  return content;
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(HostPath(folder.c_str())))
    names.push_back(item.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(PackageHostTest, LargeEntriesAreWrittenAPieceAtATime) {
  const std::string content = LargeContent(3 * kContentPieceSize + 12345);
  const struct {
    int flags;
    u32 largestBlock;  // no block of the content's or the stored bytes' size
  } cases[] = {
      {kTestCompressed, kContentWindowSize},
      {kTestCompressed | kTestScrambled, kStreamInputSize},
      {kTestScrambled, kContentPieceSize},
  };
  for (const auto& c : cases) {
    const int flags = c.flags;
    ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"BIG", content, flags}}, true))) << flags;
    const long live = HostLiveAllocations();
    HostTakeLargestAllocation();
    EXPECT_EQ(1, ExtractPackageEntry(&UpdaterPackage, "BIG", At("big.dat").c_str(), 0)) << flags;
    EXPECT_LE(HostTakeLargestAllocation(), c.largestBlock) << flags;
    EXPECT_TRUE(Read(At("big.dat")) == content) << flags;
    EXPECT_EQ(std::vector<std::string>{"big.dat"}, FolderNames(Root())) << flags;
    EXPECT_EQ(live, HostLiveAllocations()) << flags;
  }
  ExpectNoBox();
}

// Sizes on both sides of the window limit, and small ones, in every form:
// extraction gives the content that reading it by name gives.
TEST_F(PackageHostTest, SizesAroundTheWindowLimitComeOutWhole) {
  const u32 limit = kWholeContentLimit;
  for (u32 size : {0u, 1u, 3u, 5u, limit - 1, limit, limit + 1, limit + kLongestCode + 1,
                   2 * kContentPieceSize + kLongestReach + 3}) {
    const std::string content = LargeContent(size);
    for (int flags : {kTestStored, kTestScrambled, kTestCompressed, kTestCompressed | kTestScrambled}) {
      SCOPED_TRACE("size " + std::to_string(size) + ", flags " + std::to_string(flags));
      ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"BIG", content, flags}}, true)));
      const long live = HostLiveAllocations();
      EXPECT_EQ(1, ExtractPackageEntry(&UpdaterPackage, "BIG", At("big.dat").c_str(), 0));
      EXPECT_TRUE(Read(At("big.dat")) == content);
      EXPECT_EQ(live, HostLiveAllocations());
      u32 got = 0;
      const u8* whole = FindPackageEntry(&UpdaterPackage, "BIG", &got);
      ASSERT_NE(nullptr, whole);
      EXPECT_EQ(size, got);
      EXPECT_EQ(0, std::memcmp(whole, content.data(), size));
    }
  }
  ExpectNoBox();
}

// Damage that shows only in the last piece, after earlier pieces went to the
// temporary file: the temporary goes, the existing file stays as it was.
TEST_F(PackageHostTest, DamageFoundInALaterPieceLeavesTheExistingFile) {
  const std::string content = LargeContent(2 * kContentPieceSize + 999);
  for (int flags : {kTestCompressed, kTestCompressed | kTestScrambled}) {
    const std::string package = BuildTestPackage({{"BIG", content, flags}}, true);
    const size_t contentField = RecordField(package, 0, 272);
    const size_t storedField = RecordField(package, 0, 276);
    const u32 storedSize = GetU32(package, storedField);
    const struct {
      const char* what;
      size_t at;
      u32 value;
    } cases[] = {
        {"content size one larger (the stream ends early)", contentField, (u32)content.size() + 1},
        {"content size one smaller (the stream goes on)", contentField, (u32)content.size() - 1},
        {"stream cut short", storedField, storedSize - 3},
    };
    for (const auto& c : cases) {
      std::string damaged = package;
      PutU32(&damaged, c.at, c.value);
      ASSERT_TRUE(OpenTestPackage(damaged)) << c.what;
      ASSERT_TRUE(WriteTestFile(At("big.dat"), "old"));
      const long live = HostLiveAllocations();
      EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "BIG", At("big.dat").c_str(), 0)) << c.what;
      ExpectOneBox(kReadError);
      EXPECT_EQ("old", Read(At("big.dat"))) << c.what;
      EXPECT_EQ(std::vector<std::string>{"big.dat"}, FolderNames(Root())) << c.what;
      EXPECT_EQ(live, HostLiveAllocations()) << c.what;
    }
  }
}

TEST_F(PackageHostTest, FileFormHasNoContent) {
  const std::string package = BuildTestPackage({{"A", "a"}});
  ASSERT_TRUE(WriteTestFile(At("p.pkg"), package));
  const std::string path = At("p.pkg");
  UpdaterPackage.source = (const u8*)path.c_str();
  UpdaterPackage.size = 0;
  ASSERT_NE(nullptr, OpenPackage(&UpdaterPackage));
  EXPECT_NE(nullptr, FindPackageRecord(&UpdaterPackage, "A", nullptr));
  EXPECT_EQ(nullptr, FindPackageEntry(&UpdaterPackage, "A", nullptr));
  ExpectOneBox(kReadError);
  EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "A", At("a.txt").c_str(), 0));
  ExpectOneBox(kReadError);
}

// ---- allocation failures ----

TEST_F(PackageHostTest, AllocationFailuresShowNoMemoryAndLeakNothing) {
  const std::string text = std::string(200, 'm') + "end";
  const struct {
    const char* what;
    int flags;
    int failing;  // allocation number that fails
  } cases[] = {
      {"expanded content", kTestCompressed, 0},
      {"descrambled copy", kTestScrambled, 0},
      {"descrambled copy of a stream", kTestCompressed | kTestScrambled, 0},
      {"content after descrambling", kTestCompressed | kTestScrambled, 1},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"M", text, c.flags}})));
    const long live = HostLiveAllocations();
    HostFailAllocation(c.failing);
    EXPECT_EQ(nullptr, FindPackageEntry(&UpdaterPackage, "M", nullptr)) << c.what;
    ExpectOneBox(kNoMemory);
    EXPECT_EQ(live, HostLiveAllocations()) << c.what;
    HostFailAllocation(c.failing);
    EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "M", At("m.txt").c_str(), 0)) << c.what;
    ExpectOneBox(kNoMemory);
    EXPECT_EQ(live, HostLiveAllocations()) << c.what;
    EXPECT_FALSE(TestPathExists(At("m.txt"))) << c.what;
    HostFailAllocation(-1);
  }
}

TEST_F(PackageHostTest, ExtractionReleasesEveryBlock) {
  for (int flags : {kTestStored, kTestScrambled, kTestCompressed, kTestCompressed | kTestScrambled}) {
    ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"M", std::string(5000, 'q'), flags}})));
    const long live = HostLiveAllocations();
    EXPECT_EQ(1, ExtractPackageEntry(&UpdaterPackage, "M", At("m.txt").c_str(), 0)) << flags;
    EXPECT_EQ(1, ExtractPackageEntry(&UpdaterPackage, "M", At("m.txt").c_str(), 1)) << flags;  // kept
    ASSERT_TRUE(MakeTestFolder(At("dir")));
    EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "M", At("dir").c_str(), 0)) << flags;
    EXPECT_EQ(live, HostLiveAllocations()) << flags;
  }
  ExpectNoBox();
}

TEST_F(PackageHostTest, BlocksHandedOutLastUntilReset) {
  const long before = HostLiveAllocations();
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage(
      {{"S", "stored"}, {"C", "compressed", kTestCompressed}, {"X", "scrambled", kTestScrambled},
       {"B", "both", kTestCompressed | kTestScrambled}})));
  const long opened = HostLiveAllocations();
  const u8* stored = FindPackageEntry(&UpdaterPackage, "S", nullptr);
  EXPECT_EQ(opened, HostLiveAllocations());  // in place, nothing allocated
  std::vector<const u8*> blocks = {FindPackageEntry(&UpdaterPackage, "C", nullptr), FindPackageEntry(&UpdaterPackage, "X", nullptr),
                                   FindPackageEntry(&UpdaterPackage, "B", nullptr)};
  EXPECT_EQ(opened + 3, HostLiveAllocations());
  ClosePackage(&UpdaterPackage);
  EXPECT_EQ(before + 3, HostLiveAllocations());  // closing the directory keeps them
  EXPECT_EQ(0, std::memcmp(blocks[2], "both", 4));
  ReleasePackage(&UpdaterPackage);
  EXPECT_EQ(before, HostLiveAllocations());
  EXPECT_NE(nullptr, stored);
  ExpectNoBox();
}

TEST_F(PackageHostTest, OpenPackageAllocationFailuresLeakNothing) {
  const std::string package = BuildTestPackage({{"A", "a"}, {"B", "b"}});
  ASSERT_TRUE(WriteTestFile(At("p.pkg"), package));
  const std::string path = At("p.pkg");
  const long live = HostLiveAllocations();
  // The memory form takes one block (the image), expanding the directory in place.
  HostFailAllocation(0);
  EXPECT_EQ(nullptr, OpenTestPackage(package));
  EXPECT_EQ(nullptr, UpdaterPackage.image);
  // The file form takes the image, then the directory stream.
  for (int failing : {0, 1}) {
    HostFailAllocation(failing);
    UpdaterPackage.source = (const u8*)path.c_str();
    UpdaterPackage.size = 0;
    EXPECT_EQ(nullptr, OpenPackage(&UpdaterPackage)) << failing;
  }
  HostFailAllocation(-1);
  EXPECT_EQ(live, HostLiveAllocations());
  ExpectNoBox();
}

TEST_F(PackageHostTest, RefusedPackagesLeakNothing) {
  std::string package = BuildTestPackage({{"A", "a"}, {"B", "b"}}, true);
  PutU32(&package, RecordField(package, 1, 276), 1000);
  const long live = HostLiveAllocations();
  EXPECT_EQ(nullptr, OpenTestPackage(package));
  ASSERT_TRUE(WriteTestFile(At("p.pkg"), package));
  const std::string path = At("p.pkg");
  UpdaterPackage.source = (const u8*)path.c_str();
  UpdaterPackage.size = 0;
  EXPECT_EQ(nullptr, OpenPackage(&UpdaterPackage));
  EXPECT_EQ(live, HostLiveAllocations());
  ExpectNoBox();
}

// ---- the free-space rule ----

std::string ShortageText(const char* root, const char* bytes) {
  return std::string("ディスク容量が足りません。") + root + " ドライブに " + bytes +
         " バイトの空き容量が必要です";
}

TEST_F(PackageHostTest, ShortageReportsTheShortfall) {
  const std::string folder = HostPath("C:");  // holds the scratch folder
  const struct {
    u32 contentSize;
    u64 freeBytes;
    const char* shortfall;  // null: enough room
  } cases[] = {
      {1000, 400, "600"},
      {1000, 999, "1"},
      {1000, 1000, nullptr},
      {1000, 5000000000ull, nullptr},
      {3000000000u, 100, "2999999900"},         // above 2 GiB: never negative
      {0xFFFFFFFFu, 0, "4294967295"},           // the largest possible
  };
  for (const auto& c : cases) {
    HostMapDrive('D', folder.c_str(), kDriveFixed, c.freeBytes);
    std::filesystem::remove(HostPath(At("big.bin").c_str()));
    std::string package;
    if (c.contentSize == 1000) {
      package = BuildTestPackage({{"BIG", std::string(1000, 'b'), kTestCompressed}}, true);
    } else {
      // Only the record's size matters: the check comes before any reading.
      package = BuildTestPackage({{"BIG", std::string(100, 'b'), kTestCompressed}}, true);
      PutU32(&package, RecordField(package, 0, 272), c.contentSize);
    }
    ASSERT_TRUE(OpenTestPackage(package));
    const long live = HostLiveAllocations();
    const int result = ExtractPackageEntry(&UpdaterPackage, "BIG", "D:\\scratch\\big.bin", 0);
    EXPECT_EQ(live, HostLiveAllocations());
    if (c.shortfall) {
      EXPECT_EQ(0, result) << c.contentSize;
      ExpectOneBox(ShortageText("D:", c.shortfall));
      EXPECT_FALSE(TestPathExists(At("big.bin")));
    } else {
      EXPECT_EQ(1, result) << c.freeBytes;
      ExpectNoBox();
      EXPECT_EQ(1000u, Read(At("big.bin")).size());
    }
  }
}

TEST_F(PackageHostTest, ShortageBoxIsOwnedByTheWizard) {
  HostMapDrive('E', HostPath("C:").c_str(), kDriveFixed, 10);
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"F", std::string(50, 'f')}})));
  std::strcpy(WindowCaption, "ゲーム アップデータ");
  WizardWindow = (WindowHandle)0x77;
  EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "F", "e:\\scratch\\f.bin", 0));
  ExpectOneBox(ShortageText("e:", "40"), "ゲーム アップデータ", (WindowHandle)0x77);
}

TEST_F(PackageHostTest, ShortageIsCheckedEvenForAFileThatWouldBeKept) {
  HostMapDrive('D', HostPath("C:").c_str(), kDriveFixed, 0);
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"F", "new content"}})));
  ASSERT_TRUE(WriteTestFile(At("f.txt"), "old"));  // written now: newer than the entry
  EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "F", "D:\\scratch\\f.txt", 1));
  ExpectOneBox(ShortageText("D:", "11"));
  EXPECT_EQ("old", Read(At("f.txt")));
}

TEST_F(PackageHostTest, PathWithoutDriveLetterSkipsTheCheck) {
  // C: reports no room at all; a path without a drive letter is not asked.
  HostMapDrive('C', HostPath("C:").c_str(), kDriveFixed, 0);
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"F", "network content"}})));
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(HostPath(At("").c_str()));
  const int result = ExtractPackageEntry(&UpdaterPackage, "F", "relative.txt", 0);
  std::filesystem::current_path(previous);
  EXPECT_EQ(1, result);
  ExpectNoBox();
  EXPECT_EQ("network content", Read(At("relative.txt")));
  // A network path cannot be written on the host, but still shows no box.
  EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "F", "\\\\server\\share\\f.txt", 0));
  ExpectNoBox();
}

TEST_F(PackageHostTest, UnmappedDriveFailsWithoutABox) {
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"F", "x"}})));
  EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "F", "X:\\f.txt", 0));
  ExpectNoBox();
}

// ---- the safe replacement ----

TEST_F(PackageHostTest, RefusedReplacementKeepsTheOriginalAndNoTemporary) {
  // A read-only file cannot be replaced; WriteFileWithTime (used directly by
  // the update run) must then fail without touching it.
  ASSERT_TRUE(WriteTestFile(At("ro.txt"), "original"));
  ASSERT_TRUE(OsSetFileAttributes(At("ro.txt").c_str(), kAttrReadOnly));
  EXPECT_EQ(0, WriteFileWithTime(At("ro.txt").c_str(), "new", 3, nullptr));
  EXPECT_EQ("original", Read(At("ro.txt")));
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(HostPath(Root().c_str())))
    names.push_back(item.path().filename().string());
  EXPECT_EQ(std::vector<std::string>{"ro.txt"}, names);
}

// The content must be on the disk before it replaces the file: a flush
// that fails (a late write error) keeps the original and leaves no temporary.
TEST_F(PackageHostTest, FailedFlushKeepsTheOriginalAndNoTemporary) {
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"F", "new", kTestCompressed}})));
  ASSERT_TRUE(WriteTestFile(At("f.txt"), "original"));
  HostFailNextFlush();
  EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "F", At("f.txt").c_str(), 0));
  EXPECT_EQ("original", Read(At("f.txt")));
  HostFailNextFlush();
  EXPECT_EQ(0, WriteFileWithTime(At("f.txt").c_str(), "new", 3, nullptr));
  EXPECT_EQ("original", Read(At("f.txt")));
  EXPECT_EQ(std::vector<std::string>{"f.txt"}, FolderNames(Root()));
  ExpectNoBox();
  EXPECT_EQ(1, ExtractPackageEntry(&UpdaterPackage, "F", At("f.txt").c_str(), 0));
  EXPECT_EQ("new", Read(At("f.txt")));
}

TEST_F(PackageHostTest, MissingWriteSlotFailsWithoutTouchingTheFile) {
  ASSERT_TRUE(OpenTestPackage(BuildTestPackage({{"F", "new"}})));
  ASSERT_TRUE(WriteTestFile(At("f.txt"), "original"));
  for (int slot = 0; slot < 2; ++slot) {
    struct DynamicApi saved = DynamicApi;
    if (slot == 0) DynamicApi.pfnCreateFile = nullptr;
    else DynamicApi.pfnWriteFile = nullptr;
    EXPECT_EQ(0, ExtractPackageEntry(&UpdaterPackage, "F", At("f.txt").c_str(), 0)) << slot;
    DynamicApi = saved;
    EXPECT_EQ("original", Read(At("f.txt"))) << slot;
  }
  ExpectNoBox();
}

}  // namespace

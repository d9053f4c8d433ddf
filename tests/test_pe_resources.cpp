// The PE resource editor on small images built by the mingw-w64 tools
// (tests/pe_fixture): adding, replacing and removing resources in each
// section layout, keeping everything else, the checksum, and the refusal of
// damaged images. The results are read back by a walker of this file's own
// and, on Windows, by the system loader itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "package/format.h"
#include "packer/pe_resources.h"

#if defined(_WIN32)
#include <windows.h>

#include "support/scratch.h"
#endif

namespace {

using Bytes = std::vector<uint8_t>;

// ------------------------------------------------- an independent reader

u32 Get16(const Bytes& b, size_t at) { return (u32)b.at(at) | (u32)b.at(at + 1) << 8; }
u32 Get32(const Bytes& b, size_t at) { return Get16(b, at) | Get16(b, at + 2) << 16; }
void Put32(Bytes* b, size_t at, u32 v) {
  for (int i = 0; i < 4; ++i) b->at(at + i) = (uint8_t)(v >> (8 * i));
}

struct TestSection {
  std::string name;
  u32 virtualSize, virtualAddress, rawSize, rawOffset;
};

// The fields of the headers that the editor changes, read by plain offsets.
struct Headers {
  size_t pe = 0, opt = 0, table = 0;
  std::vector<TestSection> sections;
  u32 fileAlignment = 0, sectionAlignment = 0, sizeOfImage = 0, initializedData = 0;
  u32 checksum = 0, symbolTable = 0;
  bool pe32Plus = false;  // the 64-bit optional header, whose directories stand 16 bytes later
  u32 Directory(u32 index, u32 field) const {
    return Get32(*image, opt + (pe32Plus ? 112 : 96) + 8 * index + field);
  }
  const Bytes* image = nullptr;
  size_t ChecksumOffset() const { return opt + 64; }
  size_t Offset(u32 rva) const {
    for (const TestSection& s : sections)
      if (rva >= s.virtualAddress && rva < s.virtualAddress + std::max(s.virtualSize, s.rawSize))
        return s.rawOffset + (rva - s.virtualAddress);
    ADD_FAILURE() << "RVA " << rva << " in no section";
    return 0;
  }
  int Find(const std::string& name) const {
    for (size_t i = 0; i < sections.size(); ++i)
      if (sections[i].name == name) return (int)i;
    return -1;
  }
};

Headers ReadHeaders(const Bytes& image) {
  Headers h;
  h.image = &image;
  h.pe = Get32(image, 0x3C);
  h.opt = h.pe + 24;
  h.table = h.opt + Get16(image, h.pe + 20);
  h.symbolTable = Get32(image, h.pe + 12);
  h.pe32Plus = Get16(image, h.opt) == 0x20B;
  h.initializedData = Get32(image, h.opt + 8);
  h.sectionAlignment = Get32(image, h.opt + 32);
  h.fileAlignment = Get32(image, h.opt + 36);
  h.sizeOfImage = Get32(image, h.opt + 56);
  h.checksum = Get32(image, h.opt + 64);
  for (u32 i = 0; i < Get16(image, h.pe + 6); ++i) {
    const size_t at = h.table + 40 * i;
    TestSection s;
    s.name = std::string((const char*)&image.at(at), strnlen((const char*)&image.at(at), 8));
    s.virtualSize = Get32(image, at + 8);
    s.virtualAddress = Get32(image, at + 12);
    s.rawSize = Get32(image, at + 16);
    s.rawOffset = Get32(image, at + 20);
    h.sections.push_back(s);
  }
  return h;
}

// Sums 16-bit words in 64 bits and folds once at the end: the same
// one's-complement sum as the editor's running fold, reached another way.
u32 IndependentChecksum(Bytes image, size_t checksumOffset) {
  const size_t length = image.size();
  for (size_t i = checksumOffset; i < checksumOffset + 4 && i < length; ++i) image[i] = 0;
  if (length % 2) image.push_back(0);
  uint64_t sum = 0;
  for (size_t i = 0; i < image.size(); i += 2) sum += Get16(image, i);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return (u32)sum + (u32)length;
}

struct TestResource {
  std::string type, name;
  u32 language;
  Bytes bytes;
  u32 codePage;
};

std::string KeyText(const Bytes& image, size_t root, u32 field) {
  if (!(field & 0x80000000u)) return "#" + std::to_string(field);
  const size_t at = root + (field & 0x7FFFFFFFu);
  std::string text;
  for (u32 i = 0; i < Get16(image, at); ++i) text += (char)Get16(image, at + 2 + 2 * i);
  return text;
}

std::string Upper(std::string s) {
  for (char& c : s) c = (char)std::toupper((unsigned char)c);
  return s;
}

// The (key, data) fields of one directory table, checked for the order
// that the loader's binary search needs: names first, without regard to
// case, then ids ascending.
std::vector<std::pair<u32, u32>> DirectoryEntries(const Bytes& b, size_t root, size_t dir) {
  const u32 named = Get16(b, dir + 12), ids = Get16(b, dir + 14);
  std::vector<std::pair<u32, u32>> entries;
  std::string lastName;
  u32 lastId = 0;
  for (u32 i = 0; i < named + ids; ++i) {
    const u32 key = Get32(b, dir + 16 + 8 * i), data = Get32(b, dir + 20 + 8 * i);
    const bool isName = (key & 0x80000000u) != 0;
    EXPECT_EQ(i < named, isName) << "named entries must come first";
    if (isName) {
      const std::string name = Upper(KeyText(b, root, key));
      if (i > 0) {
        EXPECT_LT(lastName, name) << "names out of order";
      }
      lastName = name;
    } else {
      if (i > named) {
        EXPECT_LT(lastId, key) << "ids out of order";
      }
      lastId = key;
    }
    entries.emplace_back(key, data);
  }
  return entries;
}

// Reads every resource as a loader walks the tree.
std::vector<TestResource> WalkResources(const Bytes& image) {
  const Headers h = ReadHeaders(image);
  std::vector<TestResource> out;
  if (!h.Directory(2, 0)) return out;
  const size_t root = h.Offset(h.Directory(2, 0));
  for (const auto& t : DirectoryEntries(image, root, root)) {
    const size_t typeDir = root + (t.second & 0x7FFFFFFFu);
    for (const auto& n : DirectoryEntries(image, root, typeDir)) {
      const size_t nameDir = root + (n.second & 0x7FFFFFFFu);
      for (const auto& l : DirectoryEntries(image, root, nameDir)) {
        EXPECT_EQ(0u, l.second & 0x80000000u);
        const size_t entry = root + l.second;
        const u32 rva = Get32(image, entry), size = Get32(image, entry + 4);
        const size_t at = h.Offset(rva);
        TestResource r{
            KeyText(image, root, t.first), KeyText(image, root, n.first), l.first,
            Bytes(image.begin() + (std::ptrdiff_t)at, image.begin() + (std::ptrdiff_t)(at + size)),
            Get32(image, entry + 8)};
        EXPECT_EQ(0u, rva % 8) << "resource data aligned to 8";
        out.push_back(r);
      }
    }
  }
  return out;
}

const TestResource* FindWalked(const std::vector<TestResource>& all, const std::string& type,
                               const std::string& name, u32 language) {
  for (const TestResource& r : all)
    if (r.type == type && r.name == name && r.language == language) return &r;
  return nullptr;
}

// ------------------------------------------------------------- fixtures

Bytes Payload(size_t size, uint8_t seed) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = (uint8_t)(seed + i * 7 + (i >> 8));
  return b;
}

const ResourceKey kUpdate = ResourceKey::Name(kPackageResourceType);

#if defined(PE_FIXTURE_DIR)
std::string FixtureFile(const std::string& name) {
  std::string path = std::string(PE_FIXTURE_DIR) + "/" + name;
#if defined(_WIN32)
  // Wine sees the host's file system as drive Z:.
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  std::replace(path.begin(), path.end(), '/', '\\');
#endif
  return path;
}
#endif

class PeResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if !defined(PE_FIXTURE_DIR)
    GTEST_SKIP() << "no test images: this build found no i686-w64-mingw32 gcc and windres";
#endif
  }

  static Bytes Fixture(const std::string& variant) {
#if defined(PE_FIXTURE_DIR)
    std::ifstream in(FixtureFile(variant + ".exe"), std::ios::binary);
    Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(bytes.empty()) << "cannot read the test image " << variant << ".exe";
    return bytes;
#else
    (void)variant;
    return Bytes();
#endif
  }

  static PeResourceEditor Load(const Bytes& image) {
    PeResourceEditor editor;
    std::string error;
    EXPECT_TRUE(editor.Load(image, &error)) << error;
    return editor;
  }

  static Bytes Write(const PeResourceEditor& editor) {
    Bytes out;
    std::string error;
    EXPECT_TRUE(editor.Write(&out, &error)) << error;
    return out;
  }

  static Bytes WithUpdate(const Bytes& image, const Bytes& payload) {
    PeResourceEditor editor = Load(image);
    editor.Set(kUpdate, kPackageResourceId, 0, payload);
    return Write(editor);
  }

  // Everything the editor must keep: the headers' invariants, the sections
  // it does not own byte for byte, and every resource of `before`.
  static void ExpectConsistent(const Bytes& before, const Bytes& after) {
    const Headers a = ReadHeaders(before), b = ReadHeaders(after);
    EXPECT_EQ(IndependentChecksum(after, b.ChecksumOffset()), b.checksum);
    EXPECT_EQ(0u, b.Directory(4, 0));
    EXPECT_EQ(0u, b.Directory(4, 4));
    u32 virtualEnd = 0;
    u32 nextVirtual = b.sections.front().virtualAddress;
    for (const TestSection& s : b.sections) {
      EXPECT_EQ(nextVirtual, s.virtualAddress) << s.name << " follows the section before it";
      nextVirtual = s.virtualAddress + std::max(s.virtualSize, s.rawSize);
      nextVirtual =
          (nextVirtual + b.sectionAlignment - 1) / b.sectionAlignment * b.sectionAlignment;
      virtualEnd = std::max(virtualEnd, s.virtualAddress + std::max(s.virtualSize, s.rawSize));
      if (s.rawSize) {
        EXPECT_EQ(0u, s.rawOffset % b.fileAlignment) << s.name;
        EXPECT_EQ(0u, s.rawSize % b.fileAlignment) << s.name;
        EXPECT_LE((size_t)s.rawOffset + s.rawSize, after.size()) << s.name;
      }
    }
    EXPECT_EQ((virtualEnd + b.sectionAlignment - 1) / b.sectionAlignment * b.sectionAlignment,
              b.sizeOfImage);
    // The resource directory opens the last section named .rsrc.
    int rsrc = -1;
    for (size_t i = 0; i < b.sections.size(); ++i)
      if (b.sections[i].name == ".rsrc") rsrc = (int)i;
    ASSERT_GE(rsrc, 0);
    EXPECT_EQ(b.sections[(size_t)rsrc].virtualAddress, b.Directory(2, 0));
    EXPECT_EQ(b.sections[(size_t)rsrc].virtualSize, b.Directory(2, 4));
    // Initialized data grows by what the resource sections grew.
    uint64_t rawBefore = 0, rawAfter = 0;
    for (const TestSection& s : a.sections) rawBefore += s.name == ".rsrc" ? s.rawSize : 0;
    for (const TestSection& s : b.sections) rawAfter += s.name == ".rsrc" ? s.rawSize : 0;
    EXPECT_EQ((u32)(a.initializedData + rawAfter - rawBefore), b.initializedData);
    // Every other section's bytes, wherever the section now lies.
    for (const TestSection& s : a.sections) {
      if (s.name == ".rsrc" || !s.rawSize) continue;
      const int j = b.Find(s.name);
      ASSERT_GE(j, 0) << s.name;
      const TestSection& t = b.sections[(size_t)j];
      EXPECT_EQ(s.virtualSize, t.virtualSize) << s.name;
      EXPECT_TRUE(std::equal(before.begin() + s.rawOffset, before.begin() + s.rawOffset + s.rawSize,
                             after.begin() + t.rawOffset))
          << s.name << " changed";
      if (s.name != ".reloc") {
        EXPECT_EQ(s.virtualAddress, t.virtualAddress) << s.name;
      }
    }
    if (a.Directory(5, 0)) {
      const int r = a.Find(".reloc"), q = b.Find(".reloc");
      ASSERT_GE(q, 0);
      EXPECT_EQ(a.Directory(5, 0) - a.sections[(size_t)r].virtualAddress +
                    b.sections[(size_t)q].virtualAddress,
                b.Directory(5, 0));
      EXPECT_EQ(a.Directory(5, 4), b.Directory(5, 4));
    }
    // Every resource of the original, unchanged, in both readers.
    const PeResourceEditor reread = Load(after);
    const std::vector<TestResource> walked = WalkResources(after);
    for (const TestResource& r : WalkResources(before)) {
      const TestResource* w = FindWalked(walked, r.type, r.name, r.language);
      ASSERT_NE(nullptr, w) << r.type << "/" << r.name << "/" << r.language << " lost";
      EXPECT_EQ(r.bytes, w->bytes) << r.type << "/" << r.name;
      EXPECT_EQ(r.codePage, w->codePage) << r.type << "/" << r.name;
    }
    PeResourceEditor original = Load(before);
    for (const ResourceRef& ref : original.List()) {
      const ResourceData* d = reread.Find(ref.type, ref.name, ref.language.id());
      ASSERT_NE(nullptr, d) << ref.type.Describe() << "/" << ref.name.Describe();
      EXPECT_EQ(ref.data->bytes, d->bytes);
    }
  }
};

#if defined(_WIN32)
// The system's view of an image written to a file: its resources through
// the resource functions, and whether it still runs.
class SystemImage {
 public:
  explicit SystemImage(const Bytes& image) : path_(scratch_ / "edited.exe") {
    EXPECT_TRUE(WriteTestFile(path_, std::string(image.begin(), image.end())));
    module_ = LoadLibraryExA(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(nullptr, module_) << "the loader refused the image, error " << GetLastError();
  }
  ~SystemImage() {
    if (module_) FreeLibrary(module_);
  }
  bool Read(LPCSTR type, LPCSTR name, WORD language, Bytes* out) const {
    HRSRC found = language == 0xFFFF ? FindResourceA(module_, name, type)
                                     : FindResourceExA(module_, type, name, language);
    if (!found) return false;
    const DWORD size = SizeofResource(module_, found);
    HGLOBAL loaded = LoadResource(module_, found);
    const uint8_t* p = loaded ? (const uint8_t*)LockResource(loaded) : nullptr;
    if (!p && size) return false;
    out->assign(p, p + size);
    return true;
  }
  DWORD Run() const {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string command = "\"" + path_ + "\"";
    if (!CreateProcessA(path_.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
      return 0xFFFFFFFFu;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0xFFFFFFFFu;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
  }
  const std::string& path() const { return path_; }

 private:
  ScratchFolder scratch_;
  std::string path_;
  HMODULE module_ = nullptr;
};
#endif

// --------------------------------------------------------------- tests

#if defined(_WIN32)
// Whether this test program can start `image`: images of its own width only,
// since a 64-bit Wine without the 32-bit one runs no 32-bit program.
bool RunsHere(const Bytes& image) { return ReadHeaders(image).pe32Plus == (sizeof(void*) == 8); }
#endif

struct LayoutCase {
  const char* variant;
  int addedSections;      // the resource section was appended
  bool relocationsMoved;  // .reloc came after the resources and moved up
};

TEST_F(PeResourcesTest, AddsThePackageInEveryLayout) {
  const LayoutCase cases[] = {
      {"relocs", 0, true},  // as Updater.exe: in place, relocations behind
      {"last", 0, false},   // in place
      {"debug", 1, false},  // debug sections follow: a new section
      {"bare", 1, false},   // no resources yet: a new section
#if defined(PE_FIXTURE_64)
      {"relocs64", 0, true},  // the same as a 64-bit (PE32+) image
#endif
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.variant);
    const Bytes before = Fixture(c.variant);
    const Bytes payload = Payload(5000, 3);
    const Bytes after = WithUpdate(before, payload);
    ASSERT_FALSE(after.empty());
    const Headers a = ReadHeaders(before), b = ReadHeaders(after);
    EXPECT_EQ(a.sections.size() + (size_t)c.addedSections, b.sections.size());
    EXPECT_EQ(".rsrc", b.sections[b.sections.size() - (c.relocationsMoved ? 2 : 1)].name);
    if (c.relocationsMoved) {
      EXPECT_EQ(".reloc", b.sections.back().name);
      EXPECT_GT(b.sections.back().virtualAddress, a.sections.back().virtualAddress);
    }
    if (a.symbolTable) {  // the symbols after the sections moved with them
      EXPECT_EQ(a.symbolTable + (after.size() - before.size()), b.symbolTable);
      EXPECT_TRUE(
          std::equal(before.begin() + a.symbolTable, before.end(), after.begin() + b.symbolTable));
    }
    ExpectConsistent(before, after);

    const std::vector<TestResource> walked = WalkResources(after);
    const TestResource* update = FindWalked(walked, "UPDATE", "#102", 0);
    ASSERT_NE(nullptr, update);
    EXPECT_EQ(payload, update->bytes);
    EXPECT_EQ(WalkResources(before).size() + 1, walked.size());

#if defined(_WIN32)
    SystemImage system(after);
    Bytes read;
    EXPECT_TRUE(system.Read("UPDATE", MAKEINTRESOURCEA(102), 0xFFFF, &read));
    EXPECT_EQ(payload, read);
    if (std::string(c.variant) != "bare") {
      EXPECT_TRUE(system.Read(MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(100), 0xFFFF, &read))
          << "dialog";
      EXPECT_TRUE(system.Read(MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1), 0xFFFF, &read))
          << "version";
      EXPECT_TRUE(system.Read(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1), 0xFFFF, &read))
          << "manifest";
      EXPECT_TRUE(system.Read("CFGDATA", "ALPHA", 0xFFFF, &read));
      EXPECT_EQ("alpha!", std::string(read.begin(), read.end()));
      EXPECT_TRUE(system.Read(MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(7),
                              MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), &read));
      EXPECT_EQ("japanese data", std::string(read.begin(), read.begin() + 13));
    }
    if (RunsHere(after)) {
      EXPECT_EQ(42u, system.Run()) << "the edited image no longer runs";
    }
#endif
  }
}

TEST_F(PeResourcesTest, ReplacesWithLargerThenSmallerAndAddsASecond) {
  Bytes image = Fixture("relocs");
  const Bytes original = image;
  struct Step {
    uint16_t id;
    size_t size;
    int grows;  // sign of the file's change in size
  };
  const Step steps[] = {{kPackageResourceId, 3000, 1},
                        {kPackageResourceId, 20000, 1},
                        {kPackageResourceId, 10, -1},
                        {kPackageDigestResourceId, 32, 0}};
  Bytes expected102;
  for (const Step& s : steps) {
    SCOPED_TRACE("resource " + std::to_string(s.id) + ", " + std::to_string(s.size) + " bytes");
    PeResourceEditor editor = Load(image);
    const Bytes payload = Payload(s.size, (uint8_t)s.size);
    if (s.id == 102) expected102 = payload;
    editor.Set(kUpdate, s.id, 0, payload, s.id == 103 ? 932 : 0);
    const Bytes next = Write(editor);
    ASSERT_FALSE(next.empty());
    if (s.grows > 0) {
      EXPECT_GT(next.size(), image.size());
    }
    if (s.grows < 0) {
      EXPECT_LT(next.size(), image.size());
    }
    ExpectConsistent(original, next);
    image = next;
  }
  const std::vector<TestResource> walked = WalkResources(image);
  const TestResource* first = FindWalked(walked, "UPDATE", "#102", 0);
  const TestResource* second = FindWalked(walked, "UPDATE", "#103", 0);
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(expected102, first->bytes);
  EXPECT_EQ(Payload(32, 32), second->bytes);
  EXPECT_EQ(932u, second->codePage);
  EXPECT_EQ(0u, first->codePage);
  // Rewritten in place each time: the section count never changed.
  EXPECT_EQ(ReadHeaders(original).sections.size(), ReadHeaders(image).sections.size());

  std::string error;
  Bytes read;
  ASSERT_TRUE(ReadPeResource(image, kUpdate, 103, &read, &error)) << error;
  EXPECT_EQ(Payload(32, 32), read);
  EXPECT_FALSE(ReadPeResource(image, kUpdate, 104, &read, &error));
  EXPECT_NE(std::string::npos, error.find("\"UPDATE\"/104")) << error;
#if defined(_WIN32)
  SystemImage system(image);
  EXPECT_TRUE(system.Read("UPDATE", MAKEINTRESOURCEA(103), 0xFFFF, &read));
  EXPECT_EQ(Payload(32, 32), read);
  EXPECT_TRUE(system.Read("UPDATE", MAKEINTRESOURCEA(102), 0xFFFF, &read));
  EXPECT_EQ(expected102, read);
  if (RunsHere(image)) {
    EXPECT_EQ(42u, system.Run());
  }
#endif
}

TEST_F(PeResourcesTest, KeysFollowTheDirectoryOrder) {
  PeResourceEditor editor = Load(Fixture("last"));
  // The linker's order, as read: names first (sorted), then ids ascending.
  std::vector<std::string> types;
  for (const ResourceRef& r : editor.List())
    if (types.empty() || types.back() != r.type.Describe()) types.push_back(r.type.Describe());
  EXPECT_EQ((std::vector<std::string>{"\"CFGDATA\"", "5", "6", "10", "16", "24"}), types);

  editor.Set(ResourceKey::Name("update"), 102, 0, Payload(4, 1));
  editor.Set(kUpdate, 102, 0, Payload(8, 2));  // the same key, found without regard to case
  editor.Set(ResourceKey::Name("Aardvark"), 1, 0, Payload(4, 3));
  editor.Set(ResourceKey::Name("CFGDATA"), ResourceKey::Name("beta"), 0, Payload(4, 4));
  editor.Set(ResourceKey::Name("CFGDATA"), 3, 0, Payload(4, 5));
  editor.Set(10, 7, 0x0407, Payload(4, 6));
  const std::vector<TestResource> walked = WalkResources(Write(editor));  // checks each order
  std::vector<std::string> keys;
  for (const TestResource& r : walked)
    keys.push_back(r.type + "/" + r.name + "/" + std::to_string(r.language));
  const std::vector<std::string> expected = {
      "Aardvark/#1/0", "CFGDATA/ALPHA/0", "CFGDATA/beta/0", "CFGDATA/SETTINGS/0", "CFGDATA/ZETA/0",
      "CFGDATA/#3/0",  "CFGDATA/#12/0",   "update/#102/0",  "#5/#100/1033",       "#6/#1/1033",
      "#10/#7/1031",   "#10/#7/1033",     "#10/#7/1041",    "#16/#1/1033",        "#24/#1/0"};
  EXPECT_EQ(expected, keys);
  EXPECT_EQ(Payload(8, 2), FindWalked(walked, "update", "#102", 0)->bytes);
}

TEST_F(PeResourcesTest, RemoveDropsEmptyDirectories) {
  PeResourceEditor editor = Load(Fixture("relocs"));
  const size_t count = editor.List().size();
  editor.Set(kUpdate, 102, 0, Payload(10, 1));
  editor.Set(kUpdate, 103, 0, Payload(10, 2));
  struct Case {
    ResourceKey type;
    ResourceKey name;
    uint16_t language;
    bool removed;
    size_t left;
  };
  const Case cases[] = {
      {kUpdate, 102, 1033, false, count + 2},  // wrong language
      {kUpdate, 102, 0, true, count + 1},
      {kUpdate, 102, 0, false, count + 1},  // already gone
      {10, 7, 1041, true, count},           // one of two languages
      {kUpdate, 103, 0, true, count - 1},   // the type's last resource
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type.Describe() + "/" + c.name.Describe() + "/" + std::to_string(c.language));
    EXPECT_EQ(c.removed, editor.Remove(c.type, c.name, c.language));
    EXPECT_EQ(c.left, editor.List().size());
  }
  const std::vector<TestResource> walked = WalkResources(Write(editor));
  EXPECT_EQ(count - 1, walked.size());
  EXPECT_EQ(nullptr, FindWalked(walked, "#10", "#7", 1041));
  EXPECT_NE(nullptr, FindWalked(walked, "#10", "#7", 1033));
  for (const TestResource& r : walked) EXPECT_NE("UPDATE", r.type) << "an empty type was written";
}

TEST_F(PeResourcesTest, RemoveAllLanguagesDropsANameAtOnce) {
  PeResourceEditor editor = Load(Fixture("relocs"));
  const size_t count = editor.List().size();
  for (uint16_t language : {0, 1033, 1041}) editor.Set(kUpdate, 102, language, Payload(4, 1));
  editor.Set(kUpdate, 103, 0, Payload(4, 2));
  struct Case {
    ResourceKey type;
    ResourceKey name;
    size_t removed;
    size_t left;
  };
  const Case cases[] = {
      {kUpdate, 102, 3, count + 1},
      {kUpdate, 102, 0, count + 1},  // already gone
      {10, 7, 2, count - 1},         // in two languages in the image
      {kUpdate, 103, 1, count - 2},  // the type's last resource
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type.Describe() + "/" + c.name.Describe());
    EXPECT_EQ(c.removed, editor.RemoveAllLanguages(c.type, c.name));
    EXPECT_TRUE(editor.Languages(c.type, c.name).empty());
    EXPECT_EQ(c.left, editor.List().size());
  }
  const std::vector<TestResource> walked = WalkResources(Write(editor));
  EXPECT_EQ(count - 2, walked.size());
  EXPECT_NE(nullptr, FindWalked(walked, "#6", "#1", 1033));
  for (const TestResource& r : walked) {
    EXPECT_NE("UPDATE", r.type) << "an empty type was written";
    EXPECT_NE("#10", r.type) << "an empty type was written";
  }
}

TEST_F(PeResourcesTest, KeepsTheOverlayAndDropsTheSignature) {
  const Bytes base = Fixture("relocs");
  const Bytes overlay = {'O', 'V', 'E', 'R', 'L', 'A', 'Y', '!'};
  const Bytes signature = Payload(24, 9);
  struct Case {
    const char* what;
    bool overlay, signature;
  };
  const Case cases[] = {
      {"overlay", true, false}, {"signature", false, true}, {"overlay and signature", true, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes image = base;
    if (c.overlay) image.insert(image.end(), overlay.begin(), overlay.end());
    if (c.signature) {
      Put32(&image, ReadHeaders(image).opt + 96 + 8 * 4, (u32)image.size());
      Put32(&image, ReadHeaders(image).opt + 96 + 8 * 4 + 4, (u32)signature.size());
      image.insert(image.end(), signature.begin(), signature.end());
    }
    const Bytes after = WithUpdate(image, Payload(100, 1));
    ASSERT_FALSE(after.empty());
    const Headers h = ReadHeaders(after);
    size_t end = 0;
    for (const TestSection& s : h.sections) end = std::max(end, (size_t)s.rawOffset + s.rawSize);
    const Bytes tail(after.begin() + (std::ptrdiff_t)end, after.end());
    EXPECT_EQ(c.overlay ? overlay : Bytes(), tail);
    EXPECT_EQ(0u, h.Directory(4, 0));
    EXPECT_EQ(0u, h.Directory(4, 4));
    EXPECT_EQ(IndependentChecksum(after, h.ChecksumOffset()), h.checksum);
  }
}

TEST_F(PeResourcesTest, DebugDataAfterTheSectionsMovesWithThem) {
  // Linkers may leave debug data after the last section, addressed by file
  // offset from the debug directory: move the build id's record there.
  Bytes image = Fixture("relocs");
  const Headers h = ReadHeaders(image);
  ASSERT_NE(0u, h.Directory(6, 0)) << "the test image has no debug directory";
  const size_t entry = h.Offset(h.Directory(6, 0));
  const u32 size = Get32(image, entry + 16), pointer = Get32(image, entry + 24);
  const Bytes record(image.begin() + pointer, image.begin() + pointer + size);
  ASSERT_EQ("RSDS", std::string(record.begin(), record.begin() + 4));
  Put32(&image, entry + 24, (u32)image.size());
  image.insert(image.end(), record.begin(), record.end());

  const Bytes after = WithUpdate(image, Payload(9000, 4));
  ASSERT_GT(after.size(), image.size());
  const Headers b = ReadHeaders(after);
  const size_t moved = b.Offset(b.Directory(6, 0));
  const u32 newPointer = Get32(after, moved + 24);
  EXPECT_EQ(after.size() - size, newPointer);
  EXPECT_TRUE(std::equal(record.begin(), record.end(), after.begin() + newPointer));
}

TEST_F(PeResourcesTest, ChecksumIsTheStandardOne) {
  // The linker writes the standard checksum: reproduce it for every image.
  for (const char* variant : {"relocs", "last", "debug", "bare"}) {
    SCOPED_TRACE(variant);
    const Bytes image = Fixture(variant);
    const Headers h = ReadHeaders(image);
    EXPECT_NE(0u, h.checksum);
    EXPECT_EQ(h.checksum, PeImageChecksum(image.data(), image.size(), h.ChecksumOffset()));
    EXPECT_EQ(h.checksum, IndependentChecksum(image, h.ChecksumOffset()));
  }
  struct Sum {
    Bytes bytes;
    size_t checksumOffset;
    u32 expected;
  };
  const Sum sums[] = {
      // an odd length counts the last byte as a word of its own
      {{1, 2, 3, 4, 5, 6, 7, 8, 9}, 100, 0x0201 + 0x0403 + 0x0605 + 0x0807 + 0x0009 + 9},
      // the checksum field counts as zero, even when it straddles words
      {{1, 2, 3, 4, 5, 6, 7, 8, 9}, 2, 0x0201 + 0x0807 + 0x0009 + 9},
      {{1, 2, 3, 4, 5, 6, 7, 8, 9}, 3, 0x0201 + 0x0003 + 0x0800 + 0x0009 + 9},
      // carries wrap around into the low bits
      {Bytes(8, 0xFF), 100, 0xFFFF + 8},
      {{0xFF, 0xFF, 0x02, 0x00}, 100, 0x0002 + 4},
  };
  for (const Sum& s : sums) {
    EXPECT_EQ(s.expected, PeImageChecksum(s.bytes.data(), s.bytes.size(), s.checksumOffset));
    EXPECT_EQ(s.expected, IndependentChecksum(s.bytes, s.checksumOffset)) << "the tests' own sum";
  }

#if defined(_WIN32)
  typedef DWORD(WINAPI * MapFileAndCheckSumFn)(PCSTR, PDWORD, PDWORD);
  HMODULE imagehlp = LoadLibraryA("imagehlp.dll");
  MapFileAndCheckSumFn map =
      imagehlp ? (MapFileAndCheckSumFn)(void*)GetProcAddress(imagehlp, "MapFileAndCheckSumA")
               : nullptr;
  if (!map) GTEST_SKIP() << "imagehlp's MapFileAndCheckSumA is not available";
  const Bytes edited = WithUpdate(Fixture("relocs"), Payload(777, 5));
  ScratchFolder scratch;
  ASSERT_TRUE(WriteTestFile(scratch / "sum.exe", std::string(edited.begin(), edited.end())));
  DWORD stored = 0, computed = 0;
  ASSERT_EQ(0u, map((scratch / "sum.exe").c_str(), &stored, &computed));
  EXPECT_EQ(computed, stored);
  EXPECT_EQ(ReadHeaders(edited).checksum, computed);
#endif
}

// Offset of the resource directory's root in the file, read independently.
size_t ResourceRoot(const Bytes& image) {
  const Headers h = ReadHeaders(image);
  return h.Offset(h.Directory(2, 0));
}

// One damage done to a good image, and what the refusal must say.
struct RefusalCase {
  const char* what;
  std::function<void(Bytes*)> damage;
  const char* message;
};

template <size_t N>
void ExpectRefusals(const Bytes& good, const RefusalCase (&cases)[N]) {
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes damaged = good;
    c.damage(&damaged);
    PeResourceEditor editor;
    std::string error;
    EXPECT_FALSE(editor.Load(damaged, &error));
    EXPECT_NE(std::string::npos, error.find(c.message)) << error;
  }
}

TEST_F(PeResourcesTest, RefusesMalformedImages) {
  const Bytes good = Fixture("relocs");
  const Headers h = ReadHeaders(good);
  const size_t root = ResourceRoot(good);
  // The first type's subdirectory, its first name's, and that one's data entry.
  const size_t typeDir = root + (Get32(good, root + 20) & 0x7FFFFFFFu);
  const size_t nameDir = root + (Get32(good, typeDir + 20) & 0x7FFFFFFFu);
  const size_t dataEntry = root + Get32(good, nameDir + 20);
  const RefusalCase cases[] = {
      {"empty", [](Bytes* b) { b->clear(); }, "too short for the DOS header"},
      {"no MZ", [](Bytes* b) { (*b)[0] = 'X'; }, "no 'MZ' signature"},
      {"header offset past the end", [](Bytes* b) { Put32(b, 0x3C, 0x7FFFFFF0); }, "PE header"},
      {"no PE signature", [&](Bytes* b) { (*b)[h.pe] = 'Q'; }, "no 'PE' signature"},
      {"unknown magic", [&](Bytes* b) { (*b)[h.opt + 1] = 0x03; }, "unknown optional header magic"},
      {"section table past the end",
       [&](Bytes* b) {
         (*b)[h.pe + 6] = 0xFF;
         (*b)[h.pe + 7] = 0x7F;
       },
       "section table of 32767 entries"},
      {"section data past the end",
       [&](Bytes* b) { Put32(b, h.table + 40 * (h.sections.size() - 1) + 16, 0x10000000); },
       "runs past the end of the file"},
      {"sections out of order", [&](Bytes* b) { Put32(b, h.table + 40 + 12, 0x1000); },
       "out of order"},
      {"a section over the headers", [&](Bytes* b) { Put32(b, h.table + 12, 0); },
       "overlaps the headers"},
      {"odd file alignment", [&](Bytes* b) { Put32(b, h.opt + 36, 0x300); }, "unusable alignments"},
      {"resource directory outside every section",
       [&](Bytes* b) { Put32(b, h.opt + 96 + 16, 0x7FFF0000); }, "lies in no section"},
      {"directory loop to the root", [&](Bytes* b) { Put32(b, root + 20, 0x80000000u); },
       "has a loop"},
      {"directory loop to itself",
       [&](Bytes* b) { Put32(b, typeDir + 20, 0x80000000u | (u32)(typeDir - root)); },
       "has a loop"},
      {"subdirectory out of range", [&](Bytes* b) { Put32(b, root + 20, 0x8FFFFFF0u); },
       "outside the resource section"},
      {"entry count out of range",
       [&](Bytes* b) {
         (*b)[root + 14] = 0xFF;
         (*b)[root + 15] = 0xFF;
       },
       "outside the resource section"},
      {"name out of range", [&](Bytes* b) { Put32(b, root + 16, 0xFFFFFFF0u); },
       "outside the resource section"},
      {"data entry out of range", [&](Bytes* b) { Put32(b, nameDir + 20, 0x7FFFFFF0u); },
       "outside the resource section"},
      {"data outside the image", [&](Bytes* b) { Put32(b, dataEntry, 0x7FFFFF00u); },
       "lies in no section"},
      {"data longer than its section", [&](Bytes* b) { Put32(b, dataEntry + 4, 0x100000); },
       "more bytes than the file holds"},
      {"data entry where a directory belongs",
       [&](Bytes* b) { Put32(b, root + 20, Get32(*b, root + 20) & 0x7FFFFFFFu); },
       "is data, not a directory"},
      {"signature inside the sections",
       [&](Bytes* b) {
         Put32(b, h.opt + 96 + 32, 0x400);
         Put32(b, h.opt + 96 + 36, 8);
       },
       "does not lie after the last section"},
  };
  ExpectRefusals(good, cases);
}

TEST_F(PeResourcesTest, AcceptsOnlyAlignmentsALoaderUses) {
  // Every section is padded to FileAlignment: 1 GiB turned a small base
  // image into a 2 GiB updater.
  struct Case {
    u32 fileAlignment, sectionAlignment;
    const char* refusal;  // null: accepted
  };
  const Case cases[] = {
      {0x200, 0x1000, nullptr},  // what mingw and the usual linkers write
      {0x10000, 0x10000, nullptr},
      {0x20, 0x20, nullptr},  // below a page, mapped as it lies in the file
      {0x40000000, 0x40000000, "SectionAlignment is above 0x10000"},
      {0x200, 0x20000, "SectionAlignment is above 0x10000"},
      {0x1000, 0x200, "FileAlignment is above SectionAlignment"},
      {0x100, 0x1000, "FileAlignment is below 0x200 but SectionAlignment is not the same"},
      {0x300, 0x1000, "FileAlignment is not a power of two"},
      {0x200, 0, "SectionAlignment is not a power of two"},
  };
  const Bytes good = Fixture("relocs");
  const Headers h = ReadHeaders(good);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.fileAlignment) + "/" + std::to_string(c.sectionAlignment));
    Bytes image = good;
    Put32(&image, h.opt + 36, c.fileAlignment);
    Put32(&image, h.opt + 32, c.sectionAlignment);
    PeResourceEditor editor;
    std::string error;
    EXPECT_EQ(c.refusal == nullptr, editor.Load(image, &error)) << error;
    if (c.refusal) {
      EXPECT_NE(std::string::npos, error.find("unusable alignments")) << error;
      EXPECT_NE(std::string::npos, error.find(c.refusal)) << error;
    }
  }
}

#if defined(PE_FIXTURE_64)
TEST_F(PeResourcesTest, ReadsTheDirectoriesOfA64BitHeaderWhereTheyStand) {
  // They stand 16 bytes later than in a 32-bit header: read at the 32-bit
  // place, the resource directory would be another directory's entry.
  const Bytes good = Fixture("relocs64");
  const Headers h = ReadHeaders(good);
  ASSERT_TRUE(h.pe32Plus);
  EXPECT_EQ(WalkResources(good).size(), Load(good).List().size());
  const RefusalCase cases[] = {
      {"header too short for its directories",
       [&](Bytes* b) {
         (*b)[h.pe + 20] = 100;
         (*b)[h.pe + 21] = 0;
       },
       "too short for a PE32+ image"},
      {"more directories than the header holds", [&](Bytes* b) { Put32(b, h.opt + 108, 17); },
       "data directories do not fit"},
  };
  ExpectRefusals(good, cases);
}
#endif

TEST_F(PeResourcesTest, RefusesEveryTruncation) {
  // Any image cut before the end of its last section is refused, without a
  // read past the buffer (the sanitizer build would see one).
  const Bytes good = Fixture("relocs");
  const Headers h = ReadHeaders(good);
  size_t rawEnd = 0;
  for (const TestSection& s : h.sections)
    rawEnd = std::max(rawEnd, (size_t)s.rawOffset + s.rawSize);
  ASSERT_EQ(good.size(), rawEnd);
  for (size_t length = 0; length < rawEnd; length += length < 0x400 ? 1 : 8) {
    PeResourceEditor editor;
    std::string error;
    ASSERT_FALSE(editor.Load(Bytes(good.begin(), good.begin() + (std::ptrdiff_t)length), &error))
        << "accepted " << length << " bytes";
    ASSERT_FALSE(error.empty());
  }
}

TEST_F(PeResourcesTest, RefusesToAppendWithoutHeaderRoom) {
  Bytes image = Fixture("bare");
  const Headers h = ReadHeaders(image);
  const size_t tableEnd = h.table + 40 * h.sections.size();
  image[tableEnd + 5] = 0x01;  // something lives in the header's slack
  PeResourceEditor editor = Load(image);
  editor.Set(kUpdate, 102, 0, Payload(10, 1));
  Bytes out;
  std::string error;
  EXPECT_FALSE(editor.Write(&out, &error));
  EXPECT_NE(std::string::npos, error.find("no free room for another section entry")) << error;
  EXPECT_TRUE(out.empty());
}

TEST_F(PeResourcesTest, KeepsTheHeadersWhenNoSectionHasFileData) {
  // Sections without file data leave only the headers before the new one.
  Bytes image = Fixture("bare");
  const Headers h = ReadHeaders(image);
  for (size_t i = 0; i < h.sections.size(); ++i) {
    Put32(&image, h.table + 40 * i + 16, 0);
    Put32(&image, h.table + 40 * i + 20, 0);
  }
  const Bytes after = WithUpdate(image, Payload(64, 1));
  ASSERT_FALSE(after.empty());
  const Headers b = ReadHeaders(after);
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + (std::ptrdiff_t)h.pe + 4, after.begin()));
  EXPECT_EQ(h.sections.size() + 1, b.sections.size());
  EXPECT_LE(Get32(image, h.opt + 60), b.sections.back().rawOffset);
  const std::vector<TestResource> walked = WalkResources(after);
  const TestResource* update = FindWalked(walked, "UPDATE", "#102", 0);
  ASSERT_NE(nullptr, update);
  EXPECT_EQ(Payload(64, 1), update->bytes);
}

// ------------------------------------------------ hand-made resource trees

// Trees no resource compiler writes, each in a 32-bit image of its own with
// one section, .rsrc at RVA 0x1000, so they need no test image.
constexpr u32 kTreeRva = 0x1000;

Bytes ImageAround(const Bytes& tree) {
  const u32 raw = ((u32)tree.size() + 0x1FF) & ~0x1FFu;
  Bytes image(0x200 + raw, 0);
  image[0] = 'M';
  image[1] = 'Z';
  Put32(&image, 0x3C, 0x40);
  std::memcpy(&image[0x40], "PE\0\0", 4);
  Put32(&image, 0x44, 0x0001014C);  // i386, one section
  Put32(&image, 0x54, 0x010200E0);  // optional header of 224 bytes; executable
  const size_t opt = 0x58;
  Put32(&image, opt, 0x10B);
  Put32(&image, opt + 32, 0x1000);
  Put32(&image, opt + 36, 0x200);
  Put32(&image, opt + 56, kTreeRva + ((raw + 0xFFF) & ~0xFFFu));
  Put32(&image, opt + 60, 0x200);
  Put32(&image, opt + 92, 16);
  Put32(&image, opt + 96 + 16, kTreeRva);
  Put32(&image, opt + 96 + 20, (u32)tree.size());
  const size_t section = opt + 0xE0;
  std::memcpy(&image[section], ".rsrc", 5);
  Put32(&image, section + 8, (u32)tree.size());
  Put32(&image, section + 12, kTreeRva);
  Put32(&image, section + 16, raw);
  Put32(&image, section + 20, 0x200);
  Put32(&image, section + 36, 0x40000040);
  std::copy(tree.begin(), tree.end(), image.begin() + 0x200);
  return image;
}

// A tree put together piece by piece; each piece returns its offset.
struct Tree {
  Bytes b;
  size_t Add(std::initializer_list<u32> words) {
    const size_t at = b.size();
    for (u32 w : words) {
      b.resize(b.size() + 4);
      Put32(&b, b.size() - 4, w);
    }
    return at;
  }
  size_t Table(u32 ids, u32 named = 0) { return Add({0, 0, 0, named | ids << 16}); }
  void Entry(u32 key, u32 target) { Add({key, target}); }
  void Subdirectory(u32 key, size_t table) { Entry(key, 0x80000000u | (u32)table); }
  size_t Words(std::initializer_list<uint16_t> words) {
    const size_t at = b.size();
    for (uint16_t w : words) {
      b.push_back((uint8_t)w);
      b.push_back((uint8_t)(w >> 8));
    }
    while (b.size() % 4) b.push_back(0);
    return at;
  }
  void Set(size_t at, u32 value) { Put32(&b, at, value); }
};

// One type (10) with one name (1) of `languages` languages, each with a data
// entry of its own for the same 4 bytes of data.
Tree FlatLanguages(u32 languages) {
  Tree t;
  t.Table(1);
  t.Subdirectory(10, 24);
  t.Table(1);
  t.Subdirectory(1, 48);
  t.Table(languages);
  const size_t entries = t.b.size() + 8 * (size_t)languages;
  for (u32 i = 0; i < languages; ++i) t.Entry(i, (u32)(entries + 16 * (size_t)i));
  const u32 data = kTreeRva + (u32)(entries + 16 * (size_t)languages);
  for (u32 i = 0; i < languages; ++i) t.Add({data, 4, 0, 0});
  t.Add({0x44434241});
  return t;
}

struct TreeCase {
  const char* what;
  std::function<Tree()> build;
  std::vector<const char*> message;  // every part must be in the refusal
};

void ExpectTreeRefusals(const std::vector<TreeCase>& cases) {
  for (const TreeCase& c : cases) {
    SCOPED_TRACE(c.what);
    PeResourceEditor editor;
    std::string error;
    EXPECT_FALSE(editor.Load(ImageAround(c.build().b), &error));
    for (const char* part : c.message) EXPECT_NE(std::string::npos, error.find(part)) << error;
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(ReadPeResource(ImageAround(c.build().b), 10, 1, &bytes, &error));
  }
}

TEST(PeResourceTreeTest, EveryTableNameAndDataEntryHasBytesOfItsOwn) {
  // Tables and names that overlap let a small file describe a huge tree:
  // 65,535 names reading one run of entries as 512-entry tables took 85 s
  // and 6.8 GB. A second claim of any byte is refused, naming both parts.
  const std::vector<TreeCase> cases = {
      {"name tables that overlap",
       [] {
         Tree t;
         t.Table(1);
         t.Subdirectory(10, 24);
         t.Table(2);
         t.Subdirectory(1, 56);
         t.Subdirectory(2, 64);  // 8 bytes into the table of name 1
         t.Table(1);
         t.Entry(0, 80);
         t.Add({0, 0, 0, 0});
         return t;
       },
       {"the directory of resource 10/2 (0x10 bytes at offset 0x40) overlaps a directory table "
        "read before it (0x10 bytes at offset 0x38)"}},
      {"a table reached from two types",
       [] {
         Tree t;
         t.Table(2);
         t.Subdirectory(10, 32);
         t.Subdirectory(11, 32);
         t.Table(0);
         return t;
       },
       {"the directory of resource type 11 (offset 0x20) is reached a second time"}},
      {"names that overlap",
       [] {
         Tree t;
         t.Table(0, 2);
         t.Entry(0x80000000u | 48, 0x80000000u | 32);
         t.Entry(0x80000000u | 50, 0x80000000u | 56);
         t.Table(0);
         t.Words({2, 1, 'X', 0});  // "\1X" at 48, and "X" at 50 within it
         t.Table(0);
         return t;
       },
       {"a name in the directory of the resource root (0x4 bytes at offset 0x32) overlaps a name "
        "read before it (0x6 bytes at offset 0x30)"}},
      {"a name over a table",
       [] {
         Tree t;
         t.Table(0, 1);
         t.Entry(0x80000000u | 12, 0x80000000u | 24);  // the name is the root's counts
         t.Table(0);
         return t;
       },
       {"a name in the directory of the resource root (0x4 bytes at offset 0xC) overlaps a "
        "directory table read before it (0x10 bytes at offset 0x0)"}},
      {"two languages with one data entry",
       [] {
         Tree t = FlatLanguages(2);
         t.Set(48 + 16 + 8 + 4, (u32)(48 + 16 + 16));  // language 1 to language 0's entry
         return t;
       },
       {"the data entry of resource 10/1/1 (0x10 bytes at offset 0x50) overlaps a data entry "
        "read before it"}},
      {"a data entry inside a table",
       [] {
         Tree t = FlatLanguages(1);
         t.Set(48 + 16 + 4, 48);  // the data entry is the language table
         return t;
       },
       {"the data entry of resource 10/1/0", "overlaps a directory table read before it"}},
      {"more entries than the section holds",
       [] {
         Tree t = FlatLanguages(1);
         t.Set(48 + 12, 0xFFFF0000u);  // 65,535 languages
         return t;
       },
       {"the directory of resource 10/1 lists 65535 entries (0x80008 bytes at offset 0x30), "
        "which lie outside the resource section"}},
  };
  ExpectTreeRefusals(cases);
}

TEST(PeResourceTreeTest, AKeyListedTwiceIsRefused) {
  const std::vector<TreeCase> cases = {
      {"the same type id",
       [] {
         Tree t;
         t.Table(2);
         t.Subdirectory(10, 32);
         t.Subdirectory(10, 48);
         t.Table(0);
         t.Table(0);
         return t;
       },
       {"the resource root lists 10 twice"}},
      {"names that differ only in case",
       [] {
         Tree t;
         t.Table(0, 2);
         t.Entry(0x80000000u | 48, 0x80000000u | 32);
         t.Entry(0x80000000u | 56, 0x80000000u | 64);
         t.Table(0);
         t.Words({3, 'a', 'B', 'c'});
         t.Words({3, 'A', 'b', 'C'});
         t.Table(0);
         return t;
       },
       {"the resource root lists \"AbC\" twice"}},
      {"the first and the last of 65,535 languages",
       [] {
         Tree t = FlatLanguages(65535);
         t.Set(48 + 16 + 8 * 65534, 0);
         return t;
       },
       {"resource 10/1 lists 0 twice"}},
  };
  ExpectTreeRefusals(cases);
}

TEST(PeResourceTreeTest, AFlatTableOfEveryIdIsReadWhole) {
  // Compared each with all before it, 65,535 entries took seconds; sorted
  // once, their neighbours are the only keys to compare.
  PeResourceEditor editor;
  std::string error;
  ASSERT_TRUE(editor.Load(ImageAround(FlatLanguages(65535).b), &error)) << error;
  const std::vector<ResourceKey> languages = editor.Languages(10, 1);
  ASSERT_EQ(65535u, languages.size());
  for (size_t i = 0; i < languages.size(); ++i) ASSERT_EQ(i, languages[i].id());
  EXPECT_EQ((Bytes{'A', 'B', 'C', 'D'}), editor.Find(10, 1, 65534)->bytes);
}

TEST(PeResourceKeyTest, NamesAndIds) {
  EXPECT_EQ("102", ResourceKey(102).Describe());
  EXPECT_EQ("\"UPDATE\"", ResourceKey::Name("UPDATE").Describe());
  EXPECT_EQ("\"\xE3\x82\xBD\"", ResourceKey::Name(std::u16string(1, (char16_t)0x30BD)).Describe());
  EXPECT_TRUE(SameResourceKey(ResourceKey::Name("Update"), ResourceKey::Name("UPDATE")));
  EXPECT_FALSE(SameResourceKey(ResourceKey::Name("UPDATE"), ResourceKey::Name("UPDATES")));
  EXPECT_FALSE(SameResourceKey(ResourceKey(102), ResourceKey(103)));
  EXPECT_FALSE(SameResourceKey(ResourceKey(85), ResourceKey::Name("U")));
  EXPECT_THROW(ResourceKey::Name(std::string("\x83\x5C")), std::invalid_argument);
  EXPECT_THROW(ResourceKey::Name(std::string()), std::invalid_argument);
}

}  // namespace

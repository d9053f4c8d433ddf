// Reads the built Updater.exe (the base image, without a package) the way
// Windows does and checks its dialog templates, manifest, version block and
// image header against what the wizard and the installers rely on.
//
//   updater_resources_check --updater=<Updater.exe> [gtest flags]
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "flow/wizard.h"
#include "resources/resource_ids.h"
#include "tests/support/windows_path.h"

// The resource script and the wizard must agree on every id.
static_assert(IDD_WIZARD == kTemplateWizard && IDD_WIZARD_AGREEMENT == kTemplateWizardAgreement,
              "template ids");
static_assert(IDC_NEXT == kIdNext && IDC_CANCEL == kIdCancel && IDC_BACK == kIdBack &&
                  IDC_AGREEMENT == kIdAgreementBox && IDC_INFO == kIdInfo &&
                  IDC_AGREE == kIdAgree && IDC_DISAGREE == kIdDisagree,
              "control ids");

namespace {

std::string g_updater;  // Windows path of the executable under test

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr,
                              nullptr);
  std::string out((size_t)n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], n, nullptr, nullptr);
  return out;
}

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);  // 1041

// ------------------------------------------------------- template reading

// A cursor over a DLGTEMPLATEEX; every read checks the bounds.
class Reader {
 public:
  Reader(const BYTE* data, size_t size) : data_(data), size_(size) {}
  bool ok() const { return ok_; }
  size_t offset() const { return at_; }
  WORD Word() {
    WORD v = 0;
    Take(&v, 2);
    return v;
  }
  DWORD Dword() {
    DWORD v = 0;
    Take(&v, 4);
    return v;
  }
  short Short() { return (short)Word(); }
  BYTE Byte() {
    BYTE v = 0;
    Take(&v, 1);
    return v;
  }
  std::wstring String() {
    std::wstring s;
    for (WORD c; ok_ && (c = Word()) != 0;) s += (wchar_t)c;
    return s;
  }
  // sz_Or_Ord: 0 (none), 0xFFFF + ordinal, or a string.
  struct NameOrOrdinal {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::wstring name;
  };
  NameOrOrdinal NameOrOrd() {
    NameOrOrdinal r;
    if (at_ + 2 <= size_ && data_[at_] == 0xFF && data_[at_ + 1] == 0xFF) {
      Word();
      r.isOrdinal = true;
      r.ordinal = Word();
    } else {
      r.name = String();
    }
    return r;
  }
  void AlignDword() { at_ = (at_ + 3) & ~(size_t)3; }

 private:
  void Take(void* out, size_t n) {
    if (at_ + n > size_) {
      ok_ = false;
      std::memset(out, 0, n);
      return;
    }
    std::memcpy(out, data_ + at_, n);
    at_ += n;
  }
  const BYTE* data_;
  size_t size_;
  size_t at_ = 0;
  bool ok_ = true;
};

struct Item {
  DWORD helpId, exStyle, style;
  short x, y, cx, cy;
  DWORD id;
  Reader::NameOrOrdinal windowClass, title;
  WORD extraCount;
};

struct Template {
  WORD version, signature;
  DWORD helpId, exStyle, style;
  WORD count;
  short x, y, cx, cy;
  Reader::NameOrOrdinal menu, windowClass;
  std::wstring title;
  WORD pointSize, weight;
  BYTE italic, charset;
  std::wstring typeface;
  std::vector<Item> items;
  bool complete = false;
  size_t size = 0, consumed = 0;
};

Template ParseTemplate(const BYTE* data, size_t size) {
  Reader r(data, size);
  Template t{};
  t.size = size;
  t.version = r.Word();
  t.signature = r.Word();
  t.helpId = r.Dword();
  t.exStyle = r.Dword();
  t.style = r.Dword();
  t.count = r.Word();
  t.x = r.Short();
  t.y = r.Short();
  t.cx = r.Short();
  t.cy = r.Short();
  t.menu = r.NameOrOrd();
  t.windowClass = r.NameOrOrd();
  t.title = r.String();
  if (t.style & (DS_SETFONT | DS_SHELLFONT)) {
    t.pointSize = r.Word();
    t.weight = r.Word();
    t.italic = r.Byte();
    t.charset = r.Byte();
    t.typeface = r.String();
  }
  for (WORD i = 0; i < t.count && r.ok(); ++i) {
    r.AlignDword();
    Item item{};
    item.helpId = r.Dword();
    item.exStyle = r.Dword();
    item.style = r.Dword();
    item.x = r.Short();
    item.y = r.Short();
    item.cx = r.Short();
    item.cy = r.Short();
    item.id = r.Dword();
    item.windowClass = r.NameOrOrd();
    item.title = r.NameOrOrd();
    item.extraCount = r.Word();
    for (WORD b = 0; b < item.extraCount; ++b) r.Byte();
    t.items.push_back(item);
  }
  t.complete = r.ok();
  t.consumed = r.offset();
  return t;
}

// ------------------------------------------------------- the expectations

const DWORD kDialogStyle =
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT;
const DWORD kChild = WS_CHILD | WS_VISIBLE;
const WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082;

struct ExpectedItem {
  DWORD id;
  WORD atom;
  const wchar_t* text;
  DWORD style;
  short x, y, cx, cy;
};

const std::vector<ExpectedItem> kTemplate100 = {
    {1, kButton, L"次へ", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 261, 72, 44, 14},
    {2, kButton, L"中止", kChild | BS_PUSHBUTTON | WS_TABSTOP, 313, 72, 44, 14},
    {4, kButton, L"戻る", kChild | BS_PUSHBUTTON | WS_TABSTOP, 217, 72, 44, 14},
    {1001, kStatic, L"Info", kChild | SS_LEFT | WS_GROUP, 16, 16, 331, 29},
};

const std::vector<ExpectedItem> kTemplate101 = {
    {1, kButton, L"次へ", kChild | BS_DEFPUSHBUTTON | WS_TABSTOP, 258, 202, 44, 14},
    {2, kButton, L"中止", kChild | BS_PUSHBUTTON | WS_TABSTOP, 311, 202, 44, 14},
    {4, kButton, L"戻る", kChild | BS_PUSHBUTTON | WS_TABSTOP, 214, 202, 44, 14},
    {1001, kStatic, L"Info", kChild | SS_LEFT | WS_GROUP, 16, 9, 331, 65},
    {1000, kEdit, L"", kChild | ES_MULTILINE | WS_BORDER | WS_VSCROLL, 6, 81, 351, 92},
    {1002, kButton, L"同意する", kChild | BS_RADIOBUTTON, 10, 177, 225, 10},
    {1003, kButton, L"同意しない", kChild | BS_RADIOBUTTON, 10, 189, 225, 10},
};

// ------------------------------------------------------- fixture

BOOL CALLBACK AddLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param) {
  ((std::set<WORD>*)param)->insert(language);
  return TRUE;
}

BOOL CALLBACK AddName(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
  ((std::vector<int>*)param)->push_back(IS_INTRESOURCE(name) ? (int)(UINT_PTR)name : -1);
  return TRUE;
}

class UpdaterImage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(g_updater.empty()) << "needs --updater=<Updater.exe>";
    module_ = LoadLibraryExA(g_updater.c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << "cannot load " << g_updater << " as data, error "
                                << GetLastError();
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }

  // The bytes of a resource in exactly this language, or empty.
  std::string Resource(LPCSTR type, LPCSTR name, WORD language) {
    HRSRC info = FindResourceExA(module_, type, name, language);
    if (!info) return std::string();
    HGLOBAL loaded = LoadResource(module_, info);
    const char* bytes = (const char*)LockResource(loaded);
    return bytes ? std::string(bytes, SizeofResource(module_, info)) : std::string();
  }

  std::set<WORD> Languages(LPCSTR type, LPCSTR name) {
    std::set<WORD> found;
    EnumResourceLanguagesA(module_, type, name, AddLanguage, (LONG_PTR)&found);
    return found;
  }

  void CheckTemplate(int id, short cx, short cy, const std::vector<ExpectedItem>& items);

  HMODULE module_ = nullptr;
};

void UpdaterImage::CheckTemplate(int id, short cx, short cy,
                                 const std::vector<ExpectedItem>& expected) {
  EXPECT_EQ(Languages(RT_DIALOG, MAKEINTRESOURCEA(id)), std::set<WORD>{kJapanese})
      << "template " << id << " must exist in Japanese (1041) only";
  std::string bytes = Resource(RT_DIALOG, MAKEINTRESOURCEA(id), kJapanese);
  ASSERT_FALSE(bytes.empty()) << "no template " << id << " in language 1041";
  Template t = ParseTemplate((const BYTE*)bytes.data(), bytes.size());
  ASSERT_TRUE(t.complete) << "template " << id << " is cut short";
  EXPECT_EQ(t.version, 1) << "not an extended template";
  EXPECT_EQ(t.signature, 0xFFFF) << "not an extended template";
  EXPECT_EQ(t.helpId, 0u);
  EXPECT_EQ(t.exStyle, 0u);
  EXPECT_EQ(t.style, kDialogStyle) << std::hex << "style 0x" << t.style << ", expected 0x"
                                   << kDialogStyle;
  EXPECT_EQ(t.cx, cx);
  EXPECT_EQ(t.cy, cy);
  EXPECT_TRUE(!t.menu.isOrdinal && t.menu.name.empty()) << "a menu";
  EXPECT_TRUE(!t.windowClass.isOrdinal && t.windowClass.name.empty())
      << "not the system dialog class";
  EXPECT_EQ(Utf8(t.title), "UPDATE");
  EXPECT_EQ(t.pointSize, 10);
  EXPECT_EQ(t.weight, 0);
  EXPECT_EQ(t.italic, 0);
  EXPECT_EQ(t.charset, 0);
  EXPECT_EQ(Utf8(t.typeface), Utf8(L"ＭＳ Ｐゴシック"));
  EXPECT_EQ(t.typeface, std::wstring(L"\xFF2D\xFF33\x0020\xFF30\x30B4\x30B7\x30C3\x30AF"))
      << "the face name's UTF-16";

  ASSERT_EQ(t.count, expected.size());
  ASSERT_EQ(t.items.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const Item& item = t.items[i];
    const ExpectedItem& want = expected[i];
    SCOPED_TRACE("template " + std::to_string(id) + ", item " + std::to_string(i) + " (id " +
                 std::to_string(want.id) + ")");
    EXPECT_EQ(item.id, want.id) << "template order";
    EXPECT_TRUE(item.windowClass.isOrdinal) << "class given by name " << Utf8(item.windowClass.name);
    EXPECT_EQ(item.windowClass.ordinal, want.atom) << "class atom";
    EXPECT_FALSE(item.title.isOrdinal);
    EXPECT_EQ(Utf8(item.title.name), Utf8(want.text));
    EXPECT_EQ(item.style, want.style) << std::hex << "style 0x" << item.style << ", expected 0x"
                                      << want.style;
    EXPECT_EQ(item.exStyle, 0u);
    EXPECT_EQ(item.helpId, 0u);
    EXPECT_EQ(item.x, want.x);
    EXPECT_EQ(item.y, want.y);
    EXPECT_EQ(item.cx, want.cx);
    EXPECT_EQ(item.cy, want.cy);
    EXPECT_EQ(item.extraCount, 0);
  }
}

TEST_F(UpdaterImage, WizardTemplateWithoutAgreement) { CheckTemplate(100, 364, 93, kTemplate100); }

TEST_F(UpdaterImage, WizardTemplateWithAgreement) { CheckTemplate(101, 364, 222, kTemplate101); }

TEST_F(UpdaterImage, TemplatesAreTheOnlyDialogs) {
  std::vector<int> names;
  EnumResourceNamesA(module_, RT_DIALOG, AddName, (LONG_PTR)&names);
  EXPECT_EQ(names, (std::vector<int>{100, 101}));
}

TEST_F(UpdaterImage, BaseImageCarriesNoPackage) {
  // Tools write the package into a copy; Wine cannot delete a resource, so
  // the base must not have one to begin with.
  EXPECT_EQ(FindResourceA(module_, MAKEINTRESOURCEA(IDR_UPDATE_PACKAGE), UPDATE_PACKAGE_TYPE),
            nullptr);
}

TEST_F(UpdaterImage, ManifestRequestsAdministratorAndListsTheSystems) {
  HRSRC info = FindResourceA(module_, MAKEINTRESOURCEA(1), RT_MANIFEST);
  ASSERT_NE(info, nullptr) << "no RT_MANIFEST 1";
  std::string manifest((const char*)LockResource(LoadResource(module_, info)),
                       SizeofResource(module_, info));

  auto element = [&](const std::string& name) {
    std::smatch m;
    std::regex re("<" + name + "\\b([^>]*)/?>");
    return std::regex_search(manifest, m, re) ? m[1].str() : std::string("(missing)");
  };
  auto attribute = [](const std::string& attributes, const std::string& name) {
    std::smatch m;
    std::regex re("\\b" + name + "\\s*=\\s*\"([^\"]*)\"");
    return std::regex_search(attributes, m, re) ? m[1].str() : std::string("(missing)");
  };

  std::string level = element("requestedExecutionLevel");
  EXPECT_EQ(attribute(level, "level"), "requireAdministrator");
  EXPECT_EQ(attribute(level, "uiAccess"), "false");
  EXPECT_EQ(attribute(element("assemblyIdentity"), "processorArchitecture"), "X86");
  EXPECT_EQ(attribute(element("assemblyIdentity"), "type"), "win32");

  std::set<std::string> systems;
  std::regex os("<supportedOS\\s+Id\\s*=\\s*\"\\{([0-9a-fA-F-]+)\\}\"");
  for (auto it = std::sregex_iterator(manifest.begin(), manifest.end(), os);
       it != std::sregex_iterator(); ++it) {
    std::string id = (*it)[1].str();
    for (char& c : id) c = (char)tolower((unsigned char)c);
    systems.insert(id);
  }
  EXPECT_EQ(systems, (std::set<std::string>{
                         "e2011457-1546-43c5-a5fe-008deee3d3f0",  // Vista
                         "35138b9a-5d96-4fbd-8e2d-a2440225f93a",  // 7
                         "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",  // 8
                         "1f676c76-80e1-4239-95bb-83d0f6d0da78",  // 8.1
                         "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a",  // 10
                     }));
  EXPECT_EQ(manifest.find("Common-Controls"), std::string::npos)
      << "the dialogs are meant for the classic common controls";
  EXPECT_EQ(manifest.find("<dependency"), std::string::npos);
}

TEST_F(UpdaterImage, VersionBlockIsJapaneseCp932) {
  EXPECT_EQ(Languages(RT_VERSION, MAKEINTRESOURCEA(1)), std::set<WORD>{kJapanese});
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(g_updater.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(g_updater.c_str(), 0, size, block.data()));
  WORD* translation = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", (void**)&translation,
                             &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0411);
  EXPECT_EQ(translation[1], 932);
  char* description = nullptr;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\041103a4\\FileDescription",
                             (void**)&description, &length));
  EXPECT_GT(length, 1u);
  char* original = nullptr;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\041103a4\\OriginalFilename",
                             (void**)&original, &length));
  EXPECT_STREQ(original, "Updater.exe");
}

TEST(UpdaterImageHeader, GuiProgramForX86) {
  std::ifstream in(g_updater, std::ios::binary);
  ASSERT_TRUE(in) << "cannot read " << g_updater;
  std::ostringstream all;
  all << in.rdbuf();
  std::string image = all.str();
  ASSERT_GT(image.size(), 0x200u);
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, image.data(), sizeof dos);
  ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
  ASSERT_LT((size_t)dos.e_lfanew + sizeof(IMAGE_NT_HEADERS32), image.size());
  IMAGE_NT_HEADERS32 nt;
  std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof nt);
  ASSERT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
#if defined(_WIN64)
  // The 64-bit build that tests run where 32-bit programs cannot; the
  // fields read below stand at the same offsets in its header.
  EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
  EXPECT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR64_MAGIC);
#else
  EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
  EXPECT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
#endif
  EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  // Stripped: no COFF symbol table left.
  EXPECT_EQ(nt.FileHeader.PointerToSymbolTable, 0u);
  EXPECT_EQ(nt.FileHeader.NumberOfSymbols, 0u);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--updater=", 10) == 0) g_updater = WindowsPath(argv[i] + 10);
  }
  return RUN_ALL_TESTS();
}

// qk2 verify run as a program on packages and updaters damaged one way at a
// time: each damage is refused with its own message, the sound files pass.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "package/format.h"
#include "package/sha256.h"
#include "packer/package_writer.h"
#include "packer/pe_resources.h"
#include "qk2_run.h"
#include "update_folder.h"

namespace qk2test {
namespace {

uint32_t Get32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | (uint8_t)b.at(at + (size_t)i);
  return v;
}
void Put32(std::string* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b->at(at + (size_t)i) = (char)(v >> (8 * i));
}

// The test package: A.DAT compressed and scrambled, B.TXT stored as it is
// (5 bytes and 11 of padding), C.BIN compressed and not scrambled.
std::string TestPackage(bool compressedDirectory) {
  std::vector<PackInput> inputs(3);
  inputs[0].name = "A.DAT";
  inputs[0].content.resize(3000);
  const std::string a = Compressible(3000);
  inputs[0].content.assign(a.begin(), a.end());
  inputs[1].name = "B.TXT";
  inputs[1].content = {'h', 'e', 'l', 'l', 'o'};
  inputs[1].compression = EntryCompression::kNever;
  inputs[1].scramble = false;
  inputs[2].name = "C.BIN";
  const std::string c = Compressible(1001).substr(1);
  inputs[2].content.assign(c.begin(), c.end());
  inputs[2].scramble = false;
  PackOptions options;
  options.compressDirectory = compressedDirectory;
  options.effort = CompressEffort::kFast;
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_TRUE(BuildPackage(inputs, options, &out, &error)) << error;
  return std::string(out.begin(), out.end());
}

// Fields of a package with a plain directory.
struct Plain {
  std::string* b;
  uint32_t Directory() const { return Get32(*b, 8); }
  size_t Record(int i) const { return Directory() + (size_t)i * kPackageEntrySize; }
  uint32_t Stored(int i) const { return Get32(*b, Record(i) + 276); }
  uint32_t Content(int i) const { return Get32(*b, Record(i) + 272); }
  size_t Data(int i) const {
    size_t at = kPackageHeaderSize;
    for (int j = 0; j < i; ++j) at += AlignedStoredSize(Stored(j));
    return at;
  }
  void SetStored(int i, uint32_t v) { Put32(b, Record(i) + 276, v); }
  void SetContent(int i, uint32_t v) { Put32(b, Record(i) + 272, v); }
};

std::string ImageWith(const std::string* package, const std::string* digest,
                      const std::string& basePath = FixtureImage()) {
  std::string base = ReadFileOrEmpty(basePath);
  PeResourceEditor editor;
  std::string error;
  EXPECT_TRUE(editor.Load(std::vector<uint8_t>(base.begin(), base.end()), &error)) << error;
  const ResourceKey type = ResourceKey::Name(std::string("UPDATE"));
  if (package) editor.Set(type, 102, 0, std::vector<uint8_t>(package->begin(), package->end()));
  if (digest) editor.Set(type, 103, 0, std::vector<uint8_t>(digest->begin(), digest->end()));
  std::vector<uint8_t> image;
  EXPECT_TRUE(editor.Write(&image, &error)) << error;
  return std::string(image.begin(), image.end());
}

// `image` with resource "UPDATE" `id` there once more, in Japanese.
std::string WithSecondLanguage(const std::string& image, uint16_t id, const std::string& bytes) {
  PeResourceEditor editor;
  std::string error;
  EXPECT_TRUE(editor.Load(std::vector<uint8_t>(image.begin(), image.end()), &error)) << error;
  editor.Set(ResourceKey::Name(std::string("UPDATE")), id, 1041,
             std::vector<uint8_t>(bytes.begin(), bytes.end()));
  std::vector<uint8_t> out;
  EXPECT_TRUE(editor.Write(&out, &error)) << error;
  return std::string(out.begin(), out.end());
}

std::string DigestOf(const std::string& bytes) {
  u8 digest[kSha256Size];
  Sha256(bytes.data(), (u32)bytes.size(), digest);
  return std::string((const char*)digest, kSha256Size);
}

// Whether a line of `text` starts with `pattern`, in which each '%'
// stands for a number (sizes and offsets that depend on the encoder).
bool HasLine(const std::string& text, const std::string& pattern) {
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    size_t t = from, p = 0;
    while (p < pattern.size() && t < end) {
      if (pattern[p] == '%') {
        const size_t digits = t;
        while (t < end && text[t] >= '0' && text[t] <= '9') ++t;
        if (t == digits) break;
        ++p;
      } else if (pattern[p] == text[t]) {
        ++p;
        ++t;
      } else {
        break;
      }
    }
    if (p == pattern.size()) return true;
    from = end + 1;
  }
  return false;
}

struct Damage {
  const char* what;
  bool compressedDirectory;
  std::function<void(std::string*)> damage;  // on the package bytes
  std::string expected;                      // start of a problem line after "FILE: " (HasLine)
};

TEST(Qk2Verify, RefusesEveryKindOfDamage) {
  const Damage cases[] = {
      {"header cut short", false, [](std::string* b) { b->resize(10); },
       "shorter than the 16-byte package header (10 bytes)"},
      {"magic", false, [](std::string* b) { (*b)[1] = 'X'; },
       "no package magic \"QK2\\0\" at the start"},
      {"unknown header flag", false, [](std::string* b) { Put32(b, 4, 4); },
       "unknown header flags 0x4 (only bit 0 has a meaning)"},
      {"directory beyond the end", false,
       [](std::string* b) { Put32(b, 8, (uint32_t)b->size() + 16); },
       "the directory offset % lies outside the package of % bytes"},
      {"directory not aligned", false,
       [](std::string* b) {
         // Moved by 8 with the bytes before it, so that only the alignment is wrong.
         const uint32_t at = Get32(*b, 8);
         b->insert(at, 8, '\0');
         Put32(b, 8, at + 8);
       },
       "the directory offset % is not a multiple of 16"},
      {"plain directory too long", false, [](std::string* b) { b->push_back('\0'); },
       "the plain directory holds 841 bytes; 3 entries need 840"},
      {"directory stream cut short", true, [](std::string* b) { b->resize(b->size() - 3); },
       "the directory stream is damaged: it does not decode to the 840 bytes of 3 entries"},
      {"bytes after the directory stream", true, [](std::string* b) { b->append(5, '\0'); },
       "the directory stream ends after % of the % bytes from the directory offset to the end of "
       "the package"},
      {"name without terminator", false,
       [](std::string* b) { std::memset(&(*b)[Plain{b}.Record(1)], 'N', 260); },
       "entry 1: the name has no terminating NUL within its 260 bytes"},
      {"empty name", false, [](std::string* b) { std::memset(&(*b)[Plain{b}.Record(1)], 0, 8); },
       "entry 1 '': the name is empty"},
      {"bytes after the name", false, [](std::string* b) { (*b)[Plain{b}.Record(2) + 200] = 'x'; },
       "entry 2 'C.BIN': bytes after the name's terminator are not zero"},
      {"names equal but for case", false,
       [](std::string* b) { std::memcpy(&(*b)[Plain{b}.Record(2)], "a.dat", 6); },
       "entry 2 'a.dat': the same name as entry 0 (names are looked up without regard to case; "
       "only the first is found)"},
      {"unknown entry flags", false, [](std::string* b) { (*b)[Plain{b}.Record(1) + 260] = 3; },
       "entry 1 'B.TXT': flags 0x03 are neither 1 (stored), 2 (compressed) "
       "nor 5 (a patch, stored)"},
      {"reserved byte", false, [](std::string* b) { (*b)[Plain{b}.Record(0) + 263] = 1; },
       "entry 0 'A.DAT': reserved bytes are not zero"},
      {"scrambled neither 0 nor 1", false,
       [](std::string* b) { (*b)[Plain{b}.Record(2) + 262] = 2; },
       "entry 2 'C.BIN': scrambled is 2; it must be 0 or 1"},
      {"stored bytes into the directory", false,
       [](std::string* b) { Plain{b}.SetStored(2, Plain{b}.Stored(2) + 64); },
       "entry 2 'C.BIN': its % stored bytes at offset % run past the directory at %"},
      {"padding not zero", false, [](std::string* b) { (*b)[Plain{b}.Data(1) + 7] = 1; },
       "entry 1 'B.TXT': the padding after its stored bytes is not zero"},
      {"gap before the directory", false,
       [](std::string* b) {
         const uint32_t at = Get32(*b, 8);
         b->insert(at, 32, '\0');
         Put32(b, 8, at + 32);
       },
       "32 bytes lie between the end of the last entry (offset %) and the directory at %"},
      {"stream shorter than its content", false,
       [](std::string* b) { Plain{b}.SetContent(0, 3001); },
       "entry 0 'A.DAT': the stream decodes to 3000 bytes; the directory says 3001"},
      {"stream longer than its content", false,
       [](std::string* b) { Plain{b}.SetContent(0, 2999); },
       "entry 0 'A.DAT': the stream decodes to 3000 bytes, more than the 2999 the directory says"},
      {"stream short of its stored bytes", false,
       [](std::string* b) {
         // C.BIN is not scrambled, so a longer stored size keeps its stream.
         Plain p{b};
         ASSERT_NE(p.Stored(2) % 16, 0u) << "no padding to grow into";
         p.SetStored(2, p.Stored(2) + 1);
       },
       "entry 2 'C.BIN': the stream ends after % of its % stored bytes"},
      {"stream cut", false,
       [](std::string* b) {
         Plain p{b};
         p.SetStored(2, p.Stored(2) - 4);
         std::memset(&(*b)[p.Data(2) + p.Stored(2)], 0, 4);
       },
       "entry 2 'C.BIN': the stream is damaged: it does not decode to 1000 bytes"},
      {"content size beyond any stream", false,
       [](std::string* b) { Plain{b}.SetContent(2, 0xFFFFFF00u); },
       "entry 2 'C.BIN': content size 4294967040 is impossible for a stream of % bytes"},
      {"stored entry of another size", false, [](std::string* b) { Plain{b}.SetContent(1, 6); },
       "entry 1 'B.TXT': kept as it is, but its content size 6 differs from its stored size 5"},
  };
  TempFolder temp;
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.what);
    std::string package = TestPackage(c.compressedDirectory);
    c.damage(&package);
    const std::string file = temp / "damaged.pkg";
    ASSERT_TRUE(WriteFile(file, package));
    const ToolRun run = RunQk2({"verify", file});
    EXPECT_EQ(run.code, 1) << run.Shown();
    EXPECT_TRUE(HasLine(run.err, file + ": " + c.expected)) << run.Shown();
    EXPECT_TRUE(HasLine(run.err, "qk2: " + file + ": % problem")) << run.Shown();
    EXPECT_EQ(run.out.find(": ok"), std::string::npos) << run.Shown();
  }
}

TEST(Qk2Verify, RefusesUpdatersWithoutTheirPackageOrDigest) {
  if (!HaveFixtureBase()) GTEST_SKIP() << "no test image (mingw-w64 tools)";
  const std::string package = TestPackage(true);
  const std::string digest = DigestOf(package);
  std::string flipped = package;
  flipped[40] ^= 0x01;
  std::string badPackage = package;
  badPackage[0] = 'X';
  const std::string badDigest = DigestOf(badPackage);
  const std::string shortDigest = digest.substr(0, 31);
  struct ExeCase {
    const char* what;
    std::string image;
    std::string expected;
  };
  const ExeCase cases[] = {
      {"not an image", "MZ and nothing of a PE image", "not a PE32 image: "},
      {"no package", ImageWith(nullptr, &digest), "no package resource \"UPDATE\" 102"},
      {"a byte of the package changed", ImageWith(&flipped, &digest),
       "the package does not match its digest resource \"UPDATE\" 103 (the package's SHA-256 is "},
      {"digest of another size", ImageWith(&package, &shortDigest),
       "the digest resource \"UPDATE\" 103 has 31 bytes; a SHA-256 has 32"},
      {"damaged package, matching digest", ImageWith(&badPackage, &badDigest),
       "no package magic \"QK2\\0\" at the start"},
      // The updater's lookup picks a language by the system's.
      {"package in two languages", WithSecondLanguage(ImageWith(&package, &digest), 102, badPackage),
       "the package resource \"UPDATE\" 102 is there in 2 languages (0, 1041); the updater "
       "picks one by the system's language"},
      {"digest in two languages", WithSecondLanguage(ImageWith(&package, &digest), 103, badDigest),
       "the digest resource \"UPDATE\" 103 is there in 2 languages (0, 1041)"},
  };
  TempFolder temp;
  for (const ExeCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = temp / "Update.exe";
    ASSERT_TRUE(WriteFile(file, c.image));
    const ToolRun run = RunQk2({"verify", file});
    EXPECT_EQ(run.code, 1) << run.Shown();
    EXPECT_TRUE(HasLine(run.err, file + ": " + c.expected)) << run.Shown();
  }
}

TEST(Qk2Verify, PassesSoundPackagesAndUpdaters) {
  TempFolder temp;
  struct SoundCase {
    const char* what;
    std::string bytes;
    std::string out;  // after "FILE: "
  };
  std::vector<SoundCase> cases = {
      {"plain directory", TestPackage(false), "ok: 3 entries, package "},
      {"compressed directory", TestPackage(true), "ok: 3 entries, package "},
  };
  if (HaveFixtureBase()) {
    const std::string package = TestPackage(true), digest = DigestOf(package);
    cases.push_back({"updater", ImageWith(&package, &digest),
                     "ok: updater, 3 entries, package " + std::to_string(package.size()) +
                         " bytes, digest matches\n"});
    cases.push_back({"updater without a digest", ImageWith(&package, nullptr),
                     "note: no digest resource \"UPDATE\" 103: the updater uses the package "
                     "unchecked\n"});
  }
  for (const SoundCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = temp / "sound";
    ASSERT_TRUE(WriteFile(file, c.bytes));
    const ToolRun run = RunQk2({"verify", file});
    EXPECT_EQ(run.code, 0) << run.Shown();
    EXPECT_NE(run.out.find(file + ": " + c.out), std::string::npos) << run.Shown();
    EXPECT_EQ(run.err, "");
  }
}

TEST(Qk2Verify, TellsASignedUpdaterOfEitherWidth) {
  // The directory count and the certificate table's entry stand 16 bytes
  // later in a 64-bit header: read at the 32-bit places, a signed 64-bit
  // updater did not look signed.
  if (!HaveFixtureBase()) GTEST_SKIP() << "no test image (mingw-w64 tools)";
  std::string base64 = FixtureImage();
  base64.replace(base64.rfind("relocs"), 6, "relocs64");
  const std::string package = TestPackage(true), digest = DigestOf(package);
  struct Case {
    const char* base;
    size_t directories;  // from the optional header
    bool sign;
  };
  const Case cases[] = {{"32-bit", 96, false}, {"32-bit", 96, true},
                        {"64-bit", 112, false}, {"64-bit", 112, true}};
  TempFolder temp;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.base) + (c.sign ? ", signed" : ""));
    const bool wide = c.directories == 112;
    if (wide && !FileExists(base64)) GTEST_SKIP() << "no 64-bit test image";
    std::string image = ImageWith(&package, &digest, wide ? base64 : FixtureImage());
    if (c.sign) {
      const size_t certificate = Get32(image, 0x3C) + 24 + c.directories + 8 * 4;
      Put32(&image, certificate, (uint32_t)image.size());
      Put32(&image, certificate + 4, 16);
      image.append(16, '\x5A');
    }
    const std::string file = temp / "Update.exe";
    ASSERT_TRUE(WriteFile(file, image));
    const ToolRun run = RunQk2({"verify", file});
    EXPECT_EQ(run.code, 0) << run.Shown();
    EXPECT_TRUE(HasLine(run.out, file + ": ok: updater, 3 entries, package % bytes, digest matches" +
                                     (c.sign ? ", signed" : "")))
        << run.Shown();
    EXPECT_EQ(c.sign, run.out.find(", signed") != std::string::npos) << run.Shown();
  }
}

}  // namespace
}  // namespace qk2test

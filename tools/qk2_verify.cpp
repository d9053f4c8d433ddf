#include "tools/qk2_verify.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "package/decompress.h"
#include "package/entry_content.h"
#include "package/format.h"
#include "package/package.h"
#include "package/patch.h"
#include "package/scramble.h"
#include "package/sha256.h"
#include "packer/pe_resources.h"
#include "platform/text.h"
#include "tools/qk2_common.h"

namespace {

// No stream of the format expands by more than this (the readers' bound).
constexpr uint64_t kMostExpansion = 91;
// The most entries verify reads: their directory alone takes 280 bytes
// each, and a compressed directory can claim 91 times its size. An updater
// package has at most 19 (UPDATE.INI, 16 lines, two agreement texts).
constexpr uint32_t kMostEntries = 1u << 18;

uint32_t GetLE32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// Takes 64 bits, so the test stays meaningful where size_t has 32.
bool ExceedsU32(uint64_t size) { return size > 0xFFFFFFFFull; }

std::string Num(uint64_t n) { return std::to_string(n); }

std::string HexByte(unsigned value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[(value >> 4) & 15] + kDigits[value & 15];
}

std::string HexWord(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", (unsigned)value);
  return text;
}

// Empty when the `storedSize` bytes at `stream` decode to exactly
// `contentSize` bytes and are used up by it; else what is wrong. The stream
// is expanded a window at a time and the content counted, not kept, so a
// content size claimed beyond reason costs no memory.
std::string CheckStream(const uint8_t* stream, uint32_t storedSize, uint32_t contentSize) {
  if (contentSize > storedSize * kMostExpansion)
    return "content size " + Num(contentSize) + " is impossible for a stream of " +
           Num(storedSize) + " bytes";
  constexpr u32 kPiece = 1u << 20;
  std::vector<uint8_t> window(kLongestReach + kPiece + kLongestCode);
  StreamDecoder decoder;
  BeginStreamDecode(&decoder, stream, storedSize);
  uint64_t produced = 0;
  u32 kept = 0;
  for (;;) {
    u32 filled = kept;
    if (!ContinueStreamDecode(&decoder, window.data(), &filled, kept + kPiece,
                              (u32)window.size()))
      break;
    produced += filled - kept;
    if (decoder.ended) break;
    // The last kLongestReach bytes stay for the matches of the next piece.
    kept = std::min<u32>(filled, kLongestReach);
    std::memmove(window.data(), window.data() + filled - kept, kept);
  }
  if (!decoder.ended)
    return "the stream is damaged: it does not decode to " + Num(contentSize) + " bytes";
  if (produced > contentSize)
    return "the stream decodes to " + Num(produced) + " bytes, more than the " + Num(contentSize) +
           " the directory says";
  if (produced != contentSize)
    return "the stream decodes to " + Num(produced) + " bytes; the directory says " +
           Num(contentSize);
  if (StreamBytesConsumed(&decoder) != storedSize)
    return "the stream ends after " + Num(StreamBytesConsumed(&decoder)) + " of its " +
           Num(storedSize) + " stored bytes";
  return "";
}

// The updater's own reader on the same bytes: the last word on whether the
// directory can be opened at all.
bool UpdaterOpens(const uint8_t* data, size_t size) {
  Package package = {};
  package.source = data;
  package.size = (u32)size;
  const bool opened = OpenPackage(&package) != nullptr;
  ReleasePackage(&package);
  return opened;
}

}  // namespace

void VerifyPackage(const uint8_t* data, size_t size, Verification* v) {
  v->packageSize = size;
  auto problem = [v](const std::string& text) { v->problems.push_back(text); };
  if (size < kPackageHeaderSize)
    return problem("shorter than the 16-byte package header (" + Num(size) + " bytes)");
  if (std::memcmp(data, kPackageMagic, 4) != 0)
    return problem("no package magic \"QK2\\0\" at the start");
  if (ExceedsU32(size)) return problem("larger than 4 GiB");
  const uint32_t flags = GetLE32(data + 4);
  const uint32_t directoryOffset = GetLE32(data + 8);
  const uint32_t count = GetLE32(data + 12);
  if (flags & ~uint32_t{kPackageFlagCompressedDirectory})
    problem("unknown header flags " + HexWord(flags) + " (only bit 0 has a meaning)");
  if (directoryOffset < kPackageHeaderSize || directoryOffset > size)
    return problem("the directory offset " + Num(directoryOffset) +
                   " lies outside the package of " + Num(size) + " bytes");
  if (directoryOffset % kPackageAlignment)
    problem("the directory offset " + Num(directoryOffset) + " is not a multiple of 16");

  // The directory.
  const uint64_t directoryBytes = uint64_t{count} * kPackageEntrySize;
  const uint32_t tail = (uint32_t)(size - directoryOffset);
  std::vector<uint8_t> directory;
  if (count > kMostEntries)
    return problem(Num(count) + " entries: more than verify reads (" + Num(kMostEntries) + ")");
  if (flags & kPackageFlagCompressedDirectory) {
    if (directoryBytes > tail * kMostExpansion)
      return problem(Num(count) + " entries cannot come from a directory stream of " + Num(tail) +
                     " bytes");
    directory.resize((size_t)directoryBytes);
    u32 written = 0, consumed = 0;
    if (!DecompressBlock(directory.data(), (u32)directoryBytes, data + directoryOffset, tail,
                         &written, &consumed))
      return problem("the directory stream is damaged: it does not decode to the " +
                     Num(directoryBytes) + " bytes of " + Num(count) + " entries");
    if (written != directoryBytes)
      return problem("the directory stream decodes to " + Num(written) + " bytes; " + Num(count) +
                     " entries need " + Num(directoryBytes));
    if (consumed != tail)
      problem("the directory stream ends after " + Num(consumed) + " of the " + Num(tail) +
              " bytes from the directory offset to the end of the package");
  } else {
    if (directoryBytes != tail)
      return problem("the plain directory holds " + Num(tail) + " bytes; " + Num(count) +
                     " entries need " + Num(directoryBytes));
    directory.assign(data + directoryOffset, data + size);
  }
  v->entries = count;

  // The entries, laid out one after the other from the header on. Names are
  // compared after the walk, sorted, so that many entries cost n log n.
  std::vector<std::pair<std::string, uint32_t>> keys;  // (WindowsFileKey, entry)
  std::vector<std::pair<std::string, std::string>> wholes;  // (patch name, entry label)
  std::set<std::string> patches;                          // WindowsFileKey of each
  uint64_t offset = kPackageHeaderSize;
  bool walked = true;
  for (uint32_t i = 0; i < count; ++i) {
    PackageEntry e;
    std::memcpy(&e, &directory[(size_t)i * kPackageEntrySize], sizeof e);
    std::string label = "entry " + Num(i);
    const char* end = (const char*)std::memchr(e.name, 0, sizeof e.name);
    std::string name;
    if (!end) {
      problem(label + ": the name has no terminating NUL within its 260 bytes");
    } else {
      name.assign((const char*)e.name, end);
      label += " '" + ShownName(name) + "'";
      if (name.empty()) problem(label + ": the name is empty");
      else if (std::string patchName; WholeCopyOf(name, &patchName))
        wholes.emplace_back(patchName, label);
      else if (!IsBareEntryName(name))
        problem(label + ": not a plain file name; extract refuses it, and the updater would "
                        "write it outside the folder its line names");
      if (std::any_of(end, (const char*)e.name + sizeof e.name, [](char c) { return c != 0; }))
        problem(label + ": bytes after the name's terminator are not zero");
      if (!name.empty()) keys.emplace_back(WindowsFileKey(name), i);
    }
    const bool patch = e.flags == (kEntryFlagPatch | kEntryFlagStored);
    if (e.flags != kEntryFlagStored && e.flags != kEntryFlagCompressed && !patch)
      problem(label + ": flags " + HexByte(e.flags) +
              " are neither 1 (stored), 2 (compressed) nor 5 (a patch, stored)");
    if (patch && !name.empty()) patches.insert(WindowsFileKey(name));
    if (e.reserved1 || e.reserved2) problem(label + ": reserved bytes are not zero");
    if (e.scrambled > kEntryScrambled)
      problem(label + ": scrambled is " + Num(e.scrambled) + "; it must be 0 or 1");

    const uint64_t aligned = AlignedStoredSize(e.storedSize);
    if (offset + e.storedSize > directoryOffset) {
      problem(label + ": its " + Num(e.storedSize) + " stored bytes at offset " + Num(offset) +
              " run past the directory at " + Num(directoryOffset));
      walked = false;
      break;
    }
    const uint64_t paddingEnd = std::min<uint64_t>(offset + aligned, directoryOffset);
    if (std::any_of(data + offset + e.storedSize, data + paddingEnd,
                    [](uint8_t b) { return b != 0; }))
      problem(label + ": the padding after its stored bytes is not zero");

    std::vector<uint8_t> stored(data + offset, data + offset + e.storedSize);
    if (e.scrambled == kEntryScrambled) DescrambleBlock(stored.data(), (u32)stored.size());
    if (e.flags & kEntryFlagCompressed) {
      const std::string wrong = CheckStream(stored.data(), e.storedSize, e.contentSize);
      if (!wrong.empty()) problem(label + ": " + wrong);
    } else if (e.contentSize != e.storedSize) {
      problem(label + ": kept as it is, but its content size " + Num(e.contentSize) +
              " differs from its stored size " + Num(e.storedSize));
    } else if (patch && !CheckPatchContainer(stored.data(), (u32)stored.size())) {
      problem(label + ": a damaged patch container");
    } else if (patch && e.contentSize > kWholeContentLimit && e.scrambled) {
      problem(label + ": a scrambled patch larger than " + Num(kWholeContentLimit) +
              " bytes, which the updater cannot read in one piece");
    }
    offset += aligned;
  }
  // A whole copy stands behind a patch entry of its package.
  for (const auto& whole : wholes)
    if (!patches.count(WindowsFileKey(whole.first)))
      problem(whole.second + ": a whole copy for a patch entry that the package does not have");
  std::sort(keys.begin(), keys.end());
  for (size_t k = 1; k < keys.size(); ++k) {
    if (keys[k].first != keys[k - 1].first) continue;
    const uint32_t first = keys[k - 1].second, second = keys[k].second;
    PackageEntry a, b;
    std::memcpy(&a, &directory[(size_t)first * kPackageEntrySize], sizeof a);
    std::memcpy(&b, &directory[(size_t)second * kPackageEntrySize], sizeof b);
    problem("entry " + Num(second) + " '" + ShownName(b.name) + "': " +
            (OsCompareNoCase(a.name, b.name) == 0
                 ? "the same name as entry " + Num(first) +
                       " (names are looked up without regard to case; only the first is found)"
                 : "the same file as entry " + Num(first) + " '" + ShownName(a.name) +
                       "' on Windows, which drops trailing dots and blanks"));
  }
  if (walked && offset != directoryOffset)
    problem(Num(directoryOffset > offset ? directoryOffset - offset : 0) +
            " bytes lie between the end of the last entry (offset " + Num(offset) +
            ") and the directory at " + Num(directoryOffset));
  if (v->problems.empty() && !UpdaterOpens(data, size))
    problem("the updater's package reader refuses the directory");
}

void VerifyExecutable(const std::vector<uint8_t>& image, Verification* v) {
  v->executable = true;
  PeResourceEditor editor;
  std::string error;
  if (!editor.Load(image, &error)) {
    v->problems.push_back("not a PE32 image: " + error);
    return;
  }
  const ResourceKey type = ResourceKey::Name(std::string(kPackageResourceType));
  // The updater finds its resources by the system's language: with two
  // languages, verify and extract could read another package or digest than
  // the one the updater runs with.
  const std::pair<uint16_t, const char*> kSingleLanguage[] = {
      {kPackageResourceId, "package"}, {kPackageDigestResourceId, "digest"}};
  for (const auto& resource : kSingleLanguage) {
    const std::vector<ResourceKey> languages = editor.Languages(type, resource.first);
    if (languages.size() < 2) continue;
    std::string listed;
    for (const ResourceKey& language : languages)
      listed += (listed.empty() ? "" : ", ") + language.Describe();
    v->problems.push_back(std::string("the ") + resource.second + " resource \"UPDATE\" " +
                          Num(resource.first) + " is there in " + Num(languages.size()) +
                          " languages (" + listed +
                          "); the updater picks one by the system's language, so what verify "
                          "and extract read may not be what it runs with");
  }
  const ResourceData* package = editor.FindAnyLanguage(type, kPackageResourceId);
  if (!package) {
    v->problems.push_back("no package resource \"UPDATE\" 102");
    return;
  }
  v->signature = editor.HasCertificateTable();

  const ResourceData* digest = editor.FindAnyLanguage(type, kPackageDigestResourceId);
  if (!digest) {
    v->notes.push_back("no digest resource \"UPDATE\" 103: the updater uses the package unchecked");
  } else if (digest->bytes.size() != kSha256Size) {
    v->problems.push_back("the digest resource \"UPDATE\" 103 has " + Num(digest->bytes.size()) +
                          " bytes; a SHA-256 has 32");
  } else {
    u8 actual[kSha256Size];
    Sha256(package->bytes.data(), (u32)package->bytes.size(), actual);
    if (std::memcmp(actual, digest->bytes.data(), kSha256Size) != 0)
      v->problems.push_back(
          "the package does not match its digest resource \"UPDATE\" 103 "
          "(the package's SHA-256 is " +
          Hex(actual, kSha256Size) + ", the resource holds " +
          Hex(digest->bytes.data(), kSha256Size) + ")");
    else
      v->digest = true;
  }
  VerifyPackage(package->bytes.data(), package->bytes.size(), v);
}

#include "packer/pe_resources.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <stdexcept>
#include <utility>

namespace {

using Section = PeResourceEditor::Section;
using Layout = PeResourceEditor::Layout;
using Leaf = PeResourceEditor::Leaf;
using NameNode = PeResourceEditor::NameNode;
using TypeNode = PeResourceEditor::TypeNode;
using DirectoryAttributes = PeResourceEditor::DirectoryAttributes;

// Raised anywhere below; Load, Write and ReadPeResource turn it into their
// message, so the parsing code can stop at the first fault it meets.
class ImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& message) { throw ImageError(message); }

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", (unsigned long long)value);
  return text;
}

// Offsets in the headers. PE32 and PE32+ (64-bit) optional headers agree up
// to the checksum; the wider fields of PE32+ put its data directories 16
// bytes further on.
enum : uint32_t {
  kDosLfanew = 0x3C,
  kCoffSectionCount = 6,  // from "PE\0\0"
  kCoffSymbolTable = 12,
  kCoffOptionalSize = 20,
  kOptionalStart = 24,
  kOptInitializedData = 8,  // from the optional header
  kOptSectionAlignment = 32,
  kOptFileAlignment = 36,
  kOptSizeOfImage = 56,
  kOptSizeOfHeaders = 60,
  kOptChecksum = 64,
  kOptDirectoriesPe32 = 96,  // NumberOfRvaAndSizes just before them
  kOptDirectoriesPe32Plus = 112,
  kSectionHeaderSize = 40,
  kDirSecurity = 4,
  kDirResources = 2,
  kDirRelocations = 5,
  kDirDebug = 6,
  kDebugEntrySize = 28,
  kMagicPe32 = 0x10B,
  kMagicPe32Plus = 0x20B,
  kHighBit = 0x80000000u,
  kInitializedDataReadable = 0x40000040u,  // IMAGE_SCN_CNT_INITIALIZED_DATA | MEM_READ
};

// Every read of the image goes through here and is checked against its size.
class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& bytes) : data_(bytes.data()), size_(bytes.size()) {}
  size_t size() const { return size_; }
  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }
  void Need(uint64_t offset, uint64_t length, const std::string& what) const {
    if (!Has(offset, length))
      Fail(what + " (" + Hex(length) + " bytes at file offset " + Hex(offset) +
           ") lies past the end of the file (" + Hex(size_) + " bytes)");
  }
  uint16_t U16(uint64_t at, const std::string& what) const {
    Need(at, 2, what);
    return (uint16_t)(data_[at] | data_[at + 1] << 8);
  }
  uint32_t U32(uint64_t at, const std::string& what) const {
    Need(at, 4, what);
    return (uint32_t)data_[at] | (uint32_t)data_[at + 1] << 8 | (uint32_t)data_[at + 2] << 16 |
           (uint32_t)data_[at + 3] << 24;
  }
  const uint8_t* At(uint64_t at) const { return data_ + at; }

 private:
  const uint8_t* data_;
  size_t size_;
};

void PutU16(std::vector<uint8_t>* out, size_t at, uint16_t value) {
  (*out)[at] = (uint8_t)value;
  (*out)[at + 1] = (uint8_t)(value >> 8);
}

void PutU32(std::vector<uint8_t>* out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = (uint8_t)(value >> (8 * i));
}

uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

bool IsPowerOfTwo(uint32_t value) { return value && !(value & (value - 1)); }

std::string SectionName(const Section& s) { return std::string("section '") + s.name + "'"; }

// Address space a section takes: its virtual size, or its file size when
// the linker left the virtual size 0 (the loader does the same).
uint64_t Extent(const Section& s) { return s.virtualSize ? s.virtualSize : s.rawSize; }
// Bytes of a section that are both mapped and present in the file.
uint64_t FileBacked(const Section& s) { return std::min<uint64_t>(s.rawSize, Extent(s)); }

struct DataDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;
};

DataDirectory ReadDirectory(const Reader& in, const Layout& layout, uint32_t index) {
  DataDirectory d;
  if (index >= layout.directoryCount) return d;
  const size_t at = layout.optionalOffset + layout.directoriesAt + 8 * (size_t)index;
  d.rva = in.U32(at, "data directory");
  d.size = in.U32(at + 4, "data directory");
  return d;
}

// The file offset of `length` bytes at `rva`, which must lie in the
// file-backed part of one section. `what()` names them, for the message only.
template <typename What>
uint64_t RvaToOffset(const Layout& layout, uint64_t rva, uint64_t length, const What& what) {
  for (const Section& s : layout.sections) {
    if (rva < s.virtualAddress || rva - s.virtualAddress >= Extent(s)) continue;
    const uint64_t into = rva - s.virtualAddress;
    if (into > FileBacked(s) || length > FileBacked(s) - into)
      Fail(what() + " at RVA " + Hex(rva) + " runs past the file data of " + SectionName(s));
    return s.rawOffset + into;
  }
  Fail(what() + " at RVA " + Hex(rva) + " lies in no section");
}

// ---------------------------------------------------------------- keys

char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? (char16_t)(c - 32) : c; }

// The order of a resource directory: names first, compared without regard to
// ASCII case, then ids ascending. Windows finds entries by a binary search
// over this order.
int CompareKeys(const ResourceKey& a, const ResourceKey& b) {
  if (a.named() != b.named()) return a.named() ? -1 : 1;
  if (!a.named()) return a.id() < b.id() ? -1 : (a.id() > b.id() ? 1 : 0);
  const std::u16string& x = a.name();
  const std::u16string& y = b.name();
  for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
    const char16_t cx = FoldAscii(x[i]), cy = FoldAscii(y[i]);
    if (cx != cy) return cx < cy ? -1 : 1;
  }
  return x.size() < y.size() ? -1 : (x.size() > y.size() ? 1 : 0);
}

void AppendUtf8(std::string* out, uint32_t c) {
  if (c < 0x80) {
    *out += (char)c;
  } else if (c < 0x800) {
    *out += (char)(0xC0 | c >> 6);
    *out += (char)(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += (char)(0xE0 | c >> 12);
    *out += (char)(0x80 | ((c >> 6) & 0x3F));
    *out += (char)(0x80 | (c & 0x3F));
  } else {
    *out += (char)(0xF0 | c >> 18);
    *out += (char)(0x80 | ((c >> 12) & 0x3F));
    *out += (char)(0x80 | ((c >> 6) & 0x3F));
    *out += (char)(0x80 | (c & 0x3F));
  }
}

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(&out, c);
  }
  return out;
}

// Index of the entry with `key` in a sorted node list, or where it belongs.
template <typename Node>
size_t LowerBound(const std::vector<Node>& nodes, const ResourceKey& key) {
  return (size_t)(std::lower_bound(nodes.begin(), nodes.end(), key,
                                   [](const Node& n, const ResourceKey& k) {
                                     return CompareKeys(n.key, k) < 0;
                                   }) -
                  nodes.begin());
}

template <typename Node>
const Node* FindNode(const std::vector<Node>& nodes, const ResourceKey& key) {
  const size_t at = LowerBound(nodes, key);
  return at < nodes.size() && CompareKeys(nodes[at].key, key) == 0 ? &nodes[at] : nullptr;
}

template <typename Node>
Node* FindOrAdd(std::vector<Node>* nodes, const ResourceKey& key) {
  const size_t at = LowerBound(*nodes, key);
  if (at < nodes->size() && CompareKeys((*nodes)[at].key, key) == 0) return &(*nodes)[at];
  Node node;
  node.key = key;
  return &*nodes->insert(nodes->begin() + (std::ptrdiff_t)at, std::move(node));
}

template <typename Node>
void SortNodes(std::vector<Node>* nodes) {
  std::stable_sort(nodes->begin(), nodes->end(),
                   [](const Node& a, const Node& b) { return CompareKeys(a.key, b.key) < 0; });
}

// ------------------------------------------------------------ headers

// Alignments the writer pads sections to. Every section of the file is padded
// to FileAlignment, so an absurd one turns a small base image into gigabytes.
enum : uint32_t {
  kSmallestFileAlignment = 512,
  kPageSize = 0x1000,
  // Windows places every image at a multiple of 64 KiB, the granularity at
  // which it reserves address space, and no Windows toolchain aligns sections
  // more coarsely than that: a larger value only pushes the sections apart.
  kLargestSectionAlignment = 0x10000,
};

// Empty when the pair is one the loader maps and the writer may pad to; else
// what is wrong with it.
std::string AlignmentFault(uint32_t fileAlignment, uint32_t sectionAlignment) {
  if (!IsPowerOfTwo(fileAlignment)) return "FileAlignment is not a power of two";
  if (!IsPowerOfTwo(sectionAlignment)) return "SectionAlignment is not a power of two";
  if (sectionAlignment > kLargestSectionAlignment)
    return "SectionAlignment is above " + Hex(kLargestSectionAlignment);
  // FileAlignment at most SectionAlignment also keeps the padding of every
  // section of the file at 64 KiB or less.
  if (fileAlignment > sectionAlignment) return "FileAlignment is above SectionAlignment";
  // Below a page the image is mapped as it lies in the file, which only
  // works when both alignments are the same.
  if (fileAlignment < kSmallestFileAlignment &&
      (sectionAlignment != fileAlignment || sectionAlignment >= kPageSize))
    return "FileAlignment is below " + Hex(kSmallestFileAlignment) +
           " but SectionAlignment is not the same value below a page";
  return "";
}

Layout ReadLayout(const Reader& in) {
  Layout layout;
  if (!in.Has(0, 64))
    Fail("not an executable image: " + std::to_string(in.size()) +
         " bytes is too short for the DOS header");
  if (in.At(0)[0] != 'M' || in.At(0)[1] != 'Z') Fail("not an executable image: no 'MZ' signature");
  layout.peOffset = in.U32(kDosLfanew, "PE header offset");
  in.Need(layout.peOffset, kOptionalStart, "PE header");
  if (std::memcmp(in.At(layout.peOffset), "PE\0\0", 4) != 0)
    Fail("not a PE image: no 'PE' signature at offset " + Hex(layout.peOffset));
  const uint16_t sectionCount = in.U16(layout.peOffset + kCoffSectionCount, "COFF header");
  const uint16_t optionalSize = in.U16(layout.peOffset + kCoffOptionalSize, "COFF header");
  layout.optionalOffset = layout.peOffset + kOptionalStart;
  in.Need(layout.optionalOffset, optionalSize, "optional header");
  const uint16_t magic = in.U16(layout.optionalOffset, "optional header");
  if (magic != kMagicPe32 && magic != kMagicPe32Plus)
    Fail("unknown optional header magic " + Hex(magic));
  layout.directoriesAt = magic == kMagicPe32 ? kOptDirectoriesPe32 : kOptDirectoriesPe32Plus;
  if (optionalSize < layout.directoriesAt)
    Fail("optional header of " + std::to_string(optionalSize) + " bytes is too short for a " +
         (magic == kMagicPe32 ? "PE32" : "PE32+") + " image");

  const size_t opt = layout.optionalOffset;
  layout.sectionAlignment = in.U32(opt + kOptSectionAlignment, "optional header");
  layout.fileAlignment = in.U32(opt + kOptFileAlignment, "optional header");
  layout.sizeOfHeaders = in.U32(opt + kOptSizeOfHeaders, "optional header");
  layout.directoryCount = in.U32(opt + layout.directoriesAt - 4, "optional header");
  const std::string alignmentFault = AlignmentFault(layout.fileAlignment, layout.sectionAlignment);
  if (!alignmentFault.empty())
    Fail("unusable alignments: FileAlignment " + Hex(layout.fileAlignment) + ", SectionAlignment " +
         Hex(layout.sectionAlignment) + ": " + alignmentFault);
  if (layout.directoryCount > 16 ||
      layout.directoriesAt + 8 * (uint64_t)layout.directoryCount > optionalSize)
    Fail(std::to_string(layout.directoryCount) +
         " data directories do not fit the optional header");
  if (layout.directoryCount <= kDirResources)
    Fail("the image has no resource directory entry (" + std::to_string(layout.directoryCount) +
         " data directories)");
  if (!in.Has(0, layout.sizeOfHeaders))
    Fail("SizeOfHeaders " + Hex(layout.sizeOfHeaders) + " runs past the end of the file");

  if (sectionCount == 0) Fail("the image has no sections");
  layout.sectionTableOffset = opt + optionalSize;
  in.Need(layout.sectionTableOffset, (uint64_t)sectionCount * kSectionHeaderSize,
          "section table of " + std::to_string(sectionCount) + " entries");
  // The headers are mapped at RVA 0, so the first section starts after them.
  uint64_t nextVirtual = layout.sizeOfHeaders;
  uint64_t firstRaw = UINT64_MAX;
  // The headers are the file's first bytes even when no section has data.
  layout.rawEnd = layout.sizeOfHeaders;
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const size_t at = layout.sectionTableOffset + (size_t)i * kSectionHeaderSize;
    Section s;
    std::memcpy(s.name, in.At(at), 8);
    s.name[8] = 0;
    s.virtualSize = in.U32(at + 8, "section table");
    s.virtualAddress = in.U32(at + 12, "section table");
    s.rawSize = in.U32(at + 16, "section table");
    s.rawOffset = in.U32(at + 20, "section table");
    s.characteristics = in.U32(at + 36, "section table");
    if (s.virtualAddress < nextVirtual)
      Fail(SectionName(s) + " at RVA " + Hex(s.virtualAddress) +
           " overlaps the headers or the section before it, or is out of order");
    nextVirtual = (uint64_t)s.virtualAddress + Extent(s);
    if (nextVirtual > 0xFFFFFFFFu) Fail(SectionName(s) + " ends beyond 4 GiB");
    if (s.rawSize) {
      if (!in.Has(s.rawOffset, s.rawSize))
        Fail(SectionName(s) + " (" + Hex(s.rawSize) + " bytes at file offset " + Hex(s.rawOffset) +
             ") runs past the end of the file");
      layout.rawEnd = std::max<size_t>(layout.rawEnd, (size_t)s.rawOffset + s.rawSize);
      firstRaw = std::min<uint64_t>(firstRaw, s.rawOffset);
    }
    layout.sections.push_back(s);
  }
  if (layout.sectionTableOffset + (uint64_t)sectionCount * kSectionHeaderSize > firstRaw)
    Fail("the section table overlaps the data of the first section");

  const DataDirectory resources = ReadDirectory(in, layout, kDirResources);
  layout.resourceRva = resources.rva;
  if (resources.rva) {
    for (size_t i = 0; i < layout.sections.size(); ++i) {
      const Section& s = layout.sections[i];
      if (resources.rva >= s.virtualAddress && resources.rva - s.virtualAddress < Extent(s))
        layout.resourceSection = (int)i;
    }
    if (layout.resourceSection < 0)
      Fail("the resource directory (RVA " + Hex(resources.rva) + ") lies in no section");
  }

  const DataDirectory security = ReadDirectory(in, layout, kDirSecurity);
  layout.certificateSize = security.size;
  if (security.rva || security.size) {
    // The one directory that holds a file offset rather than an address.
    if (!in.Has(security.rva, security.size) || security.rva < layout.rawEnd)
      Fail("the signature (security directory, " + Hex(security.size) + " bytes at " +
           Hex(security.rva) + ") does not lie after the last section");
  }
  return layout;
}

// ------------------------------------------------------- resource tree

// A key as messages show it: a name of thousands of characters is cut, so
// that a damaged tree cannot make a message as long as the tree itself.
std::string Shown(const ResourceKey& key) {
  constexpr size_t kLongestShown = 64;
  if (!key.named() || key.name().size() <= kLongestShown) return key.Describe();
  return "\"" + Utf8(key.name().substr(0, kLongestShown)) + "...\" (" +
         std::to_string(key.name().size()) + " characters)";
}

// Where a table or entry stands in the tree. Only messages use it, and they
// make its text when they need it: a tree with long names costs nothing more
// to read while all is well.
struct TreePlace {
  const ResourceKey* type = nullptr;
  const ResourceKey* name = nullptr;
  const ResourceKey* language = nullptr;

  std::string Describe() const {
    if (!type) return "the resource root";
    if (!name) return "resource type " + Shown(*type);
    return "resource " + Shown(*type) + "/" + Shown(*name) +
           (language ? "/" + Shown(*language) : std::string());
  }
};

// Room in memory for a tree: the file's size (the resource bytes alone can
// take that much) and this much for the bookkeeping. The byte ranges already
// keep the tree within a small multiple of the resource section; this is the
// bound for a large file full of tiny entries.
constexpr uint64_t kTreeBookkeeping = 64u << 20;

// Reads the three-level directory (type, name, language) rooted at the
// resource RVA. Offsets inside the tree are relative to the root and must
// stay inside the file data of the section that holds it. Every directory
// table, name string and data entry has bytes of its own: a second claim of
// any byte is refused, which ends any loop and keeps the work and the memory
// in proportion to the section's size however the tables point.
class TreeReader {
 public:
  TreeReader(const Reader& in, const Layout& layout)
      : in_(in), layout_(layout), memoryLimit_(in.size() + kTreeBookkeeping) {
    const Section& s = layout.sections[(size_t)layout.resourceSection];
    const uint64_t into = layout.resourceRva - s.virtualAddress;
    if (into >= FileBacked(s))
      Fail("the resource directory (RVA " + Hex(layout.resourceRva) + ") is not in the file");
    base_ = s.rawOffset + into;
    limit_ = FileBacked(s) - into;
  }

  void Read(DirectoryAttributes* root, std::vector<TypeNode>* types) {
    std::vector<Entry> typeEntries = Directory(0, root, TreePlace{});
    types->reserve(typeEntries.size());
    for (Entry& t : typeEntries) {
      TypeNode type;
      type.key = std::move(t.key);
      TreePlace place{&type.key, nullptr, nullptr};
      if (!t.subdirectory) Fail(place.Describe() + " is data, not a directory");
      std::vector<Entry> nameEntries = Directory(t.target, &type.attributes, place);
      type.names.reserve(nameEntries.size());
      for (Entry& n : nameEntries) {
        NameNode name;
        name.key = std::move(n.key);
        place.name = &name.key;
        place.language = nullptr;
        if (!n.subdirectory) Fail(place.Describe() + " is data, not a language directory");
        std::vector<Entry> languageEntries = Directory(n.target, &name.attributes, place);
        name.languages.reserve(languageEntries.size());
        for (Entry& l : languageEntries) {
          Leaf leaf;
          leaf.key = std::move(l.key);
          place.language = &leaf.key;
          if (l.subdirectory) Fail(place.Describe() + " nests a fourth directory level");
          ReadLeaf(l.target, &leaf, place);
          name.languages.push_back(std::move(leaf));
        }
        type.names.push_back(std::move(name));
      }
      types->push_back(std::move(type));
    }
  }

 private:
  struct Entry {
    ResourceKey key;
    bool subdirectory;
    uint32_t target;
  };
  // A table's header and its entries are claimed apart, so that a table laid
  // over another one is refused before its entry count is believed.
  enum class Part : uint8_t { kTable, kEntries, kName, kDataEntry };
  struct Claim {
    uint64_t end;
    Part part;
  };

  // What holding one more entry costs at most, in a node of the tree and
  // while it is read; and one more claimed range or heap block.
  static constexpr uint64_t kEntryCost =
      sizeof(Entry) + std::max(sizeof(TypeNode), std::max(sizeof(NameNode), sizeof(Leaf)));
  static constexpr uint64_t kClaimCost = sizeof(std::pair<const uint64_t, Claim>) + 32;
  static constexpr uint64_t kBlockCost = 32;

  static std::string PartName(Part part, const TreePlace& place) {
    switch (part) {
      case Part::kTable:
        return "the directory of " + place.Describe();
      case Part::kEntries:
        return "the entries of the directory of " + place.Describe();
      case Part::kName:
        return "a name in the directory of " + place.Describe();
      case Part::kDataEntry:
        return "the data entry of " + place.Describe();
    }
    return "";
  }
  static const char* PartKind(Part part) {
    switch (part) {
      case Part::kTable:
        return "a directory table";
      case Part::kEntries:
        return "a directory's entries";
      case Part::kName:
        return "a name";
      case Part::kDataEntry:
        return "a data entry";
    }
    return "";
  }

  // `length` bytes at `offset` inside the section, else the message names
  // `part` of `place`.
  void Need(uint64_t offset, uint64_t length, Part part, const TreePlace& place) const {
    if (offset > limit_ || length > limit_ - offset)
      Fail(PartName(part, place) + " (" + Hex(length) + " bytes at offset " + Hex(offset) +
           ") lies outside the resource section (" + Hex(limit_) + " bytes from the root)");
  }

  // Marks the bytes of one table, name or data entry as read. Neighbours in
  // an ordered map are the only ranges a new one can overlap.
  void ClaimBytes(uint64_t offset, uint64_t length, Part part, const TreePlace& place) {
    const uint64_t end = offset + length;
    auto next = claims_.lower_bound(offset);
    auto overlapped = claims_.end();
    if (next != claims_.end() && next->first < end) overlapped = next;
    if (next != claims_.begin() && std::prev(next)->second.end > offset)
      overlapped = std::prev(next);
    if (overlapped != claims_.end()) {
      if (part == Part::kTable && overlapped->second.part == Part::kTable &&
          overlapped->first == offset)
        Fail(PartName(part, place) + " (offset " + Hex(offset) +
             ") is reached a second time: the resource tree has a loop, or shares a table");
      Fail(PartName(part, place) + " (" + Hex(length) + " bytes at offset " + Hex(offset) +
           ") overlaps " + PartKind(overlapped->second.part) + " read before it (" +
           Hex(overlapped->second.end - overlapped->first) + " bytes at offset " +
           Hex(overlapped->first) + "): each table, name and data entry needs bytes of its own");
    }
    claims_.emplace_hint(next, offset, Claim{end, part});
    Spend(kClaimCost, place);
  }

  void Spend(uint64_t bytes, const TreePlace& place) {
    memory_ += bytes;
    if (memory_ > memoryLimit_)
      Fail("holding the resource tree would take more than " + Hex(memoryLimit_) +
           " bytes of memory (the file's size and " + Hex(kTreeBookkeeping) + ") at " +
           place.Describe());
  }

  std::vector<Entry> Directory(uint32_t offset, DirectoryAttributes* attributes,
                               const TreePlace& place) {
    Need(offset, 16, Part::kTable, place);
    ClaimBytes(offset, 16, Part::kTable, place);
    const uint64_t at = base_ + offset;
    static const std::string what = "resource directory";
    attributes->characteristics = in_.U32(at, what);
    attributes->timeDateStamp = in_.U32(at + 4, what);
    attributes->majorVersion = in_.U16(at + 8, what);
    attributes->minorVersion = in_.U16(at + 10, what);
    const uint32_t count = (uint32_t)in_.U16(at + 12, what) + in_.U16(at + 14, what);
    const uint64_t bytes = 16 + 8 * (uint64_t)count;
    if (bytes > limit_ - offset)
      Fail(PartName(Part::kTable, place) + " lists " + std::to_string(count) + " entries (" +
           Hex(bytes) + " bytes at offset " + Hex(offset) +
           "), which lie outside the resource section (" + Hex(limit_) + " bytes from the root)");
    if (count) ClaimBytes(offset + 16, bytes - 16, Part::kEntries, place);
    Spend(count * kEntryCost, place);

    std::vector<Entry> entries(count);
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t e = at + 16 + 8 * (uint64_t)i;
      const uint32_t nameField = in_.U32(e, what);
      const uint32_t dataField = in_.U32(e + 4, what);
      Entry& entry = entries[i];
      if (nameField & kHighBit) {
        entry.key = ReadName(nameField & ~kHighBit, place);
      } else {
        if (nameField > 0xFFFF)
          Fail("an entry of " + place.Describe() + " has the id " + Hex(nameField) +
               ", which is not 16 bits");
        entry.key = ResourceKey((uint16_t)nameField);
      }
      entry.subdirectory = (dataField & kHighBit) != 0;
      entry.target = dataField & ~kHighBit;
    }
    // Sorted, a key listed twice stands beside itself.
    std::vector<uint32_t> order(count);
    for (uint32_t i = 0; i < count; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&entries](uint32_t a, uint32_t b) {
      return CompareKeys(entries[a].key, entries[b].key) < 0;
    });
    for (uint32_t i = 1; i < count; ++i)
      if (CompareKeys(entries[order[i - 1]].key, entries[order[i]].key) == 0)
        Fail(place.Describe() + " lists " + Shown(entries[order[i]].key) + " twice");
    return entries;
  }

  ResourceKey ReadName(uint32_t offset, const TreePlace& place) {
    Need(offset, 2, Part::kName, place);
    static const std::string what = "resource name";
    const uint16_t length = in_.U16(base_ + offset, what);
    Need(offset, 2 + 2 * (uint64_t)length, Part::kName, place);
    ClaimBytes(offset, 2 + 2 * (uint64_t)length, Part::kName, place);
    if (!length) Fail("an entry of " + place.Describe() + " has an empty name");
    Spend(2 * (uint64_t)length + kBlockCost, place);
    std::u16string name(length, u'\0');
    for (uint16_t i = 0; i < length; ++i)
      name[i] = (char16_t)in_.U16(base_ + offset + 2 + 2 * (uint64_t)i, what);
    return ResourceKey::Name(std::move(name));
  }

  // The data entry at `offset`, and the bytes it points to, into `leaf`.
  void ReadLeaf(uint32_t offset, Leaf* leaf, const TreePlace& place) {
    Need(offset, 16, Part::kDataEntry, place);
    ClaimBytes(offset, 16, Part::kDataEntry, place);
    const uint64_t at = base_ + offset;
    static const std::string what = "resource data entry";
    const uint32_t rva = in_.U32(at, what);
    const uint32_t size = in_.U32(at + 4, what);
    leaf->data.codePage = in_.U32(at + 8, what);
    leaf->reserved = in_.U32(at + 12, what);
    if (size) {
      total_ += size;
      if (total_ > in_.size())
        Fail("the resource data adds up to more bytes than the file holds at " + place.Describe());
      Spend(size + kBlockCost, place);
      const uint64_t from =
          RvaToOffset(layout_, rva, size, [&place] { return "the data of " + place.Describe(); });
      leaf->data.bytes.assign(in_.At(from), in_.At(from) + size);
    }
  }

  const Reader& in_;
  const Layout& layout_;
  uint64_t base_ = 0;
  uint64_t limit_ = 0;
  std::map<uint64_t, Claim> claims_;  // by first byte
  uint64_t total_ = 0;                // resource bytes
  uint64_t memory_ = 0;               // what holding the tree takes so far
  const uint64_t memoryLimit_;
};

// ------------------------------------------------------------ writing

// A fresh resource section for address `rva`: all directory tables (root,
// types, names), the data entries, the name strings, then each resource's
// bytes at a multiple of 8.
std::vector<uint8_t> BuildResourceSection(const DirectoryAttributes& rootAttributes,
                                          const std::vector<TypeNode>& types, uint32_t rva) {
  auto tableSize = [](size_t entries) { return 16 + 8 * (uint64_t)entries; };
  uint64_t tables = tableSize(types.size());
  size_t leaves = 0;
  for (const TypeNode& t : types) {
    tables += tableSize(t.names.size());
    for (const NameNode& n : t.names) {
      tables += tableSize(n.languages.size());
      leaves += n.languages.size();
    }
  }
  uint64_t strings = 0;
  auto countName = [&strings](const ResourceKey& k) {
    if (k.named()) strings += 2 + 2 * (uint64_t)k.name().size();
  };
  for (const TypeNode& t : types) {
    countName(t.key);
    for (const NameNode& n : t.names) {
      countName(n.key);
      for (const Leaf& l : n.languages) countName(l.key);
    }
  }
  const uint64_t entriesAt = tables;
  const uint64_t stringsAt = entriesAt + 16 * (uint64_t)leaves;
  uint64_t end = AlignUp(stringsAt + strings, 8);
  for (const TypeNode& t : types)
    for (const NameNode& n : t.names)
      for (const Leaf& l : n.languages) end = AlignUp(end + l.data.bytes.size(), 8);
  if (end > 0x7FFFFFFF || (uint64_t)rva + end > 0xFFFFFFFFu)
    Fail("the resources (" + std::to_string(end) + " bytes) do not fit a 32-bit image");

  std::vector<uint8_t> out((size_t)end, 0);
  uint32_t nextTable = 0, nextEntry = (uint32_t)entriesAt, nextString = (uint32_t)stringsAt;
  uint32_t nextData = (uint32_t)AlignUp(stringsAt + strings, 8);

  auto nameField = [&](const ResourceKey& k) -> uint32_t {
    if (!k.named()) return k.id();
    const uint32_t at = nextString;
    PutU16(&out, at, (uint16_t)k.name().size());
    for (size_t i = 0; i < k.name().size(); ++i) PutU16(&out, at + 2 + 2 * i, k.name()[i]);
    nextString += 2 + 2 * (uint32_t)k.name().size();
    return kHighBit | at;
  };
  // Writes a table's header and reserves its entries; returns its offset.
  auto table = [&](const DirectoryAttributes& a, const auto& keys) -> uint32_t {
    const uint32_t at = nextTable;
    PutU32(&out, at, a.characteristics);
    PutU32(&out, at + 4, a.timeDateStamp);
    PutU16(&out, at + 8, a.majorVersion);
    PutU16(&out, at + 10, a.minorVersion);
    uint16_t named = 0;
    for (const auto& node : keys) named += node.key.named() ? 1 : 0;
    PutU16(&out, at + 12, named);
    PutU16(&out, at + 14, (uint16_t)(keys.size() - named));
    nextTable += 16 + 8 * (uint32_t)keys.size();
    return at;
  };

  // Breadth-first, so that each level's tables follow the level above.
  const uint32_t root = table(rootAttributes, types);
  std::vector<uint32_t> typeTables;
  for (size_t i = 0; i < types.size(); ++i) {
    const uint32_t at = table(types[i].attributes, types[i].names);
    typeTables.push_back(at);
    PutU32(&out, root + 16 + 8 * i, nameField(types[i].key));
    PutU32(&out, root + 16 + 8 * i + 4, kHighBit | at);
  }
  for (size_t i = 0; i < types.size(); ++i) {
    const std::vector<NameNode>& names = types[i].names;
    for (size_t j = 0; j < names.size(); ++j) {
      const uint32_t at = table(names[j].attributes, names[j].languages);
      PutU32(&out, typeTables[i] + 16 + 8 * j, nameField(names[j].key));
      PutU32(&out, typeTables[i] + 16 + 8 * j + 4, kHighBit | at);
      for (size_t k = 0; k < names[j].languages.size(); ++k) {
        const Leaf& leaf = names[j].languages[k];
        PutU32(&out, at + 16 + 8 * k, nameField(leaf.key));
        PutU32(&out, at + 16 + 8 * k + 4, nextEntry);
        PutU32(&out, nextEntry, rva + nextData);
        PutU32(&out, nextEntry + 4, (uint32_t)leaf.data.bytes.size());
        PutU32(&out, nextEntry + 8, leaf.data.codePage);
        PutU32(&out, nextEntry + 12, leaf.reserved);
        nextEntry += 16;
        if (!leaf.data.bytes.empty())
          std::memcpy(&out[nextData], leaf.data.bytes.data(), leaf.data.bytes.size());
        nextData = (uint32_t)AlignUp(nextData + leaf.data.bytes.size(), 8);
      }
    }
  }
  return out;
}

// A trailing section that may move up behind a grown resource section:
// exactly the base relocations, which nothing else addresses.
bool IsMovableRelocations(const Reader& in, const Layout& layout, size_t index) {
  const Section& s = layout.sections[index];
  if (std::strcmp(s.name, ".reloc") != 0 || !s.rawSize) return false;
  const DataDirectory relocations = ReadDirectory(in, layout, kDirRelocations);
  if (relocations.rva < s.virtualAddress ||
      (uint64_t)relocations.rva + relocations.size > s.virtualAddress + Extent(s))
    return false;
  for (uint32_t d = 0; d < layout.directoryCount; ++d) {
    if (d == kDirRelocations || d == kDirSecurity) continue;
    const DataDirectory other = ReadDirectory(in, layout, d);
    if (other.rva && other.rva >= s.virtualAddress && other.rva - s.virtualAddress < Extent(s))
      return false;
  }
  return true;
}

}  // namespace

// ------------------------------------------------------------- ResourceKey

ResourceKey ResourceKey::Name(std::u16string name) {
  ResourceKey key;
  key.named_ = true;
  key.name_ = std::move(name);
  return key;
}

ResourceKey ResourceKey::Name(const std::string& ascii) {
  if (ascii.empty()) throw std::invalid_argument("a resource name cannot be empty");
  std::u16string name;
  for (char c : ascii) {
    if (c <= 0 || (unsigned char)c >= 0x80)
      throw std::invalid_argument("resource name '" + ascii + "' is not plain ASCII");
    name += (char16_t)c;
  }
  return Name(std::move(name));
}

std::string ResourceKey::Describe() const {
  return named_ ? "\"" + Utf8(name_) + "\"" : std::to_string(id_);
}

bool SameResourceKey(const ResourceKey& a, const ResourceKey& b) { return CompareKeys(a, b) == 0; }

// -------------------------------------------------------- PeResourceEditor

bool PeResourceEditor::Load(std::vector<uint8_t> image, std::string* error) {
  try {
    Reader in(image);
    Layout layout = ReadLayout(in);
    DirectoryAttributes root;
    std::vector<TypeNode> types;
    if (layout.resourceSection >= 0) TreeReader(in, layout).Read(&root, &types);
    SortNodes(&types);
    for (TypeNode& t : types) {
      SortNodes(&t.names);
      for (NameNode& n : t.names) SortNodes(&n.languages);
    }
    image_ = std::move(image);
    layout_ = std::move(layout);
    rootAttributes_ = root;
    types_ = std::move(types);
    return true;
  } catch (const ImageError& e) {
    *error = e.what();
    return false;
  }
}

std::vector<ResourceRef> PeResourceEditor::List() const {
  std::vector<ResourceRef> out;
  for (const TypeNode& t : types_)
    for (const NameNode& n : t.names)
      for (const Leaf& l : n.languages) out.push_back(ResourceRef{t.key, n.key, l.key, &l.data});
  return out;
}

const ResourceData* PeResourceEditor::Find(const ResourceKey& type, const ResourceKey& name,
                                           uint16_t language) const {
  const TypeNode* t = FindNode(types_, type);
  const NameNode* n = t ? FindNode(t->names, name) : nullptr;
  const Leaf* l = n ? FindNode(n->languages, ResourceKey(language)) : nullptr;
  return l ? &l->data : nullptr;
}

const ResourceData* PeResourceEditor::FindAnyLanguage(const ResourceKey& type,
                                                      const ResourceKey& name,
                                                      uint16_t* language) const {
  const TypeNode* t = FindNode(types_, type);
  const NameNode* n = t ? FindNode(t->names, name) : nullptr;
  if (!n || n->languages.empty()) return nullptr;
  if (language) *language = n->languages[0].key.id();
  return &n->languages[0].data;
}

std::vector<ResourceKey> PeResourceEditor::Languages(const ResourceKey& type,
                                                     const ResourceKey& name) const {
  const TypeNode* t = FindNode(types_, type);
  const NameNode* n = t ? FindNode(t->names, name) : nullptr;
  std::vector<ResourceKey> out;
  if (n)
    for (const Leaf& l : n->languages) out.push_back(l.key);
  return out;
}

void PeResourceEditor::Set(const ResourceKey& type, const ResourceKey& name, uint16_t language,
                           std::vector<uint8_t> bytes, uint32_t codePage) {
  Leaf* leaf = FindOrAdd(&FindOrAdd(&FindOrAdd(&types_, type)->names, name)->languages,
                         ResourceKey(language));
  leaf->data.bytes = std::move(bytes);
  leaf->data.codePage = codePage;
}

bool PeResourceEditor::Remove(const ResourceKey& type, const ResourceKey& name, uint16_t language) {
  const size_t ti = LowerBound(types_, type);
  if (ti == types_.size() || !SameResourceKey(types_[ti].key, type)) return false;
  std::vector<NameNode>& names = types_[ti].names;
  const size_t ni = LowerBound(names, name);
  if (ni == names.size() || !SameResourceKey(names[ni].key, name)) return false;
  std::vector<Leaf>& languages = names[ni].languages;
  const size_t li = LowerBound(languages, ResourceKey(language));
  if (li == languages.size() || !SameResourceKey(languages[li].key, ResourceKey(language)))
    return false;
  languages.erase(languages.begin() + (std::ptrdiff_t)li);
  if (languages.empty()) names.erase(names.begin() + (std::ptrdiff_t)ni);
  if (names.empty()) types_.erase(types_.begin() + (std::ptrdiff_t)ti);
  return true;
}

size_t PeResourceEditor::RemoveAllLanguages(const ResourceKey& type, const ResourceKey& name) {
  const size_t ti = LowerBound(types_, type);
  if (ti == types_.size() || !SameResourceKey(types_[ti].key, type)) return 0;
  std::vector<NameNode>& names = types_[ti].names;
  const size_t ni = LowerBound(names, name);
  if (ni == names.size() || !SameResourceKey(names[ni].key, name)) return 0;
  const size_t removed = names[ni].languages.size();
  names.erase(names.begin() + (std::ptrdiff_t)ni);
  if (names.empty()) types_.erase(types_.begin() + (std::ptrdiff_t)ti);
  return removed;
}

bool PeResourceEditor::Write(std::vector<uint8_t>* out, std::string* error) const {
  try {
    if (layout_.sections.empty()) Fail("no image loaded");
    const Reader in(image_);
    const Layout& L = layout_;
    const size_t opt = L.optionalOffset;
    const uint64_t fileAlign = L.fileAlignment, sectionAlign = L.sectionAlignment;
    std::vector<Section> sections = L.sections;

    // Where the new section goes: over the old one when only the base
    // relocations (or nothing) follow it, else after the last section.
    bool inPlace = false;
    if (L.resourceSection >= 0) {
      const size_t r = (size_t)L.resourceSection;
      const Section& s = L.sections[r];
      inPlace =
          std::strcmp(s.name, ".rsrc") == 0 && L.resourceRva == s.virtualAddress && s.rawSize > 0;
      uint64_t rawAfter = (uint64_t)s.rawOffset + s.rawSize;
      for (size_t i = 0; inPlace && i < L.sections.size(); ++i) {
        const Section& other = L.sections[i];
        if (i < r) {
          inPlace = !other.rawSize || (uint64_t)other.rawOffset + other.rawSize <= s.rawOffset;
        } else if (i > r) {
          inPlace = IsMovableRelocations(in, L, i) && other.rawOffset >= rawAfter;
          rawAfter = (uint64_t)other.rawOffset + other.rawSize;
        }
      }
    }

    size_t cut;       // image bytes before this offset are kept where they are
    size_t newIndex;  // the resource section in `sections`
    uint64_t rsrcRva, rsrcRaw;
    if (inPlace) {
      newIndex = (size_t)L.resourceSection;
      cut = L.sections[newIndex].rawOffset;
      rsrcRva = L.sections[newIndex].virtualAddress;
      rsrcRaw = cut;
    } else {
      const size_t tableEnd = L.sectionTableOffset + sections.size() * kSectionHeaderSize;
      uint64_t firstRaw = UINT64_MAX, virtualEnd = L.sizeOfHeaders;
      for (const Section& s : sections) {
        if (s.rawSize) firstRaw = std::min<uint64_t>(firstRaw, s.rawOffset);
        virtualEnd = std::max<uint64_t>(virtualEnd, s.virtualAddress + Extent(s));
      }
      bool room = tableEnd + kSectionHeaderSize <= std::min<uint64_t>(L.sizeOfHeaders, firstRaw);
      for (size_t i = tableEnd; room && i < tableEnd + kSectionHeaderSize; ++i)
        room = image_[i] == 0;
      if (!room)
        Fail("the resources cannot be rewritten in place (" +
             (L.resourceSection >= 0 ? SectionName(L.sections[(size_t)L.resourceSection]) +
                                           " is followed by other sections"
                                     : std::string("the image has none")) +
             ") and the header has no free room for another section entry");
      newIndex = sections.size();
      sections.push_back(Section{".rsrc", 0, 0, 0, 0, kInitializedDataReadable});
      cut = L.rawEnd;
      rsrcRva = AlignUp(virtualEnd, sectionAlign);
      rsrcRaw = AlignUp(L.rawEnd, fileAlign);
    }
    if (rsrcRva > 0xFFFFFFFFu) Fail("the image would exceed 4 GiB");

    const std::vector<uint8_t> rsrc =
        BuildResourceSection(rootAttributes_, types_, (uint32_t)rsrcRva);
    const uint64_t oldRsrcRaw = inPlace ? sections[newIndex].rawSize : 0;
    Section& r = sections[newIndex];
    r.virtualAddress = (uint32_t)rsrcRva;
    r.rawOffset = (uint32_t)rsrcRaw;
    r.virtualSize = (uint32_t)rsrc.size();
    const uint64_t rsrcRawSize = AlignUp(rsrc.size(), fileAlign);
    uint64_t nextVirtual = AlignUp(rsrcRva + rsrc.size(), sectionAlign);
    uint64_t nextRaw = rsrcRaw + rsrcRawSize;
    if (nextVirtual > 0xFFFFFFFFu || nextRaw > 0xFFFFFFFFu) Fail("the image would exceed 4 GiB");
    r.rawSize = (uint32_t)rsrcRawSize;

    // The file: everything before `cut`, the resources, the moved
    // relocations, then the bytes after the old last section without the
    // signature. `moves` maps old file ranges to new ones for the pointers
    // in the headers.
    struct Move {
      uint64_t from, length, to;
    };
    std::vector<Move> moves{{0, cut, 0}};
    std::vector<uint8_t> image(image_.begin(), image_.begin() + (std::ptrdiff_t)cut);
    image.resize((size_t)rsrcRaw, 0);
    image.insert(image.end(), rsrc.begin(), rsrc.end());
    image.resize((size_t)nextRaw, 0);
    int64_t relocationShift = 0;
    for (size_t i = newIndex + 1; inPlace && i < sections.size(); ++i) {
      Section& s = sections[i];
      const uint64_t raw = AlignUp(s.rawSize, fileAlign);
      moves.push_back(Move{s.rawOffset, s.rawSize, nextRaw});
      image.insert(image.end(), image_.begin() + s.rawOffset,
                   image_.begin() + s.rawOffset + s.rawSize);
      image.resize((size_t)(nextRaw + raw), 0);
      relocationShift = (int64_t)nextVirtual - (int64_t)s.virtualAddress;
      s.virtualAddress = (uint32_t)nextVirtual;
      s.rawOffset = (uint32_t)nextRaw;
      s.rawSize = (uint32_t)raw;
      nextVirtual = AlignUp(nextVirtual + Extent(s), sectionAlign);
      nextRaw += raw;
      if (nextVirtual > 0xFFFFFFFFu || nextRaw > 0xFFFFFFFFu) Fail("the image would exceed 4 GiB");
    }
    if (sectionAlign < kPageSize && rsrcRaw != rsrcRva)
      Fail("the image is mapped as it lies in the file (SectionAlignment " + Hex(sectionAlign) +
           "), but a new resource section would lie at file offset " + Hex(rsrcRaw) +
           " for address " + Hex(rsrcRva));
    const DataDirectory security = ReadDirectory(in, L, kDirSecurity);
    const uint64_t signatureFrom = security.size ? security.rva : image_.size();
    const uint64_t signatureTo =
        security.size ? (uint64_t)security.rva + security.size : image_.size();
    moves.push_back(Move{L.rawEnd, signatureFrom - L.rawEnd, image.size()});
    image.insert(image.end(), image_.begin() + (std::ptrdiff_t)L.rawEnd,
                 image_.begin() + (std::ptrdiff_t)signatureFrom);
    moves.push_back(Move{signatureTo, image_.size() - signatureTo, image.size()});
    image.insert(image.end(), image_.begin() + (std::ptrdiff_t)signatureTo, image_.end());
    if (image.size() > 0xFFFFFFFFu) Fail("the image would exceed 4 GiB");

    auto mapOffset = [&moves](uint64_t old, uint64_t* moved) {
      for (const Move& m : moves)
        if (old >= m.from && old - m.from < m.length) {
          *moved = m.to + (old - m.from);
          return true;
        }
      return false;
    };

    // Headers.
    if (!inPlace) {
      PutU16(&image, L.peOffset + kCoffSectionCount, (uint16_t)sections.size());
      if (sections.size() > 0xFFFF) Fail("too many sections");
    }
    for (size_t i = 0; i < sections.size(); ++i) {
      const size_t at = L.sectionTableOffset + i * kSectionHeaderSize;
      const Section& s = sections[i];
      if (i == sections.size() - 1 && !inPlace) {
        std::memset(&image[at], 0, kSectionHeaderSize);
        std::memcpy(&image[at], s.name, 8);
        PutU32(&image, at + 36, s.characteristics);
      }
      PutU32(&image, at + 8, s.virtualSize);
      PutU32(&image, at + 12, s.virtualAddress);
      PutU32(&image, at + 16, s.rawSize);
      PutU32(&image, at + 20, s.rawOffset);
    }
    uint64_t virtualEnd = 0;
    for (const Section& s : sections)
      virtualEnd = std::max<uint64_t>(virtualEnd, s.virtualAddress + Extent(s));
    PutU32(&image, opt + kOptSizeOfImage, (uint32_t)AlignUp(virtualEnd, sectionAlign));
    PutU32(&image, opt + kOptInitializedData,
           (uint32_t)(in.U32(opt + kOptInitializedData, "optional header") + rsrcRawSize -
                      oldRsrcRaw));
    const size_t directories = opt + L.directoriesAt;
    PutU32(&image, directories + 8 * kDirResources, (uint32_t)rsrcRva);
    PutU32(&image, directories + 8 * kDirResources + 4, (uint32_t)rsrc.size());
    if (relocationShift) {
      const DataDirectory relocations = ReadDirectory(in, L, kDirRelocations);
      PutU32(&image, directories + 8 * kDirRelocations,
             (uint32_t)(relocations.rva + relocationShift));
    }
    if (L.directoryCount > kDirSecurity) {
      PutU32(&image, directories + 8 * kDirSecurity, 0);
      PutU32(&image, directories + 8 * kDirSecurity + 4, 0);
    }
    const uint32_t symbols = in.U32(L.peOffset + kCoffSymbolTable, "COFF header");
    if (symbols) {
      uint64_t moved;
      if (!mapOffset(symbols, &moved)) Fail("the COFF symbol table lies in the resource section");
      PutU32(&image, L.peOffset + kCoffSymbolTable, (uint32_t)moved);
    }
    const DataDirectory debug = ReadDirectory(in, L, kDirDebug);
    if (debug.rva && debug.size) {
      const uint64_t from = RvaToOffset(L, debug.rva, debug.size, [] { return std::string("the debug directory"); });
      uint64_t to;
      if (!mapOffset(from, &to)) Fail("the debug directory lies in the resource section");
      for (uint64_t e = 0; e + kDebugEntrySize <= debug.size; e += kDebugEntrySize) {
        const uint32_t pointer = in.U32(from + e + 24, "the debug directory");
        uint64_t moved;
        if (pointer && mapOffset(pointer, &moved))
          PutU32(&image, (size_t)(to + e + 24), (uint32_t)moved);
      }
    }
    PutU32(&image, opt + kOptChecksum, 0);
    PutU32(&image, opt + kOptChecksum,
           PeImageChecksum(image.data(), image.size(), opt + kOptChecksum));
    *out = std::move(image);
    return true;
  } catch (const ImageError& e) {
    *error = e.what();
    return false;
  }
}

uint32_t PeImageChecksum(const uint8_t* image, size_t size, size_t checksumOffset) {
  auto byte = [&](size_t i) -> uint32_t {
    return (i >= checksumOffset && i - checksumOffset < 4) ? 0 : image[i];
  };
  uint32_t sum = 0;
  for (size_t i = 0; i < size; i += 2) {
    sum += byte(i) | (i + 1 < size ? byte(i + 1) << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return sum + (uint32_t)size;
}

bool ReadPeResource(const std::vector<uint8_t>& image, const ResourceKey& type,
                    const ResourceKey& name, std::vector<uint8_t>* bytes, std::string* error) {
  // The tree is read straight from the caller's bytes, and the resource
  // moved out of it: one copy of the image and of the resource, not two.
  try {
    const Reader in(image);
    const Layout layout = ReadLayout(in);
    DirectoryAttributes root;
    std::vector<TypeNode> types;
    if (layout.resourceSection >= 0) TreeReader(in, layout).Read(&root, &types);
    for (TypeNode& t : types) {
      if (!SameResourceKey(t.key, type)) continue;
      for (NameNode& n : t.names)
        if (SameResourceKey(n.key, name) && !n.languages.empty()) {
          SortNodes(&n.languages);
          *bytes = std::move(n.languages[0].data.bytes);
          return true;
        }
    }
  } catch (const ImageError& e) {
    *error = e.what();
    return false;
  }
  *error = "the image has no resource " + type.Describe() + "/" + name.Describe();
  return false;
}

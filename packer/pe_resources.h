// Resources of Windows images (PE32, and PE32+ for 64-bit): read the resource tree of an
// executable, change it, and write the image anew. qk2 uses it to put an
// update package into a copy of the prebuilt Updater.exe, and to read the
// package back when it checks a built updater.
//
// The whole tree is read into memory (every type, name and language, with
// its bytes and code page), the changes are made there, and a fresh
// resource section is written:
//   - in place when the resource section is the last one, or is followed
//     only by the base relocations (the layout the mingw linker gives), which
//     are then moved up behind it;
//   - otherwise as a new section after the last one, when the header has
//     room for another section entry; the old resource bytes stay behind,
//     unused.
// SizeOfImage, SizeOfInitializedData, the resource directory entry and the
// checksum are brought up to date. An Authenticode signature cannot survive
// any change to the image, so it is dropped; other bytes after the last
// section are kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A resource type, name or language: an integer id or a UTF-16 string.
class ResourceKey {
 public:
  ResourceKey() = default;
  ResourceKey(uint16_t id) : id_(id) {}  // implicit, so that ids read as plain numbers
  static ResourceKey Name(std::u16string name);
  // ASCII only ("UPDATE"); anything else is refused with std::invalid_argument.
  static ResourceKey Name(const std::string& ascii);

  bool named() const { return named_; }
  uint16_t id() const { return id_; }
  const std::u16string& name() const { return name_; }
  // For messages: 102, or the name in double quotes ("UPDATE"), UTF-8.
  std::string Describe() const;

 private:
  bool named_ = false;
  uint16_t id_ = 0;
  std::u16string name_;
};

// The same key as Windows looks it up: equal ids, or names that are equal
// when ASCII letters are folded to upper case.
bool SameResourceKey(const ResourceKey& a, const ResourceKey& b);

struct ResourceData {
  std::vector<uint8_t> bytes;
  uint32_t codePage = 0;
};

// One resource as listed: where it sits in the tree and its data.
struct ResourceRef {
  ResourceKey type;
  ResourceKey name;
  ResourceKey language;  // an id in every image a resource compiler writes
  const ResourceData* data;
};

class PeResourceEditor {
 public:
  // Reads `image` and its whole resource tree. False, with a message in
  // `*error`, for anything that is not a well-formed PE32 or PE32+ image: every
  // size, offset and count is checked against the buffer before it is used,
  // alignments must be ones a loader uses, each table, name and data entry of
  // the tree must have bytes of its own in the resource section, and the tree
  // may take no more memory than the file's size and 64 MiB, so that the
  // time and memory Load takes stay in proportion to the file's size.
  bool Load(std::vector<uint8_t> image, std::string* error);

  // Every resource, in the order of the directory as it will be written.
  std::vector<ResourceRef> List() const;
  const ResourceData* Find(const ResourceKey& type, const ResourceKey& name,
                           uint16_t language) const;
  // The first language of (type, name), as a lookup without a language
  // preference finds it in a single-language image. Null when there is none.
  const ResourceData* FindAnyLanguage(const ResourceKey& type, const ResourceKey& name,
                                      uint16_t* language = nullptr) const;

  // Every language of (type, name), ascending; empty when there is none.
  // A lookup by the system's language may pick any of them.
  std::vector<ResourceKey> Languages(const ResourceKey& type, const ResourceKey& name) const;

  // Whether the image carries a certificate table (an Authenticode
  // signature): its security directory entry has a size. Read by Load with
  // the same checked layout as the resources, for 32- and 64-bit headers.
  bool HasCertificateTable() const { return layout_.certificateSize != 0; }

  // Adds the resource, or replaces its bytes and code page.
  void Set(const ResourceKey& type, const ResourceKey& name, uint16_t language,
           std::vector<uint8_t> bytes, uint32_t codePage = 0);
  // Removes it (and a name or type left empty). False when it was not there.
  bool Remove(const ResourceKey& type, const ResourceKey& name, uint16_t language);
  // Removes (type, name) in every language at once (and the type when it is
  // left empty), in one step however many languages there are: removed one
  // by one, 65,535 languages took seconds. The number removed.
  size_t RemoveAllLanguages(const ResourceKey& type, const ResourceKey& name);

  // The image with the current resources. False, with a message, when the
  // image has no place for a new resource section or a size overflows.
  bool Write(std::vector<uint8_t>* out, std::string* error) const;

  // The image as loaded.
  const std::vector<uint8_t>& image() const { return image_; }

  // The image as read by Load: its layout and its resource tree. Public
  // only so that the file-local helpers of the reader and the writer can
  // name these types.
  struct Section {
    char name[9];  // NUL-terminated copy of the 8-byte field
    uint32_t virtualSize;
    uint32_t virtualAddress;
    uint32_t rawSize;
    uint32_t rawOffset;
    uint32_t characteristics;
  };
  struct DirectoryAttributes {
    uint32_t characteristics = 0;
    uint32_t timeDateStamp = 0;
    uint16_t majorVersion = 0;
    uint16_t minorVersion = 0;
  };
  struct Leaf {
    ResourceKey key;
    ResourceData data;
    uint32_t reserved = 0;
  };
  struct NameNode {
    ResourceKey key;
    DirectoryAttributes attributes;
    std::vector<Leaf> languages;
  };
  struct TypeNode {
    ResourceKey key;
    DirectoryAttributes attributes;
    std::vector<NameNode> names;
  };
  struct Layout {
    size_t peOffset = 0;        // "PE\0\0"
    size_t optionalOffset = 0;  // optional header
    size_t sectionTableOffset = 0;
    uint32_t fileAlignment = 0;
    uint32_t sectionAlignment = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t directoryCount = 0;    // NumberOfRvaAndSizes
    uint32_t directoriesAt = 0;     // the data directories, from the optional header
    std::vector<Section> sections;  // in table order (ascending addresses)
    int resourceSection = -1;       // section holding the resource directory
    uint32_t resourceRva = 0;
    size_t rawEnd = 0;  // end of the headers and of all section data in the file
    uint32_t certificateSize = 0;   // of the security directory
  };

 private:
  std::vector<uint8_t> image_;
  Layout layout_;
  DirectoryAttributes rootAttributes_;
  std::vector<TypeNode> types_;  // kept sorted as the directory is written
};

// The image checksum of the optional header (the algorithm of imagehlp's
// CheckSumMappedFile): 16-bit one's-complement sum of the file with the
// checksum field counted as zero, plus the file's length.
uint32_t PeImageChecksum(const uint8_t* image, size_t size, size_t checksumOffset);

// Reads one resource of an image: (type, name) in the language that
// FindAnyLanguage picks. False, with a message, for an image Load refuses or
// a resource that is not there. The image is not copied.
bool ReadPeResource(const std::vector<uint8_t>& image, const ResourceKey& type,
                    const ResourceKey& name, std::vector<uint8_t>* bytes, std::string* error);

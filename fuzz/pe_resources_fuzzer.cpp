// Raw bytes as a Windows image: read by the resource editor and by
// ReadPeResource, which must agree; then, when it is read, the package
// resource "UPDATE" 102 set to bytes taken from the input, the image written,
// and the written image read again: it must hold those bytes and every
// resource it held before. Aborts on any difference. With -timeout and
// -rss_limit_mb, an image that makes the reader slow or greedy is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "packer/pe_resources.h"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "pe_resources_fuzzer: %s\n", what.c_str());
  std::abort();
}

const ResourceKey& UpdateType() {
  static const ResourceKey type = ResourceKey::Name(std::string("UPDATE"));
  return type;
}

constexpr uint16_t kPackageId = 102;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (4u << 20)) return 0;
  const std::vector<uint8_t> image(data, data + size);
  PeResourceEditor editor;
  std::string error;
  const bool loaded = editor.Load(image, &error);
  std::vector<uint8_t> read;
  std::string readError;
  const bool found = ReadPeResource(image, UpdateType(), kPackageId, &read, &readError);
  if (!loaded) {
    if (found) Fail("ReadPeResource read an image Load refused: " + error);
    return 0;
  }
  const ResourceData* before = editor.FindAnyLanguage(UpdateType(), kPackageId);
  if (found != (before != nullptr)) Fail("ReadPeResource and Load disagree: " + readError);
  if (before && before->bytes != read) Fail("ReadPeResource read other bytes");

  // The payload: the input's last bytes, so that it changes as the image does.
  const size_t payloadSize = size % 97;
  const std::vector<uint8_t> payload(data + size - payloadSize, data + size);
  struct Kept {
    ResourceKey type, name, language;
    ResourceData data;
  };
  std::vector<Kept> kept;  // copies: Set may move the tree's nodes
  for (const ResourceRef& r : editor.List()) kept.push_back({r.type, r.name, r.language, *r.data});
  editor.Set(UpdateType(), kPackageId, 0, payload);
  std::vector<uint8_t> written;
  if (!editor.Write(&written, &error)) return 0;  // no room for the resources: refused cleanly

  PeResourceEditor reread;
  if (!reread.Load(written, &error)) Fail("the written image is refused: " + error);
  const ResourceData* package = reread.Find(UpdateType(), kPackageId, 0);
  if (!package || package->bytes != payload) Fail("the package is not in the written image");
  for (const Kept& r : kept) {
    if (SameResourceKey(r.type, UpdateType()) && SameResourceKey(r.name, kPackageId) &&
        !r.language.named() && r.language.id() == 0)
      continue;
    if (r.language.named()) continue;  // Find looks languages up by id only
    const ResourceData* after = reread.Find(r.type, r.name, r.language.id());
    if (!after || after->bytes != r.data.bytes || after->codePage != r.data.codePage)
      Fail("resource " + r.type.Describe() + "/" + r.name.Describe() + "/" +
           r.language.Describe() + " changed in the written image");
  }
  // A named language, if any, sorts before the ids.
  const ResourceData* first = reread.FindAnyLanguage(UpdateType(), kPackageId);
  if (!ReadPeResource(written, UpdateType(), kPackageId, &read, &error) || read != first->bytes)
    Fail("ReadPeResource does not read the package back: " + error);
  return 0;
}

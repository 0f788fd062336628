#include "platform/image_version.h"

#include "platform/pe_resources.h"

namespace win {

namespace {

const uint32_t kFixedInfoSignature = 0xFEEF04BDu;
const size_t kFixedInfoSize = 52;

// The first entry of directory d leads to a subdirectory: that one.
bool firstSubdirectory(const pe::ResourceTree& tree, const pe::Directory& d, pe::Directory* out) {
  if (d.count == 0) return false;
  const uint32_t target = tree.entryTarget(d, 0);
  return (target & pe::kHighBit) != 0 && tree.directory(target & ~pe::kHighBit, out);
}

}  // namespace

bool imageProductVersion(const uint8_t* data, size_t size, uint16_t parts[4]) {
  pe::PeImage image(data, size);
  pe::ResourceTree tree(image);
  if (image.open() != pe::HeaderFault::None || tree.open() != pe::TreeFault::None) return false;
  // The RT_VERSION type among the root's numbered entries, its first
  // resource, then that one's first language, as the loader's search for the
  // version block finds them.
  pe::Directory root, versions, languages;
  uint32_t rva = 0, length = 0;
  uint64_t offset = 0;
  if (!tree.directory(0, &root) || !tree.subdirectory(root, pe::kRtVersion, &versions) ||
      !firstSubdirectory(tree, versions, &languages) || languages.count == 0 ||
      !tree.data(tree.entryTarget(languages, 0), &rva, &length) ||
      image.map(rva, length, &offset) != pe::Mapping::Inside) {
    return false;
  }
  const pe::Bytes& file = image.bytes();

  // VS_VERSIONINFO: wLength, wValueLength, wType, L"VS_VERSION_INFO", padding
  // to 32 bits, then the fixed information as its value.
  static const char kKey[] = "VS_VERSION_INFO";
  const size_t block = static_cast<size_t>(offset);
  const size_t keyAt = block + 6;
  const size_t keyBytes = sizeof(kKey) * 2;  // with its closing zero
  if (length < 6 + keyBytes) return false;
  for (size_t i = 0; i < sizeof(kKey); ++i) {
    if (file.u16(keyAt + 2 * i) != static_cast<uint8_t>(kKey[i])) return false;
  }
  const size_t valueAt = block + ((6 + keyBytes + 3) & ~size_t{3});
  if (file.u16(block + 2) < kFixedInfoSize || valueAt + kFixedInfoSize > block + length) return false;
  if (file.u32(valueAt) != kFixedInfoSignature) return false;
  const uint32_t ms = file.u32(valueAt + 16), ls = file.u32(valueAt + 20);
  parts[0] = static_cast<uint16_t>(ms >> 16);
  parts[1] = static_cast<uint16_t>(ms & 0xFFFF);
  parts[2] = static_cast<uint16_t>(ls >> 16);
  parts[3] = static_cast<uint16_t>(ls & 0xFFFF);
  return true;
}

}  // namespace win

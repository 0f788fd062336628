// The resources of a Windows program read straight from its file's bytes, on
// any host: the PE32 or PE32+ headers, the section table and the resource
// directory tree. Pure and bounds-checked: every offset, count and size comes
// from the file and is treated as hostile; nothing is read outside the bytes
// given, and a walk that looks at each entry once stays linear in the file's
// length whatever its tables claim.
//
//   PeImage       the headers and sections; maps addresses to file offsets
//   ResourceTree  the directory tree inside the resource section
//   readRcdataResources  the language-neutral RT_RCDATA resources by id, with
//                        every defect named (the packer and its verifier)
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace pe {

constexpr uint32_t kRtRcdata = 10;
constexpr uint32_t kRtVersion = 16;
constexpr uint32_t kHighBit = 0x80000000u;  // a string name, or a subdirectory

// Little-endian reads from a byte span; has() says what lies inside it.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(data == nullptr ? 0 : size) {}
  bool has(uint64_t offset, uint64_t length) const { return offset <= size_ && length <= size_ - offset; }
  // Callers check has() first.
  uint16_t u16(size_t at) const { return static_cast<uint16_t>(data_[at] | data_[at + 1] << 8); }
  uint32_t u32(size_t at) const {
    return static_cast<uint32_t>(data_[at]) | static_cast<uint32_t>(data_[at + 1]) << 8 |
           static_cast<uint32_t>(data_[at + 2]) << 16 | static_cast<uint32_t>(data_[at + 3]) << 24;
  }
  const uint8_t* at(size_t offset) const { return data_ + offset; }
  size_t size() const { return size_; }

 private:
  const uint8_t* data_;
  size_t size_;
};

struct Section {
  uint32_t address = 0;    // relative virtual address
  uint32_t extent = 0;     // bytes of it that the loader takes from the file
  uint32_t rawOffset = 0;  // where they are in the file
  uint32_t rawSize = 0;    // bytes it has in the file
  size_t header = 0;       // file offset of its section header (its name comes first)
};

// Why the headers cannot be read, in the order they are checked.
enum class HeaderFault {
  None,
  NoMz,                 // no MZ header
  PeHeaderCut,          // the file ends before the PE header
  NoPeSignature,
  OptionalHeaderCut,    // the file ends inside the optional header
  UnknownMagic,         // neither PE32 nor PE32+
  NoResourceDirectory,  // the optional header has no resource data directory
  SectionTableCut,      // the file ends inside the section table
};

// Where [rva, rva + length) lies: wholly inside one section's file data
// (Inside), inside a section but past the end of the file (PastEnd) or
// outside every section's file data.
enum class Mapping { Inside, PastEnd, Outside };

class PeImage {
 public:
  // Reads the headers of the image in [data, data + size); the bytes must
  // outlive the object.
  PeImage(const uint8_t* data, size_t size) : file_(data, size) {}
  HeaderFault open();

  const Bytes& bytes() const { return file_; }
  uint16_t magic() const { return magic_; }
  uint32_t resourceRva() const { return resourceRva_; }
  uint32_t resourceSize() const { return resourceSize_; }
  // The optional header's FileAlignment and SizeOfImage (the same offsets in
  // PE32 and PE32+; open() has seen the header that far).
  uint32_t fileAlignment() const { return file_.u32(coff_ + 20 + 36); }
  uint32_t sizeOfImage() const { return file_.u32(coff_ + 20 + 56); }
  // The COFF symbol table: file offset (0 when none) and symbol count.
  uint32_t symbolTable() const { return file_.u32(coff_ + 8); }
  uint32_t symbolCount() const { return file_.u32(coff_ + 12); }

  size_t sectionCount() const { return sectionCount_; }
  Section section(size_t i) const;
  // The first section whose loaded bytes hold rva; false when none does.
  bool sectionOf(uint32_t rva, Section* out) const;
  Mapping map(uint32_t rva, uint32_t length, uint64_t* offset) const;

 private:
  Bytes file_;
  size_t coff_ = 0;
  size_t table_ = 0;
  size_t sectionCount_ = 0;
  uint16_t magic_ = 0;
  uint32_t resourceRva_ = 0;
  uint32_t resourceSize_ = 0;
};

// One directory of the resource tree: where its entries are, how many of
// them lie inside the resource section and how many of those are named
// (they come first).
struct Directory {
  uint32_t at = 0;      // offset within the resource section
  size_t named = 0;
  size_t count = 0;
  size_t claimed = 0;   // entries its header claims
};

// Why the resource tree cannot be read.
enum class TreeFault {
  None,
  OutsideSections,  // the resource directory lies in no section
  PastEnd,          // it starts past the end of the file
  RootOutside,      // the root directory's header lies outside the section
};

// The resource directory tree, inside the window of file bytes that the
// resource section provides; every offset in it is relative to the window.
class ResourceTree {
 public:
  explicit ResourceTree(const PeImage& image) : image_(image), file_(image.bytes()) {}
  TreeFault open();

  const Section& home() const { return home_; }  // the section the tree lies in
  bool inside(uint64_t at, uint64_t length) const { return at <= window_ && length <= window_ - at; }
  // The directory at `at`; false when its header lies outside the section.
  bool directory(uint32_t at, Directory* out) const;
  uint32_t entryName(const Directory& d, size_t i) const { return file_.u32(entryAt(d, i)); }
  uint32_t entryTarget(const Directory& d, size_t i) const { return file_.u32(entryAt(d, i) + 4); }
  // The subdirectory the numbered entry `id` of d leads to (the first such
  // entry); false when there is none or it leads to data.
  bool subdirectory(const Directory& d, uint32_t id, Directory* out) const;
  // The data entry at `at`: the data's address and length. False when it
  // lies outside the section.
  bool data(uint32_t at, uint32_t* rva, uint32_t* length) const;

 private:
  size_t entryAt(const Directory& d, size_t i) const { return base_ + d.at + 16 + i * 8; }

  const PeImage& image_;
  const Bytes& file_;
  Section home_;
  size_t base_ = 0;
  size_t window_ = 0;
};

// Bytes [offset, offset + size) of the file.
struct FileRange {
  size_t offset = 0;
  size_t size = 0;
};

struct RcdataResources {
  // Language-neutral RT_RCDATA resources by integer id, each wholly inside the
  // file (resources with a name, another language or damaged data are not here).
  std::map<uint16_t, FileRange> byId;
  // One line per defect found (a section or resource past the end of the file,
  // a damaged directory entry, ...); empty for a sound file.
  std::vector<std::string> damage;
};

// Reads the RT_RCDATA resources of the image in [file, file + size). Returns
// false, with error saying why, when the file is no PE32/PE32+ image or its
// headers, section table or resource directory root cannot be read; true
// otherwise, with every lesser defect in out->damage.
bool readRcdataResources(const uint8_t* file, size_t size, RcdataResources* out, std::string* error);

}  // namespace pe

// readRcdataResources (platform/pe_resources.h): the payload's resources,
// every defect named. A file of its own so that a program that only walks the
// tree (the installer reads version resources) links none of it.
#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/pe_resources.h"

namespace pe {

namespace {

std::string n(uint64_t v) { return std::to_string(v); }

std::string hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", v);
  return text;
}

const char* headerProblem(HeaderFault fault) {
  switch (fault) {
    case HeaderFault::None: break;
    case HeaderFault::NoMz: return "is not a Windows program: no MZ header";
    case HeaderFault::PeHeaderCut: return "ends before its PE header";
    case HeaderFault::NoPeSignature: return "is not a Windows program: no PE signature";
    case HeaderFault::OptionalHeaderCut: return "ends inside its optional header";
    case HeaderFault::UnknownMagic: return "is neither PE32 nor PE32+";
    case HeaderFault::NoResourceDirectory: return "has no resource directory";
    case HeaderFault::SectionTableCut: return "ends inside its section table";
  }
  return "";
}

// The headers and the tree's root, or why the file's resources cannot be read
// at all (*error). Damage found on the way goes to *damage.
bool openResources(const PeImage& image, HeaderFault fault, ResourceTree* tree, std::vector<std::string>* damage,
                   std::string* error) {
  const size_t size = image.bytes().size();
  const std::string truncated = " (the file is " + n(size) + " bytes long: truncated?)";
  if (fault != HeaderFault::None) {
    *error = headerProblem(fault);
    if (fault == HeaderFault::UnknownMagic) *error += " (optional header magic " + hex(image.magic()) + ")";
    if (fault == HeaderFault::PeHeaderCut || fault == HeaderFault::OptionalHeaderCut ||
        fault == HeaderFault::SectionTableCut) {
      *error += truncated;
    }
    return false;
  }
  uint64_t sectionsEnd = 0;
  for (size_t i = 0; i < image.sectionCount(); ++i) {
    const Section s = image.section(i);
    if (s.rawSize != 0) sectionsEnd = std::max(sectionsEnd, uint64_t{s.rawOffset} + s.rawSize);
  }
  if (sectionsEnd > size) {
    damage->push_back("the file is " + n(size) + " bytes long, but its sections reach byte " + n(sectionsEnd) +
                      ": it is truncated");
  }
  if (image.resourceRva() == 0 || image.resourceSize() == 0) {
    *error = "has no resources";
    return false;
  }
  switch (tree->open()) {
    case TreeFault::None: return true;
    case TreeFault::OutsideSections:
      *error = "has its resource directory (" + hex(image.resourceRva()) + ") outside its sections";
      return false;
    case TreeFault::PastEnd: *error = "has its resources past the end of the file" + truncated; return false;
    case TreeFault::RootOutside:
      *error = "has a damaged resource directory: the resource directory of the file lies outside the resource section";
      return false;
  }
  return false;
}

// The directory at `at`, its entries cut to what lies inside the section
// (which is named as damage). False, and named, when its header lies outside.
bool readDirectory(const ResourceTree& tree, uint32_t at, const std::string& what, Directory* out,
                   std::vector<std::string>* damage) {
  if (!tree.directory(at, out)) {
    damage->push_back("the resource directory of " + what + " lies outside the resource section");
    return false;
  }
  if (out->count < out->claimed) {
    damage->push_back("the resource directory of " + what + " is cut off after " + n(out->count) + " of its " +
                      n(out->claimed) + " entries");
  }
  return true;
}

// One RT_RCDATA resource: entry i of the type's directory.
void readRcdataEntry(const PeImage& image, const ResourceTree& tree, const Directory& rcdata, size_t i,
                     RcdataResources* out) {
  const uint32_t id = tree.entryName(rcdata, i);
  const uint32_t target = tree.entryTarget(rcdata, i);
  if (id & kHighBit) return;  // a named entry among the numbered ones: not a payload resource
  const std::string what = "RT_RCDATA resource " + n(id);
  if (id > 0xFFFF || (target & kHighBit) == 0) {
    out->damage.push_back("the resource directory entry of " + what + " is damaged");
    return;
  }
  // Languages are sorted by id, so a neutral one (0) is the first numbered
  // entry, where the loader's search finds it: one look per resource keeps
  // the walk linear however the directories are shared.
  Directory languages;
  if (!readDirectory(tree, target & ~kHighBit, what, &languages, &out->damage)) return;
  if (languages.named >= languages.count || tree.entryName(languages, languages.named) != 0) {
    out->damage.push_back(what + " is not language neutral");
    return;
  }
  uint32_t rva = 0, length = 0;
  if (!tree.data(tree.entryTarget(languages, languages.named), &rva, &length)) {
    out->damage.push_back("the data entry of " + what + " is damaged");
    return;
  }
  uint64_t offset = 0;
  switch (image.map(rva, length, &offset)) {
    case Mapping::Inside:
      if (!out->byId.emplace(static_cast<uint16_t>(id), FileRange{static_cast<size_t>(offset), length}).second) {
        out->damage.push_back(what + " is listed twice");
      }
      break;
    case Mapping::PastEnd:
      out->damage.push_back(what + " (" + n(length) + " bytes from byte " + n(offset) +
                            ") reaches past the end of the file");
      break;
    case Mapping::Outside:
      out->damage.push_back(what + " (" + n(length) + " bytes at " + hex(rva) + ") lies outside the file's sections");
      break;
  }
}

}  // namespace

bool readRcdataResources(const uint8_t* data, size_t size, RcdataResources* out, std::string* error) {
  out->byId.clear();
  out->damage.clear();
  PeImage image(data, size);
  ResourceTree tree(image);
  if (!openResources(image, image.open(), &tree, &out->damage, error)) return false;
  Directory root, rcdata;
  readDirectory(tree, 0, "the file", &root, &out->damage);
  for (size_t i = root.named; i < root.count; ++i) {
    if (tree.entryName(root, i) != kRtRcdata) continue;
    const uint32_t target = tree.entryTarget(root, i);
    if ((target & kHighBit) == 0) {
      out->damage.push_back("the resource directory entry of RT_RCDATA is damaged");
      return true;
    }
    if (!readDirectory(tree, target & ~kHighBit, "RT_RCDATA", &rcdata, &out->damage)) return true;
    for (size_t j = rcdata.named; j < rcdata.count; ++j) readRcdataEntry(image, tree, rcdata, j, out);
    return true;
  }
  return true;  // no RT_RCDATA resources at all
}

}  // namespace pe

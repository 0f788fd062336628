#include "payload/catalogue.h"

#include <cstring>

namespace {

uint32_t readU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t readU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

CatalogueParse parseCatalogue(const uint8_t* data, size_t size, uint32_t* chunkSize, CatalogueIndex* index) {
  if (data == nullptr || size < kCatalogueHeaderSize) return CatalogueParse::Truncated;
  *chunkSize = readU32(data);
  uint32_t entryCount = readU32(data + 4);
  size_t position = kCatalogueHeaderSize;
  for (uint32_t i = 0; i < entryCount; ++i) {
    if (size - position < kCatalogueEntryFixedSize) return CatalogueParse::Truncated;
    const uint8_t* entry = data + position;
    CatalogueEntry value;
    value.chunkId = readU16(entry);
    value.offset = readU32(entry + 4);
    value.compressedSize = readU32(entry + 8);
    value.uncompressedSize = readU32(entry + 12);
    uint32_t nameLength = readU32(entry + 16);
    position += kCatalogueEntryFixedSize;
    if (size - position < nameLength) return CatalogueParse::Truncated;
    const char* name = reinterpret_cast<const char*>(data + position);
    // The name ends at its first zero byte, if it has one.
    const void* zero = std::memchr(name, 0, nameLength);
    size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - name) : nameLength;
    index->emplace(std::string(name, length), value);  // an existing name keeps its first entry
    position += nameLength;
  }
  return CatalogueParse::Ok;
}

std::string normalizePath(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '/') {
      c = '\\';
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c + 32);
    }
  }
  if (!out.empty() && out.back() == '\\') out.pop_back();
  return out;
}

bool hasPrefix(const std::string& key, const std::string& prefix) {
  return key.size() >= prefix.size() && key.compare(0, prefix.size(), prefix) == 0;
}

size_t forEachSelected(const CatalogueIndex& index, const std::string& normalisedSelector,
                       const std::function<void(const std::string&, const CatalogueEntry&)>& visit) {
  if (normalisedSelector.empty()) return 0;
  size_t count = 0;
  for (auto it = index.lower_bound(normalisedSelector); it != index.end() && hasPrefix(it->first, normalisedSelector);
       ++it) {
    visit(it->first, it->second);
    ++count;
  }
  return count;
}

std::string buildTargetPath(const std::string& folder, const std::string& normalisedSelector,
                            const std::string& key, const LeadBytes& leadBytes) {
  std::string path = folder;
  if (!lastCharIsBackslash(path, leadBytes)) path.push_back('\\');
  std::string rest = key.size() > normalisedSelector.size() ? key.substr(normalisedSelector.size()) : std::string();
  if (!rest.empty() && rest.front() == '\\') rest.erase(0, 1);
  return path + rest;
}

std::string parentPath(const std::string& path, const LeadBytes& leadBytes) {
  size_t slash = findLastBackslash(path, leadBytes);
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool forEachPiece(const CatalogueEntry& entry, uint32_t chunkSize, const std::function<bool(const StreamPiece&)>& visit) {
  if (chunkSize == 0 || entry.offset > chunkSize) return false;
  // Chunk ids stop below the catalogue's own id: a stream that would run into
  // it (or past it) is not in the payload, and its pieces are never handed out.
  if (entry.compressedSize > 0) {
    uint64_t lastChunk = uint64_t{entry.chunkId} + (uint64_t{entry.offset} + entry.compressedSize - 1) / chunkSize;
    if (lastChunk >= kCatalogueResourceId) return false;
  }
  uint32_t chunk = entry.chunkId;
  uint32_t position = entry.offset;
  uint32_t remaining = entry.compressedSize;
  while (remaining > 0) {
    uint32_t room = chunkSize - position;
    uint32_t length = remaining < room ? remaining : room;
    if (!visit(StreamPiece{chunk, position, length})) return false;
    remaining -= length;
    ++chunk;
    position = 0;
  }
  return true;
}

// The payload catalogue: its byte layout, catalogue names, selection by prefix
// and the walk of a file's compressed bytes across chunks. Pure: no <windows.h>,
// so the host build runs it under sanitizers and fuzzers.
//
// Layout (little-endian, no padding):
//   u32 chunkSize, u32 entryCount, then entryCount entries of
//   u16 chunkId, u16 reserved, u32 offset, u32 compressedSize,
//   u32 uncompressedSize, u32 nameLength, nameLength name bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/ansi_chars.h"

constexpr uint16_t kCatalogueResourceId = 65535;
constexpr size_t kCatalogueHeaderSize = 8;
constexpr size_t kCatalogueEntryFixedSize = 20;

struct CatalogueEntry {
  uint16_t chunkId = 0;  // the reserved half that follows it has no effect
  uint32_t offset = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
};

// Ordered by plain bytewise comparison (std::string compares as unsigned bytes).
using CatalogueIndex = std::map<std::string, CatalogueEntry>;

enum class CatalogueParse {
  Ok,         // every entry read
  Truncated,  // the bytes end inside the header or an entry: the catalogue is unusable
};

// Reads a catalogue from [data, data + size) into index (adding; the first of
// two equal names wins; a name is cut at its first zero byte) and sets
// chunkSize. Never reads outside the range. On Truncated, index holds the
// entries read before the cut and chunkSize is set if the header was complete.
CatalogueParse parseCatalogue(const uint8_t* data, size_t size, uint32_t* chunkSize, CatalogueIndex* index);

// The catalogue's bytes for index, the inverse of parseCatalogue: the header,
// then every entry in name order (reserved half zero). The host packer writes
// the installer's catalogue with it (catalogue_write.cpp: the installer links
// none of it).
std::vector<uint8_t> writeCatalogue(uint32_t chunkSize, const CatalogueIndex& index);

// Catalogue form of a caller's name or selector: '/' -> '\', ASCII A-Z lowered,
// one trailing backslash removed. Empty text stays empty. Byte by byte: names
// and selectors are ASCII (the packer refuses any other byte), never folders.
std::string normalizePath(const std::string& text);

// True when key starts with prefix (plain byte prefix, no separator required).
bool hasPrefix(const std::string& key, const std::string& prefix);

// The contiguous run of index keys that start with the normalised selector S.
// Calls visit(key, entry) in ascending order; returns how many were visited.
// An empty S selects nothing.
size_t forEachSelected(const CatalogueIndex& index, const std::string& normalisedSelector,
                       const std::function<void(const std::string&, const CatalogueEntry&)>& visit);

// Target path of key under folder: folder + '\' unless its last character is
// one + key minus the first S bytes, minus one leading backslash of that rest.
// The folder comes from the user or the registry and may hold double-byte
// characters of the ANSI code page, told apart with leadBytes (platform/ansi_chars.h);
// catalogue names are ASCII.
std::string buildTargetPath(const std::string& folder, const std::string& normalisedSelector,
                            const std::string& key, const LeadBytes& leadBytes);

// Text before the last backslash character ("" when there is none).
std::string parentPath(const std::string& path, const LeadBytes& leadBytes);

// One piece of a file's compressed stream inside one chunk.
struct StreamPiece {
  uint32_t chunkId;   // resource id (16 bits used)
  uint32_t position;  // first byte within the chunk
  uint32_t length;    // bytes of the stream in this chunk
};

// Walks a stream across chunks: starting at entry.chunkId / entry.offset, each
// piece is min(remaining, chunkSize - position) bytes; next chunk at position 0.
// An offset equal to chunkSize yields an empty first piece (that chunk must
// still exist). offset > chunkSize, chunkSize == 0 or a stream that would reach
// chunk id 65535 (the catalogue's) is malformed: returns false before visiting
// anything. visit returns false to stop early (returns false).
bool forEachPiece(const CatalogueEntry& entry, uint32_t chunkSize,
                  const std::function<bool(const StreamPiece&)>& visit);

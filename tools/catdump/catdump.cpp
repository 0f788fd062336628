// catdump FILE: prints the payload catalogue of a setup program or payload
// module as the installer sees it, read through the resource calls of a module
// loaded as a data file. Also checks that chunk resources 1..N are present
// (N from the largest chunk any entry needs) and fit the entries.
//
// Exit codes: 0 read, 1 usage, 2 the module cannot be loaded, 3 no catalogue
// resource, 4 the catalogue is cut short, 5 a chunk an entry needs is missing
// or shorter than the entry says.
#include <windows.h>

#include <cstdio>

#include "payload/catalogue.h"
#include "platform/handles.h"

namespace {

// The bytes of RT_RCDATA resource id, or nullptr (size 0) when it is absent.
const uint8_t* resourceBytes(HMODULE module, uint32_t id, DWORD* size) {
  *size = 0;
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id & 0xFFFF), MAKEINTRESOURCEA(10));
  if (found == nullptr) return nullptr;
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) return nullptr;
  const void* data = LockResource(loaded);
  if (data == nullptr) return nullptr;
  *size = SizeofResource(module, found);
  return static_cast<const uint8_t*>(data);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: catdump FILE.exe|FILE.dll\n");
    return 1;
  }
  win::Module module(LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (module.get() == nullptr) {
    std::fprintf(stderr, "catdump: cannot load %s (error %lu)\n", argv[1], GetLastError());
    return 2;
  }
  DWORD size = 0;
  const uint8_t* catalogue = resourceBytes(module.get(), kCatalogueResourceId, &size);
  if (catalogue == nullptr) {
    std::fprintf(stderr, "catdump: %s has no payload catalogue (error %lu)\n", argv[1], GetLastError());
    return 3;
  }
  uint32_t chunkSize = 0;
  CatalogueIndex index;
  CatalogueParse parsed = parseCatalogue(catalogue, size, &chunkSize, &index);
  std::printf("catalogue of %s: %lu bytes, chunk size %u, %u entries\n", argv[1], static_cast<unsigned long>(size),
              chunkSize, static_cast<unsigned>(index.size()));
  std::printf("%10s %10s %6s %8s  %s\n", "size", "packed", "chunk", "offset", "name");
  int status = parsed == CatalogueParse::Ok ? 0 : 4;
  uint32_t lastChunk = 0;
  for (const auto& [name, entry] : index) {
    std::printf("%10u %10u %6u %8u  %s\n", entry.uncompressedSize, entry.compressedSize, entry.chunkId, entry.offset,
                name.c_str());
    bool fits = forEachPiece(entry, chunkSize, [&](const StreamPiece& piece) {
      DWORD chunkLength = 0;
      if (resourceBytes(module.get(), piece.chunkId, &chunkLength) == nullptr ||
          piece.position + piece.length > chunkLength) {
        std::fprintf(stderr, "catdump: %s needs bytes %u..%u of chunk %u, which %s\n", name.c_str(), piece.position,
                     piece.position + piece.length, piece.chunkId,
                     chunkLength == 0 ? "is missing" : "is shorter");
        return false;
      }
      if (piece.chunkId > lastChunk) lastChunk = piece.chunkId;
      return true;
    });
    if (!fits && status == 0) status = 5;
  }
  if (status == 4) std::fprintf(stderr, "catdump: the catalogue ends inside an entry\n");
  DWORD lastLength = 0;
  if (lastChunk > 0 && resourceBytes(module.get(), lastChunk, &lastLength) != nullptr) {
    std::printf("chunks 1..%u present, the last one %lu bytes\n", lastChunk, static_cast<unsigned long>(lastLength));
  }
  return status;
}

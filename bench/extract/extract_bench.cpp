// extract_bench [payload module] [folder selector]
//
// Measures, in one process under Wine:
//   - extractFile of the payload's largest file to disk,
//   - extractFolder of a whole folder (default /fs/aircraft) to disk,
//   - the same streams inflated into memory only (read in place from the
//     resources, inflated into one chunk-sized buffer, nothing written),
// and prints MB/s of uncompressed bytes (best of several rounds) and the ratio
// of disk to memory speed, which shows what the file system costs.
#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "payload/file_extractor_impl.h"
#include "tests/support/payload_fixture.h"
#include "tests/support/test_support.h"
#include "system/uninstaller_setup_impl.h"

namespace {

const int kRounds = 5;

double now() {
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double mbPerSecond(uint64_t bytes, double seconds) { return bytes / 1e6 / seconds; }

// Content of roughly the real payload's ratio (about 7:1): mostly text-like
// blocks with some noise, as in program files and textures.
std::string shapedBytes(size_t size, uint32_t seed) {
  std::string out;
  out.reserve(size);
  uint32_t block = 0;
  while (out.size() < size) {
    const size_t piece = std::min<size_t>(4096, size - out.size());
    out += tltest::patternBytes(piece, seed * 7919 + block, block % 8 != 0);
    ++block;
  }
  return out;
}

// A payload of the real one's shape, smaller: one 4.4 MB program library and a
// model set of 600 files (textures and configuration files).
bool generatePayload(const std::string& dll, tltest::PayloadFixture* payload) {
  std::vector<tltest::FixtureFile> files;
  files.push_back({"\\tl\\tl\\tlimage.dll", shapedBytes(4468736, 1)});
  files.push_back({"\\tl\\global\\readme.txt", shapedBytes(6000, 2)});
  for (int i = 0; i < 600; ++i) {
    const std::string model = "\\fs\\aircraft\\vip\\model" + std::to_string(i / 20);
    if (i % 5 == 0) {
      files.push_back({model + "\\aircraft" + std::to_string(i) + ".cfg", shapedBytes(3000 + i, 100 + i)});
    } else {
      files.push_back({model + "\\texture\\t" + std::to_string(i) + ".bmp", shapedBytes(65590 + 17 * i, 100 + i)});
    }
  }
  std::printf("generating a payload of %zu files...\n", files.size());
  if (!payload->build(dll, files)) {
    std::printf("cannot build the payload: %s\n", payload->error().c_str());
    return false;
  }
  return true;
}

// Inflates one entry's stream from the resources into a discarded buffer.
bool inflateToMemory(FileExtractorImpl& extractor, const CatalogueEntry& entry, uint8_t* out) {
  const uint32_t chunkSize = extractor.chunkSize();
  z_stream z = {};
  if (inflateInit_(&z, "1.2.1", static_cast<int>(sizeof(z_stream))) != Z_OK) return false;
  z.next_out = out;
  z.avail_out = chunkSize;
  bool ended = false;
  bool walked = forEachPiece(entry, chunkSize, [&](const StreamPiece& piece) {
    const uint8_t* chunk = nullptr;
    uint32_t length = 0;
    if (extractor.loadPayloadResource(piece.chunkId, &chunk, &length) != ExtractResult::Ok) return false;
    if (piece.position > length || length - piece.position < piece.length) return false;
    z.next_in = const_cast<Bytef*>(chunk + piece.position);  // read in place, as the extractor does
    z.avail_in = piece.length;
    bool full = false;
    while (z.avail_in > 0 || full) {
      int rc = inflate(&z, Z_NO_FLUSH);
      if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
      if (rc != Z_OK && rc != Z_STREAM_END) return false;
      full = z.avail_out == 0;
      if (full || rc == Z_STREAM_END) {
        z.next_out = out;
        z.avail_out = chunkSize;
      }
      if (rc == Z_STREAM_END) {
        ended = true;
        break;
      }
    }
    return true;
  });
  inflateEnd(&z);
  return walked && ended;
}

struct Figures {
  double diskBest = 0;
  double memoryBest = 0;
};

void report(const char* what, uint64_t bytes, size_t files, const Figures& f) {
  std::printf("%-14s %9.3f MB in %4zu files: disk %8.1f MB/s, memory only %8.1f MB/s, disk/memory %.2f\n", what,
              bytes / 1e6, files, f.diskBest, f.memoryBest, f.diskBest / f.memoryBest);
}

// What the platform costs under Wine, apart from inflating: opening and
// checking a folder from its drive down (once per folder and run; the
// extractor holds it after), and creating a new file.
void platformCosts(const std::string& folder) {
  const int n = 300;
  CreateDirectoryA(folder.c_str(), nullptr);
  double start = now();
  for (int i = 0; i < n; ++i) FileExtractorImpl::ensureDirectory(folder);
  const double probe = (now() - start) / n;
  start = now();
  for (int i = 0; i < n; ++i) {
    const std::string path = folder + "\\f" + std::to_string(i) + ".bin";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, "x", 1, &written, nullptr);
    CloseHandle(h);
  }
  const double create = (now() - start) / n;
  std::printf("folder opened and checked from its drive %.3f ms (once per folder); per file: create+write+close %.3f ms "
              "(in a folder of %d files)\n",
              probe * 1e3, create * 1e3, n);
  tltest::removeTree(folder);
}

}  // namespace

int main(int argc, char** argv) {
  tltest::ScopedTempDir temp;
  if (!temp.valid()) {
    std::printf("no temporary folder\n");
    return 1;
  }
  tltest::PayloadFixture generated;
  HMODULE module = nullptr;
  bool ownModule = false;
  if (argc > 1) {
    module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
      std::printf("cannot load %s (error %lu)\n", argv[1], GetLastError());
      return 1;
    }
    ownModule = true;
    std::printf("payload: %s\n", argv[1]);
  } else {
    if (!generatePayload(temp.file("payload.dll"), &generated)) return 1;
    module = generated.module();
    std::printf("payload: generated, %u chunks\n", generated.chunkCount());
  }
  const std::string selector = argc > 2 ? argv[2] : "/fs/aircraft";

  FileExtractorImpl extractor;
  if (!extractor.init(module, nullptr)) {
    std::printf("the module has no usable payload catalogue\n");
    return 1;
  }
  const auto& index = extractor.index();
  auto largest = index.end();
  for (auto it = index.begin(); it != index.end(); ++it) {
    if (largest == index.end() || it->second.uncompressedSize > largest->second.uncompressedSize) largest = it;
  }
  if (largest == index.end()) {
    std::printf("empty catalogue\n");
    return 1;
  }
  std::vector<CatalogueEntry> folderEntries;
  forEachSelected(index, normalizePath(selector),
                  [&](const std::string&, const CatalogueEntry& e) { folderEntries.push_back(e); });
  uint32_t folderCompressed = 0, folderBytes = 0;
  if (extractor.getFolderSizes(selector.c_str(), &folderCompressed, &folderBytes) != ExtractResult::Ok) {
    std::printf("nothing under %s\n", selector.c_str());
    return 1;
  }

  std::unique_ptr<uint8_t[]> out(new uint8_t[extractor.chunkSize()]);
  Figures file, folder;
  const std::string target = temp.file("largest\\" + largest->first.substr(largest->first.rfind('\\') + 1));
  for (int round = 0; round < kRounds; ++round) {
    double start = now();
    if (extractor.extractFile(largest->first.c_str(), target.c_str(), false) != ExtractResult::Ok) {
      std::printf("extractFile failed (error %lu)\n", extractor.lastError());
      return 1;
    }
    file.diskBest = std::max(file.diskBest, mbPerSecond(largest->second.uncompressedSize, now() - start));

    start = now();
    if (!inflateToMemory(extractor, largest->second, out.get())) return 1;
    file.memoryBest = std::max(file.memoryBest, mbPerSecond(largest->second.uncompressedSize, now() - start));

    const std::string folderTarget = temp.file("folder" + std::to_string(round));
    UninstallerSetupImpl* record = new UninstallerSetupImpl("", "", "", "");  // discarded by commit, unwritten
    start = now();
    ExtractResult result = extractor.extractFolder(selector.c_str(), folderTarget.c_str(), record, "d", nullptr);
    const double folderSeconds = now() - start;
    record->commit();
    if (result != ExtractResult::Ok) {
      std::printf("extractFolder failed with %d\n", toInt(result));
      return 1;
    }
    folder.diskBest = std::max(folder.diskBest, mbPerSecond(folderBytes, folderSeconds));
    tltest::removeTree(folderTarget);  // every round writes new files, as an installation does

    start = now();
    for (const CatalogueEntry& e : folderEntries) {
      if (!inflateToMemory(extractor, e, out.get())) return 1;
    }
    folder.memoryBest = std::max(folder.memoryBest, mbPerSecond(folderBytes, now() - start));
  }
  std::printf("best of %d rounds, chunk size %u\n", kRounds, extractor.chunkSize());
  report("largest file", largest->second.uncompressedSize, 1, file);
  report(selector.c_str(), folderBytes, folderEntries.size(), folder);
  std::printf("compression: largest file %.1f:1, folder %.1f:1\n",
              static_cast<double>(largest->second.uncompressedSize) / largest->second.compressedSize,
              static_cast<double>(folderBytes) / folderCompressed);
  platformCosts(temp.file("costs"));
  if (ownModule) FreeLibrary(module);
  return 0;
}

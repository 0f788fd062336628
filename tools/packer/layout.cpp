// Laying the streams out into the payload stream and the catalogue, and the
// payload's properties as text.
#include <algorithm>
#include <cstdio>

#include "tools/packer/packer.h"

namespace tlpack {

namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;

}  // namespace

uint32_t Payload::chunkCount() const {
  return static_cast<uint32_t>((stream.size() + chunkSize - 1) / chunkSize);
}

bool layOut(const std::vector<TreeFile>& files, std::vector<Stream>* streams, uint32_t chunkSize, Payload* payload,
            std::string* error) {
  payload->chunkSize = chunkSize;
  payload->stream.clear();
  payload->catalogue.clear();
  std::vector<size_t> order(files.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    int ra = rootRank(files[a].name), rb = rootRank(files[b].name);
    return ra != rb ? ra < rb : files[a].name < files[b].name;
  });
  std::vector<uint64_t> start(files.size());
  for (size_t i : order) {
    Stream& s = (*streams)[i];
    if (s.bytes.size() >= kFourGiB) {
      *error = files[i].path + ": its compressed stream is 4 GiB or longer";
      return false;
    }
    start[i] = payload->stream.size();
    payload->stream.insert(payload->stream.end(), s.bytes.begin(), s.bytes.end());
    if (payload->chunkCount() > kMaxChunks) {
      *error = files[i].path + ": the payload grows past " + std::to_string(kMaxChunks) + " chunks of " +
               std::to_string(chunkSize) + " bytes; use a larger --chunk-size";
      return false;
    }
  }
  CatalogueIndex index;
  for (size_t i = 0; i < files.size(); ++i) {
    CatalogueEntry& e = index[files[i].name];
    e.chunkId = static_cast<uint16_t>(start[i] / chunkSize + 1);
    e.offset = static_cast<uint32_t>(start[i] % chunkSize);
    e.compressedSize = static_cast<uint32_t>((*streams)[i].bytes.size());
    e.uncompressedSize = static_cast<uint32_t>(files[i].size);
    std::vector<uint8_t>().swap((*streams)[i].bytes);
  }
  payload->catalogue = writeCatalogue(chunkSize, index);
  return true;
}

std::string describe(const Payload& payload) {
  uint32_t chunkSize = 0;
  CatalogueIndex index;
  parseCatalogue(payload.catalogue.data(), payload.catalogue.size(), &chunkSize, &index);
  uint64_t sumCompressed = 0, sumUncompressed = 0, crossing = 0, mostChunks = 0;
  const std::string* largestFile = nullptr;
  const std::string* largestStream = nullptr;
  const CatalogueEntry* largestFileEntry = nullptr;
  const CatalogueEntry* largestStreamEntry = nullptr;
  for (const auto& [name, e] : index) {
    sumCompressed += e.compressedSize;
    sumUncompressed += e.uncompressedSize;
    uint64_t first = (uint64_t{e.chunkId} - 1) * chunkSize + e.offset;
    uint64_t touched = e.compressedSize == 0 ? 0 : (first + e.compressedSize - 1) / chunkSize - first / chunkSize + 1;
    if (touched > 1) ++crossing;
    mostChunks = std::max(mostChunks, touched);
    if (!largestFileEntry || e.uncompressedSize > largestFileEntry->uncompressedSize) {
      largestFile = &name;
      largestFileEntry = &e;
    }
    if (!largestStreamEntry || e.compressedSize > largestStreamEntry->compressedSize) {
      largestStream = &name;
      largestStreamEntry = &e;
    }
  }
  uint32_t chunks = payload.chunkCount();
  uint64_t lastChunk = chunks == 0 ? 0 : payload.stream.size() - uint64_t{chunks - 1} * chunkSize;
  size_t nameBytes = payload.catalogue.size() - kCatalogueHeaderSize - index.size() * kCatalogueEntryFixedSize;
  std::string out;
  auto row = [&out](const char* property, const std::string& value) {
    char label[64];
    std::snprintf(label, sizeof label, "%-48s", property);
    out += label + value + "\n";
  };
  auto n = [](uint64_t v) { return std::to_string(v); };
  row("catalogue resource length", n(payload.catalogue.size()) + " bytes (8 header bytes, " + n(index.size()) +
                                       " x 20 fixed entry bytes, " + n(nameBytes) + " name bytes)");
  row("entries", n(index.size()));
  row("payload chunks", chunks == 1 ? "1: a single one of " + n(lastChunk) + " bytes"
                                    : n(chunks) + ": " + n(chunks - 1) + " of " + n(chunkSize) +
                                          " bytes and a last one of " + n(lastChunk) + " bytes");
  row("payload stream length",
      n(payload.stream.size()) + " bytes" +
          (sumCompressed == payload.stream.size() ? ", equal to the sum of all compressedSize values"
                                                  : ", NOT equal to the sum of all compressedSize values"));
  row("sum of all uncompressedSize values", n(sumUncompressed) + " bytes");
  if (largestFileEntry) {
    row("largest file", "\"" + *largestFile + "\", " + n(largestFileEntry->uncompressedSize) + " bytes (" +
                            n(largestFileEntry->compressedSize) + " compressed)");
    row("largest stream", "\"" + *largestStream + "\", " + n(largestStreamEntry->compressedSize) +
                              " bytes compressed");
  }
  row("streams that cross at least one chunk boundary", n(crossing));
  row("most chunks touched by one stream", n(mostChunks));
  return out;
}

}  // namespace tlpack

#include "tools/packer/verify.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

#include "payload/catalogue.h"
#include "tools/packer/packer.h"
#include "platform/pe_resources.h"

namespace tlpack {

namespace {

constexpr size_t kBlock = 256 * 1024;

std::string n(uint64_t v) { return std::to_string(v); }

using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

FilePtr openForReading(const std::string& path) { return FilePtr(std::fopen(path.c_str(), "rb"), &std::fclose); }

bool readWholeFile(const std::string& path, std::vector<uint8_t>* out, std::string* error) {
  FilePtr file = openForReading(path);
  if (!file) {
    *error = "cannot read: " + std::string(std::strerror(errno));
    return false;
  }
  out->clear();
  size_t got = 0;
  do {
    size_t used = out->size();
    out->resize(used + kBlock);
    got = std::fread(out->data() + used, 1, kBlock, file.get());
    out->resize(used + got);
  } while (got == kBlock);
  if (std::ferror(file.get())) {
    *error = "read failed: " + std::string(std::strerror(errno));
    return false;
  }
  return true;
}

// inflateEnd on every way out.
class Inflater {
 public:
  Inflater() = default;
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() {
    if (ready_) inflateEnd(&stream_);
  }
  bool init() {
    ready_ = inflateInit(&stream_) == Z_OK;
    return ready_;
  }
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_{};
  bool ready_ = false;
};

// The payload chunks inside the installer's bytes, and what the streams
// asked of them.
struct Chunks {
  const std::vector<uint8_t>& image;
  const std::map<uint16_t, pe::FileRange>& byId;
  std::map<uint32_t, size_t> missing;  // chunk id -> streams that need it
  std::vector<bool> used = std::vector<bool>(kCatalogueResourceId);
};

using Sink = std::function<void(const uint8_t*, size_t)>;

// Inflates entry's stream from the chunks, handing every block of output to
// sink and counting it in *produced. Returns "" when the stream is one
// complete zlib stream of exactly compressedSize bytes, else why it is not.
// Every chunk the stream needs is marked used (or missing) either way.
std::string inflateStream(const CatalogueEntry& entry, uint32_t chunkSize, Chunks* chunks, std::vector<uint8_t>* out,
                          const Sink& sink, uint64_t* produced) {
  Inflater inflater;
  if (!inflater.init()) return "the inflater could not start (out of memory?)";
  z_stream* z = inflater.get();
  std::string why;
  bool ended = false;
  uint64_t consumed = 0;
  auto fail = [&why](const std::string& text) {
    if (why.empty()) why = text;
  };
  bool walked = forEachPiece(entry, chunkSize, [&](const StreamPiece& piece) {
    chunks->used[piece.chunkId] = true;
    auto chunk = chunks->byId.find(static_cast<uint16_t>(piece.chunkId));
    if (chunk == chunks->byId.end()) {
      ++chunks->missing[piece.chunkId];
      fail("chunk " + n(piece.chunkId) + " is missing");
      return true;
    }
    if (uint64_t{piece.position} + piece.length > chunk->second.size) {
      fail("it runs past the end of chunk " + n(piece.chunkId) + " (" + n(chunk->second.size) + " bytes)");
      return true;
    }
    if (!why.empty() || piece.length == 0) return true;
    if (ended) {
      fail("the zlib stream ends " + n(entry.compressedSize - consumed) + " bytes before its catalogue length");
      return true;
    }
    z->next_in = const_cast<Bytef*>(chunks->image.data() + chunk->second.offset + piece.position);
    z->avail_in = piece.length;
    int status;
    do {
      z->next_out = out->data();
      z->avail_out = static_cast<uInt>(out->size());
      status = inflate(z, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
        fail(std::string("zlib: ") + (z->msg != nullptr ? z->msg : "error " + std::to_string(status)));
        return true;
      }
      size_t got = out->size() - z->avail_out;
      *produced += got;
      if (got != 0) sink(out->data(), got);
      if (status == Z_STREAM_END) {
        ended = true;
        break;
      }
      if (status == Z_BUF_ERROR && got == 0) break;  // wants the next piece
    } while (z->avail_in > 0 || z->avail_out == 0);
    consumed += piece.length - z->avail_in;
    if (ended && z->avail_in > 0) {
      fail("the zlib stream ends " + n(entry.compressedSize - consumed) + " bytes before its catalogue length");
    }
    return true;
  });
  if (!walked) {
    return "its catalogue position (chunk " + n(entry.chunkId) + ", offset " + n(entry.offset) + ", " +
           n(entry.compressedSize) + " bytes) lies outside the payload";
  }
  if (why.empty() && !ended) why = "the zlib stream does not end within its " + n(entry.compressedSize) + " bytes";
  return why;
}

// Compares what the installer would write with a file of the tree, block by
// block; remembers the first byte that differs.
class Comparer {
 public:
  explicit Comparer(FILE* file) : file_(file) {}
  void feed(const uint8_t* data, size_t length) {
    if (!differs_) {
      buffer_.resize(length);
      size_t got = std::fread(buffer_.data(), 1, length, file_);
      size_t same = 0;
      if (got == length && std::memcmp(buffer_.data(), data, length) == 0) {
        same = length;
      } else {
        while (same < got && buffer_[same] == data[same]) ++same;
        differs_ = true;
        firstDifference_ = position_ + same;
      }
    }
    position_ += length;
  }
  bool differs() const { return differs_; }
  uint64_t firstDifference() const { return firstDifference_; }

 private:
  FILE* file_;
  std::vector<uint8_t> buffer_;
  uint64_t position_ = 0;
  bool differs_ = false;
  uint64_t firstDifference_ = 0;
};

// The first two streams, in payload order, that share bytes, and how many
// streams begin inside an earlier one. Streams that share nothing cost at
// most one pass over the chunks however many entries claim them.
struct Overlap {
  size_t count = 0;
  std::string first, second;
};

Overlap findOverlaps(const CatalogueIndex& index, uint32_t chunkSize) {
  struct Span {
    uint64_t start, length;
    const std::string* name;
  };
  std::vector<Span> spans;
  for (const auto& [name, e] : index) {
    spans.push_back({uint64_t{e.chunkId} * chunkSize + e.offset, e.compressedSize, &name});
  }
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
    return a.start != b.start ? a.start < b.start : a.length < b.length;
  });
  Overlap o;
  uint64_t end = 0;
  const std::string* reaching = nullptr;  // the stream that reaches furthest so far
  for (const Span& s : spans) {
    if (s.length != 0 && reaching != nullptr && s.start < end && o.count++ == 0) {
      o.first = *reaching;
      o.second = *s.name;
    }
    if (s.start + s.length > end) {
      end = s.start + s.length;
      reaching = s.name;
    }
  }
  return o;
}

uint32_t readU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// What the verifier found so far, and how it names it.
struct Findings {
  Verification& v;
  void damaged(const std::string& what) {
    v.installerDamaged = true;
    v.problems.push_back("damaged installer: " + what);
  }
  void differs(const std::string& what) { v.problems.push_back(what); }
};

// The installer's payload as its file holds it.
struct InstalledPayload {
  std::vector<uint8_t> image;
  pe::RcdataResources resources;  // the chunks (the catalogue taken out)
  uint32_t chunkSize = 0;
  CatalogueIndex index;
};

// Reads the installer's resources and catalogue; false when nothing can be
// compared (each reason named as damage).
bool readPayload(const std::string& installer, InstalledPayload* p, Findings* found) {
  std::string error;
  if (!readWholeFile(installer, &p->image, &error) ||
      !pe::readRcdataResources(p->image.data(), p->image.size(), &p->resources, &error)) {
    found->damaged(error);
    return false;
  }
  for (const std::string& d : p->resources.damage) found->damaged(d);
  auto catalogueResource = p->resources.byId.find(kCatalogueResourceId);
  if (catalogueResource == p->resources.byId.end()) {
    found->damaged("holds no payload catalogue (RT_RCDATA resource " + n(kCatalogueResourceId) +
                   ", language neutral)");
    return false;
  }
  const pe::FileRange catalogue = catalogueResource->second;
  p->resources.byId.erase(catalogueResource);  // what is left should be chunks
  const uint8_t* catalogueBytes = p->image.data() + catalogue.offset;
  const uint32_t claimed = catalogue.size >= kCatalogueHeaderSize ? readU32(catalogueBytes + 4) : 0;
  if (parseCatalogue(catalogueBytes, catalogue.size, &p->chunkSize, &p->index) != CatalogueParse::Ok) {
    found->damaged("the catalogue (" + n(catalogue.size) + " bytes) ends inside its header or an entry; " +
                   n(p->index.size()) + " of " + n(claimed) + " entries read");
    return false;
  }
  if (p->index.size() != claimed) {
    found->damaged("the catalogue has " + n(claimed) + " entries but only " + n(p->index.size()) +
                   " different names");
  }
  if (p->chunkSize == 0 || p->chunkSize > kMaxChunkSize) {
    found->damaged("the catalogue's chunk size is " + n(p->chunkSize) + " bytes (1 to " + n(kMaxChunkSize) +
                   " expected)");
    return false;
  }
  Overlap overlap = findOverlaps(p->index, p->chunkSize);
  if (overlap.count != 0) {
    found->damaged("the streams of " + overlap.first + " and " + overlap.second + " share bytes" +
                   (overlap.count > 1 ? " (and " + n(overlap.count - 1) + " more streams begin inside others)" : ""));
    return false;
  }
  return true;
}

// One catalogue entry inflated and compared with its file of the tree (file
// is null when the tree has none of this name).
void compareEntry(const std::string& name, const CatalogueEntry& e, const TreeFile* file, uint32_t chunkSize,
                  Chunks* chunks, std::vector<uint8_t>* out, Findings* found) {
  FilePtr disk(nullptr, &std::fclose);
  if (file != nullptr) {
    disk = openForReading(file->path);
    if (!disk) {
      found->v.treeUnusable = true;
      found->v.problems.push_back(file->path + ": cannot read: " + std::strerror(errno));
    }
  }
  Comparer comparer(disk.get());
  Sink sink = [](const uint8_t*, size_t) {};
  if (disk) sink = [&comparer](const uint8_t* data, size_t length) { comparer.feed(data, length); };
  uint64_t produced = 0;
  std::string why = inflateStream(e, chunkSize, chunks, out, sink, &produced);
  if (file == nullptr) found->differs("not in the tree: " + name);
  if (!why.empty()) {
    found->differs("damaged stream: " + name + ": " + why);
  } else if (produced != e.uncompressedSize) {
    found->differs("damaged stream: " + name + ": it inflates to " + n(produced) + " bytes, the catalogue says " +
                   n(e.uncompressedSize));
  } else if (disk && produced != file->size) {
    found->differs("different size: " + name + ": " + n(produced) + " bytes in the installer, " + n(file->size) +
                   " in the tree (" + file->path + ")");
  } else if (disk && comparer.differs()) {
    found->differs("different bytes: " + name + ": first difference at byte " + n(comparer.firstDifference()) +
                   " (" + file->path + ")");
  }
  if (disk) found->v.bytes += produced;
}

// The chunks: none missing, each but the last exactly chunkSize bytes, none
// that no stream uses.
void checkChunks(const InstalledPayload& p, const Chunks& chunks, Findings* found) {
  for (const auto& [id, streams] : chunks.missing) {
    found->differs("missing chunk: " + n(id) + ", needed by " + n(streams) + (streams == 1 ? " file" : " files"));
  }
  uint32_t last = 0;
  for (const auto& [id, range] : p.resources.byId) {
    if (chunks.used[id]) last = id;
  }
  for (const auto& [id, range] : p.resources.byId) {
    if (!chunks.used[id]) {
      found->differs("unused resource: RT_RCDATA " + n(id) + " (" + n(range.size) + " bytes) holds no file's stream");
    } else if (id < last && range.size != p.chunkSize) {
      found->differs("damaged chunk: chunk " + n(id) + " is " + n(range.size) +
                     " bytes; every chunk but the last holds " + n(p.chunkSize));
    } else if (id == last && (range.size == 0 || range.size > p.chunkSize)) {
      found->differs("damaged chunk: the last chunk, " + n(id) + ", is " + n(range.size) + " bytes; it holds 1 to " +
                     n(p.chunkSize));
    }
  }
}

}  // namespace

Verification verifyInstaller(const std::string& installer, const std::string& tree) {
  Verification v;
  std::vector<TreeFile> files;
  if (!scanTree(tree, &files, &v.problems)) {
    v.treeUnusable = true;
    return v;
  }
  Findings found{v};
  InstalledPayload p;
  if (!readPayload(installer, &p, &found)) return v;
  v.files = p.index.size();

  // File by file, in name order: the tree's names as the packer makes them
  // against the catalogue's.
  Chunks chunks{p.image, p.resources.byId, {}};
  std::vector<uint8_t> out(kBlock);
  auto file = files.begin();
  for (const auto& [name, entry] : p.index) {
    for (; file != files.end() && file->name < name; ++file) {
      found.differs("missing from the installer: " + file->name + " (" + file->path + ")");
    }
    const bool inTree = file != files.end() && file->name == name;
    compareEntry(name, entry, inTree ? &*file : nullptr, p.chunkSize, &chunks, &out, &found);
    if (inTree) ++file;
  }
  for (; file != files.end(); ++file) {
    found.differs("missing from the installer: " + file->name + " (" + file->path + ")");
  }
  checkChunks(p, chunks, &found);
  return v;
}

int verifyExitCode(const Verification& v) {
  if (v.treeUnusable) return kExitBadTree;
  if (v.installerDamaged) return kExitBadInstaller;
  return v.problems.empty() ? kExitOk : kExitDiffers;
}

}  // namespace tlpack

#include "tools/packer/packer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

namespace tlpack {

const char* const kRoots[5] = {"\\tl\\fs", "\\tl\\global", "\\tl\\tl", "\\fs\\modules", "\\fs\\aircraft"};

namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// deflateEnd on every way out.
class Deflater {
 public:
  Deflater() = default;
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
  ~Deflater() {
    if (ready_) deflateEnd(&stream_);
  }
  bool init() {
    ready_ = deflateInit(&stream_, 9) == Z_OK;
    return ready_;
  }
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_{};
  bool ready_ = false;
};

std::string errnoText(int code) { return std::strerror(code); }

void putU16(std::vector<uint8_t>* out, uint16_t v) {
  out->push_back(static_cast<uint8_t>(v));
  out->push_back(static_cast<uint8_t>(v >> 8));
}

void putU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool isDeviceName(const std::string& component) {
  // Windows maps these to devices whatever the extension: "nul.txt" is NUL.
  std::string stem = component.substr(0, component.find('.'));
  static const std::set<std::string> kDevices = {"aux", "con", "nul", "prn"};
  if (kDevices.count(stem)) return true;
  if (stem.size() == 4 && (stem.compare(0, 3, "com") == 0 || stem.compare(0, 3, "lpt") == 0) && stem[3] >= '1' &&
      stem[3] <= '9') {
    return true;
  }
  return false;
}

class TreeScanner {
 public:
  TreeScanner(std::vector<TreeFile>* files, std::vector<std::string>* problems) : files_(files), problems_(problems) {}

  // dir: on-disk folder; name: its catalogue form ("" for the tree itself).
  void walk(const std::string& dir, const std::string& name) {
    DirPtr handle(opendir(dir.c_str()));
    if (!handle) {
      problem(dir, "cannot read this folder: " + errnoText(errno));
      return;
    }
    std::vector<std::string> children;
    errno = 0;
    while (dirent* entry = readdir(handle.get())) {
      std::string child = entry->d_name;
      if (child != "." && child != "..") children.push_back(child);
    }
    if (errno != 0) problem(dir, "cannot list this folder: " + errnoText(errno));
    handle.reset();
    std::sort(children.begin(), children.end());  // a stable walk gives stable messages
    for (const std::string& child : children) visit(dir + "/" + child, name, child);
  }

 private:
  void visit(const std::string& path, const std::string& parentName, const std::string& child) {
    std::string component = lowerAscii(child);
    std::string why = componentProblem(component);
    if (!why.empty()) {
      problem(path, why);
      return;
    }
    std::string name = parentName + "\\" + component;
    struct stat link {};
    if (lstat(path.c_str(), &link) != 0) {
      problem(path, "cannot read: " + errnoText(errno));
      return;
    }
    struct stat info = link;
    if (S_ISLNK(link.st_mode) && stat(path.c_str(), &info) != 0) {
      problem(path, "cannot read (the link leads nowhere): " + errnoText(errno));
      return;
    }
    if (S_ISDIR(info.st_mode)) {
      if (S_ISLNK(link.st_mode)) {
        // Followed links to folders can loop; a vendor tree has no need of them.
        problem(path, "is a link to a folder, which the packer does not follow");
        return;
      }
      walk(path, name);
      return;
    }
    if (!S_ISREG(info.st_mode)) {
      problem(path, "is not a regular file");
      return;
    }
    if (rootRank(name) < 0) {
      problem(path, "lies outside the payload roots tl/tl, tl/global, tl/fs, fs/modules and fs/aircraft");
      return;
    }
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size >= kFourGiB) {
      problem(path, "is " + std::to_string(size) + " bytes long; the catalogue holds sizes below 4 GiB");
      return;
    }
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      problem(path, "cannot read: " + errnoText(errno));
      return;
    }
    close(fd);
    files_->push_back(TreeFile{path, name, size});
  }

  void problem(const std::string& path, const std::string& why) { problems_->push_back(path + ": " + why); }

  std::vector<TreeFile>* files_;
  std::vector<std::string>* problems_;
};

std::string trimTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return text;
}

std::string componentProblem(const std::string& component) {
  if (component.empty() || component == "." || component == "..") return "is not a usable name";
  for (unsigned char c : component) {
    if (c < 0x20 || c > 0x7E) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", c);
      return std::string("holds the byte ") + hex +
             ", which the catalogue cannot carry (only printable ASCII means the same on every Windows)";
    }
    if (std::strchr("\\/:*?\"<>|", c) != nullptr) {
      return std::string("holds the character '") + static_cast<char>(c) + "', which Windows file names cannot hold";
    }
  }
  if (component.back() == '.' || component.back() == ' ') {
    return "ends with a dot or a space, which Windows removes from file names";
  }
  if (isDeviceName(component)) return "is a device name on Windows (aux, con, nul, prn, com1-9, lpt1-9)";
  return "";
}

int rootRank(const std::string& name) {
  for (int i = 0; i < 5; ++i) {
    std::string root = std::string(kRoots[i]) + "\\";
    if (name.size() > root.size() && name.compare(0, root.size(), root) == 0) return i;
  }
  return -1;
}

bool scanTree(const std::string& treeArg, std::vector<TreeFile>* files, std::vector<std::string>* problems) {
  files->clear();
  problems->clear();
  std::string tree = trimTrailingSlashes(treeArg);
  struct stat info {};
  if (tree.empty() || stat(tree.c_str(), &info) != 0) {
    problems->push_back(treeArg + ": no such folder");
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    problems->push_back(treeArg + ": not a folder");
    return false;
  }
  TreeScanner scanner(files, problems);
  scanner.walk(tree, "");
  if (files->empty() && problems->empty()) {
    problems->push_back(treeArg + ": holds no files");
    return false;
  }
  std::sort(files->begin(), files->end(), [](const TreeFile& a, const TreeFile& b) { return a.name < b.name; });
  for (size_t i = 1; i < files->size(); ++i) {
    if ((*files)[i].name == (*files)[i - 1].name) {
      problems->push_back((*files)[i - 1].path + " and " + (*files)[i].path + ": both become " + (*files)[i].name +
                          " in the catalogue, whose names ignore case");
    }
  }
  int perRoot[5] = {};
  for (const TreeFile& f : *files) ++perRoot[rootRank(f.name)];
  for (int i = 0; i < 5; ++i) {
    if (perRoot[i] == 0) {
      std::string folder = tree + std::string(kRoots[i]);
      std::replace(folder.begin() + static_cast<long>(tree.size()), folder.end(), '\\', '/');
      problems->push_back(folder + ": holds no file; the installer needs at least one under this root");
    }
  }
  return problems->empty();
}

bool compressFile(const std::string& path, uint64_t expectedSize, Stream* out, std::string* error) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    *error = path + ": cannot read: " + errnoText(errno);
    return false;
  }
  Deflater deflater;
  if (!deflater.init()) {
    *error = path + ": the compressor could not start (out of memory?)";
    return false;
  }
  z_stream* z = deflater.get();
  std::vector<uint8_t> input(256 * 1024);
  std::vector<uint8_t> output(256 * 1024);
  out->bytes.clear();
  out->inputSize = 0;
  int flush = Z_NO_FLUSH;
  while (flush != Z_FINISH) {
    size_t got = std::fread(input.data(), 1, input.size(), file.get());
    if (got < input.size()) {
      if (std::ferror(file.get())) {
        *error = path + ": read failed: " + errnoText(errno);
        return false;
      }
      flush = Z_FINISH;
    }
    out->inputSize += got;
    z->next_in = input.data();
    z->avail_in = static_cast<uInt>(got);
    int status;
    do {
      z->next_out = output.data();
      z->avail_out = static_cast<uInt>(output.size());
      status = deflate(z, flush);
      if (status == Z_STREAM_ERROR) {
        *error = path + ": the compressor failed";
        return false;
      }
      out->bytes.insert(out->bytes.end(), output.data(), output.data() + (output.size() - z->avail_out));
    } while (z->avail_out == 0);
    if (flush == Z_FINISH && status != Z_STREAM_END) {
      *error = path + ": the compressor did not finish the stream";
      return false;
    }
  }
  if (out->inputSize != expectedSize) {
    *error = path + ": changed while it was being packed (" + std::to_string(expectedSize) + " bytes, then " +
             std::to_string(out->inputSize) + ")";
    return false;
  }
  return true;
}

bool compressAll(const std::vector<TreeFile>& files, unsigned jobs, std::vector<Stream>* streams,
                 std::string* error) {
  streams->assign(files.size(), Stream{});
  std::vector<std::string> errors(files.size());
  std::vector<char> ok(files.size(), 0);
  std::atomic<size_t> next{0};
  // Each worker takes the next file in turn; results land in their file's slot,
  // so the output never depends on which thread was faster.
  auto work = [&]() {
    for (size_t i = next++; i < files.size(); i = next++) {
      ok[i] = compressFile(files[i].path, files[i].size, &(*streams)[i], &errors[i]) ? 1 : 0;
    }
  };
  if (jobs < 1) jobs = 1;
  if (jobs > files.size()) jobs = static_cast<unsigned>(files.size());
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < jobs; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  for (size_t i = 0; i < files.size(); ++i) {
    if (!ok[i]) {
      *error = errors[i];
      return false;
    }
  }
  return true;
}

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
  std::vector<uint8_t>& cat = payload->catalogue;
  putU32(&cat, chunkSize);
  putU32(&cat, static_cast<uint32_t>(files.size()));
  for (size_t i = 0; i < files.size(); ++i) {  // files are sorted by name: the catalogue is too
    putU16(&cat, static_cast<uint16_t>(start[i] / chunkSize + 1));
    putU16(&cat, 0);  // reserved
    putU32(&cat, static_cast<uint32_t>(start[i] % chunkSize));
    putU32(&cat, static_cast<uint32_t>((*streams)[i].bytes.size()));
    putU32(&cat, static_cast<uint32_t>(files[i].size));
    putU32(&cat, static_cast<uint32_t>(files[i].name.size()));
    cat.insert(cat.end(), files[i].name.begin(), files[i].name.end());
    std::vector<uint8_t>().swap((*streams)[i].bytes);
  }
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

std::string chunkFileName(uint32_t k) {
  char name[32];
  std::snprintf(name, sizeof name, "chunk%04u.bin", k);
  return name;
}

namespace {

bool isPackerOutput(const std::string& name) {
  if (name == "catalogue.bin" || name == "payload.rc" || name == "properties.txt") return true;
  return name.size() > 9 && name.compare(0, 5, "chunk") == 0 && name.compare(name.size() - 4, 4, ".bin") == 0 &&
         std::all_of(name.begin() + 5, name.end() - 4, [](char c) { return c >= '0' && c <= '9'; });
}

bool writeFile(const std::string& path, const uint8_t* data, size_t size, std::string* error) {
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) {
    *error = path + ": cannot create: " + errnoText(errno);
    return false;
  }
  if (size != 0 && std::fwrite(data, 1, size, file.get()) != size) {
    *error = path + ": write failed: " + errnoText(errno);
    return false;
  }
  FILE* raw = file.release();
  if (std::fclose(raw) != 0) {
    *error = path + ": write failed: " + errnoText(errno);
    return false;
  }
  return true;
}

bool writeText(const std::string& path, const std::string& text, std::string* error) {
  return writeFile(path, reinterpret_cast<const uint8_t*>(text.data()), text.size(), error);
}

// Removes a folder this run created, whatever it holds, on every way out.
class ScratchDir {
 public:
  explicit ScratchDir(std::string path) : path_(std::move(path)) {}
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    if (!path_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(path_, ignored);
    }
  }
  const std::string& path() const { return path_; }
  void release() { path_.clear(); }

 private:
  std::string path_;
};

std::string makeSibling(const std::string& outdir, const char* tag, std::string* error) {
  std::string pattern = outdir + tag + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    *error = outdir + ": cannot create a folder beside it: " + errnoText(errno);
    return "";
  }
  // mkdtemp makes the folder private; the output should read like any other
  // folder the user makes.
  mode_t mask = umask(0);
  umask(mask);
  chmod(buffer.data(), 0777 & ~mask);
  return buffer.data();
}

}  // namespace

bool writePayload(const Payload& payload, const std::string& outdirArg, std::string* error) {
  namespace fs = std::filesystem;
  std::string outdir = trimTrailingSlashes(outdirArg);
  std::error_code ec;
  bool replacing = false;
  fs::file_status status = fs::symlink_status(outdir, ec);
  if (fs::exists(status)) {
    if (!fs::is_directory(status)) {
      *error = outdir + ": exists and is not a folder; refusing to replace it";
      return false;
    }
    for (const auto& entry : fs::directory_iterator(outdir, ec)) {
      std::string name = entry.path().filename().string();
      if (!entry.is_regular_file() || !isPackerOutput(name)) {
        *error = outdir + ": holds " + name + ", which tlpack did not write; refusing to replace it";
        return false;
      }
    }
    if (ec) {
      *error = outdir + ": cannot list: " + ec.message();
      return false;
    }
    replacing = true;
  }
  fs::path parent = fs::path(outdir).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);

  std::string tmpPath = makeSibling(outdir, ".tlpack-new-", error);
  if (tmpPath.empty()) return false;
  ScratchDir tmp(tmpPath);

  if (!writeFile(tmp.path() + "/catalogue.bin", payload.catalogue.data(), payload.catalogue.size(), error)) {
    return false;
  }
  std::string rc =
      "// The installer's payload, written by tlpack: the catalogue (65535) and the\n"
      "// chunks (1.." +
      std::to_string(payload.chunkCount()) +
      "), RT_RCDATA, language neutral. The resource compiler finds the\n"
      "// files through its include path (this folder).\n"
      "65535 RCDATA LANGUAGE 0, 0 \"catalogue.bin\"\n";
  for (uint32_t k = 1; k <= payload.chunkCount(); ++k) {
    uint64_t first = uint64_t{k - 1} * payload.chunkSize;
    size_t length = static_cast<size_t>(std::min<uint64_t>(payload.chunkSize, payload.stream.size() - first));
    if (!writeFile(tmp.path() + "/" + chunkFileName(k), payload.stream.data() + first, length, error)) return false;
    rc += std::to_string(k) + " RCDATA LANGUAGE 0, 0 \"" + chunkFileName(k) + "\"\n";
  }
  if (!writeText(tmp.path() + "/payload.rc", rc, error)) return false;
  if (!writeText(tmp.path() + "/properties.txt", describe(payload), error)) return false;

  if (!replacing) {
    if (rename(tmp.path().c_str(), outdir.c_str()) != 0) {
      *error = outdir + ": cannot create: " + errnoText(errno);
      return false;
    }
    tmp.release();
    return true;
  }
  // Move the old output aside first, so that a failure leaves it in place.
  std::string oldPath = makeSibling(outdir, ".tlpack-old-", error);
  if (oldPath.empty()) return false;
  ScratchDir old(oldPath);
  if (rename(outdir.c_str(), old.path().c_str()) != 0) {
    *error = outdir + ": cannot move the previous output aside: " + errnoText(errno);
    return false;
  }
  if (rename(tmp.path().c_str(), outdir.c_str()) != 0) {
    int code = errno;
    *error = outdir + ": cannot replace the previous output: " + errnoText(code);
    if (rename(old.path().c_str(), outdir.c_str()) != 0) {
      *error += "; the previous output is now " + old.path();
      old.release();
    }
    return false;
  }
  tmp.release();
  return true;
}

}  // namespace tlpack

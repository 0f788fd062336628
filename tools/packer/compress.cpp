// Compressing the tree's files: one zlib stream each, on a pool of threads.
#include <zlib.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "tools/packer/packer.h"
#include "tools/packer/posix_files.h"

namespace tlpack {

namespace {

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

}  // namespace

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

}  // namespace tlpack

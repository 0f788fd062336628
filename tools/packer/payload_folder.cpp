// Writing the payload folder: catalogue.bin, the chunks, payload.rc and
// properties.txt made in a fresh folder beside the output and renamed over it.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "tools/packer/packer.h"
#include "tools/packer/posix_files.h"

namespace tlpack {

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

// Whether outdir may be replaced (*replacing: it exists): it must be a folder
// that holds nothing but files the packer writes.
bool checkReplaceable(const std::string& outdir, bool* replacing, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  *replacing = false;
  fs::file_status status = fs::symlink_status(outdir, ec);
  if (!fs::exists(status)) return true;
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
  *replacing = true;
  return true;
}

// The payload's files in folder.
bool writeContents(const Payload& payload, const std::string& folder, std::string* error) {
  if (!writeFile(folder + "/catalogue.bin", payload.catalogue.data(), payload.catalogue.size(), error)) {
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
    if (!writeFile(folder + "/" + chunkFileName(k), payload.stream.data() + first, length, error)) return false;
    rc += std::to_string(k) + " RCDATA LANGUAGE 0, 0 \"" + chunkFileName(k) + "\"\n";
  }
  return writeText(folder + "/payload.rc", rc, error) &&
         writeText(folder + "/properties.txt", describe(payload), error);
}

// Puts the finished folder tmp in place of the previous output, which is
// moved aside first, so that a failure leaves it in place.
bool replaceOutput(ScratchDir* tmp, const std::string& outdir, std::string* error) {
  std::string oldPath = makeSibling(outdir, ".tlpack-old-", error);
  if (oldPath.empty()) return false;
  ScratchDir old(oldPath);
  if (rename(outdir.c_str(), old.path().c_str()) != 0) {
    *error = outdir + ": cannot move the previous output aside: " + errnoText(errno);
    return false;
  }
  if (rename(tmp->path().c_str(), outdir.c_str()) != 0) {
    int code = errno;
    *error = outdir + ": cannot replace the previous output: " + errnoText(code);
    if (rename(old.path().c_str(), outdir.c_str()) != 0) {
      *error += "; the previous output is now " + old.path();
      old.release();
    }
    return false;
  }
  tmp->release();
  return true;
}

}  // namespace

bool writePayload(const Payload& payload, const std::string& outdirArg, std::string* error) {
  std::string outdir = trimTrailingSlashes(outdirArg);
  bool replacing = false;
  if (!checkReplaceable(outdir, &replacing, error)) return false;
  std::filesystem::path parent = std::filesystem::path(outdir).parent_path();
  std::error_code ec;
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);

  std::string tmpPath = makeSibling(outdir, ".tlpack-new-", error);
  if (tmpPath.empty()) return false;
  ScratchDir tmp(tmpPath);
  if (!writeContents(payload, tmp.path(), error)) return false;
  if (replacing) return replaceOutput(&tmp, outdir, error);
  if (rename(tmp.path().c_str(), outdir.c_str()) != 0) {
    *error = outdir + ": cannot create: " + errnoText(errno);
    return false;
  }
  tmp.release();
  return true;
}

}  // namespace tlpack

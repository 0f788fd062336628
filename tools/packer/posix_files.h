// What the packer's POSIX file code shares: FILE and DIR closed on every way
// out, errno as text, a path's trailing slashes removed.
#pragma once

#include <dirent.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace tlpack {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

inline std::string errnoText(int code) { return std::strerror(code); }

inline std::string trimTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace tlpack

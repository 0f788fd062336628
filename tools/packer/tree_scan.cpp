// Reading a product tree into catalogue names: what a name may hold, which
// root it lies under, every problem named with its file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "tools/packer/packer.h"
#include "tools/packer/posix_files.h"

namespace tlpack {

const char* const kRoots[5] = {"\\tl\\fs", "\\tl\\global", "\\tl\\tl", "\\fs\\modules", "\\fs\\aircraft"};

namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;

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

}  // namespace tlpack

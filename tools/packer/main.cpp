// tlpack [--chunk-size N] [--jobs N] [--quiet] TREE OUTDIR
// tlpack --verify [--quiet] SETUP.EXE TREE
//
// Turns a product tree into the installer's payload: OUTDIR/catalogue.bin,
// OUTDIR/chunk0001.bin ..., OUTDIR/payload.rc (the resource script that
// declares them) and OUTDIR/properties.txt (what it prints). Exit codes: 0 done,
// 1 the tree cannot be packed (every problem is listed, naming its file),
// 2 bad command line, 3 the output could not be written. Nothing is left in
// OUTDIR's place on failure.
//
// --verify reads the payload back out of a built setup program and compares
// it with TREE, listing every difference. Exit codes: 0 identical, 1 the tree
// cannot be packed, 2 bad command line, 4 installer and tree differ, 5 the
// installer is unreadable, truncated or damaged.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tools/packer/packer.h"
#include "tools/packer/verify.h"

namespace {

int usage(const char* why) {
  std::fprintf(stderr,
               "tlpack: %s\nusage: tlpack [--chunk-size N] [--jobs N] [--quiet] TREE OUTDIR\n"
               "       tlpack --verify [--quiet] SETUP.EXE TREE\n",
               why);
  return tlpack::kExitUsage;
}

// Whole decimal number in [low, high]; false for anything else.
bool parseNumber(const char* text, unsigned long low, unsigned long high, unsigned long* value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

int verify(const std::string& installer, const std::string& tree, bool quiet) {
  tlpack::Verification v = tlpack::verifyInstaller(installer, tree);
  int code = tlpack::verifyExitCode(v);
  if (code == tlpack::kExitBadTree) {
    for (const std::string& p : v.problems) std::fprintf(stderr, "tlpack: %s\n", p.c_str());
    std::fprintf(stderr, "tlpack: %zu problem(s) in the tree; nothing compared\n", v.problems.size());
    return code;
  }
  for (const std::string& p : v.problems) std::printf("%s\n", p.c_str());
  if (code == tlpack::kExitOk) {
    if (!quiet) {
      std::printf("%s: identical to %s: %zu files, %llu bytes\n", installer.c_str(), tree.c_str(), v.files,
                  static_cast<unsigned long long>(v.bytes));
    }
  } else if (code == tlpack::kExitDiffers) {
    std::printf("%s: %zu difference(s) from %s\n", installer.c_str(), v.problems.size(), tree.c_str());
  } else {
    std::printf("%s: damaged or unreadable; %zu problem(s)\n", installer.c_str(), v.problems.size());
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned long chunkSize = tlpack::kDefaultChunkSize;
  unsigned long jobs = std::thread::hardware_concurrency();
  if (jobs == 0) jobs = 2;
  bool quiet = false;
  bool verifying = false;
  bool packingOption = false;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--verify") {
      verifying = true;
    } else if (arg == "--chunk-size") {
      packingOption = true;
      if (!parseNumber(i + 1 < argc ? argv[++i] : nullptr, 1, tlpack::kMaxChunkSize, &chunkSize)) {
        return usage("--chunk-size takes a number of bytes from 1 to 16777216");
      }
    } else if (arg == "--jobs") {
      packingOption = true;
      if (!parseNumber(i + 1 < argc ? argv[++i] : nullptr, 1, 256, &jobs)) {
        return usage("--jobs takes a number from 1 to 256");
      }
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage(("unknown option " + arg).c_str());
    } else {
      paths.push_back(arg);
    }
  }
  if (verifying) {
    if (packingOption) return usage("--verify takes no --chunk-size or --jobs");
    if (paths.size() != 2) return usage("--verify expects a SETUP.EXE and a TREE");
    return verify(paths[0], paths[1], quiet);
  }
  if (paths.size() != 2) return usage("expects a TREE and an OUTDIR");

  std::vector<tlpack::TreeFile> files;
  std::vector<std::string> problems;
  if (!tlpack::scanTree(paths[0], &files, &problems)) {
    for (const std::string& p : problems) std::fprintf(stderr, "tlpack: %s\n", p.c_str());
    std::fprintf(stderr, "tlpack: %zu problem(s); nothing written\n", problems.size());
    return tlpack::kExitBadTree;
  }
  std::vector<tlpack::Stream> streams;
  std::string error;
  if (!tlpack::compressAll(files, static_cast<unsigned>(jobs), &streams, &error)) {
    std::fprintf(stderr, "tlpack: %s\ntlpack: nothing written\n", error.c_str());
    return tlpack::kExitBadTree;
  }
  tlpack::Payload payload;
  if (!tlpack::layOut(files, &streams, static_cast<uint32_t>(chunkSize), &payload, &error)) {
    std::fprintf(stderr, "tlpack: %s\ntlpack: nothing written\n", error.c_str());
    return tlpack::kExitBadTree;
  }
  if (!tlpack::writePayload(payload, paths[1], &error)) {
    std::fprintf(stderr, "tlpack: %s\n", error.c_str());
    return tlpack::kExitOutput;
  }
  if (!quiet) std::printf("%s -> %s\n%s", paths[0].c_str(), paths[1].c_str(), tlpack::describe(payload).c_str());
  return tlpack::kExitOk;
}

// tlpack's building blocks: reading a product tree into catalogue names,
// compressing every file on a pool of threads, laying the streams out into
// chunks and writing the payload folder. Host-only (POSIX, zlib).
//
// Catalogue names carry single bytes that reach the ANSI file functions of
// whatever Windows the installer runs on unchanged, so the packer accepts only
// bytes that mean the same everywhere: printable ASCII 0x20..0x7E without
// \ / : * ? " < > |. Upper-case letters are lowered (the catalogue is lower
// case). A component may not end with a dot or a space (Windows strips them)
// and may not be a device name (aux, con, nul, prn, com1-9, lpt1-9, also with
// an extension such as "nul.txt").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/catalogue.h"

namespace tlpack {

constexpr uint32_t kDefaultChunkSize = 65536;
constexpr uint32_t kMaxChunkSize = 16u << 20;  // the installer allocates two buffers of this size
// The chunk ids 1..N must stay below the catalogue's id 65535.
constexpr uint32_t kMaxChunks = kCatalogueResourceId - 1;

// Exit codes of the tlpack command.
enum ExitCode : int {
  kExitOk = 0,
  kExitBadTree = 1,    // the tree cannot be expressed as a payload
  kExitUsage = 2,      // bad command line
  kExitOutput = 3,     // the output folder could not be written
  kExitDiffers = 4,    // --verify: the installer and the tree differ
  kExitBadInstaller = 5,  // --verify: the installer is unreadable, truncated or damaged
};

// The payload roots in stream order: the installer extracts the product's
// files first and the aircraft last, so their streams follow that order.
extern const char* const kRoots[5];

// One file of the tree.
struct TreeFile {
  std::string path;  // on-disk path, TREE/... as given on the command line
  std::string name;  // catalogue name, e.g. "\tl\tl\readme.txt"
  uint64_t size = 0;
};

// ASCII A-Z lowered, every other byte kept.
std::string lowerAscii(std::string text);

// Why a lower-cased path component cannot be part of a catalogue name, or ""
// when it can.
std::string componentProblem(const std::string& component);

// Index into kRoots of the root a catalogue name lies under, or -1.
int rootRank(const std::string& name);

// Reads every regular file under tree into files (sorted by catalogue name).
// On false, problems holds one line per problem found (each naming the file
// or folder), and files is unspecified.
bool scanTree(const std::string& tree, std::vector<TreeFile>* files, std::vector<std::string>* problems);

// One file's zlib stream (level 9, one complete stream).
struct Stream {
  std::vector<uint8_t> bytes;
  uint64_t inputSize = 0;
};

// Compresses path into out. Fails (with a message naming the file) when it
// cannot be read or its length differs from expectedSize (changed meanwhile).
bool compressFile(const std::string& path, uint64_t expectedSize, Stream* out, std::string* error);

// Compresses all files on `jobs` threads; streams[i] belongs to files[i]
// whatever thread made it. On false, error names the first file (in files'
// order) that failed.
bool compressAll(const std::vector<TreeFile>& files, unsigned jobs, std::vector<Stream>* streams,
                 std::string* error);

// A laid-out payload: the catalogue resource and the payload stream that the
// chunks cut into pieces.
struct Payload {
  uint32_t chunkSize = kDefaultChunkSize;
  std::vector<uint8_t> catalogue;
  std::vector<uint8_t> stream;
  uint32_t chunkCount() const;
};

// Lays the streams out (by root in kRoots order, then by name) and writes the
// catalogue sorted by name. Consumes streams. Fails when a size does not fit
// the catalogue's 32-bit fields or the chunks would run into id 65535.
bool layOut(const std::vector<TreeFile>& files, std::vector<Stream>* streams, uint32_t chunkSize, Payload* payload,
            std::string* error);

// The payload's properties as text: catalogue length, entries, chunks,
// stream length, size sums, largest file and stream, boundary crossings.
std::string describe(const Payload& payload);

// Name of chunk file k (1-based) in the output folder.
std::string chunkFileName(uint32_t k);

// Writes catalogue.bin, the chunk files, payload.rc and properties.txt into a
// fresh folder beside outdir and renames it to outdir. An existing outdir is
// replaced only when it holds nothing but files of these names; otherwise it
// is left untouched and the call fails. On failure nothing is left behind.
bool writePayload(const Payload& payload, const std::string& outdir, std::string* error);

}  // namespace tlpack

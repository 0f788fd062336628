// tlpack as its users run it: trees on disk in, the payload folder out, read
// back with the installer's own catalogue reader and zlib. Bad trees must fail
// with the offending file named and nothing left behind. tlpack --verify on
// setup programs made from that output, sound and spoilt.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "payload/catalogue.h"
#include "tests/packer/pe_writer.h"
#include "tools/packer/packer.h"
#include "platform/pe_resources.h"
#include "tools/packer/verify.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/tlpack-test-XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "";
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) {
      // A test may have made a file unreadable; the clean-up still goes.
      std::system(("chmod -R u+rwx '" + path_ + "' 2>/dev/null").c_str());
      fs::remove_all(path_, ignored);
    }
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::string noise(size_t length, uint32_t seed) {
  std::string out(length, '\0');
  for (char& c : out) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 23);
  }
  return out;
}

// A tree with a file under every root, incompressible files that cross small
// chunks, an empty file and upper case on disk.
void makeTree(const std::string& tree) {
  writeFile(tree + "/tl/tl/towerlink_fs.exe", noise(5000, 1));
  writeFile(tree + "/tl/tl/Sound/Contact.WAV", noise(700, 2));
  writeFile(tree + "/tl/tl/empty.dat", "");
  writeFile(tree + "/tl/global/readme.txt", std::string(3000, 'r'));
  writeFile(tree + "/tl/fs/tlmod10.dll", noise(300, 3));
  writeFile(tree + "/fs/modules/fsuipc.dll", noise(1200, 4));
  writeFile(tree + "/fs/aircraft/towerlink/c172/aircraft.cfg", "[fltsim.0]\ntitle=C172\n");
  writeFile(tree + "/fs/aircraft/vip/a320/model/a320.mdl", noise(2500, 5));
  writeFile(tree + "/fs/aircraft/vip/a 320 spare/notes.txt", "spaces are allowed inside names\n");
}

struct PackerRun {
  int exitCode = -1;
  std::string output;  // stdout and stderr
};

std::string quote(const std::string& arg) {
  std::string out = "'";
  for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

PackerRun runPacker(const std::vector<std::string>& args) {
  std::string command = quote(TLPACK_PATH);
  for (const std::string& a : args) command += " " + quote(a);
  command += " 2>&1";
  PackerRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
  int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::map<std::string, std::vector<uint8_t>> folderContents(const std::string& dir) {
  std::map<std::string, std::vector<uint8_t>> out;
  for (const auto& entry : fs::directory_iterator(dir)) out[entry.path().filename().string()] = readFile(entry.path());
  return out;
}

// Names in the parent folder that the packer's scratch folders would have.
std::vector<std::string> leftovers(const std::string& parent) {
  std::vector<std::string> out;
  for (const auto& entry : fs::directory_iterator(parent)) {
    std::string name = entry.path().filename().string();
    if (name.find(".tlpack-") != std::string::npos) out.push_back(name);
  }
  return out;
}

std::string diskPathOf(const std::string& tree, const std::string& name) {
  // The test tree's only upper-case names.
  std::string rel = name;
  for (char& c : rel) c = c == '\\' ? '/' : c;
  if (rel == "/tl/tl/sound/contact.wav") rel = "/tl/tl/Sound/Contact.WAV";
  return tree + rel;
}

class PackedLayout : public ::testing::TestWithParam<uint32_t> {};

TEST_P(PackedLayout, ReadsBackAsTheInstallerReadsIt) {
  const uint32_t chunkSize = GetParam();
  TempDir work;
  const std::string tree = work.path() + "/tree", out = work.path() + "/out";
  makeTree(tree);
  PackerRun run = runPacker({"--chunk-size", std::to_string(chunkSize), "--jobs", "2", tree, out});
  ASSERT_EQ(run.exitCode, 0) << run.output;

  std::vector<uint8_t> catalogue = readFile(out + "/catalogue.bin");
  uint32_t readChunkSize = 0;
  CatalogueIndex index;
  ASSERT_EQ(parseCatalogue(catalogue.data(), catalogue.size(), &readChunkSize, &index), CatalogueParse::Ok);
  EXPECT_EQ(readChunkSize, chunkSize);
  ASSERT_EQ(index.size(), 9u);

  // The catalogue bytes themselves: names sorted bytewise, in catalogue form, reserved 0.
  std::vector<std::string> names;
  size_t pos = kCatalogueHeaderSize;
  for (size_t i = 0; i < index.size(); ++i) {
    EXPECT_EQ(catalogue[pos + 2] | catalogue[pos + 3], 0) << "reserved of entry " << i;
    uint32_t length = catalogue[pos + 16] | catalogue[pos + 17] << 8 | catalogue[pos + 18] << 16 |
                      static_cast<uint32_t>(catalogue[pos + 19]) << 24;
    names.emplace_back(reinterpret_cast<const char*>(&catalogue[pos + 20]), length);
    pos += 20 + length;
  }
  EXPECT_EQ(pos, catalogue.size());
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
  for (const std::string& n : names) {
    EXPECT_EQ(n, normalizePath(n)) << n;
    EXPECT_EQ(n.front(), '\\') << n;
  }
  EXPECT_EQ(index.count("\\tl\\tl\\sound\\contact.wav"), 1u);

  // Chunks: consecutive files, all full but the last, which is not empty.
  std::vector<uint8_t> stream;
  uint32_t chunks = 0;
  while (fs::exists(out + "/" + tlpack::chunkFileName(chunks + 1))) {
    std::vector<uint8_t> chunk = readFile(out + "/" + tlpack::chunkFileName(++chunks));
    stream.insert(stream.end(), chunk.begin(), chunk.end());
    if (fs::exists(out + "/" + tlpack::chunkFileName(chunks + 1))) {
      EXPECT_EQ(chunk.size(), chunkSize) << "chunk " << chunks;
    } else {
      EXPECT_GE(chunk.size(), 1u);
      EXPECT_LE(chunk.size(), chunkSize);
    }
  }
  ASSERT_GT(chunks, 0u);
  EXPECT_EQ(folderContents(out).size(), chunks + 3u);  // catalogue, payload.rc, properties.txt
  struct stat outInfo {};
  ASSERT_EQ(stat(out.c_str(), &outInfo), 0);
  EXPECT_NE(outInfo.st_mode & S_IROTH, 0u) << "the payload folder is as readable as any other";

  // Streams: laid end to end from byte 0, by root in extraction order, then by name.
  struct Placed {
    uint64_t start;
    std::string name;
    CatalogueEntry entry;
  };
  std::vector<Placed> placed;
  for (const auto& [name, e] : index) {
    placed.push_back({uint64_t{e.chunkId - 1u} * chunkSize + e.offset, name, e});
    EXPECT_LT(e.offset, chunkSize) << name;
  }
  std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) { return a.start < b.start; });
  uint64_t expectedStart = 0;
  for (size_t i = 0; i < placed.size(); ++i) {
    SCOPED_TRACE(placed[i].name);
    EXPECT_EQ(placed[i].start, expectedStart);
    expectedStart += placed[i].entry.compressedSize;
    if (i > 0) {
      int before = tlpack::rootRank(placed[i - 1].name), now = tlpack::rootRank(placed[i].name);
      EXPECT_TRUE(before < now || (before == now && placed[i - 1].name < placed[i].name));
    }
  }
  EXPECT_EQ(expectedStart, stream.size());
  EXPECT_EQ(tlpack::rootRank(placed.front().name), 0);  // \tl\fs first

  // Every stream: level 9 header, ends exactly at compressedSize, inflates to the file.
  for (const Placed& p : placed) {
    SCOPED_TRACE(p.name);
    const uint8_t* s = stream.data() + p.start;
    EXPECT_EQ(s[0], 0x78);
    EXPECT_EQ(s[1], 0xDA);
    std::vector<uint8_t> original = readFile(diskPathOf(tree, p.name));
    EXPECT_EQ(p.entry.uncompressedSize, original.size());
    std::vector<uint8_t> inflated(original.size() + 16);
    uLongf inflatedSize = inflated.size();
    uLong consumed = p.entry.compressedSize;
    ASSERT_EQ(uncompress2(inflated.data(), &inflatedSize, s, &consumed), Z_OK);
    EXPECT_EQ(consumed, p.entry.compressedSize) << "stream length differs from compressedSize";
    inflated.resize(inflatedSize);
    EXPECT_EQ(inflated, original);
  }

  // The resource script declares exactly these files.
  std::ifstream rc(out + "/payload.rc");
  std::string text((std::istreambuf_iterator<char>(rc)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("65535 RCDATA LANGUAGE 0, 0 \"catalogue.bin\"\n"), std::string::npos);
  for (uint32_t k = 1; k <= chunks; ++k) {
    std::string line = std::to_string(k) + " RCDATA LANGUAGE 0, 0 \"" + tlpack::chunkFileName(k) + "\"\n";
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(text.find(std::to_string(chunks + 1) + " RCDATA"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(ChunkSizes, PackedLayout, ::testing::Values(256u, 1000u, 65536u),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                           return "chunk" + std::to_string(info.param);
                         });

TEST(PackerOutput, SameTreeGivesTheSameBytesWhateverTheThreads) {
  TempDir work;
  const std::string tree = work.path() + "/tree";
  makeTree(tree);
  ASSERT_EQ(runPacker({"--quiet", "--jobs", "2", "--chunk-size", "512", tree, work.path() + "/a"}).exitCode, 0);
  ASSERT_EQ(runPacker({"--quiet", "--jobs", "2", "--chunk-size", "512", tree, work.path() + "/b"}).exitCode, 0);
  ASSERT_EQ(runPacker({"--quiet", "--jobs", "1", "--chunk-size", "512", tree, work.path() + "/c"}).exitCode, 0);
  auto a = folderContents(work.path() + "/a");
  EXPECT_EQ(a, folderContents(work.path() + "/b"));
  EXPECT_EQ(a, folderContents(work.path() + "/c"));
}

TEST(PackerOutput, PrintsThePayloadProperties) {
  TempDir work;
  const std::string tree = work.path() + "/tree", out = work.path() + "/out";
  makeTree(tree);
  PackerRun run = runPacker({"--chunk-size", "1000", tree, out});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  std::vector<uint8_t> saved = readFile(out + "/properties.txt");
  std::string properties(saved.begin(), saved.end());
  EXPECT_NE(run.output.find(properties), std::string::npos) << run.output;

  uint64_t streamLength = 0;
  uint32_t chunks = 0;
  while (fs::exists(out + "/" + tlpack::chunkFileName(chunks + 1))) {
    streamLength += fs::file_size(out + "/" + tlpack::chunkFileName(++chunks));
  }
  const std::vector<std::string> expected = {
      "entries                                         9\n",
      "payload stream length                           " + std::to_string(streamLength) +
          " bytes, equal to the sum of all compressedSize values\n",
      "payload chunks                                  " + std::to_string(chunks) + ": " +
          std::to_string(chunks - 1) + " of 1000 bytes",
      "largest file                                    \"\\tl\\tl\\towerlink_fs.exe\", 5000 bytes",
      "catalogue resource length                       " + std::to_string(fs::file_size(out + "/catalogue.bin")) +
          " bytes (8 header bytes, 9 x 20 fixed entry bytes",
  };
  for (const std::string& row : expected) EXPECT_NE(properties.find(row), std::string::npos) << row << properties;
}

TEST(PackerOutput, ReplacesItsOwnEarlierOutputButNothingElse) {
  TempDir work;
  const std::string tree = work.path() + "/tree", out = work.path() + "/out";
  makeTree(tree);
  ASSERT_EQ(runPacker({"--quiet", "--chunk-size", "256", tree, out}).exitCode, 0);
  ASSERT_EQ(runPacker({"--quiet", tree, out}).exitCode, 0);
  EXPECT_FALSE(fs::exists(out + "/" + tlpack::chunkFileName(2)));  // the 256-byte chunks are gone
  EXPECT_TRUE(leftovers(work.path()).empty());

  writeFile(out + "/notes.txt", "mine");
  PackerRun run = runPacker({"--quiet", tree, out});
  EXPECT_EQ(run.exitCode, tlpack::kExitOutput);
  EXPECT_NE(run.output.find("notes.txt"), std::string::npos) << run.output;
  EXPECT_TRUE(fs::exists(out + "/notes.txt"));
  EXPECT_TRUE(fs::exists(out + "/catalogue.bin"));
  EXPECT_TRUE(leftovers(work.path()).empty());
}

struct BadTree {
  const char* what;
  std::function<void(const std::string& tree)> spoil;
  const char* named;  // what the message must name (relative to the tree, "" for the tree itself)
};

TEST(PackerRefuses, TreesItCannotExpress) {
  const std::vector<BadTree> cases = {
      {"two names equal ignoring case", [](const std::string& t) { writeFile(t + "/tl/global/README.txt", "x"); },
       "/tl/global/README.txt"},
      {"device name", [](const std::string& t) { writeFile(t + "/tl/tl/con", "x"); }, "/tl/tl/con"},
      {"device name with extension", [](const std::string& t) { writeFile(t + "/tl/global/NUL.txt", "x"); },
       "/tl/global/NUL.txt"},
      {"com port", [](const std::string& t) { writeFile(t + "/fs/modules/com7.dll", "x"); }, "/fs/modules/com7.dll"},
      {"printer port folder", [](const std::string& t) { writeFile(t + "/fs/aircraft/lpt1/a.cfg", "x"); },
       "/fs/aircraft/lpt1"},
      {"trailing dot", [](const std::string& t) { writeFile(t + "/tl/tl/file.", "x"); }, "/tl/tl/file."},
      {"trailing space", [](const std::string& t) { writeFile(t + "/tl/tl/file ", "x"); }, "/tl/tl/file "},
      {"star", [](const std::string& t) { writeFile(t + "/tl/tl/a*b.txt", "x"); }, "/tl/tl/a*b.txt"},
      {"colon", [](const std::string& t) { writeFile(t + "/tl/tl/a:b.txt", "x"); }, "/tl/tl/a:b.txt"},
      {"question mark", [](const std::string& t) { writeFile(t + "/tl/tl/a?.txt", "x"); }, "/tl/tl/a?.txt"},
      {"pipe", [](const std::string& t) { writeFile(t + "/tl/tl/a|b", "x"); }, "/tl/tl/a|b"},
      {"backslash in a Unix name", [](const std::string& t) { writeFile(t + "/tl/tl/a\\b", "x"); }, "/tl/tl/a\\b"},
      {"byte above 127", [](const std::string& t) { writeFile(t + "/tl/tl/caf\xC3\xA9.txt", "x"); },
       "/tl/tl/caf\xC3\xA9.txt"},
      {"control byte", [](const std::string& t) { writeFile(t + "/tl/tl/a\tb", "x"); }, "/tl/tl/a\tb"},
      {"file of 4 GiB",
       [](const std::string& t) {
         writeFile(t + "/tl/tl/huge.bin", "");
         ASSERT_EQ(truncate((t + "/tl/tl/huge.bin").c_str(), int64_t{1} << 32), 0);
       },
       "/tl/tl/huge.bin"},
      {"link that leads nowhere",
       [](const std::string& t) { ASSERT_EQ(symlink("/nonexistent/file", (t + "/tl/tl/gone.dll").c_str()), 0); },
       "/tl/tl/gone.dll"},
      {"link to a folder", [](const std::string& t) { ASSERT_EQ(symlink(t.c_str(), (t + "/tl/tl/loop").c_str()), 0); },
       "/tl/tl/loop"},
      {"not a regular file", [](const std::string& t) { ASSERT_EQ(mkfifo((t + "/tl/tl/pipe").c_str(), 0600), 0); },
       "/tl/tl/pipe"},
      {"no file under a root", [](const std::string& t) { fs::remove_all(t + "/fs/modules"); }, "/fs/modules"},
      {"root left with an empty folder",
       [](const std::string& t) {
         fs::remove_all(t + "/tl/global");
         fs::create_directories(t + "/tl/global/empty");
       },
       "/tl/global"},
      {"file beside the roots", [](const std::string& t) { writeFile(t + "/tl/notes.txt", "x"); }, "/tl/notes.txt"},
      {"file at the top", [](const std::string& t) { writeFile(t + "/setup.ini", "x"); }, "/setup.ini"},
      {"unknown root", [](const std::string& t) { writeFile(t + "/fs/scenery/a.bgl", "x"); }, "/fs/scenery/a.bgl"},
      {"missing tree", [](const std::string& t) { fs::remove_all(t); }, ""},
      {"empty tree",
       [](const std::string& t) {
         fs::remove_all(t);
         fs::create_directories(t + "/tl/tl");
       },
       ""},
  };
  for (const BadTree& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir work;
    const std::string tree = work.path() + "/tree", out = work.path() + "/out";
    makeTree(tree);
    c.spoil(tree);
    PackerRun run = runPacker({tree, out});
    EXPECT_EQ(run.exitCode, tlpack::kExitBadTree) << run.output;
    const std::string named = tree + c.named;
    EXPECT_TRUE(run.output.find(named + ":") != std::string::npos ||
                run.output.find(named + " and ") != std::string::npos)
        << run.output;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(leftovers(work.path()).empty());
  }
}

TEST(PackerRefuses, UnreadableFileWhenPermissionsApply) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file; the dangling link case covers a failing read";
  TempDir work;
  const std::string tree = work.path() + "/tree", out = work.path() + "/out";
  makeTree(tree);
  chmod((tree + "/tl/fs/tlmod10.dll").c_str(), 0);
  PackerRun run = runPacker({tree, out});
  EXPECT_EQ(run.exitCode, tlpack::kExitBadTree);
  EXPECT_NE(run.output.find(tree + "/tl/fs/tlmod10.dll: cannot read"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(out));
}

TEST(PackerRefuses, BadCommandLines) {
  TempDir work;
  const std::string tree = work.path() + "/tree", out = work.path() + "/out";
  makeTree(tree);
  const std::vector<std::vector<std::string>> cases = {
      {"--chunk-size", "0", tree, out}, {"--chunk-size", "abc", tree, out}, {"--chunk-size", "16777217", tree, out},
      {"--chunk-size", "-5", tree, out}, {"--jobs", "0", tree, out},         {"--frobnicate", tree, out},
      {tree},                            {tree, out, "extra"},               {"--chunk-size"},
      {"--verify", out},                 {"--verify", out, tree, "extra"},   {"--verify", "--jobs", "2", out, tree},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    PackerRun run = runPacker(args);
    EXPECT_EQ(run.exitCode, tlpack::kExitUsage) << shown << "\n" << run.output;
    EXPECT_NE(run.output.find("usage:"), std::string::npos) << shown;
    EXPECT_FALSE(fs::exists(out)) << shown;
  }
}

TEST(CatalogueNameRules, Components) {
  struct Case {
    const char* component;
    bool allowed;
  };
  const std::vector<Case> cases = {
      {"readme.txt", true},  {"model.c172", true}, {"a b", true},       {".hidden", true},   {"x-y_z.dat", true},
      {"con", false},        {"con.txt", false},   {"conx", true},      {"xcon", true},      {"com1", false},
      {"com0", true},        {"com10", true},      {"lpt9.a.b", false}, {"aux", false},      {"prn.", false},
      {"name.", false},      {"name ", false},     {"a\"b", false},     {"a<b", false},      {"a>b", false},
      {"", false},           {".", false},         {"..", false},       {"\x7F", false},     {"~$x", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tlpack::componentProblem(c.component).empty(), c.allowed)
        << "component \"" << c.component << "\": " << tlpack::componentProblem(c.component);
  }
}

TEST(CatalogueNameRules, Roots) {
  const std::vector<std::pair<std::string, int>> cases = {
      {"\\tl\\fs\\a.dll", 0},        {"\\tl\\global\\readme.txt", 1}, {"\\tl\\tl\\x", 2},
      {"\\fs\\modules\\fsuipc.dll", 3}, {"\\fs\\aircraft\\vip\\a", 4},  {"\\tl\\tl", -1},
      {"\\tl\\tlx\\a", -1},            {"\\fs\\scenery\\a", -1},       {"\\tl\\a", -1},
  };
  for (const auto& [name, rank] : cases) EXPECT_EQ(tlpack::rootRank(name), rank) << name;
  EXPECT_EQ(tlpack::lowerAscii("ReadMe.TXT\xC3\x89"), "readme.txt\xC3\x89");
}

// A setup program around the packer's output of makeTree, in chunks of 1000
// bytes, so that streams cross chunks.
struct Installer {
  std::map<uint16_t, std::vector<uint8_t>> resources;
  CatalogueIndex index;
  uint32_t chunkSize = 0;
};

// Where byte `at` of name's stream lies in the program's file.
size_t streamByteInFile(const Installer& setup, const tltest::PeImage& image, const std::string& name, uint32_t at) {
  const CatalogueEntry& e = setup.index.at(name);
  uint64_t position = uint64_t{e.chunkId - 1u} * setup.chunkSize + e.offset + at;
  return image.dataOffset.at(static_cast<uint16_t>(position / setup.chunkSize + 1)) + position % setup.chunkSize;
}

struct VerifyCase {
  const char* what;
  std::function<void(std::map<uint16_t, std::vector<uint8_t>>*)> editResources;
  std::function<void(const Installer&, tltest::PeImage*)> editFile;
  std::function<void(const std::string& tree)> editTree;
  int exitCode;
  std::vector<std::string> report;  // the lines reported, in order, each given by its start
  bool pe32plus = false;
};

const char* const kBigFile = "\\tl\\tl\\towerlink_fs.exe";

void flipInBigFile(const Installer& setup, tltest::PeImage* image) {
  image->file[streamByteInFile(setup, *image, kBigFile, setup.index.at(kBigFile).compressedSize / 2)] ^= 0x20;
}

TEST(PackerVerify, ReportsEveryDifferenceBetweenInstallerAndTree) {
  const std::vector<VerifyCase> cases = {
      {"sound PE32 installer", nullptr, nullptr, nullptr, tlpack::kExitOk, {}},
      {"sound PE32+ installer", nullptr, nullptr, nullptr, tlpack::kExitOk, {}, true},
      {"one flipped byte inside a chunk", nullptr, flipInBigFile, nullptr, tlpack::kExitDiffers,
       {"damaged stream: \\tl\\tl\\towerlink_fs.exe: zlib: "}},
      {"one changed file in the tree", nullptr, nullptr,
       [](const std::string& t) {
         writeFile(t + "/tl/global/readme.txt", std::string(1234, 'r') + "R" + std::string(1765, 'r'));
       },
       tlpack::kExitDiffers,
       {"different bytes: \\tl\\global\\readme.txt: first difference at byte 1234 (TREE/tl/global/readme.txt)"}},
      {"extra file in the tree", nullptr, nullptr, [](const std::string& t) { writeFile(t + "/tl/tl/New.txt", "x"); },
       tlpack::kExitDiffers, {"missing from the installer: \\tl\\tl\\new.txt (TREE/tl/tl/New.txt)"}},
      {"file missing from the tree", nullptr, nullptr,
       [](const std::string& t) { fs::remove(t + "/fs/aircraft/towerlink/c172/aircraft.cfg"); }, tlpack::kExitDiffers,
       {"not in the tree: \\fs\\aircraft\\towerlink\\c172\\aircraft.cfg"}},
      {"several differences at once", nullptr, flipInBigFile,
       [](const std::string& t) {
         fs::remove(t + "/fs/aircraft/towerlink/c172/aircraft.cfg");
         writeFile(t + "/tl/tl/empty.dat", "now with bytes");
         writeFile(t + "/tl/tl/new.txt", "x");
       },
       tlpack::kExitDiffers,
       {"not in the tree: \\fs\\aircraft\\towerlink\\c172\\aircraft.cfg",
        "different size: \\tl\\tl\\empty.dat: 0 bytes in the installer, 14 in the tree",
        "missing from the installer: \\tl\\tl\\new.txt", "damaged stream: \\tl\\tl\\towerlink_fs.exe"}},
      {"missing chunk", [](auto* r) { r->erase(2); }, nullptr, nullptr, tlpack::kExitDiffers,
       {"damaged stream: \\tl\\tl\\sound\\contact.wav: chunk 2 is missing",
        "damaged stream: \\tl\\tl\\towerlink_fs.exe: chunk 2 is missing", "missing chunk: 2, needed by 2 files"}},
      {"short chunk", [](auto* r) { r->at(3).pop_back(); }, nullptr, nullptr, tlpack::kExitDiffers,
       {"damaged stream: \\tl\\tl\\towerlink_fs.exe: it runs past the end of chunk 3 (999 bytes)",
        "damaged chunk: chunk 3 is 999 bytes; every chunk but the last holds 1000"}},
      {"resource that is no chunk", [](auto* r) { (*r)[40] = {1, 2, 3}; }, nullptr, nullptr, tlpack::kExitDiffers,
       {"unused resource: RT_RCDATA 40 (3 bytes)"}},
      {"no catalogue", [](auto* r) { r->erase(kCatalogueResourceId); }, nullptr, nullptr, tlpack::kExitBadInstaller,
       {"damaged installer: holds no payload catalogue"}},
      {"catalogue cut short", [](auto* r) { r->at(kCatalogueResourceId).resize(100); }, nullptr, nullptr,
       tlpack::kExitBadInstaller, {"damaged installer: the catalogue (100 bytes) ends inside"}},
      {"streams that share bytes",
       [](auto* r) {  // the first entry's stream moved onto the first stream of the payload
         std::vector<uint8_t>& c = r->at(kCatalogueResourceId);
         c[8] = 1;
         c[9] = 0;
         std::fill(c.begin() + 12, c.begin() + 16, 0);
       },
       nullptr, nullptr, tlpack::kExitBadInstaller,
       {"damaged installer: the streams of \\fs\\aircraft\\towerlink\\c172\\aircraft.cfg and \\tl\\fs\\tlmod10.dll "
        "share bytes"}},
      {"installer truncated inside a chunk", nullptr,
       [](const Installer& setup, tltest::PeImage* image) {
         image->file.resize(streamByteInFile(setup, *image, kBigFile, 1500));
       },
       nullptr, tlpack::kExitBadInstaller,
       {"damaged installer: the file is ", "damaged installer: RT_RCDATA resource 3 (1000 bytes",
        "damaged installer: RT_RCDATA resource 4 (1000 bytes", "damaged installer: RT_RCDATA resource 5",
        "damaged installer: RT_RCDATA resource 6", "damaged installer: RT_RCDATA resource 7",
        "damaged installer: RT_RCDATA resource 8", "damaged installer: RT_RCDATA resource 9",
        "damaged installer: RT_RCDATA resource 10", "damaged installer: RT_RCDATA resource 65535",
        "damaged installer: holds no payload catalogue"}},
      {"installer truncated inside its headers", nullptr,
       [](const Installer&, tltest::PeImage* image) { image->file.resize(300); }, nullptr, tlpack::kExitBadInstaller,
       {"damaged installer: ends inside its optional header (the file is 300 bytes long"}},
      {"no program at all", nullptr,
       [](const Installer&, tltest::PeImage* image) { image->file.assign(5000, 'M'); }, nullptr,
       tlpack::kExitBadInstaller, {"damaged installer: is not a Windows program"}},
      {"tree the packer refuses", nullptr, nullptr, [](const std::string& t) { writeFile(t + "/tl/tl/con", "x"); },
       tlpack::kExitBadTree, {"TREE/tl/tl/con: is a device name"}},
  };
  TempDir work;
  const std::string pristine = work.path() + "/pristine", payload = work.path() + "/payload";
  makeTree(pristine);
  ASSERT_EQ(runPacker({"--quiet", "--chunk-size", "1000", pristine, payload}).exitCode, 0);
  Installer setup;
  std::vector<uint8_t> catalogue = readFile(payload + "/catalogue.bin");
  ASSERT_EQ(parseCatalogue(catalogue.data(), catalogue.size(), &setup.chunkSize, &setup.index), CatalogueParse::Ok);
  setup.resources[kCatalogueResourceId] = catalogue;
  for (uint16_t k = 1; fs::exists(payload + "/" + tlpack::chunkFileName(k)); ++k) {
    setup.resources[k] = readFile(payload + "/" + tlpack::chunkFileName(k));
  }
  ASSERT_EQ(setup.resources.size(), 11u) << "ten chunks of 1000 bytes and the catalogue";

  for (const VerifyCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string tree = work.path() + "/tree", exe = work.path() + "/setup.exe";
    fs::remove_all(tree);
    fs::copy(pristine, tree, fs::copy_options::recursive);
    if (c.editTree) c.editTree(tree);
    auto resources = setup.resources;
    if (c.editResources) c.editResources(&resources);
    tltest::PeImage image = tltest::writePe(resources, c.pe32plus);
    if (c.editFile) c.editFile(setup, &image);
    writeFile(exe, std::string(image.file.begin(), image.file.end()));

    tlpack::Verification v = tlpack::verifyInstaller(exe, tree);
    EXPECT_EQ(tlpack::verifyExitCode(v), c.exitCode);
    std::string shown;
    for (const std::string& p : v.problems) shown += p + "\n";
    ASSERT_EQ(v.problems.size(), c.report.size()) << shown;
    for (size_t i = 0; i < c.report.size(); ++i) {
      std::string start = c.report[i];
      for (size_t at; (at = start.find("TREE")) != std::string::npos;) start.replace(at, 4, tree);
      EXPECT_EQ(v.problems[i].compare(0, start.size(), start), 0) << "line " << i << " starts with " << start << "\n"
                                                                  << shown;
    }
    if (c.exitCode == tlpack::kExitOk) {
      EXPECT_EQ(v.files, 9u);
      EXPECT_EQ(v.bytes, 5000u + 700 + 3000 + 300 + 1200 + 22 + 2500 + 32);
    }

    // The command says the same, with its exit code.
    PackerRun run = runPacker({"--verify", exe, tree});
    EXPECT_EQ(run.exitCode, c.exitCode) << run.output;
    for (const std::string& p : v.problems) EXPECT_NE(run.output.find(p + "\n"), std::string::npos) << p;
    if (c.exitCode == tlpack::kExitOk) {
      EXPECT_NE(run.output.find(exe + ": identical to " + tree + ": 9 files"), std::string::npos) << run.output;
    }
  }
}

void put32(std::vector<uint8_t>* file, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*file)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(PackerVerify, ReadsResourcesOnlyWhereTheHeadersPutThem) {
  struct Case {
    const char* what;
    std::function<void(tltest::PeImage*)> spoil;
    const char* error;   // "" when the file is read
    const char* damage;  // the one defect found, "" for none
    std::vector<uint16_t> ids;
  };
  const std::vector<Case> cases = {
      {"sound", [](tltest::PeImage*) {}, "", "", {1, 2, 65535}},
      {"unknown optional header", [](tltest::PeImage* i) { i->file[i->optionalHeader] = 0x07; },
       "is neither PE32 nor PE32+ (optional header magic 0x207)", "", {}},
      {"resources outside the sections", [](tltest::PeImage* i) { put32(&i->file, i->resourceDirectory, 0x9000); },
       "has its resource directory (0x9000) outside its sections", "", {}},
      {"resource in another language", [](tltest::PeImage* i) { put32(&i->file, i->languageEntry.at(2), 0x409); }, "",
       "RT_RCDATA resource 2 is not language neutral", {1, 65535}},
      {"resource data outside the sections", [](tltest::PeImage* i) { put32(&i->file, i->dataEntry.at(1), 0x5000); },
       "", "RT_RCDATA resource 1 (3 bytes at 0x5000) lies outside the file's sections", {2, 65535}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tltest::PeImage image = tltest::writePe({{1, {7, 8, 9}}, {2, std::vector<uint8_t>(50, 2)}, {65535, {1}}}, true);
    c.spoil(&image);
    pe::RcdataResources resources;
    std::string error;
    EXPECT_EQ(pe::readRcdataResources(image.file.data(), image.file.size(), &resources, &error), !*c.error);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(resources.damage, *c.damage ? std::vector<std::string>{c.damage} : std::vector<std::string>{});
    std::vector<uint16_t> ids;
    for (const auto& [id, range] : resources.byId) ids.push_back(id);
    EXPECT_EQ(ids, c.ids);
  }
  // The code section's bytes, where the data entry now points: the reader maps
  // addresses through the section table, not through the resource section alone.
  tltest::PeImage image = tltest::writePe({{1, {7, 8, 9}}}, false);
  put32(&image.file, image.dataEntry.at(1), 0x1000);
  pe::RcdataResources resources;
  std::string error;
  ASSERT_TRUE(pe::readRcdataResources(image.file.data(), image.file.size(), &resources, &error)) << error;
  EXPECT_EQ(resources.byId.at(1).offset, 0x200u);
  EXPECT_EQ(image.file[resources.byId.at(1).offset], 0xC3);
}

}  // namespace

// The file extractor against payload DLLs built at run time, Wine's real file
// system and the version resources of build-time fixture DLLs.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "payload/file_extractor_impl.h"
#include "platform/file_names.h"
#include "platform/held_folder.h"
#include "platform/image_version.h"
#include "tests/support/payload_fixture.h"
#include "tests/support/test_support.h"
#include "system/uninstaller_setup_impl.h"
#include "tests/uninstaller/scratch.h"

namespace {

using tltest::FixtureEntry;
using tltest::FixtureFile;
using tltest::PayloadFixture;
using tltest::PayloadOptions;
using tltest::ScopedTempDir;

// ---- what the extractor reports --------------------------------------------

struct Report {
  enum Kind { Started, Progress, Finished } kind;
  std::string name;
  std::string target;
  uint32_t compressedDone = 0, compressedTotal = 0, inflatedDone = 0, inflatedTotal = 0;
};

class RecordingStatus : public Porter::FileExtractorStatus {
 public:
  void fileStarted(const char* name, const char* targetPath) override {
    reports.push_back(Report{Report::Started, name, targetPath});
  }
  void fileProgress(uint32_t a, uint32_t b, uint32_t c, uint32_t d) override {
    reports.push_back(Report{Report::Progress, "", "", a, b, c, d});
  }
  void fileFinished() override { reports.push_back(Report{Report::Finished}); }

  std::vector<Report> progress() const {
    std::vector<Report> out;
    for (const Report& r : reports) {
      if (r.kind == Report::Progress) out.push_back(r);
    }
    return out;
  }
  size_t count(Report::Kind kind) const {
    size_t n = 0;
    for (const Report& r : reports) n += r.kind == kind ? 1 : 0;
    return n;
  }
  std::vector<Report> reports;
};

// ---- which chunk resources the extractor opens -----------------------------

std::vector<uint32_t> g_openedIds;

HRSRC WINAPI recordingFindResource(HMODULE module, LPCSTR name, LPCSTR type) {
  if (IS_INTRESOURCE(name)) g_openedIds.push_back(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(name)));
  return FindResourceA(module, name, type);
}

std::string ids(const std::vector<uint32_t>& list) {
  std::string out;
  for (uint32_t id : list) out += (out.empty() ? "" : ",") + std::to_string(id);
  return out;
}

// A real uninstall record; discarded with an empty name, which commit refuses
// before touching the registry.
struct Record {
  UninstallerSetupImpl* impl = new UninstallerSetupImpl("TowerLink Test", "", "", "");
  ~Record() {
    impl->displayName.clear();
    impl->commit();
  }
};

// ---- the common payload ----------------------------------------------------

std::vector<FixtureFile> sampleFiles() {
  return {
      {"\\fs\\aircraft\\towerlink\\aircraft.cfg", tltest::patternBytes(3000, 1, true)},
      {"\\fs\\aircraft\\towerlink\\model.c172\\model.cfg", tltest::patternBytes(500, 2, true)},
      {"\\fs\\aircraft\\vip\\texture\\a.bmp", tltest::patternBytes(9000, 3, false)},
      {"\\fs\\modules\\fsuipc.dll", tltest::patternBytes(7000, 4, true)},
      {"\\tl\\fs\\tlaicontrol10.dll", tltest::patternBytes(20000, 5, true)},
      {"\\tl\\fs\\tlmod10.dll", tltest::patternBytes(15000, 6, true)},
      {"\\tl\\fs\\tltrans10.dll", tltest::patternBytes(12000, 7, true)},
      {"\\tl\\global\\readme.txt", tltest::patternBytes(1200, 8, true)},
      {"\\tl\\global\\towerlink.ico", tltest::patternBytes(766, 9, false)},
      {"\\tl\\tl\\towerlink_fs.exe", tltest::patternBytes(300000, 10, true)},
  };
}

std::string contentOf(const std::vector<FixtureFile>& files, const std::string& name) {
  for (const FixtureFile& f : files) {
    if (f.name == name) return f.bytes;
  }
  return std::string();
}

class ExtractorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(temp.valid());
    g_openedIds.clear();
    extractor.findResource = recordingFindResource;
  }

  // Builds the payload DLL and initialises the extractor with it.
  void load(const std::vector<FixtureFile>& files, const PayloadOptions& options = PayloadOptions()) {
    ASSERT_TRUE(payload.build(temp.file("payload.dll"), files, options)) << payload.error();
    ASSERT_TRUE(extractor.init(payload.module(), &status));
    g_openedIds.clear();
  }

  std::string read(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(tltest::readFile(path, &bytes)) << path;
    return bytes;
  }

  ScopedTempDir temp;
  PayloadFixture payload;
  FileExtractorImpl extractor;
  RecordingStatus status;
};

// ---- reading the catalogue -------------------------------------------------

TEST_F(ExtractorTest, InitIndexesEveryEntryAndLooksNamesUpInAnySpelling) {
  const auto files = sampleFiles();
  load(files);
  EXPECT_EQ(extractor.index().size(), files.size());
  EXPECT_EQ(extractor.chunkSize(), 65536u);
  EXPECT_EQ(ids(g_openedIds), "");  // the catalogue is read once, at init

  const FixtureEntry* fsuipc = payload.find("\\fs\\modules\\fsuipc.dll");
  ASSERT_NE(fsuipc, nullptr);
  const char* spellings[] = {"/FS/Modules/FSUIPC.DLL", "\\fs\\modules\\fsuipc.dll", "/fs/modules/fsuipc.dll/",
                             "\\FS/modules\\FsUipc.dll\\"};
  for (const char* name : spellings) {
    uint32_t c = 0, u = 0;
    EXPECT_EQ(extractor.getFileSizes(name, &c, &u), ExtractResult::Ok) << name;
    EXPECT_EQ(c, fsuipc->compressedSize) << name;
    EXPECT_EQ(u, fsuipc->uncompressedSize) << name;
  }
  const char* unknown[] = {"/fs/modules/fsuipc", "/fs/modules/fsuipc.dll//", "", "fs/modules/fsuipc.dll"};
  for (const char* name : unknown) {
    uint32_t c = 0xDEAD, u = 0xBEEF;
    EXPECT_EQ(extractor.getFileSizes(name, &c, &u), ExtractResult::NotInCatalogue) << "'" << name << "'";
    EXPECT_EQ(c, 0xDEADu) << name;
    EXPECT_EQ(u, 0xBEEFu) << name;
  }
}

TEST_F(ExtractorTest, EmptyCatalogueIsAcceptedAndSelectsNothing) {
  PayloadOptions options;
  options.useCustomCatalogue = true;
  options.customCatalogue = tltest::encodeCatalogue(65536, {});
  load({{"\\tl\\global\\readme.txt", "x"}}, options);
  EXPECT_TRUE(extractor.index().empty());
  EXPECT_EQ(extractor.extractFile("/tl/global/readme.txt", temp.file("r.txt").c_str(), false),
            ExtractResult::NotInCatalogue);
  uint32_t c = 7, u = 9;
  EXPECT_EQ(extractor.getFolderSizes("/tl", &c, &u), ExtractResult::NothingSelected);
  EXPECT_EQ(c, 7u);
  EXPECT_EQ(u, 9u);
}

TEST_F(ExtractorTest, FirstOfTwoEqualNamesWinsAndNamesEndAtAZeroByte) {
  PayloadOptions options;
  options.editEntries = [](std::vector<FixtureEntry>& entries) {
    FixtureEntry duplicate = entries[0];
    duplicate.uncompressedSize = 1;
    entries.push_back(duplicate);
    FixtureEntry cut = entries[1];
    cut.name = std::string("\\tl\\global\\cut.txt\0ignored", 26);
    entries.push_back(cut);
  };
  load({{"\\tl\\global\\readme.txt", "first"}, {"\\tl\\global\\other.txt", "second"}}, options);
  uint32_t c = 0, u = 0;
  ASSERT_EQ(extractor.getFileSizes("/tl/global/readme.txt", &c, &u), ExtractResult::Ok);
  EXPECT_EQ(u, 5u);
  ASSERT_EQ(extractor.getFileSizes("/tl/global/cut.txt", &c, &u), ExtractResult::Ok);
  EXPECT_EQ(u, 6u);
}

struct BadCatalogueCase {
  const char* what;
  std::function<void(PayloadOptions&, const std::string& goodCatalogue)> shape;
};

TEST_F(ExtractorTest, UnusableCataloguesAreRefusedAndAddNothing) {
  const std::vector<FixtureFile> files = {{"\\tl\\global\\readme.txt", "hello"}, {"\\tl\\global\\b.txt", "b"}};
  const std::string good = tltest::encodeCatalogue(
      65536, {{1, 0, 0, 13, 5, "\\tl\\global\\readme.txt"}, {1, 0, 13, 9, 1, "\\tl\\global\\b.txt"}});
  const BadCatalogueCase cases[] = {
      {"no catalogue resource", [](PayloadOptions& o, const std::string&) { o.omitCatalogue = true; }},
      {"cut inside the header", [](PayloadOptions& o, const std::string&) { o.catalogueLength = 6; }},
      {"cut inside the last name",
       [](PayloadOptions& o, const std::string& g) { o.catalogueLength = g.size() - 1; }},
      {"cut inside the second entry's fixed part",
       [](PayloadOptions& o, const std::string&) { o.catalogueLength = 8 + 20 + 21 + 10; }},
      {"entry count larger than the entries",
       [](PayloadOptions& o, const std::string& g) {
         o.useCustomCatalogue = true;
         o.customCatalogue = g;
         o.customCatalogue[4] = 3;
       }},
      {"chunk size 0",
       [](PayloadOptions& o, const std::string& g) {
         o.useCustomCatalogue = true;
         o.customCatalogue = g;
         o.customCatalogue[2] = 0;  // 65536 -> 0
       }},
  };
  for (const BadCatalogueCase& c : cases) {
    ScopedTempDir folder;
    PayloadFixture bad;
    PayloadOptions options;
    c.shape(options, good);
    ASSERT_TRUE(bad.build(folder.file("bad.dll"), files, options)) << c.what << ": " << bad.error();
    FileExtractorImpl fresh;
    EXPECT_FALSE(fresh.init(bad.module(), &status)) << c.what;
    EXPECT_TRUE(fresh.index().empty()) << c.what;
    EXPECT_EQ(fresh.extractFile("/tl/global/readme.txt", folder.file("out.txt").c_str(), false),
              ExtractResult::NotInCatalogue)
        << c.what;
    EXPECT_FALSE(tltest::fileExists(folder.file("out.txt"))) << c.what;
  }
}

TEST_F(ExtractorTest, InitAddsToTheIndexAndCloseEmptiesIt) {
  load({{"\\tl\\global\\readme.txt", "one"}});
  ScopedTempDir other;
  PayloadFixture second;
  ASSERT_TRUE(second.build(other.file("second.dll"), {{"\\tl\\global\\readme.txt", "replaced?"},
                                                      {"\\tl\\tl\\towerlink_fs.exe", "two"}}))
      << second.error();
  ASSERT_TRUE(extractor.init(second.module(), &status));
  uint32_t c = 0, u = 0;
  ASSERT_EQ(extractor.getFileSizes("/tl/global/readme.txt", &c, &u), ExtractResult::Ok);
  EXPECT_EQ(u, 3u);  // the earlier entry stays
  EXPECT_EQ(extractor.getFileSizes("/tl/tl/towerlink_fs.exe", &c, &u), ExtractResult::Ok);

  EXPECT_TRUE(extractor.close());
  Record record;
  EXPECT_EQ(extractor.extractFolder("/tl", temp.path().c_str(), record.impl, "d", nullptr),
            ExtractResult::NothingSelected);
  EXPECT_EQ(extractor.getFileSizes("/tl/tl/towerlink_fs.exe", &c, &u), ExtractResult::NotInCatalogue);
  EXPECT_TRUE(record.impl->events.empty());
}

// ---- selection and sizes ---------------------------------------------------

TEST_F(ExtractorTest, FolderSizesAreTheSumsOverTheSelectedRun) {
  const auto files = sampleFiles();
  load(files);
  uint32_t expectC = 0, expectU = 0;
  for (const FixtureEntry& e : payload.entries()) {
    if (e.name.compare(0, 13, "\\fs\\aircraft\\") == 0) {
      expectC += e.compressedSize;
      expectU += e.uncompressedSize;
    }
  }
  for (const char* selector : {"/fs/aircraft/", "/fs/aircraft", "\\FS\\AIRCRAFT"}) {
    uint32_t c = 0, u = 0;
    EXPECT_EQ(extractor.getFolderSizes(selector, &c, &u), ExtractResult::Ok) << selector;
    EXPECT_EQ(c, expectC) << selector;
    EXPECT_EQ(u, expectU) << selector;
  }
  for (const char* selector : {"/fs/aircraft/none", "/zz", "", "/"}) {
    uint32_t c = 11, u = 12;
    EXPECT_EQ(extractor.getFolderSizes(selector, &c, &u), ExtractResult::NothingSelected) << "'" << selector << "'";
    EXPECT_EQ(c, 11u) << selector;
    EXPECT_EQ(u, 12u) << selector;
  }
}

TEST_F(ExtractorTest, FolderWithExclusionWritesTheRestAndRecordsEach) {
  const auto files = sampleFiles();
  load(files);
  Record record;
  const std::vector<std::string> exclusions = {"/tl/fs/tlmod10.dll"};
  ASSERT_EQ(extractor.extractFolder("/tl/fs", temp.path().c_str(), record.impl, "Deleting FSX DLLs", &exclusions),
            ExtractResult::Ok);
  EXPECT_EQ(tltest::listFiles(temp.path()),
            (std::vector<std::string>{"payload.dll", "tlaicontrol10.dll", "tltrans10.dll"}));
  EXPECT_EQ(read(temp.file("tlaicontrol10.dll")), contentOf(files, "\\tl\\fs\\tlaicontrol10.dll"));
  EXPECT_EQ(read(temp.file("tltrans10.dll")), contentOf(files, "\\tl\\fs\\tltrans10.dll"));
  ASSERT_EQ(record.impl->events.size(), 2u);
  EXPECT_EQ(record.impl->events[0].tag, "DeleteFile");
  EXPECT_EQ(record.impl->events[0].params, temp.file("tlaicontrol10.dll"));
  EXPECT_EQ(record.impl->events[0].desc, "Deleting FSX DLLs");
  EXPECT_EQ(record.impl->events[1].params, temp.file("tltrans10.dll"));
  // fileStarted gets the stored catalogue name for files of a folder.
  ASSERT_GE(status.reports.size(), 1u);
  EXPECT_EQ(status.reports[0].name, "\\tl\\fs\\tlaicontrol10.dll");
  EXPECT_EQ(status.count(Report::Finished), 2u);
}

TEST_F(ExtractorTest, AllFilesExcludedIsNothingSelectedWithNoEvents) {
  load(sampleFiles());
  Record record;
  const std::vector<std::string> exclusions = {"/TL/FS/tlmod10.dll", "\\tl\\fs\\tltrans10.dll",
                                               "/tl/fs/tlai"};
  EXPECT_EQ(extractor.extractFolder("/tl/fs", temp.path().c_str(), record.impl, "d", &exclusions),
            ExtractResult::NothingSelected);
  EXPECT_TRUE(record.impl->events.empty());
  EXPECT_TRUE(status.reports.empty());
  EXPECT_EQ(tltest::listFiles(temp.path()), std::vector<std::string>{"payload.dll"});
}

TEST_F(ExtractorTest, TargetFolderWithAndWithoutTrailingBackslashGiveTheSamePaths) {
  load(sampleFiles());
  std::vector<std::string> seen[2];
  const std::string folders[2] = {temp.file("Aircraft\\towerlink"), temp.file("Aircraft\\towerlink\\")};
  for (int i = 0; i < 2; ++i) {
    Record record;
    ASSERT_EQ(extractor.extractFolder("/fs/aircraft/towerlink", folders[i].c_str(), record.impl, "d", nullptr),
              ExtractResult::Ok)
        << folders[i];
    for (const UninstallEvent& e : record.impl->events) seen[i].push_back(e.params);
  }
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(seen[0], (std::vector<std::string>{temp.file("Aircraft\\towerlink\\aircraft.cfg"),
                                               temp.file("Aircraft\\towerlink\\model.c172\\model.cfg")}));
  EXPECT_TRUE(tltest::fileExists(temp.file("Aircraft\\towerlink\\model.c172\\model.cfg")));
}

TEST_F(ExtractorTest, SelectorNeedsNoSeparatorAfterIt) {
  const auto files = sampleFiles();
  load(files);
  Record record;
  ASSERT_EQ(extractor.extractFolder("/tl/glob", temp.path().c_str(), record.impl, "d", nullptr), ExtractResult::Ok);
  // The rest after "\tl\glob" is "al\readme.txt": the plain prefix rule.
  EXPECT_EQ(read(temp.file("al\\readme.txt")), contentOf(files, "\\tl\\global\\readme.txt"));
  EXPECT_TRUE(tltest::fileExists(temp.file("al\\towerlink.ico")));
  EXPECT_EQ(record.impl->events.size(), 2u);
}

TEST_F(ExtractorTest, FolderRefusesEmptyArgumentsWithACode) {
  load(sampleFiles());
  Record record;
  EXPECT_EQ(extractor.extractFolder("", temp.path().c_str(), record.impl, "d", nullptr),
            ExtractResult::NothingSelected);
  EXPECT_EQ(extractor.extractFolder(nullptr, temp.path().c_str(), record.impl, "d", nullptr),
            ExtractResult::NothingSelected);
  EXPECT_EQ(extractor.extractFolder("/tl/fs", temp.path().c_str(), nullptr, "d", nullptr),
            ExtractResult::OutputNotCreated);
  EXPECT_EQ(extractor.extractFolder("/tl/fs", "", record.impl, "d", nullptr), ExtractResult::FolderNotCreated);
  EXPECT_EQ(extractor.extractFolder("/tl/fs", nullptr, record.impl, "d", nullptr), ExtractResult::FolderNotCreated);
  EXPECT_TRUE(record.impl->events.empty());
  EXPECT_TRUE(status.reports.empty());
  EXPECT_EQ(tltest::listFiles(temp.path()), std::vector<std::string>{"payload.dll"});
}

TEST_F(ExtractorTest, FolderStopsAtTheFirstFailureKeepingEarlierFilesAndEvents) {
  // tlaicontrol10.dll lies in chunk 1, tlmod10.dll needs chunk 2, which is missing.
  PayloadOptions options;
  options.chunkSize = 4096;
  options.missingChunks = {2};
  load({{"\\tl\\fs\\tlaicontrol10.dll", tltest::patternBytes(1000, 1, false)},
        {"\\tl\\fs\\tlmod10.dll", tltest::patternBytes(5000, 2, false)},
        {"\\tl\\fs\\tltrans10.dll", tltest::patternBytes(100, 3, false)}},
       options);
  Record record;
  EXPECT_EQ(extractor.extractFolder("/tl/fs", temp.path().c_str(), record.impl, "d", nullptr),
            ExtractResult::ResourceNotFound);
  ASSERT_EQ(record.impl->events.size(), 1u);
  EXPECT_EQ(record.impl->events[0].params, temp.file("tlaicontrol10.dll"));
  EXPECT_EQ(tltest::listFiles(temp.path()), (std::vector<std::string>{"payload.dll", "tlaicontrol10.dll"}));
  EXPECT_EQ(status.count(Report::Started), 2u);
  EXPECT_EQ(status.count(Report::Finished), 1u);
}

// ---- one file: reports, chunks, blocks -------------------------------------

TEST_F(ExtractorTest, SmallOnePieceFileReportsOneProgressWithTheWholeSizes) {
  const auto files = sampleFiles();
  load(files);
  const std::string target = temp.file("out\\ReadMe.txt");
  ASSERT_EQ(extractor.extractFile("/TL/Global/Readme.txt", target.c_str(), false), ExtractResult::Ok);
  EXPECT_EQ(read(target), contentOf(files, "\\tl\\global\\readme.txt"));
  const FixtureEntry* e = payload.find("\\tl\\global\\readme.txt");
  ASSERT_EQ(status.reports.size(), 3u);
  EXPECT_EQ(status.reports[0].kind, Report::Started);
  EXPECT_EQ(status.reports[0].name, "/TL/Global/Readme.txt");  // as given, not normalised
  EXPECT_EQ(status.reports[0].target, target);
  EXPECT_EQ(status.reports[1].kind, Report::Progress);
  EXPECT_EQ(status.reports[1].compressedDone, e->compressedSize);
  EXPECT_EQ(status.reports[1].compressedTotal, e->compressedSize);
  EXPECT_EQ(status.reports[1].inflatedDone, e->uncompressedSize);
  EXPECT_EQ(status.reports[1].inflatedTotal, e->uncompressedSize);
  EXPECT_EQ(status.reports[2].kind, Report::Finished);
  ASSERT_LE(e->offset + e->compressedSize, 65536u);  // the stream lies in one chunk
  EXPECT_EQ(ids(g_openedIds), std::to_string(e->chunkId));
}

TEST_F(ExtractorTest, LargeFileIsWrittenInBlocksOfAtMostOneChunk) {
  // 300000 compressible bytes inflate from one piece into five output blocks;
  // 200000 random bytes cross four chunks.
  std::vector<FixtureFile> files = {{"\\tl\\tl\\big.txt", tltest::patternBytes(300000, 21, true)},
                                    {"\\tl\\tl\\noise.bin", tltest::patternBytes(200000, 22, false)}};
  load(files);
  for (const FixtureFile& f : files) {
    status.reports.clear();
    const std::string target = temp.file("big\\" + f.name.substr(7));
    ASSERT_EQ(extractor.extractFile(f.name.c_str(), target.c_str(), false), ExtractResult::Ok) << f.name;
    EXPECT_TRUE(read(target) == f.bytes) << f.name;
    const auto progress = status.progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_GE(progress.size(), f.bytes.size() / 65536) << f.name;
    uint32_t previous = 0, previousCompressed = 0;
    for (const Report& p : progress) {
      EXPECT_GE(p.inflatedDone, previous) << f.name;
      EXPECT_LE(p.inflatedDone - previous, 65536u) << f.name;
      EXPECT_GE(p.compressedDone, previousCompressed) << f.name;
      previous = p.inflatedDone;
      previousCompressed = p.compressedDone;
    }
    EXPECT_EQ(progress.back().inflatedDone, f.bytes.size()) << f.name;
    EXPECT_EQ(progress.back().compressedDone, progress.back().compressedTotal) << f.name;
  }
}

TEST_F(ExtractorTest, StreamCrossingTwoBoundariesOpensThreeChunksInOrder) {
  PayloadOptions options;
  options.chunkSize = 4096;
  const std::vector<FixtureFile> files = {{"\\tl\\tl\\cross.bin", tltest::patternBytes(9000, 30, false), 100}};
  load(files, options);
  const FixtureEntry* e = payload.find("\\tl\\tl\\cross.bin");
  ASSERT_EQ(e->chunkId, 1);
  ASSERT_EQ(e->offset, 100u);
  ASSERT_GT(e->compressedSize, 3996u + 4096u);
  ASSERT_LT(e->compressedSize, 3996u + 2 * 4096u);
  ASSERT_EQ(extractor.extractFile("/tl/tl/cross.bin", temp.file("cross.bin").c_str(), false), ExtractResult::Ok);
  EXPECT_EQ(ids(g_openedIds), "1,2,3");
  EXPECT_TRUE(read(temp.file("cross.bin")) == files[0].bytes);
  // The first argument counts whole pieces as they are handed over.
  std::vector<uint32_t> handed;
  for (const Report& p : status.progress()) {
    if (handed.empty() || handed.back() != p.compressedDone) handed.push_back(p.compressedDone);
  }
  EXPECT_EQ(handed, (std::vector<uint32_t>{3996, 3996 + 4096, e->compressedSize}));
}

TEST_F(ExtractorTest, StreamEndingAtAChunkEndNeverOpensTheNextChunk) {
  const std::string first = tltest::patternBytes(5000, 40, false);
  PayloadOptions options;
  options.chunkSize = static_cast<uint32_t>(tltest::zlibCompress(first, 9).size());
  options.missingChunks = {2};  // would fail with 4 if it were opened
  load({{"\\tl\\tl\\a.bin", first}, {"\\tl\\tl\\b.bin", tltest::patternBytes(100, 41, false)}}, options);
  ASSERT_EQ(extractor.extractFile("/tl/tl/a.bin", temp.file("a.bin").c_str(), false), ExtractResult::Ok);
  EXPECT_EQ(ids(g_openedIds), "1");
  EXPECT_TRUE(read(temp.file("a.bin")) == first);
  EXPECT_EQ(extractor.extractFile("/tl/tl/b.bin", temp.file("b.bin").c_str(), false),
            ExtractResult::ResourceNotFound);
}

TEST_F(ExtractorTest, PiecePositionsFollowTheCatalogueWhateverTheReservedHalf) {
  // A 200-byte-ish stream beginning 100 bytes before a chunk end; then the same
  // file described as "offset == chunkSize of the previous chunk".
  const std::string bytes = tltest::patternBytes(180, 50, false);
  struct Case {
    const char* what;
    uint16_t reserved;
    bool asOffsetAtChunkEnd;
    const char* expectedIds;
  };
  const Case cases[] = {
      {"tail of chunk 1, reserved 0", 0x0000, false, "1,2"},
      {"tail of chunk 1, reserved 0x7736", 0x7736, false, "1,2"},
      {"offset equal to chunkSize", 0x7736, true, "2,3"},
  };
  for (const Case& c : cases) {
    ScopedTempDir folder;
    PayloadFixture fixture;
    PayloadOptions options;
    options.chunkSize = 4096;
    options.reserved = c.reserved;
    uint32_t gap = 4096 - 100;
    if (c.asOffsetAtChunkEnd) {
      gap = 4096 * 2;  // the stream starts at byte 0 of chunk 3 ...
      options.editEntries = [](std::vector<FixtureEntry>& entries) {
        entries[0].chunkId = 2;  // ... and the entry says "chunk 2, offset 4096"
        entries[0].offset = 4096;
      };
    }
    ASSERT_TRUE(fixture.build(folder.file("p.dll"), {{"\\tl\\tl\\t.bin", bytes, gap}}, options)) << c.what;
    FileExtractorImpl fresh;
    fresh.findResource = recordingFindResource;
    ASSERT_TRUE(fresh.init(fixture.module(), nullptr)) << c.what;
    g_openedIds.clear();
    EXPECT_EQ(fresh.extractFile("/tl/tl/t.bin", folder.file("t.bin").c_str(), false), ExtractResult::Ok) << c.what;
    EXPECT_EQ(ids(g_openedIds), c.expectedIds) << c.what;
    std::string written;
    EXPECT_TRUE(tltest::readFile(folder.file("t.bin"), &written) && written == bytes) << c.what;
  }
}

TEST_F(ExtractorTest, DirectWriteOverwritesAnExistingLongerFile) {
  load({{"\\tl\\global\\readme.txt", "short"}});
  const std::string target = temp.file("readme.txt");
  ASSERT_TRUE(tltest::writeFile(target, std::string(100000, 'x')));
  ASSERT_EQ(extractor.extractFile("/tl/global/readme.txt", target.c_str(), false), ExtractResult::Ok);
  EXPECT_EQ(read(target), "short");
}

// ---- one file: failures ----------------------------------------------------

TEST_F(ExtractorTest, NameNotInCatalogueReportsStartOnlyAndCreatesNothing) {
  load(sampleFiles());
  const std::string target = temp.file("new\\x.txt");
  EXPECT_EQ(extractor.extractFile("/tl/global/nothere.txt", target.c_str(), false), ExtractResult::NotInCatalogue);
  ASSERT_EQ(status.reports.size(), 1u);
  EXPECT_EQ(status.reports[0].kind, Report::Started);
  EXPECT_EQ(status.reports[0].name, "/tl/global/nothere.txt");
  EXPECT_FALSE(tltest::directoryExists(temp.file("new")));
  EXPECT_EQ(extractor.extractFile("", target.c_str(), false), ExtractResult::NotInCatalogue);
  EXPECT_EQ(extractor.extractFile(nullptr, target.c_str(), false), ExtractResult::NotInCatalogue);
}

struct MalformedCase {
  const char* what;
  std::function<void(PayloadOptions&, const std::vector<FixtureFile>&)> shape;
  ExtractResult expected;
};

TEST_F(ExtractorTest, MalformedStreamsAndPositionsFailWithTheirCodeAndLeaveNoFile) {
  // a.bin (random, ~2 chunks of 4096) is followed by b.bin in the same payload.
  const std::vector<FixtureFile> files = {{"\\tl\\tl\\a.bin", tltest::patternBytes(6000, 60, false)},
                                          {"\\tl\\tl\\b.bin", tltest::patternBytes(3000, 61, true)}};
  auto editA = [](std::function<void(FixtureEntry&)> edit) {
    return [edit](PayloadOptions& o, const std::vector<FixtureFile>&) {
      o.editEntries = [edit](std::vector<FixtureEntry>& entries) { edit(entries[0]); };
    };
  };
  const MalformedCase cases[] = {
      {"corrupted byte in the deflate data",
       [](PayloadOptions& o, const std::vector<FixtureFile>&) { o.xorStreamBytes[3000] = 0x55; },
       ExtractResult::InflateFailed},
      {"corrupted Adler-32 trailer",
       [](PayloadOptions& o, const std::vector<FixtureFile>& f) {
         o.xorStreamBytes[tltest::zlibCompress(f[0].bytes, 9).size() - 1] = 0x01;
       },
       ExtractResult::InflateFailed},
      {"corrupted zlib header", [](PayloadOptions& o, const std::vector<FixtureFile>&) { o.xorStreamBytes[0] = 0xFF; },
       ExtractResult::InflateFailed},
      {"missing middle chunk", [](PayloadOptions& o, const std::vector<FixtureFile>&) { o.missingChunks = {2}; },
       ExtractResult::ResourceNotFound},
      {"chunk shorter than the piece needs",
       [](PayloadOptions& o, const std::vector<FixtureFile>&) { o.chunkLengths[1] = 3000; },
       ExtractResult::ResourceNotFound},
      {"offset above chunkSize", editA([](FixtureEntry& e) { e.offset = 4097; }), ExtractResult::ResourceNotFound},
      {"chunk id 0", editA([](FixtureEntry& e) { e.chunkId = 0; }), ExtractResult::ResourceNotFound},
      {"stream runs past the last chunk", editA([](FixtureEntry& e) { e.compressedSize += 4096 * 3; }),
       ExtractResult::ResourceNotFound},
      {"compressedSize longer than the stream (ends with input left)",
       editA([](FixtureEntry& e) { e.compressedSize += 10; }), ExtractResult::InflateFailed},
      {"compressedSize shorter than the stream (never ends)", editA([](FixtureEntry& e) { e.compressedSize -= 10; }),
       ExtractResult::InflateFailed},
      {"compressedSize shorter by the trailer only", editA([](FixtureEntry& e) { e.compressedSize -= 4; }),
       ExtractResult::InflateFailed},
      {"compressedSize 0", editA([](FixtureEntry& e) { e.compressedSize = 0; }), ExtractResult::InflateFailed},
  };
  for (const MalformedCase& c : cases) {
    ScopedTempDir folder;
    PayloadFixture fixture;
    PayloadOptions options;
    options.chunkSize = 4096;
    c.shape(options, files);
    ASSERT_TRUE(fixture.build(folder.file("p.dll"), files, options)) << c.what << ": " << fixture.error();
    FileExtractorImpl fresh;
    RecordingStatus reports;
    ASSERT_TRUE(fresh.init(fixture.module(), &reports)) << c.what;
    const std::string target = folder.file("out\\a.bin");
    EXPECT_EQ(toInt(fresh.extractFile("/tl/tl/a.bin", target.c_str(), false)), toInt(c.expected)) << c.what;
    EXPECT_FALSE(tltest::fileExists(target)) << c.what << ": the partial output must go";
    EXPECT_EQ(reports.count(Report::Finished), 0u) << c.what;
    EXPECT_EQ(reports.count(Report::Started), 1u) << c.what;
    // The guarded path removes its temporary file the same way.
    EXPECT_EQ(toInt(fresh.extractFile("/tl/tl/a.bin", target.c_str(), true)), toInt(c.expected)) << c.what;
    EXPECT_EQ(tltest::listFiles(folder.file("out")), std::vector<std::string>{}) << c.what;
  }
}

TEST_F(ExtractorTest, TargetsThatCannotBeWrittenFailWithoutOverflow) {
  load(sampleFiles());
  ASSERT_TRUE(tltest::writeFile(temp.file("afile"), "i am a file"));
  ASSERT_TRUE(CreateDirectoryA(temp.file("adir").c_str(), nullptr));
  const std::string longFolder = temp.file(std::string(120, 'f') + "\\" + std::string(120, 'g'));
  const std::string longName = temp.file(std::string(240, 'n') + ".txt");
  struct Case {
    std::string target;
    ExtractResult expected;
  };
  const Case cases[] = {
      {temp.file("afile\\sub\\readme.txt"), ExtractResult::FolderNotCreated},  // parent is a file
      {longFolder + "\\readme.txt", ExtractResult::FolderNotCreated},           // folder past MAX_PATH - 14
      {longName, ExtractResult::OutputNotCreated},                              // path past MAX_PATH
      {temp.file("adir"), ExtractResult::OutputNotCreated},                     // target is a folder
      {"", ExtractResult::FolderNotCreated},
      {"readme.txt", ExtractResult::FolderNotCreated},  // no folder part
  };
  for (const Case& c : cases) {
    for (bool guarded : {false, true}) {
      EXPECT_EQ(toInt(extractor.extractFile("/tl/global/readme.txt", c.target.c_str(), guarded)),
                toInt(c.expected))
          << "'" << c.target << "' guarded " << guarded;
    }
  }
  EXPECT_EQ(read(temp.file("afile")), "i am a file");
  EXPECT_TRUE(tltest::directoryExists(temp.file("adir")));
  EXPECT_EQ(tltest::listFiles(temp.path()), (std::vector<std::string>{"afile", "payload.dll"}));
  EXPECT_EQ(status.count(Report::Finished), 0u);
}

// ---- hostile layouts ----------------------------------------------------------

std::string fixtureBytes(const char* file);  // a build-time fixture DLL's bytes (below)

// Windows decides whether a link may be followed by its owner and the access
// list of the folder it leads to; Wine reports neither. This stands in for
// the decision of a link made by the standard user who owns the simulator:
// they may write below the folders listed here, nowhere else.
std::vector<std::wstring> g_userMayWrite;

bool userMayWrite(HANDLE, HANDLE target) {
  std::wstring real = win::finalPathByHandle(target);
  if (real.compare(0, 4, L"\\\\?\\") == 0) real = real.substr(4);
  CharUpperBuffW(&real[0], static_cast<DWORD>(real.size()));
  for (std::wstring allowed : g_userMayWrite) {
    CharUpperBuffW(&allowed[0], static_cast<DWORD>(allowed.size()));
    if (real.compare(0, allowed.size(), allowed) == 0 &&
        (real.size() == allowed.size() || real[allowed.size()] == L'\\')) {
      return true;
    }
  }
  return false;
}

// Puts the stand-in decision in place for one test, and the real one back.
struct UserLinks {
  explicit UserLinks(const std::vector<std::string>& writable) {
    g_userMayWrite.clear();
    for (const std::string& folder : writable) {
      std::wstring real = win::finalPathByHandle(
          win::FileHandle(CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr))
              .get());
      g_userMayWrite.push_back(real.compare(0, 4, L"\\\\?\\") == 0 ? real.substr(4) : real);
    }
    win::linkMayBeFollowed = userMayWrite;
  }
  ~UserLinks() { win::linkMayBeFollowed = win::ownerMayFollow; }
};

// A simulator folder that a standard user may change (C:\FS9): links they
// made in place of its folders and files, under Wine Unix links, which show
// as reparse points. A link is followed only where its maker may write; a
// link or a second name in place of a file is replaced, never written through.
TEST_F(ExtractorTest, HostileLayoutsNeverLeadAWriteOutOfTheHeldFolders) {
  load(sampleFiles());
  const std::string pid = std::to_string(GetCurrentProcessId());
  char windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
  const std::string victim = std::string(windows) + "\\tl-victim-" + pid;
  const std::string outside = "Z:\\tmp\\tl-outside-" + pid;  // outside the prefix
  const std::string sim = temp.file("FS9"), elsewhere = "C:\\tl-elsewhere-" + pid;  // another drive, the user's
  const std::string rootFile = "C:\\readme.txt";
  ASSERT_FALSE(tltest::fileExists(rootFile));
  // Links first, then the folders, go on every way out of the test.
  struct Cleanup {
    std::vector<std::string> links, folders;
    ~Cleanup() {
      for (const std::string& l : links) uninst_test::removeUnixLink(l);
      for (const std::string& f : folders) tltest::removeTree(f);
      DeleteFileA("C:\\readme.txt");
    }
  } cleanup{{sim + "\\windows", sim + "\\root", sim + "\\outside", sim + "\\aircraft", sim + "\\modules\\tltrans9.dll"},
             {victim, elsewhere, outside}};
  for (const std::string& f : {victim, sim, sim + "\\modules", elsewhere, outside}) {
    ASSERT_TRUE(CreateDirectoryA(f.c_str(), nullptr)) << f;
  }
  ASSERT_TRUE(tltest::writeFile(victim + "\\readme.txt", "not yours"));
  ASSERT_TRUE(tltest::writeFile(victim + "\\win.ini", "[fonts]\r\n"));
  ASSERT_TRUE(tltest::writeFile(victim + "\\hard.ini", "one file, two names"));
  ASSERT_TRUE(uninst_test::makeUnixLink(sim + "\\windows", victim));
  ASSERT_TRUE(uninst_test::makeUnixLink(sim + "\\root", "C:\\"));
  ASSERT_TRUE(uninst_test::makeUnixLink(sim + "\\outside", outside));
  ASSERT_TRUE(uninst_test::makeUnixLink(sim + "\\aircraft", elsewhere));
  // Wine shows a Unix link to a file as a plain file: its bytes tell it is there.
  ASSERT_TRUE(uninst_test::makeUnixLink(sim + "\\modules\\tltrans9.dll", victim + "\\win.ini"));
  ASSERT_EQ(read(sim + "\\modules\\tltrans9.dll"), "[fonts]\r\n");
  ASSERT_TRUE(CreateHardLinkA((sim + "\\modules\\tlmod9.dll").c_str(), (victim + "\\hard.ini").c_str(), nullptr));
  UserLinks links({temp.path(), elsewhere});
  Record record;
  const std::string readme = contentOf(sampleFiles(), "\\tl\\global\\readme.txt");
  const struct {
    std::string target;  // a file, or with a closing backslash a folder for /tl/global
    ExtractResult expected;
  } cases[] = {
      {sim + "\\windows\\readme.txt", ExtractResult::FolderNotCreated},       // into the Windows folder
      {sim + "\\windows\\new\\deeper\\", ExtractResult::FolderNotCreated},   // no folder made there either
      {sim + "\\root\\readme.txt", ExtractResult::FolderNotCreated},          // to the drive root
      {sim + "\\outside\\readme.txt", ExtractResult::FolderNotCreated},       // out of the prefix
      {sim + "\\aircraft\\readme.txt", ExtractResult::Ok},                    // to the user's own other drive
      {sim + "\\aircraft\\vip\\", ExtractResult::Ok},
      {sim + "\\modules\\tltrans9.dll", ExtractResult::Ok},                   // a link to a file: replaced
      {sim + "\\modules\\tlmod9.dll", ExtractResult::Ok},                     // a second name: replaced
  };
  for (const auto& c : cases) {
    for (bool guarded : {false, true}) {
      const bool isFolder = c.target.back() == '\\';
      if (isFolder && guarded) continue;
      ExtractResult r = isFolder ? extractor.extractFolder("/tl/global", c.target.c_str(), record.impl, "d", nullptr)
                                 : extractor.extractFile("/tl/global/readme.txt", c.target.c_str(), guarded);
      EXPECT_EQ(toInt(r), toInt(c.expected)) << c.target << " guarded " << guarded;
      if (c.expected != ExtractResult::Ok) EXPECT_EQ(extractor.lastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
      if (!isFolder && c.expected == ExtractResult::Ok) {
        EXPECT_TRUE(read(c.target) == readme) << c.target << " guarded " << guarded;
        const DWORD a = GetFileAttributesA(c.target.c_str());
        EXPECT_FALSE(a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) << c.target;
      }
    }
  }
  extractor.close();
  EXPECT_EQ(tltest::listFiles(victim), (std::vector<std::string>{"hard.ini", "readme.txt", "win.ini"}));
  EXPECT_EQ(read(victim + "\\readme.txt"), "not yours");
  EXPECT_EQ(read(victim + "\\win.ini"), "[fonts]\r\n");
  EXPECT_EQ(read(victim + "\\hard.ini"), "one file, two names");
  EXPECT_FALSE(tltest::fileExists(rootFile)) << "a file was written into the drive root";
  EXPECT_TRUE(tltest::listFiles(outside).empty());
  EXPECT_EQ(tltest::listFiles(sim + "\\modules"), (std::vector<std::string>{"tlmod9.dll", "tltrans9.dll"}));
  EXPECT_TRUE(tltest::fileExists(elsewhere + "\\readme.txt"));
  EXPECT_FALSE(tltest::listFiles(elsewhere + "\\vip").empty());
}

// The guarded replace of a module, with the simulator's modules folder a link
// the user may follow, retargeted by that user between the version read and
// the move (an opportunistic lock gives them that moment on Windows): the
// move happens in the folder that was checked and held, and nothing where the
// link leads now is moved, written or deleted.
TEST_F(ExtractorTest, GuardedReplaceStaysInTheHeldFolderWhenTheLinkIsRetargeted) {
  const std::string incoming = fixtureBytes("version_3_4_0_2.dll");
  load({{"\\fs\\modules\\fsuipc.dll", incoming}});
  const std::string pid = std::to_string(GetCurrentProcessId());
  char windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
  const std::string victim = std::string(windows) + "\\tl-victim-" + pid;
  const std::string mine = temp.file("mine"), link = temp.file("modules");
  struct Cleanup {
    std::string link, victim;
    ~Cleanup() {
      uninst_test::removeUnixLink(link);
      tltest::removeTree(victim);
    }
  } cleanup{link, victim};
  ASSERT_TRUE(CreateDirectoryA(victim.c_str(), nullptr) && CreateDirectoryA(mine.c_str(), nullptr));
  ASSERT_TRUE(tltest::writeFile(victim + "\\fsuipc.dll", "the system's own"));
  ASSERT_TRUE(uninst_test::makeUnixLink(link, mine));
  UserLinks links({temp.path()});
  struct Retarget {
    std::string link, to;
    int calls = 0;
    static void run(void* context) {
      auto* self = static_cast<Retarget*>(context);
      ++self->calls;
      uninst_test::removeUnixLink(self->link);
      EXPECT_TRUE(uninst_test::makeUnixLink(self->link, self->to));
    }
  } retarget{link, victim};
  extractor.beforeReplace = Retarget::run;
  extractor.beforeReplaceContext = &retarget;
  for (const char* old : {"version_3_4_0_1.dll", "version_3_5_0_0.dll"}) {  // replaced, then kept
    uninst_test::removeUnixLink(link);
    ASSERT_TRUE(uninst_test::makeUnixLink(link, mine));
    ASSERT_TRUE(tltest::writeFile(mine + "\\fsuipc.dll", fixtureBytes(old)));
    EXPECT_EQ(extractor.extractFile("/fs/modules/fsuipc.dll", (link + "\\fsuipc.dll").c_str(), true),
              ExtractResult::Ok)
        << old;
    extractor.close();  // lets go of the held folder for the next round
    ASSERT_TRUE(extractor.init(payload.module(), &status));
    EXPECT_TRUE(read(mine + "\\fsuipc.dll") == (old == std::string("version_3_4_0_1.dll") ? incoming : fixtureBytes(old)))
        << old;
    EXPECT_EQ(tltest::listFiles(mine), std::vector<std::string>{"fsuipc.dll"}) << old << ": the temporary file must go";
    EXPECT_EQ(tltest::listFiles(victim), std::vector<std::string>{"fsuipc.dll"}) << old;
    EXPECT_EQ(read(victim + "\\fsuipc.dll"), "the system's own") << old;
  }
  EXPECT_EQ(retarget.calls, 2);
}

// ---- folders -----------------------------------------------------------------

TEST_F(ExtractorTest, EnsureDirectoryCreatesMissingLevelsAndLeavesExistingOnes) {
  ASSERT_TRUE(CreateDirectoryA(temp.file("a").c_str(), nullptr));
  ASSERT_TRUE(tltest::writeFile(temp.file("a\\keep.txt"), "keep"));
  EXPECT_TRUE(FileExtractorImpl::ensureDirectory(temp.file("a\\b\\c")));
  EXPECT_TRUE(tltest::directoryExists(temp.file("a\\b\\c")));
  EXPECT_TRUE(FileExtractorImpl::ensureDirectory(temp.file("a")));
  EXPECT_EQ(tltest::listFiles(temp.file("a")), std::vector<std::string>{"keep.txt"});  // no probe file left

  ASSERT_TRUE(tltest::writeFile(temp.file("file"), "x"));
  EXPECT_FALSE(FileExtractorImpl::ensureDirectory(temp.file("file\\b\\c")));
  EXPECT_FALSE(FileExtractorImpl::ensureDirectory(""));
  EXPECT_FALSE(FileExtractorImpl::ensureDirectory(temp.file(std::string(250, 'z'))));
}

TEST(EnsureDirectory, CreatesThreeLevelsUnderADriveRoot) {
  const std::string root = "C:\\tl-ensure-" + std::to_string(GetCurrentProcessId());
  ASSERT_FALSE(tltest::directoryExists(root));
  EXPECT_TRUE(FileExtractorImpl::ensureDirectory(root + "\\b\\c"));
  EXPECT_TRUE(tltest::directoryExists(root + "\\b\\c"));
  EXPECT_TRUE(tltest::removeTree(root));
}

// ---- versions and the guarded replace --------------------------------------

TEST(ProductVersion, ReadsTheFourPartsOfTheFixedInfo) {
  struct Case {
    const char* file;
    bool found;
    uint16_t parts[4];
  };
  const Case cases[] = {
      {"version_3_4_0_1.dll", true, {3, 4, 0, 1}}, {"version_3_4_0_2.dll", true, {3, 4, 0, 2}},
      {"version_3_5_0_0.dll", true, {3, 5, 0, 0}}, {"version_3_4_9_9.dll", true, {3, 4, 9, 9}},
      {"version_none.dll", false, {7, 7, 7, 7}},   {"no_such_file.dll", false, {7, 7, 7, 7}},
  };
  for (const Case& c : cases) {
    uint16_t parts[4] = {7, 7, 7, 7};
    EXPECT_EQ(FileExtractorImpl::readProductVersion(tltest::fixturePath(c.file).c_str(), parts), c.found) << c.file;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(parts[i], c.parts[i]) << c.file << " part " << i;
  }
}

std::string fixtureBytes(const char* file) {
  std::string bytes;
  if (file != nullptr) EXPECT_TRUE(tltest::readFile(tltest::fixturePath(file), &bytes)) << file;
  return bytes;
}

// The version is read from the bytes of the file that was opened, which
// anyone may have written: every cut and every damaged byte is answered
// without reading outside the bytes, and only the whole image gives the parts.
TEST(ProductVersion, DamagedImagesAreReadInsideTheirBytes) {
  const std::string image = fixtureBytes("version_3_4_0_2.dll");
  ASSERT_FALSE(image.empty());
  auto parts = [](const std::string& bytes, uint16_t out[4]) {
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());  // its own buffer of exactly that size
    return win::imageProductVersion(copy.data(), copy.size(), out);
  };
  uint16_t whole[4] = {0, 0, 0, 0};
  ASSERT_TRUE(parts(image, whole));
  EXPECT_EQ(whole[3], 2);
  size_t found = 0;
  for (size_t length = 0; length < image.size(); length += 13) {
    uint16_t out[4] = {7, 7, 7, 7};
    found += parts(image.substr(0, length), out) ? 1 : 0;
  }
  uint32_t seed = 21;
  for (int round = 0; round < 2000; ++round) {
    std::string damaged = image;
    for (int i = 0; i < 4; ++i) {
      seed = seed * 1103515245u + 12345u;
      damaged[(seed >> 8) % damaged.size()] = static_cast<char>(seed >> 24);
    }
    uint16_t out[4];
    parts(damaged, out);
  }
  EXPECT_LT(found, image.size() / 13) << "a cut image still gave a version every time";
}

TEST_F(ExtractorTest, GuardedReplaceKeepsAnEqualOrNewerTarget) {
  struct Case {
    const char* existing;  // null: no target yet
    const char* incoming;
    bool replaced;
  };
  const Case cases[] = {
      {"version_3_4_0_1.dll", "version_3_4_0_1.dll", false}, {"version_3_4_0_1.dll", "version_3_4_0_2.dll", true},
      {"version_3_5_0_0.dll", "version_3_4_9_9.dll", false}, {nullptr, "version_3_4_0_1.dll", true},
      {"version_none.dll", "version_3_4_0_1.dll", true},     {"version_3_4_0_1.dll", "version_none.dll", true},
      {"version_none.dll", "version_none.dll", true},
  };
  for (const Case& c : cases) {
    const std::string what = std::string(c.existing ? c.existing : "(none)") + " <- " + c.incoming;
    ScopedTempDir folder;
    PayloadFixture fixture;
    const std::string incoming = fixtureBytes(c.incoming);
    ASSERT_TRUE(fixture.build(folder.file("p.dll"), {{"\\fs\\modules\\fsuipc.dll", incoming}})) << what;
    FileExtractorImpl fresh;
    RecordingStatus reports;
    ASSERT_TRUE(fresh.init(fixture.module(), &reports));
    const std::string target = folder.file("modules\\fsuipc.dll");
    // The old copy carries a tail so that equal versions still tell the copies apart.
    const std::string old = fixtureBytes(c.existing) + "old copy";
    ASSERT_TRUE(FileExtractorImpl::ensureDirectory(folder.file("modules")));
    if (c.existing != nullptr) ASSERT_TRUE(tltest::writeFile(target, old)) << what;

    EXPECT_EQ(fresh.extractFile("/fs/modules/fsuipc.dll", target.c_str(), true), ExtractResult::Ok) << what;
    std::string now;
    ASSERT_TRUE(tltest::readFile(target, &now)) << what;
    EXPECT_TRUE(now == (c.replaced ? incoming : old)) << what;
    EXPECT_EQ(tltest::listFiles(folder.file("modules")), std::vector<std::string>{"fsuipc.dll"})
        << what << ": the temporary file must go";
    ASSERT_FALSE(reports.reports.empty());
    EXPECT_EQ(reports.reports.front().target, target) << what << ": the final path, never the temporary one";
    EXPECT_EQ(reports.reports.back().kind, Report::Finished) << what;
  }
}

TEST_F(ExtractorTest, FailedReplaceKeepsThePreviousCopy) {
  const std::string incoming = fixtureBytes("version_3_4_0_2.dll");
  load({{"\\fs\\modules\\fsuipc.dll", incoming}});
  const std::string target = temp.file("modules\\fsuipc.dll");
  const std::string old = fixtureBytes("version_3_4_0_1.dll");
  ASSERT_TRUE(FileExtractorImpl::ensureDirectory(temp.file("modules")));
  ASSERT_TRUE(tltest::writeFile(target, old));
  {
    // Another process holds the target without sharing delete: it cannot be replaced.
    HANDLE holder = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(extractor.extractFile("/fs/modules/fsuipc.dll", target.c_str(), true), ExtractResult::OutputNotCreated);
    EXPECT_NE(extractor.lastError(), 0u);
    CloseHandle(holder);
  }
  EXPECT_TRUE(read(target) == old);
  EXPECT_EQ(tltest::listFiles(temp.file("modules")), std::vector<std::string>{"fsuipc.dll"});
  EXPECT_EQ(status.count(Report::Finished), 0u);
  // Once released, the same call replaces it.
  EXPECT_EQ(extractor.extractFile("/fs/modules/fsuipc.dll", target.c_str(), true), ExtractResult::Ok);
  EXPECT_TRUE(read(target) == incoming);
}

// ---- the resource step -----------------------------------------------------

TEST_F(ExtractorTest, LoadPayloadResourceGivesTheLockedBytesOrNotFound) {
  load({{"\\tl\\global\\readme.txt", "hello"}});
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(extractor.loadPayloadResource(1, &data, &length), ExtractResult::Ok);
  ASSERT_EQ(length, payload.stream().size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), length), payload.stream());
  // Only the low 16 bits name the resource.
  EXPECT_EQ(extractor.loadPayloadResource(0x10001, &data, &length), ExtractResult::Ok);
  const uint8_t* untouched = reinterpret_cast<const uint8_t*>(1);
  data = untouched;
  EXPECT_EQ(extractor.loadPayloadResource(2, &data, &length), ExtractResult::ResourceNotFound);
  EXPECT_EQ(data, untouched);
  EXPECT_EQ(extractor.lastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

}  // namespace

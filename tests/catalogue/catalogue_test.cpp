// The catalogue reader and its helpers: the layout as the installer reads it,
// cut and bent on purpose. Every parse reads from a heap copy of exactly the
// given size, so AddressSanitizer reports any read past the end.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "payload/catalogue.h"
#include "tests/catalogue/catalogue_bytes.h"

using catalogue_bytes::Entry;

namespace {

struct Parsed {
  CatalogueParse result;
  uint32_t chunkSize;
  CatalogueIndex index;
};

Parsed parse(const std::vector<uint8_t>& bytes, size_t size) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[size == 0 ? 1 : size]);
  if (size != 0) std::memcpy(exact.get(), bytes.data(), size);
  Parsed p{CatalogueParse::Ok, 0xDEADBEEF, {}};
  p.result = parseCatalogue(exact.get(), size, &p.chunkSize, &p.index);
  return p;
}

Parsed parse(const std::vector<uint8_t>& bytes) { return parse(bytes, bytes.size()); }

Entry entry(const std::string& name, uint16_t chunk, uint32_t offset, uint32_t compressed, uint32_t uncompressed,
            uint16_t reserved = 0) {
  Entry e;
  e.name = name;
  e.chunkId = chunk;
  e.offset = offset;
  e.compressedSize = compressed;
  e.uncompressedSize = uncompressed;
  e.reserved = reserved;
  return e;
}

std::vector<StreamPiece> pieces(uint16_t chunk, uint32_t offset, uint32_t size, uint32_t chunkSize, bool* ok) {
  CatalogueEntry e;
  e.chunkId = chunk;
  e.offset = offset;
  e.compressedSize = size;
  std::vector<StreamPiece> out;
  *ok = forEachPiece(e, chunkSize, [&](const StreamPiece& p) {
    out.push_back(p);
    return true;
  });
  return out;
}

std::string describe(const std::vector<StreamPiece>& ps) {
  std::string s;
  for (const StreamPiece& p : ps) {
    s += "{" + std::to_string(p.chunkId) + "," + std::to_string(p.position) + "," + std::to_string(p.length) + "}";
  }
  return s;
}

TEST(CatalogueParse, EmptyCatalogueGivesEmptyIndex) {
  Parsed p = parse(catalogue_bytes::build(65536, {}));
  EXPECT_EQ(p.result, CatalogueParse::Ok);
  EXPECT_EQ(p.chunkSize, 65536u);
  EXPECT_TRUE(p.index.empty());
}

TEST(CatalogueParse, ReadsEveryFieldLittleEndian) {
  Parsed p = parse(catalogue_bytes::build(0x00010000, {entry("\\tl\\tl\\a.dat", 0x1234, 0x00ABCDEF, 0x01020304,
                                                             0xA0B0C0D0)}));
  ASSERT_EQ(p.result, CatalogueParse::Ok);
  ASSERT_EQ(p.index.size(), 1u);
  const CatalogueEntry& e = p.index.at("\\tl\\tl\\a.dat");
  EXPECT_EQ(e.chunkId, 0x1234);
  EXPECT_EQ(e.offset, 0x00ABCDEFu);
  EXPECT_EQ(e.compressedSize, 0x01020304u);
  EXPECT_EQ(e.uncompressedSize, 0xA0B0C0D0u);
}

// The packer's writer: the bytes the test builder lays out by hand, entries
// in name order whatever order they were added in, and they read back.
TEST(CatalogueWrite, LaysOutTheBytesTheReaderReadsBack) {
  const std::vector<Entry> sorted = {entry("\\fs\\aircraft\\b.cfg", 2, 17, 5, 0xFFFFFFFF),
                                     entry("\\tl\\tl\\a.dat", 0x1234, 0x00ABCDEF, 0x01020304, 0xA0B0C0D0),
                                     entry("\\tl\\tl\\empty", 3, 0, 0, 0)};
  CatalogueIndex index;
  for (auto e = sorted.rbegin(); e != sorted.rend(); ++e) {
    index[e->name] = CatalogueEntry{e->chunkId, e->offset, e->compressedSize, e->uncompressedSize};
  }
  EXPECT_EQ(writeCatalogue(4096, index), catalogue_bytes::build(4096, sorted));
  EXPECT_EQ(writeCatalogue(1, {}), catalogue_bytes::build(1, {}));
  Parsed p = parse(writeCatalogue(4096, index));
  ASSERT_EQ(p.result, CatalogueParse::Ok);
  EXPECT_EQ(p.chunkSize, 4096u);
  ASSERT_EQ(p.index.size(), 3u);
  EXPECT_EQ(p.index.at("\\tl\\tl\\a.dat").uncompressedSize, 0xA0B0C0D0u);
}

TEST(CatalogueParse, FirstOfTwoEqualNamesWins) {
  Parsed p = parse(catalogue_bytes::build(
      100, {entry("\\tl\\global\\readme.txt", 1, 10, 20, 30), entry("\\tl\\global\\readme.txt", 2, 40, 50, 60),
            entry("\\tl\\global\\z", 3, 0, 1, 1)}));
  ASSERT_EQ(p.result, CatalogueParse::Ok);
  ASSERT_EQ(p.index.size(), 2u);
  EXPECT_EQ(p.index.at("\\tl\\global\\readme.txt").chunkId, 1);
  EXPECT_EQ(p.index.at("\\tl\\global\\readme.txt").offset, 10u);
  EXPECT_EQ(p.index.count("\\tl\\global\\z"), 1u);  // the entry after the duplicate is still read
}

TEST(CatalogueParse, NameEndsAtItsFirstZeroByteButTheEntryKeepsItsLength) {
  Entry cut = entry(std::string("\\tl\\tl\\a.dll\0junk", 17), 1, 0, 5, 5);
  Parsed p = parse(catalogue_bytes::build(100, {cut, entry("\\tl\\tl\\b.dll", 1, 5, 5, 5)}));
  ASSERT_EQ(p.result, CatalogueParse::Ok);
  ASSERT_EQ(p.index.size(), 2u);
  EXPECT_EQ(p.index.count("\\tl\\tl\\a.dll"), 1u);
  EXPECT_EQ(p.index.at("\\tl\\tl\\b.dll").offset, 5u);  // read 20 + 17 bytes after the first entry
}

TEST(CatalogueParse, ReservedHalfMakesNoDifference) {
  Parsed zero = parse(catalogue_bytes::build(100, {entry("\\fs\\modules\\x.dll", 7, 1, 2, 3, 0x0000)}));
  Parsed other = parse(catalogue_bytes::build(100, {entry("\\fs\\modules\\x.dll", 7, 1, 2, 3, 0x7736)}));
  ASSERT_EQ(zero.result, CatalogueParse::Ok);
  ASSERT_EQ(other.result, CatalogueParse::Ok);
  const CatalogueEntry& a = zero.index.at("\\fs\\modules\\x.dll");
  const CatalogueEntry& b = other.index.at("\\fs\\modules\\x.dll");
  EXPECT_EQ(a.chunkId, 7);
  EXPECT_EQ(b.chunkId, 7);
  EXPECT_EQ(a.offset, b.offset);
  EXPECT_EQ(a.compressedSize, b.compressedSize);
  EXPECT_EQ(a.uncompressedSize, b.uncompressedSize);
}

// Every cut of a two-entry catalogue: Truncated, exactly the entries wholly
// before the cut, and (under ASan) nothing read past the cut.
TEST(CatalogueParse, EveryTruncationIsReportedAndKeepsTheWholeEntriesBeforeIt) {
  std::vector<uint8_t> full =
      catalogue_bytes::build(65536, {entry("\\tl\\tl\\one.exe", 1, 0, 10, 20), entry("\\tl\\tl\\two.exe", 1, 10, 5, 6)});
  const size_t firstEnd = 8 + 20 + 14;
  for (size_t size = 0; size < full.size(); ++size) {
    SCOPED_TRACE("catalogue cut to " + std::to_string(size) + " of " + std::to_string(full.size()) + " bytes");
    Parsed p = parse(full, size);
    EXPECT_EQ(p.result, CatalogueParse::Truncated);
    EXPECT_EQ(p.index.size(), size >= firstEnd ? 1u : 0u);
    EXPECT_EQ(p.chunkSize, size >= 8 ? 65536u : 0xDEADBEEFu);
  }
  EXPECT_EQ(parse(full).result, CatalogueParse::Ok);
}

TEST(CatalogueParse, HugeCountsAndLengthsEndAsTruncatedWithoutOverflow) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  Entry longName = entry("\\tl\\tl\\x", 1, 0, 1, 1);
  longName.overrideLength = true;
  longName.nameLength = 0xFFFFFFFF;
  Entry almost = longName;
  almost.nameLength = 0xFFFFFFF0;
  std::vector<Case> cases = {
      {"entryCount 0xFFFFFFFF, no entries", catalogue_bytes::build(100, {}, 0xFFFFFFFF)},
      {"nameLength 0xFFFFFFFF", catalogue_bytes::build(100, {longName})},
      {"nameLength 0xFFFFFFF0", catalogue_bytes::build(100, {almost})},
      {"one entry more announced than present", catalogue_bytes::build(100, {entry("\\tl\\tl\\a", 1, 0, 1, 1)}, 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(parse(c.bytes).result, CatalogueParse::Truncated);
  }
}

TEST(CatalogueParse, NoDataIsTruncated) {
  uint32_t chunkSize = 7;
  CatalogueIndex index;
  EXPECT_EQ(parseCatalogue(nullptr, 100, &chunkSize, &index), CatalogueParse::Truncated);
  EXPECT_EQ(chunkSize, 7u);
  EXPECT_TRUE(index.empty());
}

TEST(CatalogueParse, ExtraBytesAfterTheLastEntryAreIgnored) {
  std::vector<uint8_t> bytes = catalogue_bytes::build(100, {entry("\\tl\\fs\\a.dll", 1, 0, 1, 1)});
  bytes.insert(bytes.end(), {1, 2, 3});
  Parsed p = parse(bytes);
  EXPECT_EQ(p.result, CatalogueParse::Ok);
  EXPECT_EQ(p.index.size(), 1u);
}

TEST(StreamPieces, WalksAcrossChunksInAscendingOrder) {
  struct Case {
    const char* what;
    uint16_t chunk;
    uint32_t offset, size, chunkSize;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"crosses two boundaries", 4, 90, 150, 100, "{4,90,10}{5,0,100}{6,0,40}"},
      {"ends exactly at the chunk's end", 1, 50, 50, 100, "{1,50,50}"},
      {"fills a whole chunk from byte 0", 2, 0, 100, 100, "{2,0,100}"},
      {"offset equal to chunkSize reads nothing from its first chunk", 3, 100, 30, 100, "{3,100,0}{4,0,30}"},
      {"200 bytes from 100 before the end", 9, 65436, 200, 65536, "{9,65436,100}{10,0,100}"},
      {"empty stream", 1, 10, 0, 100, ""},
      {"last usable chunk", 65534, 0, 100, 100, "{65534,0,100}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what) + ": chunk " + std::to_string(c.chunk) + " offset " + std::to_string(c.offset) +
                 " size " + std::to_string(c.size) + " chunkSize " + std::to_string(c.chunkSize));
    bool ok = false;
    std::vector<StreamPiece> got = pieces(c.chunk, c.offset, c.size, c.chunkSize, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(describe(got), c.expected);
  }
}

TEST(StreamPieces, MalformedEntriesVisitNothingAndFail) {
  struct Case {
    const char* what;
    uint16_t chunk;
    uint32_t offset, size, chunkSize;
  };
  const std::vector<Case> cases = {
      {"offset above chunkSize", 1, 101, 10, 100},
      {"chunkSize 0", 1, 0, 10, 0},
      {"stream runs into the catalogue's id 65535", 65534, 50, 100, 100},
      {"stream starts in chunk 65535", 65535, 0, 1, 100},
      {"sizes near 4 GiB run past every chunk id", 1, 0, 0xFFFFFFFF, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool ok = true;
    std::vector<StreamPiece> got = pieces(c.chunk, c.offset, c.size, c.chunkSize, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(got.empty()) << describe(got);
  }
}

TEST(StreamPieces, VisitorCanStopTheWalk) {
  CatalogueEntry e;
  e.chunkId = 1;
  e.compressedSize = 250;
  int calls = 0;
  EXPECT_FALSE(forEachPiece(e, 100, [&](const StreamPiece&) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
}

TEST(CatalogueNames, NormalizePath) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/fs/aircraft/", "\\fs\\aircraft"},
      {"/FS/Modules/FSUIPC.DLL", "\\fs\\modules\\fsuipc.dll"},
      {"\\tl\\tl\\", "\\tl\\tl"},
      {"/tl/tl//", "\\tl\\tl\\"},  // only one trailing separator goes
      {"", ""},
      {"/", ""},
      {"a\xC4Z", "a\xC4z"},  // bytes above 127 stay as they are
      {"@[`{", "@[`{"},      // the neighbours of A-Z are not letters
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(normalizePath(in), out) << "input: " << in;
}

CatalogueIndex sampleIndex() {
  CatalogueIndex index;
  for (const char* name : {"\\fs\\aircraft\\towerlink\\a.cfg", "\\fs\\aircraft\\vip\\b.cfg", "\\fs\\modules\\fsuipc.dll",
                           "\\tl\\fs\\tlmod10.dll", "\\tl\\fs\\tltrans10.dll", "\\tl\\global\\readme.txt",
                           "\\tl\\globalx\\other.txt", "\\tl\\tl\\towerlink_fs.exe"}) {
    index[name] = CatalogueEntry{};
  }
  return index;
}

TEST(CatalogueSelection, SelectsThePlainPrefixRunInOrder) {
  const CatalogueIndex index = sampleIndex();
  struct Case {
    const char* selector;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"/fs/aircraft/", {"\\fs\\aircraft\\towerlink\\a.cfg", "\\fs\\aircraft\\vip\\b.cfg"}},
      {"/tl/fs", {"\\tl\\fs\\tlmod10.dll", "\\tl\\fs\\tltrans10.dll"}},
      {"/tl/glob", {"\\tl\\global\\readme.txt", "\\tl\\globalx\\other.txt"}},  // no separator needed
      {"/tl/global/", {"\\tl\\global\\readme.txt", "\\tl\\globalx\\other.txt"}},
      {"/nothing", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got;
    size_t count = forEachSelected(index, normalizePath(c.selector),
                                   [&](const std::string& key, const CatalogueEntry&) { got.push_back(key); });
    EXPECT_EQ(got, c.expected) << "selector: " << c.selector;
    EXPECT_EQ(count, c.expected.size()) << "selector: " << c.selector;
  }
}

TEST(CatalogueSelection, TargetPaths) {
  struct Case {
    const char *folder, *selector, *key, *expected;
  };
  const std::vector<Case> cases = {
      {"D:\\Sim\\Aircraft\\towerlink", "/fs/aircraft/towerlink", "\\fs\\aircraft\\towerlink\\model.c172\\model.cfg",
       "D:\\Sim\\Aircraft\\towerlink\\model.c172\\model.cfg"},
      {"D:\\Sim\\Aircraft\\towerlink\\", "/fs/aircraft/towerlink", "\\fs\\aircraft\\towerlink\\model.c172\\model.cfg",
       "D:\\Sim\\Aircraft\\towerlink\\model.c172\\model.cfg"},
      {"C:\\Program Files\\TowerLink\\", "/tl/global", "\\tl\\global\\readme.txt",
       "C:\\Program Files\\TowerLink\\readme.txt"},
      {"C:\\P", "/tl/glob", "\\tl\\global\\readme.txt", "C:\\P\\al\\readme.txt"},
      {"C:\\P", "/tl/tl/a.exe", "\\tl\\tl\\a.exe", "C:\\P\\"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(buildTargetPath(c.folder, normalizePath(c.selector), c.key, LeadBytes()), c.expected)
        << "folder " << c.folder << " selector " << c.selector << " key " << c.key;
  }
}

TEST(CatalogueSelection, ParentPath) {
  EXPECT_EQ(parentPath("C:\\a\\b\\c.txt", LeadBytes()), "C:\\a\\b");
  EXPECT_EQ(parentPath("C:\\a\\", LeadBytes()), "C:\\a");
  EXPECT_EQ(parentPath("c.txt", LeadBytes()), "");
}

}  // namespace

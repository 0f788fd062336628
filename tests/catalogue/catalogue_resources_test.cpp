// Payload modules built by the packer, read back through the resource calls
// the installer uses: the catalogue and every chunk are language-neutral
// RT_RCDATA resources equal to what the packer wrote, and every entry's
// stream, walked across the chunks, inflates to its file in the tree.
#include <windows.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "payload/catalogue.h"
#include "platform/handles.h"
#include "tests/support/test_support.h"

namespace {

class Inflater {
 public:
  Inflater() { ready_ = inflateInit(&z_) == Z_OK; }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() {
    if (ready_) inflateEnd(&z_);
  }
  bool ready() const { return ready_; }
  z_stream& get() { return z_; }

 private:
  z_stream z_{};
  bool ready_ = false;
};

struct Resource {
  const uint8_t* data = nullptr;
  DWORD size = 0;
  DWORD error = 0;  // GetLastError() of the call that failed
};

// Through the language-neutral lookup, as the payload is declared.
Resource neutralResource(HMODULE module, uint32_t id) {
  Resource r;
  HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(id),
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  if (found == nullptr) {
    r.error = GetLastError();
    return r;
  }
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) {
    r.error = GetLastError();
    return r;
  }
  r.data = static_cast<const uint8_t*>(LockResource(loaded));
  r.size = SizeofResource(module, found);
  return r;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using tltest::fileExists;

std::string chunkFile(const std::string& dir, uint32_t k) {
  char name[32];
  std::snprintf(name, sizeof name, "\\chunk%04u.bin", k);
  return dir + name;
}

struct Fixture {
  const char* module;
  const char* payloadDir;
  uint32_t chunkSize;
};

class PayloadModule : public ::testing::TestWithParam<Fixture> {};

TEST_P(PayloadModule, ResourcesMatchThePackerOutputAndInflateToTheTree) {
  const Fixture& f = GetParam();
  win::Module module(LoadLibraryExA(f.module, nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_NE(module.get(), nullptr) << f.module << " error " << GetLastError();

  Resource catalogue = neutralResource(module.get(), kCatalogueResourceId);
  ASSERT_NE(catalogue.data, nullptr) << "error " << catalogue.error;
  std::vector<uint8_t> catalogueFile = readFile(std::string(f.payloadDir) + "\\catalogue.bin");
  ASSERT_FALSE(catalogueFile.empty());
  EXPECT_EQ(std::vector<uint8_t>(catalogue.data, catalogue.data + catalogue.size), catalogueFile);

  uint32_t chunkSize = 0;
  CatalogueIndex index;
  ASSERT_EQ(parseCatalogue(catalogue.data, catalogue.size, &chunkSize, &index), CatalogueParse::Ok);
  EXPECT_EQ(chunkSize, f.chunkSize);
  EXPECT_EQ(index.size(), 8u);
  EXPECT_EQ(index.count("\\tl\\tl\\sub\\upper.txt"), 1u);  // lowered from UPPER.TXT on disk

  uint32_t chunks = 0;
  while (fileExists(chunkFile(f.payloadDir, chunks + 1))) ++chunks;
  ASSERT_GT(chunks, 0u);
  for (uint32_t k = 1; k <= chunks; ++k) {
    SCOPED_TRACE("chunk " + std::to_string(k) + " of " + std::to_string(chunks));
    Resource chunk = neutralResource(module.get(), k);
    ASSERT_NE(chunk.data, nullptr) << "error " << chunk.error;
    std::vector<uint8_t> expected = readFile(chunkFile(f.payloadDir, k));
    if (k < chunks) EXPECT_EQ(chunk.size, chunkSize);
    EXPECT_GE(chunk.size, 1u);
    EXPECT_EQ(std::vector<uint8_t>(chunk.data, chunk.data + chunk.size), expected);
  }
  Resource beyond = neutralResource(module.get(), chunks + 1);
  EXPECT_EQ(beyond.data, nullptr);
  EXPECT_EQ(beyond.error, static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));

  for (const auto& [name, entry] : index) {
    SCOPED_TRACE(name);
    Inflater inflater;
    ASSERT_TRUE(inflater.ready());
    z_stream& z = inflater.get();
    std::vector<uint8_t> out(entry.uncompressedSize + 1);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int rc = Z_OK;
    bool walked = forEachPiece(entry, chunkSize, [&](const StreamPiece& piece) {
      Resource chunk = neutralResource(module.get(), piece.chunkId);
      if (chunk.data == nullptr || piece.position + piece.length > chunk.size) return false;
      z.next_in = const_cast<Bytef*>(chunk.data + piece.position);
      z.avail_in = piece.length;
      while (z.avail_in > 0 && rc == Z_OK) rc = inflate(&z, Z_NO_FLUSH);
      return rc == Z_OK || (rc == Z_STREAM_END && z.avail_in == 0);
    });
    ASSERT_TRUE(walked);
    EXPECT_EQ(rc, Z_STREAM_END) << "the stream must end exactly at compressedSize";
    out.resize(z.total_out);
    std::string onDisk = std::string(TL_FIXTURE_TREE) + name;
    EXPECT_EQ(out, readFile(onDisk)) << onDisk;
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PayloadModule,
                         ::testing::Values(Fixture{"catalogue_fixture.dll", TL_FIXTURE_PAYLOAD, 65536},
                                           Fixture{"catalogue_fixture_256.dll", TL_FIXTURE_PAYLOAD_256, 256}),
                         [](const ::testing::TestParamInfo<Fixture>& info) {
                           return std::string("chunk") + std::to_string(info.param.chunkSize);
                         });

TEST(PayloadModuleFailures, ModuleWithoutAPayloadHasNoCatalogue) {
  char self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  win::Module module(LoadLibraryExA(self, nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_NE(module.get(), nullptr);
  Resource catalogue = neutralResource(module.get(), kCatalogueResourceId);
  EXPECT_EQ(catalogue.data, nullptr);
  EXPECT_TRUE(catalogue.error == ERROR_RESOURCE_TYPE_NOT_FOUND || catalogue.error == ERROR_RESOURCE_DATA_NOT_FOUND ||
              catalogue.error == ERROR_RESOURCE_NAME_NOT_FOUND)
      << "error " << catalogue.error;
}

}  // namespace

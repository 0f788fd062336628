// Modules built by the packer from one small tree: every payload root is
// extracted and compared byte for byte with the tree on disk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/file_extractor_impl.h"
#include "tests/support/test_support.h"
#include "system/uninstaller_setup_impl.h"

namespace {

class NullStatus : public Porter::FileExtractorStatus {
 public:
  void fileStarted(const char*, const char*) override { ++started; }
  void fileProgress(uint32_t, uint32_t, uint32_t, uint32_t) override {}
  void fileFinished() override { ++finished; }
  int started = 0;
  int finished = 0;
};

// Module handle of a packed payload, freed at the end.
struct PackedModule {
  HMODULE module;
  explicit PackedModule(const std::string& path)
      : module(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
  PackedModule(const PackedModule&) = delete;
  PackedModule& operator=(const PackedModule&) = delete;
  ~PackedModule() {
    if (module != nullptr) FreeLibrary(module);
  }
};

std::string lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return text;
}

class PackedPayload : public ::testing::TestWithParam<const char*> {};

TEST_P(PackedPayload, EveryRootExtractsToTheTreesBytes) {
  const std::string dll = std::string(TL_PACKED_DIR) + "\\" + GetParam();
  PackedModule packed(dll);
  ASSERT_NE(packed.module, nullptr) << dll;
  FileExtractorImpl extractor;
  NullStatus status;
  ASSERT_TRUE(extractor.init(packed.module, &status)) << dll;

  const std::vector<std::string> treeFiles = tltest::listFiles(TL_PACKED_TREE);
  ASSERT_EQ(extractor.index().size(), treeFiles.size()) << dll;

  tltest::ScopedTempDir temp;
  ASSERT_TRUE(temp.valid());
  UninstallerSetupImpl* record = new UninstallerSetupImpl("TowerLink Test", "", "", "");
  const char* roots[] = {"/tl/tl", "/tl/global", "/tl/fs", "/fs/modules", "/fs/aircraft"};
  for (const char* root : roots) {
    std::string folder = temp.file(lower(root + 1));
    for (char& c : folder) c = c == '/' ? '\\' : c;
    EXPECT_EQ(extractor.extractFolder(root, folder.c_str(), record, "d", nullptr), ExtractResult::Ok) << root;
  }
  EXPECT_EQ(record->events.size(), treeFiles.size());
  EXPECT_EQ(status.finished, static_cast<int>(treeFiles.size()));

  uint32_t total = 0;
  for (const std::string& relative : treeFiles) {
    std::string expected, actual;
    ASSERT_TRUE(tltest::readFile(std::string(TL_PACKED_TREE) + "\\" + relative, &expected)) << relative;
    // Catalogue names are lower case, and so are the files written from them.
    EXPECT_TRUE(tltest::readFile(temp.file(lower(relative)), &actual)) << relative;
    EXPECT_TRUE(actual == expected) << relative << ": " << actual.size() << " bytes, expected " << expected.size();
    total += static_cast<uint32_t>(expected.size());
  }
  uint32_t compressed = 0, uncompressedTl = 0, uncompressedFs = 0;
  ASSERT_EQ(extractor.getFolderSizes("/tl", &compressed, &uncompressedTl), ExtractResult::Ok);
  ASSERT_EQ(extractor.getFolderSizes("/fs", &compressed, &uncompressedFs), ExtractResult::Ok);
  EXPECT_EQ(uncompressedTl + uncompressedFs, total);

  record->displayName.clear();  // discard: commit refuses a nameless record before writing
  record->commit();
}

INSTANTIATE_TEST_SUITE_P(Chunks, PackedPayload,
                         ::testing::Values("extractor_packed.dll", "extractor_packed_512.dll"));

}  // namespace

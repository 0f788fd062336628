// The payload check against payload DLLs built at run time: a sound payload
// passes, and every kind of damage gives the number its extraction would
// give, found before anything would be written.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "payload/payload_check.h"
#include "tests/support/payload_fixture.h"
#include "tests/support/test_support.h"

namespace {

using tltest::FixtureEntry;
using tltest::FixtureFile;
using tltest::PayloadFixture;
using tltest::PayloadOptions;
using tltest::ScopedTempDir;

// Streams in a payload order unlike the catalogue's: the check must not
// depend on either.
std::vector<FixtureFile> files() {
  return {
      {"\\tl\\fs\\tltrans10.dll", tltest::patternBytes(6000, 1, false)},
      {"\\tl\\global\\readme.txt", tltest::patternBytes(1200, 2, true)},
      {"\\tl\\tl\\tlimage.dll", tltest::patternBytes(9000, 3, false)},
      {"\\fs\\aircraft\\vip\\texture\\a.bmp", tltest::patternBytes(5000, 4, false)},
  };
}

struct CheckCase {
  const char* what;
  std::function<void(PayloadOptions&, size_t streamLength)> shape;
  int expected;
};

TEST(PayloadCheck, EveryDamageIsFoundWithTheExtractorsNumber) {
  const CheckCase cases[] = {
      {"sound payload", [](PayloadOptions&, size_t) {}, 0},
      {"byte turned in the first stream's header", [](PayloadOptions& o, size_t) { o.xorStreamBytes[1] = 0xFF; }, 8},
      {"byte turned in the middle", [](PayloadOptions& o, size_t n) { o.xorStreamBytes[n / 2] = 0x10; }, 8},
      {"last check byte of the last stream", [](PayloadOptions& o, size_t n) { o.xorStreamBytes[n - 1] = 0x01; }, 8},
      {"chunk missing", [](PayloadOptions& o, size_t) { o.missingChunks = {20}; }, 4},
      {"last chunk cut short", [](PayloadOptions& o, size_t n) { o.chunkLengths[static_cast<uint32_t>(n / 512 + 1)] = 1; }, 4},
      {"catalogue cut short", [](PayloadOptions& o, size_t) { o.catalogueLength = 40; }, 4},
      {"no catalogue", [](PayloadOptions& o, size_t) { o.omitCatalogue = true; }, 4},
      {"stream shorter than its entry says",
       [](PayloadOptions& o, size_t) {
         o.editEntries = [](std::vector<FixtureEntry>& e) { e[2].compressedSize -= 3; };
       },
       8},
      {"two damages in two streams: the earlier in payload order is reported",
       [](PayloadOptions& o, size_t n) {
         o.xorStreamBytes[n / 10] = 0xFF;
         o.missingChunks = {static_cast<uint32_t>(n / 512 + 1)};
       },
       8},
  };
  // The stream's length, for positions relative to it.
  ScopedTempDir sizing;
  PayloadFixture sound;
  PayloadOptions small;
  small.chunkSize = 512;
  ASSERT_TRUE(sound.build(sizing.file("sound.dll"), files(), small)) << sound.error();
  const size_t length = sound.stream().size();
  ASSERT_GT(length / 512, 20u) << "the cases need more than 20 chunks";

  for (const CheckCase& c : cases) {
    ScopedTempDir folder;
    PayloadFixture payload;
    PayloadOptions options;
    options.chunkSize = 512;
    c.shape(options, length);
    ASSERT_TRUE(payload.build(folder.file("payload.dll"), files(), options)) << c.what << ": " << payload.error();
    EXPECT_EQ(checkPayload(payload.module()), c.expected) << c.what;
    // The same answer from a check on a thread of its own, and a module it
    // was not started for is checked on the caller's thread.
    PayloadCheck background;
    background.start(payload.module());
    EXPECT_EQ(background.result(payload.module()), c.expected) << c.what << ", on its thread";
    EXPECT_EQ(background.result(sound.module()), 0) << c.what << ", another module";
  }
}

}  // namespace

// Properties of the add-on file editor over many generated dll.xml-like files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/addon/addon_file_generator.h"
#include "tests/addon/addon_text.h"
#include "install/addon_edit.h"

namespace {

using namespace addontest;

const int kFiles = 20000;
const std::vector<std::string> kModules = {"tltrans10.dll", "tlaicontrol10.dll", "tlmod10.dll"};
const char* const kNames[] = {"TowerLink Transponder", "TowerLink AI Control", "TowerLink Internal Version"};

std::vector<std::string> othersThan(size_t m) {
  std::vector<std::string> others;
  for (size_t i = 0; i < kModules.size(); ++i) {
    if (i != m) others.push_back(kModules[i]);
  }
  return others;
}

std::string printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n\n";
    else if (c < 32 || c > 126) {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

TEST(AddonFileProperties, OneRegistrationKeepsEverythingElseAndLeavesExactlyOneEntry) {
  int files = 0, inserted = 0, rewritten = 0, failures = 0;
  for (int seed = 0; seed < kFiles && failures < 5; ++seed) {
    ++files;
    const size_t m = static_cast<size_t>(seed) % kModules.size();
    GeneratedFile g = generateAddonFile(static_cast<uint64_t>(seed), kModules[m], othersThan(m));
    AddonEntry e = entryFor(kNames[m], seed % 2 ? "C:\\Program Files\\TowerLink\\" : "D:\\A&B <c>\\", kModules[m]);
    AddonEdit edit = editAddonFile(g.bytes, e);
    inserted += edit.inserted;
    rewritten += edit.blocksRewritten;
    const int before = failures;

    // Every line ends with CR LF.
    if (!edit.bytes.empty() && edit.bytes.compare(edit.bytes.size() - 2, 2, "\r\n") != 0) ++failures;
    for (size_t i = 0; i < edit.bytes.size(); ++i) {
      if (edit.bytes[i] == '\n' && (i == 0 || edit.bytes[i - 1] != '\r')) {
        ++failures;
        break;
      }
    }

    // The module's entries, and nothing but them, go; what is left is what
    // the file held outside them, in order.
    std::vector<std::string> lines = splitCrLf(edit.bytes);
    std::vector<size_t> at = entryPositions(lines, e);
    const int expectedEntries = g.moduleEntries > 0 ? g.moduleEntries : (g.hasDocumentClose ? 1 : 0);
    EXPECT_EQ(static_cast<int>(at.size()), expectedEntries) << "seed " << seed;
    if (static_cast<int>(at.size()) != expectedEntries) ++failures;
    std::vector<std::string> rest;
    for (size_t i = 0, next = 0; i < lines.size(); ++i) {
      if (next < at.size() && at[next] == i) {
        i += 5;
        ++next;
        continue;
      }
      rest.push_back(lines[i]);
    }
    EXPECT_EQ(rest, g.keptLines) << "seed " << seed;
    if (rest != g.keptLines) ++failures;

    // A new entry stands right before the document's closing line.
    if (edit.inserted) {
      EXPECT_EQ(at.size(), 1u);
      EXPECT_TRUE(at.size() == 1 && at[0] + 6 < lines.size() &&
                  lines[at[0] + 6].find("</SimBase.Document>") != std::string::npos)
          << "seed " << seed;
    }

    // The same registration again changes nothing.
    AddonEdit again = editAddonFile(edit.bytes, e);
    EXPECT_EQ(again.bytes, edit.bytes) << "seed " << seed;
    EXPECT_FALSE(again.inserted) << "seed " << seed;
    if (again.bytes != edit.bytes) ++failures;

    if (failures != before) ADD_FAILURE() << "seed " << seed << ", input:\n" << printable(g.bytes);
  }
  std::printf("[ figures  ] %d generated files, %d entries inserted, %d entries rewritten\n", files, inserted,
              rewritten);
  EXPECT_GT(inserted, kFiles / 10) << "the generator no longer produces files without the module";
  EXPECT_GT(rewritten, kFiles / 10) << "the generator no longer produces files with the module";
}

TEST(AddonFileProperties, AFullRunRegistersEachModuleOnceAndIsIdempotent) {
  // All three modules in a row, as a SameComputer run does, then the run again.
  int files = 0;
  for (int seed = 0; seed < kFiles / 4; ++seed) {
    GeneratedFile g = generateAddonFile(static_cast<uint64_t>(seed) * 7919u + 1, kModules[0], {});
    if (!g.hasDocumentClose || g.moduleEntries > 1) continue;
    ++files;
    std::string file = g.bytes;
    for (int run = 0; run < 2; ++run) {
      const std::string before = file;
      for (size_t m = 0; m < kModules.size(); ++m) file = editAddonFile(file, entryFor(kNames[m], "C:\\TL\\", kModules[m])).bytes;
      if (run == 1) EXPECT_EQ(file, before) << "seed " << seed << " input:\n" << printable(g.bytes);
    }
    for (size_t m = 0; m < kModules.size(); ++m) {
      EXPECT_EQ(countEntries(file, entryFor(kNames[m], "C:\\TL\\", kModules[m])), 1)
          << "seed " << seed << " module " << kModules[m] << " input:\n" << printable(g.bytes);
    }
  }
  std::printf("[ figures  ] %d generated files through two full runs\n", files);
}

}  // namespace

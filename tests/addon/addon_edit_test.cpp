// The add-on file's line editing, on bytes: runs on the host under the
// sanitizers and again under Wine as a Windows build of the same sources.
#include "install/addon_edit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>

#include "tests/addon/addon_text.h"

namespace {

using addontest::countEntries;
using addontest::crlf;
using addontest::entryFor;

struct ElementCase {
  const char* line;
  bool accepted;
  const char* tag;
  const char* value;
};

TEST(ParseElementLine, SplitsSingleLineElementsAndRefusesEverythingElse) {
  const ElementCase cases[] = {
      {"    <Path>C:\\Program Files\\TowerLink\\tltrans10.dll</Path>", true, "Path",
       "C:\\Program Files\\TowerLink\\tltrans10.dll"},
      {"<Name>TowerLink Transponder</Name>", true, "Name", "TowerLink Transponder"},
      {"<Name></Name>", true, "Name", ""},
      {"\t<Disabled>False</Disabled>  ", true, "Disabled", "False"},
      {"  <Path>  padded  </Path>", true, "Path", "  padded  "},    // no trimming
      {"<Path>A&amp;B</Path>", true, "Path", "A&amp;B"},             // no decoding
      {"<Value>x>y</Value>", true, "Value", "x>y"},                  // '>' inside the value
      {"text before <a>v</a> and after", true, "a", "v"},
      {"<a>v<xa>", true, "a", "v"},       // "</" is skipped without being checked
      {"<>x<>", true, "", "x"},           // empty names on both sides
      {"<Name>A</Name><Path>B</Path>", true, "Name", "A"},
      {"<Name lang=\"en\">X</Name>", false, "", ""},  // attribute
      {"<!-- comment -->", false, "", ""},
      {"<Disabled/>", false, "", ""},                  // empty-element tag
      {"<Path>", false, "", ""},                       // element spread over lines
      {"C:\\spread\\value", false, "", ""},
      {"</Path>", false, "", ""},
      {"<a>v</b>", false, "", ""},
      {"<a>v</a", false, "", ""},
      {"<a>v<>", false, "", ""},
      {"<Path>v</path>", false, "", ""},  // names compared exactly
      {"", false, "", ""},
      {"no tags at all", false, "", ""},
      {"<unclosed", false, "", ""},
  };
  for (const auto& c : cases) {
    std::string tag = "untouched", value = "untouched";
    bool ok = parseElementLine(c.line, tag, value);
    EXPECT_EQ(ok, c.accepted) << "line: [" << c.line << "]";
    if (c.accepted) {
      EXPECT_EQ(tag, c.tag) << "line: [" << c.line << "]";
      EXPECT_EQ(value, c.value) << "line: [" << c.line << "]";
    } else {
      EXPECT_EQ(tag, "untouched") << "a refused line must leave the outputs: [" << c.line << "]";
      EXPECT_EQ(value, "untouched") << "a refused line must leave the outputs: [" << c.line << "]";
    }
  }
}

TEST(XmlText, EscapesWhatWouldBreakTheFileAndDecodesForMatching) {
  const struct {
    const char* raw;
    const char* escaped;
  } cases[] = {
      {"C:\\Program Files\\TowerLink\\", "C:\\Program Files\\TowerLink\\"},
      {"C:\\A&B\\", "C:\\A&amp;B\\"},
      {"C:\\<x>\\", "C:\\&lt;x&gt;\\"},
      {"&amp;", "&amp;amp;"},  // escaped once, decoded once
      {"a\r\nb", "a&#13;&#10;b"},
      {"\xC4rger \x80\xFF", "\xC4rger \x80\xFF"},  // bytes above 127 pass unchanged
  };
  for (const auto& c : cases) {
    EXPECT_EQ(escapeXml(c.raw), c.escaped) << "raw: [" << c.raw << "]";
    EXPECT_EQ(unescapeXml(c.escaped), c.raw) << "escaped: [" << c.escaped << "]";
  }
  const struct {
    const char* in;
    const char* out;
  } decodes[] = {
      {"&quot;&apos;&#65;&#x42;&#X43;", "\"'ABC"},
      {"&#0;&#128;&#x100;&#99999999999;", "&#0;&#128;&#x100;&#99999999999;"},  // outside 1..127: kept
      {"&unknown; & &amp &#; &#x; &#1a;", "&unknown; & &amp &#; &#x; &#1a;"},
      {"&#116;ltrans10.dll", "tltrans10.dll"},
      {"trailing &", "trailing &"},
  };
  for (const auto& d : decodes) EXPECT_EQ(unescapeXml(d.in), d.out) << "in: [" << d.in << "]";
}

TEST(NewAddonFile, FourteenLinesWithCrLf) {
  AddonEntry e = entryFor("TowerLink Transponder", "C:\\Program Files\\TowerLink\\", "tltrans10.dll");
  EXPECT_EQ(newAddonFile("dll.xml", e),
            crlf({"<?xml version=\"1.0\" encoding=\"Windows-1252\"?>", "",
                  "<SimBase.Document Type=\"Launch\" version=\"1,0\">", "  <Descr>Launch</Descr>",
                  "  <Filename>dll.xml</Filename>", "  <Disabled>False</Disabled>",
                  "  <Launch.ManualLoad>False</Launch.ManualLoad>", "  <Launch.Addon>",
                  "    <Name>TowerLink Transponder</Name>", "    <Disabled>False</Disabled>",
                  "    <ManualLoad>False</ManualLoad>",
                  "    <Path>C:\\Program Files\\TowerLink\\tltrans10.dll</Path>", "  </Launch.Addon>",
                  "</SimBase.Document>"}));
}

// --- Registering into files that already hold entries ---------------------

const char kDir[] = "C:\\Program Files\\TowerLink\\";
const char kOtherDir[] = "D:\\Sim\\TowerLink\\";

AddonEntry transponder(const char* dir = kDir) { return entryFor("TowerLink Transponder", dir, "tltrans10.dll"); }
AddonEntry aiControl(const char* dir = kDir) { return entryFor("TowerLink AI Control", dir, "tlaicontrol10.dll"); }
AddonEntry internal(const char* dir = kDir) { return entryFor("TowerLink Internal Version", dir, "tlmod10.dll"); }

TEST(EditAddonFile, SimulatorOnlyRunEndsWithTwoEntriesInOrder) {
  std::string file = newAddonFile("dll.xml", transponder());
  AddonEdit edit = editAddonFile(file, aiControl());
  EXPECT_TRUE(edit.inserted);
  EXPECT_EQ(edit.blocksRewritten, 0);
  std::string expected = file;
  expected.insert(expected.find("</SimBase.Document>"), addonEntryText(aiControl()));
  EXPECT_EQ(edit.bytes, expected);
  EXPECT_EQ(edit.bytes.find("Internal"), std::string::npos);
}

TEST(EditAddonFile, InstallingAgainIntoAnotherFolderRewritesWithoutDuplicating) {
  std::string file = newAddonFile("dll.xml", transponder());
  file = editAddonFile(file, aiControl()).bytes;
  file = editAddonFile(file, internal()).bytes;
  const std::string firstInstall = file;
  for (const AddonEntry& e : {transponder(kOtherDir), aiControl(kOtherDir), internal(kOtherDir)}) {
    AddonEdit edit = editAddonFile(file, e);
    EXPECT_FALSE(edit.inserted) << e.moduleFile;
    EXPECT_EQ(edit.blocksRewritten, 1) << e.moduleFile;
    file = edit.bytes;
  }
  EXPECT_EQ(file.size(), firstInstall.size() + 3 * (std::string(kOtherDir).size() - std::string(kDir).size()));
  EXPECT_EQ(file.find(kDir), std::string::npos);
  for (const AddonEntry& e : {transponder(kOtherDir), aiControl(kOtherDir), internal(kOtherDir)}) {
    EXPECT_EQ(countEntries(file, e), 1) << e.moduleFile;
  }
}

TEST(EditAddonFile, EveryBlockNamingTheModuleIsRewrittenAndNothingAdded) {
  std::string file = crlf({"<SimBase.Document>", "  <Launch.Addon>", "    <Name>Old</Name>",
                           "    <Path>C:\\A\\tltrans10.dll</Path>", "    <!-- old note -->", "  </Launch.Addon>",
                           "<Launch.Addon>", "\t<Path>C:\\B\\tltrans10.dll</Path>", "</Launch.Addon>",
                           "</SimBase.Document>"});
  AddonEdit edit = editAddonFile(file, transponder());
  EXPECT_FALSE(edit.inserted);
  EXPECT_EQ(edit.blocksRewritten, 2);
  // The module's block gets the four lines of the entry; opening and closing
  // lines stay as they were read.
  const std::string body = "    <Name>TowerLink Transponder</Name>\r\n    <Disabled>False</Disabled>\r\n"
                           "    <ManualLoad>False</ManualLoad>\r\n"
                           "    <Path>C:\\Program Files\\TowerLink\\tltrans10.dll</Path>\r\n";
  EXPECT_EQ(edit.bytes, "<SimBase.Document>\r\n  <Launch.Addon>\r\n" + body + "  </Launch.Addon>\r\n" +
                            "<Launch.Addon>\r\n" + body + "</Launch.Addon>\r\n</SimBase.Document>\r\n");
}

TEST(EditAddonFile, ForeignEntriesKeepEveryLineInOrder) {
  std::string file = crlf({"<SimBase.Document>", "  <Launch.Addon>", "        <Name>Vendor</Name>",
                           "\t<Disabled>True</Disabled>  ", "    <!-- vendor note -->",
                           "    <Name lang=\"en\">Attributed</Name>", "    <CommandLine>", "      -fast",
                           "    </CommandLine>", "    <ManualLoad/>", "", "  <Name>A</Name><Path>B</Path>",
                           "<Path>C:\\Vendor\\vendor.dll</Path>", "  </Launch.Addon>", "</SimBase.Document>"});
  AddonEdit edit = editAddonFile(file, transponder());
  EXPECT_EQ(edit.bytes,
            crlf({"<SimBase.Document>", "  <Launch.Addon>", "    <Name>Vendor</Name>", "    <Disabled>True</Disabled>",
                  "    <!-- vendor note -->", "    <Name lang=\"en\">Attributed</Name>", "    <CommandLine>",
                  "      -fast", "    </CommandLine>", "    <ManualLoad/>", "", "  <Name>A</Name><Path>B</Path>",
                  "    <Path>C:\\Vendor\\vendor.dll</Path>", "  </Launch.Addon>"}) +
                addonEntryText(transponder()) + "</SimBase.Document>\r\n");
}

struct LineEndCase {
  const char* name;
  std::string in;
  std::string out;
};

TEST(EditAddonFile, LineBreaksAreNormalisedWithoutAddingOrLosingLines) {
  // No closing line of the document: nothing is inserted, the rest is copied.
  const LineEndCase cases[] = {
      {"last line without break", "a\r\nb", "a\r\nb\r\n"},
      {"ends with a break", "a\r\nb\r\n", "a\r\nb\r\n"},
      {"LF only", "a\nb\n", "a\r\nb\r\n"},
      {"mixed", "a\nb\r\nc", "a\r\nb\r\nc\r\n"},
      {"empty lines elsewhere", "\r\na\r\n\r\n\r\nb\r\n", "\r\na\r\n\r\n\r\nb\r\n"},
      {"only an empty line", "\r\n", "\r\n"},
      {"empty file", "", ""},
      {"lone CR inside a line", "a\rb\r\n", "a\rb\r\n"},
      {"CR before CR LF", "a\r\r\n", "a\r\r\n"},
      {"CR ending the last line", "a\r", "a\r\n"},
      {"bytes above 127, NUL and Ctrl-Z", std::string("\xE9\x80\xFF\0\x1A z\n", 8),
       std::string("\xE9\x80\xFF\0\x1A z\r\n", 9)},
  };
  for (const auto& c : cases) {
    AddonEdit edit = editAddonFile(c.in, transponder());
    EXPECT_EQ(edit.bytes, c.out) << c.name;
    EXPECT_FALSE(edit.inserted) << c.name;
  }
}

TEST(EditAddonFile, NoDocumentClosingLineCopiesTheFileWithoutTheEntry) {
  std::string file = crlf({"<SimBase.Document>", "  <Launch.Addon>", "    <Path>C:\\x\\other.dll</Path>",
                           "  </Launch.Addon>"});
  AddonEdit edit = editAddonFile(file, transponder());
  EXPECT_FALSE(edit.inserted);
  EXPECT_EQ(edit.blocksRewritten, 0);
  EXPECT_EQ(edit.bytes, file);
}

TEST(EditAddonFile, ModuleFileMatchesOnlyWithItsCaseAndOnlyInAPathElement) {
  const struct {
    const char* name;
    const char* line;
  } notOurs[] = {
      {"upper case", "    <Path>C:\\OLD\\TLTRANS10.DLL</Path>"},
      {"other tag", "    <Name>tltrans10.dll</Name>"},
      {"tag case", "    <path>C:\\x\\tltrans10.dll</path>"},
      {"attribute on Path", "    <Path a=\"1\">C:\\x\\tltrans10.dll</Path>"},
  };
  for (const auto& c : notOurs) {
    std::string file = crlf({"<SimBase.Document>", "<Launch.Addon>", c.line, "</Launch.Addon>",
                             "</SimBase.Document>"});
    AddonEdit edit = editAddonFile(file, transponder());
    EXPECT_TRUE(edit.inserted) << c.name;
    EXPECT_EQ(edit.blocksRewritten, 0) << c.name;
    EXPECT_NE(edit.bytes.find(c.line), std::string::npos) << c.name;
  }
  // A Path that merely contains the file name somewhere is the module's.
  std::string file = crlf({"<SimBase.Document>", "<Launch.Addon>", "<Path>C:\\x\\tltrans10.dll.old</Path>",
                           "</Launch.Addon>", "</SimBase.Document>"});
  EXPECT_EQ(editAddonFile(file, transponder()).blocksRewritten, 1);
}

TEST(EditAddonFile, EscapedFoldersAreWrittenEscapedAndStillMatch) {
  const char* const dirs[] = {"C:\\Sim & Co\\TowerLink\\", "C:\\<new>\\", "C:\\a&amp;b\\"};
  for (const char* dir : dirs) {
    AddonEntry e = transponder(dir);
    std::string file = newAddonFile("dll.xml", e);
    EXPECT_NE(file.find("<Path>" + escapeXml(e.path) + "</Path>"), std::string::npos) << dir;
    AddonEdit again = editAddonFile(file, e);
    EXPECT_EQ(again.blocksRewritten, 1) << dir;
    EXPECT_EQ(again.bytes, file) << dir;
    AddonEdit moved = editAddonFile(file, transponder(kOtherDir));
    EXPECT_EQ(moved.blocksRewritten, 1) << dir;
    EXPECT_FALSE(moved.inserted) << dir;
  }
  // A Path written by another tool with a character reference still names the module.
  std::string file = crlf({"<SimBase.Document>", "<Launch.Addon>", "<Path>C:\\x\\&#116;ltrans10.dll</Path>",
                           "</Launch.Addon>", "</SimBase.Document>"});
  EXPECT_EQ(editAddonFile(file, transponder()).blocksRewritten, 1);
  // Escaping keeps a hostile name on its own line.
  AddonEntry hostile = entryFor("x</Name>\r\n</Launch.Addon>", "C:\\a\r\nb\\", "tltrans10.dll");
  std::string text = addonEntryText(hostile);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
}

TEST(EditAddonFile, EntryOnOneLineIsABlockOfItsOwn) {
  std::string file = crlf({"<SimBase.Document>",
                           "  <Launch.Addon><Name>V</Name><Path>C:\\v\\vendor.dll</Path></Launch.Addon>",
                           "  <Launch.Addon>", "    <Name>Next</Name>", "  </Launch.Addon>",
                           "<Launch.Addon><Path>C:\\old\\tltrans10.dll</Path></Launch.Addon>",
                           "</SimBase.Document>"});
  AddonEdit edit = editAddonFile(file, transponder());
  EXPECT_EQ(edit.blocksRewritten, 1);
  EXPECT_FALSE(edit.inserted);
  EXPECT_EQ(edit.bytes, crlf({"<SimBase.Document>",
                              "  <Launch.Addon><Name>V</Name><Path>C:\\v\\vendor.dll</Path></Launch.Addon>",
                              "  <Launch.Addon>", "    <Name>Next</Name>", "  </Launch.Addon>"}) +
                            addonEntryText(transponder()) + "</SimBase.Document>\r\n");
}

TEST(EditAddonFile, EntryLeftOpenIsKeptIntact) {
  // Open at the end of the file.
  std::string atEnd = crlf({"<SimBase.Document>", "</SimBase.Document>", "  <Launch.Addon>",
                            "      <Name>Open</Name>", "\t<Path>C:\\x\\tltrans10.dll</Path>"});
  AddonEdit edit = editAddonFile(atEnd, transponder());
  EXPECT_EQ(edit.bytes, crlf({"<SimBase.Document>"}) + addonEntryText(transponder()) +
                            crlf({"</SimBase.Document>", "  <Launch.Addon>", "      <Name>Open</Name>",
                                  "\t<Path>C:\\x\\tltrans10.dll</Path>"}));
  // Open until the next entry or the document's end: neither is swallowed.
  std::string beforeNext = crlf({"<SimBase.Document>", "<Launch.Addon>", "   <Name>Open</Name>", "<Launch.Addon>",
                                 "<Path>C:\\y\\tlmod10.dll</Path>", "</Launch.Addon>", "<Launch.Addon>",
                                 "   <Name>Open too</Name>", "</SimBase.Document>"});
  AddonEdit next = editAddonFile(beforeNext, internal());
  EXPECT_EQ(next.blocksRewritten, 1);
  EXPECT_FALSE(next.inserted);
  EXPECT_NE(next.bytes.find("<Launch.Addon>\r\n   <Name>Open</Name>\r\n<Launch.Addon>\r\n    <Name>TowerLink"),
            std::string::npos);
  EXPECT_NE(next.bytes.find("<Launch.Addon>\r\n   <Name>Open too</Name>\r\n</SimBase.Document>\r\n"),
            std::string::npos);
}

TEST(EditAddonFile, ModuleGetsOneEntryWhereverTheClosingLinesStand) {
  // An entry after the document's closing line still counts.
  std::string after = crlf({"<SimBase.Document>", "</SimBase.Document>", "<Launch.Addon>",
                            "<Path>C:\\x\\tltrans10.dll</Path>", "</Launch.Addon>"});
  AddonEdit edit = editAddonFile(after, transponder());
  EXPECT_FALSE(edit.inserted);
  EXPECT_EQ(countEntries(edit.bytes, transponder()), 1);
  // Two closing lines of the document: the entry goes before the first only.
  std::string twice = crlf({"<SimBase.Document>", "<!-- </SimBase.Document> -->", "</SimBase.Document>"});
  edit = editAddonFile(twice, transponder());
  EXPECT_TRUE(edit.inserted);
  EXPECT_EQ(countEntries(edit.bytes, transponder()), 1);
  EXPECT_EQ(edit.bytes.find(addonEntryText(transponder())), std::string("<SimBase.Document>\r\n").size());
}

}  // namespace

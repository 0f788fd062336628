// The uninstaller's pure decisions: value names, path and key checks, the
// order in which events are undone, and the command line.
#include "tools/uninstaller/removal_plan.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tools/uninstaller/command_line.h"

namespace {

using namespace uninst;

// For messages only: characters beyond ASCII as "?".
std::string narrowForTest(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return s;
}

TEST(RecordValueNames, DecimalIndexWithoutLeadingZeros) {
  EXPECT_EQ(eventValueName(kValueTagPrefix, 0), "PorterTag0");
  EXPECT_EQ(eventValueName(kValueParamsPrefix, 10), "PorterParams10");
  EXPECT_EQ(eventValueName(kValueDescPrefix, 4294967295u), "PorterDesc4294967295");
}

TEST(EventKinds, OnlyTheThreeExactTagsAreKnown) {
  EXPECT_EQ(eventKindFromTag("DeleteFile"), EventKind::DeleteFile);
  EXPECT_EQ(eventKindFromTag("DeleteEmptyDirs"), EventKind::DeleteEmptyDirs);
  EXPECT_EQ(eventKindFromTag("DeleteRegTree"), EventKind::DeleteRegTree);
  for (const char* tag : {"deletefile", "DeleteFile ", "", "DeleteDir", "DeleteRegTree\t"}) {
    EXPECT_EQ(eventKindFromTag(tag), EventKind::Unknown) << "tag [" << tag << "]";
  }
}

struct PathCase {
  const wchar_t* in;
  PathProblem problem;
  const wchar_t* out;
  size_t depth;
};

TEST(NormalizePath, AcceptsFullPathsAndRefusesTheRest) {
  const PathCase cases[] = {
      {L"C:\\Program Files\\TowerLink\\", PathProblem::None, L"C:\\Program Files\\TowerLink", 2},
      {L"c:/a//b\\\\c.dll", PathProblem::None, L"c:\\a\\b\\c.dll", 3},
      {L"C:\\", PathProblem::None, L"C:\\", 0},
      {L"C:\\\\", PathProblem::None, L"C:\\", 0},
      {L"\\\\server\\share\\TowerLink\\x.exe", PathProblem::None, L"\\\\server\\share\\TowerLink\\x.exe", 2},
      {L"\\\\server\\share", PathProblem::None, L"\\\\server\\share", 0},
      {L"C:\\A & B <x>\\\xE9t\xE9", PathProblem::None, L"C:\\A & B <x>\\\xE9t\xE9", 2},
      // A double-byte character whose second ANSI byte is 0x5C ends no name.
      {L"C:\\tl\x8868\\sound\\", PathProblem::None, L"C:\\tl\x8868\\sound", 2},
      // What Windows makes of other spellings of the same folder.
      {L"C:\\windows.", PathProblem::None, L"C:\\windows", 1},
      {L"C:\\Windows . .\\System32 \\", PathProblem::None, L"C:\\Windows\\System32", 2},
      {L"\\\\?\\C:\\Windows\\System32", PathProblem::None, L"C:\\Windows\\System32", 2},
      {L"\\\\?\\UNC\\server\\share\\x", PathProblem::None, L"\\\\server\\share\\x", 1},
      {L"\\\\localhost\\C$\\Windows", PathProblem::None, L"C:\\Windows", 1},
      {L"\\\\127.0.0.1\\d$", PathProblem::None, L"d:\\", 0},
      {L"\\\\?\\UNC\\LOCALHOST\\c$\\x\\", PathProblem::None, L"c:\\x", 1},
      {L"\\\\localhost\\share\\x", PathProblem::None, L"\\\\localhost\\share\\x", 1},
      {L"", PathProblem::Empty, L"", 0},
      {L"TowerLink\\x.dll", PathProblem::NotAbsolute, L"", 0},
      {L"\\TowerLink\\x.dll", PathProblem::NotAbsolute, L"", 0},
      {L"C:TowerLink", PathProblem::NotAbsolute, L"", 0},
      {L"C:", PathProblem::NotAbsolute, L"", 0},
      {L"1:\\x", PathProblem::NotAbsolute, L"", 0},
      {L"\\\\server", PathProblem::NotAbsolute, L"", 0},
      {L"\\\\server\\", PathProblem::NotAbsolute, L"", 0},
      {L"\\\\\\server\\share", PathProblem::NotAbsolute, L"", 0},
      {L"C:\\TowerLink\\..\\Windows", PathProblem::DotComponent, L"", 0},
      {L"C:\\TowerLink\\.\\x", PathProblem::DotComponent, L"", 0},
      {L"C:\\TowerLink\\...\\x", PathProblem::DotComponent, L"", 0},
      {L"C:\\TowerLink\\ \\x", PathProblem::DotComponent, L"", 0},
      {L"C:\\..", PathProblem::DotComponent, L"", 0},
      {L"\\\\server\\.\\x", PathProblem::DotComponent, L"", 0},
      {L"\\\\server\\..", PathProblem::DotComponent, L"", 0},
      {L"\\\\?\\C:\\windows.", PathProblem::DevicePath, L"", 0},
      {L"\\\\?\\Volume{1}\\x", PathProblem::DevicePath, L"", 0},
      {L"\\\\.\\PhysicalDrive0", PathProblem::DevicePath, L"", 0},
  };
  for (const PathCase& c : cases) {
    std::wstring out = L"stale";
    PathProblem p = normalizePath(c.in, &out);
    EXPECT_EQ(static_cast<int>(p), static_cast<int>(c.problem)) << "path [" << narrowForTest(c.in) << "]";
    EXPECT_EQ(out, c.out) << "path [" << narrowForTest(c.in) << "]";
    if (p == PathProblem::None) EXPECT_EQ(pathDepth(out), c.depth) << "path [" << narrowForTest(c.in) << "]";
  }
  std::wstring out;
  EXPECT_EQ(normalizePath(L"\\\\TOWER-PC\\C$\\Windows", &out, {L"tower-pc"}), PathProblem::None);
  EXPECT_EQ(out, L"C:\\Windows");
}

TEST(NormalizePath, ContainmentComparesWholeComponentsIgnoringCase) {
  EXPECT_TRUE(isSameOrInside(L"C:\\Windows", L"c:\\windows"));
  EXPECT_TRUE(isSameOrInside(L"C:\\Windows\\System32", L"C:\\WINDOWS"));
  EXPECT_TRUE(isSameOrInside(L"C:\\Windows", L"C:\\"));
  EXPECT_FALSE(isSameOrInside(L"C:\\Windows2", L"C:\\Windows"));
  EXPECT_FALSE(isSameOrInside(L"C:\\Win", L"C:\\Windows"));
  EXPECT_FALSE(isSameOrInside(L"D:\\Windows", L"C:\\"));
  EXPECT_FALSE(isSameOrInside(L"C:\\x", L""));
  EXPECT_TRUE(samePath(L"C:\\Program Files\\TowerLink\\TLUNINSTALL.EXE", L"c:\\program files\\towerlink\\tluninstall.exe"));
  EXPECT_FALSE(samePath(L"C:\\a\\b", L"C:\\a\\c"));
  EXPECT_EQ(parentPath(L"C:\\a\\b"), L"C:\\a");
  EXPECT_EQ(parentPath(L"C:\\a"), L"C:\\");
  EXPECT_EQ(parentPath(L"\\\\s\\share\\a"), L"\\\\s\\share");
  EXPECT_EQ(parentPath(L"C:\\tl\x8868\\x"), L"C:\\tl\x8868");
}

// Which folders a record's files may lie in, which folders a DeleteEmptyDirs
// may try, and the product folder of an UninstallString.
TEST(RecordFolders, ModelSetsNameTheirSimulatorsModulesFolder) {
  const std::vector<std::wstring> folders = recordFolders(
      {L"C:\\TL", L"C:\\FS9\\Aircraft\\towerlink", L"C:\\FS9\\aircraft\\vip", L"C:\\FSX\\SimObjects\\Airplanes\\vip",
       L"c:\\tl"});
  const std::vector<std::wstring> expected = {L"C:\\TL", L"C:\\FS9\\Aircraft\\towerlink", L"C:\\FS9\\modules",
                                              L"C:\\FS9\\aircraft\\vip", L"C:\\FSX\\SimObjects\\Airplanes\\vip"};
  EXPECT_EQ(folders, expected);

  // Only folders on the way from a file of the record, deepest first, then
  // the recorded folder; "OtherGame" beside them is never tried.
  const std::vector<std::wstring> tried =
      foldersToTry(L"C:\\Games", {L"C:\\Games\\data\\a\\b", L"C:\\Games", L"C:\\Games\\data\\c", L"D:\\x",
                                  L"C:\\GamesX\\y", L"C:\\Games\\data\\a"});
  const std::vector<std::wstring> order = {L"C:\\Games\\data\\a\\b", L"C:\\Games\\data\\a", L"C:\\Games\\data\\c",
                                           L"C:\\Games\\data", L"C:\\Games"};
  EXPECT_EQ(tried, order);

  EXPECT_EQ(productFolderOf(L"C:\\Program Files\\TowerLink\\tluninstall.exe TowerLink", L"TowerLink"),
            L"C:\\Program Files\\TowerLink\\");
  EXPECT_EQ(productFolderOf(L"\\\\srv\\apps\\TL\\TLUNINSTALL.EXE TowerLink", L"TowerLink"), L"\\\\srv\\apps\\TL\\");
  EXPECT_EQ(productFolderOf(L"tluninstall.exe TowerLink", L"TowerLink"), L"");
  EXPECT_EQ(productFolderOf(L"C:\\TL\\other.exe TowerLink", L"TowerLink"), L"");
  // The quoted form of this version; the unquoted one above of earlier ones.
  EXPECT_EQ(productFolderOf(L"\"C:\\Games\\FS Addons\\TowerLink\\tluninstall.exe\" TowerLink", L"TowerLink"),
            L"C:\\Games\\FS Addons\\TowerLink\\");
  EXPECT_EQ(productFolderOf(L"\"C:\\TL\\tluninstall.exe TowerLink", L"TowerLink"), L"");
  EXPECT_EQ(productFolderOf(L"\"C:\\TL\\tluninstall.exe\" Other", L"TowerLink"), L"");
  EXPECT_EQ(productFolderOf(L"\"C:\\TL\\other.exe\" TowerLink", L"TowerLink"), L"");
}

struct KeyCase {
  const wchar_t* in;
  RegistryPathProblem problem;
  RegistryRoot root;
  const wchar_t* subkey;
};

TEST(RegistryPath, OnlyTheVendorsOwnKeys) {
  const KeyCase cases[] = {
      {L"HKEY_LOCAL_MACHINE\\Software\\Brightfold Labs\\TowerLink\\3", RegistryPathProblem::None,
       RegistryRoot::LocalMachine, L"Software\\Brightfold Labs\\TowerLink\\3"},
      {L"HKLM\\software\\brightfold labs\\X\\", RegistryPathProblem::None, RegistryRoot::LocalMachine,
       L"software\\brightfold labs\\X"},
      {L"hkcu\\Software\\\\Brightfold Labs\\A/B", RegistryPathProblem::None, RegistryRoot::CurrentUser,
       L"Software\\Brightfold Labs\\A/B"},
      {L"HKLM\\Software\\Brightfold Labs\\T\x8868", RegistryPathProblem::None, RegistryRoot::LocalMachine,
       L"Software\\Brightfold Labs\\T\x8868"},
      {L"HKLM\\Software\\Brightfold Labs", RegistryPathProblem::Protected, RegistryRoot::LocalMachine, L""},
      {L"HKLM\\Software\\Brightfold Labs Other\\X", RegistryPathProblem::Protected, RegistryRoot::LocalMachine, L""},
      {L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", RegistryPathProblem::Protected,
       RegistryRoot::LocalMachine, L""},
      {L"HKLM\\Software\\Microsoft\\X", RegistryPathProblem::Protected, RegistryRoot::LocalMachine, L""},
      {L"HKLM\\System\\X", RegistryPathProblem::Protected, RegistryRoot::LocalMachine, L""},
      {L"HKLM\\Software\\Wow6432Node\\Brightfold Labs\\X", RegistryPathProblem::Protected, RegistryRoot::LocalMachine,
       L""},
      {L"HKU\\.DEFAULT\\Software\\Brightfold Labs\\X", RegistryPathProblem::Protected, RegistryRoot::Users, L""},
      {L"HKCR\\Software\\Brightfold Labs\\X", RegistryPathProblem::Protected, RegistryRoot::ClassesRoot, L""},
      {L"HKEY_LOCAL_MACHINE", RegistryPathProblem::NoSubkey, RegistryRoot::LocalMachine, L""},
      {L"HKLM\\", RegistryPathProblem::NoSubkey, RegistryRoot::LocalMachine, L""},
      {L"HKEY_LOCAL_MACHINE_X\\Software\\X", RegistryPathProblem::UnknownRoot, RegistryRoot::LocalMachine, L""},
      {L"Software\\Brightfold Labs\\Y", RegistryPathProblem::UnknownRoot, RegistryRoot::LocalMachine, L""},
      {L"", RegistryPathProblem::UnknownRoot, RegistryRoot::LocalMachine, L""},
  };
  for (const KeyCase& c : cases) {
    RegistryPath out;
    out.subkey = L"unchanged";
    RegistryPathProblem p = parseRegistryPath(c.in, &out);
    EXPECT_EQ(static_cast<int>(p), static_cast<int>(c.problem)) << "key [" << narrowForTest(c.in) << "]";
    if (p == RegistryPathProblem::None) {
      EXPECT_EQ(static_cast<int>(out.root), static_cast<int>(c.root)) << "key [" << narrowForTest(c.in) << "]";
      EXPECT_EQ(out.subkey, c.subkey) << "key [" << narrowForTest(c.in) << "]";
    } else {
      EXPECT_EQ(out.subkey, L"unchanged") << "key [" << narrowForTest(c.in) << "]";
    }
  }
}

// The record of a same-computer installation, in the order the installer adds
// the events: registry key, four shortcuts, Start menu folder, program files,
// product folder, simulator modules and model sets, then the shared files that
// are extracted into the product folder after its own DeleteEmptyDirs.
TEST(RemovalOrder, FilesBeforeFoldersInnerFoldersFirstKeysLast) {
  auto file = [] { return PlannedEvent{EventKind::DeleteFile, 0}; };
  auto dir = [](size_t depth) { return PlannedEvent{EventKind::DeleteEmptyDirs, depth}; };
  std::vector<PlannedEvent> events = {
      {EventKind::DeleteRegTree, 0},  // 0 product key
      file(), file(), file(), file(),  // 1-4 shortcuts
      dir(4),                          // 5 Start menu folder
      file(), file(),                  // 6-7 program files
      dir(2),                          // 8 product folder C:\Program Files\TowerLink
      file(),                          // 9 module
      dir(5),                          // 10 aircraft\towerlink
      {EventKind::Unknown, 0},         // 11 something newer
      dir(5),                          // 12 aircraft\vip
      file(), file(),                  // 13-14 shared files (tluninstall.exe among them)
  };
  const std::vector<size_t> expected = {14, 13, 9, 7, 6, 4, 3, 2, 1, 12, 10, 5, 8, 0};
  EXPECT_EQ(removalOrder(events), expected);
}

TEST(RemovalOrder, EveryFolderComesAfterEveryFileAndBeforeItsParent) {
  // Random records: whatever the recorded order, no folder is tried while a
  // recorded file could still be in it, and a nested folder precedes its parent.
  unsigned seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
  for (int round = 0; round < 200; ++round) {
    std::vector<PlannedEvent> events(next() % 30);
    for (PlannedEvent& e : events) {
      e.kind = static_cast<EventKind>(next() % 4);
      e.depth = e.kind == EventKind::DeleteEmptyDirs ? next() % 6 : 0;
    }
    std::vector<size_t> order = removalOrder(events);
    size_t known = std::count_if(events.begin(), events.end(),
                                 [](const PlannedEvent& e) { return e.kind != EventKind::Unknown; });
    ASSERT_EQ(order.size(), known) << "round " << round;
    bool seenFolder = false, seenKey = false;
    size_t lastDepth = ~size_t(0);
    for (size_t k = 0; k < order.size(); ++k) {
      const PlannedEvent& e = events[order[k]];
      if (e.kind == EventKind::DeleteFile) EXPECT_FALSE(seenFolder || seenKey) << "round " << round << " step " << k;
      if (e.kind == EventKind::DeleteEmptyDirs) {
        EXPECT_FALSE(seenKey) << "round " << round;
        EXPECT_LE(e.depth, lastDepth) << "round " << round << " step " << k;
        lastDepth = e.depth;
        seenFolder = true;
      }
      if (e.kind == EventKind::DeleteRegTree) seenKey = true;
      if (k > 0 && events[order[k - 1]].kind == e.kind &&
          (e.kind != EventKind::DeleteEmptyDirs || events[order[k - 1]].depth == e.depth)) {
        EXPECT_GT(order[k - 1], order[k]) << "same kind must run last recorded first, round " << round;
      }
    }
  }
}

TEST(ItemList, ListsUpToTheLimitAndCountsTheRest) {
  EXPECT_EQ(formatItemList({}, 20), "");
  EXPECT_EQ(formatItemList({"a", "b"}, 20), "- a\n- b\n");
  std::vector<std::string> many;
  for (int i = 0; i < 25; ++i) many.push_back("f" + std::to_string(i));
  std::string text = formatItemList(many, 20);
  EXPECT_NE(text.find("- f19\n"), std::string::npos);
  EXPECT_EQ(text.find("- f20"), std::string::npos);
  EXPECT_NE(text.find("...and 5 more\n"), std::string::npos);
}

struct SplitCase {
  const char* text;
  std::vector<std::string> args;
};

TEST(CommandLineSplit, FollowsTheWindowsQuotingRules) {
  const SplitCase cases[] = {
      {"TowerLink /S", {"TowerLink", "/S"}},
      {"  TowerLink\t/quiet  ", {"TowerLink", "/quiet"}},
      {"\"Tower Link\" /S", {"Tower Link", "/S"}},
      {"a\\\\\"b c\" d", {"a\\b c", "d"}},
      {"a\\\"b", {"a\"b"}},
      {"a\\\\\\\"b", {"a\\\"b"}},
      {"C:\\dir\\ x", {"C:\\dir\\", "x"}},
      {"\"\"", {""}},
      {"\"a\"\"b\"", {"a\"b"}},
      {"", {}},
  };
  for (const SplitCase& c : cases) EXPECT_EQ(splitArguments(c.text), c.args) << "text [" << c.text << "]";
}

TEST(CommandLineSplit, QuotingRoundTrips) {
  const char* samples[] = {"TowerLink", "", "Tower Link", "C:\\Program Files\\TowerLink\\",
                           "a\"b", "a\\\"b", "\\\\server\\share\\x y\\", "A & B <x> \xE9", "\t"};
  for (const char* s : samples) {
    std::vector<std::string> back = splitArguments(quoteArgument(s) + " next");
    ASSERT_EQ(back.size(), 2u) << "argument [" << s << "] quoted as [" << quoteArgument(s) << "]";
    EXPECT_EQ(back[0], s) << "quoted as [" << quoteArgument(s) << "]";
  }
}

struct ParseCase {
  const char* line;
  const char* module;
  CommandLineProblem problem;
  const char* name;
  UiLevel ui;
  const char* from;
};

TEST(CommandLineParse, FindsTheRecordNameBehindAnUnquotedProgramPath) {
  const char* mod = "C:\\Program Files\\TowerLink\\tluninstall.exe";
  const ParseCase cases[] = {
      // The UninstallString as the installer writes it, unquoted with spaces.
      {"C:\\Program Files\\TowerLink\\tluninstall.exe TowerLink", mod, CommandLineProblem::None, "TowerLink",
       UiLevel::Full, ""},
      {"c:\\program files\\towerlink\\TLUNINSTALL.EXE TowerLink /S", mod, CommandLineProblem::None, "TowerLink",
       UiLevel::Silent, ""},
      // Started through a path other than the module's own (a short name).
      {"C:\\PROGRA~1\\TOWERL~1\\tluninstall.exe TowerLink /quiet", mod, CommandLineProblem::None, "TowerLink",
       UiLevel::Silent, ""},
      {"D:\\My Apps & Co\\tluninstall.exe TowerLink -passive", mod, CommandLineProblem::None, "TowerLink",
       UiLevel::Passive, ""},
      {"\"C:\\Program Files\\TowerLink\\tluninstall.exe\" TowerLink", mod, CommandLineProblem::None, "TowerLink",
       UiLevel::Full, ""},
      {"tluninstall TowerLink", mod, CommandLineProblem::None, "TowerLink", UiLevel::Full, ""},
      {"\"C:\\Temp\\tluninstall-7.exe\" TowerLink /S /from \"C:\\Program Files\\TowerLink\\tluninstall.exe\"",
       "C:\\Temp\\tluninstall-7.exe", CommandLineProblem::None, "TowerLink", UiLevel::Silent,
       "C:\\Program Files\\TowerLink\\tluninstall.exe"},
      {"tluninstall.exe", mod, CommandLineProblem::NoRecordName, "", UiLevel::Full, ""},
      {"tluninstall.exe /S", mod, CommandLineProblem::NoRecordName, "", UiLevel::Silent, ""},
      {"tluninstall.exe TowerLink /X /S", mod, CommandLineProblem::UnknownOption, "TowerLink", UiLevel::Silent, ""},
      {"tluninstall.exe TowerLink Other", mod, CommandLineProblem::ExtraArgument, "TowerLink", UiLevel::Full, ""},
      {"tluninstall.exe TowerLink /from", mod, CommandLineProblem::MissingOptionValue, "TowerLink", UiLevel::Full, ""},
      {"tluninstall.exe ..\\..\\Run", mod, CommandLineProblem::BadRecordName, "", UiLevel::Full, ""},
      {"tluninstall.exe \"\" /S", mod, CommandLineProblem::BadRecordName, "", UiLevel::Silent, ""},
  };
  for (const ParseCase& c : cases) {
    CommandLine out;
    std::string offending;
    CommandLineProblem p = parseCommandLine(c.line, c.module, &out, &offending);
    EXPECT_EQ(static_cast<int>(p), static_cast<int>(c.problem)) << "line [" << c.line << "]";
    EXPECT_EQ(static_cast<int>(out.ui), static_cast<int>(c.ui)) << "line [" << c.line << "]";
    if (p == CommandLineProblem::None || c.name[0] != '\0') {
      EXPECT_EQ(out.recordName, c.name) << "line [" << c.line << "]";
    }
    if (p == CommandLineProblem::None) EXPECT_EQ(out.originalPath, c.from) << "line [" << c.line << "]";
  }
}

TEST(CommandLineParse, UnderCodePage932ATrailByte0x5CIsNoBackslash) {
  const uint8_t ranges932[] = {0x81, 0x9F, 0xE0, 0xFC, 0, 0};
  const LeadBytes cp932 = LeadBytes::fromRanges(ranges932, sizeof(ranges932));
  const std::string hyo = "\x95\x5C";  // "表"
  const struct {
    std::string args;
    const LeadBytes& leads;
    CommandLineProblem problem;
    std::string name;
  } cases[] = {
      {"TowerLink" + hyo + " /S", cp932, CommandLineProblem::None, "TowerLink" + hyo},
      {"TowerLink" + hyo + " /S", LeadBytes(), CommandLineProblem::BadRecordName, ""},  // a backslash in 1252
      {"\"Tower Link " + hyo + "\" /S", cp932, CommandLineProblem::None, "Tower Link " + hyo},
      {hyo + "\\..\\Run /S", cp932, CommandLineProblem::BadRecordName, ""},
  };
  for (const auto& c : cases) {
    CommandLine out;
    std::string offending;
    EXPECT_EQ(parseCommandLine("tluninstall.exe " + c.args, "tluninstall.exe", &out, &offending, c.leads), c.problem)
        << c.args;
    EXPECT_EQ(out.ui, UiLevel::Silent) << c.args;
    if (c.problem == CommandLineProblem::None) EXPECT_EQ(out.recordName, c.name) << c.args;
  }
  // The copy's arguments: quoted without doubling the trail byte, and read back whole.
  CommandLine args;
  args.recordName = "Tower Link " + hyo;
  args.ui = UiLevel::Silent;
  const std::string original = "C:\\" + hyo + " " + hyo + "\\tluninstall.exe";
  const std::string line = "copy.exe " + buildCopyArguments(args, original, cp932);
  CommandLine back;
  std::string offending;
  ASSERT_EQ(parseCommandLine(line, "copy.exe", &back, &offending, cp932), CommandLineProblem::None) << line;
  EXPECT_EQ(back.recordName, args.recordName);
  EXPECT_EQ(back.originalPath, original);
}

TEST(CommandLineParse, TheCopysArgumentsParseBackToTheSameRun) {
  CommandLine args;
  args.recordName = "TowerLink";
  args.ui = UiLevel::Passive;
  const std::string original = "C:\\Program Files\\A & B\\\xE9\\tluninstall.exe";
  const std::string copy = "C:\\users\\me\\Temp\\tluninstall-0123456789abcdef\\tluninstall.exe";
  std::string line = quoteArgument(copy) + " " + buildCopyArguments(args, original);
  CommandLine back;
  std::string offending;
  ASSERT_EQ(parseCommandLine(line, copy, &back, &offending), CommandLineProblem::None) << line;
  EXPECT_EQ(back.recordName, "TowerLink");
  EXPECT_EQ(back.ui, UiLevel::Passive);
  EXPECT_EQ(back.originalPath, original);
}

}  // namespace

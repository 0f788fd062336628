// The uninstaller's pure decisions: value names, path and key checks, the
// order in which events are undone, and the command line.
#include "tools/uninstaller/removal_plan.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tools/uninstaller/command_line.h"

namespace {

using namespace uninst;

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
  const char* in;
  PathProblem problem;
  const char* out;
  size_t depth;
};

TEST(NormalizePath, AcceptsFullPathsAndRefusesTheRest) {
  const PathCase cases[] = {
      {"C:\\Program Files\\TowerLink\\", PathProblem::None, "C:\\Program Files\\TowerLink", 2},
      {"c:/a//b\\\\c.dll", PathProblem::None, "c:\\a\\b\\c.dll", 3},
      {"C:\\", PathProblem::None, "C:\\", 0},
      {"C:\\\\", PathProblem::None, "C:\\", 0},
      {"\\\\server\\share\\TowerLink\\x.exe", PathProblem::None, "\\\\server\\share\\TowerLink\\x.exe", 2},
      {"\\\\server\\share", PathProblem::None, "\\\\server\\share", 0},
      {"C:\\A & B <x>\\\xE9t\xE9", PathProblem::None, "C:\\A & B <x>\\\xE9t\xE9", 2},
      {"", PathProblem::Empty, "", 0},
      {"TowerLink\\x.dll", PathProblem::NotAbsolute, "", 0},
      {"\\TowerLink\\x.dll", PathProblem::NotAbsolute, "", 0},
      {"C:TowerLink", PathProblem::NotAbsolute, "", 0},
      {"C:", PathProblem::NotAbsolute, "", 0},
      {"1:\\x", PathProblem::NotAbsolute, "", 0},
      {"\\\\server", PathProblem::NotAbsolute, "", 0},
      {"\\\\server\\", PathProblem::NotAbsolute, "", 0},
      {"\\\\\\server\\share", PathProblem::NotAbsolute, "", 0},
      {"C:\\TowerLink\\..\\Windows", PathProblem::DotComponent, "", 0},
      {"C:\\TowerLink\\.\\x", PathProblem::DotComponent, "", 0},
      {"C:\\..", PathProblem::DotComponent, "", 0},
      {"\\\\server\\.\\x", PathProblem::DotComponent, "", 0},
      {"\\\\server\\..", PathProblem::DotComponent, "", 0},
      {"\\\\?\\C:\\x", PathProblem::DevicePath, "", 0},
      {"\\\\.\\PhysicalDrive0", PathProblem::DevicePath, "", 0},
  };
  for (const PathCase& c : cases) {
    std::string out = "stale";
    PathProblem p = normalizePath(c.in, &out);
    EXPECT_EQ(static_cast<int>(p), static_cast<int>(c.problem)) << "path [" << c.in << "]";
    EXPECT_EQ(out, c.out) << "path [" << c.in << "]";
    if (p == PathProblem::None) EXPECT_EQ(pathDepth(out), c.depth) << "path [" << c.in << "]";
  }
}

TEST(NormalizePath, ContainmentComparesWholeComponentsIgnoringCase) {
  EXPECT_TRUE(isSameOrInside("C:\\Windows", "c:\\windows"));
  EXPECT_TRUE(isSameOrInside("C:\\Windows\\System32", "C:\\WINDOWS"));
  EXPECT_TRUE(isSameOrInside("C:\\Windows", "C:\\"));
  EXPECT_FALSE(isSameOrInside("C:\\Windows2", "C:\\Windows"));
  EXPECT_FALSE(isSameOrInside("C:\\Win", "C:\\Windows"));
  EXPECT_FALSE(isSameOrInside("D:\\Windows", "C:\\"));
  EXPECT_FALSE(isSameOrInside("C:\\x", ""));
  EXPECT_TRUE(samePath("C:\\Program Files\\TowerLink\\TLUNINSTALL.EXE", "c:\\program files\\towerlink\\tluninstall.exe"));
  EXPECT_FALSE(samePath("C:\\a\\b", "C:\\a\\c"));
}

struct KeyCase {
  const char* in;
  RegistryPathProblem problem;
  RegistryRoot root;
  const char* subkey;
};

TEST(RegistryPath, RootNamesShortFormsAndGuards) {
  const KeyCase cases[] = {
      {"HKEY_LOCAL_MACHINE\\Software\\Brightfold Labs\\TowerLink\\3", RegistryPathProblem::None,
       RegistryRoot::LocalMachine, "Software\\Brightfold Labs\\TowerLink\\3"},
      {"HKLM\\Software\\X\\", RegistryPathProblem::None, RegistryRoot::LocalMachine, "Software\\X"},
      {"hkcu\\Software\\\\X", RegistryPathProblem::None, RegistryRoot::CurrentUser, "Software\\X"},
      {"HKEY_CURRENT_USER\\Software\\A/B", RegistryPathProblem::None, RegistryRoot::CurrentUser, "Software\\A/B"},
      {"HKEY_CLASSES_ROOT\\TowerLink.Doc\\shell", RegistryPathProblem::None, RegistryRoot::ClassesRoot,
       "TowerLink.Doc\\shell"},
      {"HKCR\\CLSID\\{x}", RegistryPathProblem::None, RegistryRoot::ClassesRoot, "CLSID\\{x}"},
      {"HKEY_USERS\\S-1-5-21\\Software\\X", RegistryPathProblem::None, RegistryRoot::Users, "S-1-5-21\\Software\\X"},
      {"HKU\\S-1-5-21\\Software", RegistryPathProblem::Protected, RegistryRoot::Users, ""},
      {"HKEY_LOCAL_MACHINE", RegistryPathProblem::NoSubkey, RegistryRoot::LocalMachine, ""},
      {"HKLM\\", RegistryPathProblem::NoSubkey, RegistryRoot::LocalMachine, ""},
      {"HKLM\\Software", RegistryPathProblem::Protected, RegistryRoot::LocalMachine, ""},
      {"HKLM\\software\\microsoft\\", RegistryPathProblem::Protected, RegistryRoot::LocalMachine, ""},
      {"HKLM\\System\\CurrentControlSet", RegistryPathProblem::Protected, RegistryRoot::LocalMachine, ""},
      {"HKEY_LOCAL_MACHINE_X\\Software\\X", RegistryPathProblem::UnknownRoot, RegistryRoot::LocalMachine, ""},
      {"Software\\X\\Y", RegistryPathProblem::UnknownRoot, RegistryRoot::LocalMachine, ""},
      {"", RegistryPathProblem::UnknownRoot, RegistryRoot::LocalMachine, ""},
  };
  for (const KeyCase& c : cases) {
    RegistryPath out;
    out.subkey = "unchanged";
    RegistryPathProblem p = parseRegistryPath(c.in, &out);
    EXPECT_EQ(static_cast<int>(p), static_cast<int>(c.problem)) << "key [" << c.in << "]";
    if (p == RegistryPathProblem::None) {
      EXPECT_EQ(static_cast<int>(out.root), static_cast<int>(c.root)) << "key [" << c.in << "]";
      EXPECT_EQ(out.subkey, c.subkey) << "key [" << c.in << "]";
    } else {
      EXPECT_EQ(out.subkey, "unchanged") << "key [" << c.in << "]";
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

TEST(CommandLineParse, TheCopysArgumentsParseBackToTheSameRun) {
  CommandLine args;
  args.recordName = "TowerLink";
  args.ui = UiLevel::Passive;
  const std::string original = "C:\\Program Files\\A & B\\\xE9\\tluninstall.exe";
  const std::string copy = "C:\\users\\me\\Temp\\tluninstall-42.exe";
  std::string line = quoteArgument(copy) + " " + buildCopyArguments(args, original);
  CommandLine back;
  std::string offending;
  ASSERT_EQ(parseCommandLine(line, copy, &back, &offending), CommandLineProblem::None) << line;
  EXPECT_EQ(back.recordName, "TowerLink");
  EXPECT_EQ(back.ui, UiLevel::Passive);
  EXPECT_EQ(back.originalPath, original);
  EXPECT_EQ(asidePathFor(copy), "C:\\users\\me\\Temp\\tluninstall-42.old");
  EXPECT_EQ(asidePathFor("C:\\dir.v2\\tluninstall"), "C:\\dir.v2\\tluninstall.old");
}

}  // namespace

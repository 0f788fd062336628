// createStartMenuShortcuts through Wine's real shell link object: shortcuts
// are loaded back with IShellLinkA/IPersistFile::Load and compared property by
// property. Only the programs-folder lookup is replaced, where a test needs a
// folder Wine would not give (no all-users folder, a very long folder).
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "install/documentation.h"
#include "platform/handles.h"
#include "platform/held_folder.h"
#include "tests/support/recording_record.h"
#include "tests/support/test_support.h"
#include "system/start_menu.h"
#include "system/start_menu_seam.h"
#include "tests/uninstaller/scratch.h"
#include "wizard/strings.h"

namespace {

using tltest::RecordedEvent;
using tltest::RecordingRecord;

const char kFs[] = "C:\\Program Files\\TowerLink\\towerlink_fs.exe";
const char kFsx[] = "C:\\Program Files\\TowerLink\\towerlink_fsx.exe";
const char kUninstaller[] = "C:\\Program Files\\TowerLink\\tluninstall.exe";
const char* const kGuide = kDocumentationAddressSlash;
const char kIcons[] = "C:\\Program Files\\TowerLink\\tlimage.dll";

const char* const kShortcutNames[] = {"TowerLink (for Flight Simulator 2002 and 2004)",
                                      "TowerLink (for Flight Simulator X)", "Uninstall TowerLink", "User Guide"};

// What a saved shortcut holds, read back through a fresh link object.
struct LoadedShortcut {
  bool loaded = false;
  std::string path, arguments, description, iconPath;
  int iconIndex = -1;
};

LoadedShortcut loadShortcut(const std::string& file) {
  LoadedShortcut out;
  win::ComRef<IShellLinkA> link;
  win::ComRef<IPersistFile> persist;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, link.receive())) ||
      FAILED(link->QueryInterface(IID_IPersistFile, persist.receive())))
    return out;
  wchar_t wide[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, MAX_PATH)) return out;
  if (FAILED(persist->Load(wide, STGM_READ))) return out;
  char buffer[1024];
  buffer[0] = '\0';
  link->GetPath(buffer, sizeof(buffer), nullptr, SLGP_RAWPATH);
  out.path = buffer;
  buffer[0] = '\0';
  link->GetArguments(buffer, sizeof(buffer));
  out.arguments = buffer;
  buffer[0] = '\0';
  link->GetDescription(buffer, sizeof(buffer));
  out.description = buffer;
  buffer[0] = '\0';
  link->GetIconLocation(buffer, sizeof(buffer), &out.iconIndex);
  out.iconPath = buffer;
  out.loaded = true;
  return out;
}

std::string shellFolder(int csidl) {
  char buffer[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, 0, buffer))) return std::string();
  return buffer;
}

std::string withBackslash(std::string path) {
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path;
}

std::vector<RecordedEvent> expectedEvents(const std::string& folder) {
  std::vector<RecordedEvent> events;
  for (const char* name : kShortcutNames)
    events.push_back({"DeleteFile", folder + name + ".lnk", "Removing start menu"});
  events.push_back({"DeleteEmptyDirs", folder, "Removing start menu"});
  return events;
}

// What the lookup seam answers, per folder kind; set by each test.
struct FakeLookup {
  HRESULT commonResult = E_FAIL;
  std::string commonFolder;
  HRESULT userResult = E_FAIL;
  std::string userFolder;
  std::vector<int> asked;
};
FakeLookup g_fake;

HRESULT WINAPI fakeFolderLookup(HWND, int csidl, HANDLE, DWORD, LPSTR path) {
  g_fake.asked.push_back(csidl);
  const bool common = csidl == CSIDL_COMMON_PROGRAMS;
  const std::string& folder = common ? g_fake.commonFolder : g_fake.userFolder;
  lstrcpynA(path, folder.c_str(), MAX_PATH);
  return common ? g_fake.commonResult : g_fake.userResult;
}

// A folder path of exactly length characters below base, made of segments
// short enough for the file system; the folders that can exist are created.
std::string deepFolder(const std::string& base, size_t length) {
  std::string path = base;
  CreateDirectoryA(path.c_str(), nullptr);
  while (path.size() < length) {
    const size_t room = length - path.size();
    const size_t take = room > 61 ? 50 : room;  // the last segment takes the rest, never less than 2
    path += "\\" + std::string(take - 1, 'd');
    if (path.size() < 248) CreateDirectoryA(path.c_str(), nullptr);
  }
  return path;
}

std::string noBackslash(const std::string& folder) { return folder.substr(0, folder.size() - 1); }

class StartMenuTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Wine mirrors Start menu shortcuts into the desktop's menus through
    // winemenubuilder, outside the prefix; keep these tests inside it.
    SetEnvironmentVariableA("WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d");
  }

  void SetUp() override {
    g_instance = GetModuleHandleA(nullptr);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    g_fake = FakeLookup();
  }

  void TearDown() override {
    setProgramsFolderLookup(nullptr);
    for (const std::string& folder : cleanup_) tltest::removeTree(folder);
    CoUninitialize();
  }

  // The Start menu folder below programs; removed at the end of the test. It
  // must not exist beforehand, or the test would delete what it did not make.
  std::string claimFolder(const std::string& programs) {
    const std::string folder = withBackslash(programs) + "TowerLink\\";
    EXPECT_FALSE(tltest::directoryExists(folder)) << folder << " exists before the test";
    cleanup_.push_back(noBackslash(folder));
    return folder;
  }

  void expectShortcuts(const std::string& folder) {
    struct Row {
      const char* name;
      const char* target;
      const char* arguments;
      const char* iconPath;
      int iconIndex;
    };
    const Row rows[] = {
        {kShortcutNames[0], kFs, "", "", 0},
        {kShortcutNames[1], kFsx, "", "", 0},
        {kShortcutNames[2], kUninstaller, "TowerLink", kIcons, 1},
        // the guide carries no argument of its own, and none inherited from the uninstaller
        {kShortcutNames[3], nullptr, "", kIcons, 0},
    };
    for (const Row& row : rows) {
      SCOPED_TRACE(row.name);
      const LoadedShortcut s = loadShortcut(folder + row.name + ".lnk");
      ASSERT_TRUE(s.loaded);
      if (row.target) {
        EXPECT_EQ(row.target, s.path);
      } else {
        // A web address is no file path: the shell keeps it in its own form
        // (Wine resolves it against the current folder), but the address stays.
        EXPECT_NE(std::string::npos, s.path.find("docs.brightfoldlabs.com")) << s.path;
      }
      EXPECT_EQ(row.arguments, s.arguments);
      EXPECT_EQ(row.name, s.description);
      EXPECT_EQ(row.iconPath, s.iconPath);
      if (*row.iconPath) EXPECT_EQ(row.iconIndex, s.iconIndex);
    }
  }

  std::vector<std::string> cleanup_;
};

TEST_F(StartMenuTest, CreatesFourShortcutsInTheAllUsersFolder) {
  const std::string programs = shellFolder(CSIDL_COMMON_PROGRAMS);
  ASSERT_FALSE(programs.empty());
  const std::string folder = claimFolder(programs);

  RecordingRecord record;
  ASSERT_TRUE(createStartMenuShortcuts(kFs, kFsx, kUninstaller, kGuide, kIcons, &record));
  EXPECT_EQ(expectedEvents(folder), record.events);
  expectShortcuts(folder);
  EXPECT_EQ((std::vector<std::string>{"TowerLink (for Flight Simulator 2002 and 2004).lnk",
                                      "TowerLink (for Flight Simulator X).lnk", "Uninstall TowerLink.lnk",
                                      "User Guide.lnk"}),
            tltest::listFiles(noBackslash(folder)));
}

TEST_F(StartMenuTest, ReusesAnExistingFolderAndOverwritesItsShortcuts) {
  const std::string folder = claimFolder(shellFolder(CSIDL_COMMON_PROGRAMS));
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(tltest::writeFile(folder + "User Guide.lnk", "not a shortcut"));
  ASSERT_TRUE(tltest::writeFile(folder + "Readme.txt", "someone else's file"));

  RecordingRecord record;
  ASSERT_TRUE(createStartMenuShortcuts(kFs, kFsx, kUninstaller, kGuide, kIcons, &record));
  EXPECT_EQ(expectedEvents(folder), record.events);
  expectShortcuts(folder);
  EXPECT_TRUE(tltest::fileExists(folder + "Readme.txt"));
}

// Without an all-users folder (the lookup fails, or succeeds with nothing) the
// shortcuts go to the current user's programs folder.
TEST_F(StartMenuTest, FallsBackToTheCurrentUsersFolder) {
  const std::string user = shellFolder(CSIDL_PROGRAMS);
  ASSERT_FALSE(user.empty());
  struct Case {
    const char* what;
    HRESULT commonResult;
  };
  for (const Case& c : {Case{"lookup fails", E_FAIL}, Case{"lookup gives an empty folder", S_OK}}) {
    SCOPED_TRACE(c.what);
    g_fake = FakeLookup();
    g_fake.commonResult = c.commonResult;
    g_fake.userResult = S_OK;
    g_fake.userFolder = user;
    setProgramsFolderLookup(&fakeFolderLookup);
    const std::string folder = claimFolder(user);

    RecordingRecord record;
    ASSERT_TRUE(createStartMenuShortcuts(kFs, kFsx, kUninstaller, kGuide, kIcons, &record));
    EXPECT_EQ((std::vector<int>{CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}), g_fake.asked);
    EXPECT_EQ(expectedEvents(folder), record.events);
    expectShortcuts(folder);
    tltest::removeTree(noBackslash(folder));
  }
}

TEST_F(StartMenuTest, NoProgramsFolderAtAllFailsWithoutEvents) {
  setProgramsFolderLookup(&fakeFolderLookup);
  RecordingRecord record;
  EXPECT_FALSE(createStartMenuShortcuts(kFs, kFsx, kUninstaller, kGuide, kIcons, &record));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
  EXPECT_EQ((std::vector<int>{CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}), g_fake.asked);
  EXPECT_TRUE(record.events.empty());
}

// The shortcut path must fit the 260-character wide buffer with its
// terminator. The longest name is the first shortcut's, so a folder one
// character too long fails before anything is saved.
TEST_F(StartMenuTest, ShortcutPathLengthIsCheckedAgainstTheWideBuffer) {
  tltest::ScopedTempDir temp;
  ASSERT_TRUE(temp.valid());
  const size_t longestName = std::string(kShortcutNames[0]).size() + 4;  // + ".lnk"
  struct Case {
    size_t pathLength;
    bool fits;
  };
  for (const Case& c : {Case{259, true}, Case{260, false}, Case{400, false}}) {
    SCOPED_TRACE("path of " + std::to_string(c.pathLength) + " characters");
    // programs + "\TowerLink\" + name: make programs exactly long enough.
    const size_t programsLength = c.pathLength - longestName - std::string("\\TowerLink\\").size();
    const std::string programs = deepFolder(temp.path() + "\\p" + std::to_string(c.pathLength), programsLength);
    ASSERT_EQ(programsLength, programs.size());
    g_fake = FakeLookup();
    g_fake.commonResult = S_OK;
    g_fake.commonFolder = programs;
    setProgramsFolderLookup(&fakeFolderLookup);

    RecordingRecord record;
    const bool ok = createStartMenuShortcuts(kFs, kFsx, kUninstaller, kGuide, kIcons, &record);
    EXPECT_EQ(c.fits, ok);
    const std::string folder = programs + "\\TowerLink\\";
    if (c.fits) {
      EXPECT_EQ(expectedEvents(folder), record.events);
      ASSERT_EQ(c.pathLength, record.events[0].params.size());
      expectShortcuts(folder);
    } else {
      EXPECT_TRUE(record.events.empty()) << record.events.size() << " events";
    }
  }
}

// Each failure stops at once and records only what was really saved.
TEST_F(StartMenuTest, RefusedEventStopsTheRun) {
  const std::string folder = claimFolder(shellFolder(CSIDL_COMMON_PROGRAMS));
  RecordingRecord record(1);  // the second shortcut's event is refused
  EXPECT_FALSE(createStartMenuShortcuts(kFs, kFsx, kUninstaller, kGuide, kIcons, &record));
  ASSERT_EQ(2u, record.events.size());
  EXPECT_EQ(expectedEvents(folder)[1], record.events[1]);
  EXPECT_EQ((std::vector<std::string>{"TowerLink (for Flight Simulator 2002 and 2004).lnk",
                                      "TowerLink (for Flight Simulator X).lnk"}),
            tltest::listFiles(noBackslash(folder)));
}

// The programs folder may be the user's own, theirs to change while the
// installer writes: a link in place of the Start menu folder or of a shortcut
// never leads the shortcuts anywhere else.
TEST_F(StartMenuTest, LinksInTheProgramsFolderLeaveTheirTargetsAlone) {
  tltest::ScopedTempDir temp;
  ASSERT_TRUE(temp.valid());
  const std::string programs = temp.path() + "\\programs", victim = temp.path() + "\\victim";
  const std::string folder = programs + "\\TowerLink\\";
  ASSERT_TRUE(CreateDirectoryA(programs.c_str(), nullptr) && CreateDirectoryA(victim.c_str(), nullptr));
  ASSERT_TRUE(tltest::writeFile(victim + "\\mine.txt", "mine"));
  g_fake.userResult = S_OK;
  g_fake.userFolder = programs;
  setProgramsFolderLookup(&fakeFolderLookup);
  win::linkMayBeFollowed = [](HANDLE, HANDLE) { return false; };
  struct Row {
    std::string link, target;
    bool ok;
  };
  const Row rows[] = {{noBackslash(folder), victim, false},
                      {folder + kShortcutNames[3] + ".lnk", victim + "\\mine.txt", true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.link);
    if (row.ok) ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(uninst_test::makeUnixLink(row.link, row.target));
    RecordingRecord record;
    const bool ok = createStartMenuShortcuts(kFs, kFsx, kUninstaller, kGuide, kIcons, &record);
    const DWORD error = GetLastError();
    if (!ok) uninst_test::removeUnixLink(row.link);  // else the shortcut has taken the name
    EXPECT_EQ(row.ok, ok);
    std::string bytes;
    EXPECT_TRUE(tltest::readFile(victim + "\\mine.txt", &bytes) && bytes == "mine");
    EXPECT_EQ(std::vector<std::string>{"mine.txt"}, tltest::listFiles(victim));
    if (row.ok) {
      EXPECT_EQ(expectedEvents(folder), record.events);
      expectShortcuts(folder);
    } else {
      EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), error);
      EXPECT_TRUE(record.events.empty());
    }
  }
  win::linkMayBeFollowed = win::ownerMayFollow;
}

struct ThreadResult {
  bool ok = true;
  DWORD error = 0;
  RecordingRecord record;
};

DWORD WINAPI createShortcutsWithoutCom(LPVOID param) {
  ThreadResult* r = static_cast<ThreadResult*>(param);
  r->ok = createStartMenuShortcuts(kFs, kFsx, kUninstaller, kGuide, kIcons, &r->record);
  r->error = GetLastError();
  return 0;
}

// Without COM on the calling thread the link object cannot be made: a real
// failure, on a thread of its own that never initialises COM.
TEST_F(StartMenuTest, WithoutComTheLinkObjectFailsCleanly) {
  const std::string folder = claimFolder(shellFolder(CSIDL_COMMON_PROGRAMS));
  ThreadResult result;
  HANDLE thread = CreateThread(nullptr, 0, createShortcutsWithoutCom, &result, 0, nullptr);
  ASSERT_NE(nullptr, thread);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(static_cast<DWORD>(CO_E_NOTINITIALIZED), result.error);
  EXPECT_TRUE(result.record.events.empty());
  EXPECT_TRUE(tltest::listFiles(noBackslash(folder)).empty());
}

TEST_F(StartMenuTest, MissingArgumentsAreRefused) {
  RecordingRecord record;
  EXPECT_FALSE(createStartMenuShortcuts(kFs, nullptr, kUninstaller, kGuide, kIcons, &record));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
  EXPECT_FALSE(createStartMenuShortcuts(kFs, kFsx, kUninstaller, kGuide, kIcons, nullptr));
  EXPECT_TRUE(record.events.empty());
}

}  // namespace

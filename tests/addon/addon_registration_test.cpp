// The add-on registration against Wine's real file system: real dll.xml files
// in a scratch folder, the real temporary folder (redirected with TMP/TEMP to
// a scratch one so leftovers can be counted), real locks, read-only files and
// folders, and the prefix's own APPDATA for configureFsx. The one fake is the
// write seam, for a full disk.
#include "install/addon_registration.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <string>
#include <vector>

#include "tests/addon/addon_file_generator.h"
#include "tests/addon/addon_text.h"
#include "install/addon_edit.h"
#include "platform/held_folder.h"
#include "tests/uninstaller/scratch.h"

namespace {

using namespace addontest;

const char kDir[] = "C:\\Program Files\\TowerLink\\";
const char kOtherDir[] = "D:\\Sim & Co\\TowerLink\\";

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The file's bytes, or "<unreadable>".
std::string readBytes(const std::string& path) {
  std::string data;
  return tltest::readFile(path, &data) ? data : "<unreadable>";
}

std::vector<std::string> listFolder(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((folder + "*").c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    std::string n = fd.cFileName;
    if (n != "." && n != "..") names.push_back(n);
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  return names;
}

using tltest::removeTree;

// A scratch folder with "fsx\" for the add-on file and "tmp\" as the process's
// temporary folder; everything goes, and TMP/TEMP come back, at the end.
class AddonFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    static int serial = 0;
    root_ = std::string(temp) + "tladdon" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++serial) + "\\";
    fsx_ = root_ + "fsx\\";
    tmp_ = root_ + "tmp\\";
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(fsx_.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(tmp_.c_str(), nullptr));
    saveVariable("TMP", savedTmp_, hadTmp_);
    saveVariable("TEMP", savedTemp_, hadTemp_);
    SetEnvironmentVariableA("TMP", tmp_.c_str());
    SetEnvironmentVariableA("TEMP", tmp_.c_str());
    file_ = fsx_ + "dll.xml";
  }
  void TearDown() override {
    setAddonWriteFileForTesting(nullptr);
    SetEnvironmentVariableA("TMP", hadTmp_ ? savedTmp_.c_str() : nullptr);
    SetEnvironmentVariableA("TEMP", hadTemp_ ? savedTemp_.c_str() : nullptr);
    removeTree(root_);
    EXPECT_FALSE(exists(root_));
  }

  AddonStatus reg(const char* name, const char* dir, const char* module) {
    return registerAddonWithStatus(fsx_.c_str(), "dll.xml", name, dir, module);
  }
  AddonStatus regTransponder(const char* dir = kDir) { return reg("TowerLink Transponder", dir, "tltrans10.dll"); }
  std::vector<std::string> leftInTemp() { return listFolder(tmp_); }

  std::string root_, fsx_, tmp_, file_;

 private:
  static void saveVariable(const char* name, std::string& value, bool& had) {
    char buf[32768];
    DWORD n = GetEnvironmentVariableA(name, buf, sizeof(buf));
    had = n > 0 && n < sizeof(buf);
    value = had ? std::string(buf, n) : std::string();
  }
  std::string savedTmp_, savedTemp_;
  bool hadTmp_ = false, hadTemp_ = false;
};

// --- What lands in the file ------------------------------------------------

TEST_F(AddonFiles, SimulatorOnlyRunCreatesTheFileThenAddsTheSecondEntry) {
  ASSERT_TRUE(regTransponder().ok());
  ASSERT_TRUE(registerAddon(fsx_.c_str(), "dll.xml", "TowerLink AI Control", kDir, "tlaicontrol10.dll"));
  EXPECT_EQ(readBytes(file_),
            crlf({"<?xml version=\"1.0\" encoding=\"Windows-1252\"?>", "",
                  "<SimBase.Document Type=\"Launch\" version=\"1,0\">", "  <Descr>Launch</Descr>",
                  "  <Filename>dll.xml</Filename>", "  <Disabled>False</Disabled>",
                  "  <Launch.ManualLoad>False</Launch.ManualLoad>", "  <Launch.Addon>",
                  "    <Name>TowerLink Transponder</Name>", "    <Disabled>False</Disabled>",
                  "    <ManualLoad>False</ManualLoad>", "    <Path>C:\\Program Files\\TowerLink\\tltrans10.dll</Path>",
                  "  </Launch.Addon>", "  <Launch.Addon>", "    <Name>TowerLink AI Control</Name>",
                  "    <Disabled>False</Disabled>", "    <ManualLoad>False</ManualLoad>",
                  "    <Path>C:\\Program Files\\TowerLink\\tlaicontrol10.dll</Path>", "  </Launch.Addon>",
                  "</SimBase.Document>"}));
  EXPECT_TRUE(leftInTemp().empty());
}

TEST_F(AddonFiles, InstallingAgainIntoAnotherFolderUpdatesEachEntryInPlace) {
  const char* const names[] = {"TowerLink Transponder", "TowerLink AI Control", "TowerLink Internal Version"};
  const char* const modules[] = {"tltrans10.dll", "tlaicontrol10.dll", "tlmod10.dll"};
  for (const char* dir : {kDir, kOtherDir}) {
    for (int m = 0; m < 3; ++m) ASSERT_TRUE(reg(names[m], dir, modules[m]).ok()) << dir << modules[m];
  }
  std::string bytes = readBytes(file_);
  std::vector<std::string> lines = splitCrLf(bytes);
  size_t previous = 0;
  for (int m = 0; m < 3; ++m) {
    std::vector<size_t> at = entryPositions(lines, entryFor(names[m], kOtherDir, modules[m]));
    ASSERT_EQ(at.size(), 1u) << modules[m];
    EXPECT_GT(at[0], previous) << modules[m] << " out of order";
    previous = at[0];
  }
  EXPECT_EQ(bytes.find(kDir), std::string::npos);
  EXPECT_NE(bytes.find("D:\\Sim &amp; Co\\TowerLink\\tlmod10.dll"), std::string::npos);
  EXPECT_TRUE(leftInTemp().empty());
}

TEST_F(AddonFiles, BytesPassThroughUnchangedAndLineEndsBecomeCrLf) {
  // LF only, no last break, bytes above 127, Ctrl-Z and NUL: no text-mode reading anywhere.
  static const char kIn[] = "<SimBase.Document>\n<!-- \xC4\xE9\xFF \x1A\0 -->\n</SimBase.Document>";
  static const char kComment[] = "<!-- \xC4\xE9\xFF \x1A\0 -->\r\n";
  ASSERT_TRUE(tltest::writeFile(file_, std::string(kIn, sizeof(kIn) - 1)));
  ASSERT_TRUE(regTransponder().ok());
  EXPECT_EQ(readBytes(file_), "<SimBase.Document>\r\n" + std::string(kComment, sizeof(kComment) - 1) +
                                  addonEntryText(entryFor("TowerLink Transponder", kDir, "tltrans10.dll")) +
                                  "</SimBase.Document>\r\n");
}

BOOL WINAPI sevenBytesAtATime(HANDLE h, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED o) {
  return WriteFile(h, data, size > 7 ? 7 : size, written, o);
}

TEST_F(AddonFiles, WritesThatTakeSeveralCallsStillWriteEverything) {
  // A WriteFile may legally accept fewer bytes than asked.
  setAddonWriteFileForTesting(sevenBytesAtATime);
  ASSERT_TRUE(regTransponder().ok());  // created
  ASSERT_TRUE(reg("TowerLink AI Control", kDir, "tlaicontrol10.dll").ok());  // edited
  setAddonWriteFileForTesting(nullptr);
  std::string expected = newAddonFile("dll.xml", entryFor("TowerLink Transponder", kDir, "tltrans10.dll"));
  expected = editAddonFile(expected, entryFor("TowerLink AI Control", kDir, "tlaicontrol10.dll")).bytes;
  EXPECT_EQ(readBytes(file_), expected);
}

// --- Failures: the add-on file keeps its bytes, no temporary file stays ----

BOOL WINAPI diskFull(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
  if (written) *written = 0;
  SetLastError(ERROR_DISK_FULL);
  return FALSE;
}

int g_writes = 0;
BOOL WINAPI halfThenDiskFull(HANDLE h, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED o) {
  if (g_writes++ == 0) return WriteFile(h, data, size / 2, written, o);
  return diskFull(h, data, size, written, o);
}

struct FailureCase {
  const char* name;
  AddonResult result;
  DWORD windowsError;  // 0: not checked (Wine's choice of code)
};

TEST_F(AddonFiles, EveryFailureLeavesTheAddonFileAndTheTemporaryFolderAsTheyWere) {
  const std::string original = crlf({"<SimBase.Document>", "  <Launch.Addon>", "    <Name>Vendor</Name>",
                                     "    <Path>C:\\v\\vendor.dll</Path>", "  </Launch.Addon>",
                                     "</SimBase.Document>"});
  const FailureCase cases[] = {
      {"locked by another program", AddonResult::ReadFailed, ERROR_SHARING_VIOLATION},
      {"read-only add-on file", AddonResult::CopyBackFailed, ERROR_ACCESS_DENIED},
      {"disk full on the temporary copy", AddonResult::TempWriteFailed, ERROR_DISK_FULL},
      {"half written, then disk full", AddonResult::TempWriteFailed, ERROR_DISK_FULL},
      {"temporary folder missing", AddonResult::NoTempFile, 0},
      {"add-on file too large", AddonResult::FileTooLarge, ERROR_FILE_TOO_LARGE},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string content = original;
    if (c.result == AddonResult::FileTooLarge) content.append(kMaxAddonFileBytes, ' ');
    ASSERT_TRUE(tltest::writeFile(file_, content));
    HANDLE lock = INVALID_HANDLE_VALUE;
    std::string tmpFolder = tmp_;
    switch (&c - cases) {
      case 0:
        lock = CreateFileA(file_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(lock, INVALID_HANDLE_VALUE);
        break;
      case 1: ASSERT_TRUE(SetFileAttributesA(file_.c_str(), FILE_ATTRIBUTE_READONLY)); break;
      case 2: setAddonWriteFileForTesting(diskFull); break;
      case 3: g_writes = 0; setAddonWriteFileForTesting(halfThenDiskFull); break;
      case 4:
        tmpFolder = root_ + "no such folder\\";
        SetEnvironmentVariableA("TMP", tmpFolder.c_str());
        SetEnvironmentVariableA("TEMP", tmpFolder.c_str());
        break;
      default: break;
    }
    AddonStatus s = regTransponder();
    bool plain = registerAddon(fsx_.c_str(), "dll.xml", "TowerLink Transponder", kDir, "tltrans10.dll");

    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
    setAddonWriteFileForTesting(nullptr);
    SetFileAttributesA(file_.c_str(), FILE_ATTRIBUTE_NORMAL);
    SetEnvironmentVariableA("TMP", tmp_.c_str());
    SetEnvironmentVariableA("TEMP", tmp_.c_str());

    EXPECT_EQ(static_cast<int>(s.result), static_cast<int>(c.result));
    if (c.windowsError) EXPECT_EQ(s.windowsError, c.windowsError);
    EXPECT_NE(s.windowsError, 0u) << "the failure's cause was not kept";
    EXPECT_FALSE(plain);
    EXPECT_TRUE(readBytes(file_) == content) << "the add-on file changed";
    EXPECT_TRUE(leftInTemp().empty()) << "a temporary file was left: " << (leftInTemp().empty() ? "" : leftInTemp()[0]);
    EXPECT_FALSE(exists(root_ + "no such folder")) << "the temporary folder was created";
  }
}

// What the temporary folder holds while the edited copy is written.
std::string g_tempFolder;
std::vector<std::string> g_seenInTemp, g_seenInPrivate;
bool g_renamedAway = false;
BOOL WINAPI noteWhereItIs(HANDLE h, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED o) {
  g_seenInTemp = listFolder(g_tempFolder);
  g_seenInPrivate = g_seenInTemp.size() == 1 ? listFolder(g_tempFolder + g_seenInTemp[0] + "\\") : g_seenInPrivate;
  // Its owner would rename it away here and put a link in its place.
  if (g_seenInTemp.size() == 1) {
    const std::string folder = g_tempFolder + g_seenInTemp[0];
    g_renamedAway = MoveFileA(folder.c_str(), (folder + "-away").c_str()) != FALSE;
  }
  return WriteFile(h, data, size, written, o);
}

TEST_F(AddonFiles, TheEditedCopyIsWrittenInANewPrivateFolderOfTheTemporaryFolder) {
  // The installer runs elevated and the temporary folder is the user's: a
  // file under a name that can be guessed there could be swapped for a link.
  ASSERT_TRUE(tltest::writeFile(file_, crlf({"<SimBase.Document>", "</SimBase.Document>"})));
  g_tempFolder = tmp_;
  g_seenInTemp.clear();
  g_seenInPrivate.clear();
  g_renamedAway = true;
  setAddonWriteFileForTesting(noteWhereItIs);
  ASSERT_TRUE(regTransponder().ok());
  setAddonWriteFileForTesting(nullptr);
  ASSERT_EQ(g_seenInTemp.size(), 1u);
  const std::string& folder = g_seenInTemp[0];
  EXPECT_EQ(folder.rfind("tlsetup-", 0), 0u) << folder;
  EXPECT_EQ(folder.size(), 8u + 16u) << folder;
  EXPECT_EQ(folder.find_first_not_of("0123456789abcdef", 8), std::string::npos) << folder;
  ASSERT_EQ(g_seenInPrivate.size(), 1u);
  EXPECT_EQ(g_seenInPrivate[0].rfind("tl", 0), 0u) << g_seenInPrivate[0];
  EXPECT_FALSE(g_renamedAway) << "the private folder is not held while its file is written";
  EXPECT_TRUE(leftInTemp().empty()) << "left: " << leftInTemp()[0];
}

// The installer runs elevated and dll.xml lies in the user's own folder: a
// link they put in place of the file or of its folder must not lead the
// edit to a file of the system. Under Wine a Unix link stands in for it; the
// link decision is the one of a standard user, who may write nowhere else.
TEST_F(AddonFiles, LinksInPlaceOfTheFileOrItsFolderLeaveTheirTargetsAlone) {
  char windows[MAX_PATH];
  ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
  const std::string victimFolder = std::string(windows) + "\\tl-victim-" + std::to_string(GetCurrentProcessId()) + "\\";
  const std::string victim = victimFolder + "dll.xml";
  const std::string linkedFolder = root_ + "linked\\";
  struct Cleanup {
    std::vector<std::string> links;
    std::string folder;
    ~Cleanup() {
      for (const std::string& l : links) uninst_test::removeUnixLink(l);
      win::linkMayBeFollowed = win::ownerMayFollow;
      removeTree(folder);
    }
  } cleanup{{file_, root_ + "linked"}, victimFolder};
  const std::string system = crlf({"<SimBase.Document>", "</SimBase.Document>"});
  ASSERT_TRUE(CreateDirectoryA(victimFolder.c_str(), nullptr));
  ASSERT_TRUE(tltest::writeFile(victim, system));
  win::linkMayBeFollowed = [](HANDLE, HANDLE) { return false; };
  ASSERT_TRUE(uninst_test::makeUnixLink(file_, victim));  // Wine shows a link to a file as the file
  ASSERT_TRUE(readBytes(file_) == system);
  ASSERT_TRUE(uninst_test::makeUnixLink(root_ + "linked", victimFolder));
  const struct {
    std::string folder;
    AddonResult result;
  } cases[] = {{fsx_, AddonResult::ReadFailed}, {linkedFolder, AddonResult::NoAddonFolder}};
  for (const auto& c : cases) {
    AddonStatus s = registerAddonWithStatus(c.folder.c_str(), "dll.xml", "TowerLink Transponder", kDir, "tltrans10.dll");
    EXPECT_EQ(static_cast<int>(s.result), static_cast<int>(c.result)) << c.folder;
    EXPECT_EQ(s.windowsError, static_cast<DWORD>(ERROR_ACCESS_DENIED)) << c.folder;
    EXPECT_TRUE(readBytes(victim) == system) << c.folder << ": the file the link leads to changed";
  }
  EXPECT_TRUE(leftInTemp().empty());
}

TEST_F(AddonFiles, AnAddonFileThatIsAFolderIsReportedAndLeftAlone) {
  ASSERT_TRUE(CreateDirectoryA(file_.c_str(), nullptr));
  AddonStatus s = regTransponder();
  EXPECT_EQ(static_cast<int>(s.result), static_cast<int>(AddonResult::ReadFailed));
  EXPECT_NE(s.windowsError, 0u);
  DWORD attr = GetFileAttributesA(file_.c_str());
  EXPECT_TRUE(attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_TRUE(leftInTemp().empty());
}

TEST_F(AddonFiles, GeneratedFilesSurviveAFailedWriteAndThenComeOutAsTheEditorMakesThem) {
  const int kCount = 150;
  for (int seed = 0; seed < kCount; ++seed) {
    GeneratedFile g = generateAddonFile(static_cast<uint64_t>(seed) + 1000, "tltrans10.dll", {"tlmod10.dll"});
    ASSERT_TRUE(tltest::writeFile(file_, g.bytes));
    g_writes = 0;
    setAddonWriteFileForTesting(halfThenDiskFull);
    EXPECT_EQ(static_cast<int>(regTransponder(kOtherDir).result), static_cast<int>(AddonResult::TempWriteFailed))
        << "seed " << seed;
    EXPECT_TRUE(readBytes(file_) == g.bytes) << "seed " << seed << ": changed by a failed registration";
    setAddonWriteFileForTesting(nullptr);
    ASSERT_TRUE(regTransponder(kOtherDir).ok()) << "seed " << seed;
    EXPECT_EQ(readBytes(file_), editAddonFile(g.bytes, entryFor("TowerLink Transponder", kOtherDir, "tltrans10.dll")).bytes)
        << "seed " << seed;
  }
  EXPECT_TRUE(leftInTemp().empty());
  std::printf("[ figures  ] %d generated files: a failed, then a successful registration through real files\n", kCount);
}

TEST_F(AddonFiles, ANewFileThatCannotBeWrittenCompletelyIsNotLeftBehind) {
  setAddonWriteFileForTesting(halfThenDiskFull);
  g_writes = 0;
  AddonStatus s = regTransponder();
  EXPECT_EQ(static_cast<int>(s.result), static_cast<int>(AddonResult::CreateWriteFailed));
  EXPECT_EQ(s.windowsError, static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_FALSE(exists(file_));

  // A file name whose folder does not exist cannot be created at all.
  setAddonWriteFileForTesting(nullptr);
  s = registerAddonWithStatus(fsx_.c_str(), "missing\\dll.xml", "TowerLink Transponder", kDir, "tltrans10.dll");
  EXPECT_EQ(static_cast<int>(s.result), static_cast<int>(AddonResult::CreateFailed));
  EXPECT_EQ(s.windowsError, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(leftInTemp().empty());
}

TEST_F(AddonFiles, AMissingAddonFolderIsNeverCreated) {
  const std::string missing = root_ + "Microsoft\\FSX\\";
  AddonStatus s = registerAddonWithStatus(missing.c_str(), "dll.xml", "TowerLink Transponder", kDir, "tltrans10.dll");
  EXPECT_EQ(static_cast<int>(s.result), static_cast<int>(AddonResult::NoAddonFolder));
  EXPECT_FALSE(exists(root_ + "Microsoft"));
  EXPECT_EQ(static_cast<int>(registerAddonWithStatus(nullptr, "dll.xml", "n", kDir, "m.dll").result),
            static_cast<int>(AddonResult::BadArgument));
}

// --- configureFsx in the prefix's own application-data folder --------------

// Makes ...\Microsoft\FSX\ exist for a test and puts everything back after:
// folders it created are removed, a dll.xml that was there is restored.
class FsxFolderInAppData {
 public:
  FsxFolderInAppData() {
    char appData[MAX_PATH];
    if (SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, appData) != S_OK) return;
    microsoft_ = std::string(appData) + "\\Microsoft\\";
    fsx_ = microsoft_ + "FSX\\";
    file_ = fsx_ + "dll.xml";
    createdMicrosoft_ = !exists(microsoft_);
    createdFsx_ = !exists(fsx_);
    hadFile_ = exists(file_);
    if (hadFile_) savedFile_ = readBytes(file_);
  }
  ~FsxFolderInAppData() {
    if (fsx_.empty()) return;
    if (hadFile_) tltest::writeFile(file_, savedFile_);
    else DeleteFileA(file_.c_str());
    if (createdFsx_) RemoveDirectoryA(fsx_.c_str());
    if (createdMicrosoft_) RemoveDirectoryA(microsoft_.c_str());
  }
  bool wasAbsent() const { return createdFsx_; }
  bool create() {
    if (createdMicrosoft_ && !exists(microsoft_)) CreateDirectoryA(microsoft_.c_str(), nullptr);
    if (!exists(fsx_)) CreateDirectoryA(fsx_.c_str(), nullptr);
    DeleteFileA(file_.c_str());
    return exists(fsx_);
  }
  const std::string& folder() const { return fsx_; }
  const std::string& file() const { return file_; }

 private:
  std::string microsoft_, fsx_, file_, savedFile_;
  bool createdMicrosoft_ = false, createdFsx_ = false, hadFile_ = false;
};

TEST(ConfigureFsx, UsesApplicationDataAndNeverCreatesTheSimulatorFolder) {
  FsxFolderInAppData fsx;
  ASSERT_FALSE(fsx.folder().empty()) << "no CSIDL_APPDATA in this prefix";
  std::string folder;
  ASSERT_TRUE(fsxConfigFolder(folder).ok());
  EXPECT_EQ(folder, fsx.folder());
  if (!fsx.wasAbsent()) GTEST_SKIP() << "this prefix already has " << fsx.folder();
  AddonStatus s = configureFsxWithStatus(true, true, kDir);
  EXPECT_EQ(static_cast<int>(s.result), static_cast<int>(AddonResult::NoAddonFolder));
  EXPECT_FALSE(configureFsx(true, false, kDir));
  EXPECT_FALSE(exists(fsx.folder()));
}

TEST(ConfigureFsx, RegistersTheRequestedModulesInOrder) {
  const struct {
    bool simulator, internal;
    std::vector<const char*> expected;  // entry names in file order
  } cases[] = {
      {true, true, {"TowerLink Transponder", "TowerLink AI Control", "TowerLink Internal Version"}},
      {true, false, {"TowerLink Transponder", "TowerLink AI Control"}},
      {false, true, {"TowerLink Internal Version"}},
  };
  const char* const names[] = {"TowerLink Transponder", "TowerLink AI Control", "TowerLink Internal Version"};
  const char* const modules[] = {"tltrans10.dll", "tlaicontrol10.dll", "tlmod10.dll"};
  FsxFolderInAppData fsx;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("simulator ") + (c.simulator ? "yes" : "no") + ", internal " + (c.internal ? "yes" : "no"));
    ASSERT_TRUE(fsx.create());
    for (const char* dir : {kDir, kOtherDir}) {  // a second run rewrites in place
      ASSERT_TRUE(configureFsx(c.simulator, c.internal, dir)) << dir;
    }
    std::vector<std::string> lines = splitCrLf(readBytes(fsx.file()));
    std::vector<std::pair<size_t, const char*>> found;  // (line, name) of every entry with the new folder
    for (int m = 0; m < 3; ++m) {
      for (size_t at : entryPositions(lines, entryFor(names[m], kOtherDir, modules[m]))) found.push_back({at, names[m]});
      EXPECT_TRUE(entryPositions(lines, entryFor(names[m], kDir, modules[m])).empty()) << modules[m];
    }
    std::sort(found.begin(), found.end());
    ASSERT_EQ(found.size(), c.expected.size());
    for (size_t i = 0; i < found.size(); ++i) EXPECT_STREQ(found[i].second, c.expected[i]);
  }
}

}  // namespace

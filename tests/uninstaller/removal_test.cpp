// The uninstaller's building blocks in this process, against Wine's real file
// system and registry: the result and system code of each removal, the record
// reader on damaged records, and the progress window.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <sddl.h>

#include "platform/held_folder.h"
#include "tools/uninstaller/feedback.h"
#include "tools/uninstaller/progress_window.h"
#include "tools/uninstaller/relaunch.h"
#include "tools/uninstaller/removal.h"
#include "tools/uninstaller/uninstall_record.h"
#include "tests/uninstaller/scratch.h"

namespace {

using namespace uninst;
using namespace uninst_test;

// A remover whose record's only folder is the scratch folder.
RemovalScope scopeFor(const Scratch& s) {
  RemovalScope scope = systemScope();
  addRecordFolders(&scope, {s.root()}, "", "");
  return scope;
}

TEST(DeleteRecordedFile, RemovesReadOnlyFilesAndTreatsGoneAsDone) {
  Scratch s;
  Remover remover(scopeFor(s));
  std::string f = s.root() + "A & B \xE9\\read only.dll";
  ASSERT_TRUE(writeFile(f));
  ASSERT_TRUE(SetFileAttributesA(f.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  StepResult r = remover.deleteFile(f, nullptr);
  EXPECT_EQ(r.status, StepStatus::Done) << r.reason;
  EXPECT_FALSE(fileExists(f));

  EXPECT_EQ(remover.deleteFile(f, nullptr).status, StepStatus::AlreadyGone);
  EXPECT_EQ(remover.deleteFile(s.root() + "no such folder\\x.dll", nullptr).status, StepStatus::AlreadyGone);
}

TEST(DeleteRecordedFile, FailuresCarryTheSystemCodeAndChangeNothing) {
  Scratch s;
  Remover remover(scopeFor(s));
  std::string folder = s.root() + "a folder";
  ASSERT_TRUE(makeFolders(folder));
  StepResult r = remover.deleteFile(folder, nullptr);
  EXPECT_EQ(r.status, StepStatus::Failed);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_TRUE(directoryExists(folder));

  r = remover.deleteFile("relative\\x.dll", nullptr);
  EXPECT_EQ(r.status, StepStatus::Failed);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_BAD_PATHNAME));

  // "<" cannot be in a file name: reported, not a crash, not "already gone".
  r = remover.deleteFile(s.root() + "a<b.dll", nullptr);
  EXPECT_EQ(r.status, StepStatus::Failed);
  EXPECT_NE(r.error, static_cast<DWORD>(ERROR_SUCCESS));

  std::string held = s.root() + "held.dll";
  ASSERT_TRUE(writeFile(held));
  ASSERT_TRUE(SetFileAttributesA(held.c_str(), FILE_ATTRIBUTE_READONLY));
  HANDLE h = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  r = remover.deleteFile(held, nullptr);
  CloseHandle(h);
  EXPECT_EQ(r.status, StepStatus::Failed);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(r.item, held);
  EXPECT_EQ(GetFileAttributesA(held.c_str()) & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

TEST(DeleteRecordedFile, ARunningOriginalIsMovedAsideInsteadOfDeleted) {
  Scratch s;
  Remover remover(scopeFor(s));
  // A running program's image: deleting it is refused, renaming it is not.
  std::string exe = s.installUninstaller(s.root() + "Tower Link\\");
  ASSERT_FALSE(exe.empty());
  // No arguments: it shows a usage box and waits.
  tltest::ChildProcess running;
  tltest::StartOptions options;
  options.program = exe;
  options.workingFolder = s.root();
  ASSERT_TRUE(running.start(exe, options)) << running.error();
  WaitForInputIdle(running.handle(), 10000);

  StepResult plain = remover.deleteFile(exe, nullptr);
  RunningOriginal original{widen(exe), widen(s.root() + "aside.old")};
  StepResult moved = remover.deleteFile(exe, &original);
  bool asideThere = fileExists(s.root() + "aside.old");
  bool stillThere = fileExists(exe);
  running.terminate();

  EXPECT_EQ(plain.status, StepStatus::Failed);
  EXPECT_EQ(plain.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(moved.status, StepStatus::Done) << moved.reason;
  EXPECT_TRUE(asideThere);
  EXPECT_FALSE(stillThere);
}

TEST(DeleteEmptyFolders, RemovesWhatItsFilesLeftEmptyDepthFirstAndNeverAFile) {
  Scratch s;
  Remover remover(scopeFor(s));
  std::string top = s.root() + "TowerLink";
  std::string deep = top;
  for (int i = 0; i < 60; ++i) deep += "\\level " + std::to_string(i);
  ASSERT_GT(deep.size(), static_cast<size_t>(MAX_PATH));
  for (const std::string& f : {deep + "\\x.dat", top + "\\a\\b\\c\\x.dat", top + "\\read only\\x.dat"}) {
    ASSERT_TRUE(writeFile(f)) << f;
  }
  ASSERT_TRUE(SetFileAttributesA((top + "\\read only").c_str(), FILE_ATTRIBUTE_READONLY));
  for (const std::string& f : {deep + "\\x.dat", top + "\\a\\b\\c\\x.dat", top + "\\read only\\x.dat"}) {
    ASSERT_EQ(remover.deleteFile(f, nullptr).status, StepStatus::Done) << f;
  }
  StepResult r = remover.deleteEmptyFolders(top + "\\");
  EXPECT_EQ(r.status, StepStatus::Done) << r.item << " " << r.reason;
  EXPECT_FALSE(directoryExists(top));
  EXPECT_TRUE(directoryExists(s.root()));
  EXPECT_EQ(remover.deleteEmptyFolders(top).status, StepStatus::AlreadyGone);

  // Empty folders that held nothing of the record stay, and so does the
  // folder holding them; a user's file is never touched.
  ASSERT_TRUE(writeFile(top + "\\full\\inner\\x.dat"));
  ASSERT_TRUE(makeFolders(top + "\\empty\\deeper"));
  ASSERT_TRUE(writeFile(top + "\\full\\inner\\user.txt"));
  ASSERT_EQ(remover.deleteFile(top + "\\full\\inner\\x.dat", nullptr).status, StepStatus::Done);
  r = remover.deleteEmptyFolders(top);
  EXPECT_EQ(r.status, StepStatus::Kept);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(directoryExists(top + "\\empty\\deeper"));
  EXPECT_TRUE(fileExists(top + "\\full\\inner\\user.txt"));
}

TEST(DeleteEmptyFolders, RefusesRootsSystemFoldersAndTheirParents) {
  Scratch s;
  std::string inside = s.root() + "system\\empty";
  ASSERT_TRUE(makeFolders(inside));
  RemovalScope scope = scopeFor(s);
  scope.refused.push_back(widen(s.root() + "system"));
  Remover remover(scope);
  struct Case {
    std::string params;
    StepStatus status;
  } cases[] = {
      {s.root() + "system", StepStatus::Kept},
      {s.root() + "system. .", StepStatus::Kept},
      {s.root(), StepStatus::Kept},
      {"C:\\", StepStatus::Kept},
      {s.root() + "system\\..\\system", StepStatus::Failed},
  };
  for (const Case& c : cases) {
    StepResult r = remover.deleteEmptyFolders(c.params);
    EXPECT_EQ(r.status, c.status) << c.params;
    EXPECT_TRUE(directoryExists(inside)) << c.params;
  }
  // The real system folders are found and include Windows itself.
  RemovalScope system = systemScope();
  wchar_t windows[MAX_PATH + 1];
  ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
  bool found = false;
  for (const std::wstring& f : system.refused) found = found || _wcsicmp(f.c_str(), windows) == 0;
  EXPECT_TRUE(found);
  EXPECT_EQ(_wcsicmp(system.windowsFolder.c_str(), windows), 0);
}

// A standard user's swap at the worst moment: the folders on the way were
// held and checked, and just before the item is opened for deletion the
// folder holding it is moved away (as Unix moves it: no Windows share mode
// stops that) and a link to a folder outside put in its place. Whatever the
// item's path now leads to, nothing outside is removed.
struct SwapAtDelete {
  Scratch* scratch = nullptr;
  std::string suffix;  // of the name whose opening for deletion triggers the swap
  std::string folder, moved, victim;
  bool swapped = false;
};
SwapAtDelete* pendingSwap = nullptr;

void swapBeforeDelete(const std::wstring& path) {
  const std::string name = narrow(path);
  if (pendingSwap == nullptr || pendingSwap->swapped || name.size() < pendingSwap->suffix.size() ||
      name.compare(name.size() - pendingSwap->suffix.size(), std::string::npos, pendingSwap->suffix) != 0) {
    return;
  }
  SwapAtDelete& at = *pendingSwap;
  at.swapped = moveUnix(at.folder, at.moved) && at.scratch->link(at.folder, at.victim);
}

TEST(HeldFolders, AFolderSwappedForALinkBeforeTheDeleteLeadsNowhereOutside) {
  struct Case {
    const char* name;
    const char* file;     // recorded, below the product folder
    const char* folder;   // a DeleteEmptyDirs after it, or null
    const char* trigger;  // the name whose opening for deletion swaps "sub" away
    StepStatus refused;   // what the step says when it sees the swap
  } cases[] = {
      {"the folder holding a recorded file", "sub\\b.dll", nullptr, "\\sub\\b.dll", StepStatus::Failed},
      {"the folder above an emptied folder", "sub\\deep\\c.dll", "sub\\deep", "\\sub\\deep", StepStatus::Kept},
  };
  for (const Case& c : cases) {
    Scratch s;
    const std::string p = s.root() + "TL\\", v = s.root() + "victim\\";
    ASSERT_TRUE(writeFile(p + c.file) && writeFile(v + "b.dll") && makeFolders(v + "deep")) << c.name;
    Remover remover(scopeFor(s));
    SwapAtDelete at;
    at.scratch = &s;
    at.suffix = c.trigger;
    at.folder = p + "sub";
    at.moved = p + "sub.moved";
    at.victim = v.substr(0, v.size() - 1);
    pendingSwap = &at;
    win::deletionWatch = swapBeforeDelete;
    StepResult r = remover.deleteFile(p + c.file, nullptr);
    if (c.folder != nullptr) r = remover.deleteEmptyFolders(p + c.folder);
    remover.release();
    win::deletionWatch = nullptr;
    pendingSwap = nullptr;
    ASSERT_TRUE(at.swapped) << c.name;
    // Removed through the held folder, which is the moved one now, or
    // refused where the item's final path shows the swap (Wine, which also
    // deletes by name when the handle closes, and only what that name still
    // names): never anything the path now leads to.
    EXPECT_TRUE(r.status == StepStatus::Done || (r.status == c.refused && r.reason.find("link") != std::string::npos))
        << c.name << ": " << r.reason;
    EXPECT_TRUE(fileExists(v + "b.dll")) << c.name;
    EXPECT_TRUE(directoryExists(v + "deep")) << c.name;
  }
}

TEST(DeleteRegistryTree, RemovesTheKeyWithSubkeysAndRefusesOthersKeys) {
  Scratch s;
  std::string key = s.keyPath() + "\\TowerLink\\3";
  HKEY h;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (key + "\\a\\b").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(h, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
  RegCloseKey(h);

  StepResult r = deleteRegistryTree("HKLM\\" + key);
  EXPECT_EQ(r.status, StepStatus::Done) << r.reason;
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, key));
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, s.keyPath() + "\\TowerLink"));
  EXPECT_EQ(deleteRegistryTree("HKEY_LOCAL_MACHINE\\" + key).status, StepStatus::AlreadyGone);

  r = deleteRegistryTree("HKEY_CURRENT_USER\\Software");
  EXPECT_EQ(r.status, StepStatus::Failed);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, "Software"));
  r = deleteRegistryTree("HKEY_NOWHERE\\" + key);
  EXPECT_EQ(r.status, StepStatus::Failed);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_BAD_PATHNAME));
}

// Elevated, only administrators may write the folder; run without
// administrator rights the program is the user, who then must write it too.
// Wine stores no access lists: both are checked as they are made.
TEST(PrivateFolder, IsNewEachTimeAndOnlyAdministratorsMayWriteItWhenElevated) {
  for (bool elevated : {true, false}) {
    SCOPED_TRACE(elevated ? "elevated" : "not elevated");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(privateAccessList(elevated).c_str(),
                                                                     SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_TRUE(control & SE_DACL_PROTECTED) << "it would inherit the temporary folder's permissions";
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl);
    ASSERT_EQ(dacl->AceCount, 3u);
    const DWORD write = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | DELETE |
                        WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD | GENERIC_WRITE | GENERIC_ALL;
    const DWORD create = FILE_ADD_FILE | DELETE | FILE_DELETE_CHILD;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      ACCESS_ALLOWED_ACE* ace = nullptr;
      ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
      ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
      PSID sid = &ace->SidStart;
      const bool admin = IsWellKnownSid(sid, WinLocalSystemSid) || IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
      EXPECT_EQ((ace->Mask & write) != 0, admin || !elevated) << "entry " << i;
      if (!elevated) EXPECT_EQ(ace->Mask & create, create) << "entry " << i << ": no temporary file could be made";
    }
    LocalFree(descriptor);
  }
  EXPECT_EQ(privateAccessList(), privateAccessList(win::runsElevated()));

  DWORD error = 0;
  std::wstring a = createPrivateFolder(&error), b = createPrivateFolder(&error);
  ASSERT_FALSE(a.empty() || b.empty()) << error;
  EXPECT_NE(a, b);
  EXPECT_EQ(a.find(widen(tempFolder()) + L"tluninstall-"), 0u);
  EXPECT_EQ(a.size(), widen(tempFolder()).size() + 12 + 16 + 1);
  // A log is written only where none is yet: never into something prepared.
  EXPECT_TRUE(writeLogFile(a, "first"));
  EXPECT_FALSE(writeLogFile(a, "second"));
  EXPECT_EQ(readFile(narrow(a) + "tluninstall.log"), "first\r\n");
  for (const std::wstring& f : {a, b}) removeTree(narrow(f));
}

TEST(ReadUninstallRecord, ReadsTheInstallersLayoutAndReportsDamage) {
  Scratch s;
  ASSERT_TRUE(s.writeRecord({{"DeleteFile", "C:\\x\\a.dll", "Deleting TowerLink program files"},
                             {"DeleteRegTree", "HKLM\\Software\\Brightfold Labs\\TowerLink\\3", ""}},
                            "C:\\x\\"));
  UninstallRecord record;
  DWORD error = 0;
  ASSERT_EQ(readUninstallRecord(s.recordName(), &record, &error), RecordStatus::Ok);
  EXPECT_EQ(record.displayName, s.recordName());
  EXPECT_EQ(record.uninstallString, "C:\\x\\tluninstall.exe " + s.recordName());
  ASSERT_EQ(record.events.size(), 2u);
  EXPECT_EQ(record.events[0].tag, "DeleteFile");
  EXPECT_EQ(record.events[0].params, "C:\\x\\a.dll");
  EXPECT_EQ(record.events[0].desc, "Deleting TowerLink program files");
  EXPECT_EQ(record.events[1].desc, "");
  EXPECT_TRUE(record.events[1].usable);
  EXPECT_TRUE(record.problems.empty());

  // A count far beyond the values: only indices that can exist are read.
  ASSERT_TRUE(s.setDword("PorterEvents", 0xFFFFFFFFu));
  ASSERT_TRUE(s.deleteValue("PorterParams0"));
  ASSERT_EQ(readUninstallRecord(s.recordName(), &record, &error), RecordStatus::Ok);
  EXPECT_EQ(record.declaredEvents, 0xFFFFFFFFu);
  EXPECT_LT(record.events.size(), 20u);
  EXPECT_FALSE(record.events[0].usable);
  EXPECT_TRUE(record.events[1].usable);
  ASSERT_FALSE(record.problems.empty());
  EXPECT_NE(record.problems[0].find("PorterParams0"), std::string::npos) << record.problems[0];

  ASSERT_TRUE(s.setString("PorterEvents", "2"));
  EXPECT_EQ(readUninstallRecord(s.recordName(), &record, &error), RecordStatus::NoEventCount);
  EXPECT_EQ(readUninstallRecord(s.recordName() + "-none", &record, &error), RecordStatus::NotFound);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  EXPECT_EQ(deleteUninstallRecord(s.recordName()), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_FALSE(uninstallRecordExists(s.recordName()));
  EXPECT_EQ(deleteUninstallRecord(s.recordName()), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(ProgressWindowTest, ShowsTheCaptionLiterallyAndMovesTheBar) {
  ProgressWindow w;
  ASSERT_TRUE(w.create(GetModuleHandleA(nullptr), "TowerLink Uninstall", 7));
  ASSERT_TRUE(IsWindowVisible(w.window()));
  w.show(3, "Deleting A & B <x> \xE9");
  char text[128] = {0};
  GetWindowTextA(w.label(), text, sizeof(text));
  EXPECT_STREQ(text, "Deleting A & B <x> \xE9");
  EXPECT_EQ(GetWindowLongPtrA(w.label(), GWL_STYLE) & SS_NOPREFIX, static_cast<LONG_PTR>(SS_NOPREFIX));
  EXPECT_EQ(SendMessageA(w.bar(), PBM_GETPOS, 0, 0), 3);
  EXPECT_EQ(SendMessageA(w.bar(), PBM_GETRANGE, FALSE, 0), 7);
  // Closing is ignored while a run is under way.
  SendMessageA(w.window(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(w.window()));
  HWND handle = w.window();
  w.close();
  EXPECT_FALSE(IsWindow(handle));
}

}  // namespace

// The real tluninstall.exe, run silently against records written the way the
// installer writes them, in Wine's real registry and file system.
#include <gtest/gtest.h>

#include <algorithm>

#include "tools/uninstaller/exit_codes.h"
#include "uninstaller/scratch.h"

namespace {

using namespace uninst_test;
using uninst::kExitDamagedRecord;
using uninst::kExitIncomplete;
using uninst::kExitNoRecord;
using uninst::kExitOk;
using uninst::kExitUsage;

const char kLogName[] = "tluninstall.log";

std::string logText() { return readFile(tempFolder() + kLogName); }

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A product laid out and recorded like a same-computer installation: the
// product key, Start menu shortcuts and their folder, program files, the
// product folder's DeleteEmptyDirs, a model set, then the shared files that
// are extracted into the product folder afterwards (tluninstall.exe among
// them). Paths carry spaces, "&" and an ANSI letter beyond ASCII.
struct Product {
  std::string dir;        // product folder, closing backslash
  std::string startMenu;  // Start menu folder, closing backslash
  std::string models;     // model-set folder, no closing backslash
  std::string exe;        // the installed uninstaller
  std::string key;        // product key below HKLM
  std::vector<EventSpec> events;
  std::vector<std::string> files;  // every recorded file that exists
};

Product layOut(Scratch& s, const std::string& productSub = "Program Files & Co\\Tower Link \xE9\\") {
  Product p;
  p.dir = s.root() + productSub;
  p.startMenu = s.root() + "Start Menu\\Programs\\TowerLink\\";
  p.models = s.root() + "Sim\\aircraft\\towerlink";
  p.key = s.keyPath() + "\\Brightfold Labs\\TowerLink\\3";

  HKEY key;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (p.key + "\\Sub\\Deeper").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  DWORD v = 2006112500;
  RegSetValueExA(key, "DataVersion", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), sizeof(v));
  RegCloseKey(key);
  p.events.push_back({"DeleteRegTree", "HKEY_LOCAL_MACHINE\\" + p.key, "Clearing registry entries"});

  makeFolders(p.startMenu);
  for (const char* name : {"TowerLink (for Flight Simulator X).lnk", "Uninstall TowerLink.lnk"}) {
    std::string link = p.startMenu + name;
    EXPECT_TRUE(makeShortcut(link, s.root() + "tluninstall.exe", "TowerLink")) << link;
    p.events.push_back({"DeleteFile", link, "Removing start menu"});
    p.files.push_back(link);
  }
  p.events.push_back({"DeleteEmptyDirs", p.startMenu, "Removing start menu"});

  for (const char* name : {"towerlink_fs.exe", "towerlink_fsx.exe", "docs\\guide & notes.txt", "data\\a\\b\\c.dat"}) {
    std::string f = p.dir + name;
    EXPECT_TRUE(writeFile(f)) << f;
    p.events.push_back({"DeleteFile", f, "Deleting TowerLink program files"});
    p.files.push_back(f);
  }
  // Recorded but never written: already gone is not an error.
  p.events.push_back({"DeleteFile", p.dir + "never written.dll", "Deleting TowerLink program files"});
  p.events.push_back({"DeleteEmptyDirs", p.dir, "Deleting TowerLink program files"});

  std::string model = p.models + "\\model\\plane.mdl";
  EXPECT_TRUE(writeFile(model));
  EXPECT_TRUE(makeFolders(p.models + "\\texture\\empty"));
  p.events.push_back({"DeleteFile", model, "Deleting TowerLink default model set"});
  p.files.push_back(model);
  p.events.push_back({"DeleteEmptyDirs", p.models, "Deleting TowerLink default model set"});
  p.events.push_back({"DeleteEmptyDirs", s.root() + "Sim\\aircraft\\vip", "Deleting VIP model set"});

  std::string readOnly = p.dir + "towerlink.ico";
  EXPECT_TRUE(writeFile(readOnly));
  SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
  p.events.push_back({"DeleteFile", readOnly, "Deleting TowerLink program files"});
  p.files.push_back(readOnly);

  p.exe = s.installUninstaller(p.dir);
  EXPECT_FALSE(p.exe.empty());
  p.events.push_back({"DeleteFile", p.exe, "Deleting TowerLink program files"});
  return p;
}

TEST(SilentUninstall, RemovesEverythingRecordedThenItsRecordAndItsOwnFolder) {
  Scratch s;
  Product p = layOut(s);
  ASSERT_TRUE(s.writeRecord(p.events, p.dir));

  DWORD code = 0;
  ASSERT_TRUE(s.run(p.exe, s.recordName() + " /S", &code)) << "the uninstaller hung";
  EXPECT_EQ(code, static_cast<DWORD>(kExitOk)) << logText();

  for (const std::string& f : p.files) EXPECT_FALSE(fileExists(f)) << f;
  EXPECT_FALSE(fileExists(p.exe)) << "the uninstaller left itself behind";
  EXPECT_FALSE(folderExists(p.dir)) << "the product folder stayed";
  EXPECT_FALSE(folderExists(p.startMenu));
  EXPECT_FALSE(folderExists(p.models));
  EXPECT_TRUE(folderExists(s.root() + "Sim\\aircraft")) << "a folder above the recorded one was removed";
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, p.key)) << "the product key stayed";
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, s.keyPath() + "\\Brightfold Labs")) << "a key above it was removed";
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, s.recordKey())) << "the record stayed after a complete run";
  EXPECT_TRUE(contains(logText(), "complete")) << logText();

  // The copy that did the work is gone; the launcher's own image, moved out of
  // the product folder, waits for the next restart.
  std::string base = tempFolder() + "tluninstall-" + std::to_string(s.lastProcessId());
  EXPECT_FALSE(fileExists(base + ".exe"));
  std::vector<std::string> pending = s.newPendingRemovals();
  const std::string aside = "\\tluninstall-" + std::to_string(s.lastProcessId()) + ".old";
  bool scheduled = std::any_of(pending.begin(), pending.end(), [&](const std::string& x) {
    return x.size() >= aside.size() && _stricmp(x.c_str() + x.size() - aside.size(), aside.c_str()) == 0;
  });
  EXPECT_TRUE(scheduled) << "the launcher's image was not scheduled for removal";
}

TEST(SilentUninstall, LongPathsAreRemovedToo) {
  Scratch s;
  std::string sub = "Program Files\\";
  while (sub.size() < 300) sub += "A rather long folder name & more\\";
  Product p = layOut(s, sub);
  ASSERT_GT(p.dir.size(), static_cast<size_t>(MAX_PATH));
  ASSERT_TRUE(fileExists(p.dir + "docs\\guide & notes.txt"));
  ASSERT_TRUE(s.writeRecord(p.events, p.dir));
  // The program itself must start from a short path; a copy of the long one
  // plays the installed program.
  std::string shortExe = s.installUninstaller(s.root() + "short\\");
  DWORD code = 0;
  ASSERT_TRUE(s.run(shortExe, s.recordName() + " /S", &code));
  EXPECT_EQ(code, static_cast<DWORD>(kExitOk)) << logText();
  for (const std::string& f : p.files) EXPECT_FALSE(fileExists(f)) << f;
  EXPECT_FALSE(folderExists(p.dir));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, s.recordKey()));
}

TEST(SilentUninstall, AUserFileKeepsItsFolderAndIsNotAnError) {
  Scratch s;
  Product p = layOut(s);
  std::string mine = p.dir + "docs\\my own notes.txt";
  ASSERT_TRUE(writeFile(mine));
  ASSERT_TRUE(s.writeRecord(p.events, p.dir));

  DWORD code = 0;
  ASSERT_TRUE(s.run(p.exe, s.recordName() + " /S", &code));
  EXPECT_EQ(code, static_cast<DWORD>(kExitOk)) << logText();
  EXPECT_TRUE(fileExists(mine));
  EXPECT_TRUE(folderExists(p.dir + "docs"));
  EXPECT_FALSE(fileExists(p.dir + "docs\\guide & notes.txt"));
  EXPECT_FALSE(folderExists(p.dir + "data")) << "empty subfolders beside the kept one stay behind";
  EXPECT_FALSE(fileExists(p.exe));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, s.recordKey()));
  EXPECT_TRUE(contains(logText(), "left in place")) << logText();
}

TEST(SilentUninstall, WhatCannotBeRemovedIsReportedAndTheRecordStaysForARetry) {
  Scratch s;
  Product p = layOut(s);
  ASSERT_TRUE(s.writeRecord(p.events, p.dir));
  std::string locked = p.dir + "towerlink_fsx.exe";
  SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY);
  // Opened without delete sharing: the way a running program holds its file.
  HANDLE h = CreateFileA(locked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);

  DWORD code = 0;
  bool finished = s.run(p.exe, s.recordName() + " /S", &code);
  CloseHandle(h);
  ASSERT_TRUE(finished);
  EXPECT_EQ(code, static_cast<DWORD>(kExitIncomplete));
  std::string log = logText();
  EXPECT_TRUE(contains(log, "towerlink_fsx.exe")) << log;
  EXPECT_TRUE(contains(log, "incomplete")) << log;
  EXPECT_TRUE(fileExists(locked));
  DWORD attributes = GetFileAttributesA(locked.c_str());
  EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
      << "a file that stays keeps its read-only attribute";
  EXPECT_FALSE(fileExists(p.dir + "towerlink_fs.exe")) << "one failure stopped the rest";
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, p.key));
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, s.recordKey())) << "the record went although something stayed";

  // The cause gone, the same record finishes the job. The installed program
  // was removed by the first run, so a fresh copy plays it.
  std::string again = s.installUninstaller(s.root() + "again\\");
  ASSERT_TRUE(s.run(again, s.recordName() + " /S", &code));
  EXPECT_EQ(code, static_cast<DWORD>(kExitOk)) << logText();
  EXPECT_FALSE(fileExists(locked));
  EXPECT_FALSE(folderExists(p.dir));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, s.recordKey()));
}

// The dialog class of message boxes.
const char kBoxClass[] = "#32770";

void press(HWND box, int button) {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
}

TEST(InteractiveUninstall, NoChangesNothingAndYesRemovesAndReports) {
  Scratch s;
  Product p = layOut(s);
  ASSERT_TRUE(s.writeRecord(p.events, p.dir));
  const std::string shown = "TowerLink Test \xE9";
  ASSERT_TRUE(s.setString("DisplayName", shown));
  const std::string caption = shown + " Uninstall";

  // Started as the Start menu shortcut starts it: the program and one argument.
  ASSERT_TRUE(s.start(p.exe, s.recordName()));
  HWND question = waitForWindow(kBoxClass, caption);
  ASSERT_NE(question, nullptr) << "no confirmation";
  EXPECT_TRUE(contains(windowText(GetDlgItem(question, 0xFFFF)), "completely remove " + shown))
      << windowText(GetDlgItem(question, 0xFFFF));
  press(question, IDNO);
  DWORD code = 0;
  ASSERT_TRUE(s.finish(&code));
  EXPECT_EQ(code, static_cast<DWORD>(uninst::kExitCancelled));
  for (const std::string& f : p.files) EXPECT_TRUE(fileExists(f)) << f;
  EXPECT_TRUE(fileExists(p.exe));
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, p.key));
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, s.recordKey()));

  ASSERT_TRUE(s.start(p.exe, s.recordName()));
  question = waitForWindow(kBoxClass, caption);
  ASSERT_NE(question, nullptr);
  press(question, IDYES);
  // The same caption returns on the final message once the work is done.
  HWND done = nullptr;
  DWORD start = GetTickCount();
  while (!done && GetTickCount() - start < 30000) {
    HWND w = waitForWindow(kBoxClass, caption, 1000);
    if (w && w != question && contains(windowText(GetDlgItem(w, 0xFFFF)), "removed")) done = w;
  }
  ASSERT_NE(done, nullptr) << "no final message";
  EXPECT_TRUE(contains(windowText(GetDlgItem(done, 0xFFFF)), shown + " was successfully removed"))
      << windowText(GetDlgItem(done, 0xFFFF));
  press(done, IDOK);
  ASSERT_TRUE(s.finish(&code));
  EXPECT_EQ(code, static_cast<DWORD>(kExitOk));
  for (const std::string& f : p.files) EXPECT_FALSE(fileExists(f)) << f;
  EXPECT_FALSE(folderExists(p.dir));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, s.recordKey()));
}

struct DamageCase {
  const char* name;
  void (*damage)(Scratch&);
  int expectedCode;
  bool eventsUndone;  // the intact event (a file) is removed
};

TEST(DamagedRecord, IsReportedWithItsExitCodeAndNeverCrashes) {
  const DamageCase cases[] = {
      {"PorterEvents missing", [](Scratch& s) { s.deleteValue("PorterEvents"); }, kExitDamagedRecord, false},
      {"PorterEvents as text", [](Scratch& s) { s.setString("PorterEvents", "3"); }, kExitDamagedRecord, false},
      {"PorterEvents huge", [](Scratch& s) { s.setDword("PorterEvents", 0xFFFFFFFFu); }, kExitIncomplete, true},
      {"PorterEvents one too many", [](Scratch& s) { s.setDword("PorterEvents", 3); }, kExitIncomplete, true},
      {"PorterParams1 missing", [](Scratch& s) { s.deleteValue("PorterParams1"); }, kExitIncomplete, true},
      {"PorterTag1 a number", [](Scratch& s) { s.setDword("PorterTag1", 1); }, kExitIncomplete, true},
      {"unknown tag", [](Scratch& s) { s.setString("PorterTag1", "DeleteEverything"); }, kExitIncomplete, true},
      {"relative path", [](Scratch& s) { s.setString("PorterParams1", "towerlink\\x.dll"); }, kExitIncomplete, true},
      {"whole root key", [](Scratch& s) {
         s.setString("PorterTag1", "DeleteRegTree");
         s.setString("PorterParams1", "HKEY_LOCAL_MACHINE\\Software");
       }, kExitIncomplete, true},
      {"PorterDesc0 missing", [](Scratch& s) { s.deleteValue("PorterDesc0"); }, kExitOk, true},
  };
  for (const DamageCase& c : cases) {
    Scratch s;
    std::string file = s.root() + "TowerLink\\kept.dll";
    std::string other = s.root() + "TowerLink\\other.dll";
    ASSERT_TRUE(writeFile(file) && writeFile(other));
    ASSERT_TRUE(s.writeRecord({{"DeleteFile", file, "Deleting TowerLink program files"},
                               {"DeleteFile", other, "Deleting TowerLink program files"}},
                              s.root() + "TowerLink\\"));
    c.damage(s);
    std::string exe = s.installUninstaller(s.root() + "bin\\");
    DWORD code = 0;
    ASSERT_TRUE(s.run(exe, s.recordName() + " /S", &code)) << c.name << ": hung";
    EXPECT_EQ(code, static_cast<DWORD>(c.expectedCode)) << c.name << "\n" << logText();
    EXPECT_EQ(fileExists(file), !c.eventsUndone) << c.name;
    EXPECT_EQ(keyExists(HKEY_LOCAL_MACHINE, s.recordKey()), c.expectedCode != kExitOk) << c.name;
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft")) << c.name;
  }
}

TEST(CommandLine, AMissingRecordOrNameIsAnErrorAndNothingIsCopied) {
  Scratch s;
  std::string exe = s.installUninstaller(s.root() + "Tower Link\\");
  struct Case {
    std::string args;
    int code;
    const char* inLog;
  } cases[] = {
      {s.recordName() + " /S", kExitNoRecord, "could not be found"},
      {"/S", kExitUsage, "No product was named"},
      {s.recordName() + " /S /nonsense", kExitUsage, "/nonsense"},
      {"..\\" + s.recordName() + " /S", kExitUsage, "is not a product name"},
  };
  for (const Case& c : cases) {
    DWORD code = 0;
    ASSERT_TRUE(s.run(exe, c.args, &code)) << c.args;
    EXPECT_EQ(code, static_cast<DWORD>(c.code)) << c.args;
    EXPECT_TRUE(contains(logText(), c.inLog)) << c.args << "\n" << logText();
    EXPECT_TRUE(fileExists(exe)) << c.args;
    EXPECT_FALSE(fileExists(tempFolder() + "tluninstall-" + std::to_string(s.lastProcessId()) + ".exe")) << c.args;
  }
}

}  // namespace

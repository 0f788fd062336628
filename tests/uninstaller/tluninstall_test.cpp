// The real tluninstall.exe, run silently against records written the way the
// installer writes them, in Wine's real registry and file system.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>

#include "tools/uninstaller/exit_codes.h"
#include "tests/uninstaller/scratch.h"

namespace {

using namespace uninst_test;
using uninst::kExitDamagedRecord;
using uninst::kExitIncomplete;
using uninst::kExitNoRecord;
using uninst::kExitOk;
using uninst::kExitUsage;

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
  p.key = s.keyPath() + "\\TowerLink\\3";

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
  EXPECT_EQ(code, static_cast<DWORD>(kExitOk)) << s.lastLog();

  for (const std::string& f : p.files) EXPECT_FALSE(fileExists(f)) << f;
  EXPECT_FALSE(fileExists(p.exe)) << "the uninstaller left itself behind";
  EXPECT_FALSE(directoryExists(p.dir)) << "the product folder stayed";
  EXPECT_FALSE(directoryExists(p.startMenu));
  EXPECT_FALSE(directoryExists(p.models));
  EXPECT_TRUE(directoryExists(s.root() + "Sim\\aircraft")) << "a folder above the recorded one was removed";
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, p.key)) << "the product key stayed";
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, s.keyPath())) << "a key above it was removed";
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, s.recordKey())) << "the record stayed after a complete run";
  EXPECT_TRUE(contains(s.lastLog(), "complete")) << s.lastLog();

  // The copy ran from a private folder of its own, made for this run with an
  // access list that keeps other users out; the copy's file is gone, the
  // launcher's own image (moved out of the product folder) and the log wait
  // there for the next restart, and so does the folder.
  ASSERT_EQ(s.lastPrivateFolders().size(), 1u);
  const std::string folder = s.lastPrivateFolders()[0];
  EXPECT_FALSE(fileExists(folder + "\\tluninstall.exe"));
  EXPECT_TRUE(fileExists(folder + "\\tluninstall.old"));
  std::vector<std::string> pending = s.newPendingRemovals();
  for (const char* name : {"\\tluninstall.old", "\\tluninstall.log", ""}) {
    const std::string wanted = folder.substr(folder.find(':') + 1) + name;
    bool scheduled = std::any_of(pending.begin(), pending.end(), [&](const std::string& x) {
      return x.size() >= wanted.size() && _stricmp(x.c_str() + x.size() - wanted.size(), wanted.c_str()) == 0;
    });
    EXPECT_TRUE(scheduled) << wanted << " is not removed at the restart";
  }
  // (Wine 8 keeps no access lists on files; the list the folder is created
  // with is checked in wine_uninstaller_parts.)
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
  EXPECT_EQ(code, static_cast<DWORD>(kExitOk)) << s.lastLog();
  for (const std::string& f : p.files) EXPECT_FALSE(fileExists(f)) << f;
  EXPECT_FALSE(directoryExists(p.dir));
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
  EXPECT_EQ(code, static_cast<DWORD>(kExitOk)) << s.lastLog();
  EXPECT_TRUE(fileExists(mine));
  EXPECT_TRUE(directoryExists(p.dir + "docs"));
  EXPECT_FALSE(fileExists(p.dir + "docs\\guide & notes.txt"));
  EXPECT_FALSE(directoryExists(p.dir + "data")) << "empty subfolders beside the kept one stay behind";
  EXPECT_FALSE(fileExists(p.exe));
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, s.recordKey()));
  EXPECT_TRUE(contains(s.lastLog(), "left in place")) << s.lastLog();
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
  std::string log = s.lastLog();
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
  EXPECT_EQ(code, static_cast<DWORD>(kExitOk)) << s.lastLog();
  EXPECT_FALSE(fileExists(locked));
  EXPECT_FALSE(directoryExists(p.dir));
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
  EXPECT_FALSE(directoryExists(p.dir));
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
    EXPECT_EQ(code, static_cast<DWORD>(c.expectedCode)) << c.name << "\n" << s.lastLog();
    EXPECT_EQ(fileExists(file), !c.eventsUndone) << c.name;
    EXPECT_EQ(keyExists(HKEY_LOCAL_MACHINE, s.recordKey()), c.expectedCode != kExitOk) << c.name;
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft")) << c.name;
  }
}

// What one hostile row expects: paths and keys removed and kept, the exit
// code (5 when an event was refused: it is reported and the record stays).
struct Expect {
  std::vector<std::string> removed, kept;      // files or folders
  std::vector<std::string> keysKept;           // below HKLM
  std::vector<std::pair<HKEY, std::string>> otherKeysKept;
  std::vector<std::string> inLog;
  int code = kExitOk;
  std::vector<std::string> cleanUp;            // folders made outside the scratch folder
  std::vector<std::pair<HKEY, std::string>> cleanUpKeys;
};

std::string systemPath(int csidl) {
  char path[MAX_PATH + 1] = {0};
  SHGetFolderPathA(nullptr, csidl, nullptr, 0, path);
  return path;
}

std::string environment(const char* name) {
  char value[MAX_PATH + 1] = {0};
  DWORD n = GetEnvironmentVariableA(name, value, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(value, n) : std::string();
}

void checkOutcome(const char* row, Scratch& s, const Expect& e, DWORD code) {
  EXPECT_EQ(code, static_cast<DWORD>(e.code)) << row << "\n" << s.lastLog();
  for (const std::string& p : e.removed) EXPECT_FALSE(fileExists(p) || directoryExists(p)) << row << ": " << p << " stayed";
  for (const std::string& p : e.kept) EXPECT_TRUE(fileExists(p) || directoryExists(p)) << row << ": " << p << " went";
  for (const std::string& k : e.keysKept) EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, k)) << row << ": " << k << " went";
  for (const auto& k : e.otherKeysKept) EXPECT_TRUE(keyExists(k.first, k.second)) << row << ": " << k.second << " went";
  for (const std::string& t : e.inLog) EXPECT_TRUE(contains(s.lastLog(), t)) << row << ": " << t << "\n" << s.lastLog();
  EXPECT_EQ(keyExists(HKEY_LOCAL_MACHINE, s.recordKey()), e.code != kExitOk) << row << ": the record";
  for (const std::string& f : e.cleanUp) removeTree(f);
  for (const auto& k : e.cleanUpKeys) RegDeleteTreeA(k.first, k.second.c_str());
}

bool makeKey(HKEY root, const std::string& path) {
  HKEY key;
  if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

struct HostileRecord {
  const char* name;
  // Adds the hostile events to a record whose product folder is product and
  // which removes product + "towerlink_fs.exe" as usual; returns the product
  // folder the record names (product unless the row chooses another).
  void (*build)(Scratch& s, std::string* product, std::vector<EventSpec>* events, Expect* e);
};

const HostileRecord kHostileRecords[] = {
    {"DeleteRegTree of another program's key",
     [](Scratch& s, std::string*, std::vector<EventSpec>* ev, Expect* e) {
       const std::string key = "Software\\Microsoft\\" + s.recordName();
       makeKey(HKEY_LOCAL_MACHINE, key);
       ev->push_back({"DeleteRegTree", "HKLM\\" + key, ""});
       e->keysKept = {key};
       e->cleanUpKeys = {{HKEY_LOCAL_MACHINE, key}};
       e->inLog = {key};
       e->code = kExitIncomplete;
     }},
    {"DeleteRegTree of the Uninstall key with another product's record",
     [](Scratch& s, std::string*, std::vector<EventSpec>* ev, Expect* e) {
       const std::string other = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + s.recordName() + "-other";
       makeKey(HKEY_LOCAL_MACHINE, other);
       ev->push_back(
           {"DeleteRegTree", "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", ""});
       e->keysKept = {other};
       e->cleanUpKeys = {{HKEY_LOCAL_MACHINE, other}};
       e->code = kExitIncomplete;
     }},
    {"DeleteRegTree of HKU\\.DEFAULT\\Software\\Microsoft and of HKLM\\System",
     [](Scratch& s, std::string*, std::vector<EventSpec>* ev, Expect* e) {
       const std::string user = ".DEFAULT\\Software\\Microsoft\\" + s.recordName();
       const std::string system = "System\\" + s.recordName();
       makeKey(HKEY_USERS, user);
       makeKey(HKEY_LOCAL_MACHINE, system);
       ev->push_back({"DeleteRegTree", "HKU\\.DEFAULT\\Software\\Microsoft", ""});
       ev->push_back({"DeleteRegTree", "HKLM\\" + system, ""});
       e->otherKeysKept = {{HKEY_USERS, user}};
       e->keysKept = {system};
       e->cleanUpKeys = {{HKEY_USERS, user}, {HKEY_LOCAL_MACHINE, system}};
       e->code = kExitIncomplete;
     }},
    {"DeleteRegTree of the vendor key itself",
     [](Scratch& s, std::string*, std::vector<EventSpec>* ev, Expect* e) {
       makeKey(HKEY_LOCAL_MACHINE, s.keyPath() + "\\Other Product");
       ev->push_back({"DeleteRegTree", "HKLM\\Software\\Brightfold Labs", ""});
       e->keysKept = {s.keyPath() + "\\Other Product"};
       e->code = kExitIncomplete;
     }},
    {"DeleteFile outside the record's folders",
     [](Scratch& s, std::string*, std::vector<EventSpec>* ev, Expect* e) {
       const std::string victim = s.root() + "Elsewhere\\victim.txt";
       writeFile(victim);
       ev->push_back({"DeleteFile", victim, ""});
       e->kept = {victim};
       e->inLog = {victim};
       e->code = kExitIncomplete;
     }},
    {"DeleteFile on a server named in the record",
     [](Scratch&, std::string*, std::vector<EventSpec>* ev, Expect* e) {
       ev->push_back({"DeleteFile", "\\\\tl-no-such-server.invalid\\share\\TowerLink\\x.dll", ""});
       e->inLog = {"tl-no-such-server.invalid"};
       e->code = kExitIncomplete;
     }},
    {"DeleteEmptyDirs of C:\\windows. (trailing dot)",
     [](Scratch& s, std::string*, std::vector<EventSpec>* ev, Expect* e) {
       const std::string windows = systemPath(CSIDL_WINDOWS);
       const std::string mine = windows + "\\" + s.recordName() + "\\empty";
       makeFolders(mine);
       ev->push_back({"DeleteEmptyDirs", windows + ".", ""});
       e->kept = {mine};
       e->cleanUp = {windows + "\\" + s.recordName()};
     }},
    {"DeleteEmptyDirs of \\\\localhost\\C$\\ and \\\\?\\ forms of the Windows folder",
     [](Scratch& s, std::string*, std::vector<EventSpec>* ev, Expect* e) {
       const std::string windows = systemPath(CSIDL_WINDOWS);
       const std::string mine = windows + "\\" + s.recordName() + "\\empty";
       makeFolders(mine);
       ev->push_back({"DeleteEmptyDirs", "\\\\localhost\\" + windows.substr(0, 1) + "$" + windows.substr(2), ""});
       ev->push_back({"DeleteEmptyDirs", "\\\\?\\" + windows + "\\" + s.recordName(), ""});
       e->kept = {mine};
       e->cleanUp = {windows + "\\" + s.recordName()};
     }},
    {"DeleteEmptyDirs of Program Files by its 8.3 name, and of the native one",
     [](Scratch& s, std::string*, std::vector<EventSpec>* ev, Expect* e) {
       const std::string programs = systemPath(CSIDL_PROGRAM_FILES);
       const std::string mine = programs + "\\" + s.recordName() + "\\empty";
       makeFolders(mine);
       char shortName[MAX_PATH + 1] = {0};
       GetShortPathNameA(programs.c_str(), shortName, MAX_PATH);
       ev->push_back({"DeleteEmptyDirs", shortName, ""});
       if (!environment("ProgramW6432").empty()) ev->push_back({"DeleteEmptyDirs", environment("ProgramW6432"), ""});
       e->kept = {mine};
       e->cleanUp = {programs + "\\" + s.recordName()};
     }},
    {"DeleteEmptyDirs of a profile from ProfileList",
     [](Scratch& s, std::string*, std::vector<EventSpec>* ev, Expect* e) {
       const std::string profile = systemPath(CSIDL_PROFILE);
       const std::string mine = profile + "\\" + s.recordName() + "\\empty";
       makeFolders(mine);
       ev->push_back({"DeleteEmptyDirs", profile + "\\", ""});
       e->kept = {mine};
       e->cleanUp = {profile + "\\" + s.recordName()};
     }},
    {"product folder chosen as LocalAppData\\Microsoft\\ (Change...)",
     [](Scratch& s, std::string* product, std::vector<EventSpec>*, Expect* e) {
       *product = systemPath(CSIDL_LOCAL_APPDATA) + "\\Microsoft\\";
       const std::string history = *product + s.recordName() + "-History";
       makeFolders(history);
       e->kept = {history, *product};
       e->cleanUp = {history};
     }},
    {"product folder chosen as C:\\Games\\ beside another program",
     [](Scratch& s, std::string* product, std::vector<EventSpec>*, Expect* e) {
       *product = s.root() + "Games\\";
       makeFolders(*product + "OtherGame\\saves");
       e->kept = {*product + "OtherGame\\saves"};
     }},
};

TEST(HostileRecords, RefusedEventsAreReportedAndNothingOutsideTheInstallationGoes) {
  for (const HostileRecord& row : kHostileRecords) {
    Scratch s;
    std::string product = s.root() + "TowerLink\\";
    std::vector<EventSpec> events;
    Expect e;
    row.build(s, &product, &events, &e);
    // The rest of the record: one program file and the product folder.
    const std::string program = product + s.recordName() + "_fs.exe";
    ASSERT_TRUE(writeFile(program)) << row.name;
    events.insert(events.begin(), {"DeleteFile", program, "Deleting TowerLink program files"});
    events.push_back({"DeleteEmptyDirs", product, "Deleting TowerLink program files"});
    e.removed.push_back(program);
    ASSERT_TRUE(s.writeRecord(events, product)) << row.name;
    std::string exe = s.installUninstaller(s.root() + "bin\\");
    DWORD code = 0;
    ASSERT_TRUE(s.run(exe, s.recordName() + " /S", &code)) << row.name << ": hung";
    checkOutcome(row.name, s, e, code);
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall")) << row.name;
    EXPECT_TRUE(directoryExists(systemPath(CSIDL_SYSTEM))) << row.name;
  }
}

// Folders a standard user could have changed after the installation, each
// with the same record: three files in the product folder P (one in P\sub,
// one in P\sub\deep), P\sub\deep's and P's DeleteEmptyDirs. V is a folder
// outside the installation that the links point into.
struct HostileLayout {
  const char* name;
  void (*build)(Scratch& s, const std::string& p, const std::string& v, Expect* e);
};

const HostileLayout kHostileLayouts[] = {
    {"a link in place of a recorded subfolder",
     [](Scratch& s, const std::string& p, const std::string& v, Expect* e) {
       writeFile(p + "a.dll");
       writeFile(v + "b.dll");
       writeFile(v + "deep\\c.dll");
       makeFolders(v + "deep\\empty");
       s.link(p + "sub", v.substr(0, v.size() - 1));
       e->removed = {p + "a.dll"};
       e->kept = {v + "b.dll", v + "deep\\c.dll", v + "deep\\empty"};
       e->inLog = {"link"};
       e->code = kExitIncomplete;
     }},
    {"a link in place of the product folder",
     [](Scratch& s, const std::string& p, const std::string& v, Expect* e) {
       writeFile(v + "a.dll");
       writeFile(v + "sub\\b.dll");
       makeFolders(v + "sub\\deep");
       s.link(p.substr(0, p.size() - 1), v.substr(0, v.size() - 1));
       e->kept = {v + "a.dll", v + "sub\\b.dll", v + "sub\\deep"};
       e->code = kExitIncomplete;
     }},
    {"a link to a file in place of a recorded file",
     [](Scratch& s, const std::string& p, const std::string& v, Expect* e) {
       writeFile(v + "a.dll");
       writeFile(p + "sub\\b.dll");
       makeFolders(p);
       s.link(p + "a.dll", v + "a.dll");
       e->removed = {p + "sub\\b.dll", p + "sub"};
       e->kept = {v + "a.dll"};
       e->code = kExitIncomplete;
     }},
    {"a link to a tree of empty folders inside the product folder",
     [](Scratch& s, const std::string& p, const std::string& v, Expect* e) {
       writeFile(p + "a.dll");
       writeFile(p + "sub\\deep\\c.dll");
       makeFolders(v + "x\\y");
       s.link(p + "extra", v.substr(0, v.size() - 1));
       e->removed = {p + "a.dll", p + "sub"};
       e->kept = {v + "x\\y", p};
     }},
    {"empty folders of the product folder that held none of its files",
     [](Scratch&, const std::string& p, const std::string& v, Expect* e) {
       writeFile(p + "a.dll");
       writeFile(p + "sub\\deep\\c.dll");
       makeFolders(p + "saves\\slot1");
       makeFolders(p + "sub\\user");
       (void)v;
       e->removed = {p + "a.dll", p + "sub\\deep"};
       e->kept = {p + "saves\\slot1", p + "sub\\user"};
     }},
};

TEST(HostileLayouts, NoLinkIsFollowedAndOnlyWhatTheRecordEmptiedGoes) {
  for (const HostileLayout& row : kHostileLayouts) {
    Scratch s;
    const std::string p = s.root() + "TL\\";
    const std::string v = s.root() + "victim\\";
    ASSERT_TRUE(makeFolders(v)) << row.name;
    Expect e;
    row.build(s, p, v, &e);
    ASSERT_TRUE(s.writeRecord({{"DeleteFile", p + "a.dll", ""},
                               {"DeleteFile", p + "sub\\b.dll", ""},
                               {"DeleteFile", p + "sub\\deep\\c.dll", ""},
                               {"DeleteEmptyDirs", p + "sub\\deep", ""},
                               {"DeleteEmptyDirs", p, ""}},
                              p))
        << row.name;
    std::string exe = s.installUninstaller(s.root() + "bin\\");
    DWORD code = 0;
    ASSERT_TRUE(s.run(exe, s.recordName() + " /S", &code)) << row.name << ": hung";
    checkOutcome(row.name, s, e, code);
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
    EXPECT_TRUE(contains(s.lastLog(), c.inLog)) << c.args << "\n" << s.lastLog();
    EXPECT_TRUE(fileExists(exe)) << c.args;
    for (const std::string& f : s.lastPrivateFolders()) EXPECT_FALSE(fileExists(f + "\\tluninstall.exe")) << c.args;
  }
}

}  // namespace

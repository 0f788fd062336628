#include "tests/roundtrip/roundtrip_support.h"

#include <algorithm>
#include <cstdio>

#include "tests/e2e/ui_automation.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "resources/resource_ids.h"

namespace roundtrip {
namespace {

constexpr char kSimConnectProductCode[] = "{3F2A6B1C-5D4E-4F60-9A7B-1C2D3E4F5A60}";

using tltest::tempFolder;

// A process started with CreateProcess; waited for and, when it overstays,
// ended so that it cannot outlive the test.
bool runCommand(const std::string& commandLine, DWORD timeoutMs, DWORD* exitCode, std::string* why) {
  return tltest::runProgram(commandLine, ui::scaled(timeoutMs), exitCode, why);
}

}  // namespace

MachineSnapshot takeSnapshot(const std::string& productDir) {
  MachineSnapshot snapshot;
  snapshot.addFolder(e2e::scratchRoot());
  snapshot.addFolder(productDir);
  snapshot.addFolder(e2e::programFilesFolder() + "TowerLink");
  snapshot.addFolder(e2e::startMenuFolder());
  snapshot.addFolder(e2e::fsxAddonFolder());
  snapshot.addKey(kVendorKey);
  snapshot.addKey(kUninstallKey);
  return snapshot;
}

bool startToTypePage(e2e::WizardSession* session, std::string* why, const std::string& setup) {
  if (!session->start(setup.empty() ? e2e::setupExe() : setup, std::string())) {
    *why = "setup.exe did not show its wizard";
    return false;
  }
  if (!session->waitForPage(e2e::Welcome) || !session->press(IDC_NEXT) || !session->waitForPage(e2e::License)) {
    *why = "the licence page did not come";
    return false;
  }
  HWND page = session->page();
  if (!ui::click(page, IDC_LICENSE_ACCEPT) ||
      !ui::waitFor([&] { return session->frameButtonEnabled(IDC_NEXT); }, 5000) || !session->press(IDC_NEXT) ||
      !session->waitForPage(e2e::Type)) {
    *why = "the setup type page did not come";
    return false;
  }
  return true;
}

bool chooseTypeAndStart(e2e::WizardSession* session, int radio, std::string* why) {
  HWND page = session->page();
  if (!ui::isChecked(page, radio)) {
    if (!ui::click(page, radio) || !ui::waitFor([&] { return ui::isChecked(page, radio); }, 5000)) {
      *why = "the setup type could not be chosen";
      return false;
    }
  }
  if (!session->press(IDC_NEXT) || !session->waitForPage(e2e::TLDir)) {
    *why = "the product folder page did not come";
    return false;
  }
  if (!session->press(IDC_NEXT)) {
    *why = "Next is not available on the product folder page";
    return false;
  }
  // The version page comes only when more than one simulator was found; a
  // start step that fails shows its message while the folder page is still
  // up.
  int shown = -1;
  ui::waitFor(
      [&] {
        shown = session->currentPage();
        return (shown != e2e::TLDir && shown != -1) || !session->running() ||
               ui::waitForMessageBox(session->pid(), "TowerLink Installer Error", 0).window != nullptr;
      },
      15000);
  if (shown == e2e::FSDir && !session->press(IDC_NEXT)) {
    *why = "Next is not available on the version page";
    return false;
  }
  return true;
}

bool waitForRunEnd(e2e::WizardSession* session, int expected, std::string* why) {
  const bool reached = ui::waitFor(
      [&] { return session->currentPage() == expected || !session->running(); }, kRunTimeoutMs);
  if (!reached || session->currentPage() != expected) {
    *why = std::string("the run did not reach the ") + e2e::pageName(expected) + " page";
    return false;
  }
  return true;
}

bool passSimConnectPage(e2e::WizardSession* session, std::string* why) {
  HWND page = session->page();
  if (!ui::click(page, IDC_SIMCONNECT_LAUNCH) ||
      !ui::waitFor([&] { return session->frameButtonEnabled(IDC_NEXT); }, kRunTimeoutMs) ||
      !session->press(IDC_NEXT)) {
    *why = "the SimConnect page did not let the run go on";
    return false;
  }
  return waitForRunEnd(session, e2e::Finished, why);
}

bool finish(e2e::WizardSession* session, DWORD* exitCode, std::string* why) {
  // The Finished page shows a moment before the same switch swaps Next for
  // Finish; from outside the process the two steps can be seen apart.
  ui::waitFor([&] { return session->frameButtonVisible(IDC_FINISH) && session->frameButtonEnabled(IDC_FINISH); },
              5000);
  if (!session->press(IDC_FINISH) || !session->waitForExit(15000, exitCode)) {
    *why = "the wizard did not end on Finish";
    return false;
  }
  return true;
}

bool runRecordedUninstall(DWORD timeoutMs, DWORD* exitCode, std::string* why) {
  std::string command;
  if (!e2e::readString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", &command) || command.empty()) {
    *why = "the uninstall record has no UninstallString";
    return false;
  }
  return runCommand(command + " /S", timeoutMs, exitCode, why);
}

std::vector<std::string> tlTempFiles() {
  std::vector<std::string> names;
  const std::string folder = tempFolder();
  if (folder.empty()) return names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "tl*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(lowerAscii(data.cFileName));
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

TempFolderGuard::TempFolderGuard() : before_(tlTempFiles()), privateBefore_(tltest::uninstallerPrivateFolders()) {}

TempFolderGuard::~TempFolderGuard() {
  const std::string folder = tempFolder();
  // The uninstaller's private folders ("tluninstall-<random>", kept with its
  // renamed image and log until a restart) that appeared meanwhile.
  for (const std::string& dir : tltest::uninstallerPrivateFolders()) {
    if (std::find(privateBefore_.begin(), privateBefore_.end(), dir) != privateBefore_.end()) continue;
    for (const char* name : {"\\tluninstall.old", "\\tluninstall.log", "\\tluninstall.exe"}) {
      const std::string file = dir + name;
      ui::waitFor([&] { return DeleteFileA(file.c_str()) != FALSE || GetLastError() == ERROR_FILE_NOT_FOUND; }, 5000);
    }
    RemoveDirectoryA(dir.c_str());
  }
  for (const std::string& name : tlTempFiles()) {
    if (std::binary_search(before_.begin(), before_.end(), name)) continue;
    const std::string path = folder + name;
    // The uninstaller's copy may still be ending for a moment.
    ui::waitFor([&] { return DeleteFileA(path.c_str()) != FALSE || GetLastError() == ERROR_FILE_NOT_FOUND; },
                5000);
  }
}

std::vector<std::string> TempFolderGuard::leaked() const {
  std::vector<std::string> found;
  for (const std::string& name : tlTempFiles()) {
    if (std::binary_search(before_.begin(), before_.end(), name)) continue;
    if (name.compare(0, 11, "tluninstall") == 0) continue;
    found.push_back(name);
  }
  return found;
}

ReadOnlyFile::ReadOnlyFile(const std::string& path) : path_(path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  applied_ = attributes != INVALID_FILE_ATTRIBUTES &&
             SetFileAttributesA(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY) != FALSE;
}

ReadOnlyFile::~ReadOnlyFile() {
  const DWORD attributes = GetFileAttributesA(path_.c_str());
  if (applied_ && attributes != INVALID_FILE_ATTRIBUTES) {
    SetFileAttributesA(path_.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
}

void removeSimConnectPackage() {
  if (!e2e::simConnectInstalled()) return;
  char systemDir[MAX_PATH] = {};
  GetSystemDirectoryA(systemDir, MAX_PATH);
  const std::string msiexec = std::string(systemDir) + "\\msiexec.exe";
  DWORD code = 0;
  std::string why;
  if (!runCommand("\"" + msiexec + "\" /x " + kSimConnectProductCode + " /qn", 120000, &code, &why)) {
    std::fprintf(stderr, "msiexec /x: %s\n", why.c_str());
  }
}

std::string ansiEAcute() {
  const wchar_t wide[] = {0x00E9, 0};
  char narrow[8] = {};
  BOOL usedDefault = FALSE;
  const int length = WideCharToMultiByte(CP_ACP, 0, wide, 1, narrow, sizeof(narrow), nullptr, &usedDefault);
  if (length <= 0 || usedDefault) return std::string();
  return std::string(narrow, length);
}

}  // namespace roundtrip

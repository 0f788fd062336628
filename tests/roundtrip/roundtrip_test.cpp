// Install, then uninstall through the record's own command: the real
// setup.exe driven through its wizard, then the UninstallString it stored run
// silently. A snapshot of everything an installation may touch is taken
// before and after; what differs must be exactly what the record does not
// carry on purpose (the shared fsuipc.dll, Flight Simulator X's add-on list,
// the vendor keys above the product's own key, the SimConnect package).
// Then faults at the wizard level, each with its message and nothing lost.
#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <thread>

#include "tests/e2e/e2e_environment.h"
#include "tests/e2e/ui_automation.h"
#include "tests/e2e/wizard_session.h"
#include "tests/hardening/child_process.h"
#include "resources/resource_ids.h"
#include "tests/roundtrip/roundtrip_support.h"
#include "tests/support/test_support.h"

namespace roundtrip {
namespace {

using e2e::Fs2002;
using e2e::Fs2004;
using e2e::Fsx;

constexpr char kErrorCaption[] = "TowerLink Installer Error";

// A user's own add-on list: another product's entry that must survive.
const std::string kForeignDllXml = e2e::foreignDllXmlHead() + "</SimBase.Document>\r\n";

struct RoundTripCase {
  const char* name;
  int radio;                          // setup type page choice
  std::vector<e2e::Simulator> sims;   // installed in the prefix
  const char* folderName;             // under the scratch root; null: the proposed default
  bool userDllXml;                    // an add-on list exists before the run
};

std::ostream& operator<<(std::ostream& out, const RoundTripCase& c) { return out << c.name; }

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Leftovers the record does not carry on purpose, for one case.
struct Allowance {
  std::set<std::string> required;  // must be among the leftovers
  std::vector<std::string> prefixes;  // may be among them
};

Allowance allowedLeftovers(const RoundTripCase& c, const std::vector<e2e::InstalledSimulator>& sims,
                           const std::string& productDir, const MachineSnapshot& before) {
  Allowance allowed;
  const bool simulatorFiles = c.radio != IDC_TYPE_PRODUCT;
  for (const e2e::InstalledSimulator& sim : sims) {
    if (!simulatorFiles) continue;
    if (sim.version != Fsx) {
      allowed.required.insert("added " + lowerAscii(sim.folder) + "modules\\fsuipc.dll");
    } else {
      const std::string dllXml = lowerAscii(e2e::fsxAddonFolder()) + "dll.xml";
      allowed.required.insert((c.userDllXml ? "changed " : "added ") + dllXml);
    }
  }
  // The record deletes only the product's version key; the keys above it
  // stay when the run created them.
  const std::string vendor = "hklm\\" + lowerAscii(kVendorKey) + "\\";
  if (before.entries().count(vendor) == 0) {
    allowed.required.insert("added " + vendor);
    allowed.required.insert("added " + vendor + "towerlink\\");
  }
  if (c.radio == IDC_TYPE_PRODUCT) allowed.prefixes.push_back("added " + vendor + "simconnectsample\\");
  // Simulator only: the shared files and the X modules go to the product
  // folder, but only the product files' step records the folder itself, so
  // the emptied folder stays (its files must all be gone: each would show).
  if (c.radio == IDC_TYPE_SIMULATOR && before.entries().count(lowerAscii(productDir)) == 0) {
    allowed.required.insert("added " + lowerAscii(productDir));
  }
  return allowed;
}

// Compares what the round trip left with what the record does not carry on
// purpose: nothing else may stay, and all of that must.
void expectOnlyAllowedLeftovers(const RoundTripCase& c, const std::vector<e2e::InstalledSimulator>& sims,
                                const std::string& productDir, const MachineSnapshot& before) {
  const MachineSnapshot after = takeSnapshot(productDir);
  const std::vector<std::string> leftovers = difference(before, after);
  const Allowance allowed = allowedLeftovers(c, sims, productDir, before);
  std::printf("[ leftover ] %s: %u entries\n", c.name, static_cast<unsigned>(leftovers.size()));
  for (const std::string& line : leftovers) std::printf("[ leftover ]     %s\n", line.c_str());
  std::fflush(stdout);
  for (const std::string& line : leftovers) {
    const bool expected =
        allowed.required.count(line) != 0 ||
        std::any_of(allowed.prefixes.begin(), allowed.prefixes.end(),
                    [&](const std::string& prefix) { return startsWith(line, prefix); });
    EXPECT_TRUE(expected) << "left behind by the round trip: " << line;
  }
  for (const std::string& line : allowed.required) {
    EXPECT_TRUE(std::find(leftovers.begin(), leftovers.end(), line) != leftovers.end())
        << "expected to stay, but did not: " << line;
  }
}

bool folderIsEmpty(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return true;
  bool empty = true;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") empty = false;
  } while (empty && FindNextFileA(search, &found));
  FindClose(search);
  return empty;
}

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::string why;
    ASSERT_TRUE(prefix_.clean(&why)) << "the prefix is not clean: " << why;
    e2e::makeFolders(e2e::scratchRoot());
  }
  void TearDown() override {
    session_.kill();
    removeSimConnectPackage();
    CoUninitialize();
  }

  e2e::PrefixGuard prefix_;
  TempFolderGuard temp_;
  e2e::WizardSession session_;
};

TEST_P(RoundTrip, UninstallLeavesOnlyWhatTheRecordDoesNotCarry) {
  const RoundTripCase& c = GetParam();
  std::vector<e2e::InstalledSimulator> sims;
  for (e2e::Simulator sim : c.sims) sims.push_back(prefix_.installSimulator(sim));
  if (c.radio != IDC_TYPE_PRODUCT) {
    const std::string xml = kForeignDllXml;
    prefix_.prepareFsxAddonFolder(c.userDllXml ? &xml : nullptr);
  }
  std::string productDir = e2e::programFilesFolder() + "TowerLink\\";
  if (c.folderName != nullptr) {
    std::string name = c.folderName;
    const size_t mark = name.find("%e");
    if (mark != std::string::npos) {
      const std::string e = ansiEAcute();
      if (e.empty()) GTEST_SKIP() << "the ANSI code page has no e acute";
      name.replace(mark, 2, e);
    }
    productDir = e2e::scratchRoot() + name + "\\";
  }
  // Taken before the stored folder is preset: the uninstaller rightly takes
  // the product key away with the rest.
  const MachineSnapshot before = takeSnapshot(productDir);
  if (c.folderName != nullptr) prefix_.presetProductDir(productDir.substr(0, productDir.size() - 1));

  std::string why;
  ASSERT_TRUE(startToTypePage(&session_, &why)) << why;
  ASSERT_TRUE(chooseTypeAndStart(&session_, c.radio, &why)) << why;
  if (c.radio == IDC_TYPE_PRODUCT) {
    ASSERT_TRUE(waitForRunEnd(&session_, e2e::SimConnect, &why)) << why;
    ASSERT_TRUE(passSimConnectPage(&session_, &why)) << why;
  } else {
    ASSERT_TRUE(waitForRunEnd(&session_, e2e::Finished, &why)) << why;
  }
  DWORD setupCode = 1;
  ASSERT_TRUE(finish(&session_, &setupCode, &why)) << why;
  EXPECT_EQ(setupCode, 0u);
  std::string stored;
  ASSERT_TRUE(e2e::readString(HKEY_LOCAL_MACHINE, kUninstallKey, "UninstallString", &stored));
  EXPECT_EQ(stored, "\"" + productDir + "tluninstall.exe\" TowerLink");
  EXPECT_TRUE(e2e::fileExists(productDir + "tluninstall.exe"));

  DWORD uninstallCode = 99;
  ASSERT_TRUE(runRecordedUninstall(kRunTimeoutMs, &uninstallCode, &why)) << why;
  EXPECT_EQ(uninstallCode, 0u) << "the silent uninstaller's exit code";
  // The relaunched copy removes the product folder's last files after the
  // first process has ended; give it a moment. A simulator-only folder stays
  // by design, so there the wait is for it to be empty.
  const bool folderStays = c.radio == IDC_TYPE_SIMULATOR;
  ui::waitFor([&] { return folderStays ? folderIsEmpty(productDir) : !e2e::folderExists(productDir); }, 10000);

  expectOnlyAllowedLeftovers(c, sims, productDir, before);
  EXPECT_TRUE(temp_.leaked().empty()) << "temporary file left: " << temp_.leaked().front();
}

const RoundTripCase kCases[] = {
    {"SameComputerFs2004AndFsx", IDC_TYPE_SAME, {Fs2004, Fsx}, nullptr, false},
    {"ProductOnly", IDC_TYPE_PRODUCT, {}, nullptr, false},
    {"SimulatorOnlyFsx", IDC_TYPE_SIMULATOR, {Fsx}, nullptr, true},
    {"FolderWithSpacesAmpersandAndAccent", IDC_TYPE_SAME, {Fs2002}, "Tower & Link caf%e", false},
};

INSTANTIATE_TEST_SUITE_P(SetupTypes, RoundTrip, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RoundTripCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- faults at the wizard level ------------------------------------------------------

class WizardFault : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::string why;
    ASSERT_TRUE(prefix_.clean(&why)) << "the prefix is not clean: " << why;
    e2e::makeFolders(e2e::scratchRoot());
  }
  void TearDown() override {
    session_.kill();
    CoUninitialize();
  }

  // Waits for the error box, checks its text, answers it and checks that
  // the installer then ends (no hang) with exit code 0.
  void expectErrorAndExit(const std::string& text) {
    const ui::MessageBox box = ui::waitForMessageBox(session_.pid(), kErrorCaption, kRunTimeoutMs);
    ASSERT_NE(box.window, nullptr) << "no error message";
    EXPECT_EQ(box.text, text);
    ASSERT_TRUE(ui::answer(box, IDOK));
    DWORD code = 99;
    ASSERT_TRUE(session_.waitForExit(15000, &code)) << "the installer did not close after its error";
    EXPECT_EQ(code, 0u);
  }

  // Through the first pages to a SameComputer run.
  void startSameComputerRun() {
    std::string why;
    ASSERT_TRUE(startToTypePage(&session_, &why)) << why;
    ASSERT_TRUE(chooseTypeAndStart(&session_, IDC_TYPE_SAME, &why)) << why;
  }

  // Flight Simulator 2004 with a user's fsuipc.dll of these bytes; returns
  // its modules folder.
  std::string fs2004WithFsuipc(const std::string& bytes) {
    const std::string modules = prefix_.installSimulator(Fs2004).folder + "modules\\";
    EXPECT_TRUE(e2e::writeFile(modules + "fsuipc.dll", bytes));
    return modules;
  }

  // The guarded copy of a shared module leaves no temporary file beside it.
  static void expectNoTemporaryFileIn(const std::string& modules) {
    for (const std::string& name : e2e::listFiles(modules)) {
      EXPECT_FALSE(name.compare(0, 3, "tmp") == 0) << "temporary file left: " << modules << name;
    }
  }

  e2e::PrefixGuard prefix_;
  TempFolderGuard temp_;
  e2e::WizardSession session_;
};

// A read-only add-on list: message 182, the list byte for byte as it was and
// still read-only, no temporary copy left in %TEMP%.
TEST_F(WizardFault, ReadOnlyDllXmlShowsMessage182AndKeepsTheFile) {
  prefix_.installSimulator(Fsx);
  const std::string xml = kForeignDllXml;
  prefix_.prepareFsxAddonFolder(&xml);
  const std::string path = e2e::fsxAddonFolder() + "dll.xml";
  // Declared after prefix_, so it is undone first and the guard can restore.
  ReadOnlyFile readOnly(path);
  ASSERT_TRUE(readOnly.applied());

  ASSERT_NO_FATAL_FAILURE(startSameComputerRun());
  expectErrorAndExit(e2e::setupString(IDS_ERR_FSX_CONFIG));

  std::string now;
  ASSERT_TRUE(e2e::readFile(path, &now));
  EXPECT_TRUE(now == xml) << "dll.xml changed:\n" << now;
  EXPECT_TRUE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_READONLY);
  const std::vector<std::string> leaked = temp_.leaked();
  EXPECT_TRUE(leaked.empty()) << "temporary file left: " << leaked.front();
  EXPECT_FALSE(e2e::keyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << "a record of a run that never ran";
}

// A product folder that cannot be created (its parent is a file): the
// worker's result 2 after message 121; the user's add-on list and modules
// are untouched and no record is left.
TEST_F(WizardFault, ProductFolderUnderAFileShowsMessage121With2) {
  const std::string userFsuipc = "the user's own FSUIPC";
  const std::string modules = fs2004WithFsuipc(userFsuipc);
  const std::string blocker = e2e::scratchRoot() + "blocker";
  ASSERT_TRUE(e2e::writeFile(blocker, "a file, not a folder"));
  prefix_.presetProductDir(blocker + "\\TowerLink");

  ASSERT_NO_FATAL_FAILURE(startSameComputerRun());
  expectErrorAndExit(e2e::setupString(IDS_ERR_INSTALL) + "\n(2)");

  std::string now;
  ASSERT_TRUE(e2e::readFile(modules + "fsuipc.dll", &now));
  EXPECT_EQ(now, userFsuipc);
  ASSERT_TRUE(e2e::readFile(blocker, &now));
  EXPECT_EQ(now, "a file, not a folder");
  EXPECT_FALSE(e2e::keyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << "a record of a failed run";
  const std::vector<std::string> leaked = temp_.leaked();
  EXPECT_TRUE(leaked.empty()) << "temporary file left: " << leaked.front();
}

// Another program's hold on a file: open for reading, others may only read
// it (no writing, renaming or deleting) until the object ends.
class HeldOpen {
 public:
  explicit HeldOpen(const std::string& path)
      : handle_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldOpen() {
    if (ok()) CloseHandle(handle_);
  }
  HeldOpen(const HeldOpen&) = delete;
  HeldOpen& operator=(const HeldOpen&) = delete;
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// A user's fsuipc.dll without a version (so older than the payload's) that
// another program holds open without sharing: the run cannot replace it and
// reports 3 after message 121; the user's file is intact and the guarded
// copy's temporary file is not left in the modules folder.
TEST_F(WizardFault, HeldOpenOlderFsuipcReportsItAndKeepsTheFile) {
  const std::string userFsuipc = "the user's own FSUIPC, no version resource";
  const std::string modules = fs2004WithFsuipc(userFsuipc);
  {
    const HeldOpen held(modules + "fsuipc.dll");
    ASSERT_TRUE(held.ok()) << "error " << GetLastError();
    ASSERT_NO_FATAL_FAILURE(startSameComputerRun());
    expectErrorAndExit(e2e::setupString(IDS_ERR_INSTALL) + "\n(3)");
  }
  std::string now;
  ASSERT_TRUE(e2e::readFile(modules + "fsuipc.dll", &now));
  EXPECT_EQ(now, userFsuipc);
  // Only what the run wrote before fsuipc.dll may be new there; no tmp file.
  expectNoTemporaryFileIn(modules);
  EXPECT_FALSE(e2e::keyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << "a record of a failed run";
}

// A user's fsuipc.dll newer than the payload's (4.0.0.0 against 3.9.9.0)
// that another program holds open: the shared module is only written when
// the payload's is newer, so the run leaves it alone and succeeds, and the
// file is byte for byte the user's, with no temporary copy beside it.
TEST_F(WizardFault, HeldOpenNewerFsuipcIsKeptAndTheRunSucceeds) {
  std::string newer;
  ASSERT_TRUE(tltest::readFile(tltest::fixturePath("version_4_0_0_0.dll"), &newer));
  const std::string modules = fs2004WithFsuipc(newer);
  {
    const HeldOpen held(modules + "fsuipc.dll");
    ASSERT_TRUE(held.ok()) << "error " << GetLastError();
    ASSERT_NO_FATAL_FAILURE(startSameComputerRun());
    std::string why;
    ASSERT_TRUE(waitForRunEnd(&session_, e2e::Finished, &why)) << why;
    DWORD code = 1;
    ASSERT_TRUE(finish(&session_, &code, &why)) << why;
    EXPECT_EQ(code, 0u);
  }
  std::string now;
  ASSERT_TRUE(e2e::readFile(modules + "fsuipc.dll", &now));
  EXPECT_TRUE(now == newer) << "the user's newer fsuipc.dll was replaced";
  expectNoTemporaryFileIn(modules);
  EXPECT_TRUE(e2e::keyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << "the run's record";
  const std::vector<std::string> leaked = temp_.leaked();
  EXPECT_TRUE(leaked.empty()) << "temporary file left: " << leaked.front();
}

// ---- Wine's own uninstaller front end, a real client of the record ----------------

// Wine's "uninstaller.exe" (Add/Remove Programs on the command line) from the
// system folder, its console output captured.
bool runSystemUninstaller(const std::string& arguments, std::string* output, DWORD* exitCode) {
  char system[MAX_PATH] = {};
  if (GetSystemDirectoryA(system, MAX_PATH) == 0) return false;
  const std::string program = std::string(system) + "\\uninstaller.exe";
  return tlharden::runCaptured("\"" + program + "\" " + arguments, system, kRunTimeoutMs, output, exitCode);
}

// The lines of a --list: "<key name>|||<display name>" each.
std::set<std::string> listedPrograms(const std::string& output) {
  std::set<std::string> lines;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.insert(line);
    start = end + 1;
  }
  return lines;
}

class SystemUninstaller : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::string why;
    ASSERT_TRUE(prefix_.clean(&why)) << "the prefix is not clean: " << why;
    e2e::makeFolders(e2e::scratchRoot());
  }
  void TearDown() override {
    session_.kill();
    CoUninitialize();
  }

  e2e::PrefixGuard prefix_;
  TempFolderGuard temp_;
  e2e::WizardSession session_;
};

// After an installation "uninstaller --list" shows the record by its key name
// and DisplayName; "--remove TowerLink" (a key name, compared ignoring case:
// ours is the same text as the DisplayName) runs UninstallString exactly as
// stored and waits for it. That is the interactive tluninstall.exe, which asks
// first and reports at the end; the boxes are answered as a user would. The
// product folder "<scratch>\FS Addons\TowerLink\" has a program planted at
// "<scratch>\FS.exe", which an unquoted UninstallString would start instead.
TEST_F(SystemUninstaller, SystemUninstallerListsAndRemoves) {
  const RoundTripCase c{"SystemUninstaller", IDC_TYPE_SAME, {Fs2004}, "FS Addons\\TowerLink", false};
  const std::vector<e2e::InstalledSimulator> sims = {prefix_.installSimulator(Fs2004)};
  const std::string productDir = e2e::scratchRoot() + c.folderName + "\\";
  const std::string planted = e2e::scratchRoot() + "FS.exe";
  ASSERT_TRUE(CopyFileA(TL_PLANTED_PROGRAM, planted.c_str(), FALSE)) << planted;
  ASSERT_TRUE(e2e::makeFolders(e2e::scratchRoot() + "FS Addons"));
  const std::string listed = "TowerLink|||TowerLink";
  std::string output;
  DWORD code = 99;
  ASSERT_TRUE(runSystemUninstaller("--list", &output, &code)) << output;
  ASSERT_EQ(listedPrograms(output).count(listed), 0u) << output;
  const MachineSnapshot before = takeSnapshot(productDir);
  prefix_.presetProductDir(productDir.substr(0, productDir.size() - 1));

  std::string why;
  ASSERT_TRUE(startToTypePage(&session_, &why)) << why;
  ASSERT_TRUE(chooseTypeAndStart(&session_, c.radio, &why)) << why;
  ASSERT_TRUE(waitForRunEnd(&session_, e2e::Finished, &why)) << why;
  ASSERT_TRUE(finish(&session_, &code, &why)) << why;

  ASSERT_TRUE(runSystemUninstaller("--list", &output, &code)) << output;
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(listedPrograms(output).count(listed), 1u) << "not listed:\n" << output;

  const std::string caption = "TowerLink Uninstall";
  std::string question, report;
  std::thread user([&] {
    ui::MessageBox box = ui::waitForMessageBox(0, caption, kRunTimeoutMs);
    question = box.text;
    if (box.window == nullptr || !ui::answer(box, IDYES)) return;
    box = ui::waitForMessageBox(0, caption, kRunTimeoutMs);
    report = box.text;
    if (box.window != nullptr) ui::answer(box, IDOK);
  });
  const bool removed = runSystemUninstaller("--remove TowerLink", &output, &code);
  user.join();
  ASSERT_TRUE(removed) << output;
  EXPECT_EQ(code, 0u) << output;
  EXPECT_NE(question.find("completely remove TowerLink"), std::string::npos) << "asked: " << question;
  EXPECT_NE(report.find("TowerLink was successfully removed"), std::string::npos) << "reported: " << report;
  EXPECT_TRUE(ui::topLevelWindows(0, caption, false).empty()) << "a window of the uninstaller stays";

  // The relaunched copy removes the product folder's last files after the
  // program that the front end waited for has ended.
  ui::waitFor([&] { return !e2e::folderExists(productDir); }, 10000);
  expectOnlyAllowedLeftovers(c, sims, productDir, before);
  ASSERT_TRUE(runSystemUninstaller("--list", &output, &code)) << output;
  EXPECT_EQ(listedPrograms(output).count(listed), 0u) << "still listed:\n" << output;
  EXPECT_TRUE(temp_.leaked().empty()) << "temporary file left: " << temp_.leaked().front();
  EXPECT_FALSE(e2e::fileExists(planted + ".ran")) << "the planted program ran";
}

}  // namespace
}  // namespace roundtrip

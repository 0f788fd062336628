// End-to-end scenarios: the real setup.exe of this tree, started in the test
// prefix, driven through its wizard like a user would, and every output
// checked afterwards (files byte for byte against the sample tree, product
// settings, the uninstall record value by value, dll.xml, shortcuts, the
// SimConnect package). Each scenario puts the prefix back as it found it.
#include <gtest/gtest.h>
#include <objbase.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <tuple>

#include "tests/e2e/e2e_environment.h"
#include "tests/e2e/ui_automation.h"
#include "tests/e2e/wizard_session.h"
#include "tests/hardening/child_process.h"
#include "install/progress_frames.h"
#include "resources/resource_ids.h"
#include "tests/roundtrip/roundtrip_support.h"

namespace e2e {
namespace {

constexpr char kErrorCaption[] = "TowerLink Installer Error";
constexpr char kCancelCaption[] = "TowerLink Installer";
constexpr DWORD kInstallTimeoutMs = 180000;
constexpr char kDocsSlash[] = "https://docs.brightfoldlabs.com/towerlink/3/";

using Event = std::tuple<std::string, std::string, std::string>;  // tag, params, desc

class WizardEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::string why;
    ASSERT_TRUE(prefix_.clean(&why)) << "the prefix is not clean: " << why;
    makeFolders(scratchRoot());
  }
  void TearDown() override {
    session_.kill();
    CoUninitialize();
  }

  // Starts setup.exe and walks welcome and licence, checking both pages.
  void startAndAcceptLicence(const std::string& exe, bool checkTexts, const std::string& workDir = std::string()) {
    ASSERT_TRUE(session_.start(exe, workDir)) << exe;
    ASSERT_TRUE(session_.waitForPage(Welcome));
    screenshot("01-welcome");
    EXPECT_FALSE(session_.frameButtonEnabled(IDC_BACK)) << "Back on the first page";
    EXPECT_FALSE(ui::isVisible(session_.frame(), IDC_HEADER_BITMAP)) << "header bitmap on the welcome page";
    if (checkTexts) {
      const std::string welcome = setupString(IDS_WELCOME_TITLE) + "\n" + setupString(IDS_WELCOME_FOR) + "\n\n" +
                                  setupString(IDS_WELCOME_BODY) + "\n\n" + setupString(IDS_WELCOME_NEED) + "\n\n" +
                                  setupString(IDS_WELCOME_EXIT_APPS);
      EXPECT_FALSE(setupString(IDS_WELCOME_TITLE).empty());
      EXPECT_EQ(ui::text(GetDlgItem(session_.page(), IDC_WELCOME_TEXT)), welcome);
    }
    ASSERT_TRUE(session_.press(IDC_NEXT));
    ASSERT_TRUE(session_.waitForPage(License));
    screenshot("02-licence");
    HWND page = session_.page();
    EXPECT_TRUE(ui::isVisible(session_.frame(), IDC_HEADER_BITMAP)) << "header bitmap on the licence page";
    EXPECT_FALSE(ui::isChecked(page, IDC_LICENSE_ACCEPT));
    EXPECT_FALSE(session_.frameButtonEnabled(IDC_NEXT)) << "Next before the licence is accepted";
    EXPECT_TRUE(session_.frameButtonEnabled(IDC_BACK));
    EXPECT_TRUE(session_.frameButtonEnabled(IDC_CANCEL));
    if (checkTexts) {
      std::string licence = setupString(IDS_LICENSE_TITLE) + "\r\n\r\n";
      for (UINT id = IDS_LICENSE_FIRST; id <= IDS_LICENSE_LAST; ++id) licence += setupString(id) + "\r\n\r\n";
      EXPECT_EQ(ui::text(GetDlgItem(page, IDC_LICENSE_TEXT)), licence);
      // Ticking enables Next, clearing disables it again; Back and Cancel stay.
      ASSERT_TRUE(ui::click(page, IDC_LICENSE_ACCEPT));
      EXPECT_TRUE(ui::waitFor([&] { return session_.frameButtonEnabled(IDC_NEXT); }, 5000));
      ASSERT_TRUE(ui::click(page, IDC_LICENSE_ACCEPT));
      EXPECT_TRUE(ui::waitFor([&] { return !session_.frameButtonEnabled(IDC_NEXT); }, 5000));
      EXPECT_TRUE(session_.frameButtonEnabled(IDC_BACK));
      EXPECT_TRUE(session_.frameButtonEnabled(IDC_CANCEL));
    }
    ASSERT_TRUE(ui::click(page, IDC_LICENSE_ACCEPT));
    ASSERT_TRUE(ui::waitFor([&] { return session_.frameButtonEnabled(IDC_NEXT); }, 5000));
    ASSERT_TRUE(session_.press(IDC_NEXT));
    ASSERT_TRUE(session_.waitForPage(Type));
    screenshot("03-type");
  }

  // On the setup type page: picks the radio of type and presses Next.
  void chooseType(int radio) {
    HWND page = session_.page();
    if (!ui::isChecked(page, radio)) {
      ASSERT_TRUE(ui::click(page, radio));
      ASSERT_TRUE(ui::waitFor([&] { return ui::isChecked(page, radio); }, 5000));
    }
    ASSERT_TRUE(session_.press(IDC_NEXT));
  }

  // A small payload's run lasts a fraction of a second, less than the script
  // takes for a picture: the driver copies the screen itself once the bar has
  // moved and the frame that shows it has been drawn.
  void captureProgress() {
    HWND bar = GetDlgItem(session_.pageWindow(Progress), IDC_PROGRESS_BAR);
    const auto barMoved = [&] {
      DWORD_PTR position = 0;
      return SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 1000, &position) != 0 && position > 0;
    };
    ui::waitFor([&] { return barMoved() || session_.currentPage() != Progress; }, 5000);
    Sleep(ProgressFrames::kFrameMs + 5);  // the frame that shows the bar's move
    if (session_.currentPage() == Progress) screenshotNow("06-progress");
  }

  // Waits for the run to reach the page after it, catching the progress
  // page on the way when it is slow enough to be seen.
  void waitForRunEnd(int expectedPage) {
    bool sawProgress = false;
    const bool reached = ui::waitFor(
        [&] {
          const int page = session_.currentPage();
          if (page == Progress && !sawProgress) {
            sawProgress = true;
            const bool anyEnabled = session_.frameButtonEnabled(IDC_NEXT) ||
                                    session_.frameButtonEnabled(IDC_BACK) ||
                                    session_.frameButtonEnabled(IDC_CANCEL);
            // Moving on to the next page enables the buttons a moment before it
            // hides this one; only buttons enabled while the page stays are wrong.
            if (anyEnabled) {
              EXPECT_TRUE(ui::waitFor([&] { return session_.currentPage() != Progress; }, 2000))
                  << "a frame button is enabled while the run is under way";
            }
            captureProgress();
          }
          return page == expectedPage || !session_.running();
        },
        kInstallTimeoutMs);
    ASSERT_TRUE(reached && session_.currentPage() == expectedPage)
        << "the run did not reach the " << pageName(expectedPage) << " page";
  }

  void finish(bool readme) {
    ASSERT_TRUE(session_.waitForPage(Finished));
    // The page window shows before the same switch swaps Next for Finish;
    // from outside the process the two steps can be seen apart.
    ui::waitFor([&] { return session_.frameButtonVisible(IDC_FINISH); }, 5000);
    screenshot("08-finished");
    EXPECT_FALSE(session_.frameButtonEnabled(IDC_CANCEL));
    EXPECT_FALSE(session_.frameButtonEnabled(IDC_BACK));
    EXPECT_TRUE(session_.frameButtonVisible(IDC_FINISH));
    EXPECT_FALSE(session_.frameButtonVisible(IDC_NEXT));
    HWND page = session_.page();
    EXPECT_FALSE(ui::isChecked(page, IDC_FINISHED_GUIDE));
    EXPECT_FALSE(ui::isChecked(page, IDC_FINISHED_README));
    if (readme) {
      ASSERT_TRUE(ui::click(page, IDC_FINISHED_README));
      ASSERT_TRUE(ui::waitFor([&] { return ui::isChecked(page, IDC_FINISHED_README); }, 5000));
    }
    ASSERT_TRUE(session_.press(IDC_FINISH));
    DWORD code = 1;
    ASSERT_TRUE(session_.waitForExit(15000, &code)) << "the wizard did not end on Finish";
    EXPECT_EQ(code, 0u);
  }

  void expectErrorAndExit(const std::string& text, const std::function<void()>& whileShown = nullptr) {
    const ui::MessageBox box = ui::waitForMessageBox(session_.pid(), kErrorCaption, kInstallTimeoutMs);
    ASSERT_NE(box.window, nullptr) << "no error message";
    EXPECT_EQ(box.text, text);
    if (whileShown) whileShown();
    screenshot("error");
    ASSERT_TRUE(ui::answer(box, IDOK));
    ASSERT_TRUE(session_.waitForExit(15000)) << "the installer did not close after its error";
  }

  PrefixGuard prefix_;
  WizardSession session_;
};

// ---- checks of what an installation left ------------------------------------------

void checkFiles(const Choice& choice) {
  const std::vector<ExpectedFile> files = expectedFiles(choice);
  ASSERT_FALSE(files.empty());
  std::set<std::string> underProduct;
  for (const ExpectedFile& file : files) {
    std::string expected, actual;
    ASSERT_TRUE(readFile(file.source, &expected)) << file.source;
    EXPECT_TRUE(readFile(file.target, &actual)) << "missing: " << file.target;
    EXPECT_TRUE(expected == actual) << "differs from the payload: " << file.target;
    if (file.target.compare(0, choice.productDir.size(), choice.productDir) == 0) {
      std::string relative = file.target.substr(choice.productDir.size());
      std::transform(relative.begin(), relative.end(), relative.begin(), ::tolower);
      underProduct.insert(relative);
    }
  }
  // Nothing more in the product folder than the setup type asks for.
  const std::vector<std::string> present = listFiles(choice.productDir);
  EXPECT_EQ(std::set<std::string>(present.begin(), present.end()), underProduct) << choice.productDir;
}

void checkProductSettings(const std::string& productDir) {
  std::string folder;
  DWORD type = 0, bytes = 0;
  ASSERT_TRUE(readString(HKEY_LOCAL_MACHINE, "Software\\Brightfold Labs\\TowerLink\\3", "TLDir", &folder, &type,
                         &bytes));
  EXPECT_EQ(folder, productDir);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes, productDir.size() + 1);
  DWORD version = 0;
  ASSERT_TRUE(readDword(HKEY_LOCAL_MACHINE, "Software\\Brightfold Labs\\TowerLink\\3", "DataVersion", &version));
  EXPECT_EQ(version, 2006112500u);
}

std::vector<std::string> shortcutFiles() {
  return {startMenuFolder() + setupString(IDS_STARTMENU_FS) + ".lnk",
          startMenuFolder() + setupString(IDS_STARTMENU_FSX) + ".lnk",
          startMenuFolder() + setupString(IDS_STARTMENU_UNINSTALL) + ".lnk",
          startMenuFolder() + setupString(IDS_STARTMENU_GUIDE) + ".lnk"};
}

void checkShortcuts(const std::string& productDir) {
  const std::vector<std::string> files = shortcutFiles();
  const UINT names[] = {IDS_STARTMENU_FS, IDS_STARTMENU_FSX, IDS_STARTMENU_UNINSTALL, IDS_STARTMENU_GUIDE};
  const std::string targets[] = {productDir + "towerlink_fs.exe", productDir + "towerlink_fsx.exe",
                                 productDir + "tluninstall.exe", kDocsSlash};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(files[i]);
    const Shortcut link = loadShortcut(files[i]);
    ASSERT_TRUE(link.loaded);
    EXPECT_EQ(link.description, setupString(names[i]));
    if (i < 3) {
      EXPECT_EQ(link.path, targets[i]);
    }
    // The programs' shortcuts carry no argument, the uninstaller's the record
    // name it reads. (What the guide's shortcut carries is the Start menu
    // module's choice.)
    if (i < 3) {
      EXPECT_EQ(link.arguments, i < 2 ? "" : "TowerLink");
    }
    if (i >= 2) {
      EXPECT_EQ(link.iconPath, productDir + "tlimage.dll");
      EXPECT_EQ(link.iconIndex, i == 2 ? 1 : 0);
    }
  }
}

void checkUninstallRecord(const Choice& choice) {
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TowerLink";
  const bool product = choice.setupType == 0 || choice.setupType == 1;
  std::string value;
  DWORD type = 0, bytes = 0;
  ASSERT_TRUE(readString(HKEY_LOCAL_MACHINE, key, "DisplayName", &value, &type, &bytes));
  EXPECT_EQ(value, "TowerLink");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes, 10u);
  ASSERT_TRUE(readString(HKEY_LOCAL_MACHINE, key, "DisplayIcon", &value));
  EXPECT_EQ(value, choice.productDir + "towerlink.ico");
  ASSERT_TRUE(readString(HKEY_LOCAL_MACHINE, key, "UninstallString", &value));
  EXPECT_EQ(value, "\"" + choice.productDir + "tluninstall.exe\" TowerLink");
  ASSERT_TRUE(readString(HKEY_LOCAL_MACHINE, key, "PorterDescription", &value, &type, &bytes));
  EXPECT_EQ(value, "");
  EXPECT_EQ(bytes, 1u);
  DWORD count = 0;
  ASSERT_TRUE(readDword(HKEY_LOCAL_MACHINE, key, "PorterEvents", &count));

  std::vector<Event> events;
  for (DWORD i = 0; i < count; ++i) {
    std::string tag, params, desc;
    const std::string n = std::to_string(i);
    EXPECT_TRUE(readString(HKEY_LOCAL_MACHINE, key, "PorterTag" + n, &tag)) << i;
    EXPECT_TRUE(readString(HKEY_LOCAL_MACHINE, key, "PorterParams" + n, &params)) << i;
    EXPECT_TRUE(readString(HKEY_LOCAL_MACHINE, key, "PorterDesc" + n, &desc)) << i;
    events.emplace_back(tag, params, desc);
  }
  std::string extra;
  EXPECT_FALSE(readString(HKEY_LOCAL_MACHINE, key, "PorterTag" + std::to_string(count), &extra));

  // The fixed beginning: product key, then (product on this computer) the
  // four shortcuts and their folder.
  std::vector<Event> head = {
      Event("DeleteRegTree", "HKEY_LOCAL_MACHINE\\Software\\Brightfold Labs\\TowerLink\\3",
            setupString(IDS_DESC_REGISTRY))};
  if (product) {
    for (const std::string& file : shortcutFiles()) {
      head.emplace_back("DeleteFile", file, setupString(IDS_DESC_STARTMENU));
    }
    head.emplace_back("DeleteEmptyDirs", startMenuFolder(), setupString(IDS_DESC_STARTMENU));
  }
  ASSERT_GE(events.size(), head.size());
  for (size_t i = 0; i < head.size(); ++i) {
    EXPECT_EQ(events[i], head[i]) << "event " << i;
  }

  // The worker's events: one per file written (fsuipc.dll excepted) and one
  // per installed folder tree.
  std::vector<Event> expected;
  for (const ExpectedFile& file : expectedFiles(choice)) {
    if (file.descId != 0) expected.emplace_back("DeleteFile", file.target, setupString(file.descId));
  }
  for (const auto& folder : expectedFolderEvents(choice)) {
    expected.emplace_back("DeleteEmptyDirs", folder.first, setupString(folder.second));
  }
  std::vector<Event> actual(events.begin() + head.size(), events.end());
  std::sort(expected.begin(), expected.end());
  std::sort(actual.begin(), actual.end());
  EXPECT_EQ(actual.size(), expected.size());
  std::vector<Event> missing, unexpected;
  std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(), std::back_inserter(missing));
  std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(),
                      std::back_inserter(unexpected));
  for (const Event& e : missing) {
    ADD_FAILURE() << "no event " << std::get<0>(e) << " " << std::get<1>(e) << " \"" << std::get<2>(e) << "\"";
  }
  for (const Event& e : unexpected) {
    ADD_FAILURE() << "unexpected event " << std::get<0>(e) << " " << std::get<1>(e) << " \"" << std::get<2>(e)
                  << "\"";
  }
}

// A run that installed the product: its files, settings, record and shortcuts.
void checkProductInstallation(const Choice& choice) {
  checkFiles(choice);
  checkProductSettings(choice.productDir);
  checkUninstallRecord(choice);
  checkShortcuts(choice.productDir);
}

std::string dllXml() {
  std::string text;
  readFile(fsxAddonFolder() + "dll.xml", &text);
  return text;
}

std::vector<std::pair<std::string, std::string>> ourAddonEntries(const std::string& productDir, bool internal) {
  std::vector<std::pair<std::string, std::string>> entries = {
      {"TowerLink Transponder", productDir + "tltrans10.dll"},
      {"TowerLink AI Control", productDir + "tlaicontrol10.dll"}};
  if (internal) entries.emplace_back("TowerLink Internal Version", productDir + "tlmod10.dll");
  return entries;
}

// What `make run` prints: where everything went.
void report(const Choice& choice) {
  if (std::getenv("TL_E2E_REPORT") == nullptr) return;
  std::printf("\n== What the installation wrote\n");
  std::vector<std::string> folders = {choice.productDir};
  for (const InstalledSimulator& sim : choice.simulators) folders.push_back(sim.folder);
  for (const std::string& folder : folders) {
    const std::vector<std::string> files = listFiles(folder);
    std::printf("\n%s  (%u files)\n", folder.c_str(), static_cast<unsigned>(files.size()));
    for (const std::string& file : files) std::printf("    %s\n", file.c_str());
  }
  std::printf("\nHKLM\\Software\\Brightfold Labs\\TowerLink\\3\n");
  std::string text;
  DWORD number = 0;
  if (readString(HKEY_LOCAL_MACHINE, "Software\\Brightfold Labs\\TowerLink\\3", "TLDir", &text)) {
    std::printf("    TLDir        REG_SZ     %s\n", text.c_str());
  }
  if (readDword(HKEY_LOCAL_MACHINE, "Software\\Brightfold Labs\\TowerLink\\3", "DataVersion", &number)) {
    std::printf("    DataVersion  REG_DWORD  %lu\n", number);
  }
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TowerLink";
  std::printf("\nHKLM\\%s\n", key.c_str());
  for (const char* name : {"DisplayName", "DisplayIcon", "UninstallString", "PorterDescription"}) {
    if (readString(HKEY_LOCAL_MACHINE, key, name, &text)) std::printf("    %-18s %s\n", name, text.c_str());
  }
  if (readDword(HKEY_LOCAL_MACHINE, key, "PorterEvents", &number)) {
    std::printf("    PorterEvents       %lu\n", number);
    for (DWORD i = 0; i < number && i < 8; ++i) {
      std::string tag, params;
      readString(HKEY_LOCAL_MACHINE, key, "PorterTag" + std::to_string(i), &tag);
      readString(HKEY_LOCAL_MACHINE, key, "PorterParams" + std::to_string(i), &params);
      std::printf("    %-4lu %-16s %s\n", i, tag.c_str(), params.c_str());
    }
    if (number > 8) std::printf("    ... %lu more\n", number - 8);
  }
  std::printf("\n%sdll.xml\n%s", fsxAddonFolder().c_str(), dllXml().c_str());
  std::printf("\nStart menu: %s\n", startMenuFolder().c_str());
  for (const std::string& file : shortcutFiles()) {
    const Shortcut link = loadShortcut(file);
    std::printf("    %s\n        -> %s %s  (icon %s,%d)\n", file.substr(startMenuFolder().size()).c_str(),
                link.path.c_str(), link.arguments.c_str(), link.iconPath.c_str(), link.iconIndex);
  }
  std::fflush(stdout);
}

BOOL CALLBACK findVisibleReadme(HWND window, LPARAM lParam) {
  char caption[256] = {};
  GetWindowTextA(window, caption, sizeof(caption));
  std::string text = caption;
  std::transform(text.begin(), text.end(), text.begin(), ::tolower);
  if (IsWindowVisible(window) && text.find("readme.txt") != std::string::npos) *reinterpret_cast<bool*>(lParam) = true;
  return TRUE;
}

// ---- scenarios -------------------------------------------------------------------------

// Flight Simulator 2004 and X on this computer: the version page asks, both
// boxes ticked; everything is installed and registered.
TEST_F(WizardEndToEnd, SameComputerWithFs2004AndFsx) {
  Choice choice;
  choice.setupType = 0;
  choice.productDir = programFilesFolder() + "TowerLink\\";
  choice.simulators = {prefix_.installSimulator(Fs2004), prefix_.installSimulator(Fsx)};
  prefix_.prepareFsxAddonFolder(nullptr);

  startAndAcceptLicence(setupExe(), true);
  EXPECT_TRUE(ui::isChecked(session_.page(), IDC_TYPE_SAME)) << "SameComputer is preselected";
  chooseType(IDC_TYPE_SAME);
  ASSERT_TRUE(session_.waitForPage(TLDir));
  screenshot("04-folder");
  EXPECT_EQ(ui::text(GetDlgItem(session_.page(), IDC_TLDIR_PATH)), choice.productDir);
  ASSERT_TRUE(session_.press(IDC_NEXT));
  ASSERT_TRUE(session_.waitForPage(FSDir));
  screenshot("05-versions");
  HWND page = session_.page();
  EXPECT_TRUE(ui::isChecked(page, IDC_FSDIR_FS2004));
  EXPECT_TRUE(ui::isChecked(page, IDC_FSDIR_FSX));
  EXPECT_FALSE(ui::isChecked(page, IDC_FSDIR_FS2002));
  ASSERT_TRUE(session_.press(IDC_NEXT));
  waitForRunEnd(Finished);
  finish(false);

  checkProductInstallation(choice);
  EXPECT_EQ(dllXml(), newDllXml(ourAddonEntries(choice.productDir, true)));
  EXPECT_FALSE(simConnectInstalled());
  report(choice);
}

// ---- the keyboard alone -------------------------------------------------------------

// Control id of the focused window when it is one of page's controls or one
// of the frame's buttons; 0 otherwise.
int focusedId(const WizardSession& session) {
  HWND focus = ui::focusOf(session.frame());
  if (focus == nullptr) return 0;
  HWND parent = GetParent(focus);
  return parent == session.frame() || parent == session.page() ? GetDlgCtrlID(focus) : 0;
}

// Presses a key where the focus is and waits until condition() holds.
template <typename Condition>
void key(const WizardSession& session, UINT virtualKey, bool alt, Condition condition, const char* what) {
  ASSERT_TRUE(ui::waitFor([&] { return ui::focusOf(session.frame()) != nullptr; }, 5000)) << "no focus before " << what;
  ASSERT_TRUE(ui::pressKey(session.frame(), virtualKey, alt)) << what;
  ASSERT_TRUE(ui::waitFor(condition, 10000)) << what;
}

// The ids Tab visits from the focus on, once round (stops when it comes back).
std::vector<int> tabCycle(const WizardSession& session) {
  std::vector<int> visited{focusedId(session)};
  for (int i = 0; i < 12; ++i) {
    const int before = visited.back();
    if (!ui::pressKey(session.frame(), VK_TAB)) break;
    // The same control comes back only when it is the only one.
    ui::waitFor([&] { return focusedId(session) != before; }, 2000);
    if (focusedId(session) == visited.front()) break;
    visited.push_back(focusedId(session));
  }
  return visited;
}

// The same installation as SameComputerWithFs2004AndFsx, with keys alone,
// each posted to the window that has the focus. Where the focus lands on each
// page, where Tab takes it (never to a disabled or hidden button), Space,
// arrows, Alt+N, Enter on a control and on a push button, Escape with its
// confirmation answered by key, and Escape doing nothing during the run.
TEST_F(WizardEndToEnd, KeyboardOnlySameComputerWithFs2004AndFsx) {
  Choice choice;
  choice.setupType = 0;
  choice.productDir = programFilesFolder() + "TowerLink\\";
  choice.simulators = {prefix_.installSimulator(Fs2004), prefix_.installSimulator(Fsx)};
  prefix_.prepareFsxAddonFolder(nullptr);
  ASSERT_TRUE(session_.start(setupExe(), std::string()));
  ASSERT_TRUE(session_.waitForPage(Welcome));
  const auto focusIs = [&](int id) { return [&, id] { return focusedId(session_) == id; }; };
  const auto onPage = [&](int page) { return [&, page] { return session_.currentPage() == page; }; };

  // Welcome: nothing on the page takes the focus, so Next has it; Back is off.
  ASSERT_TRUE(ui::waitFor(focusIs(IDC_NEXT), 5000)) << "focus on the welcome page: " << focusedId(session_);
  EXPECT_EQ(tabCycle(session_), (std::vector<int>{IDC_NEXT, IDC_CANCEL}));
  ASSERT_TRUE(ui::waitFor(focusIs(IDC_NEXT), 5000));
  // Escape asks as Cancel does; N answers No, and nothing has changed.
  ASSERT_TRUE(ui::pressKey(session_.frame(), VK_ESCAPE));
  ui::MessageBox box = ui::waitForMessageBox(session_.pid(), kCancelCaption, 10000);
  ASSERT_NE(box.window, nullptr) << "Escape did not ask";
  EXPECT_EQ(box.text, setupString(IDS_CANCEL_TEXT));
  ASSERT_TRUE(ui::waitFor([&] { return ui::focusOf(box.window) != nullptr; }, 5000));
  ASSERT_TRUE(ui::pressKey(box.window, 'N'));
  ASSERT_TRUE(ui::waitFor([&] { return !IsWindow(box.window); }, 5000)) << "N did not answer No";
  EXPECT_EQ(session_.currentPage(), Welcome);
  ASSERT_TRUE(session_.running());
  key(session_, VK_RETURN, false, onPage(License), "Enter on the welcome page");

  // Licence: the text has the focus; Tab reaches the box, Space ticks it and
  // Next comes on; Alt+N goes on.
  HWND page = session_.page();
  ASSERT_TRUE(ui::waitFor(focusIs(IDC_LICENSE_TEXT), 5000)) << "focus on the licence page: " << focusedId(session_);
  EXPECT_EQ(tabCycle(session_), (std::vector<int>{IDC_LICENSE_TEXT, IDC_LICENSE_ACCEPT, IDC_BACK, IDC_CANCEL}))
      << "Next is off until the box is ticked";
  ASSERT_TRUE(ui::waitFor(focusIs(IDC_LICENSE_TEXT), 5000));
  key(session_, VK_RETURN, false, [] { return true; }, "Enter while Next is off");
  key(session_, VK_TAB, false, focusIs(IDC_LICENSE_ACCEPT), "Tab to the box");
  EXPECT_EQ(session_.currentPage(), License) << "Enter with Next off";
  key(session_, VK_SPACE, false, [&] { return ui::isChecked(page, IDC_LICENSE_ACCEPT); }, "Space on the box");
  ASSERT_TRUE(ui::waitFor([&] { return session_.frameButtonEnabled(IDC_NEXT); }, 5000));
  key(session_, 'N', true, onPage(Type), "Alt+N on the licence page");

  // Setup type: the chosen radio button has the focus; the arrows pick.
  page = session_.page();
  ASSERT_TRUE(ui::waitFor(focusIs(IDC_TYPE_SAME), 5000)) << "focus on the type page: " << focusedId(session_);
  key(session_, VK_DOWN, false, [&] { return ui::isChecked(page, IDC_TYPE_PRODUCT); }, "Down to ProductOnly");
  EXPECT_FALSE(ui::isChecked(page, IDC_TYPE_SAME));
  key(session_, VK_UP, false, [&] { return ui::isChecked(page, IDC_TYPE_SAME); }, "Up to SameComputer");
  key(session_, VK_RETURN, false, onPage(TLDir), "Enter on the type page");

  // Product folder: Change... has the focus (Enter would open the browser),
  // so Alt+N goes on.
  ASSERT_TRUE(ui::waitFor(focusIs(IDC_TLDIR_CHANGE), 5000)) << "focus on the folder page: " << focusedId(session_);
  EXPECT_EQ(ui::text(GetDlgItem(session_.page(), IDC_TLDIR_PATH)), choice.productDir);
  key(session_, 'N', true, onPage(FSDir), "Alt+N on the folder page");

  // Versions: Space unticks and ticks X again, Tab goes on to 2004, Enter starts.
  page = session_.page();
  ASSERT_TRUE(ui::waitFor(focusIs(IDC_FSDIR_FSX), 5000)) << "focus on the version page: " << focusedId(session_);
  key(session_, VK_SPACE, false, [&] { return !ui::isChecked(page, IDC_FSDIR_FSX); }, "Space unticks X");
  key(session_, VK_SPACE, false, [&] { return ui::isChecked(page, IDC_FSDIR_FSX); }, "Space ticks X");
  key(session_, VK_TAB, false, focusIs(IDC_FSDIR_FS2004), "Tab to 2004");
  EXPECT_TRUE(ui::isChecked(page, IDC_FSDIR_FS2004));
  key(session_, VK_RETURN, false, [&] { return session_.currentPage() != FSDir; }, "Enter on the version page");

  // During the run no key can end or leave it: Escape asks nothing.
  if (session_.currentPage() == Progress) ui::pressKey(session_.frame(), VK_ESCAPE);
  ASSERT_TRUE(ui::waitFor(onPage(Finished), kInstallTimeoutMs)) << "the run did not reach the finished page";
  // The frame has the confirmation's caption too: any other window is the box.
  for (HWND window : ui::topLevelWindows(session_.pid(), kCancelCaption, true)) {
    EXPECT_EQ(window, session_.frame()) << "Escape asked during the run";
  }

  // Finished: the first box has the focus; Enter means Finish, with no box ticked.
  ASSERT_TRUE(ui::waitFor([&] { return session_.frameButtonVisible(IDC_FINISH); }, 5000));
  ASSERT_TRUE(ui::waitFor(focusIs(IDC_FINISHED_README), 5000)) << "focus on the finished page: " << focusedId(session_);
  EXPECT_EQ(tabCycle(session_), (std::vector<int>{IDC_FINISHED_README, IDC_FINISHED_GUIDE, IDC_FINISH}));
  ASSERT_TRUE(ui::waitFor(focusIs(IDC_FINISHED_README), 5000));
  EXPECT_FALSE(ui::isChecked(session_.page(), IDC_FINISHED_README));
  ASSERT_TRUE(ui::pressKey(session_.frame(), VK_RETURN));
  DWORD code = 1;
  ASSERT_TRUE(session_.waitForExit(15000, &code)) << "Enter did not finish";
  EXPECT_EQ(code, 0u);

  checkProductInstallation(choice);
  EXPECT_EQ(dllXml(), newDllXml(ourAddonEntries(choice.productDir, true)));
}

// Only Flight Simulator X: the version page passes itself over; an add-on
// list of another product is kept and ours is added before its end.
TEST_F(WizardEndToEnd, OnlyFsxSkipsVersionPageAndKeepsForeignAddons) {
  Choice choice;
  choice.setupType = 0;
  choice.productDir = programFilesFolder() + "TowerLink\\";
  choice.simulators = {prefix_.installSimulator(Fsx)};
  const std::string head = foreignDllXmlHead();
  const std::string foreign = head + "</SimBase.Document>\r\n";
  prefix_.prepareFsxAddonFolder(&foreign);

  startAndAcceptLicence(setupExe(), false);
  chooseType(IDC_TYPE_SAME);
  ASSERT_TRUE(session_.waitForPage(TLDir));
  ASSERT_TRUE(session_.press(IDC_NEXT));
  waitForRunEnd(Finished);
  finish(false);

  checkFiles(choice);
  checkUninstallRecord(choice);
  std::string expected = head;
  for (const auto& entry : ourAddonEntries(choice.productDir, true)) expected += addonEntry(entry.first, entry.second);
  EXPECT_EQ(dllXml(), expected + "</SimBase.Document>\r\n");
}

// The product alone: no simulator needed, the SimConnect page runs the real
// package through msiexec, Finish opens the readme. Another package put in
// place of simconnect.msi while the page waits is not what msiexec installs.
TEST_F(WizardEndToEnd, ProductOnlyRunsSimConnectInstaller) {
  Choice choice;
  choice.setupType = 1;
  choice.productDir = programFilesFolder() + "TowerLink\\";
  prefix_.associateTextFiles();

  startAndAcceptLicence(setupExe(), false);
  chooseType(IDC_TYPE_PRODUCT);
  ASSERT_TRUE(session_.waitForPage(TLDir));
  ASSERT_TRUE(session_.press(IDC_NEXT));
  waitForRunEnd(SimConnect);
  screenshot("07-simconnect");
  HWND page = session_.page();
  EXPECT_TRUE(session_.frameButtonEnabled(IDC_CANCEL));
  EXPECT_FALSE(session_.frameButtonEnabled(IDC_BACK));
  EXPECT_FALSE(session_.frameButtonEnabled(IDC_NEXT));
  ASSERT_TRUE(ui::isVisible(page, IDC_SIMCONNECT_LAUNCH));
  const std::string package = choice.productDir + "simconnect.msi";
  std::string original;
  ASSERT_TRUE(readFile(package, &original));
  ASSERT_TRUE(CopyFileA(TL_E2E_SWAPPED_PACKAGE, package.c_str(), FALSE));
  ASSERT_TRUE(ui::click(page, IDC_SIMCONNECT_LAUNCH));
  ASSERT_TRUE(ui::waitFor([&] { return session_.frameButtonEnabled(IDC_NEXT); }, kInstallTimeoutMs))
      << "Next was not enabled after msiexec";
  EXPECT_TRUE(ui::waitFor([&] { return !ui::isVisible(page, IDC_SIMCONNECT_LAUNCH); }, 5000));
  EXPECT_FALSE(ui::isEnabled(page, IDC_SIMCONNECT_LAUNCH));
  EXPECT_TRUE(simConnectInstalled()) << "msiexec did not install the package";
  std::string value;
  const bool swappedRan = readString(HKEY_LOCAL_MACHINE, "Software\\Brightfold Labs\\SimConnectSwapped", "Installed",
                                     &value);
  EXPECT_FALSE(swappedRan) << "msiexec installed the swapped package";
  if (swappedRan) {
    char systemDir[MAX_PATH] = {};
    GetSystemDirectoryA(systemDir, MAX_PATH);
    const std::string msiexec = std::string(systemDir) + "\\msiexec.exe";
    DWORD code = 0;
    tlharden::runCaptured("\"" + msiexec + "\" /x {5C1D2E3F-4051-4627-8839-4A5B6C7D8E9F} /qn", systemDir, 120000,
                          &value, &code);
  }
  std::string now;
  ASSERT_TRUE(readFile(package, &now));
  EXPECT_TRUE(now == original) << "the payload's package was not put back";
  ASSERT_TRUE(session_.press(IDC_NEXT));
  finish(true);

  EXPECT_TRUE(ui::waitFor(
      [] {
        bool found = false;
        EnumWindows(findVisibleReadme, reinterpret_cast<LPARAM>(&found));
        return found;
      },
      30000))
      << "the readme was not opened";
  checkProductInstallation(choice);
  EXPECT_FALSE(fileExists(fsxAddonFolder() + "dll.xml")) << "ProductOnly touches no add-on file";
}

// Simulator only, with 2002 and 2004: Back from the version page lands on
// the setup type page; unticking 2004 installs for 2002 alone, without the
// product's own modules and without shortcuts.
TEST_F(WizardEndToEnd, SimulatorOnlyBackFromVersionsLandsOnSetupType) {
  const InstalledSimulator fs2002 = prefix_.installSimulator(Fs2002);
  prefix_.installSimulator(Fs2004);
  Choice choice;
  choice.setupType = 2;
  choice.productDir = programFilesFolder() + "TowerLink\\";
  choice.simulators = {fs2002};

  startAndAcceptLicence(setupExe(), false);
  chooseType(IDC_TYPE_SIMULATOR);
  ASSERT_TRUE(session_.waitForPage(TLDir));
  ASSERT_TRUE(session_.press(IDC_NEXT));
  ASSERT_TRUE(session_.waitForPage(FSDir));
  ASSERT_TRUE(session_.press(IDC_BACK));
  ASSERT_TRUE(session_.waitForPage(Type)) << "Back should pass over the folder page";
  EXPECT_TRUE(ui::isChecked(session_.page(), IDC_TYPE_SIMULATOR));
  ASSERT_TRUE(session_.press(IDC_NEXT));
  ASSERT_TRUE(session_.waitForPage(TLDir));
  ASSERT_TRUE(session_.press(IDC_NEXT));
  ASSERT_TRUE(session_.waitForPage(FSDir));
  HWND page = session_.page();
  EXPECT_TRUE(ui::isChecked(page, IDC_FSDIR_FS2002));
  EXPECT_TRUE(ui::isChecked(page, IDC_FSDIR_FS2004));
  EXPECT_FALSE(ui::isChecked(page, IDC_FSDIR_FSX));
  ASSERT_TRUE(ui::click(page, IDC_FSDIR_FS2004));
  ASSERT_TRUE(ui::waitFor([&] { return !ui::isChecked(page, IDC_FSDIR_FS2004); }, 5000));
  ASSERT_TRUE(session_.press(IDC_NEXT));
  waitForRunEnd(Finished);
  finish(false);

  checkFiles(choice);
  checkProductSettings(choice.productDir);
  checkUninstallRecord(choice);
  EXPECT_FALSE(folderExists(startMenuFolder())) << "SimulatorOnly creates no shortcuts";
  EXPECT_TRUE(listFiles(scratchRoot() + "Flight Simulator 9\\modules").size() == 1) << "2004 was unticked";
  EXPECT_FALSE(fileExists(fs2002.folder + "modules\\tlmod8.dll"));
}

// No simulator at all: SameComputer and SimulatorOnly are refused with
// message 128, ProductOnly goes on. Cancel answered No keeps the page,
// Yes ends the program before anything was written.
TEST_F(WizardEndToEnd, NoSimulatorWarnsThenCancelNoAndYes) {
  startAndAcceptLicence(setupExe(), false);
  for (int radio : {IDC_TYPE_SAME, IDC_TYPE_SIMULATOR}) {
    SCOPED_TRACE(radio);
    chooseType(radio);
    const ui::MessageBox box = ui::waitForMessageBox(session_.pid(), kErrorCaption, 10000);
    ASSERT_NE(box.window, nullptr) << "no message 128";
    EXPECT_EQ(box.text, setupString(IDS_ERR_NO_SIMULATOR));
    EXPECT_FALSE(box.text.empty());
    screenshot("03-no-simulator");
    ASSERT_TRUE(ui::answer(box, IDOK));
    EXPECT_EQ(session_.currentPage(), Type);
  }
  chooseType(IDC_TYPE_PRODUCT);
  ASSERT_TRUE(session_.waitForPage(TLDir));

  ASSERT_TRUE(session_.press(IDC_CANCEL));
  ui::MessageBox box = ui::waitForMessageBox(session_.pid(), kCancelCaption, 10000);
  ASSERT_NE(box.window, nullptr) << "no cancel confirmation";
  EXPECT_EQ(box.text, setupString(IDS_CANCEL_TEXT));
  ASSERT_TRUE(ui::answer(box, IDNO));
  EXPECT_EQ(session_.currentPage(), TLDir);
  EXPECT_TRUE(session_.frameButtonEnabled(IDC_NEXT));
  EXPECT_TRUE(session_.frameButtonEnabled(IDC_BACK));
  EXPECT_TRUE(session_.running());

  ASSERT_TRUE(session_.press(IDC_CANCEL));
  box = ui::waitForMessageBox(session_.pid(), kCancelCaption, 10000);
  ASSERT_NE(box.window, nullptr);
  ASSERT_TRUE(ui::answer(box, IDYES));
  DWORD code = 1;
  ASSERT_TRUE(session_.waitForExit(15000, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "Software\\Brightfold Labs\\TowerLink\\3"));
  EXPECT_FALSE(folderExists(startMenuFolder()));
}

// An installer whose payload lacks the VIP model set: the worker's result
// (10, nothing selected) is shown after message 121, and no uninstall record
// is written.
TEST_F(WizardEndToEnd, WorkerFailureShowsItsCode) {
  prefix_.installSimulator(Fs2004);
  startAndAcceptLicence(damagedSetupExe(), false);
  chooseType(IDC_TYPE_SAME);
  ASSERT_TRUE(session_.waitForPage(TLDir));
  ASSERT_TRUE(session_.press(IDC_NEXT));
  expectErrorAndExit(setupString(IDS_ERR_INSTALL) + "\n(10)", [&] {
    // Behind the message the page shows where the run stopped: the bar draws
    // itself again once the run has ended.
    HWND bar = GetDlgItem(session_.pageWindow(Progress), IDC_PROGRESS_BAR);
    EXPECT_TRUE(IsWindowVisible(bar));
    EXPECT_GT(SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
  });
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TowerLink"));
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, "Software\\Brightfold Labs\\TowerLink\\3")) << "settings stay";
}

// ---- a damaged download ----------------------------------------------------------------

// How a copy of setup.exe is damaged: a byte of the payload stream turned
// over at a share of the way through it (the last chunk: its middle), a chunk
// resource taken away, or the catalogue cut short.
struct Damage {
  const char* name;
  enum Kind { FlipAt, FlipInLastChunk, DropMiddleChunk, CutCatalogue } kind;
  double share;      // FlipAt: where in the payload stream
  int code;          // the number message 121 ends with
};

std::string rcdata(HMODULE module, UINT id) {
  HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));
  if (info == nullptr) return std::string();
  const char* data = static_cast<const char*>(LockResource(LoadResource(module, info)));
  return data != nullptr ? std::string(data, SizeofResource(module, info)) : std::string();
}

// Every resource of a module: type and name (an integer id, or a text when
// text is not empty), language and bytes.
struct Resource {
  ULONG_PTR typeId, nameId;
  std::string typeText, nameText;
  WORD language;
  std::string bytes;
  LPCSTR type() const { return typeText.empty() ? MAKEINTRESOURCEA(typeId) : typeText.c_str(); }
  LPCSTR name() const { return nameText.empty() ? MAKEINTRESOURCEA(nameId) : nameText.c_str(); }
};

BOOL CALLBACK collectLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language, LONG_PTR list) {
  Resource r{IS_INTRESOURCE(type) ? reinterpret_cast<ULONG_PTR>(type) : 0,
             IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : 0,
             IS_INTRESOURCE(type) ? std::string() : std::string(type),
             IS_INTRESOURCE(name) ? std::string() : std::string(name), language, std::string()};
  HRSRC info = FindResourceExA(module, type, name, language);
  const char* data = info != nullptr ? static_cast<const char*>(LockResource(LoadResource(module, info))) : nullptr;
  if (data != nullptr) r.bytes.assign(data, SizeofResource(module, info));
  reinterpret_cast<std::vector<Resource>*>(list)->push_back(r);
  return TRUE;
}
BOOL CALLBACK collectName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR list) {
  return EnumResourceLanguagesA(module, type, name, collectLanguage, list);
}
BOOL CALLBACK collectType(HMODULE module, LPSTR type, LONG_PTR list) {
  return EnumResourceNamesA(module, type, collectName, list);
}

// Writes target: setup.exe with one damage, through the resource update calls.
bool damagedCopy(const Damage& damage, const std::string& target, std::string* why) {
  if (!CopyFileA(setupExe().c_str(), target.c_str(), FALSE)) return *why = "cannot copy setup.exe", false;
  HMODULE module = LoadLibraryExA(setupExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return *why = "cannot read setup.exe's resources", false;
  std::string catalogue = rcdata(module, 65535);
  UINT chunks = 0;
  while (!rcdata(module, chunks + 1).empty()) ++chunks;
  uint32_t chunkSize = 0;
  if (catalogue.size() >= 4) std::memcpy(&chunkSize, catalogue.data(), 4);
  if (chunks < 3 || chunkSize == 0) {
    FreeLibrary(module);
    return *why = "the payload needs three chunks or more, has " + std::to_string(chunks), false;
  }
  UINT id = 65535;
  std::string bytes;
  switch (damage.kind) {
    case Damage::FlipAt:
    case Damage::FlipInLastChunk: {
      const uint64_t total = uint64_t{chunkSize} * (chunks - 1) + rcdata(module, chunks).size();
      const uint64_t at = damage.kind == Damage::FlipAt
                              ? static_cast<uint64_t>(damage.share * static_cast<double>(total))
                              : total - rcdata(module, chunks).size() / 2;
      id = static_cast<UINT>(at / chunkSize) + 1;
      bytes = rcdata(module, id);
      bytes[at % chunkSize] = static_cast<char>(bytes[at % chunkSize] ^ 0xFF);
      break;
    }
    case Damage::DropMiddleChunk: {
      // The program again, every resource but the chunk.
      id = chunks / 2 + 1;
      std::vector<Resource> all;
      EnumResourceTypesA(module, collectType, reinterpret_cast<LONG_PTR>(&all));
      FreeLibrary(module);
      HANDLE update = BeginUpdateResourceA(target.c_str(), TRUE);
      if (update == nullptr) return *why = "BeginUpdateResource", false;
      bool updated = true;
      for (const Resource& r : all) {
        if (r.typeText.empty() && r.typeId == 10 && r.nameText.empty() && r.nameId == id) continue;
        updated = updated && UpdateResourceA(update, r.type(), r.name(), r.language, const_cast<char*>(r.bytes.data()),
                                             static_cast<DWORD>(r.bytes.size()));
      }
      if (!EndUpdateResourceA(update, !updated) || !updated) return *why = "UpdateResource", false;
      return true;
    }
    case Damage::CutCatalogue:
      bytes = catalogue.substr(0, catalogue.size() / 2);
      break;
  }
  FreeLibrary(module);
  HANDLE update = BeginUpdateResourceA(target.c_str(), FALSE);
  if (update == nullptr) return *why = "BeginUpdateResource", false;
  const bool updated = UpdateResourceA(update, MAKEINTRESOURCEA(10), MAKEINTRESOURCEA(id), 0, bytes.data(),
                                       static_cast<DWORD>(bytes.size()));
  if (!EndUpdateResourceA(update, !updated) || !updated) return *why = "UpdateResource", false;
  return true;
}

// Damaged downloads, run through the real wizard as SameComputer with 2004
// and X: each ends on the progress page with message 121 and the number its
// extraction would have shown, and the machine is exactly as before: no
// product key, no shortcut, no dll.xml change, no file, no folder, no record.
TEST_F(WizardEndToEnd, DamagedDownloadChangesNothing) {
  const Damage damages[] = {
      {"flipped byte early", Damage::FlipAt, 0.001, 8},
      {"flipped byte in the middle", Damage::FlipAt, 0.5, 8},
      {"flipped byte in the last chunk", Damage::FlipInLastChunk, 0, 8},
      {"chunk resource missing", Damage::DropMiddleChunk, 0, 4},
      {"catalogue cut short", Damage::CutCatalogue, 0, 4},
  };
  const std::string productDir = programFilesFolder() + "TowerLink\\";
  prefix_.installSimulator(Fs2004);
  prefix_.installSimulator(Fsx);
  const std::string foreign = foreignDllXmlHead() + "</SimBase.Document>\r\n";
  prefix_.prepareFsxAddonFolder(&foreign);
  char folder[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, folder);
  const std::string target = std::string(folder) + "\\damaged-setup.exe";

  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.name);
    std::string why;
    ASSERT_TRUE(damagedCopy(damage, target, &why)) << why;
    const roundtrip::MachineSnapshot before = roundtrip::takeSnapshot(productDir);
    WizardSession session;
    ASSERT_TRUE(roundtrip::startToTypePage(&session, &why, target)) << why;
    ASSERT_TRUE(roundtrip::chooseTypeAndStart(&session, IDC_TYPE_SAME, &why)) << why;
    const ui::MessageBox box = ui::waitForMessageBox(session.pid(), kErrorCaption, kInstallTimeoutMs);
    ASSERT_NE(box.window, nullptr) << "no error message";
    EXPECT_EQ(box.text, setupString(IDS_ERR_INSTALL) + "\n(" + std::to_string(damage.code) + ")");
    EXPECT_EQ(session.currentPage(), Progress);
    ASSERT_TRUE(ui::answer(box, IDOK));
    ASSERT_TRUE(session.waitForExit(15000)) << "the installer did not close after its error";
    for (const std::string& line : roundtrip::difference(before, roundtrip::takeSnapshot(productDir))) {
      ADD_FAILURE() << "changed by a damaged installer: " << line;
    }
    EXPECT_EQ(dllXml(), foreign);
  }
  DeleteFileA(target.c_str());
}

// Flight Simulator X registered in the registry but never started (no
// add-on folder): message 182, and the worker never runs.
TEST_F(WizardEndToEnd, MissingFsxFolderShowsMessage182) {
  if (folderExists(fsxAddonFolder())) GTEST_SKIP() << "the prefix has an add-on folder";
  prefix_.installSimulator(Fsx);
  startAndAcceptLicence(setupExe(), false);
  chooseType(IDC_TYPE_SAME);
  ASSERT_TRUE(session_.waitForPage(TLDir));
  ASSERT_TRUE(session_.press(IDC_NEXT));
  expectErrorAndExit(setupString(IDS_ERR_FSX_CONFIG));
  EXPECT_FALSE(folderExists(programFilesFolder() + "TowerLink")) << "files written after a failed preparation";
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TowerLink"));
}

// Flight Simulator 2002 and 2004 found, X not, and the user ticks X's box all
// the same (the version page never disables it). X takes part nowhere: no
// add-on registration (its folder does not exist, so trying would end with
// message 182 after settings and shortcuts were written), no X modules in the
// product folder, nothing relative to its empty folder, no event for it.
TEST_F(WizardEndToEnd, FsxTickedWithoutFolder) {
  if (folderExists(fsxAddonFolder())) GTEST_SKIP() << "the prefix has an add-on folder";
  Choice choice;
  choice.setupType = 0;
  choice.productDir = programFilesFolder() + "TowerLink\\";
  choice.simulators = {prefix_.installSimulator(Fs2002), prefix_.installSimulator(Fs2004)};
  // The installer's current folder: where a path built on "" would land.
  const std::string workDir = scratchRoot() + "start\\";
  ASSERT_TRUE(makeFolders(workDir));
  const std::vector<std::string> scratchBefore = listFiles(scratchRoot());

  startAndAcceptLicence(setupExe(), false, workDir);
  chooseType(IDC_TYPE_SAME);
  ASSERT_TRUE(session_.waitForPage(TLDir));
  ASSERT_TRUE(session_.press(IDC_NEXT));
  ASSERT_TRUE(session_.waitForPage(FSDir));
  HWND page = session_.page();
  EXPECT_TRUE(ui::isChecked(page, IDC_FSDIR_FS2002));
  EXPECT_TRUE(ui::isChecked(page, IDC_FSDIR_FS2004));
  EXPECT_FALSE(ui::isChecked(page, IDC_FSDIR_FSX));
  ASSERT_TRUE(ui::isEnabled(page, IDC_FSDIR_FSX));
  ASSERT_TRUE(ui::click(page, IDC_FSDIR_FSX));
  ASSERT_TRUE(ui::waitFor([&] { return ui::isChecked(page, IDC_FSDIR_FSX); }, 5000));
  ASSERT_TRUE(session_.press(IDC_NEXT));
  waitForRunEnd(Finished);  // message 182 would end the program instead
  finish(false);

  checkProductInstallation(choice);  // the product folder holds exactly its files; no X event
  for (const char* name : {"tltrans10.dll", "tlaicontrol10.dll", "tlmod10.dll"}) {
    EXPECT_FALSE(fileExists(choice.productDir + name)) << name;
  }
  EXPECT_FALSE(folderExists(fsxAddonFolder())) << "no add-on folder or dll.xml for an X that is not there";
  // Under the scratch root only the two versions' files were added.
  std::set<std::string> expected(scratchBefore.begin(), scratchBefore.end());
  for (const ExpectedFile& file : expectedFiles(choice)) {
    if (file.target.compare(0, scratchRoot().size(), scratchRoot()) != 0) continue;
    std::string relative = file.target.substr(scratchRoot().size());
    std::transform(relative.begin(), relative.end(), relative.begin(), ::tolower);
    expected.insert(relative);
  }
  const std::vector<std::string> scratchAfter = listFiles(scratchRoot());
  EXPECT_EQ(std::set<std::string>(scratchAfter.begin(), scratchAfter.end()), expected);
  EXPECT_TRUE(listFiles(workDir).empty()) << listFiles(workDir).front();
  EXPECT_FALSE(folderExists(workDir + "SimObjects"));
}

// A later installation: the folder stored by an earlier one is proposed
// (with its closing backslash added) and used.
TEST_F(WizardEndToEnd, ReinstallProposesStoredFolder) {
  const std::string stored = scratchRoot() + "Another Place\\TowerLink";
  prefix_.presetProductDir(stored);
  Choice choice;
  choice.setupType = 0;
  choice.productDir = stored + "\\";
  choice.simulators = {prefix_.installSimulator(Fs2004)};

  startAndAcceptLicence(setupExe(), false);
  chooseType(IDC_TYPE_SAME);
  ASSERT_TRUE(session_.waitForPage(TLDir));
  EXPECT_EQ(ui::text(GetDlgItem(session_.page(), IDC_TLDIR_PATH)), choice.productDir);
  ASSERT_TRUE(session_.press(IDC_NEXT));
  waitForRunEnd(Finished);
  finish(false);

  checkProductInstallation(choice);
  EXPECT_FALSE(folderExists(programFilesFolder() + "TowerLink"));
}

// ---- code page 932 ---------------------------------------------------------------------

// Names of what folder holds directly (files and folders), sorted.
std::vector<std::string> entryNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

// Japanese Windows: the product folder, stored by an earlier installation
// without its closing backslash, ends in 表 (0x95 0x5C), Flight Simulator
// 2004's (stored without one as well) in ソ (0x83 0x5C), X's in 能 (0x94 0x5C).
// Every file lands inside its folder and nothing beside them; the record's
// own uninstaller takes it all away again. Its CTest entry starts the driver,
// and so setup.exe, in the locale ja_JP.UTF-8, for which Wine uses code page
// 932 (see CMakeLists.txt).
TEST_F(WizardEndToEnd, DbcsFoldersEndingInTheBackslashByte) {
  if (GetACP() != 932) {
    if (std::getenv("TL_E2E_CODE_PAGE") != nullptr) {
      FAIL() << "the ANSI code page is " << GetACP() << ", not 932: the locale ja_JP.UTF-8 is missing (locale -a)";
    }
    GTEST_SKIP() << "needs code page 932: run it as the CTest entry e2e_DbcsFoldersEndingInTheBackslashByte";
  }
  roundtrip::TempFolderGuard temp;  // the silent uninstaller's log and its copy
  const std::string stored = scratchRoot() + "tl\x95\x5c";
  Choice choice;
  choice.setupType = 0;
  choice.productDir = stored + "\\";
  choice.simulators = {prefix_.installSimulator(Fs2004, "Flight Simulator \x83\x5c"),
                       prefix_.installSimulator(Fsx, "Flight Simulator X \x94\x5c")};
  prefix_.prepareFsxAddonFolder(nullptr);
  const roundtrip::MachineSnapshot before = roundtrip::takeSnapshot(choice.productDir);
  const std::vector<std::string> driveBefore = entryNames("C:\\");
  prefix_.presetProductDir(stored);

  startAndAcceptLicence(setupExe(), false);
  chooseType(IDC_TYPE_SAME);
  ASSERT_TRUE(session_.waitForPage(TLDir));
  EXPECT_EQ(ui::text(GetDlgItem(session_.page(), IDC_TLDIR_PATH)), choice.productDir);
  ASSERT_TRUE(session_.press(IDC_NEXT));
  ASSERT_TRUE(session_.waitForPage(FSDir));
  ASSERT_TRUE(session_.press(IDC_NEXT));
  waitForRunEnd(Finished);
  finish(false);

  checkProductInstallation(choice);
  EXPECT_EQ(dllXml(), newDllXml(ourAddonEntries(choice.productDir, true)));
  std::vector<std::string> chosen = {"tl\x95\x5c", "Flight Simulator \x83\x5c", "Flight Simulator X \x94\x5c"};
  std::sort(chosen.begin(), chosen.end());
  EXPECT_EQ(entryNames(scratchRoot()), chosen) << "files or folders beside the chosen ones";
  EXPECT_EQ(entryNames("C:\\"), driveBefore);
  // setup.exe wrote the folder in code page 932 too: stored as UTF-16, it reads back as 表.
  HKEY key = nullptr;
  wchar_t wide[MAX_PATH] = {};
  DWORD size = sizeof(wide) - sizeof(wchar_t);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Brightfold Labs\\TowerLink\\3", 0, KEY_READ, &key),
            ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, L"TLDir", nullptr, nullptr, reinterpret_cast<BYTE*>(wide), &size), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(std::wstring(wide), L"C:\\tl-e2e\\tl\x8868\\");

  DWORD code = 99;
  std::string why;
  ASSERT_TRUE(roundtrip::runRecordedUninstall(kInstallTimeoutMs, &code, &why)) << why;
  EXPECT_EQ(code, 0u) << "the silent uninstaller's exit code";
  // The relaunched copy removes the product folder's last files after the first process has ended.
  ui::waitFor([&] { return !folderExists(choice.productDir); }, 10000);
  const std::string vendor = "hklm\\software\\brightfold labs\\";
  std::vector<std::string> notCarried = {
      "added " + roundtrip::lowerAscii(fsxAddonFolder()) + "dll.xml",
      "added " + roundtrip::lowerAscii(choice.simulators[0].folder) + "modules\\fsuipc.dll",
      "added " + vendor, "added " + vendor + "towerlink\\"};
  const std::vector<std::string> left = roundtrip::difference(before, roundtrip::takeSnapshot(choice.productDir));
  for (const std::string& line : left) {
    if (std::find(notCarried.begin(), notCarried.end(), line) == notCarried.end()) {
      ADD_FAILURE() << "left behind by the round trip: " << line;
    }
  }
  for (const std::string& line : notCarried) {
    if (std::find(left.begin(), left.end(), line) == left.end()) ADD_FAILURE() << "expected to stay: " << line;
  }
  EXPECT_TRUE(temp.leaked().empty()) << "temporary file left: " << temp.leaked().front();
}

}  // namespace
}  // namespace e2e

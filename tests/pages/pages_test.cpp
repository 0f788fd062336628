// The pages inside a real frame, in this process, against Wine's registry,
// shell and controls: simulator detection (HKLM redirected to a scratch key),
// the proposed product folder and the folder browser, the SimConnect page's
// refusal of a command that would not fit, and the progress page's handling
// of the channel's messages. Boxes a page opens are answered from a second
// thread, as a user would.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>
#include <objbase.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "tests/e2e/ui_automation.h"
#include "install/install_options.h"
#include "install/page_progress.h"
#include "install/progress_frames.h"
#include "install/progress_channel.h"
#include "pages/page_fsdir.h"
#include "platform/handles.h"
#include "pages/page_simconnect.h"
#include "pages/simconnect_package.h"
#include "pages/page_tldir.h"
#include "pages/page_type.h"
#include "resources/resource_ids.h"
#include "tests/support/payload_fixture.h"
#include "tests/support/test_support.h"
#include "system/product_settings.h"
#include "wizard/strings.h"
#include "wizard/wizard_ui_impl.h"

namespace {

constexpr char kErrorCaption[] = "TowerLink Installer Error";

// Stands in for the pages a test does not need past the ones it drives; it
// only has to exist so that navigation has somewhere to land.
class StopPage : public TL3Page {
 public:
  WORD getTemplateId() override { return IDD_FINISHED; }
};

void pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// HKLM redirected to a scratch key of HKCU for the life of the object, so
// the simulator and product keys a test writes never touch the prefix's own.
class ScratchMachineKey {
 public:
  ScratchMachineKey() {
    path_ = "Software\\TowerLink Tests\\pages-" + std::to_string(GetCurrentProcessId());
    RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, key_);
  }
  ~ScratchMachineKey() {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    if (key_ != nullptr) RegCloseKey(key_);
    RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, path_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TowerLink Tests");
  }
  ScratchMachineKey(const ScratchMachineKey&) = delete;
  ScratchMachineKey& operator=(const ScratchMachineKey&) = delete;

  // Writes a value under (redirected) HKLM\key: the bytes as they are.
  void set(const char* key, const char* value, DWORD type, const std::string& bytes) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(handle, value, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(handle);
  }
  void setText(const char* key, const char* value, const std::string& text) {
    set(key, value, REG_SZ, std::string(text.c_str(), text.size() + 1));
  }

 private:
  std::string path_;
  HKEY key_ = nullptr;
};

// Answers the next box of this process with the given caption from a thread
// of its own, keeping its text.
class BoxAnswerer {
 public:
  BoxAnswerer(const char* caption, int button, DWORD timeoutMs = 10000) {
    thread_ = std::thread([this, caption, button, timeoutMs] {
      const ui::MessageBox box = ui::waitForMessageBox(GetCurrentProcessId(), caption, timeoutMs);
      if (box.window == nullptr) return;
      text_ = box.text;
      ui::answer(box, button);
      seen_ = true;
    });
  }
  ~BoxAnswerer() { join(); }
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  bool seen() {
    join();
    return seen_;
  }
  const std::string& text() {
    join();
    return text_;
  }

 private:
  std::thread thread_;
  std::atomic<bool> seen_{false};
  std::string text_;
};

class PagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_instance = GetModuleHandleA(nullptr);
    ASSERT_TRUE(frame_.create(g_instance, IDD_FRAME, IDC_NEXT, IDC_BACK, IDC_CANCEL, IDC_FINISH,
                              Porter::CenteredPosition, Porter::ControlPosition(IDC_PAGE_PLACEHOLDER)));
    frame_.setUserData(&options_);
  }
  void TearDown() override {
    if (frame_.frameWindow() != nullptr) frame_.shutdown();
    pump();
    MSG quit;
    PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);  // shutdown's quit message
  }

  void command(int id) {
    SendMessageA(frame_.frameWindow(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    pump();
  }

  // Pages outlive the frame's shutdown in TearDown, which still calls them.
  PageType type_;
  PageTLDir folder_;
  PageFSDir versions_;
  PageSimConnect simConnect_;
  StopPage stop_;
  WizardUIImpl frame_;
  InstallOptions options_;
};

// ---- setup type page: detection from the registry ---------------------------------

struct Installed {
  const char* key;
  const char* value;
  const char* folder;
};

TEST_F(PagesTest, TypePageReadsEachVersionFromItsOwnValue) {
  ScratchMachineKey machine;
  // Flight Simulator X keeps its folder in "SetupPath"; an "EXE Path" beside
  // it must not be taken.
  machine.setText(kFsxKey, "EXE Path", "C:\\wrong\\");
  machine.setText(kFsxKey, "SetupPath", "C:\\FSX\\");
  machine.setText(kFs2004Key, "EXE Path", "C:\\FS9");
  ASSERT_TRUE(frame_.addPage(&type_) && frame_.addPage(&folder_) && frame_.addPage(&stop_));
  ASSERT_TRUE(frame_.start());
  command(IDC_NEXT);
  EXPECT_EQ(frame_.getCurrentIndex(), 1);
  EXPECT_EQ(options_.fsxDir, "C:\\FSX\\");
  EXPECT_EQ(options_.fs2004Dir, "C:\\FS9");
  EXPECT_EQ(options_.fs2002Dir, "");
  EXPECT_FALSE(options_.useFsx || options_.useFs2004 || options_.useFs2002) << "two found: the version page asks";
}

TEST_F(PagesTest, TypePageTerminatesAValueStoredWithoutItsZero) {
  ScratchMachineKey machine;
  // 260 bytes, no terminating zero: the whole value, and nothing after it.
  machine.set(kFs2002Key, "EXE Path", REG_BINARY, std::string(260, 'A'));
  // 261 bytes does not fit: as if not installed.
  machine.set(kFs2004Key, "EXE Path", REG_SZ, std::string(260, 'B') + std::string(1, '\0'));
  ASSERT_TRUE(frame_.addPage(&type_) && frame_.addPage(&folder_));
  ASSERT_TRUE(frame_.start());
  command(IDC_NEXT);
  EXPECT_EQ(options_.fs2002Dir, std::string(260, 'A'));
  EXPECT_EQ(options_.fs2004Dir, "");
  EXPECT_TRUE(options_.useFs2002);
  EXPECT_EQ(frame_.getCurrentIndex(), 1);
}

TEST_F(PagesTest, TypePageWithoutSimulatorWarnsForEachTypeThatRunsOne) {
  ScratchMachineKey machine;
  ASSERT_TRUE(frame_.addPage(&type_) && frame_.addPage(&folder_));
  ASSERT_TRUE(frame_.start());
  HWND page = frame_.pageWindow(0);
  options_.useFs2004 = true;  // left from an earlier visit: no version found leaves it alone
  const int radios[] = {IDC_TYPE_SAME, IDC_TYPE_SIMULATOR, IDC_TYPE_PRODUCT};
  const int32_t types[] = {SameComputer, SimulatorOnly, ProductOnly};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(radios[i]);
    SendDlgItemMessageA(page, radios[i], BM_CLICK, 0, 0);
    EXPECT_EQ(options_.setupType, types[i]);
    const bool warns = types[i] != ProductOnly;
    BoxAnswerer answerer(kErrorCaption, IDOK, warns ? 10000 : 500);
    command(IDC_NEXT);
    EXPECT_EQ(answerer.seen(), warns);
    if (warns) {
      EXPECT_EQ(answerer.text(), loadResourceString(IDS_ERR_NO_SIMULATOR));
      EXPECT_EQ(frame_.getCurrentIndex(), 0);
    } else {
      EXPECT_EQ(frame_.getCurrentIndex(), 1);
    }
    EXPECT_TRUE(options_.useFs2004);
  }
}

TEST_F(PagesTest, VersionPageFollowsTheFoldersAndTheBoxes) {
  ASSERT_TRUE(frame_.addPage(&versions_) && frame_.addPage(&stop_));
  options_.fs2002Dir = "C:\\FS8";
  options_.fsxDir = "C:\\FSX\\";
  ASSERT_TRUE(frame_.start());
  HWND page = frame_.pageWindow(0);
  EXPECT_EQ(frame_.getCurrentIndex(), 0);
  EXPECT_TRUE(options_.useFs2002 && options_.useFsx && !options_.useFs2004);
  EXPECT_EQ(IsDlgButtonChecked(page, IDC_FSDIR_FS2002), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(page, IDC_FSDIR_FSX), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(page, IDC_FSDIR_FS2004), BST_UNCHECKED);
  // A version that was not found can still be ticked; a ticked one cleared.
  SendDlgItemMessageA(page, IDC_FSDIR_FS2004, BM_CLICK, 0, 0);
  SendDlgItemMessageA(page, IDC_FSDIR_FSX, BM_CLICK, 0, 0);
  EXPECT_TRUE(options_.useFs2004);
  EXPECT_FALSE(options_.useFsx);
  EXPECT_TRUE(options_.useFs2002);
  // Entered again with exactly one selected, it passes itself over.
  SendDlgItemMessageA(page, IDC_FSDIR_FS2004, BM_CLICK, 0, 0);
  ASSERT_TRUE(frame_.goToPage(0));
  EXPECT_EQ(frame_.getCurrentIndex(), 1);
}

// ---- product folder page ----------------------------------------------------------------

TEST_F(PagesTest, FolderPageProposesTheStoredFolderWithItsBackslash) {
  ScratchMachineKey machine;
  machine.setText(kProductKeyPath, kProductDirValue, "D:\\Sim\\TL");
  ASSERT_TRUE(frame_.addPage(&folder_));
  EXPECT_EQ(options_.productDir, "D:\\Sim\\TL\\");
  char shown[MAX_PATH] = {};
  GetDlgItemTextA(frame_.pageWindow(0), IDC_TLDIR_PATH, shown, MAX_PATH);
  EXPECT_STREQ(shown, "D:\\Sim\\TL\\");
}

TEST_F(PagesTest, FolderPageProposesProgramFilesWithoutAnEarlierInstallation) {
  HKEY product = nullptr;
  ASSERT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_READ, &product), ERROR_SUCCESS)
      << "the prefix holds a product key";
  char programFiles[MAX_PATH] = {};
  ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, programFiles), S_OK);
  ASSERT_TRUE(frame_.addPage(&folder_));
  EXPECT_EQ(options_.productDir, std::string(programFiles) + "\\TowerLink\\");
}

// A visible dialog of the wizard's thread that is not the frame: the browser.
BOOL CALLBACK findBrowser(HWND window, LPARAM lParam) {
  char className[32] = {};
  GetClassNameA(window, className, sizeof(className));
  if (IsWindowVisible(window) && std::string(className) == "#32770" && GetDlgItem(window, IDC_NEXT) == nullptr) {
    *reinterpret_cast<HWND*>(lParam) = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK findTree(HWND window, LPARAM lParam) {
  char className[32] = {};
  GetClassNameA(window, className, sizeof(className));
  if (std::string(className) != WC_TREEVIEWA) return TRUE;
  *reinterpret_cast<HWND*>(lParam) = window;
  return FALSE;
}

// The text of the item selected in the browser's folder tree.
std::string selectedTreeItem(HWND browser) {
  HWND tree = nullptr;
  EnumChildWindows(browser, findTree, reinterpret_cast<LPARAM>(&tree));
  if (tree == nullptr) return {};
  char text[MAX_PATH] = {};
  TVITEMA item = {};
  item.mask = TVIF_TEXT;
  item.hItem = TreeView_GetSelection(tree);
  item.pszText = text;
  item.cchTextMax = MAX_PATH;
  if (item.hItem == nullptr || !SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return {};
  return text;
}

// Drives the shell's folder browser: selects folder (or cancels when empty)
// and presses its button.
void answerBrowser(const std::string& folder) {
  HWND browser = nullptr;
  ui::waitFor(
      [&] {
        EnumThreadWindows(GetWindowThreadProcessId(FindWindowA(nullptr, "TowerLink Installer"), nullptr),
                          findBrowser, reinterpret_cast<LPARAM>(&browser));
        return browser != nullptr;
      },
      10000);
  if (browser == nullptr) return;
  if (folder.empty()) {
    PostMessageA(browser, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return;
  }
  // By item list rather than by text: Wine's browser resolves a list at once.
  // Now and then the browser does not find the folder and keeps its root
  // selected; the list is made afresh and the selection made again until the
  // tree shows the folder selected.
  const std::string leaf = folder.substr(folder.find_last_of('\\') + 1);
  ui::waitFor(
      [&] {
        LPITEMIDLIST item = ILCreateFromPathA(folder.c_str());
        SendMessageA(browser, BFFM_SETSELECTIONA, FALSE, reinterpret_cast<LPARAM>(item));
        if (item != nullptr) ILFree(item);
        return selectedTreeItem(browser) == leaf;
      },
      10000);
  PostMessageA(browser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

TEST_F(PagesTest, FolderBrowserReplacesTheFolderAndCancelKeepsIt) {
  ScratchMachineKey machine;
  machine.setText(kProductKeyPath, kProductDirValue, "D:\\Sim\\TL\\");
  const std::string chosen = "C:\\tl-pages-test\\Chosen Folder";
  ASSERT_TRUE(CreateDirectoryA("C:\\tl-pages-test", nullptr));
  ASSERT_TRUE(CreateDirectoryA(chosen.c_str(), nullptr));
  ASSERT_TRUE(frame_.addPage(&folder_));
  ASSERT_TRUE(frame_.start());
  HWND page = frame_.pageWindow(0);

  std::thread cancel([] { answerBrowser(""); });
  SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_TLDIR_CHANGE, BN_CLICKED), 0);
  cancel.join();
  EXPECT_EQ(options_.productDir, "D:\\Sim\\TL\\") << "cancelling the browser keeps the folder";

  std::thread choose([&] { answerBrowser(chosen); });
  SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_TLDIR_CHANGE, BN_CLICKED), 0);
  choose.join();
  EXPECT_EQ(options_.productDir, chosen + "\\") << "the chosen folder itself, with a backslash, no product name";
  char shown[MAX_PATH] = {};
  GetDlgItemTextA(page, IDC_TLDIR_PATH, shown, MAX_PATH);
  EXPECT_EQ(std::string(shown), chosen + "\\");

  RemoveDirectoryA(chosen.c_str());
  RemoveDirectoryA("C:\\tl-pages-test");
}

// ---- SimConnect page ------------------------------------------------------------------------

TEST_F(PagesTest, SimConnectCommandTooLongIsRefusedWithMessage181) {
  ASSERT_TRUE(frame_.addPage(&simConnect_) && frame_.addPage(&stop_));
  options_.productDir = "C:\\" + std::string(240, 'x') + "\\";
  ASSERT_TRUE(frame_.start());
  HWND page = frame_.pageWindow(0);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(frame_.frameWindow(), IDC_NEXT)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(frame_.frameWindow(), IDC_CANCEL)));

  DWORD error = 0;
  EXPECT_FALSE(PageSimConnect::runSimConnectInstaller(options_.productDir, &error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  BoxAnswerer answerer(kErrorCaption, IDOK);
  SendMessageA(page, WM_COMMAND, MAKEWPARAM(IDC_SIMCONNECT_LAUNCH, BN_CLICKED), 0);
  ASSERT_TRUE(answerer.seen());
  EXPECT_EQ(answerer.text(), loadResourceString(IDS_ERR_SIMCONNECT));
  // The page keeps waiting: the button can be pressed again, Next stays off.
  EXPECT_TRUE(IsWindowVisible(GetDlgItem(page, IDC_SIMCONNECT_LAUNCH)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, IDC_SIMCONNECT_LAUNCH)));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(frame_.frameWindow(), IDC_NEXT)));
  EXPECT_EQ(frame_.getCurrentIndex(), 0);
}

// ---- SimConnect page: the package msiexec runs --------------------------------------------

// Whatever lies at the package's name, what is handed over is the payload's
// package, held so that nobody can change it until msiexec ends; a second
// name of another file is replaced, never written through. Prints what the
// check costs in the usual case (the file is the payload's).
TEST(SimConnectPackage, WhatMsiexecGetsIsThePayloadsPackageHeldUnchangeable) {
  tltest::ScopedTempDir temp;
  ASSERT_TRUE(temp.valid());
  const std::string bytes = tltest::patternBytes(2 * 1024 * 1024, 22, false);
  tltest::PayloadFixture payload;
  ASSERT_TRUE(payload.build(temp.file("payload.dll"), {{"\\tl\\tl\\simconnect.msi", bytes}})) << payload.error();
  const std::string path = temp.file("simconnect.msi");
  const std::string other = temp.file("other.bin");
  std::string flipped = bytes;
  flipped[1500000] ^= 0x20;
  enum Prepare { Write, Missing, SecondName };
  const struct {
    const char* what;
    Prepare prepare;
    std::string onDisk;
    bool rewritten;
  } cases[] = {
      {"the payload's", Write, bytes, false},
      {"one byte changed", Write, flipped, true},
      {"shorter", Write, bytes.substr(0, 4096), true},
      {"longer", Write, bytes + "!", true},
      {"missing", Missing, "", true},
      {"a second name of another file", SecondName, "someone else's", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileA(path.c_str());
    if (c.prepare == Write) {
      ASSERT_TRUE(tltest::writeFile(path, c.onDisk));
    }
    if (c.prepare == SecondName) {
      ASSERT_TRUE(tltest::writeFile(other, c.onDisk));
      ASSERT_TRUE(CreateHardLinkA(path.c_str(), other.c_str(), nullptr));
    }
    LARGE_INTEGER start, end, frequency;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    win::FileHandle held;
    PackageCheck report;
    ASSERT_TRUE(holdPayloadPackage(payload.module(), path, nullptr, &held, &report)) << report.error;
    QueryPerformanceCounter(&end);
    if (c.prepare == Write && !c.rewritten) {
      std::printf("package check before msiexec (2 MiB, unchanged): %.1f ms\n",
                  1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    }
    EXPECT_EQ(report.rewritten, c.rewritten);
    // While held: readable as msiexec opens it, not writable, not removable.
    win::FileHandle reader(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                       nullptr));
    EXPECT_TRUE(reader.valid()) << GetLastError();
    reader.reset();
    win::FileHandle writer(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                       FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(writer.valid());
    EXPECT_FALSE(MoveFileA(path.c_str(), temp.file("moved.msi").c_str()));
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    held.reset();
    std::string now;
    ASSERT_TRUE(tltest::readFile(path, &now));
    EXPECT_TRUE(now == bytes) << "the package is not the payload's (" << now.size() << " bytes)";
    if (c.prepare == SecondName) {
      ASSERT_TRUE(tltest::readFile(other, &now));
      EXPECT_EQ(now, c.onDisk) << "written through a second name";
    }
  }

  tltest::PayloadFixture without;
  ASSERT_TRUE(without.build(temp.file("without.dll"), {{"\\tl\\tl\\readme.txt", "x"}})) << without.error();
  win::FileHandle held;
  PackageCheck report;
  EXPECT_FALSE(holdPayloadPackage(without.module(), path, nullptr, &held, &report));
  EXPECT_EQ(report.error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// ---- progress page: the channel's messages ------------------------------------------------

class ProgressPageTest : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    // Added, not entered: entering would start a real run.
    ASSERT_TRUE(frame_.addPage(&progress_));
    page_ = frame_.pageWindow(0);
  }
  void TearDown() override {
    letWorkerEnd(-1);
    PagesTest::TearDown();
  }
  // A run whose worker is the test's own: it waits until letWorkerEnd, then
  // posts the end message through the channel with that result (none when
  // negative) and returns.
  void startRun() {
    release_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(progress_.startWorker(page_, &ProgressPageTest::heldWorker, this));
  }
  void letWorkerEnd(int result) {
    if (!release_) return;
    endResult_ = result;
    SetEvent(release_.get());
  }
  static DWORD WINAPI heldWorker(void* param) {
    auto* self = static_cast<ProgressPageTest*>(param);
    WaitForSingleObject(self->release_.get(), INFINITE);
    if (self->endResult_ >= 0) postInstallDone(self->page_, self->endResult_);
    return 0;
  }
  void post(UINT message, WPARAM wParam, LPARAM lParam = 0) {
    PostMessageA(page_, message, wParam, lParam);
    pump();
  }
  int bar() { return static_cast<int>(SendDlgItemMessageA(page_, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0)); }
  std::string text(int id) {
    char buffer[MAX_PATH] = {};
    GetDlgItemTextA(page_, id, buffer, MAX_PATH);
    return buffer;
  }

  win::KernelHandle release_;
  std::atomic<int> endResult_{-1};
  PageProgress progress_;  // after release_: its end waits for the worker
  HWND page_ = nullptr;
};

TEST_F(ProgressPageTest, BarIsSetUpFromZeroToAThousand) {
  PBRANGE range = {};
  SendDlgItemMessageA(page_, IDC_PROGRESS_BAR, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 1000);
  EXPECT_EQ(bar(), 0);
  EXPECT_EQ(text(IDC_PROGRESS_PERCENT), "100%") << "the template's text until the first update";
  EXPECT_EQ(text(IDC_PROGRESS_STATUS), "Static");
}

TEST_F(ProgressPageTest, BytesAreCountedAcrossFiles) {
  startRun();
  post(WM_INSTALL_TOTAL, 8);
  post(WM_INSTALL_PROGRESS, 0, 5);
  EXPECT_EQ(bar(), 0);
  EXPECT_EQ(text(IDC_PROGRESS_PERCENT), "0%");
  post(WM_INSTALL_PROGRESS, 3, 5);
  EXPECT_EQ(bar(), 375);
  EXPECT_EQ(text(IDC_PROGRESS_PERCENT), "38%");
  post(WM_INSTALL_FILE_DONE, 0);
  EXPECT_EQ(bar(), 375) << "a finished file keeps its bytes";
  post(WM_INSTALL_PROGRESS, 5, 5);  // the next file's own count
  EXPECT_EQ(bar(), 1000);
  post(WM_INSTALL_FILE_DONE, 0);
  EXPECT_EQ(bar(), 1000);
  EXPECT_EQ(text(IDC_PROGRESS_PERCENT), "100%");
}

TEST_F(ProgressPageTest, NoTotalShowsZeroInsteadOfDividing) {
  startRun();
  post(WM_INSTALL_TOTAL, 0);
  post(WM_INSTALL_PROGRESS, 7, 7);
  EXPECT_EQ(bar(), 0);
  EXPECT_EQ(text(IDC_PROGRESS_PERCENT), "0%");
}

TEST_F(ProgressPageTest, RunsBeyondTwoGigabytesShowCorrectly) {
  startRun();
  post(WM_INSTALL_TOTAL, 0xF0000000u);
  post(WM_INSTALL_PROGRESS, 0x78000000u, 0x78000000u);
  EXPECT_EQ(bar(), 500);
  EXPECT_EQ(text(IDC_PROGRESS_PERCENT), "50%");
}

TEST_F(ProgressPageTest, FileTextFromTheChannelIsShownThenCleared) {
  startRun();
  ProgressCB channel(page_);
  const std::string target = "C:\\Program Files\\TowerLink\\sound\\" + std::string(300, 'w') + ".wav";
  channel.fileStarted("\\tl\\tl\\sound\\x.wav", target.c_str());
  channel.flush();  // posted by the channel's own thread
  pump();
  char shown[1024] = {};
  GetDlgItemTextA(page_, IDC_PROGRESS_STATUS, shown, sizeof(shown));
  EXPECT_EQ(std::string(shown).substr(0, 33), target.substr(0, 33));
  channel.fileFinished();
  channel.flush();
  pump();
  EXPECT_EQ(text(IDC_PROGRESS_STATUS), "");
}

// ---- progress page: drawing by frames while the worker runs -----------------------------

class ProgressFramesTest : public ProgressPageTest {
 protected:
  void SetUp() override {
    ProgressPageTest::SetUp();
    bar_ = GetDlgItem(page_, IDC_PROGRESS_BAR);
    percent_ = GetDlgItem(page_, IDC_PROGRESS_PERCENT);
    status_ = GetDlgItem(page_, IDC_PROGRESS_STATUS);
    frames_.setControls(bar_, percent_, status_);
    // On the screen, with every control drawn by itself once.
    ShowWindow(frame_.frameWindow(), SW_SHOWNORMAL);
    ShowWindow(page_, SW_SHOW);
    UpdateWindow(frame_.frameWindow());
    pump();
  }
  void TearDown() override {
    frames_.stop(page_);
    ProgressPageTest::TearDown();
  }

  // A control's rectangle in the page's client coordinates.
  RECT placeOf(HWND control) {
    RECT r;
    GetClientRect(control, &r);
    MapWindowPoints(control, page_, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  COLORREF pixel(int x, int y) {
    HDC dc = GetDC(page_);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(page_, dc);
    return c;
  }
  // Pixels of the control's place on the page that are not its background.
  int inkIn(HWND control) {
    const RECT r = placeOf(control);
    HDC dc = GetDC(page_);
    const COLORREF background = GetPixel(dc, r.left, r.top);
    int ink = 0;
    for (int y = r.top; y < r.bottom; ++y) {
      for (int x = r.left; x < r.right; ++x) ink += GetPixel(dc, x, y) != background ? 1 : 0;
    }
    ReleaseDC(page_, dc);
    return ink;
  }
  // The bar's colour a quarter and three quarters of the way along.
  COLORREF barAt(double fraction) {
    const RECT r = placeOf(bar_);
    return pixel(r.left + static_cast<int>((r.right - r.left) * fraction), (r.top + r.bottom) / 2);
  }

  HWND bar_ = nullptr;
  HWND percent_ = nullptr;
  HWND status_ = nullptr;
  ProgressFrames frames_;
};

TEST_F(ProgressFramesTest, ControlsTakeEveryChangeAndTheFrameDrawsThemOntoThePage) {
  const COLORREF filled = GetSysColor(COLOR_HIGHLIGHT);
  ASSERT_NE(barAt(0.25), filled) << "the bar starts empty";
  ASSERT_TRUE(frames_.start(page_, 77));
  EXPECT_FALSE(IsWindowVisible(bar_)) << "the bar's own drawing is off";

  SendMessageA(bar_, PBM_SETPOS, 500, 0);
  frames_.barChanged();
  SetWindowTextA(percent_, "");
  frames_.labelChanged();
  frames_.showStatus("");
  frames_.draw(page_);
  EXPECT_EQ(barAt(0.25), filled) << "the frame draws the bar's new position";
  EXPECT_NE(barAt(0.75), filled);
  EXPECT_EQ(inkIn(percent_), 0) << "an empty label";
  EXPECT_EQ(inkIn(status_), 0) << "an empty status line";

  SetWindowTextA(percent_, "50%");
  frames_.labelChanged();
  frames_.showStatus("C:\\Program Files\\TowerLink\\tlimage.dll");
  EXPECT_EQ(text(IDC_PROGRESS_STATUS), "") << "the status line's text waits for the frame";
  EXPECT_EQ(inkIn(percent_), 0) << "the label does not draw itself";
  frames_.draw(page_);
  EXPECT_EQ(text(IDC_PROGRESS_STATUS), "C:\\Program Files\\TowerLink\\tlimage.dll");
  EXPECT_GT(inkIn(percent_), 20) << "the frame draws the label's text where the label lies";
  EXPECT_GT(inkIn(status_), 100) << "the frame draws the status line where it lies";
  EXPECT_EQ(barAt(0.25), filled) << "the bar, unchanged, stays as drawn";

  // One bitmap serves every control and frame: nothing of the bar or the
  // earlier text may show through a label that is empty again.
  SendMessageA(bar_, PBM_SETPOS, 1000, 0);
  frames_.barChanged();
  SetWindowTextA(percent_, "");
  frames_.labelChanged();
  frames_.draw(page_);
  EXPECT_EQ(barAt(0.75), filled);
  EXPECT_EQ(inkIn(percent_), 0) << "the label drawn empty over its earlier text";
}

TEST_F(ProgressFramesTest, AFramePaintsWhatElseOnThePageWaitsForPainting) {
  HWND heading = FindWindowExA(page_, nullptr, "Static", "TowerLink is now installing....");
  ASSERT_NE(heading, nullptr);
  ASSERT_TRUE(frames_.start(page_, 77));
  // The heading needs painting, and no message is handed out meanwhile, as
  // while the worker's messages keep the queue busy.
  const RECT place = placeOf(heading);
  HDC dc = GetDC(page_);
  FillRect(dc, &place, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  ReleaseDC(page_, dc);
  InvalidateRect(heading, nullptr, TRUE);
  frames_.draw(page_);
  EXPECT_NE(pixel(place.left, place.top), RGB(0, 0, 0)) << "the heading's background is painted";
  EXPECT_GT(inkIn(heading), 50) << "and its text";
}

TEST_F(ProgressFramesTest, StoppingGivesTheControlsTheirOwnDrawingAndTheLatestText) {
  ASSERT_TRUE(frames_.start(page_, 77));
  frames_.showStatus("first.dll");
  frames_.showStatus("second.dll");
  SendMessageA(bar_, PBM_SETPOS, 1000, 0);
  frames_.stop(page_);
  EXPECT_FALSE(frames_.running());
  EXPECT_TRUE(IsWindowVisible(bar_));
  EXPECT_TRUE(IsWindowVisible(percent_));
  EXPECT_TRUE(IsWindowVisible(status_));
  EXPECT_EQ(text(IDC_PROGRESS_STATUS), "second.dll") << "the text that waited for a frame";
  UpdateWindow(page_);
  pump();
  EXPECT_EQ(barAt(0.75), GetSysColor(COLOR_HIGHLIGHT)) << "the bar draws itself again";

  frames_.showStatus("third.dll");
  EXPECT_EQ(text(IDC_PROGRESS_STATUS), "third.dll") << "without frames the text goes to the control at once";
}

TEST_F(ProgressPageTest, EndMessageWithoutARunIsIgnored) {
  post(WM_INSTALL_DONE, 10);
  EXPECT_NE(frame_.frameWindow(), nullptr) << "a stray end message must not close the installer";
  EXPECT_EQ(ui::waitForMessageBox(GetCurrentProcessId(), kErrorCaption, 300).window, nullptr);
}

// Any program on the desktop may post the channel's messages (XP has no
// UIPI). Before a run and during one, forged messages are not acted on: a
// made-up address is neither read nor freed, a forged end neither closes the
// installer nor moves on. The worker's own end still ends the run, with the
// channel's result.
TEST_F(ProgressPageTest, ForgedMessagesChangeNothing) {
  char* ours = new char[8];
  std::memcpy(ours, "planted", 8);
  const struct {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  } forged[] = {
      {WM_INSTALL_FILE, 0, static_cast<LPARAM>(0x1234567)},  // reading it would fault
      {WM_INSTALL_FILE, 0, reinterpret_cast<LPARAM>(ours)},  // freeing it would corrupt the heap
      {WM_INSTALL_DONE, 0, 0},
  };
  for (bool running : {false, true}) {
    SCOPED_TRACE(running ? "during a run" : "before a run");
    if (running) startRun();
    if (!running) {
      post(WM_INSTALL_TOTAL, 8);
      post(WM_INSTALL_PROGRESS, 4, 8);
      EXPECT_EQ(bar(), 0);
      EXPECT_EQ(text(IDC_PROGRESS_PERCENT), "100%") << "the template's text: nothing was counted";
    }
    for (const auto& f : forged) post(f.message, f.wParam, f.lParam);
    EXPECT_EQ(text(IDC_PROGRESS_STATUS), "Static") << "a file text the channel did not make was shown";
    EXPECT_NE(frame_.frameWindow(), nullptr) << "a forged end closed the installer";
    EXPECT_EQ(ui::waitForMessageBox(GetCurrentProcessId(), kErrorCaption, 200).window, nullptr);
  }
  EXPECT_STREQ(ours, "planted");
  delete[] ours;  // still ours: the page never freed it

  BoxAnswerer answerer(kErrorCaption, IDOK);
  letWorkerEnd(7);
  ASSERT_TRUE(ui::waitFor([&] {
    MSG end;
    return PeekMessageA(&end, page_, WM_INSTALL_DONE, WM_INSTALL_DONE, PM_NOREMOVE) != 0;
  }, 5000));
  pump();  // the end message, and its box until answered
  EXPECT_NE(answerer.text().find("(7)"), std::string::npos) << "the worker's own end: " << answerer.text();
}

}  // namespace

// The wizard against the worker alone: the full-size payload installed (a)
// through the real setup.exe, driven from outside from the moment Next is
// pressed on the last page before the progress page until the finished page
// appears, and (b) by installWorker on the same payload resources with the
// same options and folders, its messages drained by a bare window. Both in
// this Wine session, interleaved (which goes first alternates), after one round
// that is not counted; the prefix cleaned and the disk flushed before every run.
// Prints every run, the medians and `ratio wizard/worker: X.XX`.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/disk_settle.h"
#include "e2e/e2e_environment.h"
#include "e2e/ui_automation.h"
#include "e2e/wizard_session.h"
#include "install/install_options.h"
#include "install/progress_channel.h"
#include "install/worker.h"
#include "resources/resource_ids.h"
#include "system/uninstaller_setup.h"
#include "wizard/strings.h"

namespace {

constexpr int kDefaultRounds = 11;
constexpr DWORD kRunTimeoutMs = 600000;

double now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / frequency;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Every run starts from the prefix as it was found, with the scratch folders
// and with the earlier runs' files flushed to disk.
bool startClean(e2e::PrefixGuard* prefix) {
  std::string why;
  if (!prefix->clean(&why)) {
    std::fprintf(stderr, "the prefix is not clean: %s\n", why.c_str());
    return false;
  }
  e2e::makeFolders(e2e::scratchRoot());
  bench::settleDisk();
  return true;
}

// (a) Seconds from Next on the product folder page to the finished page; < 0
// when the wizard did not get there.
double wizardRun(const std::string& setup, double* startSteps) {
  e2e::PrefixGuard prefix;
  if (!startClean(&prefix)) return -1;
  prefix.installSimulator(e2e::Fs2004);
  prefix.installSimulator(e2e::Fsx);
  prefix.prepareFsxAddonFolder(nullptr);

  e2e::WizardSession wizard;
  if (!wizard.start(setup, std::string()) || !wizard.waitForPage(e2e::Welcome)) return -1;
  wizard.press(IDC_NEXT);
  if (!wizard.waitForPage(e2e::License)) return -1;
  ui::click(wizard.page(), IDC_LICENSE_ACCEPT);
  ui::waitFor([&] { return wizard.frameButtonEnabled(IDC_NEXT); }, 5000);
  wizard.press(IDC_NEXT);
  if (!wizard.waitForPage(e2e::Type)) return -1;
  wizard.press(IDC_NEXT);
  if (!wizard.waitForPage(e2e::TLDir)) return -1;
  wizard.press(IDC_NEXT);
  if (!wizard.waitForPage(e2e::FSDir)) return -1;

  // Watching another process's windows costs the Wine server requests that
  // the worker run does not have to pay; so the two pages are found once,
  // and only whether they are shown is asked, every 10 ms.
  const HWND progressPage = wizard.pageWindow(e2e::Progress);
  const HWND finishedPage = wizard.pageWindow(e2e::Finished);
  if (progressPage == nullptr || finishedPage == nullptr) return -1;

  const double start = now();
  wizard.press(IDC_NEXT);
  DWORD began = GetTickCount();
  double progressShown = -1;
  while (!IsWindowVisible(finishedPage)) {
    if (!wizard.running() || GetTickCount() - began > kRunTimeoutMs) return -1;
    if (progressShown < 0 && IsWindowVisible(progressPage)) progressShown = now() - start;
    Sleep(10);
  }
  const double seconds = now() - start;
  *startSteps = progressShown;
  wizard.press(IDC_FINISH);
  wizard.waitForExit(15000);
  return seconds;
}

// The receiver of the worker's messages: releases the file texts and notes
// the end; nothing is drawn.
struct Receiver {
  bool done = false;
  WPARAM result = 0;
  unsigned messages = 0;
};

LRESULT CALLBACK receive(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* receiver = reinterpret_cast<Receiver*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (receiver != nullptr) {
    if (message >= WM_INSTALL_TOTAL && message <= WM_INSTALL_DONE) ++receiver->messages;
    if (message == WM_INSTALL_FILE) releaseFileText(lParam);
    if (message == WM_INSTALL_DONE) {
      receiver->done = true;
      receiver->result = wParam;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// (b) Seconds from the worker's start to its end message; < 0 on failure.
double workerRun(HMODULE payload, double* commitSeconds) {
  e2e::PrefixGuard prefix;
  if (!startClean(&prefix)) return -1;
  InstallOptions options;
  options.setupType = SameComputer;
  options.productDir = e2e::programFilesFolder() + "TowerLink\\";
  options.fs2004Dir = prefix.installSimulator(e2e::Fs2004).folder;
  options.fsxDir = prefix.installSimulator(e2e::Fsx).folder;
  options.useFs2004 = true;
  options.useFsx = true;

  Receiver receiver;
  HWND window = CreateWindowExA(0, "TLWorkerBenchReceiver", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  if (window == nullptr) return -1;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&receiver));
  Porter::UninstallerSetup* record = createUninstallerSetup("TowerLink", "", "", "");
  WorkerParams params;
  fillWorkerParams(options, payload, window, record, &params);

  const double start = now();
  HANDLE thread = CreateThread(nullptr, 0, installWorker, &params, 0, nullptr);
  if (thread == nullptr) return -1;
  MSG message;
  while (!receiver.done && GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  const double seconds = now() - start;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  DestroyWindow(window);
  const double commitStart = now();
  record->commit();
  *commitSeconds = now() - commitStart;
  static bool told = false;
  if (!told) std::printf("  (the run posts %u messages to the page)\n", receiver.messages);
  told = true;
  return receiver.result == 0 ? seconds : -1;
}

}  // namespace

int rounds() {
  const char* text = std::getenv("ROUNDS");  // as bench.sh passes it on
  const int n = text != nullptr ? std::atoi(text) : 0;
  return n > 0 ? n : kDefaultRounds;
}

int main() {
  const int kRounds = rounds();
  const std::string setup = e2e::windowsPath(TL_BENCH_SETUP);
  HMODULE payload = LoadLibraryExA(setup.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (payload == nullptr) {
    std::fprintf(stderr, "cannot load %s\n", setup.c_str());
    return 1;
  }
  g_instance = payload;  // the worker's texts come from the installer's string table
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = receive;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "TLWorkerBenchReceiver";
  RegisterClassA(&windowClass);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  std::printf("Full-size payload through the wizard (a) and by the worker alone (b), SameComputer with\n"
              "Flight Simulator 2004 and X, %d interleaved rounds after one not counted, seconds:\n", kRounds);
  std::vector<double> wizard, worker, paired, starts, commits;
  // One round first that is not counted: the first run of a session pays for
  // loading the installer and Wine's libraries.
  {
    double start = 0, commit = 0;
    if (wizardRun(setup, &start) < 0 || workerRun(payload, &commit) < 0) {
      std::fprintf(stderr, "the warm-up round failed\n");
      return 1;
    }
  }
  for (int round = 0; round < kRounds; ++round) {
    double start = 0, commit = 0;
    // Which of the two goes first alternates, so that neither always runs
    // right after the other's clean-up.
    double a = -1, b = -1;
    if (round % 2 == 0) {
      a = wizardRun(setup, &start);
      b = workerRun(payload, &commit);
    } else {
      b = workerRun(payload, &commit);
      a = wizardRun(setup, &start);
    }
    std::printf("  round %d: wizard %.3f  worker %.3f  (progress page after %.3f, commit %.3f)\n", round + 1, a, b,
                start, commit);
    std::fflush(stdout);
    if (a < 0 || b < 0) {
      std::fprintf(stderr, "a run failed\n");
      return 1;
    }
    wizard.push_back(a);
    worker.push_back(b);
    paired.push_back(a / b);
    starts.push_back(start);
    commits.push_back(commit);
  }
  const double a = median(wizard), b = median(worker);
  std::printf("median: wizard %.3f s, worker %.3f s\n", a, b);
  std::printf("median of the rounds' own ratios: %.2f\n", median(paired));
  // Where the difference goes: the start steps until the progress page shows,
  // and the uninstall record's commit (the same record, timed in run b) come
  // on top of the run itself.
  const double startSteps = median(starts), commit = median(commits);
  std::printf("the wizard's own steps: start %.3f s, commit %.3f s; the rest of the wizard's time against the "
              "worker: %.2f\n", startSteps, commit, (a - startSteps - commit) / b);
  std::printf("ratio wizard/worker: %.2f\n", a / b);
  CoUninitialize();
  return 0;
}

// The wizard against the worker alone and against NSIS's own progress page:
// the full-size payload installed (a) through the real setup.exe, driven from
// outside from the moment Next is pressed on the last page before the progress
// page until the finished page appears, (b) by installWorker on the same
// payload resources with the same options and folders, its messages drained by
// a bare window, and (c) by an NSIS installer with its progress page
// (Page instfiles, closing by itself) writing the same files into the same
// folders, timed from its process start until it exits, less the median of
// (d) the same NSIS installer without files. All in this Wine session,
// interleaved (the order of a, b and c rotates from round to round), after one
// round that is not counted; the prefix cleaned and the disk flushed before
// every run.
// The round not counted also samples setup.exe's private bytes from outside
// until it exits, so that no timed run pays for the sampling; and the
// installer's size is set against its payload resources.
// Each round also times (e) the payload check setup.exe runs on a thread of
// its own from its start (payload/payload_check.h), on the same resources:
// `payload check s: X` and its share of the worker's time (and, for scale,
// the sample installer's check). The driver spends
// at least a second on the pages before the progress page, as a user would,
// so the check is over before the timed part begins.
// Prints every run, the medians, `ratio wizard/worker: X.XX`,
// `ratio wizard/nsis-gui: X.XX`, `setup.exe overhead KB: N` and
// `peak private MB: N`.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "bench/disk_settle.h"
#include "bench/pe_resources.h"
#include "tests/e2e/e2e_environment.h"
#include "tests/e2e/ui_automation.h"
#include "tests/e2e/wizard_session.h"
#include "tests/support/child_process.h"
#include "platform/handles.h"
#include "install/install_options.h"
#include "install/progress_channel.h"
#include "install/worker.h"
#include "pages/simconnect_package.h"
#include "payload/payload_check.h"
#include "resources/resource_ids.h"
#include "system/uninstall_contract.h"
#include "system/uninstaller_setup.h"
#include "wizard/strings.h"

namespace {

constexpr int kDefaultRounds = 11;
constexpr DWORD kRunTimeoutMs = 600000;
constexpr double kReadingSeconds = 1.0;

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
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The folders of one installation and what it wrote there: relative paths
// under "product\", "fs2004\" and "fsx\", lower case.
struct Folders {
  std::string product, fs2004, fsx;  // with a closing backslash
};

std::vector<std::string> filesIn(const Folders& folders) {
  std::vector<std::string> all;
  const std::pair<const char*, const std::string*> parts[] = {
      {"product\\", &folders.product}, {"fs2004\\", &folders.fs2004}, {"fsx\\", &folders.fsx}};
  for (const auto& part : parts) {
    for (const std::string& f : e2e::listFiles(*part.second)) all.push_back(part.first + f);
  }
  std::sort(all.begin(), all.end());
  return all;
}

// ---- peak private bytes of another process, sampled until it exits -----------

uint64_t privateBytes(HANDLE process) {
  PROCESS_MEMORY_COUNTERS_EX c = {};
  c.cb = sizeof(c);
  if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&c), sizeof(c))) return 0;
  // Wine keeps the commit charge in PagefileUsage and fills PrivateUsage and
  // the peak only on some versions: the largest of the three is the figure.
  return std::max<uint64_t>({c.PrivateUsage, c.PagefileUsage, c.PeakPagefileUsage});
}

struct MemorySampler {
  win::KernelHandle process;
  std::atomic<uint64_t> peak{0};
  std::atomic<unsigned> samples{0};
  static DWORD WINAPI run(LPVOID self) {
    auto* s = static_cast<MemorySampler*>(self);
    do {
      const uint64_t v = privateBytes(s->process.get());
      if (v > s->peak.load()) s->peak.store(v);
      ++s->samples;
    } while (WaitForSingleObject(s->process.get(), 2) == WAIT_TIMEOUT);
    return 0;
  }
};

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

// The prefix as every run of the three finds it: Flight Simulator 2004 and X
// installed, the add-on folder there, the product folder not.
Folders prepareRun(e2e::PrefixGuard* prefix) {
  Folders folders;
  folders.product = e2e::programFilesFolder() + "TowerLink\\";
  folders.fs2004 = prefix->installSimulator(e2e::Fs2004).folder;
  folders.fsx = prefix->installSimulator(e2e::Fsx).folder;
  prefix->prepareFsxAddonFolder(nullptr);
  return folders;
}

// (a) Seconds from Next on the product folder page to the finished page; < 0
// when the wizard did not get there. With files, what the run wrote into its
// folders; with memory, the peak private bytes of setup.exe from its first
// page until it exits (sampled every 2 ms by a thread of this process).
double wizardRun(const std::string& setup, double* startSteps, std::vector<std::string>* files = nullptr,
                 MemorySampler* memory = nullptr) {
  e2e::PrefixGuard prefix;
  if (!startClean(&prefix)) return -1;
  const Folders folders = prepareRun(&prefix);

  e2e::WizardSession wizard;
  const double started = now();
  if (!wizard.start(setup, std::string())) return -1;
  win::KernelHandle sampler;
  if (memory != nullptr) {
    memory->process.reset(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, wizard.pid()));
    if (memory->process.valid()) sampler.reset(CreateThread(nullptr, 0, &MemorySampler::run, memory, 0, nullptr));
  }
  if (!wizard.waitForPage(e2e::Welcome)) return -1;
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

  // A user reads the pages for a second at least: the payload check, begun
  // when the program started, has that long to end unseen.
  const double reading = kReadingSeconds - (now() - started);
  if (reading > 0) Sleep(static_cast<DWORD>(reading * 1000));
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
  if (files != nullptr) *files = filesIn(folders);
  wizard.press(IDC_FINISH);
  wizard.waitForExit(15000);
  if (sampler.valid()) WaitForSingleObject(sampler.get(), 15000);
  return seconds;
}

// (c), (d) Seconds from the NSIS installer's process start until it exits;
// < 0 when it cannot start, does not end in time or ends with an error. The
// folders are named to it in the environment. With files, what it wrote; with
// memory, its peak private bytes, sampled as setup.exe's are.
double nsisRun(const std::string& installer, std::vector<std::string>* files = nullptr,
               MemorySampler* memory = nullptr) {
  e2e::PrefixGuard prefix;
  if (!startClean(&prefix)) return -1;
  const Folders folders = prepareRun(&prefix);
  auto bare = [](std::string folder) {
    if (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder;
  };
  SetEnvironmentVariableA("TLPEER_PRODUCT", bare(folders.product).c_str());
  SetEnvironmentVariableA("TLPEER_FS2004", bare(folders.fs2004).c_str());
  SetEnvironmentVariableA("TLPEER_FSX", bare(folders.fsx).c_str());

  std::string commandLine = "\"" + installer + "\"";
  tltest::ChildProcess process;
  const double start = now();
  if (!process.start(commandLine)) {
    std::fprintf(stderr, "cannot start %s (error %lu)\n", installer.c_str(), process.error());
    return -1;
  }
  win::KernelHandle sampler;
  if (memory != nullptr) {
    HANDLE copy = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), process.handle(), GetCurrentProcess(), &copy, 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
      memory->process.reset(copy);
      sampler.reset(CreateThread(nullptr, 0, &MemorySampler::run, memory, 0, nullptr));
    }
  }
  DWORD code = 1;
  const bool ended = process.wait(kRunTimeoutMs, &code);
  const double seconds = now() - start;
  if (!ended) process.terminate();
  if (!ended || code != 0) {
    std::fprintf(stderr, "%s %s (exit code %lu)\n", installer.c_str(), ended ? "failed" : "did not end", code);
    return -1;
  }
  if (sampler.valid()) WaitForSingleObject(sampler.get(), 15000);
  if (files != nullptr) *files = filesIn(folders);
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
  Porter::UninstallerSetup* record = createUninstallerSetup(record::kRecordName, "", "", "");
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

// ---- the installer's size against its payload --------------------------------

bool readWhole(const std::string& path, std::vector<uint8_t>* bytes) {
  win::FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER size = {};
  if (!file.valid() || !GetFileSizeEx(file.get(), &size) || size.QuadPart > (1ll << 30)) return false;
  bytes->resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  return bytes->empty() ||
         (ReadFile(file.get(), bytes->data(), static_cast<DWORD>(bytes->size()), &got, nullptr) && got == bytes->size());
}

// What the packer wrote for the installer: catalogue.bin and every chunk.
uint64_t packerBytes(const std::string& folder) {
  uint64_t sum = 0;
  for (const char* pattern : {"catalogue.bin", "chunk*.bin"}) {
    WIN32_FIND_DATAA data;
    win::FindHandle find(FindFirstFileA((folder + "\\" + pattern).c_str(), &data));
    if (!find.valid()) continue;
    do {
      sum += (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    } while (FindNextFileA(find.get(), &data));
  }
  return sum;
}

struct Overhead {
  long long kb = -1;          // the file less its payload resources, KB (2^10 bytes); -1: unknown
  long long strippedKb = -1;  // the same without debug sections and symbols
  uint32_t fileAlignment = 0;
  uint32_t sizeOfImage = 0;   // bytes
  uint64_t fileBytes = 0;
};

long long toKB(uint64_t bytes) { return static_cast<long long>((bytes + 512) / 1024); }

// Prints the file's size, its payload and where the rest goes.
Overhead reportOverhead(const char* label, const std::string& path, const std::string& packerFolder) {
  Overhead o;
  std::vector<uint8_t> bytes;
  if (!readWhole(path, &bytes)) {
    std::printf("%s: %s cannot be read\n", label, path.c_str());
    return o;
  }
  const bench::RcdataSum pe = bench::sumRcdata(bytes);
  if (!pe.ok) {
    std::printf("%s: %s has no resource directory that can be read\n", label, path.c_str());
    return o;
  }
  const uint64_t rest = bytes.size() - pe.bytes;
  const uint64_t debug = pe.debugSections + pe.symbolTable;
  std::printf("%s: %s\n  %zu bytes, RT_RCDATA payload resources %llu bytes in %u entries", label, path.c_str(),
              bytes.size(), static_cast<unsigned long long>(pe.bytes), pe.count);
  if (!packerFolder.empty()) {
    const uint64_t packed = packerBytes(packerFolder);
    std::printf(" (the packer wrote %llu bytes%s)", static_cast<unsigned long long>(packed),
                packed == pe.bytes ? ", the same" : ": THEY DIFFER");
  }
  std::printf("\n  the rest %lld KB: debug sections %lld KB and symbol table %lld KB (what strip removes), "
              "other resources %lld KB, code, data and headers %lld KB\n",
              toKB(rest), toKB(pe.debugSections), toKB(pe.symbolTable),
              toKB(pe.resourceSection > pe.bytes ? pe.resourceSection - pe.bytes : 0),
              toKB(rest - debug - (pe.resourceSection > pe.bytes ? pe.resourceSection - pe.bytes : 0)));
  std::printf("  file alignment %u, image size %u bytes\n", pe.fileAlignment, pe.sizeOfImage);
  o.kb = toKB(rest);
  o.strippedKb = toKB(rest - debug);
  o.fileAlignment = pe.fileAlignment;
  o.sizeOfImage = pe.sizeOfImage;
  o.fileBytes = bytes.size();
  return o;
}

}  // namespace

// The check the SimConnect page makes right before msiexec starts: the package
// in the product folder held and compared with the payload's stream. Timed on
// a package that matches (the usual case) and on one that was swapped (put back
// through the held folder first). Seconds, medians of `times` runs each.
struct PackageTimes {
  double matching = -1, swapped = -1;
};

PackageTimes timePackageCheck(HMODULE payload, int times) {
  PackageTimes t;
  char temp[MAX_PATH];
  if (GetTempPathA(MAX_PATH, temp) == 0) return t;
  const std::string folder = std::string(temp) + "tl-bench-package-" + std::to_string(GetCurrentProcessId());
  if (!CreateDirectoryA(folder.c_str(), nullptr)) return t;
  const std::string path = folder + "\\simconnect.msi";
  std::vector<double> matching, swapped;
  for (int i = 0; i < times; ++i) {
    for (bool swap : {true, false}) {
      if (swap) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) break;
        DWORD written = 0;
        WriteFile(file, "not the package", 15, &written, nullptr);
        CloseHandle(file);
      }
      win::FileHandle held;
      PackageCheck check;
      const double start = now();
      const bool ok = holdPayloadPackage(payload, path, nullptr, &held, &check);
      const double seconds = now() - start;
      if (!ok || check.rewritten != swap) {
        std::printf("the package check failed (error %lu)\n", static_cast<unsigned long>(check.error));
        break;
      }
      (swap ? swapped : matching).push_back(seconds);
    }
  }
  DeleteFileA(path.c_str());
  RemoveDirectoryA(folder.c_str());
  if (matching.size() == static_cast<size_t>(times) && swapped.size() == static_cast<size_t>(times)) {
    t.matching = median(matching);
    t.swapped = median(swapped);
  }
  return t;
}

int rounds() {
  const char* text = std::getenv("ROUNDS");  // as bench.sh passes it on
  const int n = text != nullptr ? std::atoi(text) : 0;
  return n > 0 ? n : kDefaultRounds;
}

int main() {
  const int kRounds = rounds();
  const std::string setup = e2e::windowsPath(TL_BENCH_SETUP);
  const std::string nsisGui = *TL_BENCH_NSIS_GUI ? e2e::windowsPath(TL_BENCH_NSIS_GUI) : std::string();
  const std::string nsisEmpty = *TL_BENCH_NSIS_GUI_EMPTY ? e2e::windowsPath(TL_BENCH_NSIS_GUI_EMPTY) : std::string();
  const bool withNsis = !nsisGui.empty() && !nsisEmpty.empty();
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

  // Size first: it needs no run.
  const Overhead overhead =
      reportOverhead("the benchmarked installer", setup, e2e::windowsPath(TL_BENCH_PAYLOAD_DIR));
  const std::string setupPaged = *TL_BENCH_SETUP_PAGED ? e2e::windowsPath(TL_BENCH_SETUP_PAGED) : std::string();
  Overhead paged;
  if (!setupPaged.empty()) paged = reportOverhead("the same installer, page-aligned", setupPaged, "");
  Overhead shipped;
  if (*TL_SHIP_SETUP) shipped = reportOverhead("the shipped i686 setup.exe", e2e::windowsPath(TL_SHIP_SETUP), "");
  std::printf("\n");

  std::printf("Full-size payload through the wizard (a), by the worker alone (b) and by NSIS with its own\n"
              "progress page (c, %s stub, less (d) the same installer without files), SameComputer with\n"
              "Flight Simulator 2004 and X, %d interleaved rounds after one not counted, seconds:\n",
              TL_NSIS_TARGET, kRounds);
  if (!withNsis) std::printf("  (no NSIS peer in this tree: makensis was not found when it was configured)\n");
  std::vector<double> wizard, worker, paired, starts, commits, gui, empty, checks, sampleChecks;
  // The sample installer's payload, checked beside the full-size one for scale.
  HMODULE sample = *TL_SAMPLE_SETUP
                       ? LoadLibraryExA(e2e::windowsPath(TL_SAMPLE_SETUP).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)
                       : nullptr;
  MemorySampler memory, nsisMemory;
  // One round first that is not counted: the first run of a session pays for
  // loading the installer and Wine's libraries. It also samples setup.exe's
  // memory.
  {
    double start = 0, commit = 0;
    if (wizardRun(setup, &start, nullptr, &memory) < 0 || workerRun(payload, &commit) < 0 ||
        (withNsis && (nsisRun(nsisGui, nullptr, &nsisMemory) < 0 || nsisRun(nsisEmpty) < 0))) {
      std::fprintf(stderr, "the warm-up round failed\n");
      return 1;
    }
  }
  const double peakMiB = static_cast<double>(memory.peak.load()) / (1024.0 * 1024.0);
  std::printf("  (setup.exe's private bytes sampled %u times in the round not counted)\n", memory.samples.load());
  // The page-aligned build once more, sampled alike: Wine maps its image from
  // the file, as Windows maps every image, so its private bytes are the
  // program's own.
  MemorySampler pagedMemory;
  if (!setupPaged.empty()) {
    double start = 0;
    if (wizardRun(setupPaged, &start, nullptr, &pagedMemory) < 0) {
      std::fprintf(stderr, "the page-aligned installer's run failed\n");
      return 1;
    }
  }

  for (int round = 0; round < kRounds; ++round) {
    double start = 0, commit = 0;
    double a = -1, b = -1, c = withNsis ? -1 : 0, d = withNsis ? -1 : 0;
    std::vector<std::string> wizardFiles, nsisFiles;
    const bool compare = round == 0 && withNsis;
    // The order rotates, so that none of the three always runs right after
    // the same other's clean-up.
    const int kinds = withNsis ? 3 : 2;
    for (int k = 0; k < kinds; ++k) {
      switch ((round + k) % kinds) {
        case 0: a = wizardRun(setup, &start, compare ? &wizardFiles : nullptr); break;
        case 1: b = workerRun(payload, &commit); break;
        default: c = nsisRun(nsisGui, compare ? &nsisFiles : nullptr); break;
      }
    }
    if (withNsis) d = nsisRun(nsisEmpty);
    double checkStart = now();
    const int checked = checkPayload(payload);
    const double e = checked == 0 ? now() - checkStart : -1;
    if (sample != nullptr) {
      checkStart = now();
      if (checkPayload(sample) == 0) sampleChecks.push_back(now() - checkStart);
    }
    std::printf("  round %d: wizard %.3f  worker %.3f  nsis-gui %.3f  nsis-gui-empty %.3f  check %.3f  (progress page "
                "after %.3f, commit %.3f)\n",
                round + 1, a, b, c, d, e, start, commit);
    std::fflush(stdout);
    if (a < 0 || b < 0 || c < 0 || d < 0 || e < 0) {
      std::fprintf(stderr, "a run failed\n");
      return 1;
    }
    if (compare) {
      // NSIS must have written what the wizard wrote from its payload; the
      // wizard writes its own files beside them (its uninstall record).
      std::vector<std::string> onlyNsis, onlyWizard;
      std::set_difference(nsisFiles.begin(), nsisFiles.end(), wizardFiles.begin(), wizardFiles.end(),
                          std::back_inserter(onlyNsis));
      std::set_difference(wizardFiles.begin(), wizardFiles.end(), nsisFiles.begin(), nsisFiles.end(),
                          std::back_inserter(onlyWizard));
      std::printf("  the same %zu files written by the wizard and by NSIS", nsisFiles.size() - onlyNsis.size());
      if (!onlyWizard.empty()) {
        std::printf("; the wizard's own besides:");
        for (size_t i = 0; i < onlyWizard.size() && i < 8; ++i) std::printf(" %s", onlyWizard[i].c_str());
        if (onlyWizard.size() > 8) std::printf(" and %zu more", onlyWizard.size() - 8);
      }
      std::printf("\n");
      if (!onlyNsis.empty() || onlyWizard.size() > 8) {
        std::fprintf(stderr, "the wizard and the NSIS peer wrote different trees (%zu files only by NSIS, %zu only by "
                             "the wizard, e.g. %s)\n",
                     onlyNsis.size(), onlyWizard.size(),
                     (onlyNsis.empty() ? onlyWizard : onlyNsis).front().c_str());
        return 1;
      }
    }
    wizard.push_back(a);
    worker.push_back(b);
    paired.push_back(a / b);
    starts.push_back(start);
    commits.push_back(commit);
    gui.push_back(c);
    empty.push_back(d);
    checks.push_back(e);
  }
  const double a = median(wizard), b = median(worker);
  std::printf("median: wizard %.3f s, worker %.3f s\n", a, b);
  std::printf("median of the rounds' own ratios: %.2f\n", median(paired));
  // Where the difference goes: the start steps until the progress page shows,
  // and the uninstall record's commit (the same record, timed in run b) come
  // on top of the run itself.
  const double startSteps = median(starts), commit = median(commits);
  std::printf("the wizard's own steps: start %.3f s, commit %.3f s\n", startSteps, commit);
  // The commit is one Wine server request per value, so it sets a floor
  // under the wizard's time that no page can lower; the rest of the wizard's
  // time against the worker's is the page's own cost.
  std::printf("ratio wizard/worker, start steps and commit aside: %.2f\n", (a - startSteps - commit) / b);
  std::printf("ratio start steps and commit/worker: %.2f\n", (startSteps + commit) / b);
  if (withNsis) {
    const double c = median(gui), d = median(empty), net = c - d;
    std::vector<double> own;
    for (size_t i = 0; i < wizard.size(); ++i) own.push_back(gui[i] - d > 0 ? wizard[i] / (gui[i] - d) : 0.0);
    std::printf("median: NSIS with its progress page %.3f s, the same without files %.3f s: %.3f s for the files\n",
                c, d, net);
    std::printf("median of the rounds' own wizard/nsis-gui ratios: %.2f\n", median(own));
  }
  // The check runs while the user reads the pages, not during the run; its
  // cost is set against the worker's for scale.
  std::printf("payload check s: %.3f\n", median(checks));
  if (!sampleChecks.empty()) std::printf("payload check of the sample installer s: %.4f\n", median(sampleChecks));
  std::printf("payload check share of the worker's time %%: %.1f\n", 100.0 * median(checks) / b);
  const PackageTimes package = timePackageCheck(payload, 5);
  if (package.matching >= 0) {
    std::printf("SimConnect package check before msiexec ms: %.1f (one that was swapped and is put back: %.1f)\n",
                1000.0 * package.matching, 1000.0 * package.swapped);
  }
  std::printf("ratio wizard/worker: %.2f\n", a / b);
  if (withNsis) {
    const double net = median(gui) - median(empty);
    std::printf("ratio wizard/nsis-gui: %.2f\n", net > 0 ? a / net : 0.0);
  }
  if (overhead.kb >= 0) {
    std::printf("setup.exe overhead KB: %lld\n", overhead.kb);
    std::printf("setup.exe overhead without debug information KB: %lld\n", overhead.strippedKb);
  }
  if (shipped.kb >= 0) {
    std::printf("shipped i686 setup.exe overhead KB: %lld\n", shipped.kb);
    std::printf("shipped i686 setup.exe overhead without debug information KB: %lld\n", shipped.strippedKb);
  }
  if (nsisMemory.samples.load() > 0) {
    // What Wine counts for any GUI process beside the program's own memory.
    std::printf("peak private MB of the NSIS peer with its progress page, sampled alike: %.1f\n",
                static_cast<double>(nsisMemory.peak.load()) / (1024.0 * 1024.0));
  }
  if (memory.samples.load() > 0) {
    const double image = static_cast<double>(overhead.sizeOfImage) / (1024.0 * 1024.0);
    std::printf("peak private MB of setup.exe as built (file alignment %u, so Wine copies its %.1f MB image into "
                "private memory): %.1f\n",
                overhead.fileAlignment, image, peakMiB);
    if (overhead.fileAlignment < 4096) {
      std::printf("  the same less the image size: %.1f\n", peakMiB - image);
    }
  }
  if (pagedMemory.samples.load() > 0) {
    std::printf("peak private MB of the page-aligned build (sampled %u times; %lld KB larger a file): %.1f\n",
                pagedMemory.samples.load(),
                static_cast<long long>((paged.fileBytes - overhead.fileBytes + 512) / 1024),
                static_cast<double>(pagedMemory.peak.load()) / (1024.0 * 1024.0));
    std::printf("peak private MB: %.1f\n", static_cast<double>(pagedMemory.peak.load()) / (1024.0 * 1024.0));
  } else if (memory.samples.load() > 0 && overhead.fileAlignment >= 4096) {
    std::printf("peak private MB: %.1f\n", peakMiB);
  }
  CoUninitialize();
  return 0;
}

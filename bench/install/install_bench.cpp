// The installation benchmark: a full-size payload installed by the worker (a),
// by the plainest possible loop over the same resources (b, the limit) and by
// an NSIS installer of the same files run silently (c, the peer), in
// interleaved rounds; in the same rounds the extractor alone with no messages.
// The floor is the faster of the limit and the extractor alone in each round:
// the fastest known way to write those files. Prints medians, throughput,
// where the worker's time goes against the floor, the ratios and the worker's
// peak private memory.
//
//   install_bench --payload DLL --nsis EXE --out DIR [--rounds N] [--heavy N]
//   install_bench --peak --payload DLL --out DIR     (one run of (a); prints
//                                                   this process's memory)
#include <windows.h>
#include <psapi.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bench/disk_settle.h"
#include "tests/install/message_sink.h"
#include "install/progress_channel.h"
#include "install/worker.h"
#include "payload/catalogue.h"
#include "payload/file_extractor.h"
#include "payload/file_extractor_impl.h"
#include "platform/handles.h"
#include "platform/ansi_code_page.h"
#include "wizard/strings.h"

#if defined(__i386__) || defined(_M_IX86)
// The limit initialises zlib the way the extractor does, with the stream size
// of the zlib the installer was designed against.
static_assert(sizeof(z_stream) == 56, "z_stream layout differs from the one inflateInit_ is told about");
#endif

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

// ---- small platform helpers -----------------------------------------------------

// An inflate stream ended on every way out.
class Inflater {
 public:
  Inflater() { ok_ = inflateInit_(&z_, "1.2.1", static_cast<int>(sizeof(z_stream))) == Z_OK; }
  ~Inflater() {
    if (ok_) inflateEnd(&z_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  bool ok() const { return ok_; }
  z_stream& get() { return z_; }

 private:
  z_stream z_ = {};
  bool ok_ = false;
};

double now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool removeTree(const std::string& path) {
  WIN32_FIND_DATAA data;
  win::FindHandle find(FindFirstFileA((path + "\\*").c_str(), &data));
  if (find.valid()) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      std::string child = path + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        removeTree(child);
      } else {
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(find.get(), &data));
  }
  RemoveDirectoryA(path.c_str());
  return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

// Relative path -> size of every file under folder.
void listTree(const std::string& folder, const std::string& prefix, std::map<std::string, uint64_t>* out) {
  WIN32_FIND_DATAA data;
  win::FindHandle find(FindFirstFileA((folder + "\\*").c_str(), &data));
  if (!find.valid()) return;
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      listTree(folder + "\\" + data.cFileName, prefix + name + "\\", out);
    } else {
      (*out)[prefix + name] = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
  } while (FindNextFileA(find.get(), &data));
}

bool makeFolder(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

double best(const std::vector<double>& v) { return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end()); }

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n == 0 ? 0.0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0);
}

[[noreturn]] void die(const std::string& why) {
  std::fprintf(stderr, "install_bench: %s\n", why.c_str());
  std::fflush(stderr);
  ExitProcess(1);
}

// An empty output folder, flushed state: ready for a timed run.
void prepare(const std::string& path) {
  removeTree(path);
  if (!makeFolder(path)) die("cannot create " + path);
  bench::settleDisk();
}

// ---- (a) the worker ------------------------------------------------------------------

// Keeps the events as the real record does (three copies each).
class KeepingRecord : public Porter::UninstallerSetup {
 public:
  bool addEvent(const char* tag, const char* params, const char* desc) override {
    events.push_back({tag, params, desc});
    return true;
  }
  bool commit() override { return false; }
  struct Event {
    std::string tag, params, desc;
  };
  std::vector<Event> events;
};

struct WorkerRun {
  double seconds = 0;
  uint64_t total = 0;
  std::map<UINT, size_t> counts;
  size_t events = 0;
};

WorkerRun runWorker(HMODULE payload, const std::string& out, bool fs2002, bool fs2004, bool fsx) {
  InstallOptions options;
  options.setupType = SameComputer;
  options.productDir = out + "\\product\\";
  options.fs2002Dir = out + "\\fs2002";
  options.fs2004Dir = out + "\\fs2004";
  options.fsxDir = out + "\\fsx";
  options.useFs2002 = fs2002;
  options.useFs2004 = fs2004;
  options.useFsx = fsx;
  tltest::MessageSink sink;
  if (sink.window() == nullptr) die("no message window");
  KeepingRecord record;
  WorkerParams params;
  fillWorkerParams(options, payload, sink.window(), &record, &params);

  WorkerRun run;
  const double start = now();
  const bool ended = sink.runWorker(&params, 600000);
  run.seconds = now() - start;
  const auto& m = sink.messages();
  if (!ended || m.empty() || m.back().message != WM_INSTALL_DONE) die("the worker did not end");
  if (m.back().wParam != 0) die("the worker failed with result " + std::to_string(m.back().wParam));
  run.total = m.front().message == WM_INSTALL_TOTAL ? static_cast<uint64_t>(m.front().wParam) : 0;
  for (const auto& p : m) ++run.counts[p.message];
  run.events = record.events.size();
  return run;
}

// ---- the breakdown: the extractor alone, without the progress channel ----------

class SilentSink : public Porter::FileExtractorStatus {
 public:
  void fileStarted(const char*, const char*) override {}
  void fileProgress(uint32_t, uint32_t, uint32_t, uint32_t) override {}
  void fileFinished() override {}
};

// The extractions of (a), in its order, with a sink that posts nothing.
double runExtractorAlone(HMODULE payload, const std::string& out) {
  const std::string product = out + "\\product\\";
  const std::string airplanes = out + "\\fsx\\SimObjects\\Airplanes\\";
  SilentSink sink;
  KeepingRecord record;
  Porter::FileExtractor* x = getFileExtractor();
  const double start = now();
  if (!x->init(payload, &sink)) die("extractor: init");
  const std::vector<std::string> exclusions{"/tl/fs/tlmod10.dll"};
  int failures = 0;
  failures += x->extractFolder("/tl/tl", product.c_str(), &record, "d", nullptr) != ExtractResult::Ok;
  failures += x->extractFile("/tl/fs/tlmod10.dll", (product + "tlmod10.dll").c_str(), false) != ExtractResult::Ok;
  failures += x->extractFolder("/tl/fs", product.c_str(), &record, "d", &exclusions) != ExtractResult::Ok;
  failures += x->extractFolder("/fs/aircraft/towerlink", (airplanes + "towerlink").c_str(), &record, "d", nullptr) !=
              ExtractResult::Ok;
  failures += x->extractFolder("/fs/aircraft/vip", (airplanes + "vip").c_str(), &record, "d", nullptr) !=
              ExtractResult::Ok;
  failures += x->extractFolder("/tl/global", product.c_str(), &record, "d", nullptr) != ExtractResult::Ok;
  x->close();
  if (failures != 0) die("extractor: a group failed");
  return now() - start;
}

// The progress channel alone: as many messages as (a) posts, from a thread
// that does nothing else, to the same kind of receiver.
// With bare, PostMessageA itself is called instead of the channel.
struct ChannelArgs {
  HWND window;
  size_t count;
  bool bare;
  double senderSeconds;  // the posting calls alone, summed
};

DWORD WINAPI postOnly(LPVOID argument) {
  ChannelArgs& c = *static_cast<ChannelArgs*>(argument);
  ProgressCB progress(c.window);
  double sum = 0;
  for (size_t i = 0; i < c.count; ++i) {
    const double start = now();
    if (c.bare) {
      PostMessageA(c.window, WM_INSTALL_PROGRESS, static_cast<WPARAM>(i), 0);
    } else {
      progress.fileProgress(0, 0, static_cast<uint32_t>(i), 0);
    }
    sum += now() - start;
  }
  const double start = now();
  progress.flush();  // what still waits, before the end (as the worker does)
  sum += now() - start;
  c.senderSeconds = sum;
  PostMessageA(c.window, WM_INSTALL_DONE, 0, 0);
  return 0;
}

// Seconds until the receiver had every message; *sender: the posting calls' own.
double runChannelAlone(size_t count, bool bare, double* sender) {
  tltest::MessageSink sink;
  ChannelArgs args{sink.window(), count, bare, 0};
  const double start = now();
  win::KernelHandle thread(CreateThread(nullptr, 0, postOnly, &args, 0, nullptr));
  if (!thread.valid()) die("channel: no thread");
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    DispatchMessageA(&msg);
    if (msg.message == WM_INSTALL_DONE) break;
  }
  WaitForSingleObject(thread.get(), INFINITE);
  *sender = args.senderSeconds;
  return now() - start;
}

// ---- the steps of an extraction ----------------------------------------------------

FileExtractorImpl& processExtractor() { return *static_cast<FileExtractorImpl*>(getFileExtractor()); }

double seconds(LONGLONG ticks) {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  return static_cast<double>(ticks) / frequency;
}

// One timed run with the extractor's step timing on: the steps' seconds, and
// the run's own seconds in total.
struct StepRun {
  ExtractionSteps steps;
  double total = 0;
};

const char* const kStepNames[ExtractionSteps::kCount] = {"folder check and hold", "create", "inflate", "write",
                                                          "close",                 "message posts"};

// Median per step over the runs, in seconds; calls from the last run.
void printSteps(const char* what, const std::vector<StepRun>& runs) {
  if (runs.empty()) return;
  std::vector<double> totals;
  for (const StepRun& r : runs) totals.push_back(r.total);
  const double total = median(totals);
  std::printf("%s: median of %zu runs with the extractor's step timing on, %.3f s in all\n", what, runs.size(),
              total);
  std::printf("  %-24s %9s %6s %9s %9s\n", "step", "ms", "share", "calls", "us/call");
  double sum = 0;
  for (int step = 0; step < ExtractionSteps::kCount; ++step) {
    std::vector<double> v;
    for (const StepRun& r : runs) v.push_back(seconds(r.steps.ticks[step]));
    const double m = median(v);
    const uint64_t calls = runs.back().steps.calls[step];
    sum += m;
    std::printf("  %-24s %9.1f %5.1f%% %9llu %9.2f\n", kStepNames[step], m * 1e3, total > 0 ? 100 * m / total : 0.0,
                static_cast<unsigned long long>(calls), calls ? m * 1e6 / static_cast<double>(calls) : 0.0);
  }
  std::printf("  %-24s %9.1f %5.1f%%   (lookups, names, paths, events, the loop)\n", "the rest",
              (total - sum) * 1e3, total > 0 ? 100 * (total - sum) / total : 0.0);
}

// ---- (b) the limit -----------------------------------------------------------------------

struct Job {
  std::string name;    // catalogue name
  std::string target;  // full path
};

// What (a) writes for SameComputer with Flight Simulator X only, in its order.
std::vector<Job> jobsOfWorkerRun(const CatalogueIndex& index, const std::string& out) {
  const std::string product = out + "\\product\\";
  const std::string airplanes = out + "\\fsx\\SimObjects\\Airplanes\\";
  std::vector<Job> jobs;
  auto under = [&](const std::string& prefix, const std::string& folder, const std::string& skip) {
    for (auto it = index.lower_bound(prefix); it != index.end() && hasPrefix(it->first, prefix); ++it) {
      if (it->first != skip) jobs.push_back({it->first, folder + it->first.substr(prefix.size())});
    }
  };
  under("\\tl\\tl\\", product, "");
  jobs.push_back({"\\tl\\fs\\tlmod10.dll", product + "tlmod10.dll"});
  under("\\tl\\fs\\", product, "\\tl\\fs\\tlmod10.dll");
  under("\\fs\\aircraft\\towerlink\\", airplanes + "towerlink\\", "");
  under("\\fs\\aircraft\\vip\\", airplanes + "vip\\", "");
  under("\\tl\\global\\", product, "");
  return jobs;
}

const uint8_t* chunk(HMODULE module, uint32_t id) {
  HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id & 0xFFFF), MAKEINTRESOURCEA(10));
  HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
  return loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
}

// Inflates every job straight into its file: the folders are made once up
// front, no probes, no progress, no events, buffers allocated once, the
// streams read in place. Writes as the extractor does (payload/
// file_extractor.cpp): the same flags, one chunk-sized output buffer written
// only when it is full and at the stream's end, so every write but a file's
// last is one whole chunk.
double runLimit(HMODULE module, const CatalogueIndex& index, uint32_t chunkSize, const std::vector<Job>& jobs,
                uint64_t* written, bool probe = false) {
  const double start = now();
  std::set<std::string> folders;
  for (const Job& job : jobs) {
    for (std::string f = parentPath(job.target, ansiLeadBytes()); f.size() > 3; f = parentPath(f, ansiLeadBytes())) {
      folders.insert(f);
    }
  }
  for (const std::string& f : folders) {  // a parent sorts before its children
    if (!makeFolder(f)) die("limit: cannot create " + f);
  }
  std::vector<uint8_t> output(chunkSize);
  *written = 0;
  for (const Job& job : jobs) {
    const CatalogueEntry& entry = index.at(job.name);
    if (probe) {
      // What the extractor did before every file: a temporary file made and
      // deleted in the target's folder.
      char name[MAX_PATH];
      if (GetTempFileNameA(parentPath(job.target, ansiLeadBytes()).c_str(), "", 0, name) == 0) die("probe failed");
      DeleteFileA(name);
    }
    win::FileHandle file(CreateFileA(job.target.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) die("limit: cannot create " + job.target);
    Inflater inflater;
    if (!inflater.ok()) die("limit: inflateInit");
    z_stream& z = inflater.get();
    z.next_out = output.data();
    z.avail_out = chunkSize;
    bool ended = false;
    bool ok = forEachPiece(entry, chunkSize, [&](const StreamPiece& piece) {
      if (piece.length == 0 || ended) return true;
      const uint8_t* data = chunk(module, piece.chunkId);
      if (data == nullptr) return false;
      z.next_in = const_cast<Bytef*>(data + piece.position);
      z.avail_in = piece.length;
      bool outputFull = false;
      while (z.avail_in > 0 || outputFull) {
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_BUF_ERROR && z.avail_in == 0) break;  // needs the next piece
        if (rc != Z_OK && rc != Z_STREAM_END) return false;
        outputFull = z.avail_out == 0;
        if (outputFull || rc == Z_STREAM_END) {
          const DWORD n = chunkSize - z.avail_out;
          DWORD done = 0;
          if (n > 0 && (!WriteFile(file.get(), output.data(), n, &done, nullptr) || done != n)) return false;
          *written += n;
          z.next_out = output.data();
          z.avail_out = chunkSize;
        }
        if (rc == Z_STREAM_END) {
          ended = true;
          break;
        }
      }
      return true;
    });
    if (!ok || !ended || !file.close()) die("limit: cannot inflate " + job.name);
  }
  return now() - start;
}

// ---- (c) the NSIS peer ---------------------------------------------------------------------

double runProcess(const std::string& commandLine) {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  const double start = now();
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    die("cannot start " + commandLine + " (error " + std::to_string(GetLastError()) + ")");
  }
  win::KernelHandle thread(pi.hThread), process(pi.hProcess);
  WaitForSingleObject(process.get(), INFINITE);
  const double seconds = now() - start;
  DWORD code = 1;
  GetExitCodeProcess(process.get(), &code);
  if (code != 0) die(commandLine + " exited with " + std::to_string(code));
  return seconds;
}

double runNsis(const std::string& installer, const std::string& out) {
  // /D= must come last and unquoted (NSIS takes the rest of the line).
  return runProcess("\"" + installer + "\" /S /D=" + out);
}

// ---- main --------------------------------------------------------------------------------

struct Args {
  std::string payload, nsis, nsisEmpty, out, self;
  int rounds = 5, heavy = 3;
  bool peak = false, breakdown = false;
};

Args parse(int argc, char** argv) {
  Args a;
  a.self = argv[0];
  for (int i = 1; i < argc; ++i) {
    std::string k = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) die("missing value for " + k);
      return argv[++i];
    };
    if (k == "--payload") a.payload = value();
    else if (k == "--nsis") a.nsis = value();
    else if (k == "--nsis-empty") a.nsisEmpty = value();
    else if (k == "--out") a.out = value();
    else if (k == "--rounds") a.rounds = std::max(1, std::atoi(value().c_str()));
    else if (k == "--heavy") a.heavy = std::max(1, std::atoi(value().c_str()));
    else if (k == "--peak") a.peak = true;
    else if (k == "--breakdown") a.breakdown = true;
    else die("unknown argument " + k);
  }
  if (a.payload.empty() || a.out.empty() || (!a.peak && a.nsis.empty())) die("usage: see install_bench.cpp");
  return a;
}

double mbps(uint64_t bytes, double seconds) { return seconds > 0 ? static_cast<double>(bytes) / kMiB / seconds : 0; }

// Wine reports the private commit charge in PagefileUsage but keeps no peak
// of it, so a thread samples it while the run goes on.
uint64_t pagefileBytes() {
  PROCESS_MEMORY_COUNTERS_EX c = {};
  c.cb = sizeof(c);
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&c), sizeof(c));
  return std::max<uint64_t>({c.PrivateUsage, c.PagefileUsage, c.PeakPagefileUsage});
}

struct Sampler {
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> peak{0};
  static DWORD WINAPI run(LPVOID self) {
    auto* s = static_cast<Sampler*>(self);
    while (!s->stop.load()) {
      uint64_t v = pagefileBytes();
      if (v > s->peak.load()) s->peak.store(v);
      Sleep(1);
    }
    return 0;
  }
};

int peakMode(const Args& a, HMODULE payload) {
  removeTree(a.out);
  if (!makeFolder(a.out)) die("cannot create " + a.out);
  const double before = static_cast<double>(pagefileBytes()) / kMiB;
  Sampler sampler;
  win::KernelHandle thread(CreateThread(nullptr, 0, &Sampler::run, &sampler, 0, nullptr));
  WorkerRun run = runWorker(payload, a.out, false, false, true);
  sampler.stop.store(true);
  if (thread.valid()) WaitForSingleObject(thread.get(), INFINITE);
  const double peak = static_cast<double>(std::max<uint64_t>(sampler.peak.load(), pagefileBytes())) / kMiB;
  PROCESS_MEMORY_COUNTERS c = {};
  c.cb = sizeof(c);
  GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof(c));
  removeTree(a.out);
  std::printf("peak %.1f before-run %.1f working-set-peak %.1f seconds %.3f\n", peak, before,
              static_cast<double>(c.PeakWorkingSetSize) / kMiB, run.seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Args a = parse(argc, argv);
  // The event texts come from the string table linked into this program.
  g_instance = GetModuleHandleA(nullptr);
  HMODULE payload = LoadLibraryExA(a.payload.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (payload == nullptr) die("cannot load " + a.payload);
  if (a.peak) return peakMode(a, payload);

  // The catalogue, for the limit's loop.
  HRSRC info = FindResourceA(payload, MAKEINTRESOURCEA(kCatalogueResourceId), MAKEINTRESOURCEA(10));
  const uint8_t* data = chunk(payload, kCatalogueResourceId);
  if (info == nullptr || data == nullptr) die("no catalogue in " + a.payload);
  CatalogueIndex index;
  uint32_t chunkSize = 0;
  if (parseCatalogue(data, SizeofResource(payload, info), &chunkSize, &index) != CatalogueParse::Ok) {
    die("unreadable catalogue");
  }

  const std::string outA = a.out + "\\a", outB = a.out + "\\b", outC = a.out + "\\c", outH = a.out + "\\heavy";
  removeTree(a.out);
  if (!makeFolder(a.out)) die("cannot create " + a.out);
  const std::vector<Job> jobs = jobsOfWorkerRun(index, outB);

  std::vector<double> ta, tb, tc, tEmpty, tx, tp, tm, tf, share, tBare, sendChannel, sendBare, ratioXB, ratioXC, ratioAC;
  uint64_t bytesA = 0, bytesB = 0;
  WorkerRun last;
  for (int round = 0; round < a.rounds; ++round) {
    prepare(outA);
    last = runWorker(payload, outA, false, false, true);
    ta.push_back(last.seconds);
    bytesA = last.total;
    prepare(outB);
    tb.push_back(runLimit(payload, index, chunkSize, jobs, &bytesB));
    prepare(outC);
    tc.push_back(runNsis(a.nsis, outC));
    if (round == 0) {
      // The three must have written the same files.
      std::map<std::string, uint64_t> la, lb, lc;
      listTree(outA, "", &la);
      listTree(outB, "", &lb);
      listTree(outC, "", &lc);
      if (la != lb || la != lc) {
        die("the three runs wrote different trees (" + std::to_string(la.size()) + ", " + std::to_string(lb.size()) +
            ", " + std::to_string(lc.size()) + " files)");
      }
      std::printf("same %zu files written by all three\n", la.size());
    }
    if (!a.nsisEmpty.empty()) {
      prepare(outC + "-empty");
      tEmpty.push_back(runProcess("\"" + a.nsisEmpty + "\" /S /D=" + outC + "-empty"));
    }
    // The extractor alone in every round: the floor needs it.
    prepare(outA);
    tx.push_back(runExtractorAlone(payload, outA));
    tf.push_back(std::min(tb.back(), tx.back()));
    share.push_back((ta.back() - tx.back()) / ta.back());
    if (a.breakdown) {
      prepare(outB);
      uint64_t ignored = 0;
      tp.push_back(runLimit(payload, index, chunkSize, jobs, &ignored, true));
      size_t posted = 0;
      for (const auto& kv : last.counts) posted += kv.second;
      double sender = 0;
      tm.push_back(runChannelAlone(posted, false, &sender));
      sendChannel.push_back(sender / static_cast<double>(posted));
      tBare.push_back(runChannelAlone(posted, true, &sender));
      sendBare.push_back(sender / static_cast<double>(posted));
    }
    ratioXB.push_back(tx.back() / tb.back());
    ratioXC.push_back(tx.back() / tc.back());
    ratioAC.push_back(ta.back() / tc.back());
    std::printf("round %d: worker %.3f s, limit %.3f s, extractor alone %.3f s, nsis %.3f s\n", round + 1, ta.back(),
                tb.back(), tx.back(), tc.back());
    std::fflush(stdout);
  }
  for (const std::string& d : {outA, outB, outC, outC + "-empty"}) removeTree(d);

  std::vector<double> th;
  WorkerRun heavy;
  for (int i = 0; i < a.heavy; ++i) {
    prepare(outH);
    heavy = runWorker(payload, outH, true, true, true);
    th.push_back(heavy.seconds);
  }
  removeTree(outH);

  // Where the time goes, step by step: the extractor alone and the worker,
  // with the extractor's step timing on (runs of their own, not in the
  // medians above).
  std::vector<StepRun> stepsAlone, stepsWorker;
  if (a.breakdown) {
    for (int i = 0; i < 3; ++i) {
      StepRun alone, worker;
      prepare(outA);
      processExtractor().steps = &alone.steps;
      alone.total = runExtractorAlone(payload, outA);
      processExtractor().steps = nullptr;
      stepsAlone.push_back(alone);
      prepare(outA);
      processExtractor().steps = &worker.steps;
      worker.total = runWorker(payload, outA, false, false, true).seconds;
      processExtractor().steps = nullptr;
      stepsWorker.push_back(worker);
    }
    removeTree(outA);
  }

  // Peak private memory of (a) alone, in a fresh process.
  std::string peakLine = "peak n/a";
  {
    std::string cmd = "\"" + a.self + "\" --peak --payload \"" + a.payload + "\" --out \"" + a.out + "\\peak\"";
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE readRaw = nullptr, writeRaw = nullptr;
    if (CreatePipe(&readRaw, &writeRaw, &sa, 0)) {
      win::KernelHandle readEnd(readRaw), writeEnd(writeRaw);
      SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
      STARTUPINFOA si = {};
      si.cb = sizeof(si);
      si.dwFlags = STARTF_USESTDHANDLES;
      si.hStdOutput = writeEnd.get();
      si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
      PROCESS_INFORMATION pi = {};
      std::vector<char> line(cmd.begin(), cmd.end());
      line.push_back('\0');
      if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        win::KernelHandle thread(pi.hThread), process(pi.hProcess);
        writeEnd.reset();  // the child holds the only write end now: end of file when it exits
        std::string text;
        char buffer[256];
        DWORD n = 0;
        while (ReadFile(readEnd.get(), buffer, sizeof(buffer), &n, nullptr) && n > 0) text.append(buffer, n);
        WaitForSingleObject(process.get(), INFINITE);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        peakLine = text;
      }
    }
  }
  double peakMiB = 0;
  std::sscanf(peakLine.c_str(), "peak %lf", &peakMiB);

  const double ma = median(ta), mb = median(tb), mc = median(tc), mh = median(th), mx = median(tx), mf = median(tf);
  const size_t messages = last.counts[WM_INSTALL_TOTAL] + last.counts[WM_INSTALL_FILE] +
                          last.counts[WM_INSTALL_PROGRESS] + last.counts[WM_INSTALL_FILE_DONE] +
                          last.counts[WM_INSTALL_DONE];
  std::printf("\n");
  std::printf("runs: %d interleaved rounds (worker, limit, nsis, extractor alone), %d heavy runs; each run starts "
              "with its output folder empty and the disk flushed; MB = 2^20 bytes\n",
              a.rounds, a.heavy);
  std::printf("(a) worker, SameComputer + FSX:     median %6.3f s %7.1f MB/s, best %6.3f s  (%llu bytes, %zu files)\n",
              ma, mbps(bytesA, ma), best(ta), static_cast<unsigned long long>(bytesA), jobs.size());
  std::printf("(b) limit, same streams and files:  median %6.3f s %7.1f MB/s, best %6.3f s  (%llu bytes)\n", mb,
              mbps(bytesB, mb), best(tb), static_cast<unsigned long long>(bytesB));
  std::printf("    floor, the faster of (b) and the extractor alone in each round: median %6.3f s %7.1f MB/s\n", mf,
              mbps(bytesB, mf));
  std::printf("(c) NSIS zlib, %s stub: median %6.3f s %7.1f MB/s, best %6.3f s  (whole process, /S)\n",
              TL_NSIS_TARGET, mc, mbps(bytesA, mc), best(tc));
  if (!tEmpty.empty()) {
    std::printf("    NSIS installer without files:   median %6.3f s  (its process start and end alone)\n",
                median(tEmpty));
  }
  std::printf("breakdown of (a): extractor alone, same extractions, no messages: median %.3f s (%.2f x limit)\n", mx,
              mb > 0 ? mx / mb : 0.0);
  if (!tp.empty()) {
    const double mp = median(tp);
    std::printf("                  progress channel, (a) - extractor alone: %.3f s for %zu posted messages "
                "(%.0f us each, post and receive)\n",
                ma - mx, messages, messages ? (ma - mx) * 1e6 / static_cast<double>(messages) : 0.0);
    std::printf("                  the channel alone, %zu posts from an idle thread: median %.3f s (%.0f us each, "
                "%.1f us in the posting call)\n",
                messages, median(tm), messages ? median(tm) * 1e6 / static_cast<double>(messages) : 0.0,
                median(sendChannel) * 1e6);
    std::printf("                  bare PostMessageA alone, as many from an idle thread: median %.3f s (%.0f us each, "
                "%.1f us in the posting call)\n",
                median(tBare), messages ? median(tBare) * 1e6 / static_cast<double>(messages) : 0.0,
                median(sendBare) * 1e6);
    std::printf("                  limit plus the old probe before every file: median %.3f s (%.2f x limit)\n", mp,
                mb > 0 ? mp / mb : 0.0);
  }
  std::printf("heaviest, SameComputer + 2002 + 2004 + X: median %.3f s %7.1f MB/s  (%llu bytes, %zu events)\n", mh,
              mbps(heavy.total, mh), static_cast<unsigned long long>(heavy.total), heavy.events);
  std::printf("messages of (a): TOTAL %zu, FILE %zu, PROGRESS %zu, FILE_DONE %zu, DONE %zu (%zu in all)\n",
              last.counts[WM_INSTALL_TOTAL], last.counts[WM_INSTALL_FILE], last.counts[WM_INSTALL_PROGRESS],
              last.counts[WM_INSTALL_FILE_DONE], last.counts[WM_INSTALL_DONE], messages);
  std::printf("messages of the heaviest run: PROGRESS %zu of %zu in all\n", heavy.counts[WM_INSTALL_PROGRESS],
              heavy.counts[WM_INSTALL_TOTAL] + heavy.counts[WM_INSTALL_FILE] + heavy.counts[WM_INSTALL_PROGRESS] +
                  heavy.counts[WM_INSTALL_FILE_DONE] + heavy.counts[WM_INSTALL_DONE]);
  std::printf("memory of (a) in a process of its own, sampled every millisecond: %s (MB)\n", peakLine.c_str());
  std::printf("best rounds: worker/limit %.2f, worker/nsis %.2f\n", best(tb) > 0 ? best(ta) / best(tb) : 0.0,
              best(tc) > 0 ? best(ta) / best(tc) : 0.0);
  std::printf("where the worker's time goes against the floor (medians, s):\n");
  std::printf("  floor, the files written with no messages           %6.3f  %3.0f%%\n", mf, ma > 0 ? 100 * mf / ma : 0.0);
  std::printf("  the extractor's own work above the floor            %6.3f  %3.0f%%  (extractor alone - floor)\n",
              mx - mf, ma > 0 ? 100 * (mx - mf) / ma : 0.0);
  std::printf("  the progress channel                                %6.3f  %3.0f%%  (worker - extractor alone)\n",
              ma - mx, ma > 0 ? 100 * (ma - mx) / ma : 0.0);
  std::printf("  the worker                                          %6.3f\n", ma);
  std::printf("progress channel share of the worker's time: %.0f%% (median of the rounds' own (worker - extractor "
              "alone) / worker)\n",
              100 * median(share));
  printSteps("steps of the extractor alone (no messages)", stepsAlone);
  printSteps("steps of the worker", stepsWorker);
  if (!stepsWorker.empty() && !sendBare.empty()) {
    std::vector<double> perPost;
    for (const StepRun& r : stepsWorker) {
      const uint64_t calls = r.steps.calls[ExtractionSteps::Status];
      if (calls > 0) perPost.push_back(seconds(r.steps.ticks[ExtractionSteps::Status]) / static_cast<double>(calls));
    }
    const double post = median(perPost), bare = median(sendBare);
    std::printf("a progress post in the worker %.1f us, a bare PostMessageA from an idle thread %.1f us\n", post * 1e6,
                bare * 1e6);
    std::printf("ratio post/bare post: %.2f\n", bare > 0 ? post / bare : 0.0);
    // The worker hands each message to the channel's posting thread; what
    // that thread pays per post shows in the channel alone against bare posts.
    if (!tm.empty() && !tBare.empty()) {
      std::printf("ratio channel alone/bare alone: %.2f (the channel's posting thread against bare posts, "
                  "%zu messages each)\n",
                  median(tBare) > 0 ? median(tm) / median(tBare) : 0.0, messages);
    }
  }
  std::printf("ratio extractor/limit: %.2f (median of the rounds' own: %.2f)\n", mb > 0 ? mx / mb : 0.0,
              median(ratioXB));
  std::printf("ratio extractor/nsis: %.2f (median of the rounds' own: %.2f)\n", mc > 0 ? mx / mc : 0.0,
              median(ratioXC));
  std::printf("the rounds' own ratio worker/nsis (median): %.2f\n", median(ratioAC));
  std::printf("ratio worker/limit: %.2f\n", mb > 0 ? ma / mb : 0.0);
  std::printf("ratio worker/floor: %.2f\n", mf > 0 ? ma / mf : 0.0);
  std::printf("ratio worker/nsis: %.2f\n", mc > 0 ? ma / mc : 0.0);
  std::printf("peak private MB of the worker alone: %.1f\n", peakMiB);
  removeTree(a.out);
  return 0;
}

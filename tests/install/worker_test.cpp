// The installation worker, run on a real thread against a real payload DLL,
// the real file system and the real string table; a message-only window
// collects what it posts and a recording uninstall record collects its events.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/install/message_sink.h"
#include "install/progress_channel.h"
#include "install/worker.h"
#include "payload/file_extractor.h"
#include "payload/file_extractor_impl.h"
#include "platform/file_names.h"
#include "platform/protected_security.h"
#include "tests/support/payload_fixture.h"
#include "tests/support/recording_record.h"
#include "tests/support/test_support.h"
#include "wizard/strings.h"

namespace {

using tltest::Posted;

// ---- the uninstall record, recorded -------------------------------------------

using Event = tltest::RecordedEvent;
using tltest::describe;
using tltest::RecordingRecord;

// ---- the payload ----------------------------------------------------------------

// The sample names of every root, some of them larger than a chunk so that
// their streams cross chunk boundaries and report progress several times.
struct SampleFile {
  const char* name;
  size_t size;
  bool compressible;
};
const SampleFile kSampleTree[] = {
    {"\\tl\\fs\\tlaicontrol10.dll", 5000, false},
    {"\\tl\\fs\\tlmod10.dll", 3000, true},
    {"\\tl\\fs\\tltrans10.dll", 2000, false},
    {"\\tl\\global\\readme.txt", 900, true},
    {"\\tl\\global\\tluninstall.exe", 9000, false},
    {"\\tl\\global\\towerlink.ico", 700, false},
    {"\\tl\\global\\towerlink_eula.txt", 1500, true},
    {"\\tl\\tl\\data\\airports.dat", 30000, true},
    {"\\tl\\tl\\simconnect.msi", 14000, false},
    {"\\tl\\tl\\sound\\atc000.wav", 2500, false},
    {"\\tl\\tl\\sound\\atc001.wav", 2600, false},
    {"\\tl\\tl\\tlimage.dll", 21000, false},
    {"\\tl\\tl\\towerlink_fs.exe", 6000, false},
    {"\\tl\\tl\\towerlink_fsx.exe", 6100, false},
    {"\\fs\\modules\\fsuipc.dll", 4100, false},
    {"\\fs\\modules\\tlmod8.dll", 1200, false},
    {"\\fs\\modules\\tlmod9.dll", 1300, false},
    {"\\fs\\modules\\tlmpjoin9.dll", 1400, false},
    {"\\fs\\modules\\tltrans8.dll", 1500, false},
    {"\\fs\\modules\\tltrans9.dll", 1600, false},
    {"\\fs\\aircraft\\towerlink\\tl_c172\\aircraft.cfg", 800, true},
    {"\\fs\\aircraft\\towerlink\\tl_c172\\model\\tl_c172.mdl", 7000, false},
    {"\\fs\\aircraft\\towerlink\\tl_c172\\texture\\tex0.bmp", 12000, true},
    {"\\fs\\aircraft\\vip\\readme.txt", 600, true},
    {"\\fs\\aircraft\\vip\\vip_01\\aircraft.cfg", 900, true},
    {"\\fs\\aircraft\\vip\\vip_01\\texture\\t00.bmp", 9000, false},
};

constexpr uint32_t kChunkSize = 4096;

using tltest::makeFolders;

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A payload DLL built from the sample tree minus the names under the given
// prefixes (or with one file's content replaced).
class Payload {
 public:
  explicit Payload(const std::vector<std::string>& leaveOut = {}) {
    uint32_t seed = 1;
    for (const SampleFile& f : kSampleTree) {
      ++seed;
      bool skip = false;
      for (const std::string& prefix : leaveOut) skip = skip || startsWith(f.name, prefix);
      if (skip) continue;
      tltest::FixtureFile file;
      file.name = f.name;
      file.bytes = tltest::patternBytes(f.size, seed, f.compressible);
      files_[file.name] = file.bytes;
      list_.push_back(file);
    }
  }
  void replace(const std::string& name, const std::string& bytes) {
    for (auto& f : list_) {
      if (f.name == name) f.bytes = bytes;
    }
    files_[name] = bytes;
  }
  bool build() {
    tltest::PayloadOptions options;
    options.chunkSize = kChunkSize;
    ok_ = dir_.valid() && fixture_.build(dir_.file("payload.dll"), list_, options);
    return ok_;
  }
  HMODULE module() const { return fixture_.module(); }
  std::string error() const { return dir_.valid() ? fixture_.error() : "no temporary folder"; }

  // Names under a catalogue prefix, in catalogue (bytewise) order.
  std::vector<std::string> namesUnder(const std::string& prefix) const {
    std::vector<std::string> names;
    for (const auto& kv : files_) {
      if (startsWith(kv.first, prefix)) names.push_back(kv.first);
    }
    return names;
  }
  bool has(const std::string& name) const { return files_.count(name) != 0; }
  const std::string& bytes(const std::string& name) const { return files_.at(name); }

 private:
  tltest::ScopedTempDir dir_;
  tltest::PayloadFixture fixture_;
  std::vector<tltest::FixtureFile> list_;
  std::map<std::string, std::string> files_;
  bool ok_ = false;
};

// ---- what a run should do, from the installation steps ----------------------

const char kProgramFiles[] = "Deleting TowerLink program files";
const char kModule[] = "Deleting TowerLink module DLL";
const char kTransponder[] = "Deleting transponder DLL";
const char kAutoJoin[] = "Deleting multiplayer auto-join DLL";
const char kDefaultModels[] = "Deleting TowerLink default model set";
const char kVipModels[] = "Deleting VIP model set";
const char kFsxDlls[] = "Deleting FSX DLLs";

// The events, the files (target -> catalogue name, in writing order) and the
// total that a successful run produces.
struct Plan {
  std::vector<Event> events;
  std::vector<std::pair<std::string, std::string>> files;
  uint64_t total = 0;
};

class Planner {
 public:
  Planner(const Payload& payload, Plan* plan) : payload_(payload), plan_(*plan) {}

  void file(const std::string& name, const std::string& target, const char* desc) {
    written(name, target);
    if (desc != nullptr) plan_.events.push_back({"DeleteFile", target, desc});
  }
  // Every file under the prefix, target = folder + rest of the name.
  void folder(const std::string& prefix, const std::string& folder, const char* desc,
              const std::string& exclude = std::string()) {
    for (const std::string& name : payload_.namesUnder(prefix)) {
      if (name == exclude) continue;
      std::string target = folder + name.substr(prefix.size());
      file(name, target, desc);
    }
  }
  void dirs(const std::string& params, const char* desc) { plan_.events.push_back({"DeleteEmptyDirs", params, desc}); }
  void modelSets(const std::string& aircraft) {
    folder("\\fs\\aircraft\\towerlink\\", aircraft + "towerlink\\", kDefaultModels);
    dirs(aircraft + "towerlink", kDefaultModels);
    folder("\\fs\\aircraft\\vip\\", aircraft + "vip\\", kVipModels);
    dirs(aircraft + "vip", kVipModels);
  }

 private:
  void written(const std::string& name, const std::string& target) {
    plan_.files.push_back({target, name});
    plan_.total += payload_.bytes(name).size();
  }
  const Payload& payload_;
  Plan& plan_;
};

struct Folders {
  std::string product, fs2002, fs2004, fsx;  // as handed to the worker
};

Plan planFor(const Payload& payload, const WorkerParams& p, const Folders& f) {
  Plan plan;
  Planner w(payload, &plan);
  const std::string& product = f.product;
  if (p.installProduct) {
    w.folder("\\tl\\tl\\", product, kProgramFiles);
    w.dirs(product, kProgramFiles);
  }
  if (p.installFs2002) {
    std::string modules = f.fs2002 + "\\modules\\";  // the 2002 folder is given without a backslash
    w.file("\\fs\\modules\\tltrans8.dll", modules + "tltrans8.dll", kTransponder);
    w.file("\\fs\\modules\\fsuipc.dll", modules + "fsuipc.dll", nullptr);
    if (p.installProduct) w.file("\\fs\\modules\\tlmod8.dll", modules + "tlmod8.dll", kModule);
    w.modelSets(f.fs2002 + "\\aircraft\\");
  }
  if (p.installFs2004) {
    std::string modules = f.fs2004 + "modules\\";  // the 2004 folder is given with one
    w.file("\\fs\\modules\\tltrans9.dll", modules + "tltrans9.dll", kTransponder);
    w.file("\\fs\\modules\\fsuipc.dll", modules + "fsuipc.dll", nullptr);
    if (p.installProduct) w.file("\\fs\\modules\\tlmod9.dll", modules + "tlmod9.dll", kModule);
    w.file("\\fs\\modules\\tlmpjoin9.dll", modules + "tlmpjoin9.dll", kAutoJoin);
    w.modelSets(f.fs2004 + "aircraft\\");
  }
  if (p.installFsx) {
    if (p.installProduct) w.file("\\tl\\fs\\tlmod10.dll", product + "tlmod10.dll", kModule);
    w.folder("\\tl\\fs\\", product, kFsxDlls, "\\tl\\fs\\tlmod10.dll");
    w.modelSets(f.fsx + "\\SimObjects\\Airplanes\\");
  }
  w.folder("\\tl\\global\\", product, kProgramFiles);
  return plan;
}

// ---- checking a run ---------------------------------------------------------------

std::string describe(const std::vector<Posted>& messages) {
  std::string text;
  for (const Posted& m : messages) text += "  " + tltest::describe(m) + "\n";
  return text;
}

// The channel's order: TOTAL first, per file FILE, PROGRESS..., FILE_DONE, DONE
// last. Returns the FILE texts in order and, for finished files, the sum of
// their last PROGRESS values.
::testing::AssertionResult wellOrdered(const std::vector<Posted>& m, std::vector<std::string>* fileTexts,
                                       uint64_t* finishedBytes) {
  fileTexts->clear();
  *finishedBytes = 0;
  if (m.size() < 2 || m.front().message != WM_INSTALL_TOTAL || m.back().message != WM_INSTALL_DONE) {
    return ::testing::AssertionFailure() << "not TOTAL ... DONE:\n" << describe(m);
  }
  bool open = false;
  uint64_t last = 0, size = 0;
  bool progressed = false;
  for (size_t i = 1; i + 1 < m.size(); ++i) {
    const Posted& p = m[i];
    auto fail = [&](const char* why) {
      return ::testing::AssertionFailure() << why << " at message " << i << ":\n" << describe(m);
    };
    switch (p.message) {
      case WM_INSTALL_FILE:
        if (open) return fail("FILE while the previous file is still open");
        open = true;
        progressed = false;
        last = 0;
        fileTexts->push_back(p.text);
        break;
      case WM_INSTALL_PROGRESS:
        if (!open) return fail("PROGRESS outside a file");
        if (progressed && static_cast<uint64_t>(p.lParam) != size) return fail("file size changed within a file");
        if (static_cast<uint64_t>(p.wParam) < last) return fail("PROGRESS went backwards");
        size = static_cast<uint64_t>(p.lParam);
        last = static_cast<uint64_t>(p.wParam);
        progressed = true;
        break;
      case WM_INSTALL_FILE_DONE:
        if (!open) return fail("FILE_DONE without FILE");
        if (!progressed || last != size) return fail("file finished before all of its bytes were reported");
        *finishedBytes += last;
        open = false;
        break;
      default:
        return fail("TOTAL or DONE in the middle of a run");
    }
  }
  return ::testing::AssertionSuccess();
}

const char* setupTypeName(int32_t t) {
  return t == SameComputer ? "SameComputer" : t == ProductOnly ? "ProductOnly" : "SimulatorOnly";
}

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The worker reads its event texts from the string table linked into this
    // test program.
    g_instance = GetModuleHandleA(nullptr);
    ASSERT_TRUE(sink_.window() != nullptr);
    ASSERT_TRUE(out_.valid());
    folders_.product = out_.file("product\\");
    folders_.fs2002 = out_.file("fs2002");
    folders_.fs2004 = out_.file("fs2004\\");
    folders_.fsx = out_.file("fsx");
  }

  WorkerParams params(int32_t setupType, bool fs2002, bool fs2004, bool fsx, HMODULE payload) {
    InstallOptions options;
    options.setupType = setupType;
    options.productDir = folders_.product;
    options.fs2002Dir = folders_.fs2002;
    options.fs2004Dir = folders_.fs2004;
    options.fsxDir = folders_.fsx;
    options.useFs2002 = fs2002;
    options.useFs2004 = fs2004;
    options.useFsx = fsx;
    WorkerParams p;
    fillWorkerParams(options, payload, sink_.window(), &record_, &p);
    return p;
  }

  int run(WorkerParams* p) {
    sink_.clear();
    record_.events.clear();
    EXPECT_TRUE(sink_.runWorker(p)) << "the run did not end:\n" << describe(sink_.messages());
    const auto& m = sink_.messages();
    return m.empty() || m.back().message != WM_INSTALL_DONE ? -1 : static_cast<int>(m.back().wParam);
  }

  // Every file under the output folder, relative, lower-cased for comparison.
  std::set<std::string> filesOnDisk() const {
    std::set<std::string> names;
    for (std::string name : tltest::listFiles(out_.path())) {
      std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
      names.insert(name);
    }
    return names;
  }
  std::string relative(std::string target) const {
    target = target.substr(out_.path().size() + 1);
    std::transform(target.begin(), target.end(), target.begin(), [](unsigned char c) { return std::tolower(c); });
    return target;
  }

  tltest::MessageSink sink_;
  RecordingRecord record_;
  tltest::ScopedTempDir out_;
  Folders folders_;
};

// ---- the steps, for every setup type and simulator choice -----------------------

TEST_F(WorkerTest, EverySetupTypeAndSimulatorChoiceInstallsItsGroupsInOrder) {
  Payload payload;
  ASSERT_TRUE(payload.build()) << payload.error();

  for (int32_t type : {SameComputer, ProductOnly, SimulatorOnly}) {
    for (int choice = 0; choice < 8; ++choice) {
      const bool fs2002 = (choice & 1) != 0, fs2004 = (choice & 2) != 0, fsx = (choice & 4) != 0;
      std::ostringstream input;
      input << setupTypeName(type) << " fs2002=" << fs2002 << " fs2004=" << fs2004 << " fsx=" << fsx;
      SCOPED_TRACE(input.str());

      WorkerParams p = params(type, fs2002, fs2004, fsx, payload.module());
      const Plan plan = planFor(payload, p, folders_);
      ASSERT_EQ(run(&p), 0) << describe(sink_.messages());

      EXPECT_EQ(record_.events, plan.events) << "recorded:\n"
                                             << describe(record_.events) << "expected:\n"
                                             << describe(plan.events);

      std::vector<std::string> texts;
      uint64_t finished = 0;
      ASSERT_TRUE(wellOrdered(sink_.messages(), &texts, &finished));
      EXPECT_EQ(static_cast<uint64_t>(sink_.messages().front().wParam), plan.total) << "total";
      EXPECT_EQ(finished, plan.total) << "bytes reported by the finished files";
      std::vector<std::string> targets;
      for (const auto& f : plan.files) targets.push_back(f.first);
      EXPECT_EQ(texts, targets) << "the status texts name each target in writing order";

      // Byte for byte what the payload holds, and nothing anywhere else.
      std::set<std::string> expectedOnDisk;
      for (const auto& f : plan.files) {
        std::string bytes;
        EXPECT_TRUE(tltest::readFile(f.first, &bytes)) << f.first;
        EXPECT_TRUE(bytes == payload.bytes(f.second)) << f.first << " differs from " << f.second;
        expectedOnDisk.insert(relative(f.first));
      }
      EXPECT_EQ(filesOnDisk(), expectedOnDisk);

      ASSERT_TRUE(tltest::removeTree(out_.path()));
      ASSERT_TRUE(CreateDirectoryA(out_.path().c_str(), nullptr));
    }
  }
}

// ---- failures --------------------------------------------------------------------

TEST_F(WorkerTest, MissingTransponderPostsItsFileThenEndsWithNotInCatalogue) {
  Payload payload({"\\fs\\modules\\tltrans8.dll"});
  ASSERT_TRUE(payload.build()) << payload.error();
  WorkerParams p = params(SimulatorOnly, true, false, false, payload.module());

  ASSERT_EQ(run(&p), 1);
  const auto& m = sink_.messages();
  ASSERT_EQ(m.size(), 3u) << describe(m);
  EXPECT_EQ(m[0].message, WM_INSTALL_TOTAL);
  EXPECT_EQ(m[1].message, WM_INSTALL_FILE);
  EXPECT_EQ(m[1].text, folders_.fs2002 + "\\modules\\tltrans8.dll");
  EXPECT_EQ(m[2].message, WM_INSTALL_DONE);
  // The failed row's event is still recorded; nothing after it runs.
  const std::vector<Event> expected{{"DeleteFile", folders_.fs2002 + "\\modules\\tltrans8.dll", kTransponder}};
  EXPECT_EQ(record_.events, expected) << describe(record_.events);
  EXPECT_TRUE(filesOnDisk().empty());
}

TEST_F(WorkerTest, BlockedTransponderRecordsItsEventAndStopsEveryLaterGroup) {
  Payload payload;
  ASSERT_TRUE(payload.build()) << payload.error();
  // A folder where the file should go: the output cannot be opened.
  const std::string blocked = folders_.fs2002 + "\\modules\\tltrans8.dll";
  ASSERT_TRUE(makeFolders(blocked));

  WorkerParams p = params(SameComputer, true, true, true, payload.module());
  Plan plan = planFor(payload, p, folders_);
  const int result = run(&p);
  EXPECT_EQ(result, 3) << "output not created:\n" << describe(sink_.messages());

  // Group P complete, then A1's event, then nothing.
  size_t productEvents = payload.namesUnder("\\tl\\tl\\").size() + 1;
  std::vector<Event> expected(plan.events.begin(), plan.events.begin() + productEvents);
  expected.push_back({"DeleteFile", blocked, kTransponder});
  EXPECT_EQ(record_.events, expected) << describe(record_.events);

  std::vector<std::string> texts;
  uint64_t finished = 0;
  EXPECT_TRUE(wellOrdered(sink_.messages(), &texts, &finished));
  ASSERT_FALSE(texts.empty());
  EXPECT_EQ(texts.back(), blocked) << "the failing file is the last one started";
  EXPECT_FALSE(tltest::fileExists(folders_.fs2002 + "\\modules\\fsuipc.dll"));
  EXPECT_FALSE(tltest::fileExists(folders_.product + "readme.txt")) << "shared files come last and must not run";
  EXPECT_FALSE(tltest::directoryExists(folders_.fs2004)) << "later simulator groups must not run";
}

TEST_F(WorkerTest, EmptyDefaultModelSetDoesNotFailTheRun) {
  Payload payload({"\\fs\\aircraft\\towerlink\\"});
  ASSERT_TRUE(payload.build()) << payload.error();
  WorkerParams p = params(SimulatorOnly, false, false, true, payload.module());
  Plan plan = planFor(payload, p, folders_);

  EXPECT_EQ(run(&p), 0) << describe(sink_.messages());
  // Its folder event is recorded all the same, and the VIP set and the shared
  // files follow.
  EXPECT_EQ(record_.events, plan.events) << describe(record_.events);
  EXPECT_TRUE(tltest::fileExists(folders_.product + "readme.txt"));
}

TEST_F(WorkerTest, EmptyVipSetOrSharedFilesEndTheRunWithNothingSelected) {
  struct Case {
    const char* leaveOut;
    int32_t type;
    bool fsx;
    const char* lastEventParams;  // relative to the output folder
  };
  const Case cases[] = {
      {"\\fs\\aircraft\\vip\\", SimulatorOnly, true, "fsx\\SimObjects\\Airplanes\\vip"},
      {"\\tl\\global\\", ProductOnly, false, "product\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("without ") + c.leaveOut + " " + setupTypeName(c.type));
    Payload payload({c.leaveOut});
    ASSERT_TRUE(payload.build()) << payload.error();
    WorkerParams p = params(c.type, false, false, c.fsx, payload.module());

    EXPECT_EQ(run(&p), 10) << describe(sink_.messages());
    ASSERT_FALSE(record_.events.empty());
    EXPECT_EQ(record_.events.back().params, out_.file(c.lastEventParams)) << describe(record_.events);
    if (c.fsx) {
      EXPECT_FALSE(tltest::fileExists(folders_.product + "readme.txt")) << "group G runs only after success";
    }
    ASSERT_TRUE(tltest::removeTree(out_.path()));
    ASSERT_TRUE(CreateDirectoryA(out_.path().c_str(), nullptr));
  }
}

TEST_F(WorkerTest, UnreadableCatalogueEndsWithFourAndRecordsNothing) {
  tltest::ScopedTempDir dir;
  tltest::PayloadFixture fixture;
  tltest::PayloadOptions options;
  options.omitCatalogue = true;
  ASSERT_TRUE(fixture.build(dir.file("nocatalogue.dll"), {{"\\tl\\global\\readme.txt", "text", 0}}, options))
      << fixture.error();
  WorkerParams p = params(SameComputer, true, true, true, fixture.module());

  EXPECT_EQ(run(&p), 4);
  ASSERT_EQ(sink_.messages().size(), 1u) << "only the end message:\n" << describe(sink_.messages());
  EXPECT_TRUE(record_.events.empty()) << describe(record_.events);
  EXPECT_TRUE(filesOnDisk().empty());
}

TEST_F(WorkerTest, RefusedUninstallEventFailsItsRow) {
  Payload payload;
  ASSERT_TRUE(payload.build()) << payload.error();
  WorkerParams p = params(SimulatorOnly, true, false, false, payload.module());
  record_.refuseTag = "DeleteFile";
  record_.refuseParams = folders_.fs2002 + "\\modules\\tltrans8.dll";

  // Without its event the uninstaller would leave the file behind: the run
  // must not report success.
  EXPECT_EQ(run(&p), 9);
  ASSERT_EQ(record_.events.size(), 1u) << describe(record_.events);
  EXPECT_FALSE(tltest::fileExists(folders_.fs2002 + "\\modules\\fsuipc.dll"));
  record_.refuseTag.clear();
}

TEST_F(WorkerTest, EmptyProductFolderWritesNothingAndFails) {
  Payload payload;
  ASSERT_TRUE(payload.build()) << payload.error();
  WorkerParams p = params(ProductOnly, false, false, false, payload.module());
  p.productDir.clear();

  tltest::ScopedTempDir cwd;
  char previous[MAX_PATH] = {};
  ASSERT_NE(GetCurrentDirectoryA(MAX_PATH, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(cwd.path().c_str()));
  const int result = run(&p);
  const std::vector<std::string> strays = tltest::listFiles(cwd.path());
  SetCurrentDirectoryA(previous);

  EXPECT_EQ(result, 2) << "folder not created:\n" << describe(sink_.messages());
  EXPECT_EQ(sink_.messages().size(), 1u) << describe(sink_.messages());
  EXPECT_TRUE(strays.empty()) << strays.front();
  EXPECT_TRUE(record_.events.empty()) << describe(record_.events);
}

// ---- the modules' own rules ------------------------------------------------------

TEST_F(WorkerTest, OnlyFsuipcKeepsANewerInstalledCopy) {
  // The payload's modules carry product version 3.4.0.1; the installed ones
  // are newer (3.5.0.0).
  std::string older, newer;
  ASSERT_TRUE(tltest::readFile(tltest::fixturePath("version_3_4_0_1.dll"), &older));
  ASSERT_TRUE(tltest::readFile(tltest::fixturePath("version_3_5_0_0.dll"), &newer));
  Payload payload;
  payload.replace("\\fs\\modules\\fsuipc.dll", older);
  payload.replace("\\fs\\modules\\tltrans8.dll", older);
  payload.replace("\\fs\\modules\\tltrans9.dll", older);
  ASSERT_TRUE(payload.build()) << payload.error();

  struct Installed {
    std::string modules, transponder;
  };
  const Installed installed[] = {{folders_.fs2002 + "\\modules\\", "tltrans8.dll"},
                                 {folders_.fs2004 + "modules\\", "tltrans9.dll"}};
  for (const Installed& i : installed) {
    ASSERT_TRUE(makeFolders(i.modules));
    ASSERT_TRUE(tltest::writeFile(i.modules + "fsuipc.dll", newer));
    ASSERT_TRUE(tltest::writeFile(i.modules + i.transponder, newer));
  }

  WorkerParams p = params(SimulatorOnly, true, true, false, payload.module());
  ASSERT_EQ(run(&p), 0) << describe(sink_.messages());
  for (const Installed& i : installed) {
    SCOPED_TRACE(i.modules);
    std::string fsuipc, transponder;
    ASSERT_TRUE(tltest::readFile(i.modules + "fsuipc.dll", &fsuipc));
    ASSERT_TRUE(tltest::readFile(i.modules + i.transponder, &transponder));
    EXPECT_TRUE(fsuipc == newer) << "the shared module is written only when newer";
    EXPECT_TRUE(transponder == older) << "the product's own modules are always written";
  }
  // 2002: transponder and fsuipc; 2004: also the auto-join module.
  EXPECT_EQ(tltest::listFiles(installed[0].modules).size(), 2u) << "no temporary file is left beside them";
  EXPECT_EQ(tltest::listFiles(installed[1].modules).size(), 3u) << "no temporary file is left beside them";
}

TEST_F(WorkerTest, SimulatorChosenWithoutAFolderWritesNothingForIt) {
  Payload payload;
  ASSERT_TRUE(payload.build()) << payload.error();
  // Handed to the worker directly, bypassing fillWorkerParams: the worker
  // itself must refuse to build on an empty folder.
  WorkerParams p = params(SameComputer, false, false, false, payload.module());
  p.installFs2002 = true;
  p.installFsx = true;
  const Plan plan = planFor(payload, params(SameComputer, false, false, false, payload.module()), folders_);

  // Relative paths would land in the current folder: make that an empty one.
  tltest::ScopedTempDir cwd;
  char previous[MAX_PATH] = {};
  ASSERT_NE(GetCurrentDirectoryA(MAX_PATH, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(cwd.path().c_str()));
  const int result = run(&p);
  const std::vector<std::string> strays = tltest::listFiles(cwd.path());
  SetCurrentDirectoryA(previous);

  EXPECT_EQ(result, 0) << describe(sink_.messages());
  EXPECT_TRUE(strays.empty()) << strays.front();
  EXPECT_FALSE(tltest::directoryExists(cwd.file("modules")));
  EXPECT_EQ(static_cast<uint64_t>(sink_.messages().front().wParam), plan.total) << "the total leaves it out";
  EXPECT_EQ(record_.events, plan.events) << describe(record_.events);
}

// ---- the end message -------------------------------------------------------------

// A receiving queue that stays full for a while, through the channel's one
// platform call: the end message is refused `refuseEnd` times (-1: always),
// the other messages while refuseOthers holds, as Windows refuses posts
// beyond 10,000 waiting messages.
class FullQueue {
 public:
  FullQueue(int refuseEnd, bool refuseOthers) {
    refuseEnd_ = refuseEnd;
    refuseOthers_ = refuseOthers;
    endTries_ = 0;
    setChannelPost(&post);
  }
  ~FullQueue() { setChannelPost(nullptr); }
  FullQueue(const FullQueue&) = delete;
  FullQueue& operator=(const FullQueue&) = delete;
  int endTries() const { return endTries_; }

 private:
  static BOOL WINAPI post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    bool refuse = refuseOthers_;
    if (message == WM_INSTALL_DONE) {
      ++endTries_;
      refuse = refuseEnd_ != 0;
      if (refuseEnd_ > 0) --refuseEnd_;
    }
    if (!refuse) return PostMessageA(window, message, wParam, lParam);
    SetLastError(ERROR_NOT_ENOUGH_QUOTA);
    return FALSE;
  }
  static std::atomic<int> refuseEnd_;
  static std::atomic<bool> refuseOthers_;
  static std::atomic<int> endTries_;
};
std::atomic<int> FullQueue::refuseEnd_{0};
std::atomic<bool> FullQueue::refuseOthers_{false};
std::atomic<int> FullQueue::endTries_{0};

TEST_F(WorkerTest, EndMessageIsNeverLost) {
  Payload payload;
  ASSERT_TRUE(payload.build()) << payload.error();
  struct Case {
    int refusedEnds;
    bool othersRefused;
  };
  for (const Case& c : {Case{0, false}, Case{5, false}, Case{30, true}}) {
    SCOPED_TRACE("end refused " + std::to_string(c.refusedEnds) + " times, others " +
                 (c.othersRefused ? "refused" : "posted"));
    FullQueue queue(c.refusedEnds, c.othersRefused);
    WorkerParams p = params(SameComputer, true, true, true, payload.module());
    EXPECT_EQ(run(&p), 0) << describe(sink_.messages());
    const auto& m = sink_.messages();
    EXPECT_EQ(std::count_if(m.begin(), m.end(), [](const Posted& x) { return x.message == WM_INSTALL_DONE; }), 1)
        << "exactly one end message arrives";
    EXPECT_EQ(queue.endTries(), c.refusedEnds + 1) << "tried again until it was posted, then no more";
    // Progress messages may be lost; the run itself is not.
    if (c.othersRefused) EXPECT_EQ(m.size(), 1u) << describe(m);
    EXPECT_TRUE(tltest::fileExists(folders_.product + "readme.txt"));
  }

  // The queue stays full and then the page window goes (the program is
  // shutting down): the worker stops trying and returns.
  FullQueue queue(-1, true);
  WorkerParams p = params(SameComputer, false, false, false, payload.module());
  HANDLE thread = nullptr;
  int triesWhileFull = 0;
  {
    tltest::MessageSink page;
    p.progressWindow = page.window();
    thread = CreateThread(nullptr, 0, installWorker, &p, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    const DWORD start = GetTickCount();
    while (queue.endTries() == 0 && GetTickCount() - start < 60000) Sleep(5);
    ASSERT_GT(queue.endTries(), 0) << "the run did not end";
    // It waits between tries rather than spinning: 10 ms apart, about 30 in
    // 300 ms (a spin makes hundreds of thousands).
    const int first = queue.endTries();
    Sleep(300);
    triesWhileFull = queue.endTries() - first;
    EXPECT_EQ(WaitForSingleObject(thread, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "gave up while the page was there";
  }  // the page window is destroyed
  ASSERT_FALSE(IsWindow(p.progressWindow));
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0) << "the worker still waits for a page that is gone";
  CloseHandle(thread);
  EXPECT_GE(triesWhileFull, 5);
  EXPECT_LE(triesWhileFull, 150);
}

// ---- folders made during a run ---------------------------------------------------

class SilentStatus : public Porter::FileExtractorStatus {
 public:
  void fileStarted(const char*, const char*) override {}
  void fileProgress(uint32_t, uint32_t, uint32_t, uint32_t) override {}
  void fileFinished() override {}
};

TEST_F(WorkerTest, AFolderHeldDuringARunCannotBeRemovedAndTheNextFileLandsInIt) {
  // The extractor holds every folder it writes into from its first file to
  // close: nobody can remove or rename it meanwhile, and the next file goes
  // into the same folder. After close it is let go.
  Payload payload;
  ASSERT_TRUE(payload.build()) << payload.error();
  SilentStatus status;
  Porter::FileExtractor* extractor = getFileExtractor();
  ASSERT_TRUE(extractor->init(payload.module(), &status));
  const std::string folder = out_.file("again\\deep");
  EXPECT_EQ(extractor->extractFile("/tl/global/readme.txt", (folder + "\\readme.txt").c_str(), false),
            ExtractResult::Ok);
  EXPECT_FALSE(MoveFileA(folder.c_str(), out_.file("again\\moved").c_str())) << "a held folder was renamed";
  tltest::removeTree(out_.file("again"));
  EXPECT_EQ(extractor->extractFile("/tl/global/towerlink.ico", (folder + "\\towerlink.ico").c_str(), false),
            ExtractResult::Ok);
  std::string bytes;
  ASSERT_TRUE(tltest::readFile(folder + "\\towerlink.ico", &bytes));
  EXPECT_TRUE(bytes == payload.bytes("\\tl\\global\\towerlink.ico"));
  extractor->close();
  EXPECT_TRUE(tltest::removeTree(out_.file("again"))) << "the folder is still held after close";
}

// ---- access lists given at creation -------------------------------------------------

// What the extractor passes when it creates folders and files (Wine keeps no
// access lists): each call's path, with its list as "P " (protected) and one
// "<who>:<rights>:<inheritance>" per entry, or "" for the defaults.
struct Created {
  std::string path, list;
  bool folder;
};
std::vector<Created> g_created;

std::string describeList(PSECURITY_DESCRIPTOR descriptor) {
  if (descriptor == nullptr) return "";
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorControl(descriptor, &control, &revision) ||
      !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == nullptr) {
    return "no list";
  }
  std::string text = (control & SE_DACL_PROTECTED) ? "P" : "-";
  const std::pair<WELL_KNOWN_SID_TYPE, const char*> names[] = {
      {WinLocalSystemSid, "SY"}, {WinBuiltinAdministratorsSid, "BA"}, {WinBuiltinUsersSid, "BU"}};
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) {
      return text + " not an allowing entry";
    }
    std::string who = "?";
    for (const auto& n : names) {
      BYTE sid[SECURITY_MAX_SID_SIZE];
      DWORD size = sizeof(sid);
      if (CreateWellKnownSid(n.first, nullptr, sid, &size) && EqualSid(sid, &ace->SidStart)) who = n.second;
    }
    char entry[64];
    std::snprintf(entry, sizeof(entry), " %s:%06lx:%s%s", who.c_str(), static_cast<unsigned long>(ace->Mask),
                  (ace->Header.AceFlags & OBJECT_INHERIT_ACE) ? "OI" : "",
                  (ace->Header.AceFlags & CONTAINER_INHERIT_ACE) ? "CI" : "");
    text += entry;
  }
  return text;
}

void recordCreation(const std::wstring& path, bool folder, PSECURITY_DESCRIPTOR security) {
  std::string name = win::narrow(path);
  if (name.compare(0, 4, "\\\\?\\") == 0) name.erase(0, 4);
  g_created.push_back({name, describeList(security), folder});
}

// A product folder that the run makes (and the level above it that it makes
// for it, and the folders it makes inside) gets the entries of Program Files,
// protected and inherited; one that already existed is not made, so it keeps
// its list. Either way
// tluninstall.exe and simconnect.msi are written as new files with a
// protected list of their own (an earlier copy replaced by a new file renamed
// over its name); nothing else, and nothing in a simulator folder, gets a list.
TEST_F(WorkerTest, ProductFolderAndElevatedProgramsGetProtectedListsAtCreation) {
  Payload payload;
  ASSERT_TRUE(payload.build()) << payload.error();
  const std::string folderList = "P SY:1f01ff:OICI BA:1f01ff:OICI BU:1200a9:OICI";
  const std::string fileList = "P SY:1f01ff: BA:1f01ff: BU:1200a9:";
  {
    // The list as the installer passes it, for the report.
    ProtectedSecurity folder(kProductFolderSddl);
    ASSERT_NE(folder.get(), nullptr);
    EXPECT_EQ(describeList(folder.get()->lpSecurityDescriptor), folderList);
    LPSTR sddl = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorA(folder.get()->lpSecurityDescriptor, SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
      std::printf("a new product folder gets %s\n", sddl);
      LocalFree(sddl);
    }
  }
  const struct {
    const char* what;
    const char* product;  // under the output folder
    bool existed;         // with an earlier tluninstall.exe in it
  } cases[] = {
      {"made by the run", "new\\TowerLink\\", false},
      {"already there", "chosen\\", true},
  };
  win::creationWatch = recordCreation;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    folders_.product = out_.file(c.product);
    if (c.existed) {
      ASSERT_TRUE(makeFolders(folders_.product.substr(0, folders_.product.size() - 1)));
      ASSERT_TRUE(tltest::writeFile(folders_.product + "tluninstall.exe", "an earlier copy"));
    }
    g_created.clear();
    WorkerParams p = params(SameComputer, false, true, false, payload.module());
    ASSERT_EQ(run(&p), 0) << describe(sink_.messages());

    std::set<std::string> madeForProduct;
    for (const Created& made : g_created) {
      const bool folder = made.folder;
      const bool inProduct = startsWith(made.path + (folder ? "\\" : ""), folders_.product);
      std::string name = made.path.substr(made.path.rfind('\\') + 1);
      // Only the earlier tluninstall.exe is replaced, through a new file made
      // beside it and renamed over its name.
      if (!folder && startsWith(name, "tmp") && name.size() == 15) name = "tluninstall.exe (replacing)";
      const bool elevated = !folder && inProduct && (startsWith(name, "tluninstall.exe") || name == "simconnect.msi");
      std::string expected;
      if (folder && (inProduct || startsWith(folders_.product, made.path + "\\"))) expected = folderList;
      if (elevated) expected = fileList;
      EXPECT_EQ(made.list, expected) << made.path;
      if (folder && !expected.empty()) madeForProduct.insert(relative(made.path));
      if (elevated) madeForProduct.insert(name);
    }
    const std::set<std::string> expectedMade =
        c.existed ? std::set<std::string>{"chosen\\data", "chosen\\sound", "simconnect.msi",
                                          "tluninstall.exe (replacing)"}
                  : std::set<std::string>{"new", "new\\towerlink", "new\\towerlink\\data", "new\\towerlink\\sound",
                                          "simconnect.msi", "tluninstall.exe"};
    EXPECT_EQ(madeForProduct, expectedMade);
    std::string bytes;
    ASSERT_TRUE(tltest::readFile(folders_.product + "tluninstall.exe", &bytes));
    EXPECT_TRUE(bytes == payload.bytes("\\tl\\global\\tluninstall.exe")) << "the earlier copy stayed";
  }
  win::creationWatch = nullptr;
}

// ---- the choices, turned into a run -----------------------------------------------

TEST(FillWorkerParams, DerivesTheRunFromTheChoices) {
  struct Case {
    int32_t type;
    bool use2002, use2004, useX;
    const char *dir2002, *dir2004, *dirX;
    bool product, i2002, i2004, iX;
  };
  const Case cases[] = {
      {SameComputer, true, true, true, "C:\\FS8", "C:\\FS9\\", "C:\\FSX", true, true, true, true},
      {SameComputer, false, false, false, "C:\\FS8", "C:\\FS9", "C:\\FSX", true, false, false, false},
      {ProductOnly, true, true, true, "C:\\FS8", "C:\\FS9", "C:\\FSX", true, false, false, false},
      {SimulatorOnly, false, true, false, "C:\\FS8", "C:\\FS9", "C:\\FSX", false, false, true, false},
      {SimulatorOnly, true, false, true, "C:\\FS8", "", "C:\\FSX", false, true, false, true},
      // Ticked although not found: left out rather than built on "".
      {SameComputer, true, true, true, "", "C:\\FS9", "", true, false, true, false},
      {SimulatorOnly, false, false, true, "C:\\FS8", "C:\\FS9", "", false, false, false, false},
  };
  const char* const productDirs[] = {"C:\\Program Files\\TowerLink\\", "D:\\TL"};
  for (const Case& c : cases) {
    InstallOptions o;
    o.setupType = c.type;
    o.productDir = productDirs[&c - cases < 2 ? 0 : 1];
    o.fs2002Dir = c.dir2002;
    o.fs2004Dir = c.dir2004;
    o.fsxDir = c.dirX;
    o.useFs2002 = c.use2002;
    o.useFs2004 = c.use2004;
    o.useFsx = c.useX;
    WorkerParams p;
    p.fs2002Dir = "stale";  // every field is assigned
    p.installFs2002 = true;
    RecordingRecord record;
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    const HWND window = HWND_MESSAGE;
    fillWorkerParams(o, instance, window, &record, &p);

    std::ostringstream input;
    input << setupTypeName(c.type) << " use=" << c.use2002 << c.use2004 << c.useX << " dirs=\"" << c.dir2002
          << "\",\"" << c.dir2004 << "\",\"" << c.dirX << "\" product=\"" << o.productDir << "\"";
    SCOPED_TRACE(input.str());
    EXPECT_EQ(p.instance, instance);
    EXPECT_EQ(p.progressWindow, window);
    EXPECT_EQ(p.uninstallRecord, &record);
    EXPECT_EQ(p.installProduct, c.product);
    EXPECT_EQ(p.installFs2002, c.i2002);
    EXPECT_EQ(p.installFs2004, c.i2004);
    EXPECT_EQ(p.installFsx, c.iX);
    EXPECT_EQ(p.fs2002Dir, c.i2002 ? c.dir2002 : "");
    EXPECT_EQ(p.fs2004Dir, c.i2004 ? c.dir2004 : "");
    EXPECT_EQ(p.fsxDir, c.iX ? c.dirX : "");
    EXPECT_EQ(p.productDir, o.productDir.back() == '\\' ? o.productDir : o.productDir + "\\")
        << "the product folder always ends with a backslash";
    // The progress page's start steps read the same decision: no shortcuts
    // without the product, no add-on registration for an X left out.
    const RunScope scope = runScope(o);
    EXPECT_EQ(scope.product, c.product);
    EXPECT_EQ(scope.fs2002, c.i2002);
    EXPECT_EQ(scope.fs2004, c.i2004);
    EXPECT_EQ(scope.fsx, c.iX);
  }
}

}  // namespace

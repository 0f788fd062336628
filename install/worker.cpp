// The installation worker: one run of extractions on its own thread, in the
// fixed group order product files, Flight Simulator 2002, 2004, X, shared files.
#include "install/worker.h"

#include <cstdint>
#include <vector>

#include "install/progress_channel.h"
#include "payload/file_extractor.h"
#include "platform/protected_security.h"
#include "resources/resource_ids.h"
#include "system/uninstall_contract.h"
#include "platform/ansi_code_page.h"
#include "wizard/strings.h"

namespace {

using record::kTagDeleteEmptyDirs;
using record::kTagDeleteFile;

// Run elevated later: by the uninstall entry, and by the SimConnect page.
constexpr const char* kUninstallerFileName = "tluninstall.exe";
constexpr const char* kSimConnectFileName = "simconnect.msi";

// The event descriptions, read once per run from the string table.
struct Descriptions {
  std::string programFiles = loadResourceString(IDS_DESC_PROGRAM_FILES);  // 111
  std::string module = loadResourceString(IDS_DESC_MODULE);               // 124
  std::string transponder = loadResourceString(IDS_DESC_TRANSPONDER);     // 132
  std::string autoJoin = loadResourceString(IDS_DESC_AUTOJOIN);           // 133
  std::string defaultModels = loadResourceString(IDS_DESC_DEFAULT_MODELS);  // 136
  std::string vipModels = loadResourceString(IDS_DESC_VIP_MODELS);        // 137
  std::string fsxDlls = loadResourceString(IDS_DESC_FSX_DLLS);            // 178
};

std::string withBackslash(const std::string& folder) {
  if (lastCharIsBackslash(folder, ansiLeadBytes())) return folder;
  return folder + '\\';
}

// Sizes of one name or selector; an unknown one adds nothing, because the
// outputs start at 0 and the extractor leaves them untouched on failure.
uint32_t fileSize(Porter::FileExtractor* extractor, const char* name) {
  uint32_t compressed = 0;
  uint32_t uncompressed = 0;
  extractor->getFileSizes(name, &compressed, &uncompressed);
  return uncompressed;
}

uint32_t folderSize(Porter::FileExtractor* extractor, const char* selector) {
  uint32_t compressed = 0;
  uint32_t uncompressed = 0;
  extractor->getFolderSizes(selector, &compressed, &uncompressed);
  return uncompressed;
}

// A simulator version takes part in the run only with a folder to build on:
// nothing may ever be written relative to an empty folder.
bool usesSimulator(bool install, const std::string& folder) { return install && !folder.empty(); }

class Run {
 public:
  Run(const WorkerParams& params, Porter::FileExtractor* extractor)
      : params_(params), extractor_(extractor), record_(params.uninstallRecord) {}

  // Every byte the run will write, in the order the groups write them. The
  // sum wraps like the catalogue's 32-bit sizes.
  uint32_t total() const {
    const WorkerParams& p = params_;
    uint32_t sum = 0;
    if (p.installProduct) sum += folderSize(extractor_, "/tl/tl");
    if (usesSimulator(p.installFs2002, p.fs2002Dir)) {
      sum += fileSize(extractor_, "/fs/modules/tltrans8.dll");
      sum += fileSize(extractor_, "/fs/modules/fsuipc.dll");
      if (p.installProduct) sum += fileSize(extractor_, "/fs/modules/tlmod8.dll");
      sum += folderSize(extractor_, "/fs/aircraft/");
    }
    if (usesSimulator(p.installFs2004, p.fs2004Dir)) {
      sum += fileSize(extractor_, "/fs/modules/tltrans9.dll");
      sum += fileSize(extractor_, "/fs/modules/fsuipc.dll");
      if (p.installProduct) sum += fileSize(extractor_, "/fs/modules/tlmod9.dll");
      sum += fileSize(extractor_, "/fs/modules/tlmpjoin9.dll");
      sum += folderSize(extractor_, "/fs/aircraft/");
    }
    if (usesSimulator(p.installFsx, p.fsxDir)) {
      sum += folderSize(extractor_, "/tl/fs");
      if (!p.installProduct) sum -= fileSize(extractor_, "/tl/fs/tlmod10.dll");
      sum += folderSize(extractor_, "/fs/aircraft/");
    }
    sum += folderSize(extractor_, "/tl/global");
    return sum;
  }

  // The groups in their fixed order; a group begins only while the result is 0.
  int install() {
    const WorkerParams& p = params_;
    int result = 0;
    if (p.installProduct) result = groupProduct();
    if (result == 0 && usesSimulator(p.installFs2002, p.fs2002Dir)) result = groupFs2002();
    if (result == 0 && usesSimulator(p.installFs2004, p.fs2004Dir)) result = groupFs2004();
    if (result == 0 && usesSimulator(p.installFsx, p.fsxDir)) result = groupFsx();
    if (result == 0) result = groupShared();
    return result;
  }

 private:
  int file(const char* name, const std::string& target, bool replaceIfNewer) {
    return toInt(extractor_->extractFile(name, target.c_str(), replaceIfNewer));
  }

  int folder(const char* selector, const std::string& target, const std::string& desc,
             const std::vector<std::string>* exclusions = nullptr) {
    return toInt(extractor_->extractFolder(selector, target.c_str(), record_, desc.c_str(), exclusions));
  }

  // Adds an event after a row. The record is the uninstaller's only guide, so
  // an event it refuses fails the row as a write would (the row's own failure,
  // if any, stays the one reported).
  int event(int rowResult, const char* tag, const std::string& params, const std::string& desc) {
    bool added = record_->addEvent(tag, params.c_str(), desc.c_str());
    if (rowResult == 0 && !added) return toInt(ExtractResult::WriteFailed);
    return rowResult;
  }

  // The product files into the product folder.
  int groupProduct() {
    int r = folder("/tl/tl", params_.productDir, desc_.programFiles);
    return event(r, kTagDeleteEmptyDirs, params_.productDir, desc_.programFiles);
  }

  // Flight Simulator 2002: its transponder module, FSUIPC (replaced only by
  // a newer one), the product module with the product files, the model sets.
  int groupFs2002() {
    const std::string base = withBackslash(params_.fs2002Dir);
    const std::string modules = base + "modules\\";
    int r = moduleFile("/fs/modules/tltrans8.dll", modules + "tltrans8.dll", desc_.transponder);
    if (r != 0) return r;
    r = file("/fs/modules/fsuipc.dll", modules + "fsuipc.dll", true);
    if (r != 0) return r;
    if (params_.installProduct) {
      r = moduleFile("/fs/modules/tlmod8.dll", modules + "tlmod8.dll", desc_.module);
      if (r != 0) return r;
    }
    return modelSets(base + "aircraft\\");
  }

  // Flight Simulator 2004: as 2002, and the multiplayer auto-join module.
  int groupFs2004() {
    const std::string base = withBackslash(params_.fs2004Dir);
    const std::string modules = base + "modules\\";
    int r = moduleFile("/fs/modules/tltrans9.dll", modules + "tltrans9.dll", desc_.transponder);
    if (r != 0) return r;
    r = file("/fs/modules/fsuipc.dll", modules + "fsuipc.dll", true);
    if (r != 0) return r;
    if (params_.installProduct) {
      r = moduleFile("/fs/modules/tlmod9.dll", modules + "tlmod9.dll", desc_.module);
      if (r != 0) return r;
    }
    r = moduleFile("/fs/modules/tlmpjoin9.dll", modules + "tlmpjoin9.dll", desc_.autoJoin);
    if (r != 0) return r;
    return modelSets(base + "aircraft\\");
  }

  // Flight Simulator X: its modules go to the product folder, "tlmod10.dll"
  // only with the product files and never with the rest of the folder; then
  // the model sets under SimObjects.
  int groupFsx() {
    const std::string& productDir = params_.productDir;
    if (params_.installProduct) {
      int r = moduleFile("/tl/fs/tlmod10.dll", productDir + "tlmod10.dll", desc_.module);
      if (r != 0) return r;
    }
    const std::vector<std::string> exclusions{"/tl/fs/tlmod10.dll"};
    int r = folder("/tl/fs", productDir, desc_.fsxDlls, &exclusions);
    if (r != 0) return r;
    return modelSets(withBackslash(params_.fsxDir) + "SimObjects\\Airplanes\\");
  }

  // The shared files (readme, licence, icon, uninstaller) into the product folder.
  int groupShared() { return folder("/tl/global", params_.productDir, desc_.programFiles); }

  // One module written directly, its event recorded whatever came of it.
  int moduleFile(const char* name, const std::string& target, const std::string& desc) {
    int r = file(name, target, false);
    return event(r, kTagDeleteFile, target, desc);
  }

  // The two model sets under an aircraft folder. The default set's result is
  // not checked; the VIP set's becomes the group's result.
  int modelSets(const std::string& aircraftFolder) {
    const std::string defaults = aircraftFolder + "towerlink";
    folder("/fs/aircraft/towerlink", defaults, desc_.defaultModels);
    event(0, kTagDeleteEmptyDirs, defaults, desc_.defaultModels);

    const std::string vip = aircraftFolder + "vip";
    int r = folder("/fs/aircraft/vip", vip, desc_.vipModels);
    return event(r, kTagDeleteEmptyDirs, vip, desc_.vipModels);
  }

  const WorkerParams& params_;
  Porter::FileExtractor* extractor_;
  Porter::UninstallerSetup* record_;
  Descriptions desc_;
};

}  // namespace

void fillWorkerParams(const InstallOptions& options, HINSTANCE instance, HWND progressWindow,
                      Porter::UninstallerSetup* record, WorkerParams* params) {
  // The same decision as the progress page's start steps: a version ticked on
  // the simulator version page although it was not found is left out rather
  // than built on "".
  const RunScope scope = runScope(options);

  WorkerParams& p = *params;
  p.instance = instance;
  p.progressWindow = progressWindow;
  p.uninstallRecord = record;
  p.installFs2002 = scope.fs2002;
  p.installFs2004 = scope.fs2004;
  p.installFsx = scope.fsx;
  p.fs2002Dir = p.installFs2002 ? options.fs2002Dir : std::string();
  p.fs2004Dir = p.installFs2004 ? options.fs2004Dir : std::string();
  p.fsxDir = p.installFsx ? options.fsxDir : std::string();
  p.installProduct = scope.product;
  // The product folder page always ends it with a backslash; a record filled
  // elsewhere must not put "tlmod10.dll" beside the folder instead of in it.
  p.productDir = options.productDir.empty() ? std::string() : withBackslash(options.productDir);
}

DWORD WINAPI installWorker(LPVOID argument) {
  const WorkerParams& params = *static_cast<const WorkerParams*>(argument);
  // Taken now: the page deletes the record as soon as it has the end message.
  const HWND window = params.progressWindow;

  ProgressCB progress(window);
  Porter::FileExtractor* extractor = getFileExtractor();
  int result;
  // No extractor at all (it could not be allocated) is an extractor that
  // cannot be initialised.
  if (extractor == nullptr || !extractor->init(params.instance, &progress)) {
    result = kWorkerCatalogueUnreadable;
  } else if (params.productDir.empty()) {
    // Every setup type writes into the product folder; without one the files
    // would land relative to the current folder. Nothing is written, and as
    // with an unreadable catalogue no total goes out.
    result = toInt(ExtractResult::FolderNotCreated);
  } else {
    // The product folder, if this run makes it, gets what Program Files
    // gives; the programs an administrator runs later get a list of their
    // own, also in a folder that already existed (platform/protected_security.h).
    ProtectedSecurity folderSecurity(kProductFolderSddl);
    ProtectedSecurity fileSecurity(kElevatedFileSddl);
    CreationSecurity security;
    security.folder = params.productDir;
    security.folderSecurity = folderSecurity.get();
    security.files = {params.productDir + kUninstallerFileName, params.productDir + kSimConnectFileName};
    security.fileSecurity = fileSecurity.get();
    setCreationSecurity(security);
    Run run(params, extractor);
    progress.setTotal(run.total());
    result = run.install();
    setCreationSecurity(CreationSecurity());
  }

  // The last use of params and of the uninstall record is behind us. The end
  // message is never dropped: it is tried again until the page has it or the
  // page is gone. What the progress messages still wait goes out before it.
  progress.flush();
  postInstallDone(window, result);
  if (extractor != nullptr) extractor->close();
  return 0;
}

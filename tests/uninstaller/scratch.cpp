#include "tests/uninstaller/scratch.h"

#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>

#include "platform/file_names.h"
#include "tests/support/child_process.h"

namespace uninst_test {

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPending[] = "PendingFileRenameOperations";

bool setRaw(HKEY key, const std::string& name, DWORD type, const void* data, DWORD size) {
  return RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool readPending(bool* existed, DWORD* type, std::vector<BYTE>* data) {
  *existed = false;
  data->clear();
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  LSTATUS s = RegQueryValueExA(key, kPending, nullptr, type, nullptr, &size);
  if (s == ERROR_SUCCESS) {
    data->resize(size);
    s = RegQueryValueExA(key, kPending, nullptr, type, data->data(), &size);
    data->resize(size);
    *existed = (s == ERROR_SUCCESS);
  }
  RegCloseKey(key);
  return true;
}

// The removals (pairs whose target is empty) in a PendingFileRenameOperations
// value: pairs of zero-ended texts, source then target.
std::vector<std::string> pendingRemovals(const std::vector<BYTE>& data) {
  std::vector<std::string> texts;
  std::string current;
  for (BYTE b : data) {
    if (b == 0) {
      texts.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(b));
    }
  }
  std::vector<std::string> removals;
  for (size_t i = 0; i + 1 < texts.size(); i += 2) {
    if (texts[i + 1].empty() && !texts[i].empty()) removals.push_back(texts[i]);
  }
  return removals;
}

}  // namespace

bool keyExists(HKEY root, const std::string& subkey) {
  HKEY key;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

namespace {

// The Unix path of a Windows one (Wine only).
std::string unixPath(const std::string& path) {
  using ToUnixFn = char*(CDECL*)(LPCWSTR);
  auto toUnix = reinterpret_cast<ToUnixFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return std::string();
  char* text = toUnix(win::widen(path).c_str());
  if (!text) return std::string();
  std::string out = text;
  HeapFree(GetProcessHeap(), 0, text);
  return out;
}

// Runs a host program (Wine starts Unix executables as well) and waits.
bool runHost(const std::string& commandLine) {
  tltest::ChildProcess child;
  if (!child.start(commandLine)) return false;
  DWORD exitCode = 0;
  child.wait(10000, &exitCode);
  return true;
}

std::string shellQuoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

bool makeUnixLink(const std::string& link, const std::string& target) {
  std::string from = unixPath(link), to = unixPath(target);
  if (from.empty() || to.empty()) return false;
  runHost("/bin/ln -s " + shellQuoted(to) + " " + shellQuoted(from));
  // Wine may signal a Unix process's end before the process has done its work.
  for (int attempt = 0; attempt < 100; ++attempt) {
    DWORD a = GetFileAttributesW(longPath(link).c_str());
    if (a != INVALID_FILE_ATTRIBUTES) return true;  // a link to a file shows as the file
    Sleep(20);
  }
  return false;
}

void removeUnixLink(const std::string& link) {
  std::string from = unixPath(link);
  if (from.empty()) return;
  runHost("/bin/rm -f " + shellQuoted(from));
  // As above: wait until the link has gone, so that what follows sees the folder without it.
  for (int attempt = 0; attempt < 100; ++attempt) {
    DWORD a = GetFileAttributesW(longPath(link).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    Sleep(20);
  }
}

bool moveUnix(const std::string& from, const std::string& to) {
  std::string source = unixPath(from), target = unixPath(to);
  if (source.empty() || target.empty()) return false;
  runHost("/bin/mv " + shellQuoted(source) + " " + shellQuoted(target));
  // As above: wait until Wine sees the new name.
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (GetFileAttributesW(longPath(to).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(20);
  }
  return false;
}

bool makeShortcut(const std::string& linkPath, const std::string& target, const std::string& arguments) {
  HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  bool ok = false;
  IShellLinkA* link = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                 reinterpret_cast<void**>(&link)))) {
    link->SetPath(target.c_str());
    if (!arguments.empty()) link->SetArguments(arguments.c_str());
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
      ok = SUCCEEDED(file->Save(win::widen(linkPath).c_str(), TRUE));
      file->Release();
    }
    link->Release();
  }
  if (SUCCEEDED(init)) CoUninitialize();
  return ok;
}

Scratch::Scratch() {
  static std::atomic<int> counter{0};
  std::string id = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
  root_ = tempFolder() + "tlu-test-" + id + "\\";
  record_ = "TLUninstTest-" + id;
  key_ = "Software\\Brightfold Labs\\TLUninstTest-" + id;
  vendorExisted_ = keyExists(HKEY_LOCAL_MACHINE, "Software\\Brightfold Labs");
  makeFolders(root_);
  readPending(&pendingExisted_, &pendingType_, &pendingData_);
}

Scratch::~Scratch() {
  if (running_) {
    DWORD code;
    finish(&code, 0);
  }
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, key_.c_str());
  // Only when empty: other tests may use the vendor key meanwhile.
  if (!vendorExisted_) RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Brightfold Labs");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, recordKey().c_str());
  for (const std::string& l : links_) removeUnixLink(l);
  removeTree(root_);
  for (const std::string& f : allFolders_) {
    // A launcher's renamed image is a plain file once it has exited; it is
    // released a moment later, hence the retries.
    for (int i = 0; i < 40 && directoryExists(f); ++i) {
      removeTree(f);
      if (directoryExists(f)) Sleep(50);
    }
  }
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    if (pendingExisted_) {
      RegSetValueExA(key, kPending, 0, pendingType_, pendingData_.data(), static_cast<DWORD>(pendingData_.size()));
    } else {
      RegDeleteValueA(key, kPending);
    }
    RegCloseKey(key);
  }
}

std::string Scratch::recordKey() const {
  return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + record_;
}

bool Scratch::writeRecord(const std::vector<EventSpec>& events, const std::string& productDir) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, recordKey().c_str(), 0, const_cast<char*>(""), 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  auto sz = [key](const std::string& name, const std::string& text) {
    return setRaw(key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
  };
  bool ok = sz("DisplayName", record_) && sz("DisplayIcon", productDir + "towerlink.ico") &&
            sz("UninstallString", productDir + "tluninstall.exe " + record_) && sz("PorterDescription", "");
  DWORD count = static_cast<DWORD>(events.size());
  ok = ok && setRaw(key, "PorterEvents", REG_DWORD, &count, sizeof(count));
  for (size_t i = 0; ok && i < events.size(); ++i) {
    std::string n = std::to_string(i);
    ok = sz("PorterTag" + n, events[i].tag) && sz("PorterParams" + n, events[i].params) &&
         sz("PorterDesc" + n, events[i].desc);
  }
  RegCloseKey(key);
  return ok;
}

bool Scratch::setString(const std::string& name, const std::string& text) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, recordKey().c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
  bool ok = setRaw(key, name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
  return ok;
}

bool Scratch::setDword(const std::string& name, DWORD value) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, recordKey().c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
  bool ok = setRaw(key, name, REG_DWORD, &value, sizeof(value));
  RegCloseKey(key);
  return ok;
}

bool Scratch::deleteValue(const std::string& name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, recordKey().c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
  bool ok = RegDeleteValueA(key, name.c_str()) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

bool Scratch::run(const std::string& exe, const std::string& arguments, DWORD* exitCode, DWORD timeoutMs) {
  *exitCode = 0xFFFFFFFF;
  return start(exe, arguments) && finish(exitCode, timeoutMs);
}

bool Scratch::start(const std::string& exe, const std::string& arguments) {
  // A job holds the launcher and the copy it starts, so a hang ends both.
  job_.reset(CreateJobObjectA(nullptr, nullptr));
  if (job_.valid()) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));
  }
  // Taken before the start: the program may make its folder at once.
  before_ = privateFolders();
  lastFolders_.clear();
  tltest::StartOptions options;
  options.program = exe;
  options.workingFolder = root_;
  options.job = job_.get();
  if (!child_.start(exe + (arguments.empty() ? "" : " " + arguments), options)) {
    job_.reset();
    return false;
  }
  running_ = true;
  return true;
}

bool Scratch::finish(DWORD* exitCode, DWORD timeoutMs) {
  *exitCode = 0xFFFFFFFF;
  if (!running_) return false;
  running_ = false;
  bool finished = child_.wait(timeoutMs, exitCode);
  if (!finished) {
    if (job_.valid()) TerminateJobObject(job_.get(), 99);
    child_.terminate();
  }
  job_.reset();
  for (const std::string& f : privateFolders()) {
    if (std::find(before_.begin(), before_.end(), f) != before_.end()) continue;
    lastFolders_.push_back(f);
    allFolders_.push_back(f);
  }
  return finished;
}

HWND waitForWindow(const char* cls, const std::string& caption, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < timeoutMs) {
    HWND w = FindWindowA(cls, caption.c_str());
    if (w && IsWindowVisible(w)) return w;
    Sleep(50);
  }
  return nullptr;
}

std::string windowText(HWND window) {
  char buffer[4096] = {0};
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                           5000, &copied)) {
    return std::string();
  }
  return std::string(buffer, copied);
}

std::string Scratch::lastLog() const {
  // Another test's run may have made a folder meanwhile: ours names our record.
  std::string any;
  for (const std::string& f : lastFolders_) {
    std::string text = readFile(f + "\\tluninstall.log");
    if (text.find(record_) != std::string::npos) return text;
    if (any.empty()) any = text;
  }
  return any;
}

bool Scratch::link(const std::string& link, const std::string& target) {
  links_.push_back(link);
  return makeUnixLink(link, target);
}

std::string Scratch::installUninstaller(const std::string& folder) {
  char chosen[MAX_PATH] = {0};
  DWORD n = GetEnvironmentVariableA("TL_UNINSTALLER_UNDER_TEST", chosen, MAX_PATH);
  std::string built = (n > 0 && n < MAX_PATH) ? std::string(chosen, n) : std::string(TL_UNINSTALLER_EXE);
  std::string target = folder + "tluninstall.exe";
  makeFolders(folder);
  if (!CopyFileW(longPath(built).c_str(), longPath(target).c_str(), FALSE)) return std::string();
  return target;
}

std::vector<std::string> Scratch::newPendingRemovals() const {
  bool existed = false;
  DWORD type = 0;
  std::vector<BYTE> data;
  std::vector<std::string> added;
  if (!readPending(&existed, &type, &data) || !existed) return added;
  std::vector<std::string> before = pendingRemovals(pendingExisted_ ? pendingData_ : std::vector<BYTE>());
  for (const std::string& source : pendingRemovals(data)) {
    if (std::find(before.begin(), before.end(), source) == before.end()) added.push_back(source);
  }
  return added;
}

}  // namespace uninst_test

#include "tests/support/test_support.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/file_names.h"
#include "platform/handles.h"

namespace tltest {

namespace {

LONG g_scratchCounter = 0;

bool isDotEntry(const char* name) { return std::string(name) == "." || std::string(name) == ".."; }

void collectFiles(const std::string& root, const std::string& relative, std::vector<std::string>* out) {
  const std::string folder = relative.empty() ? root : root + "\\" + relative;
  WIN32_FIND_DATAA data;
  win::FindHandle find(FindFirstFileA((folder + "\\*").c_str(), &data));
  if (!find.valid()) return;
  do {
    if (isDotEntry(data.cFileName)) continue;
    const std::string child = relative.empty() ? data.cFileName : relative + "\\" + data.cFileName;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      collectFiles(root, child, out);
    } else {
      out->push_back(child);
    }
  } while (FindNextFileA(find.get(), &data));
}

}  // namespace

ScopedTempDir::ScopedTempDir() {
  char base[MAX_PATH];
  DWORD length = GetTempPathA(MAX_PATH, base);
  if (length == 0 || length >= MAX_PATH) return;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const LONG n = InterlockedIncrement(&g_scratchCounter);
    std::string candidate = std::string(base) + "tltest-" + std::to_string(GetCurrentProcessId()) + "-" +
                            std::to_string(n) + "-" + std::to_string(GetTickCount() % 100000);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
  }
}

ScopedTempDir::~ScopedTempDir() {
  if (!path_.empty()) removeTree(path_);
}

std::string ScopedTempDir::file(const std::string& relative) const { return path_ + "\\" + relative; }

namespace {

std::string narrow(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n : 1, '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
  out.resize(strlen(out.c_str()));
  return out;
}

// The path as given by the caller again: the long form without its prefix.
std::string shortForm(const std::wstring& longForm) {
  if (longForm.compare(0, 8, L"\\\\?\\UNC\\") == 0) return narrow(L"\\\\" + longForm.substr(8));
  if (longForm.compare(0, 4, L"\\\\?\\") == 0) return narrow(longForm.substr(4));
  return narrow(longForm);
}

bool removeLongTree(const std::wstring& path, LinkRemover removeLink) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // A link goes as a link: what it points at is never entered.
    if (removeLink != nullptr) {
      removeLink(shortForm(path));
    } else if (!((attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str()))) {
      SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
      (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str());
    }
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileW(path.c_str());
    return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
  }
  WIN32_FIND_DATAW found;
  {
    win::FindHandle find(FindFirstFileW((path + L"\\*").c_str(), &found));
    if (find.valid()) {
      do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        removeLongTree(path + L"\\" + name, removeLink);
      } while (FindNextFileW(find.get(), &found));
    }
  }
  RemoveDirectoryW(path.c_str());
  return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace

std::wstring longPath(const std::string& path) {
  std::wstring wide = win::widen(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  if (wide.compare(0, 4, L"\\\\?\\") != 0) {
    // "\\?\" turns off every rewriting of the name: "." and ".." are resolved
    // and a relative path is made whole first.
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed > 0) {
      std::wstring full(needed, L'\0');
      const DWORD got = GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
      if (got > 0 && got < needed) wide = full.substr(0, got);
    }
    wide = wide.compare(0, 2, L"\\\\") == 0 ? L"\\\\?\\UNC\\" + wide.substr(2) : L"\\\\?\\" + wide;
  }
  // "\\?\C:\" keeps its backslash; any other closing one goes.
  while (wide.size() > 7 && wide.back() == L'\\') wide.pop_back();
  return wide;
}

bool removeTree(const std::string& path, LinkRemover removeLink) {
  return removeLongTree(longPath(path), removeLink);
}

bool makeFolders(const std::string& path) {
  const std::wstring wide = longPath(path);
  // Each ancestor below the root ("\\?\C:\"), then the folder itself.
  for (size_t i = 7; i <= wide.size(); ++i) {
    if (i != wide.size() && wide[i] != L'\\') continue;
    const std::wstring part = wide.substr(0, i);
    if (CreateDirectoryW(part.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) continue;
    const DWORD attributes = GetFileAttributesW(part.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  }
  return true;
}

bool writeFile(const std::string& path, const std::string& bytes) {
  const std::wstring wide = longPath(path);
  const size_t slash = wide.find_last_of(L'\\');
  if (slash != std::wstring::npos && slash > 7 && !makeFolders(shortForm(wide.substr(0, slash)))) return false;
  win::FileHandle file(CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data() + done, piece, &written, nullptr) || written != piece) return false;
    done += piece;
  }
  return true;
}

bool readFile(const std::string& path, std::string* bytes) {
  win::FileHandle file(CreateFileW(longPath(path).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return false;
  std::string content(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (done < content.size()) {
    DWORD piece = static_cast<DWORD>(std::min<size_t>(content.size() - done, 1u << 20));
    DWORD read = 0;
    if (!ReadFile(file.get(), &content[done], piece, &read, nullptr) || read == 0) return false;
    done += read;
  }
  bytes->swap(content);
  return true;
}

std::string readFile(const std::string& path) {
  std::string bytes;
  readFile(path, &bytes);
  return bytes;
}

bool fileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(longPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool directoryExists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(longPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> listFiles(const std::string& folder) {
  std::vector<std::string> files;
  collectFiles(folder, "", &files);
  std::sort(files.begin(), files.end());
  return files;
}

std::string patternBytes(size_t size, uint32_t seed, bool compressible) {
  std::string bytes(size, '\0');
  uint32_t state = seed * 2654435761u + 0x9E3779B9u;
  auto next = [&state]() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  static const char* const kWords[] = {"tower ", "link ", "approach ", "ground ", "runway ", "squawk ",
                                       "heading ", "cleared ", "\r\n", "descend ", "1200 ", "ATIS "};
  size_t i = 0;
  while (i < size) {
    if (compressible) {
      const char* word = kWords[next() % (sizeof(kWords) / sizeof(kWords[0]))];
      for (; *word != '\0' && i < size; ++word) bytes[i++] = *word;
    } else {
      bytes[i++] = static_cast<char>(next() & 0xFF);
    }
  }
  return bytes;
}

std::string fixturePath(const std::string& fileName) {
  std::string path = std::string(TL_TEST_FIXTURE_DIR) + "/" + fileName;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

ScopedRegistryOverride::ScopedRegistryOverride() {
  const LONG n = InterlockedIncrement(&g_scratchCounter);
  path_ = "Software\\TowerLink Tests\\" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(n);
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scratch_,
                      nullptr) != ERROR_SUCCESS) {
    scratch_ = nullptr;
    return;
  }
  active_ = RegOverridePredefKey(HKEY_LOCAL_MACHINE, scratch_) == ERROR_SUCCESS;
}

ScopedRegistryOverride::~ScopedRegistryOverride() {
  if (active_) RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
  if (scratch_ != nullptr) RegCloseKey(scratch_);
  if (!path_.empty()) {
    RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, path_.c_str());
    // The common parent goes too once no other scratch key is in it.
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TowerLink Tests");
  }
}

RegValue readRegValue(HKEY root, const std::string& subkey, const std::string& name) {
  RegValue value;
  win::RegKey key;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS) return value;
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return value;
  std::string data(size, '\0');
  if (size > 0 &&
      RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
          ERROR_SUCCESS) {
    return value;
  }
  data.resize(size);
  value.found = true;
  value.type = type;
  value.data = data;
  return value;
}

bool regKeyExists(HKEY root, const std::string& subkey) {
  win::RegKey key;
  return RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.receive()) == ERROR_SUCCESS;
}

std::vector<std::string> regValueNames(HKEY root, const std::string& subkey) {
  std::vector<std::string> names;
  win::RegKey key;
  if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, key.receive()) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    char name[16384];
    DWORD length = sizeof(name);
    if (RegEnumValueA(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool deleteRegTree(HKEY root, const std::string& subkey) {
  RegDeleteTreeA(root, subkey.c_str());
  RegDeleteKeyA(root, subkey.c_str());
  return !regKeyExists(root, subkey);
}

::testing::AssertionResult isRegString(const RegValue& value, const std::string& text) {
  if (!value.found) return ::testing::AssertionFailure() << "value missing, expected REG_SZ \"" << text << "\"";
  if (value.type != REG_SZ) return ::testing::AssertionFailure() << "type " << value.type << ", expected REG_SZ (1)";
  const std::string expected = text + std::string(1, '\0');
  if (value.data != expected) {
    return ::testing::AssertionFailure() << "data of " << value.data.size() << " bytes \""
                                         << std::string(value.data.c_str()) << "\", expected " << expected.size()
                                         << " bytes \"" << text << "\" + one zero";
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult isRegDword(const RegValue& value, DWORD expected) {
  if (!value.found) return ::testing::AssertionFailure() << "value missing, expected REG_DWORD " << expected;
  if (value.type != REG_DWORD) {
    return ::testing::AssertionFailure() << "type " << value.type << ", expected REG_DWORD (4)";
  }
  if (value.data.size() != 4) return ::testing::AssertionFailure() << value.data.size() << " bytes, expected 4";
  const unsigned char* b = reinterpret_cast<const unsigned char*>(value.data.data());
  const DWORD actual = b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<DWORD>(b[3]) << 24);
  if (actual != expected) return ::testing::AssertionFailure() << "value " << actual << ", expected " << expected;
  return ::testing::AssertionSuccess();
}

std::string tempFolder() {
  char buffer[MAX_PATH + 1];
  const DWORD n = GetTempPathA(MAX_PATH, buffer);
  if (n == 0 || n >= MAX_PATH) return std::string();
  std::string folder(buffer, n);
  if (folder.back() != '\\') folder.push_back('\\');
  return folder;
}

std::vector<std::string> uninstallerPrivateFolders() {
  std::vector<std::string> found;
  const std::string temp = tempFolder();
  if (temp.empty()) return found;
  WIN32_FIND_DATAA data;
  win::FindHandle find(FindFirstFileA((temp + "tluninstall-*").c_str(), &data));
  if (!find.valid()) return found;
  do {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) found.push_back(temp + data.cFileName);
  } while (FindNextFileA(find.get(), &data));
  return found;
}

}  // namespace tltest

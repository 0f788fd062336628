#include "tests/roundtrip/machine_snapshot.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "platform/handles.h"

namespace roundtrip {
namespace {

// FNV-1a: enough to tell a changed file or value from an unchanged one.
uint64_t hashBytes(const unsigned char* data, size_t size, uint64_t hash = 1469598103934665603ull) {
  for (size_t i = 0; i < size; ++i) {
    hash ^= data[i];
    hash *= 1099511628211ull;
  }
  return hash;
}

std::string fileSummary(const std::string& path, uint64_t size) {
  uint64_t hash = 1469598103934665603ull;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file != nullptr) {
    unsigned char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0) hash = hashBytes(buffer, got, hash);
    std::fclose(file);
  } else {
    hash = 0;  // unreadable (held open without sharing): still recorded by size
  }
  char text[64];
  std::snprintf(text, sizeof(text), "file %llu %016llx", static_cast<unsigned long long>(size),
                static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return text;
}

void MachineSnapshot::addFolder(const std::string& folder) {
  std::string root = folder;
  if (!root.empty() && root.back() == '\\') root.pop_back();
  const DWORD attributes = GetFileAttributesA(root.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  walkFolder(root);
}

void MachineSnapshot::walkFolder(const std::string& folder) {
  entries_[lowerAscii(folder) + "\\"] = "dir";
  WIN32_FIND_DATAA data;
  win::FindHandle find(FindFirstFileA((folder + "\\*").c_str(), &data));
  if (find.get() == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      walkFolder(path);
    } else {
      const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      entries_[lowerAscii(path)] = fileSummary(path, size);
    }
  } while (FindNextFileA(find.get(), &data));
}

void MachineSnapshot::addKey(const std::string& key) {
  win::RegKey handle;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, handle.receive()) != ERROR_SUCCESS) return;
  walkKey(handle.get(), "hklm\\" + lowerAscii(key));
}

void MachineSnapshot::walkKey(HKEY key, const std::string& path) {
  entries_[path + "\\"] = "key";
  std::vector<char> name(16384);
  std::vector<unsigned char> data(65536);
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    const LONG status = RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
    if (status != ERROR_SUCCESS) break;
    char text[64];
    std::snprintf(text, sizeof(text), "value %lu %016llx", static_cast<unsigned long>(type),
                  static_cast<unsigned long long>(hashBytes(data.data(), dataSize)));
    entries_[path + "\\[" + lowerAscii(std::string(name.data(), nameSize)) + "]"] = text;
  }
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    if (RegEnumKeyExA(key, i, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    const std::string sub(name.data(), nameSize);
    win::RegKey child;
    if (RegOpenKeyExA(key, sub.c_str(), 0, KEY_READ, child.receive()) != ERROR_SUCCESS) continue;
    walkKey(child.get(), path + "\\" + lowerAscii(sub));
  }
}

std::vector<std::string> difference(const MachineSnapshot& before, const MachineSnapshot& after) {
  std::vector<std::string> lines;
  const auto& a = before.entries();
  const auto& b = after.entries();
  for (const auto& entry : a) {
    const auto found = b.find(entry.first);
    if (found == b.end()) {
      lines.push_back("removed " + entry.first);
    } else if (found->second != entry.second) {
      lines.push_back("changed " + entry.first);
    }
  }
  for (const auto& entry : b) {
    if (a.find(entry.first) == a.end()) lines.push_back("added " + entry.first);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace roundtrip

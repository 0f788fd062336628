#include "tools/uninstaller/uninstall_record.h"

#include <shlwapi.h>

#include <algorithm>

#include "tools/uninstaller/removal_plan.h"
#include "platform/handles.h"

namespace uninst {

namespace {

std::string recordKeyPath(const std::string& name) { return std::string(kUninstallKeyPath) + "\\" + name; }

enum class ValueStatus { Ok, Missing, WrongType, Error };

// Reads a REG_SZ value of any length. The data may lack its terminating zero
// or hold bytes after an embedded one; the text ends at the first zero.
ValueStatus readString(HKEY key, const std::string& name, std::string* out, DWORD* error) {
  out->clear();
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS s = RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (s == ERROR_FILE_NOT_FOUND) return ValueStatus::Missing;
    if (s != ERROR_SUCCESS) {
      *error = static_cast<DWORD>(s);
      return ValueStatus::Error;
    }
    if (type != REG_SZ) return ValueStatus::WrongType;
    std::string data(size + 1, '\0');
    DWORD got = size;
    s = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &got);
    if (s == ERROR_MORE_DATA) continue;  // it grew between the two calls
    if (s != ERROR_SUCCESS) {
      *error = static_cast<DWORD>(s);
      return ValueStatus::Error;
    }
    if (type != REG_SZ) return ValueStatus::WrongType;
    data.resize(std::min<size_t>(got, data.size()));
    size_t zero = data.find('\0');
    if (zero != std::string::npos) data.resize(zero);
    *out = data;
    return ValueStatus::Ok;
  }
  *error = ERROR_MORE_DATA;
  return ValueStatus::Error;
}

std::string describe(const std::string& valueName, ValueStatus status, DWORD error) {
  switch (status) {
    case ValueStatus::Missing: return "the value " + valueName + " is missing";
    case ValueStatus::WrongType: return "the value " + valueName + " is not a text (REG_SZ)";
    case ValueStatus::Error:
      return "the value " + valueName + " cannot be read (error " + std::to_string(static_cast<unsigned long>(error)) +
             ")";
    case ValueStatus::Ok: break;
  }
  return std::string();
}

}  // namespace

RecordStatus readUninstallRecord(const std::string& name, UninstallRecord* out, DWORD* error) {
  *out = UninstallRecord();
  *error = ERROR_SUCCESS;
  out->displayName = name;
  win::RegKey key;
  LSTATUS s = RegOpenKeyExA(HKEY_LOCAL_MACHINE, recordKeyPath(name).c_str(), 0, KEY_READ, key.receive());
  if (s != ERROR_SUCCESS) {
    *error = static_cast<DWORD>(s);
    return (s == ERROR_FILE_NOT_FOUND || s == ERROR_PATH_NOT_FOUND) ? RecordStatus::NotFound : RecordStatus::Unreadable;
  }

  std::string displayName;
  DWORD valueError = ERROR_SUCCESS;
  if (readString(key.get(), kValueDisplayName, &displayName, &valueError) == ValueStatus::Ok && !displayName.empty()) {
    out->displayName = displayName;
  }
  if (readString(key.get(), "UninstallString", &out->uninstallString, &valueError) != ValueStatus::Ok) {
    out->uninstallString.clear();
  }

  DWORD type = 0;
  DWORD count = 0;
  DWORD size = sizeof(count);
  s = RegQueryValueExA(key.get(), kValueEventCount, nullptr, &type, reinterpret_cast<BYTE*>(&count), &size);
  if (s != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(count)) {
    *error = (s == ERROR_SUCCESS) ? static_cast<DWORD>(ERROR_INVALID_DATA) : static_cast<DWORD>(s);
    out->problems.push_back(s == ERROR_FILE_NOT_FOUND ? std::string("the value PorterEvents is missing")
                                                      : std::string("the value PorterEvents is not a number (REG_DWORD)"));
    return RecordStatus::NoEventCount;
  }
  out->declaredEvents = count;

  // An index that has values needs at least its tag and its params, so no
  // index at or beyond the number of values in the key can be complete.
  DWORD valueCount = 0;
  s = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount, nullptr, nullptr,
                       nullptr, nullptr);
  uint32_t limit = count;
  if (s == ERROR_SUCCESS && valueCount < limit) limit = valueCount;

  for (uint32_t i = 0; i < limit; ++i) {
    RecordedEvent e;
    e.index = i;
    bool usable = true;
    std::string tagName = eventValueName(kValueTagPrefix, i);
    std::string paramsName = eventValueName(kValueParamsPrefix, i);
    std::string descName = eventValueName(kValueDescPrefix, i);
    ValueStatus vs = readString(key.get(), tagName, &e.tag, &valueError);
    if (vs != ValueStatus::Ok) {
      out->problems.push_back("event " + std::to_string(i) + ": " + describe(tagName, vs, valueError));
      usable = false;
    }
    vs = readString(key.get(), paramsName, &e.params, &valueError);
    if (vs != ValueStatus::Ok) {
      out->problems.push_back("event " + std::to_string(i) + ": " + describe(paramsName, vs, valueError));
      usable = false;
    }
    // The description is only a caption; without it the event is still undone.
    if (readString(key.get(), descName, &e.desc, &valueError) != ValueStatus::Ok) e.desc.clear();
    e.usable = usable;
    out->events.push_back(e);
  }
  if (limit < count) {
    out->problems.push_back("PorterEvents gives " + std::to_string(count) + " events but the record holds values for at most " +
                            std::to_string(limit));
  }
  return RecordStatus::Ok;
}

bool uninstallRecordExists(const std::string& name) {
  win::RegKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, recordKeyPath(name).c_str(), 0, KEY_READ, key.receive()) == ERROR_SUCCESS;
}

DWORD deleteUninstallRecord(const std::string& name) {
  LSTATUS s = SHDeleteKeyA(HKEY_LOCAL_MACHINE, recordKeyPath(name).c_str());
  if (s == ERROR_FILE_NOT_FOUND || s == ERROR_PATH_NOT_FOUND) return ERROR_SUCCESS;
  return static_cast<DWORD>(s);
}

}  // namespace uninst

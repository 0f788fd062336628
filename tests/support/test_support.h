// Shared helpers for Windows tests that run under Wine against the real
// platform. Everything here undoes what it creates, so a test leaves the Wine
// prefix as it found it.
//
//   ScopedTempDir           a fresh folder under the Wine temp folder, removed
//                           with all its contents at the end
//   ScopedRegistryOverride  HKEY_LOCAL_MACHINE redirected (for this process) to
//                           a scratch key under HKCU, deleted at the end
//   readRegValue & co.      read a value back with its exact type and bytes
//   writeFile / readFile    whole files as byte strings
//   patternBytes            deterministic file contents of any size
//   fixturePath             the build-time fixture DLLs (version_3_4_0_1.dll,
//                           version_3_4_0_2.dll, version_3_5_0_0.dll,
//                           version_3_4_9_9.dll, version_4_0_0_0.dll: product
//                           versions as named;
//                           version_none.dll: no version resource;
//                           tl_empty_resources.dll: base for payload DLLs)
//
// Payload fixture DLLs built at run time are in payload_fixture.h.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tltest {

// ---- files -------------------------------------------------------------------

// A new, empty folder under GetTempPathA(). path() has no trailing backslash.
// The destructor removes the folder and everything in it (read-only files too).
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  bool valid() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  // path() + "\" + relative (relative may contain backslashes).
  std::string file(const std::string& relative) const;

 private:
  std::string path_;
};

// Paths of any length: every function below reaches its file through the wide
// "\\?\" form of the path (see longPath), so a path beyond MAX_PATH works too.

// The wide "\\?\" form of an ANSI path: made whole (relative parts and "."
// and ".." resolved, '/' read as '\'), no closing backslash but a drive's.
std::wstring longPath(const std::string& path);

// Removes a link (reparse point) that Windows calls cannot remove themselves.
using LinkRemover = void (*)(const std::string& link);
// Deletes path, a file or a folder tree (files first, read-only attributes
// cleared). A link met on the way is removed as a link and never entered: by
// removeLink when given, else by the Windows calls. True when nothing of path
// is left (also when it never existed).
bool removeTree(const std::string& path, LinkRemover removeLink = nullptr);
// Creates a folder and every missing parent.
bool makeFolders(const std::string& path);

// Writes bytes to path (creating or truncating it, and its missing folders).
// False on any failure.
bool writeFile(const std::string& path, const std::string& bytes = "TowerLink test data");
// Reads the whole file into *bytes. False (bytes untouched) when it cannot.
bool readFile(const std::string& path, std::string* bytes);
// The whole file; empty when it cannot be read.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);       // a file, not a folder
bool directoryExists(const std::string& path);  // a folder, not a file
// Relative paths (backslash separated, sorted) of every file under folder.
std::vector<std::string> listFiles(const std::string& folder);

// size bytes that differ with seed. compressible=true gives text-like content
// that deflate shrinks well; false gives bytes that barely compress, so a
// stream of known length can cross chunk boundaries on purpose.
std::string patternBytes(size_t size, uint32_t seed, bool compressible);

// Windows path of a fixture DLL built with the test tree (see above).
std::string fixturePath(const std::string& fileName);

// ---- registry ----------------------------------------------------------------

// Redirects HKEY_LOCAL_MACHINE for the whole process to a new scratch key
// HKCU\Software\TowerLink Tests\<pid>-<n> with RegOverridePredefKey, so code
// that writes HKLM can be tested without touching the real key. The destructor
// restores HKLM and deletes the scratch key tree. Only one may be alive at a
// time.
class ScopedRegistryOverride {
 public:
  ScopedRegistryOverride();
  ~ScopedRegistryOverride();
  ScopedRegistryOverride(const ScopedRegistryOverride&) = delete;
  ScopedRegistryOverride& operator=(const ScopedRegistryOverride&) = delete;

  bool active() const { return active_; }
  // The scratch key (what HKLM now stands for), opened with full access.
  HKEY scratch() const { return scratch_; }

 private:
  std::string path_;
  HKEY scratch_ = nullptr;
  bool active_ = false;
};

// One registry value as stored: found=false when the key or value is missing.
struct RegValue {
  bool found = false;
  DWORD type = REG_NONE;
  std::string data;  // the raw bytes, exactly as many as the registry holds
};

RegValue readRegValue(HKEY root, const std::string& subkey, const std::string& name);
bool regKeyExists(HKEY root, const std::string& subkey);
// Names of every value in the key (empty when the key is missing), sorted.
std::vector<std::string> regValueNames(HKEY root, const std::string& subkey);
// Deletes a key tree; true when it is gone (also when it never existed).
bool deleteRegTree(HKEY root, const std::string& subkey);

// Assertions that name what differs: REG_SZ holding text plus exactly one zero
// byte, and REG_DWORD of 4 bytes holding value.
::testing::AssertionResult isRegString(const RegValue& value, const std::string& text);
::testing::AssertionResult isRegDword(const RegValue& value, DWORD expected);

// The temporary folder with its closing backslash; empty when unknown.
std::string tempFolder();
// The companion uninstaller's private folders in it now ("tluninstall-*"),
// as full paths.
std::vector<std::string> uninstallerPrivateFolders();

}  // namespace tltest

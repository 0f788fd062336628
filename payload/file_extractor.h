// The file extractor: indexes the payload catalogue of a module and inflates
// catalogue files from its payload chunks into target folders.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "payload/extract_result.h"
#include "system/uninstaller_setup.h"

namespace Porter {

// Receives the reports of extractFile, on the extracting thread.
class FileExtractorStatus {
 public:
  // Before the name is looked up: the name as given and the final target path.
  virtual void fileStarted(const char* name, const char* targetPath) = 0;
  // After every inflate call.
  virtual void fileProgress(uint32_t compressedDone, uint32_t compressedTotal, uint32_t uncompressedDone,
                            uint32_t uncompressedTotal) = 0;
  // When extractFile succeeds (also when a guarded copy kept the existing file).
  virtual void fileFinished() = 0;

 protected:
  ~FileExtractorStatus() = default;
};

class FileExtractor {
 public:
  // Stores both arguments, reads catalogue resource 65535 of the module into the
  // index (adding to what it holds). False when the catalogue is unusable.
  virtual bool init(HMODULE module, FileExtractorStatus* status) = 0;
  // Empties the index. Always true.
  virtual bool close() = 0;
  // Inflates one catalogue file to targetPath; with replaceIfNewer the file goes
  // through a temporary file and replaces the target only when newer.
  virtual ExtractResult extractFile(const char* name, const char* targetPath, bool replaceIfNewer) = 0;
  // Every file under selector (minus exclusions, may be null) into folder; one
  // "DeleteFile" event per written file with the given description.
  virtual ExtractResult extractFolder(const char* selector, const char* folder, UninstallerSetup* record,
                                      const char* description, const std::vector<std::string>* exclusions) = 0;
  // Ok and both sizes, or NotInCatalogue with the outputs untouched.
  virtual ExtractResult getFileSizes(const char* name, uint32_t* compressedSize, uint32_t* uncompressedSize) = 0;
  // Ok and both 32-bit sums, or NothingSelected with the outputs untouched.
  virtual ExtractResult getFolderSizes(const char* selector, uint32_t* compressedTotal,
                                       uint32_t* uncompressedTotal) = 0;

 protected:
  ~FileExtractor() = default;  // the one instance is never destroyed
};

}  // namespace Porter

// The process-wide extractor, created with an empty index on the first call.
Porter::FileExtractor* getFileExtractor();

// Access lists given at creation (platform/protected_security.h); the
// attributes are not owned and must outlive the extractions. A folder made
// for a target at or under folder (with its closing backslash) gets
// folderSecurity; a target path listed in files is written as a new file
// (an existing one is deleted first, since the list given at creation does
// not reach a file that is overwritten) with fileSecurity. Null: the defaults.
struct CreationSecurity {
  std::string folder;
  SECURITY_ATTRIBUTES* folderSecurity = nullptr;
  std::vector<std::string> files;
  SECURITY_ATTRIBUTES* fileSecurity = nullptr;
};
// For the process-wide extractor's extractions from now on; a default
// CreationSecurity puts the defaults back.
void setCreationSecurity(const CreationSecurity& security);

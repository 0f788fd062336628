// Result codes of the file extractor. The number reaches the user in brackets
// after the installation error message, so the values are fixed forever.
#pragma once

enum class ExtractResult : int {
  Ok = 0,
  NotInCatalogue = 1,     // the name is not in the catalogue index
  FolderNotCreated = 2,   // the target's folder is missing and could not be created
  OutputNotCreated = 3,   // no temporary name, output not opened, or replace failed
  ResourceNotFound = 4,   // a payload chunk resource was not found (or lies outside the chunks)
  ResourceNotLoaded = 5,  // a payload chunk resource could not be loaded
  ResourceNotLocked = 6,  // a payload chunk resource could not be locked
  InflateInitFailed = 7,  // the inflater could not be initialised
  InflateFailed = 8,      // corrupt or malformed stream, Adler-32 mismatch, no memory
  WriteFailed = 9,        // writing inflated bytes failed
  NothingSelected = 10,   // no catalogue file selected (none under the selector, or all excluded)
};

inline int toInt(ExtractResult r) { return static_cast<int>(r); }

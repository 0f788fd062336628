// The installation worker: on its own thread, sums the bytes of the run,
// extracts the chosen payload groups in a fixed order, records every change in
// the uninstall record and posts WM_INSTALL_DONE with the result.
#pragma once

#include <windows.h>

#include <string>

#include "install/install_options.h"
#include "system/uninstaller_setup.h"

struct WorkerParams {
  HINSTANCE instance = nullptr;                       // module with the payload and string table
  HWND progressWindow = nullptr;                      // receiver of every posted message
  Porter::UninstallerSetup* uninstallRecord = nullptr;  // not owned
  bool installFs2002 = false;
  bool installFs2004 = false;
  bool installFsx = false;
  std::string fs2002Dir;  // copy when installFs2002, else empty
  std::string fs2004Dir;
  std::string fsxDir;
  bool installProduct = false;
  std::string productDir;  // ends with a backslash
};

// Fills a WorkerParams from the user's choices (progressWindow, instance and
// uninstallRecord are given), following runScope(): a chosen simulator
// version whose folder is empty is not installed.
void fillWorkerParams(const InstallOptions& options, HINSTANCE instance, HWND progressWindow,
                      Porter::UninstallerSetup* record, WorkerParams* params);

// The run's result, posted with WM_INSTALL_DONE and shown to the user in
// brackets: 0, an ExtractResult (payload/extract_result.h) of the row that
// failed, or this one of the worker's own: the extractor cannot read its
// catalogue (the number of ExtractResult::ResourceNotFound, fixed forever).
constexpr int kWorkerCatalogueUnreadable = 4;

// Thread routine; the argument is a WorkerParams*. Always returns 0.
DWORD WINAPI installWorker(LPVOID params);

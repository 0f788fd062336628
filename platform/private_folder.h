// A private folder in the temporary folder, for a program that runs elevated.
//
// The temporary folder belongs to the user, also to the part of the user that
// runs without administrator rights. A file an elevated program makes there
// under a name that can be guessed (GetTempFileName counts up from a few hex
// digits) can be replaced by a link, or swapped, between its creation and its
// next use. So such files go into a folder of their own: its name holds 64
// random bits, it is created only if nothing of that name exists
// (CreateDirectory fails on an existing one, so nothing prepared in advance is
// ever used), and its access list is protected: SYSTEM and the administrators
// have full control, the user may only read (write too when the program runs
// without administrator rights: it then is that user, and must make its files
// there). It is made relative to the temporary folder held open, and held
// from its creation to its removal, so its owner cannot rename it away and
// put a link in its place between two steps; its files are made and deleted
// relative to it.
#pragma once

#include <windows.h>

#include <string>

#include "platform/held_folder.h"

namespace win {

// Whether the process runs with administrator rights: an elevated token
// (TokenElevation, Vista and later), or where the system has no such notion
// (XP) a token with the Administrators group enabled.
bool runsElevated();

// The access list of a private folder, as SDDL, protected, so nothing is
// inherited from the temporary folder: elevated
// "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;<the user's SID>)",
// otherwise the user's entry is "(A;OICI;FA;;;<the user's SID>)".
std::wstring privateAccessList(bool elevated);
// The list for this process (runsElevated()).
std::wstring privateAccessList();

// A new folder "<prefix>-<16 random hex digits>" in the temporary folder,
// made relative to the temporary folder held open, with the access list of
// this process, and held until remove or the end of the object, which removes
// it by its name in the held temporary folder when it is empty.
class PrivateFolder {
 public:
  PrivateFolder() = default;
  ~PrivateFolder() { remove(); }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  // Returns 0 or the error.
  DWORD create(const wchar_t* prefix);
  const HeldFolder& folder() const { return folder_; }
  // Its full name with a closing backslash; empty before create.
  const std::wstring& path() const { return path_; }
  // Lets go of it and removes it when empty. Returns 0 or the error.
  DWORD remove();
  // Lets go of it and leaves it where it is.
  void keep() {
    folder_.release();
    temp_.release();
  }

 private:
  HeldFolder temp_, folder_;
  std::wstring name_, path_;
};

// A private folder made as PrivateFolder makes it, let go at once (for a
// folder that is then used by its name).
// Returns it with its closing backslash, or empty with *error set.
std::wstring createPrivateFolder(const wchar_t* prefix, DWORD* error);

}  // namespace win

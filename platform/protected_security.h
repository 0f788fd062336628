// Access lists that the installer gives, at creation, to what an administrator
// runs later: the product folder it creates, and the uninstaller and the
// SimConnect package in a product folder that already existed. Outside Program
// Files a new folder would otherwise inherit what its parent grants (under a
// drive's root: Authenticated Users may modify), and any user of the computer
// could replace those programs.
#pragma once

#include <windows.h>

// A product folder the installer creates: protected (the parent's inheritable
// entries are not taken over), SYSTEM and Administrators full control, Users
// read and execute (0x1200a9, what Program Files grants them), each entry
// inherited by the files and folders made inside it.
extern const wchar_t kProductFolderSddl[];

// A file that runs elevated later, written into a folder that already existed:
// the same entries, protected, for the file alone.
extern const wchar_t kElevatedFileSddl[];

// SECURITY_ATTRIBUTES (not inheritable handles) around a descriptor built
// from SDDL. get() is null when the descriptor could not be built (no
// memory): the caller then creates with the defaults.
class ProtectedSecurity {
 public:
  explicit ProtectedSecurity(const wchar_t* sddl);
  ~ProtectedSecurity();
  ProtectedSecurity(const ProtectedSecurity&) = delete;
  ProtectedSecurity& operator=(const ProtectedSecurity&) = delete;

  SECURITY_ATTRIBUTES* get() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_ = {};
};

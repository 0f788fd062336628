// The uninstall record: an ordered list of uninstall events, written once into
// HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\<displayName>,
// where tluninstall.exe reads it back (its form: system/uninstall_contract.h).
#pragma once

namespace Porter {

class UninstallerSetup {
 public:
  // Appends one event; the three texts are copied. Returns true.
  virtual bool addEvent(const char* tag, const char* params, const char* desc) = 0;
  // Writes the record, closes the key and destroys the object, whatever the
  // outcome. Returns true only if every value was written. The caller must not
  // touch the object afterwards.
  virtual bool commit() = 0;

 protected:
  ~UninstallerSetup() = default;  // commit() is the only way the object ends
};

}  // namespace Porter

// A new record with the four strings copied and no events; null only when it
// cannot be allocated. The caller owns it until commit().
Porter::UninstallerSetup* createUninstallerSetup(const char* displayName, const char* description,
                                                 const char* iconPath, const char* uninstallerPath);

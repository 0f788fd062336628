// Folders held open while an elevated program writes into them, and the file
// operations done relative to them.
//
// The installer and the uninstaller run as administrator in folders a
// standard user may change (C:\FS9\modules, C:\TowerLink, the user's TEMP).
// On Windows such a user can put a junction where a folder was, retarget it
// later, or pause the program on an opportunistic lock at the moment it opens
// a file. So a folder is opened once, checked through its handle and held
// (without FILE_SHARE_DELETE: nobody can rename or remove it meanwhile), and
// every file in it is created, opened, renamed and deleted by a name relative
// to that handle (NtCreateFile and NtSetInformationFile with a root directory,
// in ntdll since NT, found at run time). Nothing decided through a handle is
// acted on through the path again.
//
// A link on the way to a folder (a junction or symbolic link; under Wine a
// Unix symbolic link) is followed only when linkMayBeFollowed says so: when
// an administrator made it, or when the user who made it may write the folder
// it leads to. Anything else would let that user steer an elevated write to a
// place they could not write themselves.
#pragma once

#include <windows.h>

#include <string>

#include "platform/handles.h"

namespace win {

// Whether a link met on the way to a folder may be followed. link is the link
// itself (opened without following it), target the folder it leads to, both
// open. The decision of the programs is ownerMayFollow; tests replace it,
// because Wine reports no real owners or access lists.
using LinkDecision = bool (*)(HANDLE link, HANDLE target);
extern LinkDecision linkMayBeFollowed;

// True when the link's owner is the Administrators group, SYSTEM or
// TrustedInstaller, or when an access check of the owner's SID against the
// target folder's security grants it to add files and folders there
// (AuthzInitializeContextFromSid and AuthzAccessCheck, authz.dll from the
// system folder). False whenever either cannot be found out.
bool ownerMayFollow(HANDLE link, HANDLE target);

// Turns on RedirectionGuard for the process where the system has it (Windows
// 10 22H2 and 11: SetProcessMitigationPolicy with
// ProcessRedirectionTrustPolicy, EnforceRedirectionTrust, looked up at run
// time): the system then refuses to follow a junction made by a
// non-administrator. Elsewhere nothing happens. True when it was turned on.
bool enableRedirectionGuard();

// How a walk treats a link on the way.
enum class Links {
  // Followed as linkMayBeFollowed decides (ERROR_ACCESS_DENIED when not):
  // for what is written.
  Decided,
  // Never followed (ERROR_STOPPED_ON_SYMLINK), nor is a level whose final
  // path shows that it is not the child of the level above (a link Wine
  // shows by no attribute); a level someone else holds open with delete
  // access is taken all the same (that holder could rename it; the checks
  // still apply): for what is deleted, where a link could only lead out of
  // what is removed.
  Refused,
};

// ERROR_STOPPED_ON_SYMLINK, which mingw's winerror.h lacks: a link refused on
// the way.
const DWORD kErrorStoppedOnLink = 681;

// What is found under a name in a held folder.
struct NameInfo {
  bool exists = false;
  DWORD attributes = 0;   // of the name itself: a link shows FILE_ATTRIBUTE_REPARSE_POINT
  ULONG links = 0;        // names the file has (FileStandardInformation.NumberOfLinks)
  bool isLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
};

// One folder, open and held. Movable, not copyable; the handle closes with it.
class HeldFolder {
 public:
  HeldFolder() = default;
  HeldFolder(HeldFolder&&) = default;
  HeldFolder& operator=(HeldFolder&&) = default;

  bool valid() const { return handle_.valid(); }
  HANDLE get() const { return handle_.get(); }
  void release() {
    handle_.reset();
    path_.clear();
    final_.clear();
  }

  // Opens the folder named by a full path ("C:\a\b", "\\server\share\a"),
  // walking from its root one level at a time, each level relative to the one
  // above, and holds it. With create, missing levels are made (FILE_CREATE, so
  // nothing prepared meanwhile is taken for one of ours), each with security
  // when given (else it inherits): a level made on the way is as much ours as
  // the last. A link on the way is followed
  // only as linkMayBeFollowed decides. Returns 0, or the error:
  // ERROR_ACCESS_DENIED for a link that is not followed, ERROR_PATH_NOT_FOUND
  // for a missing level without create, ERROR_DIRECTORY for a file on the way,
  // ERROR_INVALID_NAME for "." or ".." or a path that is not full.
  // With Links::Refused a link is never followed (see Links).
  DWORD open(const std::wstring& path, bool create, PSECURITY_DESCRIPTOR security = nullptr,
             Links links = Links::Decided);

  // The same for a folder below this one: relative names separated by "\".
  DWORD openBelow(const HeldFolder& base, const std::wstring& relative, bool create,
                  PSECURITY_DESCRIPTOR security = nullptr, Links links = Links::Decided);

  // A new folder of that name in this one, made only if nothing of that name
  // exists (ERROR_ALREADY_EXISTS otherwise), with security when given, and
  // held.
  DWORD createSubfolder(const std::wstring& name, PSECURITY_DESCRIPTOR security, HeldFolder* out) const;

  // A file in this folder by its name (one level, no "\"), opened or created
  // through NtCreateFile relative to the folder. disposition is FILE_OPEN (1),
  // FILE_CREATE (2) or FILE_OPEN_IF (3); the name itself is opened, never what
  // a link there leads to (FILE_OPEN_REPARSE_POINT). security applies when it
  // is created. *created (optional) tells whether it was. Returns 0 or the
  // error (ERROR_FILE_EXISTS for FILE_CREATE on an existing name).
  DWORD openFile(const std::wstring& name, ACCESS_MASK access, DWORD share, ULONG disposition, FileHandle* out,
                 bool* created = nullptr, PSECURITY_DESCRIPTOR security = nullptr) const;

  // A new file under a name that holds 32 random bits ("<prefix>XXXXXXXX.tmp"),
  // created only if nothing of that name exists, opened for reading, writing
  // and deletion and shared for reading only. Returns 0 or the error.
  // security applies as in openFile.
  DWORD createTemporary(const std::wstring& prefix, FileHandle* out, std::wstring* name,
                        PSECURITY_DESCRIPTOR security = nullptr) const;

  // Gives the open file the name in this folder (FileRenameInformation with
  // this folder as root directory), replacing what that name held when
  // replace is set: the name, never what a link there leads to. file must be
  // open with DELETE access. Returns 0 or the error.
  DWORD moveInto(HANDLE file, const std::wstring& name, bool replace) const;

  // What the name holds: whether it exists, its attributes as a name (a link
  // is a reparse point) and its number of names. Returns 0 (also when it does
  // not exist) or the error.
  DWORD inspect(const std::wstring& name, NameInfo* info) const;

  // Whether the open file is the one this folder's name leads to by itself:
  // its final path is this folder's plus name (case aside). Wine opens a
  // Unix link to a file as its target and shows no sign of the link but
  // this. True where the system cannot tell final paths (XP), where the
  // handle's own checks decide.
  bool holds(HANDLE file, const std::wstring& name) const;

  // Removes the name (a file or an empty folder), clearing a read-only
  // attribute; opened with FILE_OPEN_REPARSE_POINT, so on Windows a link
  // there is removed itself. 0 when removed or already gone.
  DWORD remove(const std::wstring& name) const;

  // Opens the name in this folder to be deleted through the handle
  // (deleteClearingReadOnly): DELETE and attribute access, shared with
  // everyone, the name itself, never what a link there leads to. *attributes
  // are the handle's, with FILE_ATTRIBUTE_REPARSE_POINT added when the name
  // is a link by its name alone (Wine) or when the final path of what was
  // opened shows it is not this folder's child. Returns 0 or the error
  // (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when nothing is there).
  DWORD openForDeletion(const std::wstring& name, FileHandle* out, DWORD* attributes) const;

 private:
  FileHandle handle_;
  std::wstring path_;   // the name it was opened by ("\\?\C:\a\b"), for namedAsLink only
  std::wstring final_;  // its final path when opened with Links::Refused (empty: unknown)
};

// Deletes a file or empty folder open with DELETE access (openForDeletion),
// clearing a read-only attribute first and restoring it when the delete
// fails. attributes are the ones it has. Returns 0 or the error
// (ERROR_DIR_NOT_EMPTY for a folder that holds anything).
DWORD deleteClearingReadOnly(HANDLE file, DWORD attributes);

// Test seam: told of every name openForDeletion is about to open, with its
// full name ("\\?\C:\...") as the held folder was reached, after the folder
// was decided on and before the name is opened. Null (the default) tells no one.
using DeletionWatch = void (*)(const std::wstring& path);
extern DeletionWatch deletionWatch;

// Opens a name (one level) in an open folder relative to it, never through a
// link there (FILE_OPEN_REPARSE_POINT): for callers that refuse every link and
// check the attributes themselves. Returns 0 or the error.
DWORD openRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, DWORD share, FileHandle* out);

// Test seam: told of every folder and file this module creates, with its full
// name ("\\?\C:\...") and the descriptor passed (null: the defaults), since
// Wine keeps no access lists to read back. Null (the default) tells no one.
using CreationWatch = void (*)(const std::wstring& path, bool folder, PSECURITY_DESCRIPTOR security);
extern CreationWatch creationWatch;

// Marks an open file or folder for deletion when its last handle closes (it
// must be open with DELETE access). Returns 0 or the error
// (ERROR_DIR_NOT_EMPTY for a folder that holds anything).
DWORD deleteOnClose(HANDLE file);

// The attributes of an open file as its handle tells them
// (FileAttributeTagInformation). Returns 0 or the error.
DWORD handleAttributes(HANDLE file, DWORD* attributes);

// Sets an open file's attributes (FileBasicInformation; 0 is taken as
// FILE_ATTRIBUTE_NORMAL). Returns 0 or the error.
DWORD setAttributes(HANDLE file, DWORD attributes);

// The number of names of an open file, 0 when it cannot be told.
ULONG linkCount(HANDLE file);

// Sets an open file's length (FileEndOfFileInformation). Returns 0 or the error.
DWORD setLength(HANDLE file, ULONGLONG length);

}  // namespace win

#include "platform/held_folder.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "platform/file_names.h"
#include "platform/path_forms.h"

namespace win {

namespace {

// The NT calls and structures, declared here: mingw's winternl.h lacks most,
// and ntdll is mapped into every process, so they are found without loading
// anything, on every Windows since NT.
typedef LONG NtStatus;
struct UnicodeText {
  USHORT Length;
  USHORT MaximumLength;
  PWSTR Buffer;
};
struct ObjectAttributes {
  ULONG Length;
  HANDLE RootDirectory;
  UnicodeText* ObjectName;
  ULONG Attributes;
  PVOID SecurityDescriptor;
  PVOID SecurityQualityOfService;
};
struct IoStatusBlock {
  union {
    NtStatus Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
};
struct FileBasicInformation {
  LARGE_INTEGER CreationTime, LastAccessTime, LastWriteTime, ChangeTime;  // 0: unchanged
  ULONG FileAttributes;
};
struct FileStandardInformation {
  LARGE_INTEGER AllocationSize, EndOfFile;
  ULONG NumberOfLinks;
  BOOLEAN DeletePending, Directory;
};
struct FileAttributeTagInformation {
  ULONG FileAttributes;
  ULONG ReparseTag;
};
struct FileDispositionInformation {
  BOOLEAN DeleteFile;
};
struct FileEndOfFileInformation {
  LARGE_INTEGER EndOfFile;
};
struct FileRenameInformation {
  BOOLEAN ReplaceIfExists;
  HANDLE RootDirectory;
  ULONG FileNameLength;
  WCHAR FileName[1];
};

const int kFileBasicInformation = 4;
const int kFileStandardInformation = 5;
const int kFileRenameInformation = 10;
const int kFileDispositionInformation = 13;
const int kFileEndOfFileInformation = 20;
const int kFileAttributeTagInformation = 35;

const ULONG kObjCaseInsensitive = 0x40;
const ULONG kFileOpen = 1;
const ULONG kFileCreate = 2;
const ULONG kFileDirectoryFile = 0x1;
const ULONG kFileSynchronousIoNonAlert = 0x20;
const ULONG kFileNonDirectoryFile = 0x40;
const ULONG kFileOpenForBackupIntent = 0x4000;
const ULONG kFileOpenReparsePoint = 0x200000;
const ULONG_PTR kFileCreated = 2;
const NtStatus kStatusObjectNameCollision = static_cast<NtStatus>(0xC0000035);
const NtStatus kStatusObjectNameNotFound = static_cast<NtStatus>(0xC0000034);
const NtStatus kStatusObjectPathNotFound = static_cast<NtStatus>(0xC000003A);

using NtCreateFileFn = NtStatus(WINAPI*)(PHANDLE, ACCESS_MASK, ObjectAttributes*, IoStatusBlock*, PLARGE_INTEGER,
                                         ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtSetInformationFileFn = NtStatus(WINAPI*)(HANDLE, IoStatusBlock*, PVOID, ULONG, int);
using NtQueryInformationFileFn = NtStatus(WINAPI*)(HANDLE, IoStatusBlock*, PVOID, ULONG, int);
using RtlNtStatusToDosErrorFn = ULONG(WINAPI*)(NtStatus);

template <typename Fn>
Fn procedure(const wchar_t* module, const char* name) {
  HMODULE m = GetModuleHandleW(module);
  return m ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m, name))) : nullptr;
}

struct NtCalls {
  NtCreateFileFn createFile = procedure<NtCreateFileFn>(L"ntdll.dll", "NtCreateFile");
  NtSetInformationFileFn setInformation = procedure<NtSetInformationFileFn>(L"ntdll.dll", "NtSetInformationFile");
  NtQueryInformationFileFn queryInformation =
      procedure<NtQueryInformationFileFn>(L"ntdll.dll", "NtQueryInformationFile");
  RtlNtStatusToDosErrorFn toDosError = procedure<RtlNtStatusToDosErrorFn>(L"ntdll.dll", "RtlNtStatusToDosError");
  bool complete() const { return createFile && setInformation && queryInformation && toDosError; }
};

const NtCalls& nt() {
  static const NtCalls calls;
  return calls;
}

DWORD toError(NtStatus status) {
  if (status == kStatusObjectNameCollision) return ERROR_FILE_EXISTS;
  return nt().toDosError ? static_cast<DWORD>(nt().toDosError(status)) : static_cast<DWORD>(ERROR_GEN_FAILURE);
}

// A name relative to a root handle, for one call.
class RelativeName {
 public:
  RelativeName(HANDLE root, const std::wstring& name, PSECURITY_DESCRIPTOR security = nullptr) : name_(name) {
    text_.Length = static_cast<USHORT>(name_.size() * sizeof(wchar_t));
    text_.MaximumLength = text_.Length;
    text_.Buffer = name_.empty() ? nullptr : &name_[0];
    attributes_.Length = sizeof(attributes_);
    attributes_.RootDirectory = root;
    attributes_.ObjectName = &text_;
    attributes_.Attributes = kObjCaseInsensitive;
    attributes_.SecurityDescriptor = security;
    attributes_.SecurityQualityOfService = nullptr;
  }
  RelativeName(const RelativeName&) = delete;
  RelativeName& operator=(const RelativeName&) = delete;
  ObjectAttributes* get() { return &attributes_; }
  bool fits() const { return name_.size() * sizeof(wchar_t) < 0xFFFF; }

 private:
  std::wstring name_;
  UnicodeText text_ = {};
  ObjectAttributes attributes_ = {};
};

// NtCreateFile relative to root. Returns 0 or the error; *created when it made the object.
DWORD ntOpen(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
             ULONG options, PSECURITY_DESCRIPTOR security, FileHandle* out, bool* created) {
  if (!nt().complete()) return ERROR_PROC_NOT_FOUND;
  if (name.empty() || name.find(L'\\') != std::wstring::npos || name.find(L'/') != std::wstring::npos ||
      name == L"." || name == L"..") {
    return ERROR_INVALID_NAME;
  }
  RelativeName relative(root, name, security);
  if (!relative.fits()) return ERROR_FILENAME_EXCED_RANGE;
  IoStatusBlock io = {};
  HANDLE h = nullptr;
  NtStatus s = nt().createFile(&h, access | SYNCHRONIZE, relative.get(), &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                               disposition, options | kFileSynchronousIoNonAlert, nullptr, 0);
  if (s < 0) {
    if (s == kStatusObjectNameNotFound) return ERROR_FILE_NOT_FOUND;
    if (s == kStatusObjectPathNotFound) return ERROR_PATH_NOT_FOUND;
    return toError(s);
  }
  out->reset(h);
  if (created) *created = io.Information == kFileCreated;
  return ERROR_SUCCESS;
}

DWORD attributeTag(HANDLE h, DWORD* attributes) {
  if (!nt().queryInformation) return ERROR_PROC_NOT_FOUND;
  FileAttributeTagInformation info = {};
  IoStatusBlock io = {};
  NtStatus s = nt().queryInformation(h, &io, &info, sizeof(info), kFileAttributeTagInformation);
  if (s < 0) return toError(s);
  *attributes = info.FileAttributes;
  return ERROR_SUCCESS;
}

// The full name of a name in a folder whose full name is known.
std::wstring joined(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return std::wstring();
  return folder.back() == L'\\' ? folder + name : folder + L"\\" + name;
}

// Whether a name is a link as its name says, asked by its full name. On
// Windows the handle opened with FILE_OPEN_REPARSE_POINT already tells, and
// is what decides; Wine shows a Unix link as a reparse point only here
// (opened, it is its target, and neither a directory listing nor a query
// relative to a handle shows a link to a file). It can only make the answer
// "a link", which takes the careful way, never the other.
bool namedAsLink(const std::wstring& path) {
  if (path.empty()) return false;
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Traversal of a level, and a hold on it: FILE_TRAVERSE takes part in
// sharing, so a level opened without FILE_SHARE_DELETE cannot be renamed or
// removed by anyone while its handle is open.
const ACCESS_MASK kLevelAccess = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
const ULONG kLevelOptions = kFileDirectoryFile | kFileOpenForBackupIntent;

// Case-insensitive for every letter the system folds, for two spellings that
// both came from the file system.
bool sameName(std::wstring a, std::wstring b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  CharUpperBuffW(&a[0], static_cast<DWORD>(a.size()));
  CharUpperBuffW(&b[0], static_cast<DWORD>(b.size()));
  return a == b;
}

// Whether what has the final path child lies directly in the folder whose
// final path is parent; true when either is unknown (XP), where the handles'
// attributes alone decide. The name is not compared: the path that led there
// may spell it by its 8.3 name.
bool directlyIn(const std::wstring& child, const std::wstring& parent) {
  if (child.empty() || parent.empty()) return true;
  const std::wstring c = plainForm(child), p = plainForm(parent);
  return sameName(parentPath(c), p) && pathDepth(c) == pathDepth(p) + 1;
}

// The name itself in parent, not where a link there leads; held (without
// FILE_SHARE_DELETE) while it is decided on, so that it cannot be removed and
// made again meanwhile. For deletion a level someone else holds with delete
// access is taken shared for deletion too: the checks still apply.
DWORD openNode(HANDLE parent, const std::wstring& name, Links links, FileHandle* node) {
  const ULONG options = kLevelOptions | kFileOpenReparsePoint;
  DWORD error = ntOpen(parent, name, kLevelAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, kFileOpen, options, nullptr,
                       node, nullptr);
  if (error == ERROR_SHARING_VIOLATION && links == Links::Refused) {
    error = ntOpen(parent, name, kLevelAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kFileOpen,
                   options, nullptr, node, nullptr);
  }
  return error;
}

// Where a walk is: the open level, its full name and, for Links::Refused,
// its final path.
struct Level {
  HANDLE handle;
  std::wstring path;
  std::wstring final;
};

// One level below parent: opened (made first when create allows), checked,
// and when it is a link followed only as links and linkMayBeFollowed decide.
// *final receives its final path for Links::Refused.
DWORD openLevel(const Level& parent, const std::wstring& name, bool create, bool last, PSECURITY_DESCRIPTOR security,
                Links links, FileHandle* out, std::wstring* final) {
  const ULONG share = last ? (FILE_SHARE_READ | FILE_SHARE_WRITE) : (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  FileHandle node;
  DWORD error = openNode(parent.handle, name, links, &node);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    if (!create) return ERROR_PATH_NOT_FOUND;
    error = ntOpen(parent.handle, name, kLevelAccess, share, kFileCreate, kLevelOptions | kFileOpenReparsePoint,
                   security, out, nullptr);
    if (error == ERROR_SUCCESS && creationWatch != nullptr) creationWatch(joined(parent.path, name), true, security);
    if (error == ERROR_SUCCESS && links == Links::Refused) *final = finalPathByHandle(out->get());
    if (error != ERROR_FILE_EXISTS) return error;
    // Made by someone else meanwhile: taken like any existing level.
    error = openNode(parent.handle, name, links, &node);
  }
  if (error != ERROR_SUCCESS) return error;
  DWORD held = 0;
  error = attributeTag(node.get(), &held);
  if (error != ERROR_SUCCESS) return error;
  if (!(held & FILE_ATTRIBUTE_REPARSE_POINT) && !namedAsLink(joined(parent.path, name))) {
    if (!(held & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_DIRECTORY;
    if (links == Links::Refused) {
      *final = finalPathByHandle(node.get());
      if (!directlyIn(*final, parent.final)) return kErrorStoppedOnLink;
    }
    *out = std::move(node);
    return ERROR_SUCCESS;
  }
  if (links == Links::Refused) return kErrorStoppedOnLink;
  FileHandle target;
  error = ntOpen(parent.handle, name, kLevelAccess, share, kFileOpen, kLevelOptions, nullptr, &target, nullptr);
  if (error != ERROR_SUCCESS) return error;
  if (!linkMayBeFollowed(node.get(), target.get())) return ERROR_ACCESS_DENIED;
  *out = std::move(target);
  return ERROR_SUCCESS;
}

// Opens levels one below the other from the open level from, each relative
// to the one above; *out is the last, *path its full name, *final its final
// path (Links::Refused).
DWORD walk(const Level& from, const std::vector<std::wstring>& levels, bool create, PSECURITY_DESCRIPTOR security,
           Links links, FileHandle* out, std::wstring* path, std::wstring* final) {
  FileHandle current;
  Level parent = from;
  if (links == Links::Refused && parent.final.empty()) parent.final = finalPathByHandle(parent.handle);
  for (size_t i = 0; i < levels.size(); ++i) {
    FileHandle next;
    std::wstring nextFinal;
    DWORD error = openLevel(parent, levels[i], create, i + 1 == levels.size(), security, links, &next, &nextFinal);
    if (error != ERROR_SUCCESS) return error;
    current = std::move(next);
    parent.handle = current.get();
    parent.path = joined(parent.path, levels[i]);
    parent.final = nextFinal;
  }
  *out = std::move(current);
  *path = parent.path;
  *final = parent.final;
  return ERROR_SUCCESS;
}

// ---- who may follow a link -------------------------------------------------

// TrustedInstaller, the service that owns the system's own files.
const wchar_t kTrustedInstallerSid[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool isAdministrativeOwner(PSID owner) {
  if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid)) return true;
  PSID trusted = nullptr;
  bool same = false;
  if (ConvertStringSidToSidW(kTrustedInstallerSid, &trusted)) {
    same = EqualSid(owner, trusted) != FALSE;
    LocalFree(trusted);
  }
  return same;
}

// authz.dll (XP and later), loaded by full path from the system folder.
struct AuthzCalls {
  using InitializeResourceManagerFn = BOOL(WINAPI*)(DWORD, PVOID, PVOID, PVOID, PCWSTR, PVOID*);
  using InitializeContextFromSidFn = BOOL(WINAPI*)(DWORD, PSID, PVOID, PLARGE_INTEGER, LUID, PVOID, PVOID*);
  using AccessCheckFn = BOOL(WINAPI*)(DWORD, PVOID, PVOID, PVOID, PSECURITY_DESCRIPTOR, PSECURITY_DESCRIPTOR*, DWORD,
                                      PVOID, PVOID);
  using FreeFn = BOOL(WINAPI*)(PVOID);
  HMODULE module = nullptr;
  InitializeResourceManagerFn initializeResourceManager = nullptr;
  InitializeContextFromSidFn initializeContextFromSid = nullptr;
  AccessCheckFn accessCheck = nullptr;
  FreeFn freeContext = nullptr;
  FreeFn freeResourceManager = nullptr;

  AuthzCalls() {
    wchar_t folder[MAX_PATH];
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH - 12) return;
    std::wstring path(folder, n);
    path += L"\\authz.dll";
    module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) return;
    initializeResourceManager = find<InitializeResourceManagerFn>("AuthzInitializeResourceManager");
    initializeContextFromSid = find<InitializeContextFromSidFn>("AuthzInitializeContextFromSid");
    accessCheck = find<AccessCheckFn>("AuthzAccessCheck");
    freeContext = find<FreeFn>("AuthzFreeContext");
    freeResourceManager = find<FreeFn>("AuthzFreeResourceManager");
  }
  template <typename Fn>
  Fn find(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
  bool complete() const {
    return initializeResourceManager && initializeContextFromSid && accessCheck && freeContext && freeResourceManager;
  }
};

const AuthzCalls& authz() {
  static const AuthzCalls calls;
  return calls;
}

// AUTHZ_ACCESS_REQUEST and AUTHZ_ACCESS_REPLY, as authz.h lays them out.
struct AccessRequest {
  ACCESS_MASK DesiredAccess;
  PSID PrincipalSelfSid;
  PVOID ObjectTypeList;
  DWORD ObjectTypeListLength;
  PVOID OptionalArguments;
};
struct AccessReply {
  DWORD ResultListLength;
  PACCESS_MASK GrantedAccessMask;
  PDWORD SaclEvaluationResults;
  PDWORD Error;
};

// Whether sid may add files and folders to the folder whose security is given.
bool sidMayWrite(PSID sid, PSECURITY_DESCRIPTOR folderSecurity) {
  const AuthzCalls& a = authz();
  if (!a.complete()) return false;
  const DWORD kNoAudit = 0x1;  // AUTHZ_RM_FLAG_NO_AUDIT
  PVOID manager = nullptr;
  if (!a.initializeResourceManager(kNoAudit, nullptr, nullptr, nullptr, nullptr, &manager)) return false;
  bool granted = false;
  PVOID context = nullptr;
  LUID none = {0, 0};
  if (a.initializeContextFromSid(0, sid, manager, nullptr, none, nullptr, &context)) {
    const ACCESS_MASK wanted = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;
    AccessRequest request = {wanted, nullptr, nullptr, 0, nullptr};
    ACCESS_MASK grantedMask = 0;
    DWORD error = ERROR_ACCESS_DENIED;
    AccessReply reply = {1, &grantedMask, nullptr, &error};
    if (a.accessCheck(0, context, &request, nullptr, folderSecurity, nullptr, 0, &reply, nullptr)) {
      granted = error == ERROR_SUCCESS && (grantedMask & wanted) == wanted;
    }
    a.freeContext(context);
  }
  a.freeResourceManager(manager);
  return granted;
}

}  // namespace

LinkDecision linkMayBeFollowed = ownerMayFollow;
CreationWatch creationWatch = nullptr;
DeletionWatch deletionWatch = nullptr;

bool ownerMayFollow(HANDLE link, HANDLE target) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR linkSecurity = nullptr;
  if (GetSecurityInfo(link, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &linkSecurity) != ERROR_SUCCESS) {
    return false;
  }
  bool follow = owner != nullptr && IsValidSid(owner) && isAdministrativeOwner(owner);
  if (!follow && owner != nullptr && IsValidSid(owner)) {
    PSECURITY_DESCRIPTOR targetSecurity = nullptr;
    if (GetSecurityInfo(target, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, nullptr, nullptr, &targetSecurity) == ERROR_SUCCESS) {
      follow = sidMayWrite(owner, targetSecurity);
      LocalFree(targetSecurity);
    }
  }
  LocalFree(linkSecurity);
  return follow;
}

bool enableRedirectionGuard() {
  using SetPolicyFn = BOOL(WINAPI*)(int, PVOID, SIZE_T);
  auto set = procedure<SetPolicyFn>(L"kernel32.dll", "SetProcessMitigationPolicy");
  if (!set) return false;
  const int kProcessRedirectionTrustPolicy = 16;
  DWORD flags = 0x1;  // EnforceRedirectionTrust
  return set(kProcessRedirectionTrustPolicy, &flags, sizeof(flags)) != FALSE;
}

DWORD HeldFolder::open(const std::wstring& path, bool create, PSECURITY_DESCRIPTOR security, Links links) {
  release();
  std::wstring root;
  std::vector<std::wstring> levels;
  if (!splitPath(path, &root, &levels)) return ERROR_INVALID_NAME;
  // The root is opened by its name: a drive or share, never a link someone made.
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (levels.empty() ? 0 : FILE_SHARE_DELETE);
  FileHandle top(CreateFileW(root.c_str(), kLevelAccess, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                             nullptr));
  if (!top.valid() && levels.empty() && GetLastError() == ERROR_SHARING_VIOLATION) {
    top.reset(CreateFileW(root.c_str(), kLevelAccess, share | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  }
  if (!top.valid()) return GetLastError();
  if (levels.empty()) {
    handle_ = std::move(top);
    path_ = root;
    if (links == Links::Refused) final_ = finalPathByHandle(handle_.get());
    return ERROR_SUCCESS;
  }
  return walk(Level{top.get(), root, std::wstring()}, levels, create, security, links, &handle_, &path_, &final_);
}

DWORD HeldFolder::openBelow(const HeldFolder& base, const std::wstring& relative, bool create,
                            PSECURITY_DESCRIPTOR security, Links links) {
  release();
  if (!base.valid()) return ERROR_INVALID_HANDLE;
  std::vector<std::wstring> levels;
  if (!splitRelative(relative, &levels) || levels.empty()) return ERROR_INVALID_NAME;
  return walk(Level{base.get(), base.path_, base.final_}, levels, create, security, links, &handle_, &path_, &final_);
}

DWORD HeldFolder::createSubfolder(const std::wstring& name, PSECURITY_DESCRIPTOR security, HeldFolder* out) const {
  out->release();
  if (!valid()) return ERROR_INVALID_HANDLE;
  DWORD error = ntOpen(get(), name, kLevelAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       kFileCreate, kLevelOptions | kFileOpenReparsePoint, security, &out->handle_, nullptr);
  if (error == ERROR_SUCCESS) {
    out->path_ = joined(path_, name);
    if (creationWatch != nullptr) creationWatch(out->path_, true, security);
  }
  return error == ERROR_FILE_EXISTS ? static_cast<DWORD>(ERROR_ALREADY_EXISTS) : error;
}

DWORD HeldFolder::openFile(const std::wstring& name, ACCESS_MASK access, DWORD share, ULONG disposition,
                           FileHandle* out, bool* created, PSECURITY_DESCRIPTOR security) const {
  if (!valid()) return ERROR_INVALID_HANDLE;
  bool made = false;
  const DWORD error = ntOpen(get(), name, access, share, disposition,
                             kFileNonDirectoryFile | kFileOpenReparsePoint | kFileOpenForBackupIntent, security, out,
                             &made);
  if (created != nullptr) *created = made;
  if (error == ERROR_SUCCESS && made && creationWatch != nullptr) creationWatch(joined(path_, name), false, security);
  return error;
}

DWORD HeldFolder::createTemporary(const std::wstring& prefix, FileHandle* out, std::wstring* name,
                                  PSECURITY_DESCRIPTOR security) const {
  using RtlGenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
  auto generate = procedure<RtlGenRandomFn>(L"advapi32.dll", "SystemFunction036");
  DWORD error = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 16 && error == ERROR_FILE_EXISTS; ++attempt) {
    ULONG bits = 0;
    if (!generate || !generate(&bits, sizeof(bits))) {
      LARGE_INTEGER counter;
      QueryPerformanceCounter(&counter);
      bits = static_cast<ULONG>(counter.QuadPart * 2654435761u) ^ GetCurrentProcessId() ^ (attempt << 24);
    }
    wchar_t digits[16];
    wsprintfW(digits, L"%08lX.tmp", static_cast<unsigned long>(bits));
    *name = prefix + digits;
    error = openFile(*name, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, kFileCreate, out, nullptr, security);
  }
  return error;
}

DWORD HeldFolder::moveInto(HANDLE file, const std::wstring& name, bool replace) const {
  if (!nt().setInformation) return ERROR_PROC_NOT_FOUND;
  if (!valid()) return ERROR_INVALID_HANDLE;
  if (name.empty() || name.find_first_of(L"\\/") != std::wstring::npos || name == L"." || name == L"..") {
    return ERROR_INVALID_NAME;
  }
  std::vector<BYTE> buffer(sizeof(FileRenameInformation) + name.size() * sizeof(wchar_t));
  auto* info = reinterpret_cast<FileRenameInformation*>(buffer.data());
  info->ReplaceIfExists = replace ? TRUE : FALSE;
  info->RootDirectory = get();
  info->FileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
  memcpy(info->FileName, name.data(), info->FileNameLength);
  IoStatusBlock io = {};
  NtStatus s = nt().setInformation(file, &io, info, static_cast<ULONG>(buffer.size()), kFileRenameInformation);
  return s < 0 ? toError(s) : ERROR_SUCCESS;
}

DWORD HeldFolder::inspect(const std::wstring& name, NameInfo* info) const {
  *info = NameInfo();
  if (!valid()) return ERROR_INVALID_HANDLE;
  FileHandle h;
  DWORD error = ntOpen(get(), name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       kFileOpen, kFileOpenReparsePoint | kFileOpenForBackupIntent, nullptr, &h, nullptr);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    // A link whose target is gone is still a name.
    if (namedAsLink(joined(path_, name))) {
      info->exists = true;
      info->attributes = FILE_ATTRIBUTE_REPARSE_POINT;
    }
    return ERROR_SUCCESS;
  }
  if (error != ERROR_SUCCESS) return error;
  DWORD held = 0;
  error = attributeTag(h.get(), &held);
  if (error != ERROR_SUCCESS) return error;
  info->exists = true;
  info->attributes = held | (namedAsLink(joined(path_, name)) ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
  info->links = linkCount(h.get());
  return ERROR_SUCCESS;
}

bool HeldFolder::holds(HANDLE file, const std::wstring& name) const {
  std::wstring folder = finalPathByHandle(get());
  std::wstring opened = finalPathByHandle(file);
  if (folder.empty() || opened.empty()) return true;
  return sameName(joined(folder, name), opened);
}

DWORD HeldFolder::remove(const std::wstring& name) const {
  if (!valid()) return ERROR_INVALID_HANDLE;
  FileHandle h;
  DWORD error = ntOpen(get(), name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kFileOpen,
                       kFileOpenReparsePoint | kFileOpenForBackupIntent, nullptr, &h, nullptr);
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) return error;
  DWORD attributes = 0;
  if (attributeTag(h.get(), &attributes) != ERROR_SUCCESS) attributes = 0;
  return deleteClearingReadOnly(h.get(), attributes);
}

DWORD HeldFolder::openForDeletion(const std::wstring& name, FileHandle* out, DWORD* attributes) const {
  out->reset();
  *attributes = 0;
  if (!valid()) return ERROR_INVALID_HANDLE;
  if (deletionWatch != nullptr) deletionWatch(joined(path_, name));
  DWORD error = ntOpen(get(), name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kFileOpen,
                       kFileOpenReparsePoint | kFileOpenForBackupIntent, nullptr, out, nullptr);
  if (error != ERROR_SUCCESS) return error;
  error = attributeTag(out->get(), attributes);
  if (error != ERROR_SUCCESS) {
    out->reset();
    return error;
  }
  // The folder's final path as it is now: what counts is that the item lies
  // in the folder this handle holds, wherever that folder was moved.
  if (namedAsLink(joined(path_, name)) || !directlyIn(finalPathByHandle(out->get()), finalPathByHandle(get()))) {
    *attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  }
  return ERROR_SUCCESS;
}

DWORD deleteClearingReadOnly(HANDLE file, DWORD attributes) {
  bool cleared = false;
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    cleared = setAttributes(file, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) == ERROR_SUCCESS;
  }
  // A folder that is not empty gives ERROR_DIR_NOT_EMPTY and stays.
  DWORD error = deleteOnClose(file);
  if (error != ERROR_SUCCESS && cleared) setAttributes(file, attributes);
  return error;
}

DWORD openRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, DWORD share, FileHandle* out) {
  return ntOpen(folder, name, access, share, kFileOpen, kFileOpenReparsePoint | kFileOpenForBackupIntent, nullptr, out,
                nullptr);
}

DWORD handleAttributes(HANDLE file, DWORD* attributes) { return attributeTag(file, attributes); }

DWORD deleteOnClose(HANDLE file) {
  if (!nt().setInformation) return ERROR_PROC_NOT_FOUND;
  FileDispositionInformation info = {TRUE};
  IoStatusBlock io = {};
  NtStatus s = nt().setInformation(file, &io, &info, sizeof(info), kFileDispositionInformation);
  return s < 0 ? toError(s) : ERROR_SUCCESS;
}

DWORD setAttributes(HANDLE file, DWORD attributes) {
  if (!nt().setInformation) return ERROR_PROC_NOT_FOUND;
  FileBasicInformation info = {};
  info.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  IoStatusBlock io = {};
  NtStatus s = nt().setInformation(file, &io, &info, sizeof(info), kFileBasicInformation);
  return s < 0 ? toError(s) : ERROR_SUCCESS;
}

ULONG linkCount(HANDLE file) {
  if (!nt().queryInformation) return 0;
  FileStandardInformation info = {};
  IoStatusBlock io = {};
  NtStatus s = nt().queryInformation(file, &io, &info, sizeof(info), kFileStandardInformation);
  return s < 0 ? 0 : info.NumberOfLinks;
}

DWORD setLength(HANDLE file, ULONGLONG length) {
  if (!nt().setInformation) return ERROR_PROC_NOT_FOUND;
  FileEndOfFileInformation info = {};
  info.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
  IoStatusBlock io = {};
  NtStatus s = nt().setInformation(file, &io, &info, sizeof(info), kFileEndOfFileInformation);
  return s < 0 ? toError(s) : ERROR_SUCCESS;
}

}  // namespace win

#include "platform/protected_security.h"

#include <sddl.h>

const wchar_t kProductFolderSddl[] = L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const wchar_t kElevatedFileSddl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";

ProtectedSecurity::ProtectedSecurity(const wchar_t* sddl) {
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor_, nullptr)) {
    descriptor_ = nullptr;
    return;
  }
  attributes_.nLength = sizeof(attributes_);
  attributes_.lpSecurityDescriptor = descriptor_;
  attributes_.bInheritHandle = FALSE;
}

ProtectedSecurity::~ProtectedSecurity() {
  if (descriptor_ != nullptr) LocalFree(descriptor_);
}

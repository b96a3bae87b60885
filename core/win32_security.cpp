#include "core/win32_security.h"

#include "core/win32_support.h"

namespace pellamar::windows {
namespace {

constexpr SECURITY_INFORMATION kKept =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// The errors of a file system that keeps no security at all.
bool KeepsNoSecurity(DWORD error) {
  return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

// The token that AccessCheck weighs: the thread's, where it acts for
// someone, else the process's, as one to impersonate.
Handle AccessToken() {
  HANDLE token = nullptr;
  if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) return Handle(token);
  HANDLE process = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &process)) {
    return Handle();
  }
  const Handle owned(process);
  if (!DuplicateToken(process, SecurityIdentification, &token)) return Handle();
  return Handle(token);
}

}  // namespace

DWORD ReadSecurity(const std::wstring& path, std::vector<BYTE>* descriptor) {
  descriptor->clear();
  DWORD needed = 0;
  for (int tries = 0; tries < 3; ++tries) {  // it may grow between the calls
    const DWORD size = static_cast<DWORD>(descriptor->size());
    if (GetFileSecurityW(path.c_str(), kKept, descriptor->data(), size, &needed)) {
      if (needed > 0 && needed < size) descriptor->resize(needed);
      return 0;
    }
    const DWORD error = GetLastError();
    if (KeepsNoSecurity(error)) {
      descriptor->clear();
      return 0;
    }
    if (error != ERROR_INSUFFICIENT_BUFFER) return error;
    descriptor->resize(needed);
  }
  return ERROR_INSUFFICIENT_BUFFER;
}

DWORD GiveSecurity(const std::wstring& path, const std::vector<BYTE>& descriptor) {
  if (descriptor.empty()) return 0;
  auto* sd = const_cast<BYTE*>(descriptor.data());
  if (SetFileSecurityW(path.c_str(), kKept, sd)) return 0;
  if (SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, sd)) return 0;
  const DWORD error = GetLastError();
  return KeepsNoSecurity(error) ? 0 : error;
}

DWORD CheckAccess(const std::wstring& path, DWORD access, bool* granted) {
  *granted = true;
  std::vector<BYTE> descriptor;
  const DWORD error = ReadSecurity(path, &descriptor);
  if (error != 0 || descriptor.empty()) return error;
  const Handle token = AccessToken();
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
  MapGenericMask(&access, &mapping);
  PRIVILEGE_SET privileges{};
  DWORD privileges_size = sizeof(privileges);
  DWORD allowed = 0;
  BOOL status = FALSE;
  // A check that cannot be made says nothing: the open will.
  if (token.valid() && AccessCheck(descriptor.data(), token.get(), access, &mapping, &privileges,
                                   &privileges_size, &allowed, &status)) {
    *granted = status != FALSE;
  }
  return 0;
}

}  // namespace pellamar::windows

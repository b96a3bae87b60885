// Who may do what with a file on Windows: its security descriptor (owner,
// group and DACL), read to be carried onto the file that replaces it, and
// asked whether it lets whoever runs the program write it. Windows builds
// only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace pellamar::windows {

// The security descriptor of the file at `path`, its owner, group and DACL,
// in `*descriptor`; 0, or the Windows error when it cannot be read. A file
// system that keeps no security (FAT, some shares) gives 0 and an empty
// descriptor.
DWORD ReadSecurity(const std::wstring& path, std::vector<BYTE>* descriptor);

// Gives the file at `path` the owner, group and DACL of `descriptor`, from
// ReadSecurity; the DACL alone where the owner may not be given (another
// user's). 0, or the Windows error when not even the DACL could be given.
DWORD GiveSecurity(const std::wstring& path, const std::vector<BYTE>& descriptor);

// Whether the file at `path` lets whoever runs the program have `access`,
// as Windows would decide it at an open, asked without opening the file:
// 0 with `*granted`, or the Windows error when its security cannot be
// read. A file system that keeps no security grants everything.
DWORD CheckAccess(const std::wstring& path, DWORD access, bool* granted);

}  // namespace pellamar::windows

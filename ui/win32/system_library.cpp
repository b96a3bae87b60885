#include "ui/win32/system_library.h"

#include <string>

namespace pellamar::win32 {

void LoadLibrariesFromSystemFolderOnly() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const auto set_default_dll_directories =
      SystemFunction<SetDefaultDllDirectoriesFunction>(L"kernel32.dll", "SetDefaultDllDirectories");
  if (set_default_dll_directories == nullptr) return;
  set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// By its full path, which every Windows takes as it is; the DLLs that it
// needs in turn are looked for in its own folder first, not beside the
// program.
HMODULE LoadSystemLibrary(const wchar_t* library) {
  std::wstring path(MAX_PATH, L'\0');
  const UINT n = GetSystemDirectoryW(path.data(), MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return nullptr;
  path.resize(n);
  path += L'\\';
  path += library;
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace pellamar::win32

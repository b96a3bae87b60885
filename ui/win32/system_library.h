// Windows' own DLLs, loaded from the system folder only. Windows takes its
// known DLLs (kernel32, user32, shell32, ...) from there whatever a program
// asks, but any other DLL named without a folder, oleacc.dll for one, it
// first looks for beside the program, where a download may have put a file
// of that name.
#pragma once

#include <windows.h>

namespace pellamar::win32 {

// Makes every later load of a DLL named without a folder, those that
// Windows' own DLLs make for the program included, look in the system
// folder only. Where Windows lacks the call for it (Windows 7 without its
// update KB2533623) nothing changes. Call it first thing in the program.
void LoadLibrariesFromSystemFolderOnly();

// The system's DLL `library` (a file name, "oleacc.dll"), loaded from the
// system folder; nullptr when it cannot be.
HMODULE LoadSystemLibrary(const wchar_t* library);

// The entry point `name` of the system's DLL `library` as a `Function`, or
// nullptr when there is none.
template <typename Function>
Function SystemFunction(const wchar_t* library, const char* name) {
  const HMODULE module = LoadSystemLibrary(library);
  if (module == nullptr) return nullptr;
  // Through the generic function pointer type, which converts to any other.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace pellamar::win32

// A DLL under the name of a system DLL that is none of Windows' known DLLs
// (oleacc.dll), as a download may put one beside Pellamar.exe. Loaded, it
// leaves the file "planted-library-loaded" beside itself; its entry points
// do nothing.
#include <windows.h>
// After windows.h, which it needs.
#include <oleacc.h>

#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID /*reserved*/) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size())));
  path = path.substr(0, path.rfind(L'\\') + 1) + L"planted-library-loaded";
  const HANDLE mark =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
  return TRUE;
}

extern "C" HRESULT WINAPI CreateStdAccessibleObject(HWND, LONG, REFIID, void** object) {
  *object = nullptr;
  return E_FAIL;
}

extern "C" LRESULT WINAPI LresultFromObject(REFIID, WPARAM, LPUNKNOWN) { return 0; }

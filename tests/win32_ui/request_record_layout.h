// Where the members of the dialogs' request record sit, written out by hand
// for both builds, so tests compare the record with an independent account
// of it rather than with the headers it was compiled from. The record is
// the "version 400" form: lStructSize up to and including lpTemplateName.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commdlg.h>

#include <cstddef>

namespace pellamar::testing {

struct RequestRecordLayout {
  std::size_t size;     // what lStructSize says: the end of lpTemplateName
  std::size_t pointer;  // the width of a handle, a pointer and an LPARAM
  std::size_t hwndOwner, hInstance, lpstrFilter, lpstrCustomFilter, nMaxCustFilter, nFilterIndex,
      lpstrFile, nMaxFile, lpstrFileTitle, nMaxFileTitle, lpstrInitialDir, lpstrTitle, Flags,
      nFileOffset, nFileExtension, lpstrDefExt, lCustData, lpfnHook, lpTemplateName;
};

// 32-bit Windows, the program's own build: 76 bytes, no padding
// (OPENFILENAME_SIZE_VERSION_400W).
inline constexpr RequestRecordLayout kI686Layout{76, 4,  4,  8,  12, 16, 20, 24, 28, 32, 36,
                                                 40, 44, 48, 52, 56, 58, 60, 64, 68, 72};

// 64-bit Windows: pointers of 8 bytes, each aligned to 8, so the 32-bit
// members before a pointer are followed by 4 bytes of padding.
inline constexpr RequestRecordLayout kX8664Layout{136, 8,  8,  16, 24,  32,  40,  44,  48,  56, 64,
                                                  72,  80, 88, 96, 100, 102, 104, 112, 120, 128};

constexpr bool DescribesThisBuild(const RequestRecordLayout& layout) {
  using Record = OPENFILENAMEW;
  return sizeof(void*) == layout.pointer && offsetof(Record, hwndOwner) == layout.hwndOwner &&
         offsetof(Record, hInstance) == layout.hInstance &&
         offsetof(Record, lpstrFilter) == layout.lpstrFilter &&
         offsetof(Record, lpstrCustomFilter) == layout.lpstrCustomFilter &&
         offsetof(Record, nMaxCustFilter) == layout.nMaxCustFilter &&
         offsetof(Record, nFilterIndex) == layout.nFilterIndex &&
         offsetof(Record, lpstrFile) == layout.lpstrFile &&
         offsetof(Record, nMaxFile) == layout.nMaxFile &&
         offsetof(Record, lpstrFileTitle) == layout.lpstrFileTitle &&
         offsetof(Record, nMaxFileTitle) == layout.nMaxFileTitle &&
         offsetof(Record, lpstrInitialDir) == layout.lpstrInitialDir &&
         offsetof(Record, lpstrTitle) == layout.lpstrTitle &&
         offsetof(Record, Flags) == layout.Flags &&
         offsetof(Record, nFileOffset) == layout.nFileOffset &&
         offsetof(Record, nFileExtension) == layout.nFileExtension &&
         offsetof(Record, lpstrDefExt) == layout.lpstrDefExt &&
         offsetof(Record, lCustData) == layout.lCustData &&
         offsetof(Record, lpfnHook) == layout.lpfnHook &&
         offsetof(Record, lpTemplateName) == layout.lpTemplateName &&
         layout.lpTemplateName + layout.pointer == layout.size;
}

// The layout of the build being compiled. The 32-bit build, the one that
// ships, is held to the 76-byte record when it compiles.
static_assert(sizeof(void*) != 4 || DescribesThisBuild(kI686Layout),
              "the 32-bit record must be the 76-byte OPENFILENAME_SIZE_VERSION_400W form");
static_assert(sizeof(void*) != 8 || DescribesThisBuild(kX8664Layout));
inline constexpr RequestRecordLayout kLayout = sizeof(void*) == 4 ? kI686Layout : kX8664Layout;

}  // namespace pellamar::testing

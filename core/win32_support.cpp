#include "core/win32_support.h"

#include <cstring>

#include "core/wide_text.h"

namespace pellamar::windows {
namespace {

// `text` in lower case, in the user's language: letters of any script.
std::wstring Lower(const std::wstring& text) {
  std::wstring lower(text.size(), L'\0');
  const int n = static_cast<int>(text.size());
  if (LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE, text.data(), n, lower.data(), n) != n) {
    return text;
  }
  return lower;
}

}  // namespace

// The system's own wording for `error`, in lower case, without its final
// full stop and line break.
std::string ErrorText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  const DWORD n =
      FormatMessageW(flags, nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text(buffer != nullptr ? buffer : L"", n);
  LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                           text.back() == L'.')) {
    text.pop_back();
  }
  if (text.empty()) return "error " + std::to_string(error);
  return Narrow(Lower(text));
}

Status ErrorStatus(Status::Kind kind, const std::string& what, const std::string& path,
                   DWORD error) {
  const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  if (kind == Status::Kind::kIoError && missing) kind = Status::Kind::kNotFound;
  return Status::Error(kind, what + " " + path, ErrorText(error));
}

Status ErrorStatus(const std::string& what, const std::string& path, DWORD error) {
  return ErrorStatus(Status::Kind::kIoError, what, path, error);
}

Status BadName(const std::string& path) {
  return Status::Error(Status::Kind::kNotFound, "cannot name " + path + " in UTF-16",
                       "the name is not valid text");
}

Status ReadOnly(const std::string& path) {
  return Status::Error(Status::Kind::kReadOnly, path + " is read-only");
}

std::optional<FileIdentity> IdentityFrom(std::uint64_t volume,
                                         const std::array<std::uint8_t, 16>& id) {
  std::uint64_t low = 0;
  std::uint64_t high = 0;
  std::memcpy(&low, id.data(), sizeof(low));
  std::memcpy(&high, id.data() + sizeof(low), sizeof(high));
  constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};
  if ((low == 0 && high == 0) || (low == kAllOnes && (high == 0 || high == kAllOnes))) {
    return std::nullopt;
  }
  return FileIdentity{volume, high, low};
}

std::optional<FileIdentity> IdentityOf(HANDLE file) {
  std::array<std::uint8_t, 16> id{};
  FILE_ID_INFO wide{};
  if (GetFileInformationByHandleEx(file, FileIdInfo, &wide, sizeof(wide))) {
    std::memcpy(id.data(), wide.FileId.Identifier, id.size());
    return IdentityFrom(wide.VolumeSerialNumber, id);
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  const std::uint64_t index =
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  std::memcpy(id.data(), &index, sizeof(index));
  return IdentityFrom(info.dwVolumeSerialNumber, id);
}

bool IsBusy(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

std::wstring ShellPath(const std::wstring& path) {
  if (path.starts_with(LR"(\\?\UNC\)")) return LR"(\\)" + path.substr(8);
  if (path.starts_with(LR"(\\?\)")) return path.substr(4);
  return path;
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

}  // namespace pellamar::windows

#include "core/win32_support.h"

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

std::optional<FileIdentity> IdentityOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber, 0,
                      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::optional<FileIdentity> IdentityAt(const std::wstring& path, DWORD flags) {
  Handle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
  if (!file.valid()) return std::nullopt;
  return IdentityOf(file.get());
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

}  // namespace pellamar::windows

#include "core/win32_entry.h"

#include <winioctl.h>

#include <cstring>
#include <vector>

#include "core/wide_text.h"

namespace pellamar::windows {
namespace {

// How many links a path may pass through before it is taken to go round,
// as Windows itself gives up.
constexpr int kMostLinks = 63;

// The start of a symbolic link's or a junction's data, as FSCTL_GET_REPARSE_POINT
// gives it (REPARSE_DATA_BUFFER, which only the driver kit declares).
struct LinkData {
  DWORD tag;
  WORD data_length;
  WORD reserved;
  WORD substitute_offset;  // in bytes, into the path buffer
  WORD substitute_length;  // in bytes
  WORD print_offset;
  WORD print_length;
};
constexpr DWORD kRelativeLink = 1;  // SYMLINK_FLAG_RELATIVE

Status NotAFile(const std::string& shown) {
  return Status::Error(Status::Kind::kNotAFile, shown + " is no file", "not a plain file");
}

// The path that the link open as `link` at `path` keeps; empty when it is
// of a kind that names no path.
std::wstring KeptPath(HANDLE link, const std::wstring& path) {
  std::vector<BYTE> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD got = 0;
  if (!DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                       static_cast<DWORD>(data.size()), &got, nullptr) ||
      got < sizeof(LinkData)) {
    return {};
  }
  LinkData head;
  std::memcpy(&head, data.data(), sizeof(head));
  std::size_t names = sizeof(LinkData);  // a junction's path buffer follows
  DWORD flags = 0;
  if (head.tag == IO_REPARSE_TAG_SYMLINK) {
    if (got < names + sizeof(flags)) return {};
    std::memcpy(&flags, data.data() + names, sizeof(flags));
    names += sizeof(flags);
  } else if (head.tag != IO_REPARSE_TAG_MOUNT_POINT) {
    return {};
  }
  const std::size_t start = names + head.substitute_offset;
  if (start + head.substitute_length > got) return {};
  std::wstring substitute(head.substitute_length / sizeof(wchar_t), L'\0');
  std::memcpy(substitute.data(), data.data() + start, substitute.size() * sizeof(wchar_t));
  return LinkDestination(substitute, (flags & kRelativeLink) != 0, FolderOf(path));
}

}  // namespace

TargetLook::Kind KindOf(DWORD attributes, DWORD reparse_tag) {
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return TargetLook::Kind::kFolder;
  const bool reparse = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (reparse && IsReparseTagNameSurrogate(reparse_tag)) return TargetLook::Kind::kLink;
  return TargetLook::Kind::kFile;
}

std::optional<Entry> OpenEntry(const std::wstring& path) {
  Entry entry;
  entry.handle = Handle(CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!entry.handle.valid()) return std::nullopt;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandleEx(entry.handle.get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
      !GetFileInformationByHandle(entry.handle.get(), &info)) {
    return std::nullopt;
  }
  entry.attributes = tag.FileAttributes;
  entry.links = info.nNumberOfLinks;
  entry.identity = IdentityOf(entry.handle.get());
  // A device or a pipe reached by a path of its own.
  const bool on_disk = GetFileType(entry.handle.get()) == FILE_TYPE_DISK;
  entry.kind = on_disk ? KindOf(tag.FileAttributes, tag.ReparseTag) : TargetLook::Kind::kOther;
  return entry;
}

std::wstring LinkDestination(std::wstring_view substitute, bool relative,
                             const std::wstring& folder) {
  if (relative) return LongPathFrom(folder, substitute);
  constexpr std::wstring_view kObjects = LR"(\??\)";
  if (!substitute.starts_with(kObjects)) return {};
  const std::wstring_view rest = substitute.substr(kObjects.size());
  const bool drive = rest.size() >= 3 && rest[1] == L':' && rest[2] == L'\\' &&
                     ((rest[0] >= L'A' && rest[0] <= L'Z') || (rest[0] >= L'a' && rest[0] <= L'z'));
  if (!drive && !rest.starts_with(LR"(UNC\)") && !rest.starts_with(L"Volume{")) return {};
  return std::wstring(LR"(\\?\)").append(rest);
}

std::optional<Entry> FinalEntry(const std::wstring& path, const std::string& shown,
                                bool* through_link, Status* status) {
  *through_link = false;
  std::wstring at = path;
  for (int links = 0; links <= kMostLinks; ++links) {
    std::optional<Entry> entry = OpenEntry(at);
    if (!entry) {
      *status = ErrorStatus("cannot open", shown, GetLastError());
      return std::nullopt;
    }
    if (entry->kind != TargetLook::Kind::kLink) return entry;
    *through_link = true;
    at = KeptPath(entry->handle.get(), at);
    if (at.empty()) {
      *status = NotAFile(shown);
      return std::nullopt;
    }
  }
  *status = ErrorStatus("cannot open", shown, ERROR_CANT_RESOLVE_FILENAME);
  return std::nullopt;
}

}  // namespace pellamar::windows

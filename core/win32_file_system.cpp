// The file system on Windows: the listing of cards, opening them, looking at
// a target and making its new file; win32_replace puts that in place. Paths
// arrive as UTF-8 and are widened to UTF-16 here, at the boundary, then made
// absolute in the \\?\ form, so that no path is held to MAX_PATH; only the
// W entry points are used.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <optional>
#include <string_view>

#include "core/file_system.h"
#include "core/wide_text.h"
#include "core/win32_replace.h"
#include "core/win32_replace_calls.h"
#include "core/win32_support.h"

namespace pellamar {
namespace {

using namespace windows;

// Entries that a listing of cards leaves out: the normal-file mask.
constexpr DWORD kNotACard =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool IsCard(const WIN32_FIND_DATAW& data) { return (data.dwFileAttributes & kNotACard) == 0; }

// Walks one FindFirstFileW search. The first match is fetched when the
// listing is made, so it is held until the first Next().
class Win32CardListing final : public CardListing {
 public:
  Win32CardListing(HANDLE search, const WIN32_FIND_DATAW& first)
      : search_(search), data_(first), have_data_(search != INVALID_HANDLE_VALUE) {}
  ~Win32CardListing() override { Close(); }

  ListEntry Next() override {
    while (search_ != INVALID_HANDLE_VALUE) {
      if (!have_data_ && !Advance()) return Finish();
      have_data_ = false;
      if (IsCard(data_)) return {ListEntry::Kind::kName, Narrow(data_.cFileName), {}};
    }
    return {ListEntry::Kind::kEnd, {}, {}};
  }

 private:
  bool Advance() {
    have_data_ = FindNextFileW(search_, &data_) != 0;
    return have_data_;
  }

  ListEntry Finish() {
    const DWORD error = GetLastError();
    Close();
    if (error == ERROR_NO_MORE_FILES) return {ListEntry::Kind::kEnd, {}, {}};
    return {ListEntry::Kind::kError, {}, ErrorText(error)};
  }

  void Close() {
    if (search_ != INVALID_HANDLE_VALUE) FindClose(search_);
    search_ = INVALID_HANDLE_VALUE;
  }

  HANDLE search_;
  WIN32_FIND_DATAW data_;
  bool have_data_;
};

// Whether the process with the ID `pid` has ended: none has that ID, or the
// one that has it, still held open by another, has its exit code.
bool ProcessHasEnded(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code != STILL_ACTIVE;
}

class Win32CardFile final : public CardFile {
 public:
  Win32CardFile(HANDLE file, std::uint64_t length, FileIdentity identity, bool other_names)
      : file_(file), length_(length), identity_(identity), other_names_(other_names) {}

  std::uint64_t Length() const override { return length_; }

  std::optional<std::int64_t> ModifiedTime() const override {
    constexpr std::int64_t kTicksTo1970 = 116444736000000000;  // 100 ns ticks from 1601
    FILETIME written;
    if (!GetFileTime(file_.get(), nullptr, nullptr, &written)) return std::nullopt;
    const auto ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime);
    return (ticks - kTicksTo1970) * 100;
  }

  Status Read(std::span<std::uint8_t> out, std::size_t* got) override {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(out.size() < kMaxChunk ? out.size() : kMaxChunk);
    if (!ReadFile(file_.get(), out.data(), want, &n, nullptr)) {
      return ErrorStatus(Status::Kind::kReadFailed, "cannot read", "", GetLastError());
    }
    *got = n;
    return Status::Ok();
  }

  std::optional<FileIdentity> Identity() const override { return identity_; }
  bool HasOtherNames() const override { return other_names_; }

  Status Rewind() override {
    if (SetFilePointerEx(file_.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN)) return Status::Ok();
    return ErrorStatus(Status::Kind::kReadFailed, "cannot read", "", GetLastError());
  }

 private:
  Handle file_;
  std::uint64_t length_;
  FileIdentity identity_;
  bool other_names_;
};

class Win32FileSystem final : public FileSystem {
 public:
  explicit Win32FileSystem(ReplaceCalls& calls) : calls_(calls) {}

  char Separator() const override { return '\\'; }
  bool FoldsCase() const override { return true; }

  std::unique_ptr<CardListing> ListCards(const std::string& folder, Status* status) override {
    const std::wstring wide = ExtendedPath(folder);
    if (wide.empty()) {
      *status = BadName(folder);
      return nullptr;
    }
    WIN32_FIND_DATAW first{};
    HANDLE search = FindFirstFileW((wide + L"*.mcd").c_str(), &first);
    const DWORD error = GetLastError();
    // A folder that holds no card is found and listed empty.
    if (search == INVALID_HANDLE_VALUE && error != ERROR_FILE_NOT_FOUND) {
      *status = ErrorStatus("cannot list", folder, error);
      return nullptr;
    }
    *status = Status::Ok();
    return std::make_unique<Win32CardListing>(search, first);
  }

  std::optional<std::uint64_t> FileLength(const std::string& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    const std::wstring wide = ExtendedPath(path);
    if (wide.empty() || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
      return std::nullopt;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }

  std::unique_ptr<CardFile> OpenCard(const std::string& path, Status* status) override {
    const std::wstring wide = ExtendedPath(path);
    if (wide.empty()) {
      *status = BadName(path);
      return nullptr;
    }
    Handle file(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) {
      *status = ErrorStatus("cannot open", path, GetLastError());
      return nullptr;
    }
    LARGE_INTEGER size;
    const std::optional<FileIdentity> identity = IdentityOf(file.get());
    if (GetFileType(file.get()) != FILE_TYPE_DISK || !identity ||
        !GetFileSizeEx(file.get(), &size)) {
      *status = Status::Error(Status::Kind::kNotAFile, path + " is no file", "not a plain file");
      return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    const bool other_names =
        (GetFileInformationByHandle(file.get(), &info) && info.nNumberOfLinks > 1) ||
        (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
    auto card = std::make_unique<Win32CardFile>(
        file.get(), static_cast<std::uint64_t>(size.QuadPart), *identity, other_names);
    file.Release();
    return card;
  }

  Status LookAt(const std::string& path, const CardFile& card, TargetLook* look) override {
    *look = {};
    const std::wstring target = ExtendedPath(path);
    if (target.empty()) return BadName(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data)) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Status::Ok();
      return ErrorStatus("cannot look at", path, error);
    }
    const DWORD attributes = data.dwFileAttributes;
    look->identity = IdentityAt(target, FILE_FLAG_OPEN_REPARSE_POINT);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      look->kind = TargetLook::Kind::kFolder;
      return Status::Error(Status::Kind::kIsFolder, path + " is a folder");
    }
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    look->kind = link ? TargetLook::Kind::kLink : TargetLook::Kind::kFile;
    if (SameFile(IdentityAt(target), card.Opened().Identity())) {
      return Status::Error(Status::Kind::kOwnTarget, path + " is the card itself");
    }
    if (!link && (attributes & FILE_ATTRIBUTE_READONLY) != 0) return ReadOnly(path);
    return Status::Ok();
  }

  Status CheckCreate(const std::string& /*path*/) override { return Status::Ok(); }

  // A new file takes its permissions from the folder, as any new file there
  // does: the ACL it inherits. A replaced one keeps the old one's. An ACL
  // that denies writing the old one shows only to an attempt to open it for
  // writing, which the run alone makes, here.
  std::unique_ptr<PendingFile> CreateBeside(const std::string& path, const std::string& name,
                                            const TargetLook& look, const CardFile& /*card*/,
                                            Status* status) override {
    Replacement r{ExtendedPath(path), path, {}, {}};
    if (r.target.empty()) {
      *status = BadName(path);
      return nullptr;
    }
    if (look.kind == TargetLook::Kind::kFile &&
        calls_.OpenToWrite(r.target) == ERROR_ACCESS_DENIED) {
      *status = ReadOnly(path);
      return nullptr;
    }
    r.old = OldTargetAt(r.target);
    r.temp_path = FolderOf(r.target) + Widen(name);
    std::unique_ptr<PendingFile> pending = CreatePendingFile(calls_, std::move(r));
    if (!pending) {
      const DWORD error = GetLastError();
      *status = error == ERROR_FILE_EXISTS
                    ? Status::Error(Status::Kind::kExists, "exists " + name, ErrorText(error))
                    : ErrorStatus("cannot create a file beside", path, error);
    }
    return pending;
  }

  std::string TrashName() const override { return "Recycle Bin"; }

  Status Trash(const std::string& path) override {
    const std::wstring wide = ExtendedPath(path);
    if (wide.empty()) return BadName(path);
    // The shell takes no \\?\ form, and a list that ends in two NULs.
    std::wstring from =
        wide.starts_with(LR"(\\?\UNC\)") ? LR"(\\)" + wide.substr(8) : wide.substr(4);
    from.push_back(L'\0');
    SHFILEOPSTRUCTW operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_ALLOWUNDO | FOF_NO_UI;
    const int error = SHFileOperationW(&operation);
    if (error == 0 && !operation.fAnyOperationsAborted) return Status::Ok();
    return Status::Error(Status::Kind::kNotTrashed, "cannot recycle " + path,
                         "the Recycle Bin refused it");
  }

  std::vector<std::string> ListNamesStartingWith(const std::string& folder,
                                                 const std::string& prefix) override {
    std::vector<std::string> names;
    const std::wstring wide = ExtendedPath(folder);
    WIN32_FIND_DATAW data;
    const std::wstring pattern = wide + Widen(prefix) + L"*";
    HANDLE search = wide.empty() ? INVALID_HANDLE_VALUE : FindFirstFileW(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      names.push_back(Narrow(data.cFileName));
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return names;
  }

  void RemoveFile(const std::string& path) override {
    const std::wstring wide = ExtendedPath(path);
    const DWORD attributes =
        wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
    constexpr DWORD kNoFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kNoFile) == 0) {
      DeleteFileW(wide.c_str());
    }
  }

  const std::string& MachineId() override {
    static const std::string id = [] {
      std::array<wchar_t, MAX_COMPUTERNAME_LENGTH + 1> name{};
      DWORD n = static_cast<DWORD>(name.size());
      if (!GetComputerNameW(name.data(), &n)) n = 0;
      return Narrow(std::wstring_view(name.data(), n));
    }();
    return id;
  }

  std::uint64_t ProcessId() override { return GetCurrentProcessId(); }

  bool IsProcessGone(std::uint64_t pid) override {
    return pid <= 0xFFFFFFFFu && ProcessHasEnded(static_cast<DWORD>(pid));
  }

 private:
  ReplaceCalls& calls_;
};

}  // namespace

std::unique_ptr<FileSystem> NewFileSystemWithCalls(ReplaceCalls& calls) {
  return std::make_unique<Win32FileSystem>(calls);
}

std::unique_ptr<FileSystem> NewPlatformFileSystem() {
  return NewFileSystemWithCalls(SystemReplaceCalls());
}

}  // namespace pellamar

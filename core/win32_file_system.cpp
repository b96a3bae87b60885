// The file system on Windows: the listing of cards, opening them, looking at
// a target and making its new file; win32_replace puts that in place and
// win32_trash moves the old one to the Recycle Bin. Paths arrive as UTF-8
// and are widened to UTF-16 here, at the boundary, then made absolute in the
// \\?\ form, so that no path is held to MAX_PATH; only the W entry points
// are used.
#include <windows.h>

#include <atomic>
#include <optional>
#include <string_view>

#include "core/file_system.h"
#include "core/replace.h"
#include "core/wide_text.h"
#include "core/win32_entry.h"
#include "core/win32_replace.h"
#include "core/win32_replace_calls.h"
#include "core/win32_security.h"
#include "core/win32_support.h"
#include "core/win32_trash.h"

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
  Win32CardFile(Handle&& file, std::uint64_t length, std::optional<FileIdentity> identity,
                bool other_names)
      : file_(std::move(file)), length_(length), identity_(identity), other_names_(other_names) {}

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
  std::optional<FileIdentity> identity_;
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

  // Every link on the way is followed by the path it keeps, and only the
  // plain file at the end is opened to be read, through the handle that
  // looked at it: nothing that a link leads to is opened before it is seen
  // to be a file, so a device or a pipe never is.
  std::unique_ptr<CardFile> OpenCard(const std::string& path, Status* status) override {
    const std::wstring wide = ExtendedPath(path);
    if (wide.empty()) {
      *status = BadName(path);
      return nullptr;
    }
    bool through_link = false;
    const std::optional<Entry> entry = FinalEntry(wide, path, &through_link, status);
    if (!entry) return nullptr;
    if (entry->kind != TargetLook::Kind::kFile) {
      *status = Status::Error(Status::Kind::kNotAFile, path + " is no file", "not a plain file");
      return nullptr;
    }
    Handle file(
        ReOpenFile(entry->handle.get(), GENERIC_READ, FILE_SHARE_READ, FILE_FLAG_SEQUENTIAL_SCAN));
    LARGE_INTEGER size;
    if (!file.valid() || !GetFileSizeEx(file.get(), &size)) {
      *status = ErrorStatus("cannot open", path, GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32CardFile>(std::move(file),
                                           static_cast<std::uint64_t>(size.QuadPart),
                                           entry->identity, through_link || entry->links > 1);
  }

  // Nothing is opened but the entry itself, to read its attributes: a link
  // is not followed but by the path it keeps, and a placeholder of a cloud
  // file is not fetched.
  Status LookAt(const std::string& path, const CardFile& card, TargetLook* look) override {
    *look = {};
    const std::wstring target = ExtendedPath(path);
    if (target.empty()) return BadName(path);
    std::optional<Entry> entry = OpenEntry(target);
    // A file that was deleted while another program holds it keeps its
    // name for a moment, and refuses every open meanwhile.
    for (const DWORD pause : kRetryPauses) {
      if (entry || GetLastError() != ERROR_ACCESS_DENIED) break;
      calls_.Wait(pause);
      entry = OpenEntry(target);
    }
    if (!entry) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Status::Ok();
      return ErrorStatus("cannot look at", path, error);
    }
    look->kind = entry->kind;
    look->identity = entry->identity;
    switch (entry->kind) {
      case TargetLook::Kind::kFolder:
        return Status::Error(Status::Kind::kIsFolder, path + " is a folder");
      case TargetLook::Kind::kOther:
        return Status::Error(Status::Kind::kNotAFile, path + " is no file", "not a plain file");
      case TargetLook::Kind::kLink:
        return LookThroughLink(target, path, card);
      default:
        break;
    }
    if (SameFile(entry->identity, card.Opened().Identity())) {
      return Status::Error(Status::Kind::kOwnTarget, path + " is the card itself");
    }
    return CheckWritable(target, path, entry->attributes);
  }

  Status CheckCreate(const std::string& /*path*/) override { return Status::Ok(); }

  // A new file takes its permissions from the folder, as any new file there
  // does: the ACL it inherits. A replaced one gets the old one's owner,
  // group and DACL, read here, before anything is written.
  std::unique_ptr<PendingFile> CreateBeside(const std::string& path, const std::string& name,
                                            const TargetLook& look, const CardFile& /*card*/,
                                            Status* status) override {
    Replacement r{ExtendedPath(path), path, look.kind == TargetLook::Kind::kLink, {}, {}};
    if (r.target.empty()) {
      *status = BadName(path);
      return nullptr;
    }
    if (look.kind == TargetLook::Kind::kFile) {
      *status = ReadOldTarget(r.target, path, &r.old);
      if (!status->ok()) return nullptr;
    }
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
    // A second name for the file, should the shell's older call have to
    // watch over it: never a card, and never a leftover that a run removes.
    static std::atomic<std::uint64_t> keepers{0};
    const std::string keeper =
        TemporaryName(MachineToken(MachineId()), ProcessId(), keepers++) + ".kept";
    return MoveToRecycleBin(calls_, wide, path, FolderOf(wide) + Widen(keeper));
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
    std::optional<Entry> entry = wide.empty() ? std::nullopt : OpenEntry(wide);
    if (!entry || entry->kind != TargetLook::Kind::kFile) return;
    entry.reset();
    DeleteFileW(wide.c_str());
  }

  // The id Windows gave the machine when it was installed; where it has
  // none, the machine's whole name on the network, never cut short.
  const std::string& MachineId() override {
    if (!machine_id_) {
      machine_id_ = calls_.MachineGuid();
      if (machine_id_->empty()) machine_id_ = FullComputerName();
    }
    return *machine_id_;
  }

  std::uint64_t ProcessId() override { return GetCurrentProcessId(); }

  bool IsProcessGone(std::uint64_t pid) override {
    return pid <= 0xFFFFFFFFu && ProcessHasEnded(static_cast<DWORD>(pid));
  }

 private:
  // What a link at `target` leads to: the card itself, or anything else,
  // which a replace of the link itself leaves alone.
  Status LookThroughLink(const std::wstring& target, const std::string& path,
                         const CardFile& card) {
    bool through_link = false;
    Status ignored;
    const std::optional<Entry> end = FinalEntry(target, path, &through_link, &ignored);
    if (end && SameFile(end->identity, card.Opened().Identity())) {
      return Status::Error(Status::Kind::kOwnTarget, path + " is the card itself");
    }
    return Status::Ok();
  }

  // Whether whoever runs the program may write the file at `target`: its
  // read-only attribute, and its permissions as Windows weighs them at an
  // open, asked without opening it. Permissions that cannot be read could
  // not be carried onto its successor either.
  Status CheckWritable(const std::wstring& target, const std::string& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return ReadOnly(path);
    bool granted = true;
    const DWORD error = calls_.CheckAccess(target, FILE_WRITE_DATA, &granted);
    if (error != 0) {
      return ErrorStatus(Status::Kind::kOwnerNotKept, "cannot read the permissions of", path,
                         error);
    }
    return granted ? Status::Ok() : ReadOnly(path);
  }

  // What the file at `target` hands on to the one that replaces it.
  static Status ReadOldTarget(const std::wstring& target, const std::string& path, OldTarget* old) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data)) {
      return ErrorStatus("cannot look at", path, GetLastError());
    }
    old->exists = true;
    old->attributes = data.dwFileAttributes;
    old->created = data.ftCreationTime;
    const DWORD error = ReadSecurity(target, &old->security);
    if (error == 0) return Status::Ok();
    return ErrorStatus(Status::Kind::kOwnerNotKept, "cannot read the permissions of", path, error);
  }

  static std::string FullComputerName() {
    DWORD n = 0;
    GetComputerNameExW(ComputerNameDnsFullyQualified, nullptr, &n);
    std::wstring name(n, L'\0');
    if (n == 0 || !GetComputerNameExW(ComputerNameDnsFullyQualified, name.data(), &n)) return {};
    name.resize(n);
    return Narrow(name);
  }

  ReplaceCalls& calls_;
  std::optional<std::string> machine_id_;
};

}  // namespace

std::unique_ptr<FileSystem> NewFileSystemWithCalls(ReplaceCalls& calls) {
  return std::make_unique<Win32FileSystem>(calls);
}

std::unique_ptr<FileSystem> NewPlatformFileSystem() {
  return NewFileSystemWithCalls(SystemReplaceCalls());
}

}  // namespace pellamar

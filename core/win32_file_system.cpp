// The file system on Windows. Paths arrive as UTF-8 and are widened to
// UTF-16 here, at the boundary, then made absolute in the \\?\ form, so
// that no path is held to MAX_PATH; only the W entry points are used.
#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <optional>
#include <string_view>

#include "core/file_system.h"
#include "core/wide_text.h"
#include "core/win32_replace_calls.h"

namespace pellamar {

namespace {

// Entries that a listing of cards leaves out: the normal-file mask.
constexpr DWORD kNotACard =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// What a replaced target's successor keeps of its attributes. The archive
// attribute it always gets: its bytes are new, and no backup has them yet.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// ReadFile and WriteFile move at most this many bytes per call.
constexpr std::size_t kMaxChunk = 1u << 30;
// The pauses before each new try of a replace that another program holds
// up: a third of a second in all.
constexpr std::array<DWORD, 5> kRetryPauses = {10, 20, 40, 80, 160};
constexpr wchar_t kTemporaryPrefix[] = L".pellamar-";
constexpr wchar_t kTemporarySuffix[] = L".tmp";

// `text` in lower case, in the user's language: letters of any script.
std::wstring Lower(const std::wstring& text) {
  std::wstring lower(text.size(), L'\0');
  const int n = static_cast<int>(text.size());
  if (LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE, text.data(), n, lower.data(), n) != n) {
    return text;
  }
  return lower;
}

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

bool IsCard(const WIN32_FIND_DATAW& data) { return (data.dwFileAttributes & kNotACard) == 0; }

// Closes a handle on every path out of a scope.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Gives up the handle without closing it.
  void Release() { handle_ = INVALID_HANDLE_VALUE; }
  // Closes now and says whether the close itself succeeded.
  bool Close() {
    if (!valid()) return true;
    const bool closed = CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

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

bool WritePiece(HANDLE file, ByteView bytes) {
  while (!bytes.empty()) {
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(bytes.size() < kMaxChunk ? bytes.size() : kMaxChunk);
    if (!WriteFile(file, bytes.data(), want, &put, nullptr)) return false;
    if (put == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    bytes = bytes.subspan(put);
  }
  return true;
}

bool WriteAll(HANDLE file, std::span<const ByteView> pieces) {
  for (ByteView piece : pieces) {
    if (!WritePiece(file, piece)) return false;
  }
  return true;
}

// Eight hexadecimal digits that tell this machine, whose runs' process IDs
// are one space, from another that shares the folder: from its name.
const std::wstring& MachineToken() {
  static const std::wstring token = [] {
    std::array<wchar_t, MAX_COMPUTERNAME_LENGTH + 1> name{};
    DWORD n = static_cast<DWORD>(name.size());
    if (!GetComputerNameW(name.data(), &n)) n = 0;
    std::uint32_t hash = 2166136261u;  // FNV-1a, over the UTF-16 units
    for (DWORD i = 0; i < n; ++i) hash = (hash ^ name[i]) * 16777619u;
    std::wstring hex;
    for (int shift = 28; shift >= 0; shift -= 4) hex += L"0123456789abcdef"[(hash >> shift) & 0xF];
    return hex;
  }();
  return token;
}

// How the names of this machine's temporary files begin.
std::wstring MachinePrefix() { return kTemporaryPrefix + MachineToken() + L"-"; }

// Whether the process with the ID `pid` has ended: none has that ID, or the
// one that has it, still held open by another, has its exit code.
bool IsProcessGone(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code != STILL_ACTIVE;
}

// Whether `name` is a temporary file of a replace that a run of this machine
// began and that is no longer running: ".pellamar-<machine>-<pid>-<n>.tmp".
bool IsLeftover(std::wstring_view name) {
  const std::wstring prefix = MachinePrefix();
  const std::wstring_view suffix = kTemporarySuffix;
  if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) ||
      !name.ends_with(suffix)) {
    return false;
  }
  const std::string rest = Narrow(name.substr(prefix.size()));
  DWORD pid = 0;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
  if (error != std::errc() || pid == 0 || end == rest.data() + rest.size() || *end != '-') {
    return false;
  }
  return IsProcessGone(pid);
}

// The temporary file that a console's Ctrl-C, Ctrl-Break or close must
// remove: the one of the replace under way. The console's handler runs on a
// thread of its own; whoever moves the state out of kArmed owns the path.
struct ConsoleCleanup {
  enum State { kIdle, kArmed, kRemoving };
  std::atomic<int> state{kIdle};
  std::array<wchar_t, 32768> path{};  // the longest path Windows has
};
ConsoleCleanup g_cleanup;

BOOL WINAPI OnConsoleEnd(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  int armed = ConsoleCleanup::kArmed;
  if (g_cleanup.state.compare_exchange_strong(armed, ConsoleCleanup::kRemoving)) {
    // The file is open to be written: it goes when the program's handles close.
    DeleteFileW(g_cleanup.path.data());
  }
  return FALSE;  // the next handler, in the end the system's, ends the program
}

// Takes the path back from the handler; false once the handler has it.
bool DisarmCleanup() {
  int state = g_cleanup.state.load();
  while (state != ConsoleCleanup::kRemoving &&
         !g_cleanup.state.compare_exchange_weak(state, ConsoleCleanup::kIdle)) {
  }
  return state != ConsoleCleanup::kRemoving;
}

void ArmCleanup(const std::wstring& path) {
  if (!DisarmCleanup() || path.size() >= g_cleanup.path.size()) return;
  std::copy(path.begin(), path.end(), g_cleanup.path.begin());
  g_cleanup.path[path.size()] = L'\0';
  g_cleanup.state.store(ConsoleCleanup::kArmed);
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// Creates a new hidden file beside `path` whose name, long or short, never
// matches "*.mcd", named for this machine and process so that a later run
// can tell whether it is still being written, and puts that name in
// `*temp_path`. Others may delete it while it is open: the console's handler
// must.
Handle CreateTemporaryBeside(const std::wstring& path, std::wstring* temp_path) {
  static std::atomic<unsigned> counter{0};
  const std::wstring prefix =
      FolderOf(path) + MachinePrefix() + std::to_wstring(GetCurrentProcessId()) + L"-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp_path = prefix + std::to_wstring(counter++) + kTemporarySuffix;
    ArmCleanup(*temp_path);  // before the file exists
    HANDLE file = CreateFileW(temp_path->c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file != INVALID_HANDLE_VALUE) return Handle(file);
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  const DWORD error = GetLastError();
  DisarmCleanup();
  SetLastError(error);
  return Handle(INVALID_HANDLE_VALUE);
}

// Which file an open handle reads or writes, whatever name led to it.
struct FileIdentity {
  DWORD volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> IdentityOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// The identity of the file at `path` when one is there, following links.
std::optional<FileIdentity> IdentityAt(const std::wstring& path) {
  Handle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return std::nullopt;
  return IdentityOf(file.get());
}

// What stands at a target before it is replaced.
struct OldTarget {
  bool exists = false;
  DWORD attributes = 0;
  FILETIME created{};
  // A link is replaced itself, never written through.
  bool IsLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
};

OldTarget LookAt(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return {};
  return {true, data.dwFileAttributes, data.ftCreationTime};
}

// Whether whoever runs the program may not write the existing file at
// `path`: by its read-only attribute, or by an ACL that denies it.
bool IsReadOnly(ReplaceCalls& calls, const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return (attributes & FILE_ATTRIBUTE_READONLY) != 0 ||
         calls.OpenToWrite(path) == ERROR_ACCESS_DENIED;
}

// The errors of a replace that another program holding either file up for
// a moment gives: an antivirus scanner, an indexer, a sync client.
bool IsBusy(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_LOCK_VIOLATION || error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// Gives the finished temporary file what the target it replaces had: its
// hidden, system and not-indexed attributes and its creation time; a new
// target is an ordinary file. ReplaceFileW does the same again, with the
// target's security descriptor.
bool KeepAttributes(HANDLE file, const OldTarget& old) {
  FILE_BASIC_INFO info{};
  info.FileAttributes = FILE_ATTRIBUTE_ARCHIVE | (old.attributes & kKeptAttributes);
  if (old.exists) {
    info.CreationTime.LowPart = old.created.dwLowDateTime;
    info.CreationTime.HighPart = static_cast<LONG>(old.created.dwHighDateTime);
  }
  return SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof(info)) != 0;
}

class Win32CardFile final : public CardFile {
 public:
  Win32CardFile(HANDLE file, std::uint64_t length, FileIdentity identity)
      : file_(file), length_(length), identity_(identity) {}

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

  bool IsSameFileAs(const CardFile& other) const override {
    const auto* opened = dynamic_cast<const Win32CardFile*>(&other);
    return opened != nullptr && opened->identity_ == identity_;
  }

  const FileIdentity& identity() const { return identity_; }

 private:
  Handle file_;
  std::uint64_t length_;
  FileIdentity identity_;
};

// Where the replace of one target stands.
struct Replacement {
  std::wstring target;  // the long form
  std::string shown;    // as the run named it
  OldTarget old;
  std::wstring temp_path;
};

class Win32PendingFile final : public PendingFile {
 public:
  Win32PendingFile(ReplaceCalls& calls, Handle&& file, Replacement replacement)
      : calls_(calls), file_(file.get()), r_(std::move(replacement)) {
    file.Release();
  }

  ~Win32PendingFile() override {
    if (committed_) return;
    file_.Close();
    DeleteFileW(r_.temp_path.c_str());
    DisarmCleanup();
  }

  Status Write(std::span<const ByteView> pieces) override {
    if (!WriteAll(file_.get(), pieces))
      return ErrorStatus("cannot write", r_.shown, GetLastError());
    return Status::Ok();
  }

  Status Commit() override {
    if (!KeepAttributes(file_.get(), r_.old) || !file_.Close()) {
      return ErrorStatus("cannot write", r_.shown, GetLastError());
    }
    const DWORD error = PutInPlace();
    if (error != 0 && IsReadOnly(calls_, r_.target)) return ReadOnly(r_.shown);
    if (error != 0) return ErrorStatus("cannot replace", r_.shown, error);
    committed_ = true;
    DisarmCleanup();
    return Status::Ok();
  }

 private:
  // Puts the temporary file in the target's place, trying again for a
  // moment while another program holds either file up.
  DWORD PutInPlace() {
    DWORD error = PutInPlaceOnce();
    for (const DWORD pause : kRetryPauses) {
      if (!IsBusy(error) || IsReadOnly(calls_, r_.target)) break;
      calls_.Wait(pause);
      error = PutInPlaceOnce();
    }
    return error;
  }

  // ReplaceFileW keeps the old target's security descriptor, attributes and
  // creation time; where it cannot merge them (a share that keeps no ACL),
  // the file keeps the ACL it inherited from the folder rather than staying
  // unwritten. A new target, a link, and Wine (whose ReplaceFileW keeps
  // nothing, see ReplaceCalls) take the rename, after KeepAttributes.
  DWORD PutInPlaceOnce() {
    if (!r_.old.exists || r_.old.IsLink() || !calls_.ReplaceKeepsTheTarget()) {
      return calls_.Move(r_.temp_path, r_.target, MOVEFILE_REPLACE_EXISTING);
    }
    const DWORD error = calls_.Replace(r_.target, r_.temp_path, REPLACEFILE_IGNORE_MERGE_ERRORS);
    // Without a backup, this one means the old target is gone and the new
    // file still has its temporary name.
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT && !LookAt(r_.target).exists) {
      return calls_.Move(r_.temp_path, r_.target, MOVEFILE_REPLACE_EXISTING);
    }
    return error;
  }

  ReplaceCalls& calls_;
  Handle file_;
  Replacement r_;
  bool committed_ = false;
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
    auto card = std::make_unique<Win32CardFile>(
        file.get(), static_cast<std::uint64_t>(size.QuadPart), *identity);
    file.Release();
    return card;
  }

  // A new file takes its permissions from the folder, as any new file there
  // does: the ACL it inherits. A replaced one keeps the old one's.
  std::unique_ptr<PendingFile> BeginReplace(const std::string& path, const CardFile& card,
                                            Status* status) override {
    const auto* opened = dynamic_cast<const Win32CardFile*>(&card.Opened());
    Replacement r{ExtendedPath(path), path, {}, {}};
    if (opened == nullptr || r.target.empty()) {
      *status = opened == nullptr ? Status::Error(Status::Kind::kIoError, "not opened here")
                                  : BadName(path);
      return nullptr;
    }
    r.old = LookAt(r.target);
    *status = CheckReplaceable(r, *opened);
    if (!status->ok()) return nullptr;
    Handle file = CreateTemporaryBeside(r.target, &r.temp_path);
    if (!file.valid()) {
      *status = ErrorStatus("cannot create a file beside", path, GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32PendingFile>(calls_, std::move(file), std::move(r));
  }

  // An ACL that denies writing shows only to an attempt to open the target
  // for writing, which a check never makes: here only the read-only
  // attribute makes a target read-only.
  Status CheckReplace(const std::string& path, const CardFile& card) override {
    const auto* opened = dynamic_cast<const Win32CardFile*>(&card.Opened());
    Replacement r{ExtendedPath(path), path, {}, {}};
    if (opened == nullptr) return Status::Error(Status::Kind::kIoError, "not opened here");
    if (r.target.empty()) return BadName(path);
    r.old = LookAt(r.target);
    return CheckReplaceable(r, *opened, false);
  }

  void RemoveLeftovers(const std::string& folder) override {
    const std::wstring wide = ExtendedPath(folder);
    WIN32_FIND_DATAW data;
    const std::wstring pattern = wide + MachinePrefix() + L"*" + kTemporarySuffix;
    HANDLE search = wide.empty() ? INVALID_HANDLE_VALUE : FindFirstFileW(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsLeftover(data.cFileName)) {
        DeleteFileW((wide + data.cFileName).c_str());
      }
    } while (FindNextFileW(search, &data));
    FindClose(search);
  }

 private:
  // Why `r` must not be replaced with bytes of `card`, or Ok; `may_open`
  // lets it open the target to learn whether it may be written.
  Status CheckReplaceable(const Replacement& r, const Win32CardFile& card, bool may_open = true) {
    if (!r.old.exists) return Status::Ok();
    if ((r.old.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return Status::Error(Status::Kind::kIsFolder, r.shown + " is a folder");
    }
    if (IdentityAt(r.target) == card.identity()) {
      return Status::Error(Status::Kind::kOwnTarget, r.shown + " is the card itself");
    }
    const bool read_only =
        may_open ? IsReadOnly(calls_, r.target) : (r.old.attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (!r.old.IsLink() && read_only) return ReadOnly(r.shown);
    return Status::Ok();
  }

  ReplaceCalls& calls_;
};

class SystemCalls final : public ReplaceCalls {
 public:
  std::uint32_t Replace(const std::wstring& replaced, const std::wstring& replacement,
                        std::uint32_t flags) override {
    const BOOL done =
        ReplaceFileW(replaced.c_str(), replacement.c_str(), nullptr, flags, nullptr, nullptr);
    return done ? 0 : GetLastError();
  }

  std::uint32_t Move(const std::wstring& from, const std::wstring& to,
                     std::uint32_t flags) override {
    return MoveFileExW(from.c_str(), to.c_str(), flags) ? 0 : GetLastError();
  }

  std::uint32_t OpenToWrite(const std::wstring& path) override {
    Handle file(CreateFileW(path.c_str(), FILE_WRITE_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr));
    return file.valid() ? 0 : GetLastError();
  }

  void Wait(std::uint32_t milliseconds) override { Sleep(milliseconds); }

  bool ReplaceKeepsTheTarget() override { return !RunningUnderWine(); }
};

}  // namespace

bool RunningUnderWine() {
  static const bool wine =
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

ReplaceCalls& SystemReplaceCalls() {
  static SystemCalls calls;
  return calls;
}

std::unique_ptr<FileSystem> NewFileSystemWithCalls(ReplaceCalls& calls) {
  return std::make_unique<Win32FileSystem>(calls);
}

std::unique_ptr<FileSystem> NewPlatformFileSystem() {
  return NewFileSystemWithCalls(SystemReplaceCalls());
}

// Ctrl-C, Ctrl-Break and closing the console remove the temporary file of
// the replace under way. Ctrl-C that the process was started to ignore stays
// ignored: the system then calls no handler for it.
void RemoveTemporaryFileOnSignals() { SetConsoleCtrlHandler(OnConsoleEnd, TRUE); }

}  // namespace pellamar

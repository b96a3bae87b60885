// The file system on Windows. Paths arrive as UTF-8 and are widened to
// UTF-16 here, at the boundary; only the W entry points are used.
#include <windows.h>

#include <atomic>
#include <optional>
#include <string_view>

#include "core/file_system.h"
#include "core/wide_text.h"

namespace pellamar {

namespace {

// Entries that a listing of cards leaves out: the normal-file mask.
constexpr DWORD kNotACard =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
// ReadFile and WriteFile move at most this many bytes per call.
constexpr std::size_t kMaxChunk = 1u << 30;

// The system's own wording for `error`, without its final line break.
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
  std::string words = Narrow(text);
  for (char& c : words) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return words;
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

// Takes the hidden attribute off the finished temporary file, so the target
// that it becomes is an ordinary file.
bool MakeNormal(HANDLE file) {
  FILE_BASIC_INFO info{};
  info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof(info)) != 0;
}

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// Creates a new hidden file beside `path` whose name, long or short, never
// matches "*.mcd", and puts that name in `*temp_path`.
Handle CreateTemporaryBeside(const std::wstring& path, std::wstring* temp_path) {
  static std::atomic<unsigned> counter{0};
  const std::wstring prefix =
      FolderOf(path) + L".pellamar-" + std::to_wstring(GetCurrentProcessId()) + L"-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp_path = prefix + std::to_wstring(counter++) + L".tmp";
    HANDLE file = CreateFileW(temp_path->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return Handle(file);
  }
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

  const FileIdentity& identity() const { return identity_; }

 private:
  Handle file_;
  std::uint64_t length_;
  FileIdentity identity_;
};

class Win32PendingFile final : public PendingFile {
 public:
  Win32PendingFile(Handle&& file, std::wstring temp_path, std::wstring target, std::string shown)
      : file_(file.get()),
        temp_path_(std::move(temp_path)),
        target_(std::move(target)),
        shown_(std::move(shown)) {
    file.Release();
  }

  ~Win32PendingFile() override {
    if (committed_) return;
    file_.Close();
    DeleteFileW(temp_path_.c_str());
  }

  Status Write(std::span<const ByteView> pieces) override {
    if (!WriteAll(file_.get(), pieces)) return ErrorStatus("cannot write", shown_, GetLastError());
    return Status::Ok();
  }

  Status Commit() override {
    if (!MakeNormal(file_.get()) || !file_.Close()) {
      return ErrorStatus("cannot write", shown_, GetLastError());
    }
    if (!MoveFileExW(temp_path_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return ErrorStatus("cannot replace", shown_, GetLastError());
    }
    committed_ = true;
    return Status::Ok();
  }

 private:
  Handle file_;
  std::wstring temp_path_;
  std::wstring target_;
  std::string shown_;
  bool committed_ = false;
};

class Win32FileSystem final : public FileSystem {
 public:
  char Separator() const override { return '\\'; }
  bool FoldsCase() const override { return true; }

  std::unique_ptr<CardListing> ListCards(const std::string& folder, Status* status) override {
    const std::wstring wide = Widen(folder);
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
    const std::wstring wide = Widen(path);
    if (wide.empty() || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
      return std::nullopt;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }

  std::unique_ptr<CardFile> OpenCard(const std::string& path, Status* status) override {
    const std::wstring wide = Widen(path);
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

  // The new file takes its permissions from the folder, as any new file
  // there does.
  std::unique_ptr<PendingFile> BeginReplace(const std::string& path, const CardFile& card,
                                            Status* status) override {
    const auto* opened = dynamic_cast<const Win32CardFile*>(&card.Opened());
    const std::wstring wide = Widen(path);
    if (opened == nullptr || wide.empty()) {
      *status = opened == nullptr ? Status::Error(Status::Kind::kIoError, "not opened here")
                                  : BadName(path);
      return nullptr;
    }
    *status = CheckReplaceable(wide, path, *opened);
    if (!status->ok()) return nullptr;
    std::wstring temp_path;
    Handle file = CreateTemporaryBeside(wide, &temp_path);
    if (!file.valid()) {
      *status = ErrorStatus("cannot create a file beside", path, GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32PendingFile>(std::move(file), std::move(temp_path), wide, path);
  }

  Status CheckReplace(const std::string& path, const CardFile& card) override {
    const auto* opened = dynamic_cast<const Win32CardFile*>(&card.Opened());
    const std::wstring wide = Widen(path);
    if (opened == nullptr) return Status::Error(Status::Kind::kIoError, "not opened here");
    return wide.empty() ? BadName(path) : CheckReplaceable(wide, path, *opened);
  }

  // A dead run's temporary file is hidden and matches no card; it may be
  // deleted by hand.
  void RemoveLeftovers(const std::string& /*folder*/) override {}

 private:
  static Status CheckReplaceable(const std::wstring& wide, const std::string& path,
                                 const Win32CardFile& card) {
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Status::Ok();
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return Status::Error(Status::Kind::kIsFolder, path + " is a folder");
    }
    if (IdentityAt(wide) == card.identity()) {
      return Status::Error(Status::Kind::kOwnTarget, path + " is the card itself");
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      return Status::Error(Status::Kind::kReadOnly, path + " is read-only");
    }
    return Status::Ok();
  }
};

}  // namespace

std::unique_ptr<FileSystem> NewPlatformFileSystem() { return std::make_unique<Win32FileSystem>(); }

void RemoveTemporaryFileOnSignals() {}

}  // namespace pellamar

// The file system on Windows. Paths arrive as UTF-8 and are widened to
// UTF-16 here, at the boundary; only the W entry points are used.
#include <windows.h>

#include <atomic>
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
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.pop_back();
  }
  return text.empty() ? "error " + std::to_string(error) : Narrow(text);
}

Status ErrorStatus(const std::string& what, const std::string& path, DWORD error) {
  const bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  const Status::Kind kind = missing ? Status::Kind::kNotFound : Status::Kind::kIoError;
  return Status::Error(kind, what + " " + path + ": " + ErrorText(error));
}

Status BadName(const std::string& path) {
  return Status::Error(Status::Kind::kNotFound, "cannot name " + path + " in UTF-16");
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
      if (IsCard(data_)) return {ListEntry::Kind::kName, Narrow(data_.cFileName)};
    }
    return {ListEntry::Kind::kEnd, {}};
  }

 private:
  bool Advance() {
    have_data_ = FindNextFileW(search_, &data_) != 0;
    return have_data_;
  }

  ListEntry Finish() {
    const bool failed = GetLastError() != ERROR_NO_MORE_FILES;
    Close();
    return {failed ? ListEntry::Kind::kError : ListEntry::Kind::kEnd, {}};
  }

  void Close() {
    if (search_ != INVALID_HANDLE_VALUE) FindClose(search_);
    search_ = INVALID_HANDLE_VALUE;
  }

  HANDLE search_;
  WIN32_FIND_DATAW data_;
  bool have_data_;
};

bool ReadAll(HANDLE file, std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(size < kMaxChunk ? size : kMaxChunk);
    if (!ReadFile(file, data, want, &got, nullptr)) return false;
    if (got == 0) {
      SetLastError(ERROR_HANDLE_EOF);  // shorter than its length said
      return false;
    }
    data += got;
    size -= got;
  }
  return true;
}

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

bool IsReadOnlyFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  return (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

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

  Status ReadWhole(const std::string& path, Bytes* out) override {
    const std::wstring wide = Widen(path);
    if (wide.empty()) return BadName(path);
    Handle file(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) return ErrorStatus("cannot open", path, GetLastError());
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
      return Status::Error(Status::Kind::kIoError, path + " is no file");
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) return ErrorStatus("cannot size", path, GetLastError());
    if (!MakeRoom(out, static_cast<std::uint64_t>(size.QuadPart))) {
      return Status::Error(Status::Kind::kIoError, path + " is too large to read");
    }
    if (!ReadAll(file.get(), out->data(), out->size())) {
      return ErrorStatus("cannot read", path, GetLastError());
    }
    return Status::Ok();
  }

  // The new file takes its permissions from the folder, as any new file
  // there does; `model` is not needed for that.
  Status ReplaceWhole(const std::string& path, std::span<const ByteView> pieces,
                      const std::string& /*model*/) override {
    const std::wstring wide = Widen(path);
    if (wide.empty()) return BadName(path);
    if (IsReadOnlyFile(wide)) return Status::Error(Status::Kind::kReadOnly, path + " is read-only");
    std::wstring temp_path;
    Handle file = CreateTemporaryBeside(wide, &temp_path);
    if (!file.valid()) return ErrorStatus("cannot create a file beside", path, GetLastError());
    if (!WriteAll(file.get(), pieces) || !MakeNormal(file.get()) || !file.Close()) {
      return Abandon(&file, temp_path, "cannot write", path);
    }
    if (!MoveFileExW(temp_path.c_str(), wide.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return Abandon(&file, temp_path, "cannot replace", path);
    }
    return Status::Ok();
  }

 private:
  static Status Abandon(Handle* file, const std::wstring& temp_path, const std::string& what,
                        const std::string& path) {
    const DWORD error = GetLastError();
    file->Close();
    DeleteFileW(temp_path.c_str());
    return ErrorStatus(what, path, error);
  }
};

}  // namespace

std::unique_ptr<FileSystem> NewPlatformFileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace pellamar

#include "core/win32_replace.h"

#include <array>

#include "core/win32_cleanup.h"
#include "core/win32_support.h"

namespace pellamar {
namespace windows {
namespace {

// What a replaced target's successor keeps of its attributes. The archive
// attribute it always gets: its bytes are new, and no backup has them yet.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// The pauses before each new try of a replace that another program holds
// up: a third of a second in all.
constexpr std::array<DWORD, 5> kRetryPauses = {10, 20, 40, 80, 160};

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

// Creates the new hidden file `temp_path`, for a replace. Others may delete
// it while it is open: the console's handler must.
Handle CreateTemporary(const std::wstring& temp_path) {
  ArmCleanup(temp_path);  // before the file exists
  HANDLE file = CreateFileW(temp_path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    DisarmCleanup();
    SetLastError(error);
  }
  return Handle(file);
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

  Status Close() override {
    if (!KeepAttributes(file_.get(), r_.old) || !file_.Close()) {
      return ErrorStatus("cannot write", r_.shown, GetLastError());
    }
    return Status::Ok();
  }

  Status Commit() override {
    const DWORD error = PutInPlace();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
      return Status::Error(Status::Kind::kExists, "exists " + r_.shown,
                           "another file took its place meanwhile");
    }
    if (error != 0 && IsReadOnly(calls_, r_.target)) return ReadOnly(r_.shown);
    if (error != 0) return ErrorStatus("cannot replace", r_.shown, error);
    committed_ = true;
    DisarmCleanup();
    identity_ = IdentityAt(r_.target, FILE_FLAG_OPEN_REPARSE_POINT);
    return Status::Ok();
  }

  std::optional<FileIdentity> Identity() const override { return identity_; }

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

  // Over a link; else only where nothing stands, the file that stood
  // having gone to the Recycle Bin.
  DWORD PutInPlaceOnce() {
    return calls_.Move(r_.temp_path, r_.target, r_.old.IsLink() ? MOVEFILE_REPLACE_EXISTING : 0);
  }

  ReplaceCalls& calls_;
  Handle file_;
  Replacement r_;
  std::optional<FileIdentity> identity_;
  bool committed_ = false;
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

OldTarget OldTargetAt(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return {};
  return {true, data.dwFileAttributes, data.ftCreationTime};
}

std::unique_ptr<PendingFile> CreatePendingFile(ReplaceCalls& calls, Replacement replacement) {
  Handle file = CreateTemporary(replacement.temp_path);
  if (!file.valid()) return nullptr;
  return std::make_unique<Win32PendingFile>(calls, std::move(file), std::move(replacement));
}

}  // namespace windows

bool RunningUnderWine() {
  static const bool wine =
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

ReplaceCalls& SystemReplaceCalls() {
  static windows::SystemCalls calls;
  return calls;
}

}  // namespace pellamar

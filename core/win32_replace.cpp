#include "core/win32_replace.h"

#include "core/wide_text.h"
#include "core/win32_cleanup.h"
#include "core/win32_entry.h"
#include "core/win32_security.h"
#include "core/win32_support.h"
#include "core/win32_trash.h"

namespace pellamar {
namespace windows {
namespace {

// What a replaced target's successor keeps of its attributes. The archive
// attribute it always gets: its bytes are new, and no backup has them yet.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

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

// Gives the finished temporary file the hidden, system and not-indexed
// attributes and the creation time of the target it replaces; a new target
// is an ordinary file.
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
      : calls_(calls), file_(std::move(file)), r_(std::move(replacement)) {}

  ~Win32PendingFile() override {
    if (committed_) return;
    file_.Close();
    DeleteFileW(r_.temp_path.c_str());
    DisarmCleanup();
  }

  Status Write(std::span<const ByteView> pieces) override {
    if (!WriteAll(file_.get(), pieces)) {
      return ErrorStatus("cannot write", r_.shown, GetLastError());
    }
    return Status::Ok();
  }

  // The old file's security goes onto the new one now, before the old one
  // goes to the Recycle Bin: a new file would have the folder's.
  Status Close() override {
    if (!KeepAttributes(file_.get(), r_.old) || !file_.Close()) {
      return ErrorStatus("cannot write", r_.shown, GetLastError());
    }
    const DWORD error = GiveSecurity(r_.temp_path, r_.old.security);
    if (error != 0) {
      return ErrorStatus(Status::Kind::kOwnerNotKept, "cannot give the permissions of", r_.shown,
                         error);
    }
    return Status::Ok();
  }

  Status Commit() override {
    const DWORD error = PutInPlace();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
      return Status::Error(Status::Kind::kExists, "exists " + r_.shown,
                           "another file took its place meanwhile");
    }
    if (error != 0) return ErrorStatus("cannot replace", r_.shown, error);
    committed_ = true;
    DisarmCleanup();
    if (const std::optional<Entry> placed = OpenEntry(r_.target)) identity_ = placed->identity;
    return Status::Ok();
  }

  std::optional<FileIdentity> Identity() const override { return identity_; }

 private:
  // Over a link; else only where nothing stands, the file that stood
  // having gone to the Recycle Bin. Tried again for a moment while another
  // program holds the new file (a scanner that reads what was just
  // written), or while a file deleted there is still open elsewhere.
  DWORD PutInPlace() {
    const DWORD flags = r_.over_link ? MOVEFILE_REPLACE_EXISTING : 0;
    DWORD error = calls_.Move(r_.temp_path, r_.target, flags);
    for (const DWORD pause : kRetryPauses) {
      if (!IsBusy(error)) break;
      calls_.Wait(pause);
      error = calls_.Move(r_.temp_path, r_.target, flags);
    }
    return error;
  }

  ReplaceCalls& calls_;
  Handle file_;
  Replacement r_;
  std::optional<FileIdentity> identity_;
  bool committed_ = false;
};

class SystemCalls final : public ReplaceCalls {
 public:
  std::uint32_t Move(const std::wstring& from, const std::wstring& to,
                     std::uint32_t flags) override {
    return MoveFileExW(from.c_str(), to.c_str(), flags) ? 0 : GetLastError();
  }

  std::uint32_t CheckAccess(const std::wstring& path, std::uint32_t access,
                            bool* granted) override {
    return windows::CheckAccess(path, access, granted);
  }

  std::uint32_t Recycle(const std::wstring& path) override {
    return RecycleWithFileOperation(path);
  }

  std::uint32_t ShellDelete(const std::wstring& path) override { return DeleteWithShell(path); }

  void Wait(std::uint32_t milliseconds) override { Sleep(milliseconds); }

  // Kept in the 64-bit view of the registry, which a 32-bit program asks
  // for by name.
  std::string MachineGuid() override {
    std::wstring guid(64, L'\0');
    DWORD size = static_cast<DWORD>(guid.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, LR"(SOFTWARE\Microsoft\Cryptography)", L"MachineGuid",
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, guid.data(),
                     &size) != ERROR_SUCCESS) {
      return {};
    }
    guid.resize(wcsnlen(guid.c_str(), guid.size()));
    return Narrow(guid);
  }
};

}  // namespace

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

// The Windows file system: which names the listing returns (by attribute,
// and through 8.3 short names), UTF-8 paths at the UTF-16 boundary, paths
// past MAX_PATH, what a replace leaves behind when it succeeds, is refused,
// meets a busy file, or fails, and which calls it makes for that.
#include <windows.h>
// After windows.h, which they need.
#include <sddl.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "core/batch_report.h"
#include "core/batch_run.h"
#include "core/card_conversion.h"
#include "core/file_system.h"
#include "core/replace.h"
#include "core/wide_text.h"
#include "core/win32_entry.h"
#include "core/win32_replace_calls.h"
#include "core/win32_support.h"
#include "core/win32_trash.h"
#include "tests/support/expected_target.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

namespace pellamar {
namespace {

using testing::ExpectedTarget;
using testing::PatternBytes;
using testing::RecordingWindow;
using testing::TempFolder;

// Holds a file open, as another program would, until the scope ends.
class OpenFile {
 public:
  OpenFile(const std::wstring& path, DWORD share)
      : handle_(
            CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~OpenFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

// The system's calls, each recorded as "move|recycle|shell <target> <flags>",
// and the failures a test puts in: the next `failures` moves (all when
// negative) fail with `error`; the file's permissions may deny writing or be
// unreadable; the Recycle Bin may be one of the test's own folder (`bin`),
// give a result of the test's, or be missing, so that the shell's older call
// is made, which may delete for good; the machine may have an id of the
// test's.
class RecordingCalls final : public ReplaceCalls {
 public:
  std::uint32_t Move(const std::wstring& from, const std::wstring& to,
                     std::uint32_t flags) override {
    Note(L"move ", to, flags);
    temporary = from;
    return Fail() ? error : SystemReplaceCalls().Move(from, to, flags);
  }
  std::uint32_t CheckAccess(const std::wstring& path, std::uint32_t access,
                            bool* granted) override {
    ++access_checks;
    if (security_unreadable) return ERROR_ACCESS_DENIED;
    if (!deny_writing) return SystemReplaceCalls().CheckAccess(path, access, granted);
    *granted = (access & FILE_WRITE_DATA) == 0;
    return 0;
  }
  std::uint32_t Recycle(const std::wstring& path) override {
    Note(L"recycle ", path, 0);
    if (recycled) return *recycled;
    if (bin.empty()) return SystemReplaceCalls().Recycle(path);
    const std::wstring name = path.substr(path.rfind(L'\\'));
    return MoveFileExW(path.c_str(), (bin + name).c_str(), 0) ? 0 : GetLastError();
  }
  std::uint32_t ShellDelete(const std::wstring& path) override {
    Note(L"shell ", path, 0);
    if (!shell_deletes_for_good) return SystemReplaceCalls().ShellDelete(path);
    return DeleteFileW(path.c_str()) ? 0 : GetLastError();
  }
  void Wait(std::uint32_t milliseconds) override { SystemReplaceCalls().Wait(milliseconds); }
  std::string MachineGuid() override {
    return machine_guid.value_or(SystemReplaceCalls().MachineGuid());
  }

  std::vector<std::wstring> log;
  std::wstring temporary;  // the file the last move put in place
  std::uint32_t error = ERROR_SHARING_VIOLATION;
  int failures = 0;
  bool deny_writing = false;
  bool security_unreadable = false;
  int access_checks = 0;
  std::wstring bin;                       // the long form of a folder of the test's
  std::optional<std::uint32_t> recycled;  // what Recycle gives, when set
  bool shell_deletes_for_good = false;
  std::optional<std::string> machine_guid;

 private:
  void Note(const wchar_t* what, const std::wstring& target, std::uint32_t flags) {
    log.push_back(what + target + L" " + std::to_wstring(flags));
  }
  bool Fail() {
    if (failures == 0) return false;
    if (failures > 0) --failures;
    return true;
  }
};

// A reason as the report shows it: the system's words, in lower case,
// without a full stop.
void ExpectPlainWords(const std::string& reason) {
  ASSERT_FALSE(reason.empty());
  EXPECT_EQ(reason.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos) << reason;
  EXPECT_NE(reason.back(), '.') << reason;
}

// The ID of a process that ran and ended: a copy of this program that runs
// no test.
DWORD EndedProcessId() {
  std::vector<wchar_t> self(32768);
  GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
  std::wstring command = L"\"" + std::wstring(self.data()) + L"\" --gtest_filter=-*";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                      nullptr, &startup, &process)) {
    return 0;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return process.dwProcessId;
}

struct AtScopeEnd {
  std::function<void()> run;
  ~AtScopeEnd() { run(); }
};

class Win32FileSystemTest : public ::testing::Test {
 protected:
  std::wstring Wide(const std::wstring& name) const { return (folder_.path() / name).wstring(); }
  // The path as the file system hands it to the system.
  std::wstring Long(const std::wstring& name) const { return L"\\\\?\\" + Wide(name); }
  static std::wstring Long(const TempFolder& folder) {
    return L"\\\\?\\" + folder.path().wstring();
  }
  std::wstring Call(const wchar_t* what, const wchar_t* name, DWORD flags) const {
    return what + Long(name) + L" " + std::to_wstring(flags);
  }

  void SetAttributes(const std::wstring& name, DWORD attributes) {
    ASSERT_TRUE(SetFileAttributesW(Wide(name).c_str(), attributes)) << GetLastError();
  }

  // The owner and DACL of a file, written as SDDL.
  std::wstring Security(const std::wstring& name) const {
    constexpr SECURITY_INFORMATION kShown = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    std::vector<BYTE> descriptor(4096);
    DWORD needed = 0;
    if (!GetFileSecurityW(Wide(name).c_str(), kShown, descriptor.data(),
                          static_cast<DWORD>(descriptor.size()), &needed)) {
      return L"unreadable";
    }
    wchar_t* text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1, kShown,
                                                         &text, nullptr);
    const std::wstring sddl = text != nullptr ? text : L"";
    LocalFree(text);
    return sddl;
  }
  void SetDacl(const std::wstring& name, const std::wstring& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    const BOOL set = SetFileSecurityW(Wide(name).c_str(), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    ASSERT_TRUE(set) << GetLastError();
  }
  // Who runs the test, as SDDL names a user.
  static std::wstring UserSid() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    std::vector<BYTE> user(256);
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size);
    CloseHandle(token);
    wchar_t* text = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text);
    const std::wstring sid = text != nullptr ? text : L"";
    LocalFree(text);
    return sid;
  }

  // The bytes of a file named in UTF-16.
  Bytes ReadWide(const std::wstring& name) const {
    Bytes bytes(64 * 1024);
    DWORD got = 0;
    HANDLE file = CreateFileW(Wide(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    CloseHandle(file);
    bytes.resize(got);
    return bytes;
  }

  std::wstring ShortName(const std::wstring& name) const {
    wchar_t short_path[MAX_PATH] = {};
    if (GetShortPathNameW(Wide(name).c_str(), short_path, MAX_PATH) == 0) return {};
    return std::filesystem::path(short_path).filename().wstring();
  }

  std::vector<std::string> Listed() { return testing::ListedCards(*fs_, folder_.Folder()); }

  // The name is appended as UTF-8 bytes: std::filesystem would read a
  // narrow name in the ANSI code page.
  // Writes the target `name` from a card of `bytes` kept in another folder.
  Status Replace(const std::string& name, const Bytes& bytes) {
    cards_.Write("card.mcd", bytes);
    return testing::ConvertOne(*fs_, cards_ / "card.mcd", folder_.Folder() + name);
  }

  // The whole file that OpenCard opens, read as the run reads it.
  Status ReadAll(const std::string& name, Bytes* out) {
    Status status;
    const std::unique_ptr<CardFile> card = fs_->OpenCard(folder_ / name, &status);
    if (!card) return status;
    out->assign(card->Length(), 0);
    std::size_t got = 0;
    for (std::size_t at = 0; at < out->size(); at += got) {
      status = card->Read(std::span(*out).subspan(at), &got);
      if (!status.ok() || got == 0) return Status::Error(Status::Kind::kReadFailed, "short");
    }
    return Status::Ok();
  }

  BatchReport Convert(const std::string& picked_card) {
    RecordingWindow window(folder_.Folder() + picked_card);
    return btnStart_Click(window, *fs_);
  }

  TempFolder folder_;
  TempFolder cards_;
  TempFolder bin_;  // a Recycle Bin of the test's own, where one is asked for
  RecordingCalls calls_;
  std::unique_ptr<FileSystem> fs_ = NewFileSystemWithCalls(calls_);
};

TEST_F(Win32FileSystemTest, ListsNormalCardsInAnyCaseButNoHiddenSystemFileOrFolder) {
  for (const char* name : {"a.mcd", "B.MCD", "c.Mcd", "d.mem", "e.bin", "hidden.mcd", "system.mcd",
                           "both.mcd", "readonly.mcd", "archived.mcd"}) {
    folder_.Write(name, {1});
  }
  SetAttributes(L"hidden.mcd", FILE_ATTRIBUTE_HIDDEN);
  SetAttributes(L"system.mcd", FILE_ATTRIBUTE_SYSTEM);
  SetAttributes(L"both.mcd", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  SetAttributes(L"readonly.mcd", FILE_ATTRIBUTE_READONLY);
  SetAttributes(L"archived.mcd", FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_TRUE(CreateDirectoryW(Wide(L"x.mcd").c_str(), nullptr));

  EXPECT_EQ(Listed(),
            (std::vector<std::string>{"B.MCD", "a.mcd", "archived.mcd", "c.Mcd", "readonly.mcd"}));
}

TEST_F(Win32FileSystemTest, ListsNamesWhoseShortNameMatches) {
  for (const char* name : {"slot1.mcdx", "card.mcdbackup", "long name.mcd", "a.mcd.bak"}) {
    folder_.Write(name, {1});
  }
  const std::wstring alias = ShortName(L"slot1.mcdx");
  if (alias.empty() || alias == L"slot1.mcdx") GTEST_SKIP() << "this volume makes no 8.3 names";
  ASSERT_EQ(alias.substr(alias.size() - 4), L".MCD");

  EXPECT_EQ(Listed(), (std::vector<std::string>{"card.mcdbackup", "long name.mcd", "slot1.mcdx"}));
}

TEST_F(Win32FileSystemTest, ListsAFolderWithoutCardsAsEmpty) {
  folder_.Write("a.mem", {1});
  EXPECT_EQ(Listed(), std::vector<std::string>{});
}

TEST_F(Win32FileSystemTest, RefusesToListWhatIsNoFolder) {
  folder_.Write("file", {1});
  Status status;
  EXPECT_EQ(fs_->ListCards(folder_ / "missing\\", &status), nullptr);
  EXPECT_EQ(status.kind(), Status::Kind::kNotFound);
  EXPECT_NE(status.message().find("missing"), std::string::npos) << status.message();
  status = Status::Ok();
  EXPECT_EQ(fs_->ListCards(folder_ / "file\\", &status), nullptr);
  EXPECT_FALSE(status.ok());
}

TEST_F(Win32FileSystemTest, PathsAreUtf8OnBothSidesOfTheListing) {
  const std::wstring accented = L"caf\u00E9.mcd";
  const std::wstring astral = L"\U0001F600.mcd";  // a surrogate pair in UTF-16
  for (const std::wstring& name : {accented, astral}) {
    std::filesystem::path path = folder_.path() / name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
  }
  const std::string accented_utf8 = "caf\xC3\xA9.mcd";
  const std::string astral_utf8 = "\xF0\x9F\x98\x80.mcd";
  EXPECT_EQ(Listed(), (std::vector<std::string>{"caf\xC3\xA9.mcd", "\xF0\x9F\x98\x80.mcd"}));

  EXPECT_EQ(fs_->FileLength(folder_.Folder() + astral_utf8), 0u);
  const Bytes card = PatternBytes(300);
  ASSERT_TRUE(Replace(TargetNameFor(accented_utf8), card).ok());
  EXPECT_EQ(ReadWide(L"caf\u00E9.mem"), ExpectedTarget(card));
}

// The long form names exactly the file that the path names: no name loses
// its final dots or spaces or becomes a device; only "." and ".." and the
// start of a path that is not absolute are the system's.
TEST_F(Win32FileSystemTest, TheLongFormKeepsEveryNameOfThePath) {
  std::vector<wchar_t> buffer(32768);
  const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  ASSERT_GT(n, 0u);
  const std::wstring before(buffer.data(), n);
  const std::wstring here = folder_.path().wstring();  // "C:\...\pellamar-test-N"
  ASSERT_TRUE(SetCurrentDirectoryW(here.c_str()));
  const AtScopeEnd back{[&] { SetCurrentDirectoryW(before.c_str()); }};
  const std::wstring up = here.substr(0, here.rfind(L'\\'));
  const std::wstring drive = here.substr(0, 2);

  const std::vector<std::pair<std::string, std::wstring>> cases = {
      {"C:\\x\\dot.\\", LR"(\\?\C:\x\dot.\)"},
      {"C:\\x\\a.mcd.", LR"(\\?\C:\x\a.mcd.)"},
      {"C:\\x. \\b.mcd ", LR"(\\?\C:\x. \b.mcd )"},
      {"C:\\x\\CON.mcd", LR"(\\?\C:\x\CON.mcd)"},
      {"C:/x/y/../z/./nul.mcd", LR"(\\?\C:\x\z\nul.mcd)"},
      {"C:\\..\\..\\a", LR"(\\?\C:\a)"},
      {"\\\\server\\share.\\dir\\..\\..\\a.", LR"(\\?\UNC\server\share.\a.)"},
      {"\\\\?\\C:\\x\\..\\a.", LR"(\\?\C:\x\..\a.)"},
      {"//?/C:/x/a.", LR"(\\?\C:\x\a.)"},
      {"dot.\\a.mcd.", LR"(\\?\)" + here + LR"(\dot.\a.mcd.)"},
      {"..\\b.mcd ", LR"(\\?\)" + up + LR"(\b.mcd )"},
      {Narrow(drive) + "dot.\\", LR"(\\?\)" + here + LR"(\dot.\)"},
      {"\\x\\aux.mcd", LR"(\\?\)" + drive + LR"(\x\aux.mcd)"},
  };
  for (const auto& [path, extended] : cases) {
    EXPECT_EQ(Narrow(ExtendedPath(path)), Narrow(extended)) << path;
  }
}

// Cards whose names Windows' path rules would change, in a folder whose own
// name ends in a dot, typed as a person types it: each .mem holds its own
// card.
TEST_F(Win32FileSystemTest, RunReadsEveryCardFromItsOwnFileWhateverItsName) {
  const std::vector<std::string> names = {"a.mcd",   "a.mcd.",  "b.mcd",  "b.mcd ",
                                          "CON.mcd", "aux.MCD", "nul.mcd"};
  ASSERT_TRUE(CreateDirectoryW(Long(L"dot.").c_str(), nullptr));
  for (std::size_t i = 0; i < names.size(); ++i) {
    folder_.Write("dot.\\" + names[i], PatternBytes(100 + i, static_cast<std::uint8_t>(i)));
  }
  const std::string typed = folder_.Folder() + "dot.\\";
  EXPECT_EQ(testing::ListedCards(*fs_, typed).size(), names.size());

  RecordingWindow window(typed);
  const BatchReport report = btnStart_Click(window, *fs_);
  EXPECT_EQ(report.processed, static_cast<std::int64_t>(names.size())) << FinalMessage(report);
  EXPECT_TRUE(report.AllConverted()) << FinalMessage(report);
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(folder_.Read("dot.\\" + TargetNameFor(names[i])),
              ExpectedTarget(PatternBytes(100 + i, static_cast<std::uint8_t>(i))))
        << names[i];
  }
}

TEST_F(Win32FileSystemTest, GivesLengthsOfFilesOnly) {
  folder_.Write("a.mcd", PatternBytes(1234));
  folder_.Write("empty.mcd", {});
  ASSERT_TRUE(CreateDirectoryW(Wide(L"dir.mcd").c_str(), nullptr));
  EXPECT_EQ(fs_->FileLength(folder_ / "a.mcd"), 1234u);
  EXPECT_EQ(fs_->FileLength(folder_ / "empty.mcd"), 0u);
  EXPECT_EQ(fs_->FileLength(folder_ / "dir.mcd"), std::nullopt);
  EXPECT_EQ(fs_->FileLength(folder_ / "missing.mcd"), std::nullopt);
}

TEST_F(Win32FileSystemTest, ReadsWholeFilesAndNothingElse) {
  const Bytes card = PatternBytes(131072 + 17, 5);
  folder_.Write("a.mcd", card);
  Bytes out;
  ASSERT_TRUE(ReadAll("a.mcd", &out).ok());
  EXPECT_EQ(out, card);

  EXPECT_EQ(ReadAll("missing.mcd", &out).kind(), Status::Kind::kNotFound);
  ASSERT_TRUE(CreateDirectoryW(Wide(L"dir.mcd").c_str(), nullptr));
  EXPECT_FALSE(ReadAll("dir.mcd", &out).ok());
}

TEST_F(Win32FileSystemTest, ReadingACardAnotherProgramLocksFails) {
  folder_.Write("a.mcd", PatternBytes(10));
  OpenFile locked(Wide(L"a.mcd"), 0);
  ASSERT_TRUE(locked.valid());
  Bytes out;
  const Status status = ReadAll("a.mcd", &out);
  EXPECT_EQ(status.kind(), Status::Kind::kIoError) << status.message();
  EXPECT_FALSE(status.reason().empty());
}

TEST_F(Win32FileSystemTest, ReplacingWritesExactlyThePiecesAsAnOrdinaryFile) {
  folder_.Write("a.mem", PatternBytes(5000, 3));
  const Bytes card = PatternBytes(1000, 7);
  const Status replaced = Replace("a.mem", card);
  ASSERT_TRUE(replaced.ok()) << replaced.message() << " (" << replaced.reason() << ")";
  ASSERT_TRUE(Replace("new.mem", card).ok());

  EXPECT_EQ(folder_.Read("a.mem"), ExpectedTarget(card));
  EXPECT_EQ(folder_.Read("new.mem"), ExpectedTarget(card));
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"a.mem", "new.mem"}));
  for (const wchar_t* name : {L"a.mem", L"new.mem"}) {
    const DWORD attributes = GetFileAttributesW(Wide(name).c_str());
    EXPECT_EQ(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), 0u) << name;
  }
}

TEST_F(Win32FileSystemTest, LeavesAReadOnlyTargetAsItWas) {
  const Bytes old = PatternBytes(80, 1);
  folder_.Write("a.mem", old);
  SetAttributes(L"a.mem", FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Replace("a.mem", PatternBytes(164)).kind(), Status::Kind::kReadOnly);
  folder_.Write("b.mem", old);
  calls_.deny_writing = true;  // as an ACL that denies writing the data does
  EXPECT_EQ(Replace("b.mem", PatternBytes(164)).kind(), Status::Kind::kReadOnly);
  EXPECT_TRUE(calls_.log.empty());
  EXPECT_EQ(folder_.Read("a.mem"), old);
  EXPECT_EQ(folder_.Read("b.mem"), old);
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"a.mem", "b.mem"}));
}

// What a dry run asks, as the run asks it: the refusals that Windows would
// make, found without opening the target to write; permissions that cannot
// be read could not be carried over either.
TEST_F(Win32FileSystemTest, ALookSeesWhatWindowsWouldRefuseWithoutOpeningAnythingToWrite) {
  for (const char* name : {"acl.mem", "unreadable.mem"}) folder_.Write(name, {1});
  cards_.Write("card.mcd", {1, 2});
  Status status;
  const std::unique_ptr<CardFile> card = fs_->OpenCard(cards_ / "card.mcd", &status);
  ASSERT_TRUE(card) << status.message();
  TargetLook look;
  EXPECT_TRUE(fs_->LookAt(folder_ / "acl.mem", *card, &look).ok());
  EXPECT_EQ(fs_->LookAt(cards_ / "card.mcd", *card, &look).kind(), Status::Kind::kOwnTarget);
  calls_.deny_writing = true;
  EXPECT_EQ(fs_->LookAt(folder_ / "acl.mem", *card, &look).kind(), Status::Kind::kReadOnly);
  EXPECT_EQ(look.kind, TargetLook::Kind::kFile);
  calls_.security_unreadable = true;
  EXPECT_EQ(fs_->LookAt(folder_ / "unreadable.mem", *card, &look).kind(),
            Status::Kind::kOwnerNotKept);
  EXPECT_EQ(calls_.access_checks, 3);
  EXPECT_TRUE(calls_.log.empty());
}

TEST_F(Win32FileSystemTest, ADryRunSeesPermissionsThatDenyWritingAsTheRunDoes) {
  folder_.Write("a.mcd", testing::CardBytes(1));
  folder_.Write("a.mem", {7});
  calls_.deny_writing = true;
  std::vector<std::string> told;
  DryRun(*fs_, folder_.Folder(), [&](const CardVerdict& v) { told.push_back(VerdictLine(v)); });
  EXPECT_EQ(told, std::vector<std::string>{"skip a.mcd: a.mem is read-only"});
  const BatchReport report = Convert("a.mcd");
  ASSERT_EQ(report.first_failures.size(), 1u);
  EXPECT_EQ(report.first_failures[0].reason, "a.mem is read-only");
  EXPECT_EQ(folder_.Read("a.mem"), Bytes{7});
  EXPECT_TRUE(calls_.log.empty());
}

TEST_F(Win32FileSystemTest, AFailedReplaceLeavesTheOldTargetAndNoTemporaryFile) {
  const Bytes old = PatternBytes(80, 1);
  folder_.Write("a.mem", old);
  {
    OpenFile in_use(Wide(L"a.mem"), FILE_SHARE_READ);  // may not be deleted or renamed over
    ASSERT_TRUE(in_use.valid());
    const auto start = std::chrono::steady_clock::now();
    const Status status = Replace("a.mem", PatternBytes(164));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(status.kind(), Status::Kind::kIoError) << status.message();
    EXPECT_NE(status.message().find("a.mem"), std::string::npos) << status.message();
    ExpectPlainWords(status.reason());
  }
  EXPECT_EQ(folder_.Read("a.mem"), old);
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"a.mem"});

  ASSERT_TRUE(CreateDirectoryW(Wide(L"dir.mem").c_str(), nullptr));
  EXPECT_EQ(Replace("dir.mem", PatternBytes(164)).kind(), Status::Kind::kIsFolder);
  EXPECT_TRUE(std::filesystem::is_directory(folder_.path() / "dir.mem"));
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"a.mem", "dir.mem"}));
}

TEST_F(Win32FileSystemTest, AReplacedTargetKeepsItsAttributes) {
  constexpr DWORD kShown = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_READONLY;
  const struct {
    const wchar_t* name;
    DWORD before, after;  // the archive attribute says the bytes are new
  } cases[] = {
      {L"hidden.mem", FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
      {L"system.mem", FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
      {L"plain.mem", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_ARCHIVE},
  };
  for (const auto& c : cases) {
    folder_.Write(Narrow(c.name), PatternBytes(80, 1));
    SetAttributes(c.name, c.before);
    ASSERT_TRUE(Replace(Narrow(c.name), PatternBytes(100)).ok());
    EXPECT_EQ(GetFileAttributesW(Wide(c.name).c_str()) & kShown, c.after) << Narrow(c.name);
  }
}

// The old file's owner, group and DACL go onto the new one before the old
// one goes to the Recycle Bin; a new target has what the folder gives.
TEST_F(Win32FileSystemTest, AReplacedTargetKeepsItsPermissionsANewOneGetsTheFolders) {
  folder_.Write("private.mem", PatternBytes(80, 1));
  folder_.Write("plain", {1});  // as the folder makes every new file
  const std::wstring owner_only = L"D:P(A;;FA;;;SY)(A;;FA;;;" + UserSid() + L")";
  SetDacl(L"private.mem", owner_only);
  const std::wstring kept = Security(L"private.mem");
  ASSERT_NE(kept, Security(L"plain")) << "the test's permissions were not taken";
  ASSERT_TRUE(Replace("private.mem", PatternBytes(100)).ok());
  ASSERT_TRUE(Replace("new.mem", PatternBytes(100)).ok());
  EXPECT_EQ(Security(L"private.mem"), kept);
  EXPECT_EQ(Security(L"new.mem"), Security(L"plain"));
}

TEST_F(Win32FileSystemTest, RecyclesTheOldTargetThenRenamesTheNewFileWhereNothingStands) {
  const Bytes old = PatternBytes(80, 1);
  const Bytes card = PatternBytes(300);
  folder_.Write("a.mem", old);
  calls_.bin = Long(bin_);
  ASSERT_TRUE(Replace("a.mem", card).ok());
  EXPECT_TRUE(calls_.temporary.starts_with(Long(L".pellamar-"))) << calls_.temporary;
  ASSERT_TRUE(Replace("new.mem", card).ok());

  EXPECT_EQ(calls_.log,
            (std::vector<std::wstring>{Call(L"recycle ", L"a.mem", 0), Call(L"move ", L"a.mem", 0),
                                       Call(L"move ", L"new.mem", 0)}));
  EXPECT_EQ(bin_.Read("a.mem"), old);
  EXPECT_EQ(folder_.Read("a.mem"), ExpectedTarget(card));
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"a.mem", "new.mem"}));
}

// Another program may hold the new file for a moment (a scanner reads what
// was just written), or a file deleted at the target may keep its name
// until the last program that has it open lets go: "access denied" then,
// and that is no read-only file.
TEST_F(Win32FileSystemTest, TriesABusyRenameAgainForAMomentOnly) {
  const struct {
    DWORD error;
    int failures;       // negative: every try
    std::size_t tries;  // 0: a few
    bool written;
  } cases[] = {
      {ERROR_SHARING_VIOLATION, 2, 3, true}, {ERROR_LOCK_VIOLATION, 1, 2, true},
      {ERROR_ACCESS_DENIED, 1, 2, true},     {ERROR_SHARING_VIOLATION, -1, 0, false},
      {ERROR_ACCESS_DENIED, -1, 0, false},   {ERROR_DISK_FULL, 1, 1, false},
  };
  const Bytes old = PatternBytes(80, 1);
  const Bytes card = PatternBytes(300);
  calls_.bin = Long(bin_);
  for (const auto& c : cases) {
    folder_.Write("a.mem", old);
    DeleteFileW((Long(bin_) + L"\\a.mem").c_str());
    calls_.log.clear();
    calls_.error = c.error;
    calls_.failures = c.failures;
    const auto start = std::chrono::steady_clock::now();
    const Status status = Replace("a.mem", card);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.error;
    const std::size_t moves = calls_.log.size() - 1;  // after the recycle
    if (c.tries == 0) {
      EXPECT_GT(moves, 2u) << c.error;
    } else {
      EXPECT_EQ(moves, c.tries) << c.error;
    }
    ASSERT_EQ(status.ok(), c.written) << c.error << ": " << status.message();
    EXPECT_EQ(bin_.Read("a.mem"), old) << c.error;
    if (c.written) {
      EXPECT_EQ(folder_.Read("a.mem"), ExpectedTarget(card)) << c.error;
      continue;
    }
    // The old file is in the Recycle Bin, and nothing is left beside.
    EXPECT_EQ(status.kind(), Status::Kind::kIoError) << c.error;
    ExpectPlainWords(status.reason());
    EXPECT_EQ(folder_.Names(), std::vector<std::string>{}) << c.error;
  }
}

// Where no Recycle Bin keeps the old file, it stays where it stood, with
// its bytes, and nothing is left beside it: the shell's file operation that
// would delete it for good, one whose file is in use, and, where there is
// none (as under Wine), the shell's older call that deletes for good.
TEST_F(Win32FileSystemTest, AnOldTargetThatNoRecycleBinKeepsStaysWhereItStood) {
  const struct {
    std::uint32_t recycled;
    bool shell_deletes_for_good;
    Status::Kind kind;
    std::string reason;  // "": the system's words
  } cases[] = {
      {ReplaceCalls::kNoRecycleBin, false, Status::Kind::kNotTrashed,
       "Windows would have deleted it for good"},
      {ERROR_SHARING_VIOLATION, false, Status::Kind::kIoError, ""},
      {ReplaceCalls::kNoFileOperation, true, Status::Kind::kNotTrashed,
       "the Recycle Bin did not keep the file itself"},
  };
  const Bytes old = PatternBytes(80, 1);
  for (const auto& c : cases) {
    folder_.Write("a.mem", old);
    calls_.log.clear();
    calls_.recycled = c.recycled;
    calls_.shell_deletes_for_good = c.shell_deletes_for_good;
    const Status status = Replace("a.mem", PatternBytes(300));
    EXPECT_EQ(status.kind(), c.kind) << c.recycled << ": " << status.message();
    if (c.reason.empty()) {
      ExpectPlainWords(status.reason());
      EXPECT_GT(calls_.log.size(), 2u) << "a file in use is tried again";
    } else {
      EXPECT_EQ(status.reason(), c.reason);
    }
    EXPECT_EQ(folder_.Read("a.mem"), old) << c.recycled;
    EXPECT_EQ(folder_.Names(), std::vector<std::string>{"a.mem"}) << c.recycled;
  }
}

TEST(Win32RecycleBin, TheShellMayRecycleButNeverDeleteForGood) {
  windows::RecycleOnly sink;
  EXPECT_EQ(sink.PreDeleteItem(TSF_DELETE_RECYCLE_IF_POSSIBLE | TSF_COPY_WRITE_TIME, nullptr),
            S_OK);
  EXPECT_FALSE(sink.refused());
  EXPECT_TRUE(FAILED(sink.PreDeleteItem(TSF_NORMAL, nullptr)));
  EXPECT_TRUE(sink.refused());
  EXPECT_EQ(sink.PostDeleteItem(0, nullptr, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), nullptr),
            S_OK);
  EXPECT_EQ(sink.result(), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
}

TEST_F(Win32FileSystemTest, ATargetHeldOpenForAMomentIsReplacedOnceLetGo) {
  const Bytes card = PatternBytes(300);
  folder_.Write("a.mem", PatternBytes(80, 1));
  HANDLE held = CreateFileW(Wide(L"a.mem").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);  // as a scanner may, without share-delete
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread scanner([held] {
    Sleep(50);
    CloseHandle(held);
  });
  const Status status = Replace("a.mem", card);
  scanner.join();
  EXPECT_TRUE(status.ok()) << status.message() << " (" << status.reason() << ")";
  EXPECT_EQ(folder_.Read("a.mem"), ExpectedTarget(card));
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"a.mem"});
}

TEST_F(Win32FileSystemTest, ListsReadsAndReplacesPastMaxPath) {
  const std::wstring outer = Long(std::wstring(150, L'd'));
  const std::wstring deep = outer + L"\\" + std::wstring(150, L'e') + L"\\";
  ASSERT_TRUE(CreateDirectoryW(outer.c_str(), nullptr) && CreateDirectoryW(deep.c_str(), nullptr));
  const AtScopeEnd remove{[&] {  // std::filesystem, which removes the rest, stops at MAX_PATH
    for (const wchar_t* name : {L"a.mcd", L"a.mem"}) DeleteFileW((deep + name).c_str());
    RemoveDirectoryW(deep.c_str());
    RemoveDirectoryW(outer.c_str());
  }};
  const std::string folder = Narrow(deep.substr(4));  // as a person names it
  calls_.bin = Long(bin_);
  for (std::uint8_t press = 1; press <= 2; ++press) {  // a new target, then an old one
    const Bytes card = PatternBytes(1000, press);
    HANDLE file = CreateFileW((deep + L"a.mcd").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    DWORD put = 0;
    ASSERT_TRUE(WriteFile(file, card.data(), static_cast<DWORD>(card.size()), &put, nullptr));
    CloseHandle(file);
    EXPECT_EQ(testing::ListedCards(*fs_, folder), std::vector<std::string>{"a.mcd"});
    RecordingWindow window(folder + "a.mcd");
    EXPECT_EQ(btnStart_Click(window, *fs_).processed, 1) << press;
    EXPECT_EQ(fs_->FileLength(folder + "a.mem"), ExpectedTarget(card).size());
  }
  EXPECT_EQ(calls_.log, (std::vector<std::wstring>{L"move " + deep + L"a.mem 0",
                                                   L"recycle " + deep + L"a.mem 0",
                                                   L"move " + deep + L"a.mem 0"}));
  EXPECT_EQ(bin_.Read("a.mem"), ExpectedTarget(PatternBytes(1000, 1)));
}

TEST_F(Win32FileSystemTest, RemovesLeftoversOfEndedRunsOfThisMachineOnly) {
  ASSERT_TRUE(Replace("a.mem", {1}).ok());
  const std::string own = Narrow(std::filesystem::path(calls_.temporary).filename().wstring());
  const std::string pid = "-" + std::to_string(GetCurrentProcessId()) + "-";
  ASSERT_NE(own.find(pid), std::string::npos) << own;
  const std::string machine = own.substr(0, own.find(pid));  // ".pellamar-<machine token>"
  const std::string ended = "-" + std::to_string(EndedProcessId()) + "-";
  ASSERT_NE(ended, "-0-");
  std::vector<std::string> kept = {machine + pid + "3.tmp", ".pellamar-00000000" + ended + "3.tmp",
                                   machine + ended + "3.mcd", "a.mem"};
  for (const std::string& name : kept) folder_.Write(name, {1});
  folder_.Write(machine + ended + "3.tmp", {1});

  RemoveLeftovers(*fs_, folder_.Folder());
  std::sort(kept.begin(), kept.end());
  EXPECT_EQ(folder_.Names(), kept);
}

// Two machines whose names share their first 15 characters, the most that
// a NetBIOS name holds, share a folder: each one's run leaves the other's
// files alone, as each has a token of its own machine id.
TEST_F(Win32FileSystemTest, MachinesAlikeInNameKeepEachOthersFiles) {
  const std::string ended = std::to_string(EndedProcessId());
  ASSERT_NE(ended, "0");
  RecordingCalls one_calls, other_calls;
  one_calls.machine_guid = "GAMEROOM-PC-0001-a";
  other_calls.machine_guid = "GAMEROOM-PC-0001-b";
  const std::unique_ptr<FileSystem> one = NewFileSystemWithCalls(one_calls);
  const std::unique_ptr<FileSystem> other = NewFileSystemWithCalls(other_calls);
  EXPECT_EQ(one->MachineId(), "GAMEROOM-PC-0001-a");
  const auto leftover = [&](FileSystem& fs) {
    return TemporaryName(MachineToken(fs.MachineId()), std::stoull(ended), 1);
  };
  ASSERT_NE(leftover(*one), leftover(*other));
  folder_.Write(leftover(*one), {1});
  folder_.Write(leftover(*other), {2});
  RemoveLeftovers(*one, folder_.Folder());
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{leftover(*other)});

  // Where Windows keeps no id, the machine's whole name stands in for it.
  RecordingCalls nameless;
  nameless.machine_guid = "";
  EXPECT_FALSE(NewFileSystemWithCalls(nameless)->MachineId().empty());
  EXPECT_FALSE(SystemReplaceCalls().MachineGuid().empty()) << "the registry has no MachineGuid";
}

// A file number that names no file (0 from some redirectors, all ones
// where a 128-bit number does not fit in 64 bits) matches nothing, not even
// itself; a 128-bit number (ReFS) is kept whole.
TEST(Win32FileIdentity, NumbersThatNameNoFileMatchNothing) {
  const auto id = [](std::uint64_t low, std::uint64_t high) {
    std::array<std::uint8_t, 16> bytes{};
    std::memcpy(bytes.data(), &low, sizeof(low));
    std::memcpy(bytes.data() + sizeof(low), &high, sizeof(high));
    return windows::IdentityFrom(7, bytes);
  };
  constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};
  for (const auto& unknown : {id(0, 0), id(kAllOnes, 0), id(kAllOnes, kAllOnes)}) {
    EXPECT_EQ(unknown, std::nullopt);
    EXPECT_FALSE(SameFile(unknown, unknown));
  }
  EXPECT_EQ(id(5, 0), (FileIdentity{7, 0, 5}));
  EXPECT_TRUE(SameFile(id(5, 0), id(5, 0)));
  EXPECT_FALSE(SameFile(id(5, 0), id(5, 9)));  // alike in the low 64 bits only
  EXPECT_EQ(id(kAllOnes, 9), (FileIdentity{7, 9, kAllOnes}));
}

// Only a link is followed, and only to a path on a drive, a volume or a
// share, never to a device or a pipe; any other reparse point (a cloud
// placeholder, a deduplicated or compressed file) is the file itself.
// Wine makes no reparse points, so these are the rules as the file system
// applies them to what Windows reports.
TEST(Win32Entries, OnlyLinksAreFollowedAndOnlyToPathsOnDisks) {
  constexpr DWORD kReparse = FILE_ATTRIBUTE_REPARSE_POINT;
  const struct {
    DWORD attributes, tag;
    TargetLook::Kind kind;
  } kinds[] = {
      {FILE_ATTRIBUTE_NORMAL, 0, TargetLook::Kind::kFile},
      {FILE_ATTRIBUTE_DIRECTORY, 0, TargetLook::Kind::kFolder},
      {FILE_ATTRIBUTE_DIRECTORY | kReparse, IO_REPARSE_TAG_MOUNT_POINT, TargetLook::Kind::kFolder},
      {kReparse, IO_REPARSE_TAG_SYMLINK, TargetLook::Kind::kLink},
      {kReparse, IO_REPARSE_TAG_MOUNT_POINT, TargetLook::Kind::kLink},
      {kReparse | FILE_ATTRIBUTE_OFFLINE, 0x9000601A, TargetLook::Kind::kFile},  // a cloud file
      {kReparse, 0x80000013, TargetLook::Kind::kFile},                           // deduplicated
      {kReparse, 0x80000017, TargetLook::Kind::kFile},                           // compressed
  };
  for (const auto& c : kinds) {
    EXPECT_EQ(windows::KindOf(c.attributes, c.tag), c.kind) << std::hex << c.tag;
  }
  const std::wstring folder = LR"(\\?\C:\x\y\)";
  const struct {
    const wchar_t* substitute;
    bool relative;
    const wchar_t* destination;  // "": not followed
  } links[] = {
      {LR"(\??\C:\cards\a.mcd)", false, LR"(\\?\C:\cards\a.mcd)"},
      {LR"(\??\d:\a.mcd.)", false, LR"(\\?\d:\a.mcd.)"},
      {LR"(\??\UNC\server\share\a.mcd)", false, LR"(\\?\UNC\server\share\a.mcd)"},
      {LR"(\??\Volume{0d5ec3a1-1111-2222-3333-444455556666}\a)", false,
       LR"(\\?\Volume{0d5ec3a1-1111-2222-3333-444455556666}\a)"},
      {LR"(\??\pipe\cards)", false, L""},
      {LR"(\??\GLOBALROOT\Device\Null)", false, L""},
      {LR"(\Device\NamedPipe\cards)", false, L""},
      {LR"(\??\CON)", false, L""},
      {LR"(\??\C:)", false, L""},
      {LR"(C:\cards\a.mcd)", false, L""},
      {LR"(..\b\a.mcd)", true, LR"(\\?\C:\x\b\a.mcd)"},
      {LR"(.\CON.mcd)", true, LR"(\\?\C:\x\y\CON.mcd)"},
      {LR"(\top\a.mcd)", true, LR"(\\?\C:\top\a.mcd)"},
      {LR"(..\..\..\..\a.mcd)", true, LR"(\\?\C:\a.mcd)"},
  };
  for (const auto& c : links) {
    EXPECT_EQ(Narrow(windows::LinkDestination(c.substitute, c.relative, folder)),
              Narrow(c.destination))
        << Narrow(c.substitute);
  }
}

// The whole "Convert" run on the real file system.

TEST_F(Win32FileSystemTest, RunNamesTargetsOfShortNameMatchesByAppending) {
  folder_.Write("a.mcd", PatternBytes(128, 1));
  folder_.Write("slot1.mcdx", PatternBytes(256, 2));
  if (ShortName(L"slot1.mcdx") == L"slot1.mcdx") GTEST_SKIP() << "this volume makes no 8.3 names";

  for (int press = 1; press <= 2; ++press) {  // the targets of the first are no cards
    const BatchReport report = Convert("a.mcd");
    EXPECT_EQ(report.processed, 2) << "press " << press;
    EXPECT_TRUE(report.AllConverted()) << FinalMessage(report);
  }
  EXPECT_EQ(folder_.Names(),
            (std::vector<std::string>{"a.mcd", "a.mem", "slot1.mcdx", "slot1.mcdx.mem"}));
  EXPECT_EQ(folder_.Read("slot1.mcdx.mem"), ExpectedTarget(PatternBytes(256, 2)));
}

TEST_F(Win32FileSystemTest, RunLeavesReadOnlyAndLockedTargetsAndSaysSo) {
  for (const char* name : {"a.mcd", "b.mcd", "c.mcd"}) folder_.Write(name, PatternBytes(100));
  const Bytes old = PatternBytes(30, 9);
  folder_.Write("a.mem", old);
  folder_.Write("b.mem", old);
  SetAttributes(L"a.mem", FILE_ATTRIBUTE_READONLY);
  OpenFile in_use(Wide(L"b.mem"), FILE_SHARE_READ);
  ASSERT_TRUE(in_use.valid());

  const BatchReport report = Convert("c.mcd");
  EXPECT_EQ(report.processed, 1);
  ASSERT_EQ(report.not_converted, 2);
  std::vector<std::string> reasons;
  for (const CardFailure& failure : report.first_failures) {
    reasons.push_back(failure.name + ": " + failure.reason);
  }
  std::sort(reasons.begin(), reasons.end());
  ASSERT_EQ(reasons.size(), 2u);
  EXPECT_EQ(reasons[0], "a.mcd: a.mem is read-only");
  // Then the system's words, in lower case.
  EXPECT_EQ(reasons[1].substr(0, 35), "b.mcd: b.mem could not be written (") << reasons[1];
  EXPECT_EQ(folder_.Read("a.mem"), old);
  EXPECT_EQ(folder_.Read("b.mem"), old);
  EXPECT_EQ(folder_.Names(),
            (std::vector<std::string>{"a.mcd", "a.mem", "b.mcd", "b.mem", "c.mcd", "c.mem"}));
}

}  // namespace
}  // namespace pellamar

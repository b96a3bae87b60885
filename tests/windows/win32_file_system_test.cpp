// The Windows file system: which names the listing returns (by attribute,
// and through 8.3 short names), UTF-8 paths at the UTF-16 boundary, paths
// past MAX_PATH, what a replace leaves behind when it succeeds, is refused,
// meets a busy file, or fails, and which calls it makes for that.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "core/batch_run.h"
#include "core/card_conversion.h"
#include "core/file_system.h"
#include "core/replace.h"
#include "core/wide_text.h"
#include "core/win32_replace_calls.h"
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

// The system's replace calls, each recorded as "replace|move <target>
// <flags>", and the failures a test puts in: the next `failures` of them
// (all when negative) fail with `error`; an ACL may deny writing; a replace
// may lose the old target and leave the new file unrenamed, as Windows may.
class RecordingCalls final : public ReplaceCalls {
 public:
  std::uint32_t Replace(const std::wstring& replaced, const std::wstring& replacement,
                        std::uint32_t flags) override {
    Note(L"replace ", replaced, replacement, flags);
    if (Fail()) return error;
    if (lose_target) {
      return DeleteFileW(replaced.c_str()) ? ERROR_UNABLE_TO_MOVE_REPLACEMENT : GetLastError();
    }
    return SystemReplaceCalls().Replace(replaced, replacement, flags);
  }
  std::uint32_t Move(const std::wstring& from, const std::wstring& to,
                     std::uint32_t flags) override {
    Note(L"move ", to, from, flags);
    return Fail() ? error : SystemReplaceCalls().Move(from, to, flags);
  }
  std::uint32_t OpenToWrite(const std::wstring& path) override {
    ++opened_to_write;
    return deny_writing ? ERROR_ACCESS_DENIED : SystemReplaceCalls().OpenToWrite(path);
  }
  void Wait(std::uint32_t milliseconds) override { SystemReplaceCalls().Wait(milliseconds); }
  bool ReplaceKeepsTheTarget() override {
    return keeps_target.value_or(SystemReplaceCalls().ReplaceKeepsTheTarget());
  }

  std::vector<std::wstring> log;
  std::wstring temporary;  // the file the last call put in place
  std::uint32_t error = ERROR_SHARING_VIOLATION;
  int failures = 0;
  bool deny_writing = false;
  int opened_to_write = 0;
  bool lose_target = false;
  std::optional<bool> keeps_target;  // as the system says when unset

 private:
  void Note(const wchar_t* what, const std::wstring& target, const std::wstring& temporary_file,
            std::uint32_t flags) {
    log.push_back(what + target + L" " + std::to_wstring(flags));
    temporary = temporary_file;
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
  std::wstring Call(const wchar_t* what, const wchar_t* name, DWORD flags) const {
    return what + Long(name) + L" " + std::to_wstring(flags);
  }

  void SetAttributes(const std::wstring& name, DWORD attributes) {
    ASSERT_TRUE(SetFileAttributesW(Wide(name).c_str(), attributes)) << GetLastError();
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
  ASSERT_TRUE(Replace("a.mem", card).ok());
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

// What a dry run asks: the refusals that can be told without opening the
// target to write; an ACL that denies writing is left to the replace.
TEST_F(Win32FileSystemTest, ALookBeforeAReplaceOpensNothingToWrite) {
  folder_.Write("a.mem", {1});
  SetAttributes(L"a.mem", FILE_ATTRIBUTE_READONLY);
  folder_.Write("b.mem", {1});
  calls_.deny_writing = true;
  cards_.Write("card.mcd", {1, 2});
  Status status;
  const std::unique_ptr<CardFile> card = fs_->OpenCard(cards_ / "card.mcd", &status);
  ASSERT_TRUE(card) << status.message();
  TargetLook look;
  EXPECT_EQ(fs_->LookAt(folder_ / "a.mem", *card, &look).kind(), Status::Kind::kReadOnly);
  EXPECT_TRUE(fs_->LookAt(folder_ / "b.mem", *card, &look).ok());
  EXPECT_EQ(look.kind, TargetLook::Kind::kFile);
  EXPECT_TRUE(fs_->LookAt(folder_ / "new.mem", *card, &look).ok());
  EXPECT_EQ(look.kind, TargetLook::Kind::kNothing);
  EXPECT_EQ(fs_->LookAt(cards_ / "card.mcd", *card, &look).kind(), Status::Kind::kOwnTarget);
  EXPECT_EQ(calls_.opened_to_write, 0);
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"a.mem", "b.mem"}));
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

TEST_F(Win32FileSystemTest, ReplacesAnOldTargetWithReplaceFileAndRenamesANewOne) {
  const Bytes card = PatternBytes(300);
  folder_.Write("a.mem", PatternBytes(80, 1));
  calls_.keeps_target = true;
  ASSERT_TRUE(Replace("a.mem", card).ok());
  EXPECT_TRUE(calls_.temporary.starts_with(Long(L".pellamar-"))) << calls_.temporary;
  ASSERT_TRUE(Replace("new.mem", card).ok());
  calls_.lose_target = true;  // the rename then finishes the replace
  ASSERT_TRUE(Replace("a.mem", card).ok());
  calls_.keeps_target = false;  // as under Wine, whose ReplaceFileW keeps nothing
  ASSERT_TRUE(Replace("a.mem", card).ok());

  const DWORD merge = REPLACEFILE_IGNORE_MERGE_ERRORS;
  const DWORD over = MOVEFILE_REPLACE_EXISTING;
  EXPECT_EQ(calls_.log, (std::vector<std::wstring>{
                            Call(L"replace ", L"a.mem", merge), Call(L"move ", L"new.mem", over),
                            Call(L"replace ", L"a.mem", merge), Call(L"move ", L"a.mem", over),
                            Call(L"move ", L"a.mem", over)}));
  EXPECT_EQ(folder_.Read("a.mem"), ExpectedTarget(card));
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"a.mem", "new.mem"}));
}

TEST_F(Win32FileSystemTest, TriesABusyReplaceAgainForAMomentOnly) {
  const struct {
    DWORD error;
    int failures;       // negative: every try
    std::size_t tries;  // 0: a few
    bool written;
  } cases[] = {
      {ERROR_SHARING_VIOLATION, 2, 3, true},
      {ERROR_LOCK_VIOLATION, 1, 2, true},
      {ERROR_ACCESS_DENIED, 1, 2, true},
      {ERROR_UNABLE_TO_REMOVE_REPLACED, 1, 2, true},  // ReplaceFileW's words for a file in use
      {ERROR_SHARING_VIOLATION, -1, 0, false},
      {ERROR_DISK_FULL, 1, 1, false},
  };
  const Bytes old = PatternBytes(80, 1);
  const Bytes card = PatternBytes(300);
  calls_.keeps_target = true;
  for (const auto& c : cases) {
    folder_.Write("a.mem", old);
    calls_.log.clear();
    calls_.error = c.error;
    calls_.failures = c.failures;
    const auto start = std::chrono::steady_clock::now();
    const Status status = Replace("a.mem", card);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.error;
    if (c.tries == 0) {
      EXPECT_GT(calls_.log.size(), 2u) << c.error;
    } else {
      EXPECT_EQ(calls_.log.size(), c.tries) << c.error;
    }
    ASSERT_EQ(status.ok(), c.written) << c.error << ": " << status.message();
    EXPECT_EQ(folder_.Read("a.mem"), c.written ? ExpectedTarget(card) : old) << c.error;
    EXPECT_EQ(folder_.Names(), std::vector<std::string>{"a.mem"}) << c.error;
    if (!c.written) ExpectPlainWords(status.reason());
  }
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
  const Bytes card = PatternBytes(1000, 4);
  HANDLE file =
      CreateFileW((deep + L"a.mcd").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  DWORD put = 0;
  ASSERT_TRUE(WriteFile(file, card.data(), static_cast<DWORD>(card.size()), &put, nullptr));
  CloseHandle(file);

  const std::string folder = Narrow(deep.substr(4));  // as a person names it
  EXPECT_EQ(testing::ListedCards(*fs_, folder), std::vector<std::string>{"a.mcd"});
  for (int press = 1; press <= 2; ++press) {  // a new target, then an old one
    RecordingWindow window(folder + "a.mcd");
    EXPECT_EQ(btnStart_Click(window, *fs_).processed, 1) << press;
  }
  EXPECT_EQ(fs_->FileLength(folder + "a.mem"), ExpectedTarget(card).size());
  ASSERT_EQ(calls_.log.size(), 2u);
  EXPECT_TRUE(calls_.log[1].starts_with(L"move " + deep + L"a.mem ")) << calls_.log[1];
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

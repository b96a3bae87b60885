// The Windows file system: which names the listing returns (by attribute,
// and through 8.3 short names), UTF-8 paths at the UTF-16 boundary, and what
// a replace leaves behind when it succeeds, is refused, or fails.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/batch_run.h"
#include "core/card_conversion.h"
#include "core/file_system.h"
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

class Win32FileSystemTest : public ::testing::Test {
 protected:
  std::wstring Wide(const std::wstring& name) const { return (folder_.path() / name).wstring(); }

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
    Status status;
    const std::unique_ptr<CardFile> card = fs_->OpenCard(cards_ / "card.mcd", &status);
    if (!card) return status;
    std::vector<std::uint8_t> buffer(kCopyPieceSize);
    return WriteCard(*fs_, folder_.Folder() + name, ConvertCard(BuildTargetHeader(), *card),
                     buffer);
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
  std::unique_ptr<FileSystem> fs_ = NewPlatformFileSystem();
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
  const Status status = Replace("a.mem", PatternBytes(164));
  EXPECT_EQ(status.kind(), Status::Kind::kReadOnly) << status.message();
  EXPECT_EQ(folder_.Read("a.mem"), old);
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"a.mem"});
}

TEST_F(Win32FileSystemTest, AFailedReplaceLeavesTheOldTargetAndNoTemporaryFile) {
  const Bytes old = PatternBytes(80, 1);
  folder_.Write("a.mem", old);
  {
    OpenFile in_use(Wide(L"a.mem"), FILE_SHARE_READ);  // may not be deleted or renamed over
    ASSERT_TRUE(in_use.valid());
    const Status status = Replace("a.mem", PatternBytes(164));
    EXPECT_EQ(status.kind(), Status::Kind::kIoError) << status.message();
    EXPECT_NE(status.message().find("a.mem"), std::string::npos) << status.message();
  }
  EXPECT_EQ(folder_.Read("a.mem"), old);
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"a.mem"});

  ASSERT_TRUE(CreateDirectoryW(Wide(L"dir.mem").c_str(), nullptr));
  EXPECT_EQ(Replace("dir.mem", PatternBytes(164)).kind(), Status::Kind::kIsFolder);
  EXPECT_TRUE(std::filesystem::is_directory(folder_.path() / "dir.mem"));
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"a.mem", "dir.mem"}));
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

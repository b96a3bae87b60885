// The open and save dialogs' request records, byte for byte, and how the
// dialog's answer becomes the result. No dialog is shown.
#include "ui/win32/file_dialogs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/win32_ui/fake_desktop_calls.h"
#include "tests/win32_ui/request_record_layout.h"
#include "ui/common/filter_string.h"
#include "ui/common/form_layout.h"

namespace pellamar::win32 {
namespace {

using namespace std::string_literals;
using testing::kLayout;
using Record = std::vector<std::uint8_t>;

const HWND kOwner = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x00012345));
const std::wstring kConvertedSourceFilter =
    L"Bleem Memory Cards (*.mcd)\0*.mcd\0All files (*.*)\0*.*\0\0"s;

// `value` as `width` little-endian bytes at `offset`.
void Put(Record& record, std::size_t offset, std::size_t width, std::uint64_t value) {
  for (std::size_t i = 0; i < width; ++i) {
    record[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

void PutWord(Record& record, std::size_t offset, std::uint32_t value) {
  Put(record, offset, 4, value);
}

void PutPointer(Record& record, std::size_t offset, const void* pointer) {
  Put(record, offset, kLayout.pointer, reinterpret_cast<std::uintptr_t>(pointer));
}

// The bytes that the record must hold, member by member, with the
// addresses of the texts that the record points at. Whatever is not set
// here is zero, padding included.
Record ExpectedRecord(const OPENFILENAMEW& actual, std::uint32_t flags) {
  Record record(kLayout.size, 0);
  PutWord(record, 0, static_cast<std::uint32_t>(kLayout.size));  // lStructSize
  PutPointer(record, kLayout.hwndOwner, kOwner);
  PutPointer(record, kLayout.hInstance, GetModuleHandleW(nullptr));
  PutPointer(record, kLayout.lpstrFilter, actual.lpstrFilter);
  PutPointer(record, kLayout.lpstrFile, actual.lpstrFile);
  PutWord(record, kLayout.nMaxFile, 32768);  // the longest path Windows has, and its NUL
  PutPointer(record, kLayout.lpstrFileTitle, actual.lpstrFileTitle);
  PutWord(record, kLayout.nMaxFileTitle, 32768);
  PutPointer(record, kLayout.lpstrInitialDir, actual.lpstrInitialDir);
  PutPointer(record, kLayout.lpstrTitle, actual.lpstrTitle);
  PutWord(record, kLayout.Flags, flags);
  return record;  // custom filter, filter index, offsets, hook, template: 0
}

Record BytesOf(const OPENFILENAMEW& record, std::size_t from, std::size_t to) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&record);
  return Record(bytes + from, bytes + to);
}

std::wstring Spaces(std::size_t count) { return std::wstring(count, L' '); }

// A whole file buffer as a dialog is handed it: `start`, then NULs.
std::wstring Buffer(const std::wstring& start) {
  return start + std::wstring(32768 - start.size(), L'\0');
}

// The list the record's filter points at, up to its closing double NUL.
std::wstring FilterList(const wchar_t* filter) {
  const wchar_t* end = filter;
  while (end[0] != L'\0' || end[1] != L'\0') ++end;
  return std::wstring(filter, end + 2);
}

TEST(DialogRequest, OpenRecordHoldsExactlyTheRequestedMembers) {
  const DialogRequest request = BuildOpenRequest(kOwner, ui::ConvertFilterString(ui::kSourceFilter),
                                                 "Select a memory card", "c:\\");
  const OPENFILENAMEW& record = request.record();

  EXPECT_EQ(BytesOf(record, 0, kLayout.size), ExpectedRecord(record, 0x1004));
  EXPECT_EQ(FilterList(record.lpstrFilter), kConvertedSourceFilter);
  EXPECT_EQ(std::wstring(record.lpstrFile, 32768), Buffer(Spaces(254)));
  EXPECT_EQ(std::wstring(record.lpstrFileTitle, 32768), Buffer(Spaces(254)));
  EXPECT_STREQ(record.lpstrTitle, L"Select a memory card");
  EXPECT_STREQ(record.lpstrInitialDir, L"c:\\");
  // Nothing of the later, longer record form is filled in.
  EXPECT_EQ(BytesOf(record, kLayout.size, sizeof(record)),
            Record(sizeof(record) - kLayout.size, 0));
}

TEST(DialogRequest, SaveRecordAsksBeforeCreatingOrReplacing) {
  const DialogRequest request = BuildSaveRequest(kOwner, ui::ConvertFilterString("Cards|*.mem"),
                                                 "Save a card", "d:\\out", "slot1.mem");
  const OPENFILENAMEW& record = request.record();

  EXPECT_EQ(BytesOf(record, 0, kLayout.size), ExpectedRecord(record, 0x2006));
  EXPECT_EQ(FilterList(record.lpstrFilter), L"Cards\0*.mem\0\0"s);
  EXPECT_EQ(std::wstring(record.lpstrFile, 32768), Buffer(L"slot1.mem" + Spaces(245)));
  EXPECT_EQ(std::wstring(record.lpstrFileTitle, 32768), Buffer(Spaces(254)));
  EXPECT_STREQ(record.lpstrTitle, L"Save a card");
  EXPECT_STREQ(record.lpstrInitialDir, L"d:\\out");
}

TEST(DialogRequest, DefaultFilenameIsCutAfter254Characters) {
  const std::string filter = ui::ConvertFilterString("");
  const DialogRequest longer = BuildSaveRequest(kOwner, filter, "", "", std::string(300, 'n'));
  EXPECT_EQ(std::wstring(longer.record().lpstrFile, 255), std::wstring(254, L'n') + L'\0');

  const DialogRequest empty = BuildSaveRequest(kOwner, filter, "", "", "");
  EXPECT_EQ(std::wstring(empty.record().lpstrFile, 255), Spaces(254) + L'\0');
  // An empty filter string is an empty list: a single NUL before the end.
  EXPECT_EQ(FilterList(empty.record().lpstrFilter), L"\0\0"s);

  // A name in UTF-8 arrives in UTF-16; a pair that would be cut in half
  // is left out whole.
  const std::string clef = "\xF0\x9D\x84\x9E";  // U+1D11E, two UTF-16 units
  const DialogRequest wide = BuildSaveRequest(kOwner, filter, "", "", std::string(253, 'a') + clef);
  EXPECT_EQ(std::wstring(wide.record().lpstrFile, 255), std::wstring(253, L'a') + L" " + L'\0');
}

// The file buffer as the dialog may leave it, and what the call makes of it.
struct ResultCase {
  const char* name;
  bool confirmed;
  std::wstring buffer;  // written over the start of the file buffer
  std::string expected;
};

class DialogResult : public ::testing::TestWithParam<ResultCase> {};

TEST_P(DialogResult, IsTheTextBeforeTheFirstNulWithoutOuterSpaces) {
  DialogRequest request = BuildOpenRequest(kOwner, "\0"s, "", "");
  const ResultCase& c = GetParam();
  ASSERT_LE(c.buffer.size(), 32768u);
  std::copy(c.buffer.begin(), c.buffer.end(), request.record()->lpstrFile);
  EXPECT_EQ(request.Result(c.confirmed), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DialogResult,
    ::testing::Values(
        ResultCase{"Confirmed", true, L"C:\\cards\\a.mcd\0"s, "C:\\cards\\a.mcd"},
        ResultCase{"SpacesAfterTheNulAreIgnored", true, L"C:\\x.mcd\0 tail"s, "C:\\x.mcd"},
        ResultCase{"OuterSpacesAreTrimmed", true, L"  C:\\my cards\\a.mcd  \0"s,
                   "C:\\my cards\\a.mcd"},
        ResultCase{"NoNulTakesTheWholeBuffer", true, L"C:\\" + std::wstring(32765, L'p'),
                   "C:\\" + std::string(32765, 'p')},
        ResultCase{"PathOf254Characters", true, L"C:\\" + std::wstring(251, L'q') + L'\0',
                   "C:\\" + std::string(251, 'q')},
        ResultCase{"PathPastTheStartingSpaces", true, L"C:\\" + std::wstring(297, L'r') + L'\0',
                   "C:\\" + std::string(297, 'r')},
        ResultCase{"UnicodeComesBackAsUtf8", true, L"C:\\Karten\\Spielst\u00e4nde.mcd\0"s,
                   "C:\\Karten\\Spielst\xC3\xA4nde.mcd"},
        ResultCase{"OnlySpacesGiveNothing", true, L"", ""},
        ResultCase{"CancelGivesNothing", false, L"C:\\cards\\a.mcd\0"s, ""}),
    [](const ::testing::TestParamInfo<ResultCase>& info) { return info.param.name; });

TEST(OpenDialog, ConvertsTheCallersFilterAndReturnsTheConfirmedPath) {
  testing::FakeDesktopCalls desktop;
  desktop.ConfirmNextDialog(L"C:\\cards\\slot1.mcd");
  std::string filter = ui::kSourceFilter;

  EXPECT_EQ(OpenDialog(desktop, kOwner, filter, "Select a memory card", "c:\\"),
            "C:\\cards\\slot1.mcd");
  EXPECT_EQ(filter, ui::ConvertFilterString(ui::kSourceFilter));
  ASSERT_EQ(desktop.requests.size(), 1u);
  const testing::SeenRequest& seen = desktop.requests[0];
  EXPECT_FALSE(seen.save);
  EXPECT_EQ(seen.record.lStructSize, kLayout.size);
  EXPECT_EQ(seen.record.hwndOwner, kOwner);
  EXPECT_EQ(seen.record.Flags, 0x1004u);
  EXPECT_EQ(seen.filter, kConvertedSourceFilter);
  EXPECT_EQ(seen.title, L"Select a memory card");
  EXPECT_EQ(seen.initial_dir, L"c:\\");
  EXPECT_EQ(seen.file, Buffer(Spaces(254)));
}

TEST(OpenDialog, CancelGivesNothing) {
  testing::FakeDesktopCalls desktop;
  desktop.CancelNextDialog();
  std::string filter = ui::kSourceFilter;
  EXPECT_EQ(OpenDialog(desktop, kOwner, filter, "t", "c:\\"), "");
  EXPECT_EQ(desktop.requests.size(), 1u);
}

TEST(SaveDialog, ProposesTheDefaultNameAndReturnsTheConfirmedPath) {
  testing::FakeDesktopCalls desktop;
  desktop.ConfirmNextDialog(L"D:\\out\\slot1.mem");
  std::string filter = "Cards (*.mem)|*.mem|";

  EXPECT_EQ(SaveDialog(desktop, kOwner, filter, "Save", "d:\\", "slot1.mem"), "D:\\out\\slot1.mem");
  EXPECT_EQ(filter, "Cards (*.mem)\0*.mem\0"s);
  ASSERT_EQ(desktop.requests.size(), 1u);
  EXPECT_TRUE(desktop.requests[0].save);
  EXPECT_EQ(desktop.requests[0].record.Flags, 0x2006u);
  EXPECT_EQ(desktop.requests[0].file, Buffer(L"slot1.mem" + Spaces(245)));
}

}  // namespace
}  // namespace pellamar::win32

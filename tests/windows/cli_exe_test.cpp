// The real pellamar-cli.exe, started as a script starts it: the arguments
// through the wide command line, both outputs through pipes, the exit
// status, and the files it leaves.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "core/wide_text.h"
#include "tests/support/expected_target.h"
#include "tests/support/temp_folder.h"

namespace pellamar::testing {
namespace {

namespace fs = std::filesystem;

std::wstring g_cli;  // the program under test, named on the command line

struct Outcome {
  DWORD status = 0;
  std::string out;
  std::string err;
};

// One argument as CommandLineToArgvW reads it back.
std::wstring Quoted(const std::wstring& arg) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  return quoted.append(backslashes * 2, L'\\') + L'"';
}

// The read end of a pipe whose write end the child inherits.
struct Pipe {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  Pipe() {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    CreatePipe(&read, &write, &inherit, 0);
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  }
  ~Pipe() {
    if (read != nullptr) CloseHandle(read);
    if (write != nullptr) CloseHandle(write);
  }
  void CloseWrite() {
    CloseHandle(write);
    write = nullptr;
  }
  std::string Drain() const {
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (read != nullptr && ReadFile(read, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
      text.append(buffer, got);
    }
    return text;
  }
};

// Runs pellamar-cli.exe with `args` (UTF-8); with `out_closed`, its standard
// output is a handle that cannot be written.
Outcome RunCli(const std::vector<std::string>& args, bool out_closed = false) {
  std::wstring line = Quoted(g_cli);
  for (const std::string& arg : args) line += L" " + Quoted(Widen(arg));
  Pipe out, err;
  if (out_closed) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    CloseHandle(out.write);
    out.write = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                            OPEN_EXISTING, 0, nullptr);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out.write;
  startup.hStdError = err.write;
  PROCESS_INFORMATION process{};
  Outcome outcome;
  const BOOL started = CreateProcessW(g_cli.c_str(), line.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  EXPECT_TRUE(started) << "cannot start the program: error " << GetLastError();
  if (!started) return outcome;
  out.CloseWrite();
  err.CloseWrite();
  std::thread err_reader([&] { outcome.err = err.Drain(); });
  outcome.out = out.Drain();
  err_reader.join();
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &outcome.status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return outcome;
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

class CliExeTest : public ::testing::Test {
 protected:
  TempFolder folder_;
};

TEST_F(CliExeTest, ConvertsRealCardsWithUnicodeNamesFromAFolderOrACardPath) {
  const std::string snowman = "caf\xC3\xA9 \xE2\x98\x83";  // "café ☃"
  folder_.Write(snowman + ".mcd", RealCard("m1.mcd"));
  folder_.Write("MemoryCard2-1.mcd", RealCard("MemoryCard2-1.mcd"));
  const std::string plain = Utf8(folder_.path());
  std::string slashed = plain + "/" + snowman + ".mcd";  // "/" is a separator too
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  std::string long_form = "//?/" + plain;  // the long form, with slashes
  std::replace(long_form.begin(), long_form.end(), '\\', '/');

  for (const std::string& path : {plain, slashed, long_form}) {
    const Outcome run = RunCli({path});
    EXPECT_EQ(run.status, 0u) << path;
    EXPECT_EQ(run.out, "2 Files Processed\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(folder_.Read(snowman + ".mem"), ExpectedTarget(RealCard("m1.mcd")));
    EXPECT_EQ(folder_.Read("MemoryCard2-1.mem"), ExpectedTarget(RealCard("MemoryCard2-1.mcd")));
  }
}

TEST_F(CliExeTest, CardsNotConvertedAreNamedInUtf8WithTheirReasons) {
  folder_.Write("\xC3\xA9t\xC3\xA9.mcd", {});  // "été.mcd", empty
  folder_.Write("good.mcd", RealCard("blank.mcd"));
  folder_.Write("locked.mcd", RealCard("m1.mcd"));
  folder_.Write("locked.mem", {7});
  ASSERT_TRUE(SetFileAttributesW((folder_.path() / "locked.mem").c_str(), FILE_ATTRIBUTE_READONLY));

  const Outcome run = RunCli({"--verbose", Utf8(folder_.path())});

  EXPECT_EQ(run.status, 1u);
  EXPECT_NE(run.out.find("\n\xC3\xA9t\xC3\xA9.mcd: "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("locked.mem is read-only"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "1 Processed. (1 of 3)\n");
  SetFileAttributesW((folder_.path() / "locked.mem").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(folder_.Read("locked.mem"), Bytes{7});
}

TEST_F(CliExeTest, ACardDeeperThanMaxPathIsConverted) {
  const fs::path top = L"\\\\?\\" + folder_.path().wstring() + L"\\deep";
  fs::path deep = top;
  while (deep.wstring().size() < MAX_PATH + 40) deep /= std::wstring(40, L'd');
  fs::create_directories(deep);
  fs::copy_file(fs::path(PELLAMAR_TEST_DATA_DIR) / "MemoryCard2-1.mcd", deep / "slot1.mcd");

  // Typed as people type it, without the prefix.
  const Outcome run = RunCli({Utf8(deep.wstring().substr(4))});

  EXPECT_EQ(run.status, 0u) << run.out;
  EXPECT_EQ(run.out, "1 Files Processed\n");
  EXPECT_TRUE(fs::exists(deep / "slot1.mem"));
  std::error_code ignored;
  fs::remove_all(top, ignored);
}

// Typed without its separator, as a folder's path may be on the command line.
TEST_F(CliExeTest, AFolderWhoseNameEndsInADotIsTheOneConverted) {
  ASSERT_TRUE(
      CreateDirectoryW((L"\\\\?\\" + folder_.path().wstring() + L"\\dot.").c_str(), nullptr));
  fs::create_directory(folder_.path() / "dot");  // what Windows' path rules make of "dot."
  folder_.Write("dot\\a.mcd", RealCard("m1.mcd"));
  folder_.Write("dot.\\a.mcd.", RealCard("MemoryCard2-1.mcd"));
  folder_.Write("dot.\\CON.mcd", RealCard("blank.mcd"));
  const std::string typed = Utf8(folder_.path()) + "\\dot.";

  EXPECT_EQ(RunCli({typed}).out, "2 Files Processed\n");
  EXPECT_EQ(RunCli({"--verify", typed}).out, "2 Files Verified\n");
  EXPECT_EQ(folder_.Read("dot.\\CON.mem"), ExpectedTarget(RealCard("blank.mcd")));
  EXPECT_FALSE(folder_.Exists("dot\\a.mem"));
}

// The card lines of a dry run or a verify, sorted, without the summary.
std::vector<std::string> CardLines(const std::string& out) {
  std::vector<std::string> lines;
  std::istringstream in(out.substr(0, out.find("\n\n")));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The played-on .mem that the run replaces goes to the Recycle Bin, from
// where it comes back byte for byte.
TEST_F(CliExeTest, ADryRunForetellsTheRunAndAVerifyProvesIt) {
  folder_.Write("new.mcd", RealCard("m1.mcd"));
  folder_.Write("same.mcd", RealCard("blank.mcd"));
  folder_.Write("same.mem", ExpectedTarget(RealCard("blank.mcd")));
  folder_.Write("played.mcd", RealCard("MemoryCard2-1.mcd"));
  fs::last_write_time(folder_.path() / "played.mcd",
                      fs::file_time_type::clock::now() - std::chrono::hours(2));
  const Bytes played = ExpectedTarget(PatternBytes(RealCard("MemoryCard2-1.mcd").size()));
  folder_.Write("played.mem", played);
  folder_.Write("locked.mcd", {1, 2});
  folder_.Write("locked.mem", {7});
  ASSERT_TRUE(SetFileAttributesW((folder_.path() / "locked.mem").c_str(), FILE_ATTRIBUTE_READONLY));
  folder_.Write("hidden.mcd", {1});  // no card, for the dry run as for the run
  ASSERT_TRUE(SetFileAttributesW((folder_.path() / "hidden.mcd").c_str(), FILE_ATTRIBUTE_HIDDEN));
  const std::string plain = Utf8(folder_.path());

  const Outcome dry = RunCli({"--dry-run", plain});
  EXPECT_EQ(dry.status, 1u);
  EXPECT_EQ(CardLines(dry.out),
            (std::vector<std::string>{
                "new new.mcd: new.mem would be created",
                "replace-modified played.mcd: played.mem holds something else and was modified "
                "after the card; it would go to the Recycle Bin",
                "same same.mcd: same.mem already holds this conversion",
                "skip locked.mcd: locked.mem is read-only"}));
  EXPECT_FALSE(folder_.Exists("new.mem"));
  EXPECT_FALSE(folder_.Exists("hidden.mem"));
  EXPECT_EQ(RunCli({plain}).out,
            "3 Files Processed\n\n1 Files Not Converted:\n"
            "locked.mcd: locked.mem is read-only\n\n"
            "1 Replaced File Moved to the Recycle Bin:\nplayed.mem\n");
  EXPECT_EQ(TrashedCopiesOf(folder_ / "played.mem"), std::vector<Bytes>{played});
  EXPECT_EQ(folder_.Read("played.mem"), ExpectedTarget(RealCard("MemoryCard2-1.mcd")));
  EXPECT_TRUE(TrashedCopiesOf(folder_ / "same.mem").empty()) << "it held the conversion";

  Bytes edited = folder_.Read("new.mem");
  edited[100] ^= 1;
  folder_.Write("new.mem", edited);
  const Outcome verify = RunCli({"--verify", plain});
  EXPECT_EQ(verify.status, 1u);
  EXPECT_EQ(
      CardLines(verify.out),
      (std::vector<std::string>{"differs new.mcd: new.mem differs at offset 100",
                                "length locked.mcd: locked.mem is 1 bytes long instead of 66"}));
  SetFileAttributesW((folder_.path() / "locked.mem").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(CliExeTest, ExitStatusesSayWhatHappened) {
  struct Case {
    std::vector<std::string> args;
    bool out_closed;
    DWORD status;
    std::string out_start;
  };
  folder_.Write("a.mcd", RealCard("m1.mcd"));
  const std::string plain = Utf8(folder_.path());
  TempFolder short_cards;
  short_cards.Write("short.mcd", PatternBytes(65536));
  const std::string shorter = Utf8(short_cards.path());
  const Case cases[] = {
      {{"--help"}, false, 0, "Usage: pellamar-cli"},
      {{"--version"}, false, 0, "pellamar-cli "},
      {{}, false, 2, ""},
      {{"--bogus", plain}, false, 2, ""},
      {{plain + "\\missing\\"}, false, 1, "0 Files Processed\n\nThe folder "},
      {{plain}, true, 3, ""},
      {{"--verify", plain}, false, 0, "1 Files Verified\n"},
      {{"--dry-run", plain}, true, 3, ""},
      {{"--dry-run", "--verify", plain}, false, 2, ""},
      {{shorter}, false, 4, "1 Files Processed\n\n1 File of Another Size:\nshort.mcd: converted"},
      {{"--verify", shorter},
       false,
       4,
       "exact short.mcd: short.mem is exact; the card holds 65,536"},
  };
  for (const Case& c : cases) {
    const Outcome run = RunCli(c.args, c.out_closed);
    const std::string shown = c.args.empty() ? "(none)" : c.args.front();
    EXPECT_EQ(run.status, c.status) << shown;
    EXPECT_EQ(run.out.substr(0, c.out_start.size()), c.out_start) << shown;
    if (c.status == 2) {
      EXPECT_NE(run.err.find("Usage: pellamar-cli"), std::string::npos) << shown;
    }
  }
}

}  // namespace
}  // namespace pellamar::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PELLAMAR-CLI.EXE\n", argv[0]);
    return 2;
  }
  pellamar::testing::g_cli = std::filesystem::absolute(argv[1]).make_preferred().wstring();
  return RUN_ALL_TESTS();
}

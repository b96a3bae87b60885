// What pellamar-cli needs of Windows beyond the core's file system: its
// console, and what a path names.
#include <windows.h>

#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

#include "cli/command_line.h"
#include "cli/run.h"
#include "core/wide_text.h"

namespace pellamar::cli {
namespace {

// WriteConsoleW takes at most this many characters per call.
constexpr std::size_t kConsolePiece = 8192;

// A stream buffer over one standard handle. A console gets the text as
// UTF-16, so that every name shows whatever the console's code page; a file
// or a pipe gets the UTF-8 bytes unchanged. Text is held until a flush, so a
// character is never split; a write that fails fails the stream.
class StandardHandleBuffer final : public std::streambuf {
 public:
  explicit StandardHandleBuffer(DWORD which) : handle_(GetStdHandle(which)) {
    console_ = GetConsoleMode(handle_, &mode_) != 0;
  }
  StandardHandleBuffer(const StandardHandleBuffer&) = delete;
  StandardHandleBuffer& operator=(const StandardHandleBuffer&) = delete;
  ~StandardHandleBuffer() override {
    sync();
    if (mode_changed_) SetConsoleMode(handle_, mode_);
  }

  bool console() const { return console_; }

  // Asks the console to act on escapes; false where it cannot.
  bool EnableEscapes() {
    if (!console_) return false;
    if ((mode_ & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
    mode_changed_ = SetConsoleMode(handle_, mode_ | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    return mode_changed_;
  }

 protected:
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      pending_.push_back(traits_type::to_char_type(c));
    }
    return traits_type::not_eof(c);
  }

  std::streamsize xsputn(const char* text, std::streamsize n) override {
    pending_.append(text, static_cast<std::size_t>(n));
    return n;
  }

  int sync() override {
    const bool written = console_ ? WriteConsoleText() : WriteBytes();
    pending_.clear();
    return written ? 0 : -1;
  }

 private:
  // Bytes that are no UTF-8 show as U+FFFD rather than hiding the line.
  bool WriteConsoleText() const {
    const int size = static_cast<int>(pending_.size());
    std::wstring wide(pending_.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, pending_.data(), size, wide.data(), size)));
    std::wstring_view text = wide;
    while (!text.empty()) {
      DWORD put = 0;
      std::size_t want = std::min(text.size(), kConsolePiece);
      if (want < text.size() && IS_HIGH_SURROGATE(text[want - 1])) --want;  // a pair stays whole
      if (!WriteConsoleW(handle_, text.data(), static_cast<DWORD>(want), &put, nullptr) ||
          put == 0) {
        return false;
      }
      text.remove_prefix(put);
    }
    return true;
  }

  bool WriteBytes() const {
    std::string_view bytes = pending_;
    while (!bytes.empty()) {
      DWORD put = 0;
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
      if (!WriteFile(handle_, bytes.data(), want, &put, nullptr) || put == 0) return false;
      bytes.remove_prefix(put);
    }
    return true;
  }

  HANDLE handle_;
  DWORD mode_ = 0;
  bool console_ = false;
  bool mode_changed_ = false;
  std::string pending_;
};

}  // namespace

Terminal OpenTerminal() {
  static StandardHandleBuffer out_buffer(STD_OUTPUT_HANDLE);
  static StandardHandleBuffer err_buffer(STD_ERROR_HANDLE);
  static std::ostream out(&out_buffer);
  static std::ostream err(&err_buffer);
  const bool escapes = err_buffer.EnableEscapes();
  return {.out = out, .err = err, .err_is_terminal = err_buffer.console(), .erases_line = escapes};
}

PathKind KindOf(const std::string& path) {
  const std::wstring wide = ExtendedPath(path);
  if (wide.empty()) return PathKind::kNothing;
  // A link to a folder carries the folder attribute itself.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kNothing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::kFolder : PathKind::kFile;
}

}  // namespace pellamar::cli

// The window operations of the batch run, for a terminal: the running count
// goes to standard error, the final message to standard output.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "core/batch_run.h"
#include "core/file_system.h"

namespace pellamar::cli {

struct ConsoleOptions {
  // Standard error is a terminal: the count is one line, redrawn in place.
  bool err_is_terminal = false;
  // The terminal clears to the end of a line on "\x1b[K"; one that does not
  // has the rest of a longer old line overwritten with spaces.
  bool erases_line = true;
  // Off a terminal, one line per card instead of silence.
  bool verbose = false;
  // The number of cards the run will meet, when it is known beforehand.
  std::optional<std::int64_t> total;
};

class ConsoleWindow final : public WindowOperations {
 public:
  ConsoleWindow(std::string source_text, std::ostream& out, std::ostream& err,
                ConsoleOptions options);

  std::string SourceText() override { return source_text_; }
  // There is no dialog to pick a card with: says on `err` that PATH is missing.
  void btnSource_Click() override;
  // Remembers the caption; only RepaintNow shows it.
  void SetLabel3Caption(const std::string& caption) override { caption_ = caption; }
  // Shows the current caption as progress, as the options say.
  void RepaintNow() override;
  std::string Caption() override;
  // Ends an open progress line on `err`, then writes `text` and a newline
  // to `out`. The style and title have no place on a terminal.
  void ShowMessageBox(const std::string& text, int style, const std::string& title) override;

  // Whether the final report reached `out` whole.
  bool report_written() const { return report_written_; }

 private:
  std::string ProgressText() const;

  std::string source_text_;
  std::ostream& out_;
  std::ostream& err_;
  ConsoleOptions options_;
  std::string caption_;
  std::int64_t repaints_ = 0;
  bool line_open_ = false;       // a progress line on the terminal awaits its newline
  std::size_t line_length_ = 0;  // of the progress line shown last
  bool report_written_ = false;
};

// How many cards `folder` lists, or nullopt when the listing cannot be
// walked to its end.
std::optional<std::int64_t> CountCards(FileSystem& fs, const std::string& folder);

}  // namespace pellamar::cli

#include "cli/console_window.h"

#include <memory>
#include <ostream>

#include "cli/command_line.h"
#include "ui/common/form_layout.h"

namespace pellamar::cli {
namespace {

// Moves the cursor to the start of the line; the text that follows
// overwrites the old one, and kClearToEnd wipes what it leaves over.
constexpr char kLineStart[] = "\r";
constexpr char kClearToEnd[] = "\x1b[K";

}  // namespace

ConsoleWindow::ConsoleWindow(std::string source_text, std::ostream& out, std::ostream& err,
                             ConsoleOptions options)
    : source_text_(std::move(source_text)), out_(out), err_(err), options_(options) {}

void ConsoleWindow::btnSource_Click() { PrintUsageError(err_, "no PATH given"); }

// Progress that can no longer be written (a closed pipe, a full disk) is
// given up; the run goes on.
void ConsoleWindow::RepaintNow() {
  ++repaints_;
  if (!err_) return;
  if (options_.err_is_terminal) {
    const std::string text = ProgressText();
    err_ << kLineStart << text;
    if (options_.erases_line) {
      err_ << kClearToEnd;
    } else if (text.size() < line_length_) {
      err_ << std::string(line_length_ - text.size(), ' ');
    }
    err_ << std::flush;
    line_open_ = true;
    line_length_ = text.size();
    return;
  }
  if (options_.verbose) err_ << ProgressText() << '\n' << std::flush;
}

std::string ConsoleWindow::Caption() { return ui::kWindowCaption; }

void ConsoleWindow::ShowMessageBox(const std::string& text, int /*style*/,
                                   const std::string& /*title*/) {
  if (line_open_) err_ << '\n' << std::flush;
  line_open_ = false;
  out_ << text << '\n' << std::flush;
  report_written_ = static_cast<bool>(out_);
}

// The core repaints once per converted card, so the repaints count the cards.
std::string ConsoleWindow::ProgressText() const {
  if (!options_.total) return caption_;
  return caption_ + " (" + std::to_string(repaints_) + " of " + std::to_string(*options_.total) +
         ")";
}

std::optional<std::int64_t> CountCards(FileSystem& fs, const std::string& folder) {
  Status status;
  const std::unique_ptr<CardListing> listing = fs.ListCards(folder, &status);
  if (!listing) return std::nullopt;
  std::int64_t count = 0;
  ListEntry entry = listing->Next();
  for (; entry.kind == ListEntry::Kind::kName; entry = listing->Next()) ++count;
  if (entry.kind == ListEntry::Kind::kError) return std::nullopt;
  return count;
}

}  // namespace pellamar::cli

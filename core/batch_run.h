// The "Convert" command: converts the cards of the folder that the source
// field names, shows a running count and ends with a message box. It reaches
// the window only through WindowOperations, so any front end can drive it.
// Its walk of the folder also serves a dry run, which says what it would do,
// and a verify, which checks what it did.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_system.h"

namespace pellamar {

inline constexpr char kDescriptionText[] =
    "This tool converts memory cards from Bleem! to VGS format in batch mode.";

// Message box styles, as the Windows message box numbers them.
inline constexpr int kStyleInformation = 64;  // information icon, OK
inline constexpr int kStyleWarning = 48;      // warning icon, OK

// What the batch run asks of the window, in the order it asks.
class WindowOperations {
 public:
  virtual ~WindowOperations() = default;

  virtual std::string SourceText() = 0;
  // Lets the user pick a card; called instead of a run when the field is empty.
  virtual void btnSource_Click() = 0;
  virtual void SetLabel3Caption(const std::string& caption) = 0;
  // Paints the window and its controls before returning, without handing
  // control back to the event loop.
  virtual void RepaintNow() = 0;
  virtual std::string Caption() = 0;
  // Modal; returns when the user dismisses the box.
  virtual void ShowMessageBox(const std::string& text, int style, const std::string& title) = 0;
};

// A card the run did not convert, and why. The name is the card's own; the
// reason is as the user reads it, the names in it already shown by ShownName.
struct CardFailure {
  std::string name;
  std::string reason;
};

// What one run did. A run that stopped at an empty source text has
// `ran == false` and nothing else set. A dry run reports what a run would
// do; a verify counts as processed the cards whose targets are exact, and
// the others as not converted.
struct BatchReport {
  bool ran = false;
  std::string folder;
  bool folder_unreadable = false;
  bool listing_stopped_early = false;
  std::string folder_reason;  // the system's words for either, when it gave any
  std::int64_t processed = 0;
  std::int64_t not_converted = 0;
  std::vector<CardFailure> first_failures;  // at most kListedFailures, in listing order
  // A dry run's processed cards whose targets hold something else and were
  // modified after their cards.
  std::int64_t modified_targets = 0;

  static constexpr std::size_t kListedFailures = 10;

  bool AllConverted() const {
    return !folder_unreadable && !listing_stopped_early && not_converted == 0;
  }
};

// The card folder named by `source_text`: the text up to and including its
// last `separator`, or the whole text, with `separator` appended when it
// does not end in one ("C:\cards\a.mcd" and "C:\cards\" give "C:\cards\",
// "C:\cards" gives "C:\").
std::string CardFolderFor(const std::string& source_text, char separator);

// `name` (a file name or a path) as the run's report shows it: unchanged when
// it holds no control character, no invalid UTF-8 and no text-direction
// override and does not start with a double quote; otherwise quoted, with
// C escapes (\n, \t, \r, \", \\, \xHH for a byte, \uHHHH for a character),
// so that no name can forge a line of the report or steer a terminal.
std::string ShownName(std::string_view name);

// True when the length of the file at `path` can be read and is not zero.
bool FileHasData(FileSystem& fs, const std::string& path);

// The final message box's text and style for `report`.
std::string FinalMessage(const BatchReport& report);
int FinalStyle(const BatchReport& report);

// What a dry run says a run would do with one card, or what a verify found
// of its target: a word that scripts can match, the card's name, and the
// words that follow it on its line, with names already shown by ShownName.
struct CardVerdict {
  enum class Kind {
    // A dry run: the run would...
    kNew,              // write a target where there is none;
    kSame,             // replace a target that already holds exactly that;
    kReplace,          // replace one that holds something else;
    kReplaceModified,  // replace one that holds something else, modified after the card;
    kSkip,             // not convert the card, for the run's reason (a verify too).
    // A verify: the target...
    kExact,       // is exactly the card's conversion;
    kMissing,     // does not exist;
    kLength,      // has another length;
    kDiffers,     // holds another byte somewhere;
    kUnreadable,  // could not be read.
  };
  Kind kind = Kind::kSkip;
  std::string name;
  std::string words;
};

// "<word> <name>: <words>", the name shown by ShownName; the words are
// "new", "same", "replace", "replace-modified", "skip", "exact", "missing",
// "length", "differs" and "unreadable".
std::string VerdictLine(const CardVerdict& verdict);

// Told of each card of a dry run or a verify as the walk reaches it.
using VerdictSink = std::function<void(const CardVerdict&)>;

// Walks the cards of `folder` as "Convert" does, in the same order, with the
// same reasons for passing one over, and tells `sink` what a run would do
// with each. Reads every card and every target that stands, writes nothing
// and opens nothing for writing.
BatchReport DryRun(FileSystem& fs, const std::string& folder, const VerdictSink& sink);

// Walks the cards of `folder` as "Convert" does and checks each target: that
// it is exactly the 64-byte header and the card's bytes. Tells `sink` of
// every card; a card that "Convert" would pass over fails with its reason. A
// target that no card of the folder gives is never looked at.
BatchReport Verify(FileSystem& fs, const std::string& folder, const VerdictSink& sink);

// The last lines of a dry run and of a verify, in the words of the final
// message: "3 Files Would Be Processed", "3 Files Verified", and so on.
std::string DryRunSummary(const BatchReport& report);
std::string VerifySummary(const BatchReport& report);

// Runs "Convert" once: reads the source text, converts every card of its
// folder, reports through `window`, and returns what it did.
BatchReport btnStart_Click(WindowOperations& window, FileSystem& fs);

}  // namespace pellamar

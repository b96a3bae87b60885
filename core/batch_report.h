// What a run, a dry run or a verify found, and the texts that tell the user:
// the final message box, the summaries and a line per card.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/status.h"

namespace pellamar {

// Message box styles, as the Windows message box numbers them.
inline constexpr int kStyleInformation = 64;  // information icon, OK
inline constexpr int kStyleWarning = 48;      // warning icon, OK

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
  // Processed cards that are not of a memory card's size, and what to say
  // of them: the first kListedFailures, in listing order.
  std::int64_t other_sizes = 0;
  std::vector<CardFailure> first_other_sizes;
  // Files that a replace moved to the trash, named "trash_name" there: the
  // first kListedFailures target names, in listing order.
  std::int64_t trashed = 0;
  std::vector<std::string> first_trashed;
  std::string trash_name;

  static constexpr std::size_t kListedFailures = 10;

  bool AllConverted() const {
    return !folder_unreadable && !listing_stopped_early && not_converted == 0;
  }
  // Converted, and every card of a memory card's size.
  bool AllConvertedAsCards() const { return AllConverted() && other_sizes == 0; }
};

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
  bool other_size = false;  // the card is not of a memory card's size: its words say so
};

// " (reason)" for a failure whose reason the system gave, else nothing.
std::string Why(const std::string& reason);

// Why a card whose target is `shown_target` (shown by ShownName) was not
// converted, after `status` refused or failed it.
std::string FailureWords(const std::string& shown_target, const Status& status);

// What the report says of a card of `length` bytes when that is not a
// memory card's size ("holds 65,536 bytes where a memory card holds
// 131,072"), or "" when it is.
std::string SizeNote(std::uint64_t length);

// The final message box's text and style for `report`.
std::string FinalMessage(const BatchReport& report);
int FinalStyle(const BatchReport& report);

// "<word> <name>: <words>", the name shown by ShownName; the words are
// "new", "same", "replace", "replace-modified", "skip", "exact", "missing",
// "length", "differs" and "unreadable".
std::string VerdictLine(const CardVerdict& verdict);

// The last lines of a dry run and of a verify, in the words of the final
// message: "3 Files Would Be Processed", "3 Files Verified", and so on.
std::string DryRunSummary(const BatchReport& report);
std::string VerifySummary(const BatchReport& report);

}  // namespace pellamar

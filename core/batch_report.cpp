#include "core/batch_report.h"

#include "core/card_conversion.h"
#include "core/shown_name.h"
#include "core/text.h"

namespace pellamar {
namespace {

// The line that says why the folder of `report` was not walked to its end.
std::string FolderTrouble(const BatchReport& report) {
  const std::string folder = ShownName(report.folder);
  const std::string why = Why(report.folder_reason);
  if (report.folder_unreadable) return "The folder " + folder + " could not be read" + why + ".";
  return "The listing of " + folder + " stopped early" + why + ".";
}

// "1 File", "2 Files": the count of a section that lists names.
std::string Files(std::int64_t count) {
  return std::to_string(count) + (count == 1 ? " File" : " Files");
}

// The names or lines of a listed section, and how many it left out.
std::string Listed(const std::vector<std::string>& lines, std::int64_t count) {
  std::string text;
  for (const std::string& line : lines) text += "\n" + line;
  const auto unlisted = count - static_cast<std::int64_t>(lines.size());
  if (unlisted > 0) text += "\nand " + std::to_string(unlisted) + " more";
  return text;
}

std::vector<std::string> Lines(const std::vector<CardFailure>& cards) {
  std::vector<std::string> lines;
  for (const CardFailure& card : cards) lines.push_back(ShownName(card.name) + ": " + card.reason);
  return lines;
}

}  // namespace

std::string SizeNote(std::uint64_t length) {
  if (length == kMemoryCardSize) return {};
  return "holds " + GroupedDigits(length) + " bytes where a memory card holds " +
         GroupedDigits(kMemoryCardSize);
}

std::string Why(const std::string& reason) { return reason.empty() ? "" : " (" + reason + ")"; }

std::string FailureWords(const std::string& shown_target, const Status& status) {
  switch (status.kind()) {
    case Status::Kind::kReadFailed:
      return "could not be read" + Why(status.reason());
    case Status::Kind::kReadOnly:
      return shown_target + " is read-only";
    case Status::Kind::kIsFolder:
      return shown_target + " is a folder";
    case Status::Kind::kNotAFile:
      return shown_target + " is not a plain file";
    case Status::Kind::kOwnTarget:
      return shown_target + " is the card itself";
    case Status::Kind::kOwnerNotKept:
      return shown_target + " could not keep its owner and permissions" + Why(status.reason());
    case Status::Kind::kNotTrashed:
      return shown_target + " was not replaced: no trash could keep it" + Why(status.reason());
    default:
      return shown_target + " could not be written" + Why(status.reason());
  }
}

std::string FinalMessage(const BatchReport& report) {
  std::string text = std::to_string(report.processed) + " Files Processed";
  if (report.AllConvertedAsCards() && report.trashed == 0) return text;
  if (report.folder_unreadable) return text + "\n\n" + FolderTrouble(report);
  std::string failures;
  if (report.not_converted > 0) {
    failures = std::to_string(report.not_converted) +
               " Files Not Converted:" + Listed(Lines(report.first_failures), report.not_converted);
  }
  if (report.listing_stopped_early) {
    failures += (failures.empty() ? "" : "\n") + FolderTrouble(report);
  }
  if (!failures.empty()) text += "\n\n" + failures;
  if (report.other_sizes > 0) {
    text += "\n\n" + Files(report.other_sizes) +
            " of Another Size:" + Listed(Lines(report.first_other_sizes), report.other_sizes);
  }
  if (report.trashed > 0) {
    std::vector<std::string> names;
    for (const std::string& name : report.first_trashed) names.push_back(ShownName(name));
    text += "\n\n" + std::to_string(report.trashed) +
            (report.trashed == 1 ? " Replaced File" : " Replaced Files") + " Moved to the " +
            report.trash_name + ":" + Listed(names, report.trashed);
  }
  return text;
}

int FinalStyle(const BatchReport& report) {
  return report.AllConvertedAsCards() ? kStyleInformation : kStyleWarning;
}

std::string DryRunSummary(const BatchReport& report) {
  std::string text = std::to_string(report.processed) + " Files Would Be Processed";
  std::string notes;
  if (report.not_converted > 0) {
    notes += "\n" + std::to_string(report.not_converted) + " Files Would Not Be Converted";
  }
  if (report.modified_targets > 0) {
    notes += "\n" + std::to_string(report.modified_targets) +
             " Files Modified After Their Cards Would Be Replaced";
  }
  if (report.other_sizes > 0) notes += "\n" + Files(report.other_sizes) + " of Another Size";
  if (report.folder_unreadable || report.listing_stopped_early) {
    notes += "\n" + FolderTrouble(report);
  }
  return notes.empty() ? text : text + "\n" + notes;
}

std::string VerifySummary(const BatchReport& report) {
  std::string text = std::to_string(report.processed) + " Files Verified";
  if (report.AllConvertedAsCards()) return text;
  text += "\n";
  if (report.not_converted > 0) {
    text += "\n" + std::to_string(report.not_converted) + " Files Not Verified";
  }
  if (report.other_sizes > 0) text += "\n" + Files(report.other_sizes) + " of Another Size";
  if (report.folder_unreadable || report.listing_stopped_early) {
    text += "\n" + FolderTrouble(report);
  }
  return text;
}

std::string VerdictLine(const CardVerdict& verdict) {
  static constexpr const char* kWords[] = {
      "new",   "same",    "replace", "replace-modified", "skip",
      "exact", "missing", "length",  "differs",          "unreadable",
  };
  return std::string(kWords[static_cast<int>(verdict.kind)]) + " " + ShownName(verdict.name) +
         ": " + verdict.words;
}

}  // namespace pellamar

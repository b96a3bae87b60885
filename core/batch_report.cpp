#include "core/batch_report.h"

#include "core/shown_name.h"

namespace pellamar {
namespace {

// The line that says why the folder of `report` was not walked to its end.
std::string FolderTrouble(const BatchReport& report) {
  const std::string folder = ShownName(report.folder);
  const std::string why = Why(report.folder_reason);
  if (report.folder_unreadable) return "The folder " + folder + " could not be read" + why + ".";
  return "The listing of " + folder + " stopped early" + why + ".";
}

}  // namespace

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
    default:
      return shown_target + " could not be written" + Why(status.reason());
  }
}

std::string FinalMessage(const BatchReport& report) {
  std::string text = std::to_string(report.processed) + " Files Processed";
  if (report.AllConverted()) return text;
  text += "\n";
  if (report.folder_unreadable) return text + "\n" + FolderTrouble(report);
  if (report.not_converted > 0) {
    text += "\n" + std::to_string(report.not_converted) + " Files Not Converted:";
    for (const CardFailure& failure : report.first_failures) {
      text += "\n" + ShownName(failure.name) + ": " + failure.reason;
    }
    const auto unlisted =
        report.not_converted - static_cast<std::int64_t>(report.first_failures.size());
    if (unlisted > 0) text += "\nand " + std::to_string(unlisted) + " more";
  }
  if (report.listing_stopped_early) text += "\n" + FolderTrouble(report);
  return text;
}

int FinalStyle(const BatchReport& report) {
  return report.AllConverted() ? kStyleInformation : kStyleWarning;
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
  if (report.folder_unreadable || report.listing_stopped_early) {
    notes += "\n" + FolderTrouble(report);
  }
  return notes.empty() ? text : text + "\n" + notes;
}

std::string VerifySummary(const BatchReport& report) {
  std::string text = std::to_string(report.processed) + " Files Verified";
  if (report.AllConverted()) return text;
  text += "\n";
  if (report.not_converted > 0) {
    text += "\n" + std::to_string(report.not_converted) + " Files Not Verified";
  }
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

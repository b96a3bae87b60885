#include "core/batch_run.h"

#include <memory>
#include <unordered_map>

#include "core/card_conversion.h"

namespace pellamar {
namespace {

std::string FoldAsciiCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// One press of "Convert" past the empty-field check: walks the listing once
// and converts each card, keeping the buffers from card to card.
class BatchRun {
 public:
  BatchRun(WindowOperations& window, FileSystem& fs, std::string folder)
      : window_(window), fs_(fs) {
    report_.ran = true;
    report_.folder = std::move(folder);
  }

  BatchReport ConvertAll() {
    Status status;
    std::unique_ptr<CardListing> listing = fs_.ListCards(report_.folder, &status);
    if (!listing) {
      report_.folder_unreadable = true;
      return report_;
    }
    ListEntry entry = listing->Next();
    for (; entry.kind == ListEntry::Kind::kName; entry = listing->Next()) {
      std::string failure = ConvertOne(entry.name);
      if (failure.empty()) {
        ShowProgress();
      } else {
        NoteFailure(entry.name, std::move(failure));
      }
    }
    report_.listing_stopped_early = entry.kind == ListEntry::Kind::kError;
    return report_;
  }

 private:
  // Returns why the card was not converted, or "" once its target is written.
  std::string ConvertOne(const std::string& name) {
    // The length that decides whether the card holds data is the one its
    // open file reports as it is read: no second look-up, no race between.
    const std::string card_path = report_.folder + name;
    if (!ReadCard(fs_, card_path, &card_).ok()) return "could not be read";
    if (card_.empty()) return "empty card";

    const std::string target = TargetNameFor(name);
    const std::string key = fs_.FoldsCase() ? FoldAsciiCase(target) : target;
    if (auto earlier = written_.find(key); earlier != written_.end()) {
      return target + " was already written from " + earlier->second;
    }
    const Status written =
        WriteCard(fs_, report_.folder + target, ConvertCard(header_, card_), card_path);
    if (written.kind() == Status::Kind::kReadOnly) return target + " is read-only";
    if (!written.ok()) return target + " could not be written";
    written_.emplace(key, name);
    return {};
  }

  void ShowProgress() {
    ++report_.processed;
    window_.SetLabel3Caption(std::to_string(report_.processed) + " Processed.");
    window_.RepaintNow();
  }

  void NoteFailure(const std::string& name, std::string reason) {
    ++report_.not_converted;
    if (report_.first_failures.size() < BatchReport::kListedFailures) {
      report_.first_failures.push_back({name, std::move(reason)});
    }
  }

  WindowOperations& window_;
  FileSystem& fs_;
  BatchReport report_;
  const TargetHeader header_ = BuildTargetHeader();
  Bytes card_;  // reused from card to card
  // Targets written in this run (case-folded where the file system folds
  // case), with the card each came from.
  std::unordered_map<std::string, std::string> written_;
};

}  // namespace

std::string CardFolderFor(const std::string& source_text, char separator) {
  const std::size_t last = source_text.rfind(separator);
  std::string folder = last == std::string::npos ? source_text : source_text.substr(0, last + 1);
  if (folder.empty() || folder.back() != separator) folder += separator;
  return folder;
}

bool FileHasData(FileSystem& fs, const std::string& path) {
  const std::optional<std::uint64_t> length = fs.FileLength(path);
  return length && *length > 0;
}

std::string FinalMessage(const BatchReport& report) {
  std::string text = std::to_string(report.processed) + " Files Processed";
  if (report.AllConverted()) return text;
  text += "\n";
  if (report.folder_unreadable)
    return text + "\nThe folder " + report.folder + " could not be read.";
  if (report.not_converted > 0) {
    text += "\n" + std::to_string(report.not_converted) + " Files Not Converted:";
    for (const CardFailure& failure : report.first_failures) {
      text += "\n" + failure.name + ": " + failure.reason;
    }
    const auto unlisted =
        report.not_converted - static_cast<std::int64_t>(report.first_failures.size());
    if (unlisted > 0) text += "\nand " + std::to_string(unlisted) + " more";
  }
  if (report.listing_stopped_early) {
    text += "\nThe listing of " + report.folder + " stopped early.";
  }
  return text;
}

int FinalStyle(const BatchReport& report) {
  return report.AllConverted() ? kStyleInformation : kStyleWarning;
}

BatchReport btnStart_Click(WindowOperations& window, FileSystem& fs) {
  const std::string source_text = window.SourceText();
  if (source_text.empty()) {
    window.btnSource_Click();
    return {};
  }
  BatchRun run(window, fs, CardFolderFor(source_text, fs.Separator()));
  const BatchReport report = run.ConvertAll();
  window.ShowMessageBox(FinalMessage(report), FinalStyle(report), window.Caption());
  window.SetLabel3Caption(kDescriptionText);
  return report;
}

}  // namespace pellamar

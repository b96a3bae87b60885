#include "core/batch_run.h"

#include <memory>
#include <optional>
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

// " (reason)" for a failure whose reason the system gave, else nothing.
std::string Why(const std::string& reason) { return reason.empty() ? "" : " (" + reason + ")"; }

// What the report says of a card whose target `shown_target` was not
// written, for each kind of failure.
std::string WriteFailure(const std::string& shown_target, const Status& status) {
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

// One press of "Convert" past the empty-field check: walks the listing once
// and converts each card, keeping the copy buffer from card to card.
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
      report_.folder_reason = status.reason();
      return report_;
    }
    fs_.RemoveLeftovers(report_.folder);
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
    if (report_.listing_stopped_early) report_.folder_reason = entry.reason;
    return report_;
  }

 private:
  // Returns why the card was not converted, or "" once its target is written.
  std::string ConvertOne(const std::string& name) {
    // The length that decides whether the card holds data is the one its
    // open file reports: no second look-up, no race between.
    const std::string card_path = report_.folder + name;
    Status opened;
    const std::unique_ptr<CardFile> card = ReadCard(fs_, card_path, &opened);
    if (!card) return "could not be read" + Why(opened.reason());
    if (card->Length() == 0) return "empty card";

    const std::string target = TargetNameFor(name);
    const std::string key = fs_.FoldsCase() ? FoldAsciiCase(target) : target;
    if (auto earlier = written_.find(key); earlier != written_.end()) {
      return ShownName(target) + " was already written from " + ShownName(earlier->second);
    }
    const Status written =
        WriteCard(fs_, report_.folder + target, ConvertCard(header_, *card), buffer());
    if (!written.ok()) return WriteFailure(ShownName(target), written);
    written_.emplace(key, name);
    return {};
  }

  // Made on first use, and never filled: only the bytes a card needs are
  // ever touched.
  std::span<std::uint8_t> buffer() {
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(kCopyPieceSize);
    return {buffer_.get(), kCopyPieceSize};
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
  std::unique_ptr<std::uint8_t[]> buffer_;  // reused from card to card
  // Targets written in this run (case-folded where the file system folds
  // case), with the card each came from.
  std::unordered_map<std::string, std::string> written_;
};

// Appends `prefix` and `value` in `digits` hexadecimal digits to `out`.
void AppendHex(std::string* out, const char* prefix, unsigned value, int digits) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  *out += prefix;
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) *out += kHex[(value >> shift) & 15];
}

// The length of the valid UTF-8 sequence that starts `text` (not empty), and
// the character it encodes; 0 when it is not valid.
std::size_t DecodeUtf8(std::string_view text, char32_t* character) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 0;
  if (lead < 0x80) {
    length = 1;
  } else if (lead >= 0xC2 && lead < 0xE0) {
    length = 2;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    length = 3;
  } else if (lead >= 0xF0 && lead < 0xF5) {
    length = 4;
  }
  if (length == 0 || length > text.size()) return 0;
  char32_t value = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[i]);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  *character = value;
  return length;
}

// Control characters, and the characters that reorder the text around them.
bool IsHostile(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c < 0xA0) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

bool NeedsQuotes(std::string_view name) {
  if (!name.empty() && name.front() == '"') return true;
  while (!name.empty()) {
    char32_t c = 0;
    const std::size_t length = DecodeUtf8(name, &c);
    if (length == 0 || IsHostile(c)) return true;
    name.remove_prefix(length);
  }
  return false;
}

// `name` in double quotes, with every quote, backslash, hostile character
// and byte of invalid UTF-8 escaped.
std::string Quoted(std::string_view name) {
  std::string out = "\"";
  while (!name.empty()) {
    char32_t c = 0;
    std::size_t length = DecodeUtf8(name, &c);
    if (length == 0) {
      AppendHex(&out, "\\x", static_cast<unsigned char>(name[0]), 2);
      length = 1;
    } else if (c == '\n' || c == '\t' || c == '\r') {
      out += c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\r";
    } else if (IsHostile(c)) {
      AppendHex(&out, c < 0x80 ? "\\x" : "\\u", static_cast<unsigned>(c), c < 0x80 ? 2 : 4);
    } else {
      if (c == '"' || c == '\\') out += '\\';
      out.append(name.substr(0, length));
    }
    name.remove_prefix(length);
  }
  return out + '"';
}

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

std::string ShownName(std::string_view name) {
  return NeedsQuotes(name) ? Quoted(name) : std::string(name);
}

std::string FinalMessage(const BatchReport& report) {
  std::string text = std::to_string(report.processed) + " Files Processed";
  if (report.AllConverted()) return text;
  text += "\n";
  const std::string folder = ShownName(report.folder);
  const std::string why = Why(report.folder_reason);
  if (report.folder_unreadable)
    return text + "\nThe folder " + folder + " could not be read" + why + ".";
  if (report.not_converted > 0) {
    text += "\n" + std::to_string(report.not_converted) + " Files Not Converted:";
    for (const CardFailure& failure : report.first_failures) {
      text += "\n" + ShownName(failure.name) + ": " + failure.reason;
    }
    const auto unlisted =
        report.not_converted - static_cast<std::int64_t>(report.first_failures.size());
    if (unlisted > 0) text += "\nand " + std::to_string(unlisted) + " more";
  }
  if (report.listing_stopped_early) {
    text += "\nThe listing of " + folder + " stopped early" + why + ".";
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

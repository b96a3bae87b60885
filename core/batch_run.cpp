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

// The line that says why the folder of `report` was not walked to its end.
std::string FolderTrouble(const BatchReport& report) {
  const std::string folder = ShownName(report.folder);
  const std::string why = Why(report.folder_reason);
  if (report.folder_unreadable) return "The folder " + folder + " could not be read" + why + ".";
  return "The listing of " + folder + " stopped early" + why + ".";
}

// What the report says of a card whose target another card took.
std::string AlreadyWritten(const std::string& target, const std::string& earlier) {
  return ShownName(target) + " was already written from " + ShownName(earlier);
}

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

// Walks the cards of a folder as "Convert" does: one listing, in its order,
// each card opened once and passed over for the same reasons (unreadable,
// empty, a target that an earlier card claimed). What is done with a card
// that gets that far is each walk's own.
class CardWalk {
 public:
  CardWalk(FileSystem& fs, std::string folder) : fs_(fs) {
    report_.ran = true;
    report_.folder = std::move(folder);
  }
  virtual ~CardWalk() = default;

  BatchReport Walk() {
    Status status;
    std::unique_ptr<CardListing> listing = fs_.ListCards(report_.folder, &status);
    if (!listing) {
      report_.folder_unreadable = true;
      report_.folder_reason = status.reason();
      return report_;
    }
    BeforeCards();
    ListEntry entry = listing->Next();
    for (; entry.kind == ListEntry::Kind::kName; entry = listing->Next()) {
      std::string failure = WalkOne(entry.name);
      if (failure.empty()) {
        ++report_.processed;
      } else {
        NoteFailure(entry.name, failure);
      }
      Walked(entry.name, failure);
      listed_shapes_ |= 1u << CardShapeOf(entry.name);
    }
    report_.listing_stopped_early = entry.kind == ListEntry::Kind::kError;
    if (report_.listing_stopped_early) report_.folder_reason = entry.reason;
    return report_;
  }

 protected:
  // Called once the folder could be listed, before its first card.
  virtual void BeforeCards() {}
  // Does the walk's work on a card with data whose target no earlier card
  // claimed. Returns why the card counts as not converted, or "" when it
  // claims its target.
  virtual std::string Take(const std::string& name, CardFile& card, const std::string& target) = 0;
  // Called for every card once it is done with: `failure` as the report
  // words it, or "" for one that was counted as processed.
  virtual void Walked(const std::string& name, const std::string& failure) = 0;

  // The card listed earlier whose conversion the target of `card` holds, as
  // the run leaves it once that card took the target. Only names of other
  // shapes give the same target (see CardShapeOf), and only shapes already
  // listed need a look: a folder whose names all end alike costs nothing.
  virtual std::optional<std::string> EarlierCard(const std::string& name, const CardFile& card,
                                                 const std::string& target) {
    return CardHeldBy(target, card, listed_shapes_ & ~(1u << CardShapeOf(name)));
  }

  // Another card, of one of `shapes`, whose conversion the file at `target`
  // holds exactly; `card` is the one that the target is for.
  std::optional<std::string> CardHeldBy(const std::string& target, const CardFile& card,
                                        unsigned shapes) {
    for (int shape = 0; shape <= kNoCardExtension; ++shape) {
      if ((shapes & (1u << shape)) == 0) continue;
      std::optional<std::string> other = CardNameFor(target, shape);
      Status ignored;
      std::unique_ptr<CardFile> held = other ? ReadCard(fs_, PathOf(*other), &ignored) : nullptr;
      // Where names fold case, another shape may name the card itself.
      if (!held || held->Length() == 0 || held->Opened().IsSameFileAs(card.Opened())) continue;
      // Bytes are compared only where the lengths agree, so a large card
      // that gives another target costs a look-up.
      if (fs_.FileLength(PathOf(target)) != header_.size() + held->Length()) continue;
      TargetComparison found;
      const Status read = CompareTarget(fs_, PathOf(target), ConvertCard(header_, *held), buffer(),
                                        second_buffer(), &found);
      if (read.ok() && found.kind == TargetComparison::Kind::kSame) return other;
    }
    return std::nullopt;
  }

  FileSystem& fs() { return fs_; }
  BatchReport& report() { return report_; }
  std::string PathOf(const std::string& name) const { return report_.folder + name; }
  const TargetHeader& header() const { return header_; }

  // Made on first use, and never filled: only the bytes a card needs are
  // ever touched.
  std::span<std::uint8_t> buffer() { return Buffer(&buffer_); }
  // A second one, for a walk that reads a target beside its card.
  std::span<std::uint8_t> second_buffer() { return Buffer(&second_buffer_); }

 private:
  std::string WalkOne(const std::string& name) {
    // The length that decides whether the card holds data is the one its
    // open file reports: no second look-up, no race between.
    Status opened;
    const std::unique_ptr<CardFile> card = ReadCard(fs_, PathOf(name), &opened);
    if (!card) return "could not be read" + Why(opened.reason());
    if (card->Length() == 0) return "empty card";

    const std::string target = TargetNameFor(name);
    if (const std::optional<std::string> earlier = EarlierCard(name, *card, target)) {
      return AlreadyWritten(target, *earlier);
    }
    return Take(name, *card, target);
  }

  static std::span<std::uint8_t> Buffer(std::unique_ptr<std::uint8_t[]>* buffer) {
    if (!*buffer) *buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kCopyPieceSize);
    return {buffer->get(), kCopyPieceSize};
  }

  void NoteFailure(const std::string& name, std::string reason) {
    ++report_.not_converted;
    if (report_.first_failures.size() < BatchReport::kListedFailures) {
      report_.first_failures.push_back({name, std::move(reason)});
    }
  }

  FileSystem& fs_;
  BatchReport report_;
  const TargetHeader header_ = BuildTargetHeader();
  std::unique_ptr<std::uint8_t[]> buffer_;  // reused from card to card
  std::unique_ptr<std::uint8_t[]> second_buffer_;
  unsigned listed_shapes_ = 0;  // a bit for each shape of name listed so far
};

// One press of "Convert" past the empty-field check: converts each card,
// keeping the copy buffer from card to card, and counts on the window.
class ConvertWalk final : public CardWalk {
 public:
  ConvertWalk(WindowOperations& window, FileSystem& fs, std::string folder)
      : CardWalk(fs, std::move(folder)), window_(window) {}

 private:
  void BeforeCards() override { fs().RemoveLeftovers(report().folder); }

  std::string Take(const std::string& /*name*/, CardFile& card,
                   const std::string& target) override {
    const Status written = WriteCard(fs(), PathOf(target), ConvertCard(header(), card), buffer());
    return written.ok() ? std::string() : WriteFailure(ShownName(target), written);
  }

  void Walked(const std::string& /*name*/, const std::string& failure) override {
    if (!failure.empty()) return;
    window_.SetLabel3Caption(std::to_string(report().processed) + " Processed.");
    window_.RepaintNow();
  }

  WindowOperations& window_;
};

// A walk that looks at each target beside its card and tells a sink what
// it found, one verdict per card.
class LookingWalk : public CardWalk {
 public:
  LookingWalk(FileSystem& fs, std::string folder, const VerdictSink& sink)
      : CardWalk(fs, std::move(folder)), sink_(sink) {}

 protected:
  // Compares the target at `target` with the conversion of `card`; a card
  // that fails to read gives the run's words for it.
  std::optional<TargetComparison> Compare(CardFile& card, const std::string& target,
                                          std::string* failure) {
    TargetComparison comparison;
    const Status read = CompareTarget(fs(), PathOf(target), ConvertCard(header(), card), buffer(),
                                      second_buffer(), &comparison);
    if (read.ok()) return comparison;
    *failure = WriteFailure(ShownName(target), read);
    return std::nullopt;
  }

  // The verdict on the card at hand, when Take gave one; a card without
  // one is passed over with the run's reason.
  void Give(CardVerdict::Kind kind, std::string words) {
    verdict_ = CardVerdict{kind, {}, std::move(words)};
  }

 private:
  void Walked(const std::string& name, const std::string& failure) override {
    CardVerdict verdict =
        verdict_ ? std::move(*verdict_) : CardVerdict{CardVerdict::Kind::kSkip, {}, failure};
    verdict_.reset();
    verdict.name = name;
    sink_(verdict);
  }

  const VerdictSink& sink_;
  std::optional<CardVerdict> verdict_;
};

// What the run would do with each card, found by the run's own checks: the
// refusals of a replace, asked without one, and the target compared with
// what the run would write.
class DryRunWalk final : public LookingWalk {
 public:
  using LookingWalk::LookingWalk;

 private:
  // The run tells a target that an earlier card took by what that card left
  // in it. This walk writes nothing, so it remembers what it foretold. (A
  // name of the same shape is one that differs in case alone, which the run
  // never takes for another card's.)
  std::optional<std::string> EarlierCard(const std::string& name, const CardFile& card,
                                         const std::string& target) override {
    const auto taken = taken_.find(KeyOf(target));
    if (taken != taken_.end() && CardShapeOf(taken->second) != CardShapeOf(name)) {
      return taken->second;
    }
    return LookingWalk::EarlierCard(name, card, target);
  }

  std::string Take(const std::string& name, CardFile& card, const std::string& target) override {
    const std::string shown = ShownName(target);
    const Status refused = fs().CheckReplace(PathOf(target), card);
    if (!refused.ok()) return WriteFailure(shown, refused);
    std::string failure;
    const std::optional<TargetComparison> found = Compare(card, target, &failure);
    if (found) Foretell(*found, card, shown);
    if (failure.empty()) taken_.emplace(KeyOf(target), name);
    return failure;
  }

  std::string KeyOf(const std::string& target) {
    return fs().FoldsCase() ? FoldAsciiCase(target) : target;
  }

  // What the run would do with a target that compared as `found`.
  void Foretell(const TargetComparison& found, const CardFile& card, const std::string& shown) {
    switch (found.kind) {
      case TargetComparison::Kind::kMissing:
        return Give(CardVerdict::Kind::kNew, shown + " would be created");
      case TargetComparison::Kind::kSame:
        return Give(CardVerdict::Kind::kSame, shown + " already holds this conversion");
      case TargetComparison::Kind::kUnreadable:
        return Give(CardVerdict::Kind::kReplace, shown + " could not be read" + Why(found.reason));
      case TargetComparison::Kind::kLength:
      case TargetComparison::Kind::kDiffers:
        break;
    }
    const std::optional<std::int64_t> card_time = card.ModifiedTime();
    if (!found.modified || !card_time || *found.modified <= *card_time) {
      return Give(CardVerdict::Kind::kReplace, shown + " holds something else");
    }
    ++report().modified_targets;
    Give(CardVerdict::Kind::kReplaceModified,
         shown + " holds something else and was modified after the card");
  }

  // The targets that the run would write, case-folded where the file system
  // folds case, with the card each would come from.
  std::unordered_map<std::string, std::string> taken_;
};

// Whether each card's target is exactly its conversion.
class VerifyWalk final : public LookingWalk {
 public:
  using LookingWalk::LookingWalk;

 private:
  static constexpr unsigned kEveryShape = (2u << kNoCardExtension) - 1;

  std::string Take(const std::string& name, CardFile& card, const std::string& target) override {
    const std::string shown = ShownName(target);
    // What stands at the target may be no file that the run would write:
    // then the run's reason says why. Whether it could write it is no matter.
    const Status refused = fs().CheckReplace(PathOf(target), card);
    switch (refused.kind()) {
      case Status::Kind::kOwnTarget:
      case Status::Kind::kIsFolder:
      case Status::Kind::kNotAFile:
        return WriteFailure(shown, refused);
      default:
        break;
    }
    std::string failure;
    const std::optional<TargetComparison> found = Compare(card, target, &failure);
    if (!found) return failure;
    const std::string words = Mismatch(*found, shown, header().size() + card.Length());
    if (!words.empty()) {
      // The target of two cards holds one of them, whichever was listed first.
      const unsigned others = kEveryShape & ~(1u << CardShapeOf(name));
      if (const std::optional<std::string> other = CardHeldBy(target, card, others)) {
        return AlreadyWritten(target, *other);
      }
    }
    Give(KindOf(found->kind), words.empty() ? shown + " is exact" : words);
    return words;
  }

  // A target is first compared with its own card's conversion, in Take.
  std::optional<std::string> EarlierCard(const std::string& /*name*/, const CardFile& /*card*/,
                                         const std::string& /*target*/) override {
    return std::nullopt;
  }

  static CardVerdict::Kind KindOf(TargetComparison::Kind kind) {
    switch (kind) {
      case TargetComparison::Kind::kSame:
        return CardVerdict::Kind::kExact;
      case TargetComparison::Kind::kMissing:
        return CardVerdict::Kind::kMissing;
      case TargetComparison::Kind::kUnreadable:
        return CardVerdict::Kind::kUnreadable;
      case TargetComparison::Kind::kLength:
        return CardVerdict::Kind::kLength;
      case TargetComparison::Kind::kDiffers:
        break;
    }
    return CardVerdict::Kind::kDiffers;
  }

  // What is wrong with the target `shown`, or "" when nothing is.
  static std::string Mismatch(const TargetComparison& found, const std::string& shown,
                              std::uint64_t expected_length) {
    switch (found.kind) {
      case TargetComparison::Kind::kSame:
        return {};
      case TargetComparison::Kind::kMissing:
        return shown + " does not exist";
      case TargetComparison::Kind::kUnreadable:
        return shown + " could not be read" + Why(found.reason);
      case TargetComparison::Kind::kLength:
        return shown + " is " + std::to_string(found.length) + " bytes long instead of " +
               std::to_string(expected_length);
      case TargetComparison::Kind::kDiffers:
        break;
    }
    return shown + " differs at offset " + std::to_string(found.offset);
  }
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

BatchReport DryRun(FileSystem& fs, const std::string& folder, const VerdictSink& sink) {
  return DryRunWalk(fs, folder, sink).Walk();
}

BatchReport Verify(FileSystem& fs, const std::string& folder, const VerdictSink& sink) {
  return VerifyWalk(fs, folder, sink).Walk();
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
  const BatchReport report =
      ConvertWalk(window, fs, CardFolderFor(source_text, fs.Separator())).Walk();
  window.ShowMessageBox(FinalMessage(report), FinalStyle(report), window.Caption());
  window.SetLabel3Caption(kDescriptionText);
  return report;
}

}  // namespace pellamar

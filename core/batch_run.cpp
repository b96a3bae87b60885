#include "core/batch_run.h"

#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "core/card_conversion.h"
#include "core/replace.h"
#include "core/target_record.h"

namespace pellamar {
namespace {

// Counts one more in `*count`, and keeps `item` among the first ones that
// the report lists.
template <typename Item>
void NoteListed(std::int64_t* count, std::vector<Item>* first, Item item) {
  ++*count;
  if (first->size() < BatchReport::kListedFailures) first->push_back(std::move(item));
}

// What one card came to: why it counts as not converted ("" when it was),
// and which file its target is afterwards.
struct Outcome {
  std::string failure;
  std::optional<FileIdentity> placed;
};

// Walks the cards of a folder as "Convert" does: one listing, in its order,
// each card opened once and passed over for the same reasons (unreadable,
// empty, a target that an earlier card took). What is done with a card
// that gets that far is each walk's own.
class CardWalk {
 public:
  CardWalk(FileSystem& fs, std::string folder) : fs_(fs), record_(fs, folder, cards_) {
    report_.ran = true;
    report_.folder = std::move(folder);
    report_.trash_name = fs.TrashName();
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
    // The whole listing first: a card's target may be another card's.
    ListEntry entry = listing->Next();
    for (; entry.kind == ListEntry::Kind::kName; entry = listing->Next()) {
      cards_.push_back(std::move(entry.name));
    }
    BeforeCards();
    for (std::size_t i = 0; i < cards_.size(); ++i) {
      std::string failure = WalkOne(i);
      if (failure.empty()) {
        ++report_.processed;
      } else {
        NoteFailure(cards_[i], failure);
      }
      Walked(cards_[i], failure);
    }
    report_.listing_stopped_early = entry.kind == ListEntry::Kind::kError;
    if (report_.listing_stopped_early) report_.folder_reason = entry.reason;
    return report_;
  }

 protected:
  // Called once the folder could be listed, before its first card.
  virtual void BeforeCards() {}
  // Does the walk's work on a card with data whose target no earlier card
  // took: `look` is what stands at the target, `refused` why "Convert"
  // would leave it alone (or Ok).
  virtual Outcome Take(CardFile& card, const std::string& target, const TargetLook& look,
                       const Status& refused) = 0;
  // Called for every card once it is done with: `failure` as the report
  // words it, or "" for one that was counted as processed.
  virtual void Walked(const std::string& name, const std::string& failure) = 0;
  // Called for a processed card that is not of a memory card's size.
  virtual void OtherSize(std::uint64_t /*length*/) {}

  FileSystem& fs() { return fs_; }
  BatchReport& report() { return report_; }
  std::string PathOf(const std::string& name) const { return report_.folder + name; }
  const TargetHeader& header() const { return header_; }

  // Compares the file at `path` with the conversion of `card`, read from
  // where it stands as `reading` says, into `*found`.
  Status CompareWith(CardFile& card, const std::string& path, CardReading reading,
                     TargetComparison* found) {
    return CompareTarget(fs_, path, ConvertCard(header_, card), buffer(), second_buffer(), reading,
                         found);
  }

  // Made on first use, and never filled: only the bytes a card needs are
  // ever touched.
  std::span<std::uint8_t> buffer() { return Buffer(&buffer_); }
  // A second one, for a walk that reads a target beside its card.
  std::span<std::uint8_t> second_buffer() { return Buffer(&second_buffer_); }

 private:
  std::string WalkOne(std::size_t index) {
    const std::string& name = cards_[index];
    // The length that decides whether the card holds data is the one its
    // open file reports: no second look-up, no race between.
    Status opened;
    const std::unique_ptr<CardFile> card = ReadCard(fs_, PathOf(name), &opened);
    if (!card) return "could not be read" + Why(opened.reason());
    if (card->Length() == 0) return "empty card";

    const std::string target = TargetNameFor(name);
    if (std::string why = record_.CheckCard(index, *card, target); !why.empty()) return why;
    TargetLook look;
    const Status refused = fs_.LookAt(PathOf(target), *card, &look);
    if (std::string why = record_.CheckTarget(target, look, *card); !why.empty()) return why;

    Outcome outcome = Take(*card, target, look, refused);
    record_.Take(target, outcome.placed ? outcome.placed : look.identity, index,
                 outcome.failure.empty());
    if (outcome.failure.empty()) NoteSize(name, card->Length(), target);
    return std::move(outcome.failure);
  }

  void NoteSize(const std::string& name, std::uint64_t length, const std::string& target) {
    if (length == kMemoryCardSize) return;
    // The words only for the cards that the report lists.
    if (report_.first_other_sizes.size() < BatchReport::kListedFailures) {
      report_.first_other_sizes.push_back({name, "converted, but it " + SizeNote(length) +
                                                     "; readers may refuse " + ShownName(target)});
    }
    ++report_.other_sizes;
    OtherSize(length);
  }

  static std::span<std::uint8_t> Buffer(std::unique_ptr<std::uint8_t[]>* buffer) {
    if (!*buffer) *buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kCopyPieceSize);
    return {buffer->get(), kCopyPieceSize};
  }

  void NoteFailure(const std::string& name, std::string reason) {
    NoteListed(&report_.not_converted, &report_.first_failures,
               CardFailure{name, std::move(reason)});
  }

  FileSystem& fs_;
  BatchReport report_;
  std::deque<std::string> cards_;  // as the listing gave them
  TargetRecord record_;
  const TargetHeader header_ = BuildTargetHeader();
  std::unique_ptr<std::uint8_t[]> buffer_;  // reused from card to card
  std::unique_ptr<std::uint8_t[]> second_buffer_;
};

// One press of "Convert" past the empty-field check: converts each card,
// keeping the copy buffer from card to card, and counts on the window.
class ConvertWalk final : public CardWalk {
 public:
  ConvertWalk(WindowOperations& window, FileSystem& fs, std::string folder)
      : CardWalk(fs, std::move(folder)), window_(window) {}

 private:
  void BeforeCards() override { RemoveLeftovers(fs(), report().folder); }

  // A target that holds this conversion already is left as it is. Another
  // run may put a file at the target while this one writes it: what stands
  // then is looked at again, a few times.
  Outcome Take(CardFile& card, const std::string& target, const TargetLook& look,
               const Status& refused) override {
    const std::string path = PathOf(target);
    TargetLook now = look;
    Status status = refused;
    for (int tries = 1;; ++tries) {
      if (!status.ok()) return {FailureWords(ShownName(target), status), {}};
      if ((now.kind != TargetLook::Kind::kNothing || tries > 1) && Holds(card, path)) {
        return {{}, now.identity};
      }
      Written written;
      status = WriteCard(replacer_, path, now, ConvertCard(header(), card), buffer(), &written);
      if (written.trashed) NoteListed(&report().trashed, &report().first_trashed, target);
      if (status.ok()) return {{}, written.placed};
      const bool taken =
          status.kind() == Status::Kind::kChanged || status.kind() == Status::Kind::kExists;
      if (!taken || tries == 3) return {FailureWords(ShownName(target), status), {}};
      status = fs().LookAt(path, card, &now);
    }
  }

  // Whether the file at `path` holds exactly the conversion of `card`, read
  // from its start; the card is ready to be read from its start again.
  bool Holds(CardFile& card, const std::string& path) {
    TargetComparison found;
    const Status read = card.Rewind();
    const Status compared =
        read.ok() ? CompareWith(card, path, CardReading::kToTheFirstDifference, &found) : read;
    return card.Rewind().ok() && compared.ok() && found.kind == TargetComparison::Kind::kSame;
  }

  void Walked(const std::string& /*name*/, const std::string& failure) override {
    if (!failure.empty()) return;
    window_.SetLabel3Caption(std::to_string(report().processed) + " Processed.");
    window_.RepaintNow();
  }

  WindowOperations& window_;
  Replacer replacer_{fs()};
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
    const Status read = CompareWith(card, PathOf(target), CardReading::kToItsEnd, &comparison);
    if (read.ok()) return comparison;
    *failure = FailureWords(ShownName(target), read);
    return std::nullopt;
  }

  // The verdict on the card at hand, when Take gave one; a card without
  // one is passed over with the run's reason.
  void Give(CardVerdict::Kind kind, std::string words) {
    verdict_ = CardVerdict{kind, {}, std::move(words)};
  }

 private:
  void OtherSize(std::uint64_t length) override {
    if (!verdict_) return;
    verdict_->words += "; the card " + SizeNote(length);
    verdict_->other_size = true;
  }

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
  Outcome Take(CardFile& card, const std::string& target, const TargetLook& look,
               const Status& refused) override {
    const std::string shown = ShownName(target);
    if (!refused.ok()) return {FailureWords(shown, refused), {}};
    const Status create = fs().CheckCreate(PathOf(target));
    if (!create.ok()) return {FailureWords(shown, create), {}};
    std::string failure;
    const std::optional<TargetComparison> found = Compare(card, target, &failure);
    if (found) Foretell(*found, card, shown, look.kind == TargetLook::Kind::kFile);
    return {failure, look.identity};
  }

  // What the run would do with a target that compared as `found`; a file
  // that stands there (`standing`), not a link, would go to the trash.
  void Foretell(const TargetComparison& found, const CardFile& card, const std::string& shown,
                bool standing) {
    const std::string trashed = standing ? "; it would go to the " + report().trash_name : "";
    switch (found.kind) {
      case TargetComparison::Kind::kMissing:
        return Give(CardVerdict::Kind::kNew, shown + " would be created");
      case TargetComparison::Kind::kSame:
        return Give(CardVerdict::Kind::kSame, shown + " already holds this conversion");
      case TargetComparison::Kind::kUnreadable:
        return Give(CardVerdict::Kind::kReplace,
                    shown + " could not be read" + Why(found.reason) + trashed);
      case TargetComparison::Kind::kLength:
      case TargetComparison::Kind::kDiffers:
        break;
    }
    // Equal times are no sign of newer saves: FAT keeps them to two seconds.
    const std::optional<std::int64_t> card_time = card.ModifiedTime();
    if (!found.modified || !card_time || *found.modified <= *card_time) {
      return Give(CardVerdict::Kind::kReplace, shown + " holds something else" + trashed);
    }
    ++report().modified_targets;
    Give(CardVerdict::Kind::kReplaceModified,
         shown + " holds something else and was modified after the card" + trashed);
  }
};

// Whether each card's target is exactly its conversion.
class VerifyWalk final : public LookingWalk {
 public:
  using LookingWalk::LookingWalk;

 private:
  Outcome Take(CardFile& card, const std::string& target, const TargetLook& look,
               const Status& refused) override {
    const std::string shown = ShownName(target);
    // What stands at the target may be no file that the run would write:
    // then the run's reason says why. Whether it could write it is no matter.
    switch (refused.kind()) {
      case Status::Kind::kOwnTarget:
      case Status::Kind::kIsFolder:
      case Status::Kind::kNotAFile:
        return {FailureWords(shown, refused), {}};
      default:
        break;
    }
    std::string failure;
    const std::optional<TargetComparison> found = Compare(card, target, &failure);
    if (!found) return {failure, {}};
    const std::string words = Mismatch(*found, shown, header().size() + card.Length());
    Give(KindOf(found->kind), words.empty() ? shown + " is exact" : words);
    return {words, look.identity};
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

BatchReport DryRun(FileSystem& fs, const std::string& folder, const VerdictSink& sink) {
  return DryRunWalk(fs, folder, sink).Walk();
}

BatchReport Verify(FileSystem& fs, const std::string& folder, const VerdictSink& sink) {
  return VerifyWalk(fs, folder, sink).Walk();
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

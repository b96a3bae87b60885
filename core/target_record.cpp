#include "core/target_record.h"

#include "core/card_conversion.h"
#include "core/shown_name.h"
#include "core/text.h"

namespace pellamar {
namespace {

// What the report says of a card that is itself the target `target` of the
// card `card`.
std::string IsTargetOf(const std::string& target, const std::string& card) {
  return "it is " + ShownName(target) + ", the target of " + ShownName(card);
}

}  // namespace

TargetRecord::TargetRecord(FileSystem& fs, const std::string& folder,
                           const std::deque<std::string>& cards)
    : fs_(fs), folder_(folder), cards_(cards) {}

std::string TargetRecord::CheckCard(std::size_t card_index, const CardFile& card,
                                    const std::string& target) {
  if (const Taker* taker = TakerOfName(target)) {
    const std::string& earlier = cards_[taker->card];
    if (taker->converted) {
      return ShownName(target) + " was already written from " + ShownName(earlier);
    }
    return ShownName(target) + " is the target of " + ShownName(earlier) + ", listed before it";
  }
  // Only a file with another name than the card's can be a target too.
  if (!card.HasOtherNames()) return {};
  if (const Taker* taker = TakerOfFile(card.Identity(), card)) {
    return IsTargetOf(*taker->target, cards_[taker->card]);
  }
  // Its own target is the look's to tell.
  const std::size_t* standing = StandingAt(card.Identity(), card);
  if (standing != nullptr && *standing != card_index) {
    const std::string& other = cards_[*standing];
    return IsTargetOf(TargetNameFor(other), other);
  }
  return {};
}

std::string TargetRecord::CheckTarget(const std::string& target, const TargetLook& look,
                                      const CardFile& card) {
  const Taker* taker = TakerOfFile(look.identity, card);
  if (taker == nullptr) return {};
  return ShownName(target) + " was already written from " + ShownName(cards_[taker->card]);
}

void TargetRecord::Take(const std::string& target, const std::optional<FileIdentity>& file,
                        std::size_t card_index, bool converted) {
  const std::size_t index = takers_.size();
  const auto [key, added] = by_name_.emplace(KeyOf(target), index);
  if (file) by_file_.emplace(*file, index);
  takers_.push_back({card_index, converted, &key->first});
}

std::string TargetRecord::KeyOf(const std::string& target) const {
  return fs_.FoldsCase() ? AsciiLower(target) : target;
}

const TargetRecord::Taker* TargetRecord::TakerOfName(const std::string& target) const {
  const auto found = by_name_.find(KeyOf(target));
  return found == by_name_.end() ? nullptr : &takers_[found->second];
}

// The number of a file that another program replaced since may have gone
// to a new file: the taker's target must still be `file`.
const TargetRecord::Taker* TargetRecord::TakerOfFile(const std::optional<FileIdentity>& file,
                                                     const CardFile& card) {
  const auto found = file ? by_file_.find(*file) : by_file_.end();
  if (found == by_file_.end()) return nullptr;
  const Taker& taker = takers_[found->second];
  TargetLook now;
  fs_.LookAt(folder_ + *taker.target, card, &now);
  return SameFile(now.identity, file) ? &taker : nullptr;
}

const std::size_t* TargetRecord::StandingAt(const std::optional<FileIdentity>& file,
                                            const CardFile& card) {
  if (!standing_) {
    standing_.emplace();
    for (std::size_t i = 0; i < cards_.size(); ++i) {
      TargetLook look;
      fs_.LookAt(folder_ + TargetNameFor(cards_[i]), card, &look);
      if (look.kind == TargetLook::Kind::kFile && look.identity) {
        standing_->emplace(*look.identity, i);
      }
    }
  }
  const auto found = file ? standing_->find(*file) : standing_->end();
  return found == standing_->end() ? nullptr : &found->second;
}

}  // namespace pellamar

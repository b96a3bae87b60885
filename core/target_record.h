// Which card takes which target in one walk of a folder, the same for a
// run, a dry run and a verify:
//  - the first card listed that gives a target takes it; a later card that
//    gives the same one, by its name (in any letter case where names fold
//    case) or because the file there is one that an earlier card's target
//    is now (another name of it, such as a short name on Windows), is
//    passed over, whatever earlier runs left;
//  - no walk reads as a card a file that it writes: a card that is, under
//    another name, the target of an earlier card, or the file that stands
//    at the target of any card of the folder, is passed over.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>

#include "core/file_system.h"

namespace pellamar {

class TargetRecord {
 public:
  // `folder` is the walk's, with its separator, and `cards` the names that
  // its listing gave, in order, which must outlive the record.
  TargetRecord(FileSystem& fs, const std::string& folder, const std::deque<std::string>& cards);

  // Why the card `cards[card_index]`, open as `card`, must be passed over
  // before its target `target` is looked at; "" when it need not.
  std::string CheckCard(std::size_t card_index, const CardFile& card, const std::string& target);

  // Why the card must be passed over now that `look` found what stands at
  // its target; "" when it need not.
  std::string CheckTarget(const std::string& target, const TargetLook& look, const CardFile& card);

  // Notes that the card `cards[card_index]` took `target`, which is the
  // file `file` now when known; `converted` as the walk counts the card.
  void Take(const std::string& target, const std::optional<FileIdentity>& file,
            std::size_t card_index, bool converted);

 private:
  struct Taker {
    std::size_t card;
    bool converted = false;
    const std::string* target = nullptr;  // the key of by_name_
  };

  std::string KeyOf(const std::string& target) const;
  const Taker* TakerOfName(const std::string& target) const;
  const Taker* TakerOfFile(const std::optional<FileIdentity>& file, const CardFile& card);
  // The card at whose target the file `file` stands, or nullptr.
  const std::size_t* StandingAt(const std::optional<FileIdentity>& file, const CardFile& card);

  FileSystem& fs_;
  std::string folder_;
  const std::deque<std::string>& cards_;
  std::deque<Taker> takers_;
  std::unordered_map<std::string, std::size_t> by_name_;
  std::map<FileIdentity, std::size_t> by_file_;
  // What stands at the target of each card of the folder: looked at when a
  // card with other names is first met, and only then.
  std::optional<std::map<FileIdentity, std::size_t>> standing_;
};

}  // namespace pellamar

// The target card format: a fixed 64-byte header followed by the source
// card's bytes, unchanged. This file is the only place that knows it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/file_system.h"
#include "core/replace.h"
#include "core/status.h"

namespace pellamar {

inline constexpr std::size_t kTargetHeaderSize = 64;
using TargetHeader = std::array<std::uint8_t, kTargetHeaderSize>;

// The size of a memory card; a card of another size still converts, bytes
// unchanged, but readers of the target may refuse it.
inline constexpr std::uint64_t kMemoryCardSize = 131072;

// The most bytes of a card held in memory at once, whatever its size.
inline constexpr std::size_t kCopyPieceSize = std::size_t{1} << 20;

// "VgsM", then the bytes 1,0,0,0, 1,0,0,0, 1,0,0,0, 0,2 and zeros to the end.
TargetHeader BuildTargetHeader();

// Opens the card at `path` for reading; its length is the one the open file
// reports. nullptr, with `*status` saying why, when it cannot be opened.
std::unique_ptr<CardFile> ReadCard(FileSystem& fs, const std::string& path, Status* status);

// The target's bare file name for the bare source name `source_name`: a
// final ".mcd" (any case) becomes ".mem", keeping the stem and the dot as
// they are; any other name gets ".mem" appended.
std::string TargetNameFor(const std::string& source_name);

// Whether the bare name `name` is a card's by its name alone: it ends in
// ".mcd", in any letter case, and is not hidden (does not start with a dot).
// Windows lists cards itself, and matches their short names too.
bool IsCardName(std::string_view name);

// A target card: the header followed by the bytes of an open card, which
// are read only as the target is written.
class TargetCard {
 public:
  TargetCard(const TargetHeader& header, CardFile& card) : header_(header), card_(card) {}

  ByteView header() const { return header_; }
  CardFile& card() const { return card_; }
  std::uint64_t size() const { return header_.size() + card_.Length(); }

 private:
  ByteView header_;
  CardFile& card_;
};

// The target card of `card`. Both must outlive the result.
TargetCard ConvertCard(const TargetHeader& header, CardFile& card);

// What a replace did beyond its target: which file the target is now, and
// whether the file that stood there went to the trash.
struct Written {
  std::optional<FileIdentity> placed;
  bool trashed = false;
};

// Replaces the file at `path` with exactly the target card through
// `replacer`, copying the card from where it stands through `buffer` a
// piece at a time, so that any size of card takes no more memory than that.
// `look` is what FileSystem::LookAt found at `path`, with no reason to leave
// it alone. A file that stands there goes to the trash before the new one
// takes its place, so that at no moment is its only copy gone; where no
// trash can keep it, it stays as it is (Kind::kNotTrashed). Exactly as many
// card bytes as its length said are written; a card that ends sooner, or
// fails to read, gives Kind::kReadFailed. Other failures leave what stood at
// `path` in its place or, where it was already in the trash, there, and
// nothing beside it; Kind::kExists when another file took the place of the
// one that went to the trash.
Status WriteCard(Replacer& replacer, const std::string& path, const TargetLook& look,
                 const TargetCard& target, std::span<std::uint8_t> buffer, Written* written);

// How a file compares with a target card.
struct TargetComparison {
  enum class Kind {
    kSame,        // it holds exactly the target card
    kMissing,     // there is no file
    kUnreadable,  // it could not be opened or read
    kLength,      // its length is not the target card's
    kDiffers,     // its length is, but a byte differs
  };
  Kind kind = Kind::kSame;
  std::uint64_t length = 0;              // the file's, as far as it could be read
  std::uint64_t offset = 0;              // for kDiffers: the first byte that differs
  std::string reason;                    // for kUnreadable: the system's words, when it gave any
  std::optional<std::int64_t> modified;  // the file's time, when it could be opened
};

// How far CompareTarget reads the card.
enum class CardReading {
  kToItsEnd,  // as WriteCard reads it, and with the same failures
  kToTheFirstDifference,
};

// Compares the file at `path` with `target`, opening it for reading only,
// and puts what it found in `*result`. The card is read from where it stands
// as `reading` says; the file no further than its first difference. Both go
// a piece at a time through their buffers, so that any size takes no more
// memory than those. When the card fails to read, that failure is returned
// and `*result` says nothing.
Status CompareTarget(FileSystem& fs, const std::string& path, const TargetCard& target,
                     std::span<std::uint8_t> card_buffer, std::span<std::uint8_t> file_buffer,
                     CardReading reading, TargetComparison* result);

}  // namespace pellamar

// The target card format: a fixed 64-byte header followed by the source
// card's bytes, unchanged. This file is the only place that knows it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/file_system.h"
#include "core/status.h"

namespace pellamar {

inline constexpr std::size_t kTargetHeaderSize = 64;
using TargetHeader = std::array<std::uint8_t, kTargetHeaderSize>;

// "VgsM", then the bytes 1,0,0,0, 1,0,0,0, 1,0,0,0, 0,2 and zeros to the end.
TargetHeader BuildTargetHeader();

// Reads the whole card at `path` into `*card`. On failure `*card` holds
// nothing worth writing and the caller must not convert it.
Status ReadCard(FileSystem& fs, const std::string& path, Bytes* card);

// The target's bare file name for the bare source name `source_name`: a
// final ".mcd" (any case) becomes ".mem", keeping the stem and the dot as
// they are; any other name gets ".mem" appended.
std::string TargetNameFor(const std::string& source_name);

// A target card: the header followed by the card, kept as the two pieces it
// is made of so that writing it copies nothing.
class TargetCard {
 public:
  TargetCard(const TargetHeader& header, ByteView card) : pieces_{ByteView(header), card} {}

  std::span<const ByteView> pieces() const { return pieces_; }
  std::size_t size() const { return pieces_[0].size() + pieces_[1].size(); }
  Bytes ToBytes() const;

 private:
  std::array<ByteView, 2> pieces_;
};

// The target card of `card`. Both must outlive the result.
TargetCard ConvertCard(const TargetHeader& header, ByteView card);

// Replaces the file at `path` with exactly the target card, readable by
// whoever may read the card at `card_path` (see FileSystem::ReplaceWhole
// for what a failure leaves behind).
Status WriteCard(FileSystem& fs, const std::string& path, const TargetCard& target,
                 const std::string& card_path);

}  // namespace pellamar

#include "core/card_conversion.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace pellamar {
namespace {

constexpr std::string_view kSourceExtension = ".mcd";
constexpr std::string_view kTargetExtension = "mem";

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](unsigned char x, unsigned char y) { return lower(x) == lower(y); });
}

}  // namespace

TargetHeader BuildTargetHeader() {
  TargetHeader header{};
  constexpr std::uint8_t kLeading[] = {'V', 'g', 's', 'M', 1, 0, 0, 0, 1,
                                       0,   0,   0,   1,   0, 0, 0, 0, 2};
  std::copy(std::begin(kLeading), std::end(kLeading), header.begin());
  return header;
}

Status ReadCard(FileSystem& fs, const std::string& path, Bytes* card) {
  return fs.ReadWhole(path, card);
}

std::string TargetNameFor(const std::string& source_name) {
  const std::size_t n = source_name.size();
  if (n >= kSourceExtension.size() &&
      EqualsIgnoringAsciiCase(std::string_view(source_name).substr(n - kSourceExtension.size()),
                              kSourceExtension)) {
    return source_name.substr(0, n - kTargetExtension.size()) + std::string(kTargetExtension);
  }
  return source_name + "." + std::string(kTargetExtension);
}

Bytes TargetCard::ToBytes() const {
  Bytes bytes;
  bytes.reserve(size());
  for (ByteView piece : pieces_) bytes.insert(bytes.end(), piece.begin(), piece.end());
  return bytes;
}

TargetCard ConvertCard(const TargetHeader& header, ByteView card) {
  return TargetCard(header, card);
}

Status WriteCard(FileSystem& fs, const std::string& path, const TargetCard& target,
                 const std::string& card_path) {
  return fs.ReplaceWhole(path, target.pieces(), card_path);
}

bool FileSystem::MakeRoom(Bytes* out, std::uint64_t size) {
  if (size > out->max_size()) return false;
  try {
    out->resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

}  // namespace pellamar

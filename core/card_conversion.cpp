#include "core/card_conversion.h"

#include <algorithm>

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

std::unique_ptr<CardFile> ReadCard(FileSystem& fs, const std::string& path, Status* status) {
  return fs.OpenCard(path, status);
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

TargetCard ConvertCard(const TargetHeader& header, CardFile& card) {
  return TargetCard(header, card);
}

Status WriteCard(FileSystem& fs, const std::string& path, const TargetCard& target,
                 std::span<std::uint8_t> buffer) {
  Status status;
  const std::unique_ptr<PendingFile> pending = fs.BeginReplace(path, target.card(), &status);
  if (!pending) return status;
  // The header goes out with the first piece of the card, in one write.
  ByteView header = target.header();
  for (std::uint64_t left = target.card().Length(); left > 0 || !header.empty();) {
    std::size_t got = 0;
    if (left > 0) {
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
      status = target.card().Read(buffer.first(want), &got);
      if (!status.ok()) return status;
      if (got == 0) {
        return Status::Error(Status::Kind::kReadFailed, "the card ended early",
                             "it is shorter than its length said");
      }
      left -= got;
    }
    const ByteView pieces[] = {header, ByteView(buffer.first(got))};
    status = pending->Write(pieces);
    if (!status.ok()) return status;
    header = {};
  }
  return pending->Commit();
}

}  // namespace pellamar

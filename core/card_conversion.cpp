#include "core/card_conversion.h"

#include <algorithm>
#include <cstring>

#include "core/replace.h"
#include "core/text.h"

namespace pellamar {
namespace {

constexpr std::string_view kSourceExtension = ".mcd";
constexpr std::string_view kTargetExtension = "mem";

bool EndsInCardExtension(std::string_view name) {
  return name.size() >= kSourceExtension.size() &&
         EqualsIgnoringAsciiCase(name.substr(name.size() - kSourceExtension.size()),
                                 kSourceExtension);
}

Status EndedEarly() {
  return Status::Error(Status::Kind::kReadFailed, "the card ended early",
                       "it is shorter than its length said");
}

// Reads into `out` until it is full or the file ends; `*got` says how far.
Status ReadFully(CardFile& file, std::span<std::uint8_t> out, std::size_t* got) {
  *got = 0;
  while (*got < out.size()) {
    std::size_t n = 0;
    const Status status = file.Read(out.subspan(*got), &n);
    if (!status.ok()) return status;
    if (n == 0) break;
    *got += n;
  }
  return Status::Ok();
}

// Where `a` first differs from `b` (which is at least as long), or nothing.
// memcmp goes through equal bytes fast; only the block that differs is
// looked through byte by byte.
std::optional<std::size_t> FirstDifference(ByteView a, ByteView b) {
  constexpr std::size_t kBlock = 4096;
  for (std::size_t at = 0; at < a.size(); at += kBlock) {
    const std::size_t n = std::min(kBlock, a.size() - at);
    if (std::memcmp(a.data() + at, b.data() + at, n) == 0) continue;
    return at + static_cast<std::size_t>(
                    std::mismatch(a.begin() + at, a.begin() + at + n, b.begin() + at).first -
                    (a.begin() + at));
  }
  return std::nullopt;
}

// Holds bytes that should be a file's, in order, against what the file
// holds, until the first difference.
class FileMatcher {
 public:
  FileMatcher(std::unique_ptr<CardFile> file, std::span<std::uint8_t> buffer,
              TargetComparison* result)
      : file_(std::move(file)), buffer_(buffer), result_(*result) {}

  void Match(ByteView expected) {
    while (file_ && !expected.empty()) {
      const ByteView piece = expected.first(std::min(expected.size(), buffer_.size()));
      std::size_t got = 0;
      const Status status = ReadFully(*file_, buffer_.first(piece.size()), &got);
      if (!status.ok()) return Stop(TargetComparison::Kind::kUnreadable, 0, status.reason());
      if (const std::optional<std::size_t> at = FirstDifference(piece.first(got), buffer_)) {
        return Stop(TargetComparison::Kind::kDiffers, offset_ + *at, {});
      }
      offset_ += got;
      // A file that shrank since it was opened.
      if (got < piece.size()) return Stop(TargetComparison::Kind::kLength, offset_, {});
      expected = expected.subspan(got);
    }
  }

 private:
  void Stop(TargetComparison::Kind kind, std::uint64_t where, std::string reason) {
    result_.kind = kind;
    if (kind == TargetComparison::Kind::kDiffers) result_.offset = where;
    if (kind == TargetComparison::Kind::kLength) result_.length = where;
    result_.reason = std::move(reason);
    file_.reset();
  }

  std::unique_ptr<CardFile> file_;
  std::span<std::uint8_t> buffer_;
  TargetComparison& result_;
  std::uint64_t offset_ = 0;
};

// Opens the file at `path` for CompareTarget; nullptr, with `*result` saying
// why, when there is nothing to read byte by byte.
std::unique_ptr<CardFile> OpenToCompare(FileSystem& fs, const std::string& path,
                                        std::uint64_t expected_length, TargetComparison* result) {
  Status status;
  std::unique_ptr<CardFile> file = fs.OpenCard(path, &status);
  if (!file) {
    result->kind = status.kind() == Status::Kind::kNotFound ? TargetComparison::Kind::kMissing
                                                            : TargetComparison::Kind::kUnreadable;
    result->reason = status.reason();
    return nullptr;
  }
  result->length = file->Length();
  result->modified = file->ModifiedTime();
  if (result->length == expected_length) return file;
  result->kind = TargetComparison::Kind::kLength;
  return nullptr;
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
  if (EndsInCardExtension(source_name)) {
    return source_name.substr(0, source_name.size() - kTargetExtension.size()) +
           std::string(kTargetExtension);
  }
  return source_name + "." + std::string(kTargetExtension);
}

bool IsCardName(std::string_view name) {
  return !name.empty() && name.front() != '.' && EndsInCardExtension(name);
}

TargetCard ConvertCard(const TargetHeader& header, CardFile& card) {
  return TargetCard(header, card);
}

Status WriteCard(Replacer& replacer, const std::string& path, const TargetLook& look,
                 const TargetCard& target, std::span<std::uint8_t> buffer, Written* written) {
  Status status;
  const std::unique_ptr<PendingFile> pending = replacer.Begin(path, look, target.card(), &status);
  if (!pending) return status;
  // The header goes out with the first piece of the card, in one write.
  ByteView header = target.header();
  for (std::uint64_t left = target.card().Length(); left > 0 || !header.empty();) {
    std::size_t got = 0;
    if (left > 0) {
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
      status = target.card().Read(buffer.first(want), &got);
      if (!status.ok()) return status;
      if (got == 0) return EndedEarly();
      left -= got;
    }
    const ByteView pieces[] = {header, ByteView(buffer.first(got))};
    status = pending->Write(pieces);
    if (!status.ok()) return status;
    header = {};
  }
  status = pending->Close();
  if (!status.ok()) return status;
  if (look.kind == TargetLook::Kind::kFile) {
    status = replacer.fs().Trash(path);
    if (!status.ok()) return status;
    written->trashed = true;
  }
  status = pending->Commit();
  if (status.ok()) written->placed = pending->Identity();
  return status;
}

Status CompareTarget(FileSystem& fs, const std::string& path, const TargetCard& target,
                     std::span<std::uint8_t> card_buffer, std::span<std::uint8_t> file_buffer,
                     CardReading reading, TargetComparison* result) {
  *result = {};
  FileMatcher matcher(OpenToCompare(fs, path, target.size(), result), file_buffer, result);
  matcher.Match(target.header());
  for (std::uint64_t left = target.card().Length(); left > 0;) {
    if (reading == CardReading::kToTheFirstDifference &&
        result->kind != TargetComparison::Kind::kSame) {
      break;
    }
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(left, card_buffer.size()));
    std::size_t got = 0;
    const Status status = ReadFully(target.card(), card_buffer.first(want), &got);
    if (!status.ok()) return status;
    if (got < want) return EndedEarly();
    matcher.Match(card_buffer.first(got));
    left -= got;
  }
  return Status::Ok();
}

}  // namespace pellamar

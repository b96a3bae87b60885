// The narrow seam between the batch run and the platform's file system.
// Paths are byte strings (UTF-8 on Windows); a name the listing returns is
// handed back unchanged, never re-encoded.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/status.h"

namespace pellamar {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// One step of a card listing: a bare file name, the end, or a failure that
// ends the listing early.
struct ListEntry {
  enum class Kind { kName, kEnd, kError };
  Kind kind = Kind::kEnd;
  std::string name;
};

// The cards of one folder, walked once, in the order the platform yields them.
class CardListing {
 public:
  virtual ~CardListing() = default;
  // After kEnd or kError, every further call returns kEnd.
  virtual ListEntry Next() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The character that separates folders in paths of this file system.
  virtual char Separator() const = 0;

  // Whether two names that differ only in ASCII case name the same file.
  virtual bool FoldsCase() const = 0;

  // Lists the cards of `folder` (a path ending in Separator()): plain files
  // that are not hidden and whose names match "*.mcd", ignoring case.
  // Returns nullptr, with `*status` saying why, when the folder cannot be
  // listed at all.
  virtual std::unique_ptr<CardListing> ListCards(const std::string& folder, Status* status) = 0;

  // The length of the file at `path`, or nullopt when it cannot be read.
  virtual std::optional<std::uint64_t> FileLength(const std::string& path) = 0;

  // Opens the file, takes its length from the open file and reads exactly
  // that many bytes into `*out` (whose capacity is reused). Fewer bytes than
  // the length is a failure. On failure `*out` is unspecified.
  virtual Status ReadWhole(const std::string& path, Bytes* out) = 0;

  // Makes the file at `path` hold exactly `pieces`, one after another. The
  // bytes go to a new hidden file beside it, which then replaces `path` in
  // one rename (a link at `path` is replaced, never written through). On
  // failure nothing is left behind and an existing file at `path` is
  // unchanged. An existing file that is read-only (on POSIX: without its
  // owner-write bit) is never replaced, whoever runs the program: that gives
  // Kind::kReadOnly.
  // Who may read the result: a file that replaces another keeps the old
  // one's permissions; a new one may be read by no one who may not read
  // `model`, the file its bytes came from (on POSIX: `model`'s read bits,
  // owner write added, under the umask).
  virtual Status ReplaceWhole(const std::string& path, std::span<const ByteView> pieces,
                              const std::string& model) = 0;

  // Resizes `*out` to hold a file of `size` bytes; false, with `*out`
  // unchanged, when memory does not allow it. Never throws.
  static bool MakeRoom(Bytes* out, std::uint64_t size);
};

// The file system of the platform the program was built for.
std::unique_ptr<FileSystem> NewPlatformFileSystem();

}  // namespace pellamar

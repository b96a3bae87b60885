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
  std::string reason;  // for kError: the system's words for why, when it gave any
};

// The cards of one folder, walked once, in the order the platform yields them.
class CardListing {
 public:
  virtual ~CardListing() = default;
  // After kEnd or kError, every further call returns kEnd.
  virtual ListEntry Next() = 0;
};

// A card open for reading. Its length is the one the open file reported when
// it was opened; its bytes are read in pieces from the first one on.
class CardFile {
 public:
  virtual ~CardFile() = default;
  virtual std::uint64_t Length() const = 0;
  // Reads the next bytes into `out`, as many as there are up to its size,
  // and puts their number in `*got`: 0 at the end of the file. A failure
  // gives Kind::kReadFailed.
  virtual Status Read(std::span<std::uint8_t> out, std::size_t* got) = 0;
  // When the file's bytes were last changed, in nanoseconds since the start
  // of 1970 (UTC); nullopt when the file system cannot tell.
  virtual std::optional<std::int64_t> ModifiedTime() const { return std::nullopt; }
  // Whether `other`, opened by the same file system, is this very file,
  // under whatever name (compare the cards that Opened gives).
  virtual bool IsSameFileAs(const CardFile& /*other*/) const { return false; }
  // The card as the file system that opened it made it. A wrapper that
  // changes how a card reads hands back the card it wraps.
  virtual const CardFile& Opened() const { return *this; }
};

// A file being replaced. The bytes go to a new hidden file beside the target
// that no listing returns; Commit puts it in the target's place in one step.
// Destroyed without a successful Commit, it removes that file and leaves the
// target as it was.
class PendingFile {
 public:
  virtual ~PendingFile() = default;
  // Appends the pieces, one after another.
  virtual Status Write(std::span<const ByteView> pieces) = 0;
  // Closes the new file and puts it in the target's place. On failure the
  // target is unchanged and nothing is left behind.
  virtual Status Commit() = 0;
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

  // Opens the plain file at `path` for reading; nullptr, with `*status`
  // saying why, when it cannot be opened or is no plain file.
  virtual std::unique_ptr<CardFile> OpenCard(const std::string& path, Status* status) = 0;

  // Starts replacing the file at `path` with bytes made from `card`, which
  // this file system opened. A link at `path` is replaced, never written
  // through. Returns nullptr, with `*status` saying why and `path` untouched:
  //  - Kind::kReadOnly: an existing file that whoever runs the program may
  //    not write (on POSIX, for root: one without its owner-write bit);
  //  - Kind::kIsFolder, Kind::kNotAFile: something else stands at `path`;
  //  - Kind::kOwnTarget: `path` is `card` itself, through a link of any kind;
  //  - Kind::kOwnerNotKept: the file it would replace keeps an owner, group
  //    or permissions that the new one could not be given.
  // Who may read the result: a file that replaces another keeps the old
  // one's owner, group and permissions; a new one may be read by no one who
  // may not read `card` (see each platform's file system for how).
  virtual std::unique_ptr<PendingFile> BeginReplace(const std::string& path, const CardFile& card,
                                                    Status* status) = 0;

  // What BeginReplace(path, card) would answer now, found without creating,
  // changing or opening for writing anything: one of the refusals above, a
  // failure to create the new file that can be told beforehand (a folder
  // that may not be written), or Ok when the replace would start as far as
  // that can be told. A replace that starts may still fail later, on a full
  // disk for one.
  virtual Status CheckReplace(const std::string& path, const CardFile& card) = 0;

  // Removes from `folder` the files that replaces of runs on this machine
  // left behind when those runs died. Never one that a live run may still
  // be writing. Failures are passed over.
  virtual void RemoveLeftovers(const std::string& folder) = 0;
};

// The file system of the platform the program was built for.
std::unique_ptr<FileSystem> NewPlatformFileSystem();

// Makes an interrupt, terminate or hang-up signal remove the file that a
// replace is writing at that moment, before the program ends as the signal
// says; on Windows, Ctrl-C, Ctrl-Break and closing the console. A signal
// that was ignored when this is called stays ignored. Call once at the start
// of a program.
void RemoveTemporaryFileOnSignals();

}  // namespace pellamar

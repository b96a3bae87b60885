// The narrow seam between the core and the platform's file system: the few
// things that each platform does in its own way. The rules built on them
// (which file is whose target, how a target is replaced, which leftovers
// are dead) are the core's. Paths are byte strings (UTF-8 on Windows); a
// name the listing returns is handed back unchanged, never re-encoded.
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

// Which file an open file, or an entry of a folder, is, whatever name led
// to it: its volume and its number there (two words, for the 128-bit
// numbers of some Windows file systems).
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  auto operator<=>(const FileIdentity&) const = default;
};

// Whether both identities are known and name one file: one that a file
// system could not tell matches nothing, not even another unknown one.
inline bool SameFile(const std::optional<FileIdentity>& a, const std::optional<FileIdentity>& b) {
  return a && b && *a == *b;
}

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

// A plain file open for reading: a card, or a target being compared. Its
// length is the one the open file reported when it was opened; its bytes are
// read in pieces from the first one on.
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
  // Which file it is; nullopt when the file system cannot tell.
  virtual std::optional<FileIdentity> Identity() const { return std::nullopt; }
  // Whether the file has a name besides the one it was opened by: it was
  // reached through a link, or it has several (hard links). Only such a
  // file can be a card and another card's target at once.
  virtual bool HasOtherNames() const { return false; }
  // Reads from the first byte on again.
  virtual Status Rewind() = 0;
  // The card as the file system that opened it made it. A wrapper that
  // changes how a card reads hands back the card it wraps.
  virtual const CardFile& Opened() const { return *this; }
};

// What stands at a target's path, looked at without following a final link.
struct TargetLook {
  enum class Kind { kNothing, kFile, kLink, kFolder, kOther };
  Kind kind = Kind::kNothing;
  std::optional<FileIdentity> identity;  // of the entry itself: a link, not what it leads to
};

// A new file that will take a target's place: a hidden file beside it that
// no listing of cards returns. Destroyed without a successful Commit, it
// removes that file and leaves the target as it was.
class PendingFile {
 public:
  virtual ~PendingFile() = default;
  // Appends the pieces, one after another.
  virtual Status Write(std::span<const ByteView> pieces) = 0;
  // Closes the new file once all its bytes are written. On failure the
  // target is as it was.
  virtual Status Close() = 0;
  // Puts the closed file in the target's place in one step: over the link
  // that the look found there, else only where nothing stands (the file that
  // stood was moved to the trash). Kind::kExists when something stands there
  // now. On failure what stands is as it was, and nothing is left beside it.
  virtual Status Commit() = 0;
  // Which file the target is once Commit succeeded.
  virtual std::optional<FileIdentity> Identity() const = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The character that separates folders in paths of this file system.
  virtual char Separator() const = 0;

  // Whether two names that differ only in ASCII case name the same file.
  virtual bool FoldsCase() const = 0;

  // Lists the cards of `folder` (a path ending in Separator()): plain files,
  // or links to one, that are not hidden and whose names match "*.mcd",
  // ignoring case. Returns nullptr, with `*status` saying why, when the
  // folder cannot be listed at all.
  virtual std::unique_ptr<CardListing> ListCards(const std::string& folder, Status* status) = 0;

  // The length of the file at `path`, or nullopt when it cannot be read.
  virtual std::optional<std::uint64_t> FileLength(const std::string& path) = 0;

  // Opens the plain file at `path`, following links, for reading; nullptr,
  // with `*status` saying why, when it cannot be opened or is no plain file
  // (Kind::kNotAFile). Nothing else is ever opened, not even for a moment: a
  // device, a pipe or a folder is refused as it is found.
  virtual std::unique_ptr<CardFile> OpenCard(const std::string& path, Status* status) = 0;

  // Looks at what stands at `path`, where a target made from `card` (which
  // this file system opened) is to go, and puts it in `*look`. Returns why
  // it must not be replaced, or Ok:
  //  - Kind::kIsFolder, Kind::kNotAFile: something that is no file stands;
  //  - Kind::kOwnTarget: it is `card` itself, through a link of any kind;
  //  - Kind::kReadOnly: a file that whoever runs the program may not write
  //    (on POSIX, for root: one without its owner-write bit);
  //  - Kind::kOwnerNotKept: a file whose owner, group or permissions a new
  //    file could not be given;
  //  - any other kind: it could not be looked at.
  // A link is replaced itself, never written through, and so is no refusal.
  virtual Status LookAt(const std::string& path, const CardFile& card, TargetLook* look) = 0;

  // Whether a new file could be made beside `path` now, found without
  // making one: a folder that may not be written, or that is on a read-only
  // volume, takes none.
  virtual Status CheckCreate(const std::string& path) = 0;

  // Creates the hidden file `name` beside `path`, for a target made from
  // `card` where `look` found what stands. A file that replaces another
  // keeps the old one's owner, group and permissions; a new one may be read
  // by no one who may not read `card` (see each platform's file system for
  // how). Kind::kExists when a file of that name is there already.
  virtual std::unique_ptr<PendingFile> CreateBeside(const std::string& path,
                                                    const std::string& name, const TargetLook& look,
                                                    const CardFile& card, Status* status) = 0;

  // What the desktop calls its trash, as a title: "Trash", "Recycle Bin".
  virtual std::string TrashName() const = 0;

  // Moves the file at `path` to the desktop's trash, where the user can
  // restore it from, and where it keeps its name and bytes; Kind::kNotTrashed,
  // with the reason, when no trash can keep it. Never deletes it for good.
  virtual Status Trash(const std::string& path) = 0;

  // The names in `folder` that start with `prefix`, hidden ones included.
  virtual std::vector<std::string> ListNamesStartingWith(const std::string& folder,
                                                         const std::string& prefix) = 0;

  // Removes the plain file at `path`; anything else there is left alone.
  virtual void RemoveFile(const std::string& path) = 0;

  // What tells this machine, and the space its process numbers belong to,
  // from any other that may share a folder with it.
  virtual const std::string& MachineId() = 0;
  virtual std::uint64_t ProcessId() = 0;
  // Whether no process of this machine has the number `pid` any more.
  virtual bool IsProcessGone(std::uint64_t pid) = 0;
};

// The file system of the platform the program was built for.
std::unique_ptr<FileSystem> NewPlatformFileSystem();

// Makes a signal that ends the program remove the file that a replace is
// writing at that moment, before the program ends as the signal says; on
// Windows, Ctrl-C, Ctrl-Break and closing the console. A signal that was
// ignored or handled when this is called stays so. On POSIX a file-size
// limit then fails a write as a full disk does. Call once at the start of a
// program.
void RemoveTemporaryFileOnSignals();

}  // namespace pellamar

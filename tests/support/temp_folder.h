// A fresh folder under the system's temporary folder, removed with its
// contents when the test ends, and small helpers for the files in it.
#pragma once

#include <filesystem>
#include <string>

#include "core/file_system.h"

namespace pellamar::testing {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // The folder as the batch run addresses it: ending in the separator.
  std::string Folder() const;
  std::string operator/(const std::string& name) const;

  // These take each name exactly as given, on Windows too: "a.mcd." and
  // "CON.mcd" are files of those names.
  void Write(const std::string& name, const Bytes& bytes) const;
  Bytes Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  // The names in the folder, sorted, hidden ones included.
  std::vector<std::string> Names() const;
  // The same of any folder.
  static std::vector<std::string> NamesIn(const std::filesystem::path& folder);

 private:
  std::filesystem::path path_;
};

// Bytes 0, 1, ..., 255, 0, 1, ... of the given length, offset by `seed`.
Bytes PatternBytes(std::size_t length, std::uint8_t seed = 0);

// The desktop's trash of this user's home, as GLib finds it: in
// $XDG_DATA_HOME, else in ~/.local/share. The tests' own, as CTest runs them.
std::filesystem::path HomeTrash();

// A card of a memory card's size, its bytes PatternBytes(…, seed).
Bytes CardBytes(std::uint8_t seed = 0);

// A real card from the test data folder.
Bytes RealCard(const std::string& name);

// The bytes of each file that the desktop's trash holds from `path` (UTF-8,
// absolute), as its .trashinfo names it, with the time it was deleted: the
// freedesktop.org trash of XDG_DATA_HOME, where file managers restore from,
// and where Wine keeps its Recycle Bin.
std::vector<Bytes> TrashedCopiesOf(const std::string& path);

// The names that `fs` lists as cards of `folder`, sorted. Fails the test
// when the folder cannot be listed or the listing does not end cleanly.
std::vector<std::string> ListedCards(FileSystem& fs, const std::string& folder);

// Converts the card at `card` into the target at `target` through `fs`, as a
// run converts one card: looked at, refused for the run's reasons, written.
Status ConvertOne(FileSystem& fs, const std::string& card, const std::string& target);

}  // namespace pellamar::testing

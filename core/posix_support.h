// What the POSIX file system's files share: descriptors closed on every path
// out of a scope, and failures in the system's own words.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "core/posix_permissions.h"

#include "core/file_system.h"
#include "core/status.h"

namespace pellamar::posix {

// The system's words for `error`, in lower case, untranslated whatever the
// locale, so that every report reads the same.
std::string SystemWords(int error);

// A failure of `what` on `path` for errno `error`; a missing file is
// Kind::kNotFound.
Status ErrnoStatus(Status::Kind kind, const std::string& what, const std::string& path, int error);
inline Status ErrnoStatus(const std::string& what, const std::string& path, int error) {
  return ErrnoStatus(Status::Kind::kIoError, what, path, error);
}

inline FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), 0, static_cast<std::uint64_t>(st.st_ino)};
}

// Closes a descriptor on every path out of a scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Close(); }

  // Takes over `fd`, closing the one held before.
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes now and says whether the close itself succeeded.
  bool Close() {
    if (fd_ < 0) return true;
    const bool closed = close(fd_) == 0;
    fd_ = -1;
    return closed;
  }

 private:
  int fd_;
};

// A folder that cards are read from and targets written into, opened once:
// every name in it is reached through this descriptor, so that a folder
// renamed, or swapped for a link, while a run goes on changes nothing.
struct Folder {
  std::string path;
  FileDescriptor fd;  // O_PATH
  FileIdentity identity;
  posix::FolderFacts facts;
};

}  // namespace pellamar::posix

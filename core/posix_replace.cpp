#include "core/posix_replace.h"

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "core/posix_cleanup.h"

namespace pellamar::posix {
namespace {

// Writes the vectors in order with as few calls as the kernel allows; false,
// with errno set, when the kernel takes no more.
bool WriteVectors(int fd, std::span<iovec> left) {
  while (!left.empty()) {
    const ssize_t n =
        writev(fd, left.data(), static_cast<int>(std::min<std::size_t>(left.size(), IOV_MAX)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    auto written = static_cast<std::size_t>(n);
    while (!left.empty() && written >= left.front().iov_len) {
      written -= left.front().iov_len;
      left = left.subspan(1);
    }
    if (!left.empty()) {
      left.front().iov_base = static_cast<char*>(left.front().iov_base) + written;
      left.front().iov_len -= written;
    }
  }
  return true;
}

bool WriteAll(int fd, std::span<const ByteView> pieces) {
  std::array<iovec, 4> vectors;
  std::size_t count = 0;
  for (ByteView piece : pieces) {
    if (piece.empty()) continue;
    if (count == vectors.size()) {
      if (!WriteVectors(fd, std::span(vectors.data(), count))) return false;
      count = 0;
    }
    vectors[count++] = {const_cast<std::uint8_t*>(piece.data()), piece.size()};
  }
  return WriteVectors(fd, std::span(vectors.data(), count));
}

class PosixPendingFile final : public PendingFile {
 public:
  PosixPendingFile(std::shared_ptr<const Folder> folder, std::string name, int fd,
                   std::string target_name, std::string path, bool over_link)
      : folder_(std::move(folder)),
        name_(std::move(name)),
        fd_(fd),
        target_name_(std::move(target_name)),
        path_(std::move(path)),
        over_link_(over_link) {}

  ~PosixPendingFile() override {
    if (committed_) return;
    fd_.Close();
    unlinkat(folder_->fd.get(), name_.c_str(), 0);
    DisarmSignalCleanup();
  }

  Status Write(std::span<const ByteView> pieces) override {
    if (!WriteAll(fd_.get(), pieces)) return ErrnoStatus("cannot write", path_, errno);
    return Status::Ok();
  }

  Status Close() override {
    struct stat written;
    if (fstat(fd_.get(), &written) != 0 || !fd_.Close()) {
      return ErrnoStatus("cannot write", path_, errno);
    }
    written_ = IdentityOf(written);
    return Status::Ok();
  }

  Status Commit() override {
    if (!PutInPlace()) {
      if (errno != EEXIST) return ErrnoStatus("cannot replace", path_, errno);
      return Status::Error(Status::Kind::kExists, "exists " + path_,
                           "another file took its place meanwhile");
    }
    identity_ = written_;
    committed_ = true;
    DisarmSignalCleanup();
    return Status::Ok();
  }

  std::optional<FileIdentity> Identity() const override { return identity_; }

 private:
  // Renames the new file over a link, else only where nothing stands; on a
  // file system that cannot rename on that condition, where nothing stood
  // a moment before. False, with errno set, when it did not.
  bool PutInPlace() const {
    const int folder = folder_->fd.get();
    const char* from = name_.c_str();
    const char* to = target_name_.c_str();
    if (over_link_) return renameat(folder, from, folder, to) == 0;
    if (renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL) return false;
    struct stat st;
    if (fstatat(folder, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      errno = EEXIST;
      return false;
    }
    return errno == ENOENT && renameat(folder, from, folder, to) == 0;
  }

  std::shared_ptr<const Folder> folder_;
  std::string name_;
  FileDescriptor fd_;
  std::string target_name_;
  std::string path_;
  bool over_link_;
  FileIdentity written_;
  std::optional<FileIdentity> identity_;
  bool committed_ = false;
};

}  // namespace

std::unique_ptr<PendingFile> CreatePendingFile(std::shared_ptr<const Folder> folder_ptr,
                                               const char* target_name, const std::string& name,
                                               const TargetLook& look, const OpenedCard& card,
                                               const std::string& path, Status* status) {
  const Folder& folder = *folder_ptr;
  // A file that is replaced gives the new one its owner and permissions:
  // it is looked at again, through a descriptor, and must be the one that
  // the look found.
  FileDescriptor old;
  struct stat old_info {};
  const bool replacing = look.kind == TargetLook::Kind::kFile;
  if (replacing) {
    old.Reset(openat(folder.fd.get(), target_name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!old.valid() || fstat(old.get(), &old_info) != 0) {
      *status = ErrnoStatus("cannot look at", path, errno);
      return nullptr;
    }
    if (!SameFile(IdentityOf(old_info), look.identity)) {
      *status = Status::Error(Status::Kind::kChanged, "changed " + path,
                              "another file took its place meanwhile");
      return nullptr;
    }
  }
  const mode_t mode = replacing ? old_info.st_mode & 0777 : NewFileMode(card);
  ArmSignalCleanup(folder.fd.get(), name);
  const int fd =
      openat(folder.fd.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    const int error = errno;
    DisarmSignalCleanup();
    *status = error == EEXIST
                  ? Status::Error(Status::Kind::kExists, "exists " + name, "file exists")
                  : ErrnoStatus("cannot create a file beside", path, error);
    return nullptr;
  }
  auto pending = std::make_unique<PosixPendingFile>(folder_ptr, name, fd, target_name, path,
                                                    look.kind == TargetLook::Kind::kLink);
  *status = replacing ? KeepOwnerAndPermissions(fd, folder.facts.new_file_group, old.get(),
                                                old_info, folder.facts, path)
                      : GiveCardPermissions(fd, path, folder.facts, card, mode);
  if (!status->ok()) return nullptr;
  return pending;
}

}  // namespace pellamar::posix

#include "core/posix_permissions.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <vector>

#include "core/posix_support.h"

namespace pellamar::posix {
namespace {

constexpr char kAccessAcl[] = "system.posix_acl_access";
constexpr char kDefaultAcl[] = "system.posix_acl_default";

// The process's umask, read without changing it; 077 when it cannot be read.
// The creation of a file applies it; only a change of mode afterwards needs
// it, which is rare.
mode_t ProcessUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    unsigned value = 077;
    const std::size_t digits = line.find_first_of("01234567", 6);
    if (line.rfind("Umask:", 0) != 0 || digits == std::string::npos) continue;
    std::from_chars(line.data() + digits, line.data() + line.size(), value, 8);
    return static_cast<mode_t>(value);
  }
  return 077;
}

// Whether the open file carries an access ACL beyond its mode bits (the
// system keeps none for an ACL that the mode bits say whole).
bool HasAccessAcl(int fd) { return fgetxattr(fd, kAccessAcl, nullptr, 0) > 0; }

// Copies the access ACL of the file open at `from` onto the open file `to`,
// and takes off one that `to` inherited where `from` has none. False, with
// errno set, when it cannot.
bool KeepAcl(int from, int to, bool inherited) {
  const std::string path = ThroughDescriptor(from);
  std::array<char, 1024> small;
  std::vector<char> large;
  char* acl = small.data();
  ssize_t n = getxattr(path.c_str(), kAccessAcl, small.data(), small.size());
  if (n < 0 && errno == ERANGE) {
    n = getxattr(path.c_str(), kAccessAcl, nullptr, 0);
    if (n > 0) {
      large.resize(static_cast<std::size_t>(n));
      acl = large.data();
      n = getxattr(path.c_str(), kAccessAcl, acl, large.size());
    }
  }
  if (n > 0) return fsetxattr(to, kAccessAcl, acl, static_cast<std::size_t>(n), 0) == 0;
  if (n < 0 && errno != ENODATA && errno != ENOTSUP) return false;
  return !inherited || fremovexattr(to, kAccessAcl) == 0 || errno == ENODATA;
}

}  // namespace

std::string ThroughDescriptor(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

FolderFacts FactsOf(int folder_fd, const struct stat& folder) {
  FolderFacts facts;
  facts.new_file_group = (folder.st_mode & S_ISGID) != 0 ? folder.st_gid : getegid();
  facts.default_acl = getxattr(ThroughDescriptor(folder_fd).c_str(), kDefaultAcl, nullptr, 0) > 0;
  return facts;
}

mode_t NewFileMode(const OpenedCard& card) {
  if (HasAccessAcl(card.fd)) return S_IRUSR | S_IWUSR;
  return (card.info.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) | S_IWUSR;
}

Status GiveCardPermissions(int fd, const std::string& path, const FolderFacts& folder,
                           const OpenedCard& card, mode_t mode) {
  bool set_mode = folder.default_acl;
  if (folder.default_acl && fremovexattr(fd, kAccessAcl) != 0 && errno != ENODATA) {
    return ErrnoStatus("cannot set the permissions of", path, errno);
  }
  const gid_t group = card.info.st_gid;
  if ((mode & S_IRGRP) != 0 && group != folder.new_file_group &&
      fchown(fd, static_cast<uid_t>(-1), group) != 0) {
    mode &= ~S_IRGRP;
    set_mode = true;
  }
  if (set_mode && fchmod(fd, mode & ~ProcessUmask()) != 0) {
    return ErrnoStatus("cannot set the permissions of", path, errno);
  }
  return Status::Ok();
}

Status CheckKept(const FolderFacts& folder, const struct stat& old, const struct stat& card,
                 const std::string& path) {
  if (old.st_uid != card.st_uid) {
    return Status::Error(Status::Kind::kOwnerNotKept, "cannot keep the owner of " + path,
                         "it belongs to another user than its card");
  }
  if (geteuid() == 0) return Status::Ok();
  const auto refused = [&] {
    return ErrnoStatus(Status::Kind::kOwnerNotKept, "cannot keep the owner of", path, EPERM);
  };
  if (old.st_uid != geteuid()) return refused();
  if (old.st_gid == folder.new_file_group || old.st_gid == getegid()) return Status::Ok();
  const int count = getgroups(0, nullptr);
  std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
  const int got = getgroups(static_cast<int>(groups.size()), groups.data());
  const bool member = got > 0 && std::find(groups.begin(), groups.begin() + got, old.st_gid) !=
                                     groups.begin() + got;
  return member ? Status::Ok() : refused();
}

Status KeepOwnerAndPermissions(int fd, gid_t group_now, int old_fd, const struct stat& old,
                               const FolderFacts& folder, const std::string& path) {
  const auto fail = [&] {
    return ErrnoStatus(Status::Kind::kOwnerNotKept, "cannot keep the owner of", path, errno);
  };
  const bool owner_differs = old.st_uid != geteuid();
  if ((owner_differs || old.st_gid != group_now) &&
      fchown(fd, owner_differs ? old.st_uid : static_cast<uid_t>(-1), old.st_gid) != 0) {
    return fail();
  }
  if (!KeepAcl(old_fd, fd, folder.default_acl)) return fail();
  // The umask, a change of owner or the ACL's mask may have narrowed them.
  if (fchmod(fd, old.st_mode & 0777) != 0) return fail();
  return Status::Ok();
}

}  // namespace pellamar::posix

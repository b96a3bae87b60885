// Who may read a target on POSIX. A new target may be read by no one who may
// not read its card; a replaced one keeps what the old one had: its owner,
// group, permission bits and ACL. Every file is reached through a
// descriptor, never by its path.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "core/status.h"

namespace pellamar::posix {

// What the rules need to know of the folder that a target goes into.
struct FolderFacts {
  gid_t new_file_group = 0;  // the group that a new file there gets
  bool default_acl = false;  // new files there inherit an ACL
};

// The folder open at `folder_fd`, as the rules see it.
FolderFacts FactsOf(int folder_fd, const struct stat& folder);

// A card as it was opened: the descriptor it reads from, and its status.
struct OpenedCard {
  int fd;
  const struct stat& info;
};

// The permission bits a new file made from `card` is created with: the
// card's read bits, and write for its owner; read and write for its owner
// alone when an ACL says more about who may read the card than its bits do.
mode_t NewFileMode(const OpenedCard& card);

// Gives the new file `fd` (`path`), created with `mode` in a folder of
// `folder`, the card's readers: the card's group, where the file's group
// may read it and the system allows it, else no group; never an ACL that
// the folder passes on; and the umask has its say.
Status GiveCardPermissions(int fd, const std::string& path, const FolderFacts& folder,
                           const OpenedCard& card, mode_t mode);

// Why a new file in `folder`, made from the card `card`, may not take over
// the owner, group, permission bits and ACL of `old` at `path`, or Ok. They
// are kept only where they give no one the card's bytes who may not read
// the card: `old` must belong to the card's owner, who chose them. Then root
// may give them; anyone else only as that owner, and for the group, as a
// member of it.
Status CheckKept(const FolderFacts& folder, const struct stat& old, const struct stat& card,
                 const std::string& path);

// Gives the new file `fd`, now of group `group_now`, the owner, group,
// permission bits and ACL of the file it replaces: `old`, open at `old_fd`
// (an O_PATH descriptor will do). Kind::kOwnerNotKept when it cannot.
Status KeepOwnerAndPermissions(int fd, gid_t group_now, int old_fd, const struct stat& old,
                               const FolderFacts& folder, const std::string& path);

// "/proc/self/fd/<fd>": the file open at `fd`, for the calls that take a
// path, reached through the descriptor whatever became of its name.
std::string ThroughDescriptor(int fd);

}  // namespace pellamar::posix

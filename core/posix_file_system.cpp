// The file system on Linux and other POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <vector>

#include "core/file_system.h"

namespace pellamar {
namespace {

constexpr char kTemporaryPrefix[] = ".pellamar-";
constexpr char kTemporarySuffix[] = ".tmp";
constexpr char kAccessAcl[] = "system.posix_acl_access";
constexpr char kDefaultAcl[] = "system.posix_acl_default";

// The system's words for `error`, in lower case, untranslated whatever the
// locale, so that every report reads the same.
std::string SystemWords(int error) {
  const char* words = strerrordesc_np(error);
  std::string text = words != nullptr ? words : "error " + std::to_string(error);
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

Status ErrnoStatus(Status::Kind kind, const std::string& what, const std::string& path, int error) {
  if (kind == Status::Kind::kIoError && error == ENOENT) kind = Status::Kind::kNotFound;
  return Status::Error(kind, what + " " + path, SystemWords(error));
}

Status ErrnoStatus(const std::string& what, const std::string& path, int error) {
  return ErrnoStatus(Status::Kind::kIoError, what, path, error);
}

bool IsCardName(const char* name) {
  const std::size_t n = std::strlen(name);
  return name[0] != '.' && n > 4 && strncasecmp(name + n - 4, ".mcd", 4) == 0;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Closes a descriptor on every path out of a scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  // Takes over `fd`, closing the one held before.
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  ~FileDescriptor() { Close(); }

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

class PosixCardListing final : public CardListing {
 public:
  PosixCardListing(DIR* dir, std::string folder) : dir_(dir), folder_(std::move(folder)) {}
  ~PosixCardListing() override { Close(); }

  ListEntry Next() override {
    while (dir_ != nullptr) {
      errno = 0;
      const dirent* entry = readdir(dir_);
      if (entry == nullptr) {
        const int error = errno;
        Close();
        if (error == 0) return {ListEntry::Kind::kEnd, {}, {}};
        return {ListEntry::Kind::kError, {}, SystemWords(error)};
      }
      if (IsCardName(entry->d_name) && IsPlainFile(*entry)) {
        return {ListEntry::Kind::kName, entry->d_name, {}};
      }
    }
    return {ListEntry::Kind::kEnd, {}, {}};
  }

 private:
  // Regular files, and links that lead to one.
  bool IsPlainFile(const dirent& entry) const {
    if (entry.d_type == DT_REG) return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
    struct stat st;
    return fstatat(dirfd(dir_), entry.d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
  }

  void Close() {
    if (dir_ != nullptr) closedir(dir_);
    dir_ = nullptr;
  }

  DIR* dir_;
  std::string folder_;
};

class PosixCardFile final : public CardFile {
 public:
  PosixCardFile(int fd, const struct stat& info) : fd_(fd), info_(info) {}

  std::uint64_t Length() const override { return static_cast<std::uint64_t>(info_.st_size); }
  std::optional<std::int64_t> ModifiedTime() const override {
    return std::int64_t{info_.st_mtim.tv_sec} * 1'000'000'000 + info_.st_mtim.tv_nsec;
  }

  Status Read(std::span<std::uint8_t> out, std::size_t* got) override {
    for (;;) {
      const ssize_t n = read(fd_.get(), out.data(), out.size());
      if (n >= 0) {
        *got = static_cast<std::size_t>(n);
        return Status::Ok();
      }
      if (errno != EINTR) return ErrnoStatus(Status::Kind::kReadFailed, "cannot read", "", errno);
    }
  }

  bool IsSameFileAs(const CardFile& other) const override {
    const auto* opened = dynamic_cast<const PosixCardFile*>(&other);
    return opened != nullptr && opened->info_.st_dev == info_.st_dev &&
           opened->info_.st_ino == info_.st_ino;
  }

  int fd() const { return fd_.get(); }
  const struct stat& info() const { return info_; }

 private:
  FileDescriptor fd_;
  struct stat info_;
};

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

// The process's umask, read without changing it; 077 when it cannot be read.
mode_t ProcessUmask() {
  static const mode_t mask = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      unsigned value = 077;
      const std::size_t digits = line.find_first_of("01234567", 6);
      if (line.rfind("Umask:", 0) != 0 || digits == std::string::npos) continue;
      std::from_chars(line.data() + digits, line.data() + line.size(), value, 8);
      return static_cast<mode_t>(value);
    }
    return static_cast<mode_t>(077);
  }();
  return mask;
}

// Whether the open file or the path carries an access ACL beyond its mode
// bits (the system keeps none for an ACL that the mode bits say whole).
bool HasAccessAcl(int fd) { return fgetxattr(fd, kAccessAcl, nullptr, 0) > 0; }

// Eight hexadecimal digits that tell this machine, and the process-ID space
// that its runs' numbers belong to, from another that shares the folder.
const std::string& MachineToken() {
  static const std::string token = [] {
    std::array<char, 256> host{};
    gethostname(host.data(), host.size() - 1);
    std::array<char, 64> space{};
    const ssize_t n = readlink("/proc/self/ns/pid", space.data(), space.size() - 1);
    std::string text = std::string(host.data()) + "|" + std::string(space.data(), n > 0 ? n : 0);
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
    std::array<char, 9> hex{};
    std::snprintf(hex.data(), hex.size(), "%08x", hash);
    return std::string(hex.data());
  }();
  return token;
}

// Whether `name` is a temporary file of a replace that a run of this machine
// began and that is no longer running.
bool IsLeftover(std::string_view name) {
  const std::string_view prefix = kTemporaryPrefix;
  const std::string_view suffix = kTemporarySuffix;
  if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) ||
      !name.ends_with(suffix)) {
    return false;
  }
  name = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  const std::string& token = MachineToken();
  if (!name.starts_with(token) || name.size() <= token.size() || name[token.size()] != '-') {
    return false;
  }
  name.remove_prefix(token.size() + 1);
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (error != std::errc() || pid <= 0 || end == name.data() + name.size() || *end != '-') {
    return false;
  }
  return kill(pid, 0) != 0 && errno == ESRCH;
}

// What a signal that ends the program must remove: the temporary file of the
// replace under way. One per process; signal handlers can reach no other.
struct SignalCleanup {
  std::atomic<int> folder{-1};
  std::array<char, 96> name{};
};
SignalCleanup g_cleanup;

void OnEndingSignal(int signal_number) {
  const int folder = g_cleanup.folder.load();
  if (folder >= 0) unlinkat(folder, g_cleanup.name.data(), 0);
  // The handler was reset on entry: the signal, blocked until this returns,
  // then ends the program as it would have without it.
  raise(signal_number);
}

void ArmSignalCleanup(int folder, const std::string& name) {
  g_cleanup.folder.store(-1);
  const std::size_t n = std::min(name.size(), g_cleanup.name.size() - 1);
  std::memcpy(g_cleanup.name.data(), name.data(), n);
  g_cleanup.name[n] = '\0';
  g_cleanup.folder.store(folder);
}

void DisarmSignalCleanup() { g_cleanup.folder.store(-1); }

// A folder that targets are written into, opened once for a run.
struct Folder {
  std::string path;
  FileDescriptor fd;
  gid_t new_file_group = 0;  // the group a new file there gets
  bool default_acl = false;  // new files there inherit an ACL
};

class PosixPendingFile final : public PendingFile {
 public:
  // Readies the new file, still open, for a target found standing at commit.
  // `refused` is why the rename that replaces nothing failed.
  using TakeOver = std::function<Status(PosixPendingFile& pending, int refused)>;

  PosixPendingFile(std::shared_ptr<const Folder> folder, std::string temp_name, int fd,
                   std::string target_name)
      : folder_(std::move(folder)),
        temp_name_(std::move(temp_name)),
        fd_(fd),
        target_name_(std::move(target_name)) {}

  // Made for a target that was taken to be new: Commit puts it in place only
  // where nothing stands, and where something does, hands it to `take_over`
  // before replacing that.
  void ExpectNoTarget(TakeOver take_over) { take_over_ = std::move(take_over); }

  ~PosixPendingFile() override {
    if (committed_) return;
    fd_.Close();
    unlinkat(folder_->fd.get(), temp_name_.c_str(), 0);
    DisarmSignalCleanup();
  }

  Status Write(std::span<const ByteView> pieces) override {
    if (!WriteAll(fd_.get(), pieces)) return ErrnoStatus("cannot write", Target(), errno);
    return Status::Ok();
  }

  Status Commit() override {
    // A target found standing is given its permissions through the new file
    // still open: by its name, another user could swap it.
    const int kept = take_over_ ? dup(fd_.get()) : -1;
    if (take_over_ && kept < 0) return ErrnoStatus("cannot write", Target(), errno);
    if (!fd_.Close()) {
      const int error = errno;
      if (kept >= 0) close(kept);
      return ErrnoStatus("cannot write", Target(), error);
    }
    fd_.Reset(kept);
    const int folder = folder_->fd.get();
    const char* temp = temp_name_.c_str();
    const char* target = target_name_.c_str();
    if (take_over_) {
      if (renameat2(folder, temp, folder, target, RENAME_NOREPLACE) == 0) return Committed();
      // EINVAL: a file system that cannot rename on that condition.
      if (errno != EEXIST && errno != EINVAL) return ErrnoStatus("cannot replace", Target(), errno);
      const Status taken = take_over_(*this, errno);
      if (!taken.ok()) return taken;
    }
    if (renameat(folder, temp, folder, target) != 0) {
      return ErrnoStatus("cannot replace", Target(), errno);
    }
    return Committed();
  }

  // The new file, open for its permissions.
  int fd() const { return fd_.get(); }
  const Folder& folder() const { return *folder_; }
  const std::string& target_name() const { return target_name_; }
  std::string Target() const { return folder_->path + target_name_; }

 private:
  std::shared_ptr<const Folder> folder_;
  std::string temp_name_;
  FileDescriptor fd_;
  std::string target_name_;
  TakeOver take_over_;
  bool committed_ = false;

  Status Committed() {
    fd_.Close();
    committed_ = true;
    DisarmSignalCleanup();
    return Status::Ok();
  }
};

// Copies the access ACL of the file at `from` onto the open file `to`, and
// takes off one that `to` inherited where `from` has none. False, with errno
// set, when it cannot.
bool KeepAcl(const std::string& from, const PosixPendingFile& to) {
  std::array<char, 1024> small;
  std::vector<char> large;
  char* acl = small.data();
  ssize_t n = getxattr(from.c_str(), kAccessAcl, small.data(), small.size());
  if (n < 0 && errno == ERANGE) {
    n = getxattr(from.c_str(), kAccessAcl, nullptr, 0);
    if (n > 0) {
      large.resize(static_cast<std::size_t>(n));
      acl = large.data();
      n = getxattr(from.c_str(), kAccessAcl, acl, large.size());
    }
  }
  if (n > 0) return fsetxattr(to.fd(), kAccessAcl, acl, static_cast<std::size_t>(n), 0) == 0;
  if (n < 0 && errno != ENODATA && errno != ENOTSUP) return false;
  if (to.folder().default_acl && fremovexattr(to.fd(), kAccessAcl) != 0 && errno != ENODATA) {
    return false;
  }
  return true;
}

class PosixFileSystem final : public FileSystem {
 public:
  char Separator() const override { return '/'; }
  bool FoldsCase() const override { return false; }

  std::unique_ptr<CardListing> ListCards(const std::string& folder, Status* status) override {
    folder_.reset();  // a new run: its folder is opened afresh
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
      *status = ErrnoStatus("cannot list", folder, errno);
      return nullptr;
    }
    *status = Status::Ok();
    return std::make_unique<PosixCardListing>(dir, folder);
  }

  std::optional<std::uint64_t> FileLength(const std::string& path) override {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
  }

  std::unique_ptr<CardFile> OpenCard(const std::string& path, Status* status) override {
    // O_NONBLOCK: a card swapped for a pipe must not hang the run. The
    // folder, open for the run, spares a walk of the whole path per card.
    const std::size_t slash = path.rfind('/');
    Status ignored;
    const std::shared_ptr<const Folder> folder =
        slash == std::string::npos ? nullptr : FolderOf(path.substr(0, slash + 1), &ignored);
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    const int fd = folder ? openat(folder->fd.get(), path.c_str() + slash + 1, flags)
                          : open(path.c_str(), flags);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
      *status = ErrnoStatus("cannot open", path, errno);
      if (fd >= 0) close(fd);
      return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
      close(fd);
      *status = Status::Error(Status::Kind::kNotAFile, path + " is no file", "not a plain file");
      return nullptr;
    }
    return std::make_unique<PosixCardFile>(fd, st);
  }

  // A target is looked at before its new file is made, except where the
  // last target turned out new: then this one is taken to be new too, and
  // only a target found standing at commit is looked at. The first run in
  // a folder so spares a look-up per card.
  std::unique_ptr<PendingFile> BeginReplace(const std::string& path, const CardFile& card,
                                            Status* status) override {
    if (expect_new_) {
      if (std::unique_ptr<PendingFile> pending = BeginNew(path, card, status)) return pending;
      // Looked at, a target that must not be replaced says why itself.
      expect_new_ = false;
    }
    std::optional<Replacement> replacement = LookBeforeReplace(path, card, status);
    if (!replacement) return nullptr;
    const bool replacing = replacement->exists && S_ISREG(replacement->old.st_mode);
    const struct stat& old = replacement->old;
    const PosixCardFile& opened = *replacement->card;

    const mode_t mode = replacing ? old.st_mode & 0777 : NewFileMode(opened);
    std::unique_ptr<PosixPendingFile> pending =
        CreateTemporary(std::move(replacement->folder), replacement->name, mode, status);
    if (!pending) return nullptr;
    *status = replacing
                  ? KeepOwnerAndPermissions(*pending, path, old, pending->folder().new_file_group)
                  : GiveCardPermissions(*pending, opened, mode);
    if (!status->ok()) return nullptr;
    expect_new_ = !replacement->exists && new_only_works_;
    return pending;
  }

  Status CheckReplace(const std::string& path, const CardFile& card) override {
    Status status;
    const std::optional<Replacement> replacement = LookBeforeReplace(path, card, &status);
    if (!replacement) return status;
    // The new file is made in the folder; for root too, a folder on a
    // read-only mount takes none.
    if (faccessat(replacement->folder->fd.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
      return ErrnoStatus("cannot create a file beside", path, errno);
    }
    if (replacement->exists && S_ISREG(replacement->old.st_mode) &&
        !MayKeepOwner(*replacement->folder, replacement->old)) {
      return ErrnoStatus(Status::Kind::kOwnerNotKept, "cannot keep the owner of", path, EPERM);
    }
    return Status::Ok();
  }

  void RemoveLeftovers(const std::string& folder) override {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.' || !IsLeftover(entry->d_name)) continue;
      struct stat st;
      if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(st.st_mode)) {
        unlinkat(dirfd(dir), entry->d_name, 0);
      }
    }
    closedir(dir);
  }

 private:
  // The folder `path` ("" for the current one), opened once for the run.
  std::shared_ptr<const Folder> FolderOf(const std::string& path, Status* status) {
    if (folder_ && folder_->path == path) return folder_;
    auto folder = std::make_shared<Folder>();
    folder->path = path;
    folder->fd.Reset(open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (!folder->fd.valid() || fstat(folder->fd.get(), &st) != 0) {
      *status = ErrnoStatus("cannot open the folder", path, errno);
      return nullptr;
    }
    folder->new_file_group = (st.st_mode & S_ISGID) != 0 ? st.st_gid : getegid();
    folder->default_acl = getxattr(path.empty() ? "." : path.c_str(), kDefaultAcl, nullptr, 0) > 0;
    folder_ = std::move(folder);
    return folder_;
  }

  // Starts a new file for a target taken to be new: the card's permissions,
  // and whatever stands at `path` at commit handed to TakeOver.
  std::unique_ptr<PendingFile> BeginNew(const std::string& path, const CardFile& card,
                                        Status* status) {
    std::optional<Replacement> replacement = Locate(path, card, status);
    if (!replacement) return nullptr;
    const PosixCardFile* opened = replacement->card;
    const mode_t mode = NewFileMode(*opened);
    std::unique_ptr<PosixPendingFile> pending =
        CreateTemporary(std::move(replacement->folder), replacement->name, mode, status);
    if (!pending) return nullptr;
    *status = GiveCardPermissions(*pending, *opened, mode);
    if (!status->ok()) return nullptr;
    pending->ExpectNoTarget(
        [this, path, card_info = opened->info()](PosixPendingFile& taken, int refused) {
          return TakeOver(taken, refused, path, card_info);
        });
    return pending;
  }

  // For a new file whose target turned out to stand after all: refuses as
  // BeginReplace would have, and gives the new file what a replaced target
  // keeps.
  Status TakeOver(PosixPendingFile& pending, int refused, const std::string& path,
                  const struct stat& card_info) {
    expect_new_ = false;
    if (refused == EINVAL) new_only_works_ = false;
    struct stat old;
    Status status;
    const bool exists =
        LookAt(pending.folder(), pending.target_name(), card_info, path, &old, &status);
    if (!exists || !status.ok() || !S_ISREG(old.st_mode)) return status;
    struct stat now;
    if (fstat(pending.fd(), &now) != 0) return ErrnoStatus("cannot look at", path, errno);
    return KeepOwnerAndPermissions(pending, path, old, now.st_gid);
  }

  // What a replace of `path` starts from.
  struct Replacement {
    std::shared_ptr<const Folder> folder;
    std::string name;  // the bare name in `folder`
    bool exists = false;
    struct stat old {};  // what stands at `name`, when something does
    const PosixCardFile* card = nullptr;
  };

  // Where a replace of `path` with bytes of `card` writes: the card as this
  // file system opened it, the folder, open for the run, and the bare name.
  // Nothing at `path` is looked at yet.
  std::optional<Replacement> Locate(const std::string& path, const CardFile& card, Status* status) {
    Replacement replacement;
    replacement.card = dynamic_cast<const PosixCardFile*>(&card.Opened());
    if (replacement.card == nullptr) {
      *status = Status::Error(Status::Kind::kIoError, "the card was not opened here");
      return std::nullopt;
    }
    const std::size_t slash = path.rfind('/');
    replacement.name = slash == std::string::npos ? path : path.substr(slash + 1);
    replacement.folder =
        FolderOf(slash == std::string::npos ? std::string() : path.substr(0, slash + 1), status);
    if (!replacement.folder) return std::nullopt;
    return replacement;
  }

  // Looks at what stands at `path` before a replace with bytes of `card`;
  // nullopt, with `*status` saying why, when it must not be replaced.
  std::optional<Replacement> LookBeforeReplace(const std::string& path, const CardFile& card,
                                               Status* status) {
    std::optional<Replacement> replacement = Locate(path, card, status);
    if (!replacement) return std::nullopt;
    replacement->exists = LookAt(*replacement->folder, replacement->name, replacement->card->info(),
                                 path, &replacement->old, status);
    if (!status->ok()) return std::nullopt;
    return replacement;
  }

  // Whether something stands at `name` in `folder` (`path`), put in `*old`;
  // `*status` says why it must not be replaced by a target made from the
  // card `card`, or that it could not be looked at.
  static bool LookAt(const Folder& folder, const std::string& name, const struct stat& card,
                     const std::string& path, struct stat* old, Status* status) {
    const bool exists = fstatat(folder.fd.get(), name.c_str(), old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!exists && errno != ENOENT) {
      *status = ErrnoStatus("cannot look at", path, errno);
      return false;
    }
    *status = exists ? CheckReplaceable(folder, name, *old, card) : Status::Ok();
    return exists;
  }

  // Whether KeepOwnerAndPermissions may give a new file in `folder` the
  // owner and group of `old`: root may; anyone else only as its owner, and
  // for its group, as a member of it.
  static bool MayKeepOwner(const Folder& folder, const struct stat& old) {
    if (geteuid() == 0) return true;
    if (old.st_uid != geteuid()) return false;
    if (old.st_gid == folder.new_file_group || old.st_gid == getegid()) return true;
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
    const int got = getgroups(static_cast<int>(groups.size()), groups.data());
    return got > 0 &&
           std::find(groups.begin(), groups.begin() + got, old.st_gid) != groups.begin() + got;
  }

  // Why the existing entry `old` at `name` must not be replaced by a target
  // made from the card `card`, or Ok.
  static Status CheckReplaceable(const Folder& folder, const std::string& name,
                                 const struct stat& old, const struct stat& card) {
    const std::string path = folder.path + name;
    if (S_ISDIR(old.st_mode)) return Status::Error(Status::Kind::kIsFolder, path + " is a folder");
    struct stat through;
    if (SameFile(old, card) ||
        (S_ISLNK(old.st_mode) && fstatat(folder.fd.get(), name.c_str(), &through, 0) == 0 &&
         SameFile(through, card))) {
      return Status::Error(Status::Kind::kOwnTarget, path + " is the card itself");
    }
    if (S_ISLNK(old.st_mode)) return Status::Ok();  // the link is replaced, not what it leads to
    if (!S_ISREG(old.st_mode)) {
      return Status::Error(Status::Kind::kNotAFile, path + " is not a plain file");
    }
    if (!MayWrite(folder, name, old)) {
      return Status::Error(Status::Kind::kReadOnly, path + " is read-only");
    }
    return Status::Ok();
  }

  // Whether whoever runs the program may write the file: for root, who may
  // write anything, whether its owner-write bit is set.
  static bool MayWrite(const Folder& folder, const std::string& name, const struct stat& old) {
    if (geteuid() == 0) return (old.st_mode & S_IWUSR) != 0;
    return faccessat(folder.fd.get(), name.c_str(), W_OK, AT_EACCESS) == 0;
  }

  // The permissions a new file made from `card` gets: its read bits, and
  // write for its owner; owner read and write alone when an ACL says more
  // about who may read the card than its bits do.
  static mode_t NewFileMode(const PosixCardFile& card) {
    if (HasAccessAcl(card.fd())) return S_IRUSR | S_IWUSR;
    return (card.info().st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) | S_IWUSR;
  }

  // Creates a new hidden file that no listing returns in `folder`, named for
  // this machine and process so that a later run can tell whether it is
  // still being written.
  static std::unique_ptr<PosixPendingFile> CreateTemporary(std::shared_ptr<const Folder> folder,
                                                           const std::string& target_name,
                                                           mode_t mode, Status* status) {
    static std::atomic<unsigned> counter{0};
    static const std::string prefix =
        kTemporaryPrefix + MachineToken() + "-" + std::to_string(getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = prefix + std::to_string(counter++) + kTemporarySuffix;
      // Signals arrive as system calls return: the name must be known to
      // the signal handler before the file exists.
      ArmSignalCleanup(folder->fd.get(), name);
      const int fd =
          openat(folder->fd.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
      if (fd >= 0) {
        return std::make_unique<PosixPendingFile>(std::move(folder), std::move(name), fd,
                                                  target_name);
      }
      DisarmSignalCleanup();
      if (errno != EEXIST) break;
    }
    *status = ErrnoStatus("cannot create a file beside", folder->path + target_name, errno);
    return nullptr;
  }

  // Gives the new file, of group `group_now`, the owner, group, permissions
  // and ACL of the file `old` at `path` that it replaces.
  static Status KeepOwnerAndPermissions(const PosixPendingFile& pending, const std::string& path,
                                        const struct stat& old, gid_t group_now) {
    const auto fail = [&] {
      return ErrnoStatus(Status::Kind::kOwnerNotKept, "cannot keep the owner of", path, errno);
    };
    const bool owner_differs = old.st_uid != geteuid();
    if ((owner_differs || old.st_gid != group_now) &&
        fchown(pending.fd(), owner_differs ? old.st_uid : static_cast<uid_t>(-1), old.st_gid) !=
            0) {
      return fail();
    }
    if (!KeepAcl(path, pending)) return fail();
    // The umask, a change of owner or the ACL's mask may have narrowed them.
    if (fchmod(pending.fd(), old.st_mode & 0777) != 0) return fail();
    return Status::Ok();
  }

  // Keeps the card's group on a new file that its group may read, so that
  // the read bits mean the same people; where that is not allowed, no group
  // may read it. A new file never keeps an ACL it inherited.
  static Status GiveCardPermissions(const PosixPendingFile& pending, const PosixCardFile& card,
                                    mode_t mode) {
    mode &= ~ProcessUmask();
    bool set_mode = pending.folder().default_acl;
    if (pending.folder().default_acl && fremovexattr(pending.fd(), kAccessAcl) != 0 &&
        errno != ENODATA) {
      return ErrnoStatus("cannot set the permissions of", pending.Target(), errno);
    }
    const gid_t group = card.info().st_gid;
    if ((mode & S_IRGRP) != 0 && group != pending.folder().new_file_group &&
        fchown(pending.fd(), static_cast<uid_t>(-1), group) != 0) {
      mode &= ~S_IRGRP;
      set_mode = true;
    }
    if (set_mode && fchmod(pending.fd(), mode) != 0) {
      return ErrnoStatus("cannot set the permissions of", pending.Target(), errno);
    }
    return Status::Ok();
  }

  std::shared_ptr<const Folder> folder_;
  bool expect_new_ = false;     // the last target was new
  bool new_only_works_ = true;  // renames here can refuse to replace
};

}  // namespace

std::unique_ptr<FileSystem> NewPlatformFileSystem() { return std::make_unique<PosixFileSystem>(); }

void RemoveTemporaryFileOnSignals() {
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    if (sigaction(signal_number, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnEndingSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}

}  // namespace pellamar

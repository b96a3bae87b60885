// The file system on Linux and other POSIX systems: the listing of cards,
// opening a plain file and nothing else, looking at a target, the trash, and
// the leftovers. posix_replace makes the new file and puts it in place, and
// posix_permissions says who may read it.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "core/card_conversion.h"
#include "core/posix_permissions.h"
#include "core/posix_replace.h"
#include "core/posix_support.h"
#include "core/posix_trash.h"
#include "core/text.h"

namespace pellamar {

namespace posix {

std::string SystemWords(int error) {
  const char* words = strerrordesc_np(error);
  return AsciiLower(words != nullptr ? words : "error " + std::to_string(error));
}

Status ErrnoStatus(Status::Kind kind, const std::string& what, const std::string& path, int error) {
  if (kind == Status::Kind::kIoError && error == ENOENT) kind = Status::Kind::kNotFound;
  return Status::Error(kind, what + " " + path, SystemWords(error));
}

}  // namespace posix

namespace {

using posix::ErrnoStatus;
using posix::FileDescriptor;
using posix::Folder;
using posix::IdentityOf;
using posix::ThroughDescriptor;

// A bare name in a folder, as a path of the run names it; the name is the
// end of that path.
struct Place {
  const Folder* folder;
  const char* name;
};

class PosixCardListing final : public CardListing {
 public:
  explicit PosixCardListing(DIR* dir) : dir_(dir) {}
  ~PosixCardListing() override { Close(); }

  ListEntry Next() override {
    while (dir_ != nullptr) {
      errno = 0;
      const dirent* entry = readdir(dir_);
      if (entry == nullptr) {
        const int error = errno;
        Close();
        if (error == 0) return {ListEntry::Kind::kEnd, {}, {}};
        return {ListEntry::Kind::kError, {}, posix::SystemWords(error)};
      }
      if (IsCardName(entry->d_name) && IsPlainFile(*entry)) {
        return {ListEntry::Kind::kName, entry->d_name, {}};
      }
    }
    return {ListEntry::Kind::kEnd, {}, {}};
  }

 private:
  // Regular files, and links that lead to one: looked at, never opened.
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
};

class PosixCardFile final : public CardFile {
 public:
  PosixCardFile(int fd, const struct stat& info, bool through_link)
      : fd_(fd), info_(info), through_link_(through_link) {}

  std::uint64_t Length() const override { return static_cast<std::uint64_t>(info_.st_size); }
  std::optional<std::int64_t> ModifiedTime() const override {
    return std::int64_t{info_.st_mtim.tv_sec} * 1'000'000'000 + info_.st_mtim.tv_nsec;
  }
  std::optional<FileIdentity> Identity() const override { return IdentityOf(info_); }
  bool HasOtherNames() const override { return through_link_ || info_.st_nlink > 1; }

  Status Rewind() override {
    if (lseek(fd_.get(), 0, SEEK_SET) == 0) return Status::Ok();
    return ErrnoStatus(Status::Kind::kReadFailed, "cannot read", "", errno);
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

  posix::OpenedCard opened() const { return {fd_.get(), info_}; }

 private:
  FileDescriptor fd_;
  struct stat info_;
  bool through_link_;
};

// What tells this machine from another, and the space of its process
// numbers from that of a container beside it: the system's machine id
// (the host's name where there is none) and the process-number namespace.
std::string ReadMachineId() {
  std::string id;
  for (const char* file : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    if (std::getline(std::ifstream(file) >> std::ws, id) && !id.empty()) break;
  }
  if (id.empty()) {
    std::array<char, 256> host{};
    gethostname(host.data(), host.size() - 1);
    id = host.data();
  }
  std::array<char, 64> space{};
  const ssize_t n = readlink("/proc/self/ns/pid", space.data(), space.size() - 1);
  return id + "|" + std::string(space.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
}

class PosixFileSystem final : public FileSystem {
 public:
  char Separator() const override { return '/'; }
  bool FoldsCase() const override { return false; }

  std::unique_ptr<CardListing> ListCards(const std::string& folder, Status* status) override {
    folder_.reset();  // a new run: its folder is opened afresh
    const Folder* opened = FolderOf(folder, status);
    DIR* dir = opened ? OpenDir(*opened) : nullptr;
    if (dir == nullptr) {
      if (opened) *status = ErrnoStatus("cannot list", folder, errno);
      return nullptr;
    }
    *status = Status::Ok();
    return std::make_unique<PosixCardListing>(dir);
  }

  std::optional<std::uint64_t> FileLength(const std::string& path) override {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
  }

  // The name is first opened without opening what it leads to (O_PATH), and
  // only a plain file is then opened for reading, through that descriptor:
  // a device or a pipe put there meanwhile is never opened.
  std::unique_ptr<CardFile> OpenCard(const std::string& path, Status* status) override {
    const std::optional<Place> place = PlaceOf(path, status);
    if (!place) return nullptr;
    const int folder = place->folder->fd.get();
    FileDescriptor handle(openat(folder, place->name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    bool opened = handle.valid() && fstat(handle.get(), &st) == 0;
    const bool through_link = opened && S_ISLNK(st.st_mode);
    if (through_link) {
      handle.Reset(openat(folder, place->name, O_PATH | O_CLOEXEC));
      opened = handle.valid() && fstat(handle.get(), &st) == 0;
    }
    if (!opened) {
      *status = ErrnoStatus("cannot open", path, errno);
      return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
      *status = Status::Error(Status::Kind::kNotAFile, path + " is no file", "not a plain file");
      return nullptr;
    }
    const int fd = open(ThroughDescriptor(handle.get()).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      *status = ErrnoStatus("cannot open", path, errno);
      return nullptr;
    }
    return std::make_unique<PosixCardFile>(fd, st, through_link);
  }

  Status LookAt(const std::string& path, const CardFile& card, TargetLook* look) override {
    Status status;
    const std::optional<Place> place = PlaceOf(path, &status);
    if (!place) return status;
    const int folder = place->folder->fd.get();
    const char* name = place->name;
    struct stat old;
    *look = {};
    if (fstatat(folder, name, &old, AT_SYMLINK_NOFOLLOW) != 0) {
      return errno == ENOENT ? Status::Ok() : ErrnoStatus("cannot look at", path, errno);
    }
    look->identity = IdentityOf(old);
    const std::optional<FileIdentity> own = card.Opened().Identity();
    struct stat through;
    if (S_ISDIR(old.st_mode)) {
      look->kind = TargetLook::Kind::kFolder;
      return Status::Error(Status::Kind::kIsFolder, path + " is a folder");
    }
    if (SameFile(look->identity, own) ||
        (S_ISLNK(old.st_mode) && fstatat(folder, name, &through, 0) == 0 &&
         SameFile(IdentityOf(through), own))) {
      look->kind = S_ISLNK(old.st_mode) ? TargetLook::Kind::kLink : TargetLook::Kind::kFile;
      return Status::Error(Status::Kind::kOwnTarget, path + " is the card itself");
    }
    if (S_ISLNK(old.st_mode)) {
      look->kind = TargetLook::Kind::kLink;
      return Status::Ok();
    }
    if (!S_ISREG(old.st_mode)) {
      look->kind = TargetLook::Kind::kOther;
      return Status::Error(Status::Kind::kNotAFile, path + " is not a plain file");
    }
    look->kind = TargetLook::Kind::kFile;
    if (!MayWrite(folder, name, old)) {
      return Status::Error(Status::Kind::kReadOnly, path + " is read-only");
    }
    // The trash is reached by the file's whole path, which the system
    // holds to PATH_MAX.
    if (path.size() >= PATH_MAX) {
      return Status::Error(Status::Kind::kNotTrashed, "cannot move to the trash " + path,
                           "its path is longer than the trash can take");
    }
    const PosixCardFile* opened = OpenedHere(card, &status);
    if (opened == nullptr) return status;
    return posix::CheckKept(place->folder->facts, old, opened->opened().info, path);
  }

  // The new file is made in the folder; for root too, a folder on a
  // read-only mount takes none.
  Status CheckCreate(const std::string& path) override {
    Status status;
    const std::optional<Place> place = PlaceOf(path, &status);
    if (!place) return status;
    if (faccessat(place->folder->fd.get(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
      return ErrnoStatus("cannot create a file beside", path, errno);
    }
    return Status::Ok();
  }

  std::unique_ptr<PendingFile> CreateBeside(const std::string& path, const std::string& name,
                                            const TargetLook& look, const CardFile& card,
                                            Status* status) override {
    const PosixCardFile* opened = OpenedHere(card, status);
    const std::optional<Place> target = opened ? PlaceOf(path, status) : std::nullopt;
    if (!target) return nullptr;
    return posix::CreatePendingFile(folder_, target->name, name, look, opened->opened(), path,
                                    status);
  }

  std::string TrashName() const override { return "Trash"; }

  // The trash is reached by path, as its record of where a file came from
  // must be: first the path must still lead to the folder open for the run,
  // so that a folder swapped for a link meanwhile sends nothing else there.
  Status Trash(const std::string& path) override {
    Status status;
    const std::optional<Place> place = PlaceOf(path, &status);
    if (!place) return status;
    const std::string& folder = place->folder->path;
    struct stat now;
    if (stat(folder.empty() ? "." : folder.c_str(), &now) != 0 ||
        IdentityOf(now) != place->folder->identity) {
      return Status::Error(Status::Kind::kNotTrashed, "cannot move to the trash " + path,
                           "its folder was moved or replaced meanwhile");
    }
    return posix::MoveToTrash(path);
  }

  std::vector<std::string> ListNamesStartingWith(const std::string& folder,
                                                 const std::string& prefix) override {
    std::vector<std::string> names;
    Status ignored;
    const Folder* opened = FolderOf(folder, &ignored);
    DIR* dir = opened ? OpenDir(*opened) : nullptr;
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
      if (std::string_view(entry->d_name).starts_with(prefix)) names.emplace_back(entry->d_name);
    }
    closedir(dir);
    return names;
  }

  void RemoveFile(const std::string& path) override {
    Status ignored;
    const std::optional<Place> place = PlaceOf(path, &ignored);
    struct stat st;
    if (place && fstatat(place->folder->fd.get(), place->name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode)) {
      unlinkat(place->folder->fd.get(), place->name, 0);
    }
  }

  const std::string& MachineId() override {
    static const std::string id = ReadMachineId();
    return id;
  }

  std::uint64_t ProcessId() override { return static_cast<std::uint64_t>(getpid()); }

  bool IsProcessGone(std::uint64_t pid) override {
    if (pid > static_cast<std::uint64_t>(INT_MAX)) return false;  // no process of ours
    return kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
  }

 private:
  // The card as this file system opened it, or nullptr, with `*status`
  // saying so, for one that another opened.
  static const PosixCardFile* OpenedHere(const CardFile& card, Status* status) {
    const auto* opened = dynamic_cast<const PosixCardFile*>(&card.Opened());
    if (opened == nullptr) *status = Status::Error(Status::Kind::kIoError, "not opened here");
    return opened;
  }

  // The folder `path` ("" for the current one), opened once for the run.
  const Folder* FolderOf(std::string_view path, Status* status) {
    if (folder_ && folder_->path == path) return folder_.get();
    auto folder = std::make_shared<Folder>();
    folder->path = path;
    folder->fd.Reset(
        open(path.empty() ? "." : folder->path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (!folder->fd.valid() || fstat(folder->fd.get(), &st) != 0) {
      *status = ErrnoStatus("cannot open the folder", folder->path, errno);
      return nullptr;
    }
    folder->identity = IdentityOf(st);
    folder->facts = posix::FactsOf(folder->fd.get(), st);
    folder_ = std::move(folder);
    return folder_.get();
  }

  // The folder of `path`, open for the run, and the bare name in it.
  std::optional<Place> PlaceOf(const std::string& path, Status* status) {
    const std::size_t slash = path.rfind('/');
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    const Folder* folder = FolderOf(std::string_view(path).substr(0, name), status);
    if (folder == nullptr) return std::nullopt;
    return Place{folder, path.c_str() + name};
  }

  // A listing of `folder`, read through its descriptor.
  static DIR* OpenDir(const Folder& folder) {
    const int fd =
        open(ThroughDescriptor(folder.fd.get()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
    if (fd >= 0 && dir == nullptr) close(fd);
    return dir;
  }

  // Whether whoever runs the program may write the file: for root, who may
  // write anything, whether its owner-write bit is set.
  static bool MayWrite(int folder, const char* name, const struct stat& old) {
    if (geteuid() == 0) return (old.st_mode & S_IWUSR) != 0;
    return faccessat(folder, name, W_OK, AT_EACCESS) == 0;
  }

  std::shared_ptr<const Folder> folder_;
};

}  // namespace

std::unique_ptr<FileSystem> NewPlatformFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace pellamar

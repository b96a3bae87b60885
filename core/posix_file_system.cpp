// The file system on Linux and other POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "core/file_system.h"

namespace pellamar {
namespace {

Status ErrnoStatus(const std::string& what, const std::string& path, int error) {
  const Status::Kind kind = error == ENOENT ? Status::Kind::kNotFound : Status::Kind::kIoError;
  return Status::Error(kind, what + " " + path + ": " + std::strerror(error));
}

bool IsCardName(const char* name) {
  const std::size_t n = std::strlen(name);
  return name[0] != '.' && n > 4 && strncasecmp(name + n - 4, ".mcd", 4) == 0;
}

class PosixCardListing final : public CardListing {
 public:
  PosixCardListing(DIR* dir, std::string folder) : dir_(dir), folder_(std::move(folder)) {}
  ~PosixCardListing() override { Close(); }

  ListEntry Next() override {
    while (dir_ != nullptr) {
      errno = 0;
      const dirent* entry = readdir(dir_);
      if (entry == nullptr) {
        const bool failed = errno != 0;
        Close();
        return {failed ? ListEntry::Kind::kError : ListEntry::Kind::kEnd, {}};
      }
      if (IsCardName(entry->d_name) && IsPlainFile(*entry)) {
        return {ListEntry::Kind::kName, entry->d_name};
      }
    }
    return {ListEntry::Kind::kEnd, {}};
  }

 private:
  // Regular files, and links that lead to one.
  bool IsPlainFile(const dirent& entry) const {
    if (entry.d_type == DT_REG) return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return false;
    struct stat st;
    return stat((folder_ + entry.d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  void Close() {
    if (dir_ != nullptr) closedir(dir_);
    dir_ = nullptr;
  }

  DIR* dir_;
  std::string folder_;
};

// Closes a descriptor on every path out of a scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
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

// Writes the pieces in order with as few calls as the kernel allows.
bool WriteAll(int fd, std::span<const ByteView> pieces) {
  std::vector<iovec> vectors;
  for (ByteView piece : pieces) {
    if (!piece.empty()) vectors.push_back({const_cast<std::uint8_t*>(piece.data()), piece.size()});
  }
  std::span<iovec> left(vectors);
  while (!left.empty()) {
    const ssize_t n =
        writev(fd, left.data(), static_cast<int>(std::min<std::size_t>(left.size(), IOV_MAX)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
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

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The permissions a new file made from `model` gets: its read bits, and
// write for its owner, under the umask. Owner read and write only when
// `model` cannot be looked at.
mode_t NewFileMode(const std::string& model) {
  struct stat st;
  if (stat(model.c_str(), &st) != 0) return S_IRUSR | S_IWUSR;
  return (st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) | S_IWUSR;
}

// Creates a new hidden file beside `path` that no listing returns, and puts
// its name in `*temp_path`.
FileDescriptor CreateTemporaryBeside(const std::string& path, mode_t mode, std::string* temp_path) {
  static std::atomic<unsigned> counter{0};
  static const std::string process = std::to_string(getpid());  // O_EXCL settles any clash
  const std::string prefix = FolderOf(path) + ".pellamar-" + process + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temp_path = prefix + std::to_string(counter++) + ".tmp";
    const int fd = open(temp_path->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return FileDescriptor(fd);
  }
  return FileDescriptor(-1);
}

class PosixFileSystem final : public FileSystem {
 public:
  char Separator() const override { return '/'; }
  bool FoldsCase() const override { return false; }

  std::unique_ptr<CardListing> ListCards(const std::string& folder, Status* status) override {
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

  Status ReadWhole(const std::string& path, Bytes* out) override {
    // O_NONBLOCK: a card swapped for a pipe must not hang the run.
    FileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (!fd.valid() || fstat(fd.get(), &st) != 0) return ErrnoStatus("cannot open", path, errno);
    if (!S_ISREG(st.st_mode)) return Status::Error(Status::Kind::kIoError, path + " is no file");
    if (!MakeRoom(out, static_cast<std::uint64_t>(st.st_size))) {
      return Status::Error(Status::Kind::kIoError, path + " is too large to read");
    }
    std::size_t got = 0;
    while (got < out->size()) {
      const ssize_t n = read(fd.get(), out->data() + got, out->size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return ErrnoStatus("cannot read", path, errno);
      if (n == 0) return Status::Error(Status::Kind::kIoError, path + " ended early");
      got += static_cast<std::size_t>(n);
    }
    return Status::Ok();
  }

  Status ReplaceWhole(const std::string& path, std::span<const ByteView> pieces,
                      const std::string& model) override {
    struct stat old;
    const bool replacing = lstat(path.c_str(), &old) == 0 && !S_ISLNK(old.st_mode);
    if (replacing && (old.st_mode & S_IWUSR) == 0) {
      return Status::Error(Status::Kind::kReadOnly, path + " is read-only");
    }
    std::string temp_path;
    FileDescriptor fd = CreateTemporaryBeside(path, NewFileMode(model), &temp_path);
    if (!fd.valid()) return ErrnoStatus("cannot create a file beside", path, errno);
    if (replacing && fchmod(fd.get(), old.st_mode & 0777) != 0) {
      return Abandon(temp_path, "cannot keep the permissions of", path);
    }
    if (!WriteAll(fd.get(), pieces) || !fd.Close()) return Abandon(temp_path, "cannot write", path);
    if (rename(temp_path.c_str(), path.c_str()) != 0)
      return Abandon(temp_path, "cannot replace", path);
    return Status::Ok();
  }

 private:
  static Status Abandon(const std::string& temp_path, const std::string& what,
                        const std::string& path) {
    const int error = errno;
    unlink(temp_path.c_str());
    return ErrnoStatus(what, path, error);
  }
};

}  // namespace

std::unique_ptr<FileSystem> NewPlatformFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace pellamar

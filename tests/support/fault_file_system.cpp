#include "tests/support/fault_file_system.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>

#include <filesystem>
#else
#include <signal.h>
#include <sys/resource.h>
#endif

namespace pellamar::testing {
namespace {

class BreakingListing : public CardListing {
 public:
  BreakingListing(std::unique_ptr<CardListing> real, std::size_t names_left)
      : real_(std::move(real)), names_left_(names_left) {}

  ListEntry Next() override {
    if (broken_) return {ListEntry::Kind::kEnd, {}};
    if (names_left_ == 0) {
      broken_ = true;
      return {ListEntry::Kind::kError, {}};
    }
    ListEntry entry = real_->Next();
    if (entry.kind == ListEntry::Kind::kName) --names_left_;
    return entry;
  }

 private:
  std::unique_ptr<CardListing> real_;
  std::size_t names_left_;
  bool broken_ = false;
};

#ifdef _WIN32
// Holds the file open, as another program may, so that it cannot be
// replaced or removed while this lives.
class HeldOpen {
 public:
  explicit HeldOpen(const std::string& utf8_path) {
    const std::filesystem::path path(reinterpret_cast<const char8_t*>(utf8_path.c_str()));
    handle_ = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  ~HeldOpen() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};
#else
// Lowers the largest file this process may write for as long as it lives;
// writes past it fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

 private:
  rlimit saved_{};
};
#endif

}  // namespace

bool FaultFileSystem::Matches(const std::set<std::string>& names, const std::string& path) const {
  const std::size_t cut = path.rfind(real_.Separator());
  return names.count(cut == std::string::npos ? path : path.substr(cut + 1)) > 0;
}

std::unique_ptr<CardListing> FaultFileSystem::ListCards(const std::string& folder, Status* status) {
  std::unique_ptr<CardListing> real = real_.ListCards(folder, status);
  if (!real) return nullptr;
  return std::make_unique<BreakingListing>(std::move(real), break_listing_after_);
}

std::optional<std::uint64_t> FaultFileSystem::FileLength(const std::string& path) {
  return real_.FileLength(path);
}

Status FaultFileSystem::ReadWhole(const std::string& path, Bytes* out) {
  if (!Matches(failing_reads_, path)) return real_.ReadWhole(path, out);
  out->assign(out->size() + 7, 0xEE);
  return Status::Error(Status::Kind::kIoError, "injected read failure: " + path);
}

Status FaultFileSystem::ReplaceWhole(const std::string& path, std::span<const ByteView> pieces,
                                     const std::string& model) {
  if (!Matches(failing_writes_, path)) return real_.ReplaceWhole(path, pieces, model);
#ifndef _WIN32
  std::size_t size = 0;
  for (ByteView piece : pieces) size += piece.size();
  FileSizeLimit limit(size / 2);
  return real_.ReplaceWhole(path, pieces, model);
#else
  // The real replace runs and fails at its last step, where the target
  // cannot be replaced; a missing target has nothing to hold, so its
  // failure is only pretended.
  const HeldOpen target(path);
  if (!target.held()) return Status::Error(Status::Kind::kIoError, "injected write failure");
  return real_.ReplaceWhole(path, pieces, model);
#endif
}

}  // namespace pellamar::testing

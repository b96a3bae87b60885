#include "tests/support/fault_file_system.h"

#include <algorithm>

#ifndef _WIN32
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

#ifndef _WIN32
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

Status FaultFileSystem::ReplaceWhole(const std::string& path, std::span<const ByteView> pieces) {
  if (!Matches(failing_writes_, path)) return real_.ReplaceWhole(path, pieces);
#ifndef _WIN32
  std::size_t size = 0;
  for (ByteView piece : pieces) size += piece.size();
  FileSizeLimit limit(size / 2);
  return real_.ReplaceWhole(path, pieces);
#else
  return Status::Error(Status::Kind::kIoError, "injected write failure: " + path);
#endif
}

}  // namespace pellamar::testing

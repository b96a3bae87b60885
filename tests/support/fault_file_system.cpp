#include "tests/support/fault_file_system.h"

#include <algorithm>

#include "core/card_conversion.h"

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
    if (broken_) return {ListEntry::Kind::kEnd, {}, {}};
    if (names_left_ == 0) {
      broken_ = true;
      return {ListEntry::Kind::kError, {}, "injected listing failure"};
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

class FaultyCard : public CardFile {
 public:
  FaultyCard(std::unique_ptr<CardFile> real, ReadFault fault)
      : real_(std::move(real)), fault_(fault), left_(real_->Length() / 2) {}

  std::uint64_t Length() const override { return real_->Length(); }
  std::optional<std::int64_t> ModifiedTime() const override { return real_->ModifiedTime(); }
  std::optional<FileIdentity> Identity() const override { return real_->Identity(); }
  bool HasOtherNames() const override { return real_->HasOtherNames(); }
  const CardFile& Opened() const override { return real_->Opened(); }
  Status Rewind() override {
    left_ = real_->Length() / 2;
    return real_->Rewind();
  }

  Status Read(std::span<std::uint8_t> out, std::size_t* got) override {
    switch (fault_) {
      case ReadFault::kFail:
        std::fill(out.begin(), out.end(), 0xEE);  // the junk a broken read may leave
        return Status::Error(Status::Kind::kReadFailed, "injected", "injected read failure");
      case ReadFault::kTrickle:
        return real_->Read(out.first(std::min<std::size_t>(out.size(), 7)), got);
      case ReadFault::kEndEarly:
        break;
    }
    const Status status = real_->Read(out.first(std::min<std::uint64_t>(out.size(), left_)), got);
    left_ -= *got;
    return status;
  }

 private:
  std::unique_ptr<CardFile> real_;
  ReadFault fault_;
  std::uint64_t left_;  // for kEndEarly
};

// Writes pass through; the close fails, as a full disk may make it.
class FailingClose : public PendingFile {
 public:
  explicit FailingClose(std::unique_ptr<PendingFile> real) : real_(std::move(real)) {}
  Status Write(std::span<const ByteView> pieces) override { return real_->Write(pieces); }
  Status Close() override {
    return Status::Error(Status::Kind::kIoError, "injected", "input/output error");
  }
  Status Commit() override { return real_->Commit(); }
  std::optional<FileIdentity> Identity() const override { return std::nullopt; }

 private:
  std::unique_ptr<PendingFile> real_;
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

#ifdef _WIN32
// The real replace runs and fails at its last step, where the target,
// held open, cannot be replaced.
class HeldTarget : public PendingFile {
 public:
  HeldTarget(const std::string& path, std::unique_ptr<PendingFile> real)
      : target_(path), real_(std::move(real)) {}
  bool held() const { return target_.held(); }
  Status Write(std::span<const ByteView> pieces) override { return real_->Write(pieces); }
  Status Close() override { return real_->Close(); }
  Status Commit() override { return real_->Commit(); }
  std::optional<FileIdentity> Identity() const override { return real_->Identity(); }

 private:
  HeldOpen target_;
  std::unique_ptr<PendingFile> real_;
};
#else
// Writes pass through under a file size limit that stops them part-way.
class LimitedWrites : public PendingFile {
 public:
  explicit LimitedWrites(std::unique_ptr<PendingFile> real) : real_(std::move(real)) {}
  Status Write(std::span<const ByteView> pieces) override {
    const FileSizeLimit limit(kTargetHeaderSize / 2);
    return real_->Write(pieces);
  }
  Status Close() override { return real_->Close(); }
  Status Commit() override { return real_->Commit(); }
  std::optional<FileIdentity> Identity() const override { return real_->Identity(); }

 private:
  std::unique_ptr<PendingFile> real_;
};
#endif

}  // namespace

std::string ForwardingFileSystem::NameOf(const std::string& path) const {
  const std::size_t cut = path.rfind(real_.Separator());
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::unique_ptr<CardListing> FaultFileSystem::ListCards(const std::string& folder, Status* status) {
  std::unique_ptr<CardListing> listing = real().ListCards(folder, status);
  if (!listing) return nullptr;
  return std::make_unique<BreakingListing>(std::move(listing), break_listing_after_);
}

std::unique_ptr<CardFile> FaultFileSystem::OpenCard(const std::string& path, Status* status) {
  std::unique_ptr<CardFile> card = real().OpenCard(path, status);
  const auto fault = read_faults_.find(NameOf(path));
  if (!card || fault == read_faults_.end()) return card;
  return std::make_unique<FaultyCard>(std::move(card), fault->second);
}

Status FaultFileSystem::Trash(const std::string& path) {
  if (failing_trash_.count(NameOf(path)) == 0) return real().Trash(path);
  return Status::Error(Status::Kind::kNotTrashed, "injected", "injected trash failure");
}

std::unique_ptr<PendingFile> FaultFileSystem::CreateBeside(const std::string& path,
                                                           const std::string& temporary,
                                                           const TargetLook& look,
                                                           const CardFile& card, Status* status) {
  const std::string name = NameOf(path);
  std::unique_ptr<PendingFile> pending = real().CreateBeside(path, temporary, look, card, status);
  if (!pending) return nullptr;
  if (failing_closes_.count(name) > 0) return std::make_unique<FailingClose>(std::move(pending));
  if (failing_writes_.count(name) == 0) return pending;
#ifdef _WIN32
  auto held = std::make_unique<HeldTarget>(path, std::move(pending));
  if (!held->held()) {
    // A missing target has nothing to hold, so its failure is only pretended.
    *status = Status::Error(Status::Kind::kIoError, "injected", "injected write failure");
    return nullptr;
  }
  return held;
#else
  return std::make_unique<LimitedWrites>(std::move(pending));
#endif
}

}  // namespace pellamar::testing

// File systems for fault tests. ForwardingFileSystem hands every call to a
// real file system; a double derived from it overrides only the calls it
// breaks. FaultFileSystem has switches that make chosen calls fail the way
// a real disk or folder fails.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>

#include "core/file_system.h"

namespace pellamar::testing {

class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& real) : real_(real) {}

  char Separator() const override { return real_.Separator(); }
  bool FoldsCase() const override { return real_.FoldsCase(); }
  std::unique_ptr<CardListing> ListCards(const std::string& folder, Status* status) override {
    return real_.ListCards(folder, status);
  }
  std::optional<std::uint64_t> FileLength(const std::string& path) override {
    return real_.FileLength(path);
  }
  std::unique_ptr<CardFile> OpenCard(const std::string& path, Status* status) override {
    return real_.OpenCard(path, status);
  }
  Status LookAt(const std::string& path, const CardFile& card, TargetLook* look) override {
    return real_.LookAt(path, card, look);
  }
  Status CheckCreate(const std::string& path) override { return real_.CheckCreate(path); }
  std::unique_ptr<PendingFile> CreateBeside(const std::string& path, const std::string& name,
                                            const TargetLook& look, const CardFile& card,
                                            Status* status) override {
    return real_.CreateBeside(path, name, look, card, status);
  }
  std::string TrashName() const override { return real_.TrashName(); }
  Status Trash(const std::string& path) override { return real_.Trash(path); }
  std::vector<std::string> ListNamesStartingWith(const std::string& folder,
                                                 const std::string& prefix) override {
    return real_.ListNamesStartingWith(folder, prefix);
  }
  void RemoveFile(const std::string& path) override { real_.RemoveFile(path); }
  const std::string& MachineId() override { return real_.MachineId(); }
  std::uint64_t ProcessId() override { return real_.ProcessId(); }
  bool IsProcessGone(std::uint64_t pid) override { return real_.IsProcessGone(pid); }

 protected:
  FileSystem& real() { return real_; }
  // The bare name at the end of `path`.
  std::string NameOf(const std::string& path) const;

 private:
  FileSystem& real_;
};

// How reads of a card go wrong.
enum class ReadFault {
  kFail,      // the first read fails
  kEndEarly,  // the card ends halfway, as if it shrank while it was read
  kTrickle,   // each read returns only a few bytes, as a pipe or a network may
};

class FaultFileSystem : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;

  // Writes of the target with this bare name fail inside the real file
  // system, so its real clean-up runs: on POSIX a file size limit stops the
  // write part-way; on Windows the existing target is held open so that it
  // cannot be replaced.
  void FailWritesOf(const std::string& name) { failing_writes_.insert(name); }
  // The target with this bare name is written whole, but closing it fails,
  // so it is never put in place.
  void FailClosesOf(const std::string& name) { failing_closes_.insert(name); }
  void BreakReadsOf(const std::string& name, ReadFault fault) { read_faults_[name] = fault; }
  // The listing breaks after returning this many names.
  void BreakListingAfter(std::size_t names) { break_listing_after_ = names; }
  // No trash can keep the file with this bare name.
  void FailTrashOf(const std::string& name) { failing_trash_.insert(name); }
  Status Trash(const std::string& path) override;
  std::unique_ptr<CardListing> ListCards(const std::string& folder, Status* status) override;
  std::unique_ptr<CardFile> OpenCard(const std::string& path, Status* status) override;
  std::unique_ptr<PendingFile> CreateBeside(const std::string& path, const std::string& name,
                                            const TargetLook& look, const CardFile& card,
                                            Status* status) override;

 private:
  std::set<std::string> failing_writes_;
  std::set<std::string> failing_closes_;
  std::set<std::string> failing_trash_;
  std::map<std::string, ReadFault> read_faults_;
  std::size_t break_listing_after_ = static_cast<std::size_t>(-1);
};

}  // namespace pellamar::testing

// A file system for fault tests: it forwards every call to a real one, and
// its switches make chosen calls fail the way a real disk or folder fails.
#pragma once

#include <cstddef>
#include <set>
#include <string>

#include "core/file_system.h"

namespace pellamar::testing {

class FaultFileSystem : public FileSystem {
 public:
  explicit FaultFileSystem(FileSystem& real) : real_(real) {}

  // Writes of the target with this bare name fail inside the real file
  // system, so its real clean-up runs: on POSIX a file size limit stops the
  // write part-way; on Windows the existing target is held open so that it
  // cannot be replaced.
  void FailWritesOf(const std::string& name) { failing_writes_.insert(name); }
  // Reads of the card with this bare name fail after its length was read;
  // the buffer is left holding junk, as a broken read may leave it.
  void FailReadsOf(const std::string& name) { failing_reads_.insert(name); }
  // The listing breaks after returning this many names.
  void BreakListingAfter(std::size_t names) { break_listing_after_ = names; }

  char Separator() const override { return real_.Separator(); }
  bool FoldsCase() const override { return real_.FoldsCase(); }
  std::unique_ptr<CardListing> ListCards(const std::string& folder, Status* status) override;
  std::optional<std::uint64_t> FileLength(const std::string& path) override;
  Status ReadWhole(const std::string& path, Bytes* out) override;
  Status ReplaceWhole(const std::string& path, std::span<const ByteView> pieces,
                      const std::string& model) override;

 private:
  bool Matches(const std::set<std::string>& names, const std::string& path) const;

  FileSystem& real_;
  std::set<std::string> failing_writes_;
  std::set<std::string> failing_reads_;
  std::size_t break_listing_after_ = static_cast<std::size_t>(-1);
};

}  // namespace pellamar::testing

// How a target is replaced: its bytes go to a new hidden file beside it,
// named for this machine and process, which is then put in its place in one
// step; a run that dies leaves that file behind, and a later run of the same
// machine removes it once that process is gone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/file_system.h"

namespace pellamar {

// Eight hexadecimal digits made from a machine's id (FileSystem::MachineId),
// so that runs of two machines that share a folder name their files apart.
std::string MachineToken(std::string_view machine_id);

// ".pellamar-<token>-<pid>-<n>.tmp": a hidden name that no listing of cards
// returns, on Windows not even through a short name.
std::string TemporaryName(std::string_view token, std::uint64_t pid, std::uint64_t n);

// The machine token and process number of a TemporaryName; nullopt for any
// other name.
struct TemporaryNameParts {
  std::string token;
  std::uint64_t pid = 0;
};
std::optional<TemporaryNameParts> ParseTemporaryName(std::string_view name);

// Whether `name` is a file that a run of the machine of `token` left behind
// when it died: one of its temporary names whose process `is_gone` says has
// ended. Files of other machines, and of live runs, are never leftovers.
bool IsLeftover(std::string_view name, std::string_view token,
                const std::function<bool(std::uint64_t)>& is_gone);

// Replaces targets through one file system: each new file gets the next
// TemporaryName of this process.
class Replacer {
 public:
  explicit Replacer(FileSystem& fs);

  FileSystem& fs() const { return fs_; }

  // Starts the replace of the target at `path`, where `look` found what
  // stands, with bytes made from `card`. nullptr, with `*status` saying why,
  // when the new file cannot be made (Kind::kChanged: another file took the
  // place of the one looked at); nothing is then left behind.
  std::unique_ptr<PendingFile> Begin(const std::string& path, const TargetLook& look,
                                     const CardFile& card, Status* status);

 private:
  FileSystem& fs_;
  std::string prefix_;  // of this process's names, up to the counter
};

// Removes from `folder` the leftovers of this machine's runs. Failures are
// passed over.
void RemoveLeftovers(FileSystem& fs, const std::string& folder);

}  // namespace pellamar

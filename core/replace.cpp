#include "core/replace.h"

#include <atomic>
#include <charconv>

#include "core/text.h"

namespace pellamar {
namespace {

constexpr std::string_view kPrefix = ".pellamar-";
constexpr std::string_view kSuffix = ".tmp";
constexpr std::size_t kTokenDigits = 8;

// Reads a decimal number that ends where `text` does or at `end`; nullopt
// for anything else.
std::optional<std::uint64_t> NumberUpTo(std::string_view text, char end, std::string_view* rest) {
  std::uint64_t value = 0;
  const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || stop == text.data() || stop == text.data() + text.size() ||
      *stop != end) {
    return std::nullopt;
  }
  *rest = text.substr(static_cast<std::size_t>(stop - text.data()) + 1);
  return value;
}

// The start of the names of the process `pid` of the machine of `token`.
std::string NamePrefix(std::string_view token, std::uint64_t pid) {
  return std::string(kPrefix) + std::string(token) + "-" + std::to_string(pid) + "-";
}

// The `n`th name that starts with `prefix`.
std::string NumberedName(std::string name_prefix, std::uint64_t n) {
  name_prefix += std::to_string(n);
  name_prefix += kSuffix;
  return name_prefix;
}

}  // namespace

std::string MachineToken(std::string_view machine_id) {
  std::uint32_t hash = 2166136261u;  // FNV-1a
  for (const char c : machine_id) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return AsciiLower(Hex(hash, kTokenDigits));
}

std::string TemporaryName(std::string_view token, std::uint64_t pid, std::uint64_t n) {
  return NumberedName(NamePrefix(token, pid), n);
}

std::optional<TemporaryNameParts> ParseTemporaryName(std::string_view name) {
  if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) return std::nullopt;
  name = name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  if (name.size() <= kTokenDigits || name[kTokenDigits] != '-') return std::nullopt;
  TemporaryNameParts parts{std::string(name.substr(0, kTokenDigits)), 0};
  std::string_view rest = name.substr(kTokenDigits + 1);
  const std::optional<std::uint64_t> pid = NumberUpTo(rest, '-', &rest);
  std::uint64_t n = 0;
  const auto [stop, error] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
  if (!pid || *pid == 0 || error != std::errc() || stop != rest.data() + rest.size()) {
    return std::nullopt;
  }
  parts.pid = *pid;
  return parts;
}

bool IsLeftover(std::string_view name, std::string_view token,
                const std::function<bool(std::uint64_t)>& is_gone) {
  const std::optional<TemporaryNameParts> parts = ParseTemporaryName(name);
  return parts && parts->token == token && is_gone(parts->pid);
}

Replacer::Replacer(FileSystem& fs)
    : fs_(fs), prefix_(NamePrefix(MachineToken(fs.MachineId()), fs.ProcessId())) {}

std::unique_ptr<PendingFile> Replacer::Begin(const std::string& path, const TargetLook& look,
                                             const CardFile& card, Status* status) {
  // One counter for the whole process, so that no two replaces, in one
  // folder or in two, ever try the same name.
  static std::atomic<std::uint64_t> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = NumberedName(prefix_, counter++);
    std::unique_ptr<PendingFile> pending = fs_.CreateBeside(path, name, look, card, status);
    if (pending || status->kind() != Status::Kind::kExists) return pending;
  }
  return nullptr;
}

void RemoveLeftovers(FileSystem& fs, const std::string& folder) {
  const std::string token = MachineToken(fs.MachineId());
  const auto is_gone = [&fs](std::uint64_t pid) { return fs.IsProcessGone(pid); };
  for (const std::string& name : fs.ListNamesStartingWith(folder, std::string(kPrefix))) {
    if (IsLeftover(name, token, is_gone)) fs.RemoveFile(folder + name);
  }
}

}  // namespace pellamar

#include "core/wide_text.h"

#include <windows.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace pellamar {

std::wstring Widen(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), n);
  return wide;
}

// A listed name with an unpaired surrogate comes out with U+FFFD in its
// place, so it no longer names the file, and the run reports it unreadable.
std::string Narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string text(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
  return text;
}

namespace {

constexpr std::wstring_view kLongPrefix = LR"(\\?\)";
constexpr std::wstring_view kLongSharePrefix = LR"(\\?\UNC\)";

// GetFullPathNameW of `path`; "" when it fails.
std::wstring FullPathName(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (n >= full.size()) {
    full.resize(n);
    n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  }
  if (n == 0 || n >= full.size()) return {};
  full.resize(n);
  return full;
}

// An absolute path split where its names begin: the long form of its root,
// ending in "\", and the rest.
struct Rooted {
  std::wstring root;
  std::wstring_view names;
};

// A share's path after its "\\": "server\share\names". The share is the
// root, as ".." cannot leave it.
Rooted ShareRoot(std::wstring_view path) {
  const std::size_t server_end = std::min(path.find(L'\\'), path.size());
  const std::size_t share_end = std::min(path.find(L'\\', server_end + 1), path.size());
  return {std::wstring(kLongSharePrefix).append(path.substr(0, share_end)) + L'\\',
          path.substr(std::min(share_end + 1, path.size()))};
}

// `path` (with "\" between names) split so, or nullopt when it is relative
// to the current folder ("cards\"), to that of a drive ("C:cards\") or to
// the current drive ("\cards\").
std::optional<Rooted> SplitRoot(std::wstring_view path) {
  if (path.starts_with(kLongSharePrefix)) return ShareRoot(path.substr(kLongSharePrefix.size()));
  if (path.starts_with(kLongPrefix)) path.remove_prefix(kLongPrefix.size());
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') {
    return Rooted{std::wstring(kLongPrefix).append(path.substr(0, 3)), path.substr(3)};
  }
  if (path.starts_with(LR"(\\)")) return ShareRoot(path.substr(2));
  return std::nullopt;
}

// `names` after `root`, each as it is but "." (left out) and ".." (which
// takes the name before it away), one "\" between two.
std::wstring Joined(std::wstring root, std::wstring_view names) {
  std::vector<std::wstring_view> kept;
  while (!names.empty()) {
    const std::size_t end = std::min(names.find(L'\\'), names.size());
    const std::wstring_view name = names.substr(0, end);
    names.remove_prefix(std::min(end + 1, names.size()));
    if (name == L"..") {
      if (!kept.empty()) kept.pop_back();
    } else if (!name.empty() && name != L".") {
      kept.push_back(name);
    }
  }
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) root += L'\\';
    root += kept[i];
  }
  return root;
}

}  // namespace

// GetFullPathNameW would do it all, but it also drops the dots and spaces
// that end a name and turns a name such as "CON.mcd" into a device. Here
// the system gives only what the path leaves out, the current folder or
// drive; every name is the path's own.
std::wstring ExtendedPath(std::string_view path) {
  std::wstring wide = Widen(path);
  if (wide.empty() || wide.starts_with(kLongPrefix)) return wide;
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  // The long form written with "/", and a device.
  if (wide.starts_with(kLongPrefix) || wide.starts_with(LR"(\\.\)")) return wide;
  std::wstring absolute = wide;
  if (!SplitRoot(wide)) {
    const bool on_drive = wide.size() >= 2 && wide[1] == L':';
    const std::size_t start = on_drive ? 2 : wide.starts_with(L'\\') ? 1 : 0;
    absolute = FullPathName(start > 0 ? wide.substr(0, start) : L".") + L'\\' + wide.substr(start);
  }
  const std::optional<Rooted> rooted = SplitRoot(absolute);
  if (!rooted) return wide;
  std::wstring extended = Joined(rooted->root, rooted->names);
  if (wide.back() == L'\\' && extended.back() != L'\\') extended += L'\\';
  return extended;
}

std::wstring LongPathFrom(const std::wstring& folder, std::wstring_view relative) {
  const std::optional<Rooted> rooted = SplitRoot(folder);
  if (!rooted) return {};
  if (relative.starts_with(L'\\')) return Joined(rooted->root, relative);
  return Joined(rooted->root, std::wstring(rooted->names) + L'\\' + std::wstring(relative));
}

}  // namespace pellamar

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "core/card_conversion.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace pellamar::testing {
namespace fs = std::filesystem;
namespace {

// Paths go to the file system seam as UTF-8, on Windows too.
std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// A test's name for a file: UTF-8 on Windows, where a narrow path would be
// read in the ANSI code page; bytes as they are elsewhere.
fs::path Named(const std::string& name) {
#ifdef _WIN32
  return fs::path(std::u8string(name.begin(), name.end()));
#else
  return fs::path(name);
#endif
}

// On Windows, `path` in the long form, in which every name is taken as it is
// ("a.mcd." keeps its dot); elsewhere `path` itself.
fs::path Exact(const fs::path& path) {
#ifdef _WIN32
  return L"\\\\?\\" + fs::path(path).make_preferred().wstring();
#else
  return path;
#endif
}

#ifdef _WIN32
// Removes the folder `path` (in the long form) and all in it, read-only
// files too. A link is removed itself, never followed. (std::filesystem
// cannot remove a folder named "dot.".)
void RemoveExactly(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
  for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &entry)) {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring inner = path + L"\\" + name;
    SetFileAttributesW(inner.c_str(), FILE_ATTRIBUTE_NORMAL);
    const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!folder) {
      DeleteFileW(inner.c_str());
    } else if (link) {
      RemoveDirectoryW(inner.c_str());
    } else {
      RemoveExactly(inner);
    }
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  RemoveDirectoryW(path.c_str());
}
#endif

// `text` with each "%XX" of the trash's URL encoding made its byte again.
std::string Unescaped(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      bytes += text[i];
    }
  }
  return bytes;
}

#ifdef _WIN32
// Wine's names for a path on both sides: what the trash writes for a
// Windows path, and the Windows path of the trash's own folder.
std::string UnixPathOf(const std::string& path) {
  using ToUnix = char*(__cdecl*)(const wchar_t*);
  const auto to_unix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* unix_path = to_unix != nullptr ? to_unix(Named(path).c_str()) : nullptr;
  const std::string text = unix_path != nullptr ? unix_path : "";
  if (unix_path != nullptr) HeapFree(GetProcessHeap(), 0, unix_path);
  return text;
}
fs::path TrashFolder(const char* unix_path) {
  using ToDos = wchar_t*(__cdecl*)(const char*);
  const auto to_dos = reinterpret_cast<ToDos>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  wchar_t* dos = to_dos != nullptr ? to_dos((std::string(unix_path) + "/Trash").c_str()) : nullptr;
  const fs::path folder = dos != nullptr ? fs::path(dos) : fs::path();
  if (dos != nullptr) HeapFree(GetProcessHeap(), 0, dos);
  return folder;
}
#else
std::string UnixPathOf(const std::string& path) { return path; }
fs::path TrashFolder(const char* unix_path) { return fs::path(unix_path) / "Trash"; }
#endif

}  // namespace

TempFolder::TempFolder() {
  std::random_device random;
  do {  // a folder of its own, never one another test already holds
    path_ = fs::temp_directory_path() / ("pellamar-test-" + std::to_string(random()));
  } while (!fs::create_directory(path_));
}

TempFolder::~TempFolder() {
#ifdef _WIN32
  RemoveExactly(Exact(path_).wstring());
#else
  std::error_code ignored;
  // Give back write permission that a test took away, so removal succeeds.
  fs::recursive_directory_iterator entry(path_, ignored);
  for (; !ignored && entry != fs::recursive_directory_iterator(); entry.increment(ignored)) {
    fs::permissions(entry->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
#endif
}

std::string TempFolder::Folder() const { return Utf8(path_ / ""); }

std::string TempFolder::operator/(const std::string& name) const {
  return Utf8(path_ / Named(name));
}

void TempFolder::Write(const std::string& name, const Bytes& bytes) const {
  std::ofstream out(Exact(path_ / Named(name)), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << (path_ / name);
}

Bytes TempFolder::Read(const std::string& name) const {
  std::ifstream in(Exact(path_ / Named(name)), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempFolder::Exists(const std::string& name) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(Exact(path_ / Named(name)), ignored));
}

std::vector<std::string> TempFolder::Names() const { return NamesIn(path_); }

std::vector<std::string> TempFolder::NamesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

Bytes PatternBytes(std::size_t length, std::uint8_t seed) {
  Bytes bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i + seed);
  return bytes;
}

fs::path HomeTrash() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != '\0') {
    return fs::path(data) / "Trash";
  }
  const char* home = std::getenv("HOME");
  return fs::path(home != nullptr ? home : "") / ".local/share/Trash";
}

Bytes CardBytes(std::uint8_t seed) { return PatternBytes(kMemoryCardSize, seed); }

Bytes RealCard(const std::string& name) {
  std::ifstream in(fs::path(PELLAMAR_TEST_DATA_DIR) / name, std::ios::binary);
  EXPECT_TRUE(in.good()) << "missing test card " << name;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Bytes> TrashedCopiesOf(const std::string& path) {
  std::vector<Bytes> copies;
  const char* data_home = std::getenv("XDG_DATA_HOME");
  const std::string unix_path = UnixPathOf(path);
  EXPECT_TRUE(data_home != nullptr && !unix_path.empty()) << "no trash to look in";
  if (data_home == nullptr || unix_path.empty()) return copies;
  const fs::path trash = TrashFolder(data_home);
  std::error_code ignored;
  for (const auto& info : fs::directory_iterator(trash / "info", ignored)) {
    std::ifstream in(info.path());
    bool named = false;
    bool dated = false;
    for (std::string line; std::getline(in, line);) {
      named = named || (line.starts_with("Path=") && Unescaped(line.substr(5)) == unix_path);
      // "DeletionDate=YYYY-MM-DDThh:mm:ss"
      dated = dated || (line.starts_with("DeletionDate=") && line.size() == 32 && line[23] == 'T');
    }
    if (!named || !dated) continue;
    std::ifstream file(trash / "files" / info.path().stem(), std::ios::binary);
    copies.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  return copies;
}

std::vector<std::string> ListedCards(FileSystem& fs, const std::string& folder) {
  Status status;
  std::unique_ptr<CardListing> listing = fs.ListCards(folder, &status);
  EXPECT_TRUE(status.ok()) << status.message();
  std::vector<std::string> names;
  if (!listing) return names;
  ListEntry entry = listing->Next();
  for (; entry.kind == ListEntry::Kind::kName; entry = listing->Next()) names.push_back(entry.name);
  EXPECT_EQ(entry.kind, ListEntry::Kind::kEnd);
  EXPECT_EQ(listing->Next().kind, ListEntry::Kind::kEnd);
  std::sort(names.begin(), names.end());
  return names;
}

Status ConvertOne(FileSystem& fs, const std::string& card, const std::string& target) {
  Status status;
  const std::unique_ptr<CardFile> opened = ReadCard(fs, card, &status);
  if (!opened) return status;
  TargetLook look;
  status = fs.LookAt(target, *opened, &look);
  if (!status.ok()) return status;
  std::vector<std::uint8_t> buffer(kCopyPieceSize);
  Replacer replacer(fs);
  Written written;
  return WriteCard(replacer, target, look, ConvertCard(BuildTargetHeader(), *opened), buffer,
                   &written);
}

}  // namespace pellamar::testing

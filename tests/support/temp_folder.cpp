#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

#include "core/card_conversion.h"

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

}  // namespace

TempFolder::TempFolder() {
  std::random_device random;
  do {  // a folder of its own, never one another test already holds
    path_ = fs::temp_directory_path() / ("pellamar-test-" + std::to_string(random()));
  } while (!fs::create_directory(path_));
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  // Give back write permission that a test took away, so removal succeeds.
  fs::recursive_directory_iterator entry(path_, ignored);
  for (; !ignored && entry != fs::recursive_directory_iterator(); entry.increment(ignored)) {
    fs::permissions(entry->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::remove_all(path_, ignored);
}

std::string TempFolder::Folder() const { return Utf8(path_ / ""); }

std::string TempFolder::operator/(const std::string& name) const {
  return Utf8(path_ / Named(name));
}

void TempFolder::Write(const std::string& name, const Bytes& bytes) const {
  std::ofstream out(path_ / Named(name), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write " << (path_ / name);
}

Bytes TempFolder::Read(const std::string& name) const {
  std::ifstream in(path_ / Named(name), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempFolder::Exists(const std::string& name) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path_ / Named(name), ignored));
}

std::vector<std::string> TempFolder::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path_)) {
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

Bytes CardBytes(std::uint8_t seed) { return PatternBytes(kMemoryCardSize, seed); }

Bytes RealCard(const std::string& name) {
  std::ifstream in(fs::path(PELLAMAR_TEST_DATA_DIR) / name, std::ios::binary);
  EXPECT_TRUE(in.good()) << "missing test card " << name;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

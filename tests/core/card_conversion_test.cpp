// The target card's bytes and name, and writing it over what was there.
#include "core/card_conversion.h"

#include <gtest/gtest.h>

#include "core/replace.h"

#include "tests/support/expected_target.h"
#include "tests/support/temp_folder.h"

namespace pellamar {
namespace {

using testing::ExpectedTarget;
using testing::PatternBytes;
using testing::RealCard;
using testing::TempFolder;

// The target that WriteCard makes of `card`, copied through a buffer of
// `buffer_size` bytes.
Bytes Converted(const Bytes& card, std::size_t buffer_size = kCopyPieceSize) {
  TempFolder folder;
  folder.Write("a.mcd", card);
  const std::unique_ptr<FileSystem> fs = NewPlatformFileSystem();
  Status status;
  const std::unique_ptr<CardFile> opened = ReadCard(*fs, folder / "a.mcd", &status);
  EXPECT_TRUE(opened) << status.message();
  if (!opened) return {};
  Replacer replacer(*fs);
  std::vector<std::uint8_t> buffer(buffer_size);
  Written written;
  status = WriteCard(replacer, folder / "a.mem", TargetLook{},
                     ConvertCard(BuildTargetHeader(), *opened), buffer, &written);
  EXPECT_TRUE(status.ok()) << status.message();
  return folder.Read("a.mem");
}

TEST(TargetHeader, MatchesTheFormatByteForByte) {
  const TargetHeader header = BuildTargetHeader();
  Bytes expected(kTargetHeaderSize, 0);
  const Bytes leading = {'V', 'g', 's', 'M', 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 2};
  std::copy(leading.begin(), leading.end(), expected.begin());
  EXPECT_EQ(Bytes(header.begin(), header.end()), expected);
  // The word at offset 16 reads 512 little-endian, not 2.
  EXPECT_EQ(header[16] | header[17] << 8, 512);
}

TEST(ConvertCard, PutsTheHeaderBeforeEveryByteOfTheCard) {
  const Bytes card = PatternBytes(100000, 0x7B);  // crosses 0x00 and 0x80..0xFF
  // Buffers smaller than the card, and of every size relative to the header.
  for (const std::size_t buffer :
       {std::size_t{1}, std::size_t{7}, std::size_t{4096}, kCopyPieceSize}) {
    EXPECT_EQ(Converted(card, buffer), ExpectedTarget(card)) << buffer;
  }
}

TEST(ConvertCard, KeepsRealCardsUnchangedBehindTheHeader) {
  for (const char* name : {"blank.mcd", "m1.mcd", "MemoryCard2-1.mcd"}) {
    const Bytes card = RealCard(name);
    ASSERT_EQ(card.size(), 131072u) << name;
    EXPECT_EQ(Converted(card), ExpectedTarget(card)) << name;
  }
}

TEST(ConvertCard, OfAnEmptyCardIsTheHeaderAlone) { EXPECT_EQ(Converted({}), ExpectedTarget({})); }

struct NameCase {
  const char* source;
  const char* target;
};

class TargetName : public ::testing::TestWithParam<NameCase> {};

TEST_P(TargetName, FollowsTheNamingRule) {
  EXPECT_EQ(TargetNameFor(GetParam().source), GetParam().target);
}

INSTANTIATE_TEST_SUITE_P(
    Names, TargetName,
    ::testing::Values(NameCase{"save.mcd", "save.mem"}, NameCase{"SAVE.MCD", "SAVE.mem"},
                      NameCase{"CARD1.MCD", "CARD1.mem"}, NameCase{"save.Mcd", "save.mem"},
                      NameCase{".mcd", ".mem"}, NameCase{"abc", "abc.mem"},
                      NameCase{"mcd", "mcd.mem"}, NameCase{"", ".mem"},
                      NameCase{"x.mcd1", "x.mcd1.mem"}, NameCase{"slot1.mcdx", "slot1.mcdx.mem"},
                      NameCase{"a.b.mcd", "a.b.mem"}, NameCase{"x_mcd", "x_mcd.mem"},
                      NameCase{"caf\xC3\xA9.mcd", "caf\xC3\xA9.mem"},
                      NameCase{"\xFF\xFE.MCD", "\xFF\xFE.mem"}));

// The names of the temporary files of both platforms' runs, read back, and
// which of them a run takes for leftovers of its own machine's dead runs.
TEST(TemporaryNames, OnlyThoseOfThisMachinesDeadRunsAreLeftovers) {
  // A Linux machine id with its process space, and a Windows machine GUID,
  // each beside one that differs in a character.
  for (const auto& [id, alike] : {std::pair{"3d1219c7c4c5404aaa1f6d2a48adfda4|pid:[4026531836]",
                                            "3d1219c7c4c5404aaa1f6d2a48adfda5|pid:[4026531836]"},
                                  std::pair{"8f3c2a51-6d0e-4b7a-9c1e-2f4d6b8a0c3e",
                                            "8f3c2a51-6d0e-4b7a-9c1e-2f4d6b8a0c3f"}}) {
    const std::string token = MachineToken(id);
    const std::string other = MachineToken(alike);
    ASSERT_NE(token, other) << id;
    const std::optional<TemporaryNameParts> parts =
        ParseTemporaryName(TemporaryName(token, 4321, 9));
    ASSERT_TRUE(parts);
    EXPECT_EQ(parts->token, token);
    EXPECT_EQ(parts->pid, 4321u);
    const auto gone = [](std::uint64_t pid) { return pid != 42; };  // 42 still runs
    const std::pair<std::string, bool> names[] = {
        {TemporaryName(token, 7, 0), true},
        {TemporaryName(token, 42, 0), false},
        {TemporaryName(other, 7, 0), false},
        {TemporaryName(token, 7, 0) + ".bak", false},
        {".pellamar-" + token + "-x-0.tmp", false},
        {".pellamar-" + token + "-7.tmp", false},
        {".pellamar-" + token + "-0-3.tmp", false},
        {".pellamar-" + token + "-7-3x.tmp", false},
        {"a.mcd", false},
    };
    for (const auto& [name, leftover] : names) {
      EXPECT_EQ(IsLeftover(name, token, gone), leftover) << name;
    }
  }
}

class WriteCardTest : public ::testing::Test {
 protected:
  Status Write(const std::string& target, const Bytes& card) {
    folder_.Write("card.mcd", card);
    return testing::ConvertOne(*fs_, folder_ / "card.mcd", folder_ / target);
  }

  TempFolder folder_;
  std::unique_ptr<FileSystem> fs_ = NewPlatformFileSystem();
};

TEST_F(WriteCardTest, ReplacesALongerTargetWithExactlyTheNewBytesAndLeavesNothingElse) {
  folder_.Write("a.mem", PatternBytes(200000, 3));
  ASSERT_TRUE(Write("a.mem", PatternBytes(100)).ok());
  ASSERT_TRUE(Write("b.mem", PatternBytes(300)).ok());
  EXPECT_EQ(folder_.Read("a.mem"), ExpectedTarget(PatternBytes(100)));
  EXPECT_EQ(folder_.Read("b.mem"), ExpectedTarget(PatternBytes(300)));
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"a.mem", "b.mem", "card.mcd"}));
}

TEST_F(WriteCardTest, ReadCardTakesTheLengthOfTheOpenFile) {
  folder_.Write("m1.mcd", RealCard("m1.mcd"));
  Status status;
  const std::unique_ptr<CardFile> card = ReadCard(*fs_, folder_ / "m1.mcd", &status);
  ASSERT_TRUE(card);
  EXPECT_EQ(card->Length(), RealCard("m1.mcd").size());
  EXPECT_FALSE(ReadCard(*fs_, folder_ / "missing.mcd", &status));
  EXPECT_EQ(status.kind(), Status::Kind::kNotFound);
  EXPECT_FALSE(status.reason().empty());
}

}  // namespace
}  // namespace pellamar

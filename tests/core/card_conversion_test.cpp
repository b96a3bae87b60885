// The target card's bytes and name, and writing it over what was there.
#include "core/card_conversion.h"

#include <gtest/gtest.h>

#include "tests/support/temp_folder.h"

namespace pellamar {
namespace {

using testing::PatternBytes;
using testing::RealCard;
using testing::TempFolder;

Bytes Converted(const Bytes& card) {
  const TargetHeader header = BuildTargetHeader();
  return ConvertCard(header, card).ToBytes();
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
  const Bytes card = PatternBytes(1000, 0x7B);  // crosses 0x00 and 0x80..0xFF
  const Bytes target = Converted(card);
  ASSERT_EQ(target.size(), 64u + card.size());
  const TargetHeader header = BuildTargetHeader();
  EXPECT_TRUE(std::equal(header.begin(), header.end(), target.begin()));
  EXPECT_TRUE(std::equal(card.begin(), card.end(), target.begin() + 64));
}

TEST(ConvertCard, KeepsRealCardsUnchangedBehindTheHeader) {
  for (const char* name : {"blank.mcd", "m1.mcd", "MemoryCard2-1.mcd"}) {
    const Bytes card = RealCard(name);
    ASSERT_EQ(card.size(), 131072u) << name;
    const Bytes target = Converted(card);
    EXPECT_EQ(target.size(), 131136u) << name;
    EXPECT_EQ(Bytes(target.begin() + 64, target.end()), card) << name;
  }
}

TEST(ConvertCard, OfAnEmptyCardIsTheHeaderAlone) {
  const TargetHeader header = BuildTargetHeader();
  EXPECT_EQ(ConvertCard(header, {}).ToBytes(), Bytes(header.begin(), header.end()));
}

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

class WriteCardTest : public ::testing::Test {
 protected:
  TempFolder folder_;
  std::unique_ptr<FileSystem> fs_ = NewPlatformFileSystem();
};

TEST_F(WriteCardTest, CreatesTheTargetAndLeavesNothingElse) {
  const TargetHeader header = BuildTargetHeader();
  const Bytes card = PatternBytes(300);
  ASSERT_TRUE(
      WriteCard(*fs_, folder_ / "a.mem", ConvertCard(header, card), folder_ / "a.mcd").ok());
  EXPECT_EQ(folder_.Read("a.mem"), Converted(card));
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"a.mem"});
}

TEST_F(WriteCardTest, ReplacesALongerTargetWithExactlyTheNewBytes) {
  folder_.Write("a.mem", PatternBytes(200000, 3));
  const TargetHeader header = BuildTargetHeader();
  const Bytes card = PatternBytes(100);
  ASSERT_TRUE(
      WriteCard(*fs_, folder_ / "a.mem", ConvertCard(header, card), folder_ / "a.mcd").ok());
  EXPECT_EQ(folder_.Read("a.mem"), Converted(card));
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"a.mem"});
}

TEST_F(WriteCardTest, ReadCardReturnsTheWholeFile) {
  const Bytes card = RealCard("m1.mcd");
  folder_.Write("m1.mcd", card);
  Bytes read(17, 0xAA);  // a used buffer, as the batch run passes it
  ASSERT_TRUE(ReadCard(*fs_, folder_ / "m1.mcd", &read).ok());
  EXPECT_EQ(read, card);
  EXPECT_FALSE(ReadCard(*fs_, folder_ / "missing.mcd", &read).ok());
}

}  // namespace
}  // namespace pellamar

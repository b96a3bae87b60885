// File-type lists as the dialogs take them.
#include "ui/common/filter_string.h"

#include <gtest/gtest.h>

#include "ui/common/form_layout.h"

namespace pellamar::ui {
namespace {

using namespace std::string_literals;

TEST(ConvertFilterString, EndsEveryPartWithANulWithOrWithoutAFinalBar) {
  const std::string expected = "Bleem Memory Cards (*.mcd)\0*.mcd\0All files (*.*)\0*.*\0"s;
  EXPECT_EQ(ConvertFilterString(kSourceFilter), expected);
  EXPECT_EQ(ConvertFilterString(kSourceFilter + "|"s), expected);
}

TEST(ConvertFilterString, HandlesEmptyAndUnpairedLists) {
  EXPECT_EQ(ConvertFilterString(""), "\0"s);
  EXPECT_EQ(ConvertFilterString("Cards|*.mcd|Lonely"), "Cards\0*.mcd\0Lonely\0"s);
}

TEST(SplitFilterString, GivesTheEntriesInOrder) {
  const std::vector<FileTypeFilter> entries = SplitFilterString(kSourceFilter);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].description, "Bleem Memory Cards (*.mcd)");
  EXPECT_EQ(entries[0].pattern, "*.mcd");
  EXPECT_EQ(entries[1].description, "All files (*.*)");
  EXPECT_EQ(entries[1].pattern, "*.*");
  EXPECT_TRUE(SplitFilterString("").empty());
  ASSERT_EQ(SplitFilterString("Cards|*.mcd|Lonely").size(), 2u);
  EXPECT_EQ(SplitFilterString("Cards|*.mcd|Lonely")[1].pattern, "");
}

}  // namespace
}  // namespace pellamar::ui

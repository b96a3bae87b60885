// What the windows share: file-type lists as the dialogs take them, and the
// final message's lines as a message box shows them.
#include "ui/common/filter_string.h"

#include <gtest/gtest.h>

#include "ui/common/form_layout.h"
#include "ui/common/message_text.h"

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

// A line of words that the box wraps into two lines at most is kept whole;
// a longer one, or one with a word too long to wrap, is cut in the middle.
TEST(FitMessageText, KeepsALineOfWordsThatWrapsInTwoAndCutsTheRest) {
  const std::string words =
      "short.mcd: converted, but it holds 65,536 bytes where a memory card "
      "holds 131,072; readers may refuse short.mem";
  EXPECT_EQ(FitMessageText("1 Files Processed\n\n" + words), "1 Files Processed\n\n" + words);
  std::string many_words;
  while (many_words.size() < 2 * kMessageLineChars) many_words += "a few words ";
  for (const std::string& line :
       {std::string(200, 'x'), std::string(40, 'y') + " " + std::string(100, 'z'), many_words}) {
    const std::string cut = FitMessageText(line);
    EXPECT_LE(cut.size(), kMessageLineChars);
    EXPECT_EQ(cut.substr(0, 10), line.substr(0, 10));
    EXPECT_EQ(cut.substr(cut.size() - 10), line.substr(line.size() - 10));
  }
}

}  // namespace
}  // namespace pellamar::ui

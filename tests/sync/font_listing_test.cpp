#include "sync/run/font_listing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "links.h"
#include "sync/files/file_ops.h"
#include "sync/fonts/font_file.h"
#include "sync/run/sync_types.h"
#include "test_support.h"

namespace quorvane {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using namespace quorvane::testing;

TEST(FontListingTest, ListsOneFolderInPatternOrderWithRunningNumbers) {
  TempFolder temp;
  for (const char* name : {"b.fon", "c.otf", "a.ttf", "d.ttc", "notes.txt", "a.ttfx", "E.TTF"}) {
    WriteFile(temp.Path(name), name);
  }
  RecordingView view;
  EXPECT_EQ(FontListing(temp.Path(), view).added, 5);

  const auto names = view.Column(kNameColumn);
  ASSERT_EQ(names.size(), 5u);
  // Two .ttf files come first in file-system order, then .otf, .fon, .ttc.
  EXPECT_THAT(std::vector(names.begin(), names.begin() + 2), ::testing::UnorderedElementsAre("a.ttf", "E.TTF"));
  EXPECT_THAT(std::vector(names.begin() + 2, names.end()), ElementsAre("c.otf", "b.fon", "d.ttc"));
  EXPECT_THAT(view.Column(kNumberColumn), ElementsAre("1", "2", "3", "4", "5"));
  EXPECT_THAT(view.Column(kStatusColumn), Each(std::string(kReadyText)));
  for (const auto& row : view.rows) EXPECT_EQ(row[kPathColumn], temp.Path(row[kNameColumn]));
  EXPECT_EQ(view.addRowsCalls, 1) << "rows arrive in one batch";
  EXPECT_THAT(view.messages, IsEmpty());
}

TEST(FontListingTest, WalksSubFoldersAtEveryDepthAfterTheFolderItself) {
  TempFolder temp;
  WriteFile(temp.Path("sub/deeper/deepest/z.ttf"), "z");
  WriteFile(temp.Path("sub/m.otf"), "m");
  WriteFile(temp.Path("top.fon"), "t");
  MakeFolder(temp.Path("empty"));
  RecordingView view;
  FontListing(temp.Path(), view);
  EXPECT_THAT(view.Column(kPathColumn),
              ElementsAre(temp.Path("top.fon"), temp.Path("sub/m.otf"), temp.Path("sub/deeper/deepest/z.ttf")));
}

TEST(FontListingTest, NeverFollowsAFolderLinkButListsAFileLink) {
  TempFolder temp;
  WriteFile(temp.Path("fonts/a.ttf"), "a");
  WriteFile(temp.Path("elsewhere/b.ttf"), "b");
  if (!MakeFolderLink(temp.Path("fonts"), temp.Path("fonts/loop"))) GTEST_SKIP() << "no folder links here";
  std::error_code error;
  fs::create_symlink(PathOf(temp.Path("elsewhere/b.ttf")), PathOf(temp.Path("fonts/linked.ttf")), error);
#ifndef _WIN32
  fs::create_symlink(PathOf(temp.Path("nowhere.ttf")), PathOf(temp.Path("fonts/dangling.ttf")));
#endif
  RecordingView view;
  ListingResult result = FontListing(temp.Path("fonts"), view);
  // Fonts may lie behind either: the listing says it is not whole.
  std::ranges::sort(result.skipped, {}, &SkippedEntry::path);
  // Wine says it made the link and makes none.
  if (EntryExists(temp.Path("fonts/loop"))) {
    ASSERT_FALSE(result.skipped.empty());
    EXPECT_EQ(result.skipped.back().path, temp.Path("fonts/loop"));
    EXPECT_FALSE(result.skipped.back().reason) << "a link not followed, not a failure";
  }
#ifndef _WIN32
  ASSERT_EQ(result.skipped.size(), 2u);
  EXPECT_EQ(result.skipped[0].path, temp.Path("fonts/dangling.ttf"));
  ASSERT_TRUE(result.skipped[0].reason);
  EXPECT_EQ(result.skipped[0].reason->code, ENOENT);
#endif
  if (error) {
    EXPECT_THAT(view.Column(kNameColumn), ElementsAre("a.ttf"));
  } else {
    EXPECT_THAT(view.Column(kNameColumn), ::testing::UnorderedElementsAre("a.ttf", "linked.ttf"));
  }
}

TEST(FontListingTest, AppendsAfterEarlierRowsAndNeverListsAFileTwice) {
  TempFolder temp;
  WriteFile(temp.Path("one/a.ttf"), "a");
  WriteFile(temp.Path("two/a.ttf"), "a");
  WriteFile(temp.Path("two/b.ttf"), "b");
  RecordingView view;
  FontListing(temp.Path("one"), view);
  EXPECT_EQ(FontListing(temp.Path("one"), view).added, 0);
  EXPECT_EQ(FontListing(temp.Path("two"), view).added, 2);
  EXPECT_EQ(FontListing(temp.Path(), view).added, 0) << "every file below is already listed";
  EXPECT_THAT(view.Column(kNumberColumn), ElementsAre("1", "2", "3"));
  EXPECT_THAT(std::vector({view.rows[1][kPathColumn], view.rows[2][kPathColumn]}),
              ::testing::UnorderedElementsAre(temp.Path("two/a.ttf"), temp.Path("two/b.ttf")));
}

TEST(FontListingTest, AFolderWithoutFontsOrWithoutExistenceListsNothingQuietly) {
  TempFolder temp;
  WriteFile(temp.Path("readme.txt"), "x");
  MakeFolder(temp.Path("a.ttf"));  // a folder with a font's name is no font
  RecordingView view;
  EXPECT_EQ(FontListing(temp.Path(), view).added, 0);
  EXPECT_EQ(FontListing(temp.Path("missing"), view).added, 0);
  EXPECT_EQ(FontListing("", view).added, 0);
  EXPECT_THAT(view.rows, IsEmpty());
  EXPECT_THAT(view.messages, IsEmpty());
}

TEST(FontListingTest, TakesExactlyTheNamesThePatternsMatch) {
  TempFolder temp;
  const std::vector<std::string> names = {"a.ttf", ".ttf",     "ttf",   "a.ttf.bak", "j.TtF", "b.tTc", "c.tt",
                                          "d..otf", "e.OTF.fon", "fon",  "f.ttfx",    "g.ttc.x", "h.FoN", "i.o-tf"};
  for (const std::string& name : names) WriteFile(temp.Path(name), name);
  RecordingView view;
  FontListing(temp.Path(), view);
  // *.ttf, *.ttc, *.otf, *.fon, in any case; the star may stand for nothing.
  EXPECT_THAT(view.Column(kNameColumn), ::testing::UnorderedElementsAre("a.ttf", ".ttf", "j.TtF", "b.tTc", "d..otf",
                                                                        "e.OTF.fon", "h.FoN"));
}

TEST(FontListingTest, AFolderEndingInASeparatorGivesCleanPaths) {
  TempFolder temp;
  WriteFile(temp.Path("a.ttf"), "a");
  RecordingView view;
  FontListing(temp.Path() + kPathSeparator, view);
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.rows[0][kPathColumn], temp.Path("a.ttf"));
}

// A target inside the source must not feed the run its own output.
TEST(FontListingOptionsTest, AFolderLeftOutIsNotListedAndTheResultSaysSo) {
  TempFolder temp;
  WriteFile(temp.Path("a.ttf"), "a");
  WriteFile(temp.Path("fonts/b.ttf"), "b");
  WriteFile(temp.Path("fonts/deeper/c.ttf"), "c");
  WriteFile(temp.Path("other/d.ttf"), "d");
  RecordingView view;
  const ListingResult result =
      FontListing(temp.Path(), view, {.leaveOut = IdentityOf(JoinPath(temp.Path("fonts"), "."))});
  EXPECT_TRUE(result.leftOut);
  EXPECT_EQ(result.added, 2);
  EXPECT_THAT(view.Column(kNameColumn), UnorderedElementsAre("a.ttf", "d.ttf"));
  EXPECT_TRUE(result.unreadable.empty());
}

TEST(FontListingOptionsTest, AMissingSourceIsNamedWithItsReason) {
  TempFolder temp;
  RecordingView view;
  const ListingResult result = FontListing(temp.Path("missing"), view);
  ASSERT_EQ(result.unreadable.size(), 1u);
  EXPECT_EQ(result.unreadable[0].path, temp.Path("missing"));
  EXPECT_FALSE(ReasonText(result.unreadable[0].reason).empty());
}

}  // namespace
}  // namespace quorvane

#include "sync/font_sync_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sync/file_ops.h"
#include "sync/font_listing.h"
#include "test_support.h"

namespace quorvane {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace quorvane::testing;

TEST(SummaryMessageTest, CountsEveryOutcomeInTheFixedText) {
  SyncTally tally;
  for (FileOutcome outcome : {FileOutcome::CopySucceeded, FileOutcome::ReplaceSucceeded, FileOutcome::Ignored}) {
    tally.Add(outcome);
  }
  EXPECT_EQ(SummaryMessage(tally),
            "本次任务共处理文件3个：复制成功1个；复制失败0个；替换成功1个；替换失败0个；同名忽略1个。");
  EXPECT_FALSE(tally.AnyFailed());

  SyncTally many;
  for (int i = 0; i < 12345; ++i) many.Add(FileOutcome::CopyFailed);
  many.Add(FileOutcome::ReplaceFailed);
  EXPECT_EQ(SummaryMessage(many),
            "本次任务共处理文件12346个：复制成功0个；复制失败12345个；替换成功0个；替换失败1个；同名忽略0个。");
  EXPECT_TRUE(many.AnyFailed());
}

TEST(StatusTextTest, EachOutcomeHasItsText) {
  EXPECT_EQ(StatusText(FileOutcome::CopySucceeded), "复制成功");
  EXPECT_EQ(StatusText(FileOutcome::CopyFailed), "复制失败");
  EXPECT_EQ(StatusText(FileOutcome::ReplaceSucceeded), "替换成功");
  EXPECT_EQ(StatusText(FileOutcome::ReplaceFailed), "替换失败");
  EXPECT_EQ(StatusText(FileOutcome::Ignored), "同名忽略");
}

class FontSyncRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeFolder(temp.Path("src"));
    MakeFolder(temp.Path("dst"));
  }
  std::string Src(const std::string& name) const { return temp.Path("src/" + name); }
  std::string Dst(const std::string& name) const { return temp.Path("dst/" + name); }

  std::optional<SyncTally> ListAndRun(SyncPolicy policy, bool dryRun = false) {
    FontListing(temp.Path("src"), view);
    return FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {policy, dryRun});
  }

  // Holds after every finished run: the counters add up to the rows handled.
  static void ExpectConsistent(const SyncTally& tally, std::int64_t rows) {
    std::int64_t sum = 0;
    for (auto count : tally.counts) sum += count;
    EXPECT_EQ(tally.total, sum);
    EXPECT_EQ(tally.total, rows);
  }

  TempFolder temp;
  RecordingView view;
};

TEST_F(FontSyncRunTest, EmptyFoldersAreRefusedWithTheirMessagesAndChangeNothing) {
  WriteFile(Src("a.ttf"), "a");
  FontListing(temp.Path("src"), view);
  FontSyncRun run(view);

  EXPECT_EQ(run.Run("", temp.Path("dst"), {}), std::nullopt);
  EXPECT_EQ(run.Run(temp.Path("src"), "", {}), std::nullopt);

  ASSERT_EQ(view.messages.size(), 2u);
  EXPECT_EQ(view.messages[0].text, "对不起，请选择源字体文件夹！");
  EXPECT_EQ(view.messages[0].title, "消息");
  EXPECT_EQ(view.messages[1].text, "对不起，请选择目标字体文件夹！");
  EXPECT_EQ(view.messages[1].title, "消息");
  EXPECT_EQ(view.messages[1].kind, MessageKind::Warning);
  EXPECT_THAT(view.Column(kStatusColumn), Each(std::string(kReadyText)));
  EXPECT_THAT(view.progress, IsEmpty());
  EXPECT_FALSE(FileExists(Dst("a.ttf")));
}

TEST_F(FontSyncRunTest, CopiesEveryFontAndEndsWithTheSummary) {
  WriteFile(Src("a.ttf"), "a");
  WriteFile(Src("sub/b.otf"), "b");
  WriteFile(Src("readme.txt"), "not a font");
  const auto tally = ListAndRun(SyncPolicy::Ignore);
  ASSERT_TRUE(tally);
  ExpectConsistent(*tally, 2);
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("复制成功", "复制成功"));
  EXPECT_EQ(ReadFile(Dst("a.ttf")), "a");
  EXPECT_EQ(ReadFile(Dst("b.otf")), "b") << "every file goes directly into the target";
  EXPECT_FALSE(FileExists(Dst("readme.txt")));
  EXPECT_EQ(ReadFile(Src("a.ttf")), "a");

  ASSERT_FALSE(view.messages.empty());
  EXPECT_EQ(view.messages.back().title, "执行结果");
  EXPECT_EQ(view.messages.back().text, SummaryMessage(*tally));
  EXPECT_EQ(view.messages.back().kind, MessageKind::Information);
  ASSERT_FALSE(view.progress.empty());
  EXPECT_EQ(view.progress.front(), std::make_pair(std::int64_t{0}, std::int64_t{2}));
  EXPECT_EQ(view.progress.back(), std::make_pair(std::int64_t{2}, std::int64_t{2}));
}

TEST_F(FontSyncRunTest, SameNameFileIsKeptUnderIgnoreAndOverwrittenUnderReplace) {
  WriteFile(Src("a.ttf"), "source");
  WriteFile(Dst("a.ttf"), "target");
  auto tally = ListAndRun(SyncPolicy::Ignore);
  EXPECT_EQ(ReadFile(Dst("a.ttf")), "target");
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("同名忽略"));
  EXPECT_EQ(tally->Count(FileOutcome::Ignored), 1);

  tally = FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {SyncPolicy::Replace});
  EXPECT_EQ(ReadFile(Dst("a.ttf")), "source");
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("替换成功"));
  EXPECT_EQ(tally->Count(FileOutcome::ReplaceSucceeded), 1);
}

TEST_F(FontSyncRunTest, SameNameTestAsksTheFileSystemAboutCase) {
  WriteFile(Src("A.TTF"), "source");
  WriteFile(Dst("a.ttf"), "target");
  const auto tally = ListAndRun(SyncPolicy::Ignore);
  ASSERT_TRUE(tally);
#ifdef _WIN32
  EXPECT_EQ(tally->Count(FileOutcome::Ignored), 1) << "Windows names ignore case";
#else
  EXPECT_EQ(tally->Count(FileOutcome::CopySucceeded), 1) << "a case-sensitive file system holds both";
#endif
  EXPECT_EQ(ReadFile(Dst("a.ttf")), "target");
}

TEST_F(FontSyncRunTest, AReadOnlyTargetFailsToBeReplacedAndKeepsItsContent) {
  WriteFile(Src("a.ttf"), "source");
  WriteFile(Dst("a.ttf"), "target");
  SetReadOnly(Dst("a.ttf"), true);
  const auto tally = ListAndRun(SyncPolicy::Replace);
  SetReadOnly(Dst("a.ttf"), false);
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("替换失败"));
  EXPECT_EQ(ReadFile(Dst("a.ttf")), "target");
  EXPECT_TRUE(tally->AnyFailed());
  EXPECT_EQ(view.messages.back().kind, MessageKind::Warning);
}

TEST_F(FontSyncRunTest, AFolderWithTheFontsNameCountsAsSameName) {
  WriteFile(Src("a.ttf"), "source");
  MakeFolder(Dst("a.ttf"));
  ListAndRun(SyncPolicy::Ignore);
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("同名忽略"));
  FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {SyncPolicy::Replace});
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("替换失败"));
  EXPECT_TRUE(IsFolder(Dst("a.ttf")));
}

TEST_F(FontSyncRunTest, TheFirstOfTwoSameNameFilesDecidesTheTarget) {
  WriteFile(Src("one/a.ttf"), "first");
  WriteFile(Src("two/a.ttf"), "second");
  ListAndRun(SyncPolicy::Ignore);
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("复制成功", "同名忽略"));
  EXPECT_EQ(ReadFile(Dst("a.ttf")), "first");

  fs::remove(PathOf(Dst("a.ttf")));
  FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {SyncPolicy::Replace});
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("复制成功", "替换成功"));
  EXPECT_EQ(ReadFile(Dst("a.ttf")), "second");
}

TEST_F(FontSyncRunTest, AMissingTargetFolderFailsEveryCopyAndCreatesNothing) {
  WriteFile(Src("a.ttf"), "a");
  WriteFile(Src("b.fon"), "b");
  FontListing(temp.Path("src"), view);
  const auto tally = FontSyncRun(view).Run(temp.Path("src"), temp.Path("missing"), {});
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("复制失败", "复制失败"));
  EXPECT_EQ(tally->Count(FileOutcome::CopyFailed), 2);
  EXPECT_FALSE(FileExists(temp.Path("missing")));
}

TEST_F(FontSyncRunTest, AVanishedSourceFileFailsOnlyItsOwnRow) {
  WriteFile(Src("a.ttf"), "a");
  WriteFile(Src("b.ttf"), "b");
  FontListing(temp.Path("src"), view);
  fs::remove(PathOf(view.rows[0][kPathColumn]));
  const auto tally = FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {});
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("复制失败", "复制成功"));
  ExpectConsistent(*tally, 2);
}

TEST_F(FontSyncRunTest, AFolderWithoutRowsEndsWithASummaryOfZeros) {
  const auto tally = ListAndRun(SyncPolicy::Replace);
  ASSERT_TRUE(tally);
  EXPECT_EQ(tally->total, 0);
  EXPECT_EQ(view.messages.back().text,
            "本次任务共处理文件0个：复制成功0个；复制失败0个；替换成功0个；替换失败0个；同名忽略0个。");
}

TEST_F(FontSyncRunTest, StopsAfterTheCurrentFileAndSummarisesWhatWasHandled) {
  for (const char* name : {"a.ttf", "b.ttf", "c.ttf"}) WriteFile(Src(name), name);
  FontListing(temp.Path("src"), view);
  FontSyncRun run(view);
  view.onEvents = [&] { run.RequestStop(); };
  const auto tally = run.Run(temp.Path("src"), temp.Path("dst"), {});
  ASSERT_TRUE(tally);
  EXPECT_EQ(tally->total, 1);
  EXPECT_EQ(view.rows[0][kStatusColumn], "复制成功");
  EXPECT_EQ(view.rows[1][kStatusColumn], kReadyText);
  EXPECT_EQ(view.rows[2][kStatusColumn], kReadyText);
  EXPECT_EQ(view.messages.back().text, SummaryMessage(*tally));
  EXPECT_FALSE(run.IsRunning());

  view.onEvents = nullptr;
  EXPECT_EQ(run.Run(temp.Path("src"), temp.Path("dst"), {})->total, 3) << "the next run starts afresh";
}

TEST_F(FontSyncRunTest, AListClearedMidRunEndsTheRunCleanly) {
  for (const char* name : {"a.ttf", "b.ttf", "c.ttf"}) WriteFile(Src(name), name);
  FontListing(temp.Path("src"), view);
  view.onEvents = [&] { view.rows.clear(); };
  const auto tally = FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {});
  ASSERT_TRUE(tally);
  EXPECT_EQ(tally->total, 1);
  EXPECT_THAT(view.rows, IsEmpty());
}

TEST_F(FontSyncRunTest, ASecondRunCannotStartInsideTheFirst) {
  WriteFile(Src("a.ttf"), "a");
  WriteFile(Src("b.ttf"), "b");
  FontListing(temp.Path("src"), view);
  FontSyncRun run(view);
  std::optional<std::optional<SyncTally>> inner;
  view.onEvents = [&] {
    if (!inner) inner = run.Run(temp.Path("src"), temp.Path("dst"), {});
  };
  const auto outer = run.Run(temp.Path("src"), temp.Path("dst"), {});
  ASSERT_TRUE(inner.has_value());
  EXPECT_EQ(*inner, std::nullopt);
  ExpectConsistent(*outer, 2);
  EXPECT_EQ(view.messages.size(), 1u) << "only the outer run's summary";
}

TEST_F(FontSyncRunTest, DryRunDecidesEveryRowAndWritesNothing) {
  WriteFile(Src("a.ttf"), "source");
  WriteFile(Src("b.ttf"), "b");
  WriteFile(Dst("a.ttf"), "target");
  const auto tally = ListAndRun(SyncPolicy::Replace, /*dryRun=*/true);
  EXPECT_EQ(tally->Count(FileOutcome::ReplaceSucceeded), 1);
  EXPECT_EQ(tally->Count(FileOutcome::CopySucceeded), 1);
  EXPECT_EQ(ReadFile(Dst("a.ttf")), "target");
  EXPECT_FALSE(FileExists(Dst("b.ttf")));
}

// A dry run reads the target's names once; each row must still get the answer
// the file system gives a real run, about case, folders and unusual names.
TEST_F(FontSyncRunTest, DryRunDecidesSameNamesAsTheFileSystemDoes) {
  const std::vector<std::string> names = {"a.ttf", "b.ttf", "c.ttf", "宋体.ttf", "e.ttf", "F~1.TTF", "g.TTF"};
  for (const std::string& name : names) WriteFile(Src(name), name);
  WriteFile(Dst("a.ttf"), "same name");
  WriteFile(Dst("B.TTF"), "other case");
  MakeFolder(Dst("c.ttf"));
  WriteFile(Dst("宋体.ttf"), "not ASCII");
  WriteFile(Dst("g.ttf"), "other case");
  WriteFile(Dst("f-long-name.ttf"), "may own a short name");

  const auto tally = ListAndRun(SyncPolicy::Ignore, /*dryRun=*/true);
  ASSERT_TRUE(tally);
  ExpectConsistent(*tally, static_cast<std::int64_t>(names.size()));
  for (const auto& row : view.rows) {
    const bool exists = EntryExists(Dst(row[kNameColumn]));
    EXPECT_EQ(row[kStatusColumn], exists ? "同名忽略" : "复制成功") << row[kNameColumn];
  }
  const auto status = [&](const std::string& name) {
    for (const auto& row : view.rows) {
      if (row[kNameColumn] == name) return row[kStatusColumn];
    }
    return std::string();
  };
  EXPECT_EQ(status("a.ttf"), "同名忽略");
  EXPECT_EQ(status("c.ttf"), "同名忽略") << "a folder holds the name";
  EXPECT_EQ(status("宋体.ttf"), "同名忽略");
  EXPECT_EQ(status("e.ttf"), "复制成功");
  EXPECT_EQ(ReadFile(Dst("a.ttf")), "same name");
  EXPECT_FALSE(FileExists(Dst("e.ttf")));
}

TEST_F(FontSyncRunTest, DryRunIntoAnUnreadableOrMissingTargetStillDecidesEveryRow) {
  WriteFile(Src("a.ttf"), "a");
  FontListing(temp.Path("src"), view);
  const auto tally = FontSyncRun(view).Run(temp.Path("src"), temp.Path("missing"), {SyncPolicy::Ignore, true});
  ASSERT_TRUE(tally);
  EXPECT_EQ(tally->Count(FileOutcome::CopySucceeded), 1);
  EXPECT_FALSE(FileExists(temp.Path("missing")));
}

TEST_F(FontSyncRunTest, ProcessesEventsDuringALargeCopy) {
  WriteFile(Src("big.ttc"), std::string(24 << 20, 'x'));
  FontListing(temp.Path("src"), view);
  view.eventsProcessed = 0;
  FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {});
  EXPECT_GE(view.eventsProcessed, 3) << "during the copy and after the row";
}

}  // namespace
}  // namespace quorvane

#include "sync/run/font_sync_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sync/files/file_ops.h"
#include "sync/run/font_checks.h"
#include "sync/run/font_listing.h"
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

class FontSyncRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeFolder(temp.Path("src"));
    MakeFolder(temp.Path("dst"));
  }
  std::string Src(const std::string& name) const { return temp.Path("src/" + name); }
  std::string Dst(const std::string& name) const { return temp.Path("dst/" + name); }

  static std::optional<SyncTally> TallyOf(const std::optional<RunSummary>& summary) {
    return summary ? std::optional<SyncTally>(summary->tally) : std::nullopt;
  }

  std::optional<SyncTally> ListAndRun(SyncPolicy policy, bool dryRun = false) {
    FontListing(temp.Path("src"), view);
    return TallyOf(FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {.policy = policy, .dryRun = dryRun}));
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
  ASSERT_EQ(view.summaries.size(), 1u);
  EXPECT_EQ(view.summaries[0].tally.total, 2);
  EXPECT_EQ(view.summaries[0].tally.Count(FileOutcome::CopySucceeded), 2);
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

  tally = TallyOf(FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {SyncPolicy::Replace}));
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

// The window copies in listing order and treats each row on its own.
TEST_F(FontSyncRunTest, AWindowRunTakesTwoSameNameFilesInListingOrder) {
  // A folder's own files are listed before its sub-folders', whatever order the file system gives.
  WriteFile(Src("a.ttf"), "first");
  WriteFile(Src("two/a.ttf"), "second");
  ListAndRun(SyncPolicy::Ignore);
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("复制成功", "同名忽略"));
  EXPECT_EQ(ReadFile(Dst("a.ttf")), "first");

  fs::remove(PathOf(Dst("a.ttf")));
  FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {SyncPolicy::Replace});
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("复制成功", "替换成功"));
  EXPECT_EQ(ReadFile(Dst("a.ttf")), "second");
}

// A run with face checks (the command line's).
TEST_F(FontSyncRunTest, TheFirstOfTwoSameNameFilesDecidesTheTarget) {
  WriteFile(Src("one/a.ttf"), "first");
  WriteFile(Src("two/a.ttf"), "second");
  const auto checkedRun = [&](SyncPolicy policy) {
    FontSyncRun run(view);
    FaceCheckStage faces({.targetFolder = temp.Path("dst"), .replaceOther = policy == SyncPolicy::Replace});
    run.AddStage(faces);
    return run.Run(temp.Path("src"), temp.Path("dst"), {policy});
  };
  FontListing(temp.Path("src"), view);
  checkedRun(SyncPolicy::Ignore);
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("复制成功", "字体冲突"));
  ASSERT_EQ(view.reports.size(), 2u);
  EXPECT_EQ(view.reports[1].other, view.rows[0][kPathColumn]);
  const std::string first = ReadFile(view.rows[0][kPathColumn]);
  EXPECT_EQ(ReadFile(Dst("a.ttf")), first);

  // Replacing, or a second run, gives the second no turn: the name never flips between them.
  for (int run = 0; run < 2; ++run) {
    const auto summary = checkedRun(SyncPolicy::Replace);
    EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("替换成功", "字体冲突"));
    EXPECT_EQ(ReadFile(Dst("a.ttf")), first);
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->Count(RowState::Conflict), 1) << "a conflict, which the exit status counts";
  }
}

TEST_F(FontSyncRunTest, AVanishedSourceFileFailsOnlyItsOwnRow) {
  WriteFile(Src("a.ttf"), "a");
  WriteFile(Src("b.ttf"), "b");
  FontListing(temp.Path("src"), view);
  fs::remove(PathOf(view.rows[0][kPathColumn]));
  const auto tally = TallyOf(FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {}));
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

// A stop in the middle of a file abandons that file: its target is untouched,
// no temporary stays, its row is ready again with the rows after it.
TEST_F(FontSyncRunTest, AStopMidFileAbandonsItAndSummarisesWhatWasHandled) {
  const std::string big(20 << 20, 'b');
  WriteFile(Src("a.ttf"), "a");
  WriteFile(Src("b.ttf"), big);
  WriteFile(Src("c.ttf"), "c");
  WriteFile(Dst("b.ttf"), "old b");
  FontListing(temp.Path("src"), view);
  std::int64_t rowOfB = -1;
  for (std::int64_t row = 0; row < view.RowCount(); ++row) {
    if (view.rows[static_cast<size_t>(row)][kNameColumn] == "b.ttf") rowOfB = row;
  }
  FontSyncRun run(view);
  view.onEvents = [&] {
    const bool copyingB = std::ranges::any_of(view.copyProgress, [&](const auto& call) { return call.row == rowOfB; });
    if (copyingB) run.RequestStop();
  };
  const auto summary = run.Run(temp.Path("src"), temp.Path("dst"), {.policy = SyncPolicy::Replace});
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->tally.total, rowOfB);
  EXPECT_TRUE(summary->stopped);
  EXPECT_EQ(summary->unhandled, 3 - rowOfB);
  for (std::int64_t row = 0; row < 3; ++row) {
    EXPECT_EQ(view.rows[static_cast<size_t>(row)][kStatusColumn], row < rowOfB ? "复制成功" : kReadyText) << row;
  }
  EXPECT_THAT(view.states[static_cast<size_t>(rowOfB)], ElementsAre(RowState::Copying, RowState::Ready));
  EXPECT_TRUE(ReadFile(Dst("b.ttf")) == "old b") << "the abandoned file's target is untouched";
  EXPECT_THAT(TemporaryFilesIn(temp.Path("dst")), IsEmpty());
  ASSERT_EQ(view.summaries.size(), 1u) << "the view is told what was handled";
  EXPECT_EQ(view.summaries[0].tally.total, rowOfB);
  EXPECT_EQ(view.summaries[0].unhandled, 3 - rowOfB);
  EXPECT_FALSE(run.IsRunning());

  view.onEvents = nullptr;
  const auto next = run.Run(temp.Path("src"), temp.Path("dst"), {.policy = SyncPolicy::Replace});
  EXPECT_EQ(next->tally.total, 3) << "the next run starts afresh";
  EXPECT_FALSE(next->stopped);
  EXPECT_TRUE(ReadFile(Dst("b.ttf")) == big);
}

TEST_F(FontSyncRunTest, AListClearedMidRunEndsTheRunCleanly) {
  for (const char* name : {"a.ttf", "b.ttf", "c.ttf"}) WriteFile(Src(name), name);
  FontListing(temp.Path("src"), view);
  view.onEvents = [&] { view.rows.clear(); };
  const auto tally = TallyOf(FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {}));
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
    if (!inner) inner = TallyOf(run.Run(temp.Path("src"), temp.Path("dst"), {}));
  };
  const auto outer = TallyOf(run.Run(temp.Path("src"), temp.Path("dst"), {}));
  ASSERT_TRUE(inner.has_value());
  EXPECT_EQ(*inner, std::nullopt);
  ExpectConsistent(*outer, 2);
  EXPECT_EQ(view.messages.size(), 1u) << "only the outer run's summary";
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
    EXPECT_EQ(row[kStatusColumn], exists ? "将忽略" : "将复制") << row[kNameColumn];
  }
  const auto status = [&](const std::string& name) {
    for (const auto& row : view.rows) {
      if (row[kNameColumn] == name) return row[kStatusColumn];
    }
    return std::string();
  };
  EXPECT_EQ(status("a.ttf"), "将忽略");
  EXPECT_EQ(status("c.ttf"), "将忽略") << "a folder holds the name";
  EXPECT_EQ(status("宋体.ttf"), "将忽略");
  EXPECT_EQ(status("e.ttf"), "将复制");
  EXPECT_EQ(ReadFile(Dst("a.ttf")), "same name");
  EXPECT_FALSE(FileExists(Dst("e.ttf")));
}

TEST_F(FontSyncRunTest, DryRunIntoAnUnreadableOrMissingTargetStillDecidesEveryRow) {
  WriteFile(Src("a.ttf"), "a");
  FontListing(temp.Path("src"), view);
  const auto tally = TallyOf(FontSyncRun(view).Run(temp.Path("src"), temp.Path("missing"), {.policy = SyncPolicy::Ignore, .dryRun = true}));
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

// Two runs at once into one target: the other run's file appears while ours
// copies. The same-name decision is taken again at the rename, so nothing is
// overwritten unseen and no row claims a copy that another replaced.
TEST_F(FontSyncRunTest, ASameNameFileThatAppearsMidCopyGetsThePolicysOutcome) {
  WriteFile(Src("a.ttf"), std::string(3 << 20, 'a'));
  FontListing(temp.Path("src"), view);
  view.onEvents = [&] {
    if (!view.copyProgress.empty() && !EntryExists(Dst("a.ttf"))) WriteFile(Dst("a.ttf"), "theirs");
  };
  auto summary = FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {.policy = SyncPolicy::Ignore});
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("同名忽略"));
  EXPECT_EQ(summary->tally.Count(FileOutcome::Ignored), 1);
  EXPECT_EQ(ReadFile(Dst("a.ttf")), "theirs");

  fs::remove(PathOf(Dst("a.ttf")));
  view.copyProgress.clear();
  summary = FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {.policy = SyncPolicy::Replace});
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("替换成功"));
  EXPECT_TRUE(ReadFile(Dst("a.ttf")) == std::string(3 << 20, 'a'));
  EXPECT_THAT(TemporaryFilesIn(temp.Path("dst")), IsEmpty());
}

TEST_F(FontSyncRunTest, ARunClearsTheLeftoversOfDeadRunsFromItsTarget) {
  WriteFile(Src("a.ttf"), "a");
  WriteFile(Dst(".quorvane-00112233445566ff.tmp"), std::string(1000, 'x'));
  WriteFile(Dst(".quorvane-aabbccddeeff0011.tmp"), std::string(24, 'x'));
  FontListing(temp.Path("src"), view);
  const auto dry = FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {.dryRun = true});
  EXPECT_EQ(dry->staleRemoved.count, 0) << "a dry run changes nothing";
  const auto summary = FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {});
  EXPECT_EQ(summary->staleRemoved.count, 2);
  EXPECT_EQ(summary->staleRemoved.bytes, 1024u);
  EXPECT_THAT(TemporaryFilesIn(temp.Path("dst")), IsEmpty());
  EXPECT_EQ(summary->bytesCopied, 1u);
}

// An unchanged collection is told by size and time alone: no source is opened.
TEST_F(FontSyncRunTest, UpdateLeavesWhatMatchesAndReplacesWhatDiffers) {
  WriteFile(Src("same.ttf"), "same");
  WriteFile(Src("newer.ttf"), "newer version");
  WriteFile(Src("new.ttf"), "new");
  FontListing(temp.Path("src"), view);
  ASSERT_EQ(TallyOf(FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {}))->total, 3);
  WriteFile(Src("newer.ttf"), "newer version 2");
  fs::remove(PathOf(Dst("new.ttf")));

  int opened = 0;
  {
    FailNthStep countOpens(FileStep::Open, 1000);
    const auto summary = FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"),
                                               {.policy = SyncPolicy::Ignore, .update = true});
    opened = countOpens.seen();
    EXPECT_EQ(summary->Count(RowState::UpToDate), 1);
    EXPECT_EQ(summary->tally.total, 2) << "up to date is not one of the window's five";
  }
  EXPECT_EQ(view.StatusOf("same.ttf"), "已是最新");
  EXPECT_EQ(view.StatusOf("newer.ttf"), "替换成功");
  EXPECT_EQ(view.StatusOf("new.ttf"), "复制成功");
  EXPECT_EQ(ReadFile(Dst("newer.ttf")), "newer version 2");
  EXPECT_EQ(opened, 2 * 2) << "two copies, each opening its source and its temporary; nothing for the match";

  // Same size and time, other bytes: only the content comparison sees it.
  WriteFile(Dst("same.ttf"), "SAME");
  fs::last_write_time(PathOf(Dst("same.ttf")), fs::last_write_time(PathOf(Src("same.ttf"))));
  FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {.update = true});
  EXPECT_EQ(view.StatusOf("same.ttf"), "已是最新");
  FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {.update = true, .checksum = true});
  EXPECT_EQ(view.StatusOf("same.ttf"), "替换成功");
  EXPECT_EQ(ReadFile(Dst("same.ttf")), "same");
  FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {.update = true, .checksum = true});
  EXPECT_THAT(view.Column(kStatusColumn), Each("已是最新"));
}

TEST_F(FontSyncRunTest, ADryRunSaysWhatWouldHappen) {
  WriteFile(Src("a.ttf"), "a");
  WriteFile(Src("b.ttf"), "b");
  WriteFile(Dst("a.ttf"), "old");
  FontListing(temp.Path("src"), view);
  auto summary = FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {.policy = SyncPolicy::Replace, .dryRun = true});
  EXPECT_EQ(view.StatusOf("a.ttf"), "将替换");
  EXPECT_EQ(view.StatusOf("b.ttf"), "将复制");
  EXPECT_EQ(summary->Count(RowState::WouldReplace), 1);
  // Counted as the run would count them done.
  EXPECT_EQ(summary->tally.Count(FileOutcome::ReplaceSucceeded), 1);
  EXPECT_EQ(summary->tally.Count(FileOutcome::CopySucceeded), 1);
  summary = FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {.policy = SyncPolicy::Ignore, .dryRun = true});
  EXPECT_EQ(view.StatusOf("a.ttf"), "将忽略");
  EXPECT_EQ(view.StatusOf("b.ttf"), "将复制");
  EXPECT_EQ(ReadFile(Dst("a.ttf")), "old");
  EXPECT_FALSE(EntryExists(Dst("b.ttf")));
}

}  // namespace
}  // namespace quorvane

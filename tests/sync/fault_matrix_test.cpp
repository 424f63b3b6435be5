// Whatever fails, and wherever: the source stays as it was, the target is its
// old self or the complete new file, and no temporary file is left behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "sync/files/fault_injection.h"
#include "sync/files/file_ops.h"
#include "sync/run/font_listing.h"
#include "sync/run/font_sync_run.h"
#include "test_support.h"

namespace quorvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace quorvane::testing;

struct Scenario {
  const char* name;
  bool targetExists;
};

class FaultMatrixTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(FaultMatrixTest, EveryFailingStepOfOneCopyLosesNothing) {
  const bool replace = GetParam().targetExists;
  // Several buffers' worth, so every read and write of the loop can be failed.
  const std::string sourceBytes(3 * (1 << 20) + 17, 's');
  const std::string oldBytes = "old font";
  int faultsInjected = 0;

  // A flush comes only before a replace: the data on disk before the old file goes.
  for (FileStep step : {FileStep::Open, FileStep::Read, FileStep::Write, FileStep::Close, FileStep::Flush,
                        FileStep::Rename, FileStep::Delete}) {
    for (int k = 1;; ++k) {
      TempFolder temp;
      const std::string source = temp.Path("src/a.ttf"), target = temp.Path("dst/a.ttf");
      WriteFile(source, sourceBytes);
      MakeFolder(temp.Path("dst"));
      if (replace) WriteFile(target, oldBytes);
      const auto sourceTime = fs::last_write_time(PathOf(source));

      RecordingView view;
      FontListing(temp.Path("src"), view);
      int seen = 0;
      {
        FailNthStep fault(step, k);
        FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {SyncPolicy::Replace});
        seen = fault.seen();
      }
      const std::string where = std::string(StepName(step)) + " #" + std::to_string(k);

      EXPECT_EQ(ReadFile(source), sourceBytes) << where;
      EXPECT_EQ(fs::last_write_time(PathOf(source)), sourceTime) << where;
      EXPECT_THAT(TemporaryFilesIn(temp.Path("dst")), IsEmpty()) << where;
      if (seen < k) {  // the step came fewer than k times: nothing was failed
        EXPECT_EQ(ReadFile(target), sourceBytes) << where;
        EXPECT_THAT(view.Column(kStatusColumn), ElementsAre(replace ? "替换成功" : "复制成功")) << where;
        break;
      }
      ++faultsInjected;
      EXPECT_THAT(view.Column(kStatusColumn), ElementsAre(replace ? "替换失败" : "复制失败")) << where;
      // The row says which step failed, with the code the system gave.
      EXPECT_EQ(view.reasons.at(0), (FileError{step, kIoErrorCode})) << where;
      if (replace) {
        EXPECT_EQ(ReadFile(target), oldBytes) << where;
      } else {
        EXPECT_FALSE(EntryExists(target)) << where;
      }
    }
  }
  EXPECT_GE(faultsInjected, replace ? 6 : 5) << "open, read, write, close and rename come in every copy, "
                                                  "a flush in every replace";
}

INSTANTIATE_TEST_SUITE_P(CopyAndReplace, FaultMatrixTest,
                         ::testing::Values(Scenario{"Copy", false}, Scenario{"Replace", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A full disk, told by the seam as the system would tell it, reaches the view
// with the system's own words for it; the other rows keep their own outcomes.
TEST(FaultReasonTest, AFullDiskReachesTheViewWithItsReason) {
  TempFolder temp;
  WriteFile(temp.Path("src/a.ttf"), std::string(2 << 20, 'a'));
  WriteFile(temp.Path("src/b.otf"), "b");
  MakeFolder(temp.Path("dst"));
  RecordingView view;
  FontListing(temp.Path("src"), view);
  {
    FailNthStep fault(FileStep::Write, 1, kDiskFullCode);
    FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {SyncPolicy::Replace});
  }
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("复制失败", "复制成功"));
  ASSERT_TRUE(view.reasons.at(0).has_value());
  EXPECT_EQ(view.reasons[0]->step, FileStep::Write);
  EXPECT_EQ(ReasonText(*view.reasons[0]), SystemErrorText(kDiskFullCode));
  EXPECT_NE(ReasonText(*view.reasons[0]), SystemErrorText(kAccessDeniedCode));
  EXPECT_FALSE(view.reasons.at(1).has_value());
  EXPECT_THAT(TemporaryFilesIn(temp.Path("dst")), IsEmpty());
}

class EdgeFolderTest : public ::testing::Test {
 protected:
  TempFolder temp;
  RecordingView view;
};

TEST_F(EdgeFolderTest, SourceFolderAsTargetChangesNothing) {
  WriteFile(temp.Path("fonts/a.ttf"), "a");
  WriteFile(temp.Path("fonts/sub/b.ttf"), "b");
  FontListing(temp.Path("fonts"), view);
  FontSyncRun(view).Run(temp.Path("fonts"), temp.Path("fonts"), {SyncPolicy::Ignore});
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("同名忽略", "复制成功"));
  FontSyncRun(view).Run(temp.Path("fonts"), temp.Path("fonts"), {SyncPolicy::Replace});
  // a.ttf would be copied onto itself; sub/b.ttf replaces the copy the first run made.
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("替换失败", "替换成功"));
  EXPECT_EQ(ReadFile(temp.Path("fonts/a.ttf")), "a");
  EXPECT_EQ(ReadFile(temp.Path("fonts/sub/b.ttf")), "b");
  EXPECT_THAT(TemporaryFilesIn(temp.Path("fonts")), IsEmpty());
}

TEST_F(EdgeFolderTest, ATargetInsideTheSourceTakesEachListedFileOnce) {
  WriteFile(temp.Path("fonts/a.ttf"), "a");
  WriteFile(temp.Path("fonts/b.otf"), "b");
  MakeFolder(temp.Path("fonts/out"));
  FontListing(temp.Path("fonts"), view);
  // A font that reaches the target after the listing: a run that looked at the source again would take it.
  WriteFile(temp.Path("fonts/out/late.ttf"), "late");
  const auto tally = FontSyncRun(view).Run(temp.Path("fonts"), temp.Path("fonts/out"), {SyncPolicy::Replace});
  EXPECT_EQ(tally->tally.total, 2);
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("复制成功", "复制成功"));
  EXPECT_EQ(ReadFile(temp.Path("fonts/out/a.ttf")), "a");
  EXPECT_EQ(ReadFile(temp.Path("fonts/out/b.otf")), "b");
  EXPECT_EQ(ReadFile(temp.Path("fonts/out/late.ttf")), "late");
  EXPECT_EQ(ReadFile(temp.Path("fonts/a.ttf")), "a");
}

TEST_F(EdgeFolderTest, AMissingFolderOrAFileAsTargetFailsEveryCopyAndStaysAsItWas) {
  WriteFile(temp.Path("src/a.ttf"), "a");
  WriteFile(temp.Path("src/b.fon"), "b");
  WriteFile(temp.Path("not-a-folder"), "keep me");
  FontListing(temp.Path("src"), view);
  for (const char* target : {"missing", "not-a-folder"}) {
    const auto summary = FontSyncRun(view).Run(temp.Path("src"), temp.Path(target), {SyncPolicy::Replace});
    EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("复制失败", "复制失败")) << target;
    EXPECT_EQ(summary->tally.Count(FileOutcome::CopyFailed), 2) << target;
  }
  EXPECT_FALSE(FileExists(temp.Path("missing")));
  EXPECT_EQ(ReadFile(temp.Path("not-a-folder")), "keep me");
}

TEST_F(EdgeFolderTest, AFileOrMissingFolderAsSourceListsNothing) {
  WriteFile(temp.Path("a.ttf"), "a");
  EXPECT_EQ(FontListing(temp.Path("a.ttf"), view).added, 0);
  EXPECT_EQ(FontListing(temp.Path("missing"), view).added, 0);
#ifdef _WIN32
  EXPECT_EQ(FontListing("\\\\no-such-server.invalid\\share", view).added, 0);
#else
  EXPECT_EQ(FontListing("//no-such-server.invalid/share", view).added, 0);
#endif
  EXPECT_THAT(view.rows, IsEmpty());
  EXPECT_THAT(view.messages, IsEmpty());
}

TEST_F(EdgeFolderTest, ARelativeSourceIsTakenFromTheCurrentFolder) {
  WriteFile(temp.Path("src/a.ttf"), "a");
  MakeFolder(temp.Path("dst"));
  const fs::path before = fs::current_path();
  fs::current_path(temp.Root());
  FontListing("src", view);
  const auto tally = FontSyncRun(view).Run("src", "dst", {});
  fs::current_path(before);
  EXPECT_EQ(tally->tally.Count(FileOutcome::CopySucceeded), 1);
  EXPECT_EQ(ReadFile(temp.Path("dst/a.ttf")), "a");
}

TEST_F(EdgeFolderTest, PathsLongerThanMaxPathWork) {
  std::string deep = "src";
  while (temp.Path(deep).size() < 300) deep += "/" + std::string(40, 'd');
  WriteFile(temp.Path(deep + "/long.ttf"), "long");
  std::string deepTarget = "dst";
  while (temp.Path(deepTarget).size() < 300) deepTarget += "/" + std::string(40, 't');
  MakeFolder(temp.Path(deepTarget));

  FontListing(temp.Path("src"), view);
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_GT(view.rows[0][kPathColumn].size(), 300u);
  FontSyncRun(view).Run(temp.Path("src"), temp.Path(deepTarget), {});
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("复制成功"));
  EXPECT_EQ(ReadFile(temp.Path(deepTarget + "/long.ttf")), "long");
  EXPECT_EQ(FileSize(temp.Path(deepTarget + "/long.ttf")), 4);
}

TEST_F(EdgeFolderTest, NamesInAnyScriptAreListedAndCopied) {
  const std::vector<std::string> names = {"宋体 常规.ttf", "Шрифт.otf", "emoji 🎨.ttf", "with  spaces .fon"};
  for (const auto& name : names) WriteFile(temp.Path("src/" + name), name);
  MakeFolder(temp.Path("dst"));
  FontListing(temp.Path("src"), view);
  EXPECT_EQ(view.rows.size(), names.size());
  const auto tally = FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {});
  EXPECT_EQ(tally->tally.Count(FileOutcome::CopySucceeded), 4);
  for (const auto& name : names) EXPECT_EQ(ReadFile(temp.Path("dst/" + name)), name);
}

TEST_F(EdgeFolderTest, AHundredThousandEntriesAreListed) {
#ifdef _WIN32
  // Wine looks names up without regard to case by scanning the folder, so making
  // n files costs n squared; the Windows listing gets a twentieth of the entries.
  constexpr int kEntries = 5000;
#else
  constexpr int kEntries = 100000;
#endif
  MakeFolder(temp.Path("big"));
  for (int i = 0; i < kEntries; ++i) {
    const fs::path path = temp.Root() / "big" / (std::to_string(i) + (i % 2 ? ".ttf" : ".txt"));
    ASSERT_TRUE(std::ofstream(path).good());
  }
  EXPECT_EQ(FontListing(temp.Path("big"), view).added, kEntries / 2);
  EXPECT_EQ(view.rows.back()[kNumberColumn], std::to_string(kEntries / 2));
}

}  // namespace
}  // namespace quorvane

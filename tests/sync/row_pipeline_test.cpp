// A row's whole way through the run, as every front end gets it: listed,
// decided, copied, then registered by the run's stage, and only then shown.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "sync/files/file_ops.h"
#include "sync/run/font_listing.h"
#include "sync/run/font_sync_run.h"
#include "sync/run/registration_stage.h"
#include "test_support.h"

#ifdef _WIN32
#include <windows.h>

#include "base/text.h"
#endif

namespace quorvane {
namespace {

using ::testing::ElementsAre;
using namespace quorvane::testing;

constexpr const char* kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

class RowPipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dejavu = NativePath(kDejaVu);
    ASSERT_TRUE(std::filesystem::exists(PathOf(dejavu))) << kDejaVu << ": install fonts-dejavu-core";
    MakeFolder(temp.Path("src"));
    MakeFolder(temp.Path("dst"));
    ASSERT_TRUE(CopyOneFile(dejavu, temp.Path("src/DejaVuSans.ttf")));
    WriteFile(temp.Path("src/notes.ttf"), "these are notes, not glyphs");
    WriteFile(temp.Path("src/locked.ttf"), "new");
    WriteFile(temp.Path("dst/locked.ttf"), "old");
    SetReadOnly(temp.Path("dst/locked.ttf"), true);
#ifndef _WIN32
    // fc-cache writes its cache for the target here, not in the user's.
    ::setenv("XDG_CACHE_HOME", temp.Path("cache").c_str(), 1);
#endif
    FontListing(temp.Path("src"), view);
  }

  void TearDown() override {
    SetReadOnly(temp.Path("dst/locked.ttf"), false);
#ifdef _WIN32
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
                       L"DejaVu Sans (TrueType)");
    RemoveFontResourceExW(Widen(temp.Path("dst/DejaVuSans.ttf")).c_str(), 0, nullptr);
#else
    ::unsetenv("XDG_CACHE_HOME");
#endif
  }

  const RowReport& ReportOf(const std::string& name) const { return view.ReportOf(name); }

  TempFolder temp;
  RecordingView view;
  FontRegistrar registrar{temp.Path("dst"), FontScope::User};
  RegistrationStage registration{registrar};
};

TEST_F(RowPipelineTest, EachFileIsCopiedThenRegisteredAndTheViewIsToldBoth) {
  FontSyncRun run(view);
  run.AddStage(registration);
  const auto summary = run.Run(temp.Path("src"), temp.Path("dst"), {.policy = SyncPolicy::Replace});
  ASSERT_TRUE(summary);

  const RowReport& font = ReportOf("DejaVuSans.ttf");
  EXPECT_EQ(font.state, RowState::CopySucceeded);
  ASSERT_TRUE(font.registration);
  EXPECT_EQ(font.registration->kind, RegistrationOutcome::Kind::Registered)
      << (font.registration->error ? ReasonText(*font.registration->error) : "");
  EXPECT_EQ(font.registration->valueName, "DejaVu Sans (TrueType)");

  const RowReport& notes = ReportOf("notes.ttf");
  EXPECT_EQ(notes.state, RowState::CopySucceeded) << "a file that is no font is still copied";
  ASSERT_TRUE(notes.registration);
  EXPECT_EQ(notes.registration->kind, RegistrationOutcome::Kind::NotAFont);

  const RowReport& locked = ReportOf("locked.ttf");
  EXPECT_EQ(locked.state, RowState::ReplaceFailed);
  EXPECT_FALSE(locked.registration) << "nothing went into the target, nothing is registered";
  EXPECT_EQ(ReadFile(temp.Path("dst/locked.ttf")), "old");

  // One report per row after its copy: the registration comes with the outcome, not after it.
  for (const auto& states : view.states) EXPECT_THAT(states, ElementsAre(RowState::Copying, ::testing::_));

  ASSERT_TRUE(summary->registration);
  EXPECT_EQ(summary->registration->registered, 1);
  EXPECT_EQ(summary->registration->notAFont, 1);
  EXPECT_EQ(summary->registration->failed, 0);
  EXPECT_TRUE(summary->registration->finish.notified) << "told once, at the end";
  ASSERT_EQ(view.summaries.size(), 1u);
  ASSERT_TRUE(view.summaries[0].registration) << "the view's summary holds what the stages did";
  EXPECT_EQ(view.summaries[0].registration->registered, 1);
}

TEST_F(RowPipelineTest, AStoppedRunStillTellsTheSystemOfWhatItRegistered) {
  // The font's row first, so that rows are left when it stops.
  std::stable_partition(view.rows.begin(), view.rows.end(), [](const auto& row) { return row[kNameColumn] == "DejaVuSans.ttf"; });
  FontSyncRun run(view);
  run.AddStage(registration);
  view.onEvents = [&] {
    if (ReportOf("DejaVuSans.ttf").registration) run.RequestStop();
  };
  const auto summary = run.Run(temp.Path("src"), temp.Path("dst"), {.policy = SyncPolicy::Replace});
  ASSERT_TRUE(summary);
  EXPECT_TRUE(summary->stopped);
  EXPECT_EQ(summary->unhandled, 2);
  ASSERT_TRUE(summary->registration);
  EXPECT_EQ(summary->registration->registered, 1);
  EXPECT_TRUE(summary->registration->finish.notified);
}

TEST_F(RowPipelineTest, AWindowRunHasNoStagesAndRegistersNothing) {
  const auto summary = FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {.policy = SyncPolicy::Replace});
  ASSERT_TRUE(summary);
  EXPECT_FALSE(summary->registration);
  EXPECT_FALSE(ReportOf("DejaVuSans.ttf").registration);
  EXPECT_EQ(ReportOf("DejaVuSans.ttf").state, RowState::CopySucceeded);
}

}  // namespace
}  // namespace quorvane

// Faults the system itself makes: files that other programs hold open.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/text.h"
#include "sync/file_ops.h"
#include "sync/font_listing.h"
#include "sync/font_sync_run.h"
#include "test_support.h"

namespace quorvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace quorvane::testing;

// Another program's handle that shares nothing, as the font cache holds fonts.
class ExclusiveHandle {
 public:
  explicit ExclusiveHandle(const std::string& path)
      : handle_(CreateFileW(Widen(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}
  ~ExclusiveHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  ExclusiveHandle(const ExclusiveHandle&) = delete;
  ExclusiveHandle& operator=(const ExclusiveHandle&) = delete;
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

TEST(RealFaultsTest, ATargetHeldOpenFailsToBeReplacedAndKeepsItsContent) {
  TempFolder temp;
  WriteFile(temp.Path("src/a.ttf"), "new");
  WriteFile(temp.Path("dst/a.ttf"), "in use");
  RecordingView view;
  FontListing(temp.Path("src"), view);
  {
    ExclusiveHandle holder(temp.Path("dst/a.ttf"));
    ASSERT_TRUE(holder.Valid());
    FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {SyncPolicy::Replace});
  }
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("替换失败"));
  EXPECT_EQ(ReadFile(temp.Path("dst/a.ttf")), "in use");
  EXPECT_THAT(TemporaryFilesIn(temp.Path("dst")), IsEmpty());
}

TEST(RealFaultsTest, ASourceHeldOpenFailsItsRowOnly) {
  TempFolder temp;
  WriteFile(temp.Path("src/a.ttf"), "locked");
  WriteFile(temp.Path("src/b.ttf"), "free");
  MakeFolder(temp.Path("dst"));
  RecordingView view;
  FontListing(temp.Path("src"), view);
  const std::string locked = view.rows[0][kPathColumn];
  {
    ExclusiveHandle holder(locked);
    ASSERT_TRUE(holder.Valid());
    FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {});
  }
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("复制失败", "复制成功"));
  EXPECT_THAT(TemporaryFilesIn(temp.Path("dst")), IsEmpty());
  EXPECT_EQ(FileSize(locked), static_cast<std::int64_t>(ReadFile(locked).size()));
}

TEST(RealFaultsTest, HiddenAndSystemTargetsAreRefusedAsWindowsDoes) {
  TempFolder temp;
  WriteFile(temp.Path("src/a.ttf"), "new");
  for (DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
    WriteFile(temp.Path("dst/a.ttf"), "protected");
    SetFileAttributesW(Widen(temp.Path("dst/a.ttf")).c_str(), attribute);
    EXPECT_FALSE(CopyOneFile(temp.Path("src/a.ttf"), temp.Path("dst/a.ttf")));
    SetFileAttributesW(Widen(temp.Path("dst/a.ttf")).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadFile(temp.Path("dst/a.ttf")), "protected");
  }
}

}  // namespace
}  // namespace quorvane

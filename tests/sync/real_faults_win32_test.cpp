// Faults the system itself makes: files that other programs hold open.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

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

// The renames the system does at its next start, as the strings it keeps.
std::vector<std::wstring> PendingRenames() {
  HKEY key = nullptr;
  std::vector<std::wstring> strings;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return strings;
  }
  DWORD size = 0;
  if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                     &size);
    for (const wchar_t* at = data.c_str(); *at != 0; at += wcslen(at) + 1) strings.emplace_back(at);
  }
  RegCloseKey(key);
  return strings;
}

// A font the system holds is replaced at its next start, when asked and allowed.
TEST(RealFaultsTest, ATargetInUseIsReplacedAtTheNextStartWhenAsked) {
  TempFolder temp;
  WriteFile(temp.Path("src/a.ttf"), "new");
  WriteFile(temp.Path("dst/a.ttf"), "in use");
  CopyResult copied;
  {
    ExclusiveHandle holder(temp.Path("dst/a.ttf"));
    ASSERT_TRUE(holder.Valid());
    copied = CopyOneFile(temp.Path("src/a.ttf"), temp.Path("dst/a.ttf"), {.replaceAtRebootWhenInUse = true});
  }
  ASSERT_EQ(copied.status, CopyStatus::ReplacedAtReboot);
  EXPECT_EQ(ReadFile(temp.Path("dst/a.ttf")), "in use") << "replaced only at the next start";
  EXPECT_THAT(TemporaryFilesIn(temp.Path("dst")), IsEmpty()) << "no .tmp, which a clean-up would take";
  std::string pending;
  for (const auto& entry : fs::directory_iterator(PathOf(temp.Path("dst")))) {
    if (entry.path().extension() == ".pending") pending = Utf8Of(entry.path());
  }
  ASSERT_FALSE(pending.empty());
  EXPECT_EQ(ReadFile(pending), "new");
  const std::wstring pendingName = Widen(Utf8Of(PathOf(pending).filename()));
  const auto renames = PendingRenames();
  const auto from = std::ranges::find_if(renames, [&](const std::wstring& s) { return s.ends_with(pendingName); });
  ASSERT_NE(from, renames.end()) << "the system was told of the rename";
  ASSERT_NE(from + 1, renames.end());
  EXPECT_TRUE((from + 1)->ends_with(L"a.ttf")) << "onto the font in use";
  EXPECT_EQ((from + 1)->front(), L'!') << "replacing it";
  RemoveStaleTemporaries(temp.Path("dst"));
  EXPECT_TRUE(EntryExists(pending)) << "a waiting file is no leftover";
  fs::remove(PathOf(pending));
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

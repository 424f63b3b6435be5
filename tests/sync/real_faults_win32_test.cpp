// Faults the system itself makes: files that other programs hold open.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/text.h"
#include "sync/files/file_ops.h"
#include "sync/run/font_listing.h"
#include "sync/run/font_sync_run.h"
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

// The renames the system does at its next start, as the pairs of paths it keeps
// (a deletion's second path is empty, so the strings are split by length).
std::vector<std::pair<std::wstring, std::wstring>> RestartRenames() {
  std::vector<std::pair<std::wstring, std::wstring>> pairs;
  DWORD size = 0;
  constexpr const wchar_t* kKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                   &size) != ERROR_SUCCESS) {
    return pairs;
  }
  std::wstring data(size / sizeof(wchar_t), L'\0');
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, data.data(),
                   &size) != ERROR_SUCCESS) {
    return pairs;
  }
  std::vector<std::wstring> strings;
  for (size_t at = 0; at < data.size();) {
    const size_t end = std::min(data.find(L'\0', at), data.size());
    strings.push_back(data.substr(at, end - at));
    at = end + 1;
  }
  for (size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2) pairs.emplace_back(strings[i], strings[i + 1]);
  return pairs;
}

// The restart's renames onto `target`, by their first path.
std::vector<std::wstring> RenamesOnto(const std::string& target) {
  std::vector<std::wstring> from;
  for (const auto& [first, second] : RestartRenames()) {
    if (second.ends_with(Widen(target))) from.push_back(first);
  }
  return from;
}

// The copies waiting in `folder` for the restart, with what each holds.
std::vector<std::pair<std::string, std::string>> WaitingCopies(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> waiting;
  for (const auto& entry : fs::directory_iterator(PathOf(folder))) {
    if (entry.path().extension() == ".pending") waiting.emplace_back(Utf8Of(entry.path()), ReadFile(Utf8Of(entry.path())));
  }
  return waiting;
}

CopyResult CopyWhileHeld(const std::string& source, const std::string& target) {
  ExclusiveHandle holder(target);
  EXPECT_TRUE(holder.Valid());
  return CopyOneFile(source, target, {.replaceAtRebootWhenInUse = true});
}

// A font the system holds is replaced at its next start, when asked and
// allowed, by the last version scheduled only; a run that puts a version in
// place, leaves the font or removes it takes back what waits.
TEST(RealFaultsTest, ATargetInUseIsReplacedAtTheNextStartByOneWaitingCopyAtMost) {
  TempFolder temp;
  const std::string source = temp.Path("src/a.ttf"), target = temp.Path("dst/a.ttf");
  WriteFile(target, "in use");
  for (const char* version : {"version 2", "version 4"}) {
    WriteFile(source, version);
    ASSERT_EQ(CopyWhileHeld(source, target).status, CopyStatus::ReplacedAtReboot);
  }
  EXPECT_EQ(ReadFile(target), "in use") << "replaced only at the next start";
  EXPECT_THAT(TemporaryFilesIn(temp.Path("dst")), IsEmpty()) << "no .tmp, which a clean-up would take";
  const auto waiting = WaitingCopies(temp.Path("dst"));
  ASSERT_EQ(waiting.size(), 1u) << "the later schedule replaced the earlier";
  EXPECT_EQ(waiting[0].second, "version 4");
  const std::wstring waitingName = Widen(Utf8Of(PathOf(waiting[0].first).filename()));
  const auto onto = RenamesOnto(target);
  ASSERT_EQ(onto.size(), 1u);
  EXPECT_TRUE(onto[0].ends_with(waitingName)) << "the system was told of the rename";
  const auto renames = RestartRenames();
  const auto pair = std::ranges::find(renames, onto[0], &std::pair<std::wstring, std::wstring>::first);
  EXPECT_EQ(pair->second.front(), L'!') << "replacing the font in use";

  // An orphan no rename names goes as a stale temporary; the scheduled copy stays.
  const std::string orphan = temp.Path("dst/.quorvane-0123456789abcdef.pending");
  WriteFile(orphan, "left by a withdrawal without the right to change the list");
  EXPECT_EQ(RemoveStaleTemporaries(temp.Path("dst")).count, 1);
  EXPECT_FALSE(EntryExists(orphan));
  EXPECT_TRUE(EntryExists(waiting[0].first)) << "a scheduled copy is no leftover";

  // A rollback put in place directly: version 4 must not return at the restart.
  WriteFile(source, "version 3");
  ASSERT_EQ(CopyOneFile(source, target, {.replaceAtRebootWhenInUse = true}).status, CopyStatus::Replaced);
  EXPECT_THAT(WaitingCopies(temp.Path("dst")), IsEmpty());
  EXPECT_THAT(RenamesOnto(target), IsEmpty());

  // A run that leaves the font, or removes it, takes back what waits too.
  for (const bool removing : {false, true}) {
    WriteFile(source, "version 5");
    ASSERT_EQ(CopyWhileHeld(source, target).status, CopyStatus::ReplacedAtReboot);
    ASSERT_THAT(RenamesOnto(target), ::testing::SizeIs(1));
    if (removing) {
      ASSERT_EQ(RemoveFile(target, true).status, RemoveStatus::Removed);
    } else {
      WithdrawReplaceAtRestart(target);
    }
    EXPECT_THAT(WaitingCopies(temp.Path("dst")), IsEmpty()) << removing;
    EXPECT_THAT(RenamesOnto(target), IsEmpty()) << removing;
  }
}

// A hold that ends within the second the replace or removal is tried for (a
// scan's, the font cache's) leaves nothing for the restart; one that lasts does.
TEST(RealFaultsTest, ATargetHeldForAMomentIsReplacedOrRemovedDirectly) {
  TempFolder temp;
  const std::string source = temp.Path("src/a.ttf"), target = temp.Path("dst/a.ttf");
  WriteFile(source, "new");
  WriteFile(target, "in use");
  const auto heldFor300Ms = [&](auto operation) {
    auto holder = std::make_unique<ExclusiveHandle>(target);
    EXPECT_TRUE(holder->Valid());
    std::thread release([&] {
      Sleep(300);
      holder.reset();
    });
    const auto result = operation();
    release.join();
    return result;
  };
  const CopyResult copied =
      heldFor300Ms([&] { return CopyOneFile(source, target, {.replaceAtRebootWhenInUse = true}); });
  EXPECT_EQ(copied.status, CopyStatus::Replaced);
  EXPECT_EQ(ReadFile(target), "new");
  EXPECT_THAT(WaitingCopies(temp.Path("dst")), IsEmpty());
  EXPECT_THAT(RenamesOnto(target), IsEmpty());

  EXPECT_EQ(heldFor300Ms([&] { return RemoveFile(target, true); }).status, RemoveStatus::Removed);
  EXPECT_FALSE(EntryExists(target));

  WriteFile(target, "in use");
  {
    ExclusiveHandle holder(target);
    ASSERT_TRUE(holder.Valid());
    EXPECT_EQ(RemoveFile(target, true).status, RemoveStatus::AtReboot);
  }
  EXPECT_TRUE(EntryExists(target)) << "removed only at the next start";
  EXPECT_TRUE(std::ranges::any_of(RestartRenames(), [&](const auto& rename) {
    return rename.first.ends_with(Widen(target)) && rename.second.empty();
  }));
}

// Only a file held open waits for the restart: one this account may not
// replace or remove (the system's own fonts) fails at once with that reason.
TEST(RealFaultsTest, ATargetThatMayNotBeReplacedFailsAndNothingWaits) {
  TempFolder temp;
  const std::string source = temp.Path("src/a.ttf"), target = temp.Path("dst/a.ttf");
  WriteFile(source, "new");
  WriteFile(target, "protected");
  {
    FailNthStep denied(FileStep::Rename, 2, kAccessDeniedCode);  // the first rename only finds the name taken
    const CopyResult copied = CopyOneFile(source, target, {.replaceAtRebootWhenInUse = true});
    EXPECT_EQ(copied.status, CopyStatus::Failed);
    ASSERT_TRUE(copied.error);
    EXPECT_EQ(copied.error->code, kAccessDeniedCode);
  }
  {
    FailNthStep denied(FileStep::Delete, 1, kAccessDeniedCode);
    const RemoveResult removed = RemoveFile(target, true);
    EXPECT_EQ(removed.status, RemoveStatus::Failed);
    ASSERT_TRUE(removed.error);
    EXPECT_EQ(removed.error->code, kAccessDeniedCode);
  }
  EXPECT_EQ(ReadFile(target), "protected");
  EXPECT_THAT(WaitingCopies(temp.Path("dst")), IsEmpty());
  EXPECT_THAT(TemporaryFilesIn(temp.Path("dst")), IsEmpty());
  EXPECT_TRUE(std::ranges::none_of(RestartRenames(), [&](const auto& rename) {
    return rename.first.ends_with(Widen(target)) || rename.second.ends_with(Widen(target));
  })) << "nothing scheduled for the restart";
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
  EXPECT_EQ(ReadFile(locked), "locked");
  EXPECT_FALSE(EntryExists(temp.Path("dst/a.ttf")));
  EXPECT_EQ(ReadFile(temp.Path("dst/b.ttf")), "free");
}

// Hidden and system targets are refused as Windows refuses them; a copy never
// takes those bits, or read-only, from a file on the share.
TEST(RealFaultsTest, HiddenAndSystemTargetsAreRefusedAndNoCopyTakesThoseBits) {
  TempFolder temp;
  WriteFile(temp.Path("src/a.ttf"), "new");
  for (DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
    WriteFile(temp.Path("dst/a.ttf"), "protected");
    SetFileAttributesW(Widen(temp.Path("dst/a.ttf")).c_str(), attribute);
    EXPECT_FALSE(CopyOneFile(temp.Path("src/a.ttf"), temp.Path("dst/a.ttf")));
    SetFileAttributesW(Widen(temp.Path("dst/a.ttf")).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadFile(temp.Path("dst/a.ttf")), "protected");
  }
  constexpr DWORD kShareBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  SetFileAttributesW(Widen(temp.Path("src/a.ttf")).c_str(), kShareBits);
  ASSERT_TRUE(CopyOneFile(temp.Path("src/a.ttf"), temp.Path("dst/b.ttf")));
  const DWORD copied = GetFileAttributesW(Widen(temp.Path("dst/b.ttf")).c_str());
  SetFileAttributesW(Widen(temp.Path("src/a.ttf")).c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(copied, INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(copied & kShareBits, 0u);
}

}  // namespace
}  // namespace quorvane

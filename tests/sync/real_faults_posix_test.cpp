// Faults the system itself makes: a full disk, permissions as an ordinary user,
// names that look like patterns. Each runs in a child process where it needs a
// mount namespace or another user.
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sync/files/file_ops.h"
#include "sync/run/font_listing.h"
#include "sync/run/font_sync_run.h"
#include "test_support.h"

namespace quorvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace quorvane::testing;

constexpr int kSkipped = 77;
constexpr uid_t kNobody = 65534;

// Runs `body` in a child; its result is the child's exit status.
int InChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// The modes below refuse the owner too, so the refusals hold for the account
// running the tests, and for nobody when the tests run as root; only root
// could pass them, and the children never run as root.
bool BecomeNobody() {
  if (::geteuid() != 0) return true;  // already an ordinary user
  return ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

TEST(RealFaultsTest, AFullDiskKeepsTheOldTargetAndLeavesNoTemporary) {
  TempFolder temp;
  WriteFile(temp.Path("src/big.ttc"), std::string(3 << 20, 'b'));
  MakeFolder(temp.Path("small"));
  const std::string source = temp.Path("src/big.ttc"), mount = temp.Path("small");
  const int result = InChild([&] {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=1m") != 0) {
      return kSkipped;
    }
    WriteFile(mount + "/big.ttc", "old");
    const CopyResult copied = CopyOneFile(source, mount + "/big.ttc");
    const bool intact = ReadFile(mount + "/big.ttc") == "old" && TemporaryFilesIn(mount).empty();
    const bool saysWhy = copied.error && copied.error->code == ENOSPC && copied.error->step == FileStep::Write;
    return (!copied && intact ? 0 : 1) | (saysWhy ? 0 : 2);
  });
  if (result == kSkipped) GTEST_SKIP() << "needs root: a private 1 MB tmpfs cannot be mounted here (unshare -m)";
  EXPECT_EQ(result, 0) << "bit 1: the copy must fail on the full disk and leave the old target alone; "
                          "bit 2: it must say the write failed for want of space";
  EXPECT_EQ(FileSize(source), 3 << 20);
}

TEST(RealFaultsTest, PermissionsHoldForAnOrdinaryUser) {
  TempFolder temp;
  fs::permissions(temp.Root(), fs::perms::all);
  WriteFile(temp.Path("src/a.ttf"), "new");
  WriteFile(temp.Path("open/a.ttf"), "read-only");
  SetReadOnly(temp.Path("open/a.ttf"), true);
  WriteFile(temp.Path("closed/a.ttf"), "writable file, closed folder");
  fs::permissions(PathOf(temp.Path("open")), fs::perms::all);
  fs::permissions(PathOf(temp.Path("closed/a.ttf")), fs::perms::all);
  const fs::perms readOnly = fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                             fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec;
  fs::permissions(PathOf(temp.Path("closed")), readOnly);
  WriteFile(temp.Path("secret/a.ttf"), "unreadable");
  fs::permissions(PathOf(temp.Path("secret/a.ttf")), fs::perms::none);

  const int result = InChild([&] {
    if (!BecomeNobody()) return kSkipped;
    int failures = 0;
    failures += CopyOneFile(temp.Path("src/a.ttf"), temp.Path("open/a.ttf")) ? 1 : 0;
    failures += CopyOneFile(temp.Path("src/a.ttf"), temp.Path("closed/a.ttf")) ? 2 : 0;
    failures += CopyOneFile(temp.Path("secret/a.ttf"), temp.Path("open/b.ttf")) ? 4 : 0;
    return failures;
  });
  if (result == kSkipped) GTEST_SKIP() << "cannot switch to the user nobody";
  EXPECT_EQ(result, 0) << "bit 1: read-only target, 2: closed folder, 4: unreadable source";
  SetReadOnly(temp.Path("open/a.ttf"), false);
  EXPECT_EQ(ReadFile(temp.Path("open/a.ttf")), "read-only");
  EXPECT_EQ(ReadFile(temp.Path("closed/a.ttf")), "writable file, closed folder");
  EXPECT_FALSE(EntryExists(temp.Path("open/b.ttf")));
  EXPECT_THAT(TemporaryFilesIn(temp.Path("open")), IsEmpty());
  fs::permissions(PathOf(temp.Path("closed")), fs::perms::owner_all);
}

// What an ordinary user is refused reaches the view with the system's reason.
TEST(RealFaultsTest, AnAccessDeniedReachesTheViewWithItsReason) {
  TempFolder temp;
  fs::permissions(temp.Root(), fs::perms::all);
  WriteFile(temp.Path("src/a.ttf"), "new");
  MakeFolder(temp.Path("closed"));
  fs::permissions(PathOf(temp.Path("src")), fs::perms::all);
  fs::permissions(PathOf(temp.Path("src/a.ttf")), fs::perms::all);
  fs::permissions(PathOf(temp.Path("closed")), fs::perms::owner_read | fs::perms::owner_exec |
                                                    fs::perms::others_read | fs::perms::others_exec);
  const int result = InChild([&] {
    if (!BecomeNobody()) return kSkipped;
    RecordingView view;
    FontListing(temp.Path("src"), view);
    FontSyncRun(view).Run(temp.Path("src"), temp.Path("closed"), {SyncPolicy::Replace});
    const auto& reason = view.reasons.at(0);
    int bits = view.Column(kStatusColumn) == std::vector<std::string>{"复制失败"} ? 0 : 1;
    if (!reason || reason->code != EACCES || reason->step != FileStep::Open) bits |= 2;
    if (!reason || ReasonText(*reason, Language::English) != "Permission denied") bits |= 4;
    return bits;
  });
  if (result == kSkipped) GTEST_SKIP() << "cannot switch to the user nobody";
  EXPECT_EQ(result, 0) << "bit 1: row not 复制失败, 2: reason not EACCES at open, 4: reason text wrong";
  fs::permissions(PathOf(temp.Path("closed")), fs::perms::owner_all);
}

// A sub-folder an ordinary user may not read is named with the reason; the
// rest of the tree is listed.
TEST(RealFaultsTest, AnUnreadableSubFolderIsNamedAndTheRestListed) {
  TempFolder temp;
  fs::permissions(temp.Root(), fs::perms::all);
  WriteFile(temp.Path("src/a.ttf"), "a");
  WriteFile(temp.Path("src/locked/b.ttf"), "b");
  WriteFile(temp.Path("src/open/c.ttf"), "c");
  for (const char* folder : {"src", "src/open"}) fs::permissions(PathOf(temp.Path(folder)), fs::perms::all);
  fs::permissions(PathOf(temp.Path("src/locked")), fs::perms::none);
  const std::string locked = temp.Path("src/locked");
  const int result = InChild([&] {
    if (!BecomeNobody()) return kSkipped;
    RecordingView view;
    const ListingResult listed = FontListing(temp.Path("src"), view);
    int bits = listed.added == 2 ? 0 : 1;
    if (listed.unreadable.size() != 1 || listed.unreadable[0].path != locked) return bits | 2;
    if (listed.unreadable[0].reason.code != EACCES) bits |= 4;
    return bits;
  });
  if (result == kSkipped) GTEST_SKIP() << "cannot switch to the user nobody";
  EXPECT_EQ(result, 0) << "bit 1: not two rows, 2: the locked folder not named, 4: reason not EACCES";
  fs::permissions(PathOf(locked), fs::perms::owner_all);
}

TEST(RealFaultsTest, ANameThatLooksLikeAPatternIsJustAName) {
  TempFolder temp;
  WriteFile(temp.Path("src/*.ttf"), "star");
  WriteFile(temp.Path("dst/a.ttf"), "a");
  RecordingView view;
  FontListing(temp.Path("src"), view);
  FontSyncRun(view).Run(temp.Path("src"), temp.Path("dst"), {SyncPolicy::Replace});
  EXPECT_THAT(view.Column(kStatusColumn), ElementsAre("复制成功")) << "a.ttf is no same-name file of *.ttf";
  EXPECT_EQ(ReadFile(temp.Path("dst/*.ttf")), "star");
  EXPECT_EQ(ReadFile(temp.Path("dst/a.ttf")), "a");
}

}  // namespace
}  // namespace quorvane

#include "sync/files/file_ops.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "held_file.h"
#include "sync/files/fault_injection.h"
#include "test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace quorvane {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using namespace quorvane::testing;

std::vector<std::string> SearchAll(const std::string& pattern, AttributeMask mask, bool filesOnly) {
  DirectorySearch search;
  std::vector<std::string> names;
  for (std::string name = search.Next(pattern, mask, filesOnly); !name.empty(); name = search.Next("", mask, filesOnly)) {
    names.push_back(name);
  }
  EXPECT_FALSE(search.IsOpen()) << "an exhausted search stays open";
  return names;
}

TEST(PathsTest, JoinPathUsesExactlyOneSeparator) {
  const std::string sep(1, kPathSeparator);
  EXPECT_EQ(JoinPath("fonts", "a.ttf"), "fonts" + sep + "a.ttf");
  EXPECT_EQ(JoinPath("fonts" + sep, "a.ttf"), "fonts" + sep + "a.ttf");
  EXPECT_EQ(JoinPath("", "a.ttf"), "a.ttf");
#ifdef _WIN32
  EXPECT_EQ(JoinPath("D:\\", "a.ttf"), "D:\\a.ttf");
#endif
}

TEST(PathsTest, OnlyOurOwnTemporaryNamesAreOurs) {
  EXPECT_TRUE(IsTemporaryName(".quorvane-0123456789abcdef.tmp"));
  for (const char* other : {".quorvane-0123456789ABCDEF.tmp", ".quorvane-0123456789abcde.tmp",
                            ".quorvane-0123456789abcdef0.tmp", "quorvane-0123456789abcdef.tmp",
                            ".quorvane-0123456789abcdef.TMP", ".quorvane-0123456789abcdef.ttf", ""}) {
    EXPECT_FALSE(IsTemporaryName(other)) << other;
  }
}

TEST(PathsTest, PatternsMatchLongNamesWithoutRegardToCase) {
  EXPECT_TRUE(MatchesPattern("a.ttf", "*.ttf"));
  EXPECT_TRUE(MatchesPattern("A.TTF", "*.ttf"));
  EXPECT_TRUE(MatchesPattern("my.font.Ttf", "*.ttf"));
  EXPECT_FALSE(MatchesPattern("a.ttfx", "*.ttf"));
  EXPECT_FALSE(MatchesPattern("attf", "*.ttf"));
  EXPECT_TRUE(MatchesPattern("ab", "a?"));
  EXPECT_FALSE(MatchesPattern("a", "a?"));
  EXPECT_TRUE(MatchesPattern("anything", "*"));
  EXPECT_TRUE(MatchesPattern("no-dot", "*.*")) << "*.* means every entry, as on Windows";
  EXPECT_TRUE(MatchesPattern("x.y", "*.*"));
  EXPECT_TRUE(MatchesPattern(std::string(200, 'a') + "b", "*a*a*a*a*a*a*a*b"));
  EXPECT_FALSE(MatchesPattern(std::string(200, 'a'), "*a*a*a*a*a*a*a*b"));
}

class DirectorySearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(temp.Path("a.ttf"), "a");
    WriteFile(temp.Path("B.TTF"), "b");
    WriteFile(temp.Path("a.ttfx"), "x");  // has the short name A~1.TTF on Windows
    MakeFolder(temp.Path("sub"));
  }
  TempFolder temp;
};

TEST_F(DirectorySearchTest, FindsFontsByLongNameOnly) {
  EXPECT_THAT(SearchAll(temp.Path("*.ttf"), 0, true), UnorderedElementsAre("a.ttf", "B.TTF"));
}

TEST_F(DirectorySearchTest, FilesOnlyNeverReturnsFolders) {
  EXPECT_THAT(SearchAll(temp.Path("*.*"), 0, true), UnorderedElementsAre("a.ttf", "B.TTF", "a.ttfx"));
}

TEST_F(DirectorySearchTest, DirectoryMaskReturnsDotEntriesAndSubFolders) {
  EXPECT_THAT(SearchAll(temp.Path("*.*"), kAttributeDirectory, false), UnorderedElementsAre(".", "..", "sub"));
}

TEST_F(DirectorySearchTest, MaskReducingToZeroAcceptsOnlyAttributeWordZero) {
  // 0x80 is outside the five bits that count, so only entries without any
  // attribute would pass, and files and folders always have one.
  EXPECT_THAT(SearchAll(temp.Path("*.*"), kAttributeNormal, false), IsEmpty());
}

TEST_F(DirectorySearchTest, NoMatchLeavesNoSearchOpen) {
  DirectorySearch search;
  EXPECT_EQ(search.Next(temp.Path("*.otf"), 0, true), "");
  EXPECT_FALSE(search.IsOpen());
  EXPECT_EQ(search.Next("", 0, true), "");
  EXPECT_EQ(search.Next(temp.Path("missing") + kPathSeparator + "*.ttf", 0, true), "");
}

TEST_F(DirectorySearchTest, NewPatternRestartsAndCloseEnds) {
  DirectorySearch search;
  EXPECT_FALSE(search.Next(temp.Path("*.ttf"), 0, true).empty());
  EXPECT_EQ(search.Next(temp.Path("a.ttfx"), 0, true), "a.ttfx");
  search.Close();
  EXPECT_FALSE(search.IsOpen());
  EXPECT_EQ(search.Next("", 0, true), "");
}

TEST_F(DirectorySearchTest, ExistenceAndSizeFollowDirectoryEntries) {
  EXPECT_TRUE(FileExists(temp.Path("a.ttf")));
  EXPECT_TRUE(FileExists(temp.Path("sub"))) << "a folder is an entry too";
  EXPECT_TRUE(FileExists(temp.Path("*.ttfx")));
  EXPECT_FALSE(FileExists(temp.Path("*.otf")));
  EXPECT_FALSE(FileExists(temp.Path("missing.ttf")));
  EXPECT_FALSE(FileExists(""));

  EXPECT_EQ(FileSize(temp.Path("a.ttf")), 1);
  EXPECT_EQ(FileSize(temp.Path("*.ttfx")), 1);
  EXPECT_EQ(FileSize(temp.Path("missing.ttf")), -1);
  EXPECT_TRUE(IsFolder(temp.Path("sub")));
  EXPECT_FALSE(IsFolder(temp.Path("a.ttf")));
}

TEST(FileSizeTest, GivesTheFullSizeOfFilesBeyondFourGigabytes) {
  TempFolder temp;
  const std::string path = temp.Path("huge.ttc");
  WriteFile(path, "");
  std::error_code error;
  fs::resize_file(PathOf(path), (std::uintmax_t{5} << 30) + 7, error);  // sparse where the file system allows
  if (error) GTEST_SKIP() << "cannot make a 5 GiB file here: " << error.message();
  EXPECT_EQ(FileSize(path), (std::int64_t{5} << 30) + 7);
}

TEST(ListFolderTest, ListsEntriesWithTheirKindsWithoutDotEntries) {
  TempFolder temp;
  WriteFile(temp.Path("a.ttf"), "a");
  MakeFolder(temp.Path("sub"));
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(ListFolder(temp.Path(), entries));
  std::vector<std::pair<std::string, EntryKind>> seen;
  for (const auto& entry : entries) seen.emplace_back(entry.name, entry.kind);
  EXPECT_THAT(seen, UnorderedElementsAre(std::pair{std::string("a.ttf"), EntryKind::File},
                                         std::pair{std::string("sub"), EntryKind::Folder}));
  EXPECT_FALSE(ListFolder(temp.Path("missing"), entries));
}

class CopyOneFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeFolder(temp.Path("src"));
    MakeFolder(temp.Path("dst"));
    source = temp.Path("src/a.ttf");
    target = temp.Path("dst/a.ttf");
    WriteFile(source, "new font");
  }
  void ExpectNoTemporaries() { EXPECT_THAT(TemporaryFilesIn(temp.Path("dst")), IsEmpty()); }

  TempFolder temp;
  std::string source, target;
};

TEST_F(CopyOneFileTest, CreatesAndReplacesKeepingTheSourceTime) {
  const auto oldTime = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  fs::last_write_time(PathOf(source), oldTime);

  ASSERT_TRUE(CopyOneFile(source, target));
  EXPECT_EQ(ReadFile(target), "new font");
  EXPECT_EQ(fs::last_write_time(PathOf(target)), fs::last_write_time(PathOf(source)));
  EXPECT_LT(fs::last_write_time(PathOf(target)), oldTime + std::chrono::hours(1));

  WriteFile(source, "newer font");
  ASSERT_TRUE(CopyOneFile(source, target));
  EXPECT_EQ(ReadFile(target), "newer font");
  EXPECT_EQ(ReadFile(source), "newer font");
  ExpectNoTemporaries();
}

TEST_F(CopyOneFileTest, RefusesAReadOnlyTargetButNeverMakesOneFromAReadOnlySource) {
  WriteFile(target, "old font");
  SetReadOnly(target, true);
  EXPECT_FALSE(CopyOneFile(source, target));
  SetReadOnly(target, false);
  EXPECT_EQ(ReadFile(target), "old font");
  ExpectNoTemporaries();

  // A read-only file on the share gives a copy that the share's next version can still replace.
  const std::string copy = temp.Path("dst/b.ttf");
  SetReadOnly(source, true);
  ASSERT_TRUE(CopyOneFile(source, copy));
  EXPECT_NE(fs::status(PathOf(copy)).permissions() & fs::perms::owner_write, fs::perms::none);
  SetReadOnly(source, false);
  WriteFile(source, "newer font");
  EXPECT_EQ(CopyOneFile(source, copy).status, CopyStatus::Replaced);
  EXPECT_EQ(ReadFile(copy), "newer font");
}

TEST_F(CopyOneFileTest, RefusesAFolderAsTarget) {
  MakeFolder(target);
  EXPECT_FALSE(CopyOneFile(source, target));
  EXPECT_TRUE(IsFolder(target));
  ExpectNoTemporaries();
}

// Refused as the same file before anything is written: Wine's sharing rules
// would also stop the replace, but only after the copy, and for another reason.
TEST_F(CopyOneFileTest, RefusesTheSourceItselfWithoutTouchingIt) {
  const auto refusedAsItself = [](const CopyResult& copied) {
    return !copied && copied.error && copied.error->kind == FileErrorKind::SameFile;
  };
  EXPECT_TRUE(refusedAsItself(CopyOneFile(source, source)));
  EXPECT_EQ(ReadFile(source), "new font");
  EXPECT_THAT(TemporaryFilesIn(temp.Path("src")), IsEmpty());

  std::error_code error;
  fs::create_hard_link(PathOf(source), PathOf(target), error);
  if (error) GTEST_SKIP() << "no hard links here: " << error.message();
  EXPECT_TRUE(refusedAsItself(CopyOneFile(source, target))) << "a hard link to the source is the source";
  EXPECT_EQ(ReadFile(source), "new font");
}

TEST_F(CopyOneFileTest, FailsWithoutSourceOrTargetFolder) {
  EXPECT_FALSE(CopyOneFile(temp.Path("src/missing.ttf"), target));
  EXPECT_FALSE(FileExists(target));
  EXPECT_FALSE(CopyOneFile(source, temp.Path("nowhere/a.ttf")));
  EXPECT_FALSE(FileExists(temp.Path("nowhere")));
  EXPECT_FALSE(CopyOneFile(temp.Path("src"), target)) << "a folder is no file to copy";
  ExpectNoTemporaries();
}

TEST_F(CopyOneFileTest, AFailureMidCopyKeepsTheOldTarget) {
  const std::string big(20 << 20, 'f');  // several chunks on both backends
  WriteFile(source, big);
  WriteFile(target, "old font");
  {
    FailNthStep fault(FileStep::Write, 2);
    EXPECT_FALSE(CopyOneFile(source, target));
    EXPECT_GE(fault.seen(), 2);
  }
  EXPECT_EQ(ReadFile(target), "old font");
  EXPECT_EQ(ReadFile(source), big);
  ExpectNoTemporaries();
}

TEST_F(CopyOneFileTest, ARefusedCleanupIsRetried) {
  WriteFile(target, "old font");
  {
    // The delete after the failed rename is refused once, then retried.
    class FailRenameAndFirstDelete : public FaultInjector {
     public:
      int FailWith(FileStep step) override {
        if (step == FileStep::Rename) return kIoErrorCode;
        return step == FileStep::Delete && deletes++ == 0 ? kIoErrorCode : 0;
      }
      int deletes = 0;
    } fault;
    SetFaultInjector(&fault);
    EXPECT_FALSE(CopyOneFile(source, target));
    SetFaultInjector(nullptr);
    EXPECT_EQ(fault.deletes, 2);
  }
  EXPECT_EQ(ReadFile(target), "old font");
  ExpectNoTemporaries();
}

TEST_F(CopyOneFileTest, ReportsProgressDuringALargeCopy) {
  constexpr std::uint64_t kSize = 24 << 20;
  WriteFile(source, std::string(kSize, 'f'));
  std::vector<std::uint64_t> done;
  const CopyResult copied = CopyOneFile(source, target, {.progress = [&](std::uint64_t bytes, std::uint64_t total) {
                                          EXPECT_EQ(total, kSize);
                                          done.push_back(bytes);
                                          return true;
                                        }});
  ASSERT_TRUE(copied);
  EXPECT_EQ(copied.status, CopyStatus::Created);
  EXPECT_EQ(copied.bytes, kSize);
  ASSERT_GE(done.size(), 3u) << "the start and at least two pieces";
  EXPECT_EQ(done.front(), 0u);
  EXPECT_EQ(done.back(), kSize);
  EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
  EXPECT_EQ(FileSize(target), static_cast<std::int64_t>(kSize));
}

TEST_F(CopyOneFileTest, AnAbandonedCopyChangesNothing) {
  const std::string big(20 << 20, 'f');
  WriteFile(source, big);
  for (const bool targetExists : {false, true}) {
    if (targetExists) WriteFile(target, "old font");
    int calls = 0;
    const CopyResult copied = CopyOneFile(source, target, {.progress = [&](std::uint64_t, std::uint64_t) {
                                            return ++calls < 2;  // stop after the first piece
                                          }});
    EXPECT_EQ(copied.status, CopyStatus::Abandoned);
    EXPECT_EQ(calls, 2);
    if (targetExists) {
      EXPECT_EQ(ReadFile(target), "old font");
    } else {
      EXPECT_FALSE(EntryExists(target));
    }
    ExpectNoTemporaries();
  }
  EXPECT_EQ(ReadFile(source), big);
}

// A same-name file that appears while the copy runs (another run, another
// program) is left alone, or replaced, as the caller says: never overwritten unseen.
TEST_F(CopyOneFileTest, ANewFileTakesItsNameOnlyWhereNoneExists) {
  const auto appearing = [&](std::uint64_t, std::uint64_t) {
    if (!EntryExists(target)) WriteFile(target, "theirs");
    return true;
  };
  CopyResult copied = CopyOneFile(source, target, {.existing = ExistingTarget::Keep, .progress = appearing});
  EXPECT_EQ(copied.status, CopyStatus::TargetExists);
  EXPECT_FALSE(copied.error);
  EXPECT_EQ(ReadFile(target), "theirs");
  ExpectNoTemporaries();

  fs::remove(PathOf(target));
  copied = CopyOneFile(source, target, {.existing = ExistingTarget::Replace, .progress = appearing});
  EXPECT_EQ(copied.status, CopyStatus::Replaced);
  EXPECT_EQ(ReadFile(target), "new font");

  fs::remove(PathOf(target));
  copied = CopyOneFile(source, target, {.existing = ExistingTarget::Keep, .progress = {}});
  EXPECT_EQ(copied.status, CopyStatus::Created);
  EXPECT_EQ(ReadFile(target), "new font");
  ExpectNoTemporaries();
}

// What an interrupt that ends the process at once calls: the temporary goes,
// the copy can only fail, and the old target stays.
TEST_F(CopyOneFileTest, AbandoningTheCopyInProgressRemovesItsTemporary) {
  WriteFile(source, std::string(20 << 20, 'f'));
  WriteFile(target, "old font");
  bool sawTemporary = false;
  const CopyResult copied = CopyOneFile(source, target, {.progress = [&](std::uint64_t done, std::uint64_t) {
                                          if (done > 0 && !sawTemporary) {
                                            sawTemporary = !TemporaryFilesIn(temp.Path("dst")).empty();
                                            AbandonCopyInProgress();
                                          }
                                          return true;
                                        }});
  EXPECT_TRUE(sawTemporary);
  EXPECT_FALSE(copied);
  EXPECT_TRUE(ReadFile(target) == "old font");
  ExpectNoTemporaries();
  AbandonCopyInProgress();  // with no copy in progress: nothing happens
  EXPECT_TRUE(ReadFile(target) == "old font");
  EXPECT_TRUE(CopyOneFile(source, target)) << "the next copy is not abandoned";
}

#ifndef _WIN32
TEST_F(CopyOneFileTest, ACopyGetsTheModeOfASharedFontFolder) {
  fs::permissions(PathOf(source), fs::perms::owner_read | fs::perms::owner_write);
  const mode_t old = ::umask(022);
  const CopyResult copied = CopyOneFile(source, target);
  ::umask(old);
  ASSERT_TRUE(copied);
  EXPECT_EQ(fs::status(PathOf(target)).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
}
#endif

TEST_F(CopyOneFileTest, StaleTemporariesGoAndALiveCopysStays) {
  const std::string stale = temp.Path("dst/.quorvane-0123456789abcdef.tmp");
  const std::string live = temp.Path("dst/.quorvane-fedcba9876543210.tmp");
  WriteFile(stale, std::string(100, 's'));
  WriteFile(live, "live");
  // Names that only look like ours are someone else's.
  for (const char* other : {".quorvane-ABCDEF0123456789.tmp", ".quorvane-0123.tmp", "a.tmp",
                            ".quorvane-0123456789abcdef.tmp.bak", ".quorvane-0123456789abcdeg.tmp"}) {
    WriteFile(temp.Path(std::string("dst/") + other), "other");
  }
  MakeFolder(temp.Path("dst/.quorvane-00000000000000aa.tmp"));
  {
    HeldFile held(live);
    ASSERT_TRUE(held.Held());
    const StaleTemporaries removed = RemoveStaleTemporaries(temp.Path("dst"));
    EXPECT_EQ(removed.count, 1);
    EXPECT_EQ(removed.bytes, 100u);
    EXPECT_FALSE(EntryExists(stale));
    EXPECT_TRUE(EntryExists(live));
  }
  EXPECT_EQ(ReadFile(live), "live");
  // Its copy gone, the live one is a leftover too.
  EXPECT_EQ(RemoveStaleTemporaries(temp.Path("dst")).count, 1);
  EXPECT_FALSE(EntryExists(live));
  EXPECT_EQ(ReadFile(temp.Path("dst/a.tmp")), "other");
  EXPECT_TRUE(IsFolder(temp.Path("dst/.quorvane-00000000000000aa.tmp")));
  EXPECT_EQ(RemoveStaleTemporaries(temp.Path("missing")).count, 0);
}

TEST_F(CopyOneFileTest, IdentitiesStampsAndContents) {
  const auto folder = IdentityOf(temp.Path("dst"));
  ASSERT_TRUE(folder);
  EXPECT_EQ(IdentityOf(JoinPath(temp.Path("dst"), ".")), folder) << "another spelling, the same folder";
  EXPECT_NE(IdentityOf(temp.Path("src")), folder);
  EXPECT_FALSE(IdentityOf(temp.Path("missing")));

  ASSERT_TRUE(CopyOneFile(source, target));
  const auto sourceStamp = StampOf(source), targetStamp = StampOf(target);
  ASSERT_TRUE(sourceStamp && targetStamp);
  EXPECT_EQ(sourceStamp->size, 8u);
  EXPECT_EQ(sourceStamp->modified, targetStamp->modified) << "a copy keeps the source's time";
  EXPECT_FALSE(StampOf(temp.Path("dst"))) << "a folder has no stamp";

  EXPECT_EQ(SameContent(source, target), true);
  WriteFile(target, "new fonT");
  EXPECT_EQ(SameContent(source, target), false);
  WriteFile(target, std::string(3 << 20, 'x'));
  WriteFile(source, std::string(3 << 20, 'x') );
  EXPECT_EQ(SameContent(source, target), true) << "several pieces";
  WriteFile(target, std::string(3 << 20, 'x') + "y");
  EXPECT_EQ(SameContent(source, target), false);
  EXPECT_FALSE(SameContent(source, temp.Path("missing")));
}

TEST_F(CopyOneFileTest, HandlesNamesOutsideAnyCodePage) {
  const std::string name = "字体 Шрифт 🅰.ttf";
  WriteFile(temp.Path("src/" + name), "glyphs");
  ASSERT_TRUE(CopyOneFile(temp.Path("src/" + name), temp.Path("dst/" + name)));
  EXPECT_EQ(ReadFile(temp.Path("dst/" + name)), "glyphs");
  EXPECT_THAT(SearchAll(temp.Path("dst/*.ttf"), 0, true), ElementsAre(name));
}

}  // namespace
}  // namespace quorvane

#include "sync/file_ops.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "sync/fault_injection.h"
#include "test_support.h"

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

TEST_F(CopyOneFileTest, RefusesAReadOnlyTargetAndKeepsIt) {
  WriteFile(target, "old font");
  SetReadOnly(target, true);
  EXPECT_FALSE(CopyOneFile(source, target));
  SetReadOnly(target, false);
  EXPECT_EQ(ReadFile(target), "old font");
  ExpectNoTemporaries();
}

TEST_F(CopyOneFileTest, RefusesAFolderAsTarget) {
  MakeFolder(target);
  EXPECT_FALSE(CopyOneFile(source, target));
  EXPECT_TRUE(IsFolder(target));
  ExpectNoTemporaries();
}

TEST_F(CopyOneFileTest, RefusesTheSourceItselfWithoutTouchingIt) {
  EXPECT_FALSE(CopyOneFile(source, source));
  EXPECT_EQ(ReadFile(source), "new font");
  EXPECT_THAT(TemporaryFilesIn(temp.Path("src")), IsEmpty());

  std::error_code error;
  fs::create_hard_link(PathOf(source), PathOf(target), error);
  if (error) GTEST_SKIP() << "no hard links here: " << error.message();
  EXPECT_FALSE(CopyOneFile(source, target)) << "a hard link to the source is the source";
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

TEST_F(CopyOneFileTest, EveryFailingStepKeepsTheOldTargetAndLeavesNoTemporary) {
  for (FileStep step : {FileStep::Open, FileStep::Write, FileStep::Close, FileStep::Rename}) {
    WriteFile(target, "old font");
    {
      FailNthStep fault(step, 1);
      EXPECT_FALSE(CopyOneFile(source, target)) << static_cast<int>(step);
    }
    EXPECT_EQ(ReadFile(target), "old font") << static_cast<int>(step);
    ExpectNoTemporaries();
  }
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
  WriteFile(source, std::string(24 << 20, 'f'));
  int calls = 0;
  ASSERT_TRUE(CopyOneFile(source, target, [&] { ++calls; }));
  EXPECT_GE(calls, 2);
  EXPECT_EQ(FileSize(target), 24 << 20);
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

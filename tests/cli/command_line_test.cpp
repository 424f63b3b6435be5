#include "cli/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sync/file_ops.h"
#include "tests/sync/test_support.h"

namespace quorvane::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using namespace quorvane::testing;

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result RunTool(const std::vector<std::string>& args) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int status = RunCommandLine(args);
  std::string out = ::testing::internal::GetCapturedStdout();
  std::string err = ::testing::internal::GetCapturedStderr();
  return {status, std::move(out), std::move(err)};
}

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(temp.Path("src/a.ttf"), "a");
    WriteFile(temp.Path("src/sub/b.otf"), "b");
    MakeFolder(temp.Path("dst"));
  }
  TempFolder temp;
};

TEST_F(CommandLineTest, PrintsOneLinePerFileThenTheSummary) {
  const Result result = RunTool({"--target", temp.Path("dst"), temp.Path("src")});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "1\t复制成功\t" + temp.Path("src/a.ttf") + "\n" + "2\t复制成功\t" + temp.Path("src/sub/b.otf") +
                            "\n本次任务共处理文件2个：复制成功2个；复制失败0个；替换成功0个；替换失败0个；同名忽略0个。\n");
  EXPECT_EQ(ReadFile(temp.Path("dst/b.otf")), "b");

  const Result again = RunTool({"--target", temp.Path("dst"), temp.Path("src")});
  EXPECT_EQ(again.status, 0);
  EXPECT_THAT(again.out, HasSubstr("同名忽略2个"));
}

TEST_F(CommandLineTest, AFailedCopyExitsWithOne) {
  WriteFile(temp.Path("dst/a.ttf"), "old");
  SetReadOnly(temp.Path("dst/a.ttf"), true);
  const Result result = RunTool({"--replace", "--target", temp.Path("dst"), temp.Path("src")});
  SetReadOnly(temp.Path("dst/a.ttf"), false);
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(result.out, HasSubstr("1\t替换失败\t"));
  EXPECT_EQ(ReadFile(temp.Path("dst/a.ttf")), "old");
}

TEST_F(CommandLineTest, DryRunShowsTheOutcomesAndWritesNothing) {
  const Result result = RunTool({"--dry-run", "--target", temp.Path("dst"), temp.Path("src")});
  EXPECT_EQ(result.status, 0);
  EXPECT_THAT(result.out, HasSubstr("复制成功2个"));
  EXPECT_THAT(TemporaryFilesIn(temp.Path("dst")), IsEmpty());
  EXPECT_FALSE(FileExists(temp.Path("dst/a.ttf")));
}

TEST_F(CommandLineTest, BadInputExitsWithTwoAndCopiesNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--bogus", temp.Path("src")},
      {"--target", temp.Path("missing"), temp.Path("src")},
      {"--target", temp.Path("src/a.ttf"), temp.Path("src")},
      {"--target", temp.Path("dst"), temp.Path("missing")},
      {"--target", temp.Path("dst"), temp.Path("src"), temp.Path("src/a.ttf")},
  };
  for (const auto& args : cases) {
    const Result result = RunTool(args);
    EXPECT_EQ(result.status, 2) << ::testing::PrintToString(args);
    EXPECT_THAT(result.err, HasSubstr("quorvane-sync: "));
    EXPECT_TRUE(result.err.ends_with("\n"));
    EXPECT_THAT(result.out, IsEmpty());
  }
  EXPECT_FALSE(FileExists(temp.Path("dst/a.ttf")));
}

TEST_F(CommandLineTest, HelpPrintsTheUsage) {
  const Result result = RunTool({"--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_THAT(result.out, HasSubstr("usage: quorvane-sync [--replace | --ignore] [--dry-run] [--target DIR] SOURCE..."));
}

}  // namespace
}  // namespace quorvane::cli

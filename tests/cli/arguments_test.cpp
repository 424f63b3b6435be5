#include "cli/arguments.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvane::cli {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

Arguments Parsed(const std::vector<std::string>& args) {
  auto result = ParseArguments(args);
  EXPECT_TRUE(std::holds_alternative<Arguments>(result)) << std::get<UsageError>(result).message;
  return std::holds_alternative<Arguments>(result) ? std::get<Arguments>(result) : Arguments{};
}

std::string ErrorOf(const std::vector<std::string>& args) {
  auto result = ParseArguments(args);
  EXPECT_TRUE(std::holds_alternative<UsageError>(result));
  return std::holds_alternative<UsageError>(result) ? std::get<UsageError>(result).message : "";
}

TEST(ArgumentsTest, DefaultsToIgnoreIntoTheSystemFolder) {
  const Arguments args = Parsed({"fonts"});
  EXPECT_EQ(args.policy, SyncPolicy::Ignore);
  EXPECT_FALSE(args.dryRun);
  EXPECT_FALSE(args.target.has_value());
  EXPECT_THAT(args.sources, ElementsAre("fonts"));
}

TEST(ArgumentsTest, ReadsEveryOptionAndKeepsSourcesInOrder) {
  const Arguments args = Parsed({"--replace", "a", "--dry-run", "--target", "T", "b", "--", "--c"});
  EXPECT_EQ(args.policy, SyncPolicy::Replace);
  EXPECT_TRUE(args.dryRun);
  EXPECT_EQ(args.target, "T");
  EXPECT_THAT(args.sources, ElementsAre("a", "b", "--c"));
  EXPECT_EQ(Parsed({"--replace", "--ignore", "a"}).policy, SyncPolicy::Ignore) << "the last choice wins";
  EXPECT_EQ(Parsed({"--target=字体", "a"}).target, "字体");
  EXPECT_TRUE(Parsed({"--help"}).help);
}

TEST(ArgumentsTest, RejectsWhatItCannotUse) {
  EXPECT_THAT(ErrorOf({}), HasSubstr("no SOURCE"));
  EXPECT_THAT(ErrorOf({"--target"}), HasSubstr("--target needs a folder"));
  EXPECT_THAT(ErrorOf({"--target=", "a"}), HasSubstr("--target needs a folder"));
  EXPECT_THAT(ErrorOf({"--force", "a"}), HasSubstr("unknown option --force"));
  EXPECT_THAT(ErrorOf({"a", ""}), HasSubstr("empty SOURCE"));
  EXPECT_THAT(ErrorOf({"--dry-run"}), HasSubstr("no SOURCE"));
}

}  // namespace
}  // namespace quorvane::cli

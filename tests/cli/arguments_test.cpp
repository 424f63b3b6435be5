#include "cli/arguments.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quorvane::cli {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

Arguments Parsed(const std::vector<std::string>& args) {
  auto result = ParseArguments(args);
  EXPECT_TRUE(std::holds_alternative<Arguments>(result)) << std::get<UsageError>(result).Text(Language::English);
  return std::holds_alternative<Arguments>(result) ? std::get<Arguments>(result) : Arguments{};
}

std::string ErrorOf(const std::vector<std::string>& args, Language language = Language::English) {
  auto result = ParseArguments(args);
  EXPECT_TRUE(std::holds_alternative<UsageError>(result)) << ::testing::PrintToString(args);
  return std::holds_alternative<UsageError>(result) ? std::get<UsageError>(result).Text(language) : "";
}

TEST(ArgumentsTest, DefaultsToIgnoreIntoTheSystemFolder) {
  const Arguments args = Parsed({"fonts"});
  EXPECT_EQ(args.policy, SyncPolicy::Ignore);
  EXPECT_FALSE(args.dryRun || args.update || args.checksum || args.json || args.quiet || args.version ||
               args.registerFonts || args.user);
  EXPECT_FALSE(args.target.has_value());
  EXPECT_FALSE(args.log.has_value());
  EXPECT_FALSE(args.language.has_value());
  EXPECT_THAT(args.sources, ElementsAre("fonts"));
}

TEST(ArgumentsTest, ReadsEveryOptionAndKeepsSourcesInOrder) {
  const Arguments args = Parsed({"--replace", "a", "--dry-run", "--target", "T", "--update", "--json", "--quiet",
                                 "--log=run.log", "--lang", "en", "b", "--", "--c"});
  EXPECT_EQ(args.policy, SyncPolicy::Replace);
  EXPECT_TRUE(args.dryRun && args.update && args.json && args.quiet);
  EXPECT_FALSE(args.checksum);
  EXPECT_EQ(args.target, "T");
  EXPECT_EQ(args.log, "run.log");
  EXPECT_EQ(args.language, "en");
  EXPECT_THAT(args.sources, ElementsAre("a", "b", "--c"));
  EXPECT_EQ(Parsed({"--target=字体", "a"}).target, "字体");
  EXPECT_TRUE(Parsed({"--help"}).help);
  EXPECT_TRUE(Parsed({"--version"}).version);
  const Arguments checksum = Parsed({"--checksum", "a"});
  EXPECT_TRUE(checksum.checksum && checksum.update) << "--checksum is a way of --update";
  const Arguments ignoring = Parsed({"--update", "--ignore", "a"});
  EXPECT_TRUE(ignoring.update && ignoring.policy == SyncPolicy::Ignore) << "--update works under --ignore too";
  EXPECT_EQ(Parsed({"--ignore", "--ignore", "a"}).policy, SyncPolicy::Ignore) << "a repeated option is no contradiction";
}

TEST(ArgumentsTest, RejectsWhatItCannotUse) {
  EXPECT_THAT(ErrorOf({}), HasSubstr("no SOURCE"));
  EXPECT_THAT(ErrorOf({"--target"}), HasSubstr("--target needs a value"));
  EXPECT_THAT(ErrorOf({"--target=", "a"}), HasSubstr("--target needs a value"));
  EXPECT_THAT(ErrorOf({"--log", "a"}), HasSubstr("no SOURCE")) << "the log took the only word";
  EXPECT_THAT(ErrorOf({"--force", "a"}), HasSubstr("unknown option --force"));
  EXPECT_THAT(ErrorOf({"a", ""}), HasSubstr("empty SOURCE"));
  EXPECT_THAT(ErrorOf({"--dry-run"}), HasSubstr("no SOURCE"));
  EXPECT_THAT(ErrorOf({"--manifest", "m", "--publish", "a"}), HasSubstr("--publish writes a manifest"));
  EXPECT_THAT(ErrorOf({"--manifest", "a"}), HasSubstr("no SOURCE")) << "the manifest took the only word";
  EXPECT_THAT(ErrorOf({"--lang", "fr", "a"}), HasSubstr("unknown language fr"));
  EXPECT_THAT(ErrorOf({"--targetx", "a"}), HasSubstr("unknown option --targetx"));
}

TEST(ArgumentsTest, ReplaceWithIgnoreIsAUsageErrorInEitherOrder) {
  EXPECT_THAT(ErrorOf({"--replace", "--ignore", "a"}), HasSubstr("contradict"));
  EXPECT_THAT(ErrorOf({"--ignore", "a", "--replace"}), HasSubstr("contradict"));
  EXPECT_THAT(ErrorOf({"--ignore", "--replace", "a"}, Language::Chinese), HasSubstr("互相矛盾"));
}

TEST(ArgumentsTest, UserNamesItsOwnTargetSoATargetContradictsIt) {
  const Arguments args = Parsed({"--register", "--user", "a"});
  EXPECT_TRUE(args.registerFonts && args.user);
  EXPECT_FALSE(args.target.has_value());
  EXPECT_THAT(ErrorOf({"--user", "--target", "T", "a"}), HasSubstr("--user and --target contradict each other"));
  EXPECT_THAT(ErrorOf({"--target=T", "a", "--user"}, Language::Chinese), HasSubstr("--user 与 --target 互相矛盾"));
  EXPECT_TRUE(Parsed({"--register", "--target", "T", "a"}).registerFonts) << "a named folder can be registered too";
}

TEST(ArgumentsTest, TheLanguageOptionIsFoundBeforeParsing) {
  EXPECT_EQ(LanguageOption({"--bogus", "--lang", "en"}), "en");
  EXPECT_EQ(LanguageOption({"--lang=zh", "a", "--lang", "en"}), "en") << "the last one counts";
  EXPECT_EQ(LanguageOption({"a", "--", "--lang", "en"}), std::nullopt) << "past -- it is a source";
  EXPECT_EQ(LanguageOption({"--lang"}), std::nullopt);
}

}  // namespace
}  // namespace quorvane::cli

// The whole tool in this process, on real folders: natively and under Wine.
#include "cli/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "base/text.h"
#else
#include <sys/stat.h>
#endif

#include "cli/platform.h"
#include "cli/report.h"
#include "sync/files/file_ops.h"
#include "tests/sync/test_support.h"

namespace quorvane::cli {
namespace {

using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
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

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The smallest font the copy's structure check takes whole: a header and one
// table holding `payload`. No name table, so no system installs it as a font.
std::string Font(std::string_view payload) {
  std::string padded(payload);
  padded.resize((padded.size() + 3) / 4 * 4, '\0');
  std::uint32_t checksum = 0;
  for (size_t i = 0; i < padded.size(); i += 4) {
    checksum += std::uint32_t{static_cast<unsigned char>(padded[i])} << 24 |
                std::uint32_t{static_cast<unsigned char>(padded[i + 1])} << 16 |
                std::uint32_t{static_cast<unsigned char>(padded[i + 2])} << 8 |
                std::uint32_t{static_cast<unsigned char>(padded[i + 3])};
  }
  const auto be32 = [](std::uint32_t value) {
    return std::string{static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
                       static_cast<char>(value)};
  };
  const std::string header = be32(0x00010000) + be32(0x00010010) + be32(0);  // one table, searchRange 16
  return header + "qdat" + be32(checksum) + be32(28) + be32(static_cast<std::uint32_t>(payload.size())) +
         std::string(payload);
}

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(temp.Path("src/a.ttf"), Font("a"));
    WriteFile(temp.Path("src/sub/b.otf"), Font("b"));
    MakeFolder(temp.Path("dst"));
  }
  Result Sync(std::vector<std::string> options) {
    options.insert(options.end(), {"--target", temp.Path("dst"), temp.Path("src")});
    return RunTool(options);
  }
  TempFolder temp;
};

TEST_F(CommandLineTest, PrintsOneLinePerFileThenTheSummary) {
  const Result result = Sync({"--lang", "zh"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "1\t复制成功\t" + temp.Path("src/a.ttf") + "\n" + "2\t复制成功\t" + temp.Path("src/sub/b.otf") +
                            "\n本次任务共处理文件2个：复制成功2个；复制失败0个；替换成功0个；替换失败0个；同名忽略0个。\n");
  EXPECT_THAT(result.err, IsEmpty());
  EXPECT_EQ(ReadFile(temp.Path("dst/b.otf")), Font("b"));

  const Result again = Sync({"--lang", "zh"});
  EXPECT_EQ(again.status, 0);
  EXPECT_THAT(again.out, HasSubstr("同名忽略2个"));
}

TEST_F(CommandLineTest, AFailedCopyExitsWithOneAndSaysWhyOnStandardError) {
  WriteFile(temp.Path("dst/a.ttf"), Font("old"));
  SetReadOnly(temp.Path("dst/a.ttf"), true);
  const Result result = Sync({"--replace", "--lang", "zh"});
  const Result english = Sync({"--replace", "--lang", "en"});
  SetReadOnly(temp.Path("dst/a.ttf"), false);
  EXPECT_EQ(result.status, 1);
  EXPECT_THAT(result.out, HasSubstr("1\t替换失败\t"));
  EXPECT_THAT(result.err, StartsWith("quorvane-sync: 替换失败 " + temp.Path("src/a.ttf") + ": 打开："));
  EXPECT_EQ(ReadFile(temp.Path("dst/a.ttf")), Font("old"));
  EXPECT_THAT(english.err, StartsWith("quorvane-sync: replace failed " + temp.Path("src/a.ttf") + ": open: "));
  EXPECT_THAT(english.out, HasSubstr("1\treplace-failed\t"));
}

TEST_F(CommandLineTest, ADryRunSaysWhatWouldHappenAndWritesNothing) {
  WriteFile(temp.Path("dst/a.ttf"), Font("old"));
  const Result result = Sync({"--dry-run", "--lang", "zh"});
  EXPECT_EQ(result.status, 0);
  EXPECT_THAT(result.out, HasSubstr("1\t将忽略\t"));
  EXPECT_THAT(result.out, HasSubstr("2\t将复制\t"));
  EXPECT_THAT(result.out, HasSubstr("试运行，未写入任何文件"));
  EXPECT_THAT(result.out, Not(HasSubstr("复制成功")));
  EXPECT_THAT(Sync({"--dry-run", "--replace", "--lang", "en"}).out,
              AllOf(HasSubstr("1\twould-replace\t"), HasSubstr("2\twould-copy\t"), HasSubstr("Dry run, nothing written")));
  EXPECT_THAT(Sync({"--dry-run", "--json"}).out, HasSubstr("\"dry_run\":true,"));
  EXPECT_THAT(TemporaryFilesIn(temp.Path("dst")), IsEmpty());
  EXPECT_FALSE(FileExists(temp.Path("dst/b.otf")));
  EXPECT_EQ(ReadFile(temp.Path("dst/a.ttf")), Font("old"));
}

TEST_F(CommandLineTest, TheLogGetsAStartLineAndTheSameLinesRunAfterRun) {
  const std::string log = temp.Path("sync.log");
  const Result first = Sync({"--log", log, "--lang", "en"});
  const Result second = Sync({"--log", log, "--json", "--lang", "en"});
  const std::string logged = ReadFile(log);
  const size_t secondStart = logged.find("{\"start\":");
  ASSERT_NE(secondStart, std::string::npos) << logged;
  const std::string firstPart = logged.substr(0, secondStart);
  EXPECT_THAT(firstPart, StartsWith("#\t"));
  EXPECT_THAT(firstPart, HasSubstr("\tquorvane-sync " QUORVANE_PROJECT_VERSION "\thost="));
  EXPECT_THAT(firstPart, HasSubstr("\t--log\t" + log + "\t"));
  EXPECT_EQ(firstPart.substr(firstPart.find('\n') + 1), first.out);
  const std::string secondPart = logged.substr(secondStart);
  EXPECT_THAT(secondPart, HasSubstr("\"version\":\"" QUORVANE_PROJECT_VERSION "\""));
  EXPECT_EQ(secondPart.substr(secondPart.find('\n') + 1), second.out);

  const Result refused = Sync({"--log", temp.Path("no/such/folder/sync.log")});
  EXPECT_EQ(refused.status, 2);
  EXPECT_THAT(refused.out, IsEmpty());
}

// What standard error says about a row goes into the log right after it: the
// log alone must tell a failure's reason, and a row that was copied but not
// registered from one that was.
TEST_F(CommandLineTest, TheLogHoldsWhatStandardErrorSaidAfterTheRowItIsAbout) {
  WriteFile(temp.Path("dst/a.ttf"), Font("old"));
  SetReadOnly(temp.Path("dst/a.ttf"), true);
  const std::string a = temp.Path("src/a.ttf"), b = temp.Path("src/sub/b.otf");
  const std::string log = temp.Path("sync.log"), jsonLog = temp.Path("sync.json.log");
  const Result tsv = Sync({"--replace", "--register", "--log", log, "--lang", "en"});
  const Result json = Sync({"--replace", "--register", "--json", "--log", jsonLog, "--lang", "en"});
  SetReadOnly(temp.Path("dst/a.ttf"), false);
  EXPECT_EQ(tsv.status, 1);
  const std::string logged = ReadFile(log), body = logged.substr(logged.find('\n') + 1);
  EXPECT_THAT(body, HasSubstr("1\treplace-failed\t" + a + "\nquorvane-sync: replace failed " + a + ": open: "));
  EXPECT_THAT(body, HasSubstr("2\tcopied\t" + b + "\nquorvane-sync: not registered " + b + ": not a font: "));
  EXPECT_EQ(CountOf(body, "\n"), CountOf(tsv.out, "\n") + CountOf(tsv.err, "\n")) << body;
  EXPECT_THAT(body, EndsWith(tsv.out.substr(tsv.out.rfind('\n', tsv.out.size() - 2) + 1))) << "the summary last";

  const auto inJson = [](const std::string& path) {
    std::string quoted;
    AppendJsonString(quoted, path, kPathStyle);
    return quoted.substr(1, quoted.size() - 2);
  };
  const std::string jsonLogged = ReadFile(jsonLog);
  EXPECT_THAT(jsonLogged, HasSubstr("\"status\":\"replace-failed\"")) << jsonLogged;
  EXPECT_THAT(jsonLogged, HasSubstr("}\n{\"message\":\"replace failed " + inJson(a) + ": open: "));
  EXPECT_THAT(jsonLogged, HasSubstr("\"}}\n{\"message\":\"not registered " + inJson(b) + ": not a font: "));
  EXPECT_EQ(CountOf(jsonLogged, "\n{\"message\":"), CountOf(json.err, "\n"));
}

// A symbolic link at `link` to the file `target` (which may not exist).
bool MakeLink(const std::string& target, const std::string& link) {
#ifdef _WIN32
  // The C++ library's create_symlink is not implemented for this target, and
  // Wine's CreateSymbolicLinkW says yes and makes nothing.
  return CreateSymbolicLinkW(Widen(link).c_str(), Widen(target).c_str(),
                             SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0 &&
         GetFileAttributesW(Widen(link).c_str()) != INVALID_FILE_ATTRIBUTES;
#else
  std::error_code failed;
  std::filesystem::create_symlink(target, link, failed);
  return !failed;
#endif
}

// A link in the log's place, planted to make the run append to a file of its
// choice, is refused before anything is done; so is one that leads nowhere.
TEST_F(CommandLineTest, TheLogIsNeverWrittenThroughALink) {
  WriteFile(temp.Path("elsewhere.txt"), "mine\n");
  if (!MakeLink(temp.Path("elsewhere.txt"), temp.Path("fonts.log"))) GTEST_SKIP() << "no symbolic links here";
  ASSERT_TRUE(MakeLink(temp.Path("nowhere.txt"), temp.Path("dangling.log")));
  for (const char* name : {"fonts.log", "dangling.log"}) {
    const Result result = Sync({"--log", temp.Path(name), "--lang", "en"});
    EXPECT_EQ(result.status, 2) << name;
    EXPECT_EQ(result.err, "quorvane-sync: cannot open the log file " + temp.Path(name) +
                              ": it is a link, and the log never follows one\n");
    EXPECT_THAT(result.out, IsEmpty());
  }
  EXPECT_EQ(ReadFile(temp.Path("elsewhere.txt")), "mine\n");
  EXPECT_FALSE(FileExists(temp.Path("nowhere.txt")));
  EXPECT_FALSE(FileExists(temp.Path("dst/a.ttf"))) << "nothing done";
}

// Makes `folder` one that every account may write into.
bool OpenToAll(const std::string& folder) {
#ifdef _WIN32
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return false;
  }
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  const bool set = GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) &&
                   SetNamedSecurityInfoW(Widen(folder).data(), SE_FILE_OBJECT,
                                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                         nullptr, dacl, nullptr) == ERROR_SUCCESS;
  LocalFree(descriptor);
  return set;
#else
  return ::chmod(folder.c_str(), 0777) == 0;
#endif
}

// A run as root or SYSTEM takes only a log that no other account could have
// put in its way: its folder is checked before the file is made there.
TEST(AppendFileTest, OwnOnlyRefusesAFolderEveryAccountMayWrite) {
  TempFolder temp;
  MakeFolder(temp.Path("mine"));
  MakeFolder(temp.Path("open"));
  FileError error;
  LogRefusal refusal = LogRefusal::None;
  EXPECT_TRUE(AppendFile::Open(temp.Path("mine/fonts.log"), true, error, refusal)) << ReasonText(error);
  EXPECT_EQ(refusal, LogRefusal::None);
  if (!OpenToAll(temp.Path("open"))) GTEST_SKIP() << "the folder's access cannot be changed here";
  EXPECT_FALSE(AppendFile::Open(temp.Path("open/fonts.log"), true, error, refusal));
  EXPECT_EQ(refusal, LogRefusal::NotOwn);
  EXPECT_FALSE(FileExists(temp.Path("open/fonts.log"))) << "refused before it was made";
  EXPECT_TRUE(AppendFile::Open(temp.Path("open/fonts.log"), false, error, refusal)) << "any account's own run may";
}

TEST_F(CommandLineTest, SourceAndTargetTheSameFolderByAnotherSpellingIsRefused) {
  const Result result = RunTool({"--replace", "--target", temp.Path("src") + kPathSeparator + ".", temp.Path("src")});
  EXPECT_EQ(result.status, 2);
  EXPECT_THAT(result.err, HasSubstr("quorvane-sync: "));
  EXPECT_THAT(result.out, IsEmpty());
  EXPECT_EQ(ReadFile(temp.Path("src/a.ttf")), Font("a"));
  EXPECT_THAT(TemporaryFilesIn(temp.Path("src")), IsEmpty());
}

TEST_F(CommandLineTest, ATargetInsideASourceIsLeftOutAndSaidOnce) {
  WriteFile(temp.Path("src/fonts/old.ttf"), Font("o"));
  WriteFile(temp.Path("src/fonts/deeper/older.ttf"), Font("o"));
  const Result result = RunTool({"--lang", "en", "--target", temp.Path("src/fonts"), temp.Path("src"), temp.Path("src")});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_THAT(result.out, AllOf(Not(HasSubstr("old.ttf")), Not(HasSubstr("older.ttf"))));
  EXPECT_THAT(result.out, HasSubstr("Handled 2 files: 2 copied"));
  EXPECT_EQ(CountOf(result.err, "lies inside a source"), 1u) << result.err;
  EXPECT_EQ(ReadFile(temp.Path("src/fonts/a.ttf")), Font("a"));
}

// One line says what is wrong; a usage error adds the usage after it, a folder that will not do nothing.
TEST_F(CommandLineTest, BadInputExitsWithTwoAndCopiesNothing) {
  const std::vector<std::pair<bool, std::vector<std::string>>> cases = {
      {true, {}},
      {true, {"--bogus", temp.Path("src")}},
      {true, {"--replace", "--ignore", "--target", temp.Path("dst"), temp.Path("src")}},
      {false, {"--target", temp.Path("missing"), temp.Path("src")}},
      {false, {"--dry-run", "--target", temp.Path("missing"), temp.Path("src")}},
      {false, {"--target", temp.Path("src/a.ttf"), temp.Path("src")}},
      {false, {"--target", temp.Path("dst"), temp.Path("missing")}},
      {false, {"--target", temp.Path("dst"), temp.Path("src"), temp.Path("src/a.ttf")}},
      {false, {"--target", temp.Path("dst"), temp.Path("src"), temp.Path("dst")}},
      {true, {"--register", "--user", "--target", temp.Path("dst"), temp.Path("src")}},
  };
  for (const auto& [usage, args] : cases) {
    const Result result = RunTool(args);
    EXPECT_EQ(result.status, 2) << ::testing::PrintToString(args);
    const std::string line = result.err.substr(0, result.err.find('\n') + 1);
    EXPECT_THAT(line, StartsWith("quorvane-sync: "));
    EXPECT_TRUE(line.ends_with("\n"));
    const std::string rest = result.err.substr(line.size());
    if (usage) EXPECT_THAT(rest, StartsWith("usage: quorvane-sync ")) << result.err;
    else EXPECT_EQ(rest, "") << "one line: " << result.err;
    EXPECT_THAT(result.out, IsEmpty());
  }
  EXPECT_FALSE(FileExists(temp.Path("dst/a.ttf")));
  EXPECT_FALSE(FileExists(temp.Path("missing")));
}

TEST_F(CommandLineTest, MessagesFollowTheLanguageOfTheRows) {
  const std::vector<std::string> missing = {"--target", temp.Path("missing"), temp.Path("src")};
  std::vector<std::string> english = missing, chinese = missing;
  english.insert(english.begin(), {"--lang", "en"});
  chinese.insert(chinese.begin(), {"--lang", "zh"});
  EXPECT_THAT(RunTool(english).err, StartsWith("quorvane-sync: target folder does not exist: "));
  EXPECT_THAT(RunTool(chinese).err, StartsWith("quorvane-sync: 目标文件夹不存在："));
  EXPECT_THAT(RunTool({"--lang", "zh", "--replace", "--ignore", "x"}).err, StartsWith("quorvane-sync: --replace 与"));
}

// The fixture's files are not fonts: copied as the policy says, not registered,
// each said on standard error, and no failure.
TEST_F(CommandLineTest, RegisterCopiesAFileThatIsNoFontButLeavesItUnregistered) {
  const Result result = Sync({"--register", "--lang", "zh"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_THAT(result.out, StartsWith("1\t复制成功\t" + temp.Path("src/a.ttf") + "\n"));
  EXPECT_THAT(result.out, HasSubstr("同名忽略0个。注册：成功0个，不是字体2个，失败0个。\n"));
  EXPECT_THAT(result.err, StartsWith("quorvane-sync: 未注册 " + temp.Path("src/a.ttf") + ": 不是字体："));
  EXPECT_EQ(CountOf(result.err, "\n"), 2u) << result.err;
  EXPECT_EQ(ReadFile(temp.Path("dst/a.ttf")), Font("a"));

  const Result json = Sync({"--register", "--replace", "--json", "--quiet", "--lang", "en"});
  EXPECT_EQ(json.status, 0);
  EXPECT_THAT(json.out, StartsWith("{\"summary\":")) << "a file that is no font is no failed row";
  EXPECT_THAT(json.out, HasSubstr("\"replaced\":2,"));
  EXPECT_THAT(json.out, HasSubstr("\"registration\":{\"registered\":0,\"not_a_font\":2,\"failed\":0,\"conflict\":0,"
                                  "\"refresh\":\"none\"}"));
  EXPECT_THAT(json.err, HasSubstr("quorvane-sync: not registered " + temp.Path("src/sub/b.otf") + ": not a font: "));
  EXPECT_THAT(Sync({"--register", "--replace", "--json", "--lang", "en"}).out,
              HasSubstr("\"registration\":{\"status\":\"not-a-font\",\"reason\":\"not a font: "));
}

TEST_F(CommandLineTest, ADryRunRegistersNothing) {
  const Result result = Sync({"--register", "--dry-run", "--json", "--lang", "en"});
  EXPECT_EQ(result.status, 0);
  EXPECT_THAT(result.out, HasSubstr("\"would-copy\":2,"));
  EXPECT_THAT(result.out, Not(HasSubstr("registration")));
  EXPECT_THAT(result.err, IsEmpty());
}

#ifndef _WIN32
// On Linux the default target is the user's own already: --user names it.
TEST_F(CommandLineTest, UserIsTheDefaultTargetOnLinux) {
  const char* saved = std::getenv("XDG_DATA_HOME");
  const std::string savedValue = saved ? saved : "";
  ::setenv("XDG_DATA_HOME", temp.Path("home/.local/share").c_str(), 1);
  const Result result = RunTool({"--user", "--lang", "en", temp.Path("src")});
  saved ? ::setenv("XDG_DATA_HOME", savedValue.c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadFile(temp.Path("home/.local/share/fonts/a.ttf")), Font("a"));
}

// The Windows font folder always exists; a fresh Linux account has none.
TEST_F(CommandLineTest, TheDefaultTargetIsMadeWhenMissing) {
  const char* saved = std::getenv("XDG_DATA_HOME");
  const std::string savedValue = saved ? saved : "";
  ::setenv("XDG_DATA_HOME", temp.Path("home/.local/share").c_str(), 1);
  const Result dry = RunTool({"--dry-run", "--lang", "en", temp.Path("src")});
  const bool madeByDryRun = FileExists(temp.Path("home"));
  const Result result = RunTool({"--lang", "en", temp.Path("src")});
  saved ? ::setenv("XDG_DATA_HOME", savedValue.c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_THAT(dry.out, HasSubstr("2 would copy"));
  EXPECT_FALSE(madeByDryRun) << "a dry run writes nothing";
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(ReadFile(temp.Path("home/.local/share/fonts/a.ttf")), Font("a"));
  EXPECT_EQ(fs::status(PathOf(temp.Path("home/.local/share/fonts"))).permissions() & fs::perms::others_exec,
            fs::perms::others_exec);
}
#endif

TEST_F(CommandLineTest, HelpAndVersion) {
  const Result help = RunTool({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("usage: quorvane-sync [--replace | --ignore] [--update | --newer] [--checksum] [--dry-run]"));
  EXPECT_THAT(help.out, AllOf(HasSubstr("\\xNN"), HasSubstr("up-to-date")));
  // The exit status table, one status a line.
  for (const char* status : {"\n     0  ", "\n     1  ", "\n     2  ", "\n   130  ", "\n  3010  "}) {
    EXPECT_THAT(help.out, HasSubstr(status));
  }
  const Result version = RunTool({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "quorvane-sync " QUORVANE_PROJECT_VERSION "\n");
}

}  // namespace
}  // namespace quorvane::cli

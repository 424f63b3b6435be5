#include "cli/report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <random>

#include "cli/command_line.h"
#include "cli/progress_line.h"
#include "cli/texts.h"

namespace quorvane::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::string Tsv(std::string_view text, PathStyle style = PathStyle::Posix) {
  std::string out;
  AppendTsvField(out, text, style);
  return out;
}

std::string Json(std::string_view text, PathStyle style = PathStyle::Posix) {
  std::string out;
  AppendJsonString(out, text, style);
  return out;
}

// The reading side of AppendTsvField, as a script would write it.
std::string FromTsv(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      out += field[i];
      continue;
    }
    const char next = field[++i];
    if (next == 't') out += '\t';
    if (next == 'n') out += '\n';
    if (next == 'r') out += '\r';
    if (next == '\\') out += '\\';
    if (next == 'x') {
      out += static_cast<char>(std::stoi(std::string(field.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    }
  }
  return out;
}

TEST(TsvFieldTest, EscapesWhatWouldBreakALineAndKeepsTheRest) {
  EXPECT_EQ(Tsv("a\tb\nc\rd\\e"), "a\\tb\\nc\\rd\\\\e");
  EXPECT_EQ(Tsv("宋体 Ä 😀.ttf"), "宋体 Ä 😀.ttf") << "UTF-8 passes as it is";
  EXPECT_EQ(Tsv(std::string("\x01\x1b[2J\x7f", 6)), "\\x01\\x1b[2J\\x7f") << "a name must not drive the terminal";
  EXPECT_EQ(Tsv(std::string("nul\0x", 5)), "nul\\x00x");
  EXPECT_EQ(Tsv("D:\\x\\a\tb.ttf", PathStyle::Windows), "D:\\x\\a\\tb.ttf") << "Windows separators stay";
}

// No byte that a terminal acts on: C0, DEL, or a C1 control in UTF-8.
bool Inert(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f) return false;
    if (c == 0xc2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80) return false;
  }
  return true;
}

// A font's names and versions, a Fonts value's name and data: whoever wrote
// the share wrote them, and standard error shows them to a console.
TEST(ShownTextTest, WhatFontsAndTheRegistryHoldIsShownWithItsControlsEscaped) {
  const std::string title = "1.0\x1b]0;pwned\x07\x1b[2J";
  EXPECT_EQ(Shown(title), "1.0\\x1b]0;pwned\\x07\\x1b[2J");
  EXPECT_EQ(Shown("a\xc2\x9b" "31mb \xc2\xa0 é"), "a\\xc2\\x9b31mb \xc2\xa0 é") << "C1 escaped, other UTF-8 kept";
  EXPECT_EQ(FromTsv(Shown("x\xc2\x85\ny")), "x\xc2\x85\ny") << "read back as a TSV field";
  EXPECT_EQ(Shown("\xc2"), "\\xc2") << "a lone lead byte at the end";

  RowReport conflict;
  conflict.state = RowState::Conflict;
  conflict.sourceVersion = title;
  conflict.targetVersion = "2\r\n";
  conflict.other = "/f/b\x1b[8m.ttf";
  for (const Language language : {Language::English, Language::Chinese}) {
    const std::string text = OtherFileText(conflict, language);
    EXPECT_TRUE(Inert(text)) << text;
    EXPECT_THAT(text, HasSubstr("1.0\\x1b]0;pwned\\x07\\x1b[2J"));
    EXPECT_THAT(text, HasSubstr("2\\r\\n"));
    const RegistrationOutcome named = RegistrationOutcome::InConflict("Evil\x1b[2J\n (TrueType)", "C:\\x\xc2\x9b.ttf");
    const std::string reason = RegistrationReason(named, language);
    EXPECT_TRUE(Inert(reason)) << reason;
    EXPECT_THAT(reason, HasSubstr("Evil\\x1b[2J\\n (TrueType)"));
    const std::string notAFont = RegistrationReason(RegistrationOutcome::NoFont("not a font: '\x1b[2J'"), language);
    EXPECT_TRUE(Inert(notAFont)) << notAFont;
  }
}

TEST(TsvFieldTest, BytesThatAreNotUtf8BecomeHexEscapes) {
  EXPECT_EQ(Tsv("bad\xff.ttf"), "bad\\xff.ttf");
  EXPECT_EQ(Tsv("\xe5\xae"), "\\xe5\\xae") << "a cut sequence";
  EXPECT_EQ(Tsv("\xc0\xaf"), "\\xc0\\xaf") << "an overlong slash";
  EXPECT_EQ(Tsv("\xed\xa0\x80"), "\\xed\\xa0\\x80") << "an encoded surrogate";
  EXPECT_EQ(Tsv("\xf4\x90\x80\x80"), "\\xf4\\x90\\x80\\x80") << "past U+10FFFF";
  EXPECT_EQ(Tsv("\xe5\xae\x8b\xff"), "宋\\xff");
}

TEST(TsvFieldTest, AnyBytesComeBackExactly) {
  std::mt19937 random(7);
  // Bytes drawn mostly from the awkward ones: escapes, lead and tail bytes.
  const std::string alphabet = std::string("\t\n\r\\x\x01\x7f\x80\xbf\xc3\xe5\xed\xf0\xf4\xff a", 17);
  for (int round = 0; round < 2000; ++round) {
    std::string name;
    const int length = static_cast<int>(random() % 12);
    for (int i = 0; i < length; ++i) name += alphabet[random() % alphabet.size()];
    const std::string field = Tsv(name);
    EXPECT_EQ(field.find_first_of("\t\n\r"), std::string::npos);
    EXPECT_EQ(FromTsv(field), name) << field;
  }
}

TEST(JsonStringTest, EscapesByJsonRulesAndSurrogateEscapesBadBytes) {
  EXPECT_EQ(Json("a\"b\\c\n\t\r\x01"), "\"a\\\"b\\\\c\\n\\t\\r\\u0001\"");
  EXPECT_EQ(Json("宋体😀"), "\"宋体😀\"");
  EXPECT_EQ(Json("x\xff\x80y"), "\"x\\udcff\\udc80y\"");
  EXPECT_EQ(Json("\xed\xa0\x80"), "\"\\udced\\udca0\\udc80\"") << "on POSIX these are three bytes";
  EXPECT_EQ(Json("\xed\xa0\x80", PathStyle::Windows), "\"\\ud800\"") << "on Windows a lone surrogate of the name";
  EXPECT_EQ(Json("\xed\xbf\xbf", PathStyle::Windows), "\"\\udfff\"");
}

RunSummary SummaryOf(std::initializer_list<std::pair<RowState, int>> counts) {
  RunSummary summary;
  for (const auto& [state, count] : counts) {
    summary.states[static_cast<int>(state)] += count;
    for (int i = 0; i < count; ++i) {
      if (const auto outcome = TalliedAs(state)) summary.tally.Add(*outcome);
    }
  }
  return summary;
}

TEST(ReportTest, TsvRowsKeepTheWindowsChineseStatusAndEscapeThePath) {
  const auto report = MakeTsvReport(Language::Chinese, PathStyle::Posix);
  std::string out;
  report->AppendRow(out, {.number = "7", .state = RowState::ReplaceSucceeded, .source = "/s/a\tb.ttf", .target = "/t"});
  report->AppendRow(out, {.number = "8", .state = RowState::UpToDate, .source = "/s/c.ttf", .target = "/t"});
  EXPECT_EQ(out, "7\t替换成功\t/s/a\\tb.ttf\n8\t已是最新\t/s/c.ttf\n");
  const auto english = MakeTsvReport(Language::English, PathStyle::Posix);
  out.clear();
  english->AppendRow(out, {.number = "1", .state = RowState::WouldIgnore, .source = "/s/a.ttf", .target = "/t"});
  EXPECT_EQ(out, "1\twould-ignore\t/s/a.ttf\n");
}

TEST(ReportTest, JsonRowsCarryReasonStepAndCodeOnlyWhenFailed) {
  const auto report = MakeJsonReport(Language::English, PathStyle::Posix);
  std::string out;
  report->AppendRow(out, {.number = "3", .state = RowState::CopySucceeded, .source = "/s/\"q\".ttf",
                          .target = "/t/\"q\".ttf", .bytes = 1234});
  EXPECT_EQ(out, "{\"n\":3,\"status\":\"copied\",\"source\":\"/s/\\\"q\\\".ttf\",\"target\":\"/t/\\\"q\\\".ttf\","
                 "\"bytes\":1234}\n");
  out.clear();
  const FileError error{FileStep::Write, 28};
  report->AppendRow(out, {.number = "4", .state = RowState::ReplaceFailed, .source = "/s/a", .target = "/t/a",
                          .reason = &error});
  EXPECT_THAT(out, HasSubstr("\"status\":\"replace-failed\""));
  EXPECT_THAT(out, HasSubstr(",\"step\":\"write\",\"code\":28}"));
  EXPECT_THAT(out, HasSubstr("\"reason\":\"" + ReasonText(error, Language::English) + "\""));
}

TEST(ReportTest, TheJsonSummaryCountsEveryStatusAndSaysHowTheRunEnded) {
  RunSummary run = SummaryOf({{RowState::CopySucceeded, 2}, {RowState::UpToDate, 5}, {RowState::CopyFailed, 1}});
  run.bytesCopied = 99;
  run.staleRemoved = {3, 4096};
  const auto report = MakeJsonReport(Language::Chinese, PathStyle::Posix);
  std::string out;
  report->AppendSummary(out, {.run = run, .update = true, .unreadableFolders = 1, .elapsedMs = 42, .exitStatus = 1});
  EXPECT_EQ(out,
            "{\"summary\":{\"total\":8,\"copied\":2,\"copy-failed\":1,\"replaced\":0,\"replace-failed\":0,"
            "\"ignored\":0,\"up-to-date\":5,\"would-copy\":0,\"would-replace\":0,\"would-ignore\":0,"
            "\"replace-at-reboot\":0,\"target-newer\":0,\"same-version\":0,\"installed-as\":0,\"conflict\":0,"
            "\"not-registered\":0,\"would-remove\":0,\"removed\":0,\"remove-at-reboot\":0,\"remove-failed\":0,"
            "\"damaged\":0,\"not-published\":0,\"missing\":0,\"would-repair\":0,\"repaired\":0,"
            "\"unhandled\":0,\"unreadable_folders\":1,\"bytes\":99,\"elapsed_ms\":42,"
            "\"exit\":1,\"dry_run\":false,\"interrupted\":false,\"stale_temporaries\":{\"count\":3,\"bytes\":4096}}}\n");
}

TEST(ReportTest, AJsonRowSaysWhatRegistrationMadeOfItsFile) {
  const auto report = MakeJsonReport(Language::English, PathStyle::Posix);
  const auto row = [&](const RegistrationOutcome& registration) {
    std::string out;
    report->AppendRow(out, {.number = "1", .state = RowState::CopySucceeded, .source = "/s/a.ttf",
                            .target = "/t/a.ttf", .bytes = 9, .registration = &registration});
    return out;
  };
  EXPECT_EQ(row(RegistrationOutcome::Success("DejaVu Sans (TrueType)")),
            "{\"n\":1,\"status\":\"copied\",\"source\":\"/s/a.ttf\",\"target\":\"/t/a.ttf\",\"bytes\":9,"
            "\"registration\":{\"status\":\"registered\",\"name\":\"DejaVu Sans (TrueType)\"}}\n");
  EXPECT_THAT(row(RegistrationOutcome::NoFont("not a font: no name table")),
              HasSubstr(",\"registration\":{\"status\":\"not-a-font\",\"reason\":\"not a font: no name table\"}}"));
  const std::string failed = row(RegistrationOutcome::Failure(FileError{FileStep::Write, 5}));
  EXPECT_THAT(failed, HasSubstr("\"registration\":{\"status\":\"failed\",\"reason\":\""));
  EXPECT_THAT(failed, HasSubstr("\",\"step\":\"write\",\"code\":5}}"));
  EXPECT_THAT(failed, HasSubstr("\"status\":\"copied\"")) << "the copy itself happened";
  // AddFontResourceExW says no without a code: none is made up, and the text says the system gave none.
  const std::string unexplained =
      row(RegistrationOutcome::Failure(FileError{FileStep::LoadFont, 0, FileErrorKind::NoSystemCode}));
  EXPECT_THAT(unexplained, HasSubstr(",\"step\":\"load-font\"}}"));
  EXPECT_THAT(unexplained, HasSubstr("\"reason\":\"refused by the system, which gave no reason\""));
  const FileError sameFile{FileStep::Open, 0, FileErrorKind::SameFile};
  std::string same;
  report->AppendRow(same, {.number = "2", .state = RowState::ReplaceFailed, .source = "/s/a", .target = "/t/a",
                           .reason = &sameFile});
  EXPECT_THAT(same, HasSubstr(",\"step\":\"open\"}")) << "no code where the system gave none";
  const auto chinese = MakeJsonReport(Language::Chinese, PathStyle::Posix);
  std::string out;
  const RegistrationOutcome notAFont = RegistrationOutcome::NoFont("not a font: no name table");
  chinese->AppendRow(out, {.number = "1", .state = RowState::CopySucceeded, .source = "/s", .target = "/t",
                           .registration = &notAFont});
  EXPECT_THAT(out, HasSubstr("\"reason\":\"不是字体：no name table\""));
}

TEST(ReportTest, TheSummaryCountsRegistrationsAndSaysWhatTheSystemWasTold) {
  const RunSummary run = SummaryOf({{RowState::CopySucceeded, 3}, {RowState::ReplaceAtReboot, 1}});
  RegistrationRecord registration{.registered = 3, .notAFont = 1, .failed = 0, .refresh = FontRefresh::CacheRefreshed};
  std::string json;
  MakeJsonReport(Language::English, PathStyle::Posix)->AppendSummary(json, {.run = run, .registration = &registration});
  EXPECT_THAT(json, HasSubstr("{\"summary\":{\"total\":4,\"copied\":3,"));
  EXPECT_THAT(json, HasSubstr("\"replace-at-reboot\":1,"));
  EXPECT_THAT(json, HasSubstr(",\"registration\":{\"registered\":3,\"not_a_font\":1,\"failed\":0,\"conflict\":0,"
                              "\"refresh\":\"cache-refreshed\"}}}\n"));
  registration.refresh = FontRefresh::CacheToolFailed;
  registration.toolStatus = 3;
  json.clear();
  MakeJsonReport(Language::English, PathStyle::Posix)->AppendSummary(json, {.run = run, .registration = &registration});
  EXPECT_THAT(json, HasSubstr("\"refresh\":\"fc-cache-failed\",\"fc_cache_status\":3}"));
  json.clear();
  MakeJsonReport(Language::English, PathStyle::Posix)->AppendSummary(json, {.run = run});
  EXPECT_THAT(json, Not(HasSubstr("registration"))) << "without --register";
}

TEST(ReportTest, TheStartLineNamesTimeVersionHostUserAndArguments) {
  const std::vector<std::string> args = {"--target", "a b", "x\ty"};
  std::string tsv, json;
  const StartRecord start{.time = "2026-01-02T03:04:05Z", .version = "0.9.1-test", .host = "ws01", .user = "adm",
                          .args = args};
  MakeTsvReport(Language::Chinese, PathStyle::Posix)->AppendStart(tsv, start);
  MakeJsonReport(Language::Chinese, PathStyle::Posix)->AppendStart(json, start);
  EXPECT_EQ(tsv, "#\t2026-01-02T03:04:05Z\tquorvane-sync 0.9.1-test\thost=ws01\tuser=adm\t--target\ta b\tx\\ty\n");
  EXPECT_EQ(json, "{\"start\":{\"time\":\"2026-01-02T03:04:05Z\",\"version\":\"0.9.1-test\",\"host\":\"ws01\","
                  "\"user\":\"adm\",\"args\":[\"--target\",\"a b\",\"x\\ty\"]}}\n");
}

TEST(SummaryLineTest, TheChineseDefaultIsTheWindowsOwnText) {
  const RunSummary run = SummaryOf({{RowState::CopySucceeded, 2}, {RowState::Ignored, 1}});
  EXPECT_EQ(SummaryLine({.run = run}, Language::Chinese),
            "本次任务共处理文件3个：复制成功2个；复制失败0个；替换成功0个；替换失败0个；同名忽略1个。");
}

TEST(SummaryLineTest, UpToDateIsAGroupOfItsOwnAndADryRunSaysSo) {
  const RunSummary updated = SummaryOf({{RowState::ReplaceSucceeded, 1}, {RowState::UpToDate, 799}});
  EXPECT_EQ(SummaryLine({.run = updated, .update = true}, Language::Chinese),
            "本次任务共处理文件800个：复制成功0个；复制失败0个；替换成功1个；替换失败0个；同名忽略0个；已是最新799个。");
  EXPECT_EQ(SummaryLine({.run = updated, .update = true}, Language::English),
            "Handled 800 files: 0 copied; 0 copy failed; 1 replaced; 0 replace failed; 0 ignored; 799 up to date.");
  const RunSummary dry = SummaryOf({{RowState::WouldCopy, 2}, {RowState::WouldIgnore, 1}});
  EXPECT_EQ(SummaryLine({.run = dry, .dryRun = true}, Language::Chinese),
            "试运行，未写入任何文件：本次任务共处理文件3个：将复制2个；将替换0个；将忽略1个。");
  EXPECT_EQ(SummaryLine({.run = dry, .dryRun = true}, Language::English),
            "Dry run, nothing written: 3 files: 2 would copy; 0 would replace; 1 would ignore.");
  EXPECT_THAT(SummaryLine({.run = dry, .dryRun = true}, Language::Chinese), Not(HasSubstr("复制成功")));
}

TEST(SummaryLineTest, RegistrationFollowsTheCountsAndAFontInUseIsCounted) {
  const RunSummary run = SummaryOf({{RowState::CopySucceeded, 2}, {RowState::Ignored, 1}});
  RegistrationRecord registration{.registered = 1, .notAFont = 1, .refresh = FontRefresh::CacheRefreshed};
  EXPECT_EQ(SummaryLine({.run = run, .registration = &registration}, Language::Chinese),
            "本次任务共处理文件3个：复制成功2个；复制失败0个；替换成功0个；替换失败0个；同名忽略1个。"
            "注册：成功1个，不是字体1个，失败0个；字体缓存已刷新。");
  EXPECT_EQ(SummaryLine({.run = run, .registration = &registration}, Language::English),
            "Handled 3 files: 2 copied; 0 copy failed; 0 replaced; 0 replace failed; 1 ignored. "
            "Registration: 1 registered, 1 not a font, 0 failed; font cache refreshed.");
  registration.refresh = FontRefresh::CacheToolMissing;
  EXPECT_THAT(SummaryLine({.run = run, .registration = &registration}, Language::English),
              HasSubstr("; font cache not refreshed: no fc-cache on PATH."));
  registration.refresh = FontRefresh::FontChangeSent;
  EXPECT_THAT(SummaryLine({.run = run, .registration = &registration}, Language::Chinese),
              HasSubstr("失败0个；已通知正在运行的程序。"));
  registration.refresh = FontRefresh::None;
  EXPECT_THAT(SummaryLine({.run = run, .registration = &registration}, Language::English),
              HasSubstr("0 failed.")) << "nothing registered, nothing to tell";

  const RunSummary atRestart = SummaryOf({{RowState::ReplaceSucceeded, 1}, {RowState::ReplaceAtReboot, 2}});
  EXPECT_EQ(SummaryLine({.run = atRestart}, Language::Chinese),
            "本次任务共处理文件3个：复制成功0个；复制失败0个；替换成功1个；替换失败0个；同名忽略0个；重启后替换2个。");
  EXPECT_EQ(SummaryLine({.run = atRestart}, Language::English),
            "Handled 3 files: 0 copied; 0 copy failed; 1 replaced; 0 replace failed; 0 ignored; "
            "2 replaced at the next start.");
}

TEST(SummaryLineTest, RefreshFollowsWhatFinishSaidOnEachSystem) {
  EXPECT_EQ(RefreshOf({.notified = true, .error = std::nullopt}, PathStyle::Windows), FontRefresh::FontChangeSent);
  EXPECT_EQ(RefreshOf({.notified = true, .error = std::nullopt}, PathStyle::Posix), FontRefresh::CacheRefreshed);
  EXPECT_EQ(RefreshOf({}, PathStyle::Posix), FontRefresh::None);
  EXPECT_EQ(RefreshOf({.notified = false, .error = FileError{FileStep::Notify, ENOENT}}, PathStyle::Posix), FontRefresh::CacheToolMissing);
  const RegistrationTally failed{.registered = 1, .finish = {.notified = false, .error = FileError{FileStep::Notify, 1, FileErrorKind::ExitStatus}}};
  EXPECT_EQ(RefreshOf(failed.finish, PathStyle::Posix), FontRefresh::CacheToolFailed);
  EXPECT_EQ(RegistrationRecordOf(failed, PathStyle::Posix).toolStatus, 1);
  EXPECT_THAT(RefreshWarning({.refresh = FontRefresh::CacheToolMissing}, Language::English),
              ::testing::StartsWith("warning: font cache not refreshed: no fc-cache on PATH; "));
  EXPECT_EQ(RefreshWarning({.refresh = FontRefresh::CacheRefreshed}, Language::English), "");
}

TEST(LanguageTest, TheOptionFirstThenLcAllLcMessagesLang) {
  EXPECT_EQ(ChooseLanguage("en", "zh_CN.UTF-8", nullptr, nullptr), Language::English);
  EXPECT_EQ(ChooseLanguage("zh", "C", nullptr, nullptr), Language::Chinese);
  EXPECT_EQ(ChooseLanguage(std::nullopt, nullptr, nullptr, nullptr), Language::Chinese);
  EXPECT_EQ(ChooseLanguage(std::nullopt, "C", "zh_CN.UTF-8", "zh_CN.UTF-8"), Language::English);
  EXPECT_EQ(ChooseLanguage(std::nullopt, "", "en_GB.UTF-8", "zh_CN.UTF-8"), Language::English) << "empty is unset";
  EXPECT_EQ(ChooseLanguage(std::nullopt, nullptr, nullptr, "C.UTF-8"), Language::English);
  EXPECT_EQ(ChooseLanguage(std::nullopt, nullptr, nullptr, "POSIX"), Language::English);
  EXPECT_EQ(ChooseLanguage(std::nullopt, "zh_TW.UTF-8", nullptr, "en_US.UTF-8"), Language::Chinese);
  EXPECT_EQ(ChooseLanguage(std::nullopt, nullptr, nullptr, "de_DE.UTF-8"), Language::Chinese) << "the window's language";
}

TEST(ExitStatusTest, InterruptedBeatsFailedBeatsRebootBeatsDone) {
  RunSummary run = SummaryOf({{RowState::CopySucceeded, 1}, {RowState::UpToDate, 1}, {RowState::Ignored, 1}});
  EXPECT_EQ(ExitStatusOf(run, false, 0), kExitOk);
  EXPECT_EQ(ExitStatusOf(run, false, 1), kExitFailed) << "an unreadable sub-folder was not synchronised";
  run.states[static_cast<int>(RowState::ReplaceAtReboot)] = 1;
  EXPECT_EQ(ExitStatusOf(run, false, 0), kExitRebootRequired);
  run.registration = RegistrationTally{.registered = 1, .notAFont = 1, .failed = 0, .finish = {}};
  EXPECT_EQ(ExitStatusOf(run, false, 0), kExitRebootRequired) << "a file that is no font is only a warning";
  run.registration->failed = 1;
  EXPECT_EQ(ExitStatusOf(run, false, 0), kExitFailed) << "a font that could not be registered";
  run.registration.reset();
  run.tally.Add(FileOutcome::ReplaceFailed);
  EXPECT_EQ(ExitStatusOf(run, false, 0), kExitFailed);
  run.stopped = true;
  EXPECT_EQ(ExitStatusOf(run, false, 0), kExitInterrupted);
}

TEST(ProgressTextTest, CountsFilesAndBytesAndNeverOutgrowsTheTerminal) {
  const ProgressFigures figures{.filesDone = 312, .filesTotal = 800, .bytesDone = 250'000'000,
                                .bytesTotal = 500'000'000, .seconds = 5};
  EXPECT_EQ(ProgressText(figures, 200), "[##########..........]  312/800  250.0 MB/500.0 MB  50.0 MB/s  0:05 left");
  EXPECT_EQ(ProgressText(figures, 30).size(), 29u);
  EXPECT_EQ(ProgressText({.filesDone = 1, .filesTotal = 4}, 80), "[#####...............]  1/4") << "a dry run";
  EXPECT_EQ(ProgressText({.filesDone = 0, .filesTotal = 0}, 80), "[....................]  0/0");
}

}  // namespace
}  // namespace quorvane::cli

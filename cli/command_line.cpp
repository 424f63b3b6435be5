#include "cli/command_line.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/arguments.h"
#include "cli/console_view.h"
#include "cli/output.h"
#include "cli/platform.h"
#include "cli/report.h"
#include "cli/texts.h"
#include "sync/file_ops.h"
#include "sync/font_folder.h"
#include "sync/font_listing.h"
#include "sync/font_registration.h"
#include "sync/font_sync_run.h"

// CMake's project version; a compiler run outside the build (the MSVC syntax
// check) has none, and the tests see to it that the build's is the one used.
#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "unknown"
#endif

namespace quorvane::cli {

namespace {

std::string Quoted(std::string_view path) {
  std::string text;
  AppendTsvField(text, path, kPathStyle);
  return text;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  char text[32] = "?";
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

// The folders a run needs, checked before anything is written.
struct Folders {
  std::string target;
  std::optional<FileIdentity> targetIdentity;
};

class Tool {
 public:
  Tool(const Arguments& arguments, Language language) : arguments_(arguments), language_(language) {}

  int Run(const std::vector<std::string>& args);

 private:
  std::string_view Say(std::string_view chinese, std::string_view english) const {
    return Pick(language_, chinese, english);
  }
  int Refuse(const std::string& text) const {
    Write(Stream::Err, "quorvane-sync: " + text + "\n");
    return kExitUsage;
  }
  std::variant<Folders, int> CheckFolders() const;
  void List(ConsoleView& view, const Folders& folders);

  const Arguments& arguments_;
  Language language_;
  std::int64_t unreadableFolders_ = 0;
};

std::variant<Folders, int> Tool::CheckFolders() const {
  for (const std::string& source : arguments_.sources) {
    std::vector<FolderEntry> entries;
    if (!IsFolder(source)) {
      return Refuse(std::string(Say("源文件夹不存在：", "source folder does not exist: ")) + Quoted(source));
    }
    if (const FileResult listed = ListFolder(source, entries); !listed) {
      return Refuse(std::string(Say("无法读取源文件夹 ", "cannot read source folder ")) + Quoted(source) + ": " +
                    ReasonText(*listed.error, language_));
    }
  }

  // --user is the per-user font folder on Windows; elsewhere the default is a user's own already.
  Folders folders{arguments_.target.value_or(arguments_.user ? UserFontFolder() : SystemFontFolder()), std::nullopt};
  if (folders.target.empty()) return Refuse(std::string(Say("没有目标文件夹：请用 --target 指定", "no target folder: give one with --target")));
  if (!IsFolder(folders.target)) {
    // The default folder of a fresh account is made, as fontconfig and
    // Windows' per-user fonts expect it (a dry run only says what it would
    // copy into it); a folder the user named and mistyped is not.
    const bool isDefault = !arguments_.target && !EntryExists(folders.target);
    const FileResult made = isDefault && !arguments_.dryRun ? MakeFolders(folders.target) : FileResult{};
    if (!isDefault || !made) {
      std::string text = std::string(Say("目标文件夹不存在：", "target folder does not exist: ")) + Quoted(folders.target);
      if (!made) text += ": " + ReasonText(*made.error, language_);
      return Refuse(text);
    }
  }

  folders.targetIdentity = IdentityOf(folders.target);
  for (const std::string& source : arguments_.sources) {
    if (folders.targetIdentity && IdentityOf(source) == folders.targetIdentity) {
      return Refuse(std::string(Say("源文件夹与目标文件夹是同一个文件夹：", "source and target are the same folder: ")) +
                    Quoted(source));
    }
  }
  return folders;
}

void Tool::List(ConsoleView& view, const Folders& folders) {
  bool toldLeftOut = false;
  for (const std::string& source : arguments_.sources) {
    const ListingResult listed = FontListing(source, view, {.leaveOut = folders.targetIdentity});
    for (const UnreadableFolder& folder : listed.unreadable) {
      ++unreadableFolders_;
      view.Say(std::string(Say("警告：无法读取文件夹 ", "warning: cannot read folder ")) + Quoted(folder.path) + ": " +
               ReasonText(folder.reason, language_) + std::string(Say("；其中的字体未列出", "; its fonts are not listed")));
    }
    if (listed.leftOut && !toldLeftOut && !arguments_.quiet) {
      toldLeftOut = true;
      view.Say(std::string(Say("目标文件夹 ", "the target folder ")) + Quoted(folders.target) +
               std::string(Say(" 位于源文件夹之内：其中的文件不列出", " lies inside a source: its files are not listed")));
    }
  }
}

int Tool::Run(const std::vector<std::string>& args) {
  const auto started = std::chrono::steady_clock::now();
  auto checked = CheckFolders();
  if (const int* status = std::get_if<int>(&checked)) return *status;
  const Folders& folders = std::get<Folders>(checked);

  std::optional<AppendFile> log;
  if (arguments_.log) {
    FileError error;
    log = AppendFile::Open(*arguments_.log, error);
    if (!log) {
      return Refuse(std::string(Say("无法打开日志文件 ", "cannot open the log file ")) + Quoted(*arguments_.log) + ": " +
                    ReasonText(error, language_));
    }
  }

  InterruptHandlers interrupts(Say("quorvane-sync: 再次中断：立即结束\n", "quorvane-sync: interrupted again: ended at once\n"));
  const ErrorTerminal terminal;
  const auto report = arguments_.json ? MakeJsonReport(language_, kPathStyle) : MakeTsvReport(language_, kPathStyle);
  Output output(log ? &*log : nullptr);
  if (log) {
    std::string start;
    const std::string time = UtcNow(), host = HostName(), user = UserName();
    report->AppendStart(start, {.time = time, .version = QUORVANE_VERSION, .host = host, .user = user, .args = args});
    output.ToLogOnly(start);
  }
  const bool progress = terminal.IsTerminal() && !arguments_.quiet;
  ConsoleView view({.language = language_,
                    .quiet = arguments_.quiet,
                    .targetFolder = folders.target,
                    .progress = progress,
                    .outputOnTerminal = IsTerminal(Stream::Out),
                    .writeEachRow = arguments_.checksum},
                   *report, output, terminal);

  List(view, folders);
  if (progress && !arguments_.dryRun) view.MeasureSources();

  // A dry run writes nothing, the registry included.
  std::optional<FontRegistrar> registrar;
  if (arguments_.registerFonts && !arguments_.dryRun) {
    registrar.emplace(folders.target, arguments_.user ? FontScope::User : FontScope::Machine);
    view.AttachRegistrar(&*registrar);
  }

  FontSyncRun run(view);
  view.Attach(&run);
  std::optional<RunSummary> summary;
  if (view.Interrupted() || InterruptRequested()) {
    // Stopped while listing: nothing was handled.
    summary.emplace();
    summary->unhandled = view.RowCount();
    summary->stopped = summary->unhandled > 0;
  } else {
    summary = run.Run(arguments_.sources.front(), folders.target,
                      {.policy = arguments_.policy,
                       .dryRun = arguments_.dryRun,
                       .update = arguments_.update,
                       .checksum = arguments_.checksum,
                       .replaceAtRebootWhenInUse = registrar.has_value()});
    if (!summary) return kExitUsage;
  }
  const bool interrupted = view.Interrupted() || InterruptRequested();
  if (interrupted && summary->unhandled > 0) {
    view.Say(language_ == Language::English
                 ? "interrupted: " + std::to_string(summary->unhandled) + " files not handled"
                 : "已中断：" + std::to_string(summary->unhandled) + "个文件未处理");
  }
  // The fonts registered so far are told of, an interrupted run's too.
  std::optional<RegistrationRecord> registration;
  if (registrar) {
    const RegistrationFinish finish = registrar->Finish();
    registration = view.Registrations();
    registration->refresh = RefreshOf(finish, kPathStyle);
    registration->toolStatus = finish.toolStatus;
    if (const std::string warning = RefreshWarning(*registration, language_); !warning.empty()) view.Say(warning);
  }
  const int status = ExitStatusOf(*summary, interrupted && summary->stopped, unreadableFolders_,
                                  registration ? registration->failed : 0);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  view.WriteSummary({.run = *summary,
                     .dryRun = arguments_.dryRun,
                     .update = arguments_.update,
                     .interrupted = status == kExitInterrupted,
                     .unreadableFolders = unreadableFolders_,
                     .elapsedMs = elapsed.count(),
                     .exitStatus = status,
                     .registration = registration ? &*registration : nullptr});
  interrupts.RunEnded();
  return status;
}

}  // namespace

int ExitStatusOf(const RunSummary& summary, bool interrupted, std::int64_t unreadableFolders,
                 std::int64_t registrationsFailed) {
  if (interrupted || summary.stopped) return kExitInterrupted;
  if (summary.tally.AnyFailed() || unreadableFolders > 0 || registrationsFailed > 0) return kExitFailed;
  if (summary.Count(RowState::ReplaceAtReboot) > 0) return kExitRebootRequired;
  return kExitOk;
}

int RunCommandLine(const std::vector<std::string>& args) {
  const std::optional<std::string> option = LanguageOption(args);
  const Language language =
      ChooseLanguage(option && IsKnownLanguage(*option) ? std::optional<std::string_view>(*option) : std::nullopt,
                     std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
  auto parsed = ParseArguments(args);
  if (const auto* error = std::get_if<UsageError>(&parsed)) {
    Write(Stream::Err, "quorvane-sync: " + error->Text(language) + "\n" + kUsage);
    return kExitUsage;
  }
  const Arguments& arguments = std::get<Arguments>(parsed);
  if (arguments.help) {
    Write(Stream::Out, kUsage);
    return kExitOk;
  }
  if (arguments.version) {
    Write(Stream::Out, "quorvane-sync " QUORVANE_VERSION "\n");
    return kExitOk;
  }
  return Tool(arguments, language).Run(args);
}

}  // namespace quorvane::cli

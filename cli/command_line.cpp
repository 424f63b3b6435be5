#include "cli/command_line.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/console_view.h"
#include "cli/output.h"
#include "cli/platform.h"
#include "cli/report.h"
#include "cli/texts.h"
#include "sync/files/file_ops.h"
#include "sync/install/font_folder.h"
#include "sync/run/font_listing.h"
#include "sync/run/manifest.h"
#include "sync/install/font_registration.h"
#include "sync/run/sync_request.h"

// CMake's project version; a compiler run outside the build (the MSVC syntax
// check) has none, and the tests see to it that the build's is the one used.
#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "unknown"
#endif

namespace quorvane::cli {

namespace {

std::string Quoted(std::string_view path) { return Shown(path); }

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
  std::string Say(const Phrase& phrase) const { return std::string(Pick(language_, phrase)); }
  void Refuse(const std::string& text) const { Write(Stream::Err, "quorvane-sync: " + text + "\n"); }
  // The folders, or nothing when they were refused (and said why).
  std::optional<Folders> CheckFolders() const;
  void List(ConsoleView& view, const Folders& folders);
  // What the arguments ask of the core, once the sources are listed.
  SyncRequest RequestOf(const Folders& folders) const;
  // The --log file, opened to append; false when it was refused (and said why).
  bool OpenLog(std::optional<AppendFile>& log) const;
  // What standard error says after the rows: an interrupt, the record, the font cache.
  void SayAfterRows(ConsoleView& view, const RunSummary& summary, bool interrupted,
                    const std::optional<RegistrationRecord>& registered) const;
  // --manifest's file, read and verified; false when it was refused (and said why).
  bool LoadManifestFile();

  const Arguments& arguments_;
  Language language_;
  std::int64_t unreadableFolders_ = 0;
  std::int64_t skippedEntries_ = 0;
  std::optional<std::vector<ManifestEntry>> manifest_;
};

bool Tool::LoadManifestFile() {
  if (!arguments_.manifest) return true;
  auto loaded = LoadManifest(*arguments_.manifest);
  if (auto* refusal = std::get_if<ManifestRefusal>(&loaded)) {
    Refuse(Say(kManifestRefused) + Quoted(*arguments_.manifest) + ": " +
           (refusal->error ? ReasonText(*refusal->error, language_) : refusal->why));
    return false;
  }
  manifest_ = std::move(std::get<std::vector<ManifestEntry>>(loaded));
  return true;
}

std::optional<Folders> Tool::CheckFolders() const {
  for (const std::string& source : arguments_.sources) {
    std::vector<FolderEntry> entries;
    if (!IsFolder(source)) {
      Refuse(Say(kSourceMissing) + Quoted(source));
      return std::nullopt;
    }
    if (const FileResult listed = ListFolder(source, entries); !listed) {
      Refuse(Say(kSourceUnreadable) + Quoted(source) + ": " + ReasonText(*listed.error, language_));
      return std::nullopt;
    }
  }

  // --user is the per-user font folder on Windows; elsewhere the default is a user's own already.
  Folders folders{arguments_.target.value_or(arguments_.user ? UserFontFolder() : SystemFontFolder()), std::nullopt};
  if (folders.target.empty()) {
    Refuse(Say(kNoTarget));
    return std::nullopt;
  }
  if (!IsFolder(folders.target)) {
    // The default folder of a fresh account is made, as fontconfig and
    // Windows' per-user fonts expect it (a dry run or a check only says what
    // it would copy into it); a folder the user named and mistyped is not.
    const bool isDefault = !arguments_.target && !EntryExists(folders.target);
    const bool writes = !arguments_.dryRun && !arguments_.check;
    const FileResult made = isDefault && writes ? MakeFolders(folders.target) : FileResult{};
    if (!isDefault || !made) {
      std::string text = Say(kTargetMissing) + Quoted(folders.target);
      if (!made) text += ": " + ReasonText(*made.error, language_);
      Refuse(text);
      return std::nullopt;
    }
  }

  folders.targetIdentity = IdentityOf(folders.target);
  for (const std::string& source : arguments_.sources) {
    if (folders.targetIdentity && IdentityOf(source) == folders.targetIdentity) {
      Refuse(Say(kSameFolder) + Quoted(source));
      return std::nullopt;
    }
  }
  return folders;
}

SyncRequest Tool::RequestOf(const Folders& folders) const {
  return {.sources = arguments_.sources,
          .target = folders.target,
          .scope = arguments_.user ? FontScope::User : FontScope::Machine,
          .policy = arguments_.policy,
          .update = arguments_.update,
          .checksum = arguments_.checksum,
          .newer = arguments_.newer,
          .check = arguments_.check,
          .dryRun = arguments_.dryRun,
          .registerFonts = arguments_.registerFonts,
          .refuseDamaged = true,
          .verify = arguments_.verify,
          .prune = arguments_.prune,
          .maxDelete = arguments_.maxDelete,
          .sourcesComplete = unreadableFolders_ == 0 && skippedEntries_ == 0,
          .manifest = manifest_ ? &*manifest_ : nullptr};
}

void Tool::List(ConsoleView& view, const Folders& folders) {
  bool toldLeftOut = false;
  for (const std::string& source : arguments_.sources) {
    const ListingResult listed = FontListing(source, view, {.leaveOut = folders.targetIdentity});
    for (const UnreadableFolder& folder : listed.unreadable) {
      ++unreadableFolders_;
      view.Say(Say(kFolderUnreadable) + Quoted(folder.path) + ": " + ReasonText(folder.reason, language_) +
               Say(kFolderUnreadableTail));
    }
    // Not a failure of the copy, but what lies behind them is not known: no prune trusts such a listing.
    for (const SkippedEntry& entry : listed.skipped) {
      ++skippedEntries_;
      view.Say(entry.reason ? Say(kEntryUnknown) + Quoted(entry.path) + ": " + ReasonText(*entry.reason, language_) +
                                  Say(kEntryUnknownTail)
                            : Say(kFolderLinkSkipped) + Quoted(entry.path) + Say(kFolderLinkSkippedTail));
    }
    if (listed.leftOut && !toldLeftOut && !arguments_.quiet) {
      toldLeftOut = true;
      view.Say(Say(kTargetInsideSource) + Quoted(folders.target) + Say(kTargetInsideSourceTail));
    }
  }
}

bool Tool::OpenLog(std::optional<AppendFile>& log) const {
  if (!arguments_.log) return true;
  FileError error;
  LogRefusal refusal = LogRefusal::None;
  log = AppendFile::Open(*arguments_.log, RunsAsSystemAccount(), error, refusal);
  if (log) return true;
  const std::string named = Say(kLogUnopenable) + Quoted(*arguments_.log);
  switch (refusal) {
    case LogRefusal::None: Refuse(named + ": " + ReasonText(error, language_)); break;
    case LogRefusal::Link: Refuse(named + Say(kLogIsLink)); break;
    case LogRefusal::NotOwn: Refuse(named + Say(kLogNotOwn)); break;
  }
  return false;
}

void Tool::SayAfterRows(ConsoleView& view, const RunSummary& summary, bool interrupted,
                        const std::optional<RegistrationRecord>& registered) const {
  if (interrupted && summary.unhandled > 0) {
    view.Say(InterruptedText(summary.unhandled, language_));
  }
  if (const std::optional<RecordSummary>& kept = summary.record) {
    if (kept->refusal != PruneRefusal::None) {
      view.Say(PruneRefusalText(*kept, arguments_.maxDelete, language_));
    } else if (const std::string problem = RecordProblemText(*kept, language_); !problem.empty()) {
      view.Say(kept->pruning ? problem : std::string(Pick(language_, "警告：", "warning: ")) + problem);
    }
    if (const std::string changed = ChangedSinceText(*kept, language_); !changed.empty() && !arguments_.quiet) {
      view.Say(changed);
    }
  }
  if (registered) {
    if (const std::string warning = RefreshWarning(*registered, language_); !warning.empty()) view.Say(warning);
  }
}

int Tool::Run(const std::vector<std::string>& args) {
  const auto started = std::chrono::steady_clock::now();
  // Before anything is written, the default target folder included.
  if (!LoadManifestFile()) return kExitUsage;
  const std::optional<Folders> checked = CheckFolders();
  if (!checked) return kExitUsage;
  const Folders& folders = *checked;

  std::optional<AppendFile> log;
  if (!OpenLog(log)) return kExitUsage;

  InterruptHandlers interrupts(Pick(language_, kInterruptedAgain));
  const ErrorTerminal terminal;
  const auto report = arguments_.json ? MakeJsonReport(language_, kPathStyle) : MakeTsvReport(language_, kPathStyle);
  // The JSON rows carry the versions the run read; the log's TSV lines do too, as fields of their own.
  const auto logReport = log && !arguments_.json ? MakeTsvReport(language_, kPathStyle, true) : nullptr;
  Output output(log ? &*log : nullptr, logReport != nullptr);
  if (log) {
    std::string start;
    const std::string time = UtcNow(), host = HostName(), user = UserName();
    report->AppendStart(start, {.time = time, .version = QUORVANE_VERSION, .host = host, .user = user, .args = args});
    output.ToLogOnly(start);
  }
  const bool progress = terminal.IsTerminal() && !arguments_.quiet;
  ConsoleView view({.language = language_,
                    .quiet = arguments_.quiet,
                    .progress = progress,
                    .outputOnTerminal = IsTerminal(Stream::Out),
                    .writeEachRow = arguments_.checksum,
                    .check = arguments_.check},
                   *report, logReport.get(), output, terminal);

  List(view, folders);
  const SyncRequest request = RequestOf(folders);
  const bool check = request.check, dryRun = request.WritesNothing();
  if (progress && !dryRun) view.MeasureSources();
  const std::optional<RunSummary> summary = RunSync(request, view);
  if (!summary) return kExitUsage;
  const bool interrupted = view.Interrupted() || InterruptRequested();
  std::optional<RegistrationRecord> registered;
  if (summary->registration) registered = RegistrationRecordOf(*summary->registration, kPathStyle);
  SayAfterRows(view, *summary, interrupted, registered);
  const int status = ExitStatusOf(*summary, interrupted && summary->stopped, unreadableFolders_, check);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  view.WriteSummary({.run = *summary,
                     .dryRun = dryRun,
                     .check = check,
                     .update = arguments_.update,
                     .interrupted = status == kExitInterrupted,
                     .unreadableFolders = unreadableFolders_,
                     .elapsedMs = elapsed.count(),
                     .exitStatus = status,
                     .registration = registered ? &*registered : nullptr});
  interrupts.RunEnded();
  return status;
}

// --publish: the sources' manifest on standard output, whole or not at all.
int Publish(const Arguments& arguments, Language language) {
  const auto say = [&](const std::string& text) { Write(Stream::Err, "quorvane-sync: " + text + "\n"); };
  for (const std::string& source : arguments.sources) {
    if (!IsFolder(source)) {
      say(std::string(Pick(language, kSourceMissing)) + Quoted(source));
      return kExitUsage;
    }
  }
  const Publication publication = PublishSources(arguments.sources);
  for (const UnreadableFolder& folder : publication.listing.unreadable) {
    say(std::string(Pick(language, kFolderUnreadable)) + Quoted(folder.path) + ": " + ReasonText(folder.reason, language));
  }
  for (const SkippedEntry& entry : publication.listing.skipped) {
    say(entry.reason ? std::string(Pick(language, kEntryUnknown)) + Quoted(entry.path) + ": " +
                           ReasonText(*entry.reason, language)
                     : std::string(Pick(language, kFolderLinkSkipped)) + Quoted(entry.path));
  }
  for (const auto& [path, error] : publication.unreadable) {
    say(std::string(Pick(language, kFileUnreadable)) + Quoted(path) + ": " + FailureReason(error, language));
  }
  if (!publication.Whole()) {
    say(std::string(Pick(language, kPublishIncomplete)));
    return kExitFailed;
  }
  for (const auto& [path, why] : publication.notFonts) {
    say(std::string(Pick(language, kPublishNotAFont)) + Quoted(path) + ": " + Shown(why));
  }
  const std::optional<std::string> manifest = FormatManifest(publication.entries);
  if (!manifest) {
    say(std::string(Pick(language, kPublishHashFailed)));
    return kExitFailed;
  }
  Write(Stream::Out, *manifest);
  return kExitOk;
}

}  // namespace

int ExitStatusOf(const RunSummary& summary, bool interrupted, std::int64_t unreadableFolders, bool check) {
  if (interrupted || summary.stopped) return kExitInterrupted;
  const bool registrationFailed =
      summary.registration && (summary.registration->failed > 0 || summary.registration->conflict > 0);
  // The record serves --prune: a run without one that cannot keep it only warns.
  const bool recordFailed = summary.record && (summary.record->refusal != PruneRefusal::None ||
                                               (summary.record->pruning && (summary.record->error ||
                                                                            !summary.record->damage.empty())));
  bool rowFailed = summary.tally.AnyFailed(), outOfStep = false, restart = false;
  for (int state = 0; state < kRowStateCount; ++state) {
    if (summary.states[state] == 0) continue;
    const RowStateInfo& info = InfoOf(static_cast<RowState>(state));
    rowFailed = rowFailed || info.exit == RowExit::Failed;
    restart = restart || info.exit == RowExit::Restart;
    outOfStep = outOfStep || info.step == RowStep::OutOfStep;
  }
  if (rowFailed || unreadableFolders > 0 || registrationFailed || recordFailed || (check && outOfStep)) {
    return kExitFailed;
  }
  return restart ? kExitRebootRequired : kExitOk;
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
  if (arguments.publish) return Publish(arguments, language);
  return Tool(arguments, language).Run(args);
}

}  // namespace quorvane::cli

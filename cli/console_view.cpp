#include "cli/console_view.h"

#include "cli/platform.h"
#include "cli/texts.h"
#include "sync/files/file_ops.h"

namespace quorvane::cli {

ConsoleView::ConsoleView(const ViewOptions& options, const Report& report, const Report* logReport, Output& output,
                         const ErrorTerminal& terminal)
    : options_(options),
      report_(report),
      logReport_(logReport),
      output_(output),
      progressLine_(terminal) {}

void ConsoleView::MeasureSources() {
  sourceBytes_.assign(rows_.size(), 0);
  figures_.bytesTotal = 0;
  for (size_t row = 0; row < rows_.size(); ++row) {
    if (const auto stamp = StampOf(rows_[row][kPathColumn])) sourceBytes_[row] = stamp->size;
    figures_.bytesTotal += sourceBytes_[row];
  }
}

void ConsoleView::Say(std::string_view text) {
  FlushOutput();
  progressLine_.Clear();
  std::string line = "quorvane-sync: ";
  line += text;
  line += '\n';
  Write(Stream::Err, line);
  // The log keeps it too, after the row it is about: the batch went out first.
  if (output_.Logs()) {
    std::string logged;
    (logReport_ != nullptr ? *logReport_ : report_).AppendMessage(logged, text);
    output_.ToLogOnly(logged);
  }
}

void ConsoleView::WriteSummary(const SummaryRecord& summary) {
  report_.AppendSummary(output_.Buffer(), summary);
  if (std::string* log = output_.LogBuffer()) logReport_->AppendSummary(*log, summary);
  progressLine_.Clear();
  output_.Flush();
}

void ConsoleView::AddRows(std::span<const ListedRow> rows) {
  rows_.reserve(rows_.size() + rows.size());
  for (const ListedRow& row : rows) rows_.push_back({row.number, row.name, row.path, std::string(kReadyText)});
  figures_.filesTotal = RowCount();
}

std::string ConsoleView::CellText(std::int64_t row, int column) const {
  if (row < 0 || row >= RowCount() || column < 0 || column > kStatusColumn) return {};
  return rows_[static_cast<size_t>(row)][static_cast<size_t>(column)];
}

namespace {

bool NotRegistered(const std::optional<RegistrationOutcome>& registration) {
  return registration && registration->kind != RegistrationOutcome::Kind::Registered;
}

bool RegistrationFailed(const std::optional<RegistrationOutcome>& registration) {
  return registration && (registration->kind == RegistrationOutcome::Kind::Failed ||
                          registration->kind == RegistrationOutcome::Kind::Conflict);
}

}  // namespace

void ConsoleView::SetStatus(std::int64_t row, const RowFiles& files, const RowReport& report) {
  if (row < 0 || row >= RowCount()) return;
  const bool wasCopying = copyingRow_ == row;
  if (report.state == RowState::Copying) {
    // The lines before it are out before a copy that may take long.
    copyingRow_ = row;
    FlushOutput();
    return;
  }
  copyingRow_ = -1;
  rows_[static_cast<size_t>(row)][kStatusColumn] = StatusText(report.state);
  if (report.state == RowState::Ready) return;  // abandoned: not handled after all
  if (!sourceBytes_.empty()) bytesOfHandledRows_ += sourceBytes_[static_cast<size_t>(row)];
  if (RowShown(report)) WriteRow(row, files, report);
  // Absent when the row began, there when its copy took the name: another run put it there.
  SayWhy(files.source, report, wasCopying && report.state == RowState::Ignored);
  // Otherwise the run calls ProcessPendingEvents right after, which writes the batch when due.
}

bool ConsoleView::RowShown(const RowReport& report) const {
  const bool failed = IsFailure(report.state);
  if (options_.check) return failed || InfoOf(report.state).step == RowStep::OutOfStep;
  return !options_.quiet || failed || RegistrationFailed(report.registration);
}

void ConsoleView::WriteRow(std::int64_t row, const RowFiles& files, const RowReport& report) {
  const std::optional<RegistrationOutcome>& registration = report.registration;
  const RowRecord record{.number = rows_[static_cast<size_t>(row)][kNumberColumn],
                         .state = report.state,
                         .source = files.source,
                         .target = files.target,
                         .bytes = report.bytes,
                         .reason = report.reason ? &*report.reason : nullptr,
                         .damage = report.damage,
                         .registration = registration ? &*registration : nullptr,
                         .sourceVersion = report.sourceVersion ? &*report.sourceVersion : nullptr,
                         .targetVersion = report.targetVersion ? &*report.targetVersion : nullptr,
                         .other = report.other,
                         .expectedSha256 = report.expectedSha256 ? &*report.expectedSha256 : nullptr,
                         .foundSha256 = report.foundSha256 ? &*report.foundSha256 : nullptr};
  report_.AppendRow(output_.Buffer(), record);
  if (std::string* log = output_.LogBuffer()) logReport_->AppendRow(*log, record);
}

void ConsoleView::SayWhy(std::string_view source, const RowReport& report, bool appeared) {
  const Language language = options_.language;
  const std::string_view words = StatusWords(report.state, language);
  const std::optional<RegistrationOutcome>& registration = report.registration;
  const auto sayRegistration = [&] {
    SayAbout(source, RegistrationWords(*registration, language), RegistrationReason(*registration, language));
  };
  if (IsFailure(report.state)) {
    std::string why = report.reason ? FailureReason(*report.reason, language) : Shown(report.damage);
    if (report.state == RowState::NotPublished || report.state == RowState::Missing) {
      if (!why.empty()) why += Pick(language, "；", "; ");
      why += ManifestText(report, language);
    }
    if (!report.other.empty()) {
      if (!why.empty()) why += Pick(language, "；", "; ");
      why += OtherFileText(report, language);
    }
    SayAbout(source, words, why);
  } else if (!report.other.empty() && !options_.quiet && !options_.check) {
    // Installed as another file, or took another's place: worth a line, for it names that file.
    SayAbout(source, words, OtherFileText(report, language));
    if (NotRegistered(registration)) sayRegistration();
  } else if (NotRegistered(registration)) {
    sayRegistration();
  } else if (appeared && !options_.quiet) {
    SayAbout(source, words, std::string(Pick(language, kAppearedDuringCopy)));
  } else if (options_.writeEachRow) {
    FlushOutput();
  }
  if (report.readOnly == RowReport::InheritedReadOnly::Cleared && !options_.quiet) {
    SayAbout(source, words, std::string(Pick(language, kInheritedReadOnlyCleared)));
  }
}

void ConsoleView::SayAbout(std::string_view path, std::string_view words, const std::string& why) {
  std::string text(words);
  text += ' ';
  text += Shown(path);
  if (!why.empty()) {
    text += ": ";
    text += why;
  }
  Say(text);
}

void ConsoleView::SetProgress(std::int64_t handled, std::int64_t total) {
  figures_.filesDone = handled;
  figures_.filesTotal = total;
  figures_.bytesDone = bytesOfHandledRows_;
  DrawProgress(handled == total);
}

void ConsoleView::SetCopyProgress(std::int64_t row, std::uint64_t done, std::uint64_t) {
  if (done == 0) FlushOutput();
  if (!sourceBytes_.empty() && row >= 0 && row < RowCount()) figures_.bytesDone = bytesOfHandledRows_ + done;
  DrawProgress(false);
}

void ConsoleView::ShowMessage(std::string_view text, std::string_view, MessageKind) { Say(text); }

void ConsoleView::ShowSummary(const RunSummary& summary) {
  progressLine_.Clear();
  const StaleTemporaries& stale = summary.staleRemoved;
  if (stale.count > 0 && !options_.quiet) {
    Say(StaleTemporariesText(stale, options_.language));
  }
}

void ConsoleView::ProcessPendingEvents() {
  if (!interrupted_ && InterruptRequested()) {
    interrupted_ = true;
  }
  if (output_.Due()) FlushOutput();
  DrawProgress(false);
}

bool ConsoleView::StopRequested() const { return interrupted_ || InterruptRequested(); }

void ConsoleView::FlushOutput() {
  if (!output_.Pending()) return;
  if (options_.outputOnTerminal) progressLine_.Clear();
  output_.Flush();
}

void ConsoleView::DrawProgress(bool now) {
  if (!options_.progress) return;
  figures_.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  progressLine_.Show(figures_, now);
}

}  // namespace quorvane::cli

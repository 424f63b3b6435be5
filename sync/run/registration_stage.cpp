#include "sync/run/registration_stage.h"

#include <utility>

#include "sync/files/name_fold.h"

namespace quorvane {
bool RegistrationStage::Registered(std::string_view path) {
  if (!HasFontsValues()) return true;
  if (!named_) {
    named_.emplace();
    for (const FontsEntry& value : ReadFontsValues(scope_)) named_->insert(NameKey(value.file));
  }
  return named_->contains(NameKey(path));
}

void RegistrationStage::Complete(const RowJob& job, RowReport& report) {
  const bool inTarget = report.state == RowState::CopySucceeded || report.state == RowState::ReplaceSucceeded;
  // A row whose file was in the target already, and stays: the check of its registration is owed.
  const bool unregistered = job.targetExists && InfoOf(report.state).stays && !Registered(job.targetPath);
  if (registrar_ == nullptr) {
    if (unregistered) report.state = RowState::NotRegistered;
    return;
  }
  if (!inTarget && report.state != RowState::ReplaceAtReboot && !unregistered) return;
  // The waiting file is a copy of the source, which is free to read; the one in use may not be.
  // A font in place is the copy, or the one the row found there and left.
  report.registration = report.state == RowState::ReplaceAtReboot
                            ? registrar_->RegisterAtRestart(job.targetPath, job.fonts.Source())
                            : registrar_->Register(job.targetPath, inTarget ? job.fonts.Installed() : job.fonts.Target());
  switch (report.registration->kind) {
    case RegistrationOutcome::Kind::Registered: ++tally_.registered; break;
    case RegistrationOutcome::Kind::NotAFont: ++tally_.notAFont; break;
    case RegistrationOutcome::Kind::Failed: ++tally_.failed; break;
    case RegistrationOutcome::Kind::Conflict: ++tally_.conflict; break;
  }
}

// The fonts registered so far are told of, a stopped run's too.
void RegistrationStage::Finish(RunSummary& summary, ExtraRows&) {
  if (registrar_ == nullptr) return;
  tally_.finish = registrar_->Finish();
  summary.registration = std::exchange(tally_, {});
}

}  // namespace quorvane

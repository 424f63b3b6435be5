#include "sync/registration_stage.h"

#include <utility>

namespace quorvane {

void RegistrationStage::Complete(const RowJob& job, RowReport& report) {
  const bool inTarget = report.state == RowState::CopySucceeded || report.state == RowState::ReplaceSucceeded;
  if (!inTarget && report.state != RowState::ReplaceAtReboot) return;
  // The waiting file is a copy of the source, which is free to read; the one in use may not be.
  report.registration = inTarget ? registrar_.Register(job.targetPath)
                                 : registrar_.RegisterAtRestart(job.targetPath, job.sourcePath);
  switch (report.registration->kind) {
    case RegistrationOutcome::Kind::Registered: ++tally_.registered; break;
    case RegistrationOutcome::Kind::NotAFont: ++tally_.notAFont; break;
    case RegistrationOutcome::Kind::Failed: ++tally_.failed; break;
    case RegistrationOutcome::Kind::Conflict: ++tally_.conflict; break;
  }
}

// The fonts registered so far are told of, a stopped run's too.
void RegistrationStage::Finish(RunSummary& summary) {
  tally_.finish = registrar_.Finish();
  summary.registration = std::exchange(tally_, {});
}

}  // namespace quorvane

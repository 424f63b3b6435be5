// Registers each font that a run puts into the target as its row ends, and
// tells the system once after the last.
#pragma once

#include "sync/font_registration.h"
#include "sync/row_stage.h"

namespace quorvane {

class RegistrationStage final : public RowStage {
 public:
  explicit RegistrationStage(FontRegistrar& registrar) : registrar_(registrar) {}

  void Complete(const RowJob& job, RowReport& report) override;
  void Finish(RunSummary& summary) override;

 private:
  FontRegistrar& registrar_;
  RegistrationTally tally_;
};

}  // namespace quorvane

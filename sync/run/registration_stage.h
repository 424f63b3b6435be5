// Registers each font that a run puts into the target as its row ends, and
// tells the system once after the last. A font already in the target that no
// Fonts value names is registered too, or, in a check, said to be unregistered.
#pragma once

#include <optional>
#include <string>
#include <unordered_set>

#include "sync/install/font_registration.h"
#include "sync/run/row_stage.h"

namespace quorvane {

class RegistrationStage final : public RowStage {
 public:
  explicit RegistrationStage(FontRegistrar& registrar) : registrar_(&registrar), scope_(registrar.Scope()) {}
  // A check registers nothing: it only finds the fonts no value names.
  static RegistrationStage Check(FontScope scope) { return RegistrationStage(scope); }

  void Complete(const RowJob& job, RowReport& report) override;
  void Finish(RunSummary& summary, ExtraRows& rows) override;

 private:
  explicit RegistrationStage(FontScope scope) : registrar_(nullptr), scope_(scope) {}
  // A Fonts value names the file (always so where fonts have no values).
  bool Registered(std::string_view path);

  FontRegistrar* registrar_;
  FontScope scope_;
  RegistrationTally tally_;
  std::optional<std::unordered_set<std::string>> named_;  // the files the values name, read once
};

}  // namespace quorvane

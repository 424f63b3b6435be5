// A seam through which tests make single steps of a file operation fail, to show
// that a failure at any point loses nothing and is reported with its reason.
// Without an injector it costs one pointer test per step.
#pragma once

#include "sync/files/file_error.h"

namespace quorvane {

class FaultInjector {
 public:
  virtual ~FaultInjector() = default;
  // A system error code makes this step fail as if the system had refused it
  // with that code; 0 lets it run.
  virtual int FailWith(FileStep step) = 0;
};

// Installs an injector for the calling process; nullptr removes it.
void SetFaultInjector(FaultInjector* injector);

// Asked by the backends before each step: the code to fail with, or 0.
int InjectedFault(FileStep step);

}  // namespace quorvane

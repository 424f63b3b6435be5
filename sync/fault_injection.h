// A seam through which tests make single steps of a file operation fail, to show
// that a failure at any point loses nothing. Without an injector it costs one
// pointer test per step.
#pragma once

namespace quorvane {

enum class FileStep { Open, Read, Write, Close, Rename, Delete };

class FaultInjector {
 public:
  virtual ~FaultInjector() = default;
  // True makes this step fail as if the system had refused it.
  virtual bool ShouldFail(FileStep step) = 0;
};

// Installs an injector for the calling process; nullptr removes it.
void SetFaultInjector(FaultInjector* injector);

// Asked by the backends before each step.
bool InjectedFault(FileStep step);

}  // namespace quorvane

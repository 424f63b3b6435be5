#include "sync/fault_injection.h"

namespace quorvane {

namespace {
FaultInjector* activeInjector = nullptr;
}

void SetFaultInjector(FaultInjector* injector) { activeInjector = injector; }

bool InjectedFault(FileStep step) { return activeInjector != nullptr && activeInjector->ShouldFail(step); }

}  // namespace quorvane

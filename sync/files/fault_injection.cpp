#include "sync/files/fault_injection.h"

namespace quorvane {

namespace {
FaultInjector* activeInjector = nullptr;
}

void SetFaultInjector(FaultInjector* injector) { activeInjector = injector; }

int InjectedFault(FileStep step) { return activeInjector != nullptr ? activeInjector->FailWith(step) : 0; }

}  // namespace quorvane

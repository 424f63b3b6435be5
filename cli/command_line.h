#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sync/run/sync_types.h"

namespace quorvane::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;
// Everything done, but a replaced font takes its place only at the next start.
inline constexpr int kExitRebootRequired = 3010;

// The whole tool: parse, check the folders, list, run, report. Returns the
// exit status (see kUsage).
int RunCommandLine(const std::vector<std::string>& args);

// 130 when the run was cut short; 1 when something was not synchronised (a
// row failed or is in conflict, a sub-folder could not be read, a font not
// registered for a reason other than not being one, a prune refused, the
// record unusable) or, with `check`, something is out of step; 3010 when a
// file is replaced or removed at the next start; else 0.
int ExitStatusOf(const RunSummary& summary, bool interrupted, std::int64_t unreadableFolders, bool check = false);

}  // namespace quorvane::cli

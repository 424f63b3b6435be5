// The command line of quorvane-sync, parsed without touching the file system.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "sync/sync_types.h"

namespace quorvane::cli {

struct Arguments {
  SyncPolicy policy = SyncPolicy::Ignore;
  bool dryRun = false;
  bool help = false;
  std::optional<std::string> target;
  std::vector<std::string> sources;
};

struct UsageError {
  std::string message;
};

// `args` excludes the program name. The last of --replace and --ignore wins.
std::variant<Arguments, UsageError> ParseArguments(const std::vector<std::string>& args);

extern const char* const kUsage;

}  // namespace quorvane::cli

// The command line of quorvane-sync, parsed without touching the file system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/system_error.h"
#include "sync/run/sync_types.h"

namespace quorvane::cli {

struct Arguments {
  SyncPolicy policy = SyncPolicy::Ignore;
  bool dryRun = false;
  bool update = false;
  bool checksum = false;
  // Same-name fonts by version: only a newer one replaces (implies update).
  bool newer = false;
  bool json = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  // Install each copied font with the system (FontRegistrar) and refresh the
  // system's font list at the end.
  bool registerFonts = false;
  // The current user's font folder and, with --register, the user's registry.
  bool user = false;
  // Says only what is out of step, writes nothing; exit 1 when anything is.
  bool check = false;
  // Removes the fonts the tool installed that no source lists any more.
  bool prune = false;
  // Reads the installed fonts the record has a hash of, and repairs one changed in place.
  bool verify = false;
  // With prune: remove nothing when more than this many would go.
  std::optional<std::int64_t> maxDelete;
  // Writes the sources' manifest to standard output instead of a run.
  bool publish = false;
  // Takes only the files this manifest names, with the bytes it names.
  std::optional<std::string> manifest;
  std::optional<std::string> target;
  std::optional<std::string> log;
  std::optional<std::string> language;
  std::vector<std::string> sources;
};

enum class UsageProblem {
  EmptySource,
  MissingValue,
  UnknownOption,
  ReplaceAndIgnore,
  UnknownLanguage,
  NoSource,
  UserAndTarget,
  BadNumber,
  PublishAndManifest,
};

struct UsageError {
  UsageProblem problem;
  std::string detail;  // the option or value concerned, if any

  // One line, without the program's name: "unknown option --force".
  std::string Text(Language language) const;
};

// `args` excludes the program name. --replace and --ignore contradict each
// other, as do --user and --target; --checksum and --newer imply --update.
std::variant<Arguments, UsageError> ParseArguments(const std::vector<std::string>& args);

// The value of a --lang option among `args`, read before parsing so that even
// a usage error is told in the chosen language.
std::optional<std::string> LanguageOption(const std::vector<std::string>& args);

extern const char* const kUsage;

}  // namespace quorvane::cli

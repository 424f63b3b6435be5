// The two shapes of quorvane-sync's report: tab-separated lines for people and
// shell scripts, JSON Lines for programs. Both append to a caller's buffer, so
// a run of 50,000 rows builds its output without a string per line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/system_error.h"
#include "sync/files/file_error.h"
#include "sync/install/font_registration.h"
#include "sync/run/sync_types.h"

namespace quorvane::cli {

// How the platform's paths are spelt: on Windows a name holds no backslash
// (it separates folders) and comes from UTF-16, so a lone surrogate is a
// character of the name rather than stray bytes.
enum class PathStyle { Posix, Windows };

struct RowRecord {
  std::string_view number;
  RowState state = RowState::Ready;
  std::string_view source;
  std::string_view target;
  std::uint64_t bytes = 0;
  const FileError* reason = nullptr;
  // A damaged font's: what is wrong with it.
  std::string_view damage = {};
  // With --register, for a row whose file went into the target.
  const RegistrationOutcome* registration = nullptr;
  // The fonts' version texts, where the run read them.
  const std::string* sourceVersion = nullptr;
  const std::string* targetVersion = nullptr;
  // The file of the same face under another name, for the rows that have one.
  std::string_view other = {};
  // With a manifest: the bytes it names for the file, and those found (not-published, missing).
  const Sha256::Digest* expectedSha256 = nullptr;
  const Sha256::Digest* foundSha256 = nullptr;
};

// What the system was told once the fonts were registered.
enum class FontRefresh {
  None,              // nothing was registered
  FontChangeSent,    // Windows: WM_FONTCHANGE to every top-level window
  CacheRefreshed,    // fontconfig: fc-cache ran on the target folder
  CacheToolMissing,  // no fc-cache on PATH: a warning
  CacheToolFailed,   // fc-cache ended with another status than 0: a warning
};

FontRefresh RefreshOf(const RegistrationFinish& finish, PathStyle style);

// The registration part of the summary.
struct RegistrationRecord {
  std::int64_t registered = 0;
  std::int64_t notAFont = 0;
  std::int64_t failed = 0;
  std::int64_t conflict = 0;
  FontRefresh refresh = FontRefresh::None;
  int toolStatus = 0;  // fc-cache's, for CacheToolFailed
};

RegistrationRecord RegistrationRecordOf(const RegistrationTally& tally, PathStyle style);

struct SummaryRecord {
  const RunSummary& run;
  bool dryRun = false;
  bool check = false;
  bool update = false;
  bool interrupted = false;
  std::int64_t unreadableFolders = 0;
  std::int64_t elapsedMs = 0;
  int exitStatus = 0;
  const RegistrationRecord* registration = nullptr;  // with --register, outside a dry run
};

// The first line --log writes for each run.
struct StartRecord {
  std::string_view time;  // ISO 8601, UTC
  std::string_view version;
  std::string_view host;
  std::string_view user;
  const std::vector<std::string>& args;
};

class Report {
 public:
  virtual ~Report() = default;
  virtual void AppendStart(std::string& out, const StartRecord& start) const = 0;
  virtual void AppendRow(std::string& out, const RowRecord& row) const = 0;
  virtual void AppendSummary(std::string& out, const SummaryRecord& summary) const = 0;
  // What standard error said, for the log: TSV has the line as it stands,
  // JSON {"message":…} without the program's name.
  virtual void AppendMessage(std::string& out, std::string_view text) const = 0;
};

// number<TAB>status<TAB>source path; the status in `language`. `withVersions`
// (the log's lines): a row whose versions were read has two more fields, the
// source's and the target's version text, empty for the one not read.
std::unique_ptr<Report> MakeTsvReport(Language language, PathStyle style, bool withVersions = false);
// One object per row, then {"summary": {...}}.
std::unique_ptr<Report> MakeJsonReport(Language language, PathStyle style);

// A field of a TSV line: tab, line feed, carriage return and backslash as \t,
// \n, \r and \\; other control characters and every byte that is not part of
// strict UTF-8 as \xNN. Reversible, and the line stays one line. Windows paths
// keep their backslashes: no name there can hold one, nor a control character.
void AppendTsvField(std::string& out, std::string_view text, PathStyle style);

// A JSON string, quotes included. A byte that is not part of strict UTF-8 is
// written as the lone surrogate \udcNN (NN its value, 80-FF), as Python's
// "surrogateescape" reads and writes file names; in a Windows name an encoded
// lone surrogate is written as itself, \udXXX.
void AppendJsonString(std::string& out, std::string_view text, PathStyle style);

}  // namespace quorvane::cli

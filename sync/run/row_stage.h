// The work a run does with a row beside its copy: the checks that may settle
// it before (its face installed under another name, its version), and what
// follows the copy (registration, retiring the file it replaces). Stages belong to the run,
// never to a view, so the window, the command-line tool and the tests get the
// same behaviour and views only show what the stages reported.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "sync/fonts/font_file.h"

#include "sync/run/sync_run_view.h"
#include "sync/run/sync_types.h"

namespace quorvane {

// What a row's files hold as fonts, each file read once, when a stage first
// asks: the source's faces and version go with the row to every stage that
// needs them (face checks, versions, the record, registration).
class RowFonts {
 public:
  RowFonts(std::string_view sourcePath, std::string_view targetPath)
      : sourcePath_(sourcePath), targetPath_(targetPath) {}

  const FontReadResult& Source() { return Read(source_, sourcePath_); }
  // The file of the row's name in the target, as the row found it.
  const FontReadResult& Target() { return Read(target_, targetPath_); }
  // The file of the row's name in the target once the row's copy is done:
  // read from the target itself, for what the system reads is that file.
  const FontReadResult& Installed() { return Read(installed_, targetPath_); }

  // Nothing for a file that is no font or could not be read.
  const FontFileInfo* SourceFont() { return std::get_if<FontFileInfo>(&Source()); }
  const FontFileInfo* TargetFont() { return std::get_if<FontFileInfo>(&Target()); }

 private:
  static const FontReadResult& Read(std::optional<FontReadResult>& read, std::string_view path) {
    if (!read) read = ReadFontFile(path);
    return *read;
  }

  std::string_view sourcePath_, targetPath_;
  std::optional<FontReadResult> source_, target_, installed_;
};

// The row in hand, as the run sees it.
struct RowJob {
  std::int64_t row = 0;
  std::string_view sourcePath;
  std::string_view targetPath;  // empty when the row names no file
  // A file of the row's name was in the target when the row began.
  bool targetExists = false;
  RowFonts& fonts;
};

// Rows a stage adds after the listed ones, at the end of a run: the fonts it
// removed, say. Each is shown as a handled row and counted in the summary.
class ExtraRows {
 public:
  virtual ~ExtraRows() = default;
  // `path` fills the row's path cell; `report` is what became of it.
  virtual void Add(std::string_view name, std::string_view path, const RowReport& report) = 0;
};

class RowStage {
 public:
  virtual ~RowStage() = default;
  // Before the copy decision. True settles the row: `report` is what became
  // of it, and nothing is copied. Otherwise the stage may have added to
  // `report`, and the copy's outcome joins it.
  virtual bool Decide(const RowJob& job, RowReport& report) {
    (void)job;
    (void)report;
    return false;
  }
  // After the row's copy decision and copy, whatever came of them (not for a
  // row whose copy was abandoned): adds to the report what the stage did.
  virtual void Complete(const RowJob& job, RowReport& report) = 0;
  // Once after the last row handled, a stopped run's too, before the summary
  // is shown: adds to it what the stage did, and any rows of its own.
  virtual void Finish(RunSummary& summary, ExtraRows& rows) = 0;
  // A stage that judges a row against the fonts already in the target (the
  // face checks): the run then takes the rows whose name is there before the
  // new names, and a name listed twice is a conflict, so no row is judged
  // against a file a later row of the run replaces.
  virtual bool JudgesAgainstTarget() const { return false; }
};

}  // namespace quorvane

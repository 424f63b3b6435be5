// The run's checks of what a font file holds, beside its name: its version
// against a same-name font's (--newer), and its face against the fonts
// installed under other names.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "sync/fonts/font_file.h"
#include "sync/install/installed_fonts.h"
#include "sync/run/row_stage.h"

namespace quorvane {

// A same-name font is replaced only by a newer version: the same size and
// time leave it without a look inside; otherwise the versions decide, and
// where they cannot, the copy decision of --update stands.
class VersionStage final : public RowStage {
 public:
  // `byContent`: the contents tell an unchanged font, not size and time.
  explicit VersionStage(bool byContent) : byContent_(byContent) {}

  bool Decide(const RowJob& job, RowReport& report) override;
  void Complete(const RowJob&, RowReport&) override {}
  void Finish(RunSummary&, ExtraRows&) override {}

 private:
  bool byContent_;
};

struct FaceCheckOptions {
  std::string targetFolder;
  FontScope scope = FontScope::Machine;
  // A different version of the face may take the place of the installed one:
  // always (--replace), or when it is newer (--newer).
  bool replaceOther = false;
  bool replaceOlder = false;
};

// A font whose file name is new to the target may hold a face that is
// installed there under another name. The same version is not copied again;
// another version is a conflict, unless it may take the installed files'
// place: each of them, whole (a file whose other faces the new one lacks
// would take them along). Then it is copied under its own name, the registry
// values move to it, and only then do the old files go. A step that fails
// undoes the ones before it, so a face always has a file and never two values.
class FaceCheckStage final : public RowStage {
 public:
  explicit FaceCheckStage(const FaceCheckOptions& options)
      : options_(options), installed_(options.targetFolder, options.scope) {}

  bool Decide(const RowJob& job, RowReport& report) override;
  void Complete(const RowJob& job, RowReport& report) override;
  void Finish(RunSummary&, ExtraRows&) override {}
  bool JudgesAgainstTarget() const override { return true; }

  // How many installed fonts were read (0 when no row needed them).
  std::size_t InstalledCount() const { return installed_.Count(); }

 private:
  // The copy under its own name is in place; the old files go. False when
  // the copy had to go again.
  bool TakePlace(const RowJob& job, RowReport& report);
  // The Fonts values moved to `target` from each old file from the
  // `from`th on go back to it.
  void GiveBackValues(std::string_view target, std::size_t from,
                      const std::vector<std::vector<std::string>>& moved) const;

  FaceCheckOptions options_;
  InstalledFonts installed_;
  // The row in hand: what its source holds, and the files it may replace.
  std::int64_t row_ = -1;
  const FontFileInfo* source_ = nullptr;  // the row's RowFonts holds it while the row is in hand
  std::vector<std::string> takesPlaceOf_;
  // The names of the target the rows so far stand for (their own, or the file they are
  // installed as or conflict with), keyed: no other row takes their place.
  std::unordered_set<std::string> listedThisRun_;
};

}  // namespace quorvane

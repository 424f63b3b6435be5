// A run given a manifest takes from the sources only the files it names, and
// only with the bytes it names: any other file of the sources, and a named
// file whose bytes differ, is not published and not installed (an older
// installed version stays); a named file no source holds is missing.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sync/run/manifest.h"
#include "sync/run/row_stage.h"

namespace quorvane {

class ManifestStage final : public RowStage {
 public:
  // `sources` as the rows were listed from them. A dry run reads a file that
  // would be copied to tell whether its bytes are the published ones; a run
  // learns it from the copy itself.
  ManifestStage(const std::vector<ManifestEntry>& entries, std::vector<std::string> sources, bool dryRun);

  bool Decide(const RowJob& job, RowReport& report) override;
  void Complete(const RowJob& job, RowReport& report) override;
  // The named files no listed row was: missing, unless the run stopped before it saw every row.
  void Finish(RunSummary& summary, ExtraRows& rows) override;

  // The file names the manifest keeps in a target: what a prune leaves.
  static std::vector<std::string> NamesOf(const std::vector<ManifestEntry>& entries);

 private:
  // The manifest's entry for a listed file, or -1.
  std::ptrdiff_t IndexOf(std::string_view sourcePath) const;

  const std::vector<ManifestEntry>& entries_;
  std::vector<std::string> sources_;
  bool dryRun_;
  std::unordered_map<std::string, size_t> byPath_;  // keyed as the file system compares names
  std::vector<bool> seen_;
};

}  // namespace quorvane

// A whole synchronisation as a front end asks for it: one request in, the run's
// summary out. The front end lists the rows into its view first; which stages
// run, and in what order, is decided here, once, for every front end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sync/install/registration_outcome.h"
#include "sync/run/manifest.h"
#include "sync/run/sync_run_view.h"
#include "sync/run/sync_types.h"

namespace quorvane {

struct SyncRequest {
  // The source folders as given, the first first; the rows are already listed.
  std::vector<std::string> sources;
  std::string target;
  FontScope scope = FontScope::Machine;
  // What a same-name font that differs becomes.
  SyncPolicy policy = SyncPolicy::Ignore;
  // The update rule: a same-name font that matches is left alone; by content with checksum.
  bool update = false;
  bool checksum = false;
  // Same-name fonts by version: only a newer one replaces.
  bool newer = false;
  // A check is a dry run that says only what is out of step.
  bool check = false;
  bool dryRun = false;
  // Install each copied font with the system; a check says which are not.
  bool registerFonts = false;
  // A damaged font, or a file that is no font, is never installed.
  bool refuseDamaged = false;
  // Every recorded font in the target is read: one changed in place since its copy is repaired.
  bool verify = false;
  bool prune = false;
  std::optional<std::int64_t> maxDelete;
  // Every source folder and sub-folder was read whole, and every entry in them classified.
  bool sourcesComplete = true;
  // Only the files it names, with the bytes it names; with prune, what stays. Not owned.
  const std::vector<ManifestEntry>* manifest = nullptr;

  // A check writes nothing either.
  bool WritesNothing() const { return dryRun || check; }
};

// Runs `request` over the rows listed in `view`. Nothing when the run was
// refused (an empty source or target, said through the view).
std::optional<RunSummary> RunSync(const SyncRequest& request, SyncRunView& view);

}  // namespace quorvane

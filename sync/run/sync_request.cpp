#include "sync/run/sync_request.h"

#include <string>
#include <vector>

#include "sync/install/font_registration.h"
#include "sync/run/font_checks.h"
#include "sync/run/font_sync_run.h"
#include "sync/run/manifest_stage.h"
#include "sync/run/record_stage.h"
#include "sync/run/registration_stage.h"
#include "sync/run/verify_stage.h"

namespace quorvane {

namespace {

// The file names the sources list now: what a prune keeps.
std::vector<std::string> ListedNames(const SyncRunView& view) {
  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(view.RowCount()));
  for (std::int64_t row = 0; row < view.RowCount(); ++row) names.push_back(view.CellText(row, kNameColumn));
  return names;
}

}  // namespace

std::optional<RunSummary> RunSync(const SyncRequest& request, SyncRunView& view) {
  const bool dryRun = request.WritesNothing();
  // A dry run writes nothing, the registry included.
  std::optional<FontRegistrar> registrar;
  if (request.registerFonts && !dryRun) registrar.emplace(request.target, request.scope);
  if (view.StopRequested()) {
    // Stopped while listing: nothing was handled, and the summary says so.
    RunSummary summary;
    summary.unhandled = view.RowCount();
    summary.stopped = summary.unhandled > 0;
    if (registrar) summary.registration.emplace();
    return summary;
  }

  FontSyncRun run(view);
  // Each row meets the stages in the order they are added, and the order is
  // the reason they are added here, once. The manifest comes first: a file it
  // does not name is nothing to the rest, not even a repair. A font changed in
  // place comes next: it is repaired whatever the checks after would say of it.
  // The checks of what the fonts hold follow, as they may settle a row before
  // its copy. The record comes after them, for it keeps what they made of the
  // row (the files it took the place of); and before registration, whose Finish
  // tells the system once of everything, the fonts the record's prune removed
  // too. Each font is read once, by the first stage that asks (RowFonts),
  // whatever the order.
  std::optional<ManifestStage> manifest;
  if (request.manifest) run.AddStage(manifest.emplace(*request.manifest, request.sources, dryRun));
  std::optional<VerifyStage> verify;
  if (request.verify) run.AddStage(verify.emplace(request.target, request.scope));
  std::optional<VersionStage> versions;
  if (request.newer) run.AddStage(versions.emplace(request.checksum));
  FaceCheckStage faces({.targetFolder = request.target,
                        .scope = request.scope,
                        .replaceOther = request.policy == SyncPolicy::Replace,
                        .replaceOlder = request.newer});
  run.AddStage(faces);
  std::vector<std::string> listed;
  if (request.prune) listed = request.manifest ? ManifestStage::NamesOf(*request.manifest) : ListedNames(view);
  RecordStage record({.targetFolder = request.target,
                      .scope = request.scope,
                      .write = !dryRun,
                      .prune = request.prune,
                      .maxDelete = request.maxDelete,
                      .sourcesComplete = request.sourcesComplete,
                      .registrar = registrar ? &*registrar : nullptr,
                      .sources = request.sources},
                     listed);
  run.AddStage(record);
  std::optional<RegistrationStage> registration;
  if (registrar) {
    run.AddStage(registration.emplace(*registrar));
  } else if (request.check && request.registerFonts) {
    run.AddStage(registration.emplace(RegistrationStage::Check(request.scope)));
  }

  // A check judges a same-name font as the update rule does, whatever the
  // policy; under plain ignore it is in step.
  return run.Run(request.sources.empty() ? std::string() : request.sources.front(), request.target,
                 {.policy = request.policy,
                  .dryRun = dryRun,
                  .update = request.update || (request.check && request.policy == SyncPolicy::Replace),
                  .checksum = request.checksum,
                  .replaceAtRebootWhenInUse = registrar.has_value(),
                  .refuseDamaged = request.refuseDamaged,
                  // The record keeps what each copy wrote, for --verify.
                  .hash = true});
}

}  // namespace quorvane

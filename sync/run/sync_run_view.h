// The window's side of listing and running. The core reaches the list, the
// progress bar, messages and the event pump only through this interface, so the
// window, the command-line tool and the tests each bring their own.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sync/files/file_error.h"
#include "sync/files/sha256.h"
#include "sync/install/registration_outcome.h"
#include "sync/run/sync_types.h"

namespace quorvane {

// Columns of the work list, in display order.
enum Column : int { kNumberColumn = 0, kNameColumn = 1, kPathColumn = 2, kStatusColumn = 3 };

struct ListedRow {
  std::string number;  // running number as decimal text
  std::string name;    // bare file name
  std::string path;    // the file's full path in the source folder
};

// What became of a row: its state (whose text the status cell shows), why it
// failed when it did, how many bytes went into the target for it, and what
// the stages after the copy did with it.
struct RowReport {
  RowState state = RowState::Ready;
  std::optional<FileError> reason;
  // With Damaged: what is wrong with the file ("table 'glyf': checksum …").
  std::string damage;
  std::uint64_t bytes = 0;
  // The SHA-256 of what the copy wrote, when it computed one (it may still be
  // being computed: Get() waits).
  PendingSha256 sha256;
  // A stage found the target's bytes changed in place since the tool copied
  // them: the row replaces it from its source whatever the policy says.
  bool repair = false;
  // With registration, for a file that went into the target (or waits to).
  std::optional<RegistrationOutcome> registration;
  // The version texts of the source and the target font, where the run read them.
  std::optional<std::string> sourceVersion;
  std::optional<std::string> targetVersion;
  // Another file in the target that holds the same face: the one it is
  // installed as, the one it conflicts with, or the one it took the place of.
  std::string other;
  // A conflict with an earlier listed file of the same name: `other` is that file's source.
  bool sameName = false;
  // A collection that takes the place of several files: the ones after
  // `other`. When one of them could not go (a failed replace), `other` is
  // that one, kept, and these are the ones that went all the same.
  std::vector<std::string> alsoReplaced;
  // A target read-only only because an earlier version copied the bit from the
  // share: a stage says the replace may clear it, the copy says whether it did.
  enum class InheritedReadOnly { None, MayClear, Cleared };
  InheritedReadOnly readOnly = InheritedReadOnly::None;
  // With a manifest: the bytes it names for the row's file, which a stage
  // sets before the copy and the copy insists on; and what the file held
  // instead, for a row that is not published.
  std::optional<Sha256::Digest> expectedSha256;
  std::optional<Sha256::Digest> foundSha256;

  // A state alone, with why it failed and the bytes it put in the target.
  static RowReport Of(RowState state, std::optional<FileError> reason = std::nullopt, std::uint64_t bytes = 0) {
    RowReport report;
    report.state = state;
    report.reason = std::move(reason);
    report.bytes = bytes;
    return report;
  }
};

// The files a row is about, as the run knows them; its report names the other file.
struct RowFiles {
  std::string_view source;  // the row's path cell
  std::string_view target;  // the target folder joined with the row's name
};

enum class MessageKind { Information, Warning };

class SyncRunView {
 public:
  virtual ~SyncRunView() = default;

  // Appends rows at the end of the list, each with the status kReadyText. Rows
  // come in one batch so a list control can hold its repaint until the end.
  virtual void AddRows(std::span<const ListedRow> rows) = 0;
  virtual std::string CellText(std::int64_t row, int column) const = 0;
  virtual std::int64_t RowCount() const = 0;
  // A row's new state: Copying while its file copies, then what became of it;
  // Ready again when the run stopped in the middle of its copy. The run gives
  // the row's files with it, so a view never works out a path of its own.
  virtual void SetStatus(std::int64_t row, const RowFiles& files, const RowReport& report) = 0;
  // `handled` of `total` rows are done; the view scales this to its bar.
  virtual void SetProgress(std::int64_t handled, std::int64_t total) = 0;
  // `done` of `total` bytes of one row's file are copied: once at its start,
  // after each piece and at its end.
  virtual void SetCopyProgress(std::int64_t row, std::uint64_t done, std::uint64_t total) = 0;
  // The run's refusal to start: kNoSourceMessage or kNoTargetMessage.
  virtual void ShowMessage(std::string_view text, std::string_view title, MessageKind kind) = 0;
  // The run's last act.
  virtual void ShowSummary(const RunSummary& summary) = 0;
  // Lets the user interface breathe; called between rows and during long copies.
  virtual void ProcessPendingEvents() = 0;
  // Asked after each ProcessPendingEvents, and before a run starts: true stops
  // the run as FontSyncRun::RequestStop does, for a view that does not hold the run.
  virtual bool StopRequested() const { return false; }
};

}  // namespace quorvane

// Real temporary folders and a view that only records what it is given: the
// core is tested on the file system it runs on, natively and under Wine.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "sync/files/fault_injection.h"
#include "sync/run/sync_run_view.h"

namespace quorvane::testing {

namespace fs = std::filesystem;

inline fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

inline std::string Utf8Of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// A Linux path as this build's programs see it: under Wine the Unix root is drive Z:.
inline std::string NativePath(const std::string& unixPath) {
#ifdef _WIN32
  return "Z:" + unixPath;
#else
  return unixPath;
#endif
}

// A fresh folder under the system's temporary folder, removed with all it holds.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder's path joined with a relative UTF-8 path, in the platform's form.
  std::string Path(const std::string& relative = {}) const;
  const fs::path& Root() const { return root_; }

 private:
  fs::path root_;
};

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
void MakeFolder(const std::string& path);
void SetReadOnly(const std::string& path, bool readOnly);
// Leftover temporaries of a copy, in one folder.
std::vector<std::string> TemporaryFilesIn(const std::string& folder);

// System error codes for the faults tests inject.
#ifdef _WIN32
inline constexpr int kIoErrorCode = 29;     // ERROR_WRITE_FAULT
inline constexpr int kDiskFullCode = 112;   // ERROR_DISK_FULL
inline constexpr int kAccessDeniedCode = 5;  // ERROR_ACCESS_DENIED
#else
inline constexpr int kIoErrorCode = EIO;
inline constexpr int kDiskFullCode = ENOSPC;
inline constexpr int kAccessDeniedCode = EACCES;
#endif

// Fails the n-th occurrence of one step (from 1) with `code` while it lives,
// and counts how often the step came.
class FailNthStep : public FaultInjector {
 public:
  FailNthStep(FileStep step, int n, int code = kIoErrorCode) : step_(step), n_(n), code_(code) {
    SetFaultInjector(this);
  }
  ~FailNthStep() override { SetFaultInjector(nullptr); }
  FailNthStep(const FailNthStep&) = delete;
  FailNthStep& operator=(const FailNthStep&) = delete;
  int FailWith(FileStep step) override { return step == step_ && ++seen_ == n_ ? code_ : 0; }
  int seen() const { return seen_; }

 private:
  FileStep step_;
  int n_;
  int code_;
  int seen_ = 0;
};

struct ShownMessage {
  std::string text;
  std::string title;
  MessageKind kind;
};

class RecordingView : public SyncRunView {
 public:
  void AddRows(std::span<const ListedRow> rows) override;
  std::string CellText(std::int64_t row, int column) const override;
  std::int64_t RowCount() const override { return static_cast<std::int64_t>(rows.size()); }
  void SetStatus(std::int64_t row, const RowFiles& files, const RowReport& report) override;
  void SetProgress(std::int64_t handled, std::int64_t total) override;
  void SetCopyProgress(std::int64_t row, std::uint64_t done, std::uint64_t total) override;
  void ShowMessage(std::string_view text, std::string_view title, MessageKind kind) override;
  // Recorded as the summary message (under kSummaryTitle) and as itself.
  void ShowSummary(const RunSummary& summary) override;
  void ProcessPendingEvents() override;

  std::vector<std::string> Column(int column) const;
  // The status of the row of the file named `name` (rows come in the file system's order).
  std::string StatusOf(const std::string& name) const;
  // The last report of that row; a test failure when there is none.
  const RowReport& ReportOf(const std::string& name) const;

  std::vector<std::array<std::string, 4>> rows;
  // Per row, the failure the run gave with its status, if any.
  std::vector<std::optional<FileError>> reasons;
  // Per row, the last report the run gave it.
  std::vector<RowReport> reports;
  // Every state each row went through, in order.
  std::vector<std::vector<RowState>> states;
  struct CopyProgressCall {
    std::int64_t row;
    std::uint64_t done;
    std::uint64_t total;
  };
  std::vector<CopyProgressCall> copyProgress;
  std::vector<RunSummary> summaries;
  std::vector<ShownMessage> messages;
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  int addRowsCalls = 0;
  int eventsProcessed = 0;
  // Runs inside ProcessPendingEvents, as a click handler would.
  std::function<void()> onEvents;
};

}  // namespace quorvane::testing

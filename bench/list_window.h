// A stand-in for the tool window's list, for the list and responsiveness
// figures while the tool window cannot be driven from outside: a window of the
// same size with a report list view of the same four columns and a progress
// bar, filled and run through the real core.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

#include "sync/run/sync_run_view.h"

namespace quorvane::bench {

class ListWindow final : public SyncRunView {
 public:
  // RedrawOff inserts every row into the control with its repaint held;
  // Virtual keeps the rows here and lets the control ask for what it shows.
  enum class Mode { RedrawOff, Virtual };

  explicit ListWindow(Mode mode);
  ~ListWindow() override;
  ListWindow(const ListWindow&) = delete;
  ListWindow& operator=(const ListWindow&) = delete;

  bool Ready() const { return list_ != nullptr; }
  HWND Handle() const { return frame_; }

  void AddRows(std::span<const ListedRow> rows) override;
  std::string CellText(std::int64_t row, int column) const override;
  std::int64_t RowCount() const override;
  void SetStatus(std::int64_t row, const RowFiles& files, const RowReport& report) override;
  void SetProgress(std::int64_t handled, std::int64_t total) override;
  void SetCopyProgress(std::int64_t, std::uint64_t, std::uint64_t) override {}
  void ShowMessage(std::string_view text, std::string_view title, MessageKind kind) override;
  void ShowSummary(const RunSummary& summary) override;
  void ProcessPendingEvents() override;

  const std::string& Summary() const { return summary_; }

 private:
  static LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnNotify(LPARAM lParam);

  Mode mode_;
  HWND frame_ = nullptr;
  HWND list_ = nullptr;
  HWND progress_ = nullptr;
  std::vector<std::array<std::string, 4>> rows_;  // Virtual mode only
  std::wstring shownText_;                         // the cell text the control last asked for
  std::string summary_;
};

}  // namespace quorvane::bench

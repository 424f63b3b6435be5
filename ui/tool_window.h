// The tool window's commands, and its side of listing and running: it shows the
// core's rows, statuses, progress and messages, and keeps itself alive meanwhile.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frame/frame.h"
#include "sync/font_folder.h"
#include "sync/font_sync_run.h"
#include "sync/sync_run_view.h"
#include "ui/dialogs.h"

namespace quorvane {

inline constexpr std::string_view kChooseSourceTitle = "请选择源字体文件夹";
inline constexpr std::string_view kChooseTargetTitle = "请选择目标字体文件夹";
inline constexpr std::string_view kStartupFontFolder = "C:\\Windows\\Fonts";
inline constexpr std::string_view kDefaultFontFolder = "C:\\WINDOWS\\Fonts";
inline constexpr std::string_view kSupportLine = "　技术支持：";

// Status bar texts.
inline constexpr std::string_view kReadyStatus = "就绪";
inline constexpr std::string_view kListingStatus = "正在列出字体文件…";
inline constexpr int kTimerPeriod = 500;

// The target folder the window starts with: "C:\Windows\Fonts" when that is the
// system's font folder, the system's own path when Windows lives elsewhere.
std::string StartupTargetFolder(std::string_view systemFontFolder);
// The same rule for the default button, in its own spelling.
std::string DefaultTargetFolder(std::string_view systemFontFolder);

// "正在执行：3/10" while a run goes, and the short result when it has ended.
std::string ProgressStatus(std::int64_t handled, std::int64_t total);
std::string ResultStatus(std::int64_t handled, std::int64_t failed, bool stopped);
// "用时 1:05" for 65 seconds.
std::string ElapsedStatus(std::int64_t seconds);

class ToolWindow final : public SyncRunView {
 public:
  ToolWindow(Frame& frame, Dialogs& dialogs, std::string systemFontFolder = SystemFontFolder());

  std::vector<HandlerBinding> Handlers();
  bool Running() const { return run_.IsRunning(); }

  void AddRows(std::span<const ListedRow> rows) override;
  std::string CellText(std::int64_t row, int column) const override;
  std::int64_t RowCount() const override;
  void SetStatus(std::int64_t row, const RowReport& report) override;
  void SetProgress(std::int64_t handled, std::int64_t total) override;
  void SetCopyProgress(std::int64_t row, std::uint64_t done, std::uint64_t total) override;
  void ShowMessage(std::string_view text, std::string_view title, MessageKind kind) override;
  void ShowSummary(const RunSummary& summary) override;
  void ProcessPendingEvents() override;

 private:
  void OnCreationComplete(Window& window);
  void OnChooseSource();
  void OnChooseTarget();
  void OnDefaultTarget();
  void OnExecute();
  void OnEnd();
  void OnClear();
  void OnHelp();
  void OnWebsite();
  void OnTick();
  void OnFilesDropped(std::span<const std::string> paths);

  bool Busy() const { return listing_ || run_.IsRunning(); }
  void ListSource(const std::string& folder);
  void ShowRunning(bool running);
  void RefreshStatusBar();
  std::int64_t ElapsedSeconds() const;

  Frame& frame_;
  Dialogs& dialogs_;
  std::string systemFontFolder_;
  Window* window_ = nullptr;
  FontSyncRun run_{*this};
  bool listing_ = false;
  bool runShown_ = false;
  bool stopRequested_ = false;
  std::int64_t handled_ = 0;
  std::int64_t total_ = 0;
  std::int64_t failed_ = 0;
  int progressMaximum_ = -1;
  int progressPosition_ = -1;
  std::uint64_t runStartedAt_ = 0;
  std::uint64_t runEndedAt_ = 0;
  std::uint64_t lastPumpAt_ = 0;
};

}  // namespace quorvane

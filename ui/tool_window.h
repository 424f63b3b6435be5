// The tool window's commands, and its side of listing and running: it shows the
// core's rows, statuses, progress and messages, and keeps itself alive meanwhile.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "frame/frame.h"
#include "sync/install/font_folder.h"
#include "sync/run/font_sync_run.h"
#include "sync/run/sync_run_view.h"
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
inline constexpr std::string_view kEndingStatus = "正在结束…";
inline constexpr int kTimerPeriod = 500;

// A target folder that is missing or is a file, refused before a run under kValidationTitle.
inline constexpr std::string_view kMissingTargetMessage = "对不起，目标字体文件夹不存在！";

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

// The summary box's text: the core's summary, then a line for the rows a stop
// left ("已结束：3 个文件未处理。") and one for the most frequent reason of the
// failed rows ("失败原因：拒绝访问。 (28)"), each only when there is one.
std::string SummaryBoxText(const RunSummary& summary, std::string_view commonReason, std::int64_t reasonCount);

// How often each reason text was met, in the order first met.
class ReasonTally {
 public:
  void Add(std::string reason);
  void Clear() { counts_.clear(); }
  // The most frequent reason (the first met of equals) and its count; empty and 0 when none.
  std::pair<std::string_view, std::int64_t> MostFrequent() const;

 private:
  std::vector<std::pair<std::string, std::int64_t>> counts_;
};

class ToolWindow final : public SyncRunView {
 public:
  ToolWindow(Frame& frame, Dialogs& dialogs, std::string systemFontFolder = SystemFontFolder());

  std::vector<HandlerBinding> Handlers();
  bool Running() const { return run_.IsRunning(); }

  void AddRows(std::span<const ListedRow> rows) override;
  std::string CellText(std::int64_t row, int column) const override;
  std::int64_t RowCount() const override;
  void SetStatus(std::int64_t row, const RowFiles& files, const RowReport& report) override;
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
  void ResetRows();
  void ShowRunning(bool running);
  void ShowProgress(std::int64_t done, std::int64_t total, std::uint64_t fileDone, std::uint64_t fileTotal);
  void ShowHeldChanges();
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
  bool endHadFocus_ = false;
  ReasonTally reasons_;
  std::int64_t handled_ = 0;
  std::int64_t total_ = 0;
  std::int64_t failed_ = 0;
  int progressMaximum_ = -1;
  int progressPosition_ = -1;
  int wantedPosition_ = 0;
  // During a run the rows' changes and the bar are shown when events are
  // processed, not with every report.
  std::optional<ListControl::RedrawPause> rowsHeld_;
  std::uint64_t runStartedAt_ = 0;
  std::uint64_t runEndedAt_ = 0;
  std::uint64_t lastPumpAt_ = 0;
  std::uint64_t lastShownAt_ = 0;
  std::uint64_t lastScrolledAt_ = 0;
};

}  // namespace quorvane

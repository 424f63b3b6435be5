#include "ui/tool_window.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "base/text.h"
#include "frame/shell.h"
#include "sync/file_ops.h"
#include "sync/font_listing.h"
#include "sync/sync_types.h"
#include "ui/help_window_layout.h"
#include "ui/main_window_layout.h"
#include "ui/maker.h"

namespace quorvane {
namespace {

constexpr std::string_view kTargetField = "编辑框1";
constexpr std::string_view kSourceField = "编辑框2";
constexpr std::string_view kFileList = "超级列表框1";
constexpr std::string_view kProgressBar = "进度条1";
constexpr std::string_view kStatusBar = "状态条1";
constexpr std::string_view kTimer = "时钟1";
constexpr std::string_view kExecuteButton = "按钮_执行";
constexpr std::string_view kEndButton = "按钮_结束";
constexpr std::string_view kReplaceRadio = "单选框_同名替换";

// What a run must not have touched under it: the folders, the list and the policy.
constexpr std::array<std::string_view, 8> kLockedDuringRun = {
    "编辑框1", "编辑框2", "按钮_浏览1", "按钮_浏览2", "按钮_默认", "按钮_清空", "单选框_同名替换", "单选框_同名忽略",
};

enum StatusPanelIndex { kStatePanel = 0, kTimePanel = 1, kSupportPanel = 2 };

// Between two looks at the queue the run may go this long; well under what a
// user notices, and rare enough that 20,000 rows do not spend their time pumping.
constexpr std::uint64_t kPumpInterval = 15;
constexpr std::size_t kRowsBetweenPumps = 1024;

bool SameFolderIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::string StartupTargetFolder(std::string_view systemFontFolder) {
  if (systemFontFolder.empty() || SameFolderIgnoringCase(systemFontFolder, kStartupFontFolder)) {
    return std::string(kStartupFontFolder);
  }
  return std::string(systemFontFolder);
}

std::string DefaultTargetFolder(std::string_view systemFontFolder) {
  if (systemFontFolder.empty() || SameFolderIgnoringCase(systemFontFolder, kDefaultFontFolder)) {
    return std::string(kDefaultFontFolder);
  }
  return std::string(systemFontFolder);
}

std::string ProgressStatus(std::int64_t handled, std::int64_t total) {
  return "正在执行：" + std::to_string(handled) + "/" + std::to_string(total);
}

std::string ResultStatus(std::int64_t handled, std::int64_t failed, bool stopped) {
  return std::string(stopped ? "已结束" : "已完成") + "：共 " + std::to_string(handled) + " 个，失败 " +
         std::to_string(failed) + " 个";
}

std::string ElapsedStatus(std::int64_t seconds) {
  const std::int64_t minutes = seconds / 60;
  const std::int64_t rest = seconds % 60;
  return "用时 " + std::to_string(minutes) + (rest < 10 ? ":0" : ":") + std::to_string(rest);
}

ToolWindow::ToolWindow(Frame& frame, Dialogs& dialogs, std::string systemFontFolder)
    : frame_(frame), dialogs_(dialogs), systemFontFolder_(std::move(systemFontFolder)) {}

std::vector<HandlerBinding> ToolWindow::Handlers() {
  auto command = [this](void (ToolWindow::*member)()) {
    return [this, member](Window&, const EventArgs&) { (this->*member)(); };
  };
  return {
      {.element = kMainWindowName,
       .event = Event::CreationComplete,
       .handler = [this](Window& window, const EventArgs&) { OnCreationComplete(window); }},
      {.element = kMainWindowName,
       .event = Event::FilesDropped,
       .handler = [this](Window&, const EventArgs& args) { OnFilesDropped(args.paths); }},
      {.element = "时钟1", .event = Event::Tick, .handler = command(&ToolWindow::OnTick)},
      {.element = "按钮_清空", .event = Event::Click, .handler = command(&ToolWindow::OnClear)},
      {.element = "按钮_帮助", .event = Event::Click, .handler = command(&ToolWindow::OnHelp)},
      {.element = "按钮_官网", .event = Event::Click, .handler = command(&ToolWindow::OnWebsite)},
      {.element = "按钮_结束", .event = Event::Click, .handler = command(&ToolWindow::OnEnd)},
      {.element = "按钮_执行", .event = Event::Click, .handler = command(&ToolWindow::OnExecute)},
      {.element = "按钮_浏览2", .event = Event::Click, .handler = command(&ToolWindow::OnChooseSource)},
      {.element = "按钮_默认", .event = Event::Click, .handler = command(&ToolWindow::OnDefaultTarget)},
      {.element = "按钮_浏览1", .event = Event::Click, .handler = command(&ToolWindow::OnChooseTarget)},
  };
}

// ---- Commands ---------------------------------------------------------------

void ToolWindow::OnCreationComplete(Window& window) {
  window_ = &window;
  window.Get(kTargetField).SetText(StartupTargetFolder(systemFontFolder_));
  StatusBarControl bar = window.StatusBar(kStatusBar);
  bar.AddPanel({.width = 220, .text = std::string(kReadyStatus), .tip = "状态"});
  bar.AddPanel({.width = 100, .text = ElapsedStatus(0), .tip = "本次执行所用的时间"});
  const std::string support = std::string(kSupportLine) + std::string(kSupportAddress);
  bar.AddPanel({.width = -1, .text = support, .tip = support});
}

void ToolWindow::OnChooseSource() {
  if (Busy()) return;
  const std::string folder = dialogs_.ChooseFolder(kChooseSourceTitle);
  if (folder.empty()) return;
  ListSource(folder);
}

void ToolWindow::OnFilesDropped(std::span<const std::string> paths) {
  if (Busy()) return;
  const auto folder = std::ranges::find_if(paths, [](const std::string& path) { return IsFolder(path); });
  if (folder != paths.end()) ListSource(*folder);
}

void ToolWindow::ListSource(const std::string& folder) {
  window_->Get(kSourceField).SetText(folder);
  listing_ = true;
  StatusBarControl bar = window_->StatusBar(kStatusBar);
  bar.SetPanelText(kStatePanel, kListingStatus);
  FontListing(folder, *this);
  bar.SetPanelText(kStatePanel, kReadyStatus);
  listing_ = false;
}

void ToolWindow::OnChooseTarget() {
  if (Busy()) return;
  const std::string folder = dialogs_.ChooseFolder(kChooseTargetTitle);
  if (!folder.empty()) window_->Get(kTargetField).SetText(folder);
}

void ToolWindow::OnDefaultTarget() {
  if (!Busy()) window_->Get(kTargetField).SetText(DefaultTargetFolder(systemFontFolder_));
}

void ToolWindow::OnExecute() {
  // A click that reaches us from inside a run (its events are processed as it
  // goes) must not start a second run over the same list.
  if (Busy()) return;
  const SyncOptions options{
      .policy = window_->Get(kReplaceRadio).Checked() ? SyncPolicy::Replace : SyncPolicy::Ignore,
      .dryRun = false,
  };
  handled_ = 0;
  total_ = 0;
  failed_ = 0;
  stopRequested_ = false;
  run_.Run(window_->Get(kSourceField).Text(), window_->Get(kTargetField).Text(), options);
  if (runShown_) ShowRunning(false);
}

void ToolWindow::OnEnd() {
  if (!run_.IsRunning()) return;
  stopRequested_ = true;
  run_.RequestStop();
}

void ToolWindow::OnClear() {
  if (Busy()) return;
  window_->List(kFileList).DeleteAllRows();
  ProgressControl bar = window_->Progress(kProgressBar);
  bar.SetPosition(0);
  progressPosition_ = 0;
}

void ToolWindow::OnHelp() { frame_.Show(kHelpWindowName, window_); }

void ToolWindow::OnWebsite() { dialogs_.OpenWebPage(kWebsiteAddress); }

void ToolWindow::OnTick() { RefreshStatusBar(); }

// ---- Run state --------------------------------------------------------------

void ToolWindow::ShowRunning(bool running) {
  runShown_ = running;
  if (!window_->IsOpen()) return;
  const bool focusWasOnButton = GetFocus() == window_->Get(running ? kExecuteButton : kEndButton).Handle();
  window_->Get(kEndButton).SetVisible(running);
  window_->Get(kExecuteButton).SetVisible(!running);
  for (std::string_view name : kLockedDuringRun) window_->Get(name).SetEnabled(!running);
  // The button under the user's hand changes; the focus goes along with it.
  if (focusWasOnButton) SetFocus(window_->Get(running ? kEndButton : kExecuteButton).Handle());
  const std::uint64_t now = GetTickCount64();
  if (running) {
    runStartedAt_ = now;
  } else {
    runEndedAt_ = now;
  }
  window_->Timer(kTimer).SetPeriod(running ? kTimerPeriod : 0);
  RefreshStatusBar();
}

std::int64_t ToolWindow::ElapsedSeconds() const {
  const std::uint64_t end = runShown_ ? GetTickCount64() : runEndedAt_;
  return static_cast<std::int64_t>((end - runStartedAt_) / 1000);
}

void ToolWindow::RefreshStatusBar() {
  if (window_ == nullptr || !window_->IsOpen()) return;
  StatusBarControl bar = window_->StatusBar(kStatusBar);
  if (runShown_) {
    bar.SetPanelText(kStatePanel, ProgressStatus(handled_, total_));
    if (handled_ > 0) window_->List(kFileList).EnsureVisible(static_cast<int>(handled_ - 1));
  }
  bar.SetPanelText(kTimePanel, ElapsedStatus(ElapsedSeconds()));
}

// ---- The view of the core ---------------------------------------------------

void ToolWindow::AddRows(std::span<const ListedRow> rows) {
  if (window_ == nullptr) return;
  ListControl list = window_->List(kFileList);
  // One repaint for the whole batch instead of one per row.
  const auto pause = list.PauseRedraw();
  list.Reserve(list.RowCount() + static_cast<int>(rows.size()));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ListedRow& row = rows[i];
    // A batch of many thousand rows still lets the window answer meanwhile.
    if (i % kRowsBetweenPumps == kRowsBetweenPumps - 1) ProcessPendingEvents();
    const int index = list.InsertRow(-1, row.number);
    if (index < 0) continue;
    list.SetCellText(index, kNameColumn, row.name);
    list.SetCellText(index, kPathColumn, row.path);
    list.SetCellText(index, kStatusColumn, kReadyText);
  }
}

std::string ToolWindow::CellText(std::int64_t row, int column) const {
  return window_ == nullptr ? std::string{} : window_->List(kFileList).CellText(static_cast<int>(row), column);
}

std::int64_t ToolWindow::RowCount() const { return window_ == nullptr ? 0 : window_->List(kFileList).RowCount(); }

void ToolWindow::SetStatus(std::int64_t row, const RowReport& report) {
  if (IsFailure(report.state)) ++failed_;
  if (window_ != nullptr) {
    window_->List(kFileList).SetCellText(static_cast<int>(row), kStatusColumn, StatusText(report.state));
  }
}

void ToolWindow::SetCopyProgress(std::int64_t, std::uint64_t, std::uint64_t) {}

void ToolWindow::SetProgress(std::int64_t handled, std::int64_t total) {
  if (window_ == nullptr) return;
  // The run's first report comes once it has passed its checks: from here on
  // the window shows a run in progress.
  handled_ = handled;
  total_ = total;
  if (!runShown_ && run_.IsRunning()) ShowRunning(true);
  // The bar holds at most kProgressLimit steps; longer lists are scaled down.
  const int maximum = static_cast<int>(std::min<std::int64_t>(total, ProgressControl::kProgressLimit));
  const int position =
      total <= 0 ? 0 : static_cast<int>(total <= maximum ? handled : handled * maximum / total);
  ProgressControl bar = window_->Progress(kProgressBar);
  if (maximum != progressMaximum_) {
    bar.SetRange(0, maximum);
    progressMaximum_ = maximum;
  }
  // Unchanged positions cost nothing: no message, no repaint.
  if (position != progressPosition_) {
    bar.SetPosition(position);
    progressPosition_ = position;
  }
}

void ToolWindow::ShowMessage(std::string_view text, std::string_view title, MessageKind kind) {
  // A window the user has closed gets no more messages.
  if (window_ == nullptr || !window_->IsOpen()) return;
  const UINT icon = kind == MessageKind::Warning ? MB_ICONWARNING : MB_ICONINFORMATION;
  dialogs_.ShowMessage(text, title, MB_OK | icon, window_->Handle());
}

void ToolWindow::ShowSummary(const RunSummary& summary) {
  if (window_ == nullptr || !window_->IsOpen()) return;
  // The summary is the run's last act: beneath it the window is idle again and
  // its status bar tells the result.
  if (runShown_) {
    ShowRunning(false);
    window_->StatusBar(kStatusBar).SetPanelText(kStatePanel, ResultStatus(handled_, failed_, stopRequested_));
  }
  ShowMessage(SummaryMessage(summary.tally), kSummaryTitle,
              summary.tally.AnyFailed() ? MessageKind::Warning : MessageKind::Information);
}

void ToolWindow::ProcessPendingEvents() {
  const std::uint64_t now = GetTickCount64();
  if (now - lastPumpAt_ < kPumpInterval) return;
  lastPumpAt_ = now;
  quorvane::ProcessPendingEvents();
  // Closing the window in the middle of a run ends the run after its file.
  if (window_ == nullptr || !window_->IsOpen()) run_.RequestStop();
}

}  // namespace quorvane

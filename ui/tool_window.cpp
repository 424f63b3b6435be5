#include "ui/tool_window.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "base/text.h"
#include "frame/shell.h"
#include "sync/files/file_error.h"
#include "sync/files/file_ops.h"
#include "sync/run/font_listing.h"
#include "sync/run/sync_types.h"
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
// user notices (and the 50 ms a click may wait), and rare enough that 20,000
// rows do not spend their time pumping.
constexpr std::uint64_t kPumpInterval = 30;
// The rows and the bar follow the run at this pace: smooth to the eye, and
// each of their repaints costs the run a millisecond or more.
constexpr std::uint64_t kShowInterval = 150;
constexpr std::uint64_t kScrollInterval = 2000;
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

std::string SummaryBoxText(const RunSummary& summary, std::string_view commonReason, std::int64_t reasonCount) {
  std::string text = SummaryMessage(summary.tally);
  if (summary.stopped) text.append("\n已结束：").append(std::to_string(summary.unhandled)).append(" 个文件未处理。");
  if (summary.tally.AnyFailed() && reasonCount > 0) {
    text.append("\n失败原因：").append(commonReason).append(" (").append(std::to_string(reasonCount)).append(")");
  }
  return text;
}

void ReasonTally::Add(std::string reason) {
  const auto found = std::ranges::find(counts_, reason, &std::pair<std::string, std::int64_t>::first);
  if (found != counts_.end()) {
    ++found->second;
  } else {
    counts_.emplace_back(std::move(reason), 1);
  }
}

std::pair<std::string_view, std::int64_t> ReasonTally::MostFrequent() const {
  std::pair<std::string_view, std::int64_t> most{{}, 0};
  for (const auto& [reason, count] : counts_) {
    if (count > most.second) most = {reason, count};
  }
  return most;
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
  const std::string folder = dialogs_.ChooseFolder(kChooseSourceTitle, window_->Get(kSourceField).Text());
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
  const std::string folder = dialogs_.ChooseFolder(kChooseTargetTitle, window_->Get(kTargetField).Text());
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
  const std::string source = window_->Get(kSourceField).Text();
  const std::string target = window_->Get(kTargetField).Text();
  // Empty folders are the core's to refuse; a target that is not there would
  // fail every row, so it is refused up front in the same way.
  if (!source.empty() && !target.empty() && !IsFolder(target)) {
    ShowMessage(kMissingTargetMessage, kValidationTitle, MessageKind::Warning);
    return;
  }
  handled_ = 0;
  total_ = 0;
  failed_ = 0;
  reasons_.Clear();
  stopRequested_ = false;
  endHadFocus_ = false;
  run_.Run(source, target, options);
  if (runShown_) ShowRunning(false);
}

// The stop comes at the run's next look at the queue, within a piece of the
// file in copy; until then the button cannot be pressed twice.
void ToolWindow::OnEnd() {
  if (!run_.IsRunning() || stopRequested_) return;
  stopRequested_ = true;
  const Control end = window_->Get(kEndButton);
  endHadFocus_ = GetFocus() == end.Handle();
  end.SetEnabled(false);
  window_->StatusBar(kStatusBar).SetPanelText(kStatePanel, kEndingStatus);
  run_.RequestStop();
}

void ToolWindow::OnClear() {
  if (Busy()) return;
  window_->List(kFileList).DeleteAllRows();
  ProgressControl bar = window_->Progress(kProgressBar);
  bar.SetPosition(0);
  progressPosition_ = wantedPosition_ = 0;
  window_->StatusBar(kStatusBar).SetPanelText(kStatePanel, kReadyStatus);
}

void ToolWindow::OnHelp() { frame_.Show(kHelpWindowName, window_); }

void ToolWindow::OnWebsite() { dialogs_.OpenWebPage(kWebsiteAddress); }

void ToolWindow::OnTick() { RefreshStatusBar(); }

// ---- Run state --------------------------------------------------------------

// Every row starts the run as ready, so none shows an earlier run's outcome.
void ToolWindow::ResetRows() {
  ListControl list = window_->List(kFileList);
  const auto pause = list.PauseRedraw();
  for (int row = 0; row < list.RowCount(); ++row) {
    list.SetCellText(row, kStatusColumn, kReadyText);
    list.SetRowTip(row, {});
  }
}

void ToolWindow::ShowRunning(bool running) {
  runShown_ = running;
  if (running) {
    rowsHeld_.emplace(window_->List(kFileList));
  } else {
    ShowHeldChanges();
  }
  if (!window_->IsOpen()) return;
  const bool focusWasOnButton =
      GetFocus() == window_->Get(running ? kExecuteButton : kEndButton).Handle() || (!running && endHadFocus_);
  window_->Get(kEndButton).SetEnabled(true);
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
    bar.SetPanelText(kStatePanel, stopRequested_ ? std::string(kEndingStatus) : ProgressStatus(handled_, total_));
    // The row in copy, or the last one handled, is the one to see. It goes to
    // the top, so the rows to come are on show too; a scroll repaints the whole
    // list (30 ms under Wine with the skin), so a fast run scrolls every two seconds.
    const std::int64_t current = std::min(handled_, total_ - 1);
    const std::uint64_t now = GetTickCount64();
    ListControl list = window_->List(kFileList);
    if (current >= 0 && now - lastScrolledAt_ >= kScrollInterval && !list.RowInView(static_cast<int>(current))) {
      list.ShowAtTop(static_cast<int>(current));
      lastScrolledAt_ = now;
    }
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
    const std::string_view cells[] = {row.number, row.name, row.path, kReadyText};
    list.AppendRow(cells);
  }
}

std::string ToolWindow::CellText(std::int64_t row, int column) const {
  return window_ == nullptr ? std::string{} : window_->List(kFileList).CellText(static_cast<int>(row), column);
}

std::int64_t ToolWindow::RowCount() const { return window_ == nullptr ? 0 : window_->List(kFileList).RowCount(); }

void ToolWindow::SetStatus(std::int64_t row, const RowFiles&, const RowReport& report) {
  const bool failed = IsFailure(report.state);
  std::string reason = failed && report.reason ? ReasonText(*report.reason) : std::string();
  if (failed) ++failed_;
  if (!reason.empty()) reasons_.Add(reason);
  if (window_ == nullptr) return;
  ListControl list = window_->List(kFileList);
  list.SetCellText(static_cast<int>(row), kStatusColumn, StatusText(report.state));
  list.SetRowTip(static_cast<int>(row), reason);
}

void ToolWindow::SetCopyProgress(std::int64_t, std::uint64_t done, std::uint64_t total) {
  if (window_ != nullptr) ShowProgress(handled_, total_, done, total);
}

void ToolWindow::SetProgress(std::int64_t handled, std::int64_t total) {
  if (window_ == nullptr) return;
  handled_ = handled;
  total_ = total;
  // The run's first report comes once it has passed its checks: from here on
  // the window shows a run in progress.
  if (!runShown_ && run_.IsRunning()) {
    ResetRows();
    ShowRunning(true);
    // Locking the window repaints a dozen controls: the queue gets its turn
    // before the first file adds to the wait.
    lastPumpAt_ = 0;
    ProcessPendingEvents();
  }
  ShowProgress(handled, total, 0, 0);
}

// Rows done plus the share of the file in copy. The bar has one step per pixel
// of its width: a finer position would only repaint the same picture.
void ToolWindow::ShowProgress(std::int64_t done, std::int64_t total, std::uint64_t fileDone,
                              std::uint64_t fileTotal) {
  ProgressControl bar = window_->Progress(kProgressBar);
  if (progressMaximum_ <= 0) {
    RECT client{};
    GetClientRect(bar.Handle(), &client);
    const int maximum = std::clamp(static_cast<int>(client.right - client.left), 1, ProgressControl::kProgressLimit);
    bar.SetRange(0, maximum);
    progressMaximum_ = maximum;
  }
  double share = 0;
  if (total > 0) {
    const double file = fileTotal > 0 ? static_cast<double>(fileDone) / static_cast<double>(fileTotal) : 0.0;
    share = std::clamp((static_cast<double>(done) + file) / static_cast<double>(total), 0.0, 1.0);
  }
  wantedPosition_ = static_cast<int>(share * progressMaximum_);
  if (!runShown_) ShowHeldChanges();
}

// A skinned bar repaints at every new position and a list at every changed
// row, at once: during a run they are brought up to date only when events are
// processed, which is often enough to see and far rarer than reports come.
void ToolWindow::ShowHeldChanges() {
  rowsHeld_.reset();
  // Unchanged positions cost nothing: no message, no repaint.
  if (wantedPosition_ != progressPosition_) {
    window_->Progress(kProgressBar).SetPosition(wantedPosition_);
    progressPosition_ = wantedPosition_;
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
    // As above, before the box takes its time to appear.
    quorvane::ProcessPendingEvents();
    if (!window_->IsOpen()) return;
  }
  const auto [reason, count] = reasons_.MostFrequent();
  ShowMessage(SummaryBoxText(summary, reason, count), kSummaryTitle,
              summary.tally.AnyFailed() ? MessageKind::Warning : MessageKind::Information);
}

void ToolWindow::ProcessPendingEvents() {
  const std::uint64_t now = GetTickCount64();
  if (now - lastPumpAt_ < kPumpInterval) return;
  lastPumpAt_ = now;
  if (runShown_ && now - lastShownAt_ >= kShowInterval) {
    lastShownAt_ = now;
    ShowHeldChanges();
  }
  quorvane::ProcessPendingEvents();
  if (runShown_ && !rowsHeld_) rowsHeld_.emplace(window_->List(kFileList));
  // Closing the window in the middle of a run ends the run after its file.
  if (window_ == nullptr || !window_->IsOpen()) run_.RequestStop();
}

}  // namespace quorvane

// The tool window's commands through the real window, with stand-in dialogs and
// real folders: listing, running, ending, clearing, help and website.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>

#include "base/text.h"
#include "sync/files/fault_injection.h"
#include "sync/files/file_error.h"
#include "sync/run/sync_types.h"
#include "tests/sync/test_support.h"
#include "tests/ui/ui_test_support.h"

namespace quorvane {
namespace {

using namespace testing_support;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

class CommandsTest : public ToolWindowTest {
 protected:
  void SetUp() override {
    ToolWindowTest::SetUp();
    dialogs_.onMessage = [this] {
      endShownUnderMessage_ = window_->Get("按钮_结束").Visible();
      stateUnderMessage_ = Panel(0);
    };
  }

  // Source fonts a.ttf, b.OTF, sub\d.fon and sub\e.ttc, plus a file that is no font.
  void MakeSource() {
    WriteFile(source_.Path("a.ttf"), "new a");
    WriteFile(source_.Path("b.OTF"), "new b");
    WriteFile(source_.Path("notes.txt"), "not a font");
    testing::MakeFolder(source_.Path("sub"));
    WriteFile(source_.Path("sub\\d.fon"), "new d");
    WriteFile(source_.Path("sub\\e.ttc"), "new e");
  }

  void ChooseSource(const std::string& folder) {
    dialogs_.folders.push_back(folder);
    Click("按钮_浏览2");
  }

  void Execute() {
    window_->Get("编辑框1").SetText(target_.Path());
    Click("按钮_执行");
  }

  std::vector<std::string> Column(int column) {
    std::vector<std::string> cells;
    for (int row = 0; row < List().RowCount(); ++row) cells.push_back(List().CellText(row, column));
    return cells;
  }

  // `count` fonts of 20 kB each, so a run takes a while.
  void MakeManySources(int count) {
    for (int i = 0; i < count; ++i) {
      std::string name = std::to_string(i);
      name.append(".ttf");
      WriteFile(source_.Path(name), std::string(20000, 'x'));
    }
  }

  std::string Panel(int index) { return window_->StatusBar("状态条1").PanelText(index); }

  TempFolder source_;
  TempFolder target_;
  bool endShownUnderMessage_ = true;
  std::string stateUnderMessage_;
};

TEST(TargetFolderRule, StartupAndDefaultSpellTheSystemFolderTheirWay) {
  EXPECT_EQ(StartupTargetFolder("C:\\WINDOWS\\FONTS"), "C:\\Windows\\Fonts");
  EXPECT_EQ(StartupTargetFolder("c:\\windows\\fonts"), "C:\\Windows\\Fonts");
  EXPECT_EQ(StartupTargetFolder("D:\\Windows\\Fonts"), "D:\\Windows\\Fonts");
  EXPECT_EQ(StartupTargetFolder(""), "C:\\Windows\\Fonts");
  EXPECT_EQ(DefaultTargetFolder("C:\\Windows\\Fonts"), "C:\\WINDOWS\\Fonts");
  EXPECT_EQ(DefaultTargetFolder("E:\\WinNT\\Fonts"), "E:\\WinNT\\Fonts");
  EXPECT_EQ(DefaultTargetFolder("C:\\Windows\\Fonts2"), "C:\\Windows\\Fonts2");
}

TEST(StatusTexts, ProgressResultAndElapsedTime) {
  EXPECT_EQ(ProgressStatus(3, 10), "正在执行：3/10");
  EXPECT_EQ(ResultStatus(3, 2, false), "已完成：共 3 个，失败 2 个");
  EXPECT_EQ(ResultStatus(0, 0, true), "已结束：共 0 个，失败 0 个");
  EXPECT_EQ(ElapsedStatus(0), "用时 0:00");
  EXPECT_EQ(ElapsedStatus(65), "用时 1:05");
  EXPECT_EQ(ElapsedStatus(600), "用时 10:00");
}

TEST(SummaryBox, AStopAndTheMostFrequentReasonEachAddALine) {
  RunSummary summary;
  summary.tally.Add(FileOutcome::CopySucceeded);
  const std::string plain = "本次任务共处理文件1个：复制成功1个；复制失败0个；替换成功0个；替换失败0个；同名忽略0个。";
  EXPECT_EQ(SummaryBoxText(summary, {}, 0), plain);
  EXPECT_EQ(SummaryBoxText(summary, "拒绝访问。", 3), plain) << "no failed row, no reason";
  summary.stopped = true;
  summary.unhandled = 7;
  EXPECT_EQ(SummaryBoxText(summary, {}, 0), plain + "\n已结束：7 个文件未处理。");
  summary.tally.Add(FileOutcome::ReplaceFailed);
  EXPECT_EQ(SummaryBoxText(summary, "拒绝访问。", 1),
            "本次任务共处理文件2个：复制成功1个；复制失败0个；替换成功0个；替换失败1个；同名忽略0个。"
            "\n已结束：7 个文件未处理。\n失败原因：拒绝访问。 (1)");
  summary.stopped = false;
  EXPECT_EQ(SummaryBoxText(summary, "", 0).find('\n'), std::string::npos) << "a failure without a reason adds nothing";
}

TEST(SummaryBox, TheMostFrequentReasonWinsAndTheFirstMetOfEquals) {
  ReasonTally reasons;
  EXPECT_EQ(reasons.MostFrequent().second, 0);
  reasons.Add("找不到文件。");
  reasons.Add("拒绝访问。");
  EXPECT_EQ(reasons.MostFrequent(), (std::pair<std::string_view, std::int64_t>("找不到文件。", 1)));
  reasons.Add("拒绝访问。");
  EXPECT_EQ(reasons.MostFrequent(), (std::pair<std::string_view, std::int64_t>("拒绝访问。", 2)));
  reasons.Clear();
  EXPECT_EQ(reasons.MostFrequent().second, 0);
}

TEST_F(CommandsTest, WindowOpensWithTheSystemFontFolderAndItsStatusPanels) {
  EXPECT_EQ(Text("编辑框1"), "C:\\Windows\\Fonts");
  EXPECT_EQ(Text("编辑框2"), "");
  StatusBarControl bar = window_->StatusBar("状态条1");
  ASSERT_EQ(bar.PanelCount(), 3);
  EXPECT_EQ(Panel(0), "就绪");
  EXPECT_EQ(Panel(1), "用时 0:00");
  EXPECT_EQ(Panel(2), "　技术支持：support@quorvane.example");
  int edges[3] = {};
  SendMessageW(bar.Handle(), SB_GETPARTS, 3, reinterpret_cast<LPARAM>(edges));
  EXPECT_EQ(edges[2], -1);
}

TEST_F(CommandsTest, OnAnotherDriveTheWindowKeepsTheSystemsOwnFolder) {
  Frame frame;
  FakeDialogs dialogs;
  ProgramWindows windows(frame, dialogs, "D:\\Win\\Fonts");
  ASSERT_FALSE(windows.Register());
  Window* window = frame.Show(kMainWindowName);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->Get("编辑框1").Text(), "D:\\Win\\Fonts");
  SendMessageW(window->Get("按钮_默认").Handle(), BM_CLICK, 0, 0);
  EXPECT_EQ(window->Get("编辑框1").Text(), "D:\\Win\\Fonts");
}

TEST_F(CommandsTest, DefaultReplacesWhatTheUserTyped) {
  window_->Get("编辑框1").SetText("D:\\别处");
  Click("按钮_默认");
  EXPECT_EQ(Text("编辑框1"), "C:\\WINDOWS\\Fonts");
}

TEST_F(CommandsTest, ChoosingASourceListsOneReadyRowPerFontFile) {
  MakeSource();
  ChooseSource(source_.Path());
  EXPECT_EQ(dialogs_.chooserTitles, std::vector<std::string>{"请选择源字体文件夹"});
  EXPECT_EQ(Text("编辑框2"), source_.Path());
  EXPECT_EQ(Column(0), (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_EQ(Column(1), (std::vector<std::string>{"a.ttf", "b.OTF", "d.fon", "e.ttc"}));
  EXPECT_EQ(Column(2), (std::vector<std::string>{source_.Path("a.ttf"), source_.Path("b.OTF"),
                                                 source_.Path("sub\\d.fon"), source_.Path("sub\\e.ttc")}));
  EXPECT_EQ(Column(3), std::vector<std::string>(4, "准备就绪"));
  EXPECT_EQ(Panel(0), "就绪");
}

TEST_F(CommandsTest, EachChooserOpensAtTheFolderInItsField) {
  ChooseSource(source_.Path());
  Click("按钮_浏览2");
  Click("按钮_浏览1");
  EXPECT_EQ(dialogs_.chooserFolders, (std::vector<std::string>{"", source_.Path(), "C:\\Windows\\Fonts"}));
}

TEST_F(CommandsTest, CancelledChoosersLeaveFieldsAndListAsTheyWere) {
  MakeSource();
  ChooseSource(source_.Path());
  Click("按钮_浏览2");
  EXPECT_EQ(Text("编辑框2"), source_.Path());
  EXPECT_EQ(List().RowCount(), 4);
  Click("按钮_浏览1");
  EXPECT_EQ(Text("编辑框1"), "C:\\Windows\\Fonts");
  dialogs_.folders.push_back(target_.Path());
  Click("按钮_浏览1");
  EXPECT_EQ(Text("编辑框1"), target_.Path());
  EXPECT_EQ(dialogs_.chooserTitles.back(), "请选择目标字体文件夹");
  EXPECT_EQ(List().RowCount(), 4);
}

TEST_F(CommandsTest, ADriveRootKeepsItsTrailingSeparator) {
  ChooseSource("Q:\\");
  EXPECT_EQ(Text("编辑框2"), "Q:\\");
  EXPECT_EQ(List().RowCount(), 0);
}

TEST_F(CommandsTest, ExecuteWithoutSourceWarnsAndChangesNothing) {
  List().InsertRow(-1, "1");
  List().SetCellText(0, 3, "准备就绪");
  Execute();
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].text, "对不起，请选择源字体文件夹！");
  EXPECT_EQ(dialogs_.messages[0].title, "消息");
  EXPECT_EQ(dialogs_.messages[0].style & MB_ICONMASK, static_cast<UINT>(MB_ICONWARNING));
  EXPECT_EQ(dialogs_.messages[0].owner, window_->Handle());
  EXPECT_EQ(List().RowCount(), 1);
  EXPECT_EQ(List().CellText(0, 3), "准备就绪");
  EXPECT_EQ(window_->Progress("进度条1").Position(), 0);
  EXPECT_EQ(Panel(0), "就绪");
}

TEST_F(CommandsTest, FullRunWithReplaceCopiesStatusesProgressAndSummary) {
  MakeSource();
  WriteFile(target_.Path("a.ttf"), "old a");
  ChooseSource(source_.Path());
  Click("单选框_同名替换");
  Execute();
  EXPECT_EQ(Column(3), (std::vector<std::string>{"替换成功", "复制成功", "复制成功", "复制成功"}));
  ProgressControl progress = window_->Progress("进度条1");
  RECT bar{};
  GetClientRect(progress.Handle(), &bar);
  EXPECT_EQ(progress.Maximum(), bar.right) << "one step per pixel";
  EXPECT_EQ(progress.Position(), progress.Maximum());
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].text,
            "本次任务共处理文件4个：复制成功3个；复制失败0个；替换成功1个；替换失败0个；同名忽略0个。");
  EXPECT_EQ(dialogs_.messages[0].title, "执行结果");
  EXPECT_EQ(dialogs_.messages[0].style & MB_ICONMASK, static_cast<UINT>(MB_ICONINFORMATION));
  EXPECT_FALSE(endShownUnderMessage_);
  EXPECT_EQ(stateUnderMessage_, "已完成：共 4 个，失败 0 个");
  EXPECT_EQ(ReadFile(target_.Path("a.ttf")), "new a");
  EXPECT_EQ(ReadFile(target_.Path("e.ttc")), "new e");
  EXPECT_EQ(ReadFile(source_.Path("a.ttf")), "new a");
  EXPECT_EQ(Panel(0), "已完成：共 4 个，失败 0 个");
  EXPECT_TRUE(window_->Get("按钮_执行").Visible());
  EXPECT_FALSE(window_->Get("按钮_结束").Visible());
  EXPECT_EQ(window_->Timer("时钟1").Period(), 0);
}

TEST_F(CommandsTest, IgnoreLeavesSameNameFilesAndAFailedReplaceWarns) {
  MakeSource();
  WriteFile(target_.Path("a.ttf"), "old a");
  WriteFile(target_.Path("b.OTF"), "old b");
  testing::SetReadOnly(target_.Path("b.OTF"), true);
  ChooseSource(source_.Path());
  Execute();
  EXPECT_EQ(Column(3), (std::vector<std::string>{"同名忽略", "同名忽略", "复制成功", "复制成功"}));
  EXPECT_EQ(ReadFile(target_.Path("a.ttf")), "old a");
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].style & MB_ICONMASK, static_cast<UINT>(MB_ICONINFORMATION));

  Click("单选框_同名替换");
  Execute();
  EXPECT_EQ(Column(3), (std::vector<std::string>{"替换成功", "替换失败", "替换成功", "替换成功"}));
  EXPECT_EQ(ReadFile(target_.Path("b.OTF")), "old b");
  ASSERT_EQ(dialogs_.messages.size(), 2u);
  EXPECT_EQ(dialogs_.messages[1].style & MB_ICONMASK, static_cast<UINT>(MB_ICONWARNING));
  EXPECT_EQ(Panel(0), "已完成：共 4 个，失败 1 个");
  testing::SetReadOnly(target_.Path("b.OTF"), false);
}

// What the list shows when the pointer rests on a row.
std::wstring InfoTip(Window& window, int row) {
  wchar_t text[256] = L"";
  NMLVGETINFOTIPW tip{};
  tip.hdr.hwndFrom = window.List("超级列表框1").Handle();
  tip.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(tip.hdr.hwndFrom));
  tip.hdr.code = LVN_GETINFOTIPW;
  tip.pszText = text;
  tip.cchTextMax = 256;
  tip.iItem = row;
  SendMessageW(window.Handle(), WM_NOTIFY, tip.hdr.idFrom, reinterpret_cast<LPARAM>(&tip));
  return text;
}

// A read-only target refuses with "access denied", a source gone since the
// listing with "not found": each failed row says its own, the summary the
// most frequent, and a new run forgets them.
TEST_F(CommandsTest, FailedRowsTellTheirReasonAndTheSummaryTheMostFrequent) {
  MakeSource();
  WriteFile(target_.Path("a.ttf"), "old");
  WriteFile(target_.Path("b.OTF"), "old");
  testing::SetReadOnly(target_.Path("a.ttf"), true);
  ChooseSource(source_.Path());
  // Gone since the listing. The rarer reason comes first: a.ttf's row runs first.
  for (const char* gone : {"sub\\d.fon", "sub\\e.ttc"}) std::filesystem::remove(testing::PathOf(source_.Path(gone)));
  Click("单选框_同名替换");
  Execute();
  EXPECT_EQ(Column(3), (std::vector<std::string>{"替换失败", "替换成功", "复制失败", "复制失败"}));
  const std::string denied = ReasonText(FileError{FileStep::Open, ERROR_ACCESS_DENIED});
  const std::string notFound = ReasonText(FileError{FileStep::Open, ERROR_FILE_NOT_FOUND});
  ASSERT_NE(denied, notFound);
  EXPECT_EQ(Narrow(InfoTip(*window_, 0)), denied);
  EXPECT_EQ(Narrow(InfoTip(*window_, 1)), "") << "a row that did not fail has no reason";
  EXPECT_EQ(Narrow(InfoTip(*window_, 2)), notFound);
  EXPECT_EQ(Narrow(InfoTip(*window_, 3)), notFound);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].text,
            "本次任务共处理文件4个：复制成功0个；复制失败2个；替换成功1个；替换失败1个；同名忽略0个。\n失败原因：" + notFound +
                " (2)");
  EXPECT_EQ(dialogs_.messages[0].style & MB_ICONMASK, static_cast<UINT>(MB_ICONWARNING));

  testing::SetReadOnly(target_.Path("a.ttf"), false);
  Execute();
  EXPECT_EQ(Column(3), (std::vector<std::string>{"替换成功", "替换成功", "复制失败", "复制失败"}));
  EXPECT_EQ(Narrow(InfoTip(*window_, 0)), "");
  EXPECT_EQ(Narrow(InfoTip(*window_, 3)), notFound);
  ASSERT_EQ(dialogs_.messages.size(), 2u);
  EXPECT_NE(dialogs_.messages[1].text.find("\n失败原因：" + notFound + " (2)"), std::string::npos)
      << "counted afresh: " << dialogs_.messages[1].text;
}

TEST_F(CommandsTest, AMissingTargetOrAFileAsTargetIsRefusedBeforeTheRun) {
  MakeSource();
  ChooseSource(source_.Path());
  for (const std::string& target : {target_.Path("没有"), source_.Path("a.ttf")}) {
    SCOPED_TRACE(target);
    dialogs_.messages.clear();
    window_->Get("编辑框1").SetText(target);
    Click("按钮_执行");
    ASSERT_EQ(dialogs_.messages.size(), 1u) << "the refusal, and no summary";
    EXPECT_EQ(dialogs_.messages[0].text, "对不起，目标字体文件夹不存在！");
    EXPECT_EQ(dialogs_.messages[0].title, "消息");
    EXPECT_EQ(dialogs_.messages[0].style & MB_ICONMASK, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(dialogs_.messages[0].owner, window_->Handle());
    EXPECT_EQ(Column(3), std::vector<std::string>(4, "准备就绪"));
    EXPECT_EQ(Panel(0), "就绪");
    EXPECT_EQ(window_->Progress("进度条1").Position(), 0);
  }
  EXPECT_FALSE(std::filesystem::exists(testing::PathOf(target_.Path("没有"))));
  EXPECT_EQ(ReadFile(source_.Path("a.ttf")), "new a");
  // An empty source is still the core's first refusal.
  window_->Get("编辑框2").SetText("");
  dialogs_.messages.clear();
  Click("按钮_执行");
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].text, "对不起，请选择源字体文件夹！");
}

// Runs `action` once, the first time the run lets events through.
class DuringRun {
 public:
  explicit DuringRun(std::function<void()> action) {
    pending_ = std::move(action);
    timer_ = SetTimer(nullptr, 0, 1, &DuringRun::Fire);
  }
  ~DuringRun() { KillTimer(nullptr, timer_); }

 private:
  static void CALLBACK Fire(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (auto action = std::exchange(pending_, nullptr)) action();
  }
  static inline std::function<void()> pending_;
  UINT_PTR timer_;
};

TEST_F(CommandsTest, DuringARunTheControlsAreLockedAndASecondExecuteStartsNothing) {
  MakeManySources(60);
  ChooseSource(source_.Path());
  std::map<std::string, bool> enabledDuringRun;
  bool endShown = false;
  bool executeShown = true;
  DuringRun check([&] {
    for (const char* name : {"编辑框1", "编辑框2", "按钮_浏览1", "按钮_浏览2", "按钮_默认", "按钮_清空",
                             "单选框_同名替换", "单选框_同名忽略", "按钮_帮助", "按钮_官网"}) {
      enabledDuringRun[name] = window_->Get(name).Enabled();
    }
    endShown = window_->Get("按钮_结束").Visible();
    executeShown = window_->Get("按钮_执行").Visible();
    const HWND execute = window_->Get("按钮_执行").Handle();
    SendMessageW(window_->Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(execute), BN_CLICKED),
                 reinterpret_cast<LPARAM>(execute));
  });
  Execute();
  EXPECT_TRUE(endShown);
  EXPECT_FALSE(executeShown);
  for (const auto& [name, enabled] : enabledDuringRun) {
    const bool stays = name == "按钮_帮助" || name == "按钮_官网";
    EXPECT_EQ(enabled, stays) << name;
    EXPECT_TRUE(window_->Get(name).Enabled()) << name;
  }
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(Column(3), std::vector<std::string>(60, "复制成功"));
}

// 结束 takes effect in the middle of a file: that file is abandoned, its row
// ready again with every row after it.
TEST_F(CommandsTest, EndStopsTheRunAndStillSummarises) {
  MakeManySources(60);
  ChooseSource(source_.Path());
  DuringRun end([&] {
    const HWND button = window_->Get("按钮_结束").Handle();
    SendMessageW(window_->Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
  });
  Execute();
  const std::vector<std::string> statuses = Column(3);
  const auto handled = std::ranges::count(statuses, std::string("复制成功"));
  EXPECT_LT(handled, 60);
  EXPECT_EQ(std::ranges::count(statuses, std::string("准备就绪")), 60 - handled);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  std::string summaryStart = "本次任务共处理文件";
  summaryStart.append(std::to_string(handled)).append("个");
  EXPECT_EQ(dialogs_.messages[0].text.find(summaryStart), 0u);
  EXPECT_EQ(Panel(0).find("已结束"), 0u);
  EXPECT_TRUE(window_->Get("按钮_执行").Visible());
  EXPECT_TRUE(window_->Get("编辑框2").Enabled());
}

// Calls `look` every time the run lets events through, until it is destroyed.
class EveryPump {
 public:
  explicit EveryPump(std::function<void()> look) {
    look_ = std::move(look);
    timer_ = SetTimer(nullptr, 0, 1, &EveryPump::Fire);
  }
  ~EveryPump() {
    KillTimer(nullptr, timer_);
    look_ = nullptr;
  }

 private:
  // Armed again only after the look, so a look that takes its time is not due
  // again within the same pass over the queue.
  static void CALLBACK Fire(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (!look_) return;
    look_();
    timer_ = SetTimer(nullptr, 0, 1, &EveryPump::Fire);
  }
  static inline std::function<void()> look_;
  static inline UINT_PTR timer_ = 0;
};

void ClickFromInside(Window& window, std::string_view button) {
  const HWND hwnd = window.Get(button).Handle();
  SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), BN_CLICKED), reinterpret_cast<LPARAM>(hwnd));
}

// While one big file copies, the window keeps answering: its row says so and
// the bar moves by the file's bytes.
TEST_F(CommandsTest, ABigFileShowsItsRowInCopyAndMovesTheBarByBytes) {
  WriteFile(source_.Path("big.ttf"), std::string(256 << 20, 'b'));
  ChooseSource(source_.Path());
  // A disk that copies 256 MB within three looks would leave nothing to see:
  // each read of the copy waits a little, so the file takes a second or more.
  class SlowReads : public FaultInjector {
    int FailWith(FileStep step) override {
      if (step == FileStep::Read) Sleep(4);
      return 0;
    }
  } slowReads;
  SetFaultInjector(&slowReads);
  struct Unset {
    ~Unset() { SetFaultInjector(nullptr); }
  } unset;
  ProgressControl bar = window_->Progress("进度条1");
  std::vector<std::pair<std::string, int>> seen;
  {
    // Each look takes a while, as a busy user interface would, and longer
    // than the window waits between two repaints of the bar (150 ms): the
    // next look after the first finds the bar moved and the file still in copy.
    EveryPump look([&] {
      seen.emplace_back(List().CellText(0, 3), bar.Position());
      Sleep(200);
    });
    Execute();
  }
  const int maximum = bar.Maximum();
  const auto midFile = std::ranges::count_if(seen, [&](const auto& sample) {
    return sample.first == "正在复制" && sample.second > 0 && sample.second < maximum;
  });
  EXPECT_GE(midFile, 1) << seen.size() << " looks";
  EXPECT_TRUE(std::ranges::is_sorted(seen, {}, &std::pair<std::string, int>::second)) << "the bar never goes back";
  EXPECT_EQ(List().CellText(0, 3), "复制成功");
  EXPECT_EQ(bar.Position(), maximum);
}

// 结束 in the middle of a big file replacing an old one: the button cannot be
// pressed again, the status says the run is ending, and it ends at once with
// the old file whole (the copy abandoned, not finished), no temporary left
// and the rows not reached ready. How soon it stops is measured in bench/.
TEST_F(CommandsTest, EndInTheMiddleOfABigFileStopsAtOnceAndKeepsTheOldTarget) {
  WriteFile(source_.Path("big.ttf"), std::string(256 << 20, 'n'));
  // A folder's own files are listed before its sub-folders'.
  testing::MakeFolder(source_.Path("sub"));
  WriteFile(source_.Path("sub\\small.ttf"), "small");
  WriteFile(target_.Path("big.ttf"), "old big");
  ChooseSource(source_.Path());
  Click("单选框_同名替换");
  bool clicked = false;
  bool endEnabledAfterClick = true;
  std::string stateAfterClick;
  std::string stateAtNextLook;
  {
    EveryPump look([&] {
      if (clicked) {
        if (stateAtNextLook.empty() && windows_->Tool().Running()) stateAtNextLook = Panel(0);
        return;
      }
      if (List().CellText(0, 3) != "正在复制") return;
      clicked = true;
      ClickFromInside(*window_, "按钮_结束");
      endEnabledAfterClick = window_->Get("按钮_结束").Enabled();
      stateAfterClick = Panel(0);
      ClickFromInside(*window_, "按钮_结束");
    });
    dialogs_.onMessage = [&] {
      stateUnderMessage_ = Panel(0);
    };
    Execute();
  }
  ASSERT_TRUE(clicked);
  EXPECT_FALSE(endEnabledAfterClick);
  EXPECT_EQ(stateAfterClick, "正在结束…");
  EXPECT_EQ(stateAtNextLook.find("正在执行"), std::string::npos) << "a tick must not undo 正在结束…";
  EXPECT_EQ(Column(3), (std::vector<std::string>{"准备就绪", "准备就绪"}));
  EXPECT_TRUE(ReadFile(target_.Path("big.ttf")) == "old big") << "the old file is whole";
  EXPECT_TRUE(testing::TemporaryFilesIn(target_.Path()).empty());
  EXPECT_FALSE(std::filesystem::exists(testing::PathOf(target_.Path("small.ttf"))));
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_EQ(dialogs_.messages[0].text,
            "本次任务共处理文件0个：复制成功0个；复制失败0个；替换成功0个；替换失败0个；同名忽略0个。"
            "\n已结束：2 个文件未处理。");
  EXPECT_EQ(stateUnderMessage_, "已结束：共 0 个，失败 0 个");
  // The next run finds the button as it was.
  EXPECT_TRUE(window_->Get("按钮_执行").Visible());
  EXPECT_TRUE(window_->Get("按钮_结束").Enabled());
}

TEST_F(CommandsTest, ExecuteStartsWithEveryRowReady) {
  MakeManySources(60);
  ChooseSource(source_.Path());
  Execute();
  ASSERT_EQ(Column(3), std::vector<std::string>(60, "复制成功"));
  std::string lastRowAtFirstLook;
  DuringRun look([&] { lastRowAtFirstLook = List().CellText(59, 3); });
  // Due before the run starts: it fires at the run's first look at the queue.
  Sleep(5);
  Execute();
  EXPECT_EQ(lastRowAtFirstLook, "准备就绪");
  EXPECT_EQ(Column(3), std::vector<std::string>(60, "同名忽略"));
}

TEST_F(CommandsTest, ClosingTheWindowDuringARunEndsTheRunWithoutMoreMessages) {
  MakeManySources(60);
  ChooseSource(source_.Path());
  DuringRun close([&] { window_->Close(); });
  window_->Get("编辑框1").SetText(target_.Path());
  SendMessageW(window_->Get("按钮_执行").Handle(), BM_CLICK, 0, 0);
  EXPECT_FALSE(window_->IsOpen());
  EXPECT_FALSE(windows_->Tool().Running());
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_LT(std::distance(std::filesystem::directory_iterator(testing::PathOf(target_.Path())),
                          std::filesystem::directory_iterator()),
            60);
  EXPECT_TRUE(TakeQuit());
}

TEST_F(CommandsTest, ClearEmptiesTheListAndResetsTheProgressAndTheStatus) {
  Click("按钮_清空");
  EXPECT_EQ(List().RowCount(), 0);
  MakeSource();
  ChooseSource(source_.Path());
  Execute();
  ASSERT_GT(window_->Progress("进度条1").Position(), 0);
  ASSERT_EQ(Panel(0), "已完成：共 4 个，失败 0 个");
  Click("按钮_清空");
  EXPECT_EQ(List().RowCount(), 0);
  EXPECT_EQ(Header_GetItemCount(ListView_GetHeader(List().Handle())), 4);
  EXPECT_EQ(window_->Progress("进度条1").Position(), 0);
  EXPECT_EQ(Panel(0), "就绪");
}

TEST_F(CommandsTest, TheBarShowsRowsDonePlusTheShareOfTheFileInCopy) {
  ToolWindow& view = windows_->Tool();
  ProgressControl bar = window_->Progress("进度条1");
  view.SetProgress(40000, 80000);
  const int maximum = bar.Maximum();
  EXPECT_EQ(bar.Position(), maximum / 2);
  view.SetProgress(1, 4);
  view.SetCopyProgress(1, 512, 1024);
  EXPECT_EQ(bar.Position(), maximum * 3 / 8);
  view.SetCopyProgress(1, 1024, 1024);
  EXPECT_EQ(bar.Position(), maximum / 2);
  view.SetCopyProgress(1, 0, 0);
  EXPECT_EQ(bar.Position(), maximum / 4) << "an empty file adds nothing";
  view.SetProgress(80000, 80000);
  EXPECT_EQ(bar.Position(), maximum);
}

TEST_F(CommandsTest, HelpTwiceLeavesOneHelpWindow) {
  Click("按钮_帮助");
  Window* help = frame_.Find(kHelpWindowName);
  ASSERT_NE(help, nullptr);
  HWND first = help->Handle();
  SetForegroundWindow(window_->Handle());
  Click("按钮_帮助");
  EXPECT_EQ(frame_.Find(kHelpWindowName)->Handle(), first);
  int helpWindows = 0;
  for (HWND top = GetTopWindow(nullptr); top != nullptr; top = GetWindow(top, GW_HWNDNEXT)) {
    wchar_t title[16] = {};
    GetWindowTextW(top, title, 16);
    DWORD process = 0;
    GetWindowThreadProcessId(top, &process);
    if (process == GetCurrentProcessId() && std::wstring(title) == L"帮助") ++helpWindows;
  }
  EXPECT_EQ(helpWindows, 1);
  // Owned by the tool window, it closes with it.
  DestroyWindow(window_->Handle());
  EXPECT_FALSE(IsWindow(first));
}

TEST_F(CommandsTest, WebsiteOpensTheMakersAddress) {
  Click("按钮_官网");
  EXPECT_EQ(dialogs_.pages, std::vector<std::string>{"https://www.quorvane.example"});
}

// An Explorer drop of `paths` as the shell delivers it.
HGLOBAL MakeDrop(const std::vector<std::string>& paths) {
  std::wstring list;
  for (const std::string& path : paths) list += Widen(path) + L'\0';
  list += L'\0';
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + list.size() * sizeof(wchar_t));
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), list.data(), list.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  return memory;
}

TEST_F(CommandsTest, DroppingAFolderChoosesItAsTheSource) {
  MakeSource();
  SendMessageW(window_->Handle(), WM_DROPFILES,
               reinterpret_cast<WPARAM>(MakeDrop({source_.Path("notes.txt"), source_.Path()})), 0);
  EXPECT_EQ(Text("编辑框2"), source_.Path());
  EXPECT_EQ(List().RowCount(), 4);
  SendMessageW(window_->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({source_.Path("a.ttf")})), 0);
  EXPECT_EQ(List().RowCount(), 4);
}

}  // namespace
}  // namespace quorvane

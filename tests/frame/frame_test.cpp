// The frame against a small layout of every kind: building, stacking, keys,
// events and the typed element access, on real windows under Wine.
#include "frame/frame.h"

#include <commctrl.h>
#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <array>
#include <cwchar>
#include <vector>

#include "tests/frame/window_test_support.h"

namespace quorvane {
namespace {

using namespace testing_support;

constexpr ListColumn kColumns[] = {{.title = "甲列", .width = 50}, {.title = "乙列", .width = 60}};

constexpr Element kElements[] = {
    {.name = "W", .kind = Kind::Window, .rect = {0, 0, 420, 330}, .text = "测试窗口"},
    {.name = "按钮_顶", .kind = Kind::Button, .rect = {8, 8, 80, 24}, .text = "顶", .tabStop = true},
    {.name = "单选_甲", .kind = Kind::RadioBox, .container = "分组", .rect = {8, 16, 80, 20}, .text = "甲", .tabStop = true},
    {.name = "单选_乙",
     .kind = Kind::RadioBox,
     .container = "分组",
     .rect = {8, 40, 80, 20},
     .text = "乙",
     .tabStop = true,
     .checked = true},
    {.name = "按钮_内", .kind = Kind::Button, .container = "分组", .rect = {8, 64, 60, 24}, .text = "内", .tabStop = true},
    {.name = "分组", .kind = Kind::GroupBox, .rect = {100, 8, 140, 100}, .text = "分组"},
    {.name = "按钮_隐", .kind = Kind::Button, .rect = {260, 8, 60, 24}, .text = "隐", .visible = false, .tabStop = true},
    {.name = "编辑", .kind = Kind::EditBox, .rect = {260, 40, 100, 10}, .tabStop = true},
    {.name = "标签", .kind = Kind::TransLabel, .rect = {8, 120, 230, 40}, .text = "标签"},
    {.name = "列表", .kind = Kind::ListView, .rect = {8, 170, 200, 80}, .tabStop = true, .columns = kColumns},
    {.name = "进度", .kind = Kind::ProcessBar, .rect = {220, 170, 100, 16}},
    {.name = "状态", .kind = Kind::StatusBar, .rect = {0, 0, 0, 20}},
    {.name = "钟", .kind = Kind::Timer},
};

constexpr Binding kBindings[] = {
    {.element = "W", .event = Event::CreationComplete}, {.element = "按钮_顶", .event = Event::Click},
    {.element = "按钮_内", .event = Event::Click},      {.element = "单选_甲", .event = Event::Click},
    {.element = "单选_乙", .event = Event::Click},      {.element = "钟", .event = Event::Tick},
};

constexpr Layout kLayout{.elements = kElements, .bindings = kBindings};

class FrameTest : public ::testing::Test {
 protected:
  void TearDown() override {
    frame_.reset();
    TakeQuit();
  }

  // Builds the test window with handlers that record each event by element name.
  Window& Build(FrameOptions options = {}) {
    frame_ = std::make_unique<Frame>(options);
    std::vector<HandlerBinding> handlers;
    for (const Binding& binding : kBindings) {
      handlers.push_back({.element = binding.element, .event = binding.event,
                          .handler = [this](Window& window, const EventArgs& args) {
                            events_.emplace_back(args.element);
                            if (args.event == Event::CreationComplete) {
                              shownAtCreation_ = IsWindowVisible(window.Handle()) != FALSE;
                            }
                          }});
    }
    EXPECT_FALSE(frame_->Register(kLayout, std::move(handlers)));
    Window* window = frame_->Show("W");
    EXPECT_NE(window, nullptr);
    Pump();
    return *window;
  }

  std::string FocusedName(Window& window) {
    for (const Element& element : kElements) {
      HWND hwnd = window.Get(element.name).Handle();
      if (hwnd != nullptr && hwnd == GetFocus()) {
        return std::string(element.name);
      }
    }
    return "(none)";
  }

  std::unique_ptr<Frame> frame_;
  std::vector<std::string> events_;
  bool shownAtCreation_ = true;
};

TEST_F(FrameTest, ControlsOfAGroupBoxAreItsChildrenAtTheirStoredPlace) {
  Window& window = Build();
  HWND group = window.Get("分组").Handle();
  HWND inner = window.Get("按钮_内").Handle();
  EXPECT_EQ(GetParent(inner), group);
  const RECT rect = RectInParent(inner);
  EXPECT_EQ(rect.left, 8);
  EXPECT_EQ(rect.top, 64);
  EXPECT_EQ(rect.right - rect.left, 60);
  EXPECT_EQ(GetParent(window.Get("按钮_顶").Handle()), window.Handle());
}

TEST_F(FrameTest, StackingOrderIsTheListedOrderWithinEachContainer) {
  Window& window = Build();
  auto childrenOf = [](HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      children.push_back(child);
    }
    return children;
  };
  const std::vector<HWND> top = {window.Get("按钮_顶").Handle(), window.Get("分组").Handle(),
                                 window.Get("按钮_隐").Handle(), window.Get("编辑").Handle(),
                                 window.Get("标签").Handle(),    window.Get("列表").Handle(),
                                 window.Get("进度").Handle(),    window.Get("状态").Handle()};
  EXPECT_EQ(childrenOf(window.Handle()), top);
  const std::vector<HWND> inGroup = {window.Get("单选_甲").Handle(), window.Get("单选_乙").Handle(),
                                     window.Get("按钮_内").Handle()};
  EXPECT_EQ(childrenOf(window.Get("分组").Handle()), inGroup);
}

TEST_F(FrameTest, CreationCompleteRunsOnceBeforeTheWindowIsShown) {
  Window& window = Build();
  EXPECT_EQ(events_, std::vector<std::string>{"W"});
  EXPECT_FALSE(shownAtCreation_);
  EXPECT_TRUE(IsWindowVisible(window.Handle()));
  EXPECT_FALSE(window.Get("按钮_隐").Visible());
  EXPECT_TRUE(window.Get("按钮_顶").Visible());
}

TEST_F(FrameTest, TabRingRunsFromLastListedToFirstSkippingHiddenAndDisabled) {
  Window& window = Build();
  EXPECT_EQ(FocusedName(window), "列表");  // no initial focus given: the ring's first
  std::vector<std::string> visited;
  for (int i = 0; i < 6; ++i) {
    PressKey(VK_TAB);
    visited.push_back(FocusedName(window));
  }
  EXPECT_EQ(visited, (std::vector<std::string>{"编辑", "按钮_内", "单选_乙", "单选_甲", "按钮_顶", "列表"}));

  PressKey(VK_TAB, true);
  EXPECT_EQ(FocusedName(window), "按钮_顶");
  window.Get("单选_甲").SetEnabled(false);
  window.Get("按钮_隐").SetVisible(true);
  PressKey(VK_TAB, true);
  EXPECT_EQ(FocusedName(window), "单选_乙");
  PressKey(VK_TAB, true);
  PressKey(VK_TAB, true);
  EXPECT_EQ(FocusedName(window), "按钮_隐");
}

TEST_F(FrameTest, ControlsInsideADisabledGroupBoxLeaveTheRing) {
  Window& window = Build();
  window.Get("分组").SetEnabled(false);
  SetFocus(window.Get("编辑").Handle());
  PressKey(VK_TAB);
  EXPECT_EQ(FocusedName(window), "按钮_顶");
}

TEST_F(FrameTest, ArrowsOnARadioButtonMoveCheckAndClick) {
  Window& window = Build();
  SetFocus(window.Get("单选_乙").Handle());
  events_.clear();
  PressKey(VK_DOWN);
  EXPECT_EQ(FocusedName(window), "单选_甲");
  EXPECT_TRUE(window.Get("单选_甲").Checked());
  EXPECT_FALSE(window.Get("单选_乙").Checked());
  EXPECT_EQ(events_, std::vector<std::string>{"单选_甲"});
  PressKey(VK_RIGHT);  // wraps around
  EXPECT_EQ(FocusedName(window), "单选_乙");
  PressKey(VK_UP);
  EXPECT_TRUE(window.Get("单选_甲").Checked());
  EXPECT_FALSE(window.Get("单选_乙").Checked());
}

TEST_F(FrameTest, AControlThatWantsArrowsKeepsThem) {
  Window& window = Build();
  ListControl list = window.List("列表");
  list.InsertRow(-1, "一");
  list.InsertRow(-1, "二");
  SetFocus(list.Handle());
  PressKey(VK_DOWN);
  EXPECT_EQ(FocusedName(window), "列表");
}

TEST_F(FrameTest, TheFocusReturnsToItsControlWhenTheWindowIsActivatedAgain) {
  Window& window = Build();
  SetFocus(window.Get("按钮_内").Handle());
  HWND other = CreateWindowExW(0, L"STATIC", L"别的窗口", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
  SetActiveWindow(other);
  Pump();
  EXPECT_NE(GetFocus(), window.Get("按钮_内").Handle());
  SetActiveWindow(window.Handle());
  Pump();
  EXPECT_EQ(FocusedName(window), "按钮_内");
  DestroyWindow(other);
}

TEST_F(FrameTest, EnterDoesNothingAndEscapeClosesTheLastWindowWithQuit) {
  Window& window = Build();
  SetFocus(window.Get("按钮_顶").Handle());
  events_.clear();
  PressKey(VK_RETURN);
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(FocusedName(window), "按钮_顶");
  EXPECT_FALSE(TakeQuit());
  PressKey(VK_ESCAPE);
  EXPECT_FALSE(window.IsOpen());
  EXPECT_TRUE(TakeQuit());
}

TEST_F(FrameTest, RunEndsWithExitCodeZeroWhenTheLastWindowCloses) {
  Window& window = Build();
  PostMessageW(window.Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(frame_->Run(), 0);
}

TEST_F(FrameTest, ClicksInsideAGroupBoxReachTheWindowsHandlers) {
  Window& window = Build();
  events_.clear();
  SendMessageW(window.Get("按钮_内").Handle(), BM_CLICK, 0, 0);
  SendMessageW(window.Get("按钮_顶").Handle(), BM_CLICK, 0, 0);
  Pump();
  EXPECT_EQ(events_, (std::vector<std::string>{"按钮_内", "按钮_顶"}));
}

TEST_F(FrameTest, EditFieldIsNeverLowerThanItsText) {
  Window& window = Build();
  RECT rect;
  GetWindowRect(window.Get("编辑").Handle(), &rect);
  EXPECT_GT(rect.bottom - rect.top, 10);
}

TEST_F(FrameTest, StatusBarIsDockedTwentyPixelsHighWithPanelsAddedAtRunTime) {
  Window& window = Build();
  StatusBarControl bar = window.StatusBar("状态");
  RECT client;
  GetClientRect(window.Handle(), &client);
  const RECT rect = RectInParent(bar.Handle());
  EXPECT_EQ(rect.bottom, client.bottom);
  EXPECT_EQ(rect.bottom - rect.top, 20);
  EXPECT_EQ(rect.right - rect.left, client.right);

  EXPECT_EQ(bar.AddPanel({.width = 100, .text = "一", .tip = "提示一"}), 0);
  EXPECT_EQ(bar.AddPanel({.border = PanelBorder::None, .text = "二"}), 1);
  EXPECT_EQ(bar.AddPanel({.width = -7, .border = PanelBorder::Raised, .text = "三"}), 2);
  std::array<int, 3> edges{};
  ASSERT_EQ(SendMessageW(bar.Handle(), SB_GETPARTS, 3, reinterpret_cast<LPARAM>(edges.data())), 3);
  EXPECT_EQ(edges, (std::array<int, 3>{100, 150, -1}));
  EXPECT_EQ(bar.PanelText(1), "二");
  EXPECT_EQ(HIWORD(SendMessageW(bar.Handle(), SB_GETTEXTLENGTHW, 1, 0)), SBT_NOBORDERS);
  EXPECT_EQ(HIWORD(SendMessageW(bar.Handle(), SB_GETTEXTLENGTHW, 2, 0)), SBT_POPOUT);
  EXPECT_EQ(HIWORD(SendMessageW(bar.Handle(), SB_GETTEXTLENGTHW, 0, 0)), 0);
  wchar_t tip[16] = {};
  SendMessageW(bar.Handle(), SB_GETTIPTEXTW, MAKEWPARAM(0, 16), reinterpret_cast<LPARAM>(tip));
  EXPECT_STREQ(tip, L"提示一");
  EXPECT_TRUE(bar.SetPanelText(2, "叁"));
  EXPECT_EQ(bar.PanelText(2), "叁");
  EXPECT_FALSE(bar.SetPanelText(3, "无"));
}

TEST_F(FrameTest, StatusPanelsShowTheImageOfTheirIndex) {
  Window& window = Build();
  StatusBarControl bar = window.StatusBar("状态");
  HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
  ImageList_AddIcon(images, LoadIconW(nullptr, IDI_APPLICATION));
  bar.SetImages(images);
  bar.AddPanel({.width = 80, .image = 0, .text = "有图"});
  bar.AddPanel({.width = -1, .text = "无图"});
  EXPECT_NE(SendMessageW(bar.Handle(), SB_GETICON, 0, 0), 0);
  EXPECT_EQ(SendMessageW(bar.Handle(), SB_GETICON, 1, 0), 0);
  window.Close();
  ImageList_Destroy(images);
}

TEST_F(FrameTest, ProgressRangeAndPositionStayWithinZeroTo32767) {
  Window& window = Build();
  ProgressControl bar = window.Progress("进度");
  EXPECT_EQ(bar.Minimum(), 0);
  EXPECT_EQ(bar.Maximum(), 100);
  EXPECT_EQ(bar.Position(), 0);
  bar.SetRange(-5, 40000);
  EXPECT_EQ(bar.Minimum(), 0);
  EXPECT_EQ(bar.Maximum(), 32767);
  bar.SetPosition(50000);
  EXPECT_EQ(bar.Position(), 32767);
  bar.SetPosition(-3);
  EXPECT_EQ(bar.Position(), 0);
  EXPECT_EQ(GetWindowLongW(bar.Handle(), GWL_STYLE) & PBS_SMOOTH, 0);
}

TEST_F(FrameTest, TimerTicksAtItsPeriodAndStopsAtZeroOrBelow) {
  Window& window = Build();
  TimerControl timer = window.Timer("钟");
  EXPECT_EQ(timer.Period(), 0);
  events_.clear();
  timer.SetPeriod(20);
  EXPECT_TRUE(PumpUntil([&] { return events_.size() >= 3; }));
  timer.SetPeriod(-4);
  EXPECT_EQ(timer.Period(), 0);
  Pump();
  events_.clear();
  Sleep(100);
  Pump();
  EXPECT_TRUE(events_.empty());
}

TEST_F(FrameTest, ListRowsAndCellsOfAnyLength) {
  Window& window = Build();
  ListControl list = window.List("列表");
  EXPECT_EQ(list.RowCount(), 0);
  EXPECT_EQ(list.InsertRow(), 0);
  EXPECT_EQ(list.InsertRow(-1, "第二"), 1);
  EXPECT_EQ(list.InsertRow(0, "第零"), 0);
  EXPECT_EQ(list.CellText(2, 0), "第二");
  const std::string longText(1500, 'x');
  const std::string exactly511(511, 'y');
  EXPECT_TRUE(list.SetCellText(1, 1, longText));
  EXPECT_TRUE(list.SetCellText(2, 1, exactly511));
  EXPECT_EQ(list.CellText(1, 1), longText);
  EXPECT_EQ(list.CellText(2, 1), exactly511);
  EXPECT_EQ(list.CellText(1, 0), "");
  {
    auto pause = list.PauseRedraw();
    list.Reserve(1000);
    for (int i = 0; i < 1000; ++i) list.InsertRow(-1, std::to_string(i));
  }
  EXPECT_EQ(list.RowCount(), 1003);
  EXPECT_EQ(list.CellText(1002, 0), "999");
  EXPECT_FALSE(list.SetCellText(1003, 0, "no such row"));
  EXPECT_FALSE(list.SetCellText(0, 2, "no such column"));
  EXPECT_TRUE(list.DeleteAllRows());
  EXPECT_EQ(list.RowCount(), 0);
  EXPECT_EQ(Header_GetItemCount(ListView_GetHeader(list.Handle())), 2);
}

// What the list control itself reports, as a screen reader or the list's own
// painting and type-ahead see it.
std::wstring ItemText(HWND list, int row, int column, int room = 260) {
  std::wstring buffer(static_cast<std::size_t>(room), L'#');
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = buffer.data();
  item.cchTextMax = room;
  const auto length = SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  EXPECT_EQ(buffer.find(L'\0'), static_cast<std::size_t>(length)) << "ends where it says, inside the room";
  return std::wstring(item.pszText);
}

TEST_F(FrameTest, TheListControlShowsTheRowsItIsGiven) {
  Window& window = Build();
  ListControl list = window.List("列表");
  const HWND control = list.Handle();
  list.InsertRow(-1, "甲一");
  list.InsertRow(-1, "乙二");
  list.InsertRow(1, "丙三");
  list.SetCellText(2, 1, "第二格");
  EXPECT_EQ(SendMessageW(control, LVM_GETITEMCOUNT, 0, 0), 3);
  EXPECT_EQ(ItemText(control, 0, 0), L"甲一");
  EXPECT_EQ(ItemText(control, 1, 0), L"丙三");
  EXPECT_EQ(ItemText(control, 2, 1), L"第二格");
  EXPECT_EQ(ItemText(control, 1, 1), L"");
  list.SetCellText(0, 1, std::string(600, 'z'));
  EXPECT_EQ(ItemText(control, 0, 1, 8), L"zzzzzzz");

  LVFINDINFOW find{};
  find.flags = LVFI_STRING | LVFI_PARTIAL | LVFI_WRAP;
  find.psz = L"乙";
  EXPECT_EQ(SendMessageW(control, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)), 2);
  find.psz = L"丁";
  EXPECT_EQ(SendMessageW(control, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)), -1);

  {
    auto pause = list.PauseRedraw();
    for (int i = 0; i < 50; ++i) list.InsertRow(-1, std::to_string(i));
    EXPECT_EQ(list.RowCount(), 53);
  }
  EXPECT_EQ(SendMessageW(control, LVM_GETITEMCOUNT, 0, 0), 53) << "the list learns the batch when the pause ends";
  EXPECT_EQ(ItemText(control, 52, 0), L"49");
  list.DeleteAllRows();
  EXPECT_EQ(SendMessageW(control, LVM_GETITEMCOUNT, 0, 0), 0);
}

// Cells keep their text however often it changes: a text that outgrows its
// place moves, what it leaves behind is packed away once it piles up, and a
// row's cells and tip stay its own throughout.
TEST_F(FrameTest, CellsKeepTheirTextThroughGrowthAndPacking) {
  Window& window = Build();
  ListControl list = window.List("列表");
  const HWND control = list.Handle();
  const std::string_view three[] = {"0", "甲.ttf", "no third column"};
  EXPECT_EQ(list.AppendRow(three), 0);
  const std::string_view one[] = {"1"};
  EXPECT_EQ(list.AppendRow(one), 1);
  EXPECT_EQ(list.CellText(0, 1), "甲.ttf");
  EXPECT_EQ(list.CellText(0, 2), "");
  EXPECT_EQ(list.CellText(1, 1), "");
  constexpr int kRows = 2000;
  {
    auto pause = list.PauseRedraw();
    for (int row = 2; row < kRows; ++row) {
      const std::string number = std::to_string(row);
      const std::string_view cells[] = {number, "乙"};
      list.AppendRow(cells);
    }
    // Every second cell grows by a character a round, the others shrink: far
    // more is left behind than is kept.
    for (int round = 1; round <= 40; ++round) {
      for (int row = 0; row < kRows; ++row) {
        const int length = row % 2 == 0 ? round : 41 - round;
        list.SetCellText(row, 1, std::string(static_cast<std::size_t>(length), static_cast<char>('a' + row % 26)));
      }
      list.SetRowTip(round * 7, "原因 " + std::to_string(round));
    }
  }
  EXPECT_EQ(list.RowCount(), kRows);
  for (int row = 0; row < kRows; ++row) {
    ASSERT_EQ(list.CellText(row, 0), std::to_string(row)) << row;
    const std::size_t length = row % 2 == 0 ? 40 : 1;
    ASSERT_EQ(list.CellText(row, 1), std::string(length, static_cast<char>('a' + row % 26))) << row;
  }
  for (int round = 1; round <= 40; ++round) EXPECT_EQ(list.RowTip(round * 7), "原因 " + std::to_string(round));
  EXPECT_EQ(list.RowTip(8), "");
  EXPECT_EQ(ItemText(control, 1998, 1), std::wstring(40, L'a' + 1998 % 26));
  EXPECT_EQ(ItemText(control, 1999, 0), L"1999");

  // What the list cannot show comes back as it shows it; a lone surrogate,
  // which Windows names may hold, comes back as it went in.
  list.SetCellText(0, 1, "bad\xff");
  EXPECT_EQ(list.CellText(0, 1), "bad\xEF\xBF\xBD");
  list.SetCellText(0, 1, "\xED\xA0\x80.ttf");
  EXPECT_EQ(list.CellText(0, 1), "\xED\xA0\x80.ttf");
  EXPECT_EQ(ItemText(control, 0, 1), L"\xD800.ttf");
}

// What the list shows when the pointer rests on a row, as it asks for it.
std::wstring InfoTip(HWND window, HWND list, int row, const wchar_t* offered) {
  wchar_t text[64] = {};
  wcsncpy(text, offered, 63);
  NMLVGETINFOTIPW tip{};
  tip.hdr.hwndFrom = list;
  tip.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(list));
  tip.hdr.code = LVN_GETINFOTIPW;
  tip.pszText = text;
  tip.cchTextMax = 8;
  tip.iItem = row;
  SendMessageW(window, WM_NOTIFY, tip.hdr.idFrom, reinterpret_cast<LPARAM>(&tip));
  return text;
}

TEST_F(FrameTest, ARowsTipIsWhatTheListShowsForIt) {
  Window& window = Build();
  ListControl list = window.List("列表");
  list.InsertRow(-1, "甲");
  list.InsertRow(-1, "乙");
  EXPECT_TRUE(list.SetRowTip(1, "拒绝访问。"));
  EXPECT_FALSE(list.SetRowTip(2, "no such row"));
  EXPECT_EQ(list.RowTip(1), "拒绝访问。");
  EXPECT_EQ(InfoTip(window.Handle(), list.Handle(), 1, L""), L"拒绝访问。");
  EXPECT_EQ(InfoTip(window.Handle(), list.Handle(), 0, L"甲"), L"甲") << "without a tip the list's own offer stays";
  EXPECT_EQ(InfoTip(window.Handle(), list.Handle(), 7, L"x"), L"x");
  list.SetRowTip(1, "一二三四五六七八九十");
  EXPECT_EQ(InfoTip(window.Handle(), list.Handle(), 1, L""), L"一二三四五六七") << "cut to the room given";
  // A row inserted above moves the tip along with its row.
  list.InsertRow(0, "丙");
  EXPECT_EQ(list.RowTip(2), "一二三四五六七八九十");
  EXPECT_EQ(list.RowTip(1), "");
  list.SetRowTip(2, "");
  EXPECT_EQ(InfoTip(window.Handle(), list.Handle(), 2, L"乙"), L"乙");
  list.DeleteAllRows();
  EXPECT_EQ(list.RowTip(0), "");
}

// Every message to the list passes its hooks and subclasses (a skin's, say),
// which under some systems costs a round trip each: a batch sends none per row.
LRESULT CALLBACK CountMessages(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

TEST_F(FrameTest, ABatchOfRowsSendsTheListNoMessagePerRow) {
  Window& window = Build();
  ListControl list = window.List("列表");
  int messages = 0;
  const SUBCLASSPROC count = CountMessages;
  ASSERT_TRUE(SetWindowSubclass(list.Handle(), count, 1, reinterpret_cast<DWORD_PTR>(&messages)));
  {
    auto pause = list.PauseRedraw();
    for (int i = 0; i < 500; ++i) {
      const int row = list.InsertRow(-1, std::to_string(i));
      list.SetCellText(row, 1, "文件");
    }
  }
  RemoveWindowSubclass(list.Handle(), count, 1);
  EXPECT_LT(messages, 20);
  EXPECT_EQ(SendMessageW(list.Handle(), LVM_GETITEMCOUNT, 0, 0), 500);
}

// The repaint requests the list gets: LVM_REDRAWITEMS ranges and count updates.
struct ListRequests {
  std::vector<std::pair<WPARAM, LPARAM>> redraws;
  int counts = 0;
};

LRESULT CALLBACK RecordRequests(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  auto* requests = reinterpret_cast<ListRequests*>(data);
  if (message == LVM_REDRAWITEMS) requests->redraws.emplace_back(wParam, lParam);
  if (message == LVM_SETITEMCOUNT) ++requests->counts;
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

TEST_F(FrameTest, APauseRepaintsOnlyTheChangedRowsOnShowWhenItEnds) {
  Window& window = Build();
  ListControl list = window.List("列表");
  for (int i = 0; i < 60; ++i) list.InsertRow(-1, std::to_string(i));
  ListRequests requests;
  const SUBCLASSPROC record = RecordRequests;
  ASSERT_TRUE(SetWindowSubclass(list.Handle(), record, 2, reinterpret_cast<DWORD_PTR>(&requests)));
  {
    auto pause = list.PauseRedraw();
    list.SetCellText(3, 1, "乙");
    list.SetCellText(1, 1, "甲");
    list.SetCellText(2, 1, "丙");
    list.SetCellText(55, 1, "below the view");
    EXPECT_TRUE(requests.redraws.empty());
  }
  ASSERT_EQ(requests.redraws.size(), 1u);
  EXPECT_EQ(requests.redraws[0].first, 1u);
  EXPECT_LT(requests.redraws[0].second, 55) << "rows out of view are not asked for";
  EXPECT_GE(requests.redraws[0].second, 3);
  EXPECT_EQ(requests.counts, 0);
  EXPECT_EQ(list.CellText(55, 1), "below the view");

  requests.redraws.clear();
  { auto pause = list.PauseRedraw(); list.SetCellText(50, 1, "still below"); }
  EXPECT_TRUE(requests.redraws.empty());
  { auto pause = list.PauseRedraw(); list.InsertRow(-1, "60"); list.InsertRow(-1, "61"); }
  EXPECT_EQ(requests.counts, 1) << "one count update for a batch";
  EXPECT_EQ(SendMessageW(list.Handle(), LVM_GETITEMCOUNT, 0, 0), 62);
  RemoveWindowSubclass(list.Handle(), record, 2);

  EXPECT_TRUE(list.RowInView(0));
  EXPECT_FALSE(list.RowInView(40));
  list.ShowAtTop(40);
  EXPECT_EQ(SendMessageW(list.Handle(), LVM_GETTOPINDEX, 0, 0), 40);
  EXPECT_TRUE(list.RowInView(40));
  EXPECT_FALSE(list.RowInView(39));
  list.ShowAtTop(61);
  EXPECT_TRUE(list.RowInView(61)) << "as near the top as the rows allow";
  list.ShowAtTop(0);
  EXPECT_EQ(SendMessageW(list.Handle(), LVM_GETTOPINDEX, 0, 0), 0);
}

TEST_F(FrameTest, UnknownNamesAndWrongKindsFailHarmlessly) {
  Window& window = Build();
  // Each of these is reported too; here they are only kept.
  const RecordedNameFaults faults;
  EXPECT_FALSE(window.Get("没有").Exists());
  EXPECT_FALSE(window.Get("没有").SetText("x"));
  EXPECT_EQ(window.List("编辑").InsertRow(), -1);
  EXPECT_EQ(window.List("编辑").CellText(0, 0), "");
  EXPECT_FALSE(window.Progress("列表").SetPosition(3));
  EXPECT_FALSE(window.Timer("按钮_顶").SetPeriod(10));
  EXPECT_EQ(window.StatusBar("进度").AddPanel({}), -1);
}

// A mistyped name reaches the fault hook, whichever accessor it was given
// to; every name of the layout (the window's own too) passes.
TEST_F(FrameTest, MistypedNamesAndWrongKindsAreReported) {
  Window& window = Build();
  {
    const RecordedNameFaults faults;
    for (const Element& element : kElements) window.Get(element.name);
    window.List("列表");
    window.Progress("进度");
    window.StatusBar("状态");
    window.Timer("钟");
    EXPECT_THAT(RecordedNameFaults::Names(), ::testing::IsEmpty());

    window.Get("按钮_项");
    window.List("列");
    window.Progress("列表");
    window.StatusBar("状");
    window.Timer("时钟");
    EXPECT_THAT(RecordedNameFaults::Names(),
                ::testing::ElementsAre("W/按钮_项", "W/列", "W/列表", "W/状", "W/时钟"));
  }
  // Outside such a scope the hook this test program installs fails the test.
  static Window* built = nullptr;
  built = &window;
  EXPECT_NONFATAL_FAILURE(built->Get("按钮_项"), "has no element 按钮_项");
}

// Captures the pixels of a control as the screen shows them.
std::vector<COLORREF> Capture(HWND hwnd) {
  RECT rect;
  GetClientRect(hwnd, &rect);
  HDC dc = GetDC(hwnd);
  std::vector<COLORREF> pixels;
  for (int y = 0; y < rect.bottom; y += 2) {
    for (int x = 0; x < rect.right; x += 2) pixels.push_back(GetPixel(dc, x, y));
  }
  ReleaseDC(hwnd, dc);
  return pixels;
}

TEST_F(FrameTest, ChangingALabelsTextLeavesNoTraceOfTheOldText) {
  Window& window = Build();
  Control label = window.Get("标签");
  label.SetText("");
  UpdateWindow(window.Handle());
  UpdateWindow(label.Handle());
  const std::vector<COLORREF> empty = Capture(label.Handle());
  label.SetText("很长的一行旧文字，写满整个标签的宽度，还要折到第二行去才能写完");
  UpdateWindow(label.Handle());
  EXPECT_NE(Capture(label.Handle()), empty);
  label.SetText("");
  UpdateWindow(label.Handle());
  EXPECT_EQ(Capture(label.Handle()), empty);
}

TEST_F(FrameTest, ShowBringsBackTheOpenWindowAndBuildsAnewOnceClosed) {
  Window& window = Build();
  HWND first = window.Handle();
  EXPECT_EQ(frame_->Show("W"), &window);
  EXPECT_EQ(window.Handle(), first);
  EXPECT_EQ(events_.size(), 1u);
  window.Close();
  TakeQuit();
  Window* again = frame_->Show("W");
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->IsOpen());
  EXPECT_EQ(events_.size(), 2u);
  EXPECT_EQ(frame_->Show("不存在"), nullptr);
}

TEST_F(FrameTest, EveryRectangleAndTheFontScaleWithTheDpi) {
  Window& window = Build({.dpi = 144});
  const RECT inner = RectInParent(window.Get("按钮_内").Handle());
  EXPECT_EQ(inner.left, 12);
  EXPECT_EQ(inner.top, 96);
  EXPECT_EQ(inner.right - inner.left, 90);
  EXPECT_EQ(inner.bottom - inner.top, 36);
  RECT outer;
  GetWindowRect(window.Handle(), &outer);
  EXPECT_GE(outer.right - outer.left, 630);
  const RECT bar = RectInParent(window.StatusBar("状态").Handle());
  EXPECT_EQ(bar.bottom - bar.top, 30);
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window.Get("按钮_顶").Handle(), WM_GETFONT, 0, 0)), sizeof font,
             &font);
  LOGFONTW standard{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof standard, &standard);
  EXPECT_EQ(font.lfHeight, MulDiv(standard.lfHeight, 144, 96));
}

TEST(FrameRegistration, BrokenLayoutsAndStrayHandlersAreTheLayoutFatalError) {
  Frame frame;
  const Element noWindow[] = {{.name = "x", .kind = Kind::Button}};
  const auto broken = frame.Register({.elements = noWindow}, {});
  ASSERT_TRUE(broken);
  EXPECT_EQ(FatalErrorText(*broken), "运行时出错!\r\n\r\n错误信息：载入窗口模板数据段出错!\r\n");

  std::vector<HandlerBinding> stray = {{.element = "编辑", .event = Event::Click, .handler = {}}};
  EXPECT_TRUE(frame.Register(kLayout, std::move(stray)));
  EXPECT_FALSE(frame.Register(kLayout, {}));
  EXPECT_TRUE(frame.Register(kLayout, {}));  // one layout per name
}

TEST(FrameLayout, ClientAreaGrowsToHoldEveryControl) {
  const Element elements[] = {
      {.name = "小", .kind = Kind::Window, .rect = {0, 0, 100, 80}, .text = "小"},
      {.name = "远", .kind = Kind::Button, .rect = {200, 150, 100, 50}, .text = "远"},
      {.name = "条", .kind = Kind::StatusBar, .rect = {0, 0, 0, 20}},
  };
  Frame frame;
  ASSERT_FALSE(frame.Register({.elements = elements}, {}));
  Window* window = frame.Show("小");
  ASSERT_NE(window, nullptr);
  RECT client;
  GetClientRect(window->Handle(), &client);
  EXPECT_GE(client.right, 300);
  EXPECT_GE(client.bottom, 220);
  window->Close();
  TakeQuit();
}

}  // namespace
}  // namespace quorvane

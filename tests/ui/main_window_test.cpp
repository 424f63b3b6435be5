// The tool window and the help window as built from their tables: the HWND tree
// against the layout, and the window's behaviour at its edges.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <map>

#include "base/text.h"
#include "frame/controls.h"
#include "tests/ui/ui_test_support.h"

namespace quorvane {
namespace {

using namespace testing_support;

class MainWindowTest : public ToolWindowTest {
 protected:
  std::string FocusedName() {
    for (const Element& element : MainWindowLayout().elements) {
      HWND hwnd = window_->Get(element.name).Handle();
      if (hwnd != nullptr && hwnd == GetFocus()) {
        return std::string(element.name);
      }
    }
    return "(none)";
  }
};

TEST_F(MainWindowTest, EveryControlMatchesItsLayoutEntry) {
  const Layout& layout = MainWindowLayout();
  ASSERT_EQ(layout.elements.size(), 22u);
  for (const Element& element : layout.elements.subspan(1)) {
    SCOPED_TRACE(std::string(element.name));
    Control control = window_->Get(element.name);
    if (element.kind == Kind::Timer) {
      EXPECT_FALSE(control.Exists());
      continue;
    }
    ASSERT_TRUE(control.Exists());
    HWND hwnd = control.Handle();
    EXPECT_EQ(ClassOf(hwnd), std::wstring(ControlClassName(element.kind)));
    HWND expectedParent = element.container.empty() ? window_->Handle() : window_->Get(element.container).Handle();
    EXPECT_EQ(GetParent(hwnd), expectedParent);
    const RECT rect = RectInParent(hwnd);
    if (element.kind != Kind::StatusBar) {
      EXPECT_EQ(rect.left, element.rect.x);
      EXPECT_EQ(rect.top, element.rect.y);
      EXPECT_EQ(rect.right - rect.left, element.rect.width);
      EXPECT_EQ(rect.bottom - rect.top, element.rect.height);
    }
    // The start-up command has filled the target field and the status bar already.
    if (element.name != "编辑框1" && element.kind != Kind::StatusBar) {
      EXPECT_EQ(control.Text(), element.text);
    }
    const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    // A radio button's own tab-stop bit follows its check mark; the frame's ring
    // goes by the layout instead.
    if (element.kind != Kind::RadioBox) {
      EXPECT_EQ((style & WS_TABSTOP) != 0, element.tabStop);
    }
    EXPECT_EQ(control.Visible(), element.visible);
    EXPECT_TRUE(control.Enabled());
    if (element.kind == Kind::Button) {
      EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON);
      EXPECT_EQ(style & (BS_CENTER | BS_VCENTER | BS_MULTILINE), BS_CENTER | BS_VCENTER | BS_MULTILINE);
    }
    if (element.kind == Kind::RadioBox) {
      EXPECT_EQ(style & BS_TYPEMASK, BS_AUTORADIOBUTTON);
      EXPECT_EQ(style & (BS_PUSHLIKE | BS_FLAT | BS_LEFTTEXT), 0);
    }
    if (element.kind == Kind::GroupBox) {
      EXPECT_EQ(style & BS_TYPEMASK, BS_GROUPBOX);
    }
    if (element.kind == Kind::EditBox) {
      EXPECT_NE(style & ES_AUTOHSCROLL, 0);
      EXPECT_EQ(style & (ES_READONLY | ES_PASSWORD | ES_MULTILINE | ES_NOHIDESEL | ES_UPPERCASE), 0);
      EXPECT_NE(GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
    }
  }
}

TEST_F(MainWindowTest, ListIsAReportWithFourColumnsAndTheFixedStyles) {
  HWND list = List().Handle();
  const LONG style = GetWindowLongW(list, GWL_STYLE);
  EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
  EXPECT_NE(style & LVS_SINGLESEL, 0);
  EXPECT_EQ(style & (LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | LVS_SORTASCENDING | LVS_SORTDESCENDING | LVS_EDITLABELS |
                     LVS_NOCOLUMNHEADER),
            0);
  const auto extended = static_cast<DWORD>(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
  EXPECT_EQ(extended, static_cast<DWORD>(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES |
                                         LVS_EX_INFOTIP));
  const std::pair<const wchar_t*, int> columns[] = {{L"序号", 50}, {L"文件名", 130}, {L"文件路径", 350}, {L"状态", 60}};
  ASSERT_EQ(Header_GetItemCount(ListView_GetHeader(list)), 4);
  for (int i = 0; i < 4; ++i) {
    wchar_t title[32] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.pszText = title;
    column.cchTextMax = 32;
    ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ(title, columns[i].first);
    EXPECT_EQ(column.cx, columns[i].second);
    EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
  }
  EXPECT_EQ(List().RowCount(), 0);
}

TEST_F(MainWindowTest, ProgressBarAndStatusBarStartAsLaidOut) {
  ProgressControl progress = window_->Progress("进度条1");
  EXPECT_EQ(GetWindowLongW(progress.Handle(), GWL_STYLE) & (PBS_SMOOTH | PBS_VERTICAL), 0);
  EXPECT_NE(GetWindowLongW(progress.Handle(), GWL_EXSTYLE) & WS_EX_STATICEDGE, 0);
  EXPECT_EQ(progress.Minimum(), 0);
  EXPECT_EQ(progress.Maximum(), 100);
  EXPECT_EQ(progress.Position(), 0);
  HWND bar = window_->StatusBar("状态条1").Handle();
  const LONG style = GetWindowLongW(bar, GWL_STYLE);
  EXPECT_EQ(style & SBARS_SIZEGRIP, 0);
  EXPECT_NE(style & SBARS_TOOLTIPS, 0);
  RECT client;
  GetClientRect(window_->Handle(), &client);
  const RECT rect = RectInParent(bar);
  EXPECT_EQ(rect.bottom, client.bottom);
  EXPECT_EQ(rect.bottom - rect.top, 20);
  EXPECT_EQ(rect.right, client.right);
  EXPECT_EQ(window_->Timer("时钟1").Period(), 0);
}

TEST_F(MainWindowTest, StackingOrderFollowsTheListWithinEachContainer) {
  const Layout& layout = MainWindowLayout();
  std::map<std::string_view, std::vector<HWND>> expected;
  for (const Element& element : layout.elements.subspan(1)) {
    if (element.kind != Kind::Timer) expected[element.container].push_back(window_->Get(element.name).Handle());
  }
  for (const auto& [container, controls] : expected) {
    HWND parent = container.empty() ? window_->Handle() : window_->Get(container).Handle();
    std::vector<HWND> actual;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      actual.push_back(child);
    }
    EXPECT_EQ(actual, controls) << std::string(container);
  }
}

TEST_F(MainWindowTest, WindowIsCentredAtItsOuterSizeWithTitleAndIcon) {
  RECT rect;
  GetWindowRect(window_->Handle(), &rect);
  ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
  ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
  RECT client;
  GetClientRect(window_->Handle(), &client);
  EXPECT_GE(client.right, 688);
  EXPECT_GE(client.bottom, 524);
  // Wine's frame and caption leave room enough: the stored outer size holds.
  EXPECT_EQ(rect.right - rect.left, 718);
  EXPECT_EQ(rect.bottom - rect.top, 567);
  EXPECT_EQ(rect.left, 153);
  EXPECT_EQ(rect.top, 100);
  wchar_t title[64] = {};
  GetWindowTextW(window_->Handle(), title, 64);
  EXPECT_EQ(Narrow(title), "Quorvane V1.7 - Tallowmere专用");
  EXPECT_NE(GetClassLongPtrW(window_->Handle(), GCLP_HICON), 0);
  EXPECT_NE(GetClassLongPtrW(window_->Handle(), GCLP_HICONSM), 0);
  const LONG style = GetWindowLongW(window_->Handle(), GWL_STYLE);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
  HMENU menu = GetSystemMenu(window_->Handle(), FALSE);
  EXPECT_NE(GetMenuState(menu, SC_MOVE, MF_BYCOMMAND), static_cast<UINT>(-1));
  EXPECT_NE(GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND), static_cast<UINT>(-1));
  EXPECT_EQ(GetMenuState(menu, SC_SIZE, MF_BYCOMMAND), static_cast<UINT>(-1));
}

TEST_F(MainWindowTest, TargetFieldSitsAt48By88InTheClientArea) {
  RECT rect;
  GetWindowRect(window_->Get("编辑框1").Handle(), &rect);
  MapWindowPoints(nullptr, window_->Handle(), reinterpret_cast<POINT*>(&rect), 2);
  EXPECT_EQ(rect.left, 48);
  EXPECT_EQ(rect.top, 88);
}

TEST_F(MainWindowTest, InitialStateFocusAndRadios) {
  EXPECT_EQ(FocusedName(), "按钮_浏览2");
  EXPECT_TRUE(window_->Get("单选框_同名忽略").Checked());
  EXPECT_FALSE(window_->Get("单选框_同名替换").Checked());
  EXPECT_EQ(Text("编辑框2"), "");
}

TEST_F(MainWindowTest, TabRingIsTheFixedForwardOrder) {
  SetFocus(window_->Get("按钮_浏览1").Handle());
  std::vector<std::string> ring = {FocusedName()};
  for (int i = 0; i < 12; ++i) {
    PressKey(VK_TAB);
    ring.push_back(FocusedName());
  }
  EXPECT_EQ(ring, (std::vector<std::string>{"按钮_浏览1", "按钮_默认", "编辑框1", "按钮_浏览2", "编辑框2", "超级列表框1",
                                            "按钮_执行", "按钮_官网", "按钮_帮助", "单选框_同名忽略", "单选框_同名替换",
                                            "按钮_清空", "按钮_浏览1"}));
  window_->Get("按钮_结束").SetVisible(true);
  SetFocus(window_->Get("按钮_执行").Handle());
  PressKey(VK_TAB);
  EXPECT_EQ(FocusedName(), "按钮_结束");
  PressKey(VK_TAB, true);
  PressKey(VK_TAB, true);
  EXPECT_EQ(FocusedName(), "超级列表框1");
}

TEST_F(MainWindowTest, DownOnIgnoreChecksReplace) {
  SetFocus(window_->Get("单选框_同名忽略").Handle());
  PressKey(VK_DOWN);
  EXPECT_EQ(FocusedName(), "单选框_同名替换");
  EXPECT_TRUE(window_->Get("单选框_同名替换").Checked());
  EXPECT_FALSE(window_->Get("单选框_同名忽略").Checked());
}

TEST_F(MainWindowTest, ClickingACheckedRadioKeepsItCheckedAndClearsItsSibling) {
  Click("单选框_同名替换");
  EXPECT_TRUE(window_->Get("单选框_同名替换").Checked());
  EXPECT_FALSE(window_->Get("单选框_同名忽略").Checked());
  Click("单选框_同名替换");
  EXPECT_TRUE(window_->Get("单选框_同名替换").Checked());
  Click("单选框_同名忽略");
  EXPECT_FALSE(window_->Get("单选框_同名替换").Checked());
}

TEST_F(MainWindowTest, EndButtonCoversExecuteWhileShown) {
  POINT centre{608 + 40, 472 + 16};
  Control end = window_->Get("按钮_结束");
  EXPECT_EQ(ChildWindowFromPointEx(window_->Handle(), centre, CWP_SKIPINVISIBLE), window_->Get("按钮_执行").Handle());
  end.SetVisible(true);
  EXPECT_EQ(ChildWindowFromPointEx(window_->Handle(), centre, CWP_SKIPINVISIBLE), end.Handle());
  end.SetVisible(false);
  EXPECT_EQ(ChildWindowFromPointEx(window_->Handle(), centre, CWP_SKIPINVISIBLE), window_->Get("按钮_执行").Handle());
}

TEST_F(MainWindowTest, EnterDoesNothingAndEscapeClosesTheWindow) {
  SetFocus(window_->Get("按钮_执行").Handle());
  PressKey(VK_RETURN);
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_TRUE(window_->IsOpen());
  SetFocus(window_->Get("编辑框2").Handle());
  PressKey(VK_ESCAPE);
  EXPECT_FALSE(window_->IsOpen());
  EXPECT_TRUE(TakeQuit());
}

TEST_F(MainWindowTest, TheListInsideItsGroupShowsItsRows) {
  ListControl list = List();
  list.InsertRow(-1, "1");
  list.SetCellText(0, 3, "准备就绪");
  std::wstring buffer(64, L'\0');
  LVITEMW item{};
  item.iSubItem = 3;
  item.pszText = buffer.data();
  item.cchTextMax = static_cast<int>(buffer.size());
  SendMessageW(list.Handle(), LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&item));
  EXPECT_STREQ(item.pszText, L"准备就绪");
}

TEST_F(MainWindowTest, ClickingAHeaderDoesNotReorderRows) {
  ListControl list = List();
  list.InsertRow(-1, "2");
  list.InsertRow(-1, "1");
  NMLISTVIEW click{};
  click.hdr.hwndFrom = list.Handle();
  click.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(list.Handle()));
  click.hdr.code = LVN_COLUMNCLICK;
  click.iItem = -1;
  SendMessageW(GetParent(list.Handle()), WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
  EXPECT_EQ(list.CellText(0, 0), "2");
  EXPECT_EQ(list.CellText(1, 0), "1");
}

// ---- Help window ------------------------------------------------------------

// Wine's Chinese font has taller lines than the 12 pixels the layout was made
// for: the help window must grow rather than cut its last lines off.
int HelpTextHeight(HWND label, int width) {
  const std::wstring text = Widen(HelpText());
  RECT need{0, 0, width, 0};
  HDC dc = GetDC(label);
  HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need, DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
  SelectObject(dc, oldFont);
  ReleaseDC(label, dc);
  return need.bottom;
}

TEST_F(MainWindowTest, HelpWindowIsCentredWithItsTwelveLinesAndCloseButton) {
  Window* help = frame_.Show(kHelpWindowName, window_);
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(help->Get("透明标签1").Text(), std::string(HelpText()));
  EXPECT_EQ(help->Get("按钮1").Text(), "关闭");
  EXPECT_EQ(GetFocus(), help->Get("按钮1").Handle());
  const RECT label = RectInParent(help->Get("透明标签1").Handle());
  const RECT close = RectInParent(help->Get("按钮1").Handle());
  const int labelHeight = std::max(200, HelpTextHeight(help->Get("透明标签1").Handle(), 400));
  EXPECT_EQ(label.left, 24);
  EXPECT_EQ(label.top, 16);
  EXPECT_EQ(label.right - label.left, 400);
  EXPECT_EQ(label.bottom - label.top, labelHeight);
  EXPECT_EQ(close.top - label.bottom, 8);
  EXPECT_EQ(close.bottom - close.top, 32);
  RECT rect;
  GetWindowRect(help->Handle(), &rect);
  EXPECT_EQ(rect.right - rect.left, 443);
  EXPECT_EQ(rect.bottom - rect.top, 300 + labelHeight - 200);
  EXPECT_EQ(rect.left, 290);
  EXPECT_EQ(rect.top, (768 - (rect.bottom - rect.top)) / 2);
  EXPECT_EQ(GetWindow(help->Handle(), GW_OWNER), window_->Handle());
  EXPECT_NE(GetWindowLongW(help->Handle(), GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
}

TEST_F(MainWindowTest, HelpClosesByEscapeOrItsButtonAndLeavesTheToolWindowOpen) {
  Window* help = frame_.Show(kHelpWindowName, window_);
  ASSERT_NE(help, nullptr);
  SetFocus(help->Get("按钮1").Handle());
  PressKey(VK_ESCAPE);
  EXPECT_FALSE(help->IsOpen());
  EXPECT_TRUE(window_->IsOpen());
  help = frame_.Show(kHelpWindowName, window_);
  ASSERT_NE(help, nullptr);
  SendMessageW(help->Get("按钮1").Handle(), BM_CLICK, 0, 0);
  Pump();
  EXPECT_FALSE(help->IsOpen());
  EXPECT_TRUE(window_->IsOpen());
  EXPECT_FALSE(TakeQuit());
}

TEST(HelpText, TwelveLinesByteForByte) {
  const std::string_view text = HelpText();
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string_view::npos; start = end + 2) {
    lines.emplace_back(text.substr(start, end - start));
  }
  lines.emplace_back(text.substr(start));
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0], "●软件名称：Quorvane");
  EXPECT_EQ(lines[1], "●运行环境：WinXP、Win7、Win8、Win10");
  EXPECT_EQ(lines[2], "●软件简介：在A电脑上显示得好好的字体，在B电脑上打开字体全变了？");
  EXPECT_EQ(lines[3], "　　　　　那是由于两个电脑上装的字体文件不同造成的。");
  EXPECT_EQ(lines[4],
            "　　　　　不同操作系统下的字体，即使同名，版本也可能不一样。如Win7下使用了\xE2\x80\x9C宋体\xE2\x80\x9D，"
            "在WinXP下的显示效果可能完全不一样。");
  EXPECT_EQ(lines[5], "　　　　　肿么办？");
  EXPECT_EQ(lines[6], "　　　　　如果你们的项目组，需要频繁地协同作业，那么你亟需同步每一台电脑上的字体文件夹。");
  EXPECT_EQ(lines[7], "　　　　　手动复制字体太麻烦，用PE装字体需要启动盘，费时费力没的说。");
  EXPECT_EQ(lines[8],
            "　　　　　现在好了，使用\xE2\x80\x9CQuorvane\xE2\x80\x9D，以前半个小时甚至更长时间才能完成的任务，"
            "现在只需要一分钟就能完成。");
  EXPECT_EQ(lines[9], "●使用帮助：操作步骤过于简单，略。");
  EXPECT_EQ(lines[10], "●官方网站：www.quorvane.example");
  EXPECT_EQ(lines[11], "●技术支持：support@quorvane.example");
  const std::string fiveIdeographicSpaces = "\xE3\x80\x80\xE3\x80\x80\xE3\x80\x80\xE3\x80\x80\xE3\x80\x80";
  for (int i = 3; i <= 8; ++i) EXPECT_EQ(lines[i].substr(0, 15), fiveIdeographicSpaces);
  EXPECT_NE(text.substr(text.size() - 2), "\r\n");
}

}  // namespace
}  // namespace quorvane

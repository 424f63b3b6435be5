#include "skin_test_window.h"

#include <commctrl.h>

#include <cstdio>
#include <string_view>

namespace quorvane::skin::testing {
namespace {

constexpr wchar_t kClassName[] = L"QuorvaneSkinTestWindow";

// Labels ask for no background of their own, as the tool window's do.
LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CTLCOLORSTATIC) {
    SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
    return reinterpret_cast<LRESULT>(GetStockObject(NULL_BRUSH));
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterOnce() {
  static const bool registered = [] {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES |
                                                       ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = TestWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    return RegisterClassExW(&windowClass) != 0;
  }();
  (void)registered;
}

HWND Make(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle, int x, int y, int width,
          int height, HWND parent) {
  HWND control = CreateWindowExW(exStyle, className, text, style | WS_CHILD | WS_VISIBLE, x, y, width, height, parent,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  return control;
}

}  // namespace

ToolLikeWindow BuildToolLikeWindow(int rows) {
  RegisterOnce();
  ToolLikeWindow w;
  w.window = CreateWindowExW(0, kClassName, L"Quorvane V1.7 - Tallowmere专用",
                             WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, 153, 100, 718, 567, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(w.window, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  const DWORD tab = WS_TABSTOP;
  w.label = Make(WC_STATICW, L"软件功能：批量复制源（字体）文件夹下的所有文件到目标（字体）文件夹，自动忽略或替换同名（字体）文件。",
                 SS_LEFT, 0, 24, 16, 664, 32, w.window);
  w.targetGroup = Make(WC_BUTTONW, L"目标字体文件夹", BS_GROUPBOX, 0, 24, 56, 536, 100, w.window);
  w.targetEdit = Make(WC_EDITW, L"C:\\Windows\\Fonts", ES_AUTOHSCROLL | tab, WS_EX_CLIENTEDGE, 24, 32, 304, 20,
                      w.targetGroup);
  w.defaultButton = Make(WC_BUTTONW, L"默认", BS_PUSHBUTTON | BS_MULTILINE | tab, 0, 344, 24, 80, 32, w.targetGroup);
  w.browseButton = Make(WC_BUTTONW, L"浏览", BS_PUSHBUTTON | BS_MULTILINE | tab, 0, 432, 24, 80, 32, w.targetGroup);
  w.note = Make(WC_STATICW, L"说明：如无特殊情况，无需修改。", SS_LEFT, 0, 24, 64, 488, 32, w.targetGroup);
  w.optionsGroup = Make(WC_BUTTONW, L"高级选项", BS_GROUPBOX, 0, 568, 56, 120, 100, w.window);
  w.ignoreRadio = Make(WC_BUTTONW, L"同名忽略", BS_AUTORADIOBUTTON | tab, 0, 24, 24, 80, 24, w.optionsGroup);
  w.replaceRadio = Make(WC_BUTTONW, L"同名替换", BS_AUTORADIOBUTTON | tab, 0, 24, 56, 80, 24, w.optionsGroup);
  SendMessageW(w.ignoreRadio, BM_SETCHECK, BST_CHECKED, 0);
  w.sourceGroup = Make(WC_BUTTONW, L"源字体文件夹", BS_GROUPBOX, 0, 24, 168, 664, 296, w.window);
  w.sourceEdit = Make(WC_EDITW, L"D:\\Shared\\Fonts", ES_AUTOHSCROLL | tab, WS_EX_CLIENTEDGE, 24, 32, 528, 20,
                      w.sourceGroup);
  Make(WC_BUTTONW, L"浏览", BS_PUSHBUTTON | BS_MULTILINE | tab, 0, 560, 24, 80, 32, w.sourceGroup);
  w.list = Make(WC_LISTVIEWW, L"", LVS_REPORT | LVS_SINGLESEL | tab, WS_EX_CLIENTEDGE, 24, 72, 616, 184, w.sourceGroup);
  SendMessageW(w.list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
               LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES | LVS_EX_INFOTIP);
  const struct {
    const wchar_t* title;
    int width;
  } columns[] = {{L"序号", 50}, {L"文件名", 130}, {L"文件路径", 350}, {L"状态", 60}};
  for (int i = 0; i < 4; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.pszText = const_cast<wchar_t*>(columns[i].title);
    column.cx = columns[i].width;
    SendMessageW(w.list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
  }
  for (int row = 0; row < rows; ++row) {
    const std::wstring number = std::to_wstring(row + 1);
    const std::wstring name = L"font" + number + L".ttf";
    const std::wstring path = L"D:\\Shared\\Fonts\\" + name;
    const std::wstring cells[] = {number, name, path, row % 3 == 2 ? L"同名忽略" : L"复制成功"};
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(cells[0].c_str());
    SendMessageW(w.list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    for (int sub = 1; sub < 4; ++sub) {
      item.iSubItem = sub;
      item.pszText = const_cast<wchar_t*>(cells[sub].c_str());
      SendMessageW(w.list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    }
  }
  w.progress = Make(PROGRESS_CLASSW, L"", 0, WS_EX_STATICEDGE, 24, 264, 616, 16, w.sourceGroup);
  SendMessageW(w.progress, PBM_SETRANGE32, 0, 100);
  w.runButton = Make(WC_BUTTONW, L"执行", BS_PUSHBUTTON | BS_MULTILINE | tab, 0, 608, 472, 80, 32, w.window);
  w.clearButton = Make(WC_BUTTONW, L"清空", BS_PUSHBUTTON | BS_MULTILINE | tab, 0, 512, 472, 80, 32, w.window);
  Make(WC_BUTTONW, L"官网", BS_PUSHBUTTON | BS_MULTILINE | tab, 0, 24, 472, 80, 32, w.window);
  Make(WC_BUTTONW, L"帮助", BS_PUSHBUTTON | BS_MULTILINE | tab, 0, 120, 472, 80, 32, w.window);
  w.status = Make(STATUSCLASSNAMEW, L"", SBT_TOOLTIPS | CCS_BOTTOM, 0, 0, 0, 0, 20, w.window);
  return w;
}

HWND BuildDialogLikeWindow(HINSTANCE owner, HWND* button) {
  RegisterOnce();
  HWND dialog = CreateWindowExW(WS_EX_DLGMODALFRAME, L"#32770", L"执行结果", WS_POPUP | WS_CAPTION | WS_SYSMENU, 200,
                                200, 300, 150, nullptr, nullptr, owner, nullptr);
  *button = Make(WC_BUTTONW, L"确定", BS_PUSHBUTTON, 0, 100, 60, 80, 28, dialog);
  return dialog;
}

namespace {

// Frame and client are printed separately, each at its own corner, so the
// result does not depend on how WM_PRINT offsets the client area.
void PrintTree(HWND window, HDC dc, POINT windowCorner, POINT clientCorner, bool frame) {
  // A control may leave clipping or colours behind in the DC; none of it may reach its siblings.
  const int saved = SaveDC(dc);
  // Clipped as a real paint would be: some controls fill their DC's whole clip box.
  RECT outer, client;
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  if (frame) {
    SetViewportOrgEx(dc, windowCorner.x, windowCorner.y, nullptr);
    IntersectClipRect(dc, 0, 0, outer.right - outer.left, outer.bottom - outer.top);
    SendMessageW(window, WM_PRINT, reinterpret_cast<WPARAM>(dc), PRF_NONCLIENT);
  }
  SetViewportOrgEx(dc, clientCorner.x, clientCorner.y, nullptr);
  IntersectClipRect(dc, 0, 0, client.right, client.bottom);
  SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
  // Children bottom-most first, each over what lies beneath it.
  for (HWND child = GetWindow(GetWindow(window, GW_CHILD), GW_HWNDLAST); child; child = GetWindow(child, GW_HWNDPREV)) {
    if (!(GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE)) continue;
    RECT childOuter;
    GetWindowRect(child, &childOuter);
    POINT corner{childOuter.left, childOuter.top};
    ScreenToClient(window, &corner);
    POINT inner{0, 0};
    ClientToScreen(child, &inner);
    const POINT childCorner{clientCorner.x + corner.x, clientCorner.y + corner.y};
    PrintTree(child, dc, childCorner,
              {childCorner.x + inner.x - childOuter.left, childCorner.y + inner.y - childOuter.top}, true);
  }
  RestoreDC(dc, saved);
}

}  // namespace

Rendering Rendering::Of(HWND window) {
  Rendering rendering;
  rendering.window_ = window;
  RECT client;
  GetClientRect(window, &client);
  rendering.width_ = client.right;
  rendering.height_ = client.bottom;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = rendering.width_;
  info.bmiHeader.biHeight = -rendering.height_;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(dc, bitmap);
  PrintTree(window, dc, {0, 0}, {0, 0}, false);
  GdiFlush();
  const auto* pixels = static_cast<const std::uint32_t*>(bits);
  rendering.pixels_.assign(pixels, pixels + static_cast<std::size_t>(rendering.width_) * rendering.height_);
  SelectObject(dc, previous);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return rendering;
}

COLORREF Rendering::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return CLR_INVALID;
  const std::uint32_t pixel = pixels_[static_cast<std::size_t>(y) * width_ + x];
  return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

COLORREF Rendering::At(HWND control, int x, int y) const {
  POINT point{x, y};
  MapWindowPoints(control, window_, &point, 1);
  return At(point.x, point.y);
}

std::string Hex(COLORREF colour) {
  char text[16];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", GetRValue(colour), GetGValue(colour), GetBValue(colour));
  return text;
}

}  // namespace quorvane::skin::testing

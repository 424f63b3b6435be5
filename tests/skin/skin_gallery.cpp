// Shows the skinned tool window and a help window for the screenshots:
//   skin_gallery READY_FILE DONE_FILE
// creates READY_FILE once both windows are drawn and ends when DONE_FILE
// appears (or after a minute).
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "skin/attach/skin_attachment.h"
#include "skin_test_window.h"

namespace {

constexpr const wchar_t* kHelpLines[] = {
    L"Quorvane V1.7 使用说明",
    L"1. 点击“浏览”选择源字体文件夹，列表显示其中的字体文件。",
    L"2. 目标字体文件夹默认为 C:\\Windows\\Fonts。",
    L"3. 在“高级选项”中选择同名文件的处理方式。",
    L"4. 点击“执行”开始复制，进度条显示进度。",
    L"5. 点击“清空”清除列表。",
};

HWND BuildHelpWindow() {
  HWND window = CreateWindowExW(0, L"QuorvaneSkinTestWindow", L"帮助", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 620,
                                40, 380, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  int y = 16;
  for (const wchar_t* line : kHelpLines) {
    HWND label = CreateWindowExW(0, WC_STATICW, line, WS_CHILD | WS_VISIBLE | SS_LEFT, 20, y, 330, 20, window, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    y += 26;
  }
  HWND close = CreateWindowExW(0, WC_BUTTONW, L"关闭", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 270, 210,
                               80, 32, window, nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(close, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  return window;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring readyFile = argv[1], doneFile = argv[2];
  const bool attached = quorvane::SkinAttachment();

  using quorvane::skin::testing::ToolLikeWindow;
  const ToolLikeWindow w = quorvane::skin::testing::BuildToolLikeWindow(12);
  SendMessageW(w.progress, PBM_SETPOS, 45, 0);
  int parts[] = {160, 360, -1};
  SendMessageW(w.status, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(parts));
  SendMessageW(w.status, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(attached ? L"已应用皮肤" : L"系统外观"));
  SendMessageW(w.status, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(L"共 12 个字体文件"));
  SendMessageW(w.status, SB_SETTEXTW, 2, reinterpret_cast<LPARAM>(L"正在复制 font3.ttf"));
  LVITEMW selected{};
  selected.stateMask = selected.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(w.list, LVM_SETITEMSTATE, 2, reinterpret_cast<LPARAM>(&selected));
  EnableWindow(w.clearButton, FALSE);

  HWND help = BuildHelpWindow();
  ShowWindow(w.window, SW_SHOW);
  ShowWindow(help, SW_SHOWNOACTIVATE);
  SetForegroundWindow(w.window);
  SetFocus(w.list);
  SendMessageW(w.window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
  // The pointer rests on "执行" so the screenshot shows a hot button.
  RECT run;
  GetWindowRect(w.runButton, &run);
  SetCursorPos((run.left + run.right) / 2, (run.top + run.bottom) / 2);
  SendMessageW(w.runButton, WM_MOUSEMOVE, 0, MAKELPARAM(10, 10));

  constexpr UINT kPollMs = 100;
  constexpr int kMaxPolls = 600;
  SetTimer(nullptr, 0, kPollMs, nullptr);
  MSG message;
  int polls = 0;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == nullptr) {
      // Ready once a few ticks have let every window paint.
      if (++polls == 5) CloseHandle(CreateFileW(readyFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      if (Exists(doneFile) || polls > kMaxPolls) break;
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  DestroyWindow(help);
  DestroyWindow(w.window);
  return attached ? 0 : 1;
}

// Shows a skinned window with a control of every kind, in the states the real
// window shows only mid-run (rows, a selection, progress, a disabled and a hot
// button), for the screenshots:
//   skin_gallery READY_FILE DONE_FILE
// creates READY_FILE once the window is drawn and ends when DONE_FILE
// appears (or after a minute).
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "skin/attach/skin_attachment.h"
#include "skin_test_window.h"

namespace {

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

  ShowWindow(w.window, SW_SHOW);
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
  DestroyWindow(w.window);
  return attached ? 0 : 1;
}

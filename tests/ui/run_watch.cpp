// Drives and watches the running tool window from outside, for the end-to-end
// test of a long run. Prints one line of `key value` pairs to stdout.
//   run_watch drop FOLDER            drops FOLDER on the tool window, as Explorer does
//   run_watch center TEXT            the screen point at the middle of the upper
//                                    visible button or radio button captioned TEXT: "x y"
//   run_watch field                  the text of the target folder field
//   run_watch rows                   the number of rows in the list
//   run_watch summary                the summary box's text; exit code 1 while none shows one
//   run_watch midrun SHOT.bmp LOW
//       clicks 执行 with the mouse (a fast disk copies 1 GB in a second: no
//       time to start a program after the click), captures the screen until
//       it shows the progress bar LOW % or more filled, keeps that capture in
//       SHOT.bmp with the share shown and the bar's position; then clicks 结束
//       with the mouse and times, from the click, the button turning disabled,
//       执行 coming back (the run has stopped) and the summary box; then prints
//       the summary box's text. Exit code 1 when something never happened.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/win32_handles.h"
#include "tests/ui/remote_window.h"
#include "ui/main_window_layout.h"

namespace {

using quorvane::remote::Clock;
using quorvane::remote::MillisecondsSince;
using quorvane::remote::TextOf;
using quorvane::remote::WaitFor;

HWND ToolWindow() {
  return FindWindowW(nullptr, quorvane::Widen(quorvane::MainWindowLayout().elements.front().text).c_str());
}

struct ChildSearch {
  std::wstring className;
  std::wstring text;  // empty: any
  std::vector<HWND> found;
};

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<ChildSearch*>(lParam);
  wchar_t className[64] = {};
  GetClassNameW(hwnd, className, 64);
  if (_wcsicmp(className, search->className.c_str()) == 0 &&
      (search->text.empty() || TextOf(hwnd) == search->text)) {
    search->found.push_back(hwnd);
  }
  return TRUE;
}

std::vector<HWND> Children(HWND parent, const wchar_t* className, const std::wstring& text = {}) {
  ChildSearch search{className, text, {}};
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The upper one where two have the caption (the target's 浏览 above the source's).
HWND VisibleButton(HWND window, const std::wstring& caption) {
  HWND best = nullptr;
  LONG top = 0;
  for (HWND button : Children(window, L"Button", caption)) {
    RECT rect{};
    GetWindowRect(button, &rect);
    if (IsWindowVisible(button) && (best == nullptr || rect.top < top)) {
      best = button;
      top = rect.top;
    }
  }
  return best;
}

POINT CenterOf(HWND hwnd) {
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

// The upper of the window's two edit fields is the target's.
HWND TargetField(HWND window) {
  HWND best = nullptr;
  LONG top = 0;
  for (HWND edit : Children(window, L"Edit")) {
    RECT rect{};
    GetWindowRect(edit, &rect);
    if (best == nullptr || rect.top < top) {
      best = edit;
      top = rect.top;
    }
  }
  return best;
}

// The drop block is written into the window's process, where its DragQueryFileW reads it.
bool Drop(HWND window, const std::wstring& folder) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  const quorvane::UniqueKernelHandle process(
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, processId));
  if (!process) return false;
  std::vector<char> block(sizeof(DROPFILES) + (folder.size() + 2) * sizeof(wchar_t), 0);
  auto* drop = reinterpret_cast<DROPFILES*>(block.data());
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  std::memcpy(block.data() + sizeof(DROPFILES), folder.c_str(), folder.size() * sizeof(wchar_t));
  void* remote = VirtualAllocEx(process.Get(), nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  return remote != nullptr && WriteProcessMemory(process.Get(), remote, block.data(), block.size(), nullptr) &&
         PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
}

// The whole screen, bottom-up 24-bit rows as a BMP file holds them.
struct Screenshot {
  int width = 0;
  int height = 0;
  DWORD stride = 0;
  std::vector<char> pixels;

  COLORREF At(int x, int y) const {
    const char* pixel = pixels.data() + static_cast<std::size_t>(height - 1 - y) * stride + static_cast<std::size_t>(x) * 3;
    return RGB(static_cast<BYTE>(pixel[2]), static_cast<BYTE>(pixel[1]), static_cast<BYTE>(pixel[0]));
  }
};

// 24 bits a pixel, bottom row first: what GetDIBits gives and a .bmp holds.
BITMAPINFOHEADER PixelFormat(const Screenshot& shot) {
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = shot.width;
  info.biHeight = shot.height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  return info;
}

bool Capture(Screenshot& shot) {
  shot.width = GetSystemMetrics(SM_CXSCREEN);
  shot.height = GetSystemMetrics(SM_CYSCREEN);
  const quorvane::UniqueWindowDc screen = quorvane::ClientDc(nullptr);
  const quorvane::UniqueMemoryDc memory(CreateCompatibleDC(screen.Get()));
  const quorvane::UniqueBitmap bitmap(CreateCompatibleBitmap(screen.Get(), shot.width, shot.height));
  if (!screen || !memory || !bitmap) return false;
  bool copied = false;
  {
    const quorvane::ScopedSelection selected = quorvane::SelectInto(memory.Get(), bitmap.Get());
    copied = BitBlt(memory.Get(), 0, 0, shot.width, shot.height, screen.Get(), 0, 0, SRCCOPY | CAPTUREBLT) != FALSE;
  }
  BITMAPINFOHEADER info = PixelFormat(shot);
  shot.stride = (static_cast<DWORD>(shot.width) * 3 + 3) & ~3u;
  shot.pixels.assign(static_cast<std::size_t>(shot.stride) * static_cast<std::size_t>(shot.height), 0);
  return copied && GetDIBits(memory.Get(), bitmap.Get(), 0, static_cast<UINT>(shot.height), shot.pixels.data(),
                             reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) == shot.height;
}

bool Save(const Screenshot& shot, const std::wstring& path) {
  const BITMAPINFOHEADER info = PixelFormat(shot);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + static_cast<DWORD>(shot.pixels.size());
  const quorvane::UniqueKernelHandle out(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return out && WriteFile(out.Get(), &file, sizeof file, &written, nullptr) &&
         WriteFile(out.Get(), &info, sizeof info, &written, nullptr) &&
         WriteFile(out.Get(), shot.pixels.data(), static_cast<DWORD>(shot.pixels.size()), &written, nullptr);
}

// How much of the bar the screen shows filled, in percent: the fill's colour
// is that of the bar's first inner pixel once anything is filled, and the
// filled part ends at the last pixel of that colour along the middle row.
double PaintedShare(const Screenshot& shot, HWND bar) {
  RECT rect;
  GetWindowRect(bar, &rect);
  const int y = (rect.top + rect.bottom) / 2;
  const int left = rect.left + 2, right = rect.right - 2;
  if (right <= left || y < 0 || y >= shot.height || left < 0 || right > shot.width) return 0;
  const COLORREF fill = shot.At(left, y);
  const COLORREF track = shot.At(right - 1, y);
  if (fill == track) return 0;
  int last = left;
  for (int x = left; x < right; ++x) {
    if (shot.At(x, y) == fill) last = x;
  }
  return 100.0 * (last + 1 - left) / (right - left);
}

// A real click: the pointer moves there and the button goes down and up. The
// move travels in the same input as the button, so a busy display cannot
// take the button at the pointer's old place.
void ClickAt(POINT point) {
  SetCursorPos(point.x, point.y);
  const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
  INPUT inputs[3] = {};
  inputs[0].type = INPUT_MOUSE;
  inputs[0].mi.dx = static_cast<LONG>((point.x * 65535 + width / 2) / std::max(width - 1, 1));
  inputs[0].mi.dy = static_cast<LONG>((point.y * 65535 + height / 2) / std::max(height - 1, 1));
  inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  inputs[1].type = INPUT_MOUSE;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[2].type = INPUT_MOUSE;
  inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(3, inputs, sizeof(INPUT));
}

struct BoxSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindSummaryBox(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<BoxSearch*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  // A title is kept by the system: reading it waits for no one, unlike WM_GETTEXT.
  wchar_t title[16] = {};
  GetWindowTextW(hwnd, title, 16);
  if (owner != search->processId || !IsWindowVisible(hwnd) || std::wstring(title) != L"执行结果") return TRUE;
  search->found = hwnd;
  return FALSE;
}

HWND SummaryBox(DWORD processId) {
  BoxSearch search{processId, nullptr};
  EnumWindows(FindSummaryBox, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The message box's text is its longest static text.
std::wstring MessageText(HWND box) {
  std::wstring longest;
  for (HWND label : Children(box, L"Static")) {
    std::wstring text = TextOf(label);
    if (text.size() > longest.size()) longest = std::move(text);
  }
  return longest;
}

std::string Escaped(const std::wstring& text) {
  std::string out;
  for (const char c : quorvane::Narrow(text)) {
    if (c == '\n') {
      out += "\\n";
    } else if (c != '\r') {
      out += c;
    }
  }
  return out;
}

// While the run goes, the window answers a message only between two pieces of
// the file, so after the click only what the system itself keeps is read: the
// buttons' enabled and visible states and the windows' titles.
int MidRun(HWND window, const std::wstring& shot, int low) {
  const std::vector<HWND> bars = Children(window, PROGRESS_CLASSW);
  const std::vector<HWND> ends = Children(window, L"Button", L"结束");
  const std::vector<HWND> executes = Children(window, L"Button", L"执行");
  if (bars.empty() || ends.size() != 1 || executes.size() != 1) return 1;
  HWND bar = bars.front();
  HWND end = ends.front();
  HWND execute = executes.front();
  // The run sets the bar's range when it starts: read it with every position.
  const auto maximum = [&] { return static_cast<int>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0)); };
  const int idleMaximum = maximum();
  // A click the display lost leaves the window idle; one taken late would
  // land on 结束 in the same place, so it is repeated only after a long while.
  bool started = false;
  for (int click = 1; click <= 3 && !started; ++click) {
    if (click > 1) std::fprintf(stderr, "run_watch: no run 15 s after clicking 执行: clicking again\n");
    ClickAt(CenterOf(execute));
    started = WaitFor([&] { return !IsWindowVisible(execute) || maximum() != idleMaximum; }, 15000);
  }
  const auto percent = [&] {
    const int range = maximum();
    return range <= 0 ? 0.0 : 100.0 * static_cast<double>(SendMessageW(bar, PBM_GETPOS, 0, 0)) / range;
  };
  if (!WaitFor([&] { return percent() >= low; }, 60000)) {
    std::printf("error the bar never reached %d %%: it stands at %.1f %% of %d\n", low, percent(), maximum());
    return 1;
  }
  // The window's picture lags its bar by a repaint, and a fast disk moves
  // the bar far in that while: what counts is what the screen shows.
  Screenshot screen;
  double painted = 0;
  bool captured = false;
  const bool shown = WaitFor(
      [&] {
        captured = Capture(screen);
        painted = captured ? PaintedShare(screen, bar) : 0;
        return captured && painted >= low;
      },
      60000);
  const double position = percent();
  captured = shown && Save(screen, shot);
  std::printf("painted %.1f position %.1f captured %d ", painted, position, captured ? 1 : 0);

  if (!IsWindowVisible(end)) {
    std::printf("error no 结束 button\n");
    return 1;
  }
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  const auto clicked = Clock::now();
  ClickAt(CenterOf(end));
  const bool disabled = WaitFor([&] { return !IsWindowEnabled(end); }, 5000);
  const double disabledMs = MillisecondsSince(clicked);
  const bool stopped = WaitFor([&] { return IsWindowVisible(execute) != FALSE; }, 30000);
  const double stoppedMs = MillisecondsSince(clicked);
  HWND summary = nullptr;
  const bool summarised = WaitFor([&] { return (summary = SummaryBox(processId)) != nullptr; }, 10000);
  const double summaryMs = MillisecondsSince(clicked);
  std::printf("disabled %.0f stopped %.0f summary %.0f at %.1f ", disabled ? disabledMs : -1.0,
              stopped ? stoppedMs : -1.0, summarised ? summaryMs : -1.0, percent());
  // The summary's text shows a moment after its window.
  std::wstring text;
  if (summarised) WaitFor([&] { return !(text = MessageText(summary)).empty(); }, 2000);
  std::printf("text %s\n", Escaped(text).c_str());
  return disabled && stopped && summarised && captured ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  HWND window = ToolWindow();
  if (window == nullptr) {
    std::printf("error no tool window\n");
    return 1;
  }
  if (command == L"drop" && argc == 3) return Drop(window, argv[2]) ? 0 : 1;
  if (command == L"center" && argc == 3) {
    HWND button = VisibleButton(window, argv[2]);
    if (button == nullptr) return 1;
    const POINT center = CenterOf(button);
    std::printf("%ld %ld\n", center.x, center.y);
    return 0;
  }
  if (command == L"field" && argc == 2) {
    std::printf("%s\n", quorvane::Narrow(TextOf(TargetField(window))).c_str());
    return 0;
  }
  if (command == L"rows" && argc == 2) {
    const std::vector<HWND> lists = Children(window, WC_LISTVIEWW);
    if (lists.empty()) return 1;
    std::printf("%ld\n", static_cast<long>(SendMessageW(lists.front(), LVM_GETITEMCOUNT, 0, 0)));
    return 0;
  }
  if (command == L"summary" && argc == 2) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const HWND summary = SummaryBox(processId);
    const std::wstring text = summary != nullptr ? MessageText(summary) : std::wstring();
    std::printf("%s\n", Escaped(text).c_str());
    return text.empty() ? 1 : 0;
  }
  if (command == L"midrun" && argc == 4) return MidRun(window, argv[2], _wtoi(argv[3]));
  return 2;
}

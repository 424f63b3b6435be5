// Measures inside Wine what bench/run.py cannot see from outside, and prints its
// figures as "N [N] ms: what they are":
//   window_probe start PROGRAM            start-up until the program's window is
//                                         shown and answers a message
//   window_probe run PROGRAM [ARGS...]    start to exit of a program
//   window_probe list redraw-off|virtual|memory FOLDER
//                                         the stand-in list window lists FOLDER
//                                         (memory: the core alone, no window)
//   window_probe gap SOURCE TARGET        the longest wait for a message to be
//                                         handled while the stand-in runs SOURCE
//   window_probe window-list EXE FOLDER ROWS
//                                         the tool window, given FOLDER as a
//                                         drop, until ROWS rows are listed and painted
//   window_probe window-job EXE SOURCE TARGET
//                                         the tool window's whole job from the
//                                         drop to the summary; then the longest gap
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "base/win32_handles.h"
#include "bench/list_window.h"
#include "sync/run/font_listing.h"
#include "sync/run/font_sync_run.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool WaitFor(const std::function<bool()>& condition, double timeoutMs) {
  const auto start = Clock::now();
  while (!condition()) {
    if (MillisecondsSince(start) > timeoutMs) return false;
    Sleep(1);
  }
  return true;
}

struct WindowSearch {
  DWORD processId;
  const wchar_t* title;  // nullptr: any
  HWND found;
};

// A window may be owned by a hidden one of its program, so any shown top-level
// window of the process counts.
BOOL CALLBACK FindShownWindow(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<WindowSearch*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(hwnd, &owner);
  RECT rect{};
  if (owner != search->processId || !IsWindowVisible(hwnd) || !GetWindowRect(hwnd, &rect) || rect.right <= rect.left) {
    return TRUE;
  }
  if (search->title != nullptr) {
    wchar_t text[64] = {};
    GetWindowTextW(hwnd, text, 64);
    if (std::wcscmp(text, search->title) != 0) return TRUE;
  }
  search->found = hwnd;
  return FALSE;
}

// A program started by the probe; ended when the probe is done with it.
class Program {
 public:
  // A program given `quiet` writes its output to NUL, as the runner's commands do.
  Program(const std::wstring& path, const std::vector<std::wstring>& args = {}, bool quiet = false) {
    std::wstring commandLine = L"\"" + path + L"\"";
    for (const std::wstring& arg : args) commandLine += L" \"" + arg + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    const quorvane::UniqueKernelHandle null(
        quiet ? CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr) : nullptr);
    if (null) {
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
      startup.hStdOutput = null.Get();
      startup.hStdError = null.Get();
    }
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, null ? TRUE : FALSE, 0, nullptr, nullptr,
                        &startup, &process_)) {
      std::fprintf(stderr, "cannot start the program: error %lu\n", GetLastError());
    }
  }
  ~Program() {
    if (process_.hProcess == nullptr) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT && window_ != nullptr) {
      PostMessageW(window_, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process_.hProcess, 1);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Started() const { return process_.hProcess != nullptr; }
  HANDLE Handle() const { return process_.hProcess; }

  HWND FindWindowTitled(const wchar_t* title) const {
    WindowSearch search{process_.dwProcessId, title, nullptr};
    EnumWindows(FindShownWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  // The first shown window, once it answers a message.
  HWND WaitForWindow(double timeoutMs) {
    WaitFor([&] { return (window_ = FindWindowTitled(nullptr)) != nullptr; }, timeoutMs);
    DWORD_PTR answer = 0;
    if (window_ != nullptr && !SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &answer)) {
      window_ = nullptr;
    }
    return window_;
  }

 private:
  PROCESS_INFORMATION process_{};
  HWND window_ = nullptr;
};

struct ChildSearch {
  const wchar_t* className;
  const wchar_t* text;  // nullptr: any
  std::vector<HWND> found;
};

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lParam) {
  auto* search = reinterpret_cast<ChildSearch*>(lParam);
  wchar_t className[64] = {};
  GetClassNameW(hwnd, className, 64);
  if (_wcsicmp(className, search->className) != 0 || !IsWindowVisible(hwnd)) return TRUE;
  if (search->text != nullptr) {
    wchar_t text[64] = {};
    GetWindowTextW(hwnd, text, 64);
    if (std::wcscmp(text, search->text) != 0) return TRUE;
  }
  search->found.push_back(hwnd);
  return TRUE;
}

std::vector<HWND> Children(HWND parent, const wchar_t* className, const wchar_t* text = nullptr) {
  ChildSearch search{className, text, {}};
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Drops a folder on a window of another process, as Explorer would. The drop
// block is written into that process, where the window's DragQueryFileW reads it.
bool DropFolder(const Program& program, HWND window, const std::wstring& folder) {
  std::vector<char> block(sizeof(DROPFILES) + (folder.size() + 2) * sizeof(wchar_t), 0);
  auto* drop = reinterpret_cast<DROPFILES*>(block.data());
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  std::memcpy(block.data() + sizeof(DROPFILES), folder.c_str(), folder.size() * sizeof(wchar_t));
  void* remote = VirtualAllocEx(program.Handle(), nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (remote == nullptr || !WriteProcessMemory(program.Handle(), remote, block.data(), block.size(), nullptr)) {
    return false;
  }
  return PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0) != 0;
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, 60000, &answer);
  return static_cast<LRESULT>(answer);
}

// A second thread sends the window a message every millisecond and keeps the
// longest wait for its answer: the window's thread answers only while it
// processes messages, so that wait is the longest gap.
class GapMeter {
 public:
  explicit GapMeter(HWND window)
      : thread_([this, window] {
          while (running_) {
            const auto sent = Clock::now();
            Ask(window, WM_NULL);
            const double waited = MillisecondsSince(sent);
            if (waited > longest_) longest_ = waited;
            Sleep(1);
          }
          done_ = true;
        }) {}
  GapMeter(const GapMeter&) = delete;
  GapMeter& operator=(const GapMeter&) = delete;

  // `pump` keeps a window of this thread answering until the meter has stopped.
  double Stop(const std::function<void()>& pump = {}) {
    running_ = false;
    while (!done_) {
      if (pump) pump();
      Sleep(1);
    }
    thread_.join();
    return longest_;
  }

 private:
  std::atomic<bool> running_{true};
  std::atomic<bool> done_{false};
  double longest_ = 0;
  std::thread thread_;
};

int Start(const std::wstring& path) {
  const auto start = Clock::now();
  Program program(path);
  if (!program.Started()) return 1;
  if (program.WaitForWindow(30000) == nullptr) {
    std::fprintf(stderr, "no window was shown within 30 s\n");
    return 1;
  }
  std::printf("%.1f ms: shown and answering\n", MillisecondsSince(start));
  return 0;
}

int Run(const std::wstring& path, const std::vector<std::wstring>& args) {
  const auto start = Clock::now();
  Program program(path, args, true);
  if (!program.Started()) return 1;
  WaitForSingleObject(program.Handle(), INFINITE);
  const double took = MillisecondsSince(start);
  DWORD code = 1;
  GetExitCodeProcess(program.Handle(), &code);
  if (code != 0) return 1;
  std::printf("%.1f ms: start to exit\n", took);
  return 0;
}

// Rows kept in memory only: the core's share of listing into a window.
class MemoryView final : public quorvane::SyncRunView {
 public:
  void AddRows(std::span<const quorvane::ListedRow> rows) override {
    rows_.insert(rows_.end(), rows.begin(), rows.end());
  }
  std::string CellText(std::int64_t, int) const override { return {}; }
  std::int64_t RowCount() const override { return static_cast<std::int64_t>(rows_.size()); }
  void SetStatus(std::int64_t, const quorvane::RowFiles&, const quorvane::RowReport&) override {}
  void SetProgress(std::int64_t, std::int64_t) override {}
  void SetCopyProgress(std::int64_t, std::uint64_t, std::uint64_t) override {}
  void ShowSummary(const quorvane::RunSummary&) override {}
  void ShowMessage(std::string_view, std::string_view, quorvane::MessageKind) override {}
  void ProcessPendingEvents() override {}

 private:
  std::vector<quorvane::ListedRow> rows_;
};

int List(const std::string& mode, const std::string& folder) {
  if (mode == "memory") {
    MemoryView view;
    const auto start = Clock::now();
    const std::int64_t rows = quorvane::FontListing(folder, view).added;
    std::printf("%.1f ms: %lld rows listed\n", MillisecondsSince(start), static_cast<long long>(rows));
    return rows > 0 ? 0 : 1;
  }
  quorvane::bench::ListWindow window(mode == "virtual" ? quorvane::bench::ListWindow::Mode::Virtual
                                                       : quorvane::bench::ListWindow::Mode::RedrawOff);
  if (!window.Ready()) return 1;
  window.ProcessPendingEvents();
  const auto start = Clock::now();
  const std::int64_t rows = quorvane::FontListing(folder, window).added;
  const double listed = MillisecondsSince(start);
  std::printf("%.1f ms: %lld rows listed\n", listed, static_cast<long long>(rows));
  return rows > 0 ? 0 : 1;
}

int Gap(const std::string& source, const std::string& target) {
  quorvane::bench::ListWindow window(quorvane::bench::ListWindow::Mode::Virtual);
  if (!window.Ready()) return 1;
  if (quorvane::FontListing(source, window).added == 0) return 1;
  window.ProcessPendingEvents();

  GapMeter meter(window.Handle());
  const auto start = Clock::now();
  quorvane::FontSyncRun run(window);
  const auto summary = run.Run(source, target, {.policy = quorvane::SyncPolicy::Replace});
  const double took = MillisecondsSince(start);
  const double longest = meter.Stop([&] { window.ProcessPendingEvents(); });
  if (!summary || summary->tally.AnyFailed()) return 1;
  std::printf("%.1f ms: longest gap in a run of %.0f ms over %lld files\n", longest, took,
              static_cast<long long>(summary->tally.total));
  return 0;
}

// The tool window's list and its run button, found by class and text.
struct ToolWindow {
  HWND frame = nullptr;
  HWND list = nullptr;
  HWND execute = nullptr;
  HWND targetField = nullptr;  // the upper of the two edit fields
};

// A user drops a folder on a window that is shown and painted: the window is
// given time for its first paint, which under Wine the X server draws in its
// own process, competing for the cores with whatever comes next.
constexpr DWORD kSettleMs = 500;

bool FindToolWindow(Program& program, ToolWindow& tool) {
  tool.frame = program.WaitForWindow(30000);
  if (tool.frame == nullptr) return false;
  Sleep(kSettleMs);
  Ask(tool.frame, WM_NULL);
  const auto lists = Children(tool.frame, WC_LISTVIEWW);
  const auto buttons = Children(tool.frame, L"Button", L"执行");
  const auto edits = Children(tool.frame, L"Edit");
  if (lists.empty() || buttons.empty() || edits.empty()) return false;
  tool.list = lists.front();
  tool.execute = buttons.front();
  RECT best{};
  for (HWND edit : edits) {
    RECT rect{};
    GetWindowRect(edit, &rect);
    if (tool.targetField == nullptr || rect.top < best.top) {
      tool.targetField = edit;
      best = rect;
    }
  }
  return true;
}

bool ListIn(const Program& program, const ToolWindow& tool, const std::wstring& folder, LRESULT rows) {
  if (!DropFolder(program, tool.frame, folder)) return false;
  if (!WaitFor([&] { return Ask(tool.list, LVM_GETITEMCOUNT) >= rows; }, 120000)) return false;
  Ask(tool.frame, WM_NULL);
  // The list paints what it holds before the figure is taken.
  Ask(tool.list, WM_PAINT);
  return true;
}

int WindowList(const std::wstring& exe, const std::wstring& folder, LRESULT rows) {
  Program program(exe);
  ToolWindow tool;
  if (!program.Started() || !FindToolWindow(program, tool)) {
    std::fprintf(stderr, "the tool window was not found\n");
    return 1;
  }
  const auto start = Clock::now();
  if (!ListIn(program, tool, folder, rows)) {
    std::fprintf(stderr, "the rows were not listed\n");
    return 1;
  }
  std::printf("%.1f ms: %ld rows listed and painted\n", MillisecondsSince(start), static_cast<long>(rows));
  return 0;
}

int WindowJob(const std::wstring& exe, const std::wstring& source, const std::wstring& target, bool meterOn = true) {
  Program program(exe);
  ToolWindow tool;
  if (!program.Started() || !FindToolWindow(program, tool)) {
    std::fprintf(stderr, "the tool window was not found\n");
    return 1;
  }
  Ask(tool.targetField, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(target.c_str()));
  const auto start = Clock::now();
  if (!ListIn(program, tool, source, 1)) {
    std::fprintf(stderr, "the source was not listed\n");
    return 1;
  }
  std::optional<GapMeter> meter;
  if (meterOn) meter.emplace(tool.frame);
  PostMessageW(tool.execute, BM_CLICK, 0, 0);
  HWND summary = nullptr;
  WaitFor([&] { return (summary = program.FindWindowTitled(L"执行结果")) != nullptr; }, 600000);
  const double job = MillisecondsSince(start);
  const double longest = meter ? meter->Stop() : 0;
  if (summary == nullptr) {
    std::fprintf(stderr, "no summary was shown\n");
    return 1;
  }
  PostMessageW(summary, WM_COMMAND, IDOK, 0);
  std::printf("%.1f %.1f ms: the job, its longest message gap\n", job, longest);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::string command = argc > 1 ? quorvane::Narrow(argv[1]) : "";
  if (command == "start" && argc == 3) return Start(argv[2]);
  if (command == "run" && argc >= 3) return Run(argv[2], std::vector<std::wstring>(argv + 3, argv + argc));
  if (command == "list" && argc == 4) return List(quorvane::Narrow(argv[2]), quorvane::Narrow(argv[3]));
  if (command == "gap" && argc == 4) return Gap(quorvane::Narrow(argv[2]), quorvane::Narrow(argv[3]));
  if (command == "window-list" && argc == 5) return WindowList(argv[2], argv[3], _wtol(argv[4]));
  if (command == "window-job" && argc == 5) return WindowJob(argv[2], argv[3], argv[4]);
  if (command == "window-job-quiet" && argc == 5) return WindowJob(argv[2], argv[3], argv[4], false);
  std::fprintf(stderr,
               "usage: window_probe start PROGRAM | run PROGRAM [ARGS...] | list redraw-off|virtual|memory FOLDER |\n"
               "       gap SOURCE TARGET | window-list EXE FOLDER ROWS | window-job EXE SOURCE TARGET\n");
  return 2;
}

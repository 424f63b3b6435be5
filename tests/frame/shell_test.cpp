// The real modal dialogs, closed by a helper thread that finds them, and the
// event-processing operations.
#include "frame/shell.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <chrono>
#include <thread>

#include "base/text.h"

namespace quorvane {
namespace {

using Clock = std::chrono::steady_clock;

TEST(MessageBoxes, ResultsMapToMessageButtonsAndTheBoxIsTaskModal) {
  EXPECT_EQ(MessageButtonOf(IDOK), MessageButton::Ok);
  EXPECT_EQ(MessageButtonOf(IDCANCEL), MessageButton::Cancel);
  EXPECT_EQ(MessageButtonOf(IDABORT), MessageButton::Abort);
  EXPECT_EQ(MessageButtonOf(IDRETRY), MessageButton::Retry);
  EXPECT_EQ(MessageButtonOf(IDIGNORE), MessageButton::Ignore);
  EXPECT_EQ(MessageButtonOf(IDYES), MessageButton::Yes);
  EXPECT_EQ(MessageButtonOf(IDNO), MessageButton::No);
  EXPECT_EQ(MessageButtonOf(IDCLOSE), MessageButton::Ok);
  EXPECT_EQ(MessageBoxStyle(MB_OK | MB_ICONWARNING), static_cast<UINT>(MB_OK | MB_ICONWARNING | MB_TASKMODAL));
  EXPECT_EQ(MessageBoxStyle(MB_YESNO | MB_SYSTEMMODAL), static_cast<UINT>(MB_YESNO | MB_SYSTEMMODAL));
}

// Waits on another thread for a dialog of this thread, looks at it, then sends
// it `command` as if that button had been pressed.
class DialogCloser {
 public:
  explicit DialogCloser(int command, std::function<void(HWND)> look = {})
      : owner_(GetCurrentThreadId()), worker_([this, command, look] {
          for (int i = 0; i < 500 && found_ == nullptr; ++i) {
            EnumWindows(&DialogCloser::Check, reinterpret_cast<LPARAM>(this));
            if (found_ == nullptr) {
              std::this_thread::sleep_for(std::chrono::milliseconds(10));
              continue;
            }
            wchar_t text[64] = {};
            GetWindowTextW(found_, text, 64);
            title_ = text;
            if (look) look(found_);
            PostMessageW(found_, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
          }
        }) {}
  ~DialogCloser() {
    if (worker_.joinable()) worker_.join();
  }
  // The title of the dialog it closed.
  std::wstring Title() {
    if (worker_.joinable()) worker_.join();
    return title_;
  }

 private:
  static BOOL CALLBACK Check(HWND window, LPARAM self) {
    auto* closer = reinterpret_cast<DialogCloser*>(self);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (GetWindowThreadProcessId(window, nullptr) == closer->owner_ && std::wstring(className) == L"#32770" &&
        IsWindowVisible(window)) {
      closer->found_ = window;
      return FALSE;
    }
    return TRUE;
  }

  DWORD owner_;
  std::atomic<HWND> found_ = nullptr;
  std::wstring title_;
  std::thread worker_;
};

HWND MakeTopLevel(bool enabled) {
  HWND window = CreateWindowExW(0, L"STATIC", L"顶层", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 80, 60, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  EnableWindow(window, enabled ? TRUE : FALSE);
  return window;
}

TEST(MessageBoxes, DefaultTitleAndTheButtonPressed) {
  HWND other = MakeTopLevel(true);
  std::atomic<bool> otherDisabled = false;
  DialogCloser closer(IDNO, [&](HWND) { otherDisabled = !IsWindowEnabled(other); });
  EXPECT_EQ(ShowMessage("要继续吗？", MB_YESNO), MessageButton::No);
  EXPECT_EQ(closer.Title(), L"信息：");
  EXPECT_TRUE(otherDisabled);
  EXPECT_TRUE(IsWindowEnabled(other));
  DestroyWindow(other);
}

TEST(FolderChooser, CancelGivesNothingAndEveryWindowGetsItsStateBack) {
  HWND enabled = MakeTopLevel(true);
  HWND disabled = MakeTopLevel(false);
  std::atomic<bool> enabledWasDisabled = false;
  DialogCloser closer(IDCANCEL, [&](HWND) { enabledWasDisabled = !IsWindowEnabled(enabled); });
  EXPECT_EQ(ChooseFolder("请选择源字体文件夹"), "");
  closer.Title();
  EXPECT_TRUE(enabledWasDisabled);
  EXPECT_TRUE(IsWindowEnabled(enabled));
  EXPECT_FALSE(IsWindowEnabled(disabled));
  DestroyWindow(enabled);
  DestroyWindow(disabled);
}

TEST(FolderChooser, OpensAtTheGivenFolderWhenThatExists) {
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::string folder = Narrow(system);
  {
    // OK at once takes what the chooser selected when it opened.
    DialogCloser closer(IDOK);
    EXPECT_EQ(CompareStringOrdinal(Widen(ChooseFolder("请选择目标字体文件夹", folder)).c_str(), -1, system, -1, TRUE),
              CSTR_EQUAL);
  }
  {
    DialogCloser closer(IDOK);
    const std::string missing = folder + "\\没有这个文件夹";
    EXPECT_NE(ChooseFolder("请选择目标字体文件夹", missing), missing);
  }
}

// Counts the WM_APP messages that reach it.
class CountingWindow {
 public:
  CountingWindow() {
    window_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleW(nullptr),
                              nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    previous_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingWindow::Procedure)));
  }
  ~CountingWindow() { DestroyWindow(window_); }
  void Post() { PostMessageW(window_, WM_APP, 0, 0); }
  int count = 0;

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CountingWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_APP) ++self->count;
    return CallWindowProcW(self->previous_, hwnd, message, wParam, lParam);
  }
  HWND window_;
  WNDPROC previous_;
};

TEST(PendingEvents, DispatchesWhatIsQueuedAndLeavesTheQuitRequest) {
  CountingWindow window;
  window.Post();
  window.Post();
  PostQuitMessage(7);
  ProcessPendingEvents();
  EXPECT_EQ(window.count, 2);
  ProcessPendingEvents();
  MSG quit;
  ASSERT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(quit.wParam, 7u);
}

TEST(PendingEvents, DelaysOfZeroOrLessReturnAtOnceWithoutProcessing) {
  CountingWindow window;
  window.Post();
  const auto start = Clock::now();
  DelayProcessingEvents(0);
  DelayProcessingEvents(-5);
  Delay(-5);
  EXPECT_EQ(window.count, 0);
  DelayProcessingEvents(40);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
  EXPECT_EQ(window.count, 1);
}

}  // namespace
}  // namespace quorvane

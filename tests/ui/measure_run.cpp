// A measurement, not a test: 20,000 generated font files listed and run through
// the real tool window, with the longest stretch in which the window's queue went
// unserved. Run under Wine:
//   cmake/wine-run.sh --prefix build/win64/wineprefix build/win64/bin/quorvane_measure.exe [ROWS]
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "frame/shell.h"
#include "ui/program_windows.h"

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Every message the thread takes from its queue passes here; the widest gap
// between two of them is the longest time the window did not listen.
std::atomic<bool> watching = false;
Clock::time_point lastTaken;
double longestGap = 0;
int gapsOver50 = 0;
int gapsOver100 = 0;

LRESULT CALLBACK OnMessageTaken(int code, WPARAM wParam, LPARAM lParam) {
  if (watching) {
    const Clock::time_point now = Clock::now();
    const double gap = std::chrono::duration<double, std::milli>(now - lastTaken).count();
    longestGap = std::max(longestGap, gap);
    gapsOver50 += gap > 50 ? 1 : 0;
    gapsOver100 += gap > 100 ? 1 : 0;
    lastTaken = now;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

class AnsweringDialogs : public quorvane::Dialogs {
 public:
  explicit AnsweringDialogs(std::string folder) : folder_(std::move(folder)) {}
  std::string ChooseFolder(std::string_view, std::string_view) override { return folder_; }
  quorvane::MessageButton ShowMessage(std::string_view text, std::string_view, UINT, HWND) override {
    lastMessage = text;
    return quorvane::MessageButton::Ok;
  }
  void OpenWebPage(std::string_view) override {}
  std::string lastMessage;

 private:
  std::string folder_;
};

double TimeRowInsertion(const quorvane::ListControl& list, int rows, bool pauseRedraw) {
  list.DeleteAllRows();
  const Clock::time_point start = Clock::now();
  {
    std::optional<quorvane::ListControl::RedrawPause> pause;
    if (pauseRedraw) pause.emplace(list);
    for (int i = 0; i < rows; ++i) {
      const int row = list.InsertRow(-1, std::to_string(i + 1));
      list.SetCellText(row, 1, "font.ttf");
      list.SetCellText(row, 2, "C:\\fonts\\font.ttf");
      list.SetCellText(row, 3, "准备就绪");
      if (!pauseRedraw && i % 64 == 0) UpdateWindow(list.Handle());
    }
  }
  UpdateWindow(list.Handle());
  const double elapsed = MillisecondsSince(start);
  list.DeleteAllRows();
  return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 20000;
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / "quorvane-measure";
  fs::remove_all(root);
  fs::create_directories(root / "source");
  fs::create_directories(root / "target");
  for (int i = 0; i < rows; ++i) {
    const fs::path folder = root / "source" / std::to_string(i / 1000);
    if (i % 1000 == 0) fs::create_directory(folder);
    FILE* file = _wfopen((folder / (std::to_wstring(i) + L".ttf")).c_str(), L"wb");
    std::fputs("font", file);
    std::fclose(file);
  }

  quorvane::Frame frame;
  AnsweringDialogs dialogs((root / "source").string());
  quorvane::ProgramWindows windows(frame, dialogs);
  if (windows.Register() || frame.Show(quorvane::kMainWindowName) == nullptr) return 1;
  quorvane::Window& window = *frame.Find(quorvane::kMainWindowName);
  quorvane::ProcessPendingEvents();
  window.Get("编辑框1").SetText((root / "target").string());

  const quorvane::ListControl list = window.List("超级列表框1");
  const double withoutPause = argc > 2 ? 0 : TimeRowInsertion(list, rows, false);
  const double withPause = TimeRowInsertion(list, rows, true);

  HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, &OnMessageTaken, nullptr, GetCurrentThreadId());
  std::atomic<bool> poking = true;
  const HWND target = window.Handle();
  std::thread poker([&] {
    while (poking) {
      PostMessageW(target, WM_NULL, 0, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });

  auto measure = [&](const char* button) {
    lastTaken = Clock::now();
    longestGap = 0;
    gapsOver50 = 0;
    gapsOver100 = 0;
    watching = true;
    const Clock::time_point start = Clock::now();
    SendMessageW(window.Get(button).Handle(), BM_CLICK, 0, 0);
    const double elapsed = MillisecondsSince(start);
    watching = false;
    return std::pair(elapsed, longestGap);
  };
  // The gauge itself: a deliberate 200 ms without looking at the queue must read as such.
  lastTaken = Clock::now();
  longestGap = 0;
  watching = true;
  Sleep(200);
  quorvane::ProcessPendingEvents();
  watching = false;
  const double calibration = longestGap;

  const auto [listing, listingGap] = measure("按钮_浏览2");
  const int listed = list.RowCount();
  if (argc > 2 && std::string(argv[2]) == "hidden") ShowWindow(list.Handle(), SW_HIDE);
  const auto [running, runningGap] = measure("按钮_执行");
  const int runningOver50 = gapsOver50;
  const int runningOver100 = gapsOver100;

  poking = false;
  poker.join();
  UnhookWindowsHookEx(hook);
  std::printf("gauge check, 200 ms asleep reads as:   %8.0f ms\n", calibration);
  std::printf("rows inserted one by one, repainting:  %8.0f ms\n", withoutPause);
  std::printf("rows inserted with redraw held:        %8.0f ms\n", withPause);
  std::printf("listing %d font files:              %8.0f ms, longest gap %.0f ms\n", listed, listing, listingGap);
  std::printf("running over them:                     %8.0f ms, longest gap %.0f ms (%d over 50 ms, %d over 100 ms)\n",
              running, runningGap, runningOver50, runningOver100);
  std::printf("summary: %s\n", dialogs.lastMessage.c_str());
  DestroyWindow(window.Handle());
  fs::remove_all(root);
  return 0;
}

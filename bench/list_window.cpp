#include "bench/list_window.h"

#include <commctrl.h>

#include "base/text.h"
#include "sync/run/sync_types.h"

namespace quorvane::bench {

namespace {

constexpr wchar_t kClassName[] = L"QuorvaneBenchListWindow";
constexpr int kColumnWidths[] = {50, 130, 350, 60};
constexpr const wchar_t* kColumnTitles[] = {L"序号", L"文件名", L"文件路径", L"状态"};

bool RegisterFrameClass(WNDPROC proc) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = proc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kClassName;
  return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

ListWindow::ListWindow(Mode mode) : mode_(mode) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  if (!RegisterFrameClass(FrameProc)) return;
  frame_ = CreateWindowExW(0, kClassName, L"Quorvane list stand-in", WS_OVERLAPPEDWINDOW, 50, 50, 718, 567, nullptr,
                           nullptr, GetModuleHandleW(nullptr), this);
  if (frame_ == nullptr) return;
  DWORD style = WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_SHOWSELALWAYS;
  if (mode_ == Mode::Virtual) style |= LVS_OWNERDATA;
  list_ = CreateWindowExW(0, WC_LISTVIEWW, L"", style, 48, 240, 616, 184, frame_, nullptr, nullptr, nullptr);
  progress_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 48, 432, 616, 16, frame_, nullptr,
                              nullptr, nullptr);
  if (list_ == nullptr || progress_ == nullptr) {
    list_ = nullptr;
    return;
  }
  SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
  for (int i = 0; i < 4; ++i) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = kColumnWidths[i];
    column.pszText = const_cast<wchar_t*>(kColumnTitles[i]);
    SendMessageW(list_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  ShowWindow(frame_, SW_SHOW);
  UpdateWindow(frame_);
}

ListWindow::~ListWindow() {
  if (frame_ != nullptr) DestroyWindow(frame_);
}

LRESULT CALLBACK ListWindow::FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<ListWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self != nullptr && message == WM_NOTIFY) return self->OnNotify(lParam);
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT ListWindow::OnNotify(LPARAM lParam) {
  auto* info = reinterpret_cast<NMLVDISPINFOW*>(lParam);
  if (info->hdr.hwndFrom != list_ || info->hdr.code != LVN_GETDISPINFOW || !(info->item.mask & LVIF_TEXT)) return 0;
  const auto row = static_cast<size_t>(info->item.iItem);
  const auto column = static_cast<size_t>(info->item.iSubItem);
  if (row >= rows_.size() || column >= 4) return 0;
  shownText_ = Widen(rows_[row][column]);
  info->item.pszText = shownText_.data();
  return 0;
}

void ListWindow::AddRows(std::span<const ListedRow> rows) {
  if (mode_ == Mode::Virtual) {
    for (const ListedRow& row : rows) rows_.push_back({row.number, row.name, row.path, std::string(kReadyText)});
    SendMessageW(list_, LVM_SETITEMCOUNT, rows_.size(), LVSICF_NOSCROLL);
  } else {
    SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
    const std::wstring ready = Widen(kReadyText);
    int index = static_cast<int>(SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0));
    for (const ListedRow& row : rows) {
      std::wstring number = Widen(row.number);
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = index;
      item.pszText = number.data();
      index = static_cast<int>(SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
      const std::wstring cells[] = {Widen(row.name), Widen(row.path), ready};
      for (int column = 1; column <= 3; ++column) {
        item.iSubItem = column;
        item.pszText = const_cast<wchar_t*>(cells[column - 1].c_str());
        SendMessageW(list_, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
      }
      ++index;
    }
    SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
  }
  InvalidateRect(list_, nullptr, TRUE);
  UpdateWindow(list_);
}

std::string ListWindow::CellText(std::int64_t row, int column) const {
  if (row < 0 || row >= RowCount() || column < 0 || column > 3) return {};
  if (mode_ == Mode::Virtual) return rows_[static_cast<size_t>(row)][static_cast<size_t>(column)];
  // The control holds the text: grow the buffer until the text fits.
  std::wstring buffer(128, L'\0');
  for (;;) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    const auto length = static_cast<size_t>(
        SendMessageW(list_, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
    if (length + 1 < buffer.size()) return Narrow(std::wstring_view(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
}

std::int64_t ListWindow::RowCount() const {
  if (mode_ == Mode::Virtual) return static_cast<std::int64_t>(rows_.size());
  return SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0);
}

void ListWindow::SetStatus(std::int64_t row, const RowFiles&, const RowReport& report) {
  if (row < 0 || row >= RowCount()) return;
  const std::string_view text = StatusText(report.state);
  if (mode_ == Mode::Virtual) {
    rows_[static_cast<size_t>(row)][kStatusColumn] = text;
    SendMessageW(list_, LVM_REDRAWITEMS, static_cast<WPARAM>(row), static_cast<LPARAM>(row));
    return;
  }
  std::wstring wide = Widen(text);
  LVITEMW item{};
  item.iSubItem = kStatusColumn;
  item.pszText = wide.data();
  SendMessageW(list_, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// The bar's range is 16 bits wide, so larger counts are scaled.
void ListWindow::SetProgress(std::int64_t handled, std::int64_t total) {
  constexpr std::int64_t kRange = 32767;
  const std::int64_t scale = total > kRange ? (total + kRange - 1) / kRange : 1;
  SendMessageW(progress_, PBM_SETRANGE32, 0, static_cast<LPARAM>(total / scale));
  SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(handled / scale), 0);
}

// A probe shows no modal box: it keeps the summary to print.
void ListWindow::ShowMessage(std::string_view text, std::string_view, MessageKind) { summary_ = text; }

void ListWindow::ShowSummary(const RunSummary& summary) { summary_ = SummaryMessage(summary.tally); }

void ListWindow::ProcessPendingEvents() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace quorvane::bench

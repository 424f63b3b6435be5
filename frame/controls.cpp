#include "frame/controls.h"

#include <commctrl.h>

#include <algorithm>

#include "base/text.h"

namespace quorvane {
namespace {

struct KindClass {
  Kind kind;
  const wchar_t* className;
  DWORD style;
  DWORD exStyle;
};

// Window class and styles of each kind's control. Push buttons are never default
// buttons; the list keeps its selection hidden when it loses the focus and never
// sorts; the progress bar is drawn in segments; the status bar has no grip.
constexpr KindClass kKindClasses[] = {
    {.kind = Kind::Button,
     .className = WC_BUTTONW,
     .style = BS_PUSHBUTTON | BS_CENTER | BS_VCENTER | BS_MULTILINE,
     .exStyle = 0},
    {.kind = Kind::RadioBox, .className = WC_BUTTONW, .style = BS_AUTORADIOBUTTON | BS_LEFT | BS_VCENTER, .exStyle = 0},
    {.kind = Kind::GroupBox, .className = WC_BUTTONW, .style = BS_GROUPBOX | BS_LEFT, .exStyle = 0},
    {.kind = Kind::EditBox, .className = WC_EDITW, .style = ES_LEFT | ES_AUTOHSCROLL, .exStyle = WS_EX_CLIENTEDGE},
    {.kind = Kind::ProcessBar, .className = PROGRESS_CLASSW, .style = 0, .exStyle = WS_EX_STATICEDGE},
    {.kind = Kind::StatusBar,
     .className = STATUSCLASSNAMEW,
     .style = SBARS_TOOLTIPS | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER,
     .exStyle = 0},
    {.kind = Kind::ListView,
     .className = WC_LISTVIEWW,
     .style = LVS_REPORT | LVS_SINGLESEL | LVS_OWNERDATA,
     .exStyle = WS_EX_CLIENTEDGE},
    {.kind = Kind::TransLabel, .className = kTransLabelClass, .style = 0, .exStyle = 0},
};

constexpr DWORD kListExtendedStyles =
    LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES | LVS_EX_INFOTIP;

const KindClass* ClassOf(Kind kind) {
  const auto found = std::ranges::find(kKindClasses, kind, &KindClass::kind);
  return found == std::end(kKindClasses) ? nullptr : &*found;
}

int TextHeight(HWND hwnd, HFONT font) {
  const UniqueWindowDc dc = ClientDc(hwnd);
  const ScopedSelection selected = SelectInto(dc.Get(), font);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc.Get(), &metrics);
  return metrics.tmHeight;
}

constexpr UINT kTransLabelFormat = DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX;

std::wstring TransLabelText(HWND label) {
  const int length = GetWindowTextLengthW(label);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(label, text.data(), length + 1)));
  return text;
}

HGDIOBJ TransLabelFont(HWND label) {
  auto font = reinterpret_cast<HFONT>(GetWindowLongPtrW(label, GWLP_USERDATA));
  return font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT);
}

// The label shows what lies behind it: the container paints itself into the
// label's DC first, so a shorter new text leaves nothing of the old one.
void PaintTransLabel(HWND hwnd) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd, &paint);
  RECT client;
  GetClientRect(hwnd, &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  HWND parent = GetParent(hwnd);
  POINT origin{0, 0};
  MapWindowPoints(hwnd, parent, &origin, 1);
  POINT oldOrigin;
  OffsetViewportOrgEx(dc, -origin.x, -origin.y, &oldOrigin);
  SendMessageW(parent, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  SetViewportOrgEx(dc, oldOrigin.x, oldOrigin.y, nullptr);

  const std::wstring text = TransLabelText(hwnd);
  {
    const ScopedSelection font = SelectInto(dc, TransLabelFont(hwnd));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(0, 0, 0));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client, kTransLabelFormat);
  }
  EndPaint(hwnd, &paint);
}

LRESULT CALLBACK TransLabelProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      PaintTransLabel(hwnd);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SETTEXT: {
      const LRESULT result = DefWindowProcW(hwnd, message, wParam, lParam);
      InvalidateRect(hwnd, nullptr, FALSE);
      return result;
    }
    case WM_SETFONT:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, static_cast<LONG_PTR>(wParam));
      if (LOWORD(lParam) != 0) InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return GetWindowLongPtrW(hwnd, GWLP_USERDATA);
    case WM_NCHITTEST:
      return HTTRANSPARENT;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void AddColumns(HWND list, const Element& element, int dpi) {
  for (std::size_t i = 0; i < element.columns.size(); ++i) {
    std::wstring title = Widen(element.columns[i].title);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = ScalePixels(element.columns[i].width, dpi);
    column.pszText = title.data();
    column.iSubItem = static_cast<int>(i);
    SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
}

// Settings that only messages can give, once the control exists.
void ApplyKindSettings(HWND hwnd, const Element& element, int dpi) {
  switch (element.kind) {
    case Kind::RadioBox:
      SendMessageW(hwnd, BM_SETCHECK, element.checked ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case Kind::ListView:
      SendMessageW(hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, kListExtendedStyles, kListExtendedStyles);
      AddColumns(hwnd, element, dpi);
      break;
    case Kind::ProcessBar:
      SendMessageW(hwnd, PBM_SETRANGE32, 0, 100);
      SendMessageW(hwnd, PBM_SETPOS, 0, 0);
      break;
    default:
      break;
  }
}

int ClampProgress(int value) { return std::clamp(value, 0, ProgressControl::kProgressLimit); }

}  // namespace

int ScalePixels(int pixels, int dpi) { return MulDiv(pixels, dpi, 96); }

int TransLabelTextHeight(HWND label) {
  RECT need;
  GetClientRect(label, &need);
  const std::wstring text = TransLabelText(label);
  const UniqueWindowDc dc = ClientDc(label);
  const ScopedSelection font = SelectInto(dc.Get(), TransLabelFont(label));
  DrawTextW(dc.Get(), text.c_str(), static_cast<int>(text.size()), &need, kTransLabelFormat | DT_CALCRECT);
  return static_cast<int>(need.bottom - need.top);
}

bool RegisterControlClasses() {
  static const bool registered = [] {
    INITCOMMONCONTROLSEX common{sizeof common,
                                ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&common);
    WNDCLASSEXW label{};
    label.cbSize = sizeof label;
    label.lpfnWndProc = &TransLabelProcedure;
    label.hInstance = GetModuleHandleW(nullptr);
    label.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    label.lpszClassName = kTransLabelClass;
    return RegisterClassExW(&label) != 0;
  }();
  return registered;
}

std::wstring_view ControlClassName(Kind kind) {
  const KindClass* kindClass = ClassOf(kind);
  return kindClass == nullptr ? std::wstring_view{} : kindClass->className;
}

HWND CreateControl(const Element& element, HWND parent, int id, HFONT font, int dpi) {
  const KindClass* kindClass = ClassOf(element.kind);
  if (kindClass == nullptr) return nullptr;
  const DWORD style =
      WS_CHILD | kindClass->style | (element.tabStop ? WS_TABSTOP : 0) | (element.visible ? WS_VISIBLE : 0);
  int height = ScalePixels(element.rect.height, dpi);
  HWND hwnd = CreateWindowExW(kindClass->exStyle, kindClass->className, Widen(element.text).c_str(), style,
                              ScalePixels(element.rect.x, dpi), ScalePixels(element.rect.y, dpi),
                              ScalePixels(element.rect.width, dpi), height, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (hwnd == nullptr) return nullptr;
  SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (element.kind == Kind::EditBox) {
    // A single-line field never gets lower than its text plus the sunken edges.
    const int least = TextHeight(hwnd, font) + 2 * GetSystemMetrics(SM_CYEDGE);
    if (height < least) {
      height = least;
      SetWindowPos(hwnd, nullptr, 0, 0, ScalePixels(element.rect.width, dpi), height,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  ApplyKindSettings(hwnd, element, dpi);
  return hwnd;
}

std::string Control::Text() const {
  if (hwnd_ == nullptr) return {};
  const int length = GetWindowTextLengthW(hwnd_);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(hwnd_, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(copied, 0)));
  return Narrow(text);
}

bool Control::SetText(std::string_view text) const {
  return hwnd_ != nullptr && SetWindowTextW(hwnd_, Widen(text).c_str()) != FALSE;
}

bool Control::Checked() const {
  return hwnd_ != nullptr && SendMessageW(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool Control::SetChecked(bool checked) const {
  if (hwnd_ == nullptr) return false;
  SendMessageW(hwnd_, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  return true;
}

bool Control::Visible() const { return hwnd_ != nullptr && (GetWindowLongW(hwnd_, GWL_STYLE) & WS_VISIBLE) != 0; }

bool Control::SetVisible(bool visible) const {
  if (hwnd_ == nullptr) return false;
  ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
  return true;
}

bool Control::Enabled() const { return hwnd_ != nullptr && IsWindowEnabled(hwnd_) != FALSE; }

bool Control::SetEnabled(bool enabled) const {
  if (hwnd_ == nullptr) return false;
  EnableWindow(hwnd_, enabled ? TRUE : FALSE);
  return true;
}

// ---- Progress bar --------------------------------------------------------------

bool ProgressControl::SetRange(int minimum, int maximum) const {
  if (hwnd_ == nullptr) return false;
  SendMessageW(hwnd_, PBM_SETRANGE32, ClampProgress(minimum), ClampProgress(maximum));
  return true;
}

bool ProgressControl::SetPosition(int position) const {
  if (hwnd_ == nullptr) return false;
  SendMessageW(hwnd_, PBM_SETPOS, ClampProgress(position), 0);
  return true;
}

int ProgressControl::Position() const {
  return hwnd_ == nullptr ? 0 : static_cast<int>(SendMessageW(hwnd_, PBM_GETPOS, 0, 0));
}

int ProgressControl::Minimum() const {
  return hwnd_ == nullptr ? 0 : static_cast<int>(SendMessageW(hwnd_, PBM_GETRANGE, TRUE, 0));
}

int ProgressControl::Maximum() const {
  return hwnd_ == nullptr ? 0 : static_cast<int>(SendMessageW(hwnd_, PBM_GETRANGE, FALSE, 0));
}

// ---- Timer -------------------------------------------------------------------

bool TimerState::SetPeriod(int milliseconds) {
  if (window_ == nullptr) return false;
  period_ = std::max(milliseconds, 0);
  if (period_ > 0) {
    SetTimer(window_, id_, static_cast<UINT>(period_), nullptr);
  } else {
    KillTimer(window_, id_);
  }
  return true;
}

void TimerState::Detach() {
  window_ = nullptr;
  period_ = 0;
}

bool TimerControl::SetPeriod(int milliseconds) const { return state_ != nullptr && state_->SetPeriod(milliseconds); }

int TimerControl::Period() const { return state_ == nullptr ? 0 : state_->Period(); }

}  // namespace quorvane

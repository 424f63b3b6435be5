#include "frame/controls.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

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

// ---- List --------------------------------------------------------------------

void ListState::ShowRowCount() const {
  if (list_ == nullptr) return;
  SendMessageW(list_, LVM_SETITEMCOUNT, static_cast<WPARAM>(RowCount()), LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
}

namespace {

// A cell gives back what the list would show of it: text that is not UTF-8
// comes back as its round trip through UTF-16 does.
std::string_view AsShown(std::string_view text, std::string& converted) {
  if (IsValidUtf8(text)) return text;
  converted = Narrow(Widen(text));
  return converted;
}

// The text of a cell as the list wants it: UTF-16, cut to its buffer.
void CopyForList(std::string_view text, wchar_t* buffer, int capacity) {
  const std::wstring wide = Widen(text);
  const std::size_t length = std::min(wide.size(), static_cast<std::size_t>(capacity) - 1);
  std::copy_n(wide.data(), length, buffer);
  buffer[length] = L'\0';
}

}  // namespace

void ListState::Store(Slot& slot, std::string_view text) {
  std::string converted;
  text = AsShown(text, converted);
  if (text.size() <= slot.room) {
    text.copy(text_.data() + slot.start, text.size());
    slot.size = static_cast<std::uint32_t>(text.size());
    return;
  }
  abandoned_ += slot.room;
  slot = {.start = static_cast<std::uint32_t>(text_.size()),
          .size = static_cast<std::uint32_t>(text.size()),
          .room = static_cast<std::uint32_t>(text.size())};
  text_.append(text);
  // Statuses change in place; only texts that grow leave their old room behind.
  if (abandoned_ > (1u << 16) && abandoned_ > text_.size() / 2) Compact();
}

void ListState::Compact() {
  std::string packed;
  packed.reserve(text_.size() - abandoned_);
  for (Slot& slot : slots_) {
    const std::string_view text = TextOf(slot);
    slot = {.start = static_cast<std::uint32_t>(packed.size()),
            .size = static_cast<std::uint32_t>(text.size()),
            .room = static_cast<std::uint32_t>(text.size())};
    packed.append(text);
  }
  text_.swap(packed);
  abandoned_ = 0;
}

// Rows below an insertion moved down; appended rows are drawn by the count.
void ListState::OnRowsAdded(int index, int count) {
  const bool moved = index < count;
  if (redrawPauses_ > 0) {
    countChanged_ = true;
    allChanged_ = allChanged_ || moved;
    return;
  }
  ShowRowCount();
  if (moved) InvalidateRect(list_, nullptr, TRUE);
}

int ListState::InsertRow(int position, std::string_view firstCell) {
  const int count = RowCount();
  const int index = position < 0 || position > count ? count : position;
  slots_.insert(slots_.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(index) * stride_), stride_,
                Slot{});
  if (columns_ > 0) Store(SlotOf(index, 0), firstCell);
  OnRowsAdded(index, count);
  return index;
}

int ListState::AppendRow(std::span<const std::string_view> cells) {
  const int index = RowCount();
  slots_.resize(slots_.size() + stride_);
  const std::size_t shown = std::min(cells.size(), static_cast<std::size_t>(std::max(columns_, 0)));
  for (std::size_t column = 0; column < shown; ++column) Store(SlotOf(index, column), cells[column]);
  OnRowsAdded(index, index);
  return index;
}

bool ListState::SetCellText(int row, int column, std::string_view text) {
  if (row < 0 || row >= RowCount() || column < 0 || column >= columns_) return false;
  Store(SlotOf(row, static_cast<std::size_t>(column)), text);
  // While paused the changed rows repaint together at the end; a message per
  // cell would only pass through every hook and subclass of the list for nothing.
  if (redrawPauses_ > 0) {
    changedFirst_ = changedFirst_ < 0 ? row : std::min(changedFirst_, row);
    changedLast_ = std::max(changedLast_, row);
  } else {
    SendMessageW(list_, LVM_REDRAWITEMS, row, row);
  }
  return true;
}

std::string ListState::CellText(int row, int column) const {
  if (row < 0 || row >= RowCount() || column < 0 || column >= columns_) return {};
  return std::string(TextOf(SlotOf(row, static_cast<std::size_t>(column))));
}

// The list asks for a tip only when the pointer rests on a row: nothing to redraw.
bool ListState::SetRowTip(int row, std::string_view tip) {
  if (row < 0 || row >= RowCount()) return false;
  Store(SlotOf(row, static_cast<std::size_t>(columns_)), tip);
  return true;
}

std::string ListState::RowTip(int row) const {
  return row < 0 || row >= RowCount() ? std::string{} : std::string(TextOf(SlotOf(row, static_cast<std::size_t>(columns_))));
}

bool ListState::DeleteAllRows() {
  // The list forgets its rows before they go: it must never ask for one that is gone.
  SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
  slots_.clear();
  text_.clear();
  abandoned_ = 0;
  countChanged_ = allChanged_ = false;
  changedFirst_ = changedLast_ = -1;
  return true;
}

void ListState::Reserve(int rows) {
  if (rows > 0) slots_.reserve(static_cast<std::size_t>(rows) * stride_);
}

// Nothing reaches the list while paused, so it needs no WM_SETREDRAW: that
// pair would repaint it at once (under Wine with every skinned part, 15 ms).
void ListState::PauseRedraw() { ++redrawPauses_; }

// Only what changed is repainted: a new length the whole list, changed cells
// their rows.
void ListState::ResumeRedraw() {
  if (--redrawPauses_ > 0) return;
  // A list that is gone (its window closed meanwhile) has nothing to repaint;
  // a null window here would be the whole desktop.
  if (list_ == nullptr) {
  } else if (countChanged_) {
    ShowRowCount();
    InvalidateRect(list_, nullptr, TRUE);
  } else if (allChanged_) {
    InvalidateRect(list_, nullptr, TRUE);
  } else if (changedFirst_ >= 0) {
    // The list invalidates every row it is given, shown or not, each a trip to
    // the window system: only the rows on show are worth it.
    const auto top = static_cast<int>(SendMessageW(list_, LVM_GETTOPINDEX, 0, 0));
    const auto shown = static_cast<int>(SendMessageW(list_, LVM_GETCOUNTPERPAGE, 0, 0));
    const int first = std::max(changedFirst_, top);
    const int last = std::min({changedLast_, top + shown, RowCount() - 1});
    if (first <= last) SendMessageW(list_, LVM_REDRAWITEMS, first, last);
  }
  countChanged_ = allChanged_ = false;
  changedFirst_ = changedLast_ = -1;
}

bool ListState::Answer(const NMHDR& header, LRESULT& result) const {
  if (header.code == LVN_GETDISPINFOW) {
    LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(&header))->item;
    if (item.mask & LVIF_IMAGE) item.iImage = -1;
    if (item.mask & LVIF_INDENT) item.iIndent = 0;
    if ((item.mask & LVIF_TEXT) && item.pszText != nullptr && item.cchTextMax > 0) {
      std::string_view text;
      if (item.iItem >= 0 && item.iItem < RowCount() && item.iSubItem >= 0 && item.iSubItem < columns_) {
        text = TextOf(SlotOf(item.iItem, static_cast<std::size_t>(item.iSubItem)));
      }
      CopyForList(text, item.pszText, item.cchTextMax);
    }
    result = 0;
    return true;
  }
  if (header.code == LVN_ODFINDITEMW) {
    result = -1;
    const auto* find = reinterpret_cast<const NMLVFINDITEMW*>(&header);
    if (!(find->lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || find->lvfi.psz == nullptr || RowCount() == 0 ||
        columns_ <= 0) {
      return true;
    }
    const std::wstring_view wanted = find->lvfi.psz;
    const bool partial = (find->lvfi.flags & LVFI_PARTIAL) != 0;
    const auto count = static_cast<std::size_t>(RowCount());
    const std::size_t start = find->iStart >= 0 && static_cast<std::size_t>(find->iStart) < count ? find->iStart : 0;
    for (std::size_t step = 0; step < count; ++step) {
      const std::size_t row = (start + step) % count;
      if (!(find->lvfi.flags & LVFI_WRAP) && row < start) break;
      const std::wstring cell = Widen(TextOf(SlotOf(static_cast<int>(row), 0)));
      std::wstring_view first = cell;
      if (partial) first = first.substr(0, wanted.size());
      if (first.size() == wanted.size() &&
          CompareStringOrdinal(first.data(), static_cast<int>(first.size()), wanted.data(),
                               static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL) {
        result = static_cast<LRESULT>(row);
        return true;
      }
    }
    return true;
  }
  if (header.code == LVN_GETINFOTIPW) {
    // Without a tip of its own the row keeps what the list offers: its cut-off text.
    auto& tip = *reinterpret_cast<NMLVGETINFOTIPW*>(const_cast<NMHDR*>(&header));
    result = 0;
    if (tip.iItem < 0 || tip.iItem >= RowCount() || tip.pszText == nullptr || tip.cchTextMax <= 0) return true;
    const std::string_view text = TextOf(SlotOf(tip.iItem, static_cast<std::size_t>(columns_)));
    if (!text.empty()) CopyForList(text, tip.pszText, tip.cchTextMax);
    return true;
  }
  return false;
}

int ListControl::InsertRow(int position, std::string_view firstCell) const {
  ListState* state = Usable();
  return state == nullptr ? -1 : state->InsertRow(position, firstCell);
}

int ListControl::AppendRow(std::span<const std::string_view> cells) const {
  ListState* state = Usable();
  return state == nullptr ? -1 : state->AppendRow(cells);
}

bool ListControl::SetCellText(int row, int column, std::string_view text) const {
  ListState* state = Usable();
  return state != nullptr && state->SetCellText(row, column, text);
}

std::string ListControl::CellText(int row, int column) const {
  const ListState* state = Usable();
  return state == nullptr ? std::string{} : state->CellText(row, column);
}

bool ListControl::SetRowTip(int row, std::string_view tip) const {
  ListState* state = Usable();
  return state != nullptr && state->SetRowTip(row, tip);
}

std::string ListControl::RowTip(int row) const {
  const ListState* state = Usable();
  return state == nullptr ? std::string{} : state->RowTip(row);
}

int ListControl::RowCount() const {
  const ListState* state = Usable();
  return state == nullptr ? 0 : state->RowCount();
}

bool ListControl::DeleteAllRows() const {
  ListState* state = Usable();
  return state != nullptr && state->DeleteAllRows();
}

void ListControl::EnsureVisible(int row) const {
  if (hwnd_ != nullptr) SendMessageW(hwnd_, LVM_ENSUREVISIBLE, row, FALSE);
}

bool ListControl::RowInView(int row) const {
  if (hwnd_ == nullptr) return false;
  const auto top = static_cast<int>(SendMessageW(hwnd_, LVM_GETTOPINDEX, 0, 0));
  const auto shown = static_cast<int>(SendMessageW(hwnd_, LVM_GETCOUNTPERPAGE, 0, 0));
  return row >= top && row < top + shown;
}

void ListControl::ShowAtTop(int row) const {
  if (hwnd_ == nullptr) return;
  const auto top = static_cast<int>(SendMessageW(hwnd_, LVM_GETTOPINDEX, 0, 0));
  RECT item{};
  item.left = LVIR_BOUNDS;
  if (!SendMessageW(hwnd_, LVM_GETITEMRECT, top, reinterpret_cast<LPARAM>(&item))) return;
  // One scroll: the list clamps it at the end of the rows.
  SendMessageW(hwnd_, LVM_SCROLL, 0, (row - top) * (item.bottom - item.top));
}

void ListControl::Reserve(int rows) const {
  if (ListState* state = Usable()) state->Reserve(rows);
}

ListControl::RedrawPause::RedrawPause(const ListControl& list) : state_(list.Usable()) {
  if (state_ != nullptr) state_->PauseRedraw();
}

ListControl::RedrawPause::~RedrawPause() {
  if (state_ != nullptr) state_->ResumeRedraw();
}

namespace {
int ClampProgress(int value) { return std::clamp(value, 0, ProgressControl::kProgressLimit); }

WPARAM BorderFlags(PanelBorder border) {
  switch (border) {
    case PanelBorder::None:
      return SBT_NOBORDERS;
    case PanelBorder::Raised:
      return SBT_POPOUT;
    case PanelBorder::Sunken:
      break;
  }
  return 0;
}
}  // namespace

// ---- Status bar ----------------------------------------------------------------

// Panel edges are cumulative widths; a width of -1 or less ends the row at the
// bar's right end.
void StatusBarState::Apply() {
  if (bar_ == nullptr) return;
  std::vector<int> rightEdges;
  int right = 0;
  for (const StatusPanel& panel : panels_) {
    if (panel.width <= -1 || right < 0) {
      right = -1;
    } else {
      right += ScalePixels(panel.width, dpi_);
    }
    rightEdges.push_back(right);
  }
  SendMessageW(bar_, SB_SETPARTS, rightEdges.size(), reinterpret_cast<LPARAM>(rightEdges.data()));
  panelIcons_.clear();
  for (std::size_t i = 0; i < panels_.size(); ++i) {
    const StatusPanel& panel = panels_[i];
    SendMessageW(bar_, SB_SETTEXTW, i | BorderFlags(panel.border), reinterpret_cast<LPARAM>(Widen(panel.text).c_str()));
    SendMessageW(bar_, SB_SETTIPTEXTW, i, reinterpret_cast<LPARAM>(Widen(panel.tip).c_str()));
    HICON icon = nullptr;
    if (images_ != nullptr && panel.image >= 0) {
      icon = ImageList_GetIcon(images_, panel.image, ILD_NORMAL);
      panelIcons_.emplace_back(icon);
    }
    SendMessageW(bar_, SB_SETICON, i, reinterpret_cast<LPARAM>(icon));
  }
}

void StatusBarState::Detach() {
  bar_ = nullptr;
  panelIcons_.clear();
}

int StatusBarState::AddPanel(StatusPanel panel) {
  panels_.push_back(std::move(panel));
  Apply();
  return PanelCount() - 1;
}

bool StatusBarState::SetPanelText(int index, std::string_view text) {
  if (index < 0 || index >= PanelCount()) return false;
  StatusPanel& panel = panels_[static_cast<std::size_t>(index)];
  if (panel.text == text) return true;
  panel.text = text;
  return SendMessageW(bar_, SB_SETTEXTW, static_cast<WPARAM>(index) | BorderFlags(panel.border),
                      reinterpret_cast<LPARAM>(Widen(text).c_str())) != 0;
}

void StatusBarState::SetImages(HIMAGELIST images) {
  images_ = images;
  Apply();
}

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

int StatusBarControl::AddPanel(StatusPanel panel) const {
  StatusBarState* state = Usable();
  return state == nullptr ? -1 : state->AddPanel(std::move(panel));
}

bool StatusBarControl::SetPanelText(int index, std::string_view text) const {
  StatusBarState* state = Usable();
  return state != nullptr && state->SetPanelText(index, text);
}

int StatusBarControl::PanelCount() const {
  return state_ == nullptr ? 0 : state_->PanelCount();
}

std::string StatusBarControl::PanelText(int index) const {
  if (hwnd_ == nullptr || index < 0 || index >= PanelCount()) return {};
  const auto length = LOWORD(SendMessageW(hwnd_, SB_GETTEXTLENGTHW, index, 0));
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(hwnd_, SB_GETTEXTW, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(length);
  return Narrow(text);
}

void StatusBarControl::SetImages(HIMAGELIST images) const {
  if (StatusBarState* state = Usable()) state->SetImages(images);
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

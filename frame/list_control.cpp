#include "frame/list_control.h"

#include <algorithm>

#include "base/text.h"

namespace quorvane {

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

}  // namespace quorvane

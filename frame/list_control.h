// The list control: a virtual report-style list whose rows the window keeps.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "frame/controls.h"

namespace quorvane {

// A list's rows, cell by cell: the list is virtual, holds none itself and
// asks for the text of the rows it shows, so a batch of many thousand rows
// costs one count update. A row may carry a tip, which the list shows when
// the pointer rests on it.
class ListState {
 public:
  explicit ListState(int columns) : columns_(columns), stride_(static_cast<std::size_t>(columns) + 1) {}

  void Attach(HWND list) { list_ = list; }
  HWND Handle() const { return list_; }
  int InsertRow(int position, std::string_view firstCell);
  // Adds a row after the last with these cells (the rest empty); its index.
  int AppendRow(std::span<const std::string_view> cells);
  bool SetCellText(int row, int column, std::string_view text);
  std::string CellText(int row, int column) const;
  bool SetRowTip(int row, std::string_view tip);
  std::string RowTip(int row) const;
  int RowCount() const { return static_cast<int>(slots_.size() / stride_); }
  bool DeleteAllRows();
  void Reserve(int rows);
  void PauseRedraw();
  void ResumeRedraw();
  // Answers the list's questions (the text of a cell, the row that starts with
  // what the user typed, a row's tip); false for any other notification.
  bool Answer(const NMHDR& header, LRESULT& result) const;

 private:
  // Where one text lies in text_; `room` bytes are its own.
  struct Slot {
    std::uint32_t start = 0;
    std::uint32_t size = 0;
    std::uint32_t room = 0;
  };

  void ShowRowCount() const;
  void OnRowsAdded(int index, int count);
  Slot& SlotOf(int row, std::size_t slot) { return slots_[static_cast<std::size_t>(row) * stride_ + slot]; }
  const Slot& SlotOf(int row, std::size_t slot) const {
    return slots_[static_cast<std::size_t>(row) * stride_ + slot];
  }
  std::string_view TextOf(const Slot& slot) const { return std::string_view(text_).substr(slot.start, slot.size); }
  void Store(Slot& slot, std::string_view text);
  void Compact();

  HWND list_ = nullptr;
  int columns_;
  // Every row is columns_ cells and then its tip, as UTF-8 in one buffer: a
  // batch of rows is a few large allocations, not several per row. A text
  // that outgrows its room moves to the end; the buffer is packed again once
  // most of it is left behind.
  std::size_t stride_;
  std::vector<Slot> slots_;
  std::string text_;
  std::size_t abandoned_ = 0;
  int redrawPauses_ = 0;
  // What a pause has held back.
  bool countChanged_ = false;
  bool allChanged_ = false;
  int changedFirst_ = -1;
  int changedLast_ = -1;
};

// The report-style list: rows of text cells.
class ListControl : public Control {
 public:
  ListControl() = default;
  explicit ListControl(ListState* state) : Control(state != nullptr ? state->Handle() : nullptr), state_(state) {}

  // Inserts at `position`, or after the last row when it is negative; the index
  // of the new row, or -1.
  int InsertRow(int position = -1, std::string_view firstCell = {}) const;
  // False for a row or column the list does not have.
  bool SetCellText(int row, int column, std::string_view text) const;
  // The whole text of a cell, however long.
  std::string CellText(int row, int column) const;
  // The tip shown for a row (empty: the list's own, the row's cut-off text).
  bool SetRowTip(int row, std::string_view tip) const;
  std::string RowTip(int row) const;
  int RowCount() const;
  bool DeleteAllRows() const;
  // Scrolls the list so that `row` can be seen.
  void EnsureVisible(int row) const;
  // Whether `row` is wholly on show.
  bool RowInView(int row) const;
  // Scrolls the list so that `row` is its top row, or as near as the rows allow.
  void ShowAtTop(int row) const;
  // Adds a row after the last with these cells (the rest empty); its index, or -1.
  int AppendRow(std::span<const std::string_view> cells) const;
  // Makes room for `rows` rows in one step ahead of a batch of insertions.
  void Reserve(int rows) const;

  // Holds the list's repaint while a batch of rows goes in or cells change; the
  // list learns its new length and repaints what changed once, when the last
  // pause ends.
  class RedrawPause {
   public:
    explicit RedrawPause(const ListControl& list);
    ~RedrawPause();
    RedrawPause(const RedrawPause&) = delete;
    RedrawPause& operator=(const RedrawPause&) = delete;

   private:
    ListState* state_;
  };
  RedrawPause PauseRedraw() const { return RedrawPause(*this); }

 private:
  ListState* Usable() const { return state_ != nullptr && hwnd_ != nullptr ? state_ : nullptr; }

  ListState* state_ = nullptr;
};

}  // namespace quorvane

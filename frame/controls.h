// Typed access to the controls of a built window. Each accessor is a small
// value that names one control; a missing control makes every call fail
// harmlessly (false, empty text, -1) rather than touch another window.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/win32_handles.h"
#include "frame/layout.h"

namespace quorvane {

// Any control: the properties every kind has.
class Control {
 public:
  Control() = default;
  explicit Control(HWND hwnd) : hwnd_(hwnd) {}

  HWND Handle() const { return hwnd_; }
  bool Exists() const { return hwnd_ != nullptr; }
  std::string Text() const;
  bool SetText(std::string_view text) const;
  bool Checked() const;
  bool SetChecked(bool checked) const;
  bool Visible() const;
  bool SetVisible(bool visible) const;
  bool Enabled() const;
  bool SetEnabled(bool enabled) const;

 protected:
  HWND hwnd_ = nullptr;
};

// The state each kind of control keeps beyond its window: the window it
// belongs to owns one per element that needs it, and the element's accessor
// works on that and nothing else.

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

enum class PanelBorder { Sunken, None, Raised };

struct StatusPanel {
  // Pixels at 96 DPI; -1 and below reach the right end of the bar.
  int width = 50;
  PanelBorder border = PanelBorder::Sunken;
  // Index into the bar's image list; -1 for none.
  int image = -1;
  std::string text{};
  std::string tip{};
};

// The panels added to a status bar at run time.
class StatusBarState {
 public:
  void Attach(HWND bar, int dpi) {
    bar_ = bar;
    dpi_ = dpi;
  }
  void Detach();
  HWND Handle() const { return bar_; }
  int AddPanel(StatusPanel panel);
  bool SetPanelText(int index, std::string_view text);
  int PanelCount() const { return static_cast<int>(panels_.size()); }
  void SetImages(HIMAGELIST images);

 private:
  void Apply();

  HWND bar_ = nullptr;
  int dpi_ = 96;
  std::vector<StatusPanel> panels_;
  HIMAGELIST images_ = nullptr;
  std::vector<UniqueIcon> panelIcons_;
};

// A timer element is a window timer of its window, under the element's id.
class TimerState {
 public:
  void Attach(HWND window, UINT_PTR id) {
    window_ = window;
    id_ = id;
  }
  void Detach();
  bool SetPeriod(int milliseconds);
  int Period() const { return period_; }
  // True when a WM_TIMER with this id is a tick to raise.
  bool Ticks(UINT_PTR id) const { return id == id_ && period_ > 0; }

 private:
  HWND window_ = nullptr;
  UINT_PTR id_ = 0;
  int period_ = 0;
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

// The progress bar; range and position are whole numbers within 0...kProgressLimit.
class ProgressControl : public Control {
 public:
  static constexpr int kProgressLimit = 32767;
  using Control::Control;

  bool SetRange(int minimum, int maximum) const;
  bool SetPosition(int position) const;
  int Position() const;
  int Minimum() const;
  int Maximum() const;
};

// The docked status bar and the panels added to it at run time.
class StatusBarControl : public Control {
 public:
  StatusBarControl() = default;
  explicit StatusBarControl(StatusBarState* state)
      : Control(state != nullptr ? state->Handle() : nullptr), state_(state) {}

  // Adds a panel to the right of the last; its index, or -1.
  int AddPanel(StatusPanel panel) const;
  bool SetPanelText(int index, std::string_view text) const;
  int PanelCount() const;
  std::string PanelText(int index) const;
  // Images for the panels' image indexes; the caller keeps the list alive.
  void SetImages(HIMAGELIST images) const;

 private:
  StatusBarState* Usable() const { return state_ != nullptr && hwnd_ != nullptr ? state_ : nullptr; }

  StatusBarState* state_ = nullptr;
};

// The timer element: a period in milliseconds, 0 when stopped.
class TimerControl {
 public:
  TimerControl() = default;
  explicit TimerControl(TimerState* state) : state_(state) {}

  bool Exists() const { return state_ != nullptr; }
  // A positive period (re)starts the timer; 0 or less stops it.
  bool SetPeriod(int milliseconds) const;
  int Period() const;

 private:
  TimerState* state_ = nullptr;
};

// Pixels scaled from 96 DPI to `dpi`.
int ScalePixels(int pixels, int dpi);

// Creates the window of one control as a child of `parent`, shown when the
// element is visible; nullptr on failure.
HWND CreateControl(const Element& element, HWND parent, int id, HFONT font, int dpi);

// The height a transparent label's text needs at the label's width, as it paints it.
int TransLabelTextHeight(HWND label);

// Registers the frame's own control classes once per process.
bool RegisterControlClasses();

// The window class of a kind's control (for tests comparing the built tree).
std::wstring_view ControlClassName(Kind kind);

// The transparent label's window class.
inline constexpr wchar_t kTransLabelClass[] = L"QuorvaneTransLabel";

}  // namespace quorvane

// Typed access to the controls of a built window. Each accessor is a small
// value that names one control; a missing control makes every call fail
// harmlessly (false, empty text, -1) rather than touch another window.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/layout.h"

namespace quorvane {

class Window;

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

// The report-style list: rows of text cells.
class ListControl : public Control {
 public:
  ListControl() = default;
  ListControl(Window* window, std::size_t element, HWND hwnd) : Control(hwnd), window_(window), element_(element) {}

  // Inserts at `position`, or after the last row when it is negative; the index
  // of the new row, or -1.
  int InsertRow(int position = -1, std::string_view firstCell = {}) const;
  // False for a row or column the list does not have.
  bool SetCellText(int row, int column, std::string_view text) const;
  // The whole text of a cell, however long.
  std::string CellText(int row, int column) const;
  int RowCount() const;
  bool DeleteAllRows() const;
  // Scrolls the list so that `row` can be seen.
  void EnsureVisible(int row) const;
  // Makes room for `rows` rows in one step ahead of a batch of insertions.
  void Reserve(int rows) const;

  // Holds the list's repaint while a batch of rows goes in; the list learns
  // its new length and repaints once, when the last pause ends.
  class RedrawPause {
   public:
    explicit RedrawPause(const ListControl& list);
    ~RedrawPause();
    RedrawPause(const RedrawPause&) = delete;
    RedrawPause& operator=(const RedrawPause&) = delete;

   private:
    Window* window_;
    std::size_t element_;
    HWND list_;
  };
  RedrawPause PauseRedraw() const { return RedrawPause(*this); }

 private:
  std::vector<std::vector<std::wstring>>* Rows() const;
  int ColumnCount() const;
  void ShowRowCount() const;

  Window* window_ = nullptr;
  std::size_t element_ = 0;
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

// The docked status bar and the panels added to it at run time.
class StatusBarControl : public Control {
 public:
  StatusBarControl() = default;
  StatusBarControl(Window* window, std::size_t element, HWND hwnd)
      : Control(hwnd), window_(window), element_(element) {}

  // Adds a panel to the right of the last; its index, or -1.
  int AddPanel(StatusPanel panel) const;
  bool SetPanelText(int index, std::string_view text) const;
  int PanelCount() const;
  std::string PanelText(int index) const;
  // Images for the panels' image indexes; the caller keeps the list alive.
  void SetImages(HIMAGELIST images) const;

 private:
  Window* window_ = nullptr;
  std::size_t element_ = 0;
};

// The timer element: a period in milliseconds, 0 when stopped.
class TimerControl {
 public:
  TimerControl() = default;
  TimerControl(Window* window, std::size_t element) : window_(window), element_(element) {}

  bool Exists() const { return window_ != nullptr; }
  // A positive period (re)starts the timer; 0 or less stops it.
  bool SetPeriod(int milliseconds) const;
  int Period() const;

 private:
  Window* window_ = nullptr;
  std::size_t element_ = 0;
};

// Creates the window of one control, hidden, as a child of `parent`; nullptr on failure.
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

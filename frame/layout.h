// Windows as data: an ordered list of elements, the window first and then its
// controls, plus the table of events that program code is bound to. The frame
// builds a window from this and nothing else.
#pragma once

#include <span>
#include <string_view>

namespace quorvane {

enum class Kind { Window, Button, RadioBox, GroupBox, EditBox, ProcessBar, StatusBar, ListView, TransLabel, Timer };

inline constexpr int kKindCount = 10;

enum class Event {
  CreationComplete,  // the window, once, after its controls exist and before it is shown
  Click,             // a push button or radio button
  Tick,              // a timer
  FilesDropped,      // the window, when files or folders are dropped on it
};

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct ListColumn {
  std::string_view title{};
  int width = 50;
};

struct Element {
  std::string_view name{};
  Kind kind = Kind::Button;
  // The group box that holds the element; empty for the window's client area.
  std::string_view container{};
  // The window's outer rectangle, or the control's within its container.
  Rect rect{};
  std::string_view text{};
  bool visible = true;
  bool tabStop = false;
  int tabIndex = 0;
  bool checked = false;
  std::span<const ListColumn> columns{};
};

struct Binding {
  std::string_view element{};
  Event event = Event::Click;
};

struct Layout {
  // elements[0] is the window; its name is the layout's name.
  std::span<const Element> elements{};
  std::span<const Binding> bindings{};
  // The control that has the focus when the window is first shown; empty for
  // the first control of the Tab ring.
  std::string_view initialFocus{};

  std::string_view Name() const { return elements.empty() ? std::string_view{} : elements.front().name; }
};

}  // namespace quorvane

// One window of the frame: built from its layout, it raises the events bound
// to its elements, gives typed access to its controls and handles the frame's
// keys for them.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "frame/controls.h"
#include "frame/layout.h"
#include "frame/list_control.h"
#include "frame/status_bar.h"

namespace quorvane {

class Frame;
class Window;

struct EventArgs {
  std::string_view element;
  Event event;
  // The dropped files and folders of Event::FilesDropped.
  std::span<const std::string> paths;
};

// Every handler has this one shape; it reaches controls only through `window`.
using Handler = std::function<void(Window& window, const EventArgs& args)>;

struct HandlerBinding {
  std::string_view element;
  Event event;
  Handler handler;
};

// One open (or just closed) window built from a layout.
class Window {
 public:
  Window(Frame& frame, const Layout& layout, const std::vector<HandlerBinding>& handlers);
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  std::string_view Name() const { return layout_.Name(); }
  const Layout& GetLayout() const { return layout_; }
  Frame& GetFrame() const { return frame_; }
  // Null once the window has been destroyed.
  HWND Handle() const { return hwnd_; }
  bool IsOpen() const { return hwnd_ != nullptr; }

  // Typed access by element name. A name the layout does not have, or a typed
  // accessor for an element of another kind, is a fault of the program: it is
  // reported (see SetElementNameFaultHook) and gives an accessor whose every
  // call fails harmlessly.
  Control Get(std::string_view name) const;
  ListControl List(std::string_view name);
  ProgressControl Progress(std::string_view name) const;
  StatusBarControl StatusBar(std::string_view name);
  TimerControl Timer(std::string_view name);

  // Sends the window its close request, as the close button does.
  void Close();

  // The frame's keys (Tab ring, radio arrows, Esc, Enter) for a message bound
  // for this window or one of its controls; true when the key was used up.
  bool TranslateKey(const MSG& message);

  int Scale(int pixels) const;

  // The window object behind a top-level window handle of the frame, or nullptr.
  static Window* FromHandle(HWND hwnd);

 private:
  friend class Frame;

  // One per element: its window, and the state of the kinds that keep any.
  struct Slot {
    HWND hwnd = nullptr;
    std::variant<std::monostate, ListState, StatusBarState, TimerState> state;
    bool holdsControls = false;  // a group box that is some control's container
  };

  bool Build(HWND owner);
  bool CreateFrameWindow(HWND owner);
  bool CreateControls();
  bool CreateElement(std::size_t index, std::vector<std::size_t>& made);
  void StackAsListed(HWND parent, const std::vector<std::size_t>& made);
  void DockStatusBars();
  void FocusInitialControl();
  void Raise(std::size_t element, Event event, std::span<const std::string> paths = {});
  template <typename State>
  State* StateOf(std::string_view name, Kind kind);
  int IndexOf(std::string_view name) const;
  // The element of `name` when it is of `kind`; -1 after reporting the fault.
  int IndexOfKind(std::string_view name, Kind kind) const;
  void ReportNameFault(std::string_view name) const;
  int IndexOfHandle(HWND hwnd) const;
  std::vector<int> TabRing() const;
  bool MoveFocus(HWND focus, bool backward);
  bool MoveRadio(int current, bool backward);
  void ForgetHandles();

  // The frame's hidden owner of its windows, of their class; null on failure.
  static HWND CreateOwnerWindow();
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnCommand(WPARAM wParam, LPARAM lParam);
  LRESULT OnTimer(WPARAM wParam);
  LRESULT OnSize(WPARAM wParam, LPARAM lParam);
  LRESULT OnDropFiles(WPARAM wParam);
  LRESULT OnNotify(WPARAM wParam, LPARAM lParam);
  LRESULT OnActivate(WPARAM wParam);
  LRESULT OnNcDestroy(WPARAM wParam, LPARAM lParam);

  Frame& frame_;
  Layout layout_;
  const std::vector<HandlerBinding>& handlers_;
  HWND hwnd_ = nullptr;
  // Sized once: accessors point into it.
  std::vector<Slot> slots_;
  int dispatchDepth_ = 0;
  HWND focusBeforeDeactivation_ = nullptr;
};

// Told the window and the element name of every accessor asked for by a name
// that the window has no element of (of that kind): a mistyped name. Without
// a hook, debug builds stop at an assertion; the tests install one that fails
// the running test.
using ElementNameFaultHook = void (*)(std::string_view window, std::string_view element);
// Returns the hook it replaces; null removes it.
ElementNameFaultHook SetElementNameFaultHook(ElementNameFaultHook hook);

}  // namespace quorvane

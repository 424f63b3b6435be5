// The application frame: builds windows from their layouts, owns them while
// they are open, raises the events bound to their elements and runs the
// message loop with the frame's own key handling.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/win32_handles.h"
#include "frame/controls.h"
#include "frame/fatal_error.h"
#include "frame/layout.h"

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

struct FrameOptions {
  // Pixels per inch to lay windows out for; 0 takes the screen's.
  int dpi = 0;
};

class Frame {
 public:
  explicit Frame(FrameOptions options = {});
  ~Frame();
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  // False when the hidden owner window could not be made.
  bool Ready() const { return static_cast<bool>(owner_); }
  HWND OwnerWindow() const { return owner_.Get(); }
  int Dpi() const { return dpi_; }
  HFONT Font() const { return font_ ? font_.Get() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

  // Checks a layout and the handlers for its bound events; a layout that does
  // not hold together is the fatal error kLayoutLoadFailed.
  std::optional<FatalError> Register(const Layout& layout, std::vector<HandlerBinding> handlers);

  // Builds and shows the window of a registered layout, owned by `owner` (the
  // hidden owner window when null). A window of that layout that is still open
  // is brought back instead. Null when the window could not be built.
  Window* Show(std::string_view layoutName, const Window* owner = nullptr);

  // The open window of a layout, or nullptr.
  Window* Find(std::string_view layoutName) const;

  // The message loop; returns the exit code of the quit request.
  int Run();

 private:
  friend class Window;
  struct Registration {
    Layout layout;
    std::vector<HandlerBinding> handlers;
  };

  void OnWindowDestroyed();
  void ReleaseClosedWindows();

  int dpi_ = 96;
  UniqueFont font_;
  UniqueWindow owner_;
  std::vector<std::unique_ptr<Registration>> registrations_;
  std::vector<std::unique_ptr<Window>> windows_;
};

// Translates and dispatches one message, giving the frame's keys their meaning
// first. The message loop and ProcessPendingEvents both go through here.
void DispatchFrameMessage(MSG& message);

}  // namespace quorvane

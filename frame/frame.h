// The application frame: builds windows from their layouts, owns them while
// they are open, raises the events bound to their elements and runs the
// message loop with the frame's own key handling.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "base/win32_handles.h"
#include "frame/fatal_error.h"
#include "frame/layout.h"
#include "frame/window.h"

namespace quorvane {

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

#include "frame/frame.h"

#include <algorithm>
#include <utility>

#include "frame/layout_check.h"

namespace quorvane {

Frame::Frame(FrameOptions options) {
  const int systemDpi = GetDeviceCaps(ClientDc(nullptr).Get(), LOGPIXELSY);
  dpi_ = options.dpi > 0 ? options.dpi : systemDpi;
  // The stock font is made for the system's DPI already; only a different DPI
  // asked for by the caller needs a font of its own.
  if (dpi_ != systemDpi) {
    LOGFONTW font{};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    font.lfHeight = MulDiv(font.lfHeight, dpi_, systemDpi);
    font_.Reset(CreateFontIndirectW(&font));
  }
  if (!RegisterControlClasses()) return;
  owner_.Reset(Window::CreateOwnerWindow());
}

Frame::~Frame() {
  // Windows closed by the frame's own end run no handler and ask for no quit.
  for (auto& window : windows_) {
    if (window->IsOpen()) {
      SetWindowLongPtrW(window->Handle(), GWLP_USERDATA, 0);
      DestroyWindow(window->Handle());
      window->hwnd_ = nullptr;
      window->ForgetHandles();
    }
  }
}

std::optional<FatalError> Frame::Register(const Layout& layout, std::vector<HandlerBinding> handlers) {
  const FatalError broken{.code = std::nullopt, .text = std::string(kLayoutLoadFailed)};
  if (CheckLayout(layout)) return broken;
  const bool known = std::ranges::any_of(registrations_, [&](const auto& registration) {
    return registration->layout.Name() == layout.Name();
  });
  if (known) return broken;
  for (const HandlerBinding& handler : handlers) {
    const bool bound = std::ranges::any_of(layout.bindings, [&](const Binding& binding) {
      return binding.element == handler.element && binding.event == handler.event;
    });
    if (!bound) return broken;
  }
  registrations_.push_back(std::make_unique<Registration>(Registration{layout, std::move(handlers)}));
  return std::nullopt;
}

Window* Frame::Find(std::string_view layoutName) const {
  for (const auto& window : windows_) {
    if (window->IsOpen() && window->Name() == layoutName) return window.get();
  }
  return nullptr;
}

void Frame::ReleaseClosedWindows() {
  std::erase_if(windows_, [](const auto& window) { return !window->IsOpen() && window->dispatchDepth_ == 0; });
}

Window* Frame::Show(std::string_view layoutName, const Window* owner) {
  if (Window* open = Find(layoutName)) {
    if (IsIconic(open->Handle())) {
      ShowWindow(open->Handle(), SW_RESTORE);
    } else {
      SetForegroundWindow(open->Handle());
      SetActiveWindow(open->Handle());
    }
    return open;
  }
  const auto registration = std::ranges::find_if(registrations_, [&](const auto& candidate) {
    return candidate->layout.Name() == layoutName;
  });
  if (registration == registrations_.end() || !Ready()) return nullptr;
  ReleaseClosedWindows();
  windows_.push_back(std::make_unique<Window>(*this, (*registration)->layout, (*registration)->handlers));
  Window* window = windows_.back().get();
  HWND ownerHandle = owner != nullptr && owner->IsOpen() ? owner->Handle() : owner_.Get();
  if (!window->Build(ownerHandle)) {
    windows_.pop_back();
    return nullptr;
  }
  return window;
}

void Frame::OnWindowDestroyed() {
  const bool anyOpen = std::ranges::any_of(windows_, [](const auto& window) { return window->IsOpen(); });
  if (!anyOpen) PostQuitMessage(0);
}

int Frame::Run() {
  MSG message{};
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got < 0) return kFatalExitCode;
    DispatchFrameMessage(message);
  }
}

}  // namespace quorvane

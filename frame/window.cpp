#include "frame/window.h"

#include <shellapi.h>

#include <algorithm>
#include <cassert>
#include <exception>
#include <type_traits>
#include <utility>

#include "base/text.h"
#include "frame/frame.h"

namespace quorvane {
namespace {

constexpr wchar_t kFrameWindowClass[] = L"QuorvaneWindow";
constexpr wchar_t kIconResource[] = L"DEFAULT_ICON";
constexpr int kFirstControlId = 100;
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kFrameExStyle = WS_EX_APPWINDOW;

ATOM frameClass = 0;
ElementNameFaultHook elementNameFaultHook = nullptr;

ATOM RegisterFrameClass(WNDPROC procedure) {
  if (frameClass == 0) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kFrameWindowClass;
    // Shared icons stay with the module; there is nothing to free.
    windowClass.hIcon = static_cast<HICON>(LoadImageW(instance, kIconResource, IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                      GetSystemMetrics(SM_CYICON), LR_SHARED));
    windowClass.hIconSm = static_cast<HICON>(LoadImageW(instance, kIconResource, IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    frameClass = RegisterClassExW(&windowClass);
  }
  return frameClass;
}

// Controls inside a group box notify the group box; it passes their news on to
// the window, so handlers see one window whatever the nesting.
LRESULT CALLBACK GroupBoxProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      return SendMessageW(GetAncestor(hwnd, GA_ROOT), message, wParam, lParam);
    case WM_NCDESTROY:
      RemoveWindowSubclass(hwnd, &GroupBoxProcedure, 0);
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

}  // namespace

Window::Window(Frame& frame, const Layout& layout, const std::vector<HandlerBinding>& handlers)
    : frame_(frame), layout_(layout), handlers_(handlers), slots_(layout.elements.size()) {
  for (std::size_t i = 1; i < slots_.size(); ++i) {
    const Element& element = layout_.elements[i];
    switch (element.kind) {
      case Kind::ListView:
        slots_[i].state.emplace<ListState>(static_cast<int>(element.columns.size()));
        break;
      case Kind::StatusBar:
        slots_[i].state.emplace<StatusBarState>();
        break;
      case Kind::Timer:
        slots_[i].state.emplace<TimerState>();
        break;
      default:
        break;
    }
  }
}

Window::~Window() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

Window* Window::FromHandle(HWND hwnd) {
  if (hwnd == nullptr || frameClass == 0 || GetClassLongPtrW(hwnd, GCW_ATOM) != frameClass) return nullptr;
  return reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

int Window::Scale(int pixels) const { return ScalePixels(pixels, frame_.Dpi()); }

int Window::IndexOf(std::string_view name) const {
  for (std::size_t i = 1; i < layout_.elements.size(); ++i) {
    if (layout_.elements[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

int Window::IndexOfHandle(HWND hwnd) const {
  for (std::size_t i = 1; i < slots_.size(); ++i) {
    HWND control = slots_[i].hwnd;
    if (control != nullptr && (control == hwnd || IsChild(control, hwnd))) return static_cast<int>(i);
  }
  return -1;
}

void Window::ReportNameFault(std::string_view name) const {
  if (elementNameFaultHook != nullptr) {
    elementNameFaultHook(Name(), name);
    return;
  }
  assert(false && "no element of this name and kind");
}

int Window::IndexOfKind(std::string_view name, Kind kind) const {
  const int index = IndexOf(name);
  if (index < 0 || layout_.elements[static_cast<std::size_t>(index)].kind != kind) {
    ReportNameFault(name);
    return -1;
  }
  return index;
}

// The window's own name is a name of the layout too, though no control's.
Control Window::Get(std::string_view name) const {
  const int index = IndexOf(name);
  if (index < 0 && name != Name()) ReportNameFault(name);
  return Control(index < 0 ? nullptr : slots_[static_cast<std::size_t>(index)].hwnd);
}

template <typename State>
State* Window::StateOf(std::string_view name, Kind kind) {
  const int index = IndexOfKind(name, kind);
  return index < 0 ? nullptr : std::get_if<State>(&slots_[static_cast<std::size_t>(index)].state);
}

ListControl Window::List(std::string_view name) { return ListControl(StateOf<ListState>(name, Kind::ListView)); }

ProgressControl Window::Progress(std::string_view name) const {
  const int index = IndexOfKind(name, Kind::ProcessBar);
  return index < 0 ? ProgressControl() : ProgressControl(slots_[static_cast<std::size_t>(index)].hwnd);
}

StatusBarControl Window::StatusBar(std::string_view name) {
  return StatusBarControl(StateOf<StatusBarState>(name, Kind::StatusBar));
}

TimerControl Window::Timer(std::string_view name) { return TimerControl(StateOf<TimerState>(name, Kind::Timer)); }

void Window::Close() {
  if (hwnd_ != nullptr) SendMessageW(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
}

bool Window::Build(HWND owner) {
  if (!CreateFrameWindow(owner)) return false;
  if (!CreateControls()) {
    DestroyWindow(hwnd_);
    return false;
  }
  DockStatusBars();
  const bool takesDrops = std::ranges::any_of(layout_.bindings, [](const Binding& binding) {
    return binding.event == Event::FilesDropped;
  });
  DragAcceptFiles(hwnd_, takesDrops ? TRUE : FALSE);
  Raise(0, Event::CreationComplete);
  if (IsOpen()) {
    ShowWindow(hwnd_, SW_SHOW);
    SetForegroundWindow(hwnd_);
    FocusInitialControl();
  }
  return true;
}

bool Window::CreateFrameWindow(HWND owner) {
  const Element& window = layout_.elements.front();
  int width = Scale(window.rect.width);
  int height = Scale(window.rect.height);

  // The client area must hold every control of the window plus the docked bar;
  // where the system's frame is thicker than the layout assumed, grow the window.
  int clientWidth = 0;
  int clientHeight = 0;
  int dockedHeight = 0;
  for (const Element& element : layout_.elements.subspan(1)) {
    if (!element.container.empty() || element.kind == Kind::Timer) continue;
    if (element.kind == Kind::StatusBar) {
      dockedHeight += element.rect.height;
      continue;
    }
    clientWidth = std::max(clientWidth, element.rect.x + element.rect.width);
    clientHeight = std::max(clientHeight, element.rect.y + element.rect.height);
  }
  RECT needed{0, 0, Scale(clientWidth), Scale(clientHeight + dockedHeight)};
  AdjustWindowRectEx(&needed, kFrameStyle, FALSE, kFrameExStyle);
  width = std::max(width, static_cast<int>(needed.right - needed.left));
  height = std::max(height, static_cast<int>(needed.bottom - needed.top));

  const int left = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  hwnd_ = CreateWindowExW(kFrameExStyle, kFrameWindowClass, Widen(window.text).c_str(), kFrameStyle, left, top, width,
                          height, owner, nullptr, GetModuleHandleW(nullptr), this);
  if (hwnd_ == nullptr) return false;
  SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(frame_.Font()), FALSE);
  // A window that cannot be resized, minimised or maximised offers Move and Close only.
  HMENU systemMenu = GetSystemMenu(hwnd_, FALSE);
  for (UINT command : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE}) {
    DeleteMenu(systemMenu, command, MF_BYCOMMAND);
  }
  return true;
}

// Each control is made inside its container and shown as listed, while the
// window itself is still hidden. A new child goes below its siblings, so made
// in the listed order the controls stack in that order with nothing moved,
// shown or re-parented afterwards: under Wine every such call is a round trip
// or more. Only a container made ahead of its turn, for its first control,
// goes back to its place.
bool Window::CreateControls() {
  std::vector<std::size_t> made;
  made.reserve(slots_.size());
  for (std::size_t i = 1; i < slots_.size(); ++i) {
    if (!CreateElement(i, made)) return false;
  }
  StackAsListed(hwnd_, made);
  for (Slot& slot : slots_) {
    if (!slot.holdsControls) continue;
    StackAsListed(slot.hwnd, made);
    SetWindowSubclass(slot.hwnd, &GroupBoxProcedure, 0, 0);
  }
  return true;
}

bool Window::CreateElement(std::size_t index, std::vector<std::size_t>& made) {
  Slot& slot = slots_[index];
  if (slot.hwnd != nullptr) return true;
  const Element& element = layout_.elements[index];
  const int id = kFirstControlId + static_cast<int>(index);
  if (auto* timer = std::get_if<TimerState>(&slot.state)) {
    timer->Attach(hwnd_, static_cast<UINT_PTR>(id));
    return true;
  }
  HWND parent = hwnd_;
  if (!element.container.empty()) {
    const auto container = static_cast<std::size_t>(IndexOf(element.container));
    if (!CreateElement(container, made)) return false;
    slots_[container].holdsControls = true;
    parent = slots_[container].hwnd;
  }
  HWND control = CreateControl(element, parent, id, frame_.Font(), frame_.Dpi());
  if (control == nullptr) return false;
  slots_[index].hwnd = control;
  made.push_back(index);
  if (auto* list = std::get_if<ListState>(&slots_[index].state)) list->Attach(control);
  if (auto* bar = std::get_if<StatusBarState>(&slots_[index].state)) bar->Attach(control, frame_.Dpi());
  return true;
}

// Puts the children of `parent` into the listed order, moving only those out
// of place. `made` is the order they were made in, which is their stacking
// order so far: each new child went below the others.
void Window::StackAsListed(HWND parent, const std::vector<std::size_t>& made) {
  const auto parentOf = [&](std::size_t i) {
    const std::string_view container = layout_.elements[i].container;
    return container.empty() ? hwnd_ : slots_[static_cast<std::size_t>(IndexOf(container))].hwnd;
  };
  std::vector<std::size_t> stacked;
  for (std::size_t i : made) {
    if (parentOf(i) == parent) stacked.push_back(i);
  }
  std::size_t place = 0;
  for (std::size_t i = 1; i < slots_.size(); ++i) {
    if (slots_[i].hwnd == nullptr || parentOf(i) != parent) continue;
    if (stacked[place] != i) {
      HWND after = place == 0 ? HWND_TOP : slots_[stacked[place - 1]].hwnd;
      SetWindowPos(slots_[i].hwnd, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      stacked.erase(std::ranges::find(stacked, i));
      stacked.insert(stacked.begin() + static_cast<std::ptrdiff_t>(place), i);
    }
    ++place;
  }
}

void Window::FocusInitialControl() {
  const int index = layout_.initialFocus.empty() ? -1 : IndexOf(layout_.initialFocus);
  const std::vector<int> ring = TabRing();
  if (index > 0 && std::ranges::find(ring, index) != ring.end()) {
    SetFocus(slots_[static_cast<std::size_t>(index)].hwnd);
  } else if (!ring.empty()) {
    SetFocus(slots_[static_cast<std::size_t>(ring.front())].hwnd);
  }
}

void Window::Raise(std::size_t element, Event event, std::span<const std::string> paths) {
  const std::string_view name = layout_.elements[element].name;
  const auto handler = std::ranges::find_if(handlers_, [&](const HandlerBinding& binding) {
    return binding.element == name && binding.event == event;
  });
  if (handler == handlers_.end() || !handler->handler) return;
  // No exception may cross the window procedure; one that reaches here is a
  // fault of the program, and the frame's answer to faults is the fatal error.
  try {
    handler->handler(*this, EventArgs{.element = name, .event = event, .paths = paths});
  } catch (const std::exception& error) {
    TerminateWithFatalError({.code = std::nullopt, .text = error.what()});
  } catch (...) {
    TerminateWithFatalError({.code = std::nullopt, .text = "unknown exception"});
  }
}

LRESULT CALLBACK Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    if (self != nullptr) {
      self->hwnd_ = hwnd;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
  }
  Window* self = FromHandle(hwnd);
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  ++self->dispatchDepth_;
  const LRESULT result = self->HandleMessage(message, wParam, lParam);
  --self->dispatchDepth_;
  return result;
}

LRESULT Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      return OnCommand(wParam, lParam);
    case WM_TIMER:
      return OnTimer(wParam);
    case WM_SIZE:
      return OnSize(wParam, lParam);
    case WM_DROPFILES:
      return OnDropFiles(wParam);
    case WM_NOTIFY:
      return OnNotify(wParam, lParam);
    case WM_ACTIVATE:
      return OnActivate(wParam);
    case WM_NCDESTROY:
      return OnNcDestroy(wParam, lParam);
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT Window::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int index = LOWORD(wParam) - kFirstControlId;
  if (HIWORD(wParam) != BN_CLICKED || index <= 0 || index >= static_cast<int>(slots_.size())) return 0;
  const auto element = static_cast<std::size_t>(index);
  if (slots_[element].hwnd != reinterpret_cast<HWND>(lParam)) return 0;
  const Kind kind = layout_.elements[element].kind;
  if (kind == Kind::Button || kind == Kind::RadioBox) Raise(element, Event::Click);
  return 0;
}

LRESULT Window::OnTimer(WPARAM wParam) {
  const auto element = static_cast<std::size_t>(wParam) - kFirstControlId;
  if (element >= slots_.size()) return 0;
  const auto* timer = std::get_if<TimerState>(&slots_[element].state);
  if (timer != nullptr && timer->Ticks(wParam)) Raise(element, Event::Tick);
  return 0;
}

// The list's questions about its rows go to the list's own state.
LRESULT Window::OnNotify(WPARAM wParam, LPARAM lParam) {
  const auto* header = reinterpret_cast<const NMHDR*>(lParam);
  if (header->hwndFrom != nullptr) {
    for (const Slot& slot : slots_) {
      const auto* list = std::get_if<ListState>(&slot.state);
      LRESULT result = 0;
      if (list != nullptr && slot.hwnd == header->hwndFrom && list->Answer(*header, result)) return result;
    }
  }
  return DefWindowProcW(hwnd_, WM_NOTIFY, wParam, lParam);
}

LRESULT Window::OnSize(WPARAM, LPARAM) {
  DockStatusBars();
  return 0;
}

void Window::DockStatusBars() {
  RECT client;
  GetClientRect(hwnd_, &client);
  for (std::size_t i = 1; i < slots_.size(); ++i) {
    if (layout_.elements[i].kind != Kind::StatusBar || slots_[i].hwnd == nullptr) continue;
    const int height = Scale(layout_.elements[i].rect.height);
    SetWindowPos(slots_[i].hwnd, nullptr, 0, client.bottom - height, client.right, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

LRESULT Window::OnDropFiles(WPARAM wParam) {
  auto drop = reinterpret_cast<HDROP>(wParam);
  std::vector<std::string> paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = DragQueryFileW(drop, i, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    DragQueryFileW(drop, i, path.data(), length + 1);
    path.resize(length);
    paths.push_back(Narrow(path));
  }
  DragFinish(drop);
  Raise(0, Event::FilesDropped, paths);
  return 0;
}

// As dialogs do: the control that had the focus when the window lost the
// activation (to a chooser or a message box) gets it back.
LRESULT Window::OnActivate(WPARAM wParam) {
  if (LOWORD(wParam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    focusBeforeDeactivation_ = IndexOfHandle(focus) > 0 ? focus : nullptr;
    return 0;
  }
  if (IsWindow(focusBeforeDeactivation_) && IsWindowVisible(focusBeforeDeactivation_) &&
      IsWindowEnabled(focusBeforeDeactivation_)) {
    SetFocus(focusBeforeDeactivation_);
  } else {
    FocusInitialControl();
  }
  return 0;
}

LRESULT Window::OnNcDestroy(WPARAM wParam, LPARAM lParam) {
  HWND hwnd = std::exchange(hwnd_, nullptr);
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
  ForgetHandles();
  frame_.OnWindowDestroyed();
  return DefWindowProcW(hwnd, WM_NCDESTROY, wParam, lParam);
}

// The controls are gone with the window; the list keeps its rows for whoever
// still reads them.
void Window::ForgetHandles() {
  for (Slot& slot : slots_) {
    slot.hwnd = nullptr;
    std::visit(
        [](auto& state) {
          using State = std::decay_t<decltype(state)>;
          if constexpr (std::is_same_v<State, ListState>) state.Attach(nullptr);
          if constexpr (std::is_same_v<State, StatusBarState> || std::is_same_v<State, TimerState>) state.Detach();
        },
        slot.state);
  }
}

HWND Window::CreateOwnerWindow() {
  if (RegisterFrameClass(&Procedure) == 0) return nullptr;
  return CreateWindowExW(0, kFrameWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleW(nullptr),
                         nullptr);
}

ElementNameFaultHook SetElementNameFaultHook(ElementNameFaultHook hook) {
  return std::exchange(elementNameFaultHook, hook);
}

}  // namespace quorvane

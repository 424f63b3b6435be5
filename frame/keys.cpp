// The frame's keys, as dialogs give them: Tab and Shift+Tab round the
// window's controls, the arrows through a group of radio boxes, Esc closes
// the window and Enter does nothing.
#include "frame/frame.h"

#include <algorithm>
#include <vector>

namespace quorvane {
namespace {

bool IsKeyDown(int key) { return (GetKeyState(key) & 0x8000) != 0; }

}  // namespace

std::vector<int> Window::TabRing() const {
  std::vector<int> ring;
  for (std::size_t i = layout_.elements.size() - 1; i >= 1; --i) {
    const Element& element = layout_.elements[i];
    HWND control = slots_[i].hwnd;
    if (!element.tabStop || control == nullptr) continue;
    if (!IsWindowVisible(control) || !IsWindowEnabled(control)) continue;
    if (!element.container.empty() && !IsWindowEnabled(GetParent(control))) continue;
    ring.push_back(static_cast<int>(i));
  }
  std::ranges::stable_sort(ring, {}, [&](int i) { return layout_.elements[static_cast<std::size_t>(i)].tabIndex; });
  return ring;
}

bool Window::MoveFocus(HWND focus, bool backward) {
  const std::vector<int> ring = TabRing();
  if (ring.empty()) return false;
  const auto current = std::ranges::find(ring, IndexOfHandle(focus));
  std::size_t next = 0;
  if (current == ring.end()) {
    next = backward ? ring.size() - 1 : 0;
  } else {
    const auto position = static_cast<std::size_t>(current - ring.begin());
    next = backward ? (position + ring.size() - 1) % ring.size() : (position + 1) % ring.size();
  }
  HWND target = slots_[static_cast<std::size_t>(ring[next])].hwnd;
  SetFocus(target);
  // As in dialogs, a field reached by Tab has its whole text selected.
  if (layout_.elements[static_cast<std::size_t>(ring[next])].kind == Kind::EditBox) {
    SendMessageW(target, EM_SETSEL, 0, -1);
  }
  return true;
}

bool Window::MoveRadio(int current, bool backward) {
  const std::string_view container = layout_.elements[static_cast<std::size_t>(current)].container;
  std::vector<int> group;
  for (std::size_t i = layout_.elements.size() - 1; i >= 1; --i) {
    const Element& element = layout_.elements[i];
    HWND control = slots_[i].hwnd;
    if (element.kind != Kind::RadioBox || element.container != container || control == nullptr) continue;
    if (IsWindowVisible(control) && IsWindowEnabled(control)) group.push_back(static_cast<int>(i));
  }
  std::ranges::stable_sort(group, {}, [&](int i) { return layout_.elements[static_cast<std::size_t>(i)].tabIndex; });
  const auto found = std::ranges::find(group, current);
  if (found == group.end()) return false;
  const auto position = static_cast<std::size_t>(found - group.begin());
  const std::size_t next = backward ? (position + group.size() - 1) % group.size() : (position + 1) % group.size();
  const auto target = static_cast<std::size_t>(group[next]);
  SetFocus(slots_[target].hwnd);
  for (int member : group) {
    Control(slots_[static_cast<std::size_t>(member)].hwnd).SetChecked(static_cast<std::size_t>(member) == target);
  }
  Raise(target, Event::Click);
  return true;
}

bool Window::TranslateKey(const MSG& message) {
  if (message.message != WM_KEYDOWN || hwnd_ == nullptr) return false;
  const auto key = static_cast<int>(message.wParam);
  if (key != VK_TAB && key != VK_ESCAPE && key != VK_RETURN && key != VK_LEFT && key != VK_RIGHT && key != VK_UP &&
      key != VK_DOWN) {
    return false;
  }
  // A control that asks for the key itself gets it first.
  const auto wants = static_cast<UINT>(
      SendMessageW(message.hwnd, WM_GETDLGCODE, message.wParam, reinterpret_cast<LPARAM>(&message)));
  if ((wants & (DLGC_WANTALLKEYS | DLGC_WANTMESSAGE)) != 0) return false;
  switch (key) {
    case VK_TAB:
      if ((wants & DLGC_WANTTAB) != 0 || IsKeyDown(VK_CONTROL) || IsKeyDown(VK_MENU)) return false;
      return MoveFocus(message.hwnd, IsKeyDown(VK_SHIFT));
    case VK_ESCAPE:
      Close();
      return true;
    case VK_RETURN:
      return true;
    default: {
      if ((wants & DLGC_WANTARROWS) != 0) return false;
      const int current = IndexOfHandle(message.hwnd);
      if (current <= 0 || layout_.elements[static_cast<std::size_t>(current)].kind != Kind::RadioBox) return false;
      return MoveRadio(current, key == VK_LEFT || key == VK_UP);
    }
  }
}

void DispatchFrameMessage(MSG& message) {
  if (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST && message.hwnd != nullptr) {
    Window* window = Window::FromHandle(GetAncestor(message.hwnd, GA_ROOT));
    if (window != nullptr && window->TranslateKey(message)) return;
  }
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

}  // namespace quorvane

#include "frame/layout_check.h"

#include <algorithm>

namespace quorvane {

bool RaisesEvent(Kind kind, Event event) {
  switch (event) {
    case Event::CreationComplete:
    case Event::FilesDropped:
      return kind == Kind::Window;
    case Event::Click:
      return kind == Kind::Button || kind == Kind::RadioBox;
    case Event::Tick:
      return kind == Kind::Timer;
  }
  return false;
}

const Element* FindElement(const Layout& layout, std::string_view name) {
  const auto found = std::ranges::find(layout.elements, name, &Element::name);
  return found == layout.elements.end() ? nullptr : &*found;
}

std::optional<LayoutProblem> CheckLayout(const Layout& layout) {
  if (layout.elements.empty() || layout.elements.front().kind != Kind::Window) {
    return LayoutProblem{LayoutFault::NoWindow, {}};
  }
  for (std::size_t i = 0; i < layout.elements.size(); ++i) {
    const Element& element = layout.elements[i];
    const int kind = static_cast<int>(element.kind);
    if (kind < 0 || kind >= kKindCount || (i > 0 && element.kind == Kind::Window)) {
      return LayoutProblem{LayoutFault::UnknownKind, element.name};
    }
    if (element.name.empty() || FindElement(layout, element.name) != &element) {
      return LayoutProblem{LayoutFault::BadName, element.name};
    }
    if (!element.container.empty()) {
      const Element* container = FindElement(layout, element.container);
      if (container == nullptr || container->kind != Kind::GroupBox || container == &element) {
        return LayoutProblem{LayoutFault::UnknownContainer, element.name};
      }
    }
    if (element.rect.width < 0 || element.rect.height < 0) {
      return LayoutProblem{LayoutFault::BadRect, element.name};
    }
  }
  for (std::size_t i = 0; i < layout.bindings.size(); ++i) {
    const Binding& binding = layout.bindings[i];
    const Element* element = FindElement(layout, binding.element);
    const auto earlier = layout.bindings.first(i);
    const bool repeated = std::ranges::any_of(earlier, [&](const Binding& other) {
      return other.element == binding.element && other.event == binding.event;
    });
    if (element == nullptr || !RaisesEvent(element->kind, binding.event) || repeated) {
      return LayoutProblem{LayoutFault::BadBinding, binding.element};
    }
  }
  if (!layout.initialFocus.empty()) {
    const Element* focus = FindElement(layout, layout.initialFocus);
    if (focus == nullptr || !focus->tabStop || focus->kind == Kind::Window) {
      return LayoutProblem{LayoutFault::BadFocus, layout.initialFocus};
    }
  }
  return std::nullopt;
}

}  // namespace quorvane

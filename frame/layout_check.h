// Start-up check that a layout holds together before any window is built from it.
#pragma once

#include <optional>
#include <string_view>

#include "frame/layout.h"

namespace quorvane {

enum class LayoutFault {
  NoWindow,          // empty, or the first element is not the window
  UnknownKind,       // a kind value outside the known kinds, or a second window
  BadName,           // empty or duplicate element name
  UnknownContainer,  // the container is not a group box listed in the layout
  BadRect,           // negative width or height
  BadBinding,        // unknown element, event the element never raises, or bound twice
  BadFocus,          // the initial focus is not a control of the Tab ring
};

struct LayoutProblem {
  LayoutFault fault;
  std::string_view element;
};

std::optional<LayoutProblem> CheckLayout(const Layout& layout);

// True when elements of `kind` raise `event`.
bool RaisesEvent(Kind kind, Event event);

// The element named `name`, or nullptr.
const Element* FindElement(const Layout& layout, std::string_view name);

}  // namespace quorvane

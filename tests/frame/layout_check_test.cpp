#include "frame/layout_check.h"

#include <gtest/gtest.h>

#include <array>

namespace quorvane {
namespace {

// A well-formed layout to break one piece at a time.
struct TestLayout {
  std::array<Element, 4> elements{{
      {.name = "W", .kind = Kind::Window, .rect = {0, 0, 300, 200}, .text = "w"},
      {.name = "ok", .kind = Kind::Button, .container = "group", .rect = {8, 16, 60, 24}, .tabStop = true},
      {.name = "tick", .kind = Kind::Timer},
      {.name = "group", .kind = Kind::GroupBox, .rect = {8, 8, 200, 100}},
  }};
  std::array<Binding, 3> bindings{{
      {.element = "W", .event = Event::CreationComplete},
      {.element = "ok", .event = Event::Click},
      {.element = "tick", .event = Event::Tick},
  }};
  std::string_view focus = "ok";

  Layout Get() const { return {.elements = elements, .bindings = bindings, .initialFocus = focus}; }
};

std::optional<LayoutFault> FaultOf(const TestLayout& layout) {
  const auto problem = CheckLayout(layout.Get());
  return problem ? std::optional(problem->fault) : std::nullopt;
}

TEST(LayoutCheck, AcceptsWellFormedLayout) { EXPECT_EQ(FaultOf(TestLayout{}), std::nullopt); }

TEST(LayoutCheck, RefusesLayoutWithoutWindowFirst) {
  TestLayout layout;
  std::swap(layout.elements[0], layout.elements[1]);
  EXPECT_EQ(FaultOf(layout), LayoutFault::NoWindow);
  EXPECT_EQ(CheckLayout(Layout{})->fault, LayoutFault::NoWindow);
}

TEST(LayoutCheck, RefusesUnknownKindAndSecondWindow) {
  TestLayout unknown;
  unknown.elements[1].kind = static_cast<Kind>(kKindCount);
  EXPECT_EQ(FaultOf(unknown), LayoutFault::UnknownKind);
  TestLayout twoWindows;
  twoWindows.elements[2].kind = Kind::Window;
  twoWindows.bindings[2] = {.element = "W", .event = Event::FilesDropped};
  const auto problem = CheckLayout(twoWindows.Get());
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->fault, LayoutFault::UnknownKind);
  EXPECT_EQ(problem->element, "tick");
}

TEST(LayoutCheck, RefusesDuplicateOrEmptyNames) {
  TestLayout duplicate;
  duplicate.elements[2].name = "ok";
  duplicate.bindings[2] = {.element = "W", .event = Event::FilesDropped};
  EXPECT_EQ(FaultOf(duplicate), LayoutFault::BadName);
  TestLayout empty;
  empty.elements[2].name = "";
  empty.bindings[2] = {.element = "W", .event = Event::FilesDropped};
  EXPECT_EQ(FaultOf(empty), LayoutFault::BadName);
}

TEST(LayoutCheck, RefusesContainersThatAreNotGroupBoxes) {
  TestLayout missing;
  missing.elements[1].container = "nowhere";
  EXPECT_EQ(FaultOf(missing), LayoutFault::UnknownContainer);
  TestLayout button;
  button.elements[1].container = "tick";
  EXPECT_EQ(FaultOf(button), LayoutFault::UnknownContainer);
  TestLayout itself;
  itself.elements[3].container = "group";
  EXPECT_EQ(FaultOf(itself), LayoutFault::UnknownContainer);
}

TEST(LayoutCheck, RefusesNegativeSizes) {
  TestLayout layout;
  layout.elements[3].rect.height = -1;
  EXPECT_EQ(FaultOf(layout), LayoutFault::BadRect);
}

TEST(LayoutCheck, RefusesBindingsNoElementCanRaise) {
  TestLayout unknown;
  unknown.bindings[1].element = "missing";
  EXPECT_EQ(FaultOf(unknown), LayoutFault::BadBinding);
  TestLayout wrongEvent;
  wrongEvent.bindings[2] = {.element = "group", .event = Event::Click};
  EXPECT_EQ(FaultOf(wrongEvent), LayoutFault::BadBinding);
  TestLayout twice;
  twice.bindings[2] = twice.bindings[1];
  EXPECT_EQ(FaultOf(twice), LayoutFault::BadBinding);
}

TEST(LayoutCheck, InitialFocusMustBeATabStop) {
  TestLayout group;
  group.focus = "group";
  EXPECT_EQ(FaultOf(group), LayoutFault::BadFocus);
  TestLayout missing;
  missing.focus = "missing";
  EXPECT_EQ(FaultOf(missing), LayoutFault::BadFocus);
}

}  // namespace
}  // namespace quorvane

// Linked into every test program that builds windows from layouts: an
// accessor asked for by a mistyped element name fails the running test.
#include <gtest/gtest.h>

#include "frame/frame.h"

namespace {

void FailTheRunningTest(std::string_view window, std::string_view element) {
  ADD_FAILURE() << "the window " << window << " has no element " << element << " of the kind asked for";
}

[[maybe_unused]] const quorvane::ElementNameFaultHook replaced =
    quorvane::SetElementNameFaultHook(&FailTheRunningTest);

}  // namespace

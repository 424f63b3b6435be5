// Case folding for the ASCII letters only: the rule of the font patterns, and
// a safe one, since it never turns two different names into one by accident of
// locale.
#pragma once

namespace quorvane {

constexpr char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace quorvane

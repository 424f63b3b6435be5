// File names compared as the target's file system compares them: exactly on
// POSIX, where "Foo.ttf" and "foo.ttf" are two files; on Windows by NTFS's own
// rule, every letter folded, so "Übung.ttf" and "übung.ttf" are one file.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// One key per file: two names have the same key exactly when the file system
// takes them for the same file.
std::string NameKey(std::string_view name);

}  // namespace quorvane

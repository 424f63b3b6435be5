// What the files of the Windows file operations share.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/win32_handles.h"

namespace quorvane {

// The wide path for a file call, in the long form where it needs to be
// (file_ops_win32.cpp).
std::wstring SystemPath(std::string_view utf8);

// ---- The restart's rename list (restart_renames_win32.cpp) ------------------

// A copy waiting for the restart: a temporary's name with ".pending" for ".tmp".
bool IsWaitingName(std::wstring_view name);

// Takes back what earlier runs scheduled for `target`, all but `keep`.
void WithdrawWaitingCopies(const std::wstring& target, std::wstring_view keep = {});

// Leaves the temporary `file` at `tempPath` to replace `targetPath` when the
// system next starts; false, with nothing left behind, when it will not.
bool ScheduleAtReboot(UniqueKernelHandle& file, const std::wstring& tempPath, const std::wstring& targetPath);

struct RestartRename {
  std::wstring from, to;
};

// The list as one folder's clean-up asks it, read once, when first asked.
class RestartRenameList {
 public:
  // Whether a rename of the list moves `path`; true too when the list cannot
  // be read, so that a copy that may still be waiting is kept.
  bool Moves(const std::wstring& path);

 private:
  std::optional<std::vector<RestartRename>> renames_;
  bool read_ = false;
};

}  // namespace quorvane

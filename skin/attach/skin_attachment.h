// The program's one call into the skin: call once at start-up, on the thread
// that will own the windows, before the tool window is first shown.
#pragma once

namespace quorvane {

// Brings the skin library carried in this executable into the process and
// hands it the carried skin. False when anything is missing or refused; the
// program then simply keeps the system look and says nothing.
bool SkinAttachment();

}  // namespace quorvane

// The program's calls into the skin: SkinAttachment once at start-up, on the
// thread that will own the windows, before the tool window is first shown.
#pragma once

namespace quorvane {

// Starts the skin's file work (clearing ended runs' folders, writing the
// library to its private folder, reading it back, loading it) on a thread of
// its own, so that it overlaps the rest of start-up. Optional; call it once
// DLLs come from the system folder only.
void PrepareSkinAttachment();

// Brings the skin library carried in this executable into the process and
// hands it the carried skin, after waiting for PrepareSkinAttachment's work
// (or doing that work itself). False when anything is missing or refused;
// the program then simply keeps the system look and says nothing.
bool SkinAttachment();

}  // namespace quorvane

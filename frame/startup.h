// What the process does before it builds any window, and undoes at the end.
#pragma once

#include <string>

namespace quorvane {

// DLLs come from the system folder only: making the executable's folder the
// current directory must not make it a place DLLs are loaded from.
bool RestrictDllSearch();

// The folder of the executable: its path cut at the last backslash.
std::wstring ExecutableFolder();

// Makes the executable's folder the current directory.
bool EnterExecutableFolder();

// OLE initialised for the lifetime of the object, once per process.
class OleSession {
 public:
  OleSession();
  ~OleSession();
  OleSession(const OleSession&) = delete;
  OleSession& operator=(const OleSession&) = delete;

  bool Ready() const { return ready_; }

 private:
  bool ready_ = false;
};

}  // namespace quorvane

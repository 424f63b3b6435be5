// What the command-line tool needs of its platform: the standard streams and
// the terminal, interrupts, the log file, who and where it runs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cli/report.h"
#include "sync/files/file_error.h"

namespace quorvane::cli {

enum class Stream { Out, Err };

// Writes UTF-8 text at once; on a Windows console as wide text, so Chinese shows right.
void Write(Stream stream, std::string_view text);
bool IsTerminal(Stream stream);

// A monotonic clock in milliseconds, as coarse as the system's tick (1-16 ms):
// enough for batching output and asked once per row, so it must be cheap.
std::int64_t CoarseMilliseconds();

// How this platform spells paths (see PathStyle).
extern const PathStyle kPathStyle;

// The terminal of standard error, made ready for a progress line for the
// object's life: on Windows with escape sequences where the console can be
// switched to them (and switched back after).
class ErrorTerminal {
 public:
  ErrorTerminal();
  ~ErrorTerminal();
  ErrorTerminal(const ErrorTerminal&) = delete;
  ErrorTerminal& operator=(const ErrorTerminal&) = delete;

  bool IsTerminal() const { return terminal_; }
  // "\x1b[K" erases a line; otherwise lines are erased with spaces.
  bool HasEscapes() const { return escapes_; }
  int Columns() const;

 private:
  bool terminal_ = false;
  bool escapes_ = false;
  [[maybe_unused]] unsigned long savedMode_ = 0;  // Windows: the console mode to restore
};

// Ctrl+C, Ctrl+Break and closing the console on Windows; SIGINT, SIGTERM and
// SIGHUP on POSIX. The first asks the run to stop (InterruptRequested); a
// second removes the temporary of the copy in progress and ends the process
// at once with status 130. Installed for the object's life; `message` is
// written to standard error when the second one ends the process.
class InterruptHandlers {
 public:
  explicit InterruptHandlers(std::string_view message);
  ~InterruptHandlers();
  InterruptHandlers(const InterruptHandlers&) = delete;
  InterruptHandlers& operator=(const InterruptHandlers&) = delete;

  // The run has written its summary: a console being closed may end the process now.
  void RunEnded();
};

bool InterruptRequested();

// root on POSIX, SYSTEM on Windows: an account whose log must not be a file
// that another could have put in its way.
bool RunsAsSystemAccount();

// Why a log file was refused, when the system did not fail to open it.
enum class LogRefusal {
  None,
  Link,    // the name is a symbolic link (POSIX) or a reparse point (Windows)
  NotOwn,  // `ownOnly`: the file or its folder is another account's, or another may write it
};

// A file that lines are appended to, created when missing, never through a
// link. `ownOnly`: only a file, and a folder, that no other account than this
// one (and root, or Administrators and SYSTEM) owns or may write, and that has
// no second name.
class AppendFile {
 public:
  static std::optional<AppendFile> Open(std::string_view path, bool ownOnly, FileError& error, LogRefusal& refusal);
  AppendFile(AppendFile&& other) noexcept;
  AppendFile& operator=(AppendFile&& other) noexcept;
  ~AppendFile();

  bool Append(std::string_view text);

 private:
  struct Handle;
  explicit AppendFile(std::unique_ptr<Handle> handle);
  std::unique_ptr<Handle> handle_;
};

// Like `mkdir -p`: every missing folder of `path`, mode 0755 less the umask on POSIX.
FileResult MakeFolders(std::string_view path);

std::string HostName();
std::string UserName();

}  // namespace quorvane::cli

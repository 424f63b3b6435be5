#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/posix_handles.h"
#include "sync/file_ops.h"
#include "sync/install_record.h"

namespace quorvane {
namespace {

// $XDG_STATE_HOME/quorvane/records, as the base directory spec has it: an absolute
// XDG_STATE_HOME, else ~/.local/state.
std::string RecordsFolder() {
  std::string state;
  if (const char* value = std::getenv("XDG_STATE_HOME"); value != nullptr && value[0] == '/') {
    state = value;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != 0) {
    state = std::string(home) + "/.local/state";
  }
  return state.empty() ? std::string() : state + "/quorvane/records";
}

std::string RecordFile(std::string_view folder, std::string_view suffix) {
  return RecordsFolder() + "/" + Hex(RecordChecksum(folder)) + std::string(suffix);
}

// Like mkdir -p, what it makes private whatever the umask: the records say what may be removed.
FileResult MakeRecordsFolder() {
  const std::string folder = RecordsFolder();
  if (folder.empty()) return Failure(FileStep::Record, ENOENT);
  // After the first run it is there: one call instead of one a level.
  if (struct stat made; ::stat(folder.c_str(), &made) == 0 && S_ISDIR(made.st_mode)) return {};
  for (size_t slash = 1; slash != std::string::npos;) {
    slash = folder.find('/', slash + 1);
    const std::string level = folder.substr(0, slash);
    if (::mkdir(level.c_str(), 0700) == 0) {
      ::chmod(level.c_str(), 0700);
    } else if (errno != EEXIST) {
      return Failure(FileStep::Record, errno);
    }
  }
  return {};
}

}  // namespace

std::string CanonicalFolder(std::string_view folder) {
  char resolved[PATH_MAX];
  if (::realpath(std::string(folder).c_str(), resolved) != nullptr) return resolved;
  return std::string(folder);
}

void RecordLock::Release() {
  if (native_ >= 0) ::close(static_cast<int>(native_));  // the lock goes with it
  native_ = -1;
}

FileResult RecordLock::Take(std::string_view folder, FontScope) {
  Release();
  if (FileResult made = MakeRecordsFolder(); !made) return made;
  UniqueFd fd{::open(RecordFile(folder, ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)};
  if (!fd || ::fchmod(fd.Get(), 0600) != 0) return Failure(FileStep::Record, errno);
  while (::flock(fd.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) return Failure(FileStep::Record, errno);
  }
  native_ = fd.Release();
  return {};
}

std::variant<RecordText, FileError> LoadRecord(std::string_view folder, FontScope) {
  if (RecordsFolder().empty()) return RecordText{};
  const UniqueFd fd{::open(RecordFile(folder, ".record").c_str(), O_RDONLY | O_CLOEXEC)};
  if (!fd) {
    if (errno == ENOENT) return RecordText{};
    return FileError{FileStep::Record, errno};
  }
  RecordText record{true, {}};
  // Read in place at the size the file has, in more steps only if it grows meanwhile.
  struct stat status;
  if (::fstat(fd.Get(), &status) != 0) return FileError{FileStep::Record, errno};
  record.text.resize(static_cast<size_t>(status.st_size) + 1);
  size_t have = 0;
  for (;;) {
    if (have == record.text.size()) record.text.resize(have * 2);
    const ssize_t got = ::read(fd.Get(), record.text.data() + have, record.text.size() - have);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return FileError{FileStep::Record, errno};
    if (got == 0) break;
    have += static_cast<size_t>(got);
  }
  record.text.resize(have);
  return record;
}

// The new record's data on the disk before it replaces the old one, and the
// folder after: a crash or a power cut leaves the old record or the new.
FileResult SaveRecord(std::string_view folder, FontScope, std::string_view text) {
  if (FileResult made = MakeRecordsFolder(); !made) return made;
  const std::string path = RecordFile(folder, ".record"), temporary = RecordFile(folder, ".record.new");
  UniqueFd fd{::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)};
  if (!fd || ::fchmod(fd.Get(), 0600) != 0) return Failure(FileStep::Record, errno);
  for (size_t done = 0; done < text.size();) {
    const ssize_t put = ::write(fd.Get(), text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      const int error = put < 0 ? errno : EIO;
      ::unlink(temporary.c_str());
      return Failure(FileStep::Record, error);
    }
    done += static_cast<size_t>(put);
  }
  if (::fsync(fd.Get()) != 0 || ::close(fd.Release()) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return Failure(FileStep::Record, error);
  }
  const UniqueFd records{::open(RecordsFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (records) ::fsync(records.Get());
  return {};
}

std::string RecordLocation(std::string_view folder, FontScope) { return RecordFile(folder, ".record"); }

}  // namespace quorvane

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "base/posix_handles.h"
#include "cli/platform.h"
#include "sync/files/file_ops.h"

namespace quorvane::cli {

const PathStyle kPathStyle = PathStyle::Posix;

namespace {

int DescriptorOf(Stream stream) { return stream == Stream::Out ? STDOUT_FILENO : STDERR_FILENO; }

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t put = ::write(fd, text.data(), text.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    text.remove_prefix(static_cast<size_t>(put));
  }
  return true;
}

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction savedActions[std::size(kSignals)];
struct sigaction savedPipeAction;
volatile std::sig_atomic_t interrupts = 0;
char secondInterruptMessage[256];
size_t secondInterruptMessageSize = 0;

extern "C" void OnInterrupt(int) {
  if (interrupts != 0) {
    AbandonCopyInProgress();
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, secondInterruptMessage, secondInterruptMessageSize);
    ::_exit(130);
  }
  interrupts = 1;
}

}  // namespace

void Write(Stream stream, std::string_view text) { WriteAll(DescriptorOf(stream), text); }

bool IsTerminal(Stream stream) { return ::isatty(DescriptorOf(stream)) != 0; }

std::int64_t CoarseMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

ErrorTerminal::ErrorTerminal() : terminal_(::isatty(STDERR_FILENO) != 0) {
  const char* term = std::getenv("TERM");
  escapes_ = terminal_ && term != nullptr && term[0] != 0 && std::strcmp(term, "dumb") != 0;
}

ErrorTerminal::~ErrorTerminal() = default;

int ErrorTerminal::Columns() const {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// No SA_RESTART: a blocking call returns EINTR, so the copy hears the signal
// within its current piece.
InterruptHandlers::InterruptHandlers(std::string_view message) {
  secondInterruptMessageSize = std::min(message.size(), sizeof secondInterruptMessage);
  std::memcpy(secondInterruptMessage, message.data(), secondInterruptMessageSize);
  interrupts = 0;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &savedActions[i]);
  // A reader that went away (`| head`) must not end a copy half-way: the
  // writes fail instead, and the run goes on.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, &savedPipeAction);
}

InterruptHandlers::~InterruptHandlers() {
  for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &savedActions[i], nullptr);
  ::sigaction(SIGPIPE, &savedPipeAction, nullptr);
}

void InterruptHandlers::RunEnded() {}

bool InterruptRequested() { return interrupts != 0; }

struct AppendFile::Handle {
  UniqueFd fd;
};

AppendFile::AppendFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
AppendFile::AppendFile(AppendFile&& other) noexcept = default;
AppendFile& AppendFile::operator=(AppendFile&& other) noexcept = default;
AppendFile::~AppendFile() = default;

bool RunsAsSystemAccount() { return ::geteuid() == 0; }

namespace {

// This account's or root's, and nobody else may write it.
bool OwnedAlone(const struct stat& info) {
  return (info.st_uid == ::geteuid() || info.st_uid == 0) && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

// The folder is opened first and the name in it after, so what is checked is
// what is written to.
std::optional<AppendFile> AppendFile::Open(std::string_view path, bool ownOnly, FileError& error, LogRefusal& refusal) {
  refusal = LogRefusal::None;
  const std::string full(path);
  const size_t slash = full.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : full.substr(0, std::max<size_t>(slash, 1));
  const std::string name = slash == std::string::npos ? full : full.substr(slash + 1);
  UniqueFd folderFd{::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  struct stat info {};
  if (!folderFd || ::fstat(folderFd.Get(), &info) != 0) {
    error = {FileStep::Open, errno};
    return std::nullopt;
  }
  if (ownOnly && !OwnedAlone(info)) {
    refusal = LogRefusal::NotOwn;
    return std::nullopt;
  }
  // Non-blocking: a FIFO put in the log's place must not hold the run.
  const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | (ownOnly ? O_NONBLOCK : 0);
  UniqueFd fd{::openat(folderFd.Get(), name.c_str(), flags, 0644)};
  if (!fd) {
    // The name holds no slash: ELOOP means it is a link itself.
    if (errno == ELOOP) refusal = LogRefusal::Link;
    error = {FileStep::Open, errno};
    return std::nullopt;
  }
  if (ownOnly && (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 || !OwnedAlone(info))) {
    refusal = LogRefusal::NotOwn;
    return std::nullopt;
  }
  return AppendFile(std::make_unique<Handle>(Handle{std::move(fd)}));
}

bool AppendFile::Append(std::string_view text) { return WriteAll(handle_->fd.Get(), text); }

FileResult MakeFolders(std::string_view path) {
  const std::string full(path);
  for (size_t end = full.find('/', 1);; end = full.find('/', end + 1)) {
    const std::string prefix = full.substr(0, end);
    if (!prefix.empty() && ::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return Failure(FileStep::Open, errno);
    if (end == std::string::npos) break;
  }
  return IsFolder(full) ? FileResult{} : Failure(FileStep::Open, ENOTDIR);
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "?";
  return name;
}

std::string UserName() {
  if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_name != nullptr) {
    return entry->pw_name;
  }
  return std::to_string(::geteuid());
}

}  // namespace quorvane::cli

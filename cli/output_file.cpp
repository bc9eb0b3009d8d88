// SPDX-License-Identifier: MIT
#include "output_file.hpp"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "io.hpp"

namespace tuvello::cli {
namespace {

// The temporary file a signal handler must remove: a fixed buffer, since the
// handler may only make async-signal-safe calls.
char pending_temp[PATH_MAX + NAME_MAX + 2];
volatile sig_atomic_t pending = 0;

// Every signal whose default action ends the process, real-time ones
// included; SIGKILL cannot be caught. Filled by install_cleanup_on_signals.
sigset_t cleanup_signals;
// What each of them did before the tool took it over: restored before the
// signal is raised again, so the tool ends as it would have.
struct sigaction previous_action[NSIG];

// Holds the cleanup signals back while the pending name changes, so a handler
// never sees half of it, nor a file that exists but is not recorded.
class SignalsHeld {
 public:
  SignalsHeld() { sigprocmask(SIG_BLOCK, &cleanup_signals, &old_); }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

extern "C" void remove_pending_temp_and_die(int signal_number) {
  if (pending) ::unlink(pending_temp);
  pending = 0;
  ::sigaction(signal_number, &previous_action[signal_number], nullptr);
  ::raise(signal_number);  // delivered when the handler returns
}

std::string describe(const char* what, const std::string& name) {
  return std::string(what) + " '" + escape_name(name) + "': " + std::strerror(errno);
}

// Why no temporary file could be made beside `path` in `directory`, naming
// the folder.
std::string temporary_failed(const std::string& path, const std::string& directory) {
  const int error = errno;
  if (error == ENOENT) {
    return "cannot write '" + escape_name(path) + "': the folder '" + escape_name(directory) +
           "' does not exist";
  }
  return "cannot write '" + escape_name(path) + "': no new file can be made in the folder '" +
         escape_name(directory) + "': " + std::strerror(error);
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string base_name_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t new_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool is_terminal(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool tty = ::isatty(fd) != 0;
  ::close(fd);
  return tty;
}

// A socket takes the bytes through a connection, not open().
int connect_to_socket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

bool sync_directory(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // Some file systems cannot sync a directory; the rename stands regardless.
  const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return synced;
}

}  // namespace

std::optional<ResolvedPath> resolve_output(const std::string& path) {
  ResolvedPath r;
  r.path = path;
  for (int links = 0;; ++links) {
    struct stat st {};
    if (::lstat(r.path.c_str(), &st) != 0) {
      if (errno != ENOENT) return std::nullopt;
      return r;  // a new file, or the missing end of a chain of links
    }
    if (S_ISLNK(st.st_mode)) {
      if (links == 40) {
        errno = ELOOP;
        return std::nullopt;
      }
      std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
      const ssize_t n = ::readlink(r.path.c_str(), link.data(), link.size());
      if (n < 0) return std::nullopt;
      link.resize(static_cast<std::size_t>(n));
      r.path = link.starts_with('/') ? link : directory_of(r.path) + "/" + link;
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      return std::nullopt;
    }
    r.exists = true;
    r.regular = S_ISREG(st.st_mode);
    r.terminal = S_ISCHR(st.st_mode) && is_terminal(r.path);
    return r;
  }
}

OutputFile::~OutputFile() { abandon(); }

void OutputFile::abandon() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    const SignalsHeld held;
    ::unlink(temp_.c_str());
    pending = 0;
    temp_.clear();
  }
}

std::optional<std::string> OutputFile::open(const std::string& path) {
  abandon();
  shown_ = path;
  const std::optional<ResolvedPath> resolved = resolve_output(path);
  if (!resolved) return describe("cannot write", path);
  target_ = resolved->path;

  if (resolved->exists && !resolved->regular) {
    struct stat st {};
    if (::stat(target_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
      fd_ = connect_to_socket(target_);
    } else {
      fd_ = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    }
    if (fd_ < 0) return describe("cannot open", path);
    return std::nullopt;
  }

  struct stat old {};
  const bool replacing = resolved->exists && ::stat(target_.c_str(), &old) == 0;
  mode_t mode = new_file_mode();
  if (replacing) mode = old.st_mode & 0777;
  if (std::optional<std::string> error = make_temporary(path)) return error;
  if (replacing) {
    // Owner first: changing it clears set-ID bits, which are never kept anyway.
    if (::fchown(fd_, old.st_uid, old.st_gid) != 0) {
      [[maybe_unused]] const int ignored = ::fchown(fd_, static_cast<uid_t>(-1), old.st_gid);
    }
  }
  if (::fchmod(fd_, mode) != 0) {
    const std::string message = describe("cannot write", path);
    abandon();
    return message;
  }
  return std::nullopt;
}

std::optional<std::string> OutputFile::open_new(const std::string& path) {
  abandon();
  shown_ = path;
  target_ = path;
  if (std::optional<std::string> error = make_temporary(path)) return error;
  if (::fchmod(fd_, new_file_mode()) != 0) {
    const std::string message = describe("cannot write", path);
    abandon();
    return message;
  }
  return std::nullopt;
}

std::optional<std::string> OutputFile::make_temporary(const std::string& path) {
  const std::string directory = directory_of(target_);
  long name_max = ::pathconf(directory.c_str(), _PC_NAME_MAX);
  if (name_max <= 0) name_max = NAME_MAX;
  std::string base = base_name_of(target_);
  constexpr std::size_t kAdded = 8;  // "." before, ".XXXXXX" after
  if (base.size() + kAdded > static_cast<std::size_t>(name_max)) {
    base.resize(static_cast<std::size_t>(name_max) - kAdded);
  }
  // The name is complete before the file exists: from mkostemp on, nothing
  // may fail (no allocation) until it is recorded for removal.
  std::string temp = directory + "/." + base + ".XXXXXX";
  if (temp.size() >= sizeof pending_temp) {
    errno = ENAMETOOLONG;
    return describe("cannot write", path);
  }
  const SignalsHeld held;
  fd_ = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd_ < 0) return temporary_failed(path, directory);
  temp_.swap(temp);
  std::memcpy(pending_temp, temp_.c_str(), temp_.size() + 1);
  pending = 1;
  synced_ = false;
  return std::nullopt;
}

bool OutputFile::write(const std::uint8_t* data, std::size_t size) {
  return write_all(fd_, data, size);
}

std::optional<std::string> OutputFile::commit() {
  if (temp_.empty()) {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return describe("cannot write", shown_);
    return std::nullopt;
  }
  if (::fsync(fd_) != 0) {
    const std::string message = describe("cannot write", shown_);
    abandon();
    return message;
  }
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) {
    const std::string message = describe("cannot write", shown_);
    abandon();
    return message;
  }
  {
    const SignalsHeld held;
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
      const std::string message = describe("cannot write", shown_);
      abandon();  // signals stay held: the inner hold restores this one's mask
      return message;
    }
    pending = 0;
    temp_.clear();
  }
  if (!sync_directory(directory_of(target_)))
    return describe("cannot sync the directory of", shown_);
  return std::nullopt;
}

std::optional<std::string> OutputFile::commit_new(const std::string& path, bool* taken,
                                                  bool sync_folder) {
  *taken = false;
  shown_ = path;
  if (!synced_) {
    const int fd = fd_;
    fd_ = -1;
    const bool synced = ::fsync(fd) == 0;
    if (!synced || ::close(fd) != 0) {
      if (synced) ::close(fd);
      const std::string message = describe("cannot write", shown_);
      abandon();
      return message;
    }
    synced_ = true;
  }
  {
    const SignalsHeld held;
    // Where the file system cannot rename without replacing, a second link
    // refuses a taken name as well.
    bool named =
        ::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0;
    if (!named && (errno == EINVAL || errno == ENOSYS) &&
        ::link(temp_.c_str(), path.c_str()) == 0) {
      ::unlink(temp_.c_str());
      named = true;
    }
    if (!named) {
      if (errno == EEXIST) {
        *taken = true;
        return std::nullopt;
      }
      const std::string message = describe("cannot write", shown_);
      abandon();  // signals stay held: the inner hold restores this one's mask
      return message;
    }
    pending = 0;
    temp_.clear();
  }
  return sync_folder ? sync_folder_of(path) : std::nullopt;
}

std::optional<std::string> sync_folder_of(const std::string& path) {
  if (!sync_directory(directory_of(path))) return describe("cannot sync the directory of", path);
  return std::nullopt;
}

std::optional<std::string> write_whole_file(const std::string& path, const void* bytes,
                                            std::size_t size) {
  OutputFile file;
  if (std::optional<std::string> error = file.open(path)) return error;
  if (!file.write(static_cast<const std::uint8_t*>(bytes), size)) {
    return describe("cannot write", path);
  }
  return file.commit();
}

void remove_pending_temp() noexcept {
  if (pending) ::unlink(pending_temp);
  pending = 0;
}

void install_cleanup_on_signals() {
  static constexpr int kEnding[] = {
      SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV,
      SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGSYS,
#ifdef SIGSTKFLT
      SIGSTKFLT,
#endif
#ifdef SIGPWR
      SIGPWR,
#endif
  };
  sigemptyset(&cleanup_signals);
  for (const int s : kEnding) sigaddset(&cleanup_signals, s);
  for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) sigaddset(&cleanup_signals, s);
  for (int s = 1; s < NSIG; ++s) {
    if (sigismember(&cleanup_signals, s) != 1) continue;
    if (::sigaction(s, nullptr, &previous_action[s]) != 0 ||
        previous_action[s].sa_handler == SIG_IGN) {
      continue;  // ignored when the tool started: stays ignored
    }
    struct sigaction action {};
    action.sa_handler = remove_pending_temp_and_die;
    action.sa_mask = cleanup_signals;
    ::sigaction(s, &action, nullptr);
  }
}

}  // namespace tuvello::cli

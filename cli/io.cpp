#include "io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tuvello::cli {
namespace {

std::string describe(const std::string& what, const std::string& path) {
  return what + " '" + path + "': " + std::strerror(errno);
}

// Closes a descriptor once, keeping errno of an earlier failure.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) {
      const int saved = errno;
      ::close(fd_);
      errno = saved;
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

mode_t default_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
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

std::optional<std::string> write_directly(const std::string& path, const std::uint8_t* data,
                                          std::size_t size) {
  Descriptor fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (fd.get() < 0) return describe("cannot open", path);
  if (!write_all(fd.get(), data, size) || !fd.close()) return describe("cannot write", path);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> read_all(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return text;
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

std::optional<std::string> read_file(const std::string& path) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return std::nullopt;
  }
  return read_all(fd.get());
}

void drop_final_line_break(std::string& text) {
  if (text.ends_with("\r\n")) {
    text.resize(text.size() - 2);
  } else if (text.ends_with('\n')) {
    text.pop_back();
  }
}

bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool names_a_terminal(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  Descriptor fd(::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  return fd.get() >= 0 && ::isatty(fd.get());
}

std::optional<std::string> write_file_atomically(const std::string& path, const std::uint8_t* data,
                                                 std::size_t size) {
  std::string target = path;
  mode_t mode = default_file_mode();
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      errno = EISDIR;
      return describe("cannot write", path);
    }
    // Renaming over a device or a pipe would replace it with a plain file.
    if (!S_ISREG(st.st_mode)) return write_directly(path, data, size);
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return describe("cannot resolve", path);
    target = resolved;
    mode = st.st_mode & 07777;
  } else if (errno != ENOENT) {
    return describe("cannot write", path);
  } else {
    // A link to a file not there yet: create its target and keep the link.
    char link[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), link, sizeof link - 1);
    if (n > 0) {
      link[n] = '\0';
      target = link[0] == '/' ? std::string(link) : directory_of(path) + "/" + link;
    }
  }

  std::string temp = directory_of(target) + "/." + base_name_of(target) + ".XXXXXX";
  Descriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) return describe("cannot create a temporary file beside", path);
  const bool written = ::fchmod(fd.get(), mode) == 0 && write_all(fd.get(), data, size) &&
                       ::fsync(fd.get()) == 0 && fd.close() &&
                       ::rename(temp.c_str(), target.c_str()) == 0;
  if (!written) {
    const std::string message = describe("cannot write", path);
    ::unlink(temp.c_str());
    return message;
  }
  return std::nullopt;
}

}  // namespace tuvello::cli

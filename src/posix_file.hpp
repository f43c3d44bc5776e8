// Reading files through POSIX descriptors: the run loader and the database
// reader open files the same way.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>

namespace tl {

// An open file descriptor, closed on scope exit.
struct Fd {
  int fd = -1;
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// Opens a regular file for reading without ever blocking (a FIFO or device
// under the file's name is not read) and gives its length. With
// `follow_links` false a symbolic link is refused too.
inline bool open_regular(const std::string& path, Fd& f, std::uint64_t& length, bool follow_links = true) {
  f.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (follow_links ? 0 : O_NOFOLLOW));
  if (f.fd < 0) return false;
  struct stat st;
  if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  length = static_cast<std::uint64_t>(st.st_size);
  return true;
}

// Reads up to `n` bytes at the current offset into `buf`; short only at end
// of file. False on a read error.
inline bool read_up_to(int fd, char* buf, std::uint64_t n, std::uint64_t& got) {
  got = 0;
  while (got < n) {
    const ssize_t r = ::read(fd, buf + got, static_cast<std::size_t>(std::min<std::uint64_t>(n - got, 1 << 30)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) break;
    got += static_cast<std::uint64_t>(r);
  }
  return true;
}

}  // namespace tl

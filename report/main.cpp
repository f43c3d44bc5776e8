// tracelens-report [DOCUMENT]: reads one document printed by tracelens (the
// file named, or standard input) and writes its HTML page to standard output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "common/json_escapes.hpp"
#include "html.hpp"
#include "page.hpp"

namespace {

// The largest document read: tracelens's documents of the largest runs are
// far smaller, and the page has to stay one that a browser opens.
constexpr std::uint64_t kMaxInputBytes = 536870912;

constexpr std::string_view kUsage =
    "usage: tracelens-report [DOCUMENT]\n"
    "Reads one JSON document printed by tracelens (the file DOCUMENT, or standard input)\n"
    "and writes one self-contained HTML page that shows it to standard output.\n";

// One line on standard error, whatever a path in the message holds.
int fail(const std::string& message) {
  std::string line = report::html::repair_utf8(message).text;
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == '\x7F') c = '?';
  }
  std::fprintf(stderr, "tracelens-report: %s\n", line.c_str());
  return 2;
}

// Appends what `fd` gives, up to its end, to `out`, leaving spare capacity
// after the text for the JSON parser. More than kMaxInputBytes is refused
// as soon as it is read. `expected` (a regular file's length) sizes the
// buffer once; standard input grows it as it comes.
enum class ReadResult { ok, error, too_large };

ReadResult read_all(int fd, std::uint64_t expected, std::string& out) {
  constexpr std::size_t kSpare = 64;
  constexpr std::size_t kStep = 1 << 16;
  if (expected > kMaxInputBytes) return ReadResult::too_large;
  out.reserve(static_cast<std::size_t>(expected) + kSpare);
  char buffer[kStep];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ReadResult::error;
    }
    if (n == 0) break;
    if (out.size() + static_cast<std::size_t>(n) > kMaxInputBytes) return ReadResult::too_large;
    out.append(buffer, static_cast<std::size_t>(n));
  }
  if (out.capacity() - out.size() < kSpare) out.reserve(out.size() + kSpare);
  return ReadResult::ok;
}

// The document named by `path` ("-": standard input), or the exit status
// after the message on standard error.
int read_document(const std::string& path, std::string& input) {
  const std::string name = path == "-" ? "standard input" : path;
  int fd = STDIN_FILENO;
  std::uint64_t expected = 0;
  if (path == "-") {
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) expected = static_cast<std::uint64_t>(st.st_size);
  } else {
    // Opened without waiting, so that a FIFO under the name cannot block.
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return fail("cannot open " + path + ": " + std::strerror(errno));
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      return fail(path + " is not a regular file");
    }
    expected = static_cast<std::uint64_t>(st.st_size);
  }
  const ReadResult read = read_all(fd, expected, input);
  if (fd != STDIN_FILENO) ::close(fd);
  switch (read) {
    case ReadResult::ok:
      return 0;
    case ReadResult::too_large:
      return fail(name + " holds more than " + std::to_string(kMaxInputBytes) + " bytes");
    case ReadResult::error:
      break;
  }
  return fail("cannot read " + name);
}

}  // namespace

int main(int argc, char** argv) {
  std::string path = argc > 1 ? argv[1] : "-";
  if (path == "-h" || path == "--help") {
    std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
    return 0;
  }
  if (argc > 2 || (path.size() > 1 && path[0] == '-')) {
    return fail("expected at most one argument, the document's path (see --help)");
  }

  // A reader that closes standard output early makes the write fail (status
  // 1 below) instead of killing the process.
  std::signal(SIGPIPE, SIG_IGN);
  std::string input;
  if (int status = read_document(path, input); status != 0) return status;
  // A lone surrogate escape (what JavaScript writes when it cuts a string
  // inside a character) is read as U+FFFD, keeping the rest of the document.
  if (auto repaired = common::replace_lone_surrogates(input)) {
    input = std::move(*repaired);
    input.reserve(input.size() + 64);
  }

  bool written = true;
  std::string error = report::write_page(input, [&written](std::string_view piece) {
    if (written && std::fwrite(piece.data(), 1, piece.size(), stdout) != piece.size()) written = false;
  });
  if (!error.empty()) return fail(error);
  if (!written || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "tracelens-report: cannot write the page\n");
    return 1;
  }
  return 0;
}

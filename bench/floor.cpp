// The benchmark floor: reads each file whole and parses every line with
// simdjson, nothing else. tracelens is measured against this program.
//
//   tracelens_floor FILE...
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include <simdjson.h>

int main(int argc, char** argv) {
  simdjson::dom::parser parser;
  std::size_t lines = 0, parsed = 0, bytes = 0;
  for (int i = 1; i < argc; ++i) {
    int fd = ::open(argv[i], O_RDONLY);
    if (fd < 0) continue;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      ::close(fd);
      continue;
    }
    std::string data(static_cast<std::size_t>(st.st_size) + simdjson::SIMDJSON_PADDING, '\0');
    std::size_t got = 0;
    while (got < static_cast<std::size_t>(st.st_size)) {
      ssize_t r = ::read(fd, data.data() + got, static_cast<std::size_t>(st.st_size) - got);
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    ::close(fd);
    bytes += got;
    const char* p = data.data();
    const char* end = p + got;
    while (p < end) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      const char* line_end = nl ? nl : end;
      ++lines;
      simdjson::dom::element e;
      if (!parser.parse(p, static_cast<std::size_t>(line_end - p), false).get(e)) ++parsed;
      p = nl ? nl + 1 : end;
    }
  }
  std::printf("%zu bytes, %zu lines, %zu parsed\n", bytes, lines, parsed);
  return 0;
}

// tracelens-report [DOCUMENT]: reads one document printed by tracelens (the
// file named, or standard input) and writes its HTML page to standard output.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "html.hpp"
#include "page.hpp"

namespace {

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

// Reads to the end, leaving spare capacity after the text for the JSON parser.
bool read_all(std::FILE* file, std::string& out) {
  constexpr std::size_t kSpare = 64;
  if (std::fseek(file, 0, SEEK_END) == 0) {
    long size = std::ftell(file);
    if (size > 0) out.reserve(static_cast<std::size_t>(size) + kSpare);
    std::rewind(file);
  }
  char buffer[1 << 16];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) out.append(buffer, n);
  if (out.capacity() - out.size() < kSpare) out.reserve(out.size() + kSpare);
  return !std::ferror(file);
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

  std::string input;
  if (path == "-") {
    if (!read_all(stdin, input)) return fail("cannot read standard input");
  } else {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return fail("cannot open " + path + ": " + std::strerror(errno));
    bool ok = read_all(file, input);
    std::fclose(file);
    if (!ok) return fail("cannot read " + path);
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

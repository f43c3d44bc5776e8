#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#if TRACELENS_MIMALLOC
#include <mimalloc.h>
#if defined(__linux__)
#include <sys/mman.h>

#include <cinttypes>
#include <cstdint>
#endif
#endif

#include "cli.hpp"

#if TRACELENS_MIMALLOC
namespace {

// The document's records make many small allocations and the logs a few
// large ones; on large (2 MB) pages the kernel provides the memory with a
// fraction of the page faults. mimalloc puts the memory that it maps from
// now on on large pages; the block that it mapped before main, for the
// libraries' own start-up, serves the first small allocations, so it is
// marked too (the mapping of /proc/self/maps that holds a small block).
void prefer_large_pages() {
  mi_option_enable(mi_option_large_os_pages);
#if defined(__linux__)
  void* probe = mi_malloc(1);
  const auto at = reinterpret_cast<std::uintptr_t>(probe);
  if (std::FILE* maps = std::fopen("/proc/self/maps", "re")) {
    std::uintmax_t start = 0, end = 0;
    char line[512];
    while (std::fgets(line, sizeof line, maps) != nullptr) {
      if (std::sscanf(line, "%" SCNxMAX "-%" SCNxMAX, &start, &end) == 2 && start <= at && at < end) {
        madvise(reinterpret_cast<void*>(start), static_cast<std::size_t>(end - start), MADV_HUGEPAGE);
        break;
      }
    }
    std::fclose(maps);
  }
  mi_free(probe);
#endif
}

}  // namespace
#endif

int main(int argc, char** argv) {
#if TRACELENS_MIMALLOC
  prefer_large_pages();
#endif
  // A reader that closes standard output early makes the write fail, which
  // run_cli reports, instead of killing the process.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  auto result = tl::run_cli(args);
  if (auto* err = std::get_if<tl::CliError>(&result)) {
    const std::string message = tl::terminal_safe(err->message);
    std::fprintf(stderr, "%s\n", message.c_str());
    return err->code;
  }
  return 0;
}

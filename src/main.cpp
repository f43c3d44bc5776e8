#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#if TRACELENS_MIMALLOC
#include <mimalloc.h>
#endif

#include "cli.hpp"

int main(int argc, char** argv) {
#if TRACELENS_MIMALLOC
  mi_option_enable(mi_option_large_os_pages);
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

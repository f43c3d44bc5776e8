#include <cstdio>
#include <string>
#include <vector>

#if TRACELENS_MIMALLOC
#include <mimalloc.h>
#endif

#include "cli.hpp"
#include "text.hpp"

int main(int argc, char** argv) {
#if TRACELENS_MIMALLOC
  mi_option_enable(mi_option_large_os_pages);
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  auto result = tl::run_cli(args);
  if (auto* err = std::get_if<tl::CliError>(&result)) {
    std::string message = tl::text::repair_utf8(err->message);
    std::fprintf(stderr, "%s\n", message.c_str());
    return err->code;
  }
  return std::ferror(stdout) ? 1 : 0;
}

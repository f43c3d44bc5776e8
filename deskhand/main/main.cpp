// deskhand: reads one JSON request on standard input, performs one action on
// the desktop and writes one JSON reply on standard output.
#include "main/deskhand.hpp"
#include "platform/platform.hpp"

int main() {
  const auto platform = deskhand::make_platform();
  return deskhand::main(*platform);
}

#include "cli/cli.h"

#include <iostream>

#ifdef _WIN32
#  include <io.h>
#  define isatty _isatty
#else
#  include <unistd.h>
#endif

int main(int argc, char** argv)
{
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  return quillmend::cli::run(args, std::cout, std::cerr, isatty(2) != 0);
}

#pragma once
// The whole command-line tool run in-process, as a test calls it.

#include "cli/cli.h"

#include <sstream>
#include <string>
#include <vector>

namespace quillmend::test {

struct TResult {
  int code;
  std::string out;
  std::string err;
};

inline TResult RunCli(const std::vector<std::string>& args)
{
  std::ostringstream out, err;
  const int code = cli::run(args, out, err);
  return {code, out.str(), err.str()};
}

}  // namespace quillmend::test

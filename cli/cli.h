#pragma once
// quillmend-cli: list, show, export and find mailboxes from a terminal, over the same core as the
// window. run() is the whole program, so tests drive it in-process.

#include <chrono>
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

namespace quillmend::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// What the tool knows of the terminal it writes to.
struct TTerminal {
  bool Progress = false;    // standard error is a terminal: long work draws a bar there
  std::size_t Columns = 0;  // standard output's width, 0 when it is no terminal
  // Only work that lasts this long draws its bar: a short one would flicker and say nothing.
  std::chrono::milliseconds BarAfter{500};
};

// args are the words after the program name, in UTF-8.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const TTerminal& terminal = {});

}  // namespace quillmend::cli

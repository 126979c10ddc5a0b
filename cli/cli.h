#pragma once
// quillmend-cli: list, show, export and find mailboxes from a terminal, over the same core as the
// window. run() is the whole program, so tests drive it in-process.

#include <ostream>
#include <string>
#include <vector>

namespace quillmend::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// args are the words after the program name, in UTF-8. With showProgress a bar is drawn on err
// during long scans and exports.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress = false);

}  // namespace quillmend::cli

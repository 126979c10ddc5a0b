// quillmend-findbench ROOT...
// The finder in-process with an idle callback that does what the window's does between repaints
// (count, look at the clock now and then), so that its cost shows next to quillmend-cli find.
// Prints the number of mailboxes and entries.

#include "discovery/mbxfiles.h"

#include <chrono>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
  std::vector<std::filesystem::path> roots(argv + 1, argv + argc);
  unsigned long entries = 0;
  std::chrono::steady_clock::time_point last;
  quillmend::TmbxFiles finder(
      [&] {
        if (++entries % 256 == 0)
          last = std::chrono::steady_clock::now();
      },
      [&] { return roots; });
  const auto& found = finder.FindMailFiles();
  std::printf("%zu mailboxes, %lu entries\n", found.size(), entries);
  return found.empty() && entries == 0 ? 1 : 0;
}

// quillmend-findbench ROOT...
// The finder in-process with an observer, as the window and the command line run it, so that its
// cost shows next to quillmend-cli find.
// Prints the number of mailboxes and entries.

#include "discovery/mbxfiles.h"

#include <chrono>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
  std::vector<std::filesystem::path> roots(argv + 1, argv + argc);
  // An observer, as the window and the command line give one: the finder asks it at every entry.
  quillmend::TProgressObserver observer;
  quillmend::TmbxFiles finder(&observer, [&] { return roots; });
  const auto& found = finder.FindMailFiles();
  std::printf("%zu mailboxes, %zu entries\n", found.size(), finder.Entries());
  return found.empty() && finder.Entries() == 0 ? 1 : 0;
}

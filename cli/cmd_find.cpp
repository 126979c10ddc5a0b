// quillmend-cli find [--null] [ROOT...]

#include "cli/commands.h"
#include "discovery/mbxfiles.h"
#include "mail/files.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quillmend::cli {

namespace {

// "Searching: 1234 entries, 5 mailboxes", redrawn in place a few times a second and erased at the
// end, so that only the paths remain on the terminal.
class TFindProgress {
public:
  explicit TFindProgress(std::ostream& err) : FErr(err) {}
  TFindProgress(const TFindProgress&) = delete;
  TFindProgress& operator=(const TFindProgress&) = delete;
  ~TFindProgress() { Erase(); }

  void Watch(const std::vector<std::filesystem::path>& found) { FFound = &found; }

  void Entry()
  {
    // The clock is read every so many entries only: a search meets hundreds of thousands.
    if (++FEntries % 256 != 0)
      return;
    const auto now = std::chrono::steady_clock::now();
    if (FDrawn != 0 && now - FLast < std::chrono::milliseconds(100))
      return;
    FLast = now;
    const std::string line = "Searching: " + std::to_string(FEntries) + " entries, " +
                             std::to_string(FFound ? FFound->size() : 0) + " mailboxes";
    FErr << '\r' << line;
    if (line.size() < FDrawn)
      FErr << std::string(FDrawn - line.size(), ' ');
    FErr << std::flush;
    FDrawn = line.size();
  }

  void Erase()
  {
    if (FDrawn == 0)
      return;
    FErr << '\r' << std::string(FDrawn, ' ') << '\r' << std::flush;
    FDrawn = 0;
  }

private:
  std::ostream& FErr;
  const std::vector<std::filesystem::path>* FFound = nullptr;
  std::size_t FEntries = 0;
  std::size_t FDrawn = 0;
  std::chrono::steady_clock::time_point FLast;
};

// A path as the system spells it, so that a script can open it again; only Windows' UTF-16 needs
// converting.
std::string PrintedPath(const std::filesystem::path& path)
{
#ifdef _WIN32
  return PathText(path);
#else
  return path.native();
#endif
}

}  // namespace

int RunFind(const TCommand& command)
{
  // --null and -0 take no value; they count only before a "--" that ends the options.
  std::vector<std::string> words = command.Words;
  const auto optionsEnd = std::find(words.begin(), words.end(), "--");
  const auto flags = std::remove_if(words.begin(), optionsEnd, [](const std::string& w) { return w == "--null" || w == "-0"; });
  const bool null = flags != optionsEnd;
  words.erase(flags, optionsEnd);
  const TArgs args(words, {});
  std::vector<std::filesystem::path> roots;
  int status = kExitOk;
  for (const std::string& word : args.Positionals()) {
    std::filesystem::path root = PathFromArg(word);
    // A root the user named but that cannot be searched is worth a word; the others still are.
    if (!TmbxFiles::DriveReady(root)) {
      std::error_code ec;
      const auto type = std::filesystem::status(root, ec).type();
      const std::string reason = type == std::filesystem::file_type::not_found ? "No such file or directory"
                                 : type != std::filesystem::file_type::directory ? "Not a directory"
                                                                                   : "Permission denied";
      command.Err << "quillmend-cli: " << FileErrorMessage("Cannot search folder", root, reason) << "\n";
      status = kExitFailure;
      continue;
    }
    roots.push_back(std::move(root));
  }
  if (!args.Positionals().empty() && roots.empty())
    return status;

  std::optional<TFindProgress> progress;
  if (command.ShowProgress)
    progress.emplace(command.Err);
  TmbxFiles::TIdleCallback idle;
  if (progress)
    idle = [&] { progress->Entry(); };

  TmbxFiles finder(idle, [&] { return roots.empty() ? TmbxFiles::GetFixedDrives() : roots; });
  if (progress)
    progress->Watch(finder.FileList());
  const std::vector<std::filesystem::path>& found = finder.FindMailFiles();
  if (progress)
    progress->Erase();

  // With --null each path ends in a zero byte, as find -print0 has it: names may hold line breaks.
  const char end = null ? '\0' : '\n';
  for (const auto& path : found)
    command.Out << PrintedPath(path) << end;
  command.Out.flush();
  return command.Out ? status : kExitFailure;
}

}  // namespace quillmend::cli

// quillmend-cli find [--null] [ROOT...]

#include "base/system.h"
#include "cli/commands.h"
#include "cli/interrupt.h"
#include "discovery/mbxfiles.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quillmend::cli {

namespace {

// "Searching: 1234 entries, 5 mailboxes", redrawn in place at the finder's idle calls and erased at
// the end, so that only the paths remain on the terminal.
class TFindProgress : public TProgressObserver {
public:
  TFindProgress(std::ostream& err, bool drawn) : FErr(err), FShown(drawn) {}

  void Watch(const TmbxFiles& finder) { FFinder = &finder; }

  void Shown() override { Idle(); }

  bool Cancelled() const override { return StopRequested() != 0; }

  void Idle() override
  {
    if (!FFinder || !FShown)
      return;
    const std::string line = "Searching: " + std::to_string(FFinder->Entries()) + " entries, " +
                             std::to_string(FFinder->FileList().size()) + " mailboxes";
    FErr << '\r' << line;
    if (line.size() < FDrawn)
      FErr << std::string(FDrawn - line.size(), ' ');
    FErr << std::flush;
    FDrawn = line.size();
  }

  void Closed() override
  {
    if (FDrawn == 0)
      return;
    FErr << '\r' << std::string(FDrawn, ' ') << '\r' << std::flush;
    FDrawn = 0;
  }

private:
  std::ostream& FErr;
  const TmbxFiles* FFinder = nullptr;
  bool FShown;
  std::size_t FDrawn = 0;
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

int RunFind(const TCommand& command, const TArgs& args)
{
  const bool null = args.Flag("null");
  std::vector<std::filesystem::path> roots;
  int status = kExitOk;
  for (const std::string& word : args.Positionals()) {
    std::filesystem::path root = PathFromUtf8(word);
    // A root the user named but that cannot be searched is worth a word; the others still are.
    if (!TmbxFiles::DriveReady(root)) {
      std::error_code ec;
      const auto type = std::filesystem::status(root, ec).type();
      const std::string reason = type == std::filesystem::file_type::not_found   ? "No such file or directory"
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

  TFindProgress progress(command.Err, command.Terminal.Progress);
  TmbxFiles finder(&progress, [&] { return roots.empty() ? TmbxFiles::GetFixedDrives() : roots; });
  progress.Watch(finder);
  const std::vector<std::filesystem::path>& found = finder.FindMailFiles();

  // With --null each path ends in a zero byte, as find -print0 has it: names may hold line breaks.
  const char end = null ? '\0' : '\n';
  for (const auto& path : found)
    command.Out << PrintedPath(path) << end;
  command.Out.flush();
  return command.Out ? status : kExitFailure;
}

}  // namespace quillmend::cli

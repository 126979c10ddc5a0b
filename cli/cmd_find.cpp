// quillmend-cli find [ROOT...]

#include "cli/commands.h"
#include "discovery/mbxfiles.h"
#include "mail/files.h"

namespace quillmend::cli {

int RunFind(const TCommand& command)
{
  const TArgs args(command.Words, {});
  std::vector<std::filesystem::path> roots;
  for (const std::string& root : args.Positionals())
    roots.push_back(PathFromArg(root));
  TmbxFiles::TRootsProvider provider;
  if (!roots.empty())
    provider = [&] { return roots; };
  TmbxFiles finder({}, provider);
  for (const auto& path : finder.FindMailFiles())
    command.Out << PathText(path) << "\n";
  command.Out.flush();
  return command.Out ? kExitOk : kExitFailure;
}

}  // namespace quillmend::cli

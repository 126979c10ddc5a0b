#include "discovery/mbxfiles.h"

#include "discovery/mbxfiles_platform.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace quillmend {

namespace {

constexpr std::string_view kMailMask = "*.mbx";

}  // namespace

namespace mailnames {

bool IsSeparatorStart(const char* bytes, std::size_t count)
{
  return count == kSeparator.size() && std::string_view(bytes, count) == kSeparator;
}

}  // namespace mailnames

std::string MailFileKindName(TMailFileKind kind)
{
  switch (kind) {
  case TMailFileKind::WindowsMailbox: return "Windows mailbox";
  case TMailFileKind::MacMailbox: return "Mac mailbox";
  default: return "Eudora backup";
  }
}

TmbxFiles::TmbxFiles(TProgressObserver* observer, TRootsProvider roots)
    : FObserver(observer), FFeed(observer), FRoots(std::move(roots))
{
}

void TmbxFiles::Entry()
{
  ++FEntries;
  if (FFeed.Step())
    throw TCancelled();
}

void TmbxFiles::SearchFolder(const std::filesystem::path& folder, std::string_view mask, bool recurse)
{
  TSearch(*this, mask).Run(folder, recurse);
}

const std::vector<std::filesystem::path>& TmbxFiles::FindMailFiles()
{
  TProgressSession session(FObserver);
  FCancelled = false;
  const std::vector<std::filesystem::path> roots = FRoots ? FRoots() : GetFixedDrives();
  try {
    for (const auto& root : roots)
      TSearch(*this, kMailMask, true).Run(root, true);
  } catch (const TCancelled&) {
    FCancelled = true;
  }
  return FFileList;
}

}  // namespace quillmend

#include "eudora/mailfolder.h"

#include "base/ascii.h"
#include "base/readfile.h"
#include "base/system.h"
#include "base/text.h"
#include "eudora/markers.h"
#include "eudora/settings.h"
#include "eudora/toc.h"
#include "search/codepage.h"

#include <algorithm>
#include <type_traits>
#include <map>
#include <optional>
#include <set>

namespace quillmend {

namespace fs = std::filesystem;

namespace {

// Deeper than any tree a person made; a link that loops is stopped by the set of folders seen.
constexpr int kDeepest = 32;
constexpr std::int64_t kLargestDescmap = std::int64_t{4} << 20;

TMailboxRole RoleOf(std::string_view fileName)
{
  static const std::map<std::string, TMailboxRole, std::less<>> kRoles = {
      {"in", TMailboxRole::In}, {"out", TMailboxRole::Out}, {"trash", TMailboxRole::Trash}, {"junk", TMailboxRole::Junk}};
  std::string stem = AsciiLowered(fileName);
  if (stem.ends_with(".mbx"))
    stem.resize(stem.size() - 4);
  const auto role = kRoles.find(stem);
  return role == kRoles.end() ? TMailboxRole::Plain : role->second;
}

// A file name as the file system holds it: bytes in no known encoding on Linux (a copy of a
// Windows folder keeps its code page), Unicode on Windows.
std::string RawName(const fs::path& path)
{
  if constexpr (std::is_same_v<fs::path::value_type, char>)
    return path.filename().string();
  else
    return PathText(path.filename());
}

// One folder's entries, found by their names in lower case as the file system shows them.
struct TListing {
  std::map<std::string, fs::directory_entry> ByName;
  std::vector<fs::directory_entry> Entries;  // sorted by name

  explicit TListing(const fs::path& folder)
  {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec)
      throw TFileError(FileErrorMessage("Cannot read folder", folder, SystemErrorText(ec.value())));
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      if (ec)
        throw TFileError(FileErrorMessage("Cannot read folder", folder, SystemErrorText(ec.value())));
      Entries.push_back(*it);
    }
    std::sort(Entries.begin(), Entries.end(),
              [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
    for (const fs::directory_entry& entry : Entries) {
      ByName.emplace(AsciiLowered(RawName(entry.path())), entry);
      ByName.emplace(AsciiLowered(ClientText(RawName(entry.path()))), entry);
    }
  }

  // The entry a descmap.pce file name names: as its bytes stand, or decoded from the code page.
  const fs::directory_entry* Find(std::string_view fileName) const
  {
    for (const std::string& spelling : {std::string(fileName), ClientText(fileName)}) {
      for (std::string name : {spelling, std::string(TrimRight(spelling))}) {
        const auto found = ByName.find(AsciiLowered(name));
        if (found != ByName.end())
          return &found->second;
      }
    }
    return nullptr;
  }

  static std::string_view TrimRight(std::string_view text)
  {
    text.remove_suffix(text.size() - std::min(text.size(), text.find_last_not_of(' ') + 1));
    return text;
  }
};

bool IsFile(const fs::directory_entry& entry)
{
  std::error_code ec;
  return entry.is_regular_file(ec);
}

bool IsFolder(const fs::directory_entry& entry)
{
  std::error_code ec;
  return entry.is_directory(ec);
}

// A Mac mailbox: a file that is empty or starts with a separator line.
bool LooksLikeMailbox(const fs::path& file)
{
  try {
    const TReadOnlyFile open(file);
    char head[5] = {};
    const std::size_t got = open.ReadAt(0, head, sizeof head);
    return got == 0 || std::string_view(head, got) == "From ";
  } catch (const TFileError&) {
    return false;
  }
}

// The names taken in one folder, in lower case, and the last number given after each.
struct TSiblings {
  std::set<std::string> Taken;
  std::map<std::string, int> Last;
};

class TTreeReader {
public:
  explicit TTreeReader(TMailTree& tree) : FTree(tree) {}

  void Windows(const fs::path& folder, const std::vector<std::string>& path, int depth)
  {
    const std::optional<TListing> read = List(folder, depth);
    if (!read)
      return;
    const TListing& listing = *read;
    std::set<std::string> claimed;  // lower-case names of the entries descmap.pce names
    TSiblings siblings;
    if (const fs::directory_entry* descmap = listing.Find("descmap.pce"))
      ReadDescmap(descmap->path(), listing, path, depth, claimed, siblings);
    // What no descmap.pce names the client still shows: a mailbox under the name its index gives.
    for (const fs::directory_entry& entry : listing.Entries) {
      const std::string name = RawName(entry.path());
      const std::string lower = AsciiLowered(name);
      if (claimed.count(lower))
        continue;
      if (lower.ends_with(".mbx") && IsFile(entry)) {
        std::string shown = WindowsIndexMailboxName(IndexFilesFor(entry.path()).Toc);
        if (shown.empty())
          shown = ClientText(name.substr(0, name.size() - 4));
        AddMailbox(entry.path(), Child(path, Unique(shown, siblings)), path.empty() ? RoleOf(name) : TMailboxRole::Plain,
                   listing);
      } else if (lower.ends_with(".fol") && IsFolder(entry)) {
        const std::vector<std::string> child = Child(path, Unique(ClientText(name.substr(0, name.size() - 4)), siblings));
        FTree.Folders.push_back(child);
        Windows(entry.path(), child, depth + 1);
      }
    }
  }

  void Mac(const fs::path& folder, const std::vector<std::string>& path, int depth)
  {
    const std::optional<TListing> read = List(folder, depth);
    if (!read)
      return;
    const TListing& listing = *read;
    TSiblings siblings;
    for (const fs::directory_entry& entry : listing.Entries) {
      const std::string name = PathText(entry.path().filename());
      if (name.starts_with('.') || AsciiLowered(name).ends_with(".toc") || name == "Icon\r")
        continue;
      if (IsFolder(entry)) {
        const std::vector<std::string> child = Child(path, Unique(name, siblings));
        FTree.Folders.push_back(child);
        Mac(entry.path(), child, depth + 1);
      } else if (IsFile(entry) && LooksLikeMailbox(entry.path())) {
        AddMailbox(entry.path(), Child(path, Unique(name, siblings)), path.empty() ? RoleOf(name) : TMailboxRole::Plain,
                   listing);
      }
    }
  }

private:
  // A folder below the top that cannot be read is said and skipped; the top itself is an error.
  // Also a folder seen before (a link that loops) or too deep is skipped.
  std::optional<TListing> List(const fs::path& folder, int depth)
  {
    if (!Enter(folder, depth))
      return std::nullopt;
    try {
      return TListing(folder);
    } catch (const TFileError& e) {
      if (depth == 0)
        throw;
      FTree.Problems.push_back(std::string(e.what()) + ": skipped");
      return std::nullopt;
    }
  }

  bool Enter(const fs::path& folder, int depth)
  {
    std::error_code ec;
    const fs::path real = fs::canonical(folder, ec);
    if (depth > kDeepest || (!ec && !FSeen.insert(real).second)) {
      FTree.Problems.push_back(QuotedPath(folder) + ": folders nested too deep, or in a loop: skipped");
      return false;
    }
    return true;
  }

  static std::vector<std::string> Child(std::vector<std::string> path, std::string name)
  {
    path.push_back(std::move(name));
    return path;
  }

  // name, or "name (2)", ... when a sibling has it already (in any letter case): two mailboxes of
  // one folder never become one.
  static std::string Unique(const std::string& shown, TSiblings& siblings)
  {
    const std::string name = shown.empty() ? std::string("(no name)") : shown;
    std::string unique = name;
    int& last = siblings.Last[AsciiLowered(name)];
    while (!siblings.Taken.insert(AsciiLowered(unique)).second) {
      last = std::max(last, 1) + 1;
      unique = name + " (" + std::to_string(last) + ")";
    }
    return unique;
  }

  void ReadDescmap(const fs::path& file, const TListing& listing, const std::vector<std::string>& path, int depth,
                   std::set<std::string>& claimed, TSiblings& siblings)
  {
    claimed.insert(AsciiLowered(RawName(file)));
    std::string text;
    try {
      const TReadOnlyFile open(file);
      text.resize(static_cast<std::size_t>(std::min(open.Size(), kLargestDescmap)));
      text.resize(open.ReadAt(0, text.data(), text.size()));
    } catch (const TFileError& e) {
      FTree.Problems.push_back(e.what());
      return;
    }
    int number = 0;
    for (const std::string_view line : SplitLines(text)) {
      ++number;
      if (line.empty())
        continue;
      // Display Name,FileName,Type,Unread: the name ends at the first comma.
      std::vector<std::string_view> fields;
      for (std::size_t at = 0;;) {
        const std::size_t comma = line.find(',', at);
        fields.push_back(line.substr(at, comma == std::string_view::npos ? std::string_view::npos : comma - at));
        if (comma == std::string_view::npos)
          break;
        at = comma + 1;
      }
      const std::string where = QuotedPath(file) + " line " + std::to_string(number) + ": ";
      if (fields.size() < 3 || fields[0].empty() || fields[1].empty() || fields[2].size() != 1 ||
          std::string_view("SMF").find(fields[2][0]) == std::string_view::npos) {
        FTree.Problems.push_back(where + "not an entry (\"" + ClientText(line) + "\"): skipped");
        continue;
      }
      const std::string shown = ClientText(fields[0]);
      const fs::directory_entry* entry = listing.Find(fields[1]);
      if (!entry) {
        FTree.Problems.push_back(where + "\"" + shown + "\" names \"" + ClientText(fields[1]) +
                                 "\", which is not there: skipped");
        continue;
      }
      const std::string fileName = RawName(entry->path());
      if (!claimed.insert(AsciiLowered(fileName)).second)
        continue;  // named twice: once is enough
      if (fields[2][0] == 'F') {
        if (!IsFolder(*entry)) {
          FTree.Problems.push_back(where + "\"" + shown + "\" is no folder: skipped");
          continue;
        }
        const std::vector<std::string> child = Child(path, Unique(shown, siblings));
        FTree.Folders.push_back(child);
        Windows(entry->path(), child, depth + 1);
      } else if (IsFile(*entry)) {
        AddMailbox(entry->path(), Child(path, Unique(shown, siblings)),
                   path.empty() ? RoleOf(fileName) : TMailboxRole::Plain, listing);
      } else {
        FTree.Problems.push_back(where + "\"" + shown + "\" is no file: skipped");
      }
    }
  }

  // With its backups NAME.mbx.001, NAME.mbx.002, ...: earlier states of the mailbox the client kept.
  void AddMailbox(const fs::path& file, std::vector<std::string> path, TMailboxRole role, const TListing& listing)
  {
    TTreeMailbox mailbox{std::move(path), role, file, {}};
    const std::string stem = AsciiLowered(RawName(file)) + ".";
    for (const fs::directory_entry& entry : listing.Entries) {
      const std::string name = AsciiLowered(RawName(entry.path()));
      if (name.size() > stem.size() && name.starts_with(stem) &&
          name.find_first_not_of("0123456789", stem.size()) == std::string::npos && IsFile(entry))
        mailbox.Backups.push_back(entry.path());
    }
    FTree.Mailboxes.push_back(std::move(mailbox));
  }

private:
  TMailTree& FTree;
  std::set<fs::path> FSeen;
};

bool HasMailboxFile(const fs::path& folder)
{
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
    if (AsciiLowered(PathText(it->path().filename())).ends_with(".mbx"))
      return true;
  return false;
}

}  // namespace

TMailTree ReadMailTree(const fs::path& top)
{
  std::error_code ec;
  if (!fs::is_directory(top, ec))
    throw TFileError(FileErrorMessage("Cannot read folder", top, ec ? SystemErrorText(ec.value()) : "It is not a folder."));
  TMailTree tree;
  tree.Top = top;
  TTreeReader reader(tree);
  if (fs::exists(top / "descmap.pce", ec) || HasMailboxFile(top)) {
    reader.Windows(top, {}, 0);
  } else if (fs::is_directory(top / "Mail Folder", ec)) {
    reader.Mac(top / "Mail Folder", {}, 0);
  } else if (PathText(top.filename()) == "Mail Folder") {
    reader.Mac(top, {}, 0);
  } else {
    throw TFileError(FileErrorMessage("Not an Eudora mail folder", top,
                                      "It holds no descmap.pce, no .mbx mailbox and no Mail Folder."));
  }
  // The settings stand at the top of the Eudora folder, above a Mac Mail Folder.
  const fs::path settings = fs::exists(top / "eudora.ini", ec) || !fs::exists(top.parent_path() / "eudora.ini", ec)
                                ? top
                                : top.parent_path();
  tree.Labels = LabelNames(ReadEudoraIni(settings));
  return tree;
}

}  // namespace quillmend

#include "eudora/attachments.h"

#include "base/ascii.h"
#include "base/system.h"
#include "base/text.h"
#include "eudora/settings.h"
#include "mime/encodings.h"
#include "search/codepage.h"

#include <algorithm>
#include <map>
#include <iterator>
#include <string_view>

namespace quillmend {

namespace fs = std::filesystem;

namespace {

// The first bytes of a file, to tell its kind.
std::string Head(const TReadOnlyFile& file)
{
  std::string head(4096, '\0');
  head.resize(file.ReadAt(0, head.data(), head.size()));
  return head;
}

// Mac Eudora saves a text attachment (type TEXT, or a blank type) with CR line ends.
bool IsMacText(std::string_view head, std::string_view macType)
{
  const bool typed = macType == "TEXT" || macType.find_first_not_of(' ') == std::string_view::npos;
  return typed && head.find('\r') != std::string_view::npos && head.find('\n') == std::string_view::npos &&
         std::none_of(head.begin(), head.end(),
                      [](unsigned char c) { return c < 0x20 && c != '\r' && c != '\t' && c != '\f'; });
}

// A name looked for in a folder is one name there: a Mac name may hold "/", which on this system
// would lead out of the folder (and on Windows ":" names a stream of another file).
bool OneName(std::string_view name)
{
#ifdef _WIN32
  constexpr std::string_view kSeparators = "/\\:";
#else
  constexpr std::string_view kSeparators = "/\\";
#endif
  return !name.empty() && name != "." && name != ".." && name.find_first_of(kSeparators) == std::string_view::npos &&
         std::none_of(name.begin(), name.end(), [](unsigned char c) { return c < 0x20; });  // %00 cuts a path short
}

// Whether the file open as file is the one at a path inside folder: a link that leads elsewhere, or
// a name swapped for another file since it was opened, is not.
bool Inside(const TReadOnlyFile& file, const fs::path& folder)
{
  std::error_code ec;
  const fs::path real = fs::canonical(file.Path(), ec);
  if (ec)
    return false;
  const fs::path realFolder = fs::canonical(folder, ec);
  if (ec || real.parent_path() != realFolder)
    return false;
  try {
    const TFileIdentity opened = file.Identity();
    const TFileIdentity named = TReadOnlyFile(real).Identity();
    return SameFile(opened, named);
  } catch (const TFileError&) {
    return false;
  }
}

// "\"<path>\" <why>", for the reasons a file was skipped.
std::string Skipped(const fs::path& path, std::string_view why)
{
  std::string text = "\"";
  text += PathText(path);
  text += "\" ";
  text += why;
  return text;
}

// Whether path is root or lies below it, as the file system resolves both.
bool Under(const fs::path& path, const fs::path& root)
{
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  if (ec)
    return false;
  const fs::path realRoot = fs::canonical(root, ec);
  if (ec)
    return false;
  return std::mismatch(realRoot.begin(), realRoot.end(), real.begin(), real.end()).first == realRoot.end();
}

// The top of the Eudora folder that holds folder: the highest of the folders above it, one after
// another, that hold a descmap.pce (Windows), or the folder that holds Mail Folder (Mac); without
// either, the one above folder.
fs::path EudoraFolder(const fs::path& folder)
{
  constexpr int kLevels = 32;
  std::error_code ec;
  fs::path top;
  fs::path up = folder;
  for (int level = 0; level < kLevels && fs::exists(up / "descmap.pce", ec); ++level) {
    top = up;
    if (!up.has_relative_path())
      break;
    up = up.parent_path();
  }
  if (!top.empty())
    return top;
  up = folder;
  for (int level = 0; level < kLevels && up.has_relative_path(); ++level, up = up.parent_path())
    if (PathText(up.filename()) == "Mail Folder")
      return up.parent_path();
  return folder.has_relative_path() ? folder.parent_path() : folder;
}

// The attachment folder the Eudora folder's eudora.ini names (AttachDir=), where it is a folder of
// this system.
std::optional<fs::path> IniAttachFolder(const fs::path& eudora)
{
  const std::map<std::string, std::string> settings = ReadEudoraIni(eudora);
  const auto value = settings.find("attachdir");
  if (value == settings.end())
    return std::nullopt;
  try {
    const fs::path dir = PathFromUtf8(value->second);
    std::error_code ec;
    if (dir.is_absolute() && fs::is_directory(dir, ec))
      return dir;
  } catch (const std::exception&) {  // no path of this system
  }
  return std::nullopt;
}

}  // namespace

TPartFinder::TPartFinder(const fs::path& mailboxFolder, std::vector<fs::path> userFolders, std::int64_t maxBytes)
    : FUserFolders(std::move(userFolders)), FMaxBytes(maxBytes)
{
  // In full, so that a mailbox named from the current folder does not give it twice.
  fs::path folder = fs::absolute(mailboxFolder.empty() ? fs::path(".") : mailboxFolder).lexically_normal();
  if (!folder.has_filename())
    folder = folder.parent_path();
  // The mailbox's folder and each one above it up to the top of its Eudora folder: a mailbox in
  // Work.fol/Projects.fol has its attach/ at the top, and a Mac mailbox in Mail Folder/Work/Clients
  // its Attachments Folder beside Mail Folder.
  const fs::path top = EudoraFolder(folder);
  FNear = {folder};
  for (fs::path up = folder; up != top && up.has_relative_path();) {
    up = up.parent_path();
    FNear.push_back(up);
  }
  if (const std::optional<fs::path> attachDir = IniAttachFolder(top))
    FUserFolders.push_back(*attachDir);
}

std::optional<TFoundFile> TPartFinder::Find(const TMarkedFile& marked, std::string& reason) const
{
  std::vector<std::string> skipped;
  if (marked.Names.empty() || marked.Names.front().empty() || marked.Names.front() == "." ||
      marked.Names.front() == "..") {
    reason = "the line names no file";
    return std::nullopt;
  }
  if (marked.Own && AllowedFolder(marked.Own->parent_path())) {
    if (auto found = Open(marked.Own->parent_path(), *marked.Own, marked, skipped))
      return found;
  } else if (marked.Own || !marked.NotFollowed.empty()) {
    skipped.push_back("its path \"" + marked.Shown + "\" was not followed: " +
                      (marked.NotFollowed.empty() ? "it is not in an attachment folder of the mailbox's Eudora folder"
                                                  : marked.NotFollowed));
  }
  std::vector<fs::path> folders;
  const std::vector<const char*> kinds = marked.Kind == TPartKind::Attachment
                                             ? std::vector<const char*>{"attach", "Attachments Folder"}
                                             : std::vector<const char*>{"Embedded", "Parts Folder"};
  for (const fs::path& near : FNear)
    for (const char* sub : kinds)
      folders.push_back(near / sub);
  // A folder the user named is looked in, and the folders Eudora would have made in it.
  for (const fs::path& user : FUserFolders) {
    folders.push_back(user);
    for (const char* sub : kinds)
      folders.push_back(user / sub);
  }
  std::string looked;
  for (const fs::path& folder : folders) {
    for (const std::string& spelling : marked.Names)
      if (OneName(spelling))
        if (auto found = Open(folder, folder / PathFromUtf8(spelling), marked, skipped))
          return found;
    looked += looked.empty() ? "\"" : ", \"";
    looked += PathText(folder);
    looked += '"';
  }
  reason = "not found in " + looked;
  for (const std::string& s : skipped)
    reason += "; " + s;
  return std::nullopt;
}

bool TPartFinder::AllowedFolder(const fs::path& folder) const
{
  for (const fs::path& user : FUserFolders)
    if (Under(folder, user))
      return true;
  // One of Eudora's folders for such files, and one of this mailbox's, not any on the system.
  const std::string base = PathText(folder.filename());
  const auto kinds = {"attach", "Attachments Folder", "Embedded", "Parts Folder"};
  return std::any_of(kinds.begin(), kinds.end(), [&](const char* kind) { return EqualNoCase(base, kind); }) &&
         Under(folder, FNear.back());
}

// Only a regular file is read: a device or a FIFO under the name would never end or never come.
std::optional<TFoundFile> TPartFinder::Open(const fs::path& folder, const fs::path& path, const TMarkedFile& marked,
                                            std::vector<std::string>& skipped) const
{
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status))
    return std::nullopt;
  if (!fs::is_regular_file(status)) {
    skipped.push_back(Skipped(path, "is not a regular file"));
    return std::nullopt;
  }
  try {
    const TReadOnlyFile file(path);
    if (!file.IsRegular()) {  // swapped for something else since it was looked at
      skipped.push_back(Skipped(path, "is not a regular file"));
      return std::nullopt;
    }
    if (!Inside(file, folder)) {
      skipped.push_back(Skipped(path, "leads out of its folder"));
      return std::nullopt;
    }
    const TFileIdentity identity = file.Identity();
    if (identity.Size > FMaxBytes) {
      skipped.push_back(Skipped(path, "is larger than " + std::to_string(FMaxBytes >> 20) + " MB"));
      return std::nullopt;
    }
    const std::string head = Head(file);
    const std::string& name = marked.Names.front();
    TFoundFile found{name, path, identity, MediaTypeOf(name, head), false};
    // Eudora names a signature part after the message ("Untitled"): a mail program checks it by name.
    if (found.Type == "application/pgp-signature" && !EndsNoCase(name, ".asc") && !EndsNoCase(name, ".sig"))
      found.Name = "signature.asc";
    if (!marked.MacType.empty() && IsMacText(head, marked.MacType)) {
      found.MacText = true;
      if (found.Type == "application/octet-stream")
        found.Type = "text/plain";
    }
    return found;
  } catch (const TFileError& e) {
    skipped.push_back(e.what());
    return std::nullopt;
  }
}

TInlineImages::TInlineImages(const TEudoraText& text, fs::path mailboxFolder, std::int64_t maxBytes)
    : FMaxBytes(maxBytes)
{
  std::copy_if(text.Files.begin(), text.Files.end(), std::back_inserter(FImages),
               [](const TMarkedFile& file) { return file.Kind == TPartKind::Image; });
  if (!FImages.empty())
    FFinder.emplace(mailboxFolder, std::vector<fs::path>{}, maxBytes);
}

std::optional<std::string> TInlineImages::Read(std::string_view contentId) const
{
  for (const TMarkedFile& image : FImages) {
    if (!RefersTo(contentId, image.Hash))
      continue;
    std::string reason;
    const std::optional<TFoundFile> found = FFinder->Find(image, reason);
    if (!found)
      return std::nullopt;
    try {
      const TReadOnlyFile file(found->Path);
      const TFileIdentity now = file.Identity();
      if (!SameFile(now, found->Identity) || now.Size > FMaxBytes)
        return std::nullopt;  // swapped since it was looked at
      std::string bytes(static_cast<std::size_t>(now.Size), '\0');
      if (file.ReadAt(0, bytes.data(), bytes.size()) != bytes.size())
        return std::nullopt;  // cut while being read
      return bytes;
    } catch (const TFileError&) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace quillmend

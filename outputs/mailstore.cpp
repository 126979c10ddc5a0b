#include "outputs/mailstore.h"

#include "base/ascii.h"
#include "base/readfile.h"
#include "mime/maildate.h"
#include "outputs/emlfolder.h"
#include "outputs/imapnames.h"
#include "outputs/mboxfile.h"
#include "outputs/newfile.h"
#include "outputs/outputfile.h"

#include <algorithm>
#include <utility>

namespace quillmend {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMostKeywords = 26;  // a to z

void MakeFolder(const fs::path& folder)
{
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder, ec))
    throw TFileError(FileErrorMessage("Cannot create folder", folder, SystemErrorText(ec.value())));
}

// An empty file at path unless something is there already.
void MakeEmptyFile(const fs::path& path, unsigned mode)
{
  bool exists = false;
  TNewFile file(path, mode, false, exists);
  if (!file.IsOpen() && !exists)
    throw TFileError(FileErrorMessage("Cannot create file", path, file.Error()));
  if (file.IsOpen())
    file.Close();
}

// The names of the entries of folder; none when it cannot be read.
std::vector<std::string> Names(const fs::path& folder)
{
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
    names.push_back(PathText(it->path().filename()));
  return names;
}

// A name as a file system holds it: the characters Windows or a POSIX system refuses, and a leading
// dot that would hide the file, become "_"; a name Windows keeps for a device gets one after it.
std::string FileSafe(std::string name)
{
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
      c = '_';
  if (name.empty() || name.front() == '.')
    name.insert(name.begin(), '_');
  // Windows drops trailing dots and spaces.
  if (name.back() == '.' || name.back() == ' ')
    name.back() = '_';
  const std::string stem = AsciiLowered(name.substr(0, name.find('.')));
  static const std::set<std::string, std::less<>> kDevices = {"con", "prn", "aux", "nul"};
  const bool numbered = stem.size() == 4 && (stem.starts_with("com") || stem.starts_with("lpt")) && stem[3] >= '1' &&
                        stem[3] <= '9';
  if (kDevices.count(stem) || numbered)
    name.insert(name.begin() + static_cast<std::ptrdiff_t>(stem.size()), '_');
  return name;
}

// A folder's sink that only writes (and so only rewrites its file) once a message comes.
class TOnDemand : public TMessageSink {
public:
  explicit TOnDemand(std::function<std::unique_ptr<TMessageSink>()> make) : FMake(std::move(make)) {}
  bool Add(const TOutgoingMessage& message, const TMessageWriter& write) override
  {
    if (!FSink)
      FSink = FMake();
    return FSink->Add(message, write);
  }
  TExportReport Commit() override
  {
    TExportReport report;
    if (FSink)
      report = FSink->Commit();
    FSink.reset();
    return report;
  }

private:
  std::function<std::unique_ptr<TMessageSink>()> FMake;
  std::unique_ptr<TMessageSink> FSink;
};

// The keywords of one Maildir folder, as Dovecot keeps them: "<n> <keyword>" lines in
// dovecot-keywords, the n-th a letter from a in the file names.
class TKeywordLetters {
public:
  TKeywordLetters(fs::path folder, unsigned mode) : FFile(std::move(folder) / "dovecot-keywords"), FMode(mode)
  {
    Load();
  }

private:
  std::optional<char> Known(const std::string& keyword) const
  {
    const auto found = std::find(FNames.begin(), FNames.end(), keyword);
    return found == FNames.end() ? std::nullopt : std::optional<char>(static_cast<char>('a' + (found - FNames.begin())));
  }

  void Load()
  {
    FNames.clear();
    std::error_code ec;
    if (!fs::is_regular_file(FFile, ec))
      return;
    const TReadOnlyFile file(FFile);
    std::string text(static_cast<std::size_t>(std::min<std::int64_t>(file.Size(), 1 << 20)), '\0');
    text.resize(file.ReadAt(0, text.data(), text.size()));
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      const std::string line = text.substr(at, end - at);
      at = end + 1;
      const std::size_t space = line.find(' ');
      if (space == std::string::npos || space == 0 || line.find_first_not_of("0123456789") != space)
        continue;
      const std::size_t number = std::stoul(line.substr(0, space));
      if (number < kMostKeywords) {
        FNames.resize(std::max(FNames.size(), number + 1));
        FNames[number] = line.substr(space + 1);
      }
    }
  }

public:
  // The letter of keyword, given one (and written down) when new; none when all 26 are taken.
  std::optional<char> Letter(const std::string& keyword)
  {
    if (const std::optional<char> known = Known(keyword))
      return known;
    // The server may have given letters since the file was read: those stay as they are.
    Load();
    if (const std::optional<char> known = Known(keyword))
      return known;
    auto free = std::find(FNames.begin(), FNames.end(), std::string());
    if (free == FNames.end()) {
      if (FNames.size() == kMostKeywords)
        return std::nullopt;
      FNames.emplace_back();
      free = FNames.end() - 1;
    }
    *free = keyword;
    Save();
    return static_cast<char>('a' + (free - FNames.begin()));
  }

private:
  void Save() const
  {
    std::string text;
    for (std::size_t i = 0; i < FNames.size(); ++i)
      if (!FNames[i].empty())
        text += std::to_string(i) + " " + FNames[i] + "\n";
    TOutputFile out(FFile, FMode);
    out.Write(text);
    out.Commit(true);
  }

  fs::path FFile;
  unsigned FMode;
  std::vector<std::string> FNames;
};

// "<received>.Q<id>.quillmend:2,<flags>" and "<time>-<id>.eml": the Id back out of a name.
std::string MaildirId(std::string_view name)
{
  const std::size_t q = name.find(".Q");
  // A name that starts with a dot is a file still being written (or left by a writer that died):
  // not a message of the folder.
  if (q == std::string_view::npos || name.starts_with('.'))
    return {};
  const std::size_t end = name.find_first_of(".:!", q + 2);
  return std::string(name.substr(q + 2, end == std::string_view::npos ? std::string_view::npos : end - q - 2));
}

std::string EmlId(std::string_view name)
{
  if (!name.ends_with(".eml"))
    return {};
  name.remove_suffix(4);
  const std::size_t dash = name.rfind('-');
  return dash == std::string_view::npos ? std::string() : std::string(name.substr(dash + 1));
}

}  // namespace

TMailStore::TMailStore(fs::path root, unsigned mode) : FRoot(std::move(root)), FMode(mode) {}

TMailStore::~TMailStore() = default;

std::string TMailStore::StandardName(const TFolderName& folder, const char* inbox)
{
  switch (folder.Use) {
  case TFolderUse::Inbox: return inbox;
  case TFolderUse::Sent: return "Sent";
  case TFolderUse::Trash: return "Trash";
  case TFolderUse::Junk: return "Junk";
  case TFolderUse::Plain: break;
  }
  return folder.Name;
}

void TMailStore::AddFolder(const TFolderPath& folder)
{
  for (std::size_t depth = 1; depth <= folder.size(); ++depth) {
    const TFolderPath path(folder.begin(), folder.begin() + static_cast<std::ptrdiff_t>(depth));
    if (!FOpen.count(path))
      FOpen.emplace(path, Open(path));
  }
}

bool TMailStore::Holds(const TFolderPath& folder, const std::string& id)
{
  if (const auto open = FOpen.find(folder); open != FOpen.end())
    return open->second.Ids.count(id) > 0;
  auto known = FKnown.find(folder);
  if (known == FKnown.end())
    known = FKnown.emplace(folder, IdsIn(folder)).first;
  return known->second.count(id) > 0;
}

bool TMailStore::Add(const TOutgoingMessage& message, const TMessageWriter& write)
{
  try {
    AddFolder(message.Folder);
  } catch (const TFileError& e) {
    FReport.Failed.push_back({message.Name, e.what()});
    return true;
  }
  TOpenFolder& folder = FOpen.at(message.Folder);
  if (!message.Id.empty() &&
      (folder.Ids.count(message.Id) || std::any_of(message.AlsoIn.begin(), message.AlsoIn.end(), [&](const TFolderPath& f) {
         return Holds(f, message.Id);
       }))) {
    ++FReport.Present;
    return true;
  }
  if (!folder.FileName)
    return folder.Sink->Add(message, write);
  TOutgoingMessage named = message;
  try {
    named.Name = folder.FileName(message);
  } catch (const TFileError& e) {
    FReport.Failed.push_back({message.Name, e.what()});
    return true;
  }
  const bool more = folder.Sink->Add(named, write);
  folder.Ids.insert(message.Id);
  return more;
}

TExportReport TMailStore::Commit()
{
  TExportReport report = std::exchange(FReport, {});
  for (auto& [path, folder] : FOpen) {
    TExportReport part = folder.Sink->Commit();
    report.Written += part.Written;
    report.Present += part.Present;
    std::move(part.Failed.begin(), part.Failed.end(), std::back_inserter(report.Failed));
    std::move(part.Renamed.begin(), part.Renamed.end(), std::back_inserter(report.Renamed));
    std::move(part.Files.begin(), part.Files.end(), std::back_inserter(report.Files));
  }
  // Ids and keyword tables are read again when a folder is next written to: another run may have
  // added to it meanwhile.
  FOpen.clear();
  FKnown.clear();
  return report;
}

TMaildirStore::TMaildirStore(fs::path root, unsigned mode) : TMailStore(std::move(root), mode) {}

std::string TMaildirStore::FolderDirectory(const TFolderPath& folder)
{
  if (folder.size() == 1 && folder.front().Use == TFolderUse::Inbox)
    return {};
  std::string directory;
  for (const TFolderName& name : folder) {
    std::string segment = StandardName(name, "INBOX");
    // "." divides the levels of Maildir++.
    std::replace(segment.begin(), segment.end(), '.', '_');
    directory += '.';
    directory += ModifiedUtf7(FileSafe(segment));
  }
  return directory;
}

TMailStore::TOpenFolder TMaildirStore::Open(const TFolderPath& folder)
{
  const std::string directory = FolderDirectory(folder);
  const fs::path path = directory.empty() ? FRoot : FRoot / directory;
  for (const char* sub : {"cur", "new", "tmp"})
    MakeFolder(path / sub);
  if (!directory.empty())
    MakeEmptyFile(path / "maildirfolder", FMode);
  TOpenFolder open;
  open.Ids = IdsIn(folder);
  const auto isOwn = [](std::string_view name) { return name.find(".quillmend") != std::string_view::npos; };
  open.Sink = std::make_unique<TEmlFolder>(path / "cur", FMode, TExisting::Keep, TKeptFiles(), isOwn);
  auto letters = std::make_shared<TKeywordLetters>(path, FMode);
  open.FileName = [letters, path](const TOutgoingMessage& message) {
    std::string flags;
    if (message.Flags.Draft)
      flags += 'D';
    if (message.Flags.Forwarded)
      flags += 'P';
    if (message.Flags.Answered)
      flags += 'R';
    if (message.Flags.Seen)
      flags += 'S';
    // IMAP has no flag for P: servers show it only as the keyword $Forwarded.
    std::vector<std::string> names = message.Keywords;
    if (message.Flags.Forwarded)
      names.insert(names.begin(), "$Forwarded");
    std::string keywords;
    try {
      for (const std::string& keyword : names)
        if (const std::optional<char> letter = letters->Letter(keyword))
          keywords += *letter;
    } catch (const TFileError& e) {
      throw TFileError(FileErrorMessage("Cannot write file", path / "dovecot-keywords", e.what()));
    }
    std::sort(keywords.begin(), keywords.end());
    keywords.erase(std::unique(keywords.begin(), keywords.end()), keywords.end());
    return std::to_string(message.Received.value_or(0)) + ".Q" + message.Id + ".quillmend" + TMaildirStore::kInfo +
           flags + keywords;
  };
  return open;
}

std::set<std::string> TMaildirStore::IdsIn(const TFolderPath& folder) const
{
  const std::string directory = FolderDirectory(folder);
  const fs::path path = directory.empty() ? FRoot : FRoot / directory;
  std::set<std::string> ids;
  for (const char* sub : {"cur", "new"})
    for (const std::string& name : Names(path / sub))
      if (std::string id = MaildirId(name); !id.empty())
        ids.insert(std::move(id));
  return ids;
}

TMboxTree::TMboxTree(fs::path root, unsigned mode) : TMailStore(std::move(root), mode) {}

fs::path TMboxTree::FolderFile(const TFolderPath& folder)
{
  fs::path file;
  for (std::size_t i = 0; i < folder.size(); ++i) {
    const std::string name = FileSafe(StandardName(folder[i], "Inbox"));
    file /= PathFromUtf8(i + 1 < folder.size() ? name + ".sbd" : name);
  }
  return file;
}

TMailStore::TOpenFolder TMboxTree::Open(const TFolderPath& folder)
{
  const fs::path file = FRoot / FolderFile(folder);
  MakeFolder(file.parent_path());
  MakeEmptyFile(file, FMode);
  TOpenFolder open;
  open.Ids = IdsIn(folder);
  const unsigned mode = FMode;
  open.Sink = std::make_unique<TOnDemand>([file, mode] {
    return std::make_unique<TMboxFile>(file, mode, TExisting::Append, TKeptFiles(), TMboxFlavour::Thunderbird);
  });
  return open;
}

std::string TMboxTree::Place(const TFolderPath& folder) const { return PathText(FolderFile(folder)); }

std::set<std::string> TMboxTree::IdsIn(const TFolderPath& folder) const
{
  // A message a killed run wrote in part is no message of the folder.
  TMboxFile::TakeBackUnfinished(FRoot / FolderFile(folder));
  std::set<std::string> ids;
  for (std::string& id : TMboxFile::HeaderValues(FRoot / FolderFile(folder), kIdField))
    ids.insert(std::move(id));
  return ids;
}

TEmlTree::TEmlTree(fs::path root, unsigned mode) : TMailStore(std::move(root), mode) {}

fs::path TEmlTree::FolderPath(const TFolderPath& folder)
{
  fs::path path;
  for (const TFolderName& name : folder)
    path /= PathFromUtf8(FileSafe(StandardName(name, "INBOX")));
  return path;
}

TMailStore::TOpenFolder TEmlTree::Open(const TFolderPath& folder)
{
  const fs::path path = FRoot / FolderPath(folder);
  MakeFolder(path);
  TOpenFolder open;
  open.Ids = IdsIn(folder);
  const auto isOwn = [](std::string_view name) { return name.ends_with(".eml"); };
  open.Sink = std::make_unique<TEmlFolder>(path, FMode, TExisting::Keep, TKeptFiles(), isOwn);
  open.FileName = [](const TOutgoingMessage& message) {
    return CompactTime(message.Received.value_or(0)) + "-" + message.Id + ".eml";
  };
  return open;
}

std::string TEmlTree::Place(const TFolderPath& folder) const { return PathText(FolderPath(folder)); }

std::set<std::string> TEmlTree::IdsIn(const TFolderPath& folder) const
{
  std::set<std::string> ids;
  for (const std::string& name : Names(FRoot / FolderPath(folder)))
    if (std::string id = EmlId(name); !id.empty())
      ids.insert(std::move(id));
  return ids;
}

}  // namespace quillmend

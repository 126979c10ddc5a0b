#include "mail/rebuild.h"

#include "mail/bodypart.h"
#include "mail/mime.h"
#include "search/codepage.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>

namespace quillmend {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kFileBlock = std::size_t{57} << 12;  // whole base64 lines

bool EqualNoCase(std::string_view a, std::string_view b)
{
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

bool StartsNoCase(std::string_view text, std::string_view prefix)
{
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

std::string Lower(std::string_view text)
{
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// Lines without their ends: CR LF, LF, or CR alone as Mac mailboxes end them.
std::vector<std::string_view> SplitLines(std::string_view text)
{
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos) {
      lines.push_back(text);
      break;
    }
    lines.push_back(text.substr(0, end));
    const std::size_t skip = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
    text.remove_prefix(end + skip);
  }
  return lines;
}

// The value of a parameter such as charset in a header value or a tag, without its quotes.
std::optional<std::string> ParameterValue(std::string_view text, std::string_view name)
{
  const std::string lower = Lower(text);
  const std::string key = Lower(name) + "=";
  for (std::size_t at = lower.find(key); at != std::string::npos; at = lower.find(key, at + 1)) {
    if (at > 0 && (std::isalnum(static_cast<unsigned char>(lower[at - 1])) || lower[at - 1] == '-'))
      continue;
    std::string_view value = text.substr(at + key.size());
    if (!value.empty() && (value.front() == '"' || value.front() == '\''))
      value.remove_prefix(1);
    const std::size_t end = std::min(value.find_first_of("\"'; \t>/"), value.size());
    if (end > 0)
      return std::string(value.substr(0, end));
  }
  return std::nullopt;
}

// The character set of an x-stuff-for-pete tag: "iso-8859-1/macintosh" says the text came in the
// first and is stored in the second.
std::optional<std::string> PeteCharset(std::string_view tag)
{
  const std::size_t at = Lower(tag).find("charset=\"");
  if (at == std::string::npos)
    return std::nullopt;
  std::string_view value = tag.substr(at + 9);
  value = value.substr(0, value.find('"'));
  value.remove_prefix(value.find('/') == std::string_view::npos ? 0 : value.find('/') + 1);
  return value.empty() ? std::nullopt : std::optional<std::string>(value);
}

// The mailbox's bytes of a name as UTF-8: in the mailbox's code page unless they are UTF-8 already.
std::string NameText(std::string_view bytes, TCodePage page)
{
  return IsUtf8BeyondAscii(bytes) ? std::string(bytes) : MailToUtf8(bytes, page);
}

fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

enum class TPartKind { Attachment, Image };

// An attachment or image file, opened, for its part.
struct TFoundFile {
  std::string Name;  // UTF-8
  std::shared_ptr<TMailboxFile> File;
  std::int64_t Size = 0;
  std::string Type;      // its media type
  bool MacText = false;  // saved by Mac Eudora as text: its CR line ends go out as CR LF
};

// What a marker line says of its file: a path on the system that wrote it, and the file's name.
struct TMarkedFile {
  std::string Shown;  // the line's path, UTF-8, for the report
  std::vector<std::string> Names;  // the file's name, then other spellings it may have on disk, UTF-8
  std::optional<fs::path> Own;     // the line's path when it may be a path on this system
  std::string NotFollowed;         // why the line's path is not followed, when it is not
  std::string_view MacType;        // the Mac file type the line gives, as "TEXT"
};

// The first bytes of a file, to tell its kind.
std::string Head(TMailboxFile& file)
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
         std::none_of(head.begin(), head.end(), [](unsigned char c) { return c < 0x20 && c != '\r' && c != '\t' && c != '\f'; });
}

// Where the files of marker lines are looked for, and which folders a line's own path may lead into.
class TFileFinder {
public:
  TFileFinder(const fs::path& mailboxFolder, const TRebuildOptions& options) : FOptions(options)
  {
    const fs::path folder = mailboxFolder.empty() ? fs::path(".") : mailboxFolder;
    FNear = {folder, folder.parent_path()};
  }

  // The file a marker names; nullopt with a reason when it is nowhere it may be taken from.
  std::optional<TFoundFile> Find(const TMarkedFile& marked, TPartKind kind, std::string& reason) const
  {
    std::vector<std::string> skipped;
    if (marked.Names.empty() || marked.Names.front().empty() || marked.Names.front() == "." || marked.Names.front() == "..") {
      reason = "the line names no file";
      return std::nullopt;
    }
    const std::string& name = marked.Names.front();
    if (marked.Own && AllowedFolder(marked.Own->parent_path())) {
      if (auto found = Open(*marked.Own, name, marked.MacType, skipped))
        return found;
    } else if (marked.Own || !marked.NotFollowed.empty()) {
      skipped.push_back("its path \"" + marked.Shown + "\" was not followed: " +
                        (marked.NotFollowed.empty() ? "it is not in an attachment folder" : marked.NotFollowed));
    }
    std::vector<fs::path> folders;
    const std::vector<const char*> kinds =
        kind == TPartKind::Attachment ? std::vector<const char*>{"attach", "Attachments Folder"}
                                      : std::vector<const char*>{"Embedded", "Parts Folder"};
    for (const fs::path& near : FNear)
      for (const char* sub : kinds)
        folders.push_back(near / sub);
    if (!FOptions.AttachmentsFolder.empty())
      folders.push_back(FOptions.AttachmentsFolder);
    std::string looked;
    for (const fs::path& folder : folders) {
      for (const std::string& spelling : marked.Names)
        if (OneName(spelling))
          if (auto found = Open(folder / PathOf(spelling), name, marked.MacType, skipped))
            return found;
      looked += (looked.empty() ? "" : ", ") + ("\"" + PathText(folder) + "\"");
    }
    reason = "not found in " + looked;
    for (const std::string& s : skipped)
      reason += "; " + s;
    return std::nullopt;
  }

private:
  // A name looked for in a folder is one name there: a Mac name may hold "/", which on this system
  // would lead out of the folder (and on Windows ":" names a stream of another file).
  static bool OneName(std::string_view name)
  {
#ifdef _WIN32
    constexpr std::string_view kSeparators = "/\\:";
#else
    constexpr std::string_view kSeparators = "/\\";
#endif
    return !name.empty() && name != "." && name != ".." && name.find_first_of(kSeparators) == std::string_view::npos &&
           std::none_of(name.begin(), name.end(), [](unsigned char c) { return c < 0x20; });  // %00 cuts a path short
  }

  bool AllowedFolder(const fs::path& folder) const
  {
    const std::string base = PathText(folder.filename());
    for (const char* kind : {"attach", "Attachments Folder", "Embedded", "Parts Folder"})
      if (EqualNoCase(base, kind))
        return true;
    std::error_code ec;
    return !FOptions.AttachmentsFolder.empty() && fs::equivalent(folder, FOptions.AttachmentsFolder, ec);
  }

  // Only a regular file is read: a device or a FIFO under the name would never end or never come.
  static std::optional<TFoundFile> Open(const fs::path& path, const std::string& name, std::string_view macType,
                                        std::vector<std::string>& skipped)
  {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status))
      return std::nullopt;
    if (!fs::is_regular_file(status)) {
      skipped.push_back("\"" + PathText(path) + "\" is not a regular file");
      return std::nullopt;
    }
    try {
      auto file = std::make_shared<TMailboxFile>(path);
      if (!file->IsRegular()) {  // swapped for something else since it was looked at
        skipped.push_back("\"" + PathText(path) + "\" is not a regular file");
        return std::nullopt;
      }
      const std::int64_t size = file->Size();
      if (size > kMaxAttachmentBytes) {
        skipped.push_back("\"" + PathText(path) + "\" is larger than " + std::to_string(kMaxAttachmentBytes >> 20) + " MB");
        return std::nullopt;
      }
      const std::string head = Head(*file);
      TFoundFile found{name, std::move(file), size, MediaTypeOf(name, head), false};
      if (!macType.empty() && IsMacText(head, macType)) {
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

  const TRebuildOptions& FOptions;
  std::vector<fs::path> FNear;
};

// A Windows line's path, "c:\...\attach\name" or a path of this system.
TMarkedFile WindowsMarked(std::string_view linePath)
{
  std::vector<std::string> parts;
  for (std::string_view rest = linePath;;) {
    const std::size_t cut = rest.find_first_of("\\/");
    parts.emplace_back(rest.substr(0, cut));
    if (cut == std::string_view::npos)
      break;
    rest.remove_prefix(cut + 1);
  }
  TMarkedFile marked;
  marked.Shown = NameText(linePath, TCodePage::Windows);
  marked.Names = {NameText(parts.back(), TCodePage::Windows)};
  if (parts.size() < 2)
    return marked;
  const fs::path own = PathOf(marked.Shown);
  const bool climbs = std::any_of(parts.begin(), parts.end(), [](const std::string& p) { return p == ".." || p == "."; });
  if (climbs)
    marked.NotFollowed = "it climbs out of its folder";
  else if (!own.is_absolute())
    marked.NotFollowed = "it is no full path on this system";
  else
    marked.Own = own;
  return marked;
}

// A Mac line's path, "Volume:folder:name", names a file of a Mac disk: it is looked for by name. On
// the Mac a name may hold "/"; the names of inline images escape bytes as %xx.
TMarkedFile MacMarked(std::string_view linePath, bool escaped)
{
  std::string name(linePath.substr(linePath.rfind(':') + 1));
  if (escaped) {
    std::string plain;
    for (std::size_t i = 0; i < name.size(); ++i) {
      const auto hex = [&](std::size_t at) { return at < name.size() && std::isxdigit(static_cast<unsigned char>(name[at])); };
      if (name[i] == '%' && hex(i + 1) && hex(i + 2)) {
        plain += static_cast<char>(std::stoi(name.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        plain += name[i];
      }
    }
    name = std::move(plain);
  }
  TMarkedFile marked;
  marked.Shown = NameText(linePath, TCodePage::MacRoman);
  marked.Names = {NameText(name, TCodePage::MacRoman)};
  if (name.find('/') != std::string::npos) {
    // Copied off the Mac disk the "/" reads ":", or U+F022 through a Windows file share.
    for (const std::string_view slash : {":", "\xEF\x80\xA2"}) {
      std::string copied;
      for (const char c : marked.Names.front())
        c == '/' ? copied.append(slash) : copied.append(1, c);
      marked.Names.push_back(std::move(copied));
    }
  }
  return marked;
}

enum class TTextKind { Plain, Html, Flowed, Rich };

struct TTextPart {
  TTextKind Kind = TTextKind::Plain;
  std::vector<std::string_view> Lines;
  std::optional<std::string> Charset;  // as declared inside the part
};

struct TImage {
  TFoundFile File;
  std::uint32_t Hash = 0;
  std::string ContentId;  // empty until an HTML reference matches
};

// A part of the message being written: a leaf's headers and body, or a multipart's children.
struct TNode {
  std::string Headers;  // each line ended
  std::string Text;     // an encoded text leaf's body
  std::optional<TFoundFile> File;
  std::vector<TNode> Children;
};

class TMimeWriter {
public:
  TMimeWriter(const TByteSink& sink, std::string_view eol, std::string boundaryStem)
      : FSink(sink), FEol(eol), FStem(std::move(boundaryStem))
  {
  }

  TNode Multipart(const char* subtype, std::vector<TNode> children)
  {
    TNode node;
    node.Headers = std::string("Content-Type: multipart/") + subtype + "; boundary=\"" + FStem +
                   std::to_string(FBoundaries++) + "\"" + FEol;
    node.Children = std::move(children);
    return node;
  }

  void Write(const TNode& node)
  {
    FSink(node.Headers);
    FSink(FEol);
    if (node.File) {
      TBase64Writer base64(FSink, FEol);
      std::string block(kFileBlock, '\0');
      std::string text;
      bool afterCr = false;
      std::int64_t at = 0;
      while (at < node.File->Size) {
        const std::size_t got = node.File->File->ReadAt(at, block.data(), block.size());
        if (got == 0)
          break;
        if (node.File->MacText) {  // CR, and CR LF, as CR LF
          text.clear();
          for (const char c : std::string_view(block.data(), got)) {
            if (c == '\n' && afterCr) {
              afterCr = false;
              continue;
            }
            text += c;
            if ((afterCr = c == '\r'))
              text += '\n';
          }
          base64.Feed(text);
        } else {
          base64.Feed(std::string_view(block.data(), got));
        }
        at += static_cast<std::int64_t>(got);
      }
      base64.Finish();
      if (at != node.File->Size)  // cut while being read: a short part would pass for the whole file
        throw TFileError(FileErrorMessage("Cannot read file", node.File->File->Path(), "it became shorter while read"));
    } else if (node.Children.empty()) {
      FSink(node.Text);
      FSink(FEol);
    } else {
      const std::string& h = node.Headers;
      const std::size_t b = h.find("boundary=\"") + 10;
      const std::string boundary = h.substr(b, h.find('"', b) - b);
      for (const TNode& child : node.Children) {
        FSink("--" + boundary + FEol);
        Write(child);
      }
      FSink("--" + boundary + "--" + FEol);
    }
  }

  const std::string& Eol() const { return FEol; }

private:
  const TByteSink& FSink;
  std::string FEol;
  std::string FStem;
  int FBoundaries = 0;
};

std::string FileHeaders(const TFoundFile& file, const char* disposition, const std::string& contentId, const std::string& eol)
{
  std::string h = "Content-Type: " + file.Type + "; " + Parameter("name", file.Name) + eol +
                  "Content-Transfer-Encoding: base64" + eol;
  if (!contentId.empty())
    h += "Content-ID: <" + contentId + ">" + eol;
  return h + "Content-Disposition: " + disposition + "; " + Parameter("filename", file.Name) + eol;
}

// The cid: references of an HTML text, in order, each once.
std::vector<std::string> ContentIdReferences(std::string_view html)
{
  std::vector<std::string> ids;
  const std::string lower = Lower(html);
  for (std::size_t at = lower.find("cid:"); at != std::string::npos; at = lower.find("cid:", at + 4)) {
    const std::string_view rest = html.substr(at + 4);
    const std::size_t end = std::min(rest.find_first_of("\"' \t\r\n>)"), rest.size());
    std::string id(rest.substr(0, end));
    if (!id.empty() && std::find(ids.begin(), ids.end(), id) == ids.end())
      ids.push_back(std::move(id));
  }
  return ids;
}

std::string Joined(const std::vector<std::string_view>& lines)
{
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0)
      text += '\n';
    text.append(lines[i]);
  }
  return text;
}

bool Blank(const std::vector<std::string_view>& lines)
{
  return std::all_of(lines.begin(), lines.end(), [](std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
  });
}

bool IsHex(std::string_view text)
{
  return !text.empty() && text.size() <= 8 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

std::uint32_t HexValue(std::string_view text) { return static_cast<std::uint32_t>(std::stoul(std::string(text), nullptr, 16)); }

// The file of an attachment line: Windows 'Attachment Converted: "c:\...\attach\name"' (quoted or
// not), Mac "Attachment converted: Volume:name (TYPE/CRTR) (0008BAB8)"; nullopt for another line.
std::optional<TMarkedFile> AttachmentLine(std::string_view line)
{
  constexpr std::string_view windows = "Attachment Converted: ", mac = "Attachment converted: ";
  if (line.starts_with(windows)) {
    std::string_view path = line.substr(windows.size());
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
      path = path.substr(1, path.size() - 2);
    return WindowsMarked(path);
  }
  if (!line.starts_with(mac))
    return std::nullopt;
  std::string_view path = line.substr(mac.size());
  if (path.size() > 11 && path.ends_with(')') && path.substr(path.size() - 11, 2) == " (" &&
      IsHex(path.substr(path.size() - 9, 8)))
    path.remove_suffix(11);
  std::string_view type;
  if (path.size() > 12 && path.ends_with(')') && path.substr(path.size() - 12, 2) == " (" && path[path.size() - 6] == '/') {
    type = path.substr(path.size() - 10, 4);
    path.remove_suffix(12);
  }
  TMarkedFile marked = MacMarked(path, false);
  marked.MacType = type;
  return marked;
}

// The file and Content-ID hash of an inline image line: Windows "Embedded Content: name:
// 00000001,586425e8,00000000,00000000", Mac "Related: :Volume:name:0008BABA:586425E8:00000000:00000000".
std::optional<std::pair<TMarkedFile, std::uint32_t>> ImageLine(std::string_view line)
{
  constexpr std::string_view windows = "Embedded Content: ", mac = "Related: ";
  if (line.starts_with(windows)) {
    line.remove_prefix(windows.size());
    const std::size_t colon = line.rfind(": ");
    if (colon == std::string_view::npos)
      return std::nullopt;
    const std::string_view fields = line.substr(colon + 2);
    const std::size_t comma = fields.find(',');
    if (comma == std::string_view::npos)
      return std::nullopt;
    const std::string_view hash = fields.substr(comma + 1, fields.find(',', comma + 1) - comma - 1);
    if (!IsHex(hash))
      return std::nullopt;
    return std::pair{WindowsMarked(line.substr(0, colon)), HexValue(hash)};
  }
  if (!line.starts_with(mac))
    return std::nullopt;
  std::string_view path = line.substr(mac.size());
  std::string_view fields[4];
  for (int i = 3; i >= 0; --i) {
    const std::size_t colon = path.rfind(':');
    if (colon == std::string_view::npos || !IsHex(path.substr(colon + 1)))
      return std::nullopt;
    fields[i] = path.substr(colon + 1);
    path = path.substr(0, colon);
  }
  return std::pair{MacMarked(path, true), HexValue(fields[1])};
}

// "Name: value", the name of printable ASCII.
bool IsFieldLine(std::string_view line)
{
  const std::size_t colon = line.find(':');
  return colon != std::string_view::npos && colon > 0 &&
         std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                     [](unsigned char c) { return c > 32 && c < 127; });
}

// "Mon Dec 13 18:45:29 2010" of "From ???@??? Mon Dec 13 18:45:29 2010".
std::string SeparatorDate(std::string_view separator)
{
  if (!separator.starts_with("From "))
    return {};
  separator.remove_prefix(5);
  const std::size_t space = separator.find(' ');
  return space == std::string_view::npos ? std::string() : std::string(separator.substr(space + 1));
}

// The separator's date as an RFC 5322 date: its zone is not known, which -0000 says.
std::string HeaderDate(const std::string& date)
{
  std::vector<std::string> w;
  for (std::size_t at = 0; at < date.size();) {
    const std::size_t end = std::min(date.find(' ', at), date.size());
    if (end > at)
      w.push_back(date.substr(at, end - at));
    at = end + 1;
  }
  if (w.size() != 5)
    return {};
  return w[0] + ", " + w[2] + " " + w[1] + " " + w[4] + " " + w[3] + " -0000";
}

}  // namespace

std::string MboxFromLine(std::string_view stored)
{
  const std::string date = SeparatorDate(stored.substr(0, std::min(stored.find_first_of("\r\n"), stored.size())));
  return "From MAILER-DAEMON " + (date.empty() ? std::string("Thu Jan  1 00:00:00 1970") : date);
}

TRebuildCounts RebuildMessage(std::string_view stored, const fs::path& mailboxFolder, const TRebuildOptions& options,
                              const TByteSink& sink, std::string_view eolView)
{
  const std::string eol(eolView);
  TRebuildCounts counts;
  const TFileFinder finder(mailboxFolder, options);
  const std::vector<std::string_view> lines = SplitLines(stored);
  // A Mac mailbox ends its lines in CR alone, and its text is Mac Roman.
  const std::size_t firstEnd = stored.find_first_of("\r\n");
  const bool mac = firstEnd != std::string_view::npos && stored[firstEnd] == '\r' &&
                   (firstEnd + 1 == stored.size() || stored[firstEnd + 1] != '\n');
  const std::string defaultCharset = mac ? "macintosh" : "windows-1252";

  std::size_t at = 0;
  std::string date;
  if (!lines.empty() && lines[0].starts_with("From ")) {
    date = HeaderDate(SeparatorDate(lines[0]));
    at = 1;
  }

  // The header block, less the fields that no longer tell the truth.
  std::string header;
  std::optional<std::string> declaredCharset;
  std::string declaredType;
  std::vector<std::string> sentPaths;
  bool hasDate = false, hasMimeVersion = false;
  {
    std::vector<std::string> field;
    const auto flush = [&] {
      if (field.empty())
        return;
      const std::string& first = field.front();
      const std::string name = Lower(first.substr(0, first.find(':')));
      std::string value = first.substr(std::min(first.find(':') + 1, first.size()));
      for (std::size_t i = 1; i < field.size(); ++i)
        value += " " + field[i];
      if (name == "content-type") {
        declaredCharset = ParameterValue(value, "charset");
        declaredType = Lower(value.substr(0, value.find(';')));
        declaredType.erase(0, declaredType.find_first_not_of(" \t"));
        declaredType.erase(declaredType.find_last_not_of(" \t") + 1);
      } else if (name == "x-attachments") {
        for (std::size_t p = 0; p < value.size();) {
          const std::size_t end = std::min(value.find(';', p), value.size());
          std::string path = value.substr(p, end - p);
          path.erase(0, path.find_first_not_of(" \t\""));
          path.erase(path.find_last_not_of(" \t\"") + 1);
          if (!path.empty())
            sentPaths.push_back(path);
          p = end + 1;
        }
      } else if (name != "content-transfer-encoding" && name != "content-length" && name != "lines") {
        hasDate = hasDate || name == "date";
        hasMimeVersion = hasMimeVersion || name == "mime-version";
        for (const std::string& l : field)
          header += l + eol;
      }
      field.clear();
    };
    for (; at < lines.size() && !lines[at].empty(); ++at) {
      if ((lines[at].front() == ' ' || lines[at].front() == '\t') && !field.empty()) {
        field.emplace_back(lines[at]);
      } else if (IsFieldLine(lines[at])) {
        flush();
        field.emplace_back(lines[at]);
      } else {
        break;  // a header block never closed: the text starts here
      }
    }
    flush();
    if (at < lines.size() && lines[at].empty())
      ++at;  // the blank line
  }

  // The body: text parts between markers, the attachment and image lines out of them.
  std::vector<TTextPart> texts(1);
  std::vector<TFoundFile> attachments;
  std::vector<TImage> images;
  const auto missing = [&](const TMarkedFile& marked, const std::string& reason) {
    counts.Missing.push_back({{}, marked.Shown, reason});
  };
  struct TMarker {
    std::string_view Open, Close;
    TTextKind Kind;
  };
  static constexpr TMarker kMarkers[] = {{"<x-html>", "</x-html>", TTextKind::Html},
                                         {"<x-flowed>", "</x-flowed>", TTextKind::Flowed},
                                         {"<x-rich>", "</x-rich>", TTextKind::Rich}};
  for (; at < lines.size(); ++at) {
    std::string_view line = lines[at];
    // A marker opens a part at the start of a line and closes it at the end: Mac Eudora writes the
    // part's first text, and its x-stuff-for-pete tag, on the marker's own line.
    bool marks = false;
    for (const TMarker& m : kMarkers) {
      if (StartsNoCase(line, m.Open)) {
        texts.push_back({m.Kind, {}, {}});
        line.remove_prefix(m.Open.size());
        marks = true;
        break;
      }
    }
    if (StartsNoCase(line, "<!x-stuff-for-pete")) {
      const std::size_t close = std::min(line.find('>'), line.size() - 1);
      texts.back().Charset = PeteCharset(line.substr(0, close));
      line.remove_prefix(close + 1);
      marks = true;
    }
    bool closes = false;
    for (const TMarker& m : kMarkers) {
      if (line.size() >= m.Close.size() && EqualNoCase(line.substr(line.size() - m.Close.size()), m.Close)) {
        line.remove_suffix(m.Close.size());
        closes = true;
        break;
      }
    }
    if (marks || closes) {
      if (line.find_first_not_of(" \t") != std::string_view::npos)
        texts.back().Lines.push_back(line);
      if (closes)
        texts.push_back({TTextKind::Plain, {}, {}});
      continue;
    }
    std::string reason;
    if (const auto marked = AttachmentLine(line)) {
      if (auto found = finder.Find(*marked, TPartKind::Attachment, reason)) {
        attachments.push_back(std::move(*found));
        continue;
      }
      missing(*marked, reason);
    } else if (const auto image = ImageLine(line)) {
      if (auto found = finder.Find(image->first, TPartKind::Image, reason)) {
        images.push_back({std::move(*found), image->second, {}});
        continue;
      }
      missing(image->first, reason);
    }
    texts.back().Lines.push_back(line);
  }
  std::vector<std::string> sentMissing;
  for (const std::string& path : sentPaths) {
    std::string reason;
    const TMarkedFile marked = mac ? MacMarked(path, false) : WindowsMarked(path);
    if (auto found = finder.Find(marked, TPartKind::Attachment, reason)) {
      attachments.push_back(std::move(*found));
    } else {
      missing(marked, reason);
      sentMissing.push_back(path);
    }
  }
  std::erase_if(texts, [](const TTextPart& t) { return Blank(t.Lines); });

  // The header block as it goes out; the flag word only here, never in a part.
  if (!hasDate && !date.empty())
    header += "Date: " + date + eol;
  if (!hasMimeVersion)
    header += "MIME-Version: 1.0" + eol;
  if (!sentMissing.empty()) {  // their paths, as the marker lines of what is missing
    header += "X-Attachments: ";
    for (std::size_t i = 0; i < sentMissing.size(); ++i)
      header += (i ? ";" : "") + sentMissing[i];
    header += eol;
  }
  std::string replaced;
  TFlagWordReplacer replacer;
  replacer.Feed(header, replaced);
  replacer.Finish(replaced);

  // A boundary that no encoded line can hold: quoted-printable writes "=" as "=3D".
  TMimeWriter writer(sink, eol, "=_quillmend_" + std::to_string(ContentIdHash(stored)) + "_");
  std::vector<TNode> bodies;
  std::vector<bool> related(images.size(), false);
  for (const TTextPart& part : texts) {
    const std::string text = Joined(part.Lines);
    std::optional<std::string> charset = part.Charset;
    if (!charset && part.Kind == TTextKind::Html) {
      const std::string_view head = std::string_view(text).substr(0, std::min<std::size_t>(text.size(), 4096));
      for (std::size_t m = Lower(head).find("<meta"); m != std::string::npos && !charset;
           m = Lower(head).find("<meta", m + 5))
        charset = ParameterValue(head.substr(m, head.find('>', m) - m), "charset");
    }
    if (!charset)
      charset = declaredCharset;
    if (!charset)  // Eudora kept UTF-8 parts as they came
      charset = IsUtf8BeyondAscii(text) ? "utf-8"
                : std::all_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x80; }) ? "us-ascii"
                                                                                             : defaultCharset;
    const char* type = part.Kind == TTextKind::Html ? "text/html" : part.Kind == TTextKind::Rich ? "text/enriched" : "text/plain";
    const bool encode = Needs7bitEncoding(text);
    TNode node;
    node.Headers = std::string("Content-Type: ") + type + "; " + Parameter("charset", *charset) +
                   (part.Kind == TTextKind::Flowed ? "; format=flowed" : "") + eol +
                   "Content-Transfer-Encoding: " + (encode ? "quoted-printable" : "7bit") + eol;
    if (encode) {
      node.Text = QuotedPrintable(text, eol);
    } else {
      for (std::size_t i = 0; i < part.Lines.size(); ++i)
        node.Text.append(i ? eol : "").append(part.Lines[i]);
    }
    if (part.Kind == TTextKind::Html && !images.empty()) {
      // Each image that a cid: reference names, by the hash of the reference, in either letter case.
      std::vector<TNode> children{std::move(node)};
      for (const std::string& id : ContentIdReferences(text)) {
        for (std::size_t i = 0; i < images.size(); ++i) {
          if (related[i] || (images[i].Hash != ContentIdHash(id) && images[i].Hash != ContentIdHash(Lower(id))))
            continue;
          related[i] = true;
          TNode image;
          image.Headers = FileHeaders(images[i].File, "inline", id, eol);
          image.File = images[i].File;
          children.push_back(std::move(image));
          ++counts.Images;
          break;
        }
      }
      node = children.size() > 1 ? writer.Multipart("related", std::move(children)) : std::move(children.front());
    }
    bodies.push_back(std::move(node));
  }
  // Two forms of one text: the texts of an alternative up to its last rich form (a mail program shows
  // the last one, so a plain line after it, such as a marker whose file is missing, stays beside them),
  // or a plain text and its HTML that an HTML message with inline images held.
  const auto rich = std::find_if(texts.rbegin(), texts.rend(),
                                 [](const TTextPart& t) { return t.Kind == TTextKind::Html || t.Kind == TTextKind::Rich; });
  const auto forms = static_cast<std::size_t>(texts.rend() - rich);  // 0 when there is no rich form
  const bool alternative = declaredType == "multipart/alternative" ||
                           (declaredType == "multipart/related" && texts.size() == 2 && forms == 2);
  if (alternative && forms >= 2) {
    std::vector<TNode> both(std::make_move_iterator(bodies.begin()), std::make_move_iterator(bodies.begin() + static_cast<std::ptrdiff_t>(forms)));
    bodies.erase(bodies.begin(), bodies.begin() + static_cast<std::ptrdiff_t>(forms));
    bodies.insert(bodies.begin(), writer.Multipart("alternative", std::move(both)));
  }
  if (bodies.empty()) {
    TNode empty;
    empty.Headers = "Content-Type: text/plain; charset=\"us-ascii\"" + eol + "Content-Transfer-Encoding: 7bit" + eol;
    bodies.push_back(std::move(empty));
  }
  for (TFoundFile& file : attachments) {
    TNode node;
    node.Headers = FileHeaders(file, "attachment", {}, eol);
    node.File = std::move(file);
    bodies.push_back(std::move(node));
    ++counts.Attachments;
  }
  for (std::size_t i = 0; i < images.size(); ++i) {
    if (related[i])
      continue;  // an image no reference names is still the user's
    TNode node;
    node.Headers = FileHeaders(images[i].File, "attachment", {}, eol);
    node.File = images[i].File;
    bodies.push_back(std::move(node));
    ++counts.Images;
  }
  const TNode root = bodies.size() == 1 ? std::move(bodies.front()) : writer.Multipart("mixed", std::move(bodies));
  sink(replaced);
  writer.Write(root);
  return counts;
}

namespace {

// The message of record index as the mailbox holds it now: fewer bytes when it ends earlier.
std::string ReadMessage(TRangeReader& reader, const TEmail& email)
{
  const TByteRange range = MessageRange(email);
  return ReadRange(reader, range, static_cast<std::size_t>(range.Length()));
}

void Add(TRebuildReport& report, TRebuildCounts&& counts, const std::string& fileName)
{
  report.Attachments += counts.Attachments;
  report.Images += counts.Images;
  for (TMissingPart& part : counts.Missing) {
    part.FileName = fileName;
    report.Missing.push_back(std::move(part));
  }
}

void CheckIndexes(const fs::path& mailbox, const TEmailArray& emails, const std::vector<std::size_t>& indexes)
{
  for (const std::size_t index : indexes)
    if (index >= emails.size())
      throw std::out_of_range("No message " + std::to_string(index) + " in \"" + PathText(mailbox) + "\"");
}

// Adds one > to each line that matches ^>*From as the pieces stream through.
class TMboxEscaper {
public:
  explicit TMboxEscaper(TOutputFile& file) : FFile(file) {}
  void Feed(std::string_view bytes)
  {
    FOut.clear();
    for (const char c : bytes) {
      if (FLineStart) {
        FProbe += c;
        const std::size_t quotes = FProbe.find_first_not_of('>');
        if (c == '\n' || (quotes != std::string::npos &&
                          !std::string_view("From ").starts_with(std::string_view(FProbe).substr(quotes)))) {
          FOut += FProbe;
          FProbe.clear();
          FLineStart = c == '\n';
        } else if (quotes != std::string::npos && FProbe.size() - quotes == 5) {
          FOut += '>';
          FOut += FProbe;
          FProbe.clear();
          FLineStart = false;
        }
        continue;
      }
      FOut += c;
      FLineStart = c == '\n';
    }
    FFile.Write(FOut);
  }
  void Finish()
  {
    FFile.Write(FProbe);
    FProbe.clear();
    FLineStart = true;
  }

private:
  TOutputFile& FFile;
  std::string FOut, FProbe;
  bool FLineStart = true;
};

}  // namespace

TRebuildReport RebuildMessages(const fs::path& mailbox, const TEmailArray& emails, const std::vector<std::size_t>& indexes,
                               const fs::path& folder, const TRebuildOptions& options, TProgressObserver* observer,
                               TExisting existing, const TFileIdentity* scanned)
{
  CheckIndexes(mailbox, emails, indexes);
  TRebuildReport report;
  std::optional<TMailboxFile> file;
  std::optional<TRangeReader> reader;
  if (!indexes.empty()) {
    file.emplace(mailbox);
    if (scanned)
      file->ExpectUnchanged(*scanned);
    reader.emplace(*file);
  }
  const auto write = [&](std::size_t index, const TByteSink& sink) {
    const std::string stored = ReadMessage(*reader, emails.at(index));
    const TByteRange range = MessageRange(emails.at(index));
    if (stored.empty())
      return TMessageBytes{0, range.Length()};
    Add(report, RebuildMessage(stored, mailbox.parent_path(), options, sink), ExportFileName(index));
    return TMessageBytes{static_cast<std::int64_t>(stored.size()), range.Length()};
  };
  static_cast<TExportReport&>(report) = ExportFiles(write, ExportMode(mailbox), indexes, folder, observer, existing);
  return report;
}

TRebuildReport ExportMbox(const fs::path& mailbox, const TEmailArray& emails, const std::vector<std::size_t>& indexes,
                          const fs::path& target, const TRebuildOptions& options, TProgressObserver* observer,
                          TExisting existing, const TFileIdentity* scanned)
{
  CheckIndexes(mailbox, emails, indexes);
  TProgressSession session(observer);
  TProgressFeed feed(observer);
  TRebuildReport report;
  const std::string fileName = PathText(target.filename());
  TMailboxFile file(mailbox);
  if (scanned)
    file.ExpectUnchanged(*scanned);
  TRangeReader reader(file);
  try {
    TOutputFile out(target, ExportMode(mailbox));
    TMboxEscaper escaper(out);
    std::size_t written = 0;
    for (std::size_t done = 0; done < indexes.size(); ++done) {
      const std::size_t index = indexes[done];
      const std::string stored = ReadMessage(reader, emails.at(index));
      if (static_cast<std::int64_t>(stored.size()) != MessageRange(emails.at(index)).Length()) {
        report.Failed.push_back({"message " + std::to_string(index), "the mailbox ends before the message does: left out"});
      } else {
        out.Write(MboxFromLine(stored) + "\n");
        Add(report, RebuildMessage(stored, mailbox.parent_path(), options, [&](std::string_view piece) { escaper.Feed(piece); }, "\n"),
            fileName);
        escaper.Finish();
        out.Write("\n");
        ++written;
      }
      feed.Progress(static_cast<int>((done + 1) * 100 / indexes.size()));
      if (feed.Step() && done + 1 < indexes.size()) {
        report.Cancelled = true;
        break;
      }
    }
    report.Files.push_back(out.Commit(existing == TExisting::Replace));
    report.Written = written;
    if (report.Files.back() != fileName)
      report.Renamed.push_back({fileName, report.Files.back()});
  } catch (const TFileError& e) {
    report.Failed.push_back({fileName, e.what()});
    report.Written = 0;
    report.Files.clear();
  }
  return report;
}

}  // namespace quillmend

#include "eudora/markers.h"

#include "base/ascii.h"
#include "base/system.h"
#include "base/text.h"
#include "search/codepage.h"

#include <algorithm>
#include <unordered_set>

namespace quillmend {

namespace fs = std::filesystem;

namespace {

bool IsHex(std::string_view text)
{
  return !text.empty() && text.size() <= 8 &&
         text.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

std::uint32_t HexValue(std::string_view text)
{
  std::uint32_t value = 0;
  for (const char c : text) {
    const char l = AsciiLower(c);
    value = value << 4 | static_cast<std::uint32_t>(l <= '9' ? l - '0' : l - 'a' + 10);
  }
  return value;
}

// %xx escapes, as Mac Eudora writes the names of inline images.
std::string Unescaped(std::string_view name)
{
  std::string plain;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '%' && i + 2 < name.size() && IsHex(name.substr(i + 1, 2))) {
      plain += static_cast<char>(HexValue(name.substr(i + 1, 2)));
      i += 2;
    } else {
      plain += name[i];
    }
  }
  return plain;
}

// The character set of an x-stuff-for-pete tag: "iso-8859-1/macintosh" says the text came in the
// first and is stored in the second.
std::optional<std::string> PeteCharset(std::string_view tag)
{
  const std::size_t at = AsciiLowered(tag).find("charset=\"");
  if (at == std::string::npos)
    return std::nullopt;
  std::string_view value = tag.substr(at + 9);
  value = value.substr(0, value.find('"'));
  value.remove_prefix(value.find('/') == std::string_view::npos ? 0 : value.find('/') + 1);
  return value.empty() ? std::nullopt : std::optional<std::string>(value);
}

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
  marked.Shown = ClientText(linePath, TCodePage::Windows);
  marked.Names = {ClientText(parts.back(), TCodePage::Windows)};
  if (parts.size() < 2)
    return marked;
  const fs::path own = PathFromUtf8(marked.Shown);
  const bool climbs =
      std::any_of(parts.begin(), parts.end(), [](const std::string& p) { return p == ".." || p == "."; });
  // \\host\share\... (and the \\?\ forms): opening one would make this program contact a server.
  const bool remote = parts.size() >= 2 && parts[0].empty() && parts[1].empty();
  if (remote)
    marked.NotFollowed = "it names a folder of another computer";
  else if (climbs)
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
  const std::string_view last = linePath.substr(linePath.rfind(':') + 1);
  const std::string name = escaped ? Unescaped(last) : std::string(last);
  TMarkedFile marked;
  marked.Shown = ClientText(linePath, TCodePage::MacRoman);
  marked.Names = {ClientText(name, TCodePage::MacRoman)};
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
  if (path.size() > 12 && path.ends_with(')') && path.substr(path.size() - 12, 2) == " (" &&
      path[path.size() - 6] == '/') {
    type = path.substr(path.size() - 10, 4);
    path.remove_suffix(12);
  }
  TMarkedFile marked = MacMarked(path, false);
  marked.MacType = type;
  return marked;
}

// The file and Content-ID hash of an inline image line: Windows "Embedded Content: name:
// 00000001,586425e8,00000000,00000000", Mac "Related: :Volume:name:0008BABA:586425E8:00000000:00000000".
std::optional<TMarkedFile> ImageLine(std::string_view line)
{
  constexpr std::string_view windows = "Embedded Content: ", mac = "Related: ";
  std::optional<TMarkedFile> marked;
  std::string_view hash;
  if (line.starts_with(windows)) {
    line.remove_prefix(windows.size());
    const std::size_t colon = line.rfind(": ");
    if (colon == std::string_view::npos)
      return std::nullopt;
    const std::string_view fields = line.substr(colon + 2);
    const std::size_t comma = fields.find(',');
    if (comma == std::string_view::npos)
      return std::nullopt;
    hash = fields.substr(comma + 1, fields.find(',', comma + 1) - comma - 1);
    if (!IsHex(hash))
      return std::nullopt;
    marked = WindowsMarked(line.substr(0, colon));
  } else if (line.starts_with(mac)) {
    std::string_view path = line.substr(mac.size());
    std::string_view fields[4];
    for (int i = 3; i >= 0; --i) {
      const std::size_t colon = path.rfind(':');
      if (colon == std::string_view::npos || !IsHex(path.substr(colon + 1)))
        return std::nullopt;
      fields[i] = path.substr(colon + 1);
      path = path.substr(0, colon);
    }
    hash = fields[1];
    marked = MacMarked(path, true);
  } else {
    return std::nullopt;
  }
  marked->Kind = TPartKind::Image;
  marked->Hash = HexValue(hash);
  return marked;
}

struct TMarker {
  std::string_view Open, Close;
  TTextKind Kind;
};
constexpr TMarker kMarkers[] = {{"<x-html>", "</x-html>", TTextKind::Html},
                                {"<x-flowed>", "</x-flowed>", TTextKind::Flowed},
                                {"<x-rich>", "</x-rich>", TTextKind::Rich}};

}  // namespace

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

TEudoraText ReadEudoraText(const std::vector<std::string_view>& lines)
{
  TEudoraText text;
  text.Parts.emplace_back();
  for (std::string_view line : lines) {
    bool marks = false;
    for (const TMarker& m : kMarkers) {
      if (StartsNoCase(line, m.Open)) {
        text.Parts.push_back({m.Kind, {}, {}});
        line.remove_prefix(m.Open.size());
        marks = true;
        break;
      }
    }
    if (StartsNoCase(line, "<!x-stuff-for-pete")) {
      const std::size_t close = std::min(line.find('>'), line.size() - 1);
      text.Parts.back().Charset = PeteCharset(line.substr(0, close));
      line.remove_prefix(close + 1);
      marks = true;
    }
    bool closes = false;
    for (const TMarker& m : kMarkers) {
      if (EndsNoCase(line, m.Close)) {
        line.remove_suffix(m.Close.size());
        closes = true;
        break;
      }
    }
    if (marks || closes) {
      if (line.find_first_not_of(" \t") != std::string_view::npos)
        text.Parts.back().Lines.push_back({line, {}});
      if (closes)
        text.Parts.push_back({TTextKind::Plain, {}, {}});
      continue;
    }
    std::optional<TMarkedFile> marked = AttachmentLine(line);
    if (!marked)
      marked = ImageLine(line);
    std::optional<std::size_t> file;
    if (marked) {
      file = text.Files.size();
      text.Files.push_back(std::move(*marked));
    }
    text.Parts.back().Lines.push_back({line, file});
  }
  return text;
}

TMarkedFile SentAttachment(std::string_view path, bool mac)
{
  return mac ? MacMarked(path, false) : WindowsMarked(path);
}

std::vector<std::string> ContentIdReferences(std::string_view html)
{
  std::vector<std::string> ids;
  std::unordered_set<std::string_view> seen;
  const std::string lower = AsciiLowered(html);
  for (std::size_t at = lower.find("cid:"); at != std::string::npos; at = lower.find("cid:", at + 4)) {
    const std::string_view rest = html.substr(at + 4);
    const std::string_view id = rest.substr(0, std::min(rest.find_first_of("\"' \t\r\n>)"), rest.size()));
    if (!id.empty() && seen.insert(id).second)
      ids.emplace_back(id);
  }
  return ids;
}

std::uint32_t ContentIdHash(std::string_view id)
{
  constexpr std::uint64_t kModulus = 2147483629;
  std::uint64_t hash = 0;
  for (const char c : id)
    hash = (hash * 256 + static_cast<unsigned char>(c)) % kModulus;
  return static_cast<std::uint32_t>(hash + 1);
}

bool RefersTo(std::string_view contentId, std::uint32_t hash)
{
  return hash == ContentIdHash(contentId) || hash == ContentIdHash(AsciiLowered(contentId));
}

std::string ClientText(std::string_view bytes, TCodePage page)
{
  return IsUtf8BeyondAscii(bytes) ? std::string(bytes) : MailToUtf8(bytes, page);
}

}  // namespace quillmend

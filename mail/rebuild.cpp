#include "mail/rebuild.h"

#include "mail/bodypart.h"
#include "mail/mime.h"
#include "search/codepage.h"

#include <algorithm>
#include <cctype>
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

// The mailbox's bytes of a name as UTF-8: Windows-1252 unless they are UTF-8 already.
std::string NameText(std::string_view bytes)
{
  return IsUtf8BeyondAscii(bytes) ? std::string(bytes) : Cp1252ToUtf8(bytes);
}

fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

enum class TPartKind { Attachment, Image };

// An attachment or image file, opened, for its part.
struct TFoundFile {
  std::string Name;  // UTF-8
  std::shared_ptr<TMailboxFile> File;
  std::int64_t Size = 0;
};

// Where the files of marker lines are looked for, and which folders a line's own path may lead into.
class TFileFinder {
public:
  TFileFinder(const fs::path& mailboxFolder, const TRebuildOptions& options) : FOptions(options)
  {
    const fs::path folder = mailboxFolder.empty() ? fs::path(".") : mailboxFolder;
    FNear = {folder, folder.parent_path()};
  }

  // The file a marker names by path (as the line gives it, the mailbox's bytes); nullopt with a
  // reason when it is nowhere it may be taken from.
  std::optional<TFoundFile> Find(std::string_view linePath, TPartKind kind, std::string& reason) const
  {
    std::vector<std::string> parts;
    for (std::string_view rest = linePath;;) {
      const std::size_t cut = rest.find_first_of("\\/");
      parts.emplace_back(rest.substr(0, cut));
      if (cut == std::string_view::npos)
        break;
      rest.remove_prefix(cut + 1);
    }
    const std::string name = NameText(parts.back());
    std::vector<std::string> skipped;
    if (name.empty() || name == "." || name == "..") {
      reason = "the line names no file";
      return std::nullopt;
    }
    // The line's own path, only into a folder that holds such files.
    const fs::path own = PathOf(NameText(linePath));
    const bool climbs = std::any_of(parts.begin(), parts.end(), [](const std::string& p) { return p == ".." || p == "."; });
    if (own.is_absolute() && !climbs && parts.size() >= 2 && AllowedFolder(own.parent_path())) {
      if (auto found = Open(own, name, skipped))
        return found;
    } else if (parts.size() >= 2) {
      const char* why = climbs ? "it climbs out of its folder"
                        : !own.is_absolute() ? "it is no full path on this system"
                                             : "it is not in an attachment folder";
      skipped.push_back("its path \"" + NameText(linePath) + "\" was not followed: " + why);
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
      if (auto found = Open(folder / PathOf(name), name, skipped))
        return found;
      looked += (looked.empty() ? "" : ", ") + ("\"" + PathText(folder) + "\"");
    }
    reason = "not found in " + looked;
    for (const std::string& s : skipped)
      reason += "; " + s;
    return std::nullopt;
  }

private:
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
  static std::optional<TFoundFile> Open(const fs::path& path, const std::string& name, std::vector<std::string>& skipped)
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
      const std::int64_t size = file->Size();
      if (size > kMaxAttachmentBytes) {
        skipped.push_back("\"" + PathText(path) + "\" is larger than " + std::to_string(kMaxAttachmentBytes >> 20) + " MB");
        return std::nullopt;
      }
      return TFoundFile{name, std::move(file), size};
    } catch (const TFileError& e) {
      skipped.push_back(e.what());
      return std::nullopt;
    }
  }

  const TRebuildOptions& FOptions;
  std::vector<fs::path> FNear;
};

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
      std::int64_t at = 0;
      while (at < node.File->Size) {
        const std::size_t got = node.File->File->ReadAt(at, block.data(), block.size());
        if (got == 0)
          break;
        base64.Feed(std::string_view(block.data(), got));
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
  std::string h = "Content-Type: " + MediaTypeOf(file.Name) + "; " + Parameter("name", file.Name) + eol +
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

// The path of an "Attachment Converted: path" line, quoted or not; nullopt for another line.
std::optional<std::string_view> AttachmentLine(std::string_view line)
{
  constexpr std::string_view prefix = "Attachment Converted: ";
  if (!line.starts_with(prefix))
    return std::nullopt;
  std::string_view path = line.substr(prefix.size());
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
    path = path.substr(1, path.size() - 2);
  return path;
}

// "Embedded Content: name: 00000001,586425e8,00000000,00000000": the name and the Content-ID hash.
std::optional<std::pair<std::string_view, std::uint32_t>> EmbeddedLine(std::string_view line)
{
  constexpr std::string_view prefix = "Embedded Content: ";
  if (!line.starts_with(prefix))
    return std::nullopt;
  line.remove_prefix(prefix.size());
  const std::size_t colon = line.rfind(": ");
  if (colon == std::string_view::npos)
    return std::nullopt;
  const std::string_view fields = line.substr(colon + 2);
  const std::size_t comma = fields.find(',');
  if (comma == std::string_view::npos)
    return std::nullopt;
  const std::string hash(fields.substr(comma + 1, fields.find(',', comma + 1) - comma - 1));
  if (hash.empty() || hash.size() > 8 || hash.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return std::nullopt;
  return std::pair{line.substr(0, colon), static_cast<std::uint32_t>(std::stoul(hash, nullptr, 16))};
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
  const auto missing = [&](std::string_view name, const std::string& reason) {
    counts.Missing.push_back({{}, NameText(name), reason});
  };
  struct TMarker {
    std::string_view Open, Close;
    TTextKind Kind;
  };
  static constexpr TMarker kMarkers[] = {{"<x-html>", "</x-html>", TTextKind::Html},
                                         {"<x-flowed>", "</x-flowed>", TTextKind::Flowed},
                                         {"<x-rich>", "</x-rich>", TTextKind::Rich}};
  for (; at < lines.size(); ++at) {
    const std::string_view line = lines[at];
    const TMarker* marker = nullptr;
    bool closes = false;
    for (const TMarker& m : kMarkers) {
      if (EqualNoCase(line, m.Open))
        marker = &m;
      else if (EqualNoCase(line, m.Close))
        marker = &m, closes = true;
    }
    if (marker) {
      texts.push_back({closes ? TTextKind::Plain : marker->Kind, {}, {}});
      continue;
    }
    if (line.starts_with("<!x-stuff-for-pete")) {
      texts.back().Charset = ParameterValue(line, "charset");
      continue;
    }
    std::string reason;
    if (const auto path = AttachmentLine(line)) {
      if (auto found = finder.Find(*path, TPartKind::Attachment, reason)) {
        attachments.push_back(std::move(*found));
        continue;
      }
      missing(*path, reason);
    } else if (const auto embedded = EmbeddedLine(line)) {
      if (auto found = finder.Find(embedded->first, TPartKind::Image, reason)) {
        images.push_back({std::move(*found), embedded->second, {}});
        continue;
      }
      missing(embedded->first, reason);
    }
    texts.back().Lines.push_back(line);
  }
  std::vector<std::string> sentMissing;
  for (const std::string& path : sentPaths) {
    std::string reason;
    if (auto found = finder.Find(path, TPartKind::Attachment, reason)) {
      attachments.push_back(std::move(*found));
    } else {
      missing(path, reason);
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
      charset = IsUtf8BeyondAscii(text) ? "utf-8" : defaultCharset;
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

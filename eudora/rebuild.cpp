#include "eudora/rebuild.h"

#include "base/ascii.h"
#include "base/text.h"
#include "eudora/attachments.h"
#include "eudora/markers.h"
#include "mail/flagword.h"
#include "mime/encodings.h"
#include "mime/maildate.h"
#include "mime/tree.h"
#include "search/codepage.h"

#include <algorithm>
#include <iterator>
#include <optional>

namespace quillmend {

namespace fs = std::filesystem;

namespace {

struct TImage {
  TFoundFile File;
  std::uint32_t Hash = 0;
};

std::string FileHeaders(const TFoundFile& file, const char* disposition, const std::string& contentId,
                        const std::string& eol)
{
  std::string h = "Content-Type: " + file.Type + "; " + Parameter("name", file.Name) + eol +
                  "Content-Transfer-Encoding: base64" + eol;
  if (!contentId.empty())
    h += "Content-ID: <" + contentId + ">" + eol;
  return h + "Content-Disposition: " + disposition + "; " + Parameter("filename", file.Name) + eol;
}

// A leaf whose body is file.
TMimePart FilePart(const TFoundFile& file, const char* disposition, const std::string& contentId,
                   const std::string& eol)
{
  TMimePart part;
  part.Headers = FileHeaders(file, disposition, contentId, eol);
  part.FilePath = file.Path;
  part.FileIdentity = file.Identity;
  part.CrText = file.MacText;
  return part;
}

std::string Joined(const std::vector<TTextLine>& lines)
{
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0)
      text += '\n';
    text.append(lines[i].Text);
  }
  return text;
}

bool Blank(const std::vector<TTextLine>& lines)
{
  return std::all_of(lines.begin(), lines.end(), [](const TTextLine& line) {
    return line.Text.find_first_not_of(" \t") == std::string_view::npos;
  });
}

// The charset an HTML text's <meta> tag declares in its first 4 KB.
std::optional<std::string> MetaCharset(std::string_view html)
{
  const std::string_view head = html.substr(0, std::min<std::size_t>(html.size(), 4096));
  const std::string lower = AsciiLowered(head);
  for (std::size_t m = lower.find("<meta"); m != std::string::npos; m = lower.find("<meta", m + 5))
    if (auto charset = ParameterValue(head.substr(m, head.find('>', m) - m), "charset"))
      return charset;
  return std::nullopt;
}

// "Name: value", the name of printable ASCII.
bool IsFieldLine(std::string_view line)
{
  const std::size_t colon = line.find(':');
  return colon != std::string_view::npos && colon > 0 &&
         std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                     [](unsigned char c) { return c > 32 && c < 127; });
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

std::optional<std::int64_t> SeparatorInstant(std::string_view stored)
{
  const std::string date = HeaderDate(SeparatorDate(stored));
  return date.empty() ? std::nullopt : MailDateInstant(date);
}

std::string SeparatorDate(std::string_view stored)
{
  std::string_view separator = stored.substr(0, std::min(stored.find_first_of("\r\n"), stored.size()));
  if (!separator.starts_with("From "))
    return {};
  separator.remove_prefix(5);
  const std::size_t space = separator.find(' ');
  return space == std::string_view::npos ? std::string() : std::string(separator.substr(space + 1));
}

namespace {

// RebuildMessage; with no sink, only the files are looked for.
TRebuildCounts Rebuild(std::string_view stored, std::optional<std::size_t> headerLength, const TPartFinder& finder,
                       const TByteSink* sink, std::string_view eolView, const TAddedHeaders& added)
{
  const std::string eol(eolView);
  TRebuildCounts counts;
  const std::vector<std::string_view> lines = SplitLines(stored);
  // A Mac mailbox ends its lines in CR alone, and its text is Mac Roman.
  const std::size_t firstEnd = stored.find_first_of("\r\n");
  const bool mac = firstEnd != std::string_view::npos && stored[firstEnd] == '\r' &&
                   (firstEnd + 1 == stored.size() || stored[firstEnd + 1] != '\n');
  const std::string defaultCharset = mac ? "macintosh" : "windows-1252";

  std::size_t at = 0;
  std::string date;
  if (!lines.empty() && lines[0].starts_with("From ")) {
    date = HeaderDate(SeparatorDate(stored));
    at = 1;
  }

  // The header block, less the fields that no longer tell the truth.
  std::string header;
  std::optional<std::string> declaredCharset;
  std::string declaredType;
  std::string declaredTypeField;  // its lines as they stand, each ended
  std::string declaredEncoding;   // the Content-Transfer-Encoding's value, in lower case
  std::vector<std::string> sentPaths;
  bool hasDate = false, hasMimeVersion = false;
  {
    std::vector<std::string> field;
    const auto flush = [&] {
      if (field.empty())
        return;
      const std::string& first = field.front();
      const std::string name = AsciiLowered(first.substr(0, first.find(':')));
      std::string value = first.substr(std::min(first.find(':') + 1, first.size()));
      for (std::size_t i = 1; i < field.size(); ++i)
        value += " " + field[i];
      if (name == "content-type") {
        for (const std::string& l : field)
          declaredTypeField += l + eol;
        declaredCharset = ParameterValue(value, "charset");
        declaredType = AsciiLowered(value.substr(0, value.find(';')));
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
      } else if (name == "content-transfer-encoding") {
        declaredEncoding = AsciiLowered(value);
        declaredEncoding.erase(0, declaredEncoding.find_first_not_of(" \t"));
        declaredEncoding.erase(declaredEncoding.find_last_not_of(" \t") + 1);
      } else if (name != "content-length" && name != "lines") {
        hasDate = hasDate || name == "date";
        hasMimeVersion = hasMimeVersion || name == "mime-version";
        for (const std::string& l : field)
          header += l + eol;
      }
      field.clear();
    };
    // The header block ends where the scan found its blank line; one that never closed, at its
    // first line that is no field.
    const char* blockEnd = headerLength ? stored.data() + std::min(*headerLength, stored.size()) : nullptr;
    for (; at < lines.size() && !lines[at].empty() && (!blockEnd || lines[at].data() < blockEnd); ++at) {
      if ((lines[at].front() == ' ' || lines[at].front() == '\t') && !field.empty()) {
        field.emplace_back(lines[at]);
      } else if (IsFieldLine(lines[at])) {
        flush();
        field.emplace_back(lines[at]);
      } else if (blockEnd) {
        flush();  // a line of the header block that is no field: kept there as one
        field.push_back("X-Unparsed-Header: " + std::string(lines[at]));
      } else {
        break;
      }
    }
    flush();
    if (at < lines.size() && lines[at].empty())
      ++at;  // the blank line
  }

  // The body: text parts between markers, the attachment and image lines out of them when their
  // files are found.
  TEudoraText body = ReadEudoraText({lines.begin() + static_cast<std::ptrdiff_t>(at), lines.end()});
  std::vector<TFoundFile> attachments;
  std::vector<TImage> images;
  const auto missing = [&](const TMarkedFile& marked, const std::string& reason) {
    counts.Missing.push_back({{}, marked.Shown, reason});
  };
  // Each file once, however many lines name it, and all of them within a bound: a crafted message
  // could otherwise name one large file a thousand times.
  std::vector<TFileIdentity> taken;
  std::int64_t total = 0;
  const auto join = [&](const TMarkedFile& marked) {
    std::string reason;
    std::optional<TFoundFile> found = finder.Find(marked, reason);
    if (!found) {
      missing(marked, reason);
      return false;
    }
    const TFileIdentity& id = found->Identity;
    if (std::any_of(taken.begin(), taken.end(), [&](const TFileIdentity& t) { return SameFile(t, id); }))
      return true;
    if (total + id.Size > kMaxJoinedBytes) {
      std::string why = "\"";
      why += PathText(found->Path);
      why += "\" would make the message's files larger than " + std::to_string(kMaxJoinedBytes >> 20) + " MB in all";
      missing(marked, why);
      return false;
    }
    total += id.Size;
    taken.push_back(id);
    if (marked.Kind == TPartKind::Attachment)
      attachments.push_back(std::move(*found));
    else
      images.push_back({std::move(*found), marked.Hash});
    return true;
  };
  std::vector<bool> joined(body.Files.size(), false);
  for (std::size_t i = 0; i < body.Files.size(); ++i)
    joined[i] = join(body.Files[i]);
  for (TTextPart& part : body.Parts)
    std::erase_if(part.Lines, [&](const TTextLine& line) { return line.File && joined[*line.File]; });
  std::vector<TTextPart>& texts = body.Parts;
  std::vector<std::string> sentMissing;
  for (const std::string& path : sentPaths)
    if (!join(SentAttachment(path, mac)))
      sentMissing.push_back(path);
  std::erase_if(texts, [](const TTextPart& t) { return Blank(t.Lines); });
  if (!sink) {
    counts.Attachments = attachments.size();
    counts.Images = images.size();
    return counts;
  }

  // The header block as it goes out; the flag word only here, never in a part.
  std::string first;
  for (const std::string& field : added.Fields)
    first += field + eol;
  header.insert(0, first);
  if (!hasDate && !added.Date.empty())
    header += "Date: " + added.Date + eol;
  else if (!hasDate && !date.empty())
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

  // A boundary that no encoded line can hold (quoted-printable writes "=" as "=3D", base64 has no
  // "_"), and that none of what goes out as it stands holds either: the header lines, a body kept
  // encoded, the files' names.
  const std::string hash = std::to_string(ContentIdHash(stored));
  std::string stem = "=_quillmend_" + hash + "_";
  const auto clashes = [&](const std::string& candidate) {
    const auto named = [&](const TFoundFile& file) { return file.Name.find(candidate) != std::string::npos; };
    return stored.find(candidate) != std::string_view::npos ||
           std::any_of(attachments.begin(), attachments.end(), named) ||
           std::any_of(images.begin(), images.end(), [&](const TImage& image) { return named(image.File); });
  };
  for (int again = 1; clashes(stem); ++again)
    stem = "=_quillmend_" + hash + "." + std::to_string(again) + "_";
  TMimeWriter writer(*sink, eol, stem);
  std::vector<TMimePart> bodies;
  std::vector<bool> related(images.size(), false);
  // A body Eudora kept as it came, still in base64 or quoted-printable, goes out in that encoding
  // under its own type: declared as text, it would show as the encoding's letters.
  const std::string whole =
      texts.size() == 1 && texts[0].Kind == TTextKind::Plain ? Joined(texts[0].Lines) : std::string();
  const bool stillEncoded = body.Files.empty() && sentPaths.empty() && !whole.empty() &&
                            !declaredType.starts_with("multipart/") &&
                            ((declaredEncoding == "base64" && IsBase64Body(whole)) ||
                             (declaredEncoding == "quoted-printable" && IsQuotedPrintableBody(whole)));
  if (stillEncoded) {
    TMimePart leaf;
    leaf.Headers =
        (declaredTypeField.empty() ? "Content-Type: text/plain; charset=\"us-ascii\"" + eol : declaredTypeField) +
        "Content-Transfer-Encoding: " + declaredEncoding + eol;
    for (std::size_t i = 0; i < texts[0].Lines.size(); ++i)
      leaf.Text.append(i ? eol : "").append(texts[0].Lines[i].Text);
    bodies.push_back(std::move(leaf));
    texts.clear();
  }
  for (const TTextPart& part : texts) {
    std::string text = Joined(part.Lines);
    std::optional<std::string> charset = part.Charset;
    if (!charset && part.Kind == TTextKind::Html)
      charset = MetaCharset(text);
    if (!charset)
      charset = declaredCharset;
    if (!charset)  // Eudora kept UTF-8 parts as they came
      charset = IsUtf8BeyondAscii(text)                                                           ? "utf-8"
                : std::all_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x80; }) ? "us-ascii"
                                                                                                  : defaultCharset;
    // Mac Roman is a charset many mail programs and web mail do not know: such text goes out in UTF-8.
    if (EqualNoCase(*charset, "macintosh")) {
      text = MailToUtf8(text, TCodePage::MacRoman);
      charset = "utf-8";
    }
    const char* type = part.Kind == TTextKind::Html   ? "text/html"
                       : part.Kind == TTextKind::Rich ? "text/enriched"
                                                      : "text/plain";
    const bool encode = Needs7bitEncoding(text);
    TMimePart node;
    node.Headers = std::string("Content-Type: ") + type + "; " + Parameter("charset", *charset) +
                   (part.Kind == TTextKind::Flowed ? "; format=flowed" : "") + eol +
                   "Content-Transfer-Encoding: " + (encode ? "quoted-printable" : "7bit") + eol;
    if (encode) {
      node.Text = QuotedPrintable(text, eol);
    } else {
      for (std::size_t from = 0; from <= text.size();) {
        const std::size_t end = std::min(text.find('\n', from), text.size());
        node.Text.append(from ? eol : "").append(text, from, end - from);
        from = end + 1;
      }
    }
    if (part.Kind == TTextKind::Html && !images.empty()) {
      // Each image that a cid: reference names, by the hash of the reference, in either letter case.
      std::vector<TMimePart> children{std::move(node)};
      for (const std::string& id : ContentIdReferences(text)) {
        for (std::size_t i = 0; i < images.size(); ++i) {
          if (related[i] || !RefersTo(id, images[i].Hash))
            continue;
          related[i] = true;
          children.push_back(FilePart(images[i].File, "inline", id, eol));
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
  const auto rich = std::find_if(texts.rbegin(), texts.rend(), [](const TTextPart& t) {
    return t.Kind == TTextKind::Html || t.Kind == TTextKind::Rich;
  });
  const auto forms = static_cast<std::size_t>(texts.rend() - rich);  // 0 when there is no rich form
  const bool alternative = declaredType == "multipart/alternative" ||
                           (declaredType == "multipart/related" && texts.size() == 2 && forms == 2);
  if (alternative && forms >= 2) {
    std::vector<TMimePart> both(std::make_move_iterator(bodies.begin()),
                                std::make_move_iterator(bodies.begin() + static_cast<std::ptrdiff_t>(forms)));
    bodies.erase(bodies.begin(), bodies.begin() + static_cast<std::ptrdiff_t>(forms));
    bodies.insert(bodies.begin(), writer.Multipart("alternative", std::move(both)));
  }
  if (bodies.empty()) {
    TMimePart empty;
    empty.Headers = "Content-Type: text/plain; charset=\"us-ascii\"" + eol + "Content-Transfer-Encoding: 7bit" + eol;
    bodies.push_back(std::move(empty));
  }
  for (const TFoundFile& file : attachments) {
    bodies.push_back(FilePart(file, "attachment", {}, eol));
    ++counts.Attachments;
  }
  for (std::size_t i = 0; i < images.size(); ++i) {
    if (related[i])
      continue;  // an image no reference names is still the user's
    bodies.push_back(FilePart(images[i].File, "attachment", {}, eol));
    ++counts.Images;
  }
  const TMimePart root = bodies.size() == 1 ? std::move(bodies.front()) : writer.Multipart("mixed", std::move(bodies));
  (*sink)(replaced);
  writer.Write(root);
  return counts;
}

}  // namespace

TRebuildCounts RebuildMessage(std::string_view stored, std::optional<std::size_t> headerLength,
                              const TPartFinder& finder, const TByteSink& sink, std::string_view eol,
                              const TAddedHeaders& added)
{
  return Rebuild(stored, headerLength, finder, &sink, eol, added);
}

TRebuildCounts LookForParts(std::string_view stored, std::optional<std::size_t> headerLength, const TPartFinder& finder)
{
  return Rebuild(stored, headerLength, finder, nullptr, "\r\n", {});
}

}  // namespace quillmend

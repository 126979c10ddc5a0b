#include "mail/htmlbody.h"

#include "mail/mime.h"

#include <algorithm>

namespace quillmend {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lowered(std::string_view text)
{
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

// Calls line(text) for each line of bytes, its line break left off.
template <class F>
void ForEachLine(std::string_view bytes, F line)
{
  while (!bytes.empty()) {
    const std::size_t end = bytes.find_first_of("\r\n");
    line(bytes.substr(0, end), bytes);
    if (end == std::string_view::npos)
      return;
    const std::size_t next = end + (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n' ? 2 : 1);
    bytes.remove_prefix(next);
  }
}

bool Hex32(std::string_view text, std::uint32_t& value)
{
  if (text.empty() || text.size() > 8)
    return false;
  value = 0;
  for (const char c : text) {
    const char l = Lower(c);
    const int digit = l >= '0' && l <= '9' ? l - '0' : (l >= 'a' && l <= 'f' ? l - 'a' + 10 : -1);
    if (digit < 0)
      return false;
    value = value << 4 | static_cast<std::uint32_t>(digit);
  }
  return true;
}

std::string Unescaped(std::string_view name)
{
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    std::uint32_t byte;
    if (name[i] == '%' && i + 2 < name.size() && Hex32(name.substr(i + 1, 2), byte)) {
      out += static_cast<char>(byte);
      i += 2;
    } else {
      out += name[i];
    }
  }
  return out;
}

}  // namespace

std::vector<TBodyStretch> BodyStretches(std::string_view body)
{
  std::vector<TBodyStretch> stretches;
  bool html = false;
  const char* start = body.data();
  ForEachLine(body, [&](std::string_view line, std::string_view rest) {
    const bool opens = !html && line == "<x-html>";
    const bool closes = html && line == "</x-html>";
    if (!opens && !closes)
      return;
    if (rest.data() > start)
      stretches.push_back({html, std::string_view(start, static_cast<std::size_t>(rest.data() - start))});
    html = opens;
    start = line.data() + line.size();
  });
  const char* end = body.data() + body.size();
  if (end > start || stretches.empty())
    stretches.push_back({html, std::string_view(start, static_cast<std::size_t>(end - start))});
  return stretches;
}

bool HtmlContentType(std::string_view header)
{
  bool found = false;
  ForEachLine(header, [&](std::string_view line, std::string_view) {
    if (line.size() > 13 && Lowered(line.substr(0, 13)) == "content-type:") {
      std::string_view value = line.substr(13);
      value.remove_prefix(std::min(value.find_first_not_of(" \t"), value.size()));
      found = found || Lowered(value.substr(0, 9)) == "text/html";
    }
  });
  return found;
}

std::vector<TInlineImage> InlineImages(std::string_view body, const std::filesystem::path& mailbox)
{
  std::vector<TInlineImage> images;
  const std::filesystem::path folder = mailbox.parent_path();
  ForEachLine(body, [&](std::string_view line, std::string_view) {
    std::uint32_t hash;
    if (line.starts_with("Embedded Content: ")) {
      // "Embedded Content: name: 00000001,586425e8,00000000,00000000"
      const std::string_view rest = line.substr(18);
      const std::size_t colon = rest.rfind(": ");
      if (colon == std::string_view::npos)
        return;
      const std::string_view fields = rest.substr(colon + 2);
      const std::size_t first = fields.find(','), second = fields.find(',', first + 1);
      if (first != std::string_view::npos && second != std::string_view::npos &&
          Hex32(fields.substr(first + 1, second - first - 1), hash))
        images.push_back({folder / "Embedded" / std::string(rest.substr(0, colon)), hash});
    } else if (line.starts_with("Related: ")) {
      // "Related: :Volume:name:0008BABA:586425E8:00000000:00000000"
      std::vector<std::string_view> fields;
      for (std::string_view rest = line.substr(9);;) {
        const std::size_t colon = rest.find(':');
        fields.push_back(rest.substr(0, colon));
        if (colon == std::string_view::npos)
          break;
        rest.remove_prefix(colon + 1);
      }
      if (fields.size() >= 6 && Hex32(fields[fields.size() - 3], hash))
        images.push_back({folder.parent_path() / "Parts Folder" / Unescaped(fields[fields.size() - 5]), hash});
    }
  });
  return images;
}

std::filesystem::path InlineImageFile(const std::vector<TInlineImage>& images, std::string_view contentId)
{
  const std::uint32_t exact = ContentIdHash(contentId);
  const std::uint32_t lower = ContentIdHash(Lowered(contentId));
  for (const TInlineImage& image : images)
    if (image.Hash == exact || image.Hash == lower)
      return image.File;
  return {};
}

}  // namespace quillmend

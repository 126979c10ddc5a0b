#include "mime/encodings.h"

#include "base/ascii.h"
#include "base/text.h"

#include <algorithm>
#include <array>

namespace quillmend {

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kBase64LineBytes = 57;  // 76 characters
constexpr char kHex[] = "0123456789ABCDEF";

// Whether text matches ^>*From : a line an mbox file would have to escape.
bool StartsAsFromLine(std::string_view text)
{
  return text.substr(std::min(text.find_first_not_of('>'), text.size())).starts_with("From ");
}

}  // namespace

TBase64Writer::TBase64Writer(std::function<void(std::string_view)> sink, std::string_view eol)
    : FSink(std::move(sink)), FEol(eol)
{
}

void TBase64Writer::Feed(std::string_view bytes)
{
  if (!FHeld.empty()) {
    const std::size_t take = std::min(bytes.size(), kBase64LineBytes - FHeld.size());
    FHeld.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    if (FHeld.size() < kBase64LineBytes)
      return;
    Line(FHeld);
    FHeld.clear();
  }
  while (bytes.size() >= kBase64LineBytes) {
    Line(bytes.substr(0, kBase64LineBytes));
    bytes.remove_prefix(kBase64LineBytes);
  }
  FHeld.assign(bytes);
}

void TBase64Writer::Finish()
{
  if (!FHeld.empty())
    Line(FHeld);
  FHeld.clear();
}

void TBase64Writer::Line(std::string_view bytes)
{
  FLine.clear();
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (n > 1)
      v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (n > 2)
      v |= static_cast<unsigned char>(bytes[i + 2]);
    FLine += kBase64[(v >> 18) & 63];
    FLine += kBase64[(v >> 12) & 63];
    FLine += n > 1 ? kBase64[(v >> 6) & 63] : '=';
    FLine += n > 2 ? kBase64[v & 63] : '=';
  }
  FLine += FEol;
  FSink(FLine);
}

std::string QuotedPrintable(std::string_view text, std::string_view eol)
{
  constexpr std::size_t kWidth = 75;  // and the "=" of a soft break
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  while (true) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    std::size_t column = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const auto c = static_cast<unsigned char>(line[i]);
      const bool last = i + 1 == line.size();
      const bool plain = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last);
      const auto encoded = [&] { return std::string{'=', kHex[c >> 4], kHex[c & 15]}; };
      std::string piece = plain ? std::string(1, static_cast<char>(c)) : encoded();
      if (column + piece.size() > kWidth) {
        out += '=';
        out += eol;
        column = 0;
      }
      // No encoded line, after a soft break either, may start as an mbox file's separator does.
      if (column == 0 && plain && StartsAsFromLine(line.substr(i)))
        piece = encoded();
      out += piece;
      column += piece.size();
    }
    if (end == text.size())
      break;
    out += eol;
    text.remove_prefix(end + 1);
  }
  return out;
}

bool Needs7bitEncoding(std::string_view text)
{
  std::size_t column = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      column = 0;
      continue;
    }
    if (column == 0 && StartsAsFromLine(text.substr(i)))
      return true;
    if (c > 126 || (c < 32 && c != '\t') || ++column > 998 || (c == '=' && i + 1 < text.size() && text[i + 1] == '_'))
      return true;
  }
  return false;
}

bool IsBase64Body(std::string_view text)
{
  std::size_t letters = 0, padding = 0;
  for (const char c : text) {
    if (c == '\n' || c == ' ' || c == '\t')
      continue;
    if (c == '=') {
      ++padding;
    } else if (padding > 0 || std::string_view(kBase64).find(c) == std::string_view::npos) {
      return false;  // a letter after the padding, or none of base64's
    }
    ++letters;
  }
  return letters > 0 && letters % 4 == 0 && padding <= 2;
}

bool IsQuotedPrintableBody(std::string_view text)
{
  const auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); };
  bool escaped = false;
  std::size_t column = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      column = 0;
      continue;
    }
    if (++column > 76 || c > 126 || (c < 32 && c != '\t'))
      return false;
    if (c == '=') {
      const bool soft = i + 1 == text.size() || text[i + 1] == '\n';
      if (!soft && !(i + 2 < text.size() && hex(text[i + 1]) && hex(text[i + 2])))
        return false;
      escaped = true;
    }
  }
  return escaped;
}

std::string Parameter(std::string_view name, std::string_view value)
{
  const bool ascii = std::all_of(value.begin(), value.end(), [](unsigned char c) { return c >= 32 && c < 127; });
  std::string out(name);
  if (ascii) {
    out += "=\"";
    for (const char c : value) {
      if (c == '"' || c == '\\')
        out += '\\';
      out += c;
    }
    return out + "\"";
  }
  out += "*=UTF-8''";
  for (const char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsAsciiAlnum(static_cast<char>(c)) ||
        std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos)
      out += static_cast<char>(c);
    else
      out += {'%', kHex[c >> 4], kHex[c & 15]};
  }
  return out;
}

std::string MediaTypeOf(std::string_view fileName, std::string_view head)
{
  struct TEntry {
    std::string_view Extension, Type;
  };
  static constexpr std::array<TEntry, 30> kTypes = {{
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},
      {"png", "image/png"},
      {"bmp", "image/bmp"},
      {"tif", "image/tiff"},
      {"tiff", "image/tiff"},
      {"pdf", "application/pdf"},
      {"htm", "text/html"},
      {"html", "text/html"},
      {"txt", "text/plain"},
      {"csv", "text/csv"},
      {"rtf", "application/rtf"},
      {"xml", "application/xml"},
      {"zip", "application/zip"},
      {"doc", "application/msword"},
      {"xls", "application/vnd.ms-excel"},
      {"ppt", "application/vnd.ms-powerpoint"},
      {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
      {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
      {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
      {"mp3", "audio/mpeg"},
      {"wav", "audio/wav"},
      {"mp4", "video/mp4"},
      {"mov", "video/quicktime"},
      {"avi", "video/x-msvideo"},
      {"ics", "text/calendar"},
      {"vcf", "text/vcard"},
      {"asc", "application/pgp-signature"},
      {"sig", "application/pgp-signature"},
  }};
  if (const std::size_t dot = fileName.rfind('.'); dot != std::string_view::npos) {
    const std::string extension = AsciiLowered(fileName.substr(dot + 1));
    for (const TEntry& entry : kTypes)
      if (entry.Extension == extension)
        return std::string(entry.Type);
  }
  if (head.starts_with("\xFF\xD8\xFF"))
    return "image/jpeg";
  if (head.starts_with("GIF87a") || head.starts_with("GIF89a"))
    return "image/gif";
  if (head.starts_with("\x89PNG\r\n\x1A\n"))
    return "image/png";
  const std::string start = AsciiLowered(head.substr(std::min(head.find_first_not_of(" \t\r\n"), head.size()), 14));
  if (start.starts_with("<!doctype html") || start.starts_with("<html"))
    return "text/html";
  if (head.starts_with("-----BEGIN PGP SIGNATURE-----"))
    return "application/pgp-signature";
  // A name without extension over text: lines of printable characters (a Mac mailbox ends them in
  // CR alone), in ASCII or UTF-8.
  const bool text = !head.empty() && fileName.find('.') == std::string_view::npos &&
                    std::none_of(head.begin(), head.end(), [](unsigned char c) {
                      return c < 0x20 && c != '\r' && c != '\n' && c != '\t' && c != '\f';
                    }) &&
                    (IsUtf8BeyondAscii(head) ||
                     std::all_of(head.begin(), head.end(), [](unsigned char c) { return c < 0x80; }));
  return text ? "text/plain" : "application/octet-stream";
}

std::optional<std::string> ParameterValue(std::string_view text, std::string_view name)
{
  const std::string lower = AsciiLowered(text);
  const std::string key = AsciiLowered(name) + "=";
  for (std::size_t at = lower.find(key); at != std::string::npos; at = lower.find(key, at + 1)) {
    if (at > 0 && (IsAsciiAlnum(lower[at - 1]) || lower[at - 1] == '-'))
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

}  // namespace quillmend

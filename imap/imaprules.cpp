#include "imap/imaprules.h"

#include "mime/maildate.h"

#include "base/ascii.h"
#include "outputs/imapnames.h"
#include "outputs/mailstore.h"

#include <algorithm>
#include <cstdio>

namespace quillmend {

namespace {

std::string Segment(std::string name, const TServerFolders& server)
{
  for (char& c : name)
    if ((server.Separator && c == server.Separator) || server.Refused.find(c) != std::string::npos)
      c = '_';
  return ModifiedUtf7(name.empty() ? "_" : name);
}

bool ValidUtf8(std::string_view text)
{
  for (std::size_t at = 0; at < text.size();) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80         ? 1
                               : (lead >> 5) == 6  ? 2
                               : (lead >> 4) == 14 ? 3
                               : (lead >> 3) == 30 ? 4
                                                   : 0;
    if (length == 0 || at + length > text.size())
      return false;
    for (std::size_t i = 1; i < length; ++i)
      if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
        return false;
    at += length;
  }
  return true;
}

bool Needs(std::string_view text)
{
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return c == '\0' || static_cast<unsigned char>(c) >= 0x80; });
}

std::string Base64(std::string_view bytes)
{
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    unsigned v = 0;
    for (std::size_t k = 0; k < 3; ++k)
      v = v << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k)
      out += k <= n ? kAlphabet[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

// run as encoded words of at most 75 characters, a character never split between two.
std::string EncodedWords(std::string_view run)
{
  const bool utf8 = ValidUtf8(run);
  const std::string charset = utf8 ? "UTF-8" : "windows-1252";
  constexpr std::size_t kBytes = 45;  // 60 characters of base64
  std::string out;
  for (std::size_t at = 0; at < run.size();) {
    std::size_t end = std::min(at + kBytes, run.size());
    while (utf8 && end < run.size() && (static_cast<unsigned char>(run[end]) & 0xC0) == 0x80)
      --end;
    out += (out.empty() ? "" : "\r\n ") + ("=?" + charset + "?B?" + Base64(run.substr(at, end - at)) + "?=");
    at = end;
  }
  return out;
}

// A field's value with its 8-bit words encoded: the words next to one another in one run, so that
// the spaces between them survive decoding.
std::string EncodedValue(std::string value)
{
  value.erase(std::remove(value.begin(), value.end(), '\0'), value.end());
  std::string out;
  std::size_t at = 0;
  while (at < value.size()) {
    const std::size_t wordStart = value.find_first_not_of(" \t", at);
    if (wordStart == std::string::npos) {
      out += value.substr(at);
      break;
    }
    std::size_t wordEnd = std::min(value.find_first_of(" \t", wordStart), value.size());
    if (!Needs(value.substr(wordStart, wordEnd - wordStart))) {
      out += value.substr(at, wordEnd - at);
      at = wordEnd;
      continue;
    }
    out += value.substr(at, wordStart - at);
    std::size_t runEnd = wordEnd;
    for (;;) {
      const std::size_t next = value.find_first_not_of(" \t", runEnd);
      if (next == std::string::npos)
        break;
      const std::size_t nextEnd = std::min(value.find_first_of(" \t", next), value.size());
      if (!Needs(value.substr(next, nextEnd - next)))
        break;
      runEnd = nextEnd;
    }
    out += EncodedWords(std::string_view(value).substr(wordStart, runEnd - wordStart));
    at = runEnd;
  }
  return out;
}

// The end of the header block (before its empty line) and of the line break that ends it.
std::size_t HeaderEnd(std::string_view message)
{
  for (std::size_t at = 0; at < message.size();) {
    if (message.substr(at).starts_with("\r\n") || message.substr(at).starts_with("\n"))
      return at;
    const std::size_t end = message.find('\n', at);
    if (end == std::string_view::npos)
      return message.size();
    at = end + 1;
  }
  return message.size();
}

// Each header field whole, its continuation lines with it.
std::vector<std::string_view> Fields(std::string_view header)
{
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (std::size_t at = 0; at < header.size();) {
    const std::size_t end = std::min(header.find('\n', at), header.size() - 1) + 1;
    if (end < header.size() && (header[end] == ' ' || header[end] == '\t')) {
      at = end;
      continue;
    }
    fields.push_back(header.substr(start, end - start));
    start = at = end;
  }
  return fields;
}

std::string Unfolded(std::string_view text)
{
  std::string out;
  for (const char c : text)
    if (c != '\r' && c != '\n')
      out += c;
  const std::size_t first = out.find_first_not_of(" \t");
  const std::size_t last = out.find_last_not_of(" \t");
  return first == std::string::npos ? std::string() : out.substr(first, last - first + 1);
}

}  // namespace

std::string ServerFolderName(const TServerFolders& server, const std::vector<std::string>& prefix,
                             const TFolderPath& folder)
{
  if (prefix.empty() && folder.size() == 1) {
    if (folder.front().Use == TFolderUse::Inbox)
      return "INBOX";
    if (const auto special = server.Special.find(folder.front().Use); special != server.Special.end())
      return special->second;
  }
  const char separator = server.Separator ? server.Separator : '_';
  std::string name = server.Personal;
  bool first = true;
  const auto add = [&](const std::string& segment) {
    if (!first)
      name += separator;
    name += Segment(segment, server);
    first = false;
  };
  for (const std::string& segment : prefix)
    add(segment);
  for (const TFolderName& segment : folder)
    add(TMailStore::StandardName(segment, "INBOX"));
  return name;
}

std::vector<std::string> ServerParents(const TServerFolders& server, const std::string& name)
{
  std::vector<std::string> parents;
  if (!server.Separator)
    return parents;
  // The namespace's own prefix ("INBOX.") is no folder to make.
  for (std::size_t at = name.find(server.Separator, server.Personal.size()); at != std::string::npos;
       at = name.find(server.Separator, at + 1))
    parents.push_back(name.substr(0, at));
  return parents;
}

bool TPermanentFlags::Allows(std::string_view flag) const
{
  if (!Given)
    return true;
  const bool keyword = !flag.starts_with('\\');
  if (keyword && AnyKeyword)
    return true;
  return std::any_of(Listed.begin(), Listed.end(),
                     [&](const std::string& listed) { return EqualNoCase(listed, flag); });
}

TAppendFlags AppendFlags(const TOutgoingMessage& message, const TPermanentFlags& permanent)
{
  std::vector<std::string> wanted;
  if (message.Flags.Seen)
    wanted.emplace_back("\\Seen");
  if (message.Flags.Answered)
    wanted.emplace_back("\\Answered");
  if (message.Flags.Draft)
    wanted.emplace_back("\\Draft");
  if (message.Flags.Forwarded)
    wanted.emplace_back("$Forwarded");
  for (const std::string& keyword : message.Keywords)
    if (!keyword.empty() && std::find(wanted.begin(), wanted.end(), keyword) == wanted.end())
      wanted.push_back(keyword);
  TAppendFlags flags;
  for (std::string& flag : wanted)
    (permanent.Allows(flag) ? flags.Flags : flags.Dropped).push_back(std::move(flag));
  return flags;
}

std::optional<std::string> SevenBitHeader(std::string_view message)
{
  const std::size_t end = HeaderEnd(message);
  const std::string_view header = message.substr(0, end);
  if (!Needs(header))
    return std::nullopt;
  std::string out;
  for (const std::string_view field : Fields(header)) {
    const std::size_t colon = field.find(':');
    if (!Needs(field) || colon == std::string_view::npos) {
      out += field;
      continue;
    }
    const std::string eol = field.ends_with("\r\n") ? "\r\n" : field.ends_with("\n") ? "\n" : "";
    out += field.substr(0, colon + 1);
    out += ' ';
    std::string value = Unfolded(field.substr(colon + 1));
    out += EncodedValue(std::move(value));
    out += eol;
  }
  out += message.substr(end);
  return out;
}

std::string HeaderValue(std::string_view header, std::string_view field)
{
  for (const std::string_view line : Fields(header.substr(0, HeaderEnd(header)))) {
    if (line.size() > field.size() && line[field.size()] == ':' && StartsNoCase(line, field))
      return Unfolded(line.substr(field.size() + 1));
  }
  return {};
}

std::string AppendItemHead(const std::vector<std::string>& flags, std::optional<std::int64_t> received,
                           std::size_t size)
{
  std::string head = " (";
  for (std::size_t i = 0; i < flags.size(); ++i)
    head += (i ? " " : "") + flags[i];
  head += ")";
  if (received)
    head += " \"" + ImapDateTime(*received) + "\"";
  return head + " {" + std::to_string(size) + "+}\r\n";
}

}  // namespace quillmend

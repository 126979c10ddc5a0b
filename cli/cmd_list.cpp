// quillmend-cli list MAILBOX [--keyword WORD] [--format table|tsv|json] [--status] [--not-in-index]

#include "cli/commands.h"
#include "search/codepage.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <string_view>

namespace quillmend::cli {

namespace {

// Appends bytes exactly as the record holds them, with the characters that would break a TSV row
// escaped.
void AppendTsvField(std::string& row, std::string_view bytes)
{
  static constexpr auto kEscape = [] {
    std::array<char, 256> escape{};
    escape['\\'] = '\\';
    escape['\t'] = 't';
    escape['\r'] = 'r';
    escape['\n'] = 'n';
    escape[0] = '0';
    return escape;
  }();
  std::size_t run = 0;  // start of the bytes not yet appended
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    if (const char escape = kEscape[static_cast<unsigned char>(bytes[at])]) {
      row.append(bytes.substr(run, at - run)).append({'\\', escape});
      run = at + 1;
    }
  }
  row.append(bytes.substr(run));
}

std::string JsonString(std::string_view bytes, TCodePage page)
{
  std::string out = "\"";
  for (const char c : MailToUtf8(bytes, page)) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// A header value in a terminal cell: outer blanks trimmed, controls shown as spaces, decoded, and
// cut to width characters (a cut shows as a final "~") or padded to it; width 0 takes it whole.
// Both code pages have one byte per character, so bytes count characters. The bytes that
// Windows-1252 leaves undefined decode to C1 controls, which a terminal may act on: they show as
// U+FFFD.
void AppendCell(std::string& row, std::string_view bytes, std::size_t width, TCodePage page)
{
  static const auto kCharacters = [] {
    std::array<std::array<std::string, 256>, 2> tables;
    for (const TCodePage each : {TCodePage::Windows, TCodePage::MacRoman}) {
      std::array<std::string, 256>& utf8 = tables[static_cast<std::size_t>(each)];
      for (int b = 0; b < 256; ++b) {
        utf8[b] = b < 0x20 || b == 0x7F ? std::string(" ") : MailToUtf8(std::string(1, static_cast<char>(b)), each);
        if (utf8[b].size() == 2 && utf8[b][0] == '\xC2' && static_cast<unsigned char>(utf8[b][1]) < 0xA0)
          utf8[b] = "\xEF\xBF\xBD";
      }
    }
    return tables;
  }();
  const std::array<std::string, 256>& kCharacter = kCharacters[static_cast<std::size_t>(page)];
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!bytes.empty() && blank(bytes.front()))
    bytes.remove_prefix(1);
  while (!bytes.empty() && blank(bytes.back()))
    bytes.remove_suffix(1);
  const bool cut = width > 0 && bytes.size() > width;
  if (cut)
    bytes = bytes.substr(0, width - 1);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F)
      row += c;
    else
      row += kCharacter[b];
  }
  if (cut)
    row += '~';
  else if (width > bytes.size())
    row.append(width - bytes.size(), ' ');
}

}  // namespace

int RunList(const TCommand& command, const TArgs& args)
{
  const std::string format = args.Option("format").value_or("table");
  if (format != "table" && format != "tsv" && format != "json")
    throw TUsageError("unknown format \"" + format + "\" (table, tsv or json)");
  const TMailbox mailbox = OpenMailbox(command, args);
  ReportIndex(command, mailbox);
  const TEmailArray& emails = mailbox.Emails();
  const std::vector<TMessageState>& states = mailbox.States();
  const std::vector<std::size_t>& rows = mailbox.Rows();
  const TCodePage page = mailbox.CodePage();

  std::ostream& out = command.Out;
  // Rows gather in one buffer that goes out in large writes.
  std::string row;
  auto flushWhenFull = [&](std::size_t limit = std::size_t{1} << 16) {
    if (row.size() >= limit) {
      out.write(row.data(), static_cast<std::streamsize>(row.size()));
      row.clear();
    }
  };
  if (format == "table") {
    auto emit = [&](std::string_view number, std::string_view date, std::string_view from, std::string_view to,
                    std::string_view status, std::string_view subject) {
      row.append(number.size() < 8 ? 8 - number.size() : 0, ' ').append(number) += "  ";
      AppendCell(row, date, 31, page), row += "  ";
      AppendCell(row, from, 30, page), row += "  ";
      AppendCell(row, to, 30, page), row += "  ";
      AppendCell(row, status, 13, page), row += "  ";
      AppendCell(row, subject, 0, page), row += '\n';
      flushWhenFull();
    };
    emit("Item Num", "Date", "From", "To", "Status", "Subject");
    for (const std::size_t i : rows)
      emit(std::to_string(i), emails[i].Date, emails[i].From, emails[i].To, StateWords(states[i]), emails[i].Subject);
  } else if (format == "tsv") {
    const bool withStatus = args.Flag("status");
    for (const std::size_t i : rows) {
      const TEmail& e = emails[i];
      for (const std::int64_t number : {static_cast<std::int64_t>(i), e.StartOffset, e.BodyOffset, e.EndOffset}) {
        char digits[24];
        row.append(digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, number).ptr - digits)) += '\t';
      }
      for (const std::string* value : {&e.Date, &e.From, &e.To})
        AppendTsvField(row, *value), row += '\t';
      AppendTsvField(row, e.Subject);
      if (withStatus)
        (row += '\t') += StateName(states[i]);
      row += '\n';
      flushWhenFull();
    }
  } else {
    out << "[";
    for (std::size_t k = 0; k < rows.size(); ++k) {
      const TEmail& e = emails[rows[k]];
      out << (k ? ",\n " : "\n ") << "{\"index\": " << rows[k] << ", \"start\": " << e.StartOffset
          << ", \"body\": " << e.BodyOffset << ", \"end\": " << e.EndOffset << ", \"date\": " << JsonString(e.Date, page)
          << ", \"from\": " << JsonString(e.From, page) << ", \"to\": " << JsonString(e.To, page)
          << ", \"subject\": " << JsonString(e.Subject, page) << ", \"status\": \"" << StateName(states[rows[k]]) << "\"}";
    }
    out << (rows.empty() ? "]\n" : "\n]\n");
  }
  flushWhenFull(0);
  out.flush();
  return out ? kExitOk : kExitFailure;
}

}  // namespace quillmend::cli

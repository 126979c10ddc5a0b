// quillmend-cli list MAILBOX [--keyword WORD] [--format table|tsv|json]

#include "cli/commands.h"
#include "search/codepage.h"

#include <array>
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

std::string JsonString(std::string_view bytes)
{
  std::string out = "\"";
  for (const char c : Cp1252ToUtf8(bytes)) {
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

// A header value for a terminal: decoded, controls as spaces, outer blanks trimmed.
std::string Display(std::string_view bytes)
{
  std::string text;
  for (const char c : bytes)
    text += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos)
    return {};
  return Cp1252ToUtf8(std::string_view(text).substr(first, text.find_last_not_of(' ') - first + 1));
}

// text cut or padded to width characters; a cut shows as a final "~".
std::string Fit(std::string text, std::size_t width)
{
  auto isContinuation = [&](std::size_t at) { return (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80; };
  std::size_t characters = 0;
  std::size_t at = 0;
  while (at < text.size() && characters < width) {
    ++characters;
    ++at;
    while (at < text.size() && isContinuation(at))
      ++at;
  }
  if (at < text.size()) {
    // Too long: keep width - 1 characters and mark the cut.
    do
      --at;
    while (at > 0 && isContinuation(at));
    text.resize(at);
    text += '~';
  }
  text.append(width - std::min(width, characters), ' ');
  return text;
}

std::string Cell(std::string_view bytes, std::size_t width) { return Fit(Display(bytes), width); }

}  // namespace

int RunList(const TCommand& command)
{
  const TArgs args(command.Words, {"keyword", "format"});
  args.ExpectPositionals(1, 1);
  const std::string format = args.Option("format").value_or("table");
  if (format != "table" && format != "tsv" && format != "json")
    throw TUsageError("unknown format \"" + format + "\" (table, tsv or json)");
  const auto mailbox = PathFromArg(args.Positionals()[0]);
  const TEmailArray emails = Scan(command, mailbox);
  const std::vector<std::size_t> rows = Select(command, mailbox, emails, args.Option("keyword"));

  std::ostream& out = command.Out;
  if (format == "table") {
    out << "Item Num  " << Fit("Date", 31) << "  " << Fit("From", 30) << "  " << Fit("To", 30) << "  Subject\n";
    for (const std::size_t i : rows) {
      const TEmail& e = emails[i];
      std::string number = std::to_string(i);
      number.insert(0, number.size() < 8 ? 8 - number.size() : 0, ' ');
      out << number << "  " << Cell(e.Date, 31) << "  " << Cell(e.From, 30) << "  " << Cell(e.To, 30) << "  "
          << Display(e.Subject) << "\n";
    }
  } else if (format == "tsv") {
    std::string row;
    for (const std::size_t i : rows) {
      const TEmail& e = emails[i];
      row.clear();
      for (const std::int64_t number : {static_cast<std::int64_t>(i), e.StartOffset, e.BodyOffset, e.EndOffset})
        row.append(std::to_string(number)) += '\t';
      for (const std::string* value : {&e.Date, &e.From, &e.To})
        AppendTsvField(row, *value), row += '\t';
      AppendTsvField(row, e.Subject);
      row += '\n';
      out.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
  } else {
    out << "[";
    for (std::size_t k = 0; k < rows.size(); ++k) {
      const TEmail& e = emails[rows[k]];
      out << (k ? ",\n " : "\n ") << "{\"index\": " << rows[k] << ", \"start\": " << e.StartOffset
          << ", \"body\": " << e.BodyOffset << ", \"end\": " << e.EndOffset << ", \"date\": " << JsonString(e.Date)
          << ", \"from\": " << JsonString(e.From) << ", \"to\": " << JsonString(e.To)
          << ", \"subject\": " << JsonString(e.Subject) << "}";
    }
    out << (rows.empty() ? "]\n" : "\n]\n");
  }
  out.flush();
  return out ? kExitOk : kExitFailure;
}

}  // namespace quillmend::cli

#include "cli/listformat.h"

#include "base/parallel.h"
#include "base/system.h"
#include "base/text.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <optional>

namespace quillmend::cli {

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

std::string JsonString(const std::string& utf8)
{
  std::string out = "\"";
  for (const char c : utf8) {
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

// Text in a terminal cell: outer blanks trimmed, controls shown as spaces, cut to width characters
// (a cut shows as a final "~") or padded to it; width 0 takes it whole. C1 controls, which a
// terminal may act on, show as U+FFFD.
void AppendCell(std::string& row, std::string_view utf8, std::size_t width)
{
  // Most cells are printable ASCII: one byte a character, nothing to replace.
  if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) {
    while (!utf8.empty() && utf8.front() == ' ')
      utf8.remove_prefix(1);
    while (!utf8.empty() && utf8.back() == ' ')
      utf8.remove_suffix(1);
    const bool cut = width > 0 && utf8.size() > width;
    row.append(cut ? utf8.substr(0, width - 1) : utf8);
    if (cut)
      row += '~';
    else if (width > utf8.size())
      row.append(width - utf8.size(), ' ');
    return;
  }
  std::u32string text;
  for (std::string_view rest = utf8; !rest.empty();) {
    const std::optional<char32_t> cp = NextCodePoint(rest);
    text += cp ? *cp : U'\uFFFD';
    if (!cp)
      rest.remove_prefix(1);
  }
  auto blank = [](char32_t c) { return c <= 0x20; };
  std::size_t first = 0, last = text.size();
  while (first < last && blank(text[first]))
    ++first;
  while (last > first && blank(text[last - 1]))
    --last;
  const bool cut = width > 0 && last - first > width;
  if (cut)
    last = first + width - 1;
  for (std::size_t i = first; i < last; ++i) {
    const char32_t c = text[i];
    AppendUtf8(row, c < 0x20 || c == 0x7F ? U' ' : (c >= 0x80 && c < 0xA0 ? U'\uFFFD' : c));
  }
  if (cut)
    row += '~';
  else if (width > last - first)
    row.append(width - (last - first), ' ');
}

// Writes count rows in order, append(row, k) adding row k to a buffer. The rows are formatted a batch at a
// time on up to threads threads (0: one a core), the batch's pieces written one after another:
// decoding and formatting a large listing costs more than scanning the mailbox did.
void WriteRows(std::ostream& out, std::size_t count, unsigned threads,
               const std::function<void(std::string&, std::size_t)>& append)
{
  constexpr std::size_t kBatch = std::size_t{1} << 14;
  if (threads == 0)
    threads = UsableCores();
  // A piece of at least 1,024 rows: fewer are not worth a thread.
  std::vector<std::string> pieces(std::clamp<std::size_t>(std::min(count, kBatch) / 1024, 1, threads));
  for (std::size_t from = 0; from < count; from += kBatch) {
    const std::size_t to = std::min(count, from + kBatch);
    const std::size_t each = (to - from + pieces.size() - 1) / pieces.size();
    const auto format = [&](std::size_t p, const std::atomic<bool>&) {
      std::string piece = std::move(pieces[p]);  // not in the shared vector: no cache line shared with another thread's
      piece.clear();
      for (std::size_t k = from + p * each; k < std::min(to, from + (p + 1) * each); ++k)
        append(piece, k);
      pieces[p] = std::move(piece);
    };
    if (pieces.size() == 1)
      format(0, std::atomic<bool>{false});
    else
      RunPieces(pieces.size(), threads, nullptr, format, [] { return 0; });
    for (const std::string& piece : pieces)
      out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  }
}

}  // namespace quillmend::cli

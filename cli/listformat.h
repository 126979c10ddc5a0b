#pragma once
// How listings are written, shared by list and carve: TSV fields, JSON strings, terminal cells, and
// rows formatted on several threads.

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace quillmend::cli {

// Appends bytes exactly as the record holds them, with the characters that would break a TSV row
// escaped.
void AppendTsvField(std::string& row, std::string_view bytes);

// utf8 as a JSON string, quotes included.
std::string JsonString(const std::string& utf8);

// Text in a terminal cell: outer blanks trimmed, controls shown as spaces, cut to width characters
// (a cut shows as a final "~") or padded to it; width 0 takes it whole.
void AppendCell(std::string& row, std::string_view utf8, std::size_t width);

// Writes count rows in order, append(row, k) adding row k to a buffer, formatted a batch at a time
// on up to threads threads (0: one a core).
void WriteRows(std::ostream& out, std::size_t count, unsigned threads,
               const std::function<void(std::string&, std::size_t)>& append);

}  // namespace quillmend::cli

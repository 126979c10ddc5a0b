#pragma once
// The order of a list of messages by one of its columns: the window and the command-line tool sort
// with this one comparison, so both show the same order.

#include "eudora/toc.h"
#include "mail/Globals.h"
#include "search/codepage.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

enum class TListColumn { Index, Date, From, To, Subject, Status };

// The header value a column shows: Date, From, To or Subject (the others give Subject).
std::string_view HeaderField(const TEmail& email, TListColumn column);

// The text of a list cell as both front ends show it, UTF-8: the record's number, its date and its
// state's words as they stand, its names and subject decoded (HeaderText); zero bytes of the date as
// nul says.
std::string CellText(const TEmail& email, std::size_t record, TMessageState state, TListColumn column, TCodePage page,
                     TNulDisplay nul = TNulDisplay::Keep);

class TListOrder {
public:
  // rows: the record indexes of the list's rows; a row is a position in it. The values are ranked
  // once here, so each comparison after that is cheap.
  // Header values are decoded in page; Status ranks the words of states (parallel to emails), which
  // it needs.
  TListOrder(const TEmailArray& emails, std::vector<std::size_t> rows, TListColumn column,
             TCodePage page = TCodePage::Windows, const std::vector<TMessageState>* states = nullptr);

  // Negative when row a goes before row b. Index: by record index. Date: by the instant Date names,
  // values that name none after every dated one and ordered as text among themselves. From, To,
  // Subject: by the decoded text, regardless of letter case. Descending reverses that order; rows
  // that compare equal stay in file order either way.
  int Compare(std::size_t a, std::size_t b, bool ascending) const;

  // The rows' record indexes in this order.
  std::vector<std::size_t> Sorted(bool ascending) const;

private:
  std::vector<std::size_t> FRows;
  std::vector<std::uint32_t> FRanks;  // per row: its place among the column's distinct values
};

}  // namespace quillmend

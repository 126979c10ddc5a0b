#include "document/listorder.h"

#include "mime/headertext.h"
#include "mime/maildate.h"
#include "search/charsets.h"
#include "search/codepage.h"

#include <algorithm>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace quillmend {

std::string_view HeaderField(const TEmail& email, TListColumn column)
{
  switch (column) {
  case TListColumn::Date: return email.Date();
  case TListColumn::From: return email.From();
  case TListColumn::To: return email.To();
  default: return email.Subject();
  }
}

std::string CellText(const TEmail& email, std::size_t record, TMessageState state, TListColumn column, TCodePage page,
                     TNulDisplay nul)
{
  switch (column) {
  case TListColumn::Index: return std::to_string(record);
  case TListColumn::Date: return MailToUtf8(email.Date(), page, nul);
  case TListColumn::Status: return std::string(StateWords(state));  // ASCII, the same in every code page
  default: return HeaderText(HeaderField(email, column), page);
  }
}

namespace {

struct TKey {
  bool Undated;
  std::int64_t Instant;
  std::string Text;

  friend bool operator<(const TKey& a, const TKey& b)
  {
    if (a.Undated != b.Undated)
      return b.Undated;
    if (a.Instant != b.Instant)
      return a.Instant < b.Instant;
    return a.Text < b.Text;
  }
};

TKey KeyOf(std::string_view value, TListColumn column, TCodePage page)
{
  if (column == TListColumn::Status)
    return {false, 0, TextOrderKey(std::string(value))};
  if (column != TListColumn::Date)
    return {false, 0, TextOrderKey(HeaderText(value, page))};
  // Equal instants rank equal whatever their text says, so they keep file order.
  if (const std::optional<std::int64_t> instant = MailDateInstant(value))
    return {false, *instant, {}};
  return {true, 0, TextOrderKey(MailToUtf8(value, page))};
}

}  // namespace

TListOrder::TListOrder(const TEmailArray& emails, std::vector<std::size_t> rows, TListColumn column, TCodePage page,
                       const std::vector<TMessageState>* states)
    : FRows(std::move(rows)), FRanks(FRows.size())
{
  if (column == TListColumn::Index) {
    std::transform(FRows.begin(), FRows.end(), FRanks.begin(),
                   [](std::size_t record) { return static_cast<std::uint32_t>(record); });
    return;
  }
  // Mail repeats its senders, recipients and subjects: each distinct value is decoded and keyed once.
  std::unordered_map<std::string_view, std::uint32_t> ids;
  std::vector<std::string_view> distinct;
  std::vector<std::uint32_t> idOfRow(FRows.size());
  for (std::size_t row = 0; row < FRows.size(); ++row) {
    const std::size_t record = FRows[row];
    const std::string_view value =
        column != TListColumn::Status
            ? HeaderField(emails.at(record), column)
            : StateWords(states && record < states->size() ? (*states)[record] : TMessageState::NoIndex);
    const auto [at, added] = ids.try_emplace(value, static_cast<std::uint32_t>(distinct.size()));
    if (added)
      distinct.push_back(at->first);
    idOfRow[row] = at->second;
  }
  std::vector<TKey> keys;
  keys.reserve(distinct.size());
  for (const std::string_view value : distinct)
    keys.push_back(KeyOf(value, column, page));
  std::vector<std::uint32_t> order(distinct.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return keys[a] < keys[b]; });
  std::vector<std::uint32_t> rankOfId(distinct.size());
  std::uint32_t rank = 0;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (i > 0 && keys[order[i - 1]] < keys[order[i]])
      ++rank;
    rankOfId[order[i]] = rank;
  }
  for (std::size_t row = 0; row < FRows.size(); ++row)
    FRanks[row] = rankOfId[idOfRow[row]];
}

int TListOrder::Compare(std::size_t a, std::size_t b, bool ascending) const
{
  const auto sign = [](auto x, auto y) { return x < y ? -1 : (x > y ? 1 : 0); };
  const int d = sign(FRanks[a], FRanks[b]);
  if (d != 0)
    return ascending ? d : -d;
  return sign(FRows[a], FRows[b]);
}

std::vector<std::size_t> TListOrder::Sorted(bool ascending) const
{
  std::vector<std::size_t> positions(FRows.size());
  std::iota(positions.begin(), positions.end(), std::size_t{0});
  std::sort(positions.begin(), positions.end(),
            [&](std::size_t a, std::size_t b) { return Compare(a, b, ascending) < 0; });
  std::vector<std::size_t> records;
  records.reserve(positions.size());
  for (const std::size_t position : positions)
    records.push_back(FRows[position]);
  return records;
}

}  // namespace quillmend

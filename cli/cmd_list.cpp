// quillmend-cli list MAILBOX [--keyword WORD] [--format table|tsv|json] [--status] [--not-in-index]
//                         [--sort COLUMN] [--reverse]

#include "base/parallel.h"
#include "base/system.h"
#include "base/text.h"
#include "cli/commands.h"
#include "cli/listformat.h"
#include "document/listorder.h"
#include "mime/headertext.h"
#include "search/codepage.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillmend::cli {

namespace {

// The column --sort names (the index when only --reverse is given); nothing for file order. Read
// before the mailbox, so that a wrong name costs no scan.
std::optional<TListColumn> SortColumn(const TArgs& args)
{
  const std::optional<std::string> sort = args.Option("sort");
  if (!sort && !args.Flag("reverse"))
    return std::nullopt;
  static const std::pair<const char*, TListColumn> kColumns[] = {{"index", TListColumn::Index},
                                                                 {"date", TListColumn::Date},
                                                                 {"from", TListColumn::From},
                                                                 {"to", TListColumn::To},
                                                                 {"subject", TListColumn::Subject}};
  const std::string name = sort.value_or("index");
  const auto column =
      std::find_if(std::begin(kColumns), std::end(kColumns), [&](const auto& c) { return name == c.first; });
  if (column == std::end(kColumns))
    throw TUsageError("unknown sort column \"" + name + "\" (date, from, to, subject or index)");
  return column->second;
}

// The rows in the order --sort and --reverse ask for; file order without them.
std::vector<std::size_t> OrderedRows(const TMailbox& mailbox, std::optional<TListColumn> column, bool reverse)
{
  if (!column)
    return mailbox.Rows();
  return TListOrder(mailbox.Emails(), mailbox.Rows(), *column, mailbox.CodePage(), &mailbox.States()).Sorted(!reverse);
}

}  // namespace

int RunList(const TCommand& command, const TArgs& args)
{
  const std::string format = args.Option("format").value_or("table");
  if (format != "table" && format != "tsv" && format != "json")
    throw TUsageError("unknown format \"" + format + "\" (table, tsv or json)");
  const std::optional<TListColumn> sort = SortColumn(args);
  const TMailbox mailbox = OpenMailbox(command, args);
  ReportIndex(command, mailbox);
  const TEmailArray& emails = mailbox.Emails();
  const std::vector<TMessageState>& states = mailbox.States();
  const TCodePage page = mailbox.CodePage();
  const std::vector<std::size_t> rows = OrderedRows(mailbox, sort, args.Flag("reverse"));

  std::ostream& out = command.Out;
  if (format == "table") {
    // A wide terminal's room goes to From and To, a third each, and some to dates with a zone name.
    constexpr std::size_t kNames = 30, kDate = 31, kOthers = 8 + kDate + 13 + 5 * 2;
    const std::size_t columns = command.Terminal.Columns;
    const std::size_t names = std::max(kNames, columns > kOthers ? (columns - kOthers) / 3 : 0);
    const std::size_t date = kDate + std::min<std::size_t>(names - kNames, 12);
    auto emit = [names, date](std::string& row, std::string_view number, std::string_view when, std::string_view from,
                              std::string_view to, std::string_view status, std::string_view subject) {
      row.append(number.size() < 8 ? 8 - number.size() : 0, ' ').append(number) += "  ";
      AppendCell(row, when, date), row += "  ";
      AppendCell(row, from, names), row += "  ";
      AppendCell(row, to, names), row += "  ";
      AppendCell(row, status, 13), row += "  ";
      AppendCell(row, subject, 0), row += '\n';
    };
    std::string head;
    emit(head, "Item Num", "Date", "From", "To", "Status", "Subject");
    out << head;
    WriteRows(out, rows.size(), mailbox.Threads(), [&](std::string& row, std::size_t k) {
      const std::size_t i = rows[k];
      const auto cell = [&](TListColumn column) { return CellText(emails[i], i, states[i], column, page); };
      emit(row, cell(TListColumn::Index), cell(TListColumn::Date), cell(TListColumn::From), cell(TListColumn::To),
           cell(TListColumn::Status), cell(TListColumn::Subject));
    });
  } else if (format == "tsv") {
    const bool withStatus = args.Flag("status");
    WriteRows(out, rows.size(), mailbox.Threads(), [&](std::string& row, std::size_t k) {
      const std::size_t i = rows[k];
      const TEmail& e = emails[i];
      for (const std::int64_t number : {static_cast<std::int64_t>(i), e.StartOffset, e.BodyOffset, e.EndOffset}) {
        char digits[24];
        row.append(digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, number).ptr -
                                                    digits)) += '\t';
      }
      for (const std::string_view value : {e.Date(), e.From(), e.To()})
        AppendTsvField(row, value), row += '\t';
      AppendTsvField(row, e.Subject());
      if (withStatus)
        (row += '\t') += StateName(states[i]);
      row += '\n';
    });
  } else {
    out << "[";
    WriteRows(out, rows.size(), mailbox.Threads(), [&](std::string& row, std::size_t k) {
      const std::size_t i = rows[k];
      const TEmail& e = emails[i];
      const auto cell = [&](TListColumn column) {
        std::string text = CellText(e, i, states[i], column, page);
        text.erase(0,
                   std::min(text.find_first_not_of(" \t"), text.size()));  // the date's blank, as the others have none
        return JsonString(text);
      };
      row.append(k ? ",\n " : "\n ").append("{\"index\": ").append(std::to_string(i));
      row.append(", \"start\": ").append(std::to_string(e.StartOffset));
      row.append(", \"body\": ").append(std::to_string(e.BodyOffset));
      row.append(", \"end\": ").append(std::to_string(e.EndOffset));
      row.append(", \"date\": ").append(cell(TListColumn::Date));
      row.append(", \"from\": ").append(cell(TListColumn::From));
      row.append(", \"to\": ").append(cell(TListColumn::To));
      row.append(", \"subject\": ").append(cell(TListColumn::Subject));
      row.append(", \"status\": \"").append(StateName(states[rows[k]])).append("\"}");
    });
    out << (rows.empty() ? "]\n" : "\n]\n");
  }
  out.flush();
  return out ? kExitOk : kExitFailure;
}

}  // namespace quillmend::cli

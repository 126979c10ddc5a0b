// quillmend-cli carve SOURCE [FOLDER] [--format table|tsv|json] [--lost-only] [--rebuild | --mbox FILE]
//                            [--attachments DIR] [--overwrite]

#include "base/sha256.h"
#include "base/text.h"
#include "cli/commands.h"
#include "cli/listformat.h"
#include "cli/writemessages.h"
#include "document/carveddisk.h"
#include "document/listorder.h"

#include <string>
#include <vector>

namespace quillmend::cli {

namespace {

// Mail of both systems turns up on a disk; names and subjects are decoded as Windows mail, the most
// common, and dates are ASCII.
constexpr TCodePage kPage = TCodePage::Windows;

std::string Cell(const TCarvedDisk& disk, std::size_t k, TListColumn column)
{
  std::string text = CellText(disk.Emails()[k], k, TMessageState::NoIndex, column, kPage);
  text.erase(0, std::min(text.find_first_not_of(" \t"), text.size()));  // the date's blank, as the others have none
  return text;
}

void List(const TCommand& command, const TCarvedDisk& disk, const std::vector<std::size_t>& rows,
          const std::string& format)
{
  std::ostream& out = command.Out;
  const auto& messages = disk.Messages();
  const auto& emails = disk.Emails();
  if (format == "table") {
    const auto emit = [](std::string& row, std::string_view number, std::string_view offset, std::string_view length,
                         std::string_view state, std::string_view where, std::string_view date, std::string_view from,
                         std::string_view subject) {
      row.append(number.size() < 8 ? 8 - number.size() : 0, ' ').append(number) += "  ";
      row.append(offset.size() < 14 ? 14 - offset.size() : 0, ' ').append(offset) += "  ";
      row.append(length.size() < 9 ? 9 - length.size() : 0, ' ').append(length) += "  ";
      AppendCell(row, state, 8), row += "  ";
      AppendCell(row, where, 24), row += "  ";
      AppendCell(row, date, 31), row += "  ";
      AppendCell(row, from, 30), row += "  ";
      AppendCell(row, subject, 0), row += '\n';
    };
    std::string head;
    emit(head, "Item Num", "Offset", "Length", "State", "Where", "Date", "From", "Subject");
    out << head;
    WriteRows(out, rows.size(), 0, [&](std::string& row, std::size_t r) {
      const std::size_t k = rows[r];
      emit(row, std::to_string(k), std::to_string(emails[k].StartOffset),
           std::to_string(emails[k].EndOffset - emails[k].StartOffset), disk.StateText(k), disk.WhereText(k),
           Cell(disk, k, TListColumn::Date), Cell(disk, k, TListColumn::From), Cell(disk, k, TListColumn::Subject));
    });
  } else if (format == "tsv") {
    WriteRows(out, rows.size(), 0, [&](std::string& row, std::size_t r) {
      const std::size_t k = rows[r];
      const TEmail& e = emails[k];
      row.append(std::to_string(k)).append("\t").append(std::to_string(e.StartOffset)).append("\t");
      row.append(std::to_string(e.EndOffset - e.StartOffset)).append("\t").append(disk.StateText(k)).append("\t");
      row.append(HexOf(messages[k].Sha256)).append("\t").append(std::to_string(messages[k].Copies.size())).append("\t");
      for (std::size_t c = 0; c < messages[k].Copies.size(); ++c)
        row.append(c ? "," : "").append(std::to_string(messages[k].Copies[c]));
      row += '\t';
      for (std::size_t c = 0; c < messages[k].Copies.size(); ++c)
        (c ? row += ',' : row), AppendTsvField(row, disk.PlaceText(k, c));
      for (const std::string_view value : {e.Date(), e.From()})
        (row += '\t'), AppendTsvField(row, value);
      row += '\t';
      AppendTsvField(row, e.Subject());
      row += '\n';
    });
  } else {
    out << "[";
    WriteRows(out, rows.size(), 0, [&](std::string& row, std::size_t r) {
      const std::size_t k = rows[r];
      const TEmail& e = emails[k];
      const TCarvedMessage& message = messages[k];
      row.append(r ? ",\n " : "\n ").append("{\"index\": ").append(std::to_string(k));
      row.append(", \"offset\": ").append(std::to_string(e.StartOffset));
      row.append(", \"length\": ").append(std::to_string(e.EndOffset - e.StartOffset));
      row.append(", \"complete\": ").append(message.Complete ? "true" : "false");
      row.append(", \"sha256\": \"").append(HexOf(message.Sha256)).append("\"");
      row.append(", \"copies\": ").append(std::to_string(message.Copies.size()));
      row.append(", \"offsets\": [");
      for (std::size_t c = 0; c < message.Copies.size(); ++c)
        row.append(c ? ", " : "").append(std::to_string(message.Copies[c]));
      row.append("], \"where\": [");
      for (std::size_t c = 0; c < message.Copies.size(); ++c) {
        row.append(c ? ", " : "").append("{\"offset\": ").append(std::to_string(message.Copies[c]));
        if (disk.Places().Known) {
          const std::string& file = disk.Places().Files[k][c];
          row.append(file.empty() ? ", \"free\": true" : ", \"file\": " + JsonString(file));
        }
        row += '}';
      }
      row.append("], \"lost\": ").append(disk.Places().Known ? (disk.Lost(k) ? "true" : "false") : "null");
      row.append(", \"date\": ").append(JsonString(Cell(disk, k, TListColumn::Date)));
      row.append(", \"from\": ").append(JsonString(Cell(disk, k, TListColumn::From)));
      row.append(", \"subject\": ").append(JsonString(Cell(disk, k, TListColumn::Subject))).append("}");
    });
    out << (rows.empty() ? "]\n" : "\n]\n");
  }
}

}  // namespace

int RunCarve(const TCommand& command, const TArgs& args)
{
  const std::string format = args.Option("format").value_or("table");
  if (format != "table" && format != "tsv" && format != "json")
    throw TUsageError("unknown format \"" + format + "\" (table, tsv or json)");
  const bool write = args.Positionals().size() > 1 || args.Option("mbox");
  if (!write && (args.Flag("rebuild") || args.Option("attachments")))
    throw TUsageError("--rebuild and --attachments go with a FOLDER to write into");
  const std::optional<TExportRequest> request = write ? std::optional(ReadExportRequest(args)) : std::nullopt;

  const auto source = PathFromUtf8(args.Positionals()[0]);
  std::optional<TCarvedDisk> disk;
  {
    auto bar = ProgressFor(command, "Searching");
    disk = TCarvedDisk::Search(source, Observer(bar));
  }
  const bool lostOnly = args.Flag("lost-only");
  command.Err << "quillmend-cli: " << disk->Summary() << "\n";
  if (lostOnly && !disk->Places().Known)
    command.Err << "quillmend-cli: --lost-only: no file system was read, so no message is known to be in a live "
                   "mailbox; all are kept\n";
  const std::vector<std::size_t> rows = disk->Rows(lostOnly);
  if (!request) {
    List(command, *disk, rows, format);
    command.Out.flush();
    return command.Out ? kExitOk : kExitFailure;
  }
  return WriteMessages(command, *request, *disk, rows);
}

}  // namespace quillmend::cli

// quillmend-cli convert EUDORA_FOLDER (--maildir DIR | --mbox-tree DIR | --eml-tree DIR)
//                       [--deleted separate|same|skip] [--attachments DIR] [--dry-run]

#include "cli/commands.h"
#include "document/convert.h"

#include <algorithm>

namespace quillmend::cli {

namespace {

std::size_t Width(const std::string& text)
{
  // Columns count characters, not the bytes of UTF-8.
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// The table at the end, in columns: names left, numbers right.
void PrintTable(std::ostream& out, const TConvertReport& report)
{
  const std::vector<std::vector<std::string>> table = ReportTable(report);
  std::vector<std::size_t> widths(table.front().size(), 0);
  for (const std::vector<std::string>& row : table)
    for (std::size_t i = 0; i < row.size(); ++i)
      widths[i] = std::max(widths[i], Width(row[i]));
  for (const std::vector<std::string>& row : table) {
    out << row[0] << std::string(widths[0] - Width(row[0]), ' ');
    for (std::size_t i = 1; i < row.size(); ++i)
      out << "  " << std::string(widths[i] - Width(row[i]), ' ') << row[i];
    out << "\n";
  }
}

}  // namespace

int RunConvert(const TCommand& command, const TArgs& args)
{
  std::vector<std::pair<TStoreKind, std::string>> targets;
  for (const auto& [kind, option] : {std::pair{TStoreKind::Maildir, "maildir"}, std::pair{TStoreKind::MboxTree, "mbox-tree"},
                                     std::pair{TStoreKind::EmlTree, "eml-tree"}})
    if (const auto dir = args.Option(option))
      targets.emplace_back(kind, *dir);
  if (targets.size() != 1 || targets.front().second.empty())
    throw TUsageError("give one target: --maildir DIR, --mbox-tree DIR or --eml-tree DIR");
  TConvertOptions options;
  if (const auto deleted = args.Option("deleted")) {
    if (*deleted == "separate")
      options.Deleted = TDeletedMail::Separate;
    else if (*deleted == "same")
      options.Deleted = TDeletedMail::Same;
    else if (*deleted == "skip")
      options.Deleted = TDeletedMail::Skip;
    else
      throw TUsageError("--deleted takes separate, same or skip");
  }
  for (const std::string& folder : args.Options("attachments"))
    options.Rebuild.AttachmentsFolders.push_back(PathFromUtf8(folder));
  options.DryRun = args.Flag("dry-run");

  const std::filesystem::path top = PathFromUtf8(args.Positionals()[0]);
  const std::filesystem::path target = PathFromUtf8(targets.front().second);
  auto bar = ProgressFor(command, options.DryRun ? "Reading" : "Converting");
  const TConvertReport report = ConvertMailFolder(top, targets.front().first, target, options, Observer(bar));
  bar.reset();

  PrintTable(command.Out, report);
  for (const std::string& note : ReportNotes(report))
    command.Err << "quillmend-cli: " << note << "\n";
  if (report.DryRun)
    command.Out << "Dry run: nothing was written.\n";
  else if (report.Cancelled)
    command.Out << "Stopped: the messages written so far are whole; run the same command again to go on.\n";
  else
    command.Out << "Converted into \"" << PathText(target) << "\"\n";
  return report.Succeeded() ? kExitOk : kExitFailure;
}

}  // namespace quillmend::cli

// quillmend-cli export MAILBOX FOLDER [--keyword WORD] [--messages 0,3,7-12] [--not-in-index] [--overwrite]

#include "cli/commands.h"
#include "mail/export.h"

#include <algorithm>
#include <system_error>

namespace quillmend::cli {

int RunExport(const TCommand& command, const TArgs& args)
{
  const auto folder = PathFromArg(args.Positionals()[1]);
  const auto messages = args.Option("messages");
  const std::optional<TMessageList> chosen = messages ? std::optional<TMessageList>(*messages) : std::nullopt;

  const TMailbox mailbox = OpenMailbox(command, args);
  ReportIndex(command, mailbox);
  std::vector<std::size_t> indexes = mailbox.Rows();
  if (chosen) {
    if (const std::optional<std::size_t> beyond = chosen->FirstBeyond(mailbox.Emails().size()))
      throw std::runtime_error(NoMessage(mailbox, *beyond));
    std::erase_if(indexes, [&](std::size_t i) { return !chosen->Contains(i); });
  }

  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::string reason;
  if (!ProbeFolder(folder, &reason))
    throw TFileError(FileErrorMessage("Cannot write to folder", folder, ec ? ec.message() : reason));

  auto bar = ProgressFor(command, "Exporting");
  const TExportReport report =
      mailbox.Export(indexes, folder, args.Flag("overwrite") ? TExisting::Replace : TExisting::Keep, Observer(bar));
  bar.reset();
  command.Out << "Exported " << report.Written << " of " << indexes.size() << " messages to \"" << PathText(folder)
              << "\"\n";
  for (const TExportFailure& failure : report.Failed)
    command.Err << "quillmend-cli: " << failure.FileName << ": " << failure.Reason << "\n";
  for (const TExportRenamed& renamed : report.Renamed)
    command.Err << "quillmend-cli: " << renamed.FileName << ": a different file has that name; written as \""
                << renamed.WrittenAs << "\"\n";
  return report.Succeeded() ? kExitOk : kExitFailure;
}

}  // namespace quillmend::cli

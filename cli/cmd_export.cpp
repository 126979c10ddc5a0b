// quillmend-cli export MAILBOX FOLDER [--keyword WORD] [--messages 0,3,7-12] [--overwrite]

#include "cli/commands.h"
#include "mail/export.h"
#include "mail/files.h"

#include <system_error>

namespace quillmend::cli {

int RunExport(const TCommand& command)
{
  const TArgs args(command.Words, {"keyword", "messages"}, {"overwrite"});
  args.ExpectPositionals(2, 2);
  const auto mailbox = PathFromArg(args.Positionals()[0]);
  const auto folder = PathFromArg(args.Positionals()[1]);
  const auto messages = args.Option("messages");
  const std::optional<TMessageList> chosen = messages ? std::optional<TMessageList>(*messages) : std::nullopt;

  TFileIdentity scanned;
  const TEmailArray emails = Scan(command, mailbox, scanned);
  std::vector<std::size_t> indexes = Select(command, mailbox, emails, args.Option("keyword"), scanned);
  if (chosen) {
    if (const std::optional<std::size_t> beyond = chosen->FirstBeyond(emails.size()))
      throw std::runtime_error("No message " + std::to_string(*beyond) + " in \"" + PathText(mailbox) +
                               "\": it holds " + std::to_string(emails.size()) + " messages");
    std::erase_if(indexes, [&](std::size_t i) { return !chosen->Contains(i); });
  }

  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::string reason;
  if (!ProbeFolder(folder, &reason))
    throw TFileError(FileErrorMessage("Cannot write to folder", folder, ec ? ec.message() : reason));

  auto bar = ProgressFor(command, "Exporting");
  const TExportReport report = ExportMessages(mailbox, emails, indexes, folder, Observer(bar),
                                              args.Flag("overwrite") ? TExisting::Replace : TExisting::Keep, &scanned);
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

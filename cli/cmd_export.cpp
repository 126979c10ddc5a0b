// quillmend-cli export MAILBOX FOLDER [--keyword WORD] [--messages 0,3,7-12]

#include "cli/commands.h"
#include "mail/export.h"
#include "mail/files.h"

#include <algorithm>
#include <system_error>

namespace quillmend::cli {

int RunExport(const TCommand& command)
{
  const TArgs args(command.Words, {"keyword", "messages"});
  args.ExpectPositionals(2, 2);
  const auto mailbox = PathFromArg(args.Positionals()[0]);
  const auto folder = PathFromArg(args.Positionals()[1]);
  const auto messages = args.Option("messages");
  const std::vector<std::size_t> chosen = messages ? ParseMessageList(*messages) : std::vector<std::size_t>();

  TFileIdentity scanned;
  const TEmailArray emails = Scan(command, mailbox, scanned);
  std::vector<std::size_t> indexes = Select(command, mailbox, emails, args.Option("keyword"), scanned);
  if (messages) {
    for (const std::size_t i : chosen)
      if (i >= emails.size())
        throw std::runtime_error("No message " + std::to_string(i) + " in \"" + PathText(mailbox) + "\": it holds " +
                                 std::to_string(emails.size()) + " messages");
    std::erase_if(indexes, [&](std::size_t i) { return std::find(chosen.begin(), chosen.end(), i) == chosen.end(); });
  }

  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!ProbeFolder(folder))
    throw TFileError(FileErrorMessage("Cannot write to folder", folder, ec ? ec.message() : "No file can be created there"));

  auto bar = ProgressFor(command, "Exporting");
  const TExportReport report = ExportMessages(mailbox, emails, indexes, folder, Observer(bar), &scanned);
  bar.reset();
  command.Out << "Exported " << report.Written << " of " << indexes.size() << " messages to \"" << PathText(folder)
              << "\"\n";
  for (const TExportFailure& failure : report.Failed)
    command.Err << "quillmend-cli: " << failure.FileName << ": " << failure.Reason << "\n";
  return report.Succeeded() ? kExitOk : kExitFailure;
}

}  // namespace quillmend::cli

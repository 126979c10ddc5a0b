// quillmend-cli export MAILBOX FOLDER [--keyword WORD] [--messages 0,3,7-12] [--not-in-index] [--overwrite]
//                [--rebuild | --mbox FILE] [--attachments DIR]

#include "cli/commands.h"
#include "cli/writemessages.h"

namespace quillmend::cli {

int RunExport(const TCommand& command, const TArgs& args)
{
  if (!args.Option("mbox") && args.Positionals().size() < 2)
    throw TUsageError("missing arguments");
  const TExportRequest request = ReadExportRequest(args);
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
  return WriteMessages(command, request, mailbox, indexes);
}

}  // namespace quillmend::cli

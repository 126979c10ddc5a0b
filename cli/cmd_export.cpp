// quillmend-cli export MAILBOX FOLDER [--keyword WORD] [--messages 0,3,7-12] [--not-in-index] [--overwrite]
//                [--rebuild | --mbox FILE] [--attachments DIR]

#include "cli/commands.h"
#include "document/export.h"

#include <algorithm>
#include <system_error>

namespace quillmend::cli {

namespace {

// The summary line and a line for each part left out, on stderr.
void SayRebuilt(const TCommand& command, const TRebuildReport& report)
{
  command.Err << "quillmend-cli: " << report.Written << " messages rebuilt, " << report.Attachments
              << " attachments and " << report.Images << " images joined, " << report.Missing.size() << " not found, "
              << report.Failed.size() << " failed\n";
  for (const TMissingPart& part : report.Missing)
    command.Err << "quillmend-cli: " << part.FileName << ": \"" << part.Name << "\" " << part.Reason << "\n";
}

}  // namespace

int RunExport(const TCommand& command, const TArgs& args)
{
  const auto mbox = args.Option("mbox");
  if (mbox && (args.Positionals().size() > 1 || args.Flag("rebuild")))
    throw TUsageError("--mbox writes one file: give no FOLDER and no --rebuild");
  if (!mbox && args.Positionals().size() < 2)
    throw TUsageError("missing arguments");
  const auto attachments = args.Option("attachments");
  if (attachments && !mbox && !args.Flag("rebuild"))
    throw TUsageError("--attachments goes with --rebuild or --mbox: the messages as they stand name no files");
  if (mbox && mbox->empty())
    throw TUsageError("--mbox needs a file name (- for standard output)");
  const bool toStdout = mbox && *mbox == "-";
  TRebuildOptions options;
  for (const std::string& folder : args.Options("attachments"))
    options.AttachmentsFolders.push_back(PathFromUtf8(folder));
  const TExisting existing = args.Flag("overwrite") ? TExisting::Replace : TExisting::Keep;
  const auto folder = mbox ? PathFromUtf8(*mbox).parent_path() : PathFromUtf8(args.Positionals()[1]);
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

  if (!toStdout)
    PrepareFolder(folder, true);

  auto bar = ProgressFor(command, "Exporting");
  TRebuildReport rebuilt;
  if (toStdout)
    rebuilt = mailbox.ExportMbox(
        indexes,
        [&](std::string_view bytes) {
          // A full disk or a closed pipe fails the export, not silently the messages.
          if (!command.Out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())))
            throw TFileError("Cannot write to standard output");
        },
        options, Observer(bar));
  else if (mbox)
    rebuilt = mailbox.ExportMbox(indexes, PathFromUtf8(*mbox), options, existing, Observer(bar));
  else if (args.Flag("rebuild"))
    rebuilt = mailbox.ExportRebuilt(indexes, folder, options, existing, Observer(bar));
  else
    static_cast<TExportReport&>(rebuilt) = mailbox.Export(indexes, folder, existing, Observer(bar));
  const TExportReport& report = rebuilt;
  bar.reset();
  if (toStdout)
    command.Err << "quillmend-cli: exported " << report.Written << " of " << indexes.size()
                << " messages to standard output\n";
  else if (mbox)
    command.Out << "Exported " << report.Written << " of " << indexes.size() << " messages to \""
                << PathText(folder /
                            (report.Files.empty() ? PathFromUtf8(*mbox).filename() : PathFromUtf8(report.Files[0])))
                << "\"\n";
  else
    command.Out << "Exported " << report.Written << " of " << indexes.size() << " messages to \"" << PathText(folder)
                << "\"\n";
  if (mbox || args.Flag("rebuild"))
    SayRebuilt(command, rebuilt);
  for (const TExportFailure& failure : report.Failed)
    command.Err << "quillmend-cli: " << failure.FileName << ": " << failure.Reason << "\n";
  for (const TExportRenamed& renamed : report.Renamed)
    command.Err << "quillmend-cli: " << renamed.FileName << ": a different file has that name; written as \""
                << renamed.WrittenAs << "\"\n";
  return rebuilt.Succeeded() ? kExitOk : kExitFailure;
}

}  // namespace quillmend::cli

#include "cli/writemessages.h"

namespace quillmend::cli {

TExportRequest ReadExportRequest(const TArgs& args)
{
  TExportRequest request;
  request.Mbox = args.Option("mbox");
  request.Rebuild = args.Flag("rebuild");
  if (request.Mbox && (args.Positionals().size() > 1 || request.Rebuild))
    throw TUsageError("--mbox writes one file: give no FOLDER and no --rebuild");
  if (args.Option("attachments") && !request.Mbox && !request.Rebuild)
    throw TUsageError("--attachments goes with --rebuild or --mbox: the messages as they stand name no files");
  if (request.Mbox && request.Mbox->empty())
    throw TUsageError("--mbox needs a file name (- for standard output)");
  request.ToStdout = request.Mbox && *request.Mbox == "-";
  for (const std::string& folder : args.Options("attachments"))
    request.Options.AttachmentsFolders.push_back(PathFromUtf8(folder));
  request.Existing = args.Flag("overwrite") ? TExisting::Replace : TExisting::Keep;
  request.Folder = request.Mbox ? PathFromUtf8(*request.Mbox).parent_path() : PathFromUtf8(args.Positionals().at(1));
  return request;
}

void SayRebuilt(const TCommand& command, const TRebuildReport& report)
{
  command.Err << "quillmend-cli: " << report.Written << " messages rebuilt, " << report.Attachments
              << " attachments and " << report.Images << " images joined, " << report.Missing.size() << " not found, "
              << report.Failed.size() << " failed\n";
  for (const TMissingPart& part : report.Missing)
    command.Err << "quillmend-cli: " << part.FileName << ": \"" << part.Name << "\" " << part.Reason << "\n";
}

}  // namespace quillmend::cli

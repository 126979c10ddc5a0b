#pragma once
// Writing messages out, shared by export (a mailbox's) and carve (a disk's): FOLDER as they stand,
// --rebuild, or --mbox FILE (- for standard output); the summary and every failure said; the exit
// status. Both documents offer the same four exports.

#include "base/system.h"
#include "cli/commands.h"
#include "document/export.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillmend::cli {

struct TExportRequest {
  std::optional<std::string> Mbox;  // --mbox FILE
  bool Rebuild = false;
  bool ToStdout = false;  // --mbox -
  TRebuildOptions Options;
  TExisting Existing = TExisting::Keep;
  std::filesystem::path Folder;  // the second positional, or --mbox's folder
};

// The options of an export, checked: throws TUsageError.
TExportRequest ReadExportRequest(const TArgs& args);

// The summary line and a line for each part left out, on stderr.
void SayRebuilt(const TCommand& command, const TRebuildReport& report);

// Writes document's records of indexes as request asks; the exit status.
template <class TDocument>
int WriteMessages(const TCommand& command, const TExportRequest& request, const TDocument& document,
                  const std::vector<std::size_t>& indexes)
{
  if (!request.ToStdout)
    PrepareFolder(request.Folder, true);
  auto bar = ProgressFor(command, "Exporting");
  TRebuildReport rebuilt;
  if (request.ToStdout)
    rebuilt = document.ExportMbox(
        indexes,
        [&](std::string_view bytes) {
          // A full disk or a closed pipe fails the export, not silently the messages.
          if (!command.Out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())))
            throw TFileError("Cannot write to standard output");
        },
        request.Options, Observer(bar));
  else if (request.Mbox)
    rebuilt = document.ExportMbox(indexes, PathFromUtf8(*request.Mbox), request.Options, request.Existing, Observer(bar));
  else if (request.Rebuild)
    rebuilt = document.ExportRebuilt(indexes, request.Folder, request.Options, request.Existing, Observer(bar));
  else
    static_cast<TExportReport&>(rebuilt) = document.Export(indexes, request.Folder, request.Existing, Observer(bar));
  const TExportReport& report = rebuilt;
  bar.reset();
  if (request.ToStdout)
    command.Err << "quillmend-cli: exported " << report.Written << " of " << indexes.size()
                << " messages to standard output\n";
  else if (request.Mbox)
    command.Out << "Exported " << report.Written << " of " << indexes.size() << " messages to \""
                << PathText(request.Folder / (report.Files.empty() ? PathFromUtf8(*request.Mbox).filename()
                                                                   : PathFromUtf8(report.Files[0])))
                << "\"\n";
  else
    command.Out << "Exported " << report.Written << " of " << indexes.size() << " messages to \""
                << PathText(request.Folder) << "\"\n";
  if (request.Mbox || request.Rebuild)
    SayRebuilt(command, rebuilt);
  for (const TExportFailure& failure : report.Failed)
    command.Err << "quillmend-cli: " << failure.FileName << ": " << failure.Reason << "\n";
  for (const TExportRenamed& renamed : report.Renamed)
    command.Err << "quillmend-cli: " << renamed.FileName << ": a different file has that name; written as \""
                << renamed.WrittenAs << "\"\n";
  return rebuilt.Succeeded() ? kExitOk : kExitFailure;
}

}  // namespace quillmend::cli

#include "outputs/mboxfile.h"

#include "base/system.h"

#include <utility>

namespace quillmend {

namespace {

// Adds one > to each line that matches ^>*From as the pieces stream through.
class TMboxEscaper {
public:
  explicit TMboxEscaper(const TByteSink& out) : FFile(out) {}
  void Feed(std::string_view bytes)
  {
    FOut.clear();
    for (const char c : bytes) {
      if (FLineStart) {
        FProbe += c;
        const std::size_t quotes = FProbe.find_first_not_of('>');
        if (c == '\n' || (quotes != std::string::npos &&
                          !std::string_view("From ").starts_with(std::string_view(FProbe).substr(quotes)))) {
          FOut += FProbe;
          FProbe.clear();
          FLineStart = c == '\n';
        } else if (quotes != std::string::npos && FProbe.size() - quotes == 5) {
          FOut += '>';
          FOut += FProbe;
          FProbe.clear();
          FLineStart = false;
        }
        continue;
      }
      FOut += c;
      FLineStart = c == '\n';
    }
    FFile(FOut);
  }
  void Finish() { FFile(FProbe); }

private:
  const TByteSink& FFile;
  std::string FOut, FProbe;
  bool FLineStart = true;
};

}  // namespace

TMboxFile::TMboxFile(std::filesystem::path target, unsigned mode, TExisting existing, TKeptFiles kept)
    : FTarget(std::move(target)), FFileName(PathText(FTarget.filename())), FMode(mode), FExisting(existing),
      FKept(std::move(kept))
{
}

TMboxFile::TMboxFile(TByteSink stream) : FFileName(kStandardOutput), FStream(std::move(stream)) {}

TMboxFile::~TMboxFile() = default;

void TMboxFile::Write(std::string_view bytes)
{
  if (FStream)
    FStream(bytes);
  else
    FOut->Write(bytes);
}

bool TMboxFile::Add(const TOutgoingMessage& message, const TMessageWriter& write)
{
  if (FFailed)
    return false;
  bool outputFailed = false;  // the file, or standard output, and not the message's own source
  const TByteSink out = [&](std::string_view bytes) {
    try {
      Write(bytes);
    } catch (const TFileError&) {
      outputFailed = true;
      throw;
    }
  };
  std::int64_t before = 0;
  try {
    if (!FStream && !FOut)
      FOut.emplace(FTarget, FMode, FKept);
    before = FStream ? 0 : FOut->Size();
    out("From MAILER-DAEMON " +
        (message.Received.empty() ? std::string("Thu Jan  1 00:00:00 1970") : message.Received) + "\n");
    TMboxEscaper escaper(out);
    write([&](std::string_view piece) { escaper.Feed(piece); });
    escaper.Finish();
    out("\n");
    ++FWritten;
    return true;
  } catch (const TFileError& e) {
    // A message whose source failed half way (an attachment that changed while read) is taken back
    // out of the file and named; the messages before it stay. What is on a stream cannot be.
    if (outputFailed || FStream || !FOut)
      return Fail(e.what());
    try {
      FOut->TruncateTo(before);
    } catch (const TFileError& cut) {
      return Fail(cut.what());
    }
    FReport.Failed.push_back({message.Name, e.what()});
    return true;
  }
}

TExportReport TMboxFile::Commit()
{
  if (!FFailed && FStream) {
    FReport.Files.push_back(FFileName);
    FReport.Written = FWritten;
  } else if (!FFailed) {
    try {
      if (!FOut)
        FOut.emplace(FTarget, FMode, FKept);
      FReport.Files.push_back(FOut->Commit(FExisting == TExisting::Replace));
      FReport.Written = FWritten;
      if (FReport.Files.back() != FFileName)
        FReport.Renamed.push_back({FFileName, FReport.Files.back()});
    } catch (const TFileError& e) {
      Fail(e.what());
    }
  }
  return std::move(FReport);
}

bool TMboxFile::Fail(const std::string& reason)
{
  FFailed = true;
  FOut.reset();
  FReport.Failed.push_back({FFileName, reason});
  FReport.Written = 0;
  FReport.Files.clear();
  FReport.Renamed.clear();
  return false;
}

}  // namespace quillmend

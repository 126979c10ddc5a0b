#include "outputs/mboxfile.h"

#include "base/ascii.h"
#include "base/readfile.h"
#include "base/system.h"
#include "mime/maildate.h"
#include "outputs/newfile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

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

// Hands each consecutive piece of file to take.
template <class Take>
void ReadPieces(const TReadOnlyFile& file, Take take)
{
  std::string buffer(std::size_t{1} << 20, '\0');
  for (std::int64_t at = 0;;) {
    const std::size_t got = file.ReadAt(at, buffer.data(), buffer.size());
    if (got == 0)
      return;
    take(std::string_view(buffer.data(), got));
    at += static_cast<std::int64_t>(got);
  }
}

// Leaves out of a message's header block the fields that say its state (Status:, X-Status:,
// X-Mozilla-*) with their continuation lines, as the pieces stream through.
class TStateDropper {
public:
  explicit TStateDropper(TByteSink out) : FOut(std::move(out)) {}
  void Feed(std::string_view bytes)
  {
    while (!bytes.empty()) {
      if (!FInHeader) {
        FOut(bytes);
        return;
      }
      const std::size_t end = bytes.find('\n');
      FLine.append(bytes.substr(0, end == std::string_view::npos ? bytes.size() : end + 1));
      bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
      if (end != std::string_view::npos)
        Line();
    }
  }
  void Finish()
  {
    if (!FLine.empty())
      FOut(FLine);
  }

private:
  void Line()
  {
    const bool continued = FLine[0] == ' ' || FLine[0] == '\t';
    if (FLine == "\n" || FLine == "\r\n")
      FInHeader = false;
    else if (!continued)
      FDropping = StartsNoCase(FLine, "status:") || StartsNoCase(FLine, "x-status:") ||
                  StartsNoCase(FLine, "x-mozilla-status:") || StartsNoCase(FLine, "x-mozilla-status2:") ||
                  StartsNoCase(FLine, "x-mozilla-keys:");
    if (!FInHeader || !FDropping)
      FOut(FLine);
    FLine.clear();
  }

  TByteSink FOut;
  std::string FLine;
  bool FInHeader = true, FDropping = false;
};

// The headers that give a message's state to Thunderbird and to mutt.
std::string StateHeaders(const TOutgoingMessage& message)
{
  const TMessageFlags& flags = message.Flags;
  const unsigned status = (flags.Seen ? 0x0001u : 0) | (flags.Answered ? 0x0002u : 0) | (flags.Forwarded ? 0x1000u : 0);
  char hex[5];
  std::snprintf(hex, sizeof hex, "%04x", status);
  std::string keys;
  for (const std::string& keyword : message.Keywords)
    keys += (keys.empty() ? "" : " ") + keyword;
  // Thunderbird pads the line so that it can add keywords in place later.
  constexpr std::size_t kKeysRoom = 80;
  keys.resize(std::max(keys.size(), kKeysRoom), ' ');
  std::string headers = std::string("X-Mozilla-Status: ") + hex + "\nX-Mozilla-Status2: 00000000\nX-Mozilla-Keys: " + keys +
                        "\nStatus: " + (flags.Seen ? "RO" : "O") + "\n";
  const std::string xStatus = std::string(flags.Answered ? "A" : "") + (flags.Draft ? "T" : "");
  if (!xStatus.empty())
    headers += "X-Status: " + xStatus + "\n";
  return headers;
}

TMboxFile::TMboxFile(std::filesystem::path target, unsigned mode, TExisting existing, TKeptFiles kept,
                     TMboxFlavour flavour)
    : FTarget(std::move(target)), FFileName(PathText(FTarget.filename())), FMode(mode), FExisting(existing),
      FFlavour(flavour), FKept(std::move(kept)),
      FMark(MarkOf(FTarget))
{
}

std::vector<std::string> TMboxFile::HeaderValues(const std::filesystem::path& path, std::string_view field)
{
  std::vector<std::string> values;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    return values;
  const TReadOnlyFile file(path);
  const std::string prefix = AsciiLowered(field) + ":";
  std::string line;
  bool inHeader = false, afterBlank = true;
  const auto take = [&] {
    if (afterBlank && line.starts_with("From ")) {
      inHeader = true;
    } else if (inHeader && line.empty()) {
      inHeader = false;
    } else if (inHeader && AsciiLowered(line.substr(0, prefix.size())) == prefix) {
      std::string value = line.substr(prefix.size());
      value.erase(0, value.find_first_not_of(" \t"));
      value.erase(value.find_last_not_of(" \t\r") + 1);
      values.push_back(std::move(value));
    }
    afterBlank = line.empty() || line == "\r";
    line.clear();
  };
  ReadPieces(file, [&](std::string_view piece) {
    for (std::size_t at = 0; at < piece.size();) {
      const std::size_t end = piece.find('\n', at);
      line.append(piece.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
      if (end == std::string_view::npos)
        break;
      take();
      at = end + 1;
    }
  });
  if (!line.empty())
    take();
  return values;
}

// The file made on the first message; when appending to one that exists, that file itself, written
// at its end only, so that nothing it holds (nor what a mail program adds meanwhile) is touched.
void TMboxFile::Open()
{
  std::error_code ec;
  if (FExisting != TExisting::Append || !std::filesystem::exists(FTarget, ec)) {
    FOut.emplace(FTarget, FMode, FKept);
    return;
  }
  if (FKept.Holds(FTarget))
    throw TFileError(FileErrorMessage("Cannot write file", FTarget, "It is the mailbox being read, or its index."));
  try {
    FAppend = std::make_unique<TNewFile>(FTarget, TNewFile::TAppendTo{});
  } catch (const TOutputError& e) {
    throw TFileError(FileErrorMessage("Cannot write file", FTarget, e.what()));
  }
  TakeBackUnfinished(FTarget);
  // Until the messages are on the disk, the size they were added at stands beside the file: a run
  // killed before then has its part taken back by the next (see TakeBackUnfinished).
  const std::int64_t size = FAppend->Size();
  {
    TOutputFile mark(FMark, FMode);
    mark.Write(std::to_string(size));
    mark.Commit(true);
  }
  // A blank line before the first separator line: only then does it start a message.
  char tail[2] = {'\n', '\n'};
  if (size > 0)
    TReadOnlyFile(FTarget).ReadAt(std::max<std::int64_t>(size - 2, 0), tail + (size == 1 ? 1 : 0), size == 1 ? 1 : 2);
  if (tail[1] != '\n')
    Write("\n\n");
  else if (tail[0] != '\n')
    Write("\n");
}

// What a run killed while appending left after the size its mark names: taken back when it is
// this sink's own (a separator line of its own, perhaps after the blank line it adds), so that no cut
// message stays and none counts as present because its first lines made it.
void TMboxFile::TakeBackUnfinished(const std::filesystem::path& target)
{
  const std::filesystem::path mark = MarkOf(target);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(mark, ec))
    return;
  std::string text(32, '\0');
  text.resize(TReadOnlyFile(mark).ReadAt(0, text.data(), text.size()));
  std::int64_t from = -1;
  std::from_chars(text.data(), text.data() + text.size(), from);
  if (std::filesystem::is_regular_file(target, ec)) {
    try {
      TNewFile file(target, TNewFile::TAppendTo{});
      std::string head(std::size_t{2} + std::char_traits<char>::length(kSeparator), '\0');
      if (from >= 0 && from < file.Size())
        head.resize(TReadOnlyFile(target).ReadAt(from, head.data(), head.size()));
      const std::string_view seen(head);
      const std::size_t blank = seen.find_first_not_of('\n');
      if (from >= 0 && from < file.Size() && blank != std::string_view::npos &&
          seen.substr(blank).starts_with(kSeparator))
        file.TruncateTo(from);
    } catch (const TOutputError& e) {
      throw TFileError(FileErrorMessage("Cannot write file", target, e.what()));
    }
  }
  std::filesystem::remove(mark, ec);
}

std::filesystem::path TMboxFile::MarkOf(const std::filesystem::path& target)
{
  return target.parent_path() / (std::filesystem::path(".") += target.filename() += ".quillmend-append");
}

TMboxFile::TMboxFile(TByteSink stream) : FFileName(kStandardOutput), FStream(std::move(stream)) {}

TMboxFile::~TMboxFile() = default;

void TMboxFile::Write(std::string_view bytes)
{
  if (FStream) {
    FStream(bytes);
  } else if (FAppend) {
    try {
      FAppend->Write(bytes);
    } catch (const TOutputError& e) {
      throw TFileError(FileErrorMessage("Cannot write file", FTarget, e.what()));
    }
  } else {
    FOut->Write(bytes);
  }
}

std::int64_t TMboxFile::Size() const { return FStream ? 0 : FAppend ? FAppend->Size() : FOut->Size(); }

void TMboxFile::TruncateTo(std::int64_t size)
{
  if (!FAppend)
    return FOut->TruncateTo(size);
  try {
    FAppend->TruncateTo(size);
  } catch (const TOutputError& e) {
    throw TFileError(FileErrorMessage("Cannot write file", FTarget, e.what()));
  }
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
    if (!FStream && !FOut && !FAppend) {
      try {
        Open();
      } catch (const TFileError& e) {
        return Fail(e.what());
      }
    }
    before = Size();
    out(std::string(kSeparator) + SeparatorTime(message.Received.value_or(0)) + "\n");
    TMboxEscaper escaper(out);
    if (FFlavour == TMboxFlavour::Thunderbird) {
      // The states said here, and only here: a message's own say the opposite as often as not.
      out(StateHeaders(message));
      TStateDropper dropper([&](std::string_view piece) { escaper.Feed(piece); });
      write([&](std::string_view piece) { dropper.Feed(piece); });
      dropper.Finish();
    } else {
      write([&](std::string_view piece) { escaper.Feed(piece); });
    }
    escaper.Finish();
    out("\n");
    ++FWritten;
    return true;
  } catch (const TFileError& e) {
    // A message whose source failed half way (an attachment that changed while read) is taken back
    // out of the file and named; the messages before it stay. What is on a stream cannot be.
    if (outputFailed || FStream || (!FOut && !FAppend))
      return Fail(e.what());
    try {
      TruncateTo(before);
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
  } else if (!FFailed && FAppend) {
    try {
      FAppend->Sync();
      std::error_code ec;
      std::filesystem::remove(FMark, ec);
      FReport.Files.push_back(FFileName);
      FReport.Written = FWritten;
    } catch (const TOutputError& e) {
      Fail(FileErrorMessage("Cannot write file", FTarget, e.what()));
    }
  } else if (!FFailed) {
    try {
      if (!FOut)
        Open();
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
  FAppend.reset();
  FReport.Failed.push_back({FFileName, reason});
  FReport.Written = 0;
  FReport.Files.clear();
  FReport.Renamed.clear();
  return false;
}

}  // namespace quillmend

#include "mail/bodypart.h"

#include "search/FastStrings.h"

#include <stdexcept>

namespace quillmend {

TByteRange MessageRange(const TEmail& email) { return {email.StartOffset, email.EndOffset}; }

TByteRange BodyPart(const TEmail& email)
{
  if (email.BodyOffset == 0)
    return MessageRange(email);
  return {email.BodyOffset, email.EndOffset};
}

TRangeReader::TRangeReader(const TMailboxFile& file, std::size_t chunk, TAccess access)
    : FFile(file), FChunk(chunk), FAccess(access), FBuffer(std::make_unique<char[]>(chunk))
{
}

bool TRangeReader::Refill(std::int64_t at)
{
  // Forward: go on with the read-ahead while at lies in what it is about to read; start it anew
  // after a jump, so that a few messages far apart do not read the whole file between them.
  if (FAccess == TAccess::Forward && !(FAhead && at < FAheadAt)) {
    if (!FAhead || at >= FAheadAt + 2 * static_cast<std::int64_t>(FChunk)) {
      FAhead.reset();
      FAhead = std::make_unique<TReadAhead>(FFile, at, FChunk);
      FAheadAt = at;
    }
    for (;;) {
      const std::string_view block = FAhead->Next();
      FData = block.data();
      FStart = FAheadAt;
      FCount = static_cast<std::int64_t>(block.size());
      FAheadAt += FCount;
      if (FCount == 0 || at < FAheadAt)
        return FCount > 0;
    }
  }
  FData = FBuffer.get();
  FStart = at;
  FCount = static_cast<std::int64_t>(FFile.ReadAt(at, FBuffer.get(), FChunk));
  return FCount > 0;
}

std::string ReadRange(TRangeReader& reader, TByteRange range, std::size_t limit)
{
  std::string text;
  text.reserve(static_cast<std::size_t>(std::min<std::int64_t>(range.Length(), static_cast<std::int64_t>(limit))));
  reader.Read(range, [&](std::string_view piece) {
    text.append(piece.substr(0, limit - text.size()));
    return text.size() < limit;
  });
  return text;
}

TKeywordFilter::TKeywordFilter(std::string keyword, const TFoldTable& folds) : FSearcher(keyword, false, folds) {}

bool TKeywordFilter::Matches(TRangeReader& reader, TByteRange range)
{
  // FCarry holds the last keyword-length-minus-one bytes read so far: a match that spans two pieces
  // starts there and ends in the first bytes of the next piece.
  const std::size_t overlap = FSearcher.Length() - 1;
  bool found = false;
  FCarry.clear();
  reader.Read(range, [&](std::string_view piece) {
    if (!FCarry.empty()) {
      FJoint.assign(FCarry).append(piece.substr(0, overlap));
      found = FSearcher.Find(FJoint) > 0;
    }
    found = found || FSearcher.Find(piece) > 0;
    if (piece.size() >= overlap) {
      FCarry.assign(piece.substr(piece.size() - overlap));
    } else {
      FCarry.append(piece);
      FCarry.erase(0, FCarry.size() > overlap ? FCarry.size() - overlap : 0);
    }
    return !found;
  });
  return found;
}

std::vector<std::size_t> FilterEmails(const std::filesystem::path& mailbox, const TEmailArray& emails,
                                      const std::string& keyword, TProgressObserver* observer,
                                      const TFileIdentity* scanned, TCodePage page)
{
  TProgressSession session(observer);
  TProgressFeed feed(observer);
  TKeywordFilter filter(keyword, FoldTable(page));
  TMailboxFile file(mailbox);
  if (scanned)
    file.ExpectUnchanged(*scanned);
  TRangeReader reader(file, std::size_t{256} << 10, TRangeReader::TAccess::Forward);
  std::vector<std::size_t> kept;
  const std::int64_t end = emails.empty() ? 0 : emails.back().EndOffset;
  for (std::size_t i = 0; i < emails.size(); ++i) {
    if (filter.Matches(reader, BodyPart(emails[i])))
      kept.push_back(i);
    if (feed.Active()) {
      feed.Progress(end > 0 ? static_cast<int>(emails[i].EndOffset * 100 / end) : 100);
      feed.StepOrThrow();
    }
  }
  return kept;
}

}  // namespace quillmend

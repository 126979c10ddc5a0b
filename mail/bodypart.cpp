#include "mail/bodypart.h"

#include "base/parallel.h"
#include "mail/emailparser.h"
#include "search/FastStrings.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>

namespace quillmend {

TByteRange MessageRange(const TEmail& email) { return {email.StartOffset, email.EndOffset}; }

TByteRange BodyPart(const TEmail& email)
{
  if (email.BodyOffset == 0)
    return MessageRange(email);
  return {email.BodyOffset, email.EndOffset};
}

std::optional<std::size_t> HeaderLength(const TEmail& email)
{
  if (email.BodyOffset == 0)
    return std::nullopt;
  return static_cast<std::size_t>(email.BodyOffset - email.StartOffset);
}

TRangeReader::TRangeReader(const TReadOnlyFile& file, std::size_t chunk, TAccess access)
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

namespace {

// Whether a separator line starts at offset.
bool SeparatorAt(const TReadOnlyFile& file, std::int64_t offset)
{
  constexpr std::string_view kStart = TEmailParser::kMessageStart;
  char bytes[kStart.size()];
  return file.ReadAt(offset, bytes, sizeof bytes) == sizeof bytes && std::string_view(bytes, sizeof bytes) == kStart;
}

// ExpectUnchanged; then whether the file only grew, which its records must show.
bool Grown(const TReadOnlyFile& file, const TFileIdentity& scanned)
{
  file.ExpectUnchanged(scanned);
  return file.Size() != scanned.Size;
}

void ExpectInPlace(const TReadOnlyFile& file, const TFileIdentity& scanned, const TEmail& email)
{
  if (!SeparatorAt(file, email.StartOffset) || (email.EndOffset < scanned.Size && !SeparatorAt(file, email.EndOffset)))
    throw TFileError(QuotedPath(file.Path()) + " has changed since it was scanned; open it again");
}

}  // namespace

void ExpectRecordsInPlace(const TReadOnlyFile& file, const TFileIdentity& scanned, const TEmailArray& emails,
                          const std::vector<std::size_t>& indexes)
{
  if (Grown(file, scanned))
    for (const std::size_t index : indexes)
      ExpectInPlace(file, scanned, emails.at(index));
}

void ExpectRecordsInPlace(const TReadOnlyFile& file, const TFileIdentity& scanned, const TEmailArray& emails)
{
  if (Grown(file, scanned))
    for (const TEmail& email : emails)
      ExpectInPlace(file, scanned, email);
}

std::vector<std::size_t> FilterEmails(const std::filesystem::path& mailbox, const TEmailArray& emails,
                                      const std::string& keyword, TProgressObserver* observer,
                                      const TFileIdentity* scanned, TCodePage page, unsigned threads)
{
  TProgressSession session(observer);
  const TFoldTable& folds = FoldTable(page);
  TKeywordFilter filter(keyword, folds);
  TReadOnlyFile file(mailbox);
  if (scanned)
    ExpectRecordsInPlace(file, *scanned, emails);
  const std::int64_t end = emails.empty() ? 0 : emails.back().EndOffset;
  if (threads == 0)
    threads = UsableCores();
  const auto pieces =
      static_cast<std::size_t>(std::clamp<std::int64_t>(end / kMinFilterPiece, 1, std::int64_t{threads} * 4));
  std::vector<std::size_t> kept;
  if (threads == 1 || pieces == 1) {
    TProgressFeed feed(observer);
    TRangeReader reader(file, std::size_t{256} << 10, TRangeReader::TAccess::Forward);
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

  // Runs of consecutive records of about the same bytes, searched on threads of their own.
  std::vector<std::size_t> first(pieces + 1, emails.size());
  for (std::size_t k = 0; k < pieces; ++k)
    first[k] =
        static_cast<std::size_t>(std::partition_point(emails.begin(), emails.end(),
                                                      [&](const TEmail& e) {
                                                        return e.EndOffset <= end / static_cast<std::int64_t>(pieces) *
                                                                                  static_cast<std::int64_t>(k);
                                                      }) -
                                 emails.begin());
  first[0] = 0;
  std::vector<std::vector<std::size_t>> found(pieces);
  std::unique_ptr<std::atomic<std::int64_t>[]> passed(new std::atomic<std::int64_t>[pieces]);
  for (std::size_t k = 0; k < pieces; ++k)
    passed[k] = 0;
  RunPieces(
      pieces, threads, observer,
      [&](std::size_t k, const std::atomic<bool>& stop) {
        TRangeReader reader(file, std::size_t{256} << 10);
        TKeywordFilter own(keyword, folds);
        const std::int64_t base = first[k] == 0 ? 0 : emails[first[k] - 1].EndOffset;
        for (std::size_t i = first[k]; i < first[k + 1]; ++i) {
          if (stop.load(std::memory_order_relaxed))
            throw TCancelled();
          if (own.Matches(reader, BodyPart(emails[i])))
            found[k].push_back(i);
          passed[k].store(emails[i].EndOffset - base, std::memory_order_relaxed);
        }
      },
      [&] {
        std::int64_t sum = 0;
        for (std::size_t k = 0; k < pieces; ++k)
          sum += passed[k].load(std::memory_order_relaxed);
        return static_cast<int>(sum * 100 / end);
      });
  for (const std::vector<std::size_t>& piece : found)
    kept.insert(kept.end(), piece.begin(), piece.end());
  return kept;
}

}  // namespace quillmend

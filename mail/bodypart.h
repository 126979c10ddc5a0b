#pragma once
// Reading a message's bytes back from its mailbox: the ranges a record stands for, a reader that
// serves them in bounded chunks, and the keyword filter that the window and the command line share.

#include "base/progress.h"
#include "base/readfile.h"
#include "mail/Globals.h"
#include "search/FastStrings.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

struct TByteRange {
  std::int64_t Begin = 0;
  std::int64_t End = 0;  // one past the last byte
  std::int64_t Length() const { return End > Begin ? End - Begin : 0; }
};

// The whole message, separator line included: what an export writes.
TByteRange MessageRange(const TEmail& email);

// What the filter searches and the preview shows: from the blank line that ends the header block to
// the end of the message. A message whose header block never closed has no body of its own, so its
// body part is its whole range (never the bytes of the messages before it).
TByteRange BodyPart(const TEmail& email);

// How far the header block of a message goes from its start, as the scan found it: up to the blank
// line that ends it; nullopt when it never closed.
std::optional<std::size_t> HeaderLength(const TEmail& email);

// Serves ranges of one open mailbox in pieces of at most the chunk size. Ranges read in increasing
// order come out of one buffer, so a pass over many small messages costs one read per chunk; with
// TAccess::Forward the next chunk is read ahead on a second thread while this one is used.
class TRangeReader {
public:
  enum class TAccess { Random, Forward };

  explicit TRangeReader(const TReadOnlyFile& file, std::size_t chunk = std::size_t{1} << 20,
                        TAccess access = TAccess::Random);

  // Calls sink(std::string_view piece) -> bool for consecutive pieces of range until it returns
  // false or the range is done. Returns the bytes delivered: fewer than range.Length() when the file
  // now ends earlier (it shrank since the scan). Throws TFileError when the file cannot be read.
  template <class Sink>
  std::int64_t Read(TByteRange range, Sink&& sink)
  {
    std::int64_t at = range.Begin;
    while (at < range.End) {
      if ((at < FStart || at >= FStart + FCount) && !Refill(at))
        break;
      const std::int64_t stop = std::min(range.End, FStart + FCount);
      const std::string_view piece(FData + (at - FStart), static_cast<std::size_t>(stop - at));
      at = stop;
      if (!sink(piece))
        break;
    }
    return at - range.Begin;
  }

private:
  bool Refill(std::int64_t at);  // makes the buffer hold at; false at the end of the file

  const TReadOnlyFile& FFile;
  std::size_t FChunk;
  TAccess FAccess;
  std::unique_ptr<char[]> FBuffer;
  std::unique_ptr<TReadAhead> FAhead;
  std::int64_t FAheadAt = 0;  // file offset of the block the read-ahead hands out next
  const char* FData = nullptr;
  std::int64_t FStart = 0;
  std::int64_t FCount = 0;
};

// Throws TFileError as TReadOnlyFile::ExpectUnchanged does, and also when the file grew but is no
// longer the one the records came from: a file rewritten in place and longer. A file that grew must
// still hold, for each record of indexes, its separator line where the record starts, and another
// where it ends unless it ended the file as scanned.
void ExpectRecordsInPlace(const TReadOnlyFile& file, const TFileIdentity& scanned, const TEmailArray& emails,
                          const std::vector<std::size_t>& indexes);
// The same for every record.
void ExpectRecordsInPlace(const TReadOnlyFile& file, const TFileIdentity& scanned, const TEmailArray& emails);

// At most limit bytes of range; fewer when the file ends first.
std::string ReadRange(TRangeReader& reader, TByteRange range, std::size_t limit);

// Whether keyword occurs in a range, in any letter case; a match that spans two pieces is found.
class TKeywordFilter {
public:
  // Throws std::invalid_argument for an empty keyword.
  explicit TKeywordFilter(std::string keyword, const TFoldTable& folds = FoldTable());
  bool Matches(TRangeReader& reader, TByteRange range);

private:
  TTextSearcher FSearcher;
  std::string FCarry;
  std::string FJoint;
};

// Indexes of the records whose body part holds keyword (bytes in page), in array order. With
// scanned, the mailbox must still be the file the records came from (TReadOnlyFile::ExpectUnchanged).
// Messages of at least two kMinFilterPiece are searched on up to threads threads (0: one a core).
// Throws TFileError, or TCancelled when the observer asks.
std::vector<std::size_t> FilterEmails(const std::filesystem::path& mailbox, const TEmailArray& emails,
                                      const std::string& keyword, TProgressObserver* observer = nullptr,
                                      const TFileIdentity* scanned = nullptr, TCodePage page = TCodePage::Windows,
                                      unsigned threads = 0);

inline constexpr std::int64_t kMinFilterPiece = std::int64_t{16} << 20;

}  // namespace quillmend

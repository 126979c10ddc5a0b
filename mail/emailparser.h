#pragma once
// Turns a mailbox file into its message records. Every line beginning "From ???@??? " starts a
// message wherever it stands, so messages the mail client no longer lists are found too.

#include "base/progress.h"
#include "base/readfile.h"
#include "mail/Globals.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

// One header line split into name and value.
struct TRPCField {
  bool IsField = false;
  std::string Name;   // before the first colon
  std::string Value;  // from the space after the colon up to, not including, the line's CR LF

  friend bool operator==(const TRPCField&, const TRPCField&) = default;
};

// How a mailbox ends its lines, decided by its first line end: Eudora on Windows writes CR LF, on the
// Mac a CR alone. In a CR-ended file every CR ends a line, a CR LF pair being one line end.
enum class TLineEnds { CrLf, Cr };

class TEmailParser {
public:
  static constexpr std::string_view kMessageStart = "From ???@??? ";

  // Offset of the first occurrence of pattern at or after startOffset, or -1 when the file ends
  // first. Opens the file for this one call. Throws TFileError when it cannot be opened.
  static std::int64_t LocatePattern(std::string_view pattern, const std::filesystem::path& fileName,
                                    std::int64_t startOffset);

  // line ends with CR LF, exactly as read from the mailbox.
  static TRPCField SplitHeaderLine(std::string_view line);

  // The index of the colon ending a header line's field name (printable characters, then ": "), or
  // npos when the line is no field; the rule SplitHeaderLine splits by. The line may come with or
  // without its line end: the answer is the same.
  static std::size_t FieldNameEnd(std::string_view line);

  // Which of the four shown values a field of this name sets, in any letter case.
  static std::optional<THeader> ShownHeader(std::string_view name);

  // Copy of email with From, To, Subject or Date replaced when the field's name is one of them.
  static TEmail SetHeaderField(const TRPCField& field, TEmail email);

  // The first 13 bytes are exactly "From ???@??? ".
  static bool IsMessageStart(std::string_view line) { return line.substr(0, kMessageStart.size()) == kMessageStart; }

  // CR when the first CR or LF of the file is a CR that no LF follows.
  static TLineEnds DetectLineEnds(const TReadOnlyFile& file);

  // Scans the mailbox in one sequential pass. Line ends are the first CR LF at or after a line's
  // start (in a CR-ended file the first CR); bytes after the file's last line end start no line, but
  // belong to the last message. emails (and *identity, the file scanned with the size read, and
  // *lineEnds, when asked for) are assigned only when the scan completes. Throws TFileError, or
  // TCancelled when the observer asks.
  //
  // A file of at least two kMinScanRange is scanned on up to threads threads (0: a thread for each
  // core this process may run on), each taking ranges of the file in turn: ParseRanges.
  static void ParseFile(const std::filesystem::path& fileName, TEmailArray& emails,
                        TProgressObserver* observer = nullptr, TFileIdentity* identity = nullptr,
                        TLineEnds* lineEnds = nullptr, unsigned threads = 0);

  // The scan of ParseFile split at the range starts given (ascending, the first 0), giving the same
  // records: each range holds the messages whose separator lines start in it, its scan starting at
  // its first line start and going past its end only to finish a header block. The bar shows the
  // share of the file the ranges have passed.
  static void ParseRanges(const std::filesystem::path& fileName, TEmailArray& emails,
                          const std::vector<std::int64_t>& starts, unsigned threads,
                          TProgressObserver* observer = nullptr, TFileIdentity* identity = nullptr,
                          TLineEnds* lineEnds = nullptr);

  // The smallest range worth a thread of its own.
  static constexpr std::int64_t kMinScanRange = std::int64_t{16} << 20;

  // How many threads ParseFile takes for a file of size bytes when asked for threads (0: one a core).
  static unsigned ScanThreads(std::int64_t size, unsigned threads);
};

// The bar value for a line starting at lineStart in a file of size bytes: 100 / size * lineStart in
// extended precision, rounded half to even.
int ScanProgress(std::int64_t lineStart, std::int64_t size);

}  // namespace quillmend

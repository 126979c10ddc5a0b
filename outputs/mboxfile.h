#pragma once
// One mbox file (mboxrd: LF line ends, body lines that match ^>*From get one more >) holding every
// message, written as TOutputFile writes a file: it only takes its name once it is whole.

#include "outputs/outputfile.h"
#include "outputs/sink.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

class TNewFile;

// What the separator line and the headers before each message say.
enum class TMboxFlavour {
  Plain,        // the separator line only
  Thunderbird,  // and the states and keywords as Thunderbird (X-Mozilla-*) and mutt (Status:) read them
};

class TMboxFile : public TMessageSink {
public:
  // Nothing is created until the first message; a different file named target is kept, replaced or
  // appended to as existing says, but never one of kept. Messages must be written with LF line ends.
  TMboxFile(std::filesystem::path target, unsigned mode, TExisting existing, TKeptFiles kept = {},
            TMboxFlavour flavour = TMboxFlavour::Plain);
  // The messages written to stream as they come (standard output): no file, nothing to name.
  explicit TMboxFile(TByteSink stream);
  ~TMboxFile() override;

  // Each message after a "From MAILER-DAEMON <received>" line. A message whose bytes fail half way
  // is taken back out of the file and named by its message.Name. False once the file itself (or the
  // stream) failed: the report then names the file and no message counts as written.
  bool Add(const TOutgoingMessage& message, const TMessageWriter& write) override;
  TExportReport Commit() override;

  // How each message begins.
  static constexpr const char* kSeparator = "From MAILER-DAEMON ";

  // What reports call a stream's output.
  static constexpr const char* kStandardOutput = "standard output";

  // The values of the header field (e.g. "X-Quillmend-Id") in the header blocks of the messages of
  // the mbox file at path; nothing when it is not there. Throws TFileError when it cannot be read.
  static std::vector<std::string> HeaderValues(const std::filesystem::path& path, std::string_view field);

  // Takes back what a run killed while it appended to target left of its last messages (only that:
  // it is found by the mark such a run leaves beside the file). Throws TFileError.
  static void TakeBackUnfinished(const std::filesystem::path& target);

private:
  void Write(std::string_view bytes);
  void Open();
  static std::filesystem::path MarkOf(const std::filesystem::path& target);
  std::int64_t Size() const;
  void TruncateTo(std::int64_t size);
  bool Fail(const std::string& reason);

  std::filesystem::path FTarget;
  std::string FFileName;
  unsigned FMode = 0;
  TExisting FExisting = TExisting::Keep;
  TMboxFlavour FFlavour = TMboxFlavour::Plain;
  TKeptFiles FKept;
  std::optional<TOutputFile> FOut;
  std::unique_ptr<TNewFile> FAppend;  // the existing file appended to
  std::filesystem::path FMark;        // beside it while appending: the size it had before
  TByteSink FStream;
  bool FFailed = false;
  std::size_t FWritten = 0;
  TExportReport FReport;
};

}  // namespace quillmend

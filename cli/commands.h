#pragma once
// What the commands of quillmend-cli share. The table of commands in cli.cpp dispatches them and
// writes their help; each command lives in a file of its own.

#include "base/progress.h"
#include "cli/cli.h"
#include "document/mailbox.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillmend::cli {

// A command line that does not say what the tool can do: exit code 2.
class TUsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// --help among a command's options: its help is printed instead of running it.
struct THelpWanted {};

struct TOptionEntry {
  const char* Name;   // given as --Name
  const char* Value;  // what follows it, as the help names it; none for a flag
  const char* Help;
  const char* Alias = nullptr;  // another spelling, such as -0
};

// The words of one command: positionals in order, --name value / --name=value options, and flags;
// after "--" every word is a positional.
class TArgs {
public:
  TArgs(const std::vector<std::string>& words, const std::vector<TOptionEntry>& options);
  const std::vector<std::string>& Positionals() const { return FPositionals; }
  std::optional<std::string> Option(const std::string& name) const;  // the last one given
  std::vector<std::string> Options(const std::string& name) const;  // every one given, in order
  bool Flag(const std::string& name) const;
  void ExpectPositionals(std::size_t least, std::size_t most) const;  // throws TUsageError

private:
  std::vector<std::string> FPositionals;
  std::vector<std::pair<std::string, std::string>> FOptions;
  std::vector<std::string> FFlags;
};

struct TCommand {
  std::vector<std::string> Words;  // after the command's name
  std::ostream& Out;
  std::ostream& Err;
  TTerminal Terminal;
};

struct TCommandEntry {
  const char* Name;
  const char* Arguments;  // as the help shows them
  std::size_t LeastPositionals;
  std::size_t MostPositionals;
  const char* Description;
  std::vector<TOptionEntry> Options;
  int (*Run)(const TCommand& command, const TArgs& args);
};

// A bar on the terminal: "Scanning [#####     ]  50%", erased when the work ends.
// The observer of every piece of work: a bar on a terminal when drawn, and a stop at the next step
// once Ctrl-C or a request to terminate came (cli/interrupt.h).
class TTerminalProgress : public TProgressObserver {
public:
  TTerminalProgress(std::ostream& err, std::string title, bool drawn, std::chrono::milliseconds after)
      : FErr(err), FTitle(std::move(title)), FDrawn(drawn), FBarAfter(after)
  {
  }
  void Shown() override;
  void Progress(int percent) override { Draw(percent); }
  // "12,345 messages  310 msg/s  4.1 MB/s  2 min left" after the percentage.
  void Counts(std::uint64_t messages, std::uint64_t bytes, std::uint64_t totalBytes) override;
  void Closed() override;
  bool Cancelled() const override;

private:
  void Draw(int percent);
  int FPercent = 0;
  std::string FCounts;
  std::size_t FWidth = 0;  // of the line last drawn, to be blanked
  std::ostream& FErr;
  std::string FTitle;
  bool FDrawn;
  std::chrono::milliseconds FBarAfter;
  bool FShown = false;  // drawn at least once
  std::chrono::steady_clock::time_point FSince;
};

// The observer for a piece of work, drawn as a bar when the command shows progress.
std::optional<TTerminalProgress> ProgressFor(const TCommand& command, const char* title);
inline TProgressObserver* Observer(std::optional<TTerminalProgress>& bar) { return bar ? &*bar : nullptr; }

// The mailbox the first argument names, scanned, and filtered by --keyword and --not-in-index when
// given, with bars when asked for. A keyword that can match nothing is said on stderr first.
TMailbox OpenMailbox(const TCommand& command, const TArgs& args);

// The index's summary line on stderr; "warning: " before it when the index is damaged.
void ReportIndex(const TCommand& command, const TMailbox& mailbox);

// "No message N in "MAILBOX": it holds M messages"
std::string NoMessage(const TMailbox& mailbox, std::size_t index);

// "0,3,7-12", kept as ranges: a list may name more messages than memory can hold as indexes.
class TMessageList {
public:
  explicit TMessageList(const std::string& text);  // throws TUsageError when it cannot be read

  // The first index, in the order given, that is not below count.
  std::optional<std::size_t> FirstBeyond(std::size_t count) const;
  bool Contains(std::size_t index) const;

private:
  struct TRange {
    std::size_t First, Last;  // both included
  };
  std::vector<TRange> FRanges;  // as given
  std::vector<TRange> FMerged;  // sorted and disjoint, for Contains
};

int RunList(const TCommand& command, const TArgs& args);
int RunShow(const TCommand& command, const TArgs& args);
int RunExport(const TCommand& command, const TArgs& args);
int RunFind(const TCommand& command, const TArgs& args);
int RunConvert(const TCommand& command, const TArgs& args);
int RunCarve(const TCommand& command, const TArgs& args);

}  // namespace quillmend::cli

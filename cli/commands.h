#pragma once
// What the commands of quillmend-cli share; each command lives in a file of its own.

#include "cli/cli.h"
#include "mail/Globals.h"
#include "mail/files.h"
#include "mail/scanobserver.h"

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

// --help among a command's options: the usage is printed instead of running the command.
struct THelpWanted {};

// The words of one command: positionals in order, --name value / --name=value options, and --name
// flags; after "--" every word is a positional.
class TArgs {
public:
  TArgs(const std::vector<std::string>& words, const std::vector<std::string>& optionNames,
        const std::vector<std::string>& flagNames = {});
  const std::vector<std::string>& Positionals() const { return FPositionals; }
  std::optional<std::string> Option(const std::string& name) const;
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
  bool ShowProgress;
};

// A bar on the terminal: "Scanning [#####     ]  50%", erased when the work ends.
class TTerminalProgress : public TScanObserver {
public:
  TTerminalProgress(std::ostream& err, std::string title) : FErr(err), FTitle(std::move(title)) {}
  void Shown() override { Draw(0); }
  void Progress(int percent) override { Draw(percent); }
  void Closed() override;

private:
  void Draw(int percent);
  std::ostream& FErr;
  std::string FTitle;
};

// Observer for a piece of work, or none when no bar is wanted.
std::optional<TTerminalProgress> ProgressFor(const TCommand& command, const char* title);
inline TScanObserver* Observer(std::optional<TTerminalProgress>& bar) { return bar ? &*bar : nullptr; }

std::filesystem::path PathFromArg(const std::string& utf8);

// Scans a mailbox, with a bar when asked for; identity receives what every later open checks.
TEmailArray Scan(const TCommand& command, const std::filesystem::path& mailbox, TFileIdentity& identity);

// Indexes of the messages whose body part holds keyword, or all when there is none.
std::vector<std::size_t> Select(const TCommand& command, const std::filesystem::path& mailbox,
                                const TEmailArray& emails, const std::optional<std::string>& keyword,
                                const TFileIdentity& scanned);

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

int RunList(const TCommand& command);
int RunShow(const TCommand& command);
int RunExport(const TCommand& command);
int RunFind(const TCommand& command);

}  // namespace quillmend::cli

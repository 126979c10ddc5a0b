#pragma once
// Where recovered messages go: one interface for every kind of output, so that the export, the
// rebuilt export and the mbox file are one loop over the messages with a different sink.

#include "base/bytesink.h"

#include <cstddef>
#include <cstdint>
#include <compare>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillmend {

struct TExportFailure {
  std::string FileName;  // e.g. RecoveredEmail12.eml
  std::string Reason;
};

// A message written whole under another name, because a different file already had its own.
struct TExportRenamed {
  std::string FileName;   // e.g. RecoveredEmail12.eml
  std::string WrittenAs;  // e.g. RecoveredEmail12 (2).eml
};

struct TExportReport {
  std::size_t Written = 0;  // messages written whole, including those written under another name
  std::size_t Present = 0;  // messages the output held already (by their Id): not written again
  std::vector<TExportFailure> Failed;
  std::vector<TExportRenamed> Renamed;
  std::vector<std::string> Files;  // the names of the files written whole, in the order written
  bool Cancelled = false;          // stopped on request before the last message
  bool Succeeded() const { return Failed.empty() && !Cancelled; }
};

// What an existing file of a different content under an output's name becomes.
enum class TExisting {
  Keep,     // the output goes to the first free "<name> (2).<ext>", "(3)", ...
  Replace,  // the output takes its place
  Append,   // the output holds what the file held, then its own (one file that collects messages: mbox)
};

// How much of a message its source still held: Got below Length when it ends before the message.
struct TMessageBytes {
  std::int64_t Got = 0;
  std::int64_t Length = 0;
};

// Writes one message's bytes through the sink it is handed. A TFileError out of it fails that
// message.
using TMessageWriter = std::function<TMessageBytes(const TByteSink& sink)>;

// What a mail store makes of a folder beyond its name.
enum class TFolderUse : std::uint8_t { Plain, Inbox, Sent, Trash, Junk };

struct TFolderName {
  std::string Name;  // UTF-8, as the user knew it
  TFolderUse Use = TFolderUse::Plain;

  friend auto operator<=>(const TFolderName&, const TFolderName&) = default;
};

// A folder of a mail store, from the top down.
using TFolderPath = std::vector<TFolderName>;

// The standard states of a message (IMAP's system flags and the common $Forwarded).
struct TMessageFlags {
  bool Seen = false;
  bool Answered = false;
  bool Forwarded = false;
  bool Draft = false;
};

struct TOutgoingMessage {
  std::string Name;                      // what reports call it, e.g. RecoveredEmail12.eml; a folder's file name
  std::optional<std::int64_t> Received;  // when it arrived, seconds since 1970 UTC

  // What outputs that keep folders and states (mail stores) make of it; other outputs ignore it.
  TFolderPath Folder;
  std::string Id;  // names the message across runs: a store that holds it already adds nothing
  std::vector<TFolderPath> AlsoIn;  // where an earlier run may have put it: held there, it counts as present
  TMessageFlags Flags;
  std::vector<std::string> Keywords;  // each an IMAP atom
};

class TMessageSink {
public:
  virtual ~TMessageSink() = default;

  // Writes one message; a message that fails is reported and the sink goes on. False when the
  // sink can take no more messages (its one file failed).
  virtual bool Add(const TOutgoingMessage& message, const TMessageWriter& write) = 0;

  // Makes everything added durable, and says what became of each message.
  virtual TExportReport Commit() = 0;
};

}  // namespace quillmend

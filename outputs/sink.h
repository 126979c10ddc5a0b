#pragma once
// Where recovered messages go: one interface for every kind of output, so that the export, the
// rebuilt export and the mbox file are one loop over the messages with a different sink.

#include "base/bytesink.h"

#include <cstddef>
#include <cstdint>
#include <functional>
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
};

// How much of a message its source still held: Got below Length when it ends before the message.
struct TMessageBytes {
  std::int64_t Got = 0;
  std::int64_t Length = 0;
};

// Writes one message's bytes through the sink it is handed. A TFileError out of it fails that
// message.
using TMessageWriter = std::function<TMessageBytes(const TByteSink& sink)>;

struct TOutgoingMessage {
  std::string Name;      // what reports call it, e.g. RecoveredEmail12.eml; a folder's file name
  std::string Received;  // when it arrived, as an mbox separator line says it; empty when unknown
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

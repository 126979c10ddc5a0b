#pragma once
// Eudora mail folders made to order for tests: messages, Windows indexes and folder trees written
// byte by byte as the client writes them.

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace quillmend::test {

// One message as a Windows mailbox holds it: separator line, header block, body; CR LF lines.
struct TTestMessage {
  TTestMessage(std::string subject = {}) : Subject(std::move(subject)) {}  // NOLINT: lists of subjects read well

  std::string Subject;
  std::string Body = "Hello.";
  bool WithDate = true;
  std::string Separator = "Mon Dec 13 18:45:29 2010";
  std::string Extra;  // more header lines, each ended in CR LF

  std::string Bytes() const;
};

// One entry of a Windows index.
struct TTestEntry {
  std::uint16_t State = 0;
  std::uint16_t Label = 0;
  std::uint8_t Priority = 3;
  std::int64_t Date = 0;  // the instant; written shifted by the zone, as the client does
  std::int16_t Zone = 0;
  std::uint32_t Arrival = 0;
  std::uint32_t ImapFlags = 0;
};

// A mailbox written into folder as <file>.mbx with an index <file>.toc that lists the messages
// for which entries holds an entry at the same place; a message whose entry is listed = false is
// deleted. Returns the mailbox's path.
struct TTestMailbox {
  std::string File;  // without .mbx
  std::vector<TTestMessage> Messages;
  std::vector<TTestEntry> Entries;  // parallel to Messages
  std::vector<bool> Listed;         // parallel to Messages; empty: all listed
  bool WithIndex = true;
  std::string IndexName;  // the mailbox name in the index header; empty: File
};
std::filesystem::path WriteMailbox(const std::filesystem::path& folder, const TTestMailbox& mailbox);

// Writes a descmap.pce of lines (each "Name,File,Type,Unread", in the bytes given) into folder.
void WriteDescmap(const std::filesystem::path& folder, const std::vector<std::string>& lines);

}  // namespace quillmend::test

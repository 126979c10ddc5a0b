#pragma once
// Synthetic Eudora mailboxes for benchmarks, fuzz seeds and examples. Output depends only on the
// options: the random source and every range reduction are our own, never the standard library's
// distributions, so a seed gives the same bytes with any compiler.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend::mailgen {

struct TMailGenOptions {
  std::uint64_t Seed = 1;
  // Stop after MessageCount messages, or once TargetBytes have been written, whichever is set;
  // with both set, whichever comes first. The last message is always written whole.
  std::int64_t MessageCount = 0;
  std::int64_t TargetBytes = 0;
  // Chances per message, in parts per thousand.
  int FlagWordPerMille = 30;     // "MSG_FLAG_EXPUNGED" somewhere in the message
  int NoBlankLinePerMille = 5;   // header block never closed
  int FromLinePerMille = 20;     // a body line beginning "From " that is no separator
  int AttachmentPerMille = 120;  // "Attachment Converted:" lines
  int LargePerMille = 1;         // a base64 part of 64 to 512 KB
  // As Eudora on the Mac writes it: lines end in CR alone, text is Mac Roman.
  bool Mac = false;
};

// What the scan should find for one message: header values as the scan cuts them (leading space
// kept), offsets as in the message record.
struct TGeneratedMessage {
  std::string From;
  std::string To;
  std::string Subject;
  std::string Date;
  std::int64_t StartOffset = 0;
  std::int64_t BodyOffset = 0;  // 0 when the header block was left open
  std::int64_t EndOffset = 0;
  int FlagWords = 0;  // occurrences of the flag word, any letter case
};

struct TMailGenSummary {
  std::int64_t Messages = 0;
  std::int64_t Bytes = 0;
  std::int64_t FlagWords = 0;
  std::int64_t MessagesWithFlagWord = 0;
  std::int64_t MessagesWithoutBlankLine = 0;
};

// Writes the mailbox to out. When messages is given, the record of every message is appended.
TMailGenSummary GenerateMailbox(std::ostream& out, const TMailGenOptions& options,
                                std::vector<TGeneratedMessage>* messages = nullptr);

// Writes the Windows index (NAME.toc) of a generated mailbox of mailboxBytes, as the mail client
// keeps it, but without about leaveOutPerMille of the messages, as if the user had deleted them.
// Returns each message's state number in the index (0 unread .. 12 recovered), -1 for those left out.
std::vector<int> GenerateWindowsIndex(std::ostream& out, const std::vector<TGeneratedMessage>& messages,
                                      std::int64_t mailboxBytes, std::string_view mailboxName, int leaveOutPerMille,
                                      std::uint64_t seed);

// "1G", "100M", "64K", "4096" -> bytes (binary multiples). Throws std::invalid_argument.
std::int64_t ParseSize(const std::string& text);

}  // namespace quillmend::mailgen

#pragma once
// The message record: four header values and the three file offsets that locate a message in its
// mailbox. No other message text is ever kept; it is read again from the file through the offsets.

#include <cstdint>
#include <string>
#include <vector>

namespace quillmend {

struct TEmail {
  std::string From;              // header values as cut from the line: leading space kept, no CR LF
  std::string To;
  std::string Subject;
  std::string Date;
  std::int64_t StartOffset = 0;  // the "F" of the separator line
  std::int64_t BodyOffset = 0;   // CR of the blank line ending the header block; 0: never closed
  std::int64_t EndOffset = 0;    // one past the message's last byte

  friend bool operator==(const TEmail&, const TEmail&) = default;
};

// One mailbox's records, in the order their separator lines stand in the file.
using TEmailArray = std::vector<TEmail>;

}  // namespace quillmend

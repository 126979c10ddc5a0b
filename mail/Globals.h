#pragma once
// The message record: four header values and the three file offsets that locate a message in its
// mailbox. No other message text is ever kept; it is read again from the file through the offsets.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

enum class THeader : unsigned char { From, To, Subject, Date };

struct TEmail {
  TEmail() = default;
  TEmail(std::string_view from, std::string_view to, std::string_view subject, std::string_view date,
         std::int64_t start, std::int64_t body, std::int64_t end)
      : StartOffset(start), BodyOffset(body), EndOffset(end)
  {
    SetHeaders(from, to, subject, date);
  }

  // The header values as cut from their lines: leading space kept, no line end.
  std::string_view From() const { return Header(THeader::From); }
  std::string_view To() const { return Header(THeader::To); }
  std::string_view Subject() const { return Header(THeader::Subject); }
  std::string_view Date() const { return Header(THeader::Date); }
  std::string_view Header(THeader header) const;

  void SetHeader(THeader header, std::string_view value);
  void SetHeaders(std::string_view from, std::string_view to, std::string_view subject, std::string_view date);

  std::int64_t StartOffset = 0;  // the "F" of the separator line
  std::int64_t BodyOffset = 0;   // CR of the blank line ending the header block; 0: never closed
  std::int64_t EndOffset = 0;    // one past the message's last byte

  friend bool operator==(const TEmail&, const TEmail&) = default;

private:
  // The four values one after another, in one allocation: a mailbox holds hundreds of thousands of
  // records, and four strings each cost twice the memory and time.
  std::string FHeaders;
  std::uint32_t FEnds[4] = {};
};

// One mailbox's records, in the order their separator lines stand in the file.
using TEmailArray = std::vector<TEmail>;

}  // namespace quillmend

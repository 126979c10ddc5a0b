#pragma once
// Eudora messages found in the raw bytes of a disk, a partition or an image, wherever they stand:
// in live mailboxes, and in the clusters that a compaction or an emptied Trash freed without wiping.
//
// A message starts with a separator line ("From ???@??? " and the date the client writes there) at
// a line start or at a sector boundary, followed by a header line. It ends at the next separator
// line, or where its text stops: a byte that is no mail text (NUL, most controls), or a whole sector
// whose line ends are not the message's (another file's text); it ends after its last whole line.
// 8-bit letters, ISO-2022-JP escapes, tabs and form feeds are mail text. A message is complete when
// it ends at the next separator line, or where its text stops in the middle of a sector after a whole
// line (the rest of its file's last cluster); running up to a sector boundary, or into bytes that
// cannot be its own, it is cut: what followed may have been overwritten or lie elsewhere.

#include "base/progress.h"
#include "carve/source.h"
#include "mail/Globals.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quillmend {

// File systems allocate in sectors at least; freed mail starts at one.
constexpr std::int64_t kSectorSize = 512;
// Longer text than this after a separator line is not taken as one message: it keeps memory bounded
// on a disk of text, and no Eudora message (attachments live in files of their own) comes near it.
constexpr std::int64_t kMaxCarvedMessage = std::int64_t{128} << 20;

using TSha256Digest = std::array<std::uint8_t, 32>;

// One distinct message: the same bytes wherever they stand count once.
struct TCarvedMessage {
  TSha256Digest Sha256{};
  bool Complete = false;
  std::vector<std::int64_t> Copies;  // the offset of every copy on the source, ascending

  friend bool operator==(const TCarvedMessage&, const TCarvedMessage&) = default;
};

struct TCarveResult {
  // One record per distinct message, at its first copy, in the order of the source; Messages is
  // parallel to it.
  TEmailArray Emails;
  std::vector<TCarvedMessage> Messages;
  std::int64_t CopiesFound = 0;
};

// Reads the whole source once, in large sequential pieces on up to threads threads (0: one a core).
// Throws TFileError, TCancelled.
TCarveResult Carve(const TCarveSource& source, TProgressObserver* observer = nullptr, unsigned threads = 0);

// The length of the separator line at the start of text, its line end included; 0 when text does not
// start with one (or is too short to tell).
std::size_t SeparatorLineLength(std::string_view text);

}  // namespace quillmend

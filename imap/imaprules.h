#pragma once
// What an upload makes of a message and its folder on an IMAP server: the folder's name there, the
// flags the server keeps, and a header it refused made 7-bit. Free of any connection, so that tests
// hold these rules to account without a server.

#include "outputs/sink.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

// How the server lays out its folders, from NAMESPACE and LIST.
struct TServerFolders {
  char Separator = '/';                       // 0: a server without hierarchy
  std::string Personal;                       // the personal namespace's prefix, "" or "INBOX."
  std::map<TFolderUse, std::string> Special;  // the folders LIST marks \Sent, \Trash, \Junk
  std::string Refused;  // characters the server refused in a name (Dovecot's Maildir++: "."), as "_"
};

// The server's name of folder (modified UTF-7). Without a prefix, the Eudora In is INBOX and Out,
// Trash and Junk are the folders of those special uses where the server marks them; with one, the
// whole tree goes below it, nothing outside. A name holding the separator, or a character the
// server refused, has "_" in its place.
std::string ServerFolderName(const TServerFolders& server, const std::vector<std::string>& prefix,
                             const TFolderPath& folder);

// The names of the folders above name on the server, the top first: "A/B/C" -> "A", "A/B".
std::vector<std::string> ServerParents(const TServerFolders& server, const std::string& name);

// What a folder's PERMANENTFLAGS allow.
struct TPermanentFlags {
  bool Given = false;            // the server said; when not, every flag may be stored (RFC 3501)
  bool AnyKeyword = false;       // \*
  std::set<std::string> Listed;  // as the server spells them

  bool Allows(std::string_view flag) const;
};

struct TAppendFlags {
  std::vector<std::string> Flags;    // to APPEND with: system flags, then keywords
  std::vector<std::string> Dropped;  // the folder cannot keep them
};

// The flags of message as APPEND gives them: \Seen \Answered \Draft, $Forwarded and the keywords,
// each only where the folder keeps it.
TAppendFlags AppendFlags(const TOutgoingMessage& message, const TPermanentFlags& permanent);

// message with each header field that holds 8-bit bytes or NUL written as RFC 2047 encoded words
// (UTF-8 where the bytes are UTF-8, else Windows-1252, as Eudora wrote), NUL left out; none when
// its header has nothing of the kind.
std::optional<std::string> SevenBitHeader(std::string_view message);

// One message's part of an APPEND that carries many (MULTIAPPEND, RFC 3502) with its literal sent at
// once (LITERAL+): " (flags) \"14-Mar-2001 08:26:53 +0000\" {size+}\r\n", the bytes to follow. The
// received time in UTC; none leaves the date to the server.
std::string AppendItemHead(const std::vector<std::string>& flags, std::optional<std::int64_t> received,
                           std::size_t size);

// Whether messages waiting to go up in one APPEND are to go now: a batch bounded in count and bytes
// keeps the server's memory and a retry after a cut connection small.
inline constexpr std::size_t kBatchMessages = 64;
inline constexpr std::size_t kBatchBytes = std::size_t{8} << 20;
inline bool BatchFull(std::size_t messages, std::size_t bytes)
{
  return messages >= kBatchMessages || bytes >= kBatchBytes;
}

// The value of field in the header block header ("" when absent), unfolded and trimmed.
std::string HeaderValue(std::string_view header, std::string_view field);

}  // namespace quillmend

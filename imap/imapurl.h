#pragma once
// Where an IMAP upload goes, as the user names it: imaps://USER@HOST[:PORT][/PREFIX] or imap://...

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

enum class TImapSecurity : std::uint8_t {
  Tls,       // imaps://, TLS from the first byte
  StartTls,  // imap://, upgraded with STARTTLS when the server offers it
};

struct TImapAccount {
  TImapSecurity Security = TImapSecurity::Tls;
  std::string Host;  // a name or an address; IPv6 without its brackets
  std::uint16_t Port = 993;
  std::string User;
  std::vector<std::string> Prefix;  // folders under which everything goes, UTF-8

  bool operator==(const TImapAccount&) const = default;
};

class TImapUrlError : public std::invalid_argument {
public:
  using std::invalid_argument::invalid_argument;
};

// Reads url; %XX escapes stand for bytes (a user name "me@example.org" may be written me%40example.org,
// or as it is: the last "@" ends the user name). Throws TImapUrlError saying what is wrong.
TImapAccount ParseImapUrl(std::string_view url);

// The account as a URL again, for messages; never holds a password.
std::string ImapUrlText(const TImapAccount& account);

// Whether host is this machine itself (localhost, 127.0.0.0/8, ::1): the only place a password may
// go without TLS unless the user allows it.
bool IsLoopback(std::string_view host);

}  // namespace quillmend

#include "imap/imapurl.h"

#include <charconv>

namespace quillmend {

namespace {

std::string Decoded(std::string_view text, const char* what)
{
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    unsigned value = 0;
    const char* first = text.data() + i + 1;
    if (i + 2 >= text.size() || std::from_chars(first, first + 2, value, 16).ptr != first + 2)
      throw TImapUrlError(std::string("a % in the ") + what + " must be followed by two hexadecimal digits");
    out += static_cast<char>(value);
    i += 2;
  }
  return out;
}

}  // namespace

TImapAccount ParseImapUrl(std::string_view url)
{
  TImapAccount account;
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos)
    throw TImapUrlError("an IMAP account is written imaps://USER@HOST[:PORT][/FOLDER] or imap://...");
  const std::string_view name = url.substr(0, scheme);
  if (name == "imaps") {
    account.Security = TImapSecurity::Tls;
    account.Port = 993;
  } else if (name == "imap") {
    account.Security = TImapSecurity::StartTls;
    account.Port = 143;
  } else {
    throw TImapUrlError("\"" + std::string(name) + "://\" is no IMAP address: use imaps:// or imap://");
  }
  std::string_view rest = url.substr(scheme + 3);
  if (rest.find_first_of("?#") != std::string_view::npos)
    throw TImapUrlError("an IMAP account takes no ? or # part");
  const std::size_t slash = rest.find('/');
  const std::string_view authority = rest.substr(0, slash);
  const std::string_view path = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);

  const std::size_t at = authority.rfind('@');
  if (at == std::string_view::npos || at == 0)
    throw TImapUrlError("the IMAP address names no user: imaps://USER@HOST");
  const std::string_view userInfo = authority.substr(0, at);
  if (userInfo.find(':') != std::string_view::npos)
    throw TImapUrlError("a password does not belong in the address: it is asked for, or taken from "
                        "QUILLMEND_IMAP_PASSWORD");
  account.User = Decoded(userInfo, "user name");

  std::string_view hostPort = authority.substr(at + 1);
  std::string_view port;
  if (hostPort.starts_with('[')) {
    const std::size_t close = hostPort.find(']');
    if (close == std::string_view::npos)
      throw TImapUrlError("an IPv6 address in brackets lacks its ]");
    account.Host = std::string(hostPort.substr(1, close - 1));
    const std::string_view after = hostPort.substr(close + 1);
    if (!after.empty() && !after.starts_with(':'))
      throw TImapUrlError("only :PORT may follow the server's address");
    port = after.empty() ? after : after.substr(1);
    if (after == ":")
      throw TImapUrlError("the port after \":\" is missing");
  } else {
    const std::size_t colon = hostPort.rfind(':');
    account.Host = std::string(hostPort.substr(0, colon));
    if (colon != std::string_view::npos) {
      port = hostPort.substr(colon + 1);
      if (port.empty())
        throw TImapUrlError("the port after \":\" is missing");
    }
  }
  if (account.Host.empty())
    throw TImapUrlError("the IMAP address names no server");
  if (!port.empty()) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (error != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535)
      throw TImapUrlError("the port must be a number from 1 to 65535, not \"" + std::string(port) + "\"");
    account.Port = static_cast<std::uint16_t>(value);
  }
  for (std::size_t start = 0; start < path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    if (end > start)
      account.Prefix.push_back(Decoded(path.substr(start, end - start), "folder"));
    start = end + 1;
  }
  return account;
}

std::string ImapUrlText(const TImapAccount& account)
{
  std::string text = account.Security == TImapSecurity::Tls ? "imaps://" : "imap://";
  text += account.User + "@";
  text += account.Host.find(':') != std::string::npos ? "[" + account.Host + "]" : account.Host;
  if (account.Port != (account.Security == TImapSecurity::Tls ? 993 : 143)) {
    text += ':';
    text += std::to_string(account.Port);
  }
  for (const std::string& folder : account.Prefix)
    text += "/" + folder;
  return text;
}

bool IsLoopback(std::string_view host)
{
  if (host == "localhost" || host == "::1" || host == "0:0:0:0:0:0:0:1")
    return true;
  // 127.0.0.0/8, written as four numbers.
  if (!host.starts_with("127."))
    return false;
  int parts = 0;
  for (std::size_t start = 0; start <= host.size(); ++parts) {
    const std::size_t end = std::min(host.find('.', start), host.size());
    unsigned value = 0;
    const auto [ptr, error] = std::from_chars(host.data() + start, host.data() + end, value);
    if (end == start || error != std::errc() || ptr != host.data() + end || value > 255)
      return false;
    start = end + 1;
  }
  return parts == 4;
}

}  // namespace quillmend

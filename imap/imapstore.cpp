#include "imap/imapstore.h"

#include "base/ascii.h"
#include "imap/imaprules.h"

#include <libetpan/libetpan.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <thread>
#include <utility>

namespace quillmend {

namespace {

// A tagged NO or BAD: the server refused the command. Anything else that fails is the connection.
bool Refused(int code)
{
  switch (code) {
  case MAILIMAP_NO_ERROR:
  case MAILIMAP_NO_ERROR_AUTHENTICATED:
  case MAILIMAP_NO_ERROR_NON_AUTHENTICATED:
  case MAILIMAP_ERROR_STREAM:
  case MAILIMAP_ERROR_PARSE:
  case MAILIMAP_ERROR_CONNECTION_REFUSED:
  case MAILIMAP_ERROR_MEMORY:
  case MAILIMAP_ERROR_BAD_STATE:
  case MAILIMAP_ERROR_SSL:
  case MAILIMAP_ERROR_FATAL: return false;
  default: return true;
  }
}

bool Ok(int code)
{
  return code == MAILIMAP_NO_ERROR || code == MAILIMAP_NO_ERROR_AUTHENTICATED ||
         code == MAILIMAP_NO_ERROR_NON_AUTHENTICATED;
}

// The connection went (or never came): pause, connect again, go on.
struct TLost {
  std::string Why;
};

// Response codes of a server that is busy or rationing (RFC 5530 and the large providers).
bool Throttled(const std::string& code)
{
  for (const char* busy : {"OVERQUOTA", "UNAVAILABLE", "INUSE", "THROTTLED", "LIMIT"})
    if (EqualNoCase(code, busy))
      return true;
  return false;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// What stdout of command says, its last line break dropped; the command runs through the shell, as
// a mail client's "passwordeval" does.
std::string RunForToken(const std::string& command)
{
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe)
    throw TImapError("Cannot run the OAuth2 token command: " + std::string(std::strerror(errno)));
  std::string out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, n);
  const int status = pclose(pipe);
  if (status != 0)
    throw TImapError("The OAuth2 token command failed (exit status " +
                     std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : status) + ")");
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
    out.pop_back();
  if (out.empty())
    throw TImapError("The OAuth2 token command printed no token");
  return out;
}

void SetServerName(mailstream_ssl_context* context, void* host)
{
  mailstream_ssl_set_server_name(context, static_cast<char*>(host));
}

}  // namespace

// One logged-in session with the server. libetpan's TLS (GnuTLS in Debian) checks no certificate, so
// the chain is checked here with OpenSSL after the handshake and before any credential goes out.
class TImapStore::TConnection {
public:
  explicit TConnection(const TImapSettings& settings) : FSettings(settings)
  {
    FImap = mailimap_new(0, nullptr);
    if (!FImap)
      throw TImapError("Out of memory");
    mailimap_set_timeout(FImap, FSettings.TimeoutSeconds);
    try {
      Connect();
    } catch (...) {
      mailimap_free(FImap);
      throw;
    }
  }
  ~TConnection()
  {
    if (FLoggedIn && !FBroken)
      mailimap_logout(FImap);
    mailimap_free(FImap);
  }
  TConnection(const TConnection&) = delete;
  TConnection& operator=(const TConnection&) = delete;

  mailimap* Imap() { return FImap; }
  TServerFolders& Layout() { return FFolders; }
  const std::set<std::string>& Existing() const { return FExisting; }
  std::uint64_t AppendLimit() const { return FAppendLimit; }

  // The server's last words: "[CODE] text".
  std::string Said() const
  {
    std::string text = FImap->imap_response ? FImap->imap_response : "";
    if (const std::string code = Code(); !code.empty())
      text = "[" + code + "] " + text;
    return text.empty() ? "no answer" : text;
  }
  std::string Code() const
  {
    return FImap->imap_response_info && FImap->imap_response_info->rsp_atom ? FImap->imap_response_info->rsp_atom : "";
  }

  // code, from a command that must not fail: TLost unless the server refused it.
  void Check(int code, const char* what)
  {
    if (Ok(code))
      return;
    if (!Refused(code)) {
      FBroken = true;
      throw TLost{std::string(what) + ": " + Said()};
    }
    throw TImapError(std::string(what) + " refused by the server: " + Said());
  }
  void Lost(const std::string& what)
  {
    FBroken = true;
    throw TLost{what + ": " + Said()};
  }

  // SELECT name: its PERMANENTFLAGS, UIDVALIDITY and count.
  void Select(const std::string& name, TPermanentFlags& permanent, std::uint32_t& exists)
  {
    Check(mailimap_select(FImap, name.c_str()), ("SELECT " + Quoted(name)).c_str());
    const mailimap_selection_info* info = FImap->imap_selection_info;
    permanent = {};
    exists = info ? info->sel_exists : 0;
    if (!info || !info->sel_perm_flags)
      return;
    permanent.Given = true;
    for (clistiter* it = clist_begin(info->sel_perm_flags); it; it = clist_next(it)) {
      const auto* perm = static_cast<mailimap_flag_perm*>(clist_content(it));
      if (perm->fl_type == MAILIMAP_FLAG_PERM_ALL) {
        permanent.AnyKeyword = true;
        continue;
      }
      switch (perm->fl_flag->fl_type) {
      case MAILIMAP_FLAG_ANSWERED: permanent.Listed.insert("\\Answered"); break;
      case MAILIMAP_FLAG_FLAGGED: permanent.Listed.insert("\\Flagged"); break;
      case MAILIMAP_FLAG_DELETED: permanent.Listed.insert("\\Deleted"); break;
      case MAILIMAP_FLAG_SEEN: permanent.Listed.insert("\\Seen"); break;
      case MAILIMAP_FLAG_DRAFT: permanent.Listed.insert("\\Draft"); break;
      case MAILIMAP_FLAG_KEYWORD: permanent.Listed.insert(perm->fl_flag->fl_data.fl_keyword); break;
      case MAILIMAP_FLAG_EXTENSION:
        permanent.Listed.insert(std::string("\\") + perm->fl_flag->fl_data.fl_extension);
        break;
      }
    }
  }

  // EXAMINE name: how many messages it holds, the folder left as it is.
  void Examine(const std::string& name, std::uint32_t& exists)
  {
    Check(mailimap_examine(FImap, name.c_str()), ("EXAMINE " + Quoted(name)).c_str());
    exists = FImap->imap_selection_info ? FImap->imap_selection_info->sel_exists : 0;
  }

  // The Ids of the messages of the selected folder, in one UID FETCH.
  std::set<std::string> Ids()
  {
    std::set<std::string> ids;
    clist* names = clist_new();
    clist_append(names, strdup(kIdField));
    mailimap_fetch_type* type = mailimap_fetch_type_new_fetch_att_list_empty();
    mailimap_fetch_type_new_fetch_att_list_add(
        type,
        mailimap_fetch_att_new_body_peek_section(mailimap_section_new_header_fields(mailimap_header_list_new(names))));
    mailimap_set* all = mailimap_set_new_interval(1, 0);
    clist* result = nullptr;
    const int code = mailimap_uid_fetch(FImap, all, type, &result);
    mailimap_set_free(all);
    mailimap_fetch_type_free(type);
    if (!Ok(code)) {
      if (result)
        mailimap_fetch_list_free(result);
      Check(code, "UID FETCH");
    }
    for (clistiter* it = result ? clist_begin(result) : nullptr; it; it = clist_next(it)) {
      const auto* message = static_cast<mailimap_msg_att*>(clist_content(it));
      for (clistiter* a = clist_begin(message->att_list); a; a = clist_next(a)) {
        const auto* item = static_cast<mailimap_msg_att_item*>(clist_content(a));
        if (item->att_type != MAILIMAP_MSG_ATT_ITEM_STATIC ||
            item->att_data.att_static->att_type != MAILIMAP_MSG_ATT_BODY_SECTION)
          continue;
        const mailimap_msg_att_body_section* section = item->att_data.att_static->att_data.att_body_section;
        if (section->sec_body_part)
          if (std::string id = HeaderValue(std::string_view(section->sec_body_part, section->sec_length), kIdField);
              !id.empty())
            ids.insert(std::move(id));
      }
    }
    if (result)
      mailimap_fetch_list_free(result);
    return ids;
  }

  // Many messages to one APPEND, each literal sent without waiting for the server's go-ahead.
  bool Batching() const
  {
    return mailimap_has_extension(FImap, const_cast<char*>("MULTIAPPEND")) &&
           mailimap_has_extension(FImap, const_cast<char*>("LITERAL+"));
  }

  // One APPEND of every message of batch into name; libetpan has no call for it, so it is written
  // with its own tag and read back with its response parser. The code as libetpan's calls give it.
  int MultiAppend(const std::string& name, const std::vector<TPending>& batch)
  {
    int code = mailimap_send_current_tag(FImap);
    if (!Ok(code))
      return code;
    std::string command = "APPEND \"";
    for (const char c : name)
      command += c == '"' || c == '\\' ? std::string{'\\', c} : std::string{c};
    command += '"';
    const auto write = [&](const std::string& text) {
      return mailstream_write(FImap->imap_stream, text.data(), text.size()) >= 0;
    };
    for (const TPending& pending : batch) {
      command += AppendItemHead(pending.Flags, pending.Message.Received, pending.Bytes.size());
      if (!write(command) || !write(pending.Bytes))
        return MAILIMAP_ERROR_STREAM;
      command.clear();
    }
    if (!write("\r\n") || mailstream_flush(FImap->imap_stream) == -1 || !mailimap_read_line(FImap))
      return MAILIMAP_ERROR_STREAM;
    mailimap_response* response = nullptr;
    code = mailimap_parse_response(FImap, &response);
    if (!Ok(code))
      return code;
    const bool stored =
        response->rsp_resp_done && response->rsp_resp_done->rsp_type == MAILIMAP_RESP_DONE_TYPE_TAGGED &&
        response->rsp_resp_done->rsp_data.rsp_tagged->rsp_cond_state->rsp_type == MAILIMAP_RESP_COND_STATE_OK;
    mailimap_response_free(response);
    return stored ? MAILIMAP_NO_ERROR : MAILIMAP_ERROR_APPEND;
  }

  // Makes name when the server lacks it; ALREADYEXISTS is no failure.
  void Create(const std::string& name)
  {
    if (FExisting.count(name))
      return;
    const int code = mailimap_create(FImap, name.c_str());
    if (!Ok(code) && !(Refused(code) && EqualNoCase(Code(), "ALREADYEXISTS")))
      Check(code, ("CREATE " + Quoted(name)).c_str());
    // A client shows the folders subscribed to; the answer does not matter.
    mailimap_subscribe(FImap, name.c_str());
    FExisting.insert(name);
  }

private:
  void Connect()
  {
    const TImapAccount& account = FSettings.Account;
    FHost = account.Host;
    int code;
    bool tls = account.Security == TImapSecurity::Tls;
    if (tls) {
      code = mailimap_ssl_connect_with_callback(FImap, account.Host.c_str(), account.Port, SetServerName, FHost.data());
      if (!Ok(code))
        throw TLost{"Cannot connect with TLS to " + account.Host + ":" + std::to_string(account.Port)};
      Verify();
    } else {
      code = mailimap_socket_connect(FImap, account.Host.c_str(), account.Port);
      if (!Ok(code))
        throw TLost{"Cannot connect to " + account.Host + ":" + std::to_string(account.Port)};
      Capabilities();
      if (mailimap_has_extension(FImap, const_cast<char*>("STARTTLS"))) {
        code = mailimap_socket_starttls_with_callback(FImap, SetServerName, FHost.data());
        if (!Ok(code))
          throw TImapError("STARTTLS with " + account.Host + " failed: " + Said());
        Verify();
        tls = true;
      } else if (!IsLoopback(account.Host) && !FSettings.AllowPlaintext) {
        throw TImapError(account.Host + " offers no STARTTLS: the password would go unencrypted. Use imaps://, "
                                        "or --allow-plaintext on a network you trust");
      }
    }
    // What a server says before TLS may have been changed on the way: ask again.
    Capabilities();
    Login();
    Capabilities();
    FLoggedIn = true;
    ReadLayout();
  }

  void Capabilities()
  {
    mailimap_capability_data* data = nullptr;
    const int code = mailimap_capability(FImap, &data);
    if (data)
      mailimap_capability_data_free(data);
    Check(code, "CAPABILITY");
    FAppendLimit = 0;
    const mailimap_capability_data* caps =
        FImap->imap_connection_info ? FImap->imap_connection_info->imap_capability : nullptr;
    for (clistiter* it = caps ? clist_begin(caps->cap_list) : nullptr; it; it = clist_next(it)) {
      const auto* cap = static_cast<struct mailimap_capability*>(clist_content(it));
      if (cap->cap_type == MAILIMAP_CAPABILITY_NAME && StartsNoCase(cap->cap_data.cap_name, "APPENDLIMIT="))
        FAppendLimit = std::strtoull(cap->cap_data.cap_name + 12, nullptr, 10);
    }
  }

  void Verify()
  {
    carray* chain = mailstream_get_certificate_chain(FImap->imap_stream);  // DER, the server's first
    X509* leaf = nullptr;
    STACK_OF(X509)* untrusted = sk_X509_new_null();
    for (unsigned i = 0; chain && i < carray_count(chain); ++i) {
      const auto* der = static_cast<MMAPString*>(carray_get(chain, i));
      const auto* bytes = reinterpret_cast<const unsigned char*>(der->str);
      if (X509* certificate = d2i_X509(nullptr, &bytes, static_cast<long>(der->len)))
        leaf ? static_cast<void>(sk_X509_push(untrusted, certificate)) : static_cast<void>(leaf = certificate);
    }
    if (chain)
      mailstream_certificate_chain_free(chain);
    X509_STORE* store = X509_STORE_new();
    X509_STORE_CTX* context = X509_STORE_CTX_new();
    std::string why;
    const std::string ca = FSettings.CaFile.string();
    if (!leaf) {
      why = "it sent no certificate";
    } else if ((ca.empty() ? X509_STORE_set_default_paths(store) : X509_STORE_load_file(store, ca.c_str())) != 1) {
      why = ca.empty() ? "the system's certificates cannot be read" : "cannot read the certificates in \"" + ca + "\"";
    } else if (X509_STORE_CTX_init(context, store, leaf, untrusted) != 1) {
      why = "OpenSSL cannot check it";
    } else {
      X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context);
      X509_VERIFY_PARAM_set_purpose(param, X509_PURPOSE_SSL_SERVER);
      unsigned char address[16];
      if (inet_pton(AF_INET, FHost.c_str(), address) == 1 || inet_pton(AF_INET6, FHost.c_str(), address) == 1) {
        X509_VERIFY_PARAM_set1_ip_asc(param, FHost.c_str());
      } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, FHost.c_str(), 0);
      }
      if (X509_verify_cert(context) != 1)
        why = X509_verify_cert_error_string(X509_STORE_CTX_get_error(context));
    }
    X509_STORE_CTX_free(context);
    X509_STORE_free(store);
    X509_free(leaf);
    sk_X509_pop_free(untrusted, X509_free);
    if (!why.empty())
      throw TImapError("The certificate of " + FHost + " is not trusted: " + why + "; nothing was sent to it");
  }

  void Login()
  {
    const TImapAccount& account = FSettings.Account;
    int code;
    if (!FSettings.OAuth2TokenCommand.empty()) {
      // A token lasts an hour or so: a new one at each login, and one more when the server refuses.
      code =
          mailimap_oauth2_authenticate(FImap, account.User.c_str(), RunForToken(FSettings.OAuth2TokenCommand).c_str());
      if (Refused(code))
        code = mailimap_oauth2_authenticate(FImap, account.User.c_str(),
                                            RunForToken(FSettings.OAuth2TokenCommand).c_str());
    } else if (mailimap_has_extension(FImap, const_cast<char*>("LOGINDISABLED"))) {
      code = mailimap_authenticate(FImap, "PLAIN", account.Host.c_str(), nullptr, nullptr, account.User.c_str(),
                                   account.User.c_str(), FSettings.Password.c_str(), nullptr);
    } else {
      code = mailimap_login(FImap, account.User.c_str(), FSettings.Password.c_str());
    }
    if (Refused(code))
      throw TImapError("The server " + account.Host + " refused the login of " + account.User + ": " + Said());
    Check(code, "LOGIN");
  }

  // NAMESPACE, the separator, the existing folders and those of special use.
  void ReadLayout()
  {
    if (mailimap_has_namespace(FImap)) {
      mailimap_namespace_data* data = nullptr;
      if (Ok(mailimap_namespace(FImap, &data)) && data) {
        if (data->ns_personal && clist_begin(data->ns_personal->ns_data_list)) {
          const auto* info =
              static_cast<mailimap_namespace_info*>(clist_content(clist_begin(data->ns_personal->ns_data_list)));
          FFolders.Personal = info->ns_prefix ? info->ns_prefix : "";
          FFolders.Separator = info->ns_delimiter;
        }
        mailimap_namespace_data_free(data);
      }
    }
    clist* list = nullptr;
    const int code = mailimap_list(FImap, "", "*", &list);
    if (!Ok(code)) {
      if (list)
        mailimap_list_result_free(list);
      Check(code, "LIST");
    }
    for (clistiter* it = list ? clist_begin(list) : nullptr; it; it = clist_next(it)) {
      const auto* box = static_cast<mailimap_mailbox_list*>(clist_content(it));
      const std::string name = box->mb_name;
      bool selectable = true;
      if (box->mb_flag) {
        if (box->mb_flag->mbf_type == MAILIMAP_MBX_LIST_FLAGS_SFLAG &&
            box->mb_flag->mbf_sflag == MAILIMAP_MBX_LIST_SFLAG_NOSELECT)
          selectable = false;
        for (clistiter* o = clist_begin(box->mb_flag->mbf_oflags); o; o = clist_next(o)) {
          const auto* flag = static_cast<mailimap_mbx_list_oflag*>(clist_content(o));
          if (flag->of_type != MAILIMAP_MBX_LIST_OFLAG_FLAG_EXT)
            continue;
          for (const auto& [attribute, use] :
               {std::pair{"Sent", TFolderUse::Sent}, std::pair{"Trash", TFolderUse::Trash},
                std::pair{"Junk", TFolderUse::Junk}})
            if (EqualNoCase(flag->of_flag_ext, attribute) && !FFolders.Special.count(use))
              FFolders.Special[use] = name;
          if (EqualNoCase(flag->of_flag_ext, "NonExistent"))
            selectable = false;
        }
      }
      if (selectable)
        FExisting.insert(name);
      if (FFolders.Personal.empty() && !mailimap_has_namespace(FImap) && box->mb_delimiter)
        FFolders.Separator = box->mb_delimiter;
    }
    if (list)
      mailimap_list_result_free(list);
  }

  const TImapSettings& FSettings;
  mailimap* FImap = nullptr;
  std::string FHost;
  TServerFolders FFolders;
  std::set<std::string> FExisting;
  std::uint64_t FAppendLimit = 0;
  bool FLoggedIn = false;
  bool FBroken = false;
};

// One folder of the server, open for appending.
class TImapStore::TFolderSink : public TMessageSink {
public:
  TFolderSink(TImapStore& store, std::string name, std::set<std::string> ids, TPermanentFlags permanent)
      : FStore(store), FName(std::move(name)), FIds(std::move(ids)), FPermanent(std::move(permanent))
  {
  }

  bool Add(const TOutgoingMessage& message, const TMessageWriter& write) override
  {
    std::string bytes;
    try {
      write([&](std::string_view piece) { bytes.append(piece); });
    } catch (const TFileError& e) {
      FReport.Failed.push_back({message.Name, e.what()});
      return true;
    }
    if (!message.Id.empty() && FIds.count(message.Id)) {
      ++FReport.Present;
      return true;
    }
    TAppendFlags flags = AppendFlags(message, FPermanent);
    if (!flags.Dropped.empty() && FStore.FToldDropped.insert(FName).second)
      FStore.Say("the folder " + Quoted(FName) + " on the server cannot keep these flags; left out: " +
                 Joined(flags.Dropped) + " (and so for the rest of this folder)");
    if (FStore.Queue(*this, message, bytes, flags.Flags))
      return true;
    const std::string result = FStore.Append(*this, message, bytes, flags.Flags);
    if (!result.empty()) {
      FReport.Failed.push_back({message.Name, result});
      return true;
    }
    ++FReport.Written;
    FIds.insert(message.Id);
    return true;
  }

  TExportReport Commit() override
  {
    if (FStore.FBatchFolder == this)
      FStore.Flush();
    return std::exchange(FReport, {});
  }

  TImapStore& FStore;
  std::string FName;
  std::set<std::string> FIds;
  TPermanentFlags FPermanent;
  TExportReport FReport;

private:
  static std::string Joined(const std::vector<std::string>& names)
  {
    std::string text;
    for (const std::string& name : names)
      text += (text.empty() ? "" : " ") + name;
    return text;
  }
};

TImapStore::TImapStore(TImapSettings settings) : TMailStore({}, 0), FSettings(std::move(settings))
{
  // A write to a connection the server closed must be an error to handle, not the end of the process.
  std::signal(SIGPIPE, SIG_IGN);
  for (int attempt = 1;; ++attempt) {
    try {
      FConnection = std::make_unique<TConnection>(FSettings);
      FLayout = FConnection->Layout();
      return;
    } catch (const TLost& lost) {
      // A server that cannot be reached at the start is most likely named wrongly: no long waits.
      if (attempt >= 2)
        throw TImapError(lost.Why);
      Pause(lost.Why, 1);
    }
  }
}

TImapStore::~TImapStore()
{
  // What was not committed is not reported, as with any store.
  FBatch.clear();
  FBatchFolder = nullptr;
  if (FBatches)
    Say(std::to_string(FBatched) + " messages went up in " + std::to_string(FBatches) +
        " APPEND commands of many (MULTIAPPEND)");
}

void TImapStore::Say(const std::string& text) const
{
  if (FSettings.Say)
    FSettings.Say(text);
}

// Waits before try attempt + 1: the first pause, doubled each time. False when cancelled.
bool TImapStore::Pause(const std::string& why, int attempt)
{
  const auto pause = FSettings.FirstPause * (1 << std::min(attempt - 1, 10));
  Say(why + "; trying again in " + std::to_string((pause.count() + 999) / 1000) + " s");
  const auto until = std::chrono::steady_clock::now() + pause;
  while (std::chrono::steady_clock::now() < until) {
    if (FSettings.Cancelled && FSettings.Cancelled())
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

TImapStore::TConnection& TImapStore::Connection()
{
  if (!FConnection)
    FConnection = std::make_unique<TConnection>(FSettings);
  FLayout = FConnection->Layout();
  return *FConnection;
}

std::string TImapStore::Place(const TFolderPath& folder) const
{
  TServerFolders layout = FLayout;
  layout.Refused = FRefused;
  return ServerFolderName(layout, FSettings.Account.Prefix, folder);
}

std::set<std::string> TImapStore::IdsIn(const TFolderPath& folder) const
{
  // Looking costs the server a round trip but changes nothing there: the store's state is the
  // connection's alone.
  auto& self = const_cast<TImapStore&>(*this);
  const std::string name = Place(folder);
  try {
    return self.Retrying<std::set<std::string>>([&](TConnection& connection) {
      if (!connection.Existing().count(name) && !EqualNoCase(name, "INBOX"))
        return std::set<std::string>();
      std::uint32_t exists = 0;
      connection.Examine(name, exists);
      return exists ? connection.Ids() : std::set<std::string>();
    });
  } catch (const TFileError&) {
    return {};
  }
}

template <typename T>
T TImapStore::Retrying(const std::function<T(TConnection&)>& work)
{
  if (FGone)
    throw TFileError("not sent: the connection to the server is lost");
  for (int attempt = 1;; ++attempt) {
    try {
      return work(Connection());
    } catch (const TLost& lost) {
      FConnection.reset();
      if (attempt >= FSettings.Attempts || !Pause(lost.Why, attempt)) {
        FGone = true;
        throw TFileError("not sent: " + lost.Why);
      }
    }
  }
}

TMailStore::TOpenFolder TImapStore::Open(const TFolderPath& folder)
{
  auto sink = Retrying<std::unique_ptr<TFolderSink>>([&](TConnection& connection) {
    TServerFolders layout = connection.Layout();
    layout.Refused = FRefused;
    std::string name = ServerFolderName(layout, FSettings.Account.Prefix, folder);
    const auto make = [&] {
      for (const std::string& parent : ServerParents(layout, name))
        if (!EqualNoCase(parent, "INBOX"))
          connection.Create(parent);
      if (!EqualNoCase(name, "INBOX"))
        connection.Create(name);
    };
    // Maildir++ keeps "." for its levels; other servers refuse other marks. Each such mark in the
    // name, one at a time, becomes "_", here and in every later name, so that a rerun finds the same
    // folders.
    for (std::string_view candidates = "./\\%*~&";;) {
      try {
        make();
        break;
      } catch (const TImapError&) {
        const auto holds = [&](char c) {
          return std::any_of(folder.begin(), folder.end(),
                             [&](const TFolderName& segment) { return segment.Name.find(c) != std::string::npos; });
        };
        while (!candidates.empty() &&
               (FRefused.find(candidates.front()) != std::string::npos || !holds(candidates.front())))
          candidates.remove_prefix(1);
        if (candidates.empty())
          throw;
        FRefused += candidates.front();
        layout.Refused = FRefused;
        const std::string plain = ServerFolderName(layout, FSettings.Account.Prefix, folder);
        Say("the server refuses the folder name " + Quoted(name) + "; trying " + Quoted(plain) + ", and \"_\" for \"" +
            candidates.front() + "\" in every other name");
        name = plain;
      }
    }
    TPermanentFlags permanent;
    std::uint32_t exists = 0;
    connection.Select(name, permanent, exists);
    return std::make_unique<TFolderSink>(*this, name, exists ? connection.Ids() : std::set<std::string>(), permanent);
  });
  TOpenFolder open;
  open.Ids = sink->FIds;
  open.Sink = std::move(sink);
  return open;
}

std::string TImapStore::Append(TFolderSink& folder, const TOutgoingMessage& message, std::string& bytes,
                               const std::vector<std::string>& flags)
{
  if (const std::uint64_t limit = FConnection ? FConnection->AppendLimit() : 0; limit && bytes.size() > limit)
    return "skipped: " + std::to_string(bytes.size()) + " bytes, over the server's limit of " + std::to_string(limit);
  bool inFlight = false;  // sent once without an answer: the server may hold it
  bool encoded = false;
  int refusals = 0;
  try {
    return Retrying<std::string>([&](TConnection& connection) -> std::string {
      for (;;) {
        if (inFlight) {
          TPermanentFlags permanent;
          std::uint32_t exists = 0;
          connection.Select(folder.FName, permanent, exists);
          folder.FIds = exists ? connection.Ids() : std::set<std::string>();
          if (folder.FIds.count(message.Id))
            return {};
        }
        mailimap_flag_list* list = mailimap_flag_list_new_empty();
        for (const std::string& flag : flags) {
          mailimap_flag* made = flag == "\\Seen"       ? mailimap_flag_new_seen()
                                : flag == "\\Answered" ? mailimap_flag_new_answered()
                                : flag == "\\Draft"    ? mailimap_flag_new_draft()
                                                       : mailimap_flag_new_flag_keyword(strdup(flag.c_str()));
          mailimap_flag_list_add(list, made);
        }
        // The received time in UTC: a server shows it in its own zone either way.
        mailimap_date_time* date = nullptr;
        if (message.Received) {
          const std::time_t when = static_cast<std::time_t>(*message.Received);
          std::tm utc{};
          gmtime_r(&when, &utc);
          date = mailimap_date_time_new(utc.tm_mday, utc.tm_mon + 1, utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                                        utc.tm_sec, 0);
        }
        std::uint32_t validity = 0, uid = 0;
        inFlight = true;
        const int code = mailimap_uidplus_append(connection.Imap(), folder.FName.c_str(), list, date, bytes.data(),
                                                 bytes.size(), &validity, &uid);
        mailimap_flag_list_free(list);
        if (date)
          mailimap_date_time_free(date);
        if (Ok(code))
          return {};
        if (!Refused(code))
          connection.Lost("APPEND");
        inFlight = false;  // a NO or BAD stores nothing
        const std::string said = connection.Said();
        const std::string reply = connection.Code();
        const bool rationed = Throttled(reply) || EqualNoCase(reply, "TOOBIG");
        if (!encoded && !rationed) {
          if (std::optional<std::string> sevenBit = SevenBitHeader(bytes)) {
            encoded = true;
            Say(message.Name + ": the server refused its header (" + said +
                "); sent again with its 8-bit bytes encoded and NUL bytes left out");
            bytes = std::move(*sevenBit);
            continue;
          }
        }
        // The server is rationing: a pause, then the same message once more.
        // [LIMIT] is as often a limit of this one message (Dovecot's size limit) as a rationing: once more only.
        const int most = EqualNoCase(reply, "LIMIT") ? 2 : std::max(2, FSettings.Attempts / 2);
        if (Throttled(reply) && ++refusals < most && Pause(message.Name + ": " + said, refusals))
          continue;
        return "skipped, refused by the server: " + said;
      }
    });
  } catch (const TFileError& e) {
    return e.what();
  }
}

bool TImapStore::Queue(TFolderSink& folder, const TOutgoingMessage& message, std::string& bytes,
                       const std::vector<std::string>& flags)
{
  if (FGone || !FConnection || !FConnection->Batching())
    return false;
  // One over the server's limit is skipped by the single APPEND, which says so.
  if (const std::uint64_t limit = FConnection->AppendLimit(); limit && bytes.size() > limit)
    return false;
  if (FBatchFolder && FBatchFolder != &folder)
    Flush();
  FBatchFolder = &folder;
  FBatchBytes += bytes.size();
  FBatch.push_back({message, std::move(bytes), flags});
  if (BatchFull(FBatch.size(), FBatchBytes))
    Flush();
  return true;
}

void TImapStore::Flush()
{
  if (!FBatchFolder)
    return;
  TFolderSink& folder = *FBatchFolder;
  std::vector<TPending> batch = std::exchange(FBatch, {});
  FBatchFolder = nullptr;
  FBatchBytes = 0;
  const auto stored = [&](const TPending& pending) {
    ++folder.FReport.Written;
    folder.FIds.insert(pending.Message.Id);
  };
  bool inFlight = false;  // sent once without an answer: the server holds all of it or none
  int cuts = 0;
  bool singly = false;
  std::size_t sent = 0;
  try {
    Retrying<int>([&](TConnection& connection) {
      if (inFlight) {
        TPermanentFlags permanent;
        std::uint32_t exists = 0;
        connection.Select(folder.FName, permanent, exists);
        folder.FIds = exists ? connection.Ids() : std::set<std::string>();
        std::erase_if(batch, [&](const TPending& pending) {
          if (!folder.FIds.count(pending.Message.Id))
            return false;
          stored(pending);
          return true;
        });
        inFlight = false;
        // Cut twice on the same batch: perhaps by the batch itself, so one at a time.
        if (++cuts >= 2 || !connection.Batching())
          singly = true;
      }
      if (batch.empty() || singly)
        return 0;
      inFlight = true;
      const int code = connection.MultiAppend(folder.FName, batch);
      if (!Ok(code) && !Refused(code))
        connection.Lost("APPEND");
      inFlight = false;
      if (Ok(code))
        sent = batch.size();
      else
        singly = true;  // a NO or BAD stores none of it
      return 0;
    });
  } catch (const TFileError& e) {
    for (const TPending& pending : batch)
      folder.FReport.Failed.push_back({pending.Message.Name, e.what()});
    return;
  }
  if (!singly) {
    for (const TPending& pending : batch)
      stored(pending);
    FBatched += sent;
    ++FBatches;
    return;
  }
  for (TPending& pending : batch) {
    if (const std::string result = Append(folder, pending.Message, pending.Bytes, pending.Flags); !result.empty())
      folder.FReport.Failed.push_back({pending.Message.Name, result});
    else
      stored(pending);
  }
}

TConvertReport ConvertToImap(const std::filesystem::path& top, const TImapSettings& settings,
                             const TConvertOptions& options, TProgressObserver* observer)
{
  const TMailTree tree = ReadMailTree(top);
  if (options.DryRun)
    return ConvertMailTree(tree, nullptr, "\r\n", options, observer);
  TImapSettings withCancel = settings;
  if (!withCancel.Cancelled && observer)
    withCancel.Cancelled = [observer] { return observer->Cancelled(); };
  TImapStore store(std::move(withCancel));
  return ConvertMailTree(tree, &store, "\r\n", options, observer);
}

}  // namespace quillmend

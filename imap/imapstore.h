#pragma once
// A mail store on an IMAP server: the conversion's folders created there and each message uploaded
// by APPEND with its flags, keywords and received time (as the internal date).
//
// Exactly once: each message carries its Id in the X-Quillmend-Id header (outputs/mailstore.h), and
// the server itself is the record. Opening a folder fetches the Ids of the messages it holds in one
// command; a message whose Id is there is present and not sent again. After a dropped connection the
// folder is read again before the message in flight is sent anew, since the server may have stored
// it before the line went. A record kept on this machine could go stale (another run from elsewhere,
// a folder emptied by hand, UIDVALIDITY changed); the server's own messages cannot.
//
// Where the server offers MULTIAPPEND and LITERAL+, the messages of a folder go up many to one APPEND
// so that small messages do not each wait for an answer. Such an APPEND stores all or none (RFC 3502):
// after a dropped connection the folder's Ids tell which of the batch to send again, and a refused
// batch goes again one message at a time so that only the message at fault is skipped.

#include "document/convert.h"
#include "imap/imaprules.h"
#include "imap/imapurl.h"
#include "outputs/mailstore.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace quillmend {

struct TImapSettings {
  TImapAccount Account;
  std::string Password;            // held in memory only
  std::string OAuth2TokenCommand;  // when given: AUTHENTICATE XOAUTH2 with what it prints, run at each login
  std::filesystem::path CaFile;    // trusted in place of the system's certificates
  bool AllowPlaintext = false;     // a password without TLS to a server other than this machine
  int TimeoutSeconds = 60;         // for any one wait on the server
  // Throttling and dropped connections: this many tries, the pause doubling from the first.
  int Attempts = 6;
  std::chrono::milliseconds FirstPause{2000};
  // What the table does not show, as it happens: waits and reconnects, keywords a folder cannot
  // keep, headers sent encoded.
  std::function<void(const std::string&)> Say;
  std::function<bool()> Cancelled;  // stops waiting for the server
};

// No connection, a refused login, a certificate not trusted: the upload cannot start or go on.
class TImapError : public TFileError {
public:
  using TFileError::TFileError;
};

class TImapStore : public TMailStore {
public:
  // Connects and logs in. Throws TImapError.
  explicit TImapStore(TImapSettings settings);
  ~TImapStore() override;

  // The folder's name on the server.
  std::string Place(const TFolderPath& folder) const override;

  class TConnection;
  class TFolderSink;

private:
  TOpenFolder Open(const TFolderPath& folder) override;
  std::set<std::string> IdsIn(const TFolderPath& folder) const override;
  void Say(const std::string& text) const;
  bool Pause(const std::string& why, int attempt);
  TConnection& Connection();
  // A message that waits to go up with others in one APPEND.
  struct TPending {
    TOutgoingMessage Message;
    std::string Bytes;
    std::vector<std::string> Flags;
  };
  // True when message may wait for a batch of folder; the batch goes when full or another folder's
  // message comes.
  bool Queue(TFolderSink& folder, const TOutgoingMessage& message, std::string& bytes,
             const std::vector<std::string>& flags);
  // Sends the waiting batch and reports each of its messages to its folder.
  void Flush();
  // work on a connection, connected again after a pause when it drops; TFileError when the tries
  // are used up (and from then on at once).
  template <typename T>
  T Retrying(const std::function<T(TConnection&)>& work);
  // Sends message into folder: "" when stored, else why not.
  std::string Append(TFolderSink& folder, const TOutgoingMessage& message, std::string& bytes,
                     const std::vector<std::string>& flags);

  TImapSettings FSettings;
  std::unique_ptr<TConnection> FConnection;
  std::set<std::string> FCreated;      // folders that exist on the server
  std::set<std::string> FToldDropped;  // folders whose dropped keywords were said
  bool FGone = false;
  std::string FRefused;    // marks the server refused in a folder's name
  TServerFolders FLayout;  // as the last connection found it
  TFolderSink* FBatchFolder = nullptr;
  std::vector<TPending> FBatch;
  std::size_t FBatchBytes = 0;
  std::size_t FBatched = 0, FBatches = 0;  // messages sent in batches, and batches: said at the end
};

// ConvertMailFolder into the account settings names.
TConvertReport ConvertToImap(const std::filesystem::path& top, const TImapSettings& settings,
                             const TConvertOptions& options, TProgressObserver* observer = nullptr);

}  // namespace quillmend

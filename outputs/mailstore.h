#pragma once
// Mail stores: outputs that keep a tree of folders and each message's state, as the mail programs
// of today read them. Maildir++ (Dovecot, Courier), Thunderbird's Local Folders (an mbox file a
// folder), and a plain tree of .eml files. Each message goes into its folder once: a message whose
// Id the folder holds already is counted as present and not written again, so a run repeated, or
// one after a run cut short, adds only what is missing. Nothing already in a store is changed.

#include "outputs/sink.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace quillmend {

class TMailStore : public TMessageSink {
public:
  ~TMailStore() override;

  // A message whose folder cannot be made is reported, and the store goes on.
  bool Add(const TOutgoingMessage& message, const TMessageWriter& write) override;
  // Makes every message added since the last commit durable and says what became of them; the
  // store takes more messages after it.
  TExportReport Commit() override;
  // Makes folder (and those above it) though no message goes into it. Throws TFileError.
  void AddFolder(const TFolderPath& folder);

  // Where folder stands in the store ("" for a Maildir's INBOX, ".Work.Projects", "Work.sbd/Projects"):
  // two folders of one place would be one folder.
  virtual std::string Place(const TFolderPath& folder) const = 0;

  // The name a store gives a folder: In -> INBOX, Out -> Sent.
  static std::string StandardName(const TFolderName& folder, const char* inbox);

protected:
  TMailStore(std::filesystem::path root, unsigned mode);

  // One folder, open for writing.
  struct TOpenFolder {
    std::unique_ptr<TMessageSink> Sink;
    std::set<std::string> Ids;  // of the messages it holds
    // The file name a message gets in it; empty when the sink names them itself.
    std::function<std::string(const TOutgoingMessage&)> FileName;
  };
  // Makes folder (and those above it) when missing, and opens it. Throws TFileError.
  virtual TOpenFolder Open(const TFolderPath& folder) = 0;
  // The Ids of the messages folder holds, without making it; none when it is not there.
  virtual std::set<std::string> IdsIn(const TFolderPath& folder) const = 0;

  const std::filesystem::path FRoot;
  const unsigned FMode;

private:
  bool Holds(const TFolderPath& folder, const std::string& id);

  std::map<TFolderPath, TOpenFolder> FOpen;
  std::map<TFolderPath, std::set<std::string>> FKnown;  // of folders looked into, not written to
  TExportReport FReport;
};

// Maildir++ at root: INBOX in root itself, every other folder in root/.Parent.Child (names in IMAP's
// modified UTF-7; "." and what no file name can hold become "_"). Messages go into cur/ under
// "<received>.Q<id>.quillmend:2,<flags>", their modification time their received time; keywords are
// letters named in the folder's dovecot-keywords (a forwarded message has P and $Forwarded).
class TMaildirStore : public TMailStore {
public:
  // What stands before the flags: Windows allows no ":" in a file name, so "!" stands there instead.
#ifdef _WIN32
  static constexpr const char* kInfo = "!2,";
#else
  static constexpr const char* kInfo = ":2,";
#endif

  TMaildirStore(std::filesystem::path root, unsigned mode);

  // The folder's directory below root: "" for INBOX, ".Work.Projects".
  static std::string FolderDirectory(const TFolderPath& folder);
  // INBOX is the root, and no folder may be called so beside it.
  std::string Place(const TFolderPath& folder) const override
  {
    const std::string directory = FolderDirectory(folder);
    return directory.empty() ? ".INBOX" : directory;
  }

private:
  TOpenFolder Open(const TFolderPath& folder) override;
  std::set<std::string> IdsIn(const TFolderPath& folder) const override;
};

// Thunderbird's Local Folders at root: each folder an mbox file named as the folder, its children in
// "<name>.sbd/"; an empty file for a folder that holds none. Each message carries its state in
// X-Mozilla-Status, X-Mozilla-Keys and Status:/X-Status:, and its Id in the X-Quillmend-Id header
// that the writer puts in it. A folder's file is written anew (what it held first) and takes its
// name once whole.
class TMboxTree : public TMailStore {
public:
  TMboxTree(std::filesystem::path root, unsigned mode);

  // The folder's file below root: "Inbox", "Work.sbd/Projects".
  static std::filesystem::path FolderFile(const TFolderPath& folder);
  std::string Place(const TFolderPath& folder) const override;

private:
  TOpenFolder Open(const TFolderPath& folder) override;
  std::set<std::string> IdsIn(const TFolderPath& folder) const override;
};

// A folder of .eml files (CR LF) for each folder, "<yyyymmdd-hhmmss>-<id>.eml", the tree as given.
class TEmlTree : public TMailStore {
public:
  TEmlTree(std::filesystem::path root, unsigned mode);

  static std::filesystem::path FolderPath(const TFolderPath& folder);
  std::string Place(const TFolderPath& folder) const override;

private:
  TOpenFolder Open(const TFolderPath& folder) override;
  std::set<std::string> IdsIn(const TFolderPath& folder) const override;
};

// The header field in which each message carries its Id.
inline constexpr const char* kIdField = "X-Quillmend-Id";

}  // namespace quillmend

#pragma once
// Where the files that Eudora's lines name are found, and which of them may be read: the one
// lookup behind the preview's inline images and the rebuilt message's parts. A line's text comes
// from mail, so what it names is never trusted: only a regular file of a bounded size, found by its
// name in the folders Eudora keeps such files in (or a folder the user named), and never through a
// link that leads out of that folder. A line's own path is followed only into such a folder of the
// mailbox's own (beside it or beside its folder), never onto another computer.

#include "base/readfile.h"
#include "eudora/markers.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

// Larger attachment files are left out: no mail program opens such a message.
inline constexpr std::int64_t kMaxAttachmentBytes = std::int64_t{1} << 30;

// Larger images are not shown in a preview, which reads them while the user waits.
inline constexpr std::int64_t kMaxInlineImageBytes = std::int64_t{16} << 20;

// An attachment or image file, as it was when looked at; not held open.
struct TFoundFile {
  std::string Name;  // UTF-8
  std::filesystem::path Path;
  TFileIdentity Identity;  // its size too
  std::string Type;        // its media type
  bool MacText = false;    // saved by Mac Eudora as text: its CR line ends go out as CR LF
};

class TPartFinder {
public:
  // mailboxFolder is the folder of the mailbox whose mail names the files: they are looked for in its
  // attach/ and Embedded/ (Windows), Attachments Folder/ and Parts Folder/ (Mac), and in those of its
  // parent; then in attachmentsFolder when it is not empty. Files over maxBytes are skipped.
  TPartFinder(const std::filesystem::path& mailboxFolder, std::vector<std::filesystem::path> userFolders,
              std::int64_t maxBytes = kMaxAttachmentBytes);

  // The file marked names, looked at and closed again; nullopt with reason (where it was looked for, and what was
  // skipped and why) when it is nowhere it may be taken from.
  std::optional<TFoundFile> Find(const TMarkedFile& marked, std::string& reason) const;

private:
  bool AllowedFolder(const std::filesystem::path& folder) const;
  std::optional<TFoundFile> Open(const std::filesystem::path& folder, const std::filesystem::path& path,
                                 const TMarkedFile& marked, std::vector<std::string>& skipped) const;

  std::vector<std::filesystem::path> FNear;  // the mailbox's folder and those above it in its Eudora folder
  std::vector<std::filesystem::path> FUserFolders;
  std::int64_t FMaxBytes;
};

// The inline images that the lines of a message's text name, for a view of its HTML.
class TInlineImages {
public:
  TInlineImages() = default;
  TInlineImages(const TEudoraText& text, std::filesystem::path mailboxFolder,
                std::int64_t maxBytes = kMaxInlineImageBytes);

  // The bytes of the image that "cid:contentId" refers to; nullopt when no line names one, or its
  // file is not found or may not be read (see TPartFinder).
  std::optional<std::string> Read(std::string_view contentId) const;

private:
  std::vector<TMarkedFile> FImages;
  std::optional<TPartFinder> FFinder;  // none for a message without images
  std::int64_t FMaxBytes = kMaxInlineImageBytes;
};

}  // namespace quillmend

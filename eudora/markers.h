#pragma once
// Eudora's own lines in the text of a message: the markers it put around HTML, flowed and rich
// text, and the lines that name the files it moved attachments and inline images to. One reading of
// them serves the preview and the rebuilt message alike.

#include "search/codepage.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

enum class TTextKind { Plain, Html, Flowed, Rich };

enum class TPartKind { Attachment, Image };

// A file that one of Eudora's lines names: a path on the system that wrote the mail, and the file's
// name, which is what it is looked for by (see eudora/attachments.h).
struct TMarkedFile {
  TPartKind Kind = TPartKind::Attachment;
  std::string Shown;                         // the line's path, UTF-8, for reports
  std::vector<std::string> Names;            // the file's name, then other spellings it may have on disk, UTF-8
  std::optional<std::filesystem::path> Own;  // the line's path, when it may be a path on this system
  std::string NotFollowed;                   // why the line's path is not followed, when it is not
  std::string MacType;                       // the Mac file type the line gives, as "TEXT"
  std::uint32_t Hash = 0;                    // an image's: the hash of the Content-ID its HTML refers to it by
};

// One line of a text part, without its line end.
struct TTextLine {
  std::string_view Text;
  std::optional<std::size_t> File;  // the line names TEudoraText::Files[*File]
};

struct TTextPart {
  TTextKind Kind = TTextKind::Plain;
  std::vector<TTextLine> Lines;
  std::optional<std::string> Charset;  // as an x-stuff-for-pete tag declares it
};

struct TEudoraText {
  std::vector<TTextPart> Parts;  // in order; the first is plain, and any may be empty
  std::vector<TMarkedFile> Files;
};

// Text the mail client wrote in a code page (a name in a line, descmap.pce, eudora.ini) as UTF-8;
// bytes that are UTF-8 already, as a copy made on Linux shows them, stay as they are.
std::string ClientText(std::string_view bytes, TCodePage page = TCodePage::Windows);

// Lines without their ends: CR LF, LF, or CR alone as Mac mailboxes end them.
std::vector<std::string_view> SplitLines(std::string_view text);

// The text of a message body, its lines cut into parts at Eudora's markers. A marker opens a part at
// the start of a line and closes one at its end, in any letter case: Mac Eudora writes the part's
// first text, and its x-stuff-for-pete tag, on the marker's own line. Attachment and image lines are
// read wherever they stand.
TEudoraText ReadEudoraText(const std::vector<std::string_view>& lines);

// An attachment path of a sent message's X-Attachments field.
TMarkedFile SentAttachment(std::string_view path, bool mac);

// The Content-ID references ("cid:...") of an HTML text, in order, each once.
std::vector<std::string> ContentIdReferences(std::string_view html);

// Eudora's hash of a Content-ID (without its angle brackets): its bytes read as one big-endian
// number, modulo 2147483629, plus one.
std::uint32_t ContentIdHash(std::string_view id);

// Whether "cid:contentId" refers to the image whose line gave hash. Some copies hashed the ID in
// lower case, so that form counts too.
bool RefersTo(std::string_view contentId, std::uint32_t hash);

}  // namespace quillmend

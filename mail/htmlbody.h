#pragma once
// What a preview needs to show a message as mail: which stretches of its body part are HTML, and
// the inline images Eudora moved out of an HTML message into files beside the mailbox.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

struct TBodyStretch {
  bool Html;
  std::string_view Bytes;
};

// The body part cut at its "<x-html>" and "</x-html>" marker lines (a line that is exactly the
// marker, from its first byte), the markers left out; one plain stretch when it has none.
std::vector<TBodyStretch> BodyStretches(std::string_view body);

// Whether the header block's Content-Type is text/html.
bool HtmlContentType(std::string_view header);

struct TInlineImage {
  std::filesystem::path File;
  std::uint32_t Hash;
};

// The images that the "Embedded Content:" (Windows) and "Related:" (Mac) lines of body name, with
// the files where Eudora kept them for the mailbox at mailbox: its folder's "Embedded" folder, or the
// "Parts Folder" beside the Mac "Mail Folder".
std::vector<TInlineImage> InlineImages(std::string_view body, const std::filesystem::path& mailbox);

// The file of the image that "cid:contentId" names, or an empty path when none of images is it.
// Some copies hashed the ID in lower case, so that form counts too.
std::filesystem::path InlineImageFile(const std::vector<TInlineImage>& images, std::string_view contentId);

}  // namespace quillmend

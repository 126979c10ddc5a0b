#pragma once
// The text the preview pane shows for one message.

#include "document/mailbox.h"
#include "eudora/attachments.h"

#include <QString>

#include <cstddef>
#include <filesystem>
#include <optional>

namespace quillmend {

// Longer body parts are shown cut, so a huge message cannot exhaust memory or stall the pane.
inline constexpr std::size_t kPreviewLimit = std::size_t{16} << 20;

// The body part of a record of mailbox, read from its file and decoded from the mail code page, with
// CR LF, lone CR and lone LF all turned into line breaks and a zero byte shown as a visible symbol. A
// body part longer than limit gives its first limit bytes and a last line telling where it was cut.
// Throws TFileError, also when the file is no longer the one scanned.
// Eudora's marker lines are left out, and each line that names an attachment or an inline image is
// shown as one naming the file and saying whether it was found.
QString PreviewText(const TMailbox& mailbox, std::size_t record, std::size_t limit = kPreviewLimit);

// The whole message, headers included, as the file holds it (decoded and with line breaks as
// PreviewText makes them), cut at limit as PreviewText is: what View > Message Source shows.
QString MessageSource(const TMailbox& mailbox, std::size_t record, std::size_t limit = kPreviewLimit);

struct THtmlPreview {
  QString Html;
  TInlineImages Images;  // the message's own, which its HTML may show
};

// A message whose body holds HTML (between <x-html> markers, or all of it under an HTML content
// type) as one rich-text document: the HTML as it stands, the text around it as plain text, cut
// at limit as PreviewText is. Nothing when the message holds no HTML. Throws as PreviewText.
std::optional<THtmlPreview> PreviewHtml(const TMailbox& mailbox, std::size_t record, std::size_t limit = kPreviewLimit);

}  // namespace quillmend

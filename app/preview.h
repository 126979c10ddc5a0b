#pragma once
// The text the preview pane shows for one message.

#include "mail/Globals.h"
#include "mail/files.h"

#include <QString>

#include <cstddef>
#include <filesystem>

namespace quillmend {

// Longer body parts are shown cut, so a huge message cannot exhaust memory or stall the pane.
inline constexpr std::size_t kPreviewLimit = std::size_t{16} << 20;

// The body part of email, read from mailbox and decoded from Windows-1252, with CR LF, lone CR and
// lone LF all turned into line breaks and a zero byte shown as a visible symbol. A body part longer
// than limit gives its first limit bytes and a last line telling where it was cut. With scanned, the
// mailbox must still be the file email came from (TMailboxFile::ExpectUnchanged). Throws TFileError.
QString PreviewText(const std::filesystem::path& mailbox, const TEmail& email, std::size_t limit = kPreviewLimit,
                    const TFileIdentity* scanned = nullptr);

}  // namespace quillmend

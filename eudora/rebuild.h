#pragma once
// An Eudora message as mail programs read it: rebuilt into a standard MIME message, its text parts
// from Eudora's markers, its attachments and inline images joined again from the files Eudora moved
// them to.

#include "base/bytesink.h"
#include "eudora/attachments.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

// The files one rebuilt message joins are at most this large in all; past it a file is left out
// and said, its line kept.
inline constexpr std::int64_t kMaxJoinedBytes = std::int64_t{1} << 30;

struct TRebuildOptions {
  // Where else to look for attachment and image files by name (and in the attach/, Embedded/,
  // Attachments Folder/ and Parts Folder/ in them). A marker line's own path is followed into them too.
  std::vector<std::filesystem::path> AttachmentsFolders;
};

// An attachment or image that a marker line names and that is not in the rebuilt message: its line
// stays in the text.
struct TMissingPart {
  std::string FileName;  // the message's file, e.g. RecoveredEmail3.eml
  std::string Name;      // as the line names it, UTF-8
  std::string Reason;    // where it was looked for, and what was skipped and why
};

// What one rebuilt message joined.
struct TRebuildCounts {
  std::size_t Attachments = 0;
  std::size_t Images = 0;
  std::vector<TMissingPart> Missing;  // FileName left empty
};

// What a message gains on its way into a mail store.
struct TAddedHeaders {
  std::string Date;                 // the Date: value of a message that has none, before the separator line's time
  std::vector<std::string> Fields;  // whole header lines, without their ends, put first
};

// Rebuilds stored, the bytes of one message as the mailbox holds them (separator line first), and
// writes it through sink with line ends eol. headerLength is how far its header block goes, as the
// scan found it (HeaderLength); nullopt when it never closed. finder looks for the files the lines
// name (one finder serves every message of a mailbox). Throws TFileError when an attachment file
// cannot be read part way.
TRebuildCounts RebuildMessage(std::string_view stored, std::optional<std::size_t> headerLength,
                              const TPartFinder& finder, const TByteSink& sink, std::string_view eol = "\r\n",
                              const TAddedHeaders& added = {});

// What RebuildMessage would join and miss, without writing anything: each file is looked for, none
// is read.
TRebuildCounts LookForParts(std::string_view stored, std::optional<std::size_t> headerLength,
                            const TPartFinder& finder);

// "Mon Dec 13 18:45:29 2010" of the separator line "From ???@??? Mon Dec 13 18:45:29 2010" that
// starts stored; empty when it has none.
std::string SeparatorDate(std::string_view stored);
// Its instant, the time read as UTC (the line names no zone); nothing when it names no valid time.
std::optional<std::int64_t> SeparatorInstant(std::string_view stored);

}  // namespace quillmend

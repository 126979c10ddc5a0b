#pragma once
// The instant a Date: header value names.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillmend {

// Seconds since 1970-01-01 00:00 UTC of an RFC 5322 date-time, also in its obsolete forms: no day of
// the week, a two-digit year (below 50 in the 2000s), a three-digit year (from 1900), a named zone
// (UT, GMT, EST, EDT, CST, CDT, MST, MDT, PST, PDT; a military letter or an unknown name, and no zone
// at all, count as UTC), no seconds, comments anywhere. Nothing when value names no valid date and time.
std::optional<std::int64_t> MailDateInstant(std::string_view value);

// instant (seconds since 1970 UTC) as a Date: header value in the zone zoneMinutes east of UTC:
// "Mon, 13 Dec 2010 12:45:29 -0600".
std::string MailDate(std::int64_t instant, int zoneMinutes = 0);

// instant as an mbox separator line gives it, in UTC: "Mon Dec 13 18:45:29 2010".
std::string SeparatorTime(std::int64_t instant);

// instant in UTC as IMAP's date-time (an APPEND's internal date): "14-Mar-2001 08:26:53 +0000".
std::string ImapDateTime(std::int64_t instant);

// instant in UTC for a file name that sorts by time: "20101213-184529".
std::string CompactTime(std::int64_t instant);

}  // namespace quillmend

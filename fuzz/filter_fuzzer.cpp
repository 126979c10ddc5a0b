// The keyword filter after the mailbox was cut or grown since its scan (see changed_mailbox.h). It
// must return, and agree with one search over what is left of each body part; checked against the
// scan, a file that is now shorter, or touched without growing, must be refused, and one that only
// grew filtered as before.

#include "changed_mailbox.h"

#include "mail/bodypart.h"
#include "search/FastStrings.h"

#include <algorithm>

using namespace quillmend;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  static fuzz::TFuzzFolder folder;
  fuzz::TChangedMailbox box;
  if (!fuzz::ScanAndChange({reinterpret_cast<const char*>(data), size}, folder.Path() / "box.mbx", box))
    return 0;

  std::vector<std::size_t> expected;
  const auto now = static_cast<std::int64_t>(box.Now.size());
  for (std::size_t i = 0; i < box.Emails.size(); ++i) {
    const TByteRange range = BodyPart(box.Emails[i]);
    const std::int64_t end = std::min(range.End, now);
    if (end <= range.Begin)
      continue;
    const std::string_view left(box.Now.data() + range.Begin, static_cast<std::size_t>(end - range.Begin));
    if (FindText(box.Keyword, left, false, 1, true) > 0)
      expected.push_back(i);
  }
  FUZZ_CHECK(FilterEmails(box.Path, box.Emails, box.Keyword) == expected);

  try {
    FUZZ_CHECK(FilterEmails(box.Path, box.Emails, box.Keyword, nullptr, &box.Scanned) == expected);
    FUZZ_CHECK(!box.MustRefuse);
  } catch (const TFileError& e) {
    FUZZ_CHECK(box.MustRefuse);
    FUZZ_CHECK(std::string_view(e.what()).ends_with(" has changed since it was scanned; open it again"));
  }
  return 0;
}

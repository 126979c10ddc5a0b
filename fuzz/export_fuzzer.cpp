// The export after the mailbox was cut or grown since its scan (see changed_mailbox.h), of a subset
// of the messages chosen by the input, into an empty folder. Every message is reported once; each
// one still whole in the file is written with exactly its bytes, the flag word rewritten; no
// temporary file stays behind. Checked against the scan, a file that is now shorter, or touched
// without growing, is refused before anything is written.

#include "changed_mailbox.h"

#include "document/export.h"
#include "mail/flagword.h"
#include "mail/bodypart.h"

#include <algorithm>

namespace fs = std::filesystem;
using namespace quillmend;

namespace {

bool IsEmpty(const fs::path& folder) { return fs::directory_iterator(folder) == fs::directory_iterator(); }

std::string Read(const fs::path& path)
{
  std::ifstream in(path, std::ios::binary);
  FUZZ_CHECK(in.good());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  static fuzz::TFuzzFolder folder;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  fuzz::TChangedMailbox box;
  if (!fuzz::ScanAndChange(input, folder.Path() / "box.mbx", box))
    return 0;

  fuzz::TInputRandom random(input);
  std::vector<std::size_t> indexes;
  for (std::size_t i = 0; i < box.Emails.size(); ++i)
    if (random.Below(4) != 0)
      indexes.push_back(i);
  for (std::size_t i = indexes.size(); i > 1; --i)
    std::swap(indexes[i - 1], indexes[random.Below(i)]);

  const fs::path out = folder.Path() / "out";
  for (const bool checked : {false, true}) {
    fs::remove_all(out);
    fs::create_directory(out);
    TExportReport report;
    try {
      report = ExportMessages(box.Path, box.Emails, indexes, out, nullptr, TExisting::Keep,
                              checked ? &box.Scanned : nullptr);
      FUZZ_CHECK(!(checked && box.MustRefuse && !indexes.empty()));
    } catch (const TFileError& e) {
      FUZZ_CHECK(checked && box.MustRefuse);
      FUZZ_CHECK(std::string_view(e.what()).ends_with(" has changed since it was scanned; open it again"));
      FUZZ_CHECK(IsEmpty(out));
      continue;
    }
    std::size_t whole = 0;
    for (const std::size_t i : indexes) {
      const TByteRange range = MessageRange(box.Emails[i]);
      if (range.End > static_cast<std::int64_t>(box.Now.size()))
        continue;
      ++whole;
      std::string expected;
      TFlagWordReplacer replacer;
      replacer.Feed(std::string_view(box.Now.data() + range.Begin, static_cast<std::size_t>(range.Length())), expected);
      replacer.Finish(expected);
      FUZZ_CHECK(Read(out / ExportFileName(i)) == expected);
    }
    FUZZ_CHECK(report.Written == whole);
    FUZZ_CHECK(report.Failed.size() == indexes.size() - whole);
    for (const auto& entry : fs::directory_iterator(out))
      FUZZ_CHECK(!entry.path().filename().string().ends_with(".part"));
  }
  return 0;
}

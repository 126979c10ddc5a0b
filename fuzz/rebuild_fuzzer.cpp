// Mail rebuilt for mail programs, from any bytes: the input is a mailbox beside a small Eudora
// folder (attach/, Embedded/ with files the lines may name), and every message goes through both
// rebuilt exports. Checked: every multipart boundary stands only on its own delimiter lines (and in
// the Content-Type that declares it), so no part can end early or swallow the next; in the mbox file
// no line starts with "From " but the separators, one a message written; each .eml file holds one
// message whose header block ends in a blank line.

#include "changed_mailbox.h"

#include "document/export.h"
#include "mail/eudora.h"

#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace quillmend;

namespace {

std::string Read(const fs::path& path)
{
  std::ifstream in(path, std::ios::binary);
  FUZZ_CHECK(in.good());
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string_view> Lines(std::string_view text)
{
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string_view line = text.substr(start, end - start);
    if (line.ends_with('\r'))
      line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// Each boundary="=_quillmend_..." declared in text (the rebuild's own; the mail's text may quote
// others) occurs only as "--B", "--B--" lines and in its declaration.
void CheckBoundaries(std::string_view text)
{
  std::set<std::string> boundaries;
  constexpr std::string_view kKey = "; boundary=\"", kOwn = "=_quillmend_";
  for (std::size_t at = text.find(kKey); at != std::string_view::npos; at = text.find(kKey, at + 1)) {
    const std::size_t start = at + kKey.size();
    const std::string_view boundary = text.substr(start, text.find('"', start) - start);
    if (boundary.starts_with(kOwn))
      boundaries.emplace(boundary);
  }
  for (const std::string& b : boundaries) {
    FUZZ_CHECK(!b.empty());
    for (const std::string_view line : Lines(text)) {
      if (line.find(b) == std::string_view::npos)
        continue;
      const bool delimiter = line == "--" + b || line == "--" + b + "--";
      const bool declaration = line.find("boundary=\"" + b + "\"") != std::string_view::npos;
      FUZZ_CHECK(delimiter || declaration);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  static const fuzz::TFuzzFolder folder;
  static const bool ready = [] {
    fs::create_directories(folder.Path() / "attach");
    fs::create_directories(folder.Path() / "Embedded");
    fuzz::WriteFile(folder.Path() / "attach" / "a.txt", "text\rwith CR\rline ends\r", std::ios::trunc);
    fuzz::WriteFile(folder.Path() / "attach" / "report.pdf", "%PDF-1.4 From here\n--=_quillmend_1_0\n", std::ios::trunc);
    fuzz::WriteFile(folder.Path() / "Embedded" / "i.jpg", std::string("\xFF\xD8\xFF\xE0 jpeg", 8), std::ios::trunc);
    return true;
  }();
  (void)ready;
  if (size > (std::size_t{1} << 20))
    return 0;
  const fs::path mailbox = folder.Path() / "In.mbx";
  fuzz::WriteFile(mailbox, std::string_view(reinterpret_cast<const char*>(data), size), std::ios::trunc);
  TEmailArray emails;
  TFileIdentity scanned;
  TEudorafile().LoadEmails(mailbox, emails, nullptr, &scanned);
  std::vector<std::size_t> all(emails.size());
  for (std::size_t i = 0; i < all.size(); ++i)
    all[i] = i;

  const fs::path mbox = folder.Path() / "out.mbox";
  fs::remove(mbox);
  const TRebuildReport inOne = ExportMbox(mailbox, emails, all, mbox, {}, nullptr, TExisting::Replace, &scanned);
  if (!all.empty()) {
    const std::string text = Read(mbox);
    std::vector<std::size_t> starts;  // of each message's separator line
    std::size_t at = 0;
    for (const std::string_view line : Lines(text)) {
      if (line.starts_with("From ")) {
        FUZZ_CHECK(line.starts_with("From MAILER-DAEMON "));
        starts.push_back(at);
      }
      at = std::min(text.find('\n', static_cast<std::size_t>(line.data() - text.data())), text.size()) + 1;
    }
    FUZZ_CHECK(starts.size() == inOne.Written);
    starts.push_back(text.size());
    for (std::size_t i = 0; i + 1 < starts.size(); ++i)  // each message's boundaries are its own
      CheckBoundaries(std::string_view(text).substr(starts[i], starts[i + 1] - starts[i]));
  }

  const fs::path out = folder.Path() / "out";
  fs::remove_all(out);
  fs::create_directory(out);
  const TRebuildReport files = RebuildMessages(mailbox, emails, all, out, {}, nullptr, TExisting::Keep, &scanned);
  FUZZ_CHECK(files.Written + files.Failed.size() == all.size());
  for (const std::string& name : files.Files) {
    const std::string text = Read(out / name);
    FUZZ_CHECK(text.find("\r\n\r\n") != std::string::npos);
    CheckBoundaries(text);
  }
  return 0;
}

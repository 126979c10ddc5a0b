// The mail client's index readers on arbitrary bytes, read as a Windows NAME.toc, a Mac NAME.toc and
// an AppleDouble ._NAME: each either refuses the file with a reason or gives entries that fit in
// it, and the join with a mailbox's records keeps its counts consistent. Each input is read once
// more with a few of its bytes changed, so that a seed of a whole index reaches the checks behind
// every size and offset.

#include "fuzz_check.h"

#include "base/readfile.h"
#include "eudora/toc.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quillmend;

namespace {

class TTempFolder {
public:
  TTempFolder() : FPath(fs::temp_directory_path() / ("quillmend-index-fuzz-" + std::to_string(::getpid())))
  {
    fs::create_directories(FPath);
  }
  ~TTempFolder()
  {
    std::error_code ignored;
    fs::remove_all(FPath, ignored);
  }
  fs::path Write(const std::string& name, std::string_view bytes) const
  {
    const fs::path path = FPath / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    FUZZ_CHECK(out.good());
    return path;
  }
  const fs::path& Path() const { return FPath; }

private:
  fs::path FPath;
};

// Records as a scan gives them: in file order, each starting where the one before ended.
TEmailArray Records(fuzz::TInputRandom& random)
{
  TEmailArray emails(random.Below(12));
  std::int64_t at = 0;
  for (TEmail& e : emails) {
    e.StartOffset = at;
    at += 1 + static_cast<std::int64_t>(random.Below(30000));
    e.EndOffset = at;
  }
  return emails;
}

void CheckEntries(const std::vector<TIndexEntry>& entries, std::size_t fileSize, std::size_t entrySize)
{
  FUZZ_CHECK(entries.size() * entrySize <= fileSize);
}

void CheckJoin(const TIndexJoin& join, const TEmailArray& emails)
{
  const TIndexSummary& s = join.Summary;
  FUZZ_CHECK(join.States.size() == emails.size());
  FUZZ_CHECK(s.Messages == emails.size());
  FUZZ_CHECK(s.Listed <= s.Messages && s.Listed + s.EntriesAtNoMessage <= s.Entries);
  FUZZ_CHECK(s.LengthsDiffer <= s.Listed);
  std::size_t notListed = 0;
  for (const TMessageState state : join.States) {
    FUZZ_CHECK((state == TMessageState::NoIndex) == (s.Outcome != TIndexOutcome::Read));
    notListed += state == TMessageState::NotInIndex ? 1 : 0;
  }
  FUZZ_CHECK(notListed == s.NotListed());
  FUZZ_CHECK(s.Outcome == TIndexOutcome::Read || !s.Problem.empty());
  FUZZ_CHECK(!s.Text().empty());
}

void ReadAll(const TTempFolder& folder, std::string_view bytes, fuzz::TInputRandom& random)
{
  const fs::path windows = folder.Write("In.toc", bytes);
  try {
    CheckEntries(ReadWindowsIndex(windows), bytes.size(), 218);
  } catch (const TIndexError&) {
  }
  try {
    CheckEntries(ReadMacIndex(windows), bytes.size(), 220);
  } catch (const TIndexError&) {
  }
  try {
    CheckEntries(ReadAppleDoubleIndex(folder.Write("._In", bytes)), bytes.size(), 220);
  } catch (const TIndexError&) {
  }
  const TEmailArray emails = Records(random);
  // The same bytes as the index of each kind of mailbox: In.mbx reads In.toc, In reads In.toc in
  // the Mac layout, Box reads ._Box.
  folder.Write("._Box", bytes);
  for (const char* mailbox : {"In.mbx", "In", "Box"})
    CheckJoin(JoinIndex(folder.Path() / mailbox, emails), emails);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
  if (size > (std::size_t{1} << 20))
    return 0;
  static const TTempFolder folder;
  std::string input(reinterpret_cast<const char*>(data), size);
  fuzz::TInputRandom random(input);
  ReadAll(folder, input, random);
  if (!input.empty()) {
    for (int change = 0; change < 4; ++change)
      input[random.Below(input.size())] = static_cast<char>(random.Next());
    ReadAll(folder, input, random);
  }
  return 0;
}

#pragma once
// Shared by the targets that use a mailbox after its scan: the input is a few control bytes and a
// mailbox. The mailbox is written to a private folder and scanned, then cut or grown as the control
// bytes say, the way a mail client compacting or appending would change it before the next open.
//
// Input: [mode] [amount, 2 bytes] [word length] [word] [mailbox...]
//   mode & 3: 0 leaves the file, 1 cuts it, 2 grows it, 3 cuts it at a message start
//   mode & 4: puts a filler line in front, so that the mailbox crosses the 256 KiB read-ahead block
//   amount:   how far to cut (a fraction of the size, or the message) or how much to append

#include "fuzz_check.h"

#include "base/readfile.h"
#include "mail/eudora.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace quillmend::fuzz {

class TFuzzFolder {
public:
  TFuzzFolder() : FPath(std::filesystem::temp_directory_path() / ("quillmend-fuzz-" + std::to_string(::getpid())))
  {
    std::filesystem::create_directories(FPath);
  }
  ~TFuzzFolder()
  {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  const std::filesystem::path& Path() const { return FPath; }

private:
  std::filesystem::path FPath;
};

inline void WriteFile(const std::filesystem::path& path, std::string_view bytes, std::ios::openmode mode)
{
  std::ofstream out(path, std::ios::binary | mode);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  FUZZ_CHECK(out.good());
}

struct TChangedMailbox {
  std::filesystem::path Path;
  std::string Keyword;
  TEmailArray Emails;  // as scanned
  TFileIdentity Scanned;
  std::string Now;  // the file's bytes after the change
  // The check against the scan must refuse the file: it is shorter, or as long with another time of
  // change (a cut to the same size still touches it).
  bool MustRefuse = false;
};

// False when the input is too short to say what to do.
inline bool ScanAndChange(std::string_view input, const std::filesystem::path& path, TChangedMailbox& box)
{
  constexpr std::size_t kBlock = std::size_t{256} << 10;
  if (input.size() < 4 || input.size() >= kBlock)
    return false;
  const auto mode = static_cast<unsigned char>(input[0]);
  const std::size_t amount =
      static_cast<unsigned char>(input[1]) | (std::size_t{static_cast<unsigned char>(input[2])} << 8);
  const std::size_t wordLength = 1 + static_cast<unsigned char>(input[3]) % 8;
  input.remove_prefix(4);
  if (input.size() < wordLength)
    return false;
  box.Keyword.assign(input.substr(0, wordLength));
  input.remove_prefix(wordLength);

  std::string bytes;
  if (mode & 4) {
    TInputRandom random(input);
    const std::size_t cut = random.Below(input.size() + 1);
    bytes.assign(kBlock - cut - 2, 'x').append("\r\n");
  }
  bytes.append(input);
  box.Path = path;
  WriteFile(path, bytes, std::ios::trunc);
  TEudorafile().LoadEmails(path, box.Emails, nullptr, &box.Scanned);
  FUZZ_CHECK(box.Scanned.Size == static_cast<std::int64_t>(bytes.size()));
  const auto scannedTime = std::filesystem::last_write_time(path);

  switch (mode & 3) {
  case 1:
    bytes.resize(bytes.size() * amount / 65536);
    std::filesystem::resize_file(path, bytes.size());
    break;
  case 2: {
    // Whole copies of the mailbox and then part of one: new messages, and a last one cut short.
    std::string more;
    while (more.size() < amount && !input.empty())
      more.append(input.substr(0, amount - more.size()));
    WriteFile(path, more, std::ios::app);
    bytes.append(more);
    break;
  }
  case 3:
    if (!box.Emails.empty()) {
      bytes.resize(static_cast<std::size_t>(box.Emails[amount % box.Emails.size()].StartOffset));
      std::filesystem::resize_file(path, bytes.size());
    }
    break;
  }
  box.Now = std::move(bytes);
  const auto size = static_cast<std::int64_t>(box.Now.size());
  const bool touched = std::filesystem::last_write_time(path) != scannedTime;
  box.MustRefuse = size < box.Scanned.Size || (size == box.Scanned.Size && touched);
  return true;
}

}  // namespace quillmend::fuzz

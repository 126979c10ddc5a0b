#include "tests/support/eudorafolder.h"

#include "base/system.h"

#include <fstream>

namespace quillmend::test {

namespace fs = std::filesystem;

namespace {

void Put(std::string& bytes, std::size_t at, std::uint64_t value, int size)
{
  for (int i = 0; i < size; ++i)
    bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void WriteBytes(const fs::path& path, const std::string& bytes)
{
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

std::string TTestMessage::Bytes() const
{
  std::string bytes = "From ???@??? " + Separator + "\r\nFrom: Ann <ann@example.org>\r\nTo: bob@example.org\r\n";
  bytes += "Subject: " + Subject + "\r\n";
  if (WithDate)
    bytes += "Date: Sun, 12 Dec 2010 23:42:55 -0600\r\n";
  bytes += "Message-ID: <" + Subject + "@example.org>\r\n" + Extra + "\r\n" + Body + "\r\n";
  return bytes;
}

fs::path WriteMailbox(const fs::path& folder, const TTestMailbox& mailbox)
{
  std::string mbx;
  std::vector<std::pair<std::size_t, std::size_t>> places;
  for (const TTestMessage& message : mailbox.Messages) {
    const std::string bytes = message.Bytes();
    places.emplace_back(mbx.size(), bytes.size());
    mbx += bytes;
  }
  const fs::path path = folder / PathFromUtf8(mailbox.File + ".mbx");
  WriteBytes(path, mbx);
  if (!mailbox.WithIndex)
    return path;
  std::string toc(104, '\0');
  const std::string name = mailbox.IndexName.empty() ? mailbox.File : mailbox.IndexName;
  toc.replace(8, std::min<std::size_t>(name.size(), 31), name.substr(0, 31));
  Put(toc, 96, mbx.size() + 1, 4);
  std::size_t count = 0;
  for (std::size_t i = 0; i < mailbox.Messages.size(); ++i) {
    if (!mailbox.Listed.empty() && !mailbox.Listed[i])
      continue;
    const TTestEntry entry = i < mailbox.Entries.size() ? mailbox.Entries[i] : TTestEntry();
    std::string e(218, '\0');
    Put(e, 0, places[i].first, 4);
    Put(e, 4, places[i].second, 4);
    Put(e, 8, static_cast<std::uint64_t>(entry.Date == 0 ? 0 : entry.Date - std::int64_t{entry.Zone} * 60), 4);
    Put(e, 12, entry.State, 2);
    e[16] = static_cast<char>(entry.Priority);
    Put(e, 46, entry.Arrival, 4);
    Put(e, 186, entry.Label, 2);
    Put(e, 202, static_cast<std::uint16_t>(entry.Zone), 2);
    Put(e, 204, entry.ImapFlags, 4);
    toc += e;
    ++count;
  }
  Put(toc, 102, count, 2);
  WriteBytes(folder / PathFromUtf8(mailbox.File + ".toc"), toc);
  return path;
}

void WriteDescmap(const fs::path& folder, const std::vector<std::string>& lines)
{
  std::string text;
  for (const std::string& line : lines)
    text += line + "\r\n";
  WriteBytes(folder / "descmap.pce", text);
}

}  // namespace quillmend::test

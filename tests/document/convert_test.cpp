// A whole Eudora folder converted: every message once, in its folder, with its state, label and
// date, deleted mail where the user asked for it, and a run repeated or cut short adding only what
// is missing.

#include "document/convert.h"

#include "base/system.h"
#include "mime/maildate.h"
#include "tests/support/eudorafolder.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TTempDir;
using test::TTestEntry;
using test::TTestMailbox;
using test::TTestMessage;

// The state numbers of a Windows index, and the Maildir flags each becomes.
const std::pair<std::uint16_t, const char*> kStates[] = {
    {0, ""},  {1, "S"}, {2, "RS"}, {3, "PSb"}, {4, "PSb"}, {5, "D"}, {6, "D"},
    {7, "D"}, {8, "S"}, {9, "D"},  {10, "D"}, {11, "S"}, {12, ""},
};
constexpr std::int64_t kSent = 1292218975;  // Sun, 12 Dec 2010 23:42:55 -0600
constexpr std::uint32_t kArrival = 1292287529;

// A Windows folder: In with a message in each state (the first labelled, one never downloaded, one
// of high priority) and one deleted, a backup holding one message In still has and one it lost, and
// Out with sent mail that has no Date: line.
void MakeFolder(const fs::path& top)
{
  TTestMailbox in{"In", {}, {}, {}, true, ""};
  for (const auto& [state, flags] : kStates) {
    in.Messages.emplace_back("state" + std::to_string(state));
    TTestEntry entry;
    entry.State = state;
    entry.Arrival = kArrival;
    entry.Zone = -360;  // every entry holds the zone of the machine that wrote the index
    in.Entries.push_back(entry);
    in.Listed.push_back(true);
  }
  in.Entries[0].Label = 2;
  in.Entries[1].ImapFlags = 0x40000000;
  in.Entries[2].Priority = 1;
  in.Messages.emplace_back("deleted");
  in.Entries.emplace_back();
  in.Listed.push_back(false);
  test::WriteMailbox(top, in);
  const std::string kept = in.Messages[3].Bytes();
  TTestMessage lost("lost");
  lost.Separator = "Sun Dec 12 10:00:00 2010";
  std::ofstream(top / "In.mbx.001", std::ios::binary) << kept << lost.Bytes();

  TTestMailbox out{"Out", {TTestMessage("sent with index date"), TTestMessage("sent with arrival only")}, {}, {}, true, ""};
  out.Messages[0].WithDate = out.Messages[1].WithDate = false;
  TTestEntry dated;
  dated.State = 8;
  dated.Date = kSent;
  dated.Zone = -360;
  dated.Arrival = kArrival;
  TTestEntry arrived;
  arrived.State = 8;
  arrived.Arrival = kArrival;
  out.Entries = {dated, arrived};
  test::WriteMailbox(top, out);
  test::WriteMailbox(top, TTestMailbox{"Loose", {TTestMessage("no index here")}, {}, {}, false, ""});
  test::WriteDescmap(top, {"In,In.mbx,S,Y", "Out,Out.mbx,S,N", "Loose Ends,Loose.mbx,M,N"});
  std::ofstream(top / "eudora.ini", std::ios::binary) << "[Settings]\r\nLabelText2=Work & Play\r\n";
}

// The folder above in dir/Eudora, so that outputs can go beside it.
fs::path MakeFolderIn(const TTempDir& dir)
{
  const fs::path top = dir.Path() / "Eudora";
  fs::create_directory(top);
  MakeFolder(top);
  return top;
}

struct TStored {
  std::string Folder;  // the Maildir folder's directory
  std::string Flags;   // the letters after ":2,"
  std::string Text;
};

// Every message of a Maildir by its subject (each must come once).
std::map<std::string, TStored> ReadMaildir(const fs::path& root)
{
  std::map<std::string, TStored> messages;
  for (const auto& folder : fs::directory_iterator(root)) {
    const std::string name = PathText(folder.path().filename());
    if (!folder.is_directory() || (name != "cur" && !name.starts_with(".")))
      continue;
    const fs::path cur = name == "cur" ? folder.path() : folder.path() / "cur";
    for (const auto& file : fs::directory_iterator(cur)) {
      const std::string fileName = PathText(file.path().filename());
      const std::string text = ReadFile(file.path());
      const std::size_t subject = text.find("\nSubject: ") + 10;
      const std::string key = text.substr(subject, text.find('\n', subject) - subject);
      EXPECT_EQ(messages.count(key), 0u) << key << " twice";
      const std::size_t info = fileName.find(TMaildirStore::kInfo);
      messages[key] = {name == "cur" ? "" : name, info == std::string::npos ? "?" : fileName.substr(info + 3), text};
    }
  }
  return messages;
}

TEST(Convert, StatesLabelsDatesAndDeletedMailIntoMaildir)
{
  const TTempDir dir;
  const fs::path top = MakeFolderIn(dir);
  const TConvertReport report = ConvertMailFolder(top, TStoreKind::Maildir, dir.Path() / "Maildir", {});
  ASSERT_TRUE(report.Succeeded());
  ASSERT_EQ(report.Mailboxes.size(), 3u);
  const TMailboxOutcome& in = report.Mailboxes[0];
  EXPECT_EQ(in.Found, 14u);
  EXPECT_EQ(in.InIndex, 13u);
  EXPECT_EQ(in.Deleted, 2u);
  EXPECT_EQ(in.FromBackups, 1u);
  EXPECT_EQ(in.Written, 15u);

  const std::map<std::string, TStored> stored = ReadMaildir(dir.Path() / "Maildir");
  EXPECT_EQ(stored.size(), 18u);
  for (const auto& [state, flags] : kStates) {
    const TStored& m = stored.at("state" + std::to_string(state));
    EXPECT_EQ(m.Folder, "");
    // The first message carries label 2 as the keyword a, the forwarded ones $Forwarded as b.
    EXPECT_EQ(m.Flags, std::string(flags) + (state == 0 ? "a" : "")) << "state " << state;
    EXPECT_TRUE(m.Text.starts_with("X-Quillmend-Id: ")) << m.Text.substr(0, 40);
  }
  EXPECT_EQ(ReadFile(dir.Path() / "Maildir" / "dovecot-keywords"), "0 Work_&_Play\n1 $Forwarded\n");
  EXPECT_NE(stored.at("state1").Text.find("X-Quillmend-Note: body never downloaded from the server\n"),
            std::string::npos);
  EXPECT_NE(stored.at("state2").Text.find("\nX-Priority: 1\n"), std::string::npos);
  EXPECT_EQ(stored.at("state3").Text.find("X-Priority"), std::string::npos);
  EXPECT_EQ(stored.at("deleted").Folder, ".Recovered.INBOX");
  EXPECT_EQ(stored.at("lost").Folder, ".Recovered.INBOX");
  // Sent mail without Date: gets the index's date in the sender's zone, else the arrival.
  EXPECT_EQ(stored.at("sent with index date").Folder, ".Sent");
  EXPECT_NE(stored.at("sent with index date").Text.find("\nDate: " + MailDate(kSent, -360) + "\n"), std::string::npos);
  EXPECT_NE(stored.at("sent with arrival only").Text.find("\nDate: " + MailDate(kArrival) + "\n"), std::string::npos);
  EXPECT_EQ(stored.at("no index here").Folder, ".Loose Ends");
  EXPECT_EQ(stored.at("no index here").Flags, "");
  // Its separator line's time is the local time of the machine whose zone the indexes give.
  const fs::path loose = dir.Path() / "Maildir" / ".Loose Ends" / "cur";
  EXPECT_TRUE(PathText(fs::directory_iterator(loose)->path().filename()).starts_with(std::to_string(kArrival) + ".Q"));
}

TEST(Convert, DeletedMailBesideTheLiveOrLeftOutAndOnceWhateverTheChoiceBefore)
{
  const TTempDir dir;
  const fs::path top = MakeFolderIn(dir);
  TConvertOptions same;
  same.Deleted = TDeletedMail::Same;
  ASSERT_TRUE(ConvertMailFolder(top, TStoreKind::Maildir, dir.Path() / "same", same).Succeeded());
  const std::map<std::string, TStored> beside = ReadMaildir(dir.Path() / "same");
  EXPECT_EQ(beside.at("deleted").Folder, "");
  EXPECT_EQ(beside.at("deleted").Flags, "c");  // a is the label, b $Forwarded, c Recovered
  // Converting again with the other choice finds them where the first run put them.
  const TConvertReport again = ConvertMailFolder(top, TStoreKind::Maildir, dir.Path() / "same", {});
  EXPECT_EQ(again.Mailboxes[0].Written, 0u);
  EXPECT_EQ(ReadMaildir(dir.Path() / "same").size(), beside.size());
  TConvertOptions skip;
  skip.Deleted = TDeletedMail::Skip;
  const TConvertReport skipped = ConvertMailFolder(top, TStoreKind::Maildir, dir.Path() / "skip", skip);
  EXPECT_EQ(skipped.Mailboxes[0].Skipped, 2u);
  EXPECT_EQ(ReadMaildir(dir.Path() / "skip").count("deleted"), 0u);
}

// Names the store changes (In to INBOX, Out to Sent, a character it cannot hold) never put two
// mailboxes into one folder, nor a user's own Recovered into the deleted mail's.
TEST(Convert, MailboxesWhoseNamesMeetInTheStoreStayApart)
{
  const TTempDir dir;
  const fs::path top = dir.Path() / "Eudora";
  fs::create_directory(top);
  const std::vector<std::pair<std::string, std::string>> boxes = {
      {"Out", "Out"}, {"Sent", "Sent"}, {"In", "In"}, {"INBOX", "Inbox2"}, {"a:b", "ab1"}, {"a_b", "ab2"}, {"Recovered", "Rec"}};
  std::vector<std::string> descmap;
  for (const auto& [shown, file] : boxes) {
    test::WriteMailbox(top, TTestMailbox{file, {TTestMessage("in " + shown)}, {}, {}, false, ""});
    descmap.push_back(shown + "," + file + ".mbx," + (file == "In" || file == "Out" ? "S" : "M") + ",N");
  }
  test::WriteDescmap(top, descmap);
  for (const TStoreKind kind : {TStoreKind::Maildir, TStoreKind::MboxTree, TStoreKind::EmlTree}) {
    const TConvertReport report = ConvertMailFolder(top, kind, dir.Path() / std::to_string(static_cast<int>(kind)), {});
    ASSERT_TRUE(report.Succeeded());
    std::size_t written = 0;
    for (const TMailboxOutcome& m : report.Mailboxes)
      written += m.Written;
    EXPECT_EQ(written, boxes.size()) << static_cast<int>(kind);
  }
  std::set<std::string> folders;
  for (const auto& [subject, m] : ReadMaildir(dir.Path() / "0"))
    EXPECT_TRUE(folders.insert(m.Folder).second) << subject << " shares " << m.Folder;
  EXPECT_EQ(folders, (std::set<std::string>{"", ".INBOX (2)", ".Sent", ".Sent (2)", ".a_b", ".a_b (2)", ".Recovered (2)"}));
}

// Stops the work part way, as Ctrl-C or the window's Cancel do.
class TStopAt : public TProgressObserver {
public:
  explicit TStopAt(int percent) : FStop(percent) {}
  void Progress(int percent) override { FPercent = percent; }
  bool Cancelled() const override { return FPercent >= FStop; }

private:
  int FStop, FPercent = 0;
};

// What a progress window shows of the messages and bytes.
class TCountsSeen : public TProgressObserver {
public:
  void Counts(std::uint64_t messages, std::uint64_t bytes, std::uint64_t totalBytes) override
  {
    EXPECT_GE(messages, FLast.Messages);
    EXPECT_GE(bytes, FLast.Bytes);
    FLast = {messages, bytes, totalBytes};
    ++Calls;
  }
  struct {
    std::uint64_t Messages = 0, Bytes = 0, Total = 0;
  } FLast;
  int Calls = 0;
};

TEST(Convert, ReportsMessagesAndBytesToItsObserver)
{
  const TTempDir dir;
  const fs::path top = MakeFolderIn(dir);
  TCountsSeen seen;
  ASSERT_TRUE(ConvertMailFolder(top, TStoreKind::Maildir, dir.Path() / "Maildir", {}, &seen).Succeeded());
  EXPECT_GE(seen.Calls, 2);  // the first message, and the end
  EXPECT_EQ(seen.FLast.Messages, 18u);
  EXPECT_GT(seen.FLast.Total, 0u);
  EXPECT_EQ(seen.FLast.Bytes, seen.FLast.Total);
}

TEST(Convert, ARunCutShortThenRepeatedLeavesEveryMessageOnceInEachFormat)
{
  for (const TStoreKind kind : {TStoreKind::Maildir, TStoreKind::MboxTree, TStoreKind::EmlTree}) {
    const TTempDir dir;
    const fs::path top = MakeFolderIn(dir), target = dir.Path() / "out";
    TStopAt stop(30);
    const TConvertReport cut = ConvertMailFolder(top, kind, target, {}, &stop);
    EXPECT_TRUE(cut.Cancelled);
    const TConvertReport rest = ConvertMailFolder(top, kind, target, {});
    ASSERT_TRUE(rest.Succeeded());
    const TConvertReport again = ConvertMailFolder(top, kind, target, {});
    std::size_t written = 0, present = 0, firstWritten = 0;
    for (std::size_t i = 0; i < rest.Mailboxes.size(); ++i) {
      firstWritten += cut.Mailboxes.size() > i ? cut.Mailboxes[i].Written : 0;
      written += rest.Mailboxes[i].Written;
      present += again.Mailboxes[i].Present;
      EXPECT_EQ(again.Mailboxes[i].Written, 0u);
    }
    EXPECT_GT(firstWritten, 0u);
    EXPECT_EQ(firstWritten + written, 18u) << "kind " << static_cast<int>(kind);
    EXPECT_EQ(present, 18u);
  }
}

TEST(Convert, DryRunWritesNothingAndATargetInsideTheSourceIsRefused)
{
  const TTempDir dir;
  MakeFolder(dir.Path());
  TConvertOptions dry;
  dry.DryRun = true;
  const TConvertReport report = ConvertMailFolder(dir.Path(), TStoreKind::Maildir, dir.Path() / ".." / "never", dry);
  EXPECT_TRUE(report.DryRun);
  EXPECT_EQ(report.Mailboxes[0].Written, 15u);
  EXPECT_FALSE(fs::exists(dir.Path() / ".." / "never"));
  EXPECT_THROW(ConvertMailFolder(dir.Path(), TStoreKind::EmlTree, dir.Path() / "inside", {}), TFileError);
  EXPECT_FALSE(fs::exists(dir.Path() / "inside"));
}

TEST(Convert, RealFoldersGiveTheirFiveMessagesUnreadInInbox)
{
  for (const char* folder : {"eudora-windows-7.1", "eudora-mac-6.2.4"}) {
    SCOPED_TRACE(folder);
    const TTempDir dir;
    const TConvertReport report = ConvertMailFolder(test::DataFile(folder), TStoreKind::Maildir, dir.Path(), {});
    ASSERT_TRUE(report.Succeeded());
    const std::map<std::string, TStored> stored = ReadMaildir(dir.Path());
    EXPECT_EQ(stored.size(), 5u);
    for (const auto& [subject, m] : stored) {
      EXPECT_EQ(m.Folder, "") << subject;
      EXPECT_EQ(m.Flags, "") << subject;
    }
  }
  const TTempDir dir;
  ConvertMailFolder(test::DataFile("eudora-windows-7.1"), TStoreKind::Maildir, dir.Path(), {});
  for (const char* folder : {".Sent", ".Junk", ".Trash"})
    EXPECT_TRUE(fs::is_directory(dir.Path() / folder / "cur")) << folder;
}

}  // namespace
}  // namespace quillmend

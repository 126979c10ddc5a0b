// Mail stores: names as IMAP servers and Thunderbird hold them, states in file names and headers,
// and a second run that adds only what is missing.

#include "outputs/mailstore.h"

#include "base/system.h"
#include "outputs/imapnames.h"
#include "outputs/mboxfile.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TTempDir;

TEST(ImapNames, ModifiedUtf7AndAtoms)
{
  // RFC 3501's own examples among them.
  const std::pair<const char*, const char*> utf7[] = {
      {"INBOX", "INBOX"},
      {"R&D", "R&-D"},
      {"Caf\xc3\xa9", "Caf&AOk-"},
      {"~peter/mail/\xe5\x8f\xb0\xe5\x8c\x97/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
      {"a\x01" "b", "a&AAE-b"},
      {"\xf0\x9f\x93\xa7", "&2D3c5w-"},  // beyond the BMP: a surrogate pair
      {"\xff", "&,,0-"},                 // no UTF-8: U+FFFD
  };
  for (const auto& [in, out] : utf7)
    EXPECT_EQ(ModifiedUtf7(in), out) << in;
  const std::pair<const char*, const char*> atoms[] = {
      {"Important", "Important"}, {"Work & Play", "Work_&_Play"}, {"(x)*%\"\\]{", "_x_______"}, {"Caf\xc3\xa9", "Caf_"}};
  for (const auto& [in, out] : atoms)
    EXPECT_EQ(ImapAtom(in), out) << in;
}

TFolderPath Folder(std::initializer_list<TFolderName> names) { return names; }

TEST(MailStoreNames, EachFormatNamesFoldersItsOwnWay)
{
  const TFolderName inbox{"In", TFolderUse::Inbox}, sent{"Out", TFolderUse::Sent}, recovered{"Recovered"};
  struct TCase {
    TFolderPath Path;
    std::string Maildir, Mbox, Eml;
  } cases[] = {
      {Folder({inbox}), "", "Inbox", "INBOX"},
      {Folder({sent}), ".Sent", "Sent", "Sent"},
      {Folder({recovered, inbox}), ".Recovered.INBOX", "Recovered.sbd/Inbox", "Recovered/INBOX"},
      {Folder({{"Work Stuff"}, {"Projects"}}), ".Work Stuff.Projects", "Work Stuff.sbd/Projects", "Work Stuff/Projects"},
      {Folder({{"v1.2 notes"}}), ".v1_2 notes", "v1.2 notes", "v1.2 notes"},
      {Folder({{"Q1/Q2"}}), ".Q1_Q2", "Q1_Q2", "Q1_Q2"},
      {Folder({{"R&D"}}), ".R&-D", "R&D", "R&D"},
      {Folder({{".hidden"}}), "._hidden", "_.hidden", "_.hidden"},
      {Folder({{"a:b?"}}), ".a_b_", "a_b_", "a_b_"},
      {Folder({{"CON"}}), ".CON_", "CON_", "CON_"},
      {Folder({{"com1.txt"}}), ".com1_txt", "com1_.txt", "com1_.txt"},
      {Folder({{"Caf\xc3\xa9"}}), ".Caf&AOk-", "Caf\xc3\xa9", "Caf\xc3\xa9"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(TMaildirStore::FolderDirectory(c.Path), c.Maildir);
    EXPECT_EQ(TMboxTree::FolderFile(c.Path), PathFromUtf8(c.Mbox));
    EXPECT_EQ(TEmlTree::FolderPath(c.Path), PathFromUtf8(c.Eml));
  }
}

TMessageWriter Bytes(std::string text)
{
  return [text](const TByteSink& sink) {
    sink(text);
    return TMessageBytes{static_cast<std::int64_t>(text.size()), static_cast<std::int64_t>(text.size())};
  };
}

TOutgoingMessage Message(std::string id, TFolderPath folder, TMessageFlags flags = {},
                         std::vector<std::string> keywords = {})
{
  TOutgoingMessage message;
  message.Name = "message " + id;
  message.Id = std::move(id);
  message.Folder = std::move(folder);
  message.Received = 1292265929;
  message.Flags = flags;
  message.Keywords = std::move(keywords);
  return message;
}

std::vector<std::string> Names(const fs::path& folder)
{
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(PathText(entry.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

TEST(MaildirStore, FlagsAndKeywordsInTheNamesTheArrivalAsFileTimeAndARerunAddsNothing)
{
  const TTempDir dir;
  const TFolderPath inbox = Folder({{"In", TFolderUse::Inbox}});
  const TFolderPath work = Folder({{"Work"}});
  for (int run = 0; run < 2; ++run) {
    TMaildirStore store(dir.Path(), 0600);
    TMessageFlags replied;
    replied.Seen = replied.Answered = true;
    TMessageFlags forwarded;
    forwarded.Seen = forwarded.Forwarded = true;
    TMessageFlags draft;
    draft.Draft = true;
    store.Add(Message("aa", inbox, replied, {"Important"}), Bytes("Subject: a\n\nA\n"));
    store.Add(Message("bb", inbox, forwarded, {"Work___Play", "Important"}), Bytes("Subject: b\n\nB\n"));
    store.Add(Message("cc", work, draft), Bytes("Subject: c\n\nC\n"));
    store.Add(Message("dd", work), Bytes("Subject: d\n\nD\n"));
    const TExportReport report = store.Commit();
    EXPECT_TRUE(report.Failed.empty());
    EXPECT_EQ(report.Written, run == 0 ? 4u : 0u);
    EXPECT_EQ(report.Present, run == 0 ? 0u : 4u);
  }
  const std::string info = TMaildirStore::kInfo;
  EXPECT_EQ(Names(dir.Path() / "cur"),
            (std::vector<std::string>{"1292265929.Qaa.quillmend" + info + "RSa", "1292265929.Qbb.quillmend" + info + "PSabc"}));
  // IMAP servers show P only through the keyword.
  EXPECT_EQ(ReadFile(dir.Path() / "dovecot-keywords"), "0 Important\n1 $Forwarded\n2 Work___Play\n");
  EXPECT_EQ(Names(dir.Path() / ".Work" / "cur"),
            (std::vector<std::string>{"1292265929.Qcc.quillmend" + info + "D", "1292265929.Qdd.quillmend" + info}));
  EXPECT_TRUE(fs::exists(dir.Path() / ".Work" / "maildirfolder"));
  EXPECT_FALSE(fs::exists(dir.Path() / "maildirfolder"));
  const auto time = fs::last_write_time(dir.Path() / "cur" / ("1292265929.Qaa.quillmend" + info + "RSa"));
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::file_clock::to_sys(time).time_since_epoch());
  EXPECT_EQ(seconds.count(), 1292265929);
}

// A file left by a writer that was killed is no message of the folder: a run after it writes the message.
TEST(MaildirStore, ATemporaryFileLeftBehindDoesNotCountAsTheMessage)
{
  const TTempDir dir;
  fs::create_directories(dir.Path() / "cur");
  dir.Write("cur/.1292265929.Qaa.quillmend" + std::string(TMaildirStore::kInfo) + ".0.part", "Subject: a\n");
  TMaildirStore store(dir.Path(), 0600);
  store.Add(Message("aa", Folder({{"In", TFolderUse::Inbox}})), Bytes("Subject: a\n\nA\n"));
  const TExportReport report = store.Commit();
  EXPECT_EQ(report.Written, 1u);
  EXPECT_EQ(report.Present, 0u);
  EXPECT_EQ(Names(dir.Path() / "cur"), std::vector<std::string>{"1292265929.Qaa.quillmend" + std::string(TMaildirStore::kInfo)});
}

TEST(MboxTree, AFolderGrowsByWhatItLacksAndKeepsWhatItHeld)
{
  const TTempDir dir;
  const TFolderPath projects = Folder({{"Work"}, {"Projects"}});
  const auto message = [](const std::string& id) {
    return Bytes(std::string(kIdField) + ": " + id + "\nSubject: " + id + "\n\nFrom here on\n");
  };
  {
    TMboxTree store(dir.Path(), 0600);
    TMessageFlags read;
    read.Seen = true;
    store.Add(Message("aa", projects, read, {"Important"}), message("aa"));
    EXPECT_EQ(store.Commit().Written, 1u);
  }
  const fs::path file = dir.Path() / "Work.sbd" / "Projects";
  const std::string first = ReadFile(file);
  EXPECT_EQ(ReadFile(dir.Path() / "Work"), "") << "a folder with children only is an empty mbox file";
  EXPECT_NE(first.find("X-Mozilla-Status: 0001\nX-Mozilla-Status2: 00000000\nX-Mozilla-Keys: Important"),
            std::string::npos);
  EXPECT_NE(first.find("\nStatus: RO\n"), std::string::npos);
  EXPECT_NE(first.find("\n>From here on\n"), std::string::npos);
  {
    TMboxTree store(dir.Path(), 0600);
    store.Add(Message("aa", projects), message("aa"));
    TMessageFlags replied;
    replied.Seen = replied.Answered = true;
    store.Add(Message("bb", projects, replied), message("bb"));
    const TExportReport report = store.Commit();
    EXPECT_EQ(report.Written, 1u);
    EXPECT_EQ(report.Present, 1u);
  }
  const std::string second = ReadFile(file);
  EXPECT_EQ(second.substr(0, first.size()), first);
  EXPECT_NE(second.find("X-Mozilla-Status: 0003"), std::string::npos);
  EXPECT_NE(second.find("\nX-Status: A\n"), std::string::npos);
  EXPECT_EQ(TMboxFile::HeaderValues(file, kIdField), (std::vector<std::string>{"aa", "bb"}));
}

// What a mail program wrote into a folder's file stays byte for byte, also without a blank line at
// its end; the message's own state headers give way to the ones the index gave.
TEST(MboxTree, AppendsToAFileWithoutTouchingItAndSaysTheStateOnce)
{
  const TTempDir dir;
  const std::string theirs = "From someone Mon Dec 13 18:45:29 2010\nSubject: theirs\n\nno blank line after this";
  dir.Write("Inbox", theirs);
  const TFolderPath inbox = Folder({{"In", TFolderUse::Inbox}});
  const auto message = Bytes(std::string(kIdField) +
                             ": aa\nStatus: RO\nX-Mozilla-Status: 0001\nX-Mozilla-Keys: old\n  folded\nSubject: ours\n\nStatus: in the body\n");
  for (int run = 0; run < 2; ++run) {
    TMboxTree store(dir.Path(), 0600);
    store.Add(Message("aa", inbox), message);
    const TExportReport report = store.Commit();
    EXPECT_EQ(report.Written + report.Present, 1u);
    EXPECT_EQ(report.Present, run == 0 ? 0u : 1u);
  }
  const std::string file = ReadFile(dir.Path() / "Inbox");
  EXPECT_EQ(file.substr(0, theirs.size()), theirs);
  EXPECT_EQ(file.substr(theirs.size()),
            "\n\nFrom MAILER-DAEMON Mon Dec 13 18:45:29 2010\nX-Mozilla-Status: 0000\nX-Mozilla-Status2: 00000000\n"
            "X-Mozilla-Keys: " + std::string(80, ' ') + "\nStatus: O\nX-Quillmend-Id: aa\nSubject: ours\n\n"
            "Status: in the body\n\n");
}

// A run killed while it appended left part of a message and the mark of where it began: the next
// takes that part back (and nothing before it) before it writes the message whole, once.
TEST(MboxTree, WhatAKilledRunLeftHalfWrittenIsTakenBack)
{
  const TTempDir dir;
  const std::string theirs = "From someone Mon Dec 13 18:45:29 2010\nSubject: theirs\n\nbody\n\n";
  dir.Write("Inbox", theirs + "From MAILER-DAEMON Mon Dec 13 18:45:29 2010\nX-Quillmend-Id: aa\nSubj");
  dir.Write(".Inbox.quillmend-append", std::to_string(theirs.size()));
  TMboxTree store(dir.Path(), 0600);
  store.Add(Message("aa", Folder({{"In", TFolderUse::Inbox}})),
            Bytes(std::string(kIdField) + ": aa\nSubject: ours\n\nwhole\n"));
  EXPECT_EQ(store.Commit().Written, 1u);
  const std::string file = ReadFile(dir.Path() / "Inbox");
  EXPECT_EQ(file.substr(0, theirs.size()), theirs);
  EXPECT_EQ(file.find("Subj\n"), std::string::npos) << file;
  EXPECT_EQ(TMboxFile::HeaderValues(dir.Path() / "Inbox", kIdField), std::vector<std::string>{"aa"});
  EXPECT_FALSE(fs::exists(dir.Path() / ".Inbox.quillmend-append"));
}

TEST(EmlTree, NamedByArrivalAndIdOnceEach)
{
  const TTempDir dir;
  for (int run = 0; run < 2; ++run) {
    TEmlTree store(dir.Path(), 0600);
    store.Add(Message("aa", Folder({{"In", TFolderUse::Inbox}})), Bytes("Subject: a\r\n\r\nA\r\n"));
    EXPECT_EQ(store.Commit().Written, run == 0 ? 1u : 0u);
  }
  EXPECT_EQ(Names(dir.Path() / "INBOX"), std::vector<std::string>{"20101213-184529-aa.eml"});
}

}  // namespace
}  // namespace quillmend

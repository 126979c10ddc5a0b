// The rules of an IMAP upload that need no server: the account's address, folder names on the
// server, the flags a folder keeps, and a header made 7-bit after a server refused it.

#include "imap/imaprules.h"
#include "imap/imapurl.h"

#include <gtest/gtest.h>

#include <optional>

namespace quillmend {
namespace {

TEST(ImapUrl, ReadsEveryPart)
{
  struct TCase {
    const char* Url;
    TImapSecurity Security;
    const char* User;
    const char* Host;
    std::uint16_t Port;
    std::vector<std::string> Prefix;
  };
  const TCase cases[] = {
      {"imaps://robin@mail.example.org", TImapSecurity::Tls, "robin", "mail.example.org", 993, {}},
      {"imap://robin@mail.example.org", TImapSecurity::StartTls, "robin", "mail.example.org", 143, {}},
      {"imaps://robin@example.org@imap.example.org:1993",
       TImapSecurity::Tls,
       "robin@example.org",
       "imap.example.org",
       1993,
       {}},
      {"imaps://robin%40example.org@imap.example.org",
       TImapSecurity::Tls,
       "robin@example.org",
       "imap.example.org",
       993,
       {}},
      {"imap://r@[::1]:10143/From Eudora/2010", TImapSecurity::StartTls, "r", "::1", 10143, {"From Eudora", "2010"}},
      {"imaps://r@h/Caf%C3%A9//Old/", TImapSecurity::Tls, "r", "h", 993, {"Caf\xc3\xa9", "Old"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Url);
    const TImapAccount account = ParseImapUrl(c.Url);
    EXPECT_EQ(account.Security, c.Security);
    EXPECT_EQ(account.User, c.User);
    EXPECT_EQ(account.Host, c.Host);
    EXPECT_EQ(account.Port, c.Port);
    EXPECT_EQ(account.Prefix, c.Prefix);
    // Written out again, it reads the same.
    EXPECT_EQ(ParseImapUrl(ImapUrlText(account)), account) << ImapUrlText(account);
  }
}

TEST(ImapUrl, SaysWhatIsWrong)
{
  const std::pair<const char*, const char*> cases[] = {
      {"mail.example.org", "imaps://USER@HOST"},
      {"https://r@h", "no IMAP address"},
      {"imaps://h", "names no user"},
      {"imaps://r:secret@h", "password does not belong"},
      {"imaps://r@", "names no server"},
      {"imaps://r@h:0", "from 1 to 65535"},
      {"imaps://r@h:99999", "from 1 to 65535"},
      {"imaps://r@h:99x", "from 1 to 65535"},
      {"imaps://r@h:", "port after"},
      {"imaps://r@[::1", "lacks its ]"},
      {"imaps://r@h/a%4", "two hexadecimal digits"},
      {"imaps://r@h/?x", "no ? or #"},
  };
  for (const auto& [url, said] : cases) {
    try {
      ParseImapUrl(url);
      ADD_FAILURE() << url << " was taken";
    } catch (const TImapUrlError& e) {
      EXPECT_NE(std::string(e.what()).find(said), std::string::npos) << url << ": " << e.what();
    }
  }
}

TEST(ImapUrl, OnlyThisMachineIsLoopback)
{
  for (const char* host : {"localhost", "127.0.0.1", "127.1.2.3", "::1"})
    EXPECT_TRUE(IsLoopback(host)) << host;
  for (const char* host : {"127.0.0", "127.0.0.1.5", "127.0.0.256", "128.0.0.1", "localhost.example.org",
                           "127.0.0.1.example.org", "::2", ""})
    EXPECT_FALSE(IsLoopback(host)) << host;
}

TFolderPath Path(std::initializer_list<TFolderName> names) { return TFolderPath(names); }

TEST(ImapFolders, NamesOnTheServer)
{
  TServerFolders dovecot;  // "/" and no prefix, Sent and Trash marked, no Junk
  dovecot.Special = {{TFolderUse::Sent, "Sent Items"}, {TFolderUse::Trash, "Deleted Items"}};
  TServerFolders courier;  // everything below INBOX, "." between the levels
  courier.Separator = '.';
  courier.Personal = "INBOX.";
  TServerFolders flat;
  flat.Separator = 0;
  TServerFolders refusing = dovecot;
  refusing.Refused = ".";
  struct TCase {
    const TServerFolders* Server;
    std::vector<std::string> Prefix;
    TFolderPath Folder;
    const char* Name;
  };
  const TCase cases[] = {
      {&dovecot, {}, Path({{"In", TFolderUse::Inbox}}), "INBOX"},
      {&dovecot, {}, Path({{"Out", TFolderUse::Sent}}), "Sent Items"},
      {&dovecot, {}, Path({{"Trash", TFolderUse::Trash}}), "Deleted Items"},
      {&dovecot, {}, Path({{"Junk", TFolderUse::Junk}}), "Junk"},  // no such use there: its own name
      {&dovecot, {}, Path({{"Recovered", TFolderUse::Plain}, {"Out", TFolderUse::Sent}}), "Recovered/Sent"},
      {&dovecot, {}, Path({{"Recovered", TFolderUse::Plain}, {"In", TFolderUse::Inbox}}), "Recovered/INBOX"},
      {&dovecot,
       {},
       Path({{"Work", TFolderUse::Plain}, {"Caf\xc3\xa9 & Co", TFolderUse::Plain}}),
       "Work/Caf&AOk- &- Co"},
      {&dovecot, {}, Path({{"Q1/Q2", TFolderUse::Plain}}), "Q1_Q2"},
      {&dovecot, {}, Path({{"v1.2", TFolderUse::Plain}}), "v1.2"},
      {&refusing, {}, Path({{"v1.2", TFolderUse::Plain}}), "v1_2"},
      {&dovecot, {"From Eudora"}, Path({{"In", TFolderUse::Inbox}}), "From Eudora/INBOX"},
      {&dovecot, {"From Eudora"}, Path({{"Out", TFolderUse::Sent}}), "From Eudora/Sent"},
      {&courier, {}, Path({{"In", TFolderUse::Inbox}}), "INBOX"},
      {&courier, {}, Path({{"Work", TFolderUse::Plain}, {"v1.2", TFolderUse::Plain}}), "INBOX.Work.v1_2"},
      {&courier, {}, Path({{"Out", TFolderUse::Sent}}), "INBOX.Sent"},
      {&flat, {}, Path({{"Work", TFolderUse::Plain}, {"A/B", TFolderUse::Plain}}), "Work_A/B"},
      {&dovecot, {}, Path({{"", TFolderUse::Plain}}), "_"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(ServerFolderName(*c.Server, c.Prefix, c.Folder), c.Name) << c.Name;

  EXPECT_EQ(ServerParents(dovecot, "A/B/C"), (std::vector<std::string>{"A", "A/B"}));
  EXPECT_EQ(ServerParents(courier, "INBOX.A.B"), (std::vector<std::string>{"INBOX.A"}));
  EXPECT_EQ(ServerParents(dovecot, "A"), std::vector<std::string>());
  EXPECT_EQ(ServerParents(flat, "A_B"), std::vector<std::string>());
}

TEST(ImapFlags, OnlyWhatTheFolderKeeps)
{
  TOutgoingMessage message;
  message.Flags.Seen = message.Flags.Answered = message.Flags.Forwarded = message.Flags.Draft = true;
  message.Keywords = {"Important", "Recovered"};
  TPermanentFlags unsaid;  // no PERMANENTFLAGS: everything may be stored
  TPermanentFlags any;
  any.Given = any.AnyKeyword = true;
  any.Listed = {"\\Seen", "\\Answered", "\\Draft"};
  TPermanentFlags systemOnly;
  systemOnly.Given = true;
  systemOnly.Listed = {"\\seen", "\\Answered"};
  TPermanentFlags listed;
  listed.Given = true;
  listed.Listed = {"\\Seen", "\\Answered", "\\Draft", "$forwarded"};
  struct TCase {
    const char* What;
    const TPermanentFlags* Permanent;
    std::vector<std::string> Flags, Dropped;
  };
  const TCase cases[] = {
      {"unsaid", &unsaid, {"\\Seen", "\\Answered", "\\Draft", "$Forwarded", "Important", "Recovered"}, {}},
      {"any keyword", &any, {"\\Seen", "\\Answered", "\\Draft", "$Forwarded", "Important", "Recovered"}, {}},
      {"system flags only", &systemOnly, {"\\Seen", "\\Answered"}, {"\\Draft", "$Forwarded", "Important", "Recovered"}},
      {"keywords listed", &listed, {"\\Seen", "\\Answered", "\\Draft", "$Forwarded"}, {"Important", "Recovered"}},
  };
  for (const TCase& c : cases) {
    const TAppendFlags flags = AppendFlags(message, *c.Permanent);
    EXPECT_EQ(flags.Flags, c.Flags) << c.What;
    EXPECT_EQ(flags.Dropped, c.Dropped) << c.What;
  }
  TOutgoingMessage plain;
  plain.Keywords = {"$Forwarded", "$Forwarded", ""};  // the same keyword once, an empty one never
  EXPECT_EQ(AppendFlags(plain, unsaid).Flags, std::vector<std::string>{"$Forwarded"});
}

TEST(ImapHeader, EightBitFieldsEncodedTheRestKept)
{
  const std::string body = "\r\nBody with \xc3\xa9 stays.\r\n";
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"Subject: plain\r\nFrom: a@b\r\n", std::nullopt},
      {"Subject: Caf\xc3\xa9 cr\xc3\xa8me today\r\n", "Subject: =?UTF-8?B?Q2Fmw6kgY3LDqG1l?= today\r\n"},
      {"From: Ren\xe9 <r@example.org>\r\n", "From: =?windows-1252?B?UmVu6Q==?= <r@example.org>\r\n"},
      {std::string("X-Odd: a\0b\r\n", 12), "X-Odd: ab\r\n"},
      {"Subject: one\r\n two \xc3\xa9\r\nTo: x\r\n", "Subject: one two =?UTF-8?B?w6k=?=\r\nTo: x\r\n"},
      {"Subject: a \xc3\xa9 b\n", "Subject: a =?UTF-8?B?w6k=?= b\n"},
  };
  for (const auto& [header, want] : cases) {
    const std::optional<std::string> got = SevenBitHeader(header + body);
    ASSERT_EQ(got.has_value(), want.has_value()) << header;
    if (want) {
      EXPECT_EQ(*got, *want + body) << header;
    }
  }
  // A long value: encoded words of at most 75 characters, no character split between two.
  std::string long8bit;
  for (int i = 0; i < 40; ++i)
    long8bit += "\xc3\xa9";
  const std::string got = *SevenBitHeader("Subject: " + long8bit + "\r\n\r\n");
  std::size_t words = 0;
  for (std::size_t at = got.find("=?UTF-8?B?"); at != std::string::npos; at = got.find("=?UTF-8?B?", at + 2), ++words)
    EXPECT_LE(got.find("?=", at + 10) + 2 - at, 75u);
  EXPECT_EQ(words, 2u) << got;
  EXPECT_EQ(got.find_first_of("\x80\xff"), std::string::npos);
}

TEST(ImapHeader, ValueOfAField)
{
  const std::string header = "Subject: x\r\nx-quillmend-id:  abc123 \r\nTo: a,\r\n b\r\n\r\nX-Quillmend-Id: body\r\n";
  EXPECT_EQ(HeaderValue(header, "X-Quillmend-Id"), "abc123");
  EXPECT_EQ(HeaderValue(header, "To"), "a, b");
  EXPECT_EQ(HeaderValue(header, "Cc"), "");
  EXPECT_EQ(HeaderValue("X-Quillmend-Id: last", "X-Quillmend-Id"), "last");
}

TEST(ImapBatch, EachMessagesHeadOfOneAppend)
{
  struct TCase {
    std::vector<std::string> Flags;
    std::optional<std::int64_t> Received;
    std::size_t Size;
    const char* Head;
  };
  const TCase cases[] = {
      {{}, std::nullopt, 0, " () {0+}\r\n"},
      {{"\\Seen", "$Forwarded"}, 984558413, 1234, " (\\Seen $Forwarded) \"14-Mar-2001 08:26:53 +0000\" {1234+}\r\n"},
      {{"\\Answered"}, 0, 7, " (\\Answered) \"01-Jan-1970 00:00:00 +0000\" {7+}\r\n"},
      // Leap day, and a time before 1970 (Eudora's clocks were sometimes unset).
      {{}, 951782400, 1, " () \"29-Feb-2000 00:00:00 +0000\" {1+}\r\n"},
      {{}, -1, 1, " () \"31-Dec-1969 23:59:59 +0000\" {1+}\r\n"},
      {{}, 4102444799, 1, " () \"31-Dec-2099 23:59:59 +0000\" {1+}\r\n"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(AppendItemHead(c.Flags, c.Received, c.Size), c.Head) << c.Head;
}

TEST(ImapBatch, FullAtTheCountOrTheBytes)
{
  EXPECT_FALSE(BatchFull(0, 0));
  EXPECT_FALSE(BatchFull(kBatchMessages - 1, kBatchBytes - 1));
  EXPECT_TRUE(BatchFull(kBatchMessages, 10));
  EXPECT_TRUE(BatchFull(1, kBatchBytes));
}

}  // namespace
}  // namespace quillmend

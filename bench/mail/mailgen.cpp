#include "bench/mail/mailgen.h"

#include "search/codepage.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string_view>

namespace quillmend::mailgen {

namespace {

// xoshiro256** seeded through splitmix64: fast, and fixed by its definition.
class TRandom {
public:
  explicit TRandom(std::uint64_t seed)
  {
    for (auto& s : FState) {
      seed += 0x9E3779B97F4A7C15ULL;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
      s = z ^ (z >> 31);
    }
  }

  std::uint64_t Next()
  {
    const std::uint64_t result = Rotl(FState[1] * 5, 7) * 9;
    const std::uint64_t t = FState[1] << 17;
    FState[2] ^= FState[0];
    FState[3] ^= FState[1];
    FState[1] ^= FState[2];
    FState[0] ^= FState[3];
    FState[2] ^= t;
    FState[3] = Rotl(FState[3], 45);
    return result;
  }

  // 0 .. n-1; the modulo bias is far below anything a mailbox could show.
  std::int64_t Below(std::int64_t n)
  {
    return n <= 1 ? 0 : static_cast<std::int64_t>(Next() % static_cast<std::uint64_t>(n));
  }
  std::int64_t Between(std::int64_t lo, std::int64_t hi) { return lo + Below(hi - lo + 1); }
  bool PerMille(int chance) { return Below(1000) < chance; }

  template <class T, std::size_t N>
  const T& Pick(const std::array<T, N>& items)
  {
    return items[static_cast<std::size_t>(Below(static_cast<std::int64_t>(N)))];
  }

private:
  static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::array<std::uint64_t, 4> FState{};
};

using sv = std::string_view;

// Names are Windows-1252 bytes, as Eudora on Windows stored them.
constexpr std::array<sv, 40> kFirstNames = {"Jonathan",
                                            "Maria",
                                            "J\xFCrgen",
                                            "Fran\xE7ois",
                                            "S\xF8ren",
                                            "Anna",
                                            "Robert",
                                            "Chen",
                                            "Priya",
                                            "Michael",
                                            "Ren\xE9",
                                            "Ingrid",
                                            "David",
                                            "Elena",
                                            "Tom\xE1s",
                                            "Laura",
                                            "Hiroshi",
                                            "Sarah",
                                            "Bj\xF6rn",
                                            "Claire",
                                            "Ahmed",
                                            "Olga",
                                            "Peter",
                                            "Luc\xED"
                                            "a",
                                            "James",
                                            "Ana\xEFs",
                                            "Wolfgang",
                                            "Karen",
                                            "Mateo",
                                            "Zo\xEB",
                                            "Paul",
                                            "Fatima",
                                            "Kevin",
                                            "Hannah",
                                            "Dmitri",
                                            "Grace",
                                            "Andr\xE9",
                                            "Linda",
                                            "Oscar",
                                            "Yuki"};

constexpr std::array<sv, 40> kLastNames = {"Abbey",
                                           "Garc\xED"
                                           "a",
                                           "M\xFCller",
                                           "Lef\xE8vre",
                                           "Kierkegaard",
                                           "Schmidt",
                                           "Miller",
                                           "Wang",
                                           "Patel",
                                           "O'Brien",
                                           "Dubois",
                                           "Andersson",
                                           "Johnson",
                                           "Petrova",
                                           "N\xFA\xF1"
                                           "ez",
                                           "Bianchi",
                                           "Tanaka",
                                           "Thompson",
                                           "Lindstr\xF6m",
                                           "Martin",
                                           "Hassan",
                                           "Ivanova",
                                           "Becker",
                                           "Fern\xE1ndez",
                                           "Wilson",
                                           "Moreau",
                                           "Wei\xDF",
                                           "Davis",
                                           "Rossi",
                                           "Dupont",
                                           "Clark",
                                           "Rahman",
                                           "Nguyen",
                                           "Schr\xF6"
                                           "der",
                                           "Volkov",
                                           "Lee",
                                           "Gon\xE7"
                                           "alves",
                                           "Walker",
                                           "Jensen",
                                           "Sato"};

constexpr std::array<sv, 16> kDomains = {"arlut.utexas.edu", "example.com",   "mail.example.org", "ganymeta.org",
                                         "web.de",           "t-online.de",   "wanadoo.fr",       "hotmail.com",
                                         "yahoo.co.uk",      "earthlink.net", "aol.com",          "comcast.net",
                                         "gmx.net",          "uni-koeln.de",  "qualcomm.com",     "cs.example.edu"};

constexpr std::array<sv, 12> kRelays = {"ns5.arlut.utexas.edu",
                                        "mx1.example.com",
                                        "smtp.web.de",
                                        "mail.wanadoo.fr",
                                        "mta-poolb1.cluster2.convio.net",
                                        "relay.earthlink.net",
                                        "mx.gmx.net",
                                        "smtp-out.aol.com",
                                        "mail.uni-koeln.de",
                                        "inbound.hotmail.com",
                                        "mx3.comcast.net",
                                        "smtp.qualcomm.com"};

constexpr std::array<sv, 36> kSubjects = {"Meeting on Thursday",
                                          "Budget figures for Q3",
                                          "Your order has shipped",
                                          "Lunch tomorrow?",
                                          "Minutes of the board meeting",
                                          "Photos from the weekend",
                                          "Draft of the report",
                                          "Server maintenance tonight",
                                          "Invoice 2004-0117",
                                          "Travel plans for March",
                                          "Happy birthday!",
                                          "Question about the contract",
                                          "New phone number",
                                          "Reminder: dentist appointment",
                                          "Conference registration",
                                          "Gr\xFC\xDF"
                                          "e aus M\xFC"
                                          "nchen",
                                          "R\xE9union de vendredi",
                                          "Updated schedule",
                                          "Password reset request",
                                          "Re: your letter of 12 May",
                                          "Family reunion",
                                          "Project kickoff",
                                          "Weekly status",
                                          "Book club: next title",
                                          "Flight confirmation",
                                          "Slides for Monday",
                                          "Garden club newsletter",
                                          "Can you review this?",
                                          "Quarterly newsletter",
                                          "Holiday schedule",
                                          "Piano lessons",
                                          "Car insurance renewal",
                                          "Test results",
                                          "Recipe you asked for",
                                          "Volunteer sign-up",
                                          "Thanks for your help"};

constexpr std::array<sv, 120> kWords = {
    "the",      "meeting", "report",   "we",          "should",   "have",        "a",        "look",    "at",
    "next",     "week",    "and",      "I",           "think",    "it",          "is",       "fine",    "to",
    "send",     "them",    "figures",  "before",      "Friday",   "please",      "let",      "me",      "know",
    "if",       "you",     "need",     "anything",    "else",     "thanks",      "for",      "your",    "help",
    "with",     "the",     "draft",    "budget",      "was",      "approved",    "by",       "board",   "on",
    "Monday",   "our",     "team",     "will",        "be",       "in",          "office",   "until",   "six",
    "schedule", "changed", "again",    "so",          "plan",     "accordingly", "attached", "are",     "photos",
    "from",     "trip",    "kids",     "loved",       "beach",    "weather",     "could",    "not",     "been",
    "better",   "server",  "down",     "maintenance", "tonight",  "between",     "midnight", "two",     "copies",
    "of",       "invoice", "contract", "signed",      "returned", "lawyer",      "agreed",   "changes", "coffee",
    "after",    "lunch",   "sounds",   "good",        "call",     "tomorrow",    "morning",  "about",   "project",
    "deadline", "moved",   "end",      "month",       "everyone", "who",         "can",      "make",    "it",
    "bring",    "laptop",  "printer",  "broken",      "new",      "address",     "phone",    "number",  "since",
    "last",     "year",    "garden"};

constexpr std::array<sv, 24> kSentences = {"Thanks for sending the figures so quickly.",
                                           "I have attached the latest draft for your comments.",
                                           "Could you check whether the numbers on page three add up?",
                                           "The meeting has been moved to Thursday at ten in room 204.",
                                           "Let me know if anything is unclear.",
                                           "We arrived safely and the weather has been wonderful.",
                                           "The server will be down for maintenance between midnight and two.",
                                           "Please sign both copies and send one back to me.",
                                           "I will be out of the office until Monday.",
                                           "Sorry for the late reply, it has been a busy week.",
                                           "The kids loved the photos, thank you!",
                                           "Can we talk about this on the phone tomorrow morning?",
                                           "The invoice should reach you by the end of the month.",
                                           "Our new address is on the letterhead.",
                                           "I agree with most of the changes you suggested.",
                                           "See you at the conference in March.",
                                           "The printer on the second floor is broken again.",
                                           "Dinner on Saturday sounds great.",
                                           "The board approved the budget with two small changes.",
                                           "Please bring your laptop to the workshop.",
                                           "I forwarded your question to the legal team.",
                                           "Happy birthday, and all the best for the coming year!",
                                           "The minutes from last week are below.",
                                           "Let us keep the deadline as it is for now."};

constexpr std::array<sv, 8> kFromLines = {"From what I remember, the old schedule still applies.",
                                          "From my side everything is ready.",
                                          "From john@example.com Tue Mar  2 10:00:00 2004",
                                          "From the hotel it is a short walk to the station.",
                                          "From ???@???",  // too short to be a separator: its 13th byte is the CR
                                          "From  ???@??? Mon Dec 13 18:45:29 2010",
                                          "From now on please use the new address.",
                                          "From ?? @?? Thu Jan  1 00:00:00 1970"};

constexpr std::array<sv, 5> kFlagSpellings = {"MSG_FLAG_EXPUNGED", "MSG_FLAG_EXPUNGED", "msg_flag_expunged",
                                              "Msg_Flag_Expunged", "MSG_flag_EXPUNGED"};

constexpr std::array<sv, 12> kAttachments = {"report.pdf", "budget.xls",   "IMG_0412.JPG", "minutes.doc",
                                             "slides.ppt", "invoice.pdf",  "photo1.jpg",   "contract.rtf",
                                             "map.gif",    "schedule.xls", "letter.doc",   "Email Attachment Test"};

constexpr std::array<sv, 7> kWeekdays = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};  // day 0 is 1970-01-01
constexpr std::array<sv, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<int, 6> kZoneMinutes = {-360, -300, -480, 0, 60, 120};

struct TCivil {
  int Year, Month, Day, Hour, Minute, Second, Weekday;
};

// Days-from-civil inverse (Howard Hinnant's algorithm); no time-zone database involved.
TCivil ToCivil(std::int64_t unixSeconds)
{
  std::int64_t days = unixSeconds / 86400;
  std::int64_t rest = unixSeconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  TCivil c{};
  c.Weekday = static_cast<int>(((days % 7) + 7) % 7);
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  c.Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  c.Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  c.Year = static_cast<int>(yoe + era * 400 + (c.Month <= 2 ? 1 : 0));
  c.Hour = static_cast<int>(rest / 3600);
  c.Minute = static_cast<int>(rest / 60 % 60);
  c.Second = static_cast<int>(rest % 60);
  return c;
}

// "Mon Dec 13 18:45:29 2010", as ctime writes it.
std::string CtimeText(std::int64_t t)
{
  const TCivil c = ToCivil(t);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s %s %2d %02d:%02d:%02d %d", kWeekdays[c.Weekday].data(),
                kMonths[c.Month - 1].data(), c.Day, c.Hour, c.Minute, c.Second, c.Year);
  return buf;
}

// "Sun, 12 Dec 2010 23:42:55 -0600"
std::string RfcDate(std::int64_t utc, int zoneMinutes)
{
  const TCivil c = ToCivil(utc + zoneMinutes * 60);
  const int z = zoneMinutes < 0 ? -zoneMinutes : zoneMinutes;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%s, %d %s %d %02d:%02d:%02d %c%02d%02d", kWeekdays[c.Weekday].data(), c.Day,
                kMonths[c.Month - 1].data(), c.Year, c.Hour, c.Minute, c.Second, zoneMinutes < 0 ? '-' : '+', z / 60,
                z % 60);
  return buf;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// "J\xFCrgen M\xFCller" -> "j.muller"-like mailbox part: ASCII letters only.
std::string LocalPart(sv first, sv last)
{
  std::string s;
  for (const sv part : {first, sv("."), last})
    for (const char c : part) {
      const auto b = static_cast<unsigned char>(c);
      if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.')
        s += AsciiLower(c);
      else if (b >= 0xC0)
        s += "aaaaaaaceeeeiiiidnooooo/ouuuuyty"[(b - 0xC0) & 31];
    }
  return s;
}

// An RFC 2047 Q-encoded word for Windows-1252 text.
std::string EncodedWord(sv text)
{
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s = "=?iso-8859-1?Q?";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == ' ')
      s += '_';
    else if (b >= 0x80 || c == '=' || c == '?' || c == '_') {
      s += '=';
      s += kHex[b >> 4];
      s += kHex[b & 15];
    } else
      s += c;
  }
  return s + "?=";
}

bool HasEightBit(sv text)
{
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

int CountFlagWords(sv line)
{
  static constexpr sv kFlag = "MSG_FLAG_EXPUNGED";
  int count = 0;
  for (std::size_t i = 0; i + kFlag.size() <= line.size();) {
    std::size_t j = 0;
    while (j < kFlag.size() && AsciiUpper(line[i + j]) == kFlag[j])
      ++j;
    if (j == kFlag.size()) {
      ++count;
      i += kFlag.size();
    } else
      ++i;
  }
  return count;
}

// Windows-1252 letters (all of them Latin-1) as Mac Roman; '?' where Mac Roman has none.
std::string MacRomanLine(sv text)
{
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
      continue;
    }
    const char utf8[] = {static_cast<char>(0xC0 | (b >> 6)), static_cast<char>(0x80 | (b & 0x3F))};
    const std::optional<std::string> mac = Utf8ToMacRoman(sv(utf8, 2));
    out += mac ? *mac : std::string("?");
  }
  return out;
}

// Writes lines with CR LF (CR on the Mac), keeps the byte count, and works out what the scan will
// record: while a header block is open, a line "Name: value" with Name one of the four shown fields
// sets that value.
class TWriter {
public:
  TWriter(std::ostream& out, bool mac) : FOut(out), FMac(mac) { FBuffer.reserve(kFlushAt + (1 << 16)); }
  ~TWriter() { Flush(); }
  TWriter(const TWriter&) = delete;
  TWriter& operator=(const TWriter&) = delete;

  std::int64_t Offset() const { return FOffset; }

  void StartMessage(TGeneratedMessage& message, sv separatorLine)
  {
    FMessage = &message;
    message.StartOffset = FOffset;
    FInHeaders = false;
    Line(separatorLine);
    FInHeaders = true;
  }

  void EndMessage() { FMessage->EndOffset = FOffset; }

  void Line(sv windowsText)
  {
    const std::string mac = FMac ? MacRomanLine(windowsText) : std::string();
    const sv text = FMac ? sv(mac) : windowsText;
    if (FInHeaders) {
      if (text.empty()) {
        FMessage->BodyOffset = FOffset;
        FInHeaders = false;
      } else
        NoteHeader(text);
    }
    FMessage->FlagWords += CountFlagWords(text);
    const sv lineEnd = FMac ? "\r" : "\r\n";
    FBuffer.append(text).append(lineEnd);
    FOffset += static_cast<std::int64_t>(text.size() + lineEnd.size());
    if (FBuffer.size() >= kFlushAt)
      Flush();
  }

  void Flush()
  {
    FOut.write(FBuffer.data(), static_cast<std::streamsize>(FBuffer.size()));
    FBuffer.clear();
  }

private:
  static constexpr std::size_t kFlushAt = std::size_t{1} << 20;

  void NoteHeader(sv line)
  {
    const std::size_t colon = line.find(':');
    if (colon == sv::npos || colon == 0 || line[0] == ' ' || colon + 1 >= line.size() || line[colon + 1] != ' ')
      return;
    for (std::size_t k = 0; k < colon; ++k) {
      const auto b = static_cast<unsigned char>(line[k]);
      if (b < 0x21 || b > 0x7E)
        return;
    }
    std::string name(line.substr(0, colon));
    for (char& c : name)
      c = AsciiUpper(c);
    const sv value = line.substr(colon + 1);
    if (name == "FROM")
      FMessage->From = value;
    else if (name == "TO")
      FMessage->To = value;
    else if (name == "SUBJECT")
      FMessage->Subject = value;
    else if (name == "DATE")
      FMessage->Date = value;
  }

  std::ostream& FOut;
  bool FMac;
  std::string FBuffer;
  std::int64_t FOffset = 0;
  bool FInHeaders = false;
  TGeneratedMessage* FMessage = nullptr;
};

struct TPerson {
  std::string Name;  // Windows-1252
  std::string Address;
};

class TGenerator {
public:
  TGenerator(std::ostream& out, const TMailGenOptions& options)
      : FOptions(options), FRandom(options.Seed), FWriter(out, options.Mac), FClock(1041379200)  // 2003-01-01
  {
    FOwner = Person();
  }

  TMailGenSummary Run(std::vector<TGeneratedMessage>* messages)
  {
    TMailGenSummary summary;
    while (!Done(summary)) {
      TGeneratedMessage message;
      Message(message);
      ++summary.Messages;
      summary.FlagWords += message.FlagWords;
      summary.MessagesWithFlagWord += message.FlagWords > 0 ? 1 : 0;
      summary.MessagesWithoutBlankLine += message.BodyOffset == 0 ? 1 : 0;
      if (messages)
        messages->push_back(std::move(message));
    }
    FWriter.Flush();
    summary.Bytes = FWriter.Offset();
    return summary;
  }

private:
  bool Done(const TMailGenSummary& s) const
  {
    const bool byCount = FOptions.MessageCount > 0 && s.Messages >= FOptions.MessageCount;
    const bool bySize = FOptions.TargetBytes > 0 && FWriter.Offset() >= FOptions.TargetBytes;
    const bool unbounded = FOptions.MessageCount <= 0 && FOptions.TargetBytes <= 0;
    return byCount || bySize || unbounded;
  }

  TPerson Person()
  {
    const sv first = FRandom.Pick(kFirstNames);
    const sv last = FRandom.Pick(kLastNames);
    TPerson p;
    p.Name = std::string(first) + " " + std::string(last);
    p.Address = LocalPart(first, last) + "@" + std::string(FRandom.Pick(kDomains));
    return p;
  }

  // "Name <address>", sometimes as an encoded word or a bare address.
  std::string Mailbox(const TPerson& p)
  {
    const std::int64_t style = FRandom.Below(10);
    if (style == 0)
      return p.Address;
    if (HasEightBit(p.Name) && style <= 3)
      return EncodedWord(p.Name) + " <" + p.Address + ">";
    if (p.Name.find('\'') != std::string::npos || style == 4)
      return "\"" + p.Name + "\" <" + p.Address + ">";
    return p.Name + " <" + p.Address + ">";
  }

  std::string Hex(int digits)
  {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string s;
    std::uint64_t bits = FRandom.Next();
    for (int i = 0; i < digits; ++i) {
      if (i % 16 == 15)
        bits = FRandom.Next();
      s += kHex[bits & 15];
      bits >>= 4;
    }
    return s;
  }

  std::string Ip()
  {
    return std::to_string(FRandom.Between(10, 220)) + "." + std::to_string(FRandom.Below(256)) + "." +
           std::to_string(FRandom.Below(256)) + "." + std::to_string(FRandom.Between(1, 254));
  }

  std::string Sentence()
  {
    if (FRandom.PerMille(450))
      return std::string(FRandom.Pick(kSentences));
    std::string s;
    const std::int64_t words = FRandom.Between(4, 16);
    for (std::int64_t i = 0; i < words; ++i) {
      std::string w(FRandom.Pick(kWords));
      if (i == 0)
        w[0] = AsciiUpper(w[0]);
      else
        s += ' ';
      s += w;
      if (i + 1 < words && FRandom.PerMille(60))
        s += ',';
    }
    static constexpr std::array<char, 6> kEnds = {'.', '.', '.', '.', '?', '!'};
    return s + FRandom.Pick(kEnds);
  }

  // A paragraph wrapped at 72 columns, each line prefixed with quote.
  void Paragraph(std::int64_t sentences, sv quote, int& flagBudget)
  {
    std::string line(quote);
    auto put = [&](const std::string& word) {
      if (line.size() > quote.size() && line.size() + 1 + word.size() > 72) {
        FWriter.Line(line);
        line.assign(quote);
      }
      if (line.size() > quote.size())
        line += ' ';
      line += word;
    };
    for (std::int64_t i = 0; i < sentences; ++i) {
      std::string sentence = Sentence();
      if (flagBudget > 0 && FRandom.PerMille(300)) {
        --flagBudget;
        sentence = "The old copy still says " + std::string(FRandom.Pick(kFlagSpellings)) + " next to it.";
      }
      std::size_t from = 0;
      while (from < sentence.size()) {
        std::size_t space = sentence.find(' ', from);
        if (space == std::string::npos)
          space = sentence.size();
        put(sentence.substr(from, space - from));
        from = space + 1;
      }
    }
    if (line.size() > quote.size())
      FWriter.Line(line);
  }

  void Received(const TPerson& to, std::int64_t t, int zone)
  {
    const sv relay = FRandom.Pick(kRelays);
    const sv inner = FRandom.Pick(kRelays);
    FWriter.Line("Received: from " + std::string(relay) + " (" + std::string(relay) + " [" + Ip() + "])");
    FWriter.Line("\tby " + std::string(inner) + " (8.13.8/8.13.8) with ESMTP id o" + Hex(13));
    FWriter.Line("\tfor <" + to.Address + ">; " + RfcDate(t, zone));
  }

  void Base64Block(std::int64_t bytes)
  {
    static constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string line(76, 'A');
    for (std::int64_t done = 0; done < bytes; done += 78) {
      std::uint64_t bits = FRandom.Next();
      for (std::size_t i = 0; i < line.size(); ++i) {
        if (i % 10 == 9)
          bits = FRandom.Next();
        line[i] = kB64[bits & 63];
        bits >>= 6;
      }
      FWriter.Line(line);
    }
  }

  void Message(TGeneratedMessage& message)
  {
    FClock += FRandom.Between(20, 600);
    const int zone = FRandom.Pick(kZoneMinutes);
    const std::int64_t sent = FClock - FRandom.Between(5, 900);
    const bool incoming = !FRandom.PerMille(150);
    const TPerson other = Person();
    const TPerson& from = incoming ? other : FOwner;
    const TPerson& to = incoming ? FOwner : other;
    const bool openHeaders = FRandom.PerMille(FOptions.NoBlankLinePerMille);
    const bool flagged = FRandom.PerMille(FOptions.FlagWordPerMille);
    int flagBudget = flagged ? 1 : 0;

    FWriter.StartMessage(message, "From ???@??? " + CtimeText(FClock));
    FWriter.Line("Return-Path: <" + from.Address + ">");
    for (std::int64_t i = FRandom.Between(1, 4); i > 0; --i)
      Received(to, sent + i * FRandom.Between(1, 20), zone);

    std::string subject(FRandom.Pick(kSubjects));
    const bool reply = FRandom.PerMille(350);
    if (reply)
      subject = (FRandom.PerMille(850) ? "Re: " : "AW: ") + subject;
    else if (FRandom.PerMille(80))
      subject = "Fwd: " + subject;

    // Header order varies between mail programs; the four shown fields come in two orders.
    const std::string date = "Date: " + RfcDate(sent, zone);
    const std::string fromLine = "From: " + Mailbox(from);
    const std::string toLine = "To: " + Mailbox(to);
    std::string subjectLine =
        "Subject: " + (HasEightBit(subject) && FRandom.PerMille(500) ? EncodedWord(subject) : subject);
    const std::string messageId =
        "Message-ID: <" + Hex(12) + "." + Hex(6) + "@" + std::string(FRandom.Pick(kDomains)) + ">";
    if (FRandom.PerMille(700)) {
      FWriter.Line(date);
      FWriter.Line(fromLine);
      FWriter.Line(toLine);
      if (FRandom.PerMille(150))
        FWriter.Line("Cc: " + Mailbox(Person()));
      FWriter.Line(subjectLine);
      FWriter.Line(messageId);
    } else {
      FWriter.Line(fromLine);
      FWriter.Line(toLine);
      FWriter.Line(messageId);
      if (FRandom.PerMille(100)) {  // a long subject, folded
        FWriter.Line(subjectLine + " and the follow-up");
        FWriter.Line("\tquestions from last week");
      } else
        FWriter.Line(subjectLine);
      FWriter.Line(date);
    }
    if (reply)
      FWriter.Line("In-Reply-To: <" + Hex(12) + "@" + std::string(FRandom.Pick(kDomains)) + ">");

    const bool attachments = FRandom.PerMille(FOptions.AttachmentPerMille);
    const bool large = FRandom.PerMille(FOptions.LargePerMille);
    FWriter.Line("MIME-Version: 1.0");
    if (attachments || large) {
      FWriter.Line("Content-Type: multipart/mixed;");
      FWriter.Line("\tboundary=\"------------" + Hex(24) + "\"");
    } else {
      FWriter.Line(FRandom.PerMille(500) ? "Content-Type: text/plain; charset=\"iso-8859-1\""
                                         : "Content-Type: text/plain; charset=us-ascii; format=flowed");
      FWriter.Line(FRandom.PerMille(500) ? "Content-Transfer-Encoding: 8bit" : "Content-Transfer-Encoding: 7bit");
    }
    if (flagBudget > 0 && FRandom.PerMille(400)) {
      --flagBudget;
      FWriter.Line("X-Flags: " + std::string(FRandom.Pick(kFlagSpellings)));
    }
    FWriter.Line("X-UIDL: " + Hex(32));
    FWriter.Line(FRandom.PerMille(500) ? "Status: U" : "Status:   ");
    if (!openHeaders)
      FWriter.Line("");

    if (openHeaders) {
      // No blank line may follow, or it would close the header block after all.
      Paragraph(FRandom.Between(2, 12), "", flagBudget);
    } else {
      Body(from, to, sent, zone, reply, flagBudget);
      if (attachments)
        for (std::int64_t i = FRandom.Between(1, 3); i > 0; --i) {
          FWriter.Line("");
          FWriter.Line("Attachment Converted: \"C:\\Documents and Settings\\" +
                       FOwner.Address.substr(0, FOwner.Address.find('@')) +
                       "\\Application Data\\Qualcomm\\Eudora\\attach\\" + std::string(FRandom.Pick(kAttachments)) +
                       "\"");
        }
      if (large) {
        FWriter.Line("");
        FWriter.Line("--------------" + Hex(24));
        FWriter.Line("Content-Type: application/octet-stream; name=\"archive.zip\"");
        FWriter.Line("Content-Transfer-Encoding: base64");
        FWriter.Line("");
        Base64Block(FRandom.Between(64 << 10, 512 << 10));
      }
    }
    if (flagBudget > 0)  // whatever the paragraphs did not place
      FWriter.Line(std::string(FRandom.Pick(kFlagSpellings)));
    FWriter.EndMessage();
  }

  void Body(const TPerson& from, const TPerson& to, std::int64_t sent, int zone, bool reply, int& flagBudget)
  {
    // Mostly short notes, some letters, a few long threads.
    const std::int64_t kind = FRandom.Below(100);
    const std::int64_t paragraphs = kind < 55   ? FRandom.Between(1, 3)
                                    : kind < 90 ? FRandom.Between(3, 8)
                                                : FRandom.Between(10, 40);
    const std::string greeting = to.Name.substr(0, to.Name.find(' '));
    FWriter.Line(FRandom.PerMille(500) ? "Hi " + greeting + "," : "Dear " + greeting + ",");
    FWriter.Line("");
    for (std::int64_t i = 0; i < paragraphs; ++i) {
      Paragraph(FRandom.Between(1, 6), "", flagBudget);
      if (FRandom.PerMille(FOptions.FromLinePerMille))
        FWriter.Line(std::string(FRandom.Pick(kFromLines)));
      FWriter.Line("");
    }
    FWriter.Line(FRandom.PerMille(500) ? "Best regards," : "Thanks,");
    FWriter.Line(from.Name.substr(0, from.Name.find(' ')));
    if (FRandom.PerMille(400)) {
      FWriter.Line("");
      FWriter.Line("-- ");
      FWriter.Line(from.Name);
      FWriter.Line(from.Address);
    }
    if (reply) {
      FWriter.Line("");
      FWriter.Line("At " + RfcDate(sent - FRandom.Between(3600, 400000), zone) + ", " + to.Name + " wrote:");
      for (std::int64_t i = FRandom.Between(1, 4); i > 0; --i) {
        Paragraph(FRandom.Between(1, 4), "> ", flagBudget);
        FWriter.Line(">");
      }
    }
  }

  const TMailGenOptions& FOptions;
  TRandom FRandom;
  TWriter FWriter;
  std::int64_t FClock;
  TPerson FOwner;
};

}  // namespace

TMailGenSummary GenerateMailbox(std::ostream& out, const TMailGenOptions& options,
                                std::vector<TGeneratedMessage>* messages)
{
  TGenerator generator(out, options);
  return generator.Run(messages);
}

std::vector<int> GenerateWindowsIndex(std::ostream& out, const std::vector<TGeneratedMessage>& messages,
                                      std::int64_t mailboxBytes, std::string_view mailboxName, int leaveOutPerMille,
                                      std::uint64_t seed)
{
  constexpr std::size_t kHeader = 104, kEntry = 218;
  auto put = [](std::string& bytes, std::size_t at, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i)
      bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
  };
  auto text = [](std::string& bytes, std::size_t at, std::string_view value, std::size_t room) {
    // NUL-terminated within its field; the scan keeps the header value's leading space.
    if (!value.empty() && value.front() == ' ')
      value.remove_prefix(1);
    bytes.replace(at, std::min(value.size(), room - 1), value.substr(0, room - 1));
  };
  TRandom random(seed);
  std::vector<int> states(messages.size(), -1);
  for (int& state : states) {
    if (random.PerMille(leaveOutPerMille))
      continue;
    // Mostly read, as in a mailbox someone works in.
    state = random.PerMille(700) ? 1 : static_cast<int>(random.Below(13));
  }
  const auto listed =
      static_cast<std::uint64_t>(std::count_if(states.begin(), states.end(), [](int s) { return s >= 0; }));
  std::string header(kHeader, '\0');
  text(header, 8, mailboxName, 32);
  put(header, 96, static_cast<std::uint64_t>(mailboxBytes + 1), 4);
  put(header, 102, listed & 0xFFFF, 2);  // the field has 16 bits; larger counts wrap
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  std::string entry;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    if (states[i] < 0)
      continue;
    const TGeneratedMessage& m = messages[i];
    entry.assign(kEntry, '\0');
    put(entry, 0, static_cast<std::uint64_t>(m.StartOffset), 4);
    put(entry, 4, static_cast<std::uint64_t>(m.EndOffset - m.StartOffset), 4);
    put(entry, 12, static_cast<std::uint64_t>(states[i]), 2);
    entry[16] = 3;  // normal priority
    text(entry, 18, m.Date, 28);
    text(entry, 50, m.From, 64);
    text(entry, 114, m.Subject, 64);
    out.write(entry.data(), static_cast<std::streamsize>(entry.size()));
  }
  return states;
}

std::int64_t ParseSize(const std::string& text)
{
  std::size_t used = 0;
  long long value = 0;
  try {
    value = std::stoll(text, &used);
  } catch (const std::exception&) {
    throw std::invalid_argument("not a size: " + text);
  }
  std::string unit = text.substr(used);
  for (char& c : unit)
    c = AsciiUpper(c);
  int shift = 0;
  if (unit == "K" || unit == "KB" || unit == "KIB")
    shift = 10;
  else if (unit == "M" || unit == "MB" || unit == "MIB")
    shift = 20;
  else if (unit == "G" || unit == "GB" || unit == "GIB")
    shift = 30;
  else if (!unit.empty() && unit != "B")
    throw std::invalid_argument("not a size: " + text);
  if (value < 0 || value > (std::int64_t{1} << (62 - shift)))
    throw std::invalid_argument("size out of range: " + text);
  return static_cast<std::int64_t>(value) << shift;
}

}  // namespace quillmend::mailgen

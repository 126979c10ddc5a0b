#include "mime/maildate.h"

#include "base/ascii.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace quillmend {

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }
bool Letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The value cut into words at blanks and commas, comments (nested ones too) left out.
std::vector<std::string_view> Words(std::string_view value)
{
  std::vector<std::string_view> words;
  int depth = 0;
  std::size_t start = std::string_view::npos;
  auto end = [&](std::size_t at) {
    if (start != std::string_view::npos)
      words.push_back(value.substr(start, at - start));
    start = std::string_view::npos;
  };
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '(') {
      end(i);
      ++depth;
    } else if (c == ')' && depth > 0) {
      --depth;
    } else if (depth > 0) {
      if (c == '\\')
        ++i;
    } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',') {
      end(i);
    } else if (start == std::string_view::npos) {
      start = i;
    }
  }
  end(value.size());
  return words;
}

std::optional<int> Number(std::string_view text, std::size_t least, std::size_t most)
{
  if (text.size() < least || text.size() > most)
    return std::nullopt;
  int n = 0;
  for (const char c : text) {
    if (!Digit(c))
      return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

std::optional<int> Month(std::string_view word)
{
  static constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                               "jul", "aug", "sep", "oct", "nov", "dec"};
  for (std::size_t m = 0; m < kMonths.size(); ++m)
    if (EqualNoCase(word, kMonths[m]))
      return static_cast<int>(m) + 1;
  return std::nullopt;
}

bool Weekday(std::string_view word)
{
  // "Sun" and "Sunday" alike
  for (const char c : word)
    if (!Letter(c))
      return false;
  for (const std::string_view day : {"mon", "tue", "wed", "thu", "fri", "sat", "sun"})
    if (word.size() >= 3 && EqualNoCase(word.substr(0, 3), day))
      return true;
  return false;
}

// Minutes east of UTC.
std::optional<int> Zone(std::string_view word)
{
  if ((word[0] == '+' || word[0] == '-') && word.size() == 5) {
    const std::optional<int> hhmm = Number(word.substr(1), 4, 4);
    if (!hhmm || *hhmm % 100 > 59)
      return std::nullopt;
    const int minutes = *hhmm / 100 * 60 + *hhmm % 100;
    return word[0] == '-' ? -minutes : minutes;
  }
  struct TNamed {
    std::string_view Name;
    int Hours;
  };
  static constexpr TNamed kNamed[] = {{"ut", 0},   {"gmt", 0},  {"utc", 0},  {"z", 0},    {"est", -5}, {"edt", -4},
                                      {"cst", -6}, {"cdt", -5}, {"mst", -7}, {"mdt", -6}, {"pst", -8}, {"pdt", -7}};
  for (const TNamed& zone : kNamed)
    if (EqualNoCase(word, zone.Name))
      return zone.Hours * 60;
  for (const char c : word)
    if (!Letter(c))
      return std::nullopt;
  return 0;  // military letters and other names: their meaning was never agreed on
}

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int year, int month)
{
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int y, int m, int d)
{
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * static_cast<unsigned>(m > 2 ? m - 3 : m + 9) + 2) / 5 + static_cast<unsigned>(d) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct TCivil {
  int Year, Month, Day, Hour, Minute, Second;
  unsigned Weekday;  // 0 Sunday
};

TCivil CivilOf(std::int64_t instant)
{
  using namespace std::chrono;
  const sys_seconds time{seconds{instant}};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  return {static_cast<int>(date.year()),
          static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day())),
          static_cast<int>(clock.hours().count()),
          static_cast<int>(clock.minutes().count()),
          static_cast<int>(clock.seconds().count()),
          weekday{day}.c_encoding()};
}

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string TwoDigits(int value)
{
  std::string digits(value < 10 ? "0" : "");
  digits += std::to_string(value);
  return digits;
}

}  // namespace

std::string MailDate(std::int64_t instant, int zoneMinutes)
{
  const TCivil t = CivilOf(instant + std::int64_t{zoneMinutes} * 60);
  const int zone = zoneMinutes < 0 ? -zoneMinutes : zoneMinutes;
  return std::string(kWeekdays[t.Weekday]) + ", " + std::to_string(t.Day) + " " + kMonths[t.Month - 1] + " " +
         std::to_string(t.Year) + " " + TwoDigits(t.Hour) + ":" + TwoDigits(t.Minute) + ":" + TwoDigits(t.Second) +
         " " + (zoneMinutes < 0 ? "-" : "+") + TwoDigits(zone / 60) + TwoDigits(zone % 60);
}

std::string SeparatorTime(std::int64_t instant)
{
  const TCivil t = CivilOf(instant);
  return std::string(kWeekdays[t.Weekday]) + " " + kMonths[t.Month - 1] + " " + (t.Day < 10 ? " " : "") +
         std::to_string(t.Day) + " " + TwoDigits(t.Hour) + ":" + TwoDigits(t.Minute) + ":" + TwoDigits(t.Second) +
         " " + std::to_string(t.Year);
}

std::string ImapDateTime(std::int64_t instant)
{
  const TCivil t = CivilOf(instant);
  char text[40];
  std::snprintf(text, sizeof text, "%02d-%s-%04d %02d:%02d:%02d +0000", t.Day, kMonths[t.Month - 1], t.Year, t.Hour,
                t.Minute, t.Second);
  return text;
}

std::string CompactTime(std::int64_t instant)
{
  const TCivil t = CivilOf(instant);
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second);
  return text;
}

std::optional<std::int64_t> MailDateInstant(std::string_view value)
{
  std::vector<std::string_view> words = Words(value);
  std::size_t at = 0;
  if (at < words.size() && Weekday(words[at]))
    ++at;
  if (words.size() < at + 4)
    return std::nullopt;
  const std::optional<int> day = Number(words[at], 1, 2);
  const std::optional<int> month = Month(words[at + 1]);
  std::optional<int> year = Number(words[at + 2], 2, 4);
  if (!day || !month || !year)
    return std::nullopt;
  if (words[at + 2].size() == 2)
    *year += *year < 50 ? 2000 : 1900;
  else if (words[at + 2].size() == 3)
    *year += 1900;
  if (*day < 1 || *day > DaysInMonth(*year, *month))
    return std::nullopt;

  const std::string_view time = words[at + 3];
  const std::size_t colon1 = time.find(':');
  const std::size_t colon2 = colon1 == std::string_view::npos ? colon1 : time.find(':', colon1 + 1);
  const std::optional<int> hour = Number(time.substr(0, colon1), 1, 2);
  const std::optional<int> minute =
      colon1 == std::string_view::npos ? std::nullopt : Number(time.substr(colon1 + 1, colon2 - colon1 - 1), 2, 2);
  const std::optional<int> second = colon2 == std::string_view::npos ? 0 : Number(time.substr(colon2 + 1), 2, 2);
  if (!hour || !minute || !second || *hour > 23 || *minute > 59 || *second > 59)
    return std::nullopt;

  int zone = 0;
  if (words.size() > at + 4) {
    const std::optional<int> named = Zone(words[at + 4]);
    if (!named)
      return std::nullopt;
    zone = *named;
  }
  return DaysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second -
         static_cast<std::int64_t>(zone) * 60;
}

}  // namespace quillmend

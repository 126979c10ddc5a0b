#include "cli/cli.h"

#include "cli/commands.h"
#include "mail/bodypart.h"
#include "mail/eudora.h"
#include "search/codepage.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <iterator>

#ifndef QUILLMEND_VERSION
#  define QUILLMEND_VERSION "5.0"
#endif

namespace quillmend::cli {

namespace {

constexpr const char* kUsage =
    "Usage: quillmend-cli COMMAND ...\n"
    "Finds every message in Eudora mailbox files (*.mbx), also those the mail client no longer shows.\n"
    "\n"
    "Commands:\n"
    "  list MAILBOX [--keyword WORD] [--format table|tsv|json]\n"
    "      One row per message in file order: index, date, from, to, subject.\n"
    "      tsv: index, start, body and end offsets, then the four header values as bytes,\n"
    "      with \\\\ \\t \\r \\n \\0 escaped. --keyword keeps the messages whose body holds WORD.\n"
    "  show MAILBOX N\n"
    "      Writes the body of message N as it stands in the file.\n"
    "  export MAILBOX FOLDER [--keyword WORD] [--messages 0,3,7-12] [--overwrite]\n"
    "      Writes each message to FOLDER/RecoveredEmail<N>.eml, MSG_FLAG_EXPUNGED turned into\n"
    "      MSG_FLAG_MARKED. Exit status 0 only when every file was written.\n"
    "  find [--null|-0] [ROOT...]\n"
    "      Prints the path of every *.mbx below the roots, or on every fixed drive; exit status 1\n"
    "      when a named root cannot be searched.\n"
    "\n"
    "Options: --help (also after a command), --version; every word after \"--\" is an argument.\n"
    "Exit status: 0 done, 1 failed, 2 bad command line.\n";

}  // namespace

TArgs::TArgs(const std::vector<std::string>& words, const std::vector<std::string>& optionNames,
             const std::vector<std::string>& flagNames)
{
  bool optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (!optionsEnded && word == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && word == "--help") {
      throw THelpWanted();
    } else if (!optionsEnded && word.size() > 2 && word.starts_with("--")) {
      const std::size_t equals = word.find('=');
      const std::string name = word.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
      if (std::find(flagNames.begin(), flagNames.end(), name) != flagNames.end()) {
        if (equals != std::string::npos)
          throw TUsageError("option --" + name + " takes no value");
        FFlags.push_back(name);
        continue;
      }
      if (std::find(optionNames.begin(), optionNames.end(), name) == optionNames.end())
        throw TUsageError("unknown option --" + name);
      if (equals != std::string::npos)
        FOptions.emplace_back(name, word.substr(equals + 1));
      else if (i + 1 < words.size())
        FOptions.emplace_back(name, words[++i]);
      else
        throw TUsageError("option --" + name + " needs a value");
    } else {
      // An empty word would name the current folder, or nothing at all.
      if (word.empty())
        throw TUsageError("an empty argument (\"\") names nothing");
      FPositionals.push_back(word);
    }
  }
}

std::optional<std::string> TArgs::Option(const std::string& name) const
{
  std::optional<std::string> value;
  for (const auto& [n, v] : FOptions)
    if (n == name)
      value = v;
  return value;
}

bool TArgs::Flag(const std::string& name) const
{
  return std::find(FFlags.begin(), FFlags.end(), name) != FFlags.end();
}

void TArgs::ExpectPositionals(std::size_t least, std::size_t most) const
{
  if (FPositionals.size() < least)
    throw TUsageError("missing arguments");
  if (FPositionals.size() > most)
    throw TUsageError("unexpected argument \"" + FPositionals[most] + "\"");
}

void TTerminalProgress::Draw(int percent)
{
  constexpr int kWidth = 30;
  const int filled = std::clamp(percent, 0, 100) * kWidth / 100;
  FErr << '\r' << FTitle << " [" << std::string(static_cast<std::size_t>(filled), '#')
       << std::string(static_cast<std::size_t>(kWidth - filled), ' ') << "] " << percent << "%" << std::flush;
}

void TTerminalProgress::Closed()
{
  FErr << '\r' << std::string(FTitle.size() + 40, ' ') << '\r' << std::flush;
}

std::optional<TTerminalProgress> ProgressFor(const TCommand& command, const char* title)
{
  if (!command.ShowProgress)
    return std::nullopt;
  return std::optional<TTerminalProgress>(std::in_place, command.Err, title);
}

std::filesystem::path PathFromArg(const std::string& utf8)
{
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

TEmailArray Scan(const TCommand& command, const std::filesystem::path& mailbox, TFileIdentity& identity)
{
  auto bar = ProgressFor(command, "Scanning");
  TEmailArray emails;
  TEudorafile().LoadEmails(mailbox, emails, Observer(bar), &identity);
  return emails;
}

std::vector<std::size_t> Select(const TCommand& command, const std::filesystem::path& mailbox,
                                const TEmailArray& emails, const std::optional<std::string>& keyword,
                                const TFileIdentity& scanned)
{
  if (keyword) {
    if (keyword->empty())
      throw TUsageError("the keyword is empty");
    // Typed as UTF-8, searched as the Windows-1252 bytes mail holds; a word that code page cannot
    // hold matches nothing, as in the window, which is said since an empty list alone does not
    // tell why.
    const std::optional<std::string> bytes = Utf8ToCp1252(*keyword);
    if (!bytes) {
      command.Err << "quillmend-cli: the keyword \"" << *keyword
                  << "\" has characters that Windows-1252 mail cannot hold; no message matches\n";
      return {};
    }
    auto bar = ProgressFor(command, "Filtering");
    return FilterEmails(mailbox, emails, *bytes, Observer(bar), &scanned);
  }
  std::vector<std::size_t> all(emails.size());
  for (std::size_t i = 0; i < all.size(); ++i)
    all[i] = i;
  return all;
}

TMessageList::TMessageList(const std::string& text)
{
  auto number = [&](std::string_view part) {
    std::size_t value = 0;
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (part.empty() || ec != std::errc() || end != part.data() + part.size())
      throw TUsageError("cannot read the message list \"" + text + "\"");
    return value;
  };
  for (std::string_view rest = text;;) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const std::size_t dash = item.find('-');
    const std::size_t first = number(item.substr(0, dash));
    const std::size_t last = dash == std::string_view::npos ? first : number(item.substr(dash + 1));
    if (last < first)
      throw TUsageError("cannot read the message list \"" + text + "\"");
    FRanges.push_back({first, last});
    if (comma == std::string_view::npos)
      break;
    rest.remove_prefix(comma + 1);
  }
  FMerged = FRanges;
  std::sort(FMerged.begin(), FMerged.end(), [](const TRange& a, const TRange& b) { return a.First < b.First; });
  std::size_t kept = 0;
  for (const TRange& range : FMerged) {
    if (kept > 0 && range.First <= FMerged[kept - 1].Last)
      FMerged[kept - 1].Last = std::max(FMerged[kept - 1].Last, range.Last);
    else
      FMerged[kept++] = range;
  }
  FMerged.resize(kept);
}

std::optional<std::size_t> TMessageList::FirstBeyond(std::size_t count) const
{
  for (const TRange& range : FRanges)
    if (range.Last >= count)
      return std::max(range.First, count);
  return std::nullopt;
}

bool TMessageList::Contains(std::size_t index) const
{
  // The last merged range that starts at or before index.
  const auto after = std::upper_bound(FMerged.begin(), FMerged.end(), index,
                                      [](std::size_t i, const TRange& range) { return i < range.First; });
  return after != FMerged.begin() && index <= std::prev(after)->Last;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress)
{
  if (args.empty()) {
    err << kUsage;
    return kExitUsage;
  }
  const std::string& name = args.front();
  if (name == "--help" || name == "-h" || name == "help") {
    out << kUsage;
    return kExitOk;
  }
  if (name == "--version") {
    out << "quillmend-cli " << QUILLMEND_VERSION << "\n";
    return kExitOk;
  }
  const TCommand command{std::vector<std::string>(args.begin() + 1, args.end()), out, err, showProgress};
  try {
    if (name == "list")
      return RunList(command);
    if (name == "show")
      return RunShow(command);
    if (name == "export")
      return RunExport(command);
    if (name == "find")
      return RunFind(command);
    throw TUsageError("unknown command \"" + name + "\"");
  } catch (const THelpWanted&) {
    out << kUsage;
    return kExitOk;
  } catch (const TUsageError& e) {
    err << "quillmend-cli: " << e.what() << "\nTry 'quillmend-cli --help'.\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    out.flush();
    err << "quillmend-cli: " << e.what() << "\n";
    return kExitFailure;
  }
}

}  // namespace quillmend::cli

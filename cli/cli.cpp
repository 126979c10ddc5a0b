#include "cli/cli.h"

#include "base/version.h"
#include "cli/commands.h"
#include "cli/interrupt.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <iterator>
#include <limits>

namespace quillmend::cli {

namespace {

// The commands: this table both dispatches and writes the help, so neither can forget one.
const std::vector<TCommandEntry>& Commands()
{
  static const std::vector<TCommandEntry> commands = {
      {"list",
       "MAILBOX",
       1,
       1,
       "One row per message in file order: index, date, from, to, status, subject; the table and\n"
       "JSON show names and subjects decoded.\n"
       "tsv: index, start, body and end offsets, then the four header values as bytes,\n"
       "with \\\\ \\t \\r \\n \\0 escaped. A line on stderr says what the mail client's index\n"
       "(NAME.toc, or ._NAME on a Mac) lists; a damaged index is a warning, not a failure.",
       {{"keyword", "WORD", "keep the messages whose body holds WORD, in any letter case"},
        {"format", "table|tsv|json", "the table (the default), tab-separated values or JSON"},
        {"status", nullptr, "tsv: a ninth column, the index's state (unread, read, ..., not-in-index, no-index)"},
        {"not-in-index", nullptr, "keep the messages the index does not list: the deleted ones"},
        {"sort", "date|from|to|subject|index", "in this column's order, as the window sorts it"},
        {"reverse", nullptr, "in the opposite order"},
        {"threads", "N", "scan and filter on N threads (the default: one for each core)"}},
       RunList},
      {"show",
       "MAILBOX N",
       2,
       2,
       "Writes message N whole, headers included, as text for a terminal: in UTF-8, each line\n"
       "ending in a line break (a Mac mailbox's CR too), a zero byte as a symbol.",
       {{"raw", nullptr, "write the message's bytes exactly as they stand in the file"}},
       RunShow},
      {"export",
       "MAILBOX (FOLDER | --mbox FILE)",
       1,
       2,
       "Writes each message to FOLDER/RecoveredEmail<N>.eml, MSG_FLAG_EXPUNGED turned into\n"
       "MSG_FLAG_MARKED. A different file of that name is kept: the message goes to\n"
       "RecoveredEmail<N> (2).eml. Exit status 0 only when every file was written.\n"
       "With --rebuild or --mbox the messages are rebuilt for mail programs, attachments and\n"
       "images joined again; exit status 1 also when an attachment was not found.",
       {{"keyword", "WORD", "export the messages whose body holds WORD"},
        {"messages", "0,3,7-12", "export only these messages"},
        {"not-in-index", nullptr, "export only the messages the mail client's index does not list"},
        {"overwrite", nullptr, "replace files of the same name"},
        {"rebuild", nullptr, "write standard MIME messages that mail programs open whole"},
        {"mbox", "FILE",
         "write the rebuilt messages into one mbox file FILE (- for standard output), in place of FOLDER"},
        {"attachments", "DIR",
         "look for attachment and image files in DIR too, and in its attach/ and Embedded/ (may be given more than once)"}},
       RunExport},
      {"convert",
       "EUDORA_FOLDER (--maildir DIR | --mbox-tree DIR | --eml-tree DIR | --imap URL)",
       1,
       1,
       "Converts a whole Eudora mail folder (Windows: the folder with descmap.pce; Mac: the one\n"
       "holding Mail Folder) in one step: every mailbox in its tree of folders, with the read,\n"
       "replied and forwarded states, labels (as keywords) and dates of its index, attachments\n"
       "and images joined, and the deleted mail (not in the index, or only in a backup) in a\n"
       "folder Recovered that repeats the tree. In becomes INBOX, Out becomes Sent. Running it\n"
       "again, also after a run cut short, adds only what is missing. Ends with a table per\n"
       "mailbox; exit status 0 only when every message was written.\n"
       "--imap uploads into a mail account instead: imaps://USER@HOST[:PORT][/FOLDER], or imap://\n"
       "(STARTTLS when offered; without TLS only to this machine). The password is asked for, or\n"
       "taken from QUILLMEND_IMAP_PASSWORD; never from the command line. Each message goes up\n"
       "once: those the account holds already (by their X-Quillmend-Id header) are not sent again."
#ifndef QUILLMEND_HAVE_IMAP
       "\nThis build has no IMAP (built without libetpan, as on Windows): --imap fails."
#endif
       ,
       {{"maildir", "DIR", "write Maildir++ as IMAP servers (Dovecot, Courier) keep it"},
        {"mbox-tree", "DIR", "write Thunderbird's Local Folders: an mbox file a folder, children in NAME.sbd/"},
        {"eml-tree", "DIR", "write a folder of .eml files for each mailbox"},
        {"imap", "URL", "upload into the IMAP account imaps://USER@HOST[:PORT][/FOLDER] (or imap://)"},
        {"imap-ca-file", "FILE", "--imap: trust the certificates in FILE (PEM) instead of the system's"},
        {"allow-plaintext", nullptr, "--imap: allow a password without TLS to a server other than this machine"},
        {"oauth2-token-command", "CMD",
         "--imap: log in with AUTHENTICATE XOAUTH2, the token what CMD prints (run at each login)"},
        {"deleted", "separate|same|skip",
         "deleted mail into the folder Recovered (the default), beside the live mail with the keyword Recovered, or left out"},
        {"attachments", "DIR", "look for attachment and image files in DIR too (may be given more than once)"},
        {"dry-run", nullptr, "read everything and print the table, write nothing"}},
       RunConvert},
      {"carve",
       "SOURCE [FOLDER | --mbox FILE]",
       1,
       2,
       "Searches the raw bytes of SOURCE (a disk or partition device, a raw dd image, an EnCase\n"
       ".E01 image, or any file) for Eudora messages wherever they stand, also in the space that\n"
       "compacting a mailbox or emptying Trash freed. Lists each distinct message once: its offset,\n"
       "length, whether it is complete or was cut, its copies and where each lies (a file of the\n"
       "volume, or free space). With FOLDER writes them as export does, a cut one as\n"
       "RecoveredEmail<N>.incomplete.eml. SOURCE is only read. Overwritten clusters are gone: make an\n"
       "image first (dd, ddrescue) and search the image."
#ifndef QUILLMEND_HAVE_TSK
       "\nThis build reads no file systems (built without The Sleuth Kit): every place is unknown."
#endif
       ,
       {{"format", "table|tsv|json", "how to list the messages (table by default)"},
        {"lost-only", nullptr, "only the messages that no live mailbox file on SOURCE holds"},
        {"overwrite", nullptr, "replace files of the same name"},
        {"rebuild", nullptr, "write standard MIME messages that mail programs open whole"},
        {"mbox", "FILE", "write the rebuilt messages into one mbox file FILE (- for standard output)"},
        {"attachments", "DIR", "look for attachment and image files in DIR too (may be given more than once)"}},
       RunCarve},
      {"find",
       "[ROOT...]",
       0,
       std::numeric_limits<std::size_t>::max(),
       "Prints the path of every Eudora mailbox below the roots, or on every fixed drive: NAME.mbx,\n"
       "its backups NAME.mbx.001..., and Mac mailboxes (files without extension that start as one);\n"
       "exit status 1 when a named root cannot be searched.",
       {{"null", nullptr, "end each path with a zero byte instead of a line break", "-0"}},
       RunFind},
  };
  return commands;
}

std::string OptionsSynopsis(const TCommandEntry& entry)
{
  std::string text;
  for (const TOptionEntry& option : entry.Options) {
    text += std::string(" [--") + option.Name;
    if (option.Alias)
      text += std::string("|") + option.Alias;
    if (option.Value)
      text += std::string(" ") + option.Value;
    text += "]";
  }
  return text;
}

std::string Indented(const char* text, const char* indent)
{
  std::string out = indent;
  for (const char* c = text; *c; ++c) {
    out += *c;
    if (*c == '\n')
      out += indent;
  }
  return out + "\n";
}

std::string Usage()
{
  std::string text = "Usage: quillmend-cli COMMAND ...\n"
                     "Finds every message in Eudora mailbox files (NAME.mbx, its backups, Mac mailboxes), also\n"
                     "those the mail client no longer shows.\n"
                     "\n"
                     "Commands:\n";
  for (const TCommandEntry& entry : Commands())
    text += std::string("  ") + entry.Name + " " + entry.Arguments + OptionsSynopsis(entry) + "\n" +
            Indented(entry.Description, "      ");
  return text + "\n"
                "Options: --help (also after a command), --version; every word after \"--\" is an argument.\n"
                "Exit status: 0 done, 1 failed, 2 bad command line.\n";
}

std::string CommandHelp(const TCommandEntry& entry)
{
  std::string text = std::string("Usage: quillmend-cli ") + entry.Name + " " + entry.Arguments +
                     OptionsSynopsis(entry) + "\n" + Indented(entry.Description, "  ");
  if (!entry.Options.empty()) {
    text += "\nOptions:\n";
    for (const TOptionEntry& option : entry.Options) {
      std::string name = std::string("  --") + option.Name + (option.Alias ? std::string(", ") + option.Alias : "") +
                         (option.Value ? std::string(" ") + option.Value : "");
      name.resize(std::max<std::size_t>(name.size() + 2, 28), ' ');
      text += name + option.Help + "\n";
    }
  }
  return text + "Exit status: 0 done, 1 failed, 2 bad command line.\n";
}

}  // namespace

TArgs::TArgs(const std::vector<std::string>& words, const std::vector<TOptionEntry>& options)
{
  auto find = [&](std::string_view word) {
    return std::find_if(options.begin(), options.end(), [&](const TOptionEntry& option) {
      return word == std::string("--") + option.Name || (option.Alias && word == option.Alias);
    });
  };
  bool optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (optionsEnded) {
      if (word.empty())
        throw TUsageError("an empty argument (\"\") names nothing");
      FPositionals.push_back(word);
    } else if (word == "--") {
      optionsEnded = true;
    } else if (word == "--help") {
      throw THelpWanted();
    } else if ((word.size() > 2 && word.starts_with("--")) || find(word) != options.end()) {
      const std::size_t equals = word.find('=');
      const std::string spelled = word.substr(0, equals);
      const auto option = find(spelled);
      if (option == options.end())
        throw TUsageError("unknown option " + spelled);
      if (!option->Value) {
        if (equals != std::string::npos)
          throw TUsageError("option " + spelled + " takes no value");
        FFlags.emplace_back(option->Name);
      } else if (equals != std::string::npos) {
        FOptions.emplace_back(option->Name, word.substr(equals + 1));
      } else if (i + 1 < words.size()) {
        FOptions.emplace_back(option->Name, words[++i]);
      } else {
        throw TUsageError("option " + spelled + " needs a value");
      }
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

std::vector<std::string> TArgs::Options(const std::string& name) const
{
  std::vector<std::string> values;
  for (const auto& [n, v] : FOptions)
    if (n == name)
      values.push_back(v);
  return values;
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

void TTerminalProgress::Shown()
{
  FSince = std::chrono::steady_clock::now();
  Draw(0);
}

void TTerminalProgress::Draw(int percent)
{
  if (!FDrawn || std::chrono::steady_clock::now() - FSince < FBarAfter)
    return;
  FPercent = percent;
  FShown = true;
  constexpr int kWidth = 30;
  const int filled = std::clamp(percent, 0, 100) * kWidth / 100;
  std::string line = FTitle + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kWidth - filled), ' ') + "] " + std::to_string(percent) +
                     "%" + (FCounts.empty() ? "" : "  " + FCounts);
  // A shorter line than the last leaves none of it behind.
  const std::size_t width = line.size();
  if (width < FWidth)
    line += std::string(FWidth - width, ' ');
  FWidth = width;
  FErr << '\r' << line << std::flush;
}

void TTerminalProgress::Counts(std::uint64_t messages, std::uint64_t bytes, std::uint64_t totalBytes)
{
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - FSince).count();
  FCounts = CountsText(messages, bytes, totalBytes, seconds);
  Draw(FPercent);
}

void TTerminalProgress::Closed()
{
  if (FShown)
    FErr << '\r' << std::string(std::max(FWidth, FTitle.size() + 40), ' ') << '\r' << std::flush;
}

bool TTerminalProgress::Cancelled() const { return StopRequested() != 0; }

std::optional<TTerminalProgress> ProgressFor(const TCommand& command, const char* title)
{
  return std::optional<TTerminalProgress>(std::in_place, command.Err, title, command.Terminal.Progress,
                                          command.Terminal.BarAfter);
}

TMailbox OpenMailbox(const TCommand& command, const TArgs& args)
{
  TMailbox mailbox(PathFromUtf8(args.Positionals()[0]));
  mailbox.ShowOnlyNotInIndex(args.Flag("not-in-index"));
  if (const std::optional<std::string> threads = args.Option("threads")) {
    unsigned n = 0;
    const auto [end, error] = std::from_chars(threads->data(), threads->data() + threads->size(), n);
    if (error != std::errc() || end != threads->data() + threads->size() || n == 0 || n > 1024)
      throw TUsageError("--threads needs a number from 1 to 1024, not \"" + *threads + "\"");
    mailbox.SetThreads(n);
  }
  {
    auto bar = ProgressFor(command, "Scanning");
    mailbox.Load(Observer(bar));
  }
  // An empty mailbox is no error, but an empty list alone would not say why.
  if (mailbox.Emails().empty())
    command.Err << "quillmend-cli: " << TMailbox::NoMessagesNotice(PathText(mailbox.Path())) << "\n";
  if (const std::optional<std::string> keyword = args.Option("keyword")) {
    if (keyword->empty())
      throw TUsageError("the keyword is empty");
    // An empty list alone would not tell why.
    if (!mailbox.KeywordCanMatch(*keyword))
      command.Err << "quillmend-cli: " << TMailbox::KeywordNotice(*keyword) << "\n";
    auto bar = ProgressFor(command, "Filtering");
    mailbox.Filter(*keyword, Observer(bar));
  }
  return mailbox;
}

void ReportIndex(const TCommand& command, const TMailbox& mailbox)
{
  const TIndexSummary& index = mailbox.Index();
  command.Err << "quillmend-cli: " << (index.Outcome == TIndexOutcome::Damaged ? "warning: " : "") << index.Text()
              << "\n";
}

std::string NoMessage(const TMailbox& mailbox, std::size_t index)
{
  const std::size_t count = mailbox.Emails().size();
  return "No message " + std::to_string(index) + " in \"" + PathText(mailbox.Path()) +
         "\": " + (count == 0 ? std::string("it holds none") : "messages 0 to " + std::to_string(count - 1));
}

TMessageList::TMessageList(const std::string& text)
{
  const auto wrong = [&](std::string_view item, const std::string& why) {
    return TUsageError("cannot read the message list \"" + text + "\": \"" + std::string(item) + "\" " + why);
  };
  for (std::string_view rest = text;;) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const auto number = [&](std::string_view part, const char* missing) {
      std::size_t value = 0;
      const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
      if (part.empty())
        throw wrong(item, missing);
      if (ec != std::errc() || end != part.data() + part.size())
        throw wrong(item, "is not a message number or a range such as 7-12");
      return value;
    };
    const std::size_t dash = item.find('-');
    const std::size_t first = number(item.substr(0, dash), "gives no message");
    const std::size_t last =
        dash == std::string_view::npos ? first : number(item.substr(dash + 1), "has no last message");
    if (last < first)
      throw wrong(item, "counts down: write " + std::to_string(last) + "-" + std::to_string(first));
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

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const TTerminal& terminal)
{
  if (args.empty()) {
    err << Usage();
    return kExitUsage;
  }
  const std::string& name = args.front();
  if (name == "help" && args.size() > 1) {  // "help COMMAND" is "COMMAND --help"
    const auto wanted = std::find_if(Commands().begin(), Commands().end(),
                                     [&](const TCommandEntry& command) { return args[1] == command.Name; });
    if (wanted == Commands().end()) {
      err << "quillmend-cli: unknown command \"" << args[1] << "\"\nTry 'quillmend-cli --help'.\n";
      return kExitUsage;
    }
    out << CommandHelp(*wanted);
    return kExitOk;
  }
  if (name == "--help" || name == "-h" || name == "help") {
    out << Usage();
    return kExitOk;
  }
  if (name == "--version") {
    out << "quillmend-cli " << kVersion << "\n"
        << "License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
           "This is free software: you are free to change and redistribute it. There is NO WARRANTY.\n";
    return kExitOk;
  }
  const auto entry = std::find_if(Commands().begin(), Commands().end(),
                                  [&](const TCommandEntry& command) { return name == command.Name; });
  const TCommand command{std::vector<std::string>(args.begin() + 1, args.end()), out, err, terminal};
  try {
    if (entry == Commands().end())
      throw TUsageError("unknown command \"" + name + "\"");
    const TArgs parsed(command.Words, entry->Options);
    parsed.ExpectPositionals(entry->LeastPositionals, entry->MostPositionals);
    const int status = entry->Run(command, parsed);
    if (const int signal = StopRequested()) {
      err << "quillmend-cli: stopped on request\n";
      return 128 + signal;
    }
    return status;
  } catch (const TCancelled&) {
    out.flush();
    err << "quillmend-cli: stopped on request\n";
    return 128 + (StopRequested() ? StopRequested() : kInterruptSignal);
  } catch (const THelpWanted&) {
    out << CommandHelp(*entry);
    return kExitOk;
  } catch (const TUsageError& e) {
    err << "quillmend-cli: " << e.what() << "\nTry 'quillmend-cli " << (entry == Commands().end() ? "" : name + " ")
        << "--help'.\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    out.flush();
    err << "quillmend-cli: " << e.what() << "\n";
    return kExitFailure;
  }
}

}  // namespace quillmend::cli

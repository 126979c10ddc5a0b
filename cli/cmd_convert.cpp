// quillmend-cli convert EUDORA_FOLDER (--maildir DIR | --mbox-tree DIR | --eml-tree DIR | --imap URL)
//                       [--deleted separate|same|skip] [--attachments DIR] [--dry-run]

#include "cli/commands.h"
#include "document/convert.h"

#ifdef QUILLMEND_HAVE_IMAP
#  include "imap/imapstore.h"

#  include <cstdio>
#  include <cstdlib>
#  include <termios.h>
#endif

#include <algorithm>

namespace quillmend::cli {

namespace {

std::size_t Width(const std::string& text)
{
  // Columns count characters, not the bytes of UTF-8.
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// The table at the end, in columns: names left, numbers right.
void PrintTable(std::ostream& out, const TConvertReport& report)
{
  const std::vector<std::vector<std::string>> table = ReportTable(report);
  std::vector<std::size_t> widths(table.front().size(), 0);
  for (const std::vector<std::string>& row : table)
    for (std::size_t i = 0; i < row.size(); ++i)
      widths[i] = std::max(widths[i], Width(row[i]));
  for (const std::vector<std::string>& row : table) {
    out << row[0] << std::string(widths[0] - Width(row[0]), ' ');
    for (std::size_t i = 1; i < row.size(); ++i)
      out << "  " << std::string(widths[i] - Width(row[i]), ' ') << row[i];
    out << "\n";
  }
}

#ifdef QUILLMEND_HAVE_IMAP
// The password from QUILLMEND_IMAP_PASSWORD, else asked for on the terminal without echo: never from
// the command line, where other users and the shell's history would see it.
std::string Password(const TImapAccount& account)
{
  if (const char* given = std::getenv("QUILLMEND_IMAP_PASSWORD"))
    return given;
  FILE* tty = std::fopen("/dev/tty", "r+");
  if (!tty)
    throw std::runtime_error("no password: set QUILLMEND_IMAP_PASSWORD, or run in a terminal to be asked for it");
  std::fprintf(tty, "Password for %s: ", ImapUrlText(account).c_str());
  std::fflush(tty);
  termios old{};
  const bool terminal = tcgetattr(fileno(tty), &old) == 0;
  if (terminal) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fileno(tty), TCSAFLUSH, &quiet);
  }
  std::string password;
  for (int c; (c = std::fgetc(tty)) != EOF && c != '\n';)
    password += static_cast<char>(c);
  if (terminal)
    tcsetattr(fileno(tty), TCSAFLUSH, &old);
  std::fprintf(tty, "\n");
  std::fclose(tty);
  return password;
}

TConvertReport ConvertToAccount(const TCommand& command, const TArgs& args, const std::filesystem::path& top,
                                const std::string& url, const TConvertOptions& options, TProgressObserver* observer)
{
  TImapSettings settings;
  try {
    settings.Account = ParseImapUrl(url);
  } catch (const TImapUrlError& e) {
    throw TUsageError(std::string("--imap: ") + e.what());
  }
  if (const auto ca = args.Option("imap-ca-file"))
    settings.CaFile = PathFromUtf8(*ca);
  settings.AllowPlaintext = args.Flag("allow-plaintext");
  if (const auto token = args.Option("oauth2-token-command"))
    settings.OAuth2TokenCommand = *token;
  else if (!options.DryRun)
    settings.Password = Password(settings.Account);
  // At the start of the line, over the bar.
  settings.Say = [&command](const std::string& text) {
    command.Err << "\rquillmend-cli: " << text << "\n" << std::flush;
  };
  return ConvertToImap(top, settings, options, observer);
}
#endif

}  // namespace

int RunConvert(const TCommand& command, const TArgs& args)
{
  std::vector<std::pair<TStoreKind, std::string>> targets;
  for (const auto& [kind, option] : {std::pair{TStoreKind::Maildir, "maildir"}, std::pair{TStoreKind::MboxTree, "mbox-tree"},
                                     std::pair{TStoreKind::EmlTree, "eml-tree"}})
    if (const auto dir = args.Option(option))
      targets.emplace_back(kind, *dir);
  const std::optional<std::string> imap = args.Option("imap");
  if (targets.size() + (imap ? 1 : 0) != 1 || (!imap && targets.front().second.empty()))
    throw TUsageError("give one target: --maildir DIR, --mbox-tree DIR, --eml-tree DIR or --imap URL");
  if (!imap && (args.Option("imap-ca-file") || args.Option("oauth2-token-command") || args.Flag("allow-plaintext")))
    throw TUsageError("--imap-ca-file, --oauth2-token-command and --allow-plaintext go with --imap");
#ifndef QUILLMEND_HAVE_IMAP
  if (imap)
    throw std::runtime_error("this build of quillmend-cli cannot upload to IMAP accounts (it was built without libetpan)");
#endif
  TConvertOptions options;
  if (const auto deleted = args.Option("deleted")) {
    if (*deleted == "separate")
      options.Deleted = TDeletedMail::Separate;
    else if (*deleted == "same")
      options.Deleted = TDeletedMail::Same;
    else if (*deleted == "skip")
      options.Deleted = TDeletedMail::Skip;
    else
      throw TUsageError("--deleted takes separate, same or skip");
  }
  for (const std::string& folder : args.Options("attachments"))
    options.Rebuild.AttachmentsFolders.push_back(PathFromUtf8(folder));
  options.DryRun = args.Flag("dry-run");

  const std::filesystem::path top = PathFromUtf8(args.Positionals()[0]);
  const std::filesystem::path target = imap ? std::filesystem::path() : PathFromUtf8(targets.front().second);
  auto bar = ProgressFor(command, options.DryRun ? "Reading" : imap ? "Uploading" : "Converting");
  TConvertReport report;
#ifdef QUILLMEND_HAVE_IMAP
  if (imap)
    report = ConvertToAccount(command, args, top, *imap, options, Observer(bar));
  else
#endif
    report = ConvertMailFolder(top, targets.front().first, target, options, Observer(bar));
  bar.reset();

  PrintTable(command.Out, report);
  for (const std::string& note : ReportNotes(report))
    command.Err << "quillmend-cli: " << note << "\n";
  if (report.DryRun)
    command.Out << "Dry run: nothing was written.\n";
  else if (report.Cancelled)
    command.Out << "Stopped: the messages written so far are whole; run the same command again to go on.\n";
  else if (imap)
    command.Out << "Uploaded into " << *imap << "\n";
  else
    command.Out << "Converted into \"" << PathText(target) << "\"\n";
  return report.Succeeded() ? kExitOk : kExitFailure;
}

}  // namespace quillmend::cli

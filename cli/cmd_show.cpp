// quillmend-cli show MAILBOX N

#include "cli/commands.h"
#include "mail/bodypart.h"

#include <charconv>

namespace quillmend::cli {

int RunShow(const TCommand& command)
{
  const TArgs args(command.Words, {});
  args.ExpectPositionals(2, 2);
  const std::string& number = args.Positionals()[1];
  std::size_t index = 0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), index);
  if (ec != std::errc() || end != number.data() + number.size())
    throw TUsageError("\"" + number + "\" is not a message number");

  const auto mailbox = PathFromArg(args.Positionals()[0]);
  TFileIdentity scanned;
  const TEmailArray emails = Scan(command, mailbox, scanned);
  if (index >= emails.size())
    throw std::runtime_error("No message " + number + " in \"" + PathText(mailbox) + "\": it holds " +
                             std::to_string(emails.size()) + " messages");
  const TMailboxFile file(mailbox);
  file.ExpectUnchanged(scanned);
  TRangeReader reader(file);
  const TByteRange body = BodyPart(emails[index]);
  const std::int64_t written = reader.Read(body, [&](std::string_view piece) {
    command.Out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    return static_cast<bool>(command.Out);
  });
  command.Out.flush();
  if (!command.Out)
    return kExitFailure;
  // The mailbox shrank while it was read: what came out is not the whole body.
  if (written < body.Length()) {
    command.Err << "quillmend-cli: " << QuotedPath(mailbox) << " ends before message " << number << " does: " << written
                << " of " << body.Length() << " bytes written\n";
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace quillmend::cli

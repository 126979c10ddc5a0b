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
  const TEmailArray emails = Scan(command, mailbox);
  if (index >= emails.size())
    throw std::runtime_error("No message " + number + " in \"" + PathText(mailbox) + "\": it holds " +
                             std::to_string(emails.size()) + " messages");
  const TMailboxFile file(mailbox);
  TRangeReader reader(file);
  reader.Read(BodyPart(emails[index]), [&](std::string_view piece) {
    command.Out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    return static_cast<bool>(command.Out);
  });
  command.Out.flush();
  return command.Out ? kExitOk : kExitFailure;
}

}  // namespace quillmend::cli

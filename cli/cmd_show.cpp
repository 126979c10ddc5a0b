// quillmend-cli show MAILBOX N

#include "cli/commands.h"
#include "mail/bodypart.h"

#include <charconv>

namespace quillmend::cli {

int RunShow(const TCommand& command, const TArgs& args)
{
  const std::string& number = args.Positionals()[1];
  std::size_t index = 0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), index);
  if (ec != std::errc() || end != number.data() + number.size())
    throw TUsageError("\"" + number + "\" is not a message number");

  const TMailbox mailbox = OpenMailbox(command, args);
  if (index >= mailbox.Emails().size())
    throw std::runtime_error(NoMessage(mailbox, index));
  const std::int64_t written = mailbox.ReadBody(index, [&](std::string_view piece) {
    command.Out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
    return static_cast<bool>(command.Out);
  });
  command.Out.flush();
  if (!command.Out)
    return kExitFailure;
  // The mailbox shrank while it was read: what came out is not the whole body.
  const std::int64_t length = BodyPart(mailbox.Emails()[index]).Length();
  if (written < length) {
    command.Err << "quillmend-cli: " << QuotedPath(mailbox.Path()) << " ends before message " << number
                << " does: " << written << " of " << length << " bytes written\n";
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace quillmend::cli

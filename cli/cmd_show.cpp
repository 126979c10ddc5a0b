// quillmend-cli show MAILBOX N [--raw]

#include "base/text.h"
#include "cli/commands.h"
#include "mail/bodypart.h"

#include <charconv>

namespace quillmend::cli {

namespace {

// The mailbox's text for a terminal as it streams through: UTF-8 from the mailbox's code page, and
// every line end one LF, so that no line overwrites the last; a zero byte shows as a symbol.
class TTerminalText {
public:
  explicit TTerminalText(const TMailbox& mailbox) : FMailbox(mailbox) {}
  std::string Convert(std::string_view piece) { return FMailbox.Text(FLines.Feed(piece), TNulDisplay::VisibleSymbol); }

private:
  const TMailbox& FMailbox;
  TLfLineEnds FLines;
};

}  // namespace

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
  const bool raw = args.Flag("raw");
  TTerminalText text(mailbox);
  const std::int64_t written = mailbox.ReadMessage(index, [&](std::string_view piece) {
    const std::string converted = raw ? std::string() : text.Convert(piece);
    const std::string_view out = raw ? piece : converted;
    command.Out.write(out.data(), static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(command.Out);
  });
  command.Out.flush();
  if (!command.Out)
    return kExitFailure;
  // The mailbox shrank while it was read: what came out is not the whole message.
  const std::int64_t length = MessageRange(mailbox.Emails()[index]).Length();
  if (written < length) {
    command.Err << "quillmend-cli: " << QuotedPath(mailbox.Path()) << " ends before message " << number
                << " does: " << written << " of " << length << " bytes written\n";
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace quillmend::cli

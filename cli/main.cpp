#include "cli/cli.h"
#include "cli/interrupt.h"

#include <iostream>

#include "base/win32.h"

#ifdef _WIN32
#  include <fcntl.h>
#  include <io.h>
#  include <shellapi.h>

#  include "base/system.h"

namespace {

// The narrow argv is in the ANSI code page and loses every letter outside it; the wide command
// line has them all.
std::vector<std::string> Arguments()
{
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; words && i < count; ++i)
    args.push_back(quillmend::Utf8FromWide(words[i]));
  LocalFree(words);
  return args;
}

// A console, not a file, a pipe or the NUL device (which _isatty also counts as a terminal).
bool IsConsole(DWORD stream)
{
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(stream), &mode) != 0;
}

// The tool writes UTF-8; a console shows it as such only in that output code page, which is
// given back at exit because it outlives the process in the console.
class TUtf8Console {
public:
  TUtf8Console() : FPrevious(GetConsoleOutputCP())
  {
    if (FPrevious != 0 && FPrevious != CP_UTF8)
      SetConsoleOutputCP(CP_UTF8);
  }
  ~TUtf8Console()
  {
    if (FPrevious != 0 && FPrevious != CP_UTF8)
      SetConsoleOutputCP(FPrevious);
  }
  TUtf8Console(const TUtf8Console&) = delete;
  TUtf8Console& operator=(const TUtf8Console&) = delete;

private:
  UINT FPrevious;
};

}  // namespace

int main()
{
  // show writes mailbox bytes exactly: no LF turned into CR LF on the way out.
  _setmode(_fileno(stdout), _O_BINARY);
  std::ios::sync_with_stdio(false);
  const TUtf8Console console;
  quillmend::cli::CatchInterrupts();
  CONSOLE_SCREEN_BUFFER_INFO screen{};
  const std::size_t columns = GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &screen)
                                  ? static_cast<std::size_t>(screen.srWindow.Right - screen.srWindow.Left + 1)
                                  : 0;
  const int status = quillmend::cli::run(Arguments(), std::cout, std::cerr, {IsConsole(STD_ERROR_HANDLE), columns});
  std::cout.flush();
  std::cerr.flush();
  return status;
}

#else

#  include <sys/ioctl.h>
#  include <unistd.h>

int main(int argc, char** argv)
{
  std::ios::sync_with_stdio(false);
  quillmend::cli::CatchInterrupts();
  const std::vector<std::string> args(argv + 1, argv + argc);
  winsize size{};
  const std::size_t columns = isatty(1) && ioctl(1, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
  return quillmend::cli::run(args, std::cout, std::cerr, {isatty(2) != 0, columns});
}

#endif

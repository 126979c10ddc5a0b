#include "app/application.h"
#include "app/frmMainWindow.h"
#include "app/qttext.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// --self-test: proves that an installed copy shows its window and finds its help page, then exits.
const QCommandLineOption& SelfTest()
{
  static const QCommandLineOption option = [] {
    QCommandLineOption selfTest(QStringLiteral("self-test"));
    selfTest.setFlags(QCommandLineOption::HiddenFromHelp);
    return selfTest;
  }();
  return option;
}

void Describe(QCommandLineParser& parser)
{
  parser.setApplicationDescription(QStringLiteral(
      "Gets lost mail back out of Eudora mailbox files. Each PATH opens under Added Mail Files; the first is shown."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("a mailbox to open"),
                               QStringLiteral("[PATH...]"));
  parser.addOption(SelfTest());
}

// Whether the command line only asks for the help or the version: they are answered on the terminal
// without a window, so also where no display is.
bool AsksForTextOnly(int argc, char* argv[])
{
  for (int i = 1; i < argc; ++i)
    for (const char* option : {"--help", "-h", "--help-all", "--version", "-v"})
      if (std::strcmp(argv[i], option) == 0)
        return true;
  return false;
}

}  // namespace

int main(int argc, char* argv[])
{
  if (AsksForTextOnly(argc, argv)) {
    QCoreApplication text(argc, argv);
    quillmend::InitApplication();
    QCommandLineParser parser;
    Describe(parser);
    parser.process(text);  // answers and exits
  }
  QApplication application(argc, argv);
  quillmend::InitApplication();
  QCommandLineParser parser;
  Describe(parser);
  parser.process(application);

  quillmend::TfrmMain window;
  window.show();
  std::vector<std::filesystem::path> paths;
  for (const QString& path : parser.positionalArguments())
    paths.push_back(quillmend::QStringToPath(QFileInfo(path).absoluteFilePath()));
  QTimer::singleShot(0, &window, [&window, paths] { window.OpenFiles(paths); });
  if (parser.isSet(SelfTest())) {
    QTimer::singleShot(0, &window, [&window] {
      const QString help = quillmend::HelpPagePath();
      const bool shown = window.isVisible();
      const bool found = QFileInfo::exists(help);
      std::fprintf(stderr, "quillmend: window %s, help page %s: %s\n", shown ? "shown" : "not shown",
                   found ? "found" : "missing", qUtf8Printable(help));
      QCoreApplication::exit(shown && found ? 0 : 1);
    });
  }
  return application.exec();
}

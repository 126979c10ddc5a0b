#include "app/application.h"
#include "app/frmMainWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
  QApplication application(argc, argv);
  quillmend::InitApplication();
  quillmend::TfrmMain window;
  window.show();
  // --self-test: proves that an installed copy shows its window and finds its help page, then exits.
  if (application.arguments().contains(QStringLiteral("--self-test"))) {
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

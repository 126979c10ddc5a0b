// Renders the main window with a mailbox opened into a PNG, for the documentation.
// Usage: quillmend-screenshot MAILBOX OUTPUT.png   (run with QT_QPA_PLATFORM=offscreen)

#include "app/application.h"
#include "app/frmMainWindow.h"
#include "app/userinterface.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QEventLoop>
#include <QTextStream>
#include <QToolButton>

namespace {

// Answers the open dialog with the mailbox and prints any message instead of showing it.
class TScriptedInterface : public quillmend::TUserInterface {
public:
  explicit TScriptedInterface(QString mailbox) : FMailbox(std::move(mailbox)) {}
  void ShowMessage(quillmend::TMessageKind, const QString& title, const QString& text) override
  {
    QTextStream(stderr) << title << ": " << text << "\n";
    Failed = true;
  }
  QString GetOpenFileName(const QString&, const QString&, const QString&) override { return FMailbox; }
  QString GetSaveFileName(const QString&, const QString&, const QString&) override { return {}; }
  QString BrowseForFolder(const QString&, const QString&, bool) override { return {}; }
  bool OpenUrl(const QUrl&) override { return false; }
  std::optional<quillmend::TConvertRequest> AskConvert(const quillmend::TConvertRequest&) override
  {
    return std::nullopt;
  }
  QString AskDiskSource(const std::vector<quillmend::TDisk>&) override { return {}; }
  void ShowTable(const QString&, const QStringList&, const QList<QStringList>&, const QString&) override {}
  bool Failed = false;

private:
  QString FMailbox;
};

}  // namespace

int main(int argc, char* argv[])
{
  QApplication application(argc, argv);
  quillmend::InitApplication();
  const QStringList args = QCoreApplication::arguments();
  if (args.size() != 3) {
    QTextStream(stderr) << "usage: quillmend-screenshot MAILBOX OUTPUT.png\n";
    return 2;
  }
  TScriptedInterface ui(args[1]);
  quillmend::TfrmMain window(&ui);
  window.show();
  // Enlarged, as a user would make it: every column, Subject and Status included, is in view.
  window.resize(1440, 860);
  // The scan runs on the window's job thread: wait for it in the event loop.
  QEventLoop scanned;
  QObject::connect(&window, &quillmend::TfrmMain::JobEnded, &scanned, &QEventLoop::quit);
  window.findChild<QToolButton*>(QStringLiteral("sbOpenDbx"))->click();
  if (window.Busy())
    scanned.exec();
  // The first message previewed, as a user would see it after one click.
  auto* list = window.findChild<QAbstractItemView*>(QStringLiteral("lvFoundEmails"));
  const QModelIndex first = list->model()->index(0, 0);
  if (first.isValid()) {
    list->setCurrentIndex(first);
    emit list->clicked(first);
  }
  if (ui.Failed)
    return 1;
  if (!window.grab().save(args[2])) {
    QTextStream(stderr) << "cannot write " << args[2] << "\n";
    return 1;
  }
  return 0;
}

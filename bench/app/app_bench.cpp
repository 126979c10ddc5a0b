// quillmend-app-bench: the main window on a large generated mailbox, without a display.
//   quillmend-app-bench [--size 1G] [--messages 400000] [--keyword WORD] [--keep FILE]
//   quillmend-app-bench --tree DIR      times Auto Scan For Files over DIR alone
// Times LoadMailFile up to the last row in the list, sorts of every row by "Subject" and by "Date",
// Quick Select All, Apply with the keyword, and the preview of a 20 MiB message. The mailbox goes to $TMPDIR and is
// deleted unless --keep names it (an existing --keep file is used as it is).

#include "app/application.h"
#include "app/frmMainWindow.h"
#include "app/userinterface.h"
#include "bench/mail/mailgen.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTreeWidget>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

#ifndef _WIN32
#  include <sys/resource.h>
#endif

namespace {

namespace fs = std::filesystem;

// ", peak RSS N MiB so far" where the system tells it.
std::string PeakMemory()
{
#ifdef _WIN32
  return {};
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return ", peak RSS " + std::to_string(usage.ru_maxrss / 1024) + " MiB so far";
#endif
}
using quillmend::mailgen::ParseSize;

// Prints what the window would show in a box, so a failure is seen in the output.
class TConsoleInterface : public quillmend::TUserInterface {
public:
  void ShowMessage(quillmend::TMessageKind, const QString& title, const QString& text) override
  {
    std::cerr << title.toStdString() << ": " << text.toStdString() << "\n";
  }
  QString GetOpenFileName(const QString&, const QString&, const QString&) override { return {}; }
  QString GetSaveFileName(const QString&, const QString&, const QString&) override { return {}; }
  QString BrowseForFolder(const QString&, const QString&, bool) override { return {}; }
  bool OpenUrl(const QUrl&) override { return false; }
  std::optional<quillmend::TConvertRequest> AskConvert(const quillmend::TConvertRequest&) override { return std::nullopt; }
  QString AskDiskSource(const std::vector<quillmend::TDisk>&) override { return {}; }
  void ShowTable(const QString&, const QStringList&, const QList<QStringList>&, const QString&) override {}
};

// Times work up to the end of the job it starts, if any, and the repaint that shows its result.
double Seconds(quillmend::TfrmMain& window, const std::function<void()>& work)
{
  const auto start = std::chrono::steady_clock::now();
  work();
  while (window.Busy())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  QCoreApplication::processEvents();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Report(const char* what, double seconds, const std::string& note = {})
{
  std::cout << "  " << what << ": " << seconds << " s" << (note.empty() ? "" : "  (" + note + ")") << "\n";
}

}  // namespace

int main(int argc, char* argv[])
{
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  quillmend::InitApplication();

  quillmend::mailgen::TMailGenOptions options;
  options.TargetBytes = ParseSize("1G");
  options.MessageCount = 400000;
  std::string keyword = "msg_flag_expunged";
  fs::path keep;
  fs::path tree;
  const QStringList args = QCoreApplication::arguments();
  for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
    const std::string value = args[i + 1].toStdString();
    if (args[i] == "--size")
      options.TargetBytes = ParseSize(value);
    else if (args[i] == "--messages")
      options.MessageCount = std::stoll(value);
    else if (args[i] == "--keyword")
      keyword = value;
    else if (args[i] == "--keep")
      keep = value;
    else if (args[i] == "--tree")
      tree = value;
  }

  if (!tree.empty()) {
    TConsoleInterface ui;
    quillmend::TfrmMain window(&ui);
    window.SetAutoScanRoots([tree] { return std::vector<fs::path>{tree}; });
    window.show();
    QCoreApplication::processEvents();
    auto* files = window.findChild<QTreeWidget*>(QStringLiteral("tvFiles"));
    const double scan =
        Seconds(window, [&] { window.findChild<QAbstractButton*>(QStringLiteral("sbAutoScan"))->click(); });
    Report("Auto Scan For Files", scan,
           std::to_string(files->topLevelItem(0)->childCount()) + " mailboxes in the tree");
    return 0;
  }

  const fs::path mailbox = keep.empty() ? fs::path(QDir::tempPath().toStdString()) / "quillmend-app-bench.mbx" : keep;
  if (keep.empty() || !fs::exists(mailbox)) {
    std::ofstream out(mailbox, std::ios::binary);
    const auto start = std::chrono::steady_clock::now();
    quillmend::mailgen::GenerateMailbox(out, options);
    const double generated = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::cout << "generated " << mailbox << " in " << generated << " s\n";
  }
  std::cout << "mailbox: " << fs::file_size(mailbox) << " bytes\n";

  TConsoleInterface ui;
  quillmend::TfrmMain window(&ui);
  window.show();
  QCoreApplication::processEvents();
  auto* list = window.findChild<QTableView*>(QStringLiteral("lvFoundEmails"));

  int exitCode = 0;
  try {
    const double load = Seconds(window, [&] { window.LoadMailFile(mailbox); });
    const int rows = list->model()->rowCount();
    Report("LoadMailFile to the last row", load, std::to_string(rows) + " rows" + PeakMemory());

    const double sort = Seconds(window, [&] { emit list->horizontalHeader()->sectionClicked(4); });
    Report("sort by Subject (first click, Z to A)", sort,
           "first row: " + list->model()->index(0, 4).data().toString().toStdString());
    const double resort = Seconds(window, [&] { emit list->horizontalHeader()->sectionClicked(4); });
    Report("sort by Subject again (A to Z)", resort);
    // Dates are nearly all distinct: each is read as an instant once, then ranks are compared.
    const double byDate = Seconds(window, [&] { emit list->horizontalHeader()->sectionClicked(1); });
    Report("sort by Date (by instant, mostly distinct values)", byDate);

    const double check =
        Seconds(window, [&] { window.findChild<QAbstractButton*>(QStringLiteral("sbSelectAll"))->click(); });
    Report("Quick Select All", check);

    window.findChild<QLineEdit*>(QStringLiteral("txtFilter"))->setText(QString::fromStdString(keyword));
    const double apply =
        Seconds(window, [&] { window.findChild<QAbstractButton*>(QStringLiteral("btnApplyFilter"))->click(); });
    Report("Apply (filter the records)", apply,
           std::to_string(list->model()->rowCount()) + " rows hold \"" + keyword + "\"");

    // One message of 20 MiB in lines of 76 characters: the preview shows its first 16 MiB.
    const fs::path huge = mailbox.parent_path() / "quillmend-app-bench-huge.mbx";
    {
      std::ofstream out(huge, std::ios::binary);
      out << "From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: huge\r\n\r\n";
      const std::string line = std::string(76, 'x') + "\r\n";
      for (std::int64_t written = 0; written < (std::int64_t{20} << 20);
           written += static_cast<std::int64_t>(line.size()))
        out << line;
    }
    Seconds(window, [&] { window.findChild<QAbstractButton*>(QStringLiteral("btnClearFilter"))->click(); });
    Seconds(window, [&] { window.LoadMailFile(huge); });
    const QModelIndex first = list->model()->index(0, 1);
    list->setCurrentIndex(first);
    const double preview = Seconds(window, [&] { emit list->clicked(first); });
    const QString shown = window.findChild<QPlainTextEdit*>(QStringLiteral("txtmsgbody"))->toPlainText();
    Report("preview of a 20 MiB message", preview,
           std::to_string(shown.size()) +
               " characters shown, last line: " + shown.trimmed().section(QLatin1Char('\n'), -1).toStdString());
    fs::remove(huge);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    exitCode = 1;
  }
  if (keep.empty())
    fs::remove(mailbox);
  return exitCode;
}

// quillmend-app-bench: the main window on a large generated mailbox, without a display.
//   quillmend-app-bench [--size 1G] [--messages 400000] [--keyword WORD] [--keep FILE]
// Times LoadMailFile up to the last row in the list, sorts of every row by "Subject" and by "Date",
// Quick Select All, and Apply with the keyword. The mailbox goes to $TMPDIR and is deleted unless --keep names it
// (an existing --keep file is used as it is).

#include "app/application.h"
#include "app/frmMainWindow.h"
#include "app/userinterface.h"
#include "bench/mail/mailgen.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

namespace {

namespace fs = std::filesystem;
using quillmend::mailgen::ParseSize;

// Prints what the window would show in a box, so a failure is seen in the output.
class TConsoleInterface : public quillmend::TUserInterface {
public:
  void ShowMessage(quillmend::TMessageKind, const QString& title, const QString& text) override
  {
    std::cerr << title.toStdString() << ": " << text.toStdString() << "\n";
  }
  QString GetOpenFileName(const QString&, const QString&, const QString&) override { return {}; }
  QString BrowseForFolder(const QString&, const QString&, bool) override { return {}; }
  bool OpenUrl(const QUrl&) override { return false; }
};

double Seconds(const std::function<void()>& work)
{
  const auto start = std::chrono::steady_clock::now();
  work();
  QCoreApplication::processEvents();  // the repaint that puts the result on screen
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
  }

  const fs::path mailbox = keep.empty() ? fs::path(QDir::tempPath().toStdString()) / "quillmend-app-bench.mbx" : keep;
  if (keep.empty() || !fs::exists(mailbox)) {
    std::ofstream out(mailbox, std::ios::binary);
    const double generated = Seconds([&] { quillmend::mailgen::GenerateMailbox(out, options); });
    std::cout << "generated " << mailbox << " in " << generated << " s\n";
  }
  std::cout << "mailbox: " << fs::file_size(mailbox) << " bytes\n";

  TConsoleInterface ui;
  quillmend::TfrmMain window(&ui);
  window.show();
  QCoreApplication::processEvents();
  auto* list = window.findChild<QTableView*>(QStringLiteral("lvFoundEmails"));
  const QString path = QString::fromStdString(mailbox.string());

  int exitCode = 0;
  try {
    const double load = Seconds([&] { window.LoadMailFile(path); });
    const int rows = list->model()->rowCount();
    Report("LoadMailFile to the last row", load, std::to_string(rows) + " rows");

    const double sort = Seconds([&] { emit list->horizontalHeader()->sectionClicked(4); });
    Report("sort by Subject (first click, Z to A)", sort,
           "first row: " + list->model()->index(0, 4).data().toString().toStdString());
    const double resort = Seconds([&] { emit list->horizontalHeader()->sectionClicked(4); });
    Report("sort by Subject again (A to Z)", resort);
    // Dates are nearly all distinct: the most collating a column can need.
    const double byDate = Seconds([&] { emit list->horizontalHeader()->sectionClicked(1); });
    Report("sort by Date (text, mostly distinct values)", byDate);

    const double check = Seconds([&] { window.findChild<QAbstractButton*>(QStringLiteral("sbSelectAll"))->click(); });
    Report("Quick Select All", check);

    window.findChild<QLineEdit*>(QStringLiteral("txtFilter"))->setText(QString::fromStdString(keyword));
    const double apply =
        Seconds([&] { window.findChild<QAbstractButton*>(QStringLiteral("btnApplyFilter"))->click(); });
    Report("Apply (rescan and filter)", apply,
           std::to_string(list->model()->rowCount()) + " rows hold \"" + keyword + "\"");
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    exitCode = 1;
  }
  if (keep.empty())
    fs::remove(mailbox);
  return exitCode;
}

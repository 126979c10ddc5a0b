#include "tests/app/fixture.h"

#include "app/emaillistmodel.h"
#include "app/job.h"
#include "app/qttext.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QSortFilterProxyModel>
#include <QTest>

namespace quillmend::test {

namespace {

QString Take(std::deque<QString>& answers)
{
  if (answers.empty())
    return {};
  QString answer = answers.front();
  answers.pop_front();
  return answer;
}

}  // namespace

void TFakeInterface::ShowMessage(TMessageKind kind, const QString& title, const QString& text)
{
  Messages.push_back({kind, title, text});
}

QString TFakeInterface::GetOpenFileName(const QString& title, const QString& filter, const QString&)
{
  Asked << title;
  OpenFilter = filter;
  return Take(OpenAnswers);
}

QString TFakeInterface::GetSaveFileName(const QString& title, const QString&, const QString&)
{
  Asked << title;
  return Take(SaveAnswers);
}

QString TFakeInterface::BrowseForFolder(const QString& prompt, const QString&, bool allowNewFolder)
{
  Asked << prompt;
  AllowedNewFolder = allowNewFolder;
  return Take(FolderAnswers);
}

bool TFakeInterface::OpenUrl(const QUrl& url)
{
  OpenedUrls.push_back(url);
  return OpenUrlResult;
}

QString TFakeInterface::AskDiskSource(const std::vector<TDisk>& disks)
{
  Asked << QStringLiteral("Search Disk or Disk Image");
  DisksOffered = disks;
  if (DiskAnswers.empty())
    return {};
  QString answer = DiskAnswers.front();
  DiskAnswers.pop_front();
  return answer;
}

std::optional<TConvertRequest> TFakeInterface::AskConvert(const TConvertRequest& proposed)
{
  Asked << QStringLiteral("Convert Whole Mail Folder");
  ProposedConversions.push_back(proposed);
  if (ConvertAnswers.empty())
    return std::nullopt;
  std::optional<TConvertRequest> answer = ConvertAnswers.front();
  ConvertAnswers.pop_front();
  return answer;
}

void TFakeInterface::ShowTable(const QString& title, const QStringList& heads, const QList<QStringList>& rows,
                               const QString& notes)
{
  Tables.push_back({title, heads, rows, notes});
}

QString ToQString(const std::filesystem::path& path) { return PathToQString(path); }

void TMainWindowTest::SetUp()
{
  Window = std::make_unique<TfrmMain>(&Ui);
  Window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
  // The list's model and its sort proxy are checked on every change the tests make.
  auto* proxy = qobject_cast<QSortFilterProxyModel*>(List()->model());
  ASSERT_NE(proxy, nullptr);
  FModelTesters.push_back(std::make_unique<QAbstractItemModelTester>(
      proxy->sourceModel(), QAbstractItemModelTester::FailureReportingMode::Fatal));
  FModelTesters.push_back(
      std::make_unique<QAbstractItemModelTester>(proxy, QAbstractItemModelTester::FailureReportingMode::Fatal));
}

void TMainWindowTest::TearDown()
{
  FModelTesters.clear();
  Window.reset();
}

void TMainWindowTest::Click(const char* button)
{
  Child<QAbstractButton>(button)->click();
  WaitForJob();
}

void TMainWindowTest::WaitForJob()
{
  QDeadlineTimer watchdog(60000);
  while (Window->Busy() && !watchdog.hasExpired())
    QTest::qWait(2);
  EXPECT_FALSE(Window->Busy()) << "the window's work did not end within a minute";
  if (Window->Busy()) {
    Window->Jobs().Cancel();
    while (Window->Busy())
      QTest::qWait(10);
  }
}

void TMainWindowTest::Load(const std::filesystem::path& mailbox)
{
  Window->LoadMailFile(mailbox);
  WaitForJob();
}

QStringList TMainWindowTest::Column(int column)
{
  QStringList texts;
  const QAbstractItemModel* model = List()->model();
  for (int row = 0; row < model->rowCount(); ++row)
    texts << model->index(row, column).data().toString();
  return texts;
}

std::vector<bool> TMainWindowTest::Checks()
{
  std::vector<bool> checks;
  const QAbstractItemModel* model = List()->model();
  for (int row = 0; row < model->rowCount(); ++row)
    checks.push_back(model->index(row, 0).data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked);
  return checks;
}

void TMainWindowTest::ClickHeader(int column)
{
  QHeaderView* header = List()->horizontalHeader();
  List()->scrollTo(List()->model()->index(0, column));
  const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

void TMainWindowTest::ClickRow(int row)
{
  const QModelIndex cell = List()->model()->index(row, TEmailListModel::Date);
  List()->scrollTo(cell);
  QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, List()->visualRect(cell).center());
}

void TMainWindowTest::Open(const std::filesystem::path& mailbox)
{
  Ui.OpenAnswers.push_back(ToQString(mailbox));
  Click("sbOpenDbx");
}

QString TMainWindowTest::Preview() { return Child<QPlainTextEdit>("txtmsgbody")->toPlainText(); }

std::filesystem::path TMainWindowTest::CopyOfIn()
{
  const std::filesystem::path copy = Temp.Path() / "In.mbx";
  std::filesystem::copy_file(InMbx, copy, std::filesystem::copy_options::overwrite_existing);
  return copy;
}

}  // namespace quillmend::test

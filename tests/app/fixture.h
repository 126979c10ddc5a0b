#pragma once
// A real main window driven through its controls, with every dialog answered by the test.

#include "app/frmMainWindow.h"
#include "app/userinterface.h"
#include "tests/support/testfiles.h"

#include <QAbstractItemModelTester>
#include <QStringList>
#include <QTableView>
#include <QToolButton>

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

// Readable failures for Qt's strings.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace quillmend::test {

// A point inside a tree node's text, even when the text runs past the visible width.
inline QPoint InsideNode(const QRect& rect) { return {rect.left() + 24, rect.center().y()}; }

class TFakeInterface : public TUserInterface {
public:
  struct TMessage {
    TMessageKind Kind;
    QString Title;
    QString Text;
  };

  void ShowMessage(TMessageKind kind, const QString& title, const QString& text) override;
  QString GetOpenFileName(const QString& title, const QString& filter, const QString& folder) override;
  QString GetSaveFileName(const QString& title, const QString& filter, const QString& folder) override;
  QString BrowseForFolder(const QString& prompt, const QString& initialFolder, bool allowNewFolder) override;
  bool OpenUrl(const QUrl& url) override;
  std::optional<TConvertRequest> AskConvert(const TConvertRequest& proposed) override;
  QString AskDiskSource(const std::vector<TDisk>& disks) override;
  void ShowTable(const QString& title, const QStringList& heads, const QList<QStringList>& rows,
                 const QString& notes) override;

  struct TTable {
    QString Title;
    QStringList Heads;
    QList<QStringList> Rows;
    QString Notes;
  };

  // Answers, taken in turn; a dialog asked with none left counts as cancelled.
  std::deque<QString> OpenAnswers;
  std::deque<QString> FolderAnswers;
  std::deque<QString> SaveAnswers;
  bool OpenUrlResult = true;
  std::deque<std::optional<TConvertRequest>> ConvertAnswers;
  std::deque<QString> DiskAnswers;

  std::vector<TMessage> Messages;
  std::vector<QUrl> OpenedUrls;
  std::vector<TConvertRequest> ProposedConversions;
  std::vector<TDisk> DisksOffered;
  std::vector<TTable> Tables;
  QStringList Asked;  // every dialog's title or prompt, in order
  QString OpenFilter;
  bool AllowedNewFolder = false;
};

class TMainWindowTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  template <class T>
  T* Child(const char* name)
  {
    T* child = Window->findChild<T*>(QLatin1String(name));
    EXPECT_NE(child, nullptr) << name;
    return child;
  }
  // Clicks a button and waits for the work it started, if any.
  void Click(const char* button);
  // Lets the window's events run until its long work has ended (a watchdog fails the test and
  // cancels the work when it takes more than a minute).
  void WaitForJob();
  void Load(const std::filesystem::path& mailbox);
  QTableView* List() { return Child<QTableView>("lvFoundEmails"); }
  int RowCount() { return List()->model()->rowCount(); }
  // The texts of one column in the list's current order.
  QStringList Column(int column);
  // Check marks in the list's current order.
  std::vector<bool> Checks();
  void ClickHeader(int column);
  void ClickRow(int row);
  // Opens mailbox through Open File, as a user would.
  void Open(const std::filesystem::path& mailbox);
  QString Preview();

  // A copy of the 5-message mailbox in a private folder.
  std::filesystem::path CopyOfIn();

  TFakeInterface Ui;
  std::unique_ptr<TfrmMain> Window;
  TTempDir Temp;
  std::filesystem::path InMbx = DataFile("eudora-windows-7.1/In.mbx");

private:
  std::vector<std::unique_ptr<QAbstractItemModelTester>> FModelTesters;
};

QString ToQString(const std::filesystem::path& path);

}  // namespace quillmend::test

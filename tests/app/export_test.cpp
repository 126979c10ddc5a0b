// Export Selected: folder choice, probe, the files written and the closing messages.

#include "tests/app/fixture.h"

#include "document/export.h"

#include <QAbstractButton>
#include <QAction>
#include <QPushButton>

namespace quillmend::test {
namespace {

namespace fs = std::filesystem;

class TExport : public TMainWindowTest {
protected:
  void Check(int row)
  {
    QAbstractItemModel* model = List()->model();
    ASSERT_TRUE(model->setData(model->index(row, 0), Qt::Checked, Qt::CheckStateRole));
  }
  fs::path Folder(const char* name)
  {
    const fs::path folder = Temp.Path() / name;
    fs::create_directories(folder);
    return folder;
  }
  void ExportTo(const fs::path& folder)
  {
    Ui.FolderAnswers.push_back(ToQString(folder));
    Click("sbSaveEmail");
  }
  std::vector<std::string> Files(const fs::path& folder)
  {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  void ExpectOneMessage(TMessageKind kind, const QString& title, const QString& text)
  {
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_EQ(Ui.Messages[0].Kind, kind);
    EXPECT_EQ(Ui.Messages[0].Title, title);
    EXPECT_EQ(Ui.Messages[0].Text, text);
  }
};

const QString kDone = QStringLiteral("Emails Succesfully Exported To Folder");

TEST_F(TExport, WritesTheCheckedMessagesAndReportsSuccess)
{
  Open(InMbx);
  ClickHeader(4);  // the sort changes the order of writing, not the names
  Check(0);
  Check(3);
  const fs::path folder = Folder("out");
  ExportTo(folder);

  EXPECT_EQ(Ui.Asked.last(), QStringLiteral("Select Where To Save Recovered Emails"));
  EXPECT_TRUE(Ui.AllowedNewFolder);
  ExpectOneMessage(TMessageKind::Information, QStringLiteral("Information"), kDone);
  const QStringList rows = Column(0);
  EXPECT_EQ(Files(folder),
            (std::vector<std::string>{ExportFileName(rows[0].toULongLong()), ExportFileName(rows[3].toULongLong())}));
  const std::string written = ReadFile(folder / ExportFileName(rows[0].toULongLong()));
  EXPECT_EQ(written.rfind("From ???@??? ", 0), 0u);
  EXPECT_TRUE(Window->isEnabled());
}

TEST_F(TExport, WritesTheMessageBytesWithTheFlagWordTurned)
{
  const auto mailbox =
      Temp.Write("Flag.mbx", std::string("From ???@??? x\r\nX-Flag: msg_flag_expunged\r\n\r\nbody\r\n"));
  Open(mailbox);
  Click("sbSelectAll");
  const fs::path folder = Folder("flag");
  ExportTo(folder);
  EXPECT_EQ(ReadFile(folder / "RecoveredEmail0.eml"), "From ???@??? x\r\nX-Flag: MSG_FLAG_MARKED\r\n\r\nbody\r\n");
}

// With nothing checked, every export says how to check a message before any dialog opens.
TEST_F(TExport, NothingCheckedSaysHowToCheckBeforeAnyDialog)
{
  Open(InMbx);
  ClickRow(1);  // a selected row is not a checked one
  const fs::path folder = Folder("none");
  for (const char* action : {"sbSaveEmail", "mnuExportRebuilt", "mnuExportMbox"}) {
    SCOPED_TRACE(action);
    Ui.Messages.clear();
    Ui.Asked.clear();
    Ui.FolderAnswers.push_back(ToQString(folder));
    if (auto* button = Window->findChild<QAbstractButton*>(QLatin1String(action)))
      button->click();
    else
      Child<QAction>(action)->trigger();
    Ui.FolderAnswers.clear();
    EXPECT_TRUE(Ui.Asked.empty()) << Ui.Asked.join(QLatin1Char(',')).toStdString();
    ExpectOneMessage(TMessageKind::Information, QStringLiteral("Information"), TfrmMain::kNothingChecked);
  }
  EXPECT_TRUE(Files(folder).empty());
}

TEST_F(TExport, CancellingTheFolderPickerDoesNothing)
{
  Open(InMbx);
  Click("sbSelectAll");
  Click("sbSaveEmail");
  EXPECT_EQ(Ui.Asked.last(), QStringLiteral("Select Where To Save Recovered Emails"));
  EXPECT_TRUE(Ui.Messages.empty());
}

TEST_F(TExport, AFolderThatCannotBeWrittenGivesTheErrorBox)
{
  Open(InMbx);
  Click("sbSelectAll");
  ExportTo(Temp.Path() / "no" / "such" / "folder");
  ExpectOneMessage(TMessageKind::Error, QStringLiteral("Error"),
                   QStringLiteral("Cannot Write To Output Folder ,Please Select A Writeable Folder"));
}

TEST_F(TExport, AProbeLeavesAnExistingCheckFileAlone)
{
  Open(InMbx);
  Check(0);
  const fs::path folder = Folder("kept");
  Temp.Write("kept/check.DAT", "mine");
  ExportTo(folder);
  EXPECT_EQ(ReadFile(folder / "check.DAT"), "mine");
  ExpectOneMessage(TMessageKind::Information, QStringLiteral("Information"), kDone);
}

TEST_F(TExport, FilesThatCannotBeWrittenAreNamedInTheErrorBox)
{
  Open(InMbx);
  Click("sbSelectAll");
  const fs::path folder = Folder("blocked");
  OccupyEveryName(folder, "RecoveredEmail2.eml");  // folders under every name it could take
  ExportTo(folder);
  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_EQ(Ui.Messages[0].Kind, TMessageKind::Error);
  EXPECT_EQ(Ui.Messages[0].Title, QStringLiteral("Error"));
  EXPECT_TRUE(Ui.Messages[0].Text.startsWith(QStringLiteral("1 of 5 emails could not be exported:")));
  EXPECT_TRUE(Ui.Messages[0].Text.contains(QStringLiteral("RecoveredEmail2.eml: ")));
  EXPECT_TRUE(fs::exists(folder / "RecoveredEmail4.eml"));
}

TEST_F(TExport, FilesWrittenUnderAnotherNameAreNamedInOneMoreBox)
{
  Open(InMbx);
  Check(0);
  Check(1);
  const QStringList rows = Column(0);
  const fs::path folder = Folder("taken");
  const std::string first = ExportFileName(rows[0].toULongLong());
  const std::string stem = first.substr(0, first.size() - 4);
  Temp.Write("taken/" + first, "a file of the user's");
  ExportTo(folder);
  ASSERT_EQ(Ui.Messages.size(), 2u);
  EXPECT_EQ(Ui.Messages[0].Text, kDone);
  EXPECT_EQ(Ui.Messages[1].Kind, TMessageKind::Information);
  EXPECT_EQ(Ui.Messages[1].Title, QStringLiteral("Information"));
  EXPECT_EQ(
      Ui.Messages[1].Text,
      QStringLiteral("1 emails were written under another name, since a different file already had theirs:\n\n%1 as %2")
          .arg(QString::fromStdString(first), QString::fromStdString(stem + " (2).eml")));
  EXPECT_EQ(ReadFile(folder / first), "a file of the user's");
  EXPECT_EQ(ReadFile(folder / (stem + " (2).eml")).rfind("From ???@??? ", 0), 0u);

  Ui.Messages.clear();
  fs::remove(folder / ExportFileName(rows[1].toULongLong()));
  OccupyEveryName(folder, ExportFileName(rows[1].toULongLong()));
  ExportTo(folder);  // the renamed file is there with the same bytes: it is still named, after the error box
  ASSERT_EQ(Ui.Messages.size(), 2u);
  EXPECT_EQ(Ui.Messages[0].Kind, TMessageKind::Error);
  EXPECT_EQ(Ui.Messages[1].Kind, TMessageKind::Information);
  EXPECT_TRUE(Ui.Messages[1].Text.endsWith(QString::fromStdString(stem + " (2).eml")));
}

TEST_F(TExport, AMailboxGoneSinceTheScanEndsInTheApplicationErrorBox)
{
  const auto copy = CopyOfIn();
  Open(copy);
  Click("sbSelectAll");
  fs::remove(copy);
  ExportTo(Folder("late"));
  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_EQ(Ui.Messages[0].Title, QStringLiteral("Quillmend"));
  EXPECT_TRUE(Ui.Messages[0].Text.startsWith(QStringLiteral("Cannot open file \"")));
  EXPECT_TRUE(Window->isEnabled());
}

// Export For Mail Programs and To Mbox File: the same checked rows, rebuilt, and one report.
class TRebuiltExport : public TExport {
protected:
  void Trigger(const char* action)
  {
    Child<QAction>(action)->trigger();
    WaitForJob();
  }
  // The mailbox of a copy of the whole Windows folder, attach/ and Embedded/ beside it.
  fs::path CopyOfFolder()
  {
    const fs::path folder = Temp.Path() / "Eudora";
    fs::copy(InMbx.parent_path(), folder, fs::copy_options::recursive);
    return folder / "In.mbx";
  }
};

TEST_F(TRebuiltExport, WritesTheCheckedMessagesRebuiltAndReportsWhatWasJoined)
{
  Open(CopyOfFolder());
  Check(0);
  Check(2);
  const fs::path folder = Folder("rebuilt");
  Ui.FolderAnswers.push_back(ToQString(folder));
  Trigger("mnuExportRebuilt");

  EXPECT_EQ(Ui.Asked.last(), QStringLiteral("Select Where To Save Emails For Mail Programs"));
  const QStringList rows = Column(0);
  EXPECT_EQ(Files(folder),
            (std::vector<std::string>{ExportFileName(rows[0].toULongLong()), ExportFileName(rows[2].toULongLong())}));
  for (const int row : {0, 2}) {
    const std::string written = ReadFile(folder / ExportFileName(rows[row].toULongLong()));
    EXPECT_NE(written.rfind("From ???@??? ", 0), 0u);  // no separator line
    EXPECT_NE(written.find("\r\nContent-Type: multipart/"), std::string::npos);
  }
  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_EQ(Ui.Messages[0].Kind, TMessageKind::Information);
  EXPECT_TRUE(Ui.Messages[0].Text.startsWith(QStringLiteral("2 emails written, ")));
  EXPECT_TRUE(Window->isEnabled());
}

TEST_F(TRebuiltExport, AMacFolderComesBackWithItsAttachmentsAndImages)
{
  const fs::path mac = Temp.Path() / "Mac";
  fs::copy(DataFile("eudora-mac-6.2.4"), mac, fs::copy_options::recursive);
  const fs::path stored = mac / "Attachments Folder" / "tools.arlut.utexas.edu%3Agash2%3A";
#ifdef _WIN32
  fs::rename(stored, stored.parent_path() / u8"tools.arlut.utexas.edu\uF022gash2\uF022");
#else
  fs::rename(stored, stored.parent_path() / "tools.arlut.utexas.edu:gash2:");
#endif
  Open(mac / "Mail Folder" / "In");
  Click("sbSelectAll");
  const fs::path folder = Folder("rebuilt");
  Ui.FolderAnswers.push_back(ToQString(folder));
  Trigger("mnuExportRebuilt");
  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_EQ(Ui.Messages[0].Kind, TMessageKind::Information);
  EXPECT_TRUE(Ui.Messages[0].Text.startsWith(QStringLiteral("5 emails written, 3 attachments and 2 images joined.")))
      << Ui.Messages[0].Text.toStdString();
  EXPECT_EQ(Files(folder).size(), 5u);
}

TEST_F(TRebuiltExport, NamesAnAttachmentNotFoundInTheOneErrorBox)
{
  const fs::path mailbox = CopyOfFolder();
  fs::remove(mailbox.parent_path() / "attach" / "stevan_white");
  Open(mailbox);
  Click("sbSelectAll");
  Ui.FolderAnswers.push_back(ToQString(Folder("rebuilt")));
  Trigger("mnuExportRebuilt");
  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_EQ(Ui.Messages[0].Kind, TMessageKind::Error);
  EXPECT_TRUE(Ui.Messages[0].Text.contains(QStringLiteral("1 attachments or images were not found")));
  EXPECT_TRUE(Ui.Messages[0].Text.contains(QStringLiteral("stevan_white\" not found")));
}

// Before it writes, the rebuilt export asks for the folder that files not where Eudora left them went
// to; a file found there is joined. Without a missing file nothing is asked.
TEST_F(TRebuiltExport, AsksWhereMissingAttachmentsWentBeforeItWrites)
{
  const fs::path mailbox = CopyOfFolder();
  const fs::path moved = Temp.Path() / "moved";
  fs::create_directories(moved);
  fs::rename(mailbox.parent_path() / "attach" / "stevan_white", moved / "stevan_white");
  Open(mailbox);
  Click("sbSelectAll");
  Ui.FolderAnswers.push_back(ToQString(Folder("rebuilt")));
  Ui.FolderAnswers.push_back(ToQString(moved));
  Ui.Asked.clear();
  Trigger("mnuExportRebuilt");
  ASSERT_EQ(Ui.Asked.size(), 2u);
  EXPECT_TRUE(Ui.Asked[1].startsWith(QStringLiteral("1 attachments or images were not found where Eudora left them")))
      << Ui.Asked[1].toStdString();
  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_EQ(Ui.Messages[0].Kind, TMessageKind::Information) << Ui.Messages[0].Text.toStdString();
  EXPECT_TRUE(Ui.Messages[0].Text.startsWith(QStringLiteral("5 emails written, 3 attachments and 2 images joined.")))
      << Ui.Messages[0].Text.toStdString();

  Ui.Asked.clear();
  Ui.Messages.clear();
  fs::rename(moved / "stevan_white", mailbox.parent_path() / "attach" / "stevan_white");
  Ui.FolderAnswers.push_back(ToQString(Folder("again")));
  Trigger("mnuExportRebuilt");
  EXPECT_EQ(Ui.Asked.size(), 1u) << "nothing missing, nothing asked";
}

TEST_F(TRebuiltExport, WritesOneMboxFileInRowOrder)
{
  Open(CopyOfFolder());
  ClickHeader(4);
  Click("sbSelectAll");
  const fs::path file = Temp.Path() / "all.mbox";
  Ui.SaveAnswers.push_back(ToQString(file));
  Trigger("mnuExportMbox");

  EXPECT_EQ(Ui.Asked.last(), QStringLiteral("Save Selected Emails As Mbox File"));
  const std::string written = ReadFile(file);
  std::vector<std::string> subjects;
  for (std::size_t at = written.find("\nSubject: "); at != std::string::npos; at = written.find("\nSubject: ", at + 1))
    subjects.push_back(written.substr(at + 10, written.find('\n', at + 1) - at - 10));
  std::vector<std::string> shown;
  for (const QString& subject : Column(4))
    shown.push_back(subject.trimmed().toStdString());
  EXPECT_EQ(subjects, shown);
  EXPECT_EQ(written.rfind("From MAILER-DAEMON Mon Dec 13 18:45:29 2010\n", 0), 0u);
  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_EQ(Ui.Messages[0].Kind, TMessageKind::Information);
}

TEST_F(TRebuiltExport, CancellingTheSaveDialogDoesNothing)
{
  Open(CopyOfFolder());
  Click("sbSelectAll");
  Trigger("mnuExportMbox");
  EXPECT_TRUE(Ui.Messages.empty());
}

}  // namespace
}  // namespace quillmend::test

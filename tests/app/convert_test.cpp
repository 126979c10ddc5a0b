// Convert Whole Mail Folder: its dialog, the conversion run as a job, and the report's table.

#include "tests/app/fixture.h"

#include "app/frmConvert.h"
#include "app/job.h"
#include "app/wait/parsewaitfrm.h"
#include "tests/support/watchdog.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSpinBox>
#include <QTest>

#include <fstream>
#include <map>

namespace quillmend::test {
namespace {

namespace fs = std::filesystem;

// Every file below folder by its relative path, with its bytes.
std::map<std::string, std::string> Contents(const fs::path& folder)
{
  std::map<std::string, std::string> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->is_regular_file())
      files[it->path().lexically_relative(folder).generic_string()] = ReadFile(it->path());
  return files;
}

// Whether the two folders hold the same files with the same bytes; names the first that differs.
::testing::AssertionResult SameFiles(const fs::path& folder, const fs::path& expected)
{
  const std::map<std::string, std::string> got = Contents(folder), want = Contents(expected);
  for (const auto& [name, bytes] : want)
    if (!got.contains(name) || got.at(name) != bytes)
      return ::testing::AssertionFailure() << name << (got.contains(name) ? " differs" : " is missing");
  for (const auto& [name, bytes] : got)
    if (!want.contains(name))
      return ::testing::AssertionFailure() << name << " is one too many";
  return ::testing::AssertionSuccess();
}

QStringList Texts(const std::vector<std::string>& cells)
{
  QStringList texts;
  for (const std::string& cell : cells)
    texts << QString::fromStdString(cell);
  return texts;
}

class TConvert : public TMainWindowTest {
protected:
  void TearDown() override
  {
    Gate.release(1 << 20);  // a job held by a failed test goes on, so the window can close
    TMainWindowTest::TearDown();
  }
  // A copy of the Windows Eudora folder: In holds five messages, the other mailboxes none.
  fs::path CopyOfEudora()
  {
    const fs::path folder = Temp.Path() / "Eudora";
    fs::copy(InMbx.parent_path(), folder, fs::copy_options::recursive);
    return folder;
  }
  void Convert(const TConvertRequest& request)
  {
    Ui.ConvertAnswers.push_back(request);
    Child<QAction>("mnuConvertFolder")->trigger();
    WaitForJob();
  }
  // The cell of the last table's row named row, under head.
  QString Cell(const QString& row, const QString& head)
  {
    if (Ui.Tables.empty()) {
      ADD_FAILURE() << "no table shown";
      return {};
    }
    const TFakeInterface::TTable& table = Ui.Tables.back();
    for (const QStringList& cells : table.Rows)
      if (cells.value(0) == row)
        return cells.value(table.Heads.indexOf(head));
    ADD_FAILURE() << "no row " << row.toStdString();
    return {};
  }
  QString FirstNote()
  {
    return Ui.Tables.empty() ? QString() : Ui.Tables.back().Notes.section(QLatin1Char('\n'), 0, 0);
  }

  TDeadline Deadline{120};
  QSemaphore Gate;
};

TEST_F(TConvert, ConvertsTheFolderAndShowsItsTable)
{
  const fs::path eudora = CopyOfEudora();
  Open(eudora / "In.mbx");
  ASSERT_EQ(Window->Emails().size(), 5u);
  const fs::path target = Temp.Path() / "store";
  Convert({eudora, TStoreKind::Maildir, target, TDeletedMail::Separate});

  ASSERT_EQ(Ui.Tables.size(), 1u);
  EXPECT_TRUE(Ui.Messages.empty());
  const QString found = QString::number(Window->Emails().size());
  EXPECT_EQ(Cell(QStringLiteral("In"), QStringLiteral("found")), found);
  EXPECT_EQ(Cell(QStringLiteral("In"), QStringLiteral("written")), found);
  EXPECT_EQ(QString::number(Contents(target / "cur").size()), found);
  EXPECT_EQ(FirstNote(), QStringLiteral("Converted into %1").arg(QDir::toNativeSeparators(ToQString(target))));
  EXPECT_TRUE(Window->isEnabled());
}

TEST_F(TConvert, NamesEachAttachmentNotFoundUnderTheTable)
{
  const fs::path eudora = CopyOfEudora();
  fs::remove(eudora / "attach" / "stevan_white");
  Convert({eudora, TStoreKind::Maildir, Temp.Path() / "store", TDeletedMail::Separate});
  ASSERT_EQ(Ui.Tables.size(), 1u);
  EXPECT_EQ(Cell(QStringLiteral("In"), QStringLiteral("parts missing")), QStringLiteral("1"));
  const QStringList notes = Ui.Tables.back().Notes.split(QLatin1Char('\n'));
  ASSERT_EQ(notes.size(), 2) << Ui.Tables.back().Notes.toStdString();
  // Which message, then the attachment as Eudora named it, then why it was not found.
  const QRegularExpression line(QStringLiteral("^In #[0-9]+: \"[^\"]*stevan_white\" not found"));
  EXPECT_TRUE(line.match(notes[1]).hasMatch()) << notes[1].toStdString();
}

// Each format and each choice for the deleted mail reaches the conversion: the window makes what
// the conversion itself makes of the same request, and shows its table.
TEST_F(TConvert, MakesWhatTheRequestAsksFor)
{
  const fs::path eudora = CopyOfEudora();
  // A message its index does not list: deleted mail.
  std::ofstream(eudora / "In.mbx", std::ios::binary | std::ios::app)
      << "From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: deleted\r\n\r\nbody\r\n";
  const std::pair<TStoreKind, TDeletedMail> cases[] = {{TStoreKind::Maildir, TDeletedMail::Separate},
                                                       {TStoreKind::MboxTree, TDeletedMail::Same},
                                                       {TStoreKind::EmlTree, TDeletedMail::Skip}};
  for (const auto& [kind, deleted] : cases) {
    const std::string name = std::to_string(static_cast<int>(kind));
    SCOPED_TRACE(name);
    const fs::path target = Temp.Path() / ("window" + name), expected = Temp.Path() / ("core" + name);
    Convert({eudora, kind, target, deleted});
    TConvertOptions options;
    options.Deleted = deleted;
    const std::vector<std::vector<std::string>> table = ReportTable(ConvertMailFolder(eudora, kind, expected, options));

    EXPECT_FALSE(Contents(expected).empty());
    EXPECT_TRUE(SameFiles(target, expected));
    ASSERT_FALSE(Ui.Tables.empty());
    EXPECT_EQ(Ui.Tables.back().Heads, Texts(table.front()));
    ASSERT_EQ(Ui.Tables.back().Rows.size(), static_cast<qsizetype>(table.size() - 1));
    for (std::size_t row = 1; row < table.size(); ++row)
      EXPECT_EQ(Ui.Tables.back().Rows[static_cast<qsizetype>(row - 1)], Texts(table[row]));
  }
}

TEST_F(TConvert, CancellingTheDialogWritesNothing)
{
  Child<QAction>("mnuConvertFolder")->trigger();  // no answer preset: cancelled
  EXPECT_EQ(Ui.ProposedConversions.size(), 1u);
  EXPECT_FALSE(Window->Busy());
  EXPECT_TRUE(Ui.Tables.empty());
  EXPECT_TRUE(Ui.Messages.empty());
  EXPECT_TRUE(fs::is_empty(Temp.Path()));
}

TEST_F(TConvert, AFolderItCannotConvertIsAnError)
{
  const fs::path eudora = CopyOfEudora(), plain = Temp.Path() / "plain";
  fs::create_directories(plain);
  const struct {
    fs::path From, Into;
    const char* Says;
  } cases[] = {{eudora, eudora / "Converted", "inside the Eudora folder"},
               {plain, Temp.Path() / "store", "Not an Eudora mail folder"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Says);
    Ui.Messages.clear();
    Convert({c.From, TStoreKind::Maildir, c.Into, TDeletedMail::Separate});
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_EQ(Ui.Messages[0].Kind, TMessageKind::Error);
    EXPECT_TRUE(Ui.Messages[0].Text.contains(QLatin1String(c.Says))) << Ui.Messages[0].Text.toStdString();
    EXPECT_TRUE(Ui.Tables.empty());
    EXPECT_FALSE(fs::exists(c.Into));
    EXPECT_TRUE(Window->isEnabled());
  }
}

TEST_F(TConvert, ProposesTheTopOfTheOpenMailboxsEudoraFolder)
{
  const fs::path eudora = CopyOfEudora(), mac = Temp.Path() / "Mac";
  fs::copy(DataFile("eudora-mac-6.2.4"), mac, fs::copy_options::recursive);
  fs::create_directories(eudora / "Work");
  fs::copy_file(InMbx, eudora / "Work" / "Projects.mbx");
  Temp.Write("Eudora/Work/descmap.pce", "Projects,Projects.mbx,S,N\r\n");
  const struct {
    fs::path Mailbox, Top;
  } cases[] = {
      {eudora / "In.mbx", eudora}, {eudora / "Work" / "Projects.mbx", eudora}, {mac / "Mail Folder" / "In", mac}};
  Child<QAction>("mnuConvertFolder")->trigger();
  ASSERT_EQ(Ui.ProposedConversions.size(), 1u);
  EXPECT_EQ(Ui.ProposedConversions.back().EudoraFolder, fs::path()) << "no mailbox open";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Mailbox.string());
    Open(c.Mailbox);
    ASSERT_EQ(Window->FileName(), QDir::toNativeSeparators(ToQString(c.Mailbox)));
    Child<QAction>("mnuConvertFolder")->trigger();
    EXPECT_EQ(Ui.ProposedConversions.back().EudoraFolder, c.Top);
  }
  EXPECT_TRUE(Ui.Tables.empty());
}

// Cancelled while In's first message is being written: what was written is kept whole and counted,
// nothing half-written is left, and converting again adds only what is missing.
TEST_F(TConvert, CancelLeavesWholeFilesAndConvertingAgainGoesOn)
{
  const fs::path eudora = CopyOfEudora(), target = Temp.Path() / "store", expected = Temp.Path() / "core";
  const fs::path cur = target / "cur";
  // A message is written under ".<name>.<n>.part" and named once it is whole.
  const auto files = [](const fs::path& folder, bool whole) {
    std::size_t count = 0;
    for (const auto& [name, bytes] : Contents(folder))
      count += !name.ends_with(".part") == whole;
    return count;
  };
  bool held = false;
  QSemaphore reached;
  Window->Jobs().SetStepHook([&] {
    if (!held && files(cur, false) > 0) {
      held = true;
      reached.release();
      Gate.acquire();
    }
  });
  Ui.ConvertAnswers.push_back(TConvertRequest{eudora, TStoreKind::Maildir, target, TDeletedMail::Separate});
  Child<QAction>("mnuConvertFolder")->trigger();
  ASSERT_TRUE(reached.tryAcquire(1, 30000));
  QDeadlineTimer shown(10000);
  TfrmParseWait* progress = nullptr;
  while (!progress && !shown.hasExpired()) {
    QTest::qWait(5);
    for (QWidget* top : QApplication::topLevelWidgets())
      if (auto* form = qobject_cast<TfrmParseWait*>(top); form && form->isVisible())
        progress = form;
  }
  ASSERT_NE(progress, nullptr);
  QTest::mouseClick(progress->btnCancel, Qt::LeftButton);
  Gate.release(1 << 20);
  WaitForJob();

  ASSERT_EQ(Ui.Tables.size(), 1u);
  EXPECT_EQ(FirstNote(),
            QStringLiteral("Cancelled: the messages written so far are whole; converting again goes on from there."));
  const QString found = Cell(QStringLiteral("In"), QStringLiteral("found"));
  const std::size_t kept = files(cur, true);
  EXPECT_GT(kept, 0u);
  EXPECT_LT(kept, found.toULongLong());
  EXPECT_EQ(Cell(QStringLiteral("In"), QStringLiteral("written")), QString::number(kept));
  EXPECT_EQ(files(target, false), 0u) << "a temporary file was left";
  ConvertMailFolder(eudora, TStoreKind::Maildir, expected, {});
  const std::map<std::string, std::string> whole = Contents(expected / "cur");
  for (const auto& [name, bytes] : Contents(cur))
    EXPECT_TRUE(whole.contains(name) && whole.at(name) == bytes) << name;

  Convert({eudora, TStoreKind::Maildir, target, TDeletedMail::Separate});
  EXPECT_EQ(Cell(QStringLiteral("In"), QStringLiteral("present")), QString::number(kept));
  EXPECT_EQ(Cell(QStringLiteral("In"), QStringLiteral("written")), QString::number(found.toULongLong() - kept));
  EXPECT_TRUE(SameFiles(target, expected));
}

TEST(TConvertDialog, OkNeedsBothFolders)
{
  const struct {
    const char *Eudora, *Target;
    bool Ok;
  } cases[] = {{"", "", false}, {"/e", "", false}, {"", "/t", false}, {"  ", "/t", false}, {"/e", "/t", true}};
  TfrmConvert dialog({});
  for (const auto& c : cases) {
    dialog.edtEudoraFolder->setText(QLatin1String(c.Eudora));
    dialog.edtTarget->setText(QLatin1String(c.Target));
    EXPECT_EQ(dialog.Buttons->button(QDialogButtonBox::Ok)->isEnabled(), c.Ok) << c.Eudora << "|" << c.Target;
  }
}

TEST(TConvertDialog, ShowsTheProposalUnderItsNamesAndGivesItBack)
{
  const struct {
    TConvertRequest Request;
    const char *Format, *Deleted;
  } cases[] = {
      {{"/mail/Eudora", TStoreKind::Maildir, "/out/md", TDeletedMail::Separate}, "Maildir", "that repeats the tree"},
      {{"/mail/Mac", TStoreKind::MboxTree, "/out/tb", TDeletedMail::Same}, "Thunderbird", "Beside the live mail"},
      {{"/mail/x", TStoreKind::EmlTree, "/out/eml", TDeletedMail::Skip}, ".eml files", "Leave out"}};
  for (const auto& c : cases) {
    TfrmConvert dialog(c.Request);
    EXPECT_TRUE(dialog.cboFormat->currentText().contains(QLatin1String(c.Format))) << c.Format;
    EXPECT_TRUE(dialog.cboDeleted->currentText().contains(QLatin1String(c.Deleted))) << c.Deleted;
    EXPECT_TRUE(dialog.Buttons->button(QDialogButtonBox::Ok)->isEnabled());
    EXPECT_TRUE(dialog.Request() == c.Request) << c.Format;
  }
}

#ifdef QUILLMEND_HAVE_IMAP
TEST(TConvertDialog, AMailAccountInPlaceOfAFolder)
{
  TConvertRequest proposed{"/mail/Eudora", TStoreKind::Maildir, {}, TDeletedMail::Same};
  proposed.ToImap = true;
  proposed.Imap = {"imap.example.org", 143, TImapSecurity::StartTls, "robin@example.org", "secret"};
  TfrmConvert dialog(proposed);
  EXPECT_TRUE(dialog.cboFormat->currentText().contains(QLatin1String("IMAP")));
  EXPECT_FALSE(dialog.grpAccount->isHidden());
  EXPECT_TRUE(dialog.edtTarget->parentWidget()->isHidden());
  EXPECT_EQ(dialog.edtPassword->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(dialog.Request() == proposed);
  // Each field of the account is needed; the target folder is not.
  for (QLineEdit* edit : {dialog.edtServer, dialog.edtUser, dialog.edtPassword}) {
    const QString kept = edit->text();
    edit->clear();
    EXPECT_FALSE(dialog.Buttons->button(QDialogButtonBox::Ok)->isEnabled()) << edit->objectName().toStdString();
    edit->setText(kept);
    EXPECT_TRUE(dialog.Buttons->button(QDialogButtonBox::Ok)->isEnabled()) << edit->objectName().toStdString();
  }
  // The security's usual port follows it; a folder format hides the account again.
  dialog.cboSecurity->setCurrentIndex(dialog.cboSecurity->findData(static_cast<int>(TImapSecurity::Tls)));
  EXPECT_EQ(dialog.spnPort->value(), 993);
  dialog.cboFormat->setCurrentIndex(dialog.cboFormat->findData(static_cast<int>(TStoreKind::Maildir)));
  EXPECT_TRUE(dialog.grpAccount->isHidden());
  EXPECT_FALSE(dialog.Request().ToImap);
}
#endif

}  // namespace
}  // namespace quillmend::test

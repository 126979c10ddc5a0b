// The message list: rows, filter, column sort and the two check commands.

#include "tests/app/fixture.h"

#include <QAction>
#include <QDir>
#include <QTest>

#include <QTreeWidget>

#include "app/emaillistmodel.h"
#include "mime/maildate.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextDocument>

#include <algorithm>
#include <optional>

namespace quillmend::test {
namespace {

using TMessageList = TMainWindowTest;

// Names and subjects show without the leading space the record keeps; the date as stored.
const QStringList kSubjects = {"Email Attachment Test", "UT Department of Computer Science Newsletter:  News@UTCS",
                               "Appointment reminder from Austin Dental Arts", "This is a test", "Another email test"};

TEST_F(TMessageList, RowsCarryTheRecordIndexAndTheHeaderValues)
{
  Open(InMbx);
  ASSERT_EQ(RowCount(), 5);
  EXPECT_EQ(Column(0), (QStringList{"0", "1", "2", "3", "4"}));
  EXPECT_EQ(Column(4), kSubjects);
  const QStringList first = {Column(1)[0], Column(2)[0], Column(3)[0]};
  EXPECT_EQ(first, (QStringList{" Sun, 12 Dec 2010 23:42:55 -0600", "Jonathan Abbey <jonabbey@arlut.utexas.edu>",
                                "eudtest@arlut.utexas.edu"}));
  EXPECT_EQ(Column(2)[2], QStringLiteral("Austin Dental Arts <dr@smilereminder.com>"));
  EXPECT_EQ(Checks(), std::vector<bool>(5, false));
  const QModelIndex caption = List()->model()->index(0, 0);
  EXPECT_EQ(caption.data(Qt::DecorationRole).userType(), QMetaType::QIcon);
  EXPECT_TRUE(caption.flags() & Qt::ItemIsUserCheckable);
  EXPECT_FALSE(caption.flags() & Qt::ItemIsEditable);
}

TEST_F(TMessageList, AMailboxWithoutMessagesLeavesTheListEmpty)
{
  Open(InMbx);
  Open(DataFile("eudora-windows-7.1/Junk.mbx"));
  EXPECT_EQ(RowCount(), 0);
  EXPECT_TRUE(Window->Emails().empty());
}

TEST_F(TMessageList, HeaderValuesAreReadAsWindows1252)
{
  const auto mailbox =
      Temp.Write("Latin.mbx", std::string("From ???@??? x\r\nSubject: Caf\xe9 \x80 5\r\n\r\nbody\r\n"));
  Open(mailbox);
  ASSERT_EQ(RowCount(), 1);
  EXPECT_EQ(Column(4)[0], QString::fromUtf8("Caf\xc3\xa9 \xe2\x82\xac 5"));
}

TEST_F(TMessageList, AfterARebuildTheLastRowIsInView)
{
  std::string bytes;
  for (int i = 0; i < 200; ++i)
    bytes += "From ???@??? x\r\nSubject: message " + std::to_string(i) + "\r\n\r\nbody\r\n";
  Open(Temp.Write("Many.mbx", bytes));
  ASSERT_EQ(RowCount(), 200);
  QTableView* list = List();
  const QRect last = list->visualRect(list->model()->index(199, 0));
  EXPECT_TRUE(list->viewport()->rect().intersects(last));
  EXPECT_GT(list->verticalScrollBar()->value(), 0);
}

struct TFilterState {
  bool KeywordEnabled;
  bool ApplyEnabled;
  bool ClearEnabled;
};

void ExpectFilterState(const TFilterState& state, QLineEdit* keyword, QPushButton* apply, QPushButton* clear)
{
  EXPECT_EQ(keyword->isEnabled(), state.KeywordEnabled);
  EXPECT_EQ(apply->isEnabled(), state.ApplyEnabled);
  EXPECT_EQ(clear->isEnabled(), state.ClearEnabled);
}

struct TFilterCase {
  const char* Keyword;
  QStringList Rows;
};

TEST_F(TMessageList, ApplyListsTheMessagesWhoseBodyHoldsTheKeyword)
{
  const TFilterCase cases[] = {
      {"two level attachment", {"0"}}, {"ATTACHMENT converted", {"0", "3"}},
      {"x-HTML", {"1", "2", "4"}},     {"Another email test", {}},  // stands only in a Subject line
      {"no such words anywhere", {}},
  };
  Open(InMbx);
  auto* keyword = Child<QLineEdit>("txtFilter");
  for (const TFilterCase& c : cases) {
    SCOPED_TRACE(c.Keyword);
    keyword->setText(QString::fromLatin1(c.Keyword));
    Click("btnApplyFilter");
    EXPECT_EQ(Column(0), c.Rows);
    EXPECT_EQ(Window->Emails().size(), 5u);
    Click("btnClearFilter");
    EXPECT_EQ(RowCount(), 5);
  }
  EXPECT_TRUE(Ui.Messages.empty());
}

TEST_F(TMessageList, FilterControlsFollowTheTwoStates)
{
  auto* keyword = Child<QLineEdit>("txtFilter");
  auto* apply = Child<QPushButton>("btnApplyFilter");
  auto* clear = Child<QPushButton>("btnClearFilter");
  const TFilterState off{true, true, false};
  const TFilterState on{false, false, true};

  ExpectFilterState(off, keyword, apply, clear);
  Click("btnApplyFilter");  // empty keyword: nothing happens
  ExpectFilterState(off, keyword, apply, clear);

  // Apply before any mailbox: the controls switch, the list stays empty, the next mailbox is filtered.
  keyword->setText(QStringLiteral("two level"));
  Click("btnApplyFilter");
  ExpectFilterState(on, keyword, apply, clear);
  EXPECT_EQ(RowCount(), 0);
  Open(InMbx);
  EXPECT_EQ(Column(0), QStringList{"0"});

  Click("btnClearFilter");
  ExpectFilterState(off, keyword, apply, clear);
  EXPECT_EQ(keyword->text(), QStringLiteral("two level"));
  EXPECT_EQ(RowCount(), 5);
}

TEST_F(TMessageList, ApplyWithAnEmptyKeywordKeepsTheList)
{
  Open(InMbx);
  Child<QLineEdit>("txtFilter")->clear();
  Click("btnApplyFilter");
  EXPECT_EQ(RowCount(), 5);
  EXPECT_TRUE(Child<QPushButton>("btnApplyFilter")->isEnabled());
}

TEST_F(TMessageList, KeywordsAreSearchedAsWindows1252Bytes)
{
  // The last message never closes its header block, so its whole range is searched.
  const auto mailbox = Temp.Write("Kw.mbx", std::string("From ???@??? a\r\nSubject: one\r\n\r\nCAF\xc9 au lait\r\n"
                                                        "From ???@??? b\r\nSubject: two\r\n\r\nprice \x80 5\r\n"
                                                        "From ???@??? c\r\nSubject: three needle\r\n"));
  const TFilterCase cases[] = {
      {"caf\xc3\xa9", {"0"}},     // é in any letter case
      {"\xe2\x82\xac 5", {"1"}},  // the euro sign is byte 0x80
      {"NEEDLE", {"2"}},
  };
  Open(mailbox);
  for (const TFilterCase& c : cases) {
    SCOPED_TRACE(c.Keyword);
    Child<QLineEdit>("txtFilter")->setText(QString::fromUtf8(c.Keyword));
    Click("btnApplyFilter");
    EXPECT_EQ(Column(0), c.Rows);
    Click("btnClearFilter");
  }
  EXPECT_TRUE(Ui.Messages.empty());
}

TEST_F(TMessageList, AMacMailboxIsShownPreviewedAndFilteredInMacRoman)
{
  const auto mailbox = Temp.Write("In", "From ???@??? \rFrom: J\x9Frgen\rSubject: caf\x8E\r\rbody \xC7IC\xC8\r"
                                        "From ???@??? \rSubject: other\r\rplain\r");
  Open(mailbox);
  EXPECT_EQ(Column(2), (QStringList{QString::fromUtf8("J\xc3\xbcrgen"), QString()}));
  EXPECT_EQ(Column(4), (QStringList{QString::fromUtf8("caf\xc3\xa9"), QStringLiteral("other")}));
  EXPECT_EQ(Child<QTreeWidget>("tvFiles")->topLevelItem(1)->child(0)->toolTip(0).section(QLatin1Char('\n'), 0, 1),
            QDir::toNativeSeparators(ToQString(mailbox)) + QStringLiteral("\nMac mailbox"));
  ClickRow(0);
  EXPECT_TRUE(Preview().contains(QString::fromUtf8("body \xc2\xabIC\xc2\xbb"))) << Preview().toStdString();
  Child<QLineEdit>("txtFilter")->setText(QString::fromUtf8("\xc2\xabic\xc2\xbb"));
  Click("btnApplyFilter");
  EXPECT_EQ(Column(0), QStringList{QStringLiteral("0")});
  EXPECT_TRUE(Ui.Messages.empty());
}

TEST_F(TMessageList, AKeywordNoMailCanHoldIsSaidBeforeTheEmptyList)
{
  const auto mailbox = CopyOfIn();
  Open(mailbox);
  auto* keyword = Child<QLineEdit>("txtFilter");
  keyword->setText(QString::fromUtf8("\xe6\x97\xa5\xe6\x9c\xac"));  // no Windows-1252 byte
  Click("btnApplyFilter");
  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_EQ(Ui.Messages[0].Kind, TMessageKind::Information);
  EXPECT_EQ(Ui.Messages[0].Title, QStringLiteral("Information"));
  EXPECT_TRUE(Ui.Messages[0].Text.contains(keyword->text()));
  EXPECT_EQ(Column(0), QStringList());
  ExpectFilterState({false, false, true}, keyword, Child<QPushButton>("btnApplyFilter"),
                    Child<QPushButton>("btnClearFilter"));

  // Said before the mailbox is read again: also when that then fails.
  Click("btnClearFilter");
  std::filesystem::remove(mailbox);
  Ui.Messages.clear();
  Click("btnApplyFilter");
  ASSERT_EQ(Ui.Messages.size(), 2u);
  EXPECT_EQ(Ui.Messages[0].Kind, TMessageKind::Information);
  EXPECT_EQ(Ui.Messages[1].Kind, TMessageKind::Error);
}

struct TFailedSwitchCase {
  const char* Name;
  bool FilterOn;  // the state the failing button would leave
  void (*Break)(const std::filesystem::path& mailbox);
};

// A button whose rescan fails leaves the controls, like the rows, as they were; the next try works.
TEST_F(TMessageList, FilterControlsStayWithTheRowsWhenTheRescanFails)
{
  const TFailedSwitchCase cases[] = {
      {"Apply on a removed mailbox", true,
       [](const std::filesystem::path& mailbox) { std::filesystem::remove(mailbox); }},
      {"Clear on a mailbox replaced by a folder", false,
       [](const std::filesystem::path& mailbox) {
         std::filesystem::remove(mailbox);
         std::filesystem::create_directory(mailbox);
       }},
  };
  auto* keyword = Child<QLineEdit>("txtFilter");
  auto* apply = Child<QPushButton>("btnApplyFilter");
  auto* clear = Child<QPushButton>("btnClearFilter");
  const TFilterState off{true, true, false};
  const TFilterState on{false, false, true};
  const QStringList all = {"0", "1", "2", "3", "4"};
  const QStringList matching = {"0"};
  for (const TFailedSwitchCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto mailbox = CopyOfIn();
    keyword->setText(QStringLiteral("two level"));
    Open(mailbox);
    if (!c.FilterOn)
      Click("btnApplyFilter");
    const char* button = c.FilterOn ? "btnApplyFilter" : "btnClearFilter";
    const TFilterState& before = c.FilterOn ? off : on;
    const TFilterState& after = c.FilterOn ? on : off;
    const QStringList& rowsBefore = c.FilterOn ? all : matching;
    const QStringList& rowsAfter = c.FilterOn ? matching : all;
    ASSERT_EQ(Column(0), rowsBefore);

    c.Break(mailbox);
    Ui.Messages.clear();
    Click(button);
    ASSERT_EQ(Ui.Messages.size(), 1u);
    EXPECT_EQ(Ui.Messages[0].Kind, TMessageKind::Error);
    EXPECT_TRUE(Window->isEnabled());
    ExpectFilterState(before, keyword, apply, clear);
    EXPECT_EQ(Column(0), rowsBefore);

    std::filesystem::remove_all(mailbox);
    CopyOfIn();
    Click(button);
    ExpectFilterState(after, keyword, apply, clear);
    EXPECT_EQ(Column(0), rowsAfter);
    if (c.FilterOn)
      Click("btnClearFilter");
  }
}

struct TTooltipCase {
  const char* Subject;
  const char* Shown;
};

// A tooltip shows the value as the cell does, even where it looks like markup.
TEST_F(TMessageList, TooltipsShowHeaderValuesAsPlainText)
{
  const TTooltipCase cases[] = {
      {"<b>x</b>", "<b>x</b>"},
      {"&lt;i&gt; &amp; <br>", "&lt;i&gt; &amp; <br>"},
      {"Tom <tom@example.com>  two  spaces", "Tom <tom@example.com>  two  spaces"},
      {"=?iso-8859-1?Q?<b>M=FCller</b>?=", "<b>M\xfcller</b>"},
  };
  std::string bytes;
  for (const TTooltipCase& c : cases)
    bytes += std::string("From ???@??? x\r\nSubject: ") + c.Subject + "\r\n\r\nbody\r\n";
  Open(Temp.Write("Markup.mbx", bytes));
  ASSERT_EQ(RowCount(), static_cast<int>(std::size(cases)));
  for (int row = 0; row < RowCount(); ++row) {
    const TTooltipCase& c = cases[row];
    SCOPED_TRACE(c.Subject);
    const QModelIndex cell = List()->model()->index(row, TEmailListModel::Subject);
    EXPECT_EQ(cell.data().toString(), QString::fromLatin1(c.Shown));
    // Read the way the tooltip reads it: as rich text when Qt takes it for rich text.
    const QString tip = cell.data(Qt::ToolTipRole).toString();
    QTextDocument rendered;
    if (Qt::mightBeRichText(tip))
      rendered.setHtml(tip);
    else
      rendered.setPlainText(tip);
    EXPECT_EQ(rendered.toPlainText(), QString::fromLatin1(c.Shown));
  }
}

struct TSortStep {
  int Column;
  QStringList ItemNums;
};

class TSortedList : public TMainWindowTest {
protected:
  void ExpectSortSequence(const std::vector<TSortStep>& steps)
  {
    for (std::size_t i = 0; i < steps.size(); ++i) {
      SCOPED_TRACE(i);
      ClickHeader(steps[i].Column);
      EXPECT_EQ(Column(0), steps[i].ItemNums);
    }
  }
};

TEST_F(TSortedList, FirstClickOnItemNumSortsAscendingThenReverses)
{
  Open(InMbx);
  ExpectSortSequence({{0, {"0", "1", "2", "3", "4"}}, {0, {"4", "3", "2", "1", "0"}}, {0, {"0", "1", "2", "3", "4"}}});
}

TEST_F(TSortedList, FirstClickOnSubjectSortsZToAThenTheDirectionCarriesOver)
{
  Open(InMbx);
  ExpectSortSequence({
      {4, {"1", "3", "0", "2", "4"}},  // Z to A
      {4, {"4", "2", "0", "3", "1"}},  // A to Z
      {2, {"2", "0", "3", "4", "1"}},  // From A to Z; equal senders in file order
      {0, {"0", "1", "2", "3", "4"}},  // another column: same direction
  });
}

TEST_F(TMessageList, SortIgnoresLetterCaseAndStaysAcrossMailboxes)
{
  const auto mailbox = Temp.Write("Case.mbx", std::string("From ???@??? x\r\nSubject: beta\r\n\r\n.\r\n"
                                                          "From ???@??? x\r\nSubject: Alpha\r\n\r\n.\r\n"
                                                          "From ???@??? x\r\nSubject: GAMMA\r\n\r\n.\r\n"
                                                          "From ???@??? x\r\nSubject: alpha2\r\n\r\n.\r\n"));
  Open(mailbox);
  ClickHeader(4);
  EXPECT_EQ(Column(4), (QStringList{"GAMMA", "beta", "alpha2", "Alpha"}));
  // A rebuild lists the rows in file order again, and the sort state carries on.
  Open(mailbox);
  EXPECT_EQ(Column(0), (QStringList{"0", "1", "2", "3"}));
  ClickHeader(4);
  EXPECT_EQ(Column(4), (QStringList{"Alpha", "alpha2", "beta", "GAMMA"}));
}

// Date sorts by the instant named, first click descending; the cells keep the stored text.
TEST_F(TSortedList, DateSortsByTimeNotByText)
{
  Open(InMbx);
  ExpectSortSequence({{1, {"4", "3", "0", "1", "2"}}, {1, {"2", "1", "0", "3", "4"}}});
  EXPECT_EQ(Column(1)[0], QStringLiteral(" Thu, 22 Apr 2010 07:30:30 -0600 (MDT)"));

  // The generated sample, its zones all over the world: each row no earlier than the one before.
  Open(DataFile("eudora-windows-7.1").parent_path().parent_path().parent_path() / "examples" / "sample.mbx");
  ClickHeader(1);  // the column sorted last: the direction turns, to descending
  std::vector<std::int64_t> instants;
  for (const QString& date : Column(1)) {
    const std::optional<std::int64_t> instant = MailDateInstant(date.toStdString());
    ASSERT_TRUE(instant) << date.toStdString();
    instants.push_back(*instant);
  }
  EXPECT_GE(instants.size(), 20u);
  EXPECT_TRUE(std::is_sorted(instants.rbegin(), instants.rend()));
}

TEST_F(TMessageList, NamesAndSubjectsShowAndSortDecoded)
{
  Open(Temp.Write("Encoded.mbx",
                  std::string("From ???@??? x\r\nFrom: =?iso-8859-1?Q?Robert_M=FCller?= <r@x>\r\n"
                              "Subject: =?utf-8?B?w4RyZ2Vy?=\r\n\r\n.\r\n"
                              "From ???@??? x\r\nFrom: Anna <a@x>\r\nSubject: Zebra\r\n\r\n.\r\n"
                              "From ???@??? x\r\nFrom: =?koi8-r?B?8NLJ18XU?=\r\nSubject: beta\r\n\r\n.\r\n")));
  EXPECT_EQ(Column(2), (QStringList{QString::fromUtf8("Robert M\xc3\xbcller <r@x>"), "Anna <a@x>",
                                    QString::fromUtf8("\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82")}));
  QTextDocument tip;
  tip.setHtml(List()->model()->index(0, 2).data(Qt::ToolTipRole).toString());
  EXPECT_EQ(tip.toPlainText().replace(QChar(0xA0), QLatin1Char(' ')), Column(2)[0]);
  ClickHeader(4);  // Z to A, "Ärger" among the A's
  EXPECT_EQ(Column(0), (QStringList{"1", "2", "0"}));
}

TEST_F(TMessageList, TheStatusLineCountsShownAndCheckedMessages)
{
  auto* counts = Child<QLabel>("lblCounts");
  EXPECT_EQ(counts->text(), QStringLiteral("Showing 0 of 0 messages, 0 checked"));
  Open(InMbx);
  EXPECT_EQ(counts->text(), QStringLiteral("Showing 5 of 5 messages, 0 checked"));
  Click("sbSelectAll");
  EXPECT_EQ(counts->text(), QStringLiteral("Showing 5 of 5 messages, 5 checked"));
  QAbstractItemModel* model = List()->model();
  ASSERT_TRUE(model->setData(model->index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
  EXPECT_EQ(counts->text(), QStringLiteral("Showing 5 of 5 messages, 4 checked"));
  Child<QLineEdit>("txtFilter")->setText(QStringLiteral("ATTACHMENT converted"));
  Click("btnApplyFilter");
  EXPECT_EQ(counts->text(), QStringLiteral("Showing 2 of 5 messages, 0 checked"));
  Click("btnClearFilter");
  EXPECT_EQ(counts->text(), QStringLiteral("Showing 5 of 5 messages, 0 checked"));
  EXPECT_TRUE(Window->statusBar()->isVisibleTo(Window.get()));
}

TEST_F(TMessageList, SortKeepsChecksWithTheirRows)
{
  Open(InMbx);
  QAbstractItemModel* model = List()->model();
  ASSERT_TRUE(model->setData(model->index(1, 0), Qt::Checked, Qt::CheckStateRole));
  ClickHeader(4);
  EXPECT_EQ(Column(0)[0], QStringLiteral("1"));
  EXPECT_EQ(Checks(), (std::vector<bool>{true, false, false, false, false}));
}

TEST_F(TMessageList, SelectAllAndDeselectAllSetEveryCheck)
{
  Click("sbSelectAll");  // an empty list: nothing to do
  EXPECT_EQ(RowCount(), 0);
  Open(InMbx);
  ClickHeader(3);
  Click("sbSelectAll");
  EXPECT_EQ(Checks(), std::vector<bool>(5, true));
  Click("sbDeselectAll");
  EXPECT_EQ(Checks(), std::vector<bool>(5, false));
  // A rebuild starts unchecked.
  Click("sbSelectAll");
  Open(InMbx);
  EXPECT_EQ(Checks(), std::vector<bool>(5, false));
}

// Enter in the keyword box applies the filter; the checks survive the index's view switched on and
// off; the column order survives Clear.
TEST_F(TMessageList, TheFilterKeepsWhatTheUserDid)
{
  Open(InMbx);
  auto* keyword = Child<QLineEdit>("txtFilter");
  keyword->setText(QStringLiteral("ATTACHMENT converted"));
  QTest::keyClick(keyword, Qt::Key_Return);
  WaitForJob();
  EXPECT_EQ(RowCount(), 2) << "Enter applied the keyword";
  Click("btnClearFilter");
  ASSERT_EQ(RowCount(), 5);

  QAbstractItemModel* model = List()->model();
  ASSERT_TRUE(model->setData(model->index(1, 0), Qt::Checked, Qt::CheckStateRole));
  ASSERT_TRUE(model->setData(model->index(3, 0), Qt::Checked, Qt::CheckStateRole));
  const QStringList checkedBefore = {Column(0)[1], Column(0)[3]};
  auto* notInIndex = Child<QAction>("mnuNotInIndexOnly");
  notInIndex->trigger();
  notInIndex->trigger();
  ASSERT_EQ(RowCount(), 5);
  QStringList checkedAfter;
  for (int row = 0; row < RowCount(); ++row)
    if (model->index(row, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked)
      checkedAfter << Column(0)[row];
  EXPECT_EQ(checkedAfter, checkedBefore);

  ClickHeader(4);  // by subject
  const QStringList sorted = Column(4);
  keyword->setText(QStringLiteral("test"));
  Click("btnApplyFilter");
  Click("btnClearFilter");
  EXPECT_EQ(Column(4), sorted) << "Clear keeps the order";
}

}  // namespace
}  // namespace quillmend::test

// The mail client's index in the window: the Status column and its icon, the View menu's two items
// with the keyword filter, and the index's line in the tree's tooltip and under the list.

#include "tests/app/fixture.h"

#include "app/application.h"
#include "app/emaillistmodel.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTreeWidget>

#include <functional>

namespace quillmend::test {
namespace {

namespace fs = std::filesystem;
using TIndexView = TMainWindowTest;

constexpr int kStatus = TEmailListModel::Status;

// A copy of In.mbx beside an index that lists only the given entries of the real one.
fs::path MailboxListing(const TTempDir& dir, const std::vector<int>& entries)
{
  const fs::path mailbox = dir.Path() / "In.mbx";
  fs::copy_file(DataFile("eudora-windows-7.1/In.mbx"), mailbox, fs::copy_options::overwrite_existing);
  const std::string real = ReadFile(DataFile("eudora-windows-7.1/In.toc"));
  std::string toc = real.substr(0, 104);
  for (const int e : entries)
    toc += real.substr(104 + 218 * static_cast<std::size_t>(e), 218);
  toc[102] = static_cast<char>(entries.size());
  dir.Write("In.toc", toc);
  return mailbox;
}

// The index's line of the last added node's tooltip, which says the file's kind first.
QString NodeTip(QTreeWidget* tree)
{
  const QTreeWidgetItem* added = tree->topLevelItem(1);
  if (!added->childCount())
    return {};
  const QTreeWidgetItem* node = added->child(added->childCount() - 1);
  const QString tip = node->toolTip(0);
  EXPECT_TRUE(tip.startsWith(node->text(0) + QStringLiteral("\nWindows mailbox\n"))) << tip.toStdString();
  return tip.section(QLatin1Char('\n'), 2);
}

TEST_F(TIndexView, RealIndexShowsEveryMessageUnreadWithItsLine)
{
  Open(InMbx);
  ASSERT_EQ(RowCount(), 5);
  EXPECT_EQ(List()->model()->headerData(kStatus, Qt::Horizontal).toString(), QStringLiteral("Status"));
  EXPECT_EQ(Column(kStatus), QStringList(5, QStringLiteral("Unread")));
  const QString line = QStringLiteral("In.toc: 5 entries; 5 messages found, 5 listed, 0 not in index");
  EXPECT_EQ(Child<QLabel>("lblIndex")->text(), line);
  EXPECT_EQ(Child<QLabel>("lblIndex")->parentWidget(), Window->statusBar());
  EXPECT_EQ(NodeTip(Child<QTreeWidget>("tvFiles")), line);
  EXPECT_TRUE(Ui.Messages.empty());
}

TEST_F(TIndexView, MessagesNotInIndexStandOutAndSortLikeText)
{
  Open(MailboxListing(Temp, {0, 2, 4}));
  const QStringList statuses = {"Unread", "Not in index", "Unread", "Not in index", "Unread"};
  ASSERT_EQ(Column(kStatus), statuses);
  const qint64 deleted = AppIcon("deleted").cacheKey(), message = AppIcon("message").cacheKey();
  EXPECT_NE(deleted, message);
  for (int row = 0; row < 5; ++row) {
    const auto icon = List()->model()->index(row, 0).data(Qt::DecorationRole).value<QIcon>();
    EXPECT_EQ(icon.cacheKey(), row % 2 ? deleted : message) << row;
  }
  EXPECT_EQ(NodeTip(Child<QTreeWidget>("tvFiles")),
            QStringLiteral("In.toc: 3 entries; 5 messages found, 3 listed, 2 not in index"));

  ClickHeader(kStatus);  // a text column: Z to A first
  EXPECT_EQ(Column(0), (QStringList{"0", "2", "4", "1", "3"}));
  ClickHeader(kStatus);
  EXPECT_EQ(Column(0), (QStringList{"1", "3", "0", "2", "4"}));
}

struct TViewStep {
  const char* Name;
  std::function<void()> Act;
  QStringList ItemNums;
};

TEST_F(TIndexView, ShowOnlyNotInIndexCombinesWithTheKeywordAndCarriesToTheNextMailbox)
{
  const fs::path mailbox = MailboxListing(Temp, {0, 2, 4});
  Open(mailbox);
  auto* only = Child<QAction>("mnuNotInIndexOnly");
  ASSERT_TRUE(only->isCheckable());
  EXPECT_EQ(only->text(), QStringLiteral("Show Only Messages Not In Index"));
  const TViewStep steps[] = {
      {"only", [&] { only->trigger(); }, {"1", "3"}},
      {"keyword",
       [&] {
         Child<QLineEdit>("txtFilter")->setText(QStringLiteral("x-HTML"));
         Click("btnApplyFilter");
       },
       {"1"}},
      {"all again, keyword kept", [&] { only->trigger(); }, {"1", "2", "4"}},
      {"only again", [&] { only->trigger(); }, {"1"}},
      {"keyword cleared", [&] { Click("btnClearFilter"); }, {"1", "3"}},
      {"reopened", [&] { Open(mailbox); }, {"1", "3"}},
      {"off", [&] { only->trigger(); }, {"0", "1", "2", "3", "4"}},
  };
  for (const TViewStep& step : steps) {
    SCOPED_TRACE(step.Name);
    step.Act();
    EXPECT_EQ(Column(0), step.ItemNums);
  }
  EXPECT_TRUE(Ui.Messages.empty());
}

TEST_F(TIndexView, SelectMessagesNotInIndexChecksExactlyThose)
{
  Open(MailboxListing(Temp, {0, 2, 4}));
  Click("sbSelectAll");
  auto* select = Child<QAction>("mnuSelectNotInIndex");
  EXPECT_EQ(select->text(), QStringLiteral("Select Messages Not In Index"));
  select->trigger();
  EXPECT_EQ(Checks(), (std::vector<bool>{false, true, false, true, false}));
  ClickHeader(kStatus);
  EXPECT_EQ(Checks(), (std::vector<bool>{false, false, false, true, true})) << "checks stay with their rows";
}

TEST_F(TIndexView, ADamagedIndexCostsNoMessageAndIsSaidUnderTheList)
{
  const fs::path mailbox = MailboxListing(Temp, {0, 1, 2, 3, 4});
  std::string toc = ReadFile(Temp.Path() / "In.toc");
  toc[102] = 9;
  Temp.Write("In.toc", toc);
  Open(mailbox);
  ASSERT_EQ(RowCount(), 5);
  EXPECT_EQ(Column(kStatus), QStringList(5, QStringLiteral("No index")));
  const QString line = QStringLiteral("In.toc: 1,194 bytes but 9 entries need 2,066; 5 messages found, no index");
  EXPECT_EQ(Child<QLabel>("lblIndex")->text(), line);
  EXPECT_EQ(NodeTip(Child<QTreeWidget>("tvFiles")), line);
  EXPECT_TRUE(Ui.Messages.empty()) << "no error box for an index";
  Child<QAction>("mnuSelectNotInIndex")->trigger();
  EXPECT_EQ(Checks(), std::vector<bool>(5, false));
}

}  // namespace
}  // namespace quillmend::test

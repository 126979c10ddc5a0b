// File > Search Disk or Disk Image...: a disk image opened like a mailbox, its carved messages listed
// with whether they are complete or cut and where they lie, previewed, filtered and exported.

#include "tests/app/fixture.h"

#include "app/emaillistmodel.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>

namespace quillmend::test {
namespace {

namespace fs = std::filesystem;
using TSearchDisk = TMainWindowTest;

// An "image": zeros, the real mailbox starting a sector, zeros after it, then its first message
// again, cut at a sector boundary by binary bytes.
fs::path Image(const TTempDir& dir)
{
  const std::string mailbox = ReadFile(DataFile("eudora-windows-7.1/In.mbx"));
  std::string image(4096, '\0');
  image += mailbox;
  image.append((512 - image.size() % 512) % 512 + 1024, '\0');
  image += mailbox.substr(0, 1024);
  image.append(512, '\x01');
  return dir.Write("disk.img", image);
}

TEST_F(TSearchDisk, ListsTheCarvedMessagesWithTheirStateAndPlace)
{
  const fs::path image = Image(Temp);
  Ui.DiskAnswers.push_back(ToQString(image));
  Child<QAction>("mnuSearchDisk")->trigger();
  WaitForJob();
  EXPECT_TRUE(Ui.Asked.contains(QStringLiteral("Search Disk or Disk Image")));
  ASSERT_EQ(RowCount(), 6);
  QStringList states = Column(TEmailListModel::Status);
  EXPECT_EQ(states.count(QStringLiteral("complete, unknown")), 5) << states.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(states.count(QStringLiteral("cut, unknown")), 1);
  EXPECT_TRUE(Child<QLabel>("lblIndex")->text().startsWith(QStringLiteral("6 messages (6 copies) found on ")))
      << Child<QLabel>("lblIndex")->text().toStdString();

  ClickRow(3);
  EXPECT_TRUE(Preview().contains(QStringLiteral("test"))) << Preview().toStdString();

  Child<QLineEdit>("txtFilter")->setText(QStringLiteral("reminder"));
  Click("btnApplyFilter");
  EXPECT_EQ(RowCount(), 1);
}

TEST_F(TSearchDisk, ExportsACutMessageAsIncomplete)
{
  const fs::path image = Image(Temp);
  Ui.DiskAnswers.push_back(ToQString(image));
  Child<QAction>("mnuSearchDisk")->trigger();
  WaitForJob();
  ASSERT_EQ(RowCount(), 6);
  Click("sbSelectAll");
  const fs::path out = Temp.Path() / "out";
  fs::create_directory(out);
  Ui.FolderAnswers.push_back(ToQString(out));
  Click("sbSaveEmail");
  EXPECT_TRUE(fs::exists(out / "RecoveredEmail0.eml"));
  EXPECT_TRUE(fs::exists(out / "RecoveredEmail5.incomplete.eml"));
  EXPECT_EQ(ReadFile(out / "RecoveredEmail0.eml"), ReadFile(DataFile("eudora-windows-7.1/In.mbx")).substr(0, 2177));
  // The image is never written.
  EXPECT_EQ(ReadFile(image).size(), fs::file_size(image));
}

TEST_F(TSearchDisk, OffersTheMachinesDisksAndCancelsQuietly)
{
  Child<QAction>("mnuSearchDisk")->trigger();  // no answer preset: cancelled
  EXPECT_TRUE(Ui.Asked.contains(QStringLiteral("Search Disk or Disk Image")));
  EXPECT_EQ(RowCount(), 0);
  EXPECT_TRUE(Ui.Messages.empty());
}

TEST_F(TSearchDisk, ASourceThatCannotBeReadIsNamed)
{
  Ui.DiskAnswers.push_back(ToQString(Temp.Path() / "missing.img"));
  Child<QAction>("mnuSearchDisk")->trigger();
  WaitForJob();
  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_TRUE(Ui.Messages[0].Text.contains(QStringLiteral("missing.img"))) << Ui.Messages[0].Text.toStdString();
}

}  // namespace
}  // namespace quillmend::test

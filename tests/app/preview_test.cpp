// The preview pane and the text it is given.

#include "tests/app/fixture.h"

#include "app/preview.h"
#include "mail/eudora.h"

#include "app/previewbrowser.h"
#include "eudora/markers.h"
#include "tests/support/watchdog.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBrowser>

#include <algorithm>

#include <fstream>

#include <sys/stat.h>

using namespace std::string_literals;

namespace quillmend::test {
namespace {

using TPreviewPane = TMainWindowTest;

// The body as text, without Eudora's insides: no markers, and each attachment line a line that
// names the file and says whether it is there.
TEST_F(TPreviewPane, ShowsTheBodyPartOfTheClickedRowOnceWithoutEudorasInsides)
{
  Open(InMbx);
  ClickRow(3);
  const QString text = Preview();
  EXPECT_TRUE(text.startsWith(QStringLiteral("\nThis is a test of sending a web page.\n"))) << text.toStdString();
  EXPECT_FALSE(text.contains(QStringLiteral("<x-flowed>")));
  EXPECT_FALSE(text.contains(QStringLiteral("Attachment Converted:")));
  EXPECT_TRUE(text.contains(QStringLiteral("[Attachment \"tools.arlut.utexas.edugash2.htm\": found]")))
      << text.toStdString();
  EXPECT_FALSE(text.contains(QStringLiteral("Subject:")));
  EXPECT_FALSE(text.contains(QLatin1Char('\r')));
  ClickRow(3);
  EXPECT_EQ(Preview(), text);
}

TEST_F(TPreviewPane, AfterASortARowStillShowsItsOwnMessageAndMessageSourceShowsItsMarkup)
{
  Open(InMbx);
  ClickHeader(4);  // Z to A: message 1 comes first
  Child<QAction>("mnuMessageSource")->setChecked(true);
  ClickRow(0);
  EXPECT_TRUE(Child<QPlainTextEdit>("txtmsgbody")->isVisibleTo(Window.get()));
  EXPECT_FALSE(Child<QTextBrowser>("txtmsghtml")->isVisibleTo(Window.get()));
  // The whole message as the file holds it, headers included.
  EXPECT_TRUE(Preview().startsWith(QStringLiteral("From ???@??? "))) << Preview().toStdString();
  EXPECT_TRUE(Preview().contains(QStringLiteral("\nSubject: ")));
  EXPECT_TRUE(Preview().contains(QStringLiteral("\n<x-html>\n<html>\n<head>\n")));
  // Off again: the same message reads as mail.
  Child<QAction>("mnuMessageSource")->setChecked(false);
  EXPECT_TRUE(Child<QTextBrowser>("txtmsghtml")->isVisibleTo(Window.get()));
  EXPECT_FALSE(Child<QTextBrowser>("txtmsghtml")->toPlainText().contains(QStringLiteral("<html")));
  Child<QAction>("mnuMessageSource")->setChecked(true);
  EXPECT_TRUE(Preview().contains(QStringLiteral("\n<x-html>\n<html>\n<head>\n")));
}

struct THtmlCase {
  int Row;
  std::vector<const char*> Shown;  // text that must read in the view
};

// The HTML messages of In.mbx read as mail: their text shows, none of their tags does, and the view
// asks for no address on the network.
TEST_F(TPreviewPane, HtmlMessagesRenderWithoutTagsAndLoadNothingFromTheNetwork)
{
  const THtmlCase cases[] = {
      {1, {"From the Chair", "Capital Campaign Update", "UTCS catches up with alum Joseph Sirosh."}},
      {2, {"Just a friendly reminder about your appointment", "Monday, April 26, 2010", "Dr. Neal Shah and Team"}},
  };
  Open(InMbx);
  auto* view = Child<TPreviewBrowser>("txtmsghtml");
  std::vector<std::pair<QUrl, bool>> requests;
  QObject::connect(view, &TPreviewBrowser::ResourceRequested, view,
                   [&](const QUrl& url, bool granted) { requests.emplace_back(url, granted); });
  for (const THtmlCase& c : cases) {
    SCOPED_TRACE(c.Row);
    requests.clear();
    ClickRow(c.Row);
    ASSERT_TRUE(view->isVisibleTo(Window.get()));
    EXPECT_FALSE(Child<QPlainTextEdit>("txtmsgbody")->isVisibleTo(Window.get()));
    view->resize(800, 600);
    view->grab();  // lays the document out, so that it asks for its images
    const QString text = view->toPlainText();
    for (const char* shown : c.Shown)
      EXPECT_TRUE(text.contains(QString::fromUtf8(shown))) << shown;
    for (const char* tag : {"<html", "<x-html>", "<table", "<td", "<br", "</", "<p>", "<img", "&nbsp;", "&amp;"})
      EXPECT_FALSE(text.contains(QLatin1String(tag))) << tag;
    EXPECT_TRUE(view->isReadOnly());
    EXPECT_FALSE(view->openLinks());
    EXPECT_FALSE(view->openExternalLinks());
    int network = 0;
    for (const auto& [url, granted] : requests) {
      if (url.scheme().startsWith(QLatin1String("http")) || url.scheme() == QLatin1String("file") || url.isRelative()) {
        ++network;
        EXPECT_FALSE(granted) << url.toString().toStdString();
      }
    }
    if (c.Row == 2) {
      // The dental reminder links images on the web, and one of its own from the Embedded folder.
      EXPECT_GT(network, 0);
      const auto own = std::find_if(requests.begin(), requests.end(), [](const auto& r) {
        return r.first == QUrl(QStringLiteral("cid:merged_girl.jpg"));
      });
      ASSERT_NE(own, requests.end());
      EXPECT_TRUE(own->second);
    }
  }
}

TEST_F(TPreviewPane, IsClearedWhenItsMessageLeavesTheList)
{
  Open(InMbx);
  auto* filter = Child<QLineEdit>("txtFilter");
  ClickRow(2);
  ASSERT_FALSE(Child<QTextBrowser>("txtmsghtml")->toPlainText().isEmpty());
  filter->setText(QStringLiteral("sending a web page"));
  Click("btnApplyFilter");
  EXPECT_TRUE(Child<QTextBrowser>("txtmsghtml")->toPlainText().isEmpty());
  EXPECT_TRUE(Preview().isEmpty());
  ClickRow(0);
  ASSERT_FALSE(Preview().isEmpty());
  Click("btnClearFilter");
  EXPECT_TRUE(Preview().isEmpty());
  ClickRow(3);
  ASSERT_FALSE(Preview().isEmpty());
  Open(DataFile("eudora-windows-7.1/Junk.mbx"));
  EXPECT_TRUE(Preview().isEmpty());
  Open(InMbx);
  ClickRow(3);
  ASSERT_FALSE(Preview().isEmpty());
  Open(Temp.Path() / "missing.mbx");  // the scan fails; the list stays, the preview goes
  EXPECT_EQ(RowCount(), 5);
  EXPECT_TRUE(Preview().isEmpty());
}

TEST_F(TPreviewPane, AMailboxDeletedSinceTheScanGivesTheErrorBox)
{
  const auto copy = CopyOfIn();
  Open(copy);
  ClickRow(0);
  ASSERT_FALSE(Preview().isEmpty());
  std::filesystem::remove(copy);
  ClickRow(2);

  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_EQ(Ui.Messages[0].Title, QStringLiteral("Quillmend"));
  EXPECT_TRUE(Ui.Messages[0].Text.startsWith(QStringLiteral("Cannot open file \"") + ToQString(copy)));
  EXPECT_TRUE(Preview().isEmpty());
  EXPECT_TRUE(Window->isEnabled());
  EXPECT_EQ(RowCount(), 5);
  // The window still works: another mailbox opens.
  Open(InMbx);
  ClickRow(0);
  EXPECT_FALSE(Preview().isEmpty());
}

TEST(PreviewText, BreaksLinesAtEveryKindOfLineEndAndShowsZeroBytes)
{
  TTempDir temp;
  const auto mailbox = temp.Write("Odd.mbx", "From ???@??? x\r\nSubject: s\r\n\r\nA\rB\nC\r\nD"s + "\0E\x80\r\n"s);
  TMailbox box(mailbox);
  box.Load();
  ASSERT_EQ(box.Emails().size(), 1u);
  EXPECT_EQ(PreviewText(box, 0), QString::fromUtf8("\nA\nB\nC\nD\xe2\x90\x80"
                                                   "E\xe2\x82\xac\n"));
}

TEST(PreviewText, ABodyPartOverTheLimitIsCutWithANote)
{
  TTempDir temp;
  const std::string body(100, 'x');
  const auto mailbox = temp.Write("Big.mbx", "From ???@??? x\r\n\r\n" + body + "\r\n");
  TMailbox box(mailbox);
  box.Load();
  ASSERT_EQ(box.Emails().size(), 1u);
  const QString text = PreviewText(box, 0, 40);
  const QStringList lines = text.split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0], QString());
  EXPECT_EQ(lines[1], QString(38, QLatin1Char('x')));
  // The body part starts at offset 16 (the blank line's CR) and is 104 bytes long.
  EXPECT_EQ(lines[2],
            QStringLiteral(
                "[Preview cut: only the first 40 of 104 bytes are shown; the message goes on at file offset 56.]"));
  EXPECT_FALSE(PreviewText(box, 0, 104).contains(QStringLiteral("Preview cut")));
}

TEST_F(TPreviewPane, AMailboxReplacedSinceTheScanGivesTheErrorBoxAndOneThatGrewIsShown)
{
  const auto copy = CopyOfIn();
  Open(copy);
  const std::string bytes = ReadFile(copy);
  // The same mail a few bytes further on, moved over the scanned file.
  const auto moved = copy.parent_path() / "moved.mbx";
  {
    std::ofstream(moved, std::ios::binary) << "shifted" << bytes;
  }
  std::filesystem::rename(moved, copy);
  ClickRow(2);
  ASSERT_EQ(Ui.Messages.size(), 1u);
  EXPECT_TRUE(Ui.Messages[0].Text.startsWith(QLatin1Char('"') + ToQString(copy) +
                                             QStringLiteral("\" has changed since it was scanned; open it again")))
      << Ui.Messages[0].Text.toStdString();
  EXPECT_TRUE(Preview().isEmpty());

  // Scanned again, then grown as a running mail client appends: the scanned messages still show.
  Open(copy);
  {
    std::ofstream(copy, std::ios::binary | std::ios::app) << bytes;
  }
  ClickRow(2);
  EXPECT_EQ(Ui.Messages.size(), 1u);
  EXPECT_FALSE(Preview().isEmpty());
}

TEST(PreviewText, AMailboxThatShrankSinceItsScanIsRefused)
{
  TTempDir temp;
  const auto mailbox = temp.Write("Shrink.mbx", "From ???@??? x\r\n\r\nbody text\r\n");
  TMailbox box(mailbox);
  box.Load();
  ASSERT_EQ(box.Emails().size(), 1u);
  temp.Write("Shrink.mbx", "From ???@??? x\r\n\r\nbo");
  EXPECT_THROW(PreviewText(box, 0), TFileError);
}

// An HTML message's images come only from files it may name: a line that climbs to a device, a FIFO,
// a link out of the folder or a file of 2 GiB shows the placeholder, and the window goes on at once.
TEST_F(TPreviewPane, ImagesTheMailNamesButMayNotHaveShowThePlaceholderAndNothingHangs)
{
  const std::vector<std::pair<std::string, std::string>> images = {{"../../../../dev/zero", "zero"},
#ifndef _WIN32
                                                                   {"pipe.gif", "pipe"},
                                                                   {"link.gif", "link"},
#endif
                                                                   {"big.gif", "big"}};
  std::string body = "<x-html>\r\n<html><body>";
  for (const auto& [name, id] : images)
    body += "<img src=\"cid:" + id + "\">";
  body += "</body></html>\r\n</x-html>\r\n";
  for (const auto& [name, id] : images) {
    char hash[9];
    std::snprintf(hash, sizeof hash, "%08x", ContentIdHash(id));
    body += "Embedded Content: " + name + ": 00000001," + hash + ",00000000,00000000\r\n";
  }
  std::filesystem::create_directories(Temp.Path() / "Eudora" / "Embedded");
  const std::filesystem::path mailbox =
      Temp.Write("Eudora/In.mbx", "From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: images\r\n\r\n" + body);
#ifndef _WIN32  // no FIFOs on Windows, and a link needs a privilege there
  ASSERT_EQ(::mkfifo((Temp.Path() / "Eudora" / "Embedded" / "pipe.gif").c_str(), 0600), 0);
  std::filesystem::create_symlink(Temp.Write("secret.gif", "GIF89a"), Temp.Path() / "Eudora" / "Embedded" / "link.gif");
#endif
  {
    std::ofstream big(Temp.Path() / "Eudora" / "Embedded" / "big.gif", std::ios::binary);
    big.seekp((std::int64_t{2} << 30) - 1);
    big.put('\0');
  }
  Open(mailbox);
  auto* view = Child<TPreviewBrowser>("txtmsghtml");
  std::vector<std::pair<QUrl, bool>> requests;
  QObject::connect(view, &TPreviewBrowser::ResourceRequested, view,
                   [&](const QUrl& url, bool granted) { requests.emplace_back(url, granted); });
  {
    const TDeadline deadline(30);
    ClickRow(0);
    view->resize(800, 600);
    view->grab();  // lays the document out, so that it asks for its images
  }
  for (const auto& [name, id] : images) {
    const auto asked = std::find_if(requests.begin(), requests.end(),
                                    [&](const auto& r) { return r.first.path() == QString::fromStdString(id); });
    ASSERT_NE(asked, requests.end()) << id;
    EXPECT_FALSE(asked->second) << name;
  }
}

// A file's name in the preview reads as the mail named it, in the mailbox's code page.
TEST(PreviewText, NamesFilesInTheirOwnLetters)
{
  TTempDir temp;
  const auto mailbox = temp.Write("In.mbx", "From ???@??? x\r\nSubject: s\r\n\r\ncaf\xe9\r\n"
                                            "Attachment Converted: \"c:\\eudora\\attach\\M\xfcller.pdf\"\r\n");
  TMailbox box(mailbox);
  box.Load();
  const QString text = PreviewText(box, 0);
  EXPECT_TRUE(text.contains(QString::fromUtf8("caf\xc3\xa9"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QString::fromUtf8("[Attachment \"M\xc3\xbcller.pdf\": not found]"))) << text.toStdString();
}

}  // namespace
}  // namespace quillmend::test

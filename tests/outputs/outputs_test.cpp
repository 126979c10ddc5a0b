// The outputs' files: what stands under a name already is never lost, and never stops a message.

#include "base/system.h"
#include "outputs/emlfolder.h"
#include "outputs/mboxfile.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#  include <sys/stat.h>
#endif

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

TMessageWriter Bytes(std::string_view text)
{
  return [text](const TByteSink& sink) {
    sink(text);
    return TMessageBytes{static_cast<std::int64_t>(text.size()), static_cast<std::int64_t>(text.size())};
  };
}

TOutgoingMessage Message(std::string name, std::optional<std::int64_t> received = {})
{
  TOutgoingMessage message;
  message.Name = std::move(name);
  message.Received = received;
  return message;
}

// Something that is not a regular file under the name a message would take.
enum class TOccupant { Folder, Fifo, DanglingLink };

TEST(EmlFolder, AFolderFifoOrDanglingLinkUnderTheNameGivesTheNextFreeName)
{
  std::vector<TOccupant> occupants{TOccupant::Folder};
#ifndef _WIN32
  occupants.push_back(TOccupant::Fifo);
  occupants.push_back(TOccupant::DanglingLink);
#endif
  for (const TOccupant occupant : occupants) {
    for (const TExisting existing : {TExisting::Keep, TExisting::Replace}) {
      SCOPED_TRACE(static_cast<int>(occupant) * 10 + static_cast<int>(existing));
      const test::TTempDir dir;
      const fs::path taken = dir.Path() / "RecoveredEmail0.eml";
      if (occupant == TOccupant::Folder) {
        fs::create_directory(taken);
        dir.Write("RecoveredEmail0.eml/inside", "kept");
      }
#ifndef _WIN32
      if (occupant == TOccupant::Fifo) {
        ASSERT_EQ(::mkfifo(taken.c_str(), 0600), 0);
      }
      if (occupant == TOccupant::DanglingLink)
        fs::create_symlink(dir.Path() / "nowhere", taken);
#endif
      TEmlFolder sink(dir.Path(), 0644, existing);
      sink.Add(Message("RecoveredEmail0.eml"), Bytes("Subject: x\r\n\r\nbody\r\n"));
      const TExportReport report = sink.Commit();
      EXPECT_TRUE(report.Failed.empty()) << report.Failed.front().Reason;
      // Told to overwrite, a message takes the place of what holds no bytes, never of a folder.
      const bool replaced = existing == TExisting::Replace && occupant != TOccupant::Folder;
      const std::string name = replaced ? "RecoveredEmail0.eml" : "RecoveredEmail0 (2).eml";
      ASSERT_EQ(report.Files, std::vector<std::string>{name});
      EXPECT_EQ(ReadFile(dir.Path() / name), "Subject: x\r\n\r\nbody\r\n");
      if (!replaced) {
        EXPECT_TRUE(fs::exists(fs::symlink_status(taken))) << "what stood there still does";
      }
    }
  }
}

// A message whose source fails half way (an attachment that changed while read) leaves nothing of
// itself in the mbox file, and the messages around it stay.
TEST(MboxFile, AMessageThatFailsHalfWayIsTakenBackOut)
{
  const test::TTempDir dir;
  TMboxFile sink(dir.Path() / "all.mbox", 0644, TExisting::Keep);
  sink.Add(Message("message 0", 1292265929), Bytes("Subject: a\n\nfirst\n"));
  sink.Add(Message("message 1"), [](const TByteSink& out) -> TMessageBytes {
    out("Subject: b\n\nhalf of it");
    throw TFileError("Cannot read file \"x\". it changed since it was looked at");
  });
  sink.Add(Message("message 2"), Bytes("Subject: c\n\nFrom the third\n"));
  const TExportReport report = sink.Commit();
  EXPECT_EQ(report.Written, 2u);
  ASSERT_EQ(report.Failed.size(), 1u);
  EXPECT_EQ(report.Failed[0].FileName, "message 1");
  EXPECT_EQ(ReadFile(dir.Path() / "all.mbox"),
            "From MAILER-DAEMON Mon Dec 13 18:45:29 2010\nSubject: a\n\nfirst\n\n"
            "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\nSubject: c\n\n>From the third\n\n");
}

}  // namespace
}  // namespace quillmend

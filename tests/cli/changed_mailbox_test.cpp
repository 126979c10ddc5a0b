// The commands when the mailbox changes after their scan: the file is changed from inside the
// command's own output, at the moment the scan's bar is erased or the first bytes go out.

#include "base/readfile.h"
#include "cli/cli.h"
#include "mail/eudora.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

// Collects what is written and calls when once, as soon as the text so far satisfies ready.
class TTriggerBuffer : public std::stringbuf {
public:
  TTriggerBuffer(std::function<bool(const std::string&)> ready, std::function<void()> when)
      : FReady(std::move(ready)), FWhen(std::move(when))
  {
  }

protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override
  {
    const std::streamsize done = std::stringbuf::xsputn(s, n);
    Check();
    return done;
  }
  int_type overflow(int_type c) override
  {
    const int_type done = std::stringbuf::overflow(c);
    Check();
    return done;
  }

private:
  void Check()
  {
    if (FWhen && FReady(str())) {
      FWhen();
      FWhen = nullptr;
    }
  }
  std::function<bool(const std::string&)> FReady;
  std::function<void()> FWhen;
};

std::string Mailbox(std::size_t bodySize)
{
  std::string bytes;
  for (int i = 0; i < 3; ++i)
    bytes += "From ???@??? Mon Jan  1 00:00:00 2024\r\nSubject: " + std::to_string(i) + "\r\n\r\nneedle" +
             std::string(bodySize, 'b') + "\r\n";
  return bytes;
}

// The scan's bar is erased with a run of spaces once the scan is done.
bool ScanEnded(const std::string& err)
{
  return err.find("Scanning") != std::string::npos && err.find(std::string(40, ' ')) != std::string::npos;
}

struct TCommandCase {
  const char* name;
  std::vector<std::string> words;  // MAILBOX and FOLDER stand for the paths
};

void PrintTo(const TCommandCase& c, std::ostream* out) { *out << c.name; }

class ChangedAfterScanTest : public testing::TestWithParam<TCommandCase> {};

TEST_P(ChangedAfterScanTest, AReplacedMailboxFailsTheCommandAndNothingIsWritten)
{
  for (const bool replace : {false, true}) {
    const TTempDir dir;
    const auto box = dir.Write("box.mbx", Mailbox(10));
    const fs::path folder = dir.Path() / "out";
    std::vector<std::string> args;
    for (const std::string& word : GetParam().words)
      args.push_back(word == "MAILBOX" ? PathText(box) : word == "FOLDER" ? PathText(folder) : word);

    TTriggerBuffer errBuffer(ScanEnded, [&] {
      if (replace) {
        // The same mail a few bytes further on, moved over the scanned file.
        std::ofstream(dir.Path() / "new.mbx", std::ios::binary) << "shifted" << Mailbox(10);
        fs::rename(dir.Path() / "new.mbx", box);
      } else {
        std::ofstream(box, std::ios::binary | std::ios::app) << Mailbox(10);  // a mail client appends
      }
    });
    std::ostringstream out;
    std::ostream err(&errBuffer);
    const int code = cli::run(args, out, err, {true, 0, std::chrono::milliseconds(0)});
    if (replace) {
      EXPECT_EQ(code, cli::kExitFailure);
      EXPECT_NE(errBuffer.str().find("quillmend-cli: \"" + PathText(fs::absolute(box)) +
                                     "\" has changed since it was scanned; open it again\n"),
                std::string::npos)
          << errBuffer.str();
      EXPECT_EQ(out.str().find("needle"), std::string::npos) << out.str();
      EXPECT_TRUE(!fs::exists(folder) || fs::is_empty(folder));
    } else {
      EXPECT_EQ(code, cli::kExitOk) << errBuffer.str();
      EXPECT_NE(out.str(), "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, ChangedAfterScanTest,
                         testing::Values(TCommandCase{"list_keyword", {"list", "MAILBOX", "--keyword", "needle"}},
                                         TCommandCase{"show", {"show", "MAILBOX", "1"}},
                                         TCommandCase{"export", {"export", "MAILBOX", "FOLDER"}}),
                         [](const testing::TestParamInfo<TCommandCase>& param) {
                           return std::string(param.param.name);
                         });

TEST(CliShow, AMessageCutShortWhileItIsWrittenIsReportedAndFails)
{
  const TTempDir dir;
  const auto box = dir.Write("box.mbx", Mailbox(3u << 20));
  TEmailArray emails;
  TEudorafile().LoadEmails(box, emails);
  const std::int64_t bodyBegin = emails[1].StartOffset;
  const std::int64_t bodyLength = emails[1].EndOffset - bodyBegin;
  const std::int64_t left = (std::int64_t{1} << 20) + 100;

  // Cut once the first piece went out, beyond it: the rest of the body is gone.
  TTriggerBuffer outBuffer([](const std::string& text) { return !text.empty(); },
                           [&] { fs::resize_file(box, static_cast<std::uintmax_t>(bodyBegin + left)); });
  std::ostream out(&outBuffer);
  std::ostringstream err;
  const int code = cli::run({"show", PathText(box), "1", "--raw"}, out, err);
  EXPECT_EQ(code, cli::kExitFailure);
  EXPECT_EQ(static_cast<std::int64_t>(outBuffer.str().size()), left);
  EXPECT_EQ(err.str(), "quillmend-cli: \"" + PathText(fs::absolute(box)) + "\" ends before message 1 does: " +
                           std::to_string(left) + " of " + std::to_string(bodyLength) + " bytes written\n");
}

}  // namespace
}  // namespace quillmend

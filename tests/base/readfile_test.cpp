#include "base/readfile.h"
#include "document/export.h"
#include "mail/bodypart.h"
#include "mail/eudora.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::TTempDir;

std::string TenMessages()
{
  std::string bytes;
  for (int i = 0; i < 10; ++i)
    bytes += "From ???@??? Mon Jan  1 00:00:00 2024\r\nSubject: " + std::to_string(i) + "\r\n\r\nneedle " +
             std::to_string(i) + "\r\n";
  return bytes;
}

void Append(const fs::path& path, std::string_view bytes)
{
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Another time of change than the scan saw, whatever the clock's resolution.
void Touch(const fs::path& path) { fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(10)); }

struct TChangeCase {
  const char* name;
  std::function<void(const fs::path& box)> change;
  bool refused;
};

void PrintTo(const TChangeCase& c, std::ostream* out) { *out << c.name; }

class ChangedSinceScanTest : public testing::TestWithParam<TChangeCase> {};

TEST_P(ChangedSinceScanTest, RefusesAReplacedOrRewrittenMailboxAndGoesOnWhenItOnlyGrew)
{
  const TTempDir dir;
  const auto box = dir.Write("box.mbx", TenMessages());
  TEmailArray emails;
  TFileIdentity scanned;
  TEudorafile().LoadEmails(box, emails, nullptr, &scanned);
  ASSERT_EQ(emails.size(), 10u);
  EXPECT_EQ(scanned, TReadOnlyFile(box).Identity());
  GetParam().change(box);

  const std::string expected =
      "\"" + PathText(fs::absolute(box)) + "\" has changed since it was scanned; open it again";
  auto expectRefused = [&](const std::function<void()>& use) {
    try {
      use();
      EXPECT_FALSE(GetParam().refused);
    } catch (const TFileError& e) {
      EXPECT_TRUE(GetParam().refused) << e.what();
      EXPECT_EQ(e.what(), expected);
    }
  };
  expectRefused([&] { TReadOnlyFile(box).ExpectUnchanged(scanned); });
  expectRefused(
      [&] { EXPECT_EQ(FilterEmails(box, emails, "needle 3", nullptr, &scanned), std::vector<std::size_t>{3}); });

  const fs::path out = dir.Path() / "out";
  fs::create_directory(out);
  expectRefused([&] {
    const TExportReport report = ExportMessages(box, emails, {0, 3, 9}, out, nullptr, TExisting::Keep, &scanned);
    EXPECT_EQ(report.Written, 3u);
    EXPECT_EQ(test::ReadFile(out / ExportFileName(9)),
              TenMessages().substr(static_cast<std::size_t>(emails[9].StartOffset)));
  });
  if (GetParam().refused) {
    EXPECT_TRUE(fs::is_empty(out)) << "a refused export writes nothing";
  }
}

// A file rewritten in place (the same file) and longer looks like one that grew; its records no
// longer stand where they were, and every use of them says so instead of cutting at old offsets.
TEST(ChangedSinceScan, AFileRewrittenInPlaceAndLongerIsNoFileThatGrew)
{
  const TTempDir dir;
  const fs::path box = dir.Write("In.mbx", TenMessages());
  TEmailArray emails;
  TFileIdentity scanned;
  TEudorafile().LoadEmails(box, emails, nullptr, &scanned);
  {
    std::ofstream rewritten(box, std::ios::binary | std::ios::in | std::ios::out);  // same file, not cut
    rewritten << std::string(270, 'x') << TenMessages();
  }
  Touch(box);
  const fs::path out = dir.Path() / "out";
  fs::create_directory(out);
  const std::vector<std::function<void()>> uses = {
      [&] { ExportMessages(box, emails, {0, 3, 9}, out, nullptr, TExisting::Keep, &scanned); },
      [&] { RebuildMessages(box, emails, {0, 3, 9}, out, {}, nullptr, TExisting::Keep, &scanned); },
      [&] { ExportMbox(box, emails, {0, 3, 9}, out / "all.mbox", {}, nullptr, TExisting::Keep, &scanned); },
      [&] { FilterEmails(box, emails, "needle", nullptr, &scanned); },
  };
  for (std::size_t i = 0; i < uses.size(); ++i) {
    try {
      uses[i]();
      ADD_FAILURE() << "use " << i << " took the rewritten file for the scanned one";
    } catch (const TFileError& e) {
      EXPECT_NE(std::string(e.what()).find("has changed since it was scanned"), std::string::npos) << e.what();
    }
  }
  EXPECT_TRUE(fs::is_empty(out)) << "nothing is written";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChangedSinceScanTest,
    testing::Values(TChangeCase{"untouched", [](const fs::path&) {}, false},
                    // A running mail client appends: the scanned messages stay where they were.
                    TChangeCase{"grown", [](const fs::path& box) { Append(box, TenMessages()); }, false},
                    TChangeCase{"grown_and_touched",
                                [](const fs::path& box) {
                                  Append(box, "x");
                                  Touch(box);
                                },
                                false},
                    TChangeCase{"touched", [](const fs::path& box) { Touch(box); }, true},
                    TChangeCase{"rewritten_to_the_same_size",
                                [](const fs::path& box) {
                                  std::string bytes = test::ReadFile(box);
                                  bytes.replace(bytes.find("needle 3"), 8, "needle 4");
                                  std::ofstream(box, std::ios::binary | std::ios::trunc) << bytes;
                                  Touch(box);
                                },
                                true},
                    TChangeCase{"cut", [](const fs::path& box) { fs::resize_file(box, fs::file_size(box) - 1); }, true},
                    // The same mail moved by a few bytes, moved over the scanned file: longer, yet not the same file.
                    TChangeCase{"replaced_by_a_longer_file",
                                [](const fs::path& box) {
                                  const fs::path other = box.parent_path() / "new.mbx";
                                  std::ofstream(other, std::ios::binary) << "shifted" << TenMessages();
                                  fs::rename(other, box);
                                },
                                true},
                    TChangeCase{"replaced_by_a_copy_with_the_same_time",
                                [](const fs::path& box) {
                                  const fs::path other = box.parent_path() / "copy.mbx";
                                  fs::copy_file(box, other);
                                  fs::last_write_time(other, fs::last_write_time(box));
                                  fs::rename(other, box);
                                },
                                true}),
    [](const testing::TestParamInfo<TChangeCase>& param) { return std::string(param.param.name); });

TEST(ScanIdentity, HoldsTheSizeTheScanReadAlsoWhenTheFileGrewDuringTheScan)
{
  const TTempDir dir;
  std::string message = "From ???@??? x\r\nSubject: s\r\n\r\n" + std::string(4000, 'b') + "\r\n";
  std::string bytes;
  while (bytes.size() < (3u << 20))
    bytes += message;
  const auto box = dir.Write("box.mbx", bytes);

  struct TGrowOnce : TProgressObserver {
    fs::path Box;
    std::string Message;
    void Progress(int percent) override
    {
      if (percent == 50)
        Append(Box, Message);
    }
  } grow;
  grow.Box = box;
  grow.Message = message;
  TEmailArray emails;
  TFileIdentity scanned;
  TEudorafile().LoadEmails(box, emails, &grow, &scanned);
  EXPECT_EQ(scanned.Size, static_cast<std::int64_t>(bytes.size() + message.size()));
  EXPECT_EQ(scanned.Size, emails.back().EndOffset);
  EXPECT_NO_THROW(TReadOnlyFile(box).ExpectUnchanged(scanned));
}

}  // namespace
}  // namespace quillmend

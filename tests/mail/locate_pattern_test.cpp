#include "base/readfile.h"
#include "mail/emailparser.h"
#include "tests/support/testfiles.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#  include <winerror.h>
#endif

namespace quillmend {
namespace {

using test::TTempDir;

struct TLocateCase {
  const char* name;
  std::string bytes;
  std::int64_t start;
  std::int64_t expected;
};

class LocatePatternTest : public testing::TestWithParam<TLocateCase> {};

TEST_P(LocatePatternTest, FindsTheFirstLineEndAtOrAfterStart)
{
  const TLocateCase& c = GetParam();
  const TTempDir dir;
  const auto file = dir.Write("box.mbx", c.bytes);
  EXPECT_EQ(TEmailParser::LocatePattern("\r\n", file, c.start), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LocatePatternTest,
    testing::Values(TLocateCase{"simple", "ab\r\n", 0, 2},
                    // A CR that breaks a partial match still starts the next one.
                    TLocateCase{"cr_cr_lf", "\r\r\nx\r\n", 0, 1}, TLocateCase{"cr_cr_cr_lf", "\r\r\r\n", 0, 2},
                    TLocateCase{"split_over_refill", std::string(1023, 'a') + "\r\nb", 0, 1023},
                    TLocateCase{"lone_lf_and_cr", "a\nb\rc\r\n", 0, 5},
                    TLocateCase{"offset_from_file_start", "ab\r\ncd\r\n", 3, 6},
                    TLocateCase{"start_on_lf", "ab\r\ncd\r\n", 3, 6}, TLocateCase{"ends_in_cr", "abc\r", 0, -1},
                    TLocateCase{"start_at_size", "ab\r\n", 4, -1}, TLocateCase{"start_past_size", "ab\r\n", 10, -1},
                    TLocateCase{"none_in_many_refills", std::string(5000, '\r'), 0, -1},
                    TLocateCase{"empty", "", 0, -1}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(LocatePattern, FindsLongerPatternsAcrossRefills)
{
  const TTempDir dir;
  const auto file = dir.Write("box.mbx", std::string(1020, 'x') + "From ???@??? ");
  EXPECT_EQ(TEmailParser::LocatePattern("From ???@??? ", file, 0), 1020);
  EXPECT_EQ(TEmailParser::LocatePattern("From ???@??? ", file, 1021), -1);
}

TEST(LocatePattern, MissingFileNamesTheFileAndTheReason)
{
  const TTempDir dir;
  const auto missing = dir.Path() / "gone.mbx";
  try {
    TEmailParser::LocatePattern("\r\n", missing, 0);
    FAIL() << "no error";
  } catch (const TFileError& e) {
#ifdef _WIN32
    const std::string reason = SystemErrorText(ERROR_FILE_NOT_FOUND);
#else
    const std::string reason = "No such file or directory";
#endif
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + PathText(missing) + "\". " + reason);
  }
}

}  // namespace
}  // namespace quillmend

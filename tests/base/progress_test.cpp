// The counts line of a conversion's progress: rates and the time left as a person reads them.

#include "base/progress.h"

#include <gtest/gtest.h>

namespace quillmend {
namespace {

TEST(Progress, CountsRatesAndTimeLeft)
{
  struct TCase {
    std::uint64_t Messages, Bytes, Total;
    double Seconds;
    const char* Text;
  };
  const TCase cases[] = {
      {0, 0, 1000, 0.0, "0 messages"},
      {1, 10, 1000, 0.5, "1 message"},                                                // too early for rates
      {12345, 4'100'000, 4'100'000, 1.0, "12,345 messages  12,345 msg/s  4.1 MB/s"},  // all read: no time left
      {310, 4'100'000, 4'100'000 + 4'100'000 * 30, 1.0, "310 messages  310 msg/s  4.1 MB/s  30 s left"},
      {620, 2'000'000, 2'000'000 + 119'000'000, 2.0, "620 messages  310 msg/s  1.0 MB/s  2 min left"},
      {10, 1'000'000, 1'000'000 + 61'000'000, 1.0, "10 messages  10 msg/s  1.0 MB/s  2 min left"},  // rounded up
      {3, 1'000'000, 1'000'000 + 7'500'000'000, 1.0, "3 messages  3 msg/s  1.0 MB/s  2 h 5 min left"},
      {1'234'567, 0, 10, 3.0, "1,234,567 messages  411,522 msg/s  0.0 MB/s"},  // nothing read yet: no guess
  };
  for (const TCase& c : cases)
    EXPECT_EQ(CountsText(c.Messages, c.Bytes, c.Total, c.Seconds), c.Text) << c.Text;
}

class TCounted : public TProgressObserver {
public:
  void Counts(std::uint64_t messages, std::uint64_t, std::uint64_t) override { Calls.push_back(messages); }
  std::vector<std::uint64_t> Calls;
};

TEST(Progress, CountsAFewTimesASecondAndAlwaysAtTheEnd)
{
  TCounted observer;
  TProgressFeed feed(&observer);
  for (std::uint64_t i = 1; i <= 1000; ++i)
    feed.Counts(i, i, 1000);
  feed.Counts(1000, 1000, 1000, true);
  ASSERT_GE(observer.Calls.size(), 2u);
  EXPECT_LT(observer.Calls.size(), 10u);  // a thousand steps in well under a second
  EXPECT_EQ(observer.Calls.front(), 1u);
  EXPECT_EQ(observer.Calls.back(), 1000u);
}

}  // namespace
}  // namespace quillmend

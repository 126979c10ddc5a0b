#include "mail/emailparser.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace quillmend {
namespace {

struct TSplitCase {
  std::string line;
  bool isField;
  std::string name;
  std::string value;
};

class SplitHeaderLineTest : public testing::TestWithParam<TSplitCase> {};

TEST_P(SplitHeaderLineTest, Splits)
{
  const TSplitCase& c = GetParam();
  const TRPCField field = TEmailParser::SplitHeaderLine(c.line);
  EXPECT_EQ(field, (TRPCField{c.isField, c.name, c.value})) << c.line;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitHeaderLineTest,
    testing::Values(TSplitCase{"Subject: Hello\r\n", true, "Subject", " Hello"},
                    TSplitCase{"subject: Hello\r\n", true, "subject", " Hello"},
                    TSplitCase{"Subject: a: b\r\n", true, "Subject", " a: b"},
                    TSplitCase{"Subject: \r\n", true, "Subject", " "},
                    TSplitCase{"X-Weird!#$: v\r\n", true, "X-Weird!#$", " v"},
                    TSplitCase{"To: a\0b\r\r\nc\r\n"s, true, "To", " a\0b\r\r\nc"s},
                    TSplitCase{"Subject:Hello\r\n", false, "", ""}, TSplitCase{"Subject:\tHello\r\n", false, "", ""},
                    TSplitCase{"Subject : Hello\r\n", false, "", ""}, TSplitCase{" Subject: Hello\r\n", false, "", ""},
                    TSplitCase{"\tby host\r\n", false, "", ""}, TSplitCase{": value\r\n", false, "", ""},
                    TSplitCase{"no colon here\r\n", false, "", ""}, TSplitCase{"Subject:", false, "", ""},
                    TSplitCase{"Subj\xe9t: x\r\n", false, "", ""}, TSplitCase{"Sub\x7f: x\r\n", false, "", ""},
                    TSplitCase{"\r\n", false, "", ""}));

TEST(SetHeaderField, StoresOnlyTheFourShownNamesInAnyCase)
{
  struct TCase {
    const char* name;
    THeader field;
  };
  const TCase cases[] = {{"From", THeader::From},       {"FROM", THeader::From},       {"to", THeader::To},
                         {"Subject", THeader::Subject}, {"sUbJeCt", THeader::Subject}, {"Date", THeader::Date}};
  for (const TCase& c : cases) {
    const TEmail email = TEmailParser::SetHeaderField({true, c.name, " value"}, TEmail{});
    TEmail expected;
    expected.SetHeader(c.field, " value");
    EXPECT_EQ(email, expected) << c.name;
  }
  for (const char* other : {"Reply-To", "Resent-From", "Subjects", "X-Date", "Sender"})
    EXPECT_EQ(TEmailParser::SetHeaderField({true, other, " value"}, TEmail{}), TEmail{}) << other;
}

TEST(SetHeaderField, LaterValueReplacesEarlier)
{
  TEmail email;
  email.SetHeader(THeader::Subject, " first");
  email.StartOffset = 7;
  email = TEmailParser::SetHeaderField({true, "Subject", " "}, email);
  EXPECT_EQ(email.Subject(), " ");
  EXPECT_EQ(email.StartOffset, 7);
}

TEST(IsMessageStart, NeedsTheExactThirteenBytes)
{
  EXPECT_TRUE(TEmailParser::IsMessageStart("From ???@??? Mon Dec 13 18:45:29 2010\r\n"));
  EXPECT_TRUE(TEmailParser::IsMessageStart("From ???@??? \r\n"));
  EXPECT_FALSE(TEmailParser::IsMessageStart("From ???@???\r\n"));
  EXPECT_FALSE(TEmailParser::IsMessageStart("from ???@??? x\r\n"));
  EXPECT_FALSE(TEmailParser::IsMessageStart("From ???@??"));
  EXPECT_FALSE(TEmailParser::IsMessageStart(""));
}

}  // namespace
}  // namespace quillmend

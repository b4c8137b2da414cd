#include "feeds/PubDate.h"

#include <gtest/gtest.h>

#include "model/Feed.h"

namespace qb {
namespace {

TEST(PubDateTest, ParsePubDateTokenRules) {
  struct Case {
    const char16_t* text;
    bool valid;
    DateFields f;
  };
  const Case cases[] = {
      {u"Mon, 04 May 2009 10:20:30 GMT", true, {2009, 5, 4, 10, 20, 30}},
      {u"04 May 2009 10:20:30 +0200", true, {2009, 5, 4, 10, 20, 30}},
      {u"Tue, 4 May 09 9:05", true, {2009, 5, 4, 9, 0, 0}},
      {u"Mon,04 May 2009 10:20:30 GMT", true, {2009, 5, 4, 10, 20, 30}},
      {u"  Sun, 31 Dec 1999 23:59:59 Z  ", true, {1999, 12, 31, 23, 59, 59}},
      {u"29 Feb 2008 00:00:00", true, {2008, 2, 29, 0, 0, 0}},
      {u"31 Feb 2009 10:00:00", false, {}},
      {u"", false, {}},
      {u"1 ec 2009", true, {2009, 12, 1, 0, 0, 0}},      // part of a month name
      {u"1 Foo 2009", true, {2009, 1, 1, 0, 0, 0}},      // unknown month: January
      {u"1 may 2009", true, {2009, 1, 1, 0, 0, 0}},      // case-sensitive
      {u"1 Jun 99 12:34:56", true, {2099, 6, 1, 12, 34, 56}},
      {u"mon, 1 Jun 2009", false, {}},                   // day names are case-sensitive
      {u"Wed, 1\tJun,2009 01:02", true, {2009, 6, 1, 1, 2, 0}},
      // Not four digits and a hyphen: still the token rules (one token: day 4,
      // the empty month January, year 0 + 2000).
      {u"04-05-2009", true, {2000, 1, 4, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const CDateTime v = ParsePubDateText(c.text);
    EXPECT_EQ(v.IsValid(), c.valid) << std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
    DateFields f;
    if (c.valid && v.GetFields(f)) {
      EXPECT_EQ(f, c.f);
    }
  }
}

TEST(PubDateTest, Iso8601TimestampsTakeTheClockTimeAsWritten) {
  struct Case {
    const char16_t* text;
    bool valid;
    DateFields f;
  };
  const Case cases[] = {
      {u"2009-05-04T10:20:30Z", true, {2009, 5, 4, 10, 20, 30}},
      {u"2009-05-04T10:20:30+02:00", true, {2009, 5, 4, 10, 20, 30}},  // the offset is ignored
      {u"2009-05-04T23:20:30-05:30", true, {2009, 5, 4, 23, 20, 30}},
      {u"2009-05-04T10:20:30.123456789Z", true, {2009, 5, 4, 10, 20, 30}},  // fraction dropped
      {u"2009-05-04T10:20:30.999-00:00", true, {2009, 5, 4, 10, 20, 30}},  // not rounded up
      {u"2009-05-04t10:20:30z", true, {2009, 5, 4, 10, 20, 30}},
      {u"2009-05-04 10:20:30Z", true, {2009, 5, 4, 10, 20, 30}},
      {u"2009-05-04T10:20:30", true, {2009, 5, 4, 10, 20, 30}},  // no offset: as written too
      {u"  2008-02-29T00:00:00Z \n", true, {2008, 2, 29, 0, 0, 0}},
      {u"0100-01-01T00:00:00Z", true, {100, 1, 1, 0, 0, 0}},
      {u"9999-12-31T23:59:59+14:00", true, {9999, 12, 31, 23, 59, 59}},
      // out of range
      {u"2009-13-04T10:20:30Z", false, {}},
      {u"2009-00-04T10:20:30Z", false, {}},
      {u"2009-02-30T10:20:30Z", false, {}},
      {u"2009-02-29T10:20:30Z", false, {}},
      {u"2009-05-04T24:00:00Z", false, {}},
      {u"2009-05-04T10:60:30Z", false, {}},
      {u"2009-05-04T10:20:60Z", false, {}},
      {u"0099-12-31T10:20:30Z", false, {}},
      {u"2009-05-04T10:20:30+24:00", false, {}},
      {u"2009-05-04T10:20:30+02:60", false, {}},
      // not the form
      {u"2009-05-04T10:20:30Zjunk", false, {}},
      {u"2009-05-04T10:20:30Z Z", false, {}},
      {u"2009-05-04T10:20:30+02", false, {}},
      {u"2009-05-04T10:20:30+0200", false, {}},
      {u"2009-05-04T10:20:30.Z", false, {}},
      {u"2009-05-04T10:20Z", false, {}},
      {u"2009-05-04", false, {}},
      {u"2009-5-4T10:20:30Z", false, {}},
      {u"2009-05-04X10:20:30Z", false, {}},
      {u"2009-05-04T10:20:3aZ", false, {}},
      {u"2009-05-04T\uFF11\uFF10:20:30Z", false, {}},  // digits are ASCII
      {u"+2009-05-04T10:20:30Z", false, {}},
      {u"20090504T102030Z", false, {}},
      {u"0004-05-04 May 2009", false, {}},  // a timestamp, no longer day 4 of May
  };
  for (const Case& c : cases) {
    const CDateTime v = ParsePubDateText(c.text);
    const std::string name(c.text, c.text + std::char_traits<char16_t>::length(c.text));
    EXPECT_EQ(v.IsValid(), c.valid) << name;
    DateFields f;
    if (c.valid && v.GetFields(f)) {
      EXPECT_EQ(f, c.f) << name;
    }
  }
}

TEST(PubDateTest, ParsePubDateSetsTheArticleDate) {
  CFeed a;
  a.m_dateText = u"Mon, 04 May 2009 10:20:30 GMT";
  ParsePubDate(a);
  EXPECT_EQ(a.m_date, CDateTime::FromFields({2009, 5, 4, 10, 20, 30}));
  a.m_dateText = u"nonsense";
  ParsePubDate(a);
  EXPECT_FALSE(a.m_date.IsValid());
}

}  // namespace
}  // namespace qb

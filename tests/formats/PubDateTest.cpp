#include "formats/PubDate.h"

#include <gtest/gtest.h>

#include <string>

#include "base/Text.h"
#include "model/Feed.h"
#include "tests/support/ScopedTimeZone.h"

namespace qb {
namespace {

using test::ScopedTimeZone;

TEST(PubDateTest, ParsePubDateTokenRules) {
  const ScopedTimeZone utc("UTC0");
  struct Case {
    const char16_t* text;
    bool valid;
    DateFields f;
  };
  const Case cases[] = {
      {u"Mon, 04 May 2009 10:20:30 GMT", true, {2009, 5, 4, 10, 20, 30}},
      {u"04 May 2009 10:20:30 +0200", true, {2009, 5, 4, 8, 20, 30}},
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

TEST(PubDateTest, Iso8601Timestamps) {
  const ScopedTimeZone utc("UTC0");
  struct Case {
    const char16_t* text;
    bool valid;
    DateFields f;
  };
  const Case cases[] = {
      {u"2009-05-04T10:20:30Z", true, {2009, 5, 4, 10, 20, 30}},
      {u"2009-05-04T10:20:30+02:00", true, {2009, 5, 4, 8, 20, 30}},
      {u"2009-05-04T23:20:30-05:30", true, {2009, 5, 5, 4, 50, 30}},
      {u"2009-05-04T10:20:30.123456789Z", true, {2009, 5, 4, 10, 20, 30}},  // fraction dropped
      {u"2009-05-04T10:20:30.999-00:00", true, {2009, 5, 4, 10, 20, 30}},  // not rounded up
      {u"2009-05-04t10:20:30z", true, {2009, 5, 4, 10, 20, 30}},
      {u"2009-05-04 10:20:30Z", true, {2009, 5, 4, 10, 20, 30}},
      {u"2009-05-04T10:20:30", true, {2009, 5, 4, 10, 20, 30}},  // no offset: as written too
      {u"  2008-02-29T00:00:00Z \n", true, {2008, 2, 29, 0, 0, 0}},
      {u"0100-01-01T00:00:00Z", true, {100, 1, 1, 0, 0, 0}},
      {u"9999-12-31T23:59:59+14:00", true, {9999, 12, 31, 9, 59, 59}},
      {u"9999-12-31T23:59:59-01:00", false, {}},  // the year 10000 here
      // the forms of Dublin Core dates and of careless feeds
      {u"2009-05-04T10:20:30+0200", true, {2009, 5, 4, 8, 20, 30}},
      {u"2009-05-04T10:20:30+02", true, {2009, 5, 4, 8, 20, 30}},
      {u"2009-05-04T10:20Z", true, {2009, 5, 4, 10, 20, 0}},
      {u"2009-05-04T10:20:5Z", true, {2009, 5, 4, 10, 20, 5}},
      {u"2009-05-04", true, {2009, 5, 4, 0, 0, 0}},
      {u"2009-05", true, {2009, 5, 1, 0, 0, 0}},
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
      {u"2009-05-04T10:20:30+2", false, {}},
      {u"2009-05-04T10:20:30+02:0", false, {}},
      {u"2009-05-04T10:20:30.Z", false, {}},
      {u"2009-05-04T10:20:123Z", false, {}},
      {u"2009-05-04T10Z", false, {}},
      {u"2009-05-", false, {}},
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

// A zone or offset converts the time to the user's, across the day's
// border where it falls; a date without one stays as written.
TEST(PubDateTest, ZonesAndOffsetsConvertToLocalTime) {
  struct Case {
    const char* tz;
    const char16_t* text;
    DateFields f;
  };
  const Case cases[] = {
      {"UTC0", u"Mon, 04 May 2009 23:30:00 -0500", {2009, 5, 5, 4, 30, 0}},
      {"UTC0", u"Tue, 05 May 2009 01:30:00 +0900", {2009, 5, 4, 16, 30, 0}},
      {"UTC0", u"Mon, 04 May 2009 22:00:00 EST", {2009, 5, 5, 3, 0, 0}},
      {"UTC0", u"Mon, 04 May 2009 22:00:00 PDT", {2009, 5, 5, 5, 0, 0}},
      {"UTC0", u"Mon, 04 May 2009 22:00:00 gmt", {2009, 5, 4, 22, 0, 0}},
      {"UTC0", u"Mon, 04 May 2009 22:00:00 UTC", {2009, 5, 4, 22, 0, 0}},
      {"UTC0", u"Mon, 04 May 2009 22:00:00 +05:30", {2009, 5, 4, 16, 30, 0}},
      {"UTC0", u"Thu, 31 Dec 2009 23:00:00 -0200", {2010, 1, 1, 1, 0, 0}},  // a year's border too
      {"JST-9", u"Mon, 04 May 2009 20:00:00 GMT", {2009, 5, 5, 5, 0, 0}},
      {"JST-9", u"2009-05-04T20:00:00Z", {2009, 5, 5, 5, 0, 0}},
      {"JST-9", u"2009-05-05T05:00:00+09:00", {2009, 5, 5, 5, 0, 0}},
      {"EST5", u"2009-05-05T02:00:00+01:00", {2009, 5, 4, 20, 0, 0}},
      {"EST5", u"Tue, 05 May 2009 02:00:00 +0100", {2009, 5, 4, 20, 0, 0}},
      // no zone, or one that is not known: the clock time as written
      {"JST-9", u"Mon, 04 May 2009 20:00:00", {2009, 5, 4, 20, 0, 0}},
      {"JST-9", u"Mon, 04 May 2009 20:00:00 CEST", {2009, 5, 4, 20, 0, 0}},
      {"JST-9", u"Mon, 04 May 2009 20:00:00 A", {2009, 5, 4, 20, 0, 0}},
      {"JST-9", u"2009-05-04T20:00:00", {2009, 5, 4, 20, 0, 0}},
      {"JST-9", u"2009-05-04", {2009, 5, 4, 0, 0, 0}},
      // as JavaScript's Date.toString() writes it, and other forms feeds use
      {"JST-9", u"Sat Oct 06 2018 00:00:00 GMT+0000 (Coordinated Universal Time)", {2018, 10, 6, 9, 0, 0}},
      {"JST-9", u"Sat Oct 06 2018 00:00:00 GMT+0200", {2018, 10, 6, 7, 0, 0}},
      {"JST-9", u"2006-01-11 16:42:55 -0800", {2006, 1, 12, 9, 42, 55}},
      {"JST-9", u"2020/1/10 14:33:00", {2020, 1, 10, 23, 33, 0}},  // no zone: UTC
      {"JST-9", u"2020/01/10 14:33 +0100", {2020, 1, 10, 22, 33, 0}},
      {"JST-9", u"2020/1/10", {2020, 1, 10, 9, 0, 0}},
  };
  for (const Case& c : cases) {
    const ScopedTimeZone zone(c.tz);
    const CDateTime v = ParsePubDateText(c.text);
    const std::string name = std::string(c.tz) + " " +
                             std::string(c.text, c.text + std::char_traits<char16_t>::length(c.text));
    DateFields f;
    ASSERT_TRUE(v.GetFields(f)) << name;
    EXPECT_EQ(f, c.f) << name;
  }
  // An invalid clock time stays invalid whatever its zone.
  EXPECT_FALSE(ParsePubDateText(u"31 Feb 2009 10:00:00 GMT").IsValid());
  EXPECT_FALSE(ParsePubDateText(u"2009-02-30T10:00:00+01:00").IsValid());
  for (const char16_t* bad : {u"2020/13/10 14:33", u"2020/1/1014:33", u"2020/1/10 14:33 CEST", u"Oct 32 2018",
                              u"2006-01-11 16:42:55 nowhere"}) {
    EXPECT_FALSE(ParsePubDateText(bad).IsValid()) << Utf16ToUtf8(bad);
  }
}

TEST(PubDateTest, ParsePubDateSetsTheArticleDate) {
  const ScopedTimeZone utc("UTC0");
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

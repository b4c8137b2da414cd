#include "base/DateTime.h"

#include <gtest/gtest.h>

#include <limits>

namespace qb {
namespace {

TEST(DateTimeTest, ValidityByRoundTrip) {
  struct Case {
    DateFields f;
    bool valid;
  };
  const Case cases[] = {
      {{2009, 5, 4, 10, 20, 30}, true},
      {{2008, 2, 29, 0, 0, 0}, true},    // leap year
      {{2009, 2, 29, 0, 0, 0}, false},
      {{1900, 2, 29, 0, 0, 0}, false},   // century, not leap
      {{2000, 2, 29, 0, 0, 0}, true},    // 400-year leap
      {{2009, 4, 30, 23, 59, 59}, true},
      {{2009, 4, 31, 0, 0, 0}, false},   // 30-day month
      {{2009, 12, 31, 0, 0, 0}, true},
      {{2009, 13, 1, 0, 0, 0}, false},
      {{2009, 0, 1, 0, 0, 0}, false},
      {{2009, 1, 0, 0, 0, 0}, false},
      {{2009, 1, 1, 24, 0, 0}, false},
      {{2009, 1, 1, 0, 60, 0}, false},
      {{2009, 1, 1, 0, 0, 60}, false},
      {{99, 12, 31, 0, 0, 0}, false},
      {{100, 1, 1, 0, 0, 0}, true},
      {{9999, 12, 31, 23, 59, 59}, true},
      {{10000, 1, 1, 0, 0, 0}, false},
      {{1899, 12, 29, 6, 0, 0}, true},   // before the OLE epoch
      {{-1, -1, -1, -1, -1, -1}, false},
  };
  for (const Case& c : cases) {
    const CDateTime v = CDateTime::FromFields(c.f);
    EXPECT_EQ(v.IsValid(), c.valid) << c.f.year << "-" << c.f.month << "-" << c.f.day << " "
                                    << c.f.hour << ":" << c.f.minute << ":" << c.f.second;
    DateFields back;
    if (c.valid) {
      ASSERT_TRUE(v.GetFields(back));
      EXPECT_EQ(back, c.f);
    }
  }
}

TEST(DateTimeTest, OleDateValues) {
  EXPECT_EQ(CDateTime().GetOleDate(), 0.0);
  EXPECT_DOUBLE_EQ(CDateTime::FromFields({1899, 12, 31, 12, 0, 0}).GetOleDate(), 1.5);
  // Before the epoch the time of day counts away from zero.
  EXPECT_DOUBLE_EQ(CDateTime::FromFields({1899, 12, 29, 6, 0, 0}).GetOleDate(), -1.25);
  EXPECT_DOUBLE_EQ(CDateTime::FromFields({2009, 5, 4, 0, 0, 0}).GetOleDate(), 39937.0);
}

TEST(DateTimeTest, OleDatesOutsideTheYearsTheFieldsHoldAreInvalid) {
  const double first = CDateTime::FromFields({100, 1, 1, 23, 59, 59}).GetOleDate();
  const double last = CDateTime::FromFields({9999, 12, 31, 23, 59, 59}).GetOleDate();
  DateFields f;
  ASSERT_TRUE(CDateTime::FromOleDate(first).GetFields(f));
  EXPECT_EQ(f, (DateFields{100, 1, 1, 23, 59, 59}));
  ASSERT_TRUE(CDateTime::FromOleDate(last).GetFields(f));
  EXPECT_EQ(f, (DateFields{9999, 12, 31, 23, 59, 59}));
  for (const double bad : {first - 1.0, last + 1.0 / 86400, 1.5e43, -1.5e43,
                           std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()}) {
    const CDateTime v = CDateTime::FromOleDate(bad);
    EXPECT_FALSE(v.IsValid()) << bad;
    EXPECT_EQ(v.Format(), u"Invalid DateTime") << bad;
  }
}

TEST(DateTimeTest, CompareDatesRoundsToTheSecond) {
  const CDateTime base = CDateTime::FromFields({2009, 5, 4, 10, 20, 30});
  const CDateTime later = CDateTime::FromFields({2009, 5, 4, 10, 20, 31});
  EXPECT_EQ(CompareDates(base, later), -1);
  EXPECT_EQ(CompareDates(later, base), 1);
  EXPECT_EQ(CompareDates(base, base), 0);
  EXPECT_EQ(CompareDates(CDateTime::Invalid(), base), 1);
  EXPECT_EQ(CompareDates(base, CDateTime::Invalid()), -1);
  EXPECT_EQ(CompareDates(CDateTime::Invalid(), CDateTime::Invalid()), 0);
  // Across the OLE epoch the order still follows the clock.
  const CDateTime morning = CDateTime::FromFields({1899, 12, 29, 6, 0, 0});
  const CDateTime noon = CDateTime::FromFields({1899, 12, 29, 12, 0, 0});
  EXPECT_EQ(CompareDates(morning, noon), -1);
}

TEST(DateTimeTest, CompareDatesOfFractionalSeconds) {
  // Values a fraction of a second apart compare by their difference rounded
  // to the nearest second.
  const double day = CDateTime::FromFields({2009, 5, 4, 12, 0, 0}).GetOleDate();
  const CDateTime a = CDateTime::FromOleDate(day);
  EXPECT_EQ(CompareDates(CDateTime::FromOleDate(day + 0.4 / 86400), a), 0);
  EXPECT_EQ(CompareDates(CDateTime::FromOleDate(day + 0.6 / 86400), a), 1);
  EXPECT_EQ(CompareDates(CDateTime::FromOleDate(day - 0.4 / 86400), a), 0);
  EXPECT_EQ(CompareDates(CDateTime::FromOleDate(day - 0.6 / 86400), a), -1);
}

TEST(DateTimeTest, FormatLeavesOutMidnight) {
  EXPECT_EQ(CDateTime::Invalid().Format(), u"Invalid DateTime");
  EXPECT_EQ(CDateTime::Null().Format(), u"");
  const std::u16string midnight = CDateTime::FromFields({2009, 5, 4, 0, 0, 0}).Format();
  const std::u16string withTime = CDateTime::FromFields({2009, 5, 4, 10, 20, 30}).Format();
  EXPECT_FALSE(midnight.empty());
  EXPECT_EQ(withTime.substr(0, midnight.size()), midnight);
  EXPECT_GT(withTime.size(), midnight.size());
}

TEST(DateTimeTest, FromTimeUsesLocalTime) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(CDateTime::FromTime(1241432430), CDateTime::FromFields({2009, 5, 4, 10, 20, 30}));
  setenv("TZ", "CET-1", 1);
  tzset();
  EXPECT_EQ(CDateTime::FromTime(1241432430), CDateTime::FromFields({2009, 5, 4, 11, 20, 30}));
  setenv("TZ", "UTC", 1);
  tzset();
}

}  // namespace
}  // namespace qb

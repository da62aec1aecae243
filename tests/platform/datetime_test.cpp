#include <gtest/gtest.h>

#include "platform/datetime.h"
#include "support/log_capture.h"

using tav::FormatDateTime;
using tav::LocalTime;
using tav::Regional;

TEST(DateTime, Patterns) {
  const LocalTime t{2024, 12, 9, 14, 3, 5};
  const Regional slash;
  Regional dots;
  dots.dateSeparator = u'.';
  dots.timeSeparator = u'h';
  struct Row { const char16_t *pattern; const Regional *regional; const char16_t *out; };
  const Row rows[] = {
      {u"DDMMYYY_hhmmss_", &slash, u"09122024_140305_"},
      {u"DD/MM/YYY_hh:nn:ss", &slash, u"09/12/2024_14:03:05"},
      {u"DD/MM/YYY_hh:nn:ss", &dots, u"09.12.2024_14h03h05"},
      {u"DD-MM-YYYY_hh_mm_ss", &slash, u"09-12-2024_14_03_05"},
      {u"hh:nn:ss", &slash, u"14:03:05"},
      {u"d/m/yy h:n:s", &slash, u"9/12/24 14:3:5"},
      {u"dd/mm/y", &slash, u"09/12/24"},
  };
  for (const auto &row : rows) EXPECT_EQ(FormatDateTime(row.pattern, t, *row.regional), row.out);
}

TEST(DateTime, RegionalFromLocalePatterns) {
  const Regional de = tav::RegionalFromStrftime("%d.%m.%Y", "%H:%M:%S");
  EXPECT_EQ(de.dateSeparator, u'.');
  EXPECT_EQ(de.shortDateFormat, u"dd/MM/yyyy");
  const Regional us = tav::RegionalFromStrftime("%m/%d/%Y", "%r");
  EXPECT_EQ(us.shortDateFormat, u"MM/dd/yyyy");
  EXPECT_EQ(us.longTimeFormat, u"hh:nn:ss");
}

TEST(DateTime, Rfc1123) { EXPECT_EQ(tav::Rfc1123(1765288987), "Tue, 09 Dec 2025 14:03:07 GMT"); }

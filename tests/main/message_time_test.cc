// The time beside a message: today, yesterday, the last week (weekday in the
// default locale) and older dates.
#include "ui/common/message_time.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QLocale>

namespace {

QString Stamp(const QDateTime& when) { return when.toString("yyyy-MM-dd hh:mm:ss"); }

QDateTime DaysAgoAt(int days, int hour, int minute) {
  return QDateTime(QDate::currentDate().addDays(-days), QTime(hour, minute, 7));
}

class MessageTimeTest : public testing::Test {
 protected:
  void SetUp() override { QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China)); }
  void TearDown() override { QLocale::setDefault(QLocale::c()); }
};

TEST_F(MessageTimeTest, TodayShowsTheTimeOnly) {
  const QString stamp = Stamp(DaysAgoAt(0, 0, 1));
  EXPECT_EQ(FormatMessageTime(stamp, false), "00:01");
  EXPECT_EQ(FormatMessageTime(stamp, true), "00:01");
}

TEST_F(MessageTimeTest, YesterdayLateEveningInBothForms) {
  const QString stamp = Stamp(DaysAgoAt(1, 23, 59));
  EXPECT_EQ(FormatMessageTime(stamp, false), QString::fromUtf8("昨天 23:59"));
  EXPECT_EQ(FormatMessageTime(stamp, true), QString::fromUtf8("昨天"));
}

TEST_F(MessageTimeTest, WithinAWeekShowsTheChineseWeekday) {
  static const char* const kDays[] = {"一", "二", "三", "四", "五", "六", "日"};
  for (int days = 2; days <= 6; ++days) {
    const QDateTime when = DaysAgoAt(days, 14, 5);
    const QString day = QString::fromUtf8(kDays[when.date().dayOfWeek() - 1]);
    EXPECT_EQ(FormatMessageTime(Stamp(when), true), QString::fromUtf8("周") + day) << days;
    EXPECT_EQ(FormatMessageTime(Stamp(when), false), QString::fromUtf8("周") + day + " 14:05")
        << days;
  }
}

TEST_F(MessageTimeTest, OlderThanAWeekShowsTheDate) {
  const QDateTime seven = DaysAgoAt(7, 9, 30);
  EXPECT_EQ(FormatMessageTime(Stamp(seven), false), seven.date().toString("yyyy-MM-dd"));
  const QDateTime eight = DaysAgoAt(8, 23, 59);
  EXPECT_EQ(FormatMessageTime(Stamp(eight), false), eight.date().toString("yyyy-MM-dd"));
  EXPECT_EQ(FormatMessageTime(Stamp(eight), true), eight.date().toString("yyyy-MM-dd"));
}

}  // namespace

#include "ui/common/message_time.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>

QString FormatMessageTime(const QString& dateText, bool compact) {
  const QDateTime when = QDateTime::fromString(dateText, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
  const QDate today = QDateTime::currentDateTime().date();
  const QDate date = when.date();
  if (date == today) return when.toString(QStringLiteral("hh:mm"));
  if (date == today.addDays(-1)) {
    if (compact) return QStringLiteral("昨天");
    return QStringLiteral("昨天 ") + when.toString(QStringLiteral("hh:mm"));
  }
  if (date > today.addDays(-7)) {
    // The default locale (the system's unless the program chose one) names
    // the weekday: "星期三 14:05" in Chinese, whose third character is the day.
    const QString s = QLocale().toString(when, QStringLiteral("dddd hh:mm"));
    if (compact) return QStringLiteral("周") + s.mid(2, 1);
    return QStringLiteral("周") + s.mid(2);
  }
  return date.toString(QStringLiteral("yyyy-MM-dd"));
}

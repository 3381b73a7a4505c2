// The time shown beside a message and in a conversation row.
#pragma once

#include <QString>

// dateText is "yyyy-MM-dd hh:mm:ss" in local time. Today: "hh:mm". Yesterday:
// "昨天" (compact) or "昨天 hh:mm". Within the last seven days: "周" and the
// weekday (compact, e.g. "周三") or "周三 14:05". Older: "yyyy-MM-dd". The
// weekday comes from the default locale's long day name. Any thread.
QString FormatMessageTime(const QString& dateText, bool compact);

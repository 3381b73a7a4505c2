#include "ui/lists/list_text.h"

#include <QRegularExpression>
#include <QVector>

namespace list_text {

QString ShownName(const BusinessCardInfo& card) {
  if (!card.remark.isEmpty()) return card.remark;
  if (!card.nickName.isEmpty()) return card.nickName;
  return card.device;
}

QString Initials(const QString& shownName) {
  const QVector<uint> points = shownName.toUcs4();
  if (points.size() <= 2) return shownName;
  return QString::fromUcs4(points.constData() + points.size() - 2, 2);
}

QString Summary(const QString& messageText) {
  QString text = messageText;
  text.replace(QStringLiteral("<br/>"), QStringLiteral(" "));
  static const QRegularExpression emoji(QStringLiteral("<img[^>]*emoji_[0-9]+[^>]*>"));
  text.replace(emoji, QStringLiteral("[表情]"));
  static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
  text.remove(tag);
  text.replace(QStringLiteral("&nbsp;"), QStringLiteral(" "));
  text.replace(QStringLiteral("&lt;"), QStringLiteral("<"));
  text.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
  text.replace(QStringLiteral("&quot;"), QStringLiteral("\""));
  text.replace(QStringLiteral("&amp;"), QStringLiteral("&"));
  return text.simplified();
}

QString GroupCount(int online, int total) {
  return QStringLiteral("(%1/%2)").arg(online).arg(total);
}

QString GroupNameFromInput(const QString& typed) {
  QString name = typed;
  name.remove(QRegularExpression(QStringLiteral("\\s")));
  return name;
}

}  // namespace list_text

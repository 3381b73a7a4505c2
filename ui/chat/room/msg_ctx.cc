#include "ui/chat/room/msg_ctx.h"

#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <QUuid>
#include <cstdio>

namespace qn {

namespace {

bool HoldsBracedUuid(const QString& text) {
  static const QRegularExpression kUuid(QStringLiteral(
      "\\{[0-9a-z]{8}-[0-9a-z]{4}-[0-9a-z]{4}-[0-9a-z]{4}-[0-9a-z]{12}\\}"));
  return kUuid.match(text).hasMatch();
}

}  // namespace

MsgCtx::MsgCtx(const QString& content, int kind) : content_(content), kind_(kind) {
  id_ = QUuid::createUuid().toString(QUuid::WithBraces).toUpper();
  if (id_.isEmpty()) fprintf(stderr, "current uuid cannot be empty .. \n");
}

QString MsgCtx::ReplacedContent() const {
  QString result = content_;
  for (const MsgImage& image : images_) {
    // The quotes stay, so an attribute that held the second name stays quoted.
    result.replace(QLatin1Char('"') + image.secondName + QLatin1Char('"'),
                   QLatin1Char('"') + image.name + QLatin1Char('"'), Qt::CaseSensitive);
  }
  return result;
}

bool MsgCtx::AddImage(const QString& name, const QString& secondName, const QString& localPath) {
  if (!HoldsBracedUuid(name) || !HoldsBracedUuid(secondName)) return false;
  if (!QFileInfo(localPath).isFile()) return false;
  MsgImage image;
  image.name = name;
  image.secondName = secondName;
  image.localPath = localPath;
  // Only the header is read, so a large picture costs nothing here.
  QImageReader reader(localPath);
  const QSize size = reader.size();
  if (size.isValid()) {
    image.width = size.width();
    image.height = size.height();
  }
  images_.append(image);
  return true;
}

QString MsgSendCtx::DisplayText() const {
  if (kind_ == 0) return content_;
  if (kind_ == 1) return QFileInfo(content_).fileName();
  return QString();
}

QString MsgRecvCtx::DisplayText() const {
  if (kind_ == 0) return content_;
  if (kind_ == 1) return localFileName_;
  return QString();
}

}  // namespace qn

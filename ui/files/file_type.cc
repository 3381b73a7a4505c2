#include "ui/files/file_type.h"

#include <QStringList>

int FileTypeOfSuffix(const QString& suffix) {
  static const QStringList kTypes[] = {
      {"docx", "txt", "doc"},
      {"pptx", "ppt"},
      {"mp4", "avi", "mkv", "rmvb", "rm", "wmv", "flv", "mpg", "mov", "3gp", "gif"},
      {"jpg", "png", "jpeg", "bmp"},
      {"mp3", "wav", "wma", "m4a"},
      {"zip", "rar", "7z", "tar", "gz", "bz2"},
      {"xlsx"},
      {"pdf"},
  };
  const QString lower = suffix.toLower();
  for (int type = 0; type < 8; ++type) {
    if (kTypes[type].contains(lower)) return type;
  }
  return 8;
}

QString FileTypeIcon(int type) {
  switch (type) {
    case 0:
      return QStringLiteral(":/image/file_type/docx.png");
    case 1:
      return QStringLiteral(":/image/file_type/pptx.png");
    case 2:
      return QStringLiteral(":/image/file_type/video.png");
    case 4:
      return QStringLiteral(":/image/file_type/audio.png");
    case 5:
      return QStringLiteral(":/image/file_type/zip.png");
    case 6:
      return QStringLiteral(":/image/file_type/xlsx.png");
    case 7:
      return QStringLiteral(":/image/file_type/pdf.png");
    default:
      return QStringLiteral(":/image/file_type/other.png");
  }
}

QString FileSizeText(qint64 bytes) {
  if (bytes <= 0) return QStringLiteral("0B");
  static const char* const kUnits[] = {"B", "KB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 8) {
    value /= 1024;
    ++unit;
  }
  QString text = QString::number(value, 'f', 3);
  text.chop(1);
  return text + QLatin1String(kUnits[unit]);
}

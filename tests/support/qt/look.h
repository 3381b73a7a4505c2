// For the look programs (pictures of widgets for review, not tests): their
// command line and the frame their pictures are saved in. GUI thread only.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

namespace qnchat_test {

// Reads "<program> <out-dir> [dpi]": the output folder into *out_dir, the
// DPI (when given) into QT_FONT_DPI. Prints the usage and returns false when
// the folder is missing. Call before the application object exists.
inline bool ReadLookArguments(int argc, char** argv, QString* out_dir) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s <out-dir> [dpi]\n", argv[0]);
    return false;
  }
  *out_dir = QString::fromLocal8Bit(argv[1]);
  if (argc > 2) setenv("QT_FONT_DPI", argv[2], 1);
  return true;
}

// The widget as it paints itself, on a 20 px margin of a neutral grey, so
// that its edges and shadow show against something.
inline QImage OnReviewBackground(QWidget* widget) {
  const QImage grabbed = widget->grab().toImage();
  QImage out(grabbed.size() + QSize(40, 40), QImage::Format_RGB32);
  out.fill(QColor("#d9dde6"));
  QPainter painter(&out);
  painter.drawImage(20, 20, grabbed);
  return out;
}

}  // namespace qnchat_test

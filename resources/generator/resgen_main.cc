// qnchat_resgen: draws the interface images and writes the resource collection.
//
//   qnchat_resgen <out-dir> <qss-dir>   images, hicolor icons and <out-dir>/qnchat.qrc
//   qnchat_resgen --sheet <out.png>     contact sheet of every image, for review
//
// Runs at build time; needs no display (the offscreen platform is chosen here).
#include "images.h"
#include "painting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>
#include <QSaveFile>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr int kHicolorSizes[] = {16, 24, 32, 48, 64, 128, 256};

QString HiDpiName(const QString& path) {
  QString name = path;
  name.insert(name.lastIndexOf(QLatin1Char('.')), QStringLiteral("@2x"));
  return name;
}

bool SaveImage(const QImage& image, const QString& file) {
  QDir().mkpath(QFileInfo(file).absolutePath());
  if (image.isNull() || !image.save(file, "PNG")) {
    std::fprintf(stderr, "qnchat_resgen: cannot write %s\n", qPrintable(file));
    return false;
  }
  return true;
}

// Rewrites only when the text differs, so rcc is not re-run for nothing.
bool WriteIfChanged(const QString& file, const QByteArray& text) {
  QFile old(file);
  if (old.open(QIODevice::ReadOnly) && old.readAll() == text) return true;
  QSaveFile out(file);
  if (!out.open(QIODevice::WriteOnly)) return false;
  out.write(text);
  return out.commit();
}

int Generate(const QString& out_dir, const QString& qss_dir) {
  if (!resgen::EmojiFontAvailable()) {
    std::fprintf(stderr,
                 "qnchat_resgen: warning: colour emoji font missing, drawing plain faces\n");
  }
  QStringList files;
  for (const resgen::ImageEntry& entry : resgen::AllImages()) {
    if (!SaveImage(entry.draw(1), out_dir + QLatin1Char('/') + entry.path)) return 1;
    files << entry.path;
    if (entry.hidpi) {
      const QString hi = HiDpiName(entry.path);
      if (!SaveImage(entry.draw(2), out_dir + QLatin1Char('/') + hi)) return 1;
      files << hi;
    }
  }
  for (int size : kHicolorSizes) {
    const QString file =
        QStringLiteral("%1/icons/hicolor/%2x%2/apps/qnchat.png").arg(out_dir).arg(size);
    if (!SaveImage(resgen::AppIcon(size), file)) return 1;
  }

  QByteArray qrc;
  QTextStream ts(&qrc);
  ts << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/\">\n";
  for (const QString& f : files) ts << "  <file>" << f << "</file>\n";
  const QDir qss(qss_dir);
  const QStringList sheets = qss.entryList({QStringLiteral("*.css")}, QDir::Files, QDir::Name);
  if (sheets.isEmpty()) {
    std::fprintf(stderr, "qnchat_resgen: no style sheets in %s\n", qPrintable(qss_dir));
    return 1;
  }
  for (const QString& s : sheets) {
    ts << "  <file alias=\"qss/" << s << "\">" << qss.absoluteFilePath(s) << "</file>\n";
  }
  ts << "</qresource>\n</RCC>\n";
  ts.flush();
  if (!WriteIfChanged(out_dir + QStringLiteral("/qnchat.qrc"), qrc)) {
    std::fprintf(stderr, "qnchat_resgen: cannot write the resource collection\n");
    return 1;
  }
  return 0;
}

// One tile per image at 2x (so small glyphs can be judged), on a white and on
// the page colour background; white glyphs get the accent bar behind them.
int Sheet(const QString& out_file) {
  const std::vector<resgen::ImageEntry> all = resgen::AllImages();
  const int tile = 112, cols = 10;
  const int rows = static_cast<int>((all.size() + cols - 1) / cols);
  QImage sheet(cols * tile, rows * tile, QImage::Format_ARGB32);
  sheet.fill(Qt::white);
  QPainter p(&sheet);
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(9);
  p.setFont(f);
  for (size_t i = 0; i < all.size(); ++i) {
    const resgen::ImageEntry& e = all[i];
    const QRect cell(static_cast<int>(i % cols) * tile, static_cast<int>(i / cols) * tile, tile, tile);
    const bool on_bar = e.path.contains(QLatin1String("min_")) ||
                        e.path.contains(QLatin1String("max_")) ||
                        e.path.contains(QLatin1String("show_normal")) ||
                        e.path.contains(QLatin1String("close_")) ||
                        e.path.contains(QLatin1String("rename_")) ||
                        e.path.contains(QLatin1String("arrow_down"));
    p.fillRect(cell.adjusted(1, 1, -1, -1),
               on_bar ? resgen::kAccent : ((i / cols) % 2 ? resgen::kPage : QColor(Qt::white)));
    QImage img = e.draw(e.hidpi ? 2 : 1);
    if (e.path.contains(QLatin1String("shadow"))) img = img.scaled(img.size() * 6);
    if (img.width() > tile - 20 || img.height() > tile - 24) {
      img = img.scaled(tile - 20, tile - 24, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    p.drawImage(cell.center().x() - img.width() / 2, cell.top() + 6 + (tile - 24 - img.height()) / 2,
                img);
    p.setPen(on_bar ? QColor(Qt::white) : resgen::kInk);
    p.drawText(cell.adjusted(2, 0, -2, -3), Qt::AlignBottom | Qt::AlignHCenter,
               QFileInfo(e.path).completeBaseName());
  }
  p.end();
  return sheet.save(out_file) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() == 3 && args[1] == QLatin1String("--sheet")) return Sheet(args[2]);
  if (args.size() != 3) {
    std::fprintf(stderr, "usage: qnchat_resgen <out-dir> <qss-dir> | --sheet <out.png>\n");
    return 2;
  }
  return Generate(args[1], args[2]);
}

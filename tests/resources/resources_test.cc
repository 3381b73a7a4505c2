// The compiled resources: every indexed path loads, emoji are real colour faces,
// style sheets parse and scale, nine-patch and shadow pieces fit together, and
// the Windows font names resolve to an installed CJK family.
#include "resources/resources.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QFile>
#include <QFontInfo>
#include <QImage>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QWidget>

#include <memory>

namespace {

std::unique_ptr<QApplication> g_app;
QStringList g_warnings;

void CollectWarnings(QtMsgType type, const QMessageLogContext&, const QString& msg) {
  if (type != QtDebugMsg && type != QtInfoMsg) g_warnings << msg;
}

class ResourcesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "resources_test";
    static char* argv[] = {name, nullptr};
    g_app = std::make_unique<QApplication>(argc, argv);
    qnres::InitResources();
  }
  static void TearDownTestSuite() { g_app.reset(); }
};

QString ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(f.readAll());
}

// Paths in backticks in the index; "NN" stands for the emoji numbers 00 … 20.
QStringList IndexedPaths() {
  const QString index = ReadAll(QStringLiteral(QNCHAT_SOURCE_DIR "/resources/INDEX.md"));
  QStringList paths;
  QRegularExpressionMatchIterator it =
      QRegularExpression(QStringLiteral("`(:/[^`\\s]+)`")).globalMatch(index);
  while (it.hasNext()) {
    const QString path = it.next().captured(1);
    if (path.contains(QLatin1String("NN"))) {
      for (int i = 0; i <= 20; ++i) {
        paths << QString(path).replace(QLatin1String("NN"),
                                       QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0')));
      }
    } else {
      paths << path;
    }
  }
  paths.removeDuplicates();
  return paths;
}

bool HasVisiblePixels(const QImage& img) {
  for (int y = 0; y < img.height(); ++y) {
    for (int x = 0; x < img.width(); ++x) {
      if (qAlpha(img.pixel(x, y)) > 0) return true;
    }
  }
  return false;
}

TEST_F(ResourcesTest, EveryIndexedPathLoads) {
  const QStringList paths = IndexedPaths();
  // The index names well over a hundred files; a parse that finds few is broken.
  ASSERT_GT(paths.size(), 120);
  for (const QString& path : paths) {
    SCOPED_TRACE(path.toStdString());
    ASSERT_TRUE(QFile::exists(path));
    if (path.endsWith(QLatin1String(".png"))) {
      const QImage img(path);
      ASSERT_FALSE(img.isNull());
      EXPECT_TRUE(img.hasAlphaChannel());
      EXPECT_TRUE(HasVisiblePixels(img));
    } else {
      EXPECT_FALSE(ReadAll(path).trimmed().isEmpty());
    }
  }
}

TEST_F(ResourcesTest, EmojiAreTwentyOneDistinctColourFaces) {
  QSet<QByteArray> seen;
  for (int i = 0; i <= 20; ++i) {
    const QString path = QStringLiteral(":/image/face/emoji_%1.png").arg(i, 2, 10, QLatin1Char('0'));
    SCOPED_TRACE(path.toStdString());
    const QImage img = QImage(path).convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(img.size(), QSize(24, 24));
    EXPECT_EQ(QImage(QString(path).replace(QLatin1String(".png"), QLatin1String("@2x.png"))).size(),
              QSize(48, 48));
    int coloured = 0;
    for (int y = 0; y < img.height(); ++y) {
      for (int x = 0; x < img.width(); ++x) {
        const QColor c = QColor::fromRgba(img.pixel(x, y));
        if (c.alpha() > 200 && c.hsvSaturation() > 80) ++coloured;
      }
    }
    // A face fills most of its cell with saturated colour.
    EXPECT_GT(coloured, 24 * 24 / 3);
    seen.insert(QByteArray(reinterpret_cast<const char*>(img.constBits()),
                           static_cast<int>(img.sizeInBytes())));
  }
  EXPECT_EQ(seen.size(), 21);
}

TEST_F(ResourcesTest, StyleSheetsParseAndReferenceOnlyExistingImages) {
  const QStringList paths = IndexedPaths().filter(QRegularExpression(QStringLiteral("\\.css$")));
  ASSERT_EQ(paths.size(), 18);
  const QRegularExpression url(QStringLiteral("url\\(([^)]+)\\)"));
  // DPI scaling rewrites only "Npx;"; a size written any other way would stay
  // unscaled. One-pixel-class borders ("1px solid") are meant to stay thin.
  const QRegularExpression unscaled(QStringLiteral("\\d+px(?!;)(?! solid)"));
  for (const QString& path : paths) {
    SCOPED_TRACE(path.toStdString());
    const QString sheet = ReadAll(path);
    EXPECT_EQ(sheet.count(QLatin1Char('{')), sheet.count(QLatin1Char('}')));
    EXPECT_FALSE(unscaled.match(sheet).hasMatch()) << unscaled.match(sheet).captured(0).toStdString();
    QRegularExpressionMatchIterator it = url.globalMatch(sheet);
    while (it.hasNext()) {
      const QString ref = it.next().captured(1);
      EXPECT_TRUE(QFile::exists(ref)) << ref.toStdString();
    }
    g_warnings.clear();
    QtMessageHandler old = qInstallMessageHandler(CollectWarnings);
    {
      // Qt parses a widget's sheet when it styles the widget's children.
      QWidget w;
      QPushButton child(&w);
      w.setStyleSheet(sheet);
      w.ensurePolished();
      child.ensurePolished();
    }
    qInstallMessageHandler(old);
    EXPECT_TRUE(g_warnings.isEmpty()) << g_warnings.join(QLatin1Char('\n')).toStdString();
  }
}

TEST_F(ResourcesTest, BubblesCarryNinePatchSlicingThatFitsTheImage) {
  for (const char* path : {":/image/chat/chat_left.png", ":/image/chat/chat_right.png"}) {
    SCOPED_TRACE(path);
    const QImage img(QString::fromLatin1(path));
    ASSERT_FALSE(img.isNull());
    const QStringList slice = img.text(QStringLiteral("NinePatch")).split(QLatin1Char(','));
    const QStringList content = img.text(QStringLiteral("NinePatchContent")).split(QLatin1Char(','));
    ASSERT_EQ(slice.size(), 4);
    ASSERT_EQ(content.size(), 4);
    const int left = slice[0].toInt(), top = slice[1].toInt();
    const int right = slice[2].toInt(), bottom = slice[3].toInt();
    ASSERT_LT(left + right, img.width());
    ASSERT_LT(top + bottom, img.height());
    // The stretched middle must be opaque, or a long message would show holes.
    for (int y = top; y < img.height() - bottom; ++y) {
      for (int x = left; x < img.width() - right; ++x) {
        ASSERT_EQ(qAlpha(img.pixel(x, y)), 255) << x << "," << y;
      }
    }
  }
}

TEST_F(ResourcesTest, ShadowCornersJoinTheirEdgesWithoutASeam) {
  const QString dir = QStringLiteral(":/frameless/shadow/");
  const QImage left(dir + "shadow_left.png"), top(dir + "shadow_top.png");
  const QImage right(dir + "shadow_right.png"), bottom(dir + "shadow_bottom.png");
  const QImage lt(dir + "shadow_left_top.png"), lb(dir + "shadow_left_bottom.png");
  const QImage rt(dir + "shadow_right_top.png"), rb(dir + "shadow_right_bottom.png");
  ASSERT_EQ(left.width(), 5);
  ASSERT_EQ(top.height(), 5);
  for (const QImage* corner : {&lt, &lb, &rt, &rb}) ASSERT_EQ(corner->size(), QSize(7, 7));
  // The corner's last row/column continues the edge painted next to it.
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(qAlpha(lt.pixel(i, 6)), qAlpha(left.pixel(i, 0))) << i;
    EXPECT_EQ(qAlpha(lt.pixel(6, i)), qAlpha(top.pixel(0, i))) << i;
    EXPECT_EQ(qAlpha(lb.pixel(i, 0)), qAlpha(left.pixel(i, 0))) << i;
    EXPECT_EQ(qAlpha(lb.pixel(6, 2 + i)), qAlpha(bottom.pixel(0, i))) << i;
    EXPECT_EQ(qAlpha(rt.pixel(2 + i, 6)), qAlpha(right.pixel(i, 0))) << i;
    EXPECT_EQ(qAlpha(rt.pixel(0, i)), qAlpha(top.pixel(0, i))) << i;
    EXPECT_EQ(qAlpha(rb.pixel(2 + i, 0)), qAlpha(right.pixel(i, 0))) << i;
    EXPECT_EQ(qAlpha(rb.pixel(0, 2 + i)), qAlpha(bottom.pixel(0, i))) << i;
  }
  // Darkest next to the window, fading outwards.
  EXPECT_GT(qAlpha(left.pixel(4, 0)), qAlpha(left.pixel(0, 0)));
  EXPECT_GT(qAlpha(bottom.pixel(0, 0)), qAlpha(bottom.pixel(0, 4)));
}

TEST_F(ResourcesTest, WindowsFontNamesResolveToTheCjkFamily) {
  qnres::InstallFontFallbacks();
  qnres::InstallFontFallbacks();  // a second call must not stack duplicates
  for (const char* name : {"微软雅黑", "Microsoft Yahei", "Microsoft YaHei", "MicroSoft YaHei"}) {
    SCOPED_TRACE(name);
    const QString family = QFontInfo(QFont(QString::fromUtf8(name))).family();
    EXPECT_TRUE(family.startsWith(QLatin1String("Noto Sans CJK"))) << family.toStdString();
    EXPECT_EQ(QFont::substitutes(QString::fromUtf8(name)).size(), 1);
  }
}

TEST_F(ResourcesTest, HicolorIconsExistAtEverySize) {
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QString file = QStringLiteral(QNCHAT_BINARY_DIR "/resources/gen/icons/hicolor/%1x%1/apps/qnchat.png")
                             .arg(size);
    SCOPED_TRACE(file.toStdString());
    const QImage img(file);
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.size(), QSize(size, size));
  }
}

}  // namespace

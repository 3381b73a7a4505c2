#include "images.h"

#include "painting.h"

#include <QFont>
#include <QFontDatabase>
#include <QLinearGradient>
#include <QtMath>

#include <algorithm>
#include <cmath>

namespace resgen {
namespace {

constexpr const char* kEmojiFontFile = "/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf";

// Twenty-one everyday faces, in picker order (emoji_00 … emoji_20).
constexpr char32_t kEmojiFaces[21] = {
    0x1F600,  // grinning
    0x1F604,  // smiling with open mouth and smiling eyes
    0x1F602,  // tears of joy
    0x1F60A,  // smiling eyes
    0x1F60D,  // heart eyes
    0x1F618,  // blowing a kiss
    0x1F61C,  // winking with tongue
    0x1F60E,  // sunglasses
    0x1F914,  // thinking
    0x1F60F,  // smirking
    0x1F605,  // sweat smile
    0x1F62D,  // loudly crying
    0x1F622,  // crying
    0x1F621,  // pouting
    0x1F631,  // screaming in fear
    0x1F634,  // sleeping
    0x1F637,  // medical mask
    0x1F644,  // rolling eyes
    0x1F62E,  // open mouth
    0x1F970,  // smiling with hearts
    0x1F607,  // halo
};

QColor WithAlpha(QColor c, int alpha) {
  c.setAlpha(alpha);
  return c;
}

// Rounded rectangle with its own radius per corner (top-left, top-right,
// bottom-right, bottom-left) — message bubbles point at their sender.
QPainterPath CornerRect(const QRectF& r, double tl, double tr, double br, double bl) {
  QPainterPath path;
  path.moveTo(r.left() + tl, r.top());
  path.lineTo(r.right() - tr, r.top());
  path.arcTo(QRectF(r.right() - 2 * tr, r.top(), 2 * tr, 2 * tr), 90, -90);
  path.lineTo(r.right(), r.bottom() - br);
  path.arcTo(QRectF(r.right() - 2 * br, r.bottom() - 2 * br, 2 * br, 2 * br), 0, -90);
  path.lineTo(r.left() + bl, r.bottom());
  path.arcTo(QRectF(r.left(), r.bottom() - 2 * bl, 2 * bl, 2 * bl), 270, -90);
  path.lineTo(r.left(), r.top() + tl);
  path.arcTo(QRectF(r.left(), r.top(), 2 * tl, 2 * tl), 180, -90);
  path.closeSubpath();
  return path;
}

// ---------------------------------------------------------------- app logo

// Logo glyph in a 100-unit grid: a speech bubble carrying a lightning bolt.
QPainterPath LogoBubble() {
  QPainterPath bubble = RoundRect(19, 22, 62, 46, 17);
  bubble = bubble.united(Polygon({{30, 60}, {25, 81}, {48, 66}}));
  return bubble;
}

QPainterPath LogoBolt() {
  return Polygon({{56, 28}, {38, 49}, {49, 49}, {44, 64}, {63, 41}, {52, 41}});
}

QImage DrawLogo(int size, bool gray) {
  Canvas c(size, 100);
  QPainter& p = c.p();
  // Small sizes fill the square so the mark stays legible at 16 px.
  const double inset = size <= 24 ? 1 : 4;
  QPainterPath tile = RoundRect(inset, inset, 100 - 2 * inset, 100 - 2 * inset, 23);
  if (gray) {
    c.Fill(tile, QColor(0xDD, 0xE2, 0xEB));
  } else {
    QLinearGradient g(0, 0, 100, 100);
    g.setColorAt(0, kAccentLight);
    g.setColorAt(1, kAccentDark);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawPath(tile);
  }
  c.Fill(LogoBubble(), Qt::white);
  c.Fill(LogoBolt(), gray ? QColor(0xDD, 0xE2, 0xEB) : kAccent);
  return c.Take();
}

// ---------------------------------------------------------------- title bar

enum class TitleGlyph { kMin, kMax, kRestore, kClose, kRename };

QImage DrawTitleButton(TitleGlyph glyph, bool hover, int scale) {
  Canvas c(28, 28, scale);
  if (hover) {
    const QColor bg = glyph == TitleGlyph::kClose ? kDanger : WithAlpha(Qt::white, 48);
    c.Fill(RoundRect(2, 2, 24, 24, 5), bg);
  }
  const QColor ink = Qt::white;
  const double w = 1.5;
  switch (glyph) {
    case TitleGlyph::kMin:
      c.Line({{9, 14.5}, {19, 14.5}}, ink, w);
      break;
    case TitleGlyph::kMax:
      c.Stroke(RoundRect(9.25, 9.25, 9.5, 9.5, 1.2), ink, w);
      break;
    case TitleGlyph::kRestore:
      c.Stroke(RoundRect(8.75, 11.75, 7.5, 7.5, 1), ink, w);
      c.Line({{11.75, 11.5}, {11.75, 8.75}, {19.25, 8.75}, {19.25, 16.25}, {16.5, 16.25}}, ink, w);
      break;
    case TitleGlyph::kClose:
      c.Line({{9.5, 9.5}, {18.5, 18.5}}, ink, w);
      c.Line({{18.5, 9.5}, {9.5, 18.5}}, ink, w);
      break;
    case TitleGlyph::kRename:
      c.Stroke(Polygon({{9, 19}, {9.7, 16}, {16.9, 8.8}, {19.2, 11.1}, {12, 18.3}}), ink, 1.3);
      c.Line({{15.4, 10.3}, {17.7, 12.6}}, ink, 1.3);
      break;
  }
  return c.Take();
}

// ---------------------------------------------------------------- navigation

enum class NavGlyph { kChat, kContact, kFile, kSetting };

QPainterPath GearPath() {
  QPainterPath gear;
  QVector<QPointF> pts;
  const QPointF centre(12, 12);
  auto polar = [&](double r, double deg) {
    const double a = qDegreesToRadians(deg);
    return centre + QPointF(r * std::cos(a), r * std::sin(a));
  };
  for (int i = 0; i < 8; ++i) {
    const double base = i * 45.0 + 22.5;
    pts << polar(7.2, base - 16) << polar(9.6, base - 9) << polar(9.6, base + 9)
        << polar(7.2, base + 16);
  }
  gear.addPolygon(QPolygonF(pts));
  gear.closeSubpath();
  return gear;
}

QImage DrawNav(NavGlyph glyph, bool active, int scale) {
  Canvas c(24, 24, scale);
  const QColor ink = active ? kAccent : kIcon;
  const double w = 1.7;
  switch (glyph) {
    case NavGlyph::kChat: {
      QPainterPath bubble = RoundRect(3, 4, 18, 13.5, 4.5);
      bubble = bubble.united(Polygon({{7, 16}, {6.3, 21}, {12.5, 17}}));
      const QColor dots = active ? QColor(Qt::white) : ink;
      if (active) {
        c.Fill(bubble, ink);
      } else {
        c.Stroke(bubble, ink, w);
      }
      for (double x : {8.0, 12.0, 16.0}) c.Fill(Circle(x, 10.75, 1.2), dots);
      break;
    }
    case NavGlyph::kContact: {
      QPainterPath head = Circle(12, 8, 4);
      QPainterPath body;
      body.moveTo(4.5, 20.5);
      body.cubicTo(4.5, 15.8, 8, 13.8, 12, 13.8);
      body.cubicTo(16, 13.8, 19.5, 15.8, 19.5, 20.5);
      body.closeSubpath();
      if (active) {
        c.Fill(head, ink);
        c.Fill(body, ink);
      } else {
        c.Stroke(head, ink, w);
        c.Stroke(body, ink, w);
      }
      break;
    }
    case NavGlyph::kFile: {
      QPainterPath folder;
      folder.moveTo(3, 7);
      folder.quadTo(3, 5, 5, 5);
      folder.lineTo(9.5, 5);
      folder.lineTo(11.5, 7);
      folder.lineTo(19, 7);
      folder.quadTo(21, 7, 21, 9);
      folder.lineTo(21, 17);
      folder.quadTo(21, 19, 19, 19);
      folder.lineTo(5, 19);
      folder.quadTo(3, 19, 3, 17);
      folder.closeSubpath();
      if (active) {
        c.Fill(folder, ink);
        c.Line({{3.5, 10}, {20.5, 10}}, Qt::white, 1.3);
      } else {
        c.Stroke(folder, ink, w);
        c.Line({{3.5, 10}, {20.5, 10}}, ink, 1.3);
      }
      break;
    }
    case NavGlyph::kSetting: {
      QPainterPath gear = GearPath();
      if (active) {
        gear.addEllipse(QPointF(12, 12), 3, 3);
        gear.setFillRule(Qt::OddEvenFill);
        c.Fill(gear, ink);
      } else {
        c.Stroke(gear, ink, w);
        c.Stroke(Circle(12, 12, 3), ink, w);
      }
      break;
    }
  }
  return c.Take();
}

// ---------------------------------------------------------------- chat tool bar

enum class ToolGlyph { kEmoji, kScreenShot, kVideoChat, kHistory, kShare, kRemoteHelp };

void MonitorOutline(Canvas& c, const QColor& ink, double w) {
  c.Stroke(RoundRect(3, 4, 18, 12.5, 2), ink, w);
  c.Line({{12, 16.5}, {12, 20}}, ink, w);
  c.Line({{8, 20}, {16, 20}}, ink, w);
}

QImage DrawToolBar(ToolGlyph glyph, bool active, int scale) {
  Canvas c(24, 24, scale);
  const QColor ink = active ? kAccent : kIcon;
  const double w = 1.6;
  switch (glyph) {
    case ToolGlyph::kEmoji: {
      c.Stroke(Circle(12, 12, 8.7), ink, w);
      c.Fill(Circle(9, 10, 1.25), ink);
      c.Fill(Circle(15, 10, 1.25), ink);
      QPainterPath smile;
      smile.moveTo(8, 14);
      smile.quadTo(12, 18, 16, 14);
      c.Stroke(smile, ink, w);
      break;
    }
    case ToolGlyph::kScreenShot: {
      c.Stroke(Circle(7, 17, 2.8), ink, w);
      c.Stroke(Circle(17, 17, 2.8), ink, w);
      c.Line({{8.9, 14.9}, {17, 3.5}}, ink, w);
      c.Line({{15.1, 14.9}, {7, 3.5}}, ink, w);
      break;
    }
    case ToolGlyph::kVideoChat: {
      c.Stroke(RoundRect(3, 6.5, 12, 11, 2.2), ink, w);
      c.Stroke(Polygon({{15, 10.5}, {21, 7.5}, {21, 16.5}, {15, 13.5}}), ink, w);
      break;
    }
    case ToolGlyph::kHistory: {
      c.Stroke(Circle(12, 12, 8.7), ink, w);
      c.Line({{12, 7}, {12, 12}, {15.5, 14}}, ink, w);
      break;
    }
    case ToolGlyph::kShare: {
      MonitorOutline(c, ink, w);
      c.Line({{12, 13.5}, {12, 7.5}}, ink, w);
      c.Line({{9.5, 10}, {12, 7.5}, {14.5, 10}}, ink, w);
      break;
    }
    case ToolGlyph::kRemoteHelp: {
      MonitorOutline(c, ink, w);
      c.Fill(Polygon({{10, 7}, {10, 14.5}, {11.9, 12.6}, {13.2, 15}, {14.6, 14.3}, {13.4, 12}, {16, 12}}),
             ink);
      break;
    }
  }
  return c.Take();
}

// An active share: the monitor filled in the accent colour.
QImage DrawScreenSharing(int scale) {
  Canvas c(24, 24, scale);
  c.Fill(RoundRect(2.2, 3.2, 19.6, 14.1, 2.6), kAccent);
  c.Line({{12, 17}, {12, 20}}, kAccent, 1.6);
  c.Line({{8, 20}, {16, 20}}, kAccent, 1.6);
  c.Line({{12, 14}, {12, 7.5}}, Qt::white, 1.6);
  c.Line({{9.5, 10}, {12, 7.5}, {14.5, 10}}, Qt::white, 1.6);
  return c.Take();
}

// ---------------------------------------------------------------- small glyphs

QImage DrawSearch(int scale) {
  Canvas c(16, 16, scale);
  c.Stroke(Circle(7, 7, 4.6), kIcon, 1.5);
  c.Line({{10.4, 10.4}, {13.6, 13.6}}, kIcon, 1.6);
  return c.Take();
}

QImage DrawSearchClear(int scale) {
  Canvas c(16, 16, scale);
  c.Fill(Circle(8, 8, 6.5), QColor(0xC5, 0xCA, 0xD3));
  c.Line({{5.7, 5.7}, {10.3, 10.3}}, Qt::white, 1.4);
  c.Line({{10.3, 5.7}, {5.7, 10.3}}, Qt::white, 1.4);
  return c.Take();
}

QImage DrawBusinessCard(int scale) {
  Canvas c(14, 14, scale);
  c.Stroke(RoundRect(1.2, 2.6, 11.6, 8.8, 1.8), kAccent, 1.2);
  c.Fill(Circle(4.6, 6.2, 1.45), kAccent);
  c.Line({{3, 9.1}, {6.2, 9.1}}, kAccent, 1.1);
  c.Line({{8.2, 5.6}, {11, 5.6}}, kAccent, 1.1);
  c.Line({{8.2, 8.3}, {10.4, 8.3}}, kAccent, 1.1);
  return c.Take();
}

QImage DrawAddGroup(int scale) {
  Canvas c(14, 14, scale);
  c.Stroke(RoundRect(1.5, 1.5, 11, 11, 2.6), kAccent, 1.2);
  c.Line({{7, 4.4}, {7, 9.6}}, kAccent, 1.3);
  c.Line({{4.4, 7}, {9.6, 7}}, kAccent, 1.3);
  return c.Take();
}

QImage DrawCheckMark(int scale) {
  Canvas c(16, 16, scale);
  c.Line({{3.2, 8.4}, {6.6, 11.8}, {12.9, 4.6}}, kAccent, 1.8);
  return c.Take();
}

QImage DrawShareEnded(int scale) {
  Canvas c(16, 16, scale);
  c.Stroke(RoundRect(1.5, 2.2, 13, 9.3, 1.6), kIcon, 1.3);
  c.Line({{8, 11.5}, {8, 13.6}}, kIcon, 1.3);
  c.Line({{5.2, 13.6}, {10.8, 13.6}}, kIcon, 1.3);
  c.Fill(RoundRect(6, 4.8, 4, 4, 0.9), kDanger);
  return c.Take();
}

QImage DrawSendFailed(int scale) {
  Canvas c(16, 16, scale);
  c.Fill(Circle(8, 8, 7), kDanger);
  c.Line({{8, 4.3}, {8, 8.9}}, Qt::white, 1.7);
  c.Fill(Circle(8, 11.6, 1.05), Qt::white);
  return c.Take();
}

QImage DrawChevron(bool expanded, const QColor& ink, int scale) {
  Canvas c(12, 12, scale);
  if (expanded) {
    c.Line({{3, 4.5}, {6, 7.5}, {9, 4.5}}, ink, 1.4);
  } else {
    c.Line({{4.5, 3}, {7.5, 6}, {4.5, 9}}, ink, 1.4);
  }
  return c.Take();
}

QImage DrawCheckBox(bool checked, int scale) {
  Canvas c(16, 16, scale);
  if (checked) {
    c.Fill(RoundRect(1, 1, 14, 14, 3.2), kAccent);
    c.Line({{4.3, 8.2}, {7, 10.8}, {11.8, 5.4}}, Qt::white, 1.6);
  } else {
    c.Fill(RoundRect(1.5, 1.5, 13, 13, 3), Qt::white);
    c.Stroke(RoundRect(1.5, 1.5, 13, 13, 3), kMuted, 1);
  }
  return c.Take();
}

QImage DrawRoundCheck(bool checked, int scale) {
  Canvas c(20, 20, scale);
  if (checked) {
    c.Fill(Circle(10, 10, 9), kAccent);
    c.Line({{6, 10.2}, {8.8, 13}, {14, 7.4}}, Qt::white, 1.8);
  } else {
    c.Fill(Circle(10, 10, 8.5), Qt::white);
    c.Stroke(Circle(10, 10, 8.5), kMuted, 1.1);
  }
  return c.Take();
}

QImage DrawDelete(bool hover, int scale) {
  Canvas c(16, 16, scale);
  QColor ink = kMuted;
  if (hover) {
    c.Fill(Circle(8, 8, 7), kDanger);
    ink = Qt::white;
  }
  c.Line({{5.4, 5.4}, {10.6, 10.6}}, ink, 1.4);
  c.Line({{10.6, 5.4}, {5.4, 10.6}}, ink, 1.4);
  return c.Take();
}

QImage DrawPencil(const QColor& ink, int scale) {
  Canvas c(16, 16, scale);
  c.Stroke(Polygon({{2.5, 13.5}, {3.2, 10.5}, {10.6, 3.1}, {12.9, 5.4}, {5.5, 12.8}}), ink, 1.3);
  c.Line({{9.1, 4.6}, {11.4, 6.9}}, ink, 1.3);
  c.Line({{8.5, 13.5}, {13.5, 13.5}}, ink, 1.3);
  return c.Take();
}

// ---------------------------------------------------------------- screenshot tools

enum class ShotTool { kRect, kEllipse, kArrow, kUndo, kSave, kClose, kOk };

QImage DrawShotTool(ShotTool tool, int scale) {
  Canvas c(20, 20, scale);
  const double w = 1.6;
  switch (tool) {
    case ShotTool::kRect:
      c.Stroke(RoundRect(3.5, 5, 13, 10, 1), kInk, w);
      break;
    case ShotTool::kEllipse: {
      QPainterPath e;
      e.addEllipse(QRectF(3, 5, 14, 10));
      c.Stroke(e, kInk, w);
      break;
    }
    case ShotTool::kArrow:
      c.Line({{4, 16}, {13.5, 6.5}}, kInk, w);
      c.Fill(Polygon({{16, 4}, {9.6, 5.6}, {14.4, 10.4}}), kInk);
      break;
    case ShotTool::kUndo: {
      QPainterPath path;
      path.moveTo(5, 8.5);
      path.lineTo(12, 8.5);
      path.arcTo(QRectF(8, 8.5, 8, 7.5), 90, -180);
      path.lineTo(8, 16);
      c.Stroke(path, kInk, w);
      c.Line({{8, 5.2}, {4.8, 8.5}, {8, 11.8}}, kInk, w);
      break;
    }
    case ShotTool::kSave:
      c.Line({{10, 3.5}, {10, 12.5}}, kInk, w);
      c.Line({{6.3, 9}, {10, 12.7}, {13.7, 9}}, kInk, w);
      c.Line({{4, 13.5}, {4, 16.5}, {16, 16.5}, {16, 13.5}}, kInk, w);
      break;
    case ShotTool::kClose:
      c.Line({{5, 5}, {15, 15}}, kDanger, 1.8);
      c.Line({{15, 5}, {5, 15}}, kDanger, 1.8);
      break;
    case ShotTool::kOk:
      c.Line({{4, 10.4}, {8.2, 14.6}, {16, 5.8}}, kAccent, 2);
      break;
  }
  return c.Take();
}

// ---------------------------------------------------------------- business card fields

enum class CardField { kSection, kPosition, kPhone, kMail };

QImage DrawCardField(CardField field, int scale) {
  Canvas c(16, 16, scale);
  const double w = 1.3;
  switch (field) {
    case CardField::kSection:
      c.Stroke(RoundRect(5.8, 1.6, 4.4, 3.6, 0.8), kAccent, w);
      c.Stroke(RoundRect(1.6, 10.6, 4.4, 3.6, 0.8), kAccent, w);
      c.Stroke(RoundRect(10, 10.6, 4.4, 3.6, 0.8), kAccent, w);
      c.Line({{8, 5.2}, {8, 8}}, kAccent, w);
      c.Line({{3.8, 10.6}, {3.8, 8}, {12.2, 8}, {12.2, 10.6}}, kAccent, w);
      break;
    case CardField::kPosition:
      c.Stroke(RoundRect(1.8, 5, 12.4, 9, 1.6), kAccent, w);
      c.Line({{6, 5}, {6, 3}, {10, 3}, {10, 5}}, kAccent, w);
      c.Line({{2, 9.2}, {14, 9.2}}, kAccent, w);
      break;
    case CardField::kPhone:
      c.Stroke(RoundRect(4.3, 1.5, 7.4, 13, 1.6), kAccent, w);
      c.Fill(Circle(8, 12.1, 0.9), kAccent);
      break;
    case CardField::kMail:
      c.Stroke(RoundRect(1.8, 3.4, 12.4, 9.2, 1.6), kAccent, w);
      c.Line({{2.6, 4.6}, {8, 8.8}, {13.4, 4.6}}, kAccent, w);
      break;
  }
  return c.Take();
}

// ---------------------------------------------------------------- file types

enum class FileGlyph { kText, kVideo, kAudio, kZip, kOther };

QImage DrawFileType(const QColor& colour, FileGlyph glyph, const QString& label, int scale) {
  Canvas c(48, 48, scale);
  QPainterPath page;
  page.moveTo(12, 4);
  page.lineTo(29, 4);
  page.lineTo(39, 14);
  page.lineTo(39, 41.5);
  page.quadTo(39, 44, 36.5, 44);
  page.lineTo(11.5, 44);
  page.quadTo(9, 44, 9, 41.5);
  page.lineTo(9, 6.5);
  page.quadTo(9, 4, 12, 4);
  page.closeSubpath();
  c.Fill(page, colour);
  QPainterPath fold;
  fold.moveTo(29, 4);
  fold.lineTo(29, 11.5);
  fold.quadTo(29, 14, 31.5, 14);
  fold.lineTo(39, 14);
  fold.closeSubpath();
  c.Fill(fold, WithAlpha(Qt::white, 120));
  QPainter& p = c.p();
  switch (glyph) {
    case FileGlyph::kText: {
      QFont f(QStringLiteral("DejaVu Sans"));
      f.setBold(true);
      f.setPixelSize(9);
      p.setFont(f);
      p.setPen(Qt::white);
      p.drawText(QRectF(9, 24, 30, 13), Qt::AlignCenter, label);
      break;
    }
    case FileGlyph::kVideo:
      c.Fill(Polygon({{20, 22.5}, {20, 35.5}, {31, 29}}), Qt::white);
      break;
    case FileGlyph::kAudio:
      c.Fill(Circle(19.5, 34, 3.2), Qt::white);
      c.Fill(Circle(29, 32, 3.2), Qt::white);
      c.Line({{22.2, 34}, {22.2, 23.5}, {31.7, 21.3}, {31.7, 32}}, Qt::white, 1.8);
      break;
    case FileGlyph::kZip:
      for (int i = 0; i < 5; ++i) {
        const double y = 6 + i * 3;
        c.Fill(RoundRect(i % 2 ? 24 : 21, y, 3, 1.8, 0.5), Qt::white);
      }
      c.Fill(RoundRect(20.5, 22, 7, 9.5, 1.6), Qt::white);
      c.Fill(RoundRect(22.5, 26.5, 3, 2.6, 0.6), colour);
      break;
    case FileGlyph::kOther:
      for (double x : {18.5, 24.0, 29.5}) c.Fill(Circle(x, 30, 2), Qt::white);
      break;
  }
  return c.Take();
}

// ---------------------------------------------------------------- frameless shadow

// Alpha of the shadow at distance d (pixels) outside the window edge.
double ShadowAlpha(double d) {
  const double kBand = 5.0;
  const double kMax = 52.0;
  if (d >= kBand) return 0;
  const double t = 1.0 - d / kBand;
  return kMax * t * t;
}

// Shadow tile: `dist` gives the distance outside the window for a pixel centre.
QImage DrawShadow(int w, int h, const std::function<double(double, double)>& dist) {
  QImage img(w, h, QImage::Format_ARGB32);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int a = static_cast<int>(std::lround(ShadowAlpha(dist(x + 0.5, y + 0.5))));
      img.setPixel(x, y, qRgba(0, 0, 0, a));
    }
  }
  return img;
}

double Hyp(double dx, double dy) { return std::hypot(std::max(0.0, dx), std::max(0.0, dy)); }

// ---------------------------------------------------------------- chat bubbles

QImage DrawBubble(bool sent) {
  Canvas c(36, 36, 1);
  const QRectF r(0.5, 0.5, 35, 35);
  const double big = 10, small = 3;
  if (sent) {
    c.Fill(CornerRect(r, big, small, big, big), kAccent);
  } else {
    QPainterPath path = CornerRect(r, small, big, big, big);
    c.Fill(path, Qt::white);
    c.Stroke(path, kBorder, 1);
  }
  QImage img = c.Take();
  // Stretch borders and text padding, left,top,right,bottom in pixels.
  Annotate(img, "NinePatch", QStringLiteral("12,12,12,12"));
  Annotate(img, "NinePatchContent", QStringLiteral("12,8,12,8"));
  return img;
}

// Laid over a "#DBE6FA" square: page colour outside a circle, clear inside.
QImage DrawAvatarMask() {
  const int size = 80;
  QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
  img.fill(kPage);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setCompositionMode(QPainter::CompositionMode_Clear);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  p.drawEllipse(QRectF(0, 0, size, size));
  p.end();
  return img.convertToFormat(QImage::Format_ARGB32);
}

// ---------------------------------------------------------------- emoji

QString EmojiFamily() {
  static QString family = [] {
    const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(kEmojiFontFile));
    if (id < 0) return QString();
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    return families.isEmpty() ? QString() : families.first();
  }();
  return family;
}

// Flat stand-in face used only when the colour font is missing.
QImage DrawFallbackFace(int index, int px) {
  Canvas c(px, 24);
  c.Fill(Circle(12, 12, 11), QColor(0xFF, 0xCC, 0x4D));
  c.Fill(Circle(8.5, 9.5, 1.6), kInk);
  c.Fill(Circle(15.5, 9.5, 1.6), kInk);
  QPainterPath mouth;
  const double bend = 14 + (index % 5) * 1.2;
  mouth.moveTo(7.5, 14.5);
  mouth.quadTo(12, bend + 2, 16.5, 14.5);
  c.Stroke(mouth, kInk, 1.6);
  return c.Take();
}

QImage DrawEmoji(int index, int scale) {
  const int px = 24 * scale;
  const QString family = EmojiFamily();
  if (family.isEmpty()) return DrawFallbackFace(index, px);
  // The colour font carries 136 px bitmaps (109 px em); draw at the native
  // strike and scale down smoothly, which keeps edges clean at 24 and 48 px.
  QImage big(136, 136, QImage::Format_ARGB32_Premultiplied);
  big.fill(Qt::transparent);
  QPainter p(&big);
  QFont f(family);
  f.setPixelSize(109);
  p.setFont(f);
  const char32_t cp = kEmojiFaces[index];
  p.drawText(big.rect(), Qt::AlignCenter, QString::fromUcs4(&cp, 1));
  p.end();
  // Crop to the painted area so every face fills its cell alike.
  int left = big.width(), top = big.height(), right = -1, bottom = -1;
  for (int y = 0; y < big.height(); ++y) {
    const QRgb* line = reinterpret_cast<const QRgb*>(big.constScanLine(y));
    for (int x = 0; x < big.width(); ++x) {
      if (qAlpha(line[x]) > 8) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
    }
  }
  if (right < 0) return DrawFallbackFace(index, px);
  const int side = std::max(right - left + 1, bottom - top + 1);
  const QRect square(left + (right - left + 1 - side) / 2, top + (bottom - top + 1 - side) / 2,
                     side, side);
  QImage face(side, side, QImage::Format_ARGB32_Premultiplied);
  face.fill(Qt::transparent);
  QPainter fp(&face);
  fp.drawImage(QPoint(0, 0), big, square);
  fp.end();
  return face.scaled(px, px, Qt::KeepAspectRatio, Qt::SmoothTransformation)
      .convertToFormat(QImage::Format_ARGB32);
}

ImageEntry Hi(const QString& path, std::function<QImage(int)> draw) {
  return ImageEntry{path, std::move(draw), true};
}

ImageEntry Lo(const QString& path, std::function<QImage()> draw) {
  return ImageEntry{path, [draw](int) { return draw(); }, false};
}

}  // namespace

bool EmojiFontAvailable() { return !EmojiFamily().isEmpty(); }

QImage AppIcon(int size) { return DrawLogo(size, false); }

std::vector<ImageEntry> AllImages() {
  std::vector<ImageEntry> all;
  const QString img = QStringLiteral("image/");

  all.push_back(Lo(img + "logo.png", [] { return DrawLogo(128, false); }));
  all.push_back(Lo(img + "logo_gray.png", [] { return DrawLogo(200, true); }));

  // Title bars (white glyphs on the accent bar).
  all.push_back(Hi(img + "min_normal.png", [](int s) { return DrawTitleButton(TitleGlyph::kMin, false, s); }));
  all.push_back(Hi(img + "min_hover_press.png", [](int s) { return DrawTitleButton(TitleGlyph::kMin, true, s); }));
  all.push_back(Hi(img + "max_normal.png", [](int s) { return DrawTitleButton(TitleGlyph::kMax, false, s); }));
  all.push_back(Hi(img + "max_hover_press.png", [](int s) { return DrawTitleButton(TitleGlyph::kMax, true, s); }));
  all.push_back(Hi(img + "show_normal_normal.png", [](int s) { return DrawTitleButton(TitleGlyph::kRestore, false, s); }));
  all.push_back(Hi(img + "show_normal_hover.png", [](int s) { return DrawTitleButton(TitleGlyph::kRestore, true, s); }));
  all.push_back(Hi(img + "close_normal.png", [](int s) { return DrawTitleButton(TitleGlyph::kClose, false, s); }));
  all.push_back(Hi(img + "close_hover_press.png", [](int s) { return DrawTitleButton(TitleGlyph::kClose, true, s); }));
  all.push_back(Hi(img + "rename_normal.png", [](int s) { return DrawTitleButton(TitleGlyph::kRename, false, s); }));
  all.push_back(Hi(img + "rename_hover_press.png", [](int s) { return DrawTitleButton(TitleGlyph::kRename, true, s); }));

  // Left navigation column.
  const struct { const char* name; NavGlyph glyph; } nav[] = {
      {"chat", NavGlyph::kChat}, {"contact", NavGlyph::kContact},
      {"file", NavGlyph::kFile}, {"setting", NavGlyph::kSetting}};
  for (const auto& n : nav) {
    const NavGlyph g = n.glyph;
    all.push_back(Hi(img + n.name + "_normal.png", [g](int s) { return DrawNav(g, false, s); }));
    all.push_back(Hi(img + n.name + "_hover_press.png", [g](int s) { return DrawNav(g, true, s); }));
  }

  // Chat tool bar above the input.
  const struct { const char* name; ToolGlyph glyph; } tools[] = {
      {"emoji", ToolGlyph::kEmoji},         {"screenshot", ToolGlyph::kScreenShot},
      {"videochat", ToolGlyph::kVideoChat}, {"chathistory", ToolGlyph::kHistory},
      {"screenshare", ToolGlyph::kShare},   {"remotehelp", ToolGlyph::kRemoteHelp}};
  for (const auto& t : tools) {
    const ToolGlyph g = t.glyph;
    all.push_back(Hi(img + t.name + "_normal.png", [g](int s) { return DrawToolBar(g, false, s); }));
    all.push_back(Hi(img + t.name + "_hover_press.png", [g](int s) { return DrawToolBar(g, true, s); }));
  }
  all.push_back(Hi(img + "screensharing.png", DrawScreenSharing));

  all.push_back(Hi(img + "search_normal.png", DrawSearch));
  all.push_back(Hi(img + "search_clear.png", DrawSearchClear));
  all.push_back(Hi(img + "business_card.png", DrawBusinessCard));
  all.push_back(Hi(img + "add_group.png", DrawAddGroup));
  all.push_back(Hi(img + "checked.png", DrawCheckMark));
  all.push_back(Hi(img + "screenshare_chat_end.png", DrawShareEnded));
  all.push_back(Hi(img + "sendMessageFailed_normal.png", DrawSendFailed));
  all.push_back(Hi(img + "expanded.png", [](int s) { return DrawChevron(true, kIcon, s); }));
  all.push_back(Hi(img + "notExpanded.png", [](int s) { return DrawChevron(false, kIcon, s); }));
  all.push_back(Hi(img + "arrow_down.png", [](int s) { return DrawChevron(true, Qt::white, s); }));
  all.push_back(Hi(img + "combo_arrow.png", [](int s) { return DrawChevron(true, kIcon, s); }));
  all.push_back(Hi(img + "check_box.png", [](int s) { return DrawCheckBox(false, s); }));
  all.push_back(Hi(img + "check_box_check.png", [](int s) { return DrawCheckBox(true, s); }));
  all.push_back(Hi(img + "cbox_unchecked.png", [](int s) { return DrawRoundCheck(false, s); }));
  all.push_back(Hi(img + "cbox_checked.png", [](int s) { return DrawRoundCheck(true, s); }));
  all.push_back(Hi(img + "delete_normal.png", [](int s) { return DrawDelete(false, s); }));
  all.push_back(Hi(img + "delete_hover_press.png", [](int s) { return DrawDelete(true, s); }));
  all.push_back(Hi(img + "edit_normal.png", [](int s) { return DrawPencil(kIcon, s); }));
  all.push_back(Hi(img + "edit_hover_press.png", [](int s) { return DrawPencil(kAccent, s); }));

  all.push_back(Hi(img + "card-bumen.png", [](int s) { return DrawCardField(CardField::kSection, s); }));
  all.push_back(Hi(img + "card-zhiwei.png", [](int s) { return DrawCardField(CardField::kPosition, s); }));
  all.push_back(Hi(img + "card-phone.png", [](int s) { return DrawCardField(CardField::kPhone, s); }));
  all.push_back(Hi(img + "card-mail.png", [](int s) { return DrawCardField(CardField::kMail, s); }));

  const struct { const char* name; ShotTool tool; } shot[] = {
      {"rect", ShotTool::kRect}, {"ellipse", ShotTool::kEllipse}, {"arrow", ShotTool::kArrow},
      {"undo", ShotTool::kUndo}, {"save", ShotTool::kSave},       {"close", ShotTool::kClose},
      {"ok", ShotTool::kOk}};
  for (const auto& t : shot) {
    const ShotTool tool = t.tool;
    all.push_back(Hi(img + "tool/" + t.name + ".png", [tool](int s) { return DrawShotTool(tool, s); }));
  }

  const struct { const char* name; QColor colour; FileGlyph glyph; const char* label; } files[] = {
      {"docx", QColor(0x3F, 0x7D, 0xE8), FileGlyph::kText, "DOC"},
      {"pptx", QColor(0xEC, 0x6C, 0x3E), FileGlyph::kText, "PPT"},
      {"video", QColor(0x8B, 0x66, 0xE3), FileGlyph::kVideo, ""},
      {"audio", QColor(0x1F, 0xAE, 0x9E), FileGlyph::kAudio, ""},
      {"zip", QColor(0xF0, 0xB0, 0x34), FileGlyph::kZip, ""},
      {"xlsx", QColor(0x2E, 0xA6, 0x62), FileGlyph::kText, "XLS"},
      {"pdf", QColor(0xE2, 0x4B, 0x4E), FileGlyph::kText, "PDF"},
      {"other", QColor(0xA3, 0xAA, 0xB8), FileGlyph::kOther, ""}};
  for (const auto& f : files) {
    const QColor colour = f.colour;
    const FileGlyph glyph = f.glyph;
    const QString label = QString::fromLatin1(f.label);
    all.push_back(Hi(img + "file_type/" + f.name + ".png",
                     [colour, glyph, label](int s) { return DrawFileType(colour, glyph, label, s); }));
  }

  all.push_back(Lo(img + "chat/chat_left.png", [] { return DrawBubble(false); }));
  all.push_back(Lo(img + "chat/chat_right.png", [] { return DrawBubble(true); }));
  all.push_back(Lo(img + "chat/user_mask_icon.png", DrawAvatarMask));

  for (int i = 0; i <= 20; ++i) {
    all.push_back(Hi(img + QStringLiteral("face/emoji_%1.png").arg(i, 2, 10, QLatin1Char('0')),
                     [i](int s) { return DrawEmoji(i, s); }));
  }

  // Shadow band of frameless windows: 5 px edges, 7 px corners.
  const QString sh = QStringLiteral("frameless/shadow/");
  all.push_back(Lo(sh + "shadow_left.png", [] { return DrawShadow(5, 10, [](double x, double) { return 5 - x; }); }));
  all.push_back(Lo(sh + "shadow_right.png", [] { return DrawShadow(5, 10, [](double x, double) { return x; }); }));
  all.push_back(Lo(sh + "shadow_top.png", [] { return DrawShadow(10, 5, [](double, double y) { return 5 - y; }); }));
  all.push_back(Lo(sh + "shadow_bottom.png", [] { return DrawShadow(10, 5, [](double, double y) { return y; }); }));
  all.push_back(Lo(sh + "shadow_left_top.png", [] {
    return DrawShadow(7, 7, [](double x, double y) { return Hyp(5 - x, 5 - y); });
  }));
  all.push_back(Lo(sh + "shadow_left_bottom.png", [] {
    return DrawShadow(7, 7, [](double x, double y) { return Hyp(5 - x, y - 2); });
  }));
  all.push_back(Lo(sh + "shadow_right_top.png", [] {
    return DrawShadow(7, 7, [](double x, double y) { return Hyp(x - 2, 5 - y); });
  }));
  all.push_back(Lo(sh + "shadow_right_bottom.png", [] {
    return DrawShadow(7, 7, [](double x, double y) { return Hyp(x - 2, y - 2); });
  }));
  return all;
}

}  // namespace resgen

// Style-sheet loading and its DPI scaling.
#include "ui/frameless/qss_manager.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QVariant>
#include <QWidget>

#include "resources/resources.h"
#include "ui/common/dpi_scale.h"

namespace {

TEST(QssManagerTest, ScalesPixelSizesFollowedBySemicolon) {
  EXPECT_EQ(QssManager::ScaleStyleSheet("QLabel { min-width: 26px; }", 1.5),
            "QLabel { min-width: 39px; }");
  EXPECT_EQ(QssManager::ScaleStyleSheet("margin: 10px;", 1.5), "margin: 15px;");
  EXPECT_EQ(QssManager::ScaleStyleSheet("border-radius: 3px;", 1.5), "border-radius: 4.5px;");
  EXPECT_EQ(QssManager::ScaleStyleSheet("a: 1px; b: 2px; c: 0px;", 1.25), "a: 1.25px; b: 2.5px; c: 0px;");
  // 'g' with six significant digits.
  EXPECT_EQ(QssManager::ScaleStyleSheet("w: 7px;", 4.0 / 3.0), "w: 9.33333px;");
  EXPECT_EQ(QssManager::ScaleStyleSheet("w: 1000000px;", 1.5), "w: 1.5e+06px;");
}

TEST(QssManagerTest, LeavesEverythingElseAlone) {
  // Only "<digits>px;" counts: no semicolon, other units, colours and text.
  const QString text =
      "QWidget#a { font-size: 13px }\n"
      "QWidget#b { padding: 4px 8px; color: #678BF1; width: 20em; }\n"
      "QLabel[isOnline=\"true\"] { image: url(:/image/px_12.png); }\n";
  EXPECT_EQ(QssManager::ScaleStyleSheet(text, 2.0),
            "QWidget#a { font-size: 13px }\n"
            "QWidget#b { padding: 4px 16px; color: #678BF1; width: 20em; }\n"
            "QLabel[isOnline=\"true\"] { image: url(:/image/px_12.png); }\n");
}

TEST(QssManagerTest, FactorOfOneOrLessKeepsTheText) {
  const QString text = "min-width: 26px; max-height: 3px;";
  EXPECT_EQ(QssManager::ScaleStyleSheet(text, 1.0), text);
  EXPECT_EQ(QssManager::ScaleStyleSheet(text, 0.75), text);
}

TEST(QssManagerTest, ApplySetsTheSheetOnTheParentOrNothing) {
  qnres::InitResources();
  QWidget widget;
  widget.setStyleSheet("QWidget { color: red; }");
  auto* qss = new QssManager(&widget);
  EXPECT_FALSE(qss->Apply(":/qss/no_such_sheet.css"));
  EXPECT_EQ(widget.styleSheet(), "QWidget { color: red; }");

  ASSERT_TRUE(qss->Apply(":/qss/title_bar.css"));
  EXPECT_TRUE(widget.styleSheet().contains("#678BF1"));
  EXPECT_TRUE(widget.styleSheet().contains("min-width"));

  // A widget's own rules follow the shared sheet, scaled alike.
  const QString own = "QLabel#own_lb { min-width: 26px; }";
  EXPECT_FALSE(qss->Apply(":/qss/no_such_sheet.css", own));
  EXPECT_FALSE(widget.styleSheet().contains("own_lb"));
  ASSERT_TRUE(qss->Apply(":/qss/title_bar.css", own));
  EXPECT_TRUE(widget.styleSheet().endsWith(QssManager::ScaleStyleSheet(own, DpiScale())));
}

TEST(QssManagerTest, RepolishPicksUpAChangedDynamicProperty) {
  QWidget parent;
  parent.setStyleSheet("QLabel[isOnline=\"true\"] { color: #678bf1; }"
                       "QLabel[isOnline=\"false\"] { color: #808080; }");
  auto* label = new QLabel("ab", &parent);
  label->setProperty("isOnline", false);
  label->ensurePolished();
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor("#808080"));
  label->setProperty("isOnline", true);
  QssManager::Repolish(label);
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor("#678bf1"));
}

}  // namespace

#include "ui/screenshot/tools.h"

#include <QButtonGroup>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStyleOption>
#include <QToolButton>

#include "ui/common/dpi_scale.h"
#include "ui/frameless/qss_manager.h"

namespace {

QToolButton* MakeToolButton(QWidget* parent, const char* name, const char* icon, const QString& tip) {
  auto* button = new QToolButton(parent);
  button->setObjectName(QLatin1String(name));
  button->setIcon(QIcon(QLatin1String(icon)));
  button->setIconSize(QSize(20, 20) * DpiScale());
  button->setToolTip(tip);
  button->setFocusPolicy(Qt::NoFocus);
  button->setCursor(Qt::ArrowCursor);
  return button;
}

QFrame* MakeSeparator(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::VLine);
  line->setFixedWidth(1);
  line->setStyleSheet(QStringLiteral("background-color: #D5D9E2; border: none;"));
  return line;
}

}  // namespace

ToolWidget::ToolWidget(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::ArrowCursor);
  setAttribute(Qt::WA_StyledBackground);
}

void ToolWidget::paintEvent(QPaintEvent*) {
  QStyleOption option;
  option.initFrom(this);
  QPainter painter(this);
  style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

Tools::Tools(QWidget* parent) : ToolWidget(parent) {
  setObjectName(QStringLiteral("tools"));
  const double scale = DpiScale();
  setFixedSize(QSize(260, 30) * scale);

  rectBtn = MakeToolButton(this, "rectBtn", ":/image/tool/rect.png", QString::fromUtf8("矩形"));
  circleBtn = MakeToolButton(this, "circleBtn", ":/image/tool/ellipse.png", QString::fromUtf8("椭圆"));
  arrowBtn = MakeToolButton(this, "arrowBtn", ":/image/tool/arrow.png", QString::fromUtf8("箭头"));
  undoBtn = MakeToolButton(this, "undoBtn", ":/image/tool/undo.png", QString::fromUtf8("撤销"));
  saveBtn = MakeToolButton(this, "saveBtn", ":/image/tool/save.png", QString::fromUtf8("保存"));
  cancelBtn = MakeToolButton(this, "cancelBtn", ":/image/tool/close.png", QString::fromUtf8("退出截图"));
  finishBtn = MakeToolButton(this, "finishBtn", ":/image/tool/ok.png", QString());
  finishBtn->setText(QString::fromUtf8("完成"));
  finishBtn->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

  shape_group_ = new QButtonGroup(this);
  shape_group_->setExclusive(true);
  int type = 1;
  for (QToolButton* button : {rectBtn, circleBtn, arrowBtn}) {
    button->setCheckable(true);
    shape_group_->addButton(button, type++);
  }
  connect(shape_group_, &QButtonGroup::idClicked, this, &Tools::Sig_Draw);
  connect(undoBtn, &QToolButton::clicked, this, &Tools::Sig_Undo);
  connect(saveBtn, &QToolButton::clicked, this, &Tools::Sig_Download);
  connect(cancelBtn, &QToolButton::clicked, this, &Tools::Sig_Finished);
  connect(finishBtn, &QToolButton::clicked, this, &Tools::Sig_ClipBoard);

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(QMargins(4, 2, 4, 2) * scale);
  layout->setSpacing(static_cast<int>(4 * scale));
  layout->addWidget(rectBtn);
  layout->addWidget(circleBtn);
  layout->addWidget(arrowBtn);
  layout->addWidget(MakeSeparator(this));
  layout->addWidget(undoBtn);
  layout->addWidget(saveBtn);
  layout->addStretch(1);
  layout->addWidget(cancelBtn);
  layout->addWidget(finishBtn);

  (new QssManager(this))->Apply(QStringLiteral(":/qss/tools.css"));
}

void Tools::ClearShape() {
  // An exclusive group keeps one button checked; let go of that for a moment.
  shape_group_->setExclusive(false);
  for (QAbstractButton* button : shape_group_->buttons()) button->setChecked(false);
  shape_group_->setExclusive(true);
}

constexpr int DrawTools::kThicknesses[3];

DrawTools::DrawTools(QWidget* parent) : ToolWidget(parent) {
  setObjectName(QStringLiteral("draw_tools"));
  const double scale = DpiScale();

  // Thickness page: three "●" marks of growing size, no indicator.
  auto* thickness_stack = new QStackedWidget(this);
  auto* thickness_page = new QWidget(thickness_stack);
  auto* thickness_layout = new QHBoxLayout(thickness_page);
  thickness_layout->setContentsMargins(0, 0, 0, 0);
  thickness_layout->setSpacing(static_cast<int>(2 * scale));
  auto* thickness_group = new QButtonGroup(this);
  const int mark_sizes[3] = {8, 12, 17};
  for (int i = 0; i < 3; ++i) {
    auto* radio = new QRadioButton(QString::fromUtf8("●"), thickness_page);
    radio->setObjectName(QStringLiteral("thickness%1").arg(kThicknesses[i]));
    radio->setFocusPolicy(Qt::NoFocus);
    radio->setToolTip(QString::fromUtf8("%1 像素").arg(kThicknesses[i]));
    radio->setStyleSheet(QStringLiteral(
        "QRadioButton::indicator { width: 0px; height: 0px; border: none; image: none; background: transparent; }"));
    QFont font = radio->font();
    font.setPixelSize(static_cast<int>(mark_sizes[i] * scale));
    radio->setFont(font);
    radio->setFixedSize(QSize(20, 28) * scale);
    thickness_group->addButton(radio, kThicknesses[i]);
    thickness_layout->addWidget(radio);
    if (i == 0) radio->setChecked(true);
  }
  thickness_stack->addWidget(thickness_page);
  connect(thickness_group, &QButtonGroup::idClicked, this, [this](int thickness) {
    thickness_ = thickness;
    emit Sig_ThicknessChanged(thickness);
  });

  // Colour page: the current colour, then the grid.
  static const QColor kColors[15] = {
      QColor(0, 85, 255),    QColor(255, 255, 255), QColor(85, 255, 255), QColor(255, 255, 0),
      QColor(85, 170, 127),  QColor(192, 192, 192), QColor(128, 128, 128), QColor(170, 0, 127),
      QColor(0, 170, 0),     QColor(0, 0, 0),       QColor(85, 170, 255), QColor(251, 56, 56),
      QColor(255, 170, 127), QColor(255, 0, 255),   QColor(170, 255, 0)};
  auto* color_stack = new QStackedWidget(this);
  auto* color_page = new QWidget(color_stack);
  auto* grid = new QGridLayout(color_page);
  grid->setContentsMargins(0, 0, 0, 0);
  grid->setSpacing(static_cast<int>(2 * scale));
  current_color_btn_ = new QPushButton(color_page);
  current_color_btn_->setObjectName(QStringLiteral("currentColorBtn"));
  current_color_btn_->setFocusPolicy(Qt::NoFocus);
  current_color_btn_->setFixedSize(QSize(30, 30) * scale);
  grid->addWidget(current_color_btn_, 0, 0, 3, 1);
  for (int i = 0; i < 15; ++i) {
    auto* button = new QPushButton(color_page);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(QSize(14, 14) * scale);
    button->setStyleSheet(QStringLiteral("background-color: %1;").arg(kColors[i].name()));
    const QColor color = kColors[i];
    connect(button, &QPushButton::clicked, this, [this, color] {
      SetColor(color);
      emit Sig_ColorChanged(color);
    });
    grid->addWidget(button, i / 5, 1 + i % 5);
    color_buttons_.append(button);
  }
  color_stack->addWidget(color_page);
  SetColor(color_);

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(QMargins(6, 4, 6, 4) * scale);
  layout->setSpacing(static_cast<int>(6 * scale));
  layout->addWidget(thickness_stack);
  layout->addWidget(MakeSeparator(this));
  layout->addWidget(color_stack);

  (new QssManager(this))->Apply(QStringLiteral(":/qss/tools.css"));
  adjustSize();
  setFixedSize(sizeHint());
}

void DrawTools::SetColor(const QColor& color) {
  color_ = color;
  current_color_btn_->setStyleSheet(QStringLiteral("background-color: %1;").arg(color.name()));
}

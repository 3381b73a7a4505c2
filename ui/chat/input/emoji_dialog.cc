#include "ui/chat/input/emoji_dialog.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/chat/input/input_text_edit.h"
#include "ui/common/dpi_scale.h"
#include "ui/frameless/qss_manager.h"

namespace {
constexpr int kCellSide = 34;
constexpr int kFaceSide = 24;
}  // namespace

EmojiDialog::EmojiDialog(QWidget* parent)
    : QWidget(parent, Qt::Popup), emoji_tb_(new QTableWidget(kRows, kColumns, this)) {
  setMouseTracking(true);
  // A plain QWidget subclass paints its style-sheet background only when asked.
  setAttribute(Qt::WA_StyledBackground);
  (new QssManager(this))->Apply(QStringLiteral(":/qss/emoji_dialog.css"));

  const double scale = DpiScale();
  const int cell = qRound(kCellSide * scale);
  const int face = qRound(kFaceSide * scale);

  emoji_tb_->setObjectName(QStringLiteral("emoji_tb"));
  emoji_tb_->horizontalHeader()->hide();
  emoji_tb_->verticalHeader()->hide();
  emoji_tb_->horizontalHeader()->setMinimumSectionSize(1);
  emoji_tb_->verticalHeader()->setMinimumSectionSize(1);
  emoji_tb_->horizontalHeader()->setDefaultSectionSize(cell);
  emoji_tb_->verticalHeader()->setDefaultSectionSize(cell);
  emoji_tb_->setShowGrid(false);
  emoji_tb_->setSelectionMode(QAbstractItemView::SingleSelection);
  emoji_tb_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  emoji_tb_->setFocusPolicy(Qt::NoFocus);
  emoji_tb_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  emoji_tb_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  emoji_tb_->setFrameShape(QFrame::NoFrame);
  emoji_tb_->setMouseTracking(true);

  for (int index = 0; index < kRows * kColumns; ++index) {
    const int row = index / kColumns;
    const int column = index % kColumns;
    if (index >= kFaceCount) {
      auto* empty = new QTableWidgetItem;
      empty->setFlags(Qt::NoItemFlags);
      emoji_tb_->setItem(row, column, empty);
      continue;
    }
    const QString path = FacePath(index);
    auto* label = new QLabel;
    label->setFixedSize(face, face);
    label->setScaledContents(true);
    label->setAlignment(Qt::AlignCenter);
    label->setToolTip(path);
    // The double-size face keeps its edges when scaled down on dense screens.
    QPixmap pixmap(scale > 1 ? QString(path).replace(".png", "@2x.png") : path);
    if (pixmap.isNull()) pixmap.load(path);
    label->setPixmap(pixmap);
    // Centred in its cell: the label is smaller than the cell.
    auto* holder = new QWidget;
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label, 0, Qt::AlignCenter);
    holder->setAttribute(Qt::WA_TransparentForMouseEvents);
    emoji_tb_->setCellWidget(row, column, holder);
  }

  auto* layout = new QVBoxLayout(this);
  // The style sheet's 1 px border stays visible around the grid.
  layout->setContentsMargins(1, 1, 1, 1);
  layout->addWidget(emoji_tb_);
  setFixedSize(kColumns * cell + 2, kRows * cell + 2);

  connect(emoji_tb_, &QTableWidget::cellClicked, this, &EmojiDialog::on_emoji_tb_cellClicked);
}

QString EmojiDialog::FacePath(int index) {
  return QStringLiteral(":/image/face/emoji_%1.png").arg(index, 2, 10, QLatin1Char('0'));
}

void EmojiDialog::ShowAt(const QPoint& globalPos, InputTextEdit* target) {
  target_ = target;
  QPoint pos = globalPos;
  if (QScreen* screen = QGuiApplication::screenAt(globalPos)) {
    const QRect area = screen->availableGeometry();
    pos.setX(qBound(area.left(), pos.x(), qMax(area.left(), area.right() - width() + 1)));
    pos.setY(qBound(area.top(), pos.y(), qMax(area.top(), area.bottom() - height() + 1)));
  }
  move(pos);
  show();
}

void EmojiDialog::on_emoji_tb_cellClicked(int row, int column) {
  const int index = row * kColumns + column;
  if (index < 0 || index >= kFaceCount) return;
  if (target_) target_->InsertImageHtml(FacePath(index));
  hide();
}

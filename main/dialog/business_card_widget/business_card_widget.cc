#include "main/dialog/business_card_widget/business_card_widget.h"

#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "main/dialog/rename_host_dialog/rename_host_dialog.h"
#include "ui/common/app_services.h"
#include "ui/common/dpi_scale.h"
#include "ui/frameless/qss_manager.h"
#include "ui/lists/list_text.h"

namespace {

int Scaled(double px) { return static_cast<int>(px * DpiScale() + 0.5); }

QLabel* PlainLabel(const QString& text, QWidget* parent, const char* name) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

BusinessCardWidget::BusinessCardWidget(AppServices* services, QWidget* parent)
    : QWidget(parent), services_(services) {
  setAttribute(Qt::WA_StyledBackground, true);
  auto* page = new QVBoxLayout(this);
  page->setContentsMargins(Scaled(24), Scaled(24), Scaled(24), Scaled(24));
  page->addStretch(2);

  card_widget_ = new QWidget(this);
  card_widget_->setObjectName(QStringLiteral("card_widget"));
  card_widget_->setAttribute(Qt::WA_StyledBackground, true);
  card_widget_->setFixedWidth(Scaled(420));
  auto* card = new QVBoxLayout(card_widget_);
  card->setContentsMargins(Scaled(28), Scaled(28), Scaled(28), Scaled(24));
  card->setSpacing(Scaled(18));

  auto* head = new QHBoxLayout;
  head->setSpacing(Scaled(16));
  headPortrait_lb_ = PlainLabel(QString(), card_widget_, "headPortrait_lb");
  headPortrait_lb_->setAlignment(Qt::AlignCenter);
  name_lb_ = PlainLabel(QString(), card_widget_, "name_lb");
  name_lb_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  name_lb_->installEventFilter(this);
  renameHost_btn_ = new QPushButton(card_widget_);
  renameHost_btn_->setObjectName(QStringLiteral("renameHost_btn"));
  renameHost_btn_->setToolTip(QStringLiteral("修改名称"));
  renameHost_btn_->setCursor(Qt::PointingHandCursor);
  head->addWidget(headPortrait_lb_);
  head->addWidget(name_lb_, 1);
  head->addWidget(renameHost_btn_);
  card->addLayout(head);

  auto* line = new QFrame(card_widget_);
  line->setObjectName(QStringLiteral("line"));
  line->setFrameShape(QFrame::HLine);
  line->setStyleSheet(QStringLiteral("color: #E6E9F0;"));
  card->addWidget(line);

  auto* fields = new QGridLayout;
  fields->setHorizontalSpacing(Scaled(10));
  fields->setVerticalSpacing(Scaled(10));
  struct Field {
    const char* icon;
    const char* caption;
    const char* name;
    QLineEdit** edit;
  };
  const Field kFields[] = {
      {":/image/card-bumen.png", "部门", "section_le", &section_le_},
      {":/image/card-zhiwei.png", "职位", "position_le", &position_le_},
      {":/image/card-phone.png", "电话", "telephone_le", &telephone_le_},
      {":/image/card-mail.png", "邮箱", "email_le", &email_le_},
  };
  int row = 0;
  for (const Field& field : kFields) {
    auto* icon = new QLabel(card_widget_);
    icon->setPixmap(QPixmap(QLatin1String(field.icon))
                        .scaled(Scaled(16), Scaled(16), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    auto* caption = PlainLabel(QString::fromUtf8(field.caption), card_widget_, "caption_lb");
    auto* edit = new QLineEdit(card_widget_);
    edit->setObjectName(QLatin1String(field.name));
    edit->setMaxLength(kMaxFieldLength);
    connect(edit, &QLineEdit::textEdited, this, &BusinessCardWidget::UpdateSaveButton);
    *field.edit = edit;
    fields->addWidget(icon, row, 0);
    fields->addWidget(caption, row, 1);
    fields->addWidget(edit, row, 2);
    ++row;
  }
  fields->setColumnStretch(2, 1);
  card->addLayout(fields);

  auto* actions = new QHBoxLayout;
  actions->addStretch(1);
  sendTo_btn_ = new QPushButton(QStringLiteral("发消息"), card_widget_);
  sendTo_btn_->setObjectName(QStringLiteral("sendTo_btn"));
  saveCard_btn_ = new QPushButton(QStringLiteral("保存"), card_widget_);
  saveCard_btn_->setObjectName(QStringLiteral("saveCard_btn"));
  actions->addWidget(sendTo_btn_);
  actions->addWidget(saveCard_btn_);
  actions->addStretch(1);
  card->addLayout(actions);

  auto* center = new QHBoxLayout;
  center->addStretch(1);
  center->addWidget(card_widget_);
  center->addStretch(1);
  page->addLayout(center);
  page->addStretch(3);

  (new QssManager(this))->Apply(QStringLiteral(":/qss/business_card_widget.css"));

  connect(sendTo_btn_, &QPushButton::clicked, this, &BusinessCardWidget::on_sendTo_btn_clicked);
  connect(saveCard_btn_, &QPushButton::clicked, this, &BusinessCardWidget::on_saveCard_btn_clicked);
  connect(renameHost_btn_, &QPushButton::clicked, this, &BusinessCardWidget::on_renameHost_btn_clicked);
}

BusinessCardWidget::~BusinessCardWidget() = default;

QString BusinessCardWidget::NameText(const BusinessCardInfo& card) {
  if (card.remark.isEmpty()) return card.nickName;
  return QStringLiteral("%1 (%2)").arg(card.nickName, card.remark);
}

QString BusinessCardWidget::CleanField(const QString& typed) {
  QString text;
  text.reserve(typed.size());
  for (const QChar c : typed) {
    if (!c.isSpace()) text += c;
  }
  return text;
}

void BusinessCardWidget::ShowLocalCard() {
  Show(services_ != nullptr ? services_->GetLocalCard() : BusinessCardInfo(), true);
}

void BusinessCardWidget::ShowCard(const BusinessCardInfo& card) { Show(card, false); }

void BusinessCardWidget::UpdateCard(const BusinessCardInfo& card) {
  if (local_ || card.uuid != card_.uuid) return;
  BusinessCardInfo shown = card;
  if (shown.remark.isEmpty()) shown.remark = card_.remark;
  Show(shown, false);
}

void BusinessCardWidget::OnContactNickNameChanged(const QString& uuid, const QString& name) {
  if (local_ || uuid != card_.uuid) return;
  BusinessCardInfo shown = card_;
  shown.remark = name;
  Show(shown, false);
}

void BusinessCardWidget::Show(const BusinessCardInfo& card, bool local) {
  card_ = card;
  local_ = local;
  full_name_ = NameText(card);
  headPortrait_lb_->setText(list_text::Initials(list_text::ShownName(card)));
  ElideName();
  section_le_->setText(card.section);
  position_le_->setText(card.position);
  telephone_le_->setText(card.telephone);
  email_le_->setText(card.email);
  for (QLineEdit* edit : {section_le_, position_le_, telephone_le_, email_le_}) {
    edit->setReadOnly(!local);
    edit->setCursorPosition(0);
  }
  sendTo_btn_->setVisible(!local);
  saveCard_btn_->setVisible(local);
  renameHost_btn_->setVisible(local);
  UpdateSaveButton();
}

void BusinessCardWidget::ElideName() {
  const int width = name_lb_->width();
  if (width <= 0) {
    name_lb_->setText(full_name_);
    return;
  }
  name_lb_->setText(QFontMetrics(name_lb_->font()).elidedText(full_name_, Qt::ElideRight, width));
}

void BusinessCardWidget::UpdateSaveButton() {
  const bool changed = CleanField(section_le_->text()) != card_.section ||
                       CleanField(position_le_->text()) != card_.position ||
                       CleanField(telephone_le_->text()) != card_.telephone ||
                       CleanField(email_le_->text()) != card_.email;
  saveCard_btn_->setEnabled(changed);
}

bool BusinessCardWidget::eventFilter(QObject* watched, QEvent* event) {
  if (watched == name_lb_ && (event->type() == QEvent::Resize || event->type() == QEvent::FontChange)) {
    ElideName();
  }
  return QWidget::eventFilter(watched, event);
}

void BusinessCardWidget::on_sendTo_btn_clicked() { emit Sig_SendMessageTo(card_); }

void BusinessCardWidget::on_saveCard_btn_clicked() {
  if (!local_ || services_ == nullptr) return;
  // Start from the stored card: the name may have changed since it was shown.
  BusinessCardInfo card = services_->GetLocalCard();
  card.email = CleanField(email_le_->text());
  card.position = CleanField(position_le_->text());
  card.telephone = CleanField(telephone_le_->text());
  card.section = CleanField(section_le_->text());
  services_->SetLocalCard(card);
  Show(card, true);
}

void BusinessCardWidget::on_renameHost_btn_clicked() {
  RenameHostDialog::Instance(services_)->OpenForLocalName(card_.nickName);
}

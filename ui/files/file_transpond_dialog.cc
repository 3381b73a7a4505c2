#include "ui/files/file_transpond_dialog.h"

#include <QAction>
#include <QButtonGroup>
#include <QDebug>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/common/dpi_scale.h"
#include "ui/files/contact_select_widget.h"
#include "ui/frameless/qss_manager.h"

namespace {

int Scaled(double pixels) { return static_cast<int>(pixels * DpiScale()); }

QLabel* EmptyLabel(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setAlignment(Qt::AlignCenter);
  label->setObjectName(QStringLiteral("empty_lb"));
  return label;
}

QListWidget* MakeList(const char* name, QWidget* parent) {
  auto* list = new QListWidget(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setFocusPolicy(Qt::NoFocus);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list->setSelectionMode(QAbstractItemView::NoSelection);
  return list;
}

}  // namespace

FileTranspondDialog::FileTranspondDialog(const QString& filePath, const TranspondContacts& contacts,
                                         TranspondFunction transpond, QWidget* parent)
    : frameless::FramelessDialog(parent),
      file_path_(filePath),
      contacts_(contacts),
      transpond_(std::move(transpond)) {
  setObjectName(QStringLiteral("FileTranspondDialog"));
  setWindowTitle(QStringLiteral("转发"));
  setModal(true);
  SetResizable(false);
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);

  title_widget_ = new QWidget(this);
  title_widget_->setObjectName(QStringLiteral("title_widget"));
  title_widget_->setAttribute(Qt::WA_StyledBackground, true);
  auto* title = new QHBoxLayout(title_widget_);
  title->setContentsMargins(Scaled(12), Scaled(4), Scaled(4), Scaled(4));
  auto* title_lb = new QLabel(title_widget_);
  title_lb->setTextFormat(Qt::PlainText);
  title_lb->setText(QStringLiteral("转发文件：") + QFileInfo(filePath).fileName());
  title_lb->setMinimumWidth(1);
  close_btn_ = new QPushButton(title_widget_);
  close_btn_->setObjectName(QStringLiteral("close_btn"));
  close_btn_->setFocusPolicy(Qt::NoFocus);
  close_btn_->setCursor(Qt::PointingHandCursor);
  title->addWidget(title_lb, 1);
  title->addWidget(close_btn_);
  root->addWidget(title_widget_);

  pages_ = new QStackedWidget(this);
  root->addWidget(pages_, 1);

  // The choosing page: lists on the left, the chosen on the right.
  auto* choose = new QWidget(pages_);
  choose->setObjectName(QStringLiteral("choosePage"));
  auto* columns = new QHBoxLayout(choose);
  columns->setContentsMargins(Scaled(12), Scaled(10), Scaled(12), Scaled(12));
  columns->setSpacing(Scaled(12));
  auto* left = new QVBoxLayout();
  auto* tabs = new QHBoxLayout();
  pushButton_last_chat_ = new QPushButton(QStringLiteral("最近聊天"), choose);
  pushButton_last_chat_->setObjectName(QStringLiteral("pushButton_last_chat"));
  pushButton_online_contact_ = new QPushButton(QStringLiteral("在线联系人"), choose);
  pushButton_online_contact_->setObjectName(QStringLiteral("pushButton_online_contact"));
  auto* group = new QButtonGroup(this);
  for (QPushButton* button : {pushButton_last_chat_, pushButton_online_contact_}) {
    button->setCheckable(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    group->addButton(button);
    tabs->addWidget(button);
  }
  tabs->addStretch(1);
  pushButton_last_chat_->setChecked(true);
  left->addLayout(tabs);
  lineEdit_search_ = new QLineEdit(choose);
  lineEdit_search_->setObjectName(QStringLiteral("lineEdit_search"));
  lineEdit_search_->setPlaceholderText(QStringLiteral("搜索联系人"));
  lineEdit_search_->addAction(QIcon(QStringLiteral(":/image/search_normal.png")),
                              QLineEdit::LeadingPosition);
  QAction* clear = lineEdit_search_->addAction(QIcon(QStringLiteral(":/image/search_clear.png")),
                                               QLineEdit::TrailingPosition);
  clear->setVisible(false);
  connect(clear, &QAction::triggered, lineEdit_search_, &QLineEdit::clear);
  connect(lineEdit_search_, &QLineEdit::textChanged, clear,
          [clear](const QString& text) { clear->setVisible(!text.isEmpty()); });
  left->addWidget(lineEdit_search_);
  lists_sw_ = new QStackedWidget(choose);
  listWidget_last_chat_ = MakeList("listWidget_last_chat", lists_sw_);
  lastChatEmpty_lb_ = EmptyLabel(QStringLiteral("无最近联系人"), lists_sw_);
  listWidget_online_contact_ = MakeList("listWidget_online_contact", lists_sw_);
  onlineEmpty_lb_ = EmptyLabel(QStringLiteral("无在线联系人"), lists_sw_);
  lists_sw_->addWidget(listWidget_last_chat_);
  lists_sw_->addWidget(lastChatEmpty_lb_);
  lists_sw_->addWidget(listWidget_online_contact_);
  lists_sw_->addWidget(onlineEmpty_lb_);
  left->addWidget(lists_sw_, 1);
  columns->addLayout(left, 1);

  auto* line = new QFrame(choose);
  line->setFrameShape(QFrame::VLine);
  line->setStyleSheet(QStringLiteral("color: #E2E6EE;"));
  columns->addWidget(line);

  auto* right = new QVBoxLayout();
  auto* to_lb = new QLabel(QStringLiteral("转发给"), choose);
  to_lb->setObjectName(QStringLiteral("label_to"));
  right->addWidget(to_lb);
  listWidget_selected_ = MakeList("listWidget_selected", choose);
  right->addWidget(listWidget_selected_, 1);
  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  pushButton_cancel_ = new QPushButton(QStringLiteral("取消"), choose);
  pushButton_cancel_->setObjectName(QStringLiteral("pushButton_cancel"));
  pushButton_transpond_ = new QPushButton(QStringLiteral("转发"), choose);
  pushButton_transpond_->setObjectName(QStringLiteral("pushButton_transpond"));
  for (QPushButton* button : {pushButton_cancel_, pushButton_transpond_}) {
    button->setCursor(Qt::PointingHandCursor);
    buttons->addWidget(button);
  }
  right->addLayout(buttons);
  columns->addLayout(right, 1);
  pages_->addWidget(choose);

  // The progress page.
  auto* progress = new QWidget(pages_);
  progress->setObjectName(QStringLiteral("progressPage"));
  auto* progressLayout = new QVBoxLayout(progress);
  progressLayout->setContentsMargins(Scaled(40), Scaled(20), Scaled(40), Scaled(20));
  progressLayout->addStretch(1);
  auto* busy = new QLabel(QStringLiteral("正在转发中..."), progress);
  busy->setAlignment(Qt::AlignCenter);
  progressLayout->addWidget(busy);
  progressBar_ = new QProgressBar(progress);
  progressBar_->setTextVisible(false);
  progressLayout->addWidget(progressBar_);
  pushButton_stop_ = new QPushButton(QStringLiteral("中止"), progress);
  pushButton_stop_->setObjectName(QStringLiteral("pushButton_stop"));
  pushButton_stop_->setCursor(Qt::PointingHandCursor);
  progressLayout->addWidget(pushButton_stop_, 0, Qt::AlignHCenter);
  progressLayout->addStretch(1);
  pages_->addWidget(progress);

  connect(close_btn_, &QPushButton::clicked, this, &FileTranspondDialog::reject);
  connect(pushButton_last_chat_, &QPushButton::clicked, this,
          &FileTranspondDialog::on_pushButton_last_chat_clicked);
  connect(pushButton_online_contact_, &QPushButton::clicked, this,
          &FileTranspondDialog::on_pushButton_online_contact_clicked);
  connect(pushButton_cancel_, &QPushButton::clicked, this,
          &FileTranspondDialog::on_pushButton_cancel_clicked);
  connect(pushButton_transpond_, &QPushButton::clicked, this,
          &FileTranspondDialog::on_pushButton_transpond_clicked);
  connect(pushButton_stop_, &QPushButton::clicked, this,
          &FileTranspondDialog::on_pushButton_stop_clicked);
  connect(lineEdit_search_, &QLineEdit::textChanged, this,
          &FileTranspondDialog::on_lineEdit_search_textChanged);
  connect(listWidget_last_chat_, &QListWidget::itemClicked, this,
          &FileTranspondDialog::on_listWidget_last_chat_itemClicked);
  connect(listWidget_online_contact_, &QListWidget::itemClicked, this,
          &FileTranspondDialog::on_listWidget_online_contact_itemClicked);

  (new QssManager(this))->Apply(QStringLiteral(":/qss/file_transpond_dialog.css"));
  resize(Scaled(560), Scaled(420));
  slot_InitChatLists();
  UpdateTranspondButton();
}

QRect FileTranspondDialog::TitleBarRect() const { return title_widget_->geometry(); }

QList<QWidget*> FileTranspondDialog::TitleBarChildren() const { return {close_btn_}; }

ContactSelectWidget* FileTranspondDialog::RowWidget(QListWidget* list, int row) const {
  return qobject_cast<ContactSelectWidget*>(list->itemWidget(list->item(row)));
}

bool FileTranspondDialog::IsOnline(const QString& uuid) const {
  return contacts_.isOnline && contacts_.isOnline(uuid);
}

bool FileTranspondDialog::Matches(const BusinessCardInfo& card) const {
  const QString text = lineEdit_search_->text().trimmed();
  if (text.isEmpty()) return true;
  return card.nickName.contains(text, Qt::CaseInsensitive) ||
         card.remark.contains(text, Qt::CaseInsensitive);
}

void FileTranspondDialog::FillList(QListWidget* list, const QList<BusinessCardInfo>& cards) {
  list->clear();
  for (const BusinessCardInfo& card : cards) {
    auto* item = new QListWidgetItem(list);
    item->setData(kCardRole, QVariant::fromValue(card));
    item->setSizeHint(QSize(0, Scaled(44)));
    auto* row = new ContactSelectWidget(card, IsOnline(card.uuid),
                                        ContactSelectWidget::Mode::kSelect, list);
    row->SetChecked(selected_.contains(card));
    connect(row, &ContactSelectWidget::sig_transpondSelected, this,
            &FileTranspondDialog::slot_UpdateCheckedUuid);
    list->setItemWidget(item, row);
  }
}

void FileTranspondDialog::slot_InitChatLists() {
  QList<BusinessCardInfo> recent;
  for (const BusinessCardInfo& card : contacts_.recentChats) {
    if (Matches(card) && !recent.contains(card)) recent.append(card);
  }
  QList<BusinessCardInfo> online;
  for (const BusinessCardInfo& card : contacts_.contacts) {
    if (Matches(card) && IsOnline(card.uuid) && !online.contains(card)) online.append(card);
  }
  FillList(listWidget_last_chat_, recent);
  FillList(listWidget_online_contact_, online);
  if (pushButton_last_chat_->isChecked())
    on_pushButton_last_chat_clicked();
  else
    on_pushButton_online_contact_clicked();
}

void FileTranspondDialog::SyncChecks(const QString& uuid, bool state) {
  for (QListWidget* list : {listWidget_last_chat_, listWidget_online_contact_}) {
    for (int i = 0; i < list->count(); ++i) {
      ContactSelectWidget* row = RowWidget(list, i);
      if (row && row->Card().uuid == uuid) row->SetChecked(state);
    }
  }
}

void FileTranspondDialog::slot_UpdateCheckedUuid(bool state, BusinessCardInfo card) {
  SyncChecks(card.uuid, state);
  if (state) {
    if (selected_.contains(card)) return;
    selected_.append(card);
    auto* item = new QListWidgetItem(listWidget_selected_);
    item->setData(kCardRole, QVariant::fromValue(card));
    item->setSizeHint(QSize(0, Scaled(40)));
    auto* row = new ContactSelectWidget(card, IsOnline(card.uuid),
                                        ContactSelectWidget::Mode::kSelected, listWidget_selected_);
    connect(row, &ContactSelectWidget::sig_transpondSelected, this,
            &FileTranspondDialog::slot_UpdateCheckedUuid);
    listWidget_selected_->setItemWidget(item, row);
  } else {
    selected_.removeAll(card);
    for (int i = listWidget_selected_->count() - 1; i >= 0; --i) {
      QListWidgetItem* item = listWidget_selected_->item(i);
      if (item->data(kCardRole).value<BusinessCardInfo>().uuid != card.uuid) continue;
      // The view lets the row widget go with deleteLater: its remove button
      // may be the one calling.
      delete listWidget_selected_->takeItem(i);
    }
  }
  UpdateTranspondButton();
}

void FileTranspondDialog::UpdateTranspondButton() {
  pushButton_transpond_->setEnabled(!selected_.isEmpty());
  pushButton_transpond_->setText(selected_.isEmpty()
                                     ? QStringLiteral("转发")
                                     : QStringLiteral("转发(%1)").arg(selected_.size()));
}

void FileTranspondDialog::on_pushButton_last_chat_clicked() {
  pushButton_last_chat_->setChecked(true);
  lists_sw_->setCurrentWidget(listWidget_last_chat_->count() > 0
                                  ? static_cast<QWidget*>(listWidget_last_chat_)
                                  : lastChatEmpty_lb_);
}

void FileTranspondDialog::on_pushButton_online_contact_clicked() {
  pushButton_online_contact_->setChecked(true);
  lists_sw_->setCurrentWidget(listWidget_online_contact_->count() > 0
                                  ? static_cast<QWidget*>(listWidget_online_contact_)
                                  : onlineEmpty_lb_);
}

void FileTranspondDialog::on_pushButton_cancel_clicked() { reject(); }

void FileTranspondDialog::on_pushButton_transpond_clicked() {
  if (selected_.isEmpty()) return;
  pages_->setCurrentIndex(1);
  queue_ = selected_;
  progressBar_->setRange(0, queue_.size());
  progressBar_->setValue(0);
  qDebug() << "[file]:" << file_path_;
  QMetaObject::invokeMethod(this, &FileTranspondDialog::slot_BeginTranspondFile,
                            Qt::QueuedConnection);
}

void FileTranspondDialog::slot_BeginTranspondFile() {
  if (stop_) {
    reject();
    return;
  }
  if (queue_.isEmpty()) {
    accept();
    return;
  }
  const BusinessCardInfo card = queue_.takeFirst();
  if (transpond_) transpond_(file_path_, card);
  progressBar_->setValue(selected_.size() - queue_.size());
  QTimer::singleShot(kPaceMs, this, &FileTranspondDialog::slot_BeginTranspondFile);
}

void FileTranspondDialog::on_lineEdit_search_textChanged(QString) { slot_InitChatLists(); }

void FileTranspondDialog::on_pushButton_stop_clicked() {
  stop_ = true;
  pushButton_stop_->setEnabled(false);
}

void FileTranspondDialog::on_listWidget_last_chat_itemClicked(QListWidgetItem* item) {
  if (auto* row = qobject_cast<ContactSelectWidget*>(listWidget_last_chat_->itemWidget(item)))
    row->Toggle();
}

void FileTranspondDialog::on_listWidget_online_contact_itemClicked(QListWidgetItem* item) {
  if (auto* row = qobject_cast<ContactSelectWidget*>(listWidget_online_contact_->itemWidget(item)))
    row->Toggle();
}

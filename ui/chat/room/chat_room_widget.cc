#include "ui/chat/room/chat_room_widget.h"

#include <QDateTime>
#include <QDebug>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QMimeData>
#include <QResizeEvent>
#include <QScrollBar>
#include <QShowEvent>
#include <QUuid>
#include <QVBoxLayout>

#include "store/chat_database.h"
#include "ui/chat/room/chat_room_row.h"
#include "ui/chat/room/request_popup.h"
#include "ui/common/app_services.h"
#include "ui/common/dpi_scale.h"
#include "ui/files/send_single_file_dialog.h"
#include "ui/frameless/qss_manager.h"

namespace {

const char kShareNotice[] = "对方发起了屏幕共享";
const char kSharing[] = "屏幕共享中";

}  // namespace

ChatRoomWidget::ChatRoomWidget(ChatRoomRow* row, const BusinessCardInfo& card,
                               const ChatRoomServices& services, QWidget* parent)
    : QWidget(parent),
      row_(row),
      card_(card),
      services_(services),
      scale_(services.scale > 0 ? services.scale : DpiScale()) {
  BuildForm();

  chat_room_uuid_ = QUuid::createUuid().toString(QUuid::WithBraces);
  setAcceptDrops(true);
  if (row_) row_->AttachRoom(this);

  name_lb_->setText(ShownName(card_));

  display_.direction = qn::MsgDisplayCtx::kSent;
  display_.senderName = services_.app ? services_.app->GetLocalCard().nickName : QString();
  display_.font = QFont(QStringLiteral("微软雅黑"));
  display_.font.setPointSizeF(10);

  if (services_.sendDialog) {
    connect(services_.sendDialog, &SendSingleFileDialog::Sig_SendFile, this,
            [this](QString fileUrl, ChatRoomWidget* crw) {
              if (crw == this) SendFile(fileUrl);
            });
  }
}

ChatRoomWidget::~ChatRoomWidget() = default;

void ChatRoomWidget::BuildForm() {
  setObjectName(QStringLiteral("ChatRoomWidget"));
  setAttribute(Qt::WA_StyledBackground, true);
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);

  widget_title_ = new QWidget(this);
  widget_title_->setObjectName(QStringLiteral("widget_title"));
  widget_title_->setAttribute(Qt::WA_StyledBackground, true);
  widget_title_->setFixedHeight(static_cast<int>(48 * scale_));
  auto* title = new QHBoxLayout(widget_title_);
  title->setContentsMargins(static_cast<int>(20 * scale_), 0, static_cast<int>(20 * scale_), 0);
  title->setSpacing(static_cast<int>(12 * scale_));
  name_lb_ = new QLabel(widget_title_);
  name_lb_->setObjectName(QStringLiteral("name_lb"));
  // The contact chooses its own nick name: never markup.
  name_lb_->setTextFormat(Qt::PlainText);
  hint_lb_ = new QLabel(widget_title_);
  hint_lb_->setObjectName(QStringLiteral("hint_lb"));
  hint_lb_->setTextFormat(Qt::PlainText);
  hint_lb_->hide();
  title->addWidget(name_lb_);
  title->addWidget(hint_lb_);
  title->addStretch(1);
  root->addWidget(widget_title_);

  auto* line = new QFrame(this);
  line->setObjectName(QStringLiteral("line"));
  line->setFrameShape(QFrame::HLine);
  root->addWidget(line);

  // The request bar floats over the top of the list, so the area has no layout.
  message_form_ = new QWidget(this);
  message_form_->setObjectName(QStringLiteral("messageForm"));
  message_form_->setAttribute(Qt::WA_StyledBackground, true);
  message_form_->installEventFilter(this);
  root->addWidget(message_form_, 1);

  message_lw_ = new QListWidget(message_form_);
  message_lw_->setObjectName(QStringLiteral("message_lw"));
  message_lw_->resize(575, 320);
  message_lw_->setFocusPolicy(Qt::NoFocus);
  message_lw_->setFrameShape(QFrame::NoFrame);
  message_lw_->setSpacing(2);
  message_lw_->setSelectionMode(QAbstractItemView::NoSelection);
  message_lw_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  message_lw_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  message_lw_->verticalScrollBar()->setSingleStep(static_cast<int>(20 * scale_));
  message_lw_->viewport()->installEventFilter(this);

  request_widget_ = new RequestPopup(services_.app, message_form_);
  request_widget_->setGeometry(0, 0, 575, 35);
  request_widget_->hide();
  connect(request_widget_, &RequestPopup::Sig_AcceptedScreenShare, this, [this] {
    SetShareText(QString::fromUtf8(kSharing));
    if (row_) row_->SetHint(QString::fromUtf8(kSharing));
  });

  (new QssManager(this))->Apply(QStringLiteral(":/qss/chat_room_widget.css"));
}

QString ChatRoomWidget::ShownName(const BusinessCardInfo& card) {
  return card.remark.isEmpty() ? card.nickName : card.remark;
}

QString ChatRoomWidget::Now() {
  return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

qn::MsgDisplayCtx ChatRoomWidget::SentDisplay(const QString& time) const {
  qn::MsgDisplayCtx display = display_;
  display.direction = qn::MsgDisplayCtx::kSent;
  display.senderName = services_.app ? services_.app->GetLocalCard().nickName : QString();
  display.userId = services_.app ? services_.app->GetLocalCard().uuid : QString();
  display.msgTime = time;
  return display;
}

qn::MsgDisplayCtx ChatRoomWidget::RecvDisplay(const QString& time) const {
  qn::MsgDisplayCtx display = display_;
  display.direction = qn::MsgDisplayCtx::kReceived;
  display.senderName = ShownName(card_);
  display.userId = card_.uuid;
  display.msgTime = time;
  return display;
}

qn::BubbleEnv ChatRoomWidget::Env() const {
  qn::BubbleEnv env;
  env.services = services_.app;
  env.database = services_.database;
  env.files = services_.files;
  env.peerCard = card_;
  env.chatRoomUuid = chat_room_uuid_;
  env.scale = scale_;
  return env;
}

int ChatRoomWidget::ListWidth() const { return message_lw_->viewport()->width(); }

qn::ItemBase* ChatRoomWidget::Bubble(int row) const {
  QListWidgetItem* item = message_lw_->item(row);
  return item ? qobject_cast<qn::ItemBase*>(message_lw_->itemWidget(item)) : nullptr;
}

void ChatRoomWidget::OnRecvMessage(const QString& content, int kind, const QString& fileName) {
  auto ctx = std::make_unique<qn::MsgRecvCtx>(content, kind);
  const QString time = Now();
  display_ = RecvDisplay(time);
  if (kind == 1) {
    ctx->SetLocalFileName(fileName);
    AddMessage(display_, std::move(ctx));
    if (services_.database)
      services_.database->SaveHistory(chat_room_uuid_, card_.uuid, time, 1, fileName);
  } else if (kind == 0) {
    AddMessage(display_, std::move(ctx));
    if (services_.database)
      services_.database->SaveHistory(chat_room_uuid_, card_.uuid, time, 0, content);
  }
}

void ChatRoomWidget::SendMessage(std::unique_ptr<qn::MsgSendCtx> ctx,
                                 const QStringList& imagePaths) {
  if (ctx) {
    display_ = SentDisplay(Now());
    chat_base::RefPtr<chat::ChatPeer> peer = services_.app ? services_.app->GetChatPeer() : nullptr;
    int64_t seq = qn::MsgCtx::kSendFailed;
    if (peer) {
      seq = peer->SendText(ctx->DisplayText().toUtf8().toStdString(), card_.device.toStdString(),
                           card_.uuid.toStdString());
    }
    // Any refusal of the core (a negative code) leaves the bubble failed.
    ctx->SetSeq(seq < 0 ? qn::MsgCtx::kSendFailed : seq);
    AddMessage(display_, std::move(ctx));
  }
  if (!imagePaths.isEmpty()) {
    QList<QUrl> urls;
    for (const QString& path : imagePaths) urls << QUrl::fromLocalFile(path);
    OnSendFile(urls, true);
  }
}

void ChatRoomWidget::SendFile(const QString& localPath) {
  auto ctx = std::make_unique<qn::MsgSendCtx>(localPath, 1);
  display_ = SentDisplay(Now());
  chat_base::RefPtr<chat::ChatPeer> peer = services_.app ? services_.app->GetChatPeer() : nullptr;
  int64_t seq = qn::MsgCtx::kSendFailed;
  if (peer) {
    seq = peer->SendFile(localPath.toUtf8().toStdString(), card_.device.toStdString(),
                         card_.uuid.toStdString());
  }
  ctx->SetSeq(seq < 0 ? qn::MsgCtx::kSendFailed : seq);
  AddMessage(display_, std::move(ctx));
}

void ChatRoomWidget::OnSendFile(QList<QUrl> urls, bool directSend) {
  // Only files on this machine can be offered; folders and remote URLs are
  // left out rather than sent as something the contact cannot fetch.
  QStringList paths;
  for (const QUrl& url : urls) {
    const QString path = url.toLocalFile();
    if (!path.isEmpty() && QFileInfo(path).isFile()) paths << path;
  }
  if (paths.isEmpty()) return;
  if (urls.size() == 1) {
    if (directSend || !services_.sendDialog)
      SendFile(paths.first());
    else
      services_.sendDialog->ShowFor(ShownName(card_), paths.first(), this);
    return;
  }
  for (const QString& path : paths.mid(0, kMaxFilesPerDrop)) SendFile(path);
}

void ChatRoomWidget::AddMessage(const qn::MsgDisplayCtx& display, std::unique_ptr<qn::MsgCtx> ctx) {
  if (!ctx || (ctx->Kind() != 0 && ctx->Kind() != 1)) {
    OnNeedResize();
    return;
  }
  const bool recv = ctx->IsRecv();
  const QString summary = qn::MsgSummary(*ctx);
  const int width = ListWidth();
  qn::ItemBase* bubble = qn::CreateMsgItem(std::move(ctx), display, Env(), width);
  if (!bubble) return;
  auto* msg = static_cast<qn::MsgItem*>(bubble);
  if (recv) {
    connect(this, &ChatRoomWidget::Sig_NameOrRemarkChanged, msg, &qn::MsgItem::OnSenderNameChanged);
  } else {
    connect(this, &ChatRoomWidget::Sig_SendSucceeded, bubble, &qn::ItemBase::OnSendMessageSucceed);
    connect(this, &ChatRoomWidget::Sig_SendFailed, msg, &qn::MsgItem::OnSendMessageFailed);
    connect(this, &ChatRoomWidget::Sig_LocalNameChanged, msg, &qn::MsgItem::OnSenderNameChanged);
  }

  auto* item = new QListWidgetItem();
  item->setSizeHint(QSize(width, bubble->HeightForWidth(width)));
  message_lw_->addItem(item);
  message_lw_->setItemWidget(item, bubble);
  bubble->SetListItem(item);
  connect(bubble, &qn::ItemBase::sg_update, this, [this] { message_lw_->doItemsLayout(); });
  while (message_lw_->count() > kMaxBubbles) {
    // The view deletes the bubble with its row.
    delete message_lw_->takeItem(0);
  }
  message_lw_->scrollToBottom();

  if (row_) row_->SetLastMessage(summary, display.msgTime);
  OnNeedResize();
}

void ChatRoomWidget::LoadHistory() {
  if (!services_.database) return;
  const QString localUuid = services_.app ? services_.app->GetLocalCard().uuid : QString();
  const QList<ChatHistoryRecord> records =
      services_.database->LoadHistory(chat_room_uuid_, kHistoryLimit);
  for (const ChatHistoryRecord& record : records) {
    std::unique_ptr<qn::MsgCtx> ctx;
    if (record.senderUuid == localUuid) {
      ctx = std::make_unique<qn::MsgSendCtx>(record.content, record.messageType);
      display_ = SentDisplay(record.sendDate);
    } else {
      auto recv = std::make_unique<qn::MsgRecvCtx>(record.content, record.messageType);
      if (record.messageType == 1) recv->SetLocalFileName(record.content);
      ctx = std::move(recv);
      display_ = RecvDisplay(record.sendDate);
    }
    ctx->SetHistory(true);
    AddMessage(display_, std::move(ctx));
  }
}

void ChatRoomWidget::ShowShareNotice(int kind) {
  if (kind != RequestPopup::kShareScreen) return;
  request_widget_->ShowRequest(kind, QString::fromUtf8(kShareNotice));
  FitMessageArea(false);
  if (row_) row_->SetLastMessage(QString::fromUtf8(kShareNotice), Now());
}

void ChatRoomWidget::SetShareText(const QString& text) {
  hint_lb_->setText(text);
  hint_lb_->setVisible(!text.isEmpty());
}

void ChatRoomWidget::SetChatRoomUuid(const QString& uuid) { chat_room_uuid_ = uuid; }

void ChatRoomWidget::OnContactInfoChanged(const BusinessCardInfo& card) {
  const QString oldName = ShownName(card_);
  const QString newName = ShownName(card);
  card_ = card;
  if (oldName != newName) {
    name_lb_->setText(newName);
    emit Sig_NameOrRemarkChanged(newName);
  }
}

bool ChatRoomWidget::IsAtBottom() const {
  const QScrollBar* bar = message_lw_->verticalScrollBar();
  return bar->value() + message_lw_->viewport()->height() >= bar->maximum();
}

void ChatRoomWidget::OnSendMessageSucceed(qlonglong seq) {
  emit Sig_SendSucceeded(seq, chat_room_uuid_, display_.msgTime, card_);
}

void ChatRoomWidget::OnSendMessageFailed(qlonglong seq) { emit Sig_SendFailed(seq); }

void ChatRoomWidget::OnLocalNameChanged(QString name) {
  display_.senderName = name;
  emit Sig_LocalNameChanged(name);
}

void ChatRoomWidget::OnNeedResize() {
  const int value = message_lw_->verticalScrollBar()->value();
  RelayoutBubbles();
  message_lw_->verticalScrollBar()->setValue(value);
}

void ChatRoomWidget::RelayoutBubbles() {
  const int width = ListWidth();
  for (int row = 0; row < message_lw_->count(); ++row) {
    QListWidgetItem* item = message_lw_->item(row);
    qn::ItemBase* bubble = Bubble(row);
    if (!bubble) continue;
    const QSize hint(width, bubble->HeightForWidth(width));
    if (item->sizeHint() != hint) item->setSizeHint(hint);
  }
  laid_out_width_ = width;
  message_lw_->doItemsLayout();
}

void ChatRoomWidget::FitMessageArea(bool keepBottom) {
  const bool atBottom = keepBottom && IsAtBottom();
  request_widget_->setGeometry(0, 0, message_form_->width(), request_widget_->height());
  message_lw_->setGeometry(0, 0, message_form_->width(), message_form_->height());
  if (atBottom) message_lw_->scrollToBottom();
}

void ChatRoomWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FitMessageArea(true);
}

void ChatRoomWidget::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FitMessageArea(false);
}

bool ChatRoomWidget::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize) {
    if (watched == message_form_) {
      FitMessageArea(true);
    } else if (watched == message_lw_->viewport() && ListWidth() != laid_out_width_) {
      // Bubbles follow the list's width (a scroll bar that comes or goes
      // changes it too).
      const bool atBottom = IsAtBottom();
      RelayoutBubbles();
      if (atBottom) message_lw_->scrollToBottom();
    }
  }
  return QWidget::eventFilter(watched, event);
}

void ChatRoomWidget::dragEnterEvent(QDragEnterEvent* event) {
  qDebug() << "ssssssdragEnterEventdragEnterEventssss";
  if (event->mimeData()->hasUrls())
    event->acceptProposedAction();
  else
    event->ignore();
}

void ChatRoomWidget::dragMoveEvent(QDragMoveEvent* event) {
  if (event->mimeData()->hasUrls())
    event->acceptProposedAction();
  else
    event->ignore();
}

void ChatRoomWidget::dropEvent(QDropEvent* event) {
  if (!event->mimeData()->hasUrls()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  OnSendFile(event->mimeData()->urls(), false);
}

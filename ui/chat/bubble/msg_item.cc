#include "ui/chat/bubble/msg_item.h"

#include <QContextMenuEvent>
#include <QDebug>
#include <QDesktopServices>
#include <QFileInfo>
#include <QImageReader>
#include <QListWidgetItem>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QThreadPool>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "base/log.h"
#include "store/chat_database.h"
#include "ui/chat/input/message_sanitizer.h"
#include "ui/common/app_services.h"
#include "ui/files/file_mgr.h"
#include "ui/files/file_type.h"

namespace qn {

namespace {

constexpr int kProgressRepaintMs = 100;
// Pictures larger than this are shown with the generic icon: their
// thumbnail would cost the GUI thread too much.
constexpr qint64 kMaxThumbnailPixels = 40LL * 1000 * 1000;
constexpr qint64 kMaxThumbnailBytes = 40LL * 1024 * 1024;

const QColor kNameColor(0xB1, 0xB5, 0xBB);
const QColor kInitialsColor(0x67, 0x8B, 0xF1);
const QColor kAccent(0x67, 0x8B, 0xF1);

QString LocalUuid(const BubbleEnv& env) {
  return env.services ? env.services->GetLocalCard().uuid : QString();
}

// The picture itself, small, for a picture file; null when it is not one we
// can read cheaply.
QImage Thumbnail(const QString& path, const QSize& box) {
  const QFileInfo info(path);
  if (!info.isFile() || info.size() > kMaxThumbnailBytes) return QImage();
  QImageReader reader(path);
  reader.setAutoTransform(true);
  const QSize size = reader.size();
  if (!size.isValid() || static_cast<qint64>(size.width()) * size.height() > kMaxThumbnailPixels)
    return QImage();
  reader.setScaledSize(size.scaled(box, Qt::KeepAspectRatio));
  return reader.read();
}

}  // namespace

// ---------------------------------------------------------------------------

ChatLabel::ChatLabel(QWidget* parent) : QTextBrowser(parent) {
  setStyleSheet(QStringLiteral("QTextBrowser{background:transparent;}"));
  setFrameShape(QFrame::NoFrame);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setOpenLinks(false);
  setOpenExternalLinks(false);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
  setContextMenuPolicy(Qt::DefaultContextMenu);
  setFocusPolicy(Qt::NoFocus);
  viewport()->setAutoFillBackground(false);
  setContentsMargins(0, 0, 0, 0);
  setViewportMargins(0, 0, 0, 0);
  connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, &ChatLabel::slot_rangeChange);
}

void ChatLabel::slot_animate(int) { viewport()->update(); }

void ChatLabel::slot_rangeChange(int, int max) {
  if (max > 0) emit sg_update(max);
}

void HistLabel::mousePressEvent(QMouseEvent* event) {
  emit sg_clicked(event, this);
  QLabel::mousePressEvent(event);
}

// ---------------------------------------------------------------------------

ItemBase::ItemBase(std::unique_ptr<MsgData> data, const BubbleEnv& env, QWidget* parent)
    : QWidget(parent), data_(std::move(data)), env_(env) {}

ItemBase::~ItemBase() = default;

void ItemBase::DataChanged() {
  data_->Layout(width());
  UpdateSizeHint();
  update();
}

int ItemBase::HeightForWidth(int width) { return data_->Layout(width); }

void ItemBase::UpdateSizeHint() {
  if (!list_item_) return;
  const int height = HeightForWidth(width());
  if (list_item_->sizeHint().height() != height) {
    list_item_->setSizeHint(QSize(list_item_->sizeHint().width(), height));
    emit sg_update();
  }
}

void ItemBase::slot_remove() { emit sg_remove(this); }

void ItemBase::OnSendMessageSucceed(qint64, QString, QString, BusinessCardInfo) {}

void ItemBase::contextMenuEvent(QContextMenuEvent* event) {
  qDebug() << "popup menu pos: " << event->pos();
}

// ---------------------------------------------------------------------------

MsgItem::MsgItem(std::unique_ptr<MsgData> data, const BubbleEnv& env, QWidget* parent)
    : ItemBase(std::move(data), env, parent) {
  if (data_->ctx->Seq() == MsgCtx::kSendFailed) send_state_ = kSendFailed;
  setMouseTracking(true);
  setAttribute(Qt::WA_TranslucentBackground, false);
}

void MsgItem::OnSendMessageFailed(qint64 seq) {
  if (!data_->IsSent() || seq != data_->ctx->Seq() || history_written_) return;
  send_state_ = kSendFailed;
  update();
}

void MsgItem::OnSenderNameChanged(QString name) {
  if (name == data_->senderName) return;
  data_->senderName = name;
  DataChanged();
}

bool MsgItem::SkipSucceed(qint64 seq) const {
  return !data_->IsSent() || history_written_ || seq != data_->ctx->Seq() || seq < 0;
}

void MsgItem::mousePressEvent(QMouseEvent* event) {
  if (data_->avatarRect.contains(event->pos()))
    emit sg_head_clicked(event, data_->userId);
  else
    emit sg_item_clicked(event, this);
  QWidget::mousePressEvent(event);
}

void MsgItem::mouseMoveEvent(QMouseEvent* event) {
  setCursor(data_->avatarRect.contains(event->pos()) ? Qt::PointingHandCursor : Qt::ArrowCursor);
  QWidget::mouseMoveEvent(event);
}

void MsgItem::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  data_->Layout(width());
  PlaceChildren();
}

void MsgItem::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
  const MsgData& d = *data_;

  painter.drawImage(d.avatarRect, d.avatar);
  QFont initials(QStringLiteral("Microsoft Yahei"));
  initials.setPointSizeF(9);
  painter.setFont(initials);
  painter.setPen(kInitialsColor);
  painter.drawText(d.avatarRect, Qt::AlignCenter, MsgData::AvatarText(d.senderName));

  painter.setFont(d.font);
  painter.setPen(kNameColor);
  const QFontMetrics metrics(d.font);
  const Qt::Alignment side = d.IsSent() ? Qt::AlignRight : Qt::AlignLeft;
  painter.drawText(d.nameRect, side | Qt::AlignVCenter,
                   metrics.elidedText(d.NameLine(), Qt::ElideRight, d.nameRect.width()));

  d.Background().Draw(&painter, d.bubbleRect, d.scale);
  PaintContent(&painter);

  if (d.IsSent() && send_state_ == kSendFailed) {
    const QPixmap icon(failure_icon_);
    if (!icon.isNull()) painter.drawPixmap(d.failureRect, icon);
  }
}

// ---------------------------------------------------------------------------

TextItem::TextItem(std::unique_ptr<TextData> data, const BubbleEnv& env, QWidget* parent)
    : MsgItem(std::move(data), env, parent) {
  label_ = new ChatLabel(this);
  label_->setDocument(Text()->MakeViewDocument(label_));
  // The label's own layout must not differ from the one that sized the bubble.
  label_->setLineWrapMode(QTextEdit::FixedPixelWidth);
  QPalette palette = label_->palette();
  palette.setColor(QPalette::Text, data_->textColor);
  label_->setPalette(palette);
  label_->viewport()->installEventFilter(this);
  label_->installEventFilter(this);
  connect(label_, &QTextBrowser::anchorClicked, this,
          static_cast<void (TextItem::*)(const QUrl&)>(&TextItem::slot_anchorClicked));
  connect(label_, &ChatLabel::sg_update, this, &TextItem::slot_update);
}

TextItem::~TextItem() = default;

void TextItem::DataChanged() {
  Text()->Refresh();
  QTextDocument* old = label_->document();
  label_->setDocument(Text()->MakeViewDocument(label_));
  delete old;
  MsgItem::DataChanged();
  PlaceChildren();
}

int TextItem::HeightForWidth(int width) { return data_->Layout(width); }

void TextItem::PlaceChildren() {
  label_->setLineWrapColumnOrWidth(data_->contentRect.width());
  label_->setGeometry(data_->contentRect);
}

void TextItem::OnSendMessageSucceed(qint64 seq, QString chatRoomUuid, QString sendDate,
                                    BusinessCardInfo) {
  if (SkipSucceed(seq)) return;
  history_written_ = true;
  send_state_ = kSendNormal;
  // The bubble's own time, so reloaded history keeps the order the user saw.
  const QString date = data_->msgTime.isEmpty() ? sendDate : data_->msgTime;
  if (env_.database)
    env_.database->SaveHistory(chatRoomUuid, LocalUuid(env_), date, 0, data_->ctx->DisplayText());
  update();
}

void TextItem::slot_anchorClicked(QString url) {
  const QString lower = url.trimmed().toLower();
  if (lower.startsWith(QLatin1String("http://")) || lower.startsWith(QLatin1String("www")) ||
      lower.startsWith(QLatin1String("https://"))) {
    const QUrl target = NormalizeLink(url.trimmed());
    if (IsOpenableLink(target)) QDesktopServices::openUrl(target);
    return;
  }
  if (lower.endsWith(QLatin1String(".png")) || lower.endsWith(QLatin1String(".jpg")) ||
      lower.endsWith(QLatin1String(".jpeg"))) {
    emit sg_image(url);
  }
}

void TextItem::slot_anchorClicked(const QUrl& url) {
  slot_anchorClicked(url.toString(QUrl::FullyEncoded));
}

void TextItem::slot_update() {
  data_->Layout(width());
  PlaceChildren();
  UpdateSizeHint();
  update();
}

void TextItem::slot_selectAll() { label_->selectAll(); }

bool TextItem::eventFilter(QObject* watched, QEvent* event) {
  // The list scrolls, not the text: a wheel over a bubble goes to the list.
  if (event->type() == QEvent::Wheel && parentWidget()) {
    QCoreApplication::sendEvent(parentWidget(), event);
    return true;
  }
  return MsgItem::eventFilter(watched, event);
}

void TextItem::mousePressEvent(QMouseEvent* event) { MsgItem::mousePressEvent(event); }

void TextItem::mouseMoveEvent(QMouseEvent* event) { MsgItem::mouseMoveEvent(event); }

void TextItem::paintEvent(QPaintEvent* event) { MsgItem::paintEvent(event); }

void TextItem::resizeEvent(QResizeEvent* event) { MsgItem::resizeEvent(event); }

// ---------------------------------------------------------------------------

FileItem::FileItem(std::unique_ptr<FileData> data, const BubbleEnv& env, QWidget* parent)
    : MsgItem(std::move(data), env, parent) {
  FileData* file = File();
  const MsgCtx& ctx = *file->ctx;
  if (!ctx.IsRecv()) {
    file->localPath = QFileInfo(ctx.Content()).absoluteFilePath();
    const QFileInfo info(file->localPath);
    file->state = info.isFile() ? FileData::State::kSent : FileData::State::kMissing;
    file->sizeText = FileSizeText(info.size());
  } else {
    file->url = ctx.Content();
    const auto& recv = static_cast<const MsgRecvCtx&>(ctx);
    // The name comes from the peer or the database: one plain component, so
    // the file always lands inside the save directory.
    const QString dir = env_.files ? env_.files->SavePath() : QString();
    const QString name = SafeFileNameComponent(recv.LocalFileName());
    file->localPath = dir.isEmpty() ? QString() : QFileInfo(dir + QLatin1Char('/') + name).absoluteFilePath();
    if (ctx.IsHistory()) {
      const QFileInfo info(file->localPath);
      if (!file->localPath.isEmpty() && info.isFile() && info.size() > 0) {
        file->state = FileData::State::kDone;
        file->sizeText = FileSizeText(info.size());
      } else {
        file->state = FileData::State::kMissing;
      }
    } else if (file->localPath.isEmpty()) {
      file->state = FileData::State::kFailed;
    } else {
      StartDownload();
    }
  }
  RefreshIcon();
  connect(this, &FileItem::Sig_DownLoadFileResult, this, &FileItem::OnDownLoadFileResult);
  progress_timer_.setInterval(kProgressRepaintMs);
  connect(&progress_timer_, &QTimer::timeout, this, &FileItem::Repaint);
  if (file->state == FileData::State::kDownloading) progress_timer_.start();
}

FileItem::~FileItem() {
  if (job_) {
    // After this no result is posted to us, and the transfer stops at its
    // next piece of data.
    std::lock_guard<std::mutex> lock(job_->deliver_lock);
    job_->cancelled.store(true);
  }
}

int FileItem::HeightForWidth(int width) { return data_->Layout(width); }

void FileItem::StartDownload() {
  FileData* file = File();
  job_ = std::make_shared<DownloadJob>();
  file->job = job_;
  file->state = FileData::State::kDownloading;
  std::shared_ptr<DownloadJob> job = job_;
  const QString url = file->url;
  const QString path = file->localPath;
  FileItem* self = this;
  QThreadPool::globalInstance()->start([job, url, path, self] {
    const DownloadResult result = DownloadToFile(url, path, job.get());
    if (result.status != 200) {
      LogMessage(kLogWarning, "download file \"%s\" failed. QNResponse.body(Reason):%s",
                 path.toUtf8().constData(), result.reason.toUtf8().constData());
    }
    std::lock_guard<std::mutex> lock(job->deliver_lock);
    if (job->cancelled.load()) return;
    QMetaObject::invokeMethod(
        self,
        [self, result] {
          self->downloaded_path_ = result.path;
          emit self->Sig_DownLoadFileResult(result.status);
        },
        Qt::QueuedConnection);
  });
}

void FileItem::OnDownLoadFileResult(int res) {
  qDebug() << "文件下载结果：" << (res == 200);
  progress_timer_.stop();
  FileData* file = File();
  file->job.reset();
  if (res == 200) {
    if (!downloaded_path_.isEmpty()) file->localPath = downloaded_path_;
    file->state = FileData::State::kDone;
    file->sizeText = FileSizeText(QFileInfo(file->localPath).size());
    if (env_.database) {
      env_.database->SaveFileRecord(file->localPath, env_.peerCard.uuid, file->msgTime,
                                    env_.peerCard.uuid);
    }
  } else {
    file->state = FileData::State::kFailed;
  }
  RefreshIcon();
  DataChanged();
}

void FileItem::RefreshIcon() {
  FileData* file = File();
  const int size = file->iconRect.isEmpty() ? static_cast<int>(40 * file->scale)
                                            : file->iconRect.width();
  icon_width_ = file->iconRect.width();
  if (file->state == FileData::State::kFailed || file->state == FileData::State::kMissing) {
    file->iconPath = QStringLiteral(":/image/file_type/other.png");
    icon_ = QImage(file->iconPath);
    return;
  }
  const int type = FileTypeOfSuffix(QFileInfo(file->FileName()).suffix());
  file->iconPath = FileTypeIcon(type);
  icon_ = QImage();
  if (type == 3 && file->state != FileData::State::kDownloading) {
    // A device pixel ratio of 2 keeps the thumbnail sharp at any scale.
    icon_ = Thumbnail(file->localPath, QSize(size, size) * 2);
  }
  if (icon_.isNull()) icon_ = QImage(file->iconPath);
}

void FileItem::OnSendMessageSucceed(qint64 seq, QString chatRoomUuid, QString sendDate,
                                    BusinessCardInfo chatCard) {
  if (SkipSucceed(seq)) return;
  history_written_ = true;
  send_state_ = kSendNormal;
  const QString date = data_->msgTime.isEmpty() ? sendDate : data_->msgTime;
  const QString local = LocalUuid(env_);
  if (env_.database) {
    env_.database->SaveHistory(chatRoomUuid, local, date, 1, File()->localPath);
    env_.database->SaveFileRecord(File()->localPath, local, date, chatCard.uuid);
  }
  update();
}

void FileItem::slot_anchorClicked(const QUrl&) {
  if (!File()->CanOpen()) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(File()->localPath));
}

void FileItem::slot_update() { DataChanged(); }

void FileItem::Repaint() {
  const int percent = static_cast<int>(std::floor(File()->Progress() * 100));
  if (percent == shown_percent_) return;
  shown_percent_ = percent;
  update();
}

void FileItem::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && data_->bubbleRect.contains(event->pos())) {
    slot_anchorClicked(QUrl());
  }
  MsgItem::mousePressEvent(event);
}

void FileItem::mouseMoveEvent(QMouseEvent* event) {
  MsgItem::mouseMoveEvent(event);
  if (data_->bubbleRect.contains(event->pos()) && File()->CanOpen()) setCursor(Qt::PointingHandCursor);
}

void FileItem::paintEvent(QPaintEvent* event) { MsgItem::paintEvent(event); }

void FileItem::resizeEvent(QResizeEvent* event) {
  MsgItem::resizeEvent(event);
  // A picture's thumbnail is read again only when the icon's size changed.
  if (File()->iconRect.width() != icon_width_) RefreshIcon();
}

void FileItem::PaintContent(QPainter* painter) {
  const FileData& f = *File();
  if (!icon_.isNull()) {
    const QSize fitted = icon_.size().scaled(f.iconRect.size(), Qt::KeepAspectRatio);
    const QRect target(f.iconRect.left() + (f.iconRect.width() - fitted.width()) / 2,
                       f.iconRect.top() + (f.iconRect.height() - fitted.height()) / 2,
                       fitted.width(), fitted.height());
    painter->drawImage(target, icon_);
  }
  painter->setFont(f.font);
  painter->setPen(f.textColor);
  const QFontMetrics metrics(f.font);
  const QStringList lines = f.FileNameLines();
  for (int i = 0; i < lines.size(); ++i) {
    const QRect line(f.fileNameRect.left(), f.fileNameRect.top() + i * metrics.height(),
                     f.fileNameRect.width(), metrics.height());
    painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter, lines[i]);
  }
  QColor muted = f.IsSent() ? QColor(255, 255, 255, 200) : QColor(0x8A, 0x90, 0x99);
  if (f.state == FileData::State::kFailed || f.state == FileData::State::kMissing)
    muted = f.IsSent() ? QColor(255, 226, 222) : QColor(229, 87, 76);
  painter->setPen(muted);
  painter->drawText(f.statusRect, Qt::AlignLeft | Qt::AlignVCenter,
                    metrics.elidedText(f.StatusText(), Qt::ElideRight, f.statusRect.width()));

  if (!f.progressRect.isEmpty()) {
    const qreal radius = f.progressRect.height() / 2.0;
    painter->setPen(Qt::NoPen);
    painter->setBrush(f.IsSent() ? QColor(255, 255, 255, 90) : QColor(0xE6, 0xEB, 0xF5));
    painter->drawRoundedRect(f.progressRect, radius, radius);
    const int done = static_cast<int>(std::round(f.progressRect.width() * f.Progress()));
    if (done > 0) {
      painter->setBrush(f.IsSent() ? QColor(Qt::white) : kAccent);
      painter->drawRoundedRect(QRect(f.progressRect.left(), f.progressRect.top(), done,
                                     f.progressRect.height()),
                               radius, radius);
    }
    painter->setBrush(Qt::NoBrush);
  }
}

// ---------------------------------------------------------------------------

ItemBase* CreateMsgItem(std::unique_ptr<MsgCtx> ctx, const MsgDisplayCtx& display,
                        const BubbleEnv& env, int width, QWidget* parent) {
  if (!ctx) return nullptr;
  ItemBase* item = nullptr;
  const double scale = env.scale;
  if (ctx->Kind() == 0) {
    auto data = std::make_unique<TextData>(std::move(ctx), display, scale);
    data->Prepare();
    item = new TextItem(std::move(data), env, parent);
  } else if (ctx->Kind() == 1) {
    auto data = std::make_unique<FileData>(std::move(ctx), display, scale);
    data->Prepare();
    item = new FileItem(std::move(data), env, parent);
  } else {
    return nullptr;
  }
  item->resize(width, item->HeightForWidth(width));
  return item;
}

QString MsgSummary(const MsgCtx& ctx) {
  if (ctx.Kind() == 1) return QStringLiteral("[文件]：") + ctx.DisplayText();
  return ctx.DisplayText();
}

}  // namespace qn

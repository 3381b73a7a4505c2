// The bubble widgets of a conversation: one per message, inside the room's
// message list. A bubble draws its MsgData (avatar, name line, background,
// failure icon), keeps the send state of a sent message, writes the history
// row once the chat core confirms delivery, and a received file fetches
// itself. GUI thread only; a download runs on Qt's global thread pool.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QString>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "store/business_card_info.h"
#include "ui/chat/bubble/file_download.h"
#include "ui/chat/bubble/msg_data.h"

class AppServices;
class ChatDatabase;
class FileMgr;
class QListWidgetItem;

namespace qn {

// What bubbles need from the program; none of it is owned, all of it
// outlives the bubbles.
struct BubbleEnv {
  AppServices* services = nullptr;  // the local card (uuid, nick name)
  ChatDatabase* database = nullptr;  // history rows and file records
  FileMgr* files = nullptr;          // the save directory
  BusinessCardInfo peerCard;         // the room's contact
  QString chatRoomUuid;
  double scale = 1.0;  // DpiScale() in the program
};

// Shows a message's content. Links never open by themselves: the bubble
// decides on anchorClicked.
class ChatLabel : public QTextBrowser {
  Q_OBJECT

 public:
  explicit ChatLabel(QWidget* parent = nullptr);

 signals:
  void sg_update(int max);

 public slots:
  // Repaints for each frame of an animated image.
  void slot_animate(int frame);
  // Connected to the vertical scroll bar: the content no longer fits.
  void slot_rangeChange(int min, int max);
};

// A label for the history search (rich text built by TextData::MakeHistLabel).
class HistLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;

 signals:
  void sg_clicked(QMouseEvent* event, QWidget* item);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
};

class ItemBase : public QWidget {
  Q_OBJECT

 public:
  ItemBase(std::unique_ptr<MsgData> data, const BubbleEnv& env, QWidget* parent = nullptr);
  ~ItemBase() override;

  // The model changed (sender name, state); lays out again and repaints.
  virtual void DataChanged();
  // The bubble's height when it is width pixels wide.
  virtual int HeightForWidth(int width);

  MsgData* Data() const { return data_.get(); }
  const BubbleEnv& Env() const { return env_; }
  // The list item that carries the bubble; its size hint follows the bubble.
  void SetListItem(QListWidgetItem* item) { list_item_ = item; }
  QListWidgetItem* ListItem() const { return list_item_; }

 signals:
  void sg_image(QString url);
  void sg_update();
  void sg_remove(qn::ItemBase* item);
  void sg_head_clicked(QMouseEvent* event, QString userId);
  void sg_item_clicked(QMouseEvent* event, QWidget* item);

 public slots:
  void slot_remove();
  // Writes the history of a confirmed send; acts only on this bubble's seq.
  virtual void OnSendMessageSucceed(qint64 seq, QString chatRoomUuid, QString sendDate,
                                    BusinessCardInfo chatCard);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  // Gives the list item the height for the current width.
  void UpdateSizeHint();

  std::unique_ptr<MsgData> data_;
  BubbleEnv env_;
  QListWidgetItem* list_item_ = nullptr;
};

class MsgItem : public ItemBase {
  Q_OBJECT

 public:
  static constexpr int kSendFailed = 0;
  static constexpr int kSendNormal = 1;

  MsgItem(std::unique_ptr<MsgData> data, const BubbleEnv& env, QWidget* parent = nullptr);

  int SendState() const { return send_state_; }
  bool HistoryWritten() const { return history_written_; }

 public slots:
  // Marks the bubble failed when seq is its own.
  void OnSendMessageFailed(qint64 seq);
  // A new sender name (the contact's remark, or the local nick name).
  void OnSenderNameChanged(QString name);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // Called after a layout at the widget's width, for child placement.
  virtual void PlaceChildren() {}
  // Paints what sits inside the bubble (text bubbles use a child instead).
  virtual void PaintContent(QPainter* painter) { (void)painter; }
  // True (and writes nothing) when the history was already written or seq
  // is not this bubble's.
  bool SkipSucceed(qint64 seq) const;

  int send_state_ = kSendNormal;
  bool history_written_ = false;
  QString failure_icon_ = QStringLiteral(":/image/sendMessageFailed_normal.png");
};

class TextItem : public MsgItem {
  Q_OBJECT

 public:
  TextItem(std::unique_ptr<TextData> data, const BubbleEnv& env, QWidget* parent = nullptr);
  ~TextItem() override;

  TextData* Text() const { return static_cast<TextData*>(data_.get()); }
  ChatLabel* Label() const { return label_; }
  void DataChanged() override;
  int HeightForWidth(int width) override;

 public slots:
  void OnSendMessageSucceed(qint64 seq, QString chatRoomUuid, QString sendDate,
                            BusinessCardInfo chatCard) override;
  void slot_anchorClicked(QString url);
  void slot_anchorClicked(const QUrl& url);
  void slot_update();
  void slot_selectAll();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void PlaceChildren() override;

 private:
  ChatLabel* label_ = nullptr;
};

class FileItem : public MsgItem {
  Q_OBJECT

 public:
  // Starts the download of a new received offer right away.
  FileItem(std::unique_ptr<FileData> data, const BubbleEnv& env, QWidget* parent = nullptr);
  ~FileItem() override;

  FileData* File() const { return static_cast<FileData*>(data_.get()); }
  int HeightForWidth(int width) override;

 signals:
  void Sig_DownLoadFileResult(int res);

 public slots:
  void OnSendMessageSucceed(qint64 seq, QString chatRoomUuid, QString sendDate,
                            BusinessCardInfo chatCard) override;
  // Opens the file with the desktop's program for it (url is ignored).
  void slot_anchorClicked(const QUrl& url);
  void slot_update();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void PaintContent(QPainter* painter) override;

 private slots:
  void OnDownLoadFileResult(int res);

 private:
  void StartDownload();
  void RefreshIcon();
  void Repaint();

  std::shared_ptr<DownloadJob> job_;
  QString downloaded_path_;  // where the worker put the file
  QTimer progress_timer_;
  int shown_percent_ = -1;
  QImage icon_;
  int icon_width_ = -1;  // iconRect's width when icon_ was made
};

// Makes the bubble for a text (kind 0) or file (kind 1) context, prepared and
// laid out for width; null for other kinds. A sent context with seq -1 starts
// failed.
ItemBase* CreateMsgItem(std::unique_ptr<MsgCtx> ctx, const MsgDisplayCtx& display,
                        const BubbleEnv& env, int width, QWidget* parent = nullptr);

// What the conversation row shows for the message: the display text, or
// "[文件]：" and the file name.
QString MsgSummary(const MsgCtx& ctx);

}  // namespace qn

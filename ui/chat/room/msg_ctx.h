// The records that carry one message from the room to its bubble: what was
// sent or received (MsgCtx and its two kinds) and how the room wants it shown
// (MsgDisplayCtx). Plain values without widgets; GUI thread.
#pragma once

#include <QFont>
#include <QList>
#include <QString>
#include <cstdint>

namespace qn {

// An image that travelled with a text: the name the peer knows it by, the
// name used inside the text, the local file and its pixel size (-1 when the
// file does not load as an image).
struct MsgImage {
  QString name;
  QString secondName;
  QString localPath;
  int width = -1;
  int height = -1;
};

// One message. kind 0 is a text (content in the message text format), kind 1
// a file (content is the local path when sent, the sender's URL when
// received); kinds above 1 are notices and never become bubbles.
class MsgCtx {
 public:
  static constexpr int64_t kNeverSent = -99;  // received and history messages
  static constexpr int64_t kSendFailed = -1;  // the send call refused at once

  MsgCtx(const QString& content, int kind);
  virtual ~MsgCtx() = default;

  virtual bool IsRecv() const = 0;
  // What the conversation row shows and what history stores for a text.
  virtual QString DisplayText() const = 0;
  // The content with each image's quoted second name turned into its quoted name.
  virtual QString ReplacedContent() const;
  virtual QString Id() const { return id_; }
  virtual QList<MsgImage> Images() const { return images_; }

  // Adds the image when both names hold a braced uuid and the file exists.
  bool AddImage(const QString& name, const QString& secondName, const QString& localPath);

  const QString& Content() const { return content_; }
  int Kind() const { return kind_; }
  int64_t Seq() const { return seq_; }
  void SetSeq(int64_t seq) { seq_ = seq; }
  bool IsHistory() const { return history_; }
  void SetHistory(bool history) { history_ = history; }

 protected:
  QString content_;
  QString id_;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case
  QList<MsgImage> images_;
  int kind_ = 0;
  int64_t seq_ = kNeverSent;
  bool history_ = false;
};

// A message the local user sent.
class MsgSendCtx : public MsgCtx {
 public:
  using MsgCtx::MsgCtx;
  bool IsRecv() const override { return false; }
  // Text: the content; file: the file name of the local path.
  QString DisplayText() const override;
};

// A message from the contact.
class MsgRecvCtx : public MsgCtx {
 public:
  using MsgCtx::MsgCtx;
  bool IsRecv() const override { return true; }
  // Text: the content; file: the local file name.
  QString DisplayText() const override;

  // Name of the received file inside the save directory (kind 1 only).
  const QString& LocalFileName() const { return localFileName_; }
  void SetLocalFileName(const QString& name) { localFileName_ = name; }

 private:
  QString localFileName_;
};

// How the room wants its next bubble drawn; copied into every bubble.
struct MsgDisplayCtx {
  static constexpr int kReceived = 0;
  static constexpr int kSent = 2;

  int direction = kSent;
  QString senderName;  // contact's shown name, or the local nick name
  QString maskImage = QStringLiteral(":/image/chat/user_mask_icon.png");
  QString recvBubbleImage = QStringLiteral(":/image/chat/chat_left.png");
  QString sendBubbleImage = QStringLiteral(":/image/chat/chat_right.png");
  QString headUrl;  // unused: avatars are drawn from the name
  QString userId;   // reported with sg_head_clicked
  QString msgTime;  // "yyyy-MM-dd hh:mm:ss"
  QFont font;
};

}  // namespace qn

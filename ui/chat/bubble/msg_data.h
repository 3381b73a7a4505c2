// The view model of one message bubble: what it shows and where each part
// goes for a given width. Plain classes over a MsgCtx; they own no widgets, so
// layout and state can be checked without a screen. GUI thread (fonts and
// text documents).
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <memory>

#include "ui/chat/bubble/file_download.h"
#include "ui/chat/bubble/nine_image.h"
#include "ui/chat/room/msg_ctx.h"

class QObject;
class QTextDocument;
class QLabel;
class QWidget;

namespace qn {

class DataBase {
 public:
  virtual ~DataBase() = default;
  // Places every part for a bubble widget of the given width; returns the
  // widget's height for that width.
  virtual int Layout(int width) = 0;
};

class MsgData : public DataBase {
 public:
  static constexpr int kSideRecv = 1;
  static constexpr int kSideSent = 3;

  // scale is the interface's DPI factor (DpiScale() in the program).
  MsgData(std::unique_ptr<MsgCtx> ctx, const MsgDisplayCtx& display, double scale);
  ~MsgData() override;

  // Loads the two nine-patch backgrounds, takes the inner margins from their
  // content rectangle and draws the avatar image.
  void Prepare();
  int Layout(int width) override;

  bool IsSent() const { return side == kSideSent; }
  // Sender name and the message time as the name line shows them.
  QString NameLine() const;
  // The last two characters of the name, or all of it when shorter.
  static QString AvatarText(const QString& name);
  // The background for this side.
  const NineImage& Background() const { return IsSent() ? sendBackground : recvBackground; }
  // The widest a bubble may be in a widget of width.
  int MaxBubbleWidth(int width) const;

  std::unique_ptr<MsgCtx> ctx;
  int side = kSideSent;
  QString senderName;
  QString userId;
  QString maskImage;
  QString recvImage;
  QString sendImage;
  QString msgTime;  // "yyyy-MM-dd hh:mm:ss"
  QFont font;
  QColor textColor;
  double scale = 1.0;
  int avatarSize = 40;
  int spacing = 8;
  QMargins bubbleMargins;  // between the bubble's edge and its content
  int failureIconSize = 16;

  QRect avatarRect;
  QRect nameRect;
  QRect bubbleRect;
  QRect contentRect;
  QRect failureRect;  // beside a sent bubble; drawn only in the failed state
  NineImage recvBackground;
  NineImage sendBackground;
  QImage avatar;

 protected:
  // The content's size when it may be at most maxWidth wide.
  virtual QSize ContentSize(int maxWidth) = 0;
  // Called once the content rectangle is known.
  virtual void PlaceContent() {}
};

// A text message. The content is rebuilt by the message sanitizer and shown
// from a document that loads nothing but the emoji faces.
class TextData : public MsgData {
 public:
  TextData(std::unique_ptr<MsgCtx> ctx, const MsgDisplayCtx& display, double scale);
  ~TextData() override;

  // The sanitized content inside the body element that carries font and colour.
  QString Html() const;
  // Laid out at the content width by Layout; measures, never shown.
  QTextDocument* Document() const { return document_.get(); }
  // A document with the same content for the bubble's text browser, owned
  // by parent. A widget re-lays out its document as it likes, so the one
  // that sizes the bubble is kept apart.
  QTextDocument* MakeViewDocument(QObject* parent) const;
  // A label for the history search: sender, time and content.
  QLabel* MakeHistLabel(QWidget* parent) const;
  // Makes the document follow a changed sender or font.
  void Refresh();

 protected:
  QSize ContentSize(int maxWidth) override;

 private:
  void Fill(QTextDocument* document) const;

  std::unique_ptr<QTextDocument> document_;
};

// A file message: sent (from a local path) or received (from the sender's
// URL into the save directory).
class FileData : public MsgData {
 public:
  enum class State {
    kSent,         // a local file the user sent
    kDownloading,  // an offer being fetched
    kDone,         // fetched, or a history file that is there
    kFailed,       // the download failed
    kMissing,      // a history file that is gone or empty
  };

  FileData(std::unique_ptr<MsgCtx> ctx, const MsgDisplayCtx& display, double scale);

  // Text of the second line for the current state.
  QString StatusText() const;
  // Fraction shown by the progress bar (0 to 1).
  double Progress() const;
  // The file can be opened by a click.
  bool CanOpen() const;
  // The file name.
  QString FileName() const;
  // The file name broken into at most two lines of width pixels (the second
  // elided in the middle when the name is longer still).
  QStringList FileNameLines() const;

  State state = State::kSent;
  QString url;        // received: where the sender serves it
  QString localPath;  // absolute
  QString sizeText;   // shown once the file is there
  QString iconPath = QStringLiteral(":/image/file_type/other.png");
  std::shared_ptr<DownloadJob> job;  // set while downloading

  QRect iconRect;
  QRect fileNameRect;
  QRect statusRect;
  QRect progressRect;  // empty unless downloading

 protected:
  QSize ContentSize(int maxWidth) override;
  void PlaceContent() override;

 private:
  int LineHeight() const;
};

}  // namespace qn

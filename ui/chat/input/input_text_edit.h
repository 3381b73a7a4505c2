// The message editor of one conversation: typed text, emoji faces from the
// EmojiDialog, pasted pictures; dropped or pasted files are offered for
// sending instead of being inserted. On send the owner calls
// ConvertToMessageText, then WritePastedImages, sends the text and then the
// images in ImageList() as files, and calls Clear.
// Created by the conversation list, owned by its page widget; GUI thread only.
#pragma once

#include <QImage>
#include <QList>
#include <QStringList>
#include <QTextEdit>
#include <QUrl>
#include <functional>

class QMenu;

class InputTextEdit : public QTextEdit {
  Q_OBJECT

 public:
  // Answers the "DirectSend" setting at the moment of the key press (true:
  // Enter sends, Ctrl+Enter makes a new line). Without one, Enter sends.
  using DirectSendQuery = std::function<bool()>;

  explicit InputTextEdit(QWidget* parent = nullptr, DirectSendQuery directSend = {});
  ~InputTextEdit() override;

  void SetDirectSendQuery(DirectSendQuery directSend);

  // Inserts <img src="path" /> at the cursor and takes the focus (emoji).
  void InsertImageHtml(const QString& path);
  // Inserts the clipboard's image as a pending pasted picture.
  void PasteClipboardImage();
  // Writes the pending pictures to their files in the screenshot directory.
  // Stops at the first one whose file exists already or whose name is not a
  // pasted-picture name; false then, or when a file cannot be written.
  bool WritePastedImages();
  // The document as message text; the image list becomes the pictures still
  // in the document, in document order.
  QString ConvertToMessageText();
  // Empties the image list and the document.
  void Clear();

  // Paths of the pasted pictures (see ConvertToMessageText).
  const QStringList& ImageList() const { return image_list_; }
  // <data dir>/ScreenShot, where pasted pictures are written.
  const QString& ScreenShotDir() const { return screenshot_dir_; }

 signals:
  void Sig_SendFile(QList<QUrl> urls, bool directSend = false);
  void Sig_SendMessage();
  void Sig_ImageLoaded(QImage img, QUrl imgUrl);

 public slots:
  void ShowMenu();
  void OnPasteActTriggered();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool canInsertFromMimeData(const QMimeData* source) const override;
  void insertFromMimeData(const QMimeData* source) override;

 private slots:
  void OnImageLoaded(QImage img, QUrl imgUrl);

 private:
  // A fresh "qnchat_ss<ms>.png" path, distinct from pending and written ones.
  QString NewPastedImagePath() const;
  bool IsDirectSend() const;

  DirectSendQuery direct_send_;
  QStringList image_list_;
  QMenu* menu_;
  QString screenshot_dir_;
};

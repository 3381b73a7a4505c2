// Asks before one dropped or pasted file goes to a contact: recipient, type
// icon (a thumbnail for pictures), the file name, "取消" and "发送". One
// instance serves the program; the room that asked gets the file back
// through Sig_SendFile. GUI thread only; a thumbnail is read on Qt's global
// thread pool.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QString>
#include <memory>

#include "ui/frameless/frameless_dialog.h"

class ChatRoomWidget;

class SendSingleFileDialog : public frameless::FramelessDialog {
  Q_OBJECT

 public:
  // The program's instance, made on first use with the active window as parent.
  static SendSingleFileDialog* Instance();

  explicit SendSingleFileDialog(QWidget* parent = nullptr);
  ~SendSingleFileDialog() override;

  // Shows the dialog for sending the file at path to the contact shown as
  // name, on behalf of room. name and the file name are shown as plain text.
  void ShowFor(const QString& name, const QString& path, ChatRoomWidget* room);

  QString FilePath() const { return path_; }
  ChatRoomWidget* Room() const { return room_; }
  QLabel* NameLabel() const { return name_lb_; }
  QLabel* FileNameLabel() const { return fileName_lb_; }
  QLabel* IconLabel() const { return icon_lb_; }
  QPushButton* SendButton() const { return sendFile_btn_; }
  QPushButton* CancelButton() const { return cancel_btn_; }

  QRect TitleBarRect() const override;
  QList<QWidget*> TitleBarChildren() const override;

  // name broken into lines of as many characters as fit width pixels in
  // metrics; at most maxLines, the last one elided in the middle.
  static QString WrapFileName(const QString& name, const QFontMetrics& metrics, int width,
                              int maxLines);

 signals:
  void Sig_SendFile(QString fileUrl, ChatRoomWidget* crw);
  void Sig_ImageLoaded(QPixmap pix);

 private slots:
  void on_sendFile_btn_clicked();
  void on_cancel_btn_clicked();
  void OnImageLoaded(QPixmap pix);

 private:
  struct ThumbnailGuard;

  QString path_;
  ChatRoomWidget* room_ = nullptr;
  int icon_size_ = 48;
  // Counts ShowFor calls, so a thumbnail of an earlier file is dropped.
  int generation_ = 0;
  std::shared_ptr<ThumbnailGuard> guard_;

  QWidget* title_widget_ = nullptr;
  QPushButton* close_btn_ = nullptr;
  QLabel* name_lb_ = nullptr;
  QLabel* icon_lb_ = nullptr;
  QLabel* fileName_lb_ = nullptr;
  QPushButton* cancel_btn_ = nullptr;
  QPushButton* sendFile_btn_ = nullptr;
};

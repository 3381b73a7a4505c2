// One row of the file manager: type icon (a thumbnail for pictures that
// exist), the file name elided in the middle, who sent it, in which
// conversation, its size and date. Every text a peer chose is plain text.
// GUI thread; a picture's thumbnail is read on Qt's global thread pool and
// arrives through Sig.
#pragma once

#include <QLabel>
#include <QPixmap>
#include <QWidget>
#include <memory>

#include "ui/files/file_mgr.h"

class FileInfoWidget : public QWidget {
  Q_OBJECT

 public:
  explicit FileInfoWidget(const FileMgrRecord& record, QWidget* parent = nullptr);
  ~FileInfoWidget() override;

  const FileMgrRecord& Record() const { return record_; }
  QString FilePath() const { return record_.file.absoluteFilePath(); }
  QLabel* IconLabel() const { return icon_lb_; }
  QLabel* FileNameLabel() const { return fileName_lb_; }
  QLabel* HostNameLabel() const { return hostName_lb_; }
  QLabel* FileFromLabel() const { return fileFrom_lb_; }
  QLabel* FileSizeLabel() const { return fileSize_lb_; }
  QLabel* SendDateLabel() const { return sendDate_lb_; }
  // True once a thumbnail replaced the type icon.
  bool HasThumbnail() const { return has_thumbnail_; }

 signals:
  // A picture's thumbnail, made on the GUI thread from the task's image.
  void Sig(QPixmap pixmap);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Guard;
  void ElideName();

  FileMgrRecord record_;
  int icon_size_ = 40;
  bool has_thumbnail_ = false;
  std::shared_ptr<Guard> guard_;
  QLabel* icon_lb_ = nullptr;
  QLabel* fileName_lb_ = nullptr;
  QLabel* hostName_lb_ = nullptr;
  QLabel* fileFrom_lb_ = nullptr;
  QLabel* fileSize_lb_ = nullptr;
  QLabel* sendDate_lb_ = nullptr;
};

// The file manager: every transferred file the store knows, filtered by
// sender or type, searched by name, with a menu per row (open, show in the
// folder, forward, save as, delete the record). Created on first use by the
// main window and hidden rather than destroyed. GUI thread only.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <functional>

#include "ui/files/file_mgr.h"
#include "ui/files/file_transpond_dialog.h"
#include "ui/frameless/frameless_dialog.h"

class FileInfoWidget;

class QMenu;

// The list of FileInfoWidget rows; asks for a row's menu on a right click.
class FileList : public QListWidget {
  Q_OBJECT

 public:
  static constexpr int kPathRole = Qt::UserRole + 1;

  explicit FileList(QWidget* parent = nullptr);
  void SetRecords(const QList<FileMgrRecord>& records);
  FileInfoWidget* Row(int row) const;
  QStringList Paths() const;

 signals:
  void Sig_MenuRequested(QString path, QPoint globalPos);
};

class FileManagementDialog : public frameless::FramelessDialog {
  Q_OBJECT

 public:
  // Type numbers in the order the type filter lists them.
  static const int kTypeOrder[9];

  // files is not owned and outlives the dialog. contacts is asked each time
  // a file is forwarded; transpond sends it to one contact.
  FileManagementDialog(FileMgr* files, std::function<TranspondContacts()> contacts,
                       TranspondFunction transpond, QWidget* parent = nullptr);
  ~FileManagementDialog() override;

  QRect TitleBarRect() const override;
  QList<QWidget*> TitleBarChildren() const override;

  // Reads the records again and rebuilds the lists ("[reInit files_list]:").
  void ReInit();

  // The row actions; each warns first when the file is gone.
  void OpenFile(const QString& path);
  void ShowInFolder(const QString& path);
  void SaveAs(const QString& path);
  void Transpond(const QString& path);
  void DeleteRecord(const QString& path);
  // The context menu of a row (the caller owns it).
  QMenu* MakeRowMenu(const QString& path);

  // For tests.
  FileList* Files() const { return files_lw_; }
  FileList* SearchResults() const { return search_lw_; }
  QStackedWidget* Pages() const { return pages_; }
  QWidget* EmptyPage() const { return empty_page_; }
  QLabel* EmptyLabel() const { return empty_lb_; }
  QListWidget* SenderList() const { return sender_lw_; }
  QListWidget* TypeList() const { return fileType_lw_; }
  QLineEdit* SearchEdit() const { return search_le_; }
  QPushButton* AllButton() const { return all_btn_; }
  QPushButton* SenderButton() const { return sender_btn_; }
  QPushButton* TypeButton() const { return fileType_btn_; }
  QPushButton* MaxButton() const { return max_btn_; }
  // The forwarding dialog while one is open.
  FileTranspondDialog* TranspondDialog() const { return transpond_dialog_; }

 signals:
  // A forwarding ended; accepted when every contact got the file.
  void Sig_TranspondFinished(bool accepted);

 public slots:
  void on_min_btn_clicked();
  void on_max_btn_clicked();
  void on_close_btn_clicked();
  void on_all_btn_toggled(bool checked);
  void on_sender_btn_toggled(bool checked);
  void on_fileType_btn_toggled(bool checked);
  void on_sender_lw_itemClicked(QListWidgetItem* item);
  void on_fileType_lw_itemClicked(QListWidgetItem* item);
  void on_search_le_textChanged(QString text);

 protected:
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildForm();
  // Shows records on the list page, or the empty page with text when none.
  void ShowRecords(const QList<FileMgrRecord>& records, const QString& emptyText);
  // Applies the chosen filter (or the search) again after the records changed.
  void Refresh();
  bool WarnIfMissing(const QString& path);

  FileMgr* files_;
  std::function<TranspondContacts()> contacts_;
  TranspondFunction transpond_;
  FileTranspondDialog* transpond_dialog_ = nullptr;
  QTimer refresh_timer_;

  QWidget* title_widget_ = nullptr;
  QLineEdit* search_le_ = nullptr;
  QAction* search_clear_ = nullptr;
  QPushButton* min_btn_ = nullptr;
  QPushButton* max_btn_ = nullptr;
  QPushButton* close_btn_ = nullptr;
  QPushButton* all_btn_ = nullptr;
  QPushButton* sender_btn_ = nullptr;
  QPushButton* fileType_btn_ = nullptr;
  QListWidget* sender_lw_ = nullptr;
  QListWidget* fileType_lw_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  FileList* files_lw_ = nullptr;
  FileList* search_lw_ = nullptr;
  QWidget* empty_page_ = nullptr;
  QLabel* empty_lb_ = nullptr;
};

#include "ui/files/file_management_dialog.h"

#include <QAction>
#include <QButtonGroup>
#include <QContextMenuEvent>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMenu>
#include <QMessageBox>
#include <QSet>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/common/dpi_scale.h"
#include "ui/files/file_info_widget.h"
#include "ui/frameless/qss_manager.h"

namespace {

int Scaled(double pixels) { return static_cast<int>(pixels * DpiScale()); }

const char* const kTypeLabels[9] = {"  文档", "  PPT",      "  视频",     "  图片", "  音频",
                                    "  压缩文件", "  电子表格", "  PDF", "  其他"};

constexpr int kSenderRole = Qt::UserRole + 1;
constexpr int kRefreshDelayMs = 200;
constexpr int kTypeRole = Qt::UserRole + 2;

QPushButton* FilterButton(const char* name, const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setCheckable(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setCursor(Qt::PointingHandCursor);
  return button;
}

QPushButton* TitleButton(const char* name, const QString& tip, QWidget* parent) {
  auto* button = new QPushButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setFocusPolicy(Qt::NoFocus);
  button->setCursor(Qt::PointingHandCursor);
  button->setToolTip(tip);
  return button;
}

// Where "另存为" starts: the desktop when there is one, else home.
QString SaveAsStart(const QString& fileName) {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
  if (dir.isEmpty() || !QFileInfo(dir).isDir())
    dir = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
  return dir + QLatin1Char('/') + fileName;
}

}  // namespace

const int FileManagementDialog::kTypeOrder[9] = {0, 1, 2, 3, 4, 5, 7, 6, 8};

FileList::FileList(QWidget* parent) : QListWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    if (QListWidgetItem* item = itemAt(pos)) {
      setCurrentItem(item);
      emit Sig_MenuRequested(item->data(kPathRole).toString(), viewport()->mapToGlobal(pos));
    }
  });
}

void FileList::SetRecords(const QList<FileMgrRecord>& records) {
  clear();
  for (const FileMgrRecord& record : records) {
    auto* item = new QListWidgetItem(this);
    item->setData(kPathRole, record.file.absoluteFilePath());
    auto* row = new FileInfoWidget(record, this);
    item->setSizeHint(QSize(0, Scaled(62)));
    setItemWidget(item, row);
  }
}

FileInfoWidget* FileList::Row(int row) const {
  return qobject_cast<FileInfoWidget*>(itemWidget(item(row)));
}

QStringList FileList::Paths() const {
  QStringList paths;
  for (int i = 0; i < count(); ++i) paths << item(i)->data(kPathRole).toString();
  return paths;
}

FileManagementDialog::FileManagementDialog(FileMgr* files,
                                           std::function<TranspondContacts()> contacts,
                                           TranspondFunction transpond, QWidget* parent)
    : frameless::FramelessDialog(parent),
      files_(files),
      contacts_(std::move(contacts)),
      transpond_(std::move(transpond)) {
  setObjectName(QStringLiteral("FileManagementDialog"));
  setWindowTitle(QStringLiteral("文件管理"));
  setWindowIcon(QIcon(QStringLiteral(":/image/logo.png")));
  setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
  BuildForm();
  (new QssManager(this))->Apply(QStringLiteral(":/qss/file_management_dialog.css"));
  resize(Scaled(760), Scaled(520));
  // A download finishing while the manager is open shows up soon; a burst of
  // them rebuilds the list once.
  refresh_timer_.setSingleShot(true);
  refresh_timer_.setInterval(kRefreshDelayMs);
  connect(&refresh_timer_, &QTimer::timeout, this, [this] {
    if (isVisible()) Refresh();
  });
  connect(files_, &FileMgr::Sig_RecordsChanged, &refresh_timer_, [this] {
    if (!refresh_timer_.isActive()) refresh_timer_.start();
  });
  all_btn_->setChecked(true);
}

void FileManagementDialog::BuildForm() {
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);

  title_widget_ = new QWidget(this);
  title_widget_->setObjectName(QStringLiteral("title_widget"));
  title_widget_->setAttribute(Qt::WA_StyledBackground, true);
  auto* title = new QHBoxLayout(title_widget_);
  title->setContentsMargins(Scaled(14), Scaled(8), Scaled(6), Scaled(8));
  title->setSpacing(Scaled(6));
  auto* logo = new QLabel(title_widget_);
  logo->setPixmap(QPixmap(QStringLiteral(":/image/logo.png"))
                      .scaled(Scaled(20), Scaled(20), Qt::KeepAspectRatio, Qt::SmoothTransformation));
  title->addWidget(logo);
  title->addWidget(new QLabel(QStringLiteral("文件管理"), title_widget_));
  title->addStretch(1);
  search_le_ = new QLineEdit(title_widget_);
  search_le_->setObjectName(QStringLiteral("search_le"));
  search_le_->setPlaceholderText(QStringLiteral("搜索"));
  search_le_->setFixedWidth(Scaled(240));
  search_le_->addAction(QIcon(QStringLiteral(":/image/search_normal.png")),
                        QLineEdit::LeadingPosition);
  search_clear_ = search_le_->addAction(QIcon(QStringLiteral(":/image/search_clear.png")),
                                        QLineEdit::TrailingPosition);
  search_clear_->setVisible(false);
  connect(search_clear_, &QAction::triggered, search_le_, &QLineEdit::clear);
  title->addWidget(search_le_);
  title->addStretch(1);
  min_btn_ = TitleButton("min_btn", QStringLiteral("最小化"), title_widget_);
  max_btn_ = TitleButton("max_btn", QStringLiteral("最大化"), title_widget_);
  max_btn_->setProperty("isMaximized", false);
  close_btn_ = TitleButton("close_btn", QStringLiteral("关闭"), title_widget_);
  title->addWidget(min_btn_);
  title->addWidget(max_btn_);
  title->addWidget(close_btn_);
  root->addWidget(title_widget_);

  auto* body = new QHBoxLayout();
  body->setContentsMargins(0, 0, 0, 0);
  body->setSpacing(0);
  auto* filters = new QWidget(this);
  filters->setObjectName(QStringLiteral("filter_widget"));
  filters->setAttribute(Qt::WA_StyledBackground, true);
  filters->setStyleSheet(QStringLiteral("QWidget#filter_widget { background-color: #f5f7fd; }"));
  filters->setFixedWidth(Scaled(160));
  auto* left = new QVBoxLayout(filters);
  left->setContentsMargins(0, Scaled(8), 0, Scaled(8));
  left->setSpacing(0);
  all_btn_ = FilterButton("all_btn", QStringLiteral("全部"), filters);
  sender_btn_ = FilterButton("sender_btn", QStringLiteral("发送者"), filters);
  fileType_btn_ = FilterButton("fileType_btn", QStringLiteral("文件类型"), filters);
  auto* group = new QButtonGroup(this);
  group->setExclusive(true);
  sender_lw_ = new QListWidget(filters);
  sender_lw_->setObjectName(QStringLiteral("sender_lw"));
  fileType_lw_ = new QListWidget(filters);
  fileType_lw_->setObjectName(QStringLiteral("fileType_lw"));
  for (QListWidget* list : {sender_lw_, fileType_lw_}) {
    list->setFocusPolicy(Qt::NoFocus);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // As tall as its rows, so the next filter button follows right below.
    list->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    list->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    list->hide();
  }
  for (int type : kTypeOrder) {
    auto* item = new QListWidgetItem(QString::fromUtf8(kTypeLabels[type]), fileType_lw_);
    item->setData(kTypeRole, type);
  }
  for (QPushButton* button : {all_btn_, sender_btn_, fileType_btn_}) group->addButton(button);
  left->addWidget(all_btn_);
  left->addWidget(sender_btn_);
  left->addWidget(sender_lw_);
  left->addWidget(fileType_btn_);
  left->addWidget(fileType_lw_);
  left->addStretch(1);
  body->addWidget(filters);

  pages_ = new QStackedWidget(this);
  pages_->setObjectName(QStringLiteral("stackedWidget"));
  files_lw_ = new FileList(pages_);
  files_lw_->setObjectName(QStringLiteral("files_lw"));
  search_lw_ = new FileList(pages_);
  search_lw_->setObjectName(QStringLiteral("search_lw"));
  empty_page_ = new QWidget(pages_);
  empty_page_->setObjectName(QStringLiteral("emptyPage"));
  auto* empty = new QVBoxLayout(empty_page_);
  empty->addStretch(1);
  auto* emptyIcon = new QLabel(empty_page_);
  emptyIcon->setAlignment(Qt::AlignCenter);
  emptyIcon->setPixmap(QPixmap(QStringLiteral(":/image/logo_gray.png"))
                           .scaled(Scaled(80), Scaled(80), Qt::KeepAspectRatio,
                                   Qt::SmoothTransformation));
  empty->addWidget(emptyIcon);
  empty_lb_ = new QLabel(QStringLiteral("无搜索结果"), empty_page_);
  empty_lb_->setObjectName(QStringLiteral("empty_lb"));
  empty_lb_->setAlignment(Qt::AlignCenter);
  empty->addWidget(empty_lb_);
  empty->addStretch(2);
  pages_->addWidget(files_lw_);
  pages_->addWidget(search_lw_);
  pages_->addWidget(empty_page_);
  body->addWidget(pages_, 1);
  root->addLayout(body, 1);

  for (FileList* list : {files_lw_, search_lw_}) {
    connect(list, &FileList::Sig_MenuRequested, this, [this](QString path, QPoint pos) {
      QMenu* menu = MakeRowMenu(path);
      menu->setAttribute(Qt::WA_DeleteOnClose);
      menu->popup(pos);
    });
    connect(list, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
      OpenFile(item->data(FileList::kPathRole).toString());
    });
  }
  connect(min_btn_, &QPushButton::clicked, this, &FileManagementDialog::on_min_btn_clicked);
  connect(max_btn_, &QPushButton::clicked, this, &FileManagementDialog::on_max_btn_clicked);
  connect(close_btn_, &QPushButton::clicked, this, &FileManagementDialog::on_close_btn_clicked);
  connect(all_btn_, &QPushButton::toggled, this, &FileManagementDialog::on_all_btn_toggled);
  connect(sender_btn_, &QPushButton::toggled, this, &FileManagementDialog::on_sender_btn_toggled);
  connect(fileType_btn_, &QPushButton::toggled, this,
          &FileManagementDialog::on_fileType_btn_toggled);
  connect(sender_lw_, &QListWidget::itemClicked, this,
          &FileManagementDialog::on_sender_lw_itemClicked);
  connect(fileType_lw_, &QListWidget::itemClicked, this,
          &FileManagementDialog::on_fileType_lw_itemClicked);
  connect(search_le_, &QLineEdit::textChanged, this,
          &FileManagementDialog::on_search_le_textChanged);
}

QRect FileManagementDialog::TitleBarRect() const { return title_widget_->geometry(); }

QList<QWidget*> FileManagementDialog::TitleBarChildren() const {
  return {search_le_, min_btn_, max_btn_, close_btn_};
}

void FileManagementDialog::showEvent(QShowEvent* event) {
  frameless::FramelessDialog::showEvent(event);
  ReInit();
}

void FileManagementDialog::ReInit() {
  files_->Reload();
  qDebug() << "[reInit files_list]:" << files_->AllRecords().size();
  // One row per distinct sender, in the order their newest file arrived.
  const QString chosen =
      sender_lw_->currentItem() ? sender_lw_->currentItem()->data(kSenderRole).toString() : QString();
  sender_lw_->clear();
  QSet<QString> seen;
  for (const FileMgrRecord& record : files_->AllRecords()) {
    if (seen.contains(record.senderUuid)) continue;
    seen.insert(record.senderUuid);
    auto* item = new QListWidgetItem(QStringLiteral("  ") + record.senderName, sender_lw_);
    item->setData(kSenderRole, record.senderUuid);
    item->setToolTip(record.senderName);
    if (record.senderUuid == chosen) sender_lw_->setCurrentItem(item);
  }
  Refresh();
}

void FileManagementDialog::ShowRecords(const QList<FileMgrRecord>& records,
                                       const QString& emptyText) {
  FileList* list = search_le_->text().trimmed().isEmpty() ? files_lw_ : search_lw_;
  list->SetRecords(records);
  if (records.isEmpty()) {
    empty_lb_->setText(emptyText);
    pages_->setCurrentWidget(empty_page_);
  } else {
    pages_->setCurrentWidget(list);
  }
}

void FileManagementDialog::Refresh() {
  const QString text = search_le_->text().trimmed();
  if (!text.isEmpty()) {
    ShowRecords(files_->SearchRecords(text), QStringLiteral("无搜索结果"));
    return;
  }
  const QString none = QStringLiteral("暂无文件");
  if (sender_btn_->isChecked()) {
    QListWidgetItem* item = sender_lw_->currentItem();
    if (!item && sender_lw_->count() > 0) {
      item = sender_lw_->item(0);
      sender_lw_->setCurrentItem(item);
    }
    ShowRecords(item ? files_->RecordsBySender(item->data(kSenderRole).toString())
                     : QList<FileMgrRecord>(),
                none);
  } else if (fileType_btn_->isChecked()) {
    QListWidgetItem* item = fileType_lw_->currentItem();
    if (!item) {
      item = fileType_lw_->item(0);
      fileType_lw_->setCurrentItem(item);
    }
    ShowRecords(files_->RecordsByType(item->data(kTypeRole).toInt()), none);
  } else {
    ShowRecords(files_->AllRecords(), none);
  }
}

void FileManagementDialog::on_all_btn_toggled(bool checked) {
  if (checked) Refresh();
}

void FileManagementDialog::on_sender_btn_toggled(bool checked) {
  sender_lw_->setVisible(checked);
  if (checked) Refresh();
}

void FileManagementDialog::on_fileType_btn_toggled(bool checked) {
  fileType_lw_->setVisible(checked);
  if (checked) Refresh();
}

void FileManagementDialog::on_sender_lw_itemClicked(QListWidgetItem* item) {
  if (!item) return;
  sender_lw_->setCurrentItem(item);
  search_le_->clear();
  Refresh();
}

void FileManagementDialog::on_fileType_lw_itemClicked(QListWidgetItem* item) {
  if (!item) return;
  fileType_lw_->setCurrentItem(item);
  search_le_->clear();
  Refresh();
}

void FileManagementDialog::on_search_le_textChanged(QString text) {
  search_clear_->setVisible(!text.isEmpty());
  Refresh();
}

bool FileManagementDialog::WarnIfMissing(const QString& path) {
  if (QFileInfo(path).isFile()) return false;
  QMessageBox box(QMessageBox::Warning, QStringLiteral("提示"),
                  QStringLiteral("文件不存在，可能被删除，重命名或更换了存储位置"), QMessageBox::Ok,
                  this);
  box.setObjectName(QStringLiteral("missingFileBox"));
  box.exec();
  return true;
}

QMenu* FileManagementDialog::MakeRowMenu(const QString& path) {
  auto* menu = new QMenu(this);
  menu->setObjectName(QStringLiteral("fileMenu"));
  menu->addAction(QStringLiteral("打开"), this, [this, path] { OpenFile(path); });
  // No program chooser on this desktop: the entry is there and does nothing.
  QAction* openWith = menu->addAction(QStringLiteral("打开方式"));
  openWith->setEnabled(false);
  menu->addAction(QStringLiteral("打开文件所在位置"), this, [this, path] { ShowInFolder(path); });
  menu->addSeparator();
  menu->addAction(QStringLiteral("转发"), this, [this, path] { Transpond(path); });
  menu->addAction(QStringLiteral("另存为"), this, [this, path] { SaveAs(path); });
  menu->addSeparator();
  menu->addAction(QStringLiteral("删除"), this, [this, path] { DeleteRecord(path); });
  return menu;
}

void FileManagementDialog::OpenFile(const QString& path) {
  if (WarnIfMissing(path)) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void FileManagementDialog::ShowInFolder(const QString& path) {
  if (WarnIfMissing(path)) return;
  qDebug() << "[filepath open]:" << path;
  // The desktop's file manager selects the file; without one (or when it
  // refuses) the folder opens in the default program.
  const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    QDesktopServices::openUrl(folder);
    return;
  }
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [folder](QDBusPendingCallWatcher* done) {
            if (done->isError()) QDesktopServices::openUrl(folder);
            done->deleteLater();
          });
}

void FileManagementDialog::SaveAs(const QString& path) {
  if (WarnIfMissing(path)) return;
  const QFileInfo info(path);
  const QString filter = info.suffix().isEmpty() ? QStringLiteral("File(*)")
                                                 : QStringLiteral("File(*.%1)").arg(info.suffix());
  const QString target = QFileDialog::getSaveFileName(this, QStringLiteral("另存为..."),
                                                      SaveAsStart(info.fileName()), filter);
  if (target.isEmpty()) return;
  if (QFileInfo(target).absoluteFilePath() == info.absoluteFilePath()) return;
  // The dialog asked already whether to replace an existing file.
  if (QFileInfo::exists(target)) QFile::remove(target);
  if (QFile::copy(path, target))
    qDebug() << "[copy success!]";
  else
    qDebug() << "[copy failed!]";
}

void FileManagementDialog::Transpond(const QString& path) {
  if (WarnIfMissing(path)) return;
  if (transpond_dialog_) return;
  // A window of its own, modal for the whole program: as a child of this
  // dialog it would take this dialog's style sheet instead of its own.
  transpond_dialog_ = new FileTranspondDialog(
      path, contacts_ ? contacts_() : TranspondContacts(), transpond_, nullptr);
  transpond_dialog_->setWindowModality(Qt::ApplicationModal);
  transpond_dialog_->setAttribute(Qt::WA_DeleteOnClose);
  transpond_dialog_->move(geometry().center() - transpond_dialog_->rect().center());
  connect(transpond_dialog_, &QDialog::finished, this, [this](int result) {
    transpond_dialog_ = nullptr;
    const bool accepted = result == QDialog::Accepted;
    if (accepted) {
      auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("提示"),
                                  QStringLiteral("转发完成"), QMessageBox::Ok, this);
      box->setObjectName(QStringLiteral("transpondDoneBox"));
      box->setAttribute(Qt::WA_DeleteOnClose);
      box->open();
    }
    emit Sig_TranspondFinished(accepted);
  });
  transpond_dialog_->open();
}

FileManagementDialog::~FileManagementDialog() { delete transpond_dialog_; }

void FileManagementDialog::DeleteRecord(const QString& path) {
  // Only the record goes; the file stays where it is. A record whose file is
  // gone can be removed too, without a warning: that is how the list is
  // cleaned of it.
  files_->DeleteFileRecord(path);
  ReInit();
}

void FileManagementDialog::on_min_btn_clicked() { showMinimized(); }

void FileManagementDialog::on_max_btn_clicked() {
  if (isMaximized())
    showNormal();
  else
    showMaximized();
}

void FileManagementDialog::on_close_btn_clicked() { hide(); }

void FileManagementDialog::changeEvent(QEvent* event) {
  frameless::FramelessDialog::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  max_btn_->setProperty("isMaximized", isMaximized());
  QssManager::Repolish(max_btn_);
}

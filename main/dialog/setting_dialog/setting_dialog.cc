#include "main/dialog/setting_dialog/setting_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryFile>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

#include "base/settings.h"
#include "main/auto_start.h"
#include "main/settings_keys.h"
#include "ui/common/dpi_scale.h"
#include "ui/files/file_mgr.h"
#include "ui/frameless/qss_manager.h"

namespace {

constexpr char kTestWriteName[] = "QNChatTestWrite.txt";
// The agreement is shown by the program itself; this link stands for it.
constexpr char kUserAgreementLink[] = "qnchat:user-agreement";

int Scaled(double px) { return static_cast<int>(px * DpiScale() + 0.5); }

QPushButton* NavButton(const char* name, const QString& text, QWidget* parent) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QLatin1String(name));
  button->setCheckable(true);
  button->setCursor(Qt::PointingHandCursor);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

QLabel* PlainLabel(const QString& text, QWidget* parent, const char* name = nullptr) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  if (name) label->setObjectName(QLatin1String(name));
  return label;
}

}  // namespace

SettingDialog* SettingDialog::Instance() {
  static SettingDialog* instance = new SettingDialog();
  return instance;
}

SettingDialog::SettingDialog(QWidget* parent) : frameless::FramelessDialog(parent) {
  // The feedback answer crosses threads as a queued call by name.
  qRegisterMetaType<std::string>("std::string");
  setObjectName(QStringLiteral("SettingDialog"));
  setWindowTitle(QStringLiteral("设置"));
  setWindowIcon(QIcon(QStringLiteral(":/image/logo.png")));
  setWindowModality(Qt::ApplicationModal);
  SetResizable(false);
  direct_send_ = GetBoolSetting(settings_key::kDirectSend, settings_key::kDirectSendDefault);
  hide_on_screenshot_ = GetBoolSetting(settings_key::kHideMainWindowOnScreenShot,
                                       settings_key::kHideMainWindowOnScreenShotDefault);
  notifications_ = GetBoolSetting(settings_key::kDesktopNotification,
                                  settings_key::kDesktopNotificationDefault);
  BuildForm();
  (new QssManager(this))->Apply(QStringLiteral(":/qss/setting_dialog.css"));
  setFixedSize(Scaled(580), Scaled(400));
}

SettingDialog::~SettingDialog() = default;

void SettingDialog::BuildForm() {
  auto* root = new QVBoxLayout(this);
  // The window's own margins are the frameless shadow band; the layout adds
  // none, so the title bar reaches the band.
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);
  titleBar_ = new QWidget(this);
  titleBar_->setObjectName(QStringLiteral("titleBar"));
  titleBar_->setAttribute(Qt::WA_StyledBackground, true);
  titleBar_->setFixedHeight(Scaled(36));
  auto* titleLayout = new QHBoxLayout(titleBar_);
  titleLayout->setContentsMargins(Scaled(4), 0, Scaled(4), 0);
  label_4_ = PlainLabel(QStringLiteral("设置"), titleBar_, "label_4");
  close_btn_ = new QPushButton(titleBar_);
  close_btn_->setObjectName(QStringLiteral("close_btn"));
  close_btn_->setToolTip(QStringLiteral("关闭"));
  close_btn_->setFocusPolicy(Qt::NoFocus);
  titleLayout->addWidget(label_4_);
  titleLayout->addStretch(1);
  titleLayout->addWidget(close_btn_);
  root->addWidget(titleBar_);

  auto* body = new QWidget(this);
  auto* bodyLayout = new QHBoxLayout(body);
  bodyLayout->setContentsMargins(0, 0, 0, 0);
  bodyLayout->setSpacing(0);
  auto* nav = new QWidget(body);
  nav->setObjectName(QStringLiteral("nav_widget"));
  nav->setAttribute(Qt::WA_StyledBackground, true);
  nav->setFixedWidth(Scaled(130));
  auto* navLayout = new QVBoxLayout(nav);
  navLayout->setContentsMargins(0, Scaled(12), 0, Scaled(12));
  navLayout->setSpacing(Scaled(2));
  functionSet_btn_ = NavButton("functionSet_btn", QStringLiteral("功能设置"), nav);
  aboutUs_btn_ = NavButton("aboutUs_btn", QStringLiteral("关于我们"), nav);
  feedBack_btn_ = NavButton("feedBack_btn", QStringLiteral("意见反馈"), nav);
  checkUpdate_btn_ = NavButton("checkUpdate_btn", QStringLiteral("检查更新"), nav);
  checkUpdate_btn_->hide();
  for (QPushButton* b : {functionSet_btn_, aboutUs_btn_, feedBack_btn_, checkUpdate_btn_})
    navLayout->addWidget(b);
  navLayout->addStretch(1);
  nav_group_ = new QButtonGroup(this);
  nav_group_->setExclusive(true);
  for (QPushButton* b : {functionSet_btn_, aboutUs_btn_, feedBack_btn_, checkUpdate_btn_})
    nav_group_->addButton(b);
  functionSet_btn_->setChecked(true);

  stackedWidget_ = new QStackedWidget(body);
  stackedWidget_->setObjectName(QStringLiteral("stackedWidget"));
  functionSet_page_ = BuildFunctionPage();
  checkUpda_page_ = BuildUpdatePage();
  aboutUs_page_ = BuildAboutPage();
  feedback_page_ = BuildFeedbackPage();
  for (QWidget* page : {functionSet_page_, checkUpda_page_, aboutUs_page_, feedback_page_})
    stackedWidget_->addWidget(page);
  stackedWidget_->setCurrentWidget(functionSet_page_);
  bodyLayout->addWidget(nav);
  bodyLayout->addWidget(stackedWidget_, 1);
  root->addWidget(body, 1);

  auto showWhenChecked = [this](QPushButton* button, QWidget* page) {
    connect(button, &QPushButton::toggled, this, [this, page](bool checked) {
      if (checked) stackedWidget_->setCurrentWidget(page);
    });
  };
  showWhenChecked(functionSet_btn_, functionSet_page_);
  showWhenChecked(aboutUs_btn_, aboutUs_page_);
  showWhenChecked(feedBack_btn_, feedback_page_);
  showWhenChecked(checkUpdate_btn_, checkUpda_page_);

  connect(close_btn_, &QPushButton::clicked, this, &SettingDialog::on_close_btn_clicked);
  connect(autoStart_cb_, &QCheckBox::toggled, this, &SettingDialog::on_autoStart_cb_toggled);
  connect(directCloseApp_cb_, &QCheckBox::toggled, this,
          &SettingDialog::on_directCloseApp_cb_toggled);
  connect(desktopNotify_cb_, &QCheckBox::toggled, this,
          &SettingDialog::on_desktopNotify_cb_toggled);
  connect(chooseFileSavePath_btn_, &QPushButton::clicked, this,
          &SettingDialog::on_chooseFileSavePath_btn_clicked);
  connect(openFilePath_btn_, &QPushButton::clicked, this,
          &SettingDialog::on_openFilePath_btn_clicked);
  connect(commit_btn_, &QPushButton::clicked, this, &SettingDialog::on_commit_btn_clicked);
}

QWidget* SettingDialog::BuildFunctionPage() {
  auto* page = new QWidget(this);
  page->setObjectName(QStringLiteral("functionSet_page"));
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(Scaled(28), Scaled(22), Scaled(28), Scaled(16));
  layout->setSpacing(Scaled(14));

  autoStart_cb_ = new QCheckBox(QStringLiteral("开机自启动"), page);
  autoStart_cb_->setObjectName(QStringLiteral("autoStart_cb"));
  // What counts is whether the desktop will really start us, i.e. the entry.
  autoStart_cb_->setChecked(IsAutoStartSet());
  directCloseApp_cb_ = new QCheckBox(QStringLiteral("关闭主窗口时直接关闭程序"), page);
  directCloseApp_cb_->setObjectName(QStringLiteral("directCloseApp_cb"));
  directCloseApp_cb_->setChecked(
      GetBoolSetting(settings_key::kDirectCloseApp, settings_key::kDirectCloseAppDefault));
  desktopNotify_cb_ = new QCheckBox(QStringLiteral("桌面通知"), page);
  desktopNotify_cb_->setObjectName(QStringLiteral("desktopNotify_cb"));
  desktopNotify_cb_->setToolTip(QStringLiteral("主窗口不在前台时，新消息以桌面通知提醒"));
  desktopNotify_cb_->setChecked(notifications_);
  checkBox_2_ = new QCheckBox(QStringLiteral("加密我发送的文件"), page);
  checkBox_2_->setObjectName(QStringLiteral("checkBox_2"));
  checkBox_2_->hide();
  for (QCheckBox* box : {autoStart_cb_, directCloseApp_cb_, desktopNotify_cb_, checkBox_2_}) {
    box->setCursor(Qt::PointingHandCursor);
    layout->addWidget(box);
  }

  layout->addSpacing(Scaled(6));
  layout->addWidget(PlainLabel(QStringLiteral("文件保存位置："), page, "label"));
  auto* pathRow = new QHBoxLayout();
  pathRow->setSpacing(Scaled(8));
  fileSavePath_le_ = new QLineEdit(page);
  fileSavePath_le_->setObjectName(QStringLiteral("fileSavePath_le"));
  fileSavePath_le_->setReadOnly(true);
  chooseFileSavePath_btn_ = new QPushButton(QStringLiteral("更改"), page);
  chooseFileSavePath_btn_->setObjectName(QStringLiteral("chooseFileSavePath_btn"));
  openFilePath_btn_ = new QPushButton(QStringLiteral("打开"), page);
  openFilePath_btn_->setObjectName(QStringLiteral("openFilePath_btn"));
  for (QPushButton* b : {chooseFileSavePath_btn_, openFilePath_btn_})
    b->setCursor(Qt::PointingHandCursor);
  pathRow->addWidget(fileSavePath_le_, 1);
  pathRow->addWidget(chooseFileSavePath_btn_);
  pathRow->addWidget(openFilePath_btn_);
  layout->addLayout(pathRow);

  // Message synchronisation between devices does not exist yet; the setting
  // stays hidden.
  label_3_ = PlainLabel(QStringLiteral("消息同步设置："), page, "label_3");
  syncMessage_cb_ = new QComboBox(page);
  syncMessage_cb_->setObjectName(QStringLiteral("syncMessage_cb"));
  syncMessage_cb_->addItems({QStringLiteral("同步72小时内消息"), QStringLiteral("同步近15天消息"),
                             QStringLiteral("同步近30天消息")});
  label_3_->hide();
  syncMessage_cb_->hide();
  layout->addWidget(label_3_);
  layout->addWidget(syncMessage_cb_);
  layout->addStretch(1);
  return page;
}

QWidget* SettingDialog::BuildUpdatePage() {
  auto* page = new QWidget(this);
  page->setObjectName(QStringLiteral("checkUpda_page"));
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(Scaled(28), Scaled(22), Scaled(28), Scaled(16));
  layout->setSpacing(Scaled(12));
  auto row = [page, layout](const QString& caption, const char* name, const QString& value) {
    auto* line = new QHBoxLayout();
    line->addWidget(PlainLabel(caption, page));
    QLabel* label = PlainLabel(value, page, name);
    line->addWidget(label, 1);
    layout->addLayout(line);
    return label;
  };
  row(QStringLiteral("当前版本："), "curVersion_lb", QStringLiteral("1.0.0"));
  row(QStringLiteral("最新版本："), "latestVersion_lb", QStringLiteral("1.0.0"));
  QLabel* content = row(QStringLiteral("更新内容："), "updateContent_lb", QString());
  content->setWordWrap(true);
  auto* update = new QPushButton(QStringLiteral("立即更新"), page);
  update->setObjectName(QStringLiteral("update_btn"));
  layout->addStretch(1);
  layout->addWidget(update, 0, Qt::AlignRight);
  return page;
}

QWidget* SettingDialog::BuildAboutPage() {
  auto* page = new QWidget(this);
  page->setObjectName(QStringLiteral("aboutUs_page"));
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(Scaled(36), Scaled(28), Scaled(36), Scaled(16));
  layout->setSpacing(Scaled(8));

  auto* logo = new QLabel(page);
  logo->setObjectName(QStringLiteral("logo_lb"));
  const int logoSize = Scaled(50);
  logo->setPixmap(QPixmap(QStringLiteral(":/image/logo.png"))
                      .scaled(logoSize, logoSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  logo->setFixedSize(logoSize, logoSize);
  layout->addWidget(logo, 0, Qt::AlignHCenter);
  layout->addWidget(PlainLabel(QStringLiteral("QN快信"), page, "appName_lb"), 0, Qt::AlignHCenter);
  layout->addWidget(PlainLabel(QStringLiteral("V1.0.0"), page, "version_lb"), 0, Qt::AlignHCenter);
  layout->addSpacing(Scaled(6));
  QLabel* brief = PlainLabel(
      QStringLiteral("QN快信是一款局域网即时聊天通讯工具。拥有聊天，文件传输等功能，数据保存在本地，"
                     "通讯更安全，传输文件更快速，局域网办公通讯好帮手"),
      page, "brief_lb");
  brief->setWordWrap(true);
  brief->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  layout->addWidget(brief);
  layout->addStretch(1);

  auto* agreement = new QLabel(page);
  agreement->setObjectName(QStringLiteral("userAgreement_lb"));
  agreement->setTextFormat(Qt::RichText);
  agreement->setText(QStringLiteral("<a href=\"%1\" style=\"color:#678BF1; text-decoration:none;\">"
                                    "《用户协议》</a>")
                         .arg(QLatin1String(kUserAgreementLink)));
  agreement->setCursor(Qt::PointingHandCursor);
  connect(agreement, &QLabel::linkActivated, this, &SettingDialog::slot_openURL);
  layout->addWidget(agreement, 0, Qt::AlignHCenter);
  layout->addWidget(PlainLabel(QStringLiteral("QN快信 开发团队 · 局域网通讯，数据不出本地"), page,
                               "company_lb"),
                    0, Qt::AlignHCenter);
  return page;
}

QWidget* SettingDialog::BuildFeedbackPage() {
  auto* page = new QWidget(this);
  page->setObjectName(QStringLiteral("feedback_page"));
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(Scaled(28), Scaled(22), Scaled(28), Scaled(16));
  layout->setSpacing(Scaled(12));
  feedback_te_ = new QTextEdit(page);
  feedback_te_->setObjectName(QStringLiteral("feedback_te"));
  feedback_te_->setAcceptRichText(false);
  feedback_te_->setPlaceholderText(QStringLiteral("请描述使用中遇到的问题，填写描述至少大于15个字符"));
  contact_le_ = new QLineEdit(page);
  contact_le_->setObjectName(QStringLiteral("contact_le"));
  contact_le_->setPlaceholderText(QStringLiteral("请填写您的邮箱或电话号码"));
  commit_btn_ = new QPushButton(QStringLiteral("提交"), page);
  commit_btn_->setObjectName(QStringLiteral("commit_btn"));
  commit_btn_->setCursor(Qt::PointingHandCursor);
  layout->addWidget(feedback_te_, 1);
  layout->addWidget(contact_le_);
  layout->addWidget(commit_btn_, 0, Qt::AlignRight);
  return page;
}

QRect SettingDialog::TitleBarRect() const {
  return QRect(titleBar_->mapTo(this, QPoint(0, 0)), titleBar_->size());
}

QList<QWidget*> SettingDialog::TitleBarChildren() const { return {close_btn_}; }

void SettingDialog::ShowDialog() {
  const QString path = QDir::toNativeSeparators(FileMgr::Instance()->SavePath());
  fileSavePath_le_->setText(path);
  fileSavePath_le_->setToolTip(path);
  RefreshAutoStart();
  show();
  raise();
  activateWindow();
}

void SettingDialog::RefreshAutoStart() {
  QSignalBlocker block(autoStart_cb_);
  autoStart_cb_->setChecked(IsAutoStartSet());
}

void SettingDialog::SetDirectSend(bool directSend) {
  direct_send_ = directSend;
  SetBoolSetting(settings_key::kDirectSend, directSend);
}

void SettingDialog::SetHideOnScreenShot(bool hide) {
  hide_on_screenshot_ = hide;
  SetBoolSetting(settings_key::kHideMainWindowOnScreenShot, hide);
}

bool SettingDialog::DirectCloseChecked() const { return directCloseApp_cb_->isChecked(); }

void SettingDialog::SetNotificationsEnabled(bool enabled) {
  // The check box's handler stores the value and updates the cache.
  if (desktopNotify_cb_->isChecked() != enabled) {
    desktopNotify_cb_->setChecked(enabled);
  } else {
    notifications_ = enabled;
    SetBoolSetting(settings_key::kDesktopNotification, enabled);
  }
}

void SettingDialog::on_autoStart_cb_toggled(bool checked) {
  const bool done = SetAutoStart(checked, ProgramFilePath());
  // The box shows what the desktop will do, which a failed write did not change.
  const bool actual = IsAutoStartSet();
  SetBoolSetting(settings_key::kAutoStartApp, actual);
  if (actual != checked) {
    QSignalBlocker block(autoStart_cb_);
    autoStart_cb_->setChecked(actual);
  }
  if (!done || actual != checked)
    ShowInformation(checked ? QStringLiteral("开机自启动设置失败") : QStringLiteral("取消开机自启动失败"));
}

void SettingDialog::on_directCloseApp_cb_toggled(bool checked) {
  SetBoolSetting(settings_key::kDirectCloseApp, checked);
}

void SettingDialog::on_desktopNotify_cb_toggled(bool checked) {
  notifications_ = checked;
  SetBoolSetting(settings_key::kDesktopNotification, checked);
}

bool SettingDialog::IsWritableDir(const QString& dir) {
  if (dir.isEmpty() || !QFileInfo(dir).isDir()) return false;
  // Created, never opened over something that is there already: a file of
  // this name may be the user's, and a link could lead anywhere.
  QFile probe(QDir(dir).filePath(QLatin1String(kTestWriteName)));
  if (probe.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
    probe.close();
    probe.remove();
    return true;
  }
  if (!QFileInfo(probe.fileName()).exists() && !QFileInfo(probe.fileName()).isSymLink())
    return false;
  QTemporaryFile other(QDir(dir).filePath(QStringLiteral("QNChatTestWrite-XXXXXX.txt")));
  return other.open();  // removed again by its destructor
}

QString SettingDialog::ChooseDirectory(const QString& start) {
  return QFileDialog::getExistingDirectory(this, QStringLiteral("选择保存路径"), start,
                                           QFileDialog::ShowDirsOnly);
}

void SettingDialog::ShowInformation(const QString& text) {
  QMessageBox box(QMessageBox::Information, QStringLiteral("提示"), text, QMessageBox::NoButton,
                  this);
  box.setTextFormat(Qt::PlainText);
  box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
  box.exec();
}

void SettingDialog::on_chooseFileSavePath_btn_clicked() {
  QString start = QDir::fromNativeSeparators(fileSavePath_le_->text());
  for (;;) {
    const QString chosen = ChooseDirectory(start);
    if (chosen.isEmpty()) return;  // cancelled: the previous directory stays
    const QString dir = QDir::cleanPath(chosen);
    start = dir;
    if (!QFileInfo(dir).isDir()) {
      ShowInformation(QStringLiteral("当前路径不存在,请更换路径"));
      continue;
    }
    if (!IsWritableDir(dir)) {
      ShowInformation(QStringLiteral("当前路径没有写入权限,请更换路径"));
      continue;
    }
    fileSavePath_le_->setText(QDir::toNativeSeparators(dir));
    fileSavePath_le_->setToolTip(fileSavePath_le_->text());
    // The file helper reads its directory from this key.
    SetSetting(settings_key::kFileSavePath, dir.toStdString());
    FlushSettings();
    return;
  }
}

void SettingDialog::on_openFilePath_btn_clicked() {
  const QString path = QDir::fromNativeSeparators(fileSavePath_le_->text());
  if (path.isEmpty()) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void SettingDialog::on_close_btn_clicked() {
  if (IsWritableDir(QDir::fromNativeSeparators(fileSavePath_le_->text()))) {
    FramelessDialog::reject();
    return;
  }
  ShowInformation(QStringLiteral("当前文件保存路径不可用,请更换路径"));
  on_chooseFileSavePath_btn_clicked();
}

void SettingDialog::reject() { on_close_btn_clicked(); }

void SettingDialog::on_commit_btn_clicked() {
  const QString content = feedback_te_->toPlainText().trimmed();
  const QString contact = contact_le_->text().trimmed();
  if (content.isEmpty()) {
    ShowInformation(QStringLiteral("请输入您的意见反馈信息"));
    return;
  }
  if (contact.isEmpty()) {
    ShowInformation(QStringLiteral("请输入您的联系方式"));
    return;
  }
  // One feedback at a time: the button comes back with the answer.
  commit_btn_->setText(QStringLiteral("反馈中..."));
  commit_btn_->setEnabled(false);
  if (feedback_sender_) {
    feedback_sender_(content, contact, this);
    return;
  }
  QMetaObject::invokeMethod(this, "slot_feedBack", Qt::QueuedConnection, Q_ARG(bool, false),
                            Q_ARG(int, kFeedbackUnavailable),
                            Q_ARG(std::string, std::string("意见反馈服务尚未接入，暂时无法发送")),
                            Q_ARG(std::string, std::string()));
}

void SettingDialog::slot_feedBack(bool ret, int errCode, std::string errMsg, std::string result) {
  Q_UNUSED(result);
  commit_btn_->setText(QStringLiteral("提交"));
  commit_btn_->setEnabled(true);
  if (ret) {
    // Sent: the form is ready for the next one; the contact is likely the same.
    feedback_te_->clear();
    ShowInformation(QStringLiteral("反馈成功"));
  } else {
    // The text stays, so the user can try again.
    ShowInformation(QStringLiteral("反馈失败。\n错误码：%1\n错误内容：%2")
                        .arg(errCode)
                        .arg(QString::fromStdString(errMsg)));
  }
}

void SettingDialog::slot_openURL(const QString& url) {
  if (url == QLatin1String(kUserAgreementLink)) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("用户协议"),
                    QStringLiteral(
                        "QN快信只在局域网内工作：消息和文件在您与同事的电脑之间直接传送，"
                        "不经过任何服务器；聊天记录和收到的文件只保存在您自己的电脑上。\n\n"
                        "请只在您有权使用的网络中使用本程序，并自行备份重要的聊天记录和文件。"
                        "本程序按现状提供，不附带任何明示或默示的担保。"),
                    QMessageBox::NoButton, this);
    box.setTextFormat(Qt::PlainText);
    box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    box.exec();
    return;
  }
  QDesktopServices::openUrl(QUrl(url));
}

#include "main/main_window/main_window.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDebug>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTreeWidgetItemIterator>
#include <QWindow>

#include "base/settings.h"
#include "main/dialog/business_card_widget/business_card_widget.h"
#include "main/dialog/float_chat_search_dialog/float_chat_search_dialog.h"
#include "main/dialog/rename_host_dialog/rename_host_dialog.h"
#include "main/dialog/setting_dialog/setting_dialog.h"
#include "main/dialog/share_screen_dialog/share_screen_dialog.h"
#include "main/main_window/desktop_notifier.h"
#include "main/settings_keys.h"
#include "store/chat_database.h"
#include "ui/chat/input/emoji_dialog.h"
#include "ui/chat/input/input_text_edit.h"
#include "ui/chat/room/chat_room_widget.h"
#include "ui/chat/room/request_popup.h"
#include "ui/common/app_services.h"
#include "ui/files/file_management_dialog.h"
#include "ui/files/file_mgr.h"
#include "ui/files/send_single_file_dialog.h"
#include "ui/common/dpi_scale.h"
#include "ui/frameless/frameless_helper.h"
#include "ui/frameless/qss_manager.h"
#include "ui/lists/base_button.h"
#include "ui/screenshot/screen_shot_widget.h"
#include "ui/lists/chat_list.h"
#include "ui/lists/chat_list_widget.h"
#include "ui/lists/contact_list.h"
#include "ui/lists/contact_list_widget.h"
#include "ui/lists/list_text.h"

namespace {

int Scaled(double pixels) { return static_cast<int>(pixels * DpiScale()); }

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text = QString()) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setCursor(Qt::PointingHandCursor);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text = QString()) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

QWidget* MakePage(const char* name) {
  auto* page = new QWidget;
  page->setObjectName(QString::fromLatin1(name));
  return page;
}

}  // namespace

MainWindow::MainWindow(AppServices* services, ChatDatabase* database, QWidget* parent)
    : frameless::FramelessWindow(parent), services_(services), database_(database) {
  // 1. The form, flags, title and style.
  BuildForm();
  setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
  setWindowTitle(QStringLiteral("QN快信"));
  (new QssManager(this))->Apply(QStringLiteral(":/qss/main-window.css"));

  // 2. The remembered maximised state picks the button's look.
  max_btn_->setProperty("isMaximized",
                        GetBoolSetting(settings_key::kIsMaximized, settings_key::kIsMaximizedDefault));
  logo_ = QIcon(QStringLiteral(":/image/logo.png"));
  setWindowIcon(logo_);

  // 3. Sizes.
  titleBar_->setFixedHeight(Scaled(44));
  centerMiddle_->setMinimumWidth(Scaled(250));
  centerRight_->setMinimumWidth(Scaled(480));
  resize(Scaled(920), Scaled(620));
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  // 4. Connections 1-3, the conversation list and the title bar.
  connect(chatListWidget_, &ChatList::Sig_AddIntoChatRoomSW, this,
          [this](QWidget* widget) { AttachRoom(qobject_cast<ChatRoomWidget*>(widget)); });
  connect(chatListWidget_, &ChatList::Sig_AddNewMessageCount, chat_btn_,
          &BaseButton::AddNewMessageCount);
  connect(chatListWidget_, &ChatList::Sig_AddNewMessageCountIfNotChatPage, this, [this](int count) {
    if (topLevel_sw_->currentWidget() != chat_widget_) chat_btn_->AddSelectedItemNewMessageCount(count);
  });
  chatRoom_sw_->setCurrentWidget(chatRoomNullPage_);
  chatListWidget_->LoadChatList();
  InitTitle();
  InitTrayIcon();
  InitSendKeyMenu();
  InitScreenShotMenu();
  refresh_btn_1_->hide();

  // 5. Search box, local name, contacts, button group.
  host_lb_->setText(services_ ? services_->GetLocalCard().nickName : QString());
  contact_tw_->LoadContacts(services_ ? services_->GetLocalCard().uuid : QString());
  // The file manager names the sender of every file from the contacts table;
  // the local user's own files need the local card there from the start, not
  // only after the first close.
  if (database_ && services_) database_->SaveContact(services_->GetLocalCard());
  contact_sw_->setCurrentWidget(contactMainPage_);
  auto* pages = new QButtonGroup(this);
  pages->setExclusive(true);
  pages->addButton(chat_btn_);
  pages->addButton(contact_btn_);
  chat_btn_->setChecked(true);
  topLevel_sw_->setCurrentWidget(chat_widget_);
  chat_sw_->setCurrentWidget(chatListWidget_->count() > 0 ? chatMainPage_ : chatNullPage_);

  // 6. The splitter between the middle and right columns.
  QSettings settings(QStringLiteral("QN"), QStringLiteral("QNChat"));
  splitter_->restoreState(settings.value(QStringLiteral("MainWindowSplitterSize")).toByteArray());

  // 7. The search popup and the saved geometry.
  search_dialog_ = new FloatChatSearchDialog(services_, this);
  connect(search_dialog_, &FloatChatSearchDialog::sig_sendMassageTo, this,
          [this](BusinessCardInfo card) {
            search_le_->clear();
            qDebug() << "[new card]:" << card.nickName << card.device << card.remark;
            Slot_SendMessageTo(card);
          });
  search_dialog_->hide();
  restoreGeometry(settings.value(QStringLiteral("MainAppSize")).toByteArray());

  // 8. Connections 6-11.
  connect(&blink_timer_, &QTimer::timeout, this, &MainWindow::Slot_ToggleIcon);
  connect(contact_tw_, &ContactList::Sig_SendMessageTo, this, &MainWindow::Slot_SendMessageTo);
  connect(businessCardPage_, &BusinessCardWidget::Sig_SendMessageTo, this,
          &MainWindow::Slot_SendMessageTo);
  connect(RenameHostDialog::Instance(services_), &RenameHostDialog::Sig_MyHostNameChanged, this,
          [this] {
            host_lb_->setText(services_ ? services_->GetLocalCard().nickName : QString());
            if (chatRoom_sw_->currentWidget() == businessCardPage_) on_businessCard_btn_clicked();
          });
  connect(RenameHostDialog::Instance(services_), &RenameHostDialog::Sig_ContactNickNameChanged,
          contact_tw_, &ContactList::SetRemark);
  connect(RenameHostDialog::Instance(services_), &RenameHostDialog::Sig_ContactNickNameChanged,
          businessCardPage_, &BusinessCardWidget::OnContactNickNameChanged);
  connect(contact_tw_, &ContactList::Sig_ContactInfoChanged, chatListWidget_,
          &ChatList::OnContactInfoChanged);
  connect(contact_tw_, &ContactList::Sig_RemarkRequested, this,
          [this](const QString& uuid, const QString& name) {
            RenameHostDialog::Instance(services_)->OpenForRemark(uuid, name);
          });
  connect(chatListWidget_, &ChatList::Sig_AddIntoInputFormSW, this,
          [this](QWidget* widget, InputTextEdit* input) {
            inputForm_sw_->addWidget(widget);
            inputForm_sw_->setCurrentWidget(widget);
            currentInput_ = input;
            input->SetDirectSendQuery([] { return SettingDialog::Instance()->DirectSend(); });
            connect(input, &InputTextEdit::Sig_SendMessage, this, &MainWindow::on_toolSend_btn_clicked);
            connect(input, &InputTextEdit::Sig_SendFile, this, &MainWindow::OnSendFile);
          });
  connect(contact_tw_, &ContactList::Sig_RightButtonClicked, this,
          [this](QTreeWidgetItem* item) { on_contact_tw_itemClicked(item, 0); });
  emoji_btn_->setToolTip(QStringLiteral("选择表情"));
  videoChat_btn_->setToolTip(QStringLiteral("发起视频通话"));
  screenShot_btn_->setToolTip(QStringLiteral("屏幕截图"));
  chatHistory_btn_->setToolTip(QStringLiteral("查找消息记录"));
  screenShare_btn_->setToolTip(QStringLiteral("屏幕共享"));
  remoteHelp_btn_->setToolTip(QStringLiteral("远程协助"));
  // Sharing the screen works; the other three have no behaviour yet.
  remoteHelp_btn_->hide();
  videoChat_btn_->hide();
  chatHistory_btn_->hide();

  notifier_ = new DesktopNotifier(this);
  connect(notifier_, &DesktopNotifier::Sig_Activated, this, &MainWindow::OpenConversation);
  QMetaObject::connectSlotsByName(this);
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildForm() {
  setObjectName(QStringLiteral("MainWindow"));
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("centralWidget"));
  setCentralWidget(central);
  auto* root = new QVBoxLayout(central);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);

  // Title bar.
  titleBar_ = new QWidget(central);
  titleBar_->setObjectName(QStringLiteral("titleBar"));
  auto* title = new QHBoxLayout(titleBar_);
  title->setContentsMargins(Scaled(14), 0, Scaled(6), 0);
  title->setSpacing(Scaled(6));
  auto* logo = MakeLabel(titleBar_, "titleLogo_lb");
  logo->setPixmap(QPixmap(QStringLiteral(":/image/logo.png"))
                      .scaled(Scaled(22), Scaled(22), Qt::KeepAspectRatio, Qt::SmoothTransformation));
  appName_lb_ = MakeLabel(titleBar_, "appName_lb");
  title->addWidget(logo);
  title->addWidget(appName_lb_);
  title->addStretch(1);
  title->addWidget(MakeLabel(titleBar_, "labell", QStringLiteral("本机名称：")));
  host_lb_ = MakeLabel(titleBar_, "host_lb");
  title->addWidget(host_lb_);
  renameHost_btn_ = MakeButton(titleBar_, "renameHost_btn");
  renameHost_btn_->setToolTip(QStringLiteral("修改本机名称"));
  title->addWidget(renameHost_btn_);
  title->addSpacing(Scaled(12));
  min_btn_ = MakeButton(titleBar_, "min_btn");
  max_btn_ = MakeButton(titleBar_, "max_btn");
  close_btn_ = MakeButton(titleBar_, "close_btn");
  min_btn_->setToolTip(QStringLiteral("最小化"));
  max_btn_->setToolTip(QStringLiteral("最大化"));
  close_btn_->setToolTip(QStringLiteral("关闭"));
  title->addWidget(min_btn_);
  title->addWidget(max_btn_);
  title->addWidget(close_btn_);
  root->addWidget(titleBar_);

  auto* body = new QWidget(central);
  body->setObjectName(QStringLiteral("bodyWidget"));
  auto* bodyLayout = new QHBoxLayout(body);
  bodyLayout->setContentsMargins(0, 0, 0, 0);
  bodyLayout->setSpacing(0);
  root->addWidget(body, 1);

  // Left column.
  auto* left = new QWidget(body);
  left->setObjectName(QStringLiteral("widget_5"));
  left->setFixedWidth(Scaled(60));
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, Scaled(12), 0, Scaled(12));
  leftLayout->setSpacing(Scaled(8));
  chat_btn_ = new BaseButton(left);
  chat_btn_->setObjectName(QStringLiteral("chat_btn"));
  chat_btn_->setToolTip(QStringLiteral("会话"));
  contact_btn_ = new BaseButton(left);
  contact_btn_->setObjectName(QStringLiteral("contact_btn"));
  contact_btn_->setToolTip(QStringLiteral("联系人"));
  for (BaseButton* button : {chat_btn_, contact_btn_}) {
    button->setCheckable(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setFixedSize(Scaled(44), Scaled(44));
    leftLayout->addWidget(button, 0, Qt::AlignHCenter);
  }
  file_btn_ = MakeButton(left, "file_btn");
  file_btn_->setToolTip(QStringLiteral("文件管理"));
  setting_btn_ = MakeButton(left, "setting_btn");
  setting_btn_->setToolTip(QStringLiteral("设置"));
  file_btn_->setFixedSize(Scaled(44), Scaled(44));
  setting_btn_->setFixedSize(Scaled(44), Scaled(44));
  leftLayout->addWidget(file_btn_, 0, Qt::AlignHCenter);
  leftLayout->addStretch(1);
  leftLayout->addWidget(setting_btn_, 0, Qt::AlignHCenter);
  bodyLayout->addWidget(left);

  // Middle column: search box and the two list pages.
  centerMiddle_ = new QWidget;
  centerMiddle_->setObjectName(QStringLiteral("centerMiddle"));
  auto* middle = new QVBoxLayout(centerMiddle_);
  middle->setContentsMargins(0, 0, 0, 0);
  middle->setSpacing(0);
  searchBox_ = new QWidget(centerMiddle_);
  searchBox_->setObjectName(QStringLiteral("searchBox"));
  auto* searchLayout = new QHBoxLayout(searchBox_);
  searchLayout->setContentsMargins(Scaled(10), Scaled(10), Scaled(10), Scaled(10));
  search_le_ = new QLineEdit(searchBox_);
  search_le_->setObjectName(QStringLiteral("search_le"));
  search_le_->setPlaceholderText(QStringLiteral("搜索"));
  search_le_->setClearButtonEnabled(false);
  // A style-sheet text colour would paint the placeholder as dark as typed
  // text; the palette keeps the two apart.
  QPalette searchColors = search_le_->palette();
  searchColors.setColor(QPalette::Text, QColor(0x33, 0x37, 0x40));
  searchColors.setColor(QPalette::PlaceholderText, QColor(0xB1, 0xB5, 0xBB));
  search_le_->setPalette(searchColors);
  searchLayout->addWidget(search_le_);
  middle->addWidget(searchBox_);
  topLevel_sw_ = new QStackedWidget(centerMiddle_);
  topLevel_sw_->setObjectName(QStringLiteral("topLevel_sw"));
  middle->addWidget(topLevel_sw_, 1);

  chat_widget_ = MakePage("chat_widget");
  auto* chatLayout = new QVBoxLayout(chat_widget_);
  chatLayout->setContentsMargins(0, 0, 0, 0);
  chat_sw_ = new QStackedWidget(chat_widget_);
  chat_sw_->setObjectName(QStringLiteral("chat_sw"));
  chatLayout->addWidget(chat_sw_);
  chatMainPage_ = MakePage("chatMainPage");
  auto* chatMain = new QVBoxLayout(chatMainPage_);
  chatMain->setContentsMargins(0, 0, 0, 0);
  ChatRoomServices rooms;
  rooms.app = services_;
  rooms.database = database_;
  rooms.files = FileMgr::Instance();
  FileMgr::Instance()->SetDatabase(database_);
  rooms.sendDialog = SendSingleFileDialog::Instance();
  chatListWidget_ = new ChatList(rooms, chatMainPage_);
  chatMain->addWidget(chatListWidget_);
  chatNullPage_ = MakePage("chatNullPage");
  auto* chatNull = new QVBoxLayout(chatNullPage_);
  chatNull->addStretch(1);
  auto* chatHint = MakeLabel(chatNullPage_, "chatHint_lb",
                             QStringLiteral("暂无会话内容\n选择一个联系人发起聊天吧"));
  chatHint->setAlignment(Qt::AlignCenter);
  chatNull->addWidget(chatHint);
  auto* pick = MakeButton(chatNullPage_, "pickContact_btn", QStringLiteral("选择成员"));
  chatNull->addWidget(pick, 0, Qt::AlignHCenter);
  chatNull->addStretch(2);
  chat_sw_->addWidget(chatMainPage_);
  chat_sw_->addWidget(chatNullPage_);
  topLevel_sw_->addWidget(chat_widget_);

  contact_widget_ = MakePage("contact_widget");
  auto* contactLayout = new QVBoxLayout(contact_widget_);
  contactLayout->setContentsMargins(0, 0, 0, 0);
  contactLayout->setSpacing(0);
  auto* contactHeader = new QWidget(contact_widget_);
  contactHeader->setObjectName(QStringLiteral("contactHeader"));
  auto* header = new QHBoxLayout(contactHeader);
  header->setContentsMargins(Scaled(10), Scaled(4), Scaled(10), Scaled(4));
  header->addWidget(MakeLabel(contactHeader, "label_2", QStringLiteral("联系人")));
  header->addStretch(1);
  refresh_btn_1_ = MakeButton(contactHeader, "refresh_btn_1");
  header->addWidget(refresh_btn_1_);
  auto* cardButton = MakeButton(contactHeader, "businessCard_btn", QStringLiteral("我的名片"));
  cardButton->setIcon(QIcon(QStringLiteral(":/image/business_card.png")));
  cardButton->setIconSize(QSize(Scaled(14), Scaled(14)));
  auto* groupButton = MakeButton(contactHeader, "createGroup_btn", QStringLiteral("创建分组"));
  groupButton->setIcon(QIcon(QStringLiteral(":/image/add_group.png")));
  groupButton->setIconSize(QSize(Scaled(14), Scaled(14)));
  header->addWidget(cardButton);
  header->addWidget(groupButton);
  contactLayout->addWidget(contactHeader);
  contact_sw_ = new QStackedWidget(contact_widget_);
  contact_sw_->setObjectName(QStringLiteral("contact_sw"));
  contactMainPage_ = MakePage("contactMainPage");
  auto* contactMain = new QVBoxLayout(contactMainPage_);
  contactMain->setContentsMargins(0, 0, 0, 0);
  contact_tw_ = new ContactList(services_, database_, contactMainPage_);
  contactMain->addWidget(contact_tw_);
  contactNullPage_ = MakePage("contactNullPage");
  auto* contactNull = new QVBoxLayout(contactNullPage_);
  contactNull->addStretch(1);
  auto* contactHint = MakeLabel(contactNullPage_, "contactHint_lb",
                                QStringLiteral("局域网内没有发现联系人\n刷新试试"));
  contactHint->setAlignment(Qt::AlignCenter);
  contactNull->addWidget(contactHint);
  contactNull->addWidget(MakeButton(contactNullPage_, "refresh_btn_2", QStringLiteral("刷新")), 0,
                         Qt::AlignHCenter);
  contactNull->addStretch(2);
  contact_sw_->addWidget(contactMainPage_);
  contact_sw_->addWidget(contactNullPage_);
  contactLayout->addWidget(contact_sw_, 1);
  topLevel_sw_->addWidget(contact_widget_);

  // Right column: the empty page, the card page and the conversation.
  centerRight_ = new QWidget;
  centerRight_->setObjectName(QStringLiteral("centerRight"));
  auto* right = new QVBoxLayout(centerRight_);
  right->setContentsMargins(0, 0, 0, 0);
  chatRoom_sw_ = new QStackedWidget(centerRight_);
  chatRoom_sw_->setObjectName(QStringLiteral("chatRoom_sw"));
  right->addWidget(chatRoom_sw_);
  chatRoomNullPage_ = MakePage("chatRoomNullPage");
  auto* nullLayout = new QVBoxLayout(chatRoomNullPage_);
  auto* gray = MakeLabel(chatRoomNullPage_, "logo_gray_lb");
  gray->setAlignment(Qt::AlignCenter);
  gray->setPixmap(QPixmap(QStringLiteral(":/image/logo_gray.png"))
                      .scaled(Scaled(100), Scaled(100), Qt::KeepAspectRatio, Qt::SmoothTransformation));
  nullLayout->addWidget(gray);
  businessCardPage_ = new BusinessCardWidget(services_);
  businessCardPage_->setObjectName(QStringLiteral("businessCardPage"));
  chatMessagePage_ = MakePage("chatMessagePage");
  auto* messageLayout = new QVBoxLayout(chatMessagePage_);
  messageLayout->setContentsMargins(0, 0, 0, 0);
  messageLayout->setSpacing(0);
  chatMessage_sw_ = new QStackedWidget(chatMessagePage_);
  chatMessage_sw_->setObjectName(QStringLiteral("chatMessage_sw"));
  messageLayout->addWidget(chatMessage_sw_, 7);
  auto* lower = new QWidget(chatMessagePage_);
  lower->setObjectName(QStringLiteral("inputArea"));
  auto* lowerLayout = new QVBoxLayout(lower);
  lowerLayout->setContentsMargins(0, 0, Scaled(10), Scaled(10));
  lowerLayout->setSpacing(0);
  auto* toolBar = new QWidget(lower);
  toolBar->setObjectName(QStringLiteral("toolBar"));
  auto* tools = new QHBoxLayout(toolBar);
  tools->setContentsMargins(Scaled(10), Scaled(4), 0, 0);
  tools->setSpacing(Scaled(6));
  emoji_btn_ = MakeButton(toolBar, "emoji_btn");
  videoChat_btn_ = MakeButton(toolBar, "videoChat_btn");
  screenShot_btn_ = new QToolButton(toolBar);
  screenShot_btn_->setObjectName(QStringLiteral("screenShot_btn"));
  screenShot_btn_->setPopupMode(QToolButton::MenuButtonPopup);
  screenShot_btn_->setCursor(Qt::PointingHandCursor);
  screenShot_btn_->setFocusPolicy(Qt::NoFocus);
  chatHistory_btn_ = MakeButton(toolBar, "chatHistory_btn");
  screenShare_btn_ = MakeButton(toolBar, "screenShare_btn");
  screenShare_btn_->setProperty("screenSharing", false);
  remoteHelp_btn_ = MakeButton(toolBar, "remoteHelp_btn");
  for (QWidget* tool : std::initializer_list<QWidget*>{emoji_btn_, videoChat_btn_, screenShot_btn_,
                                                       chatHistory_btn_, screenShare_btn_,
                                                       remoteHelp_btn_}) {
    tool->setFixedSize(tool == screenShot_btn_ ? Scaled(40) : Scaled(28), Scaled(28));
    tools->addWidget(tool);
  }
  tools->addStretch(1);
  lowerLayout->addWidget(toolBar);
  inputForm_sw_ = new QStackedWidget(lower);
  inputForm_sw_->setObjectName(QStringLiteral("inputForm_sw"));
  lowerLayout->addWidget(inputForm_sw_, 1);
  auto* sendRow = new QHBoxLayout;
  sendRow->addStretch(1);
  toolSend_btn_ = new QToolButton(lower);
  toolSend_btn_->setObjectName(QStringLiteral("toolSend_btn"));
  toolSend_btn_->setText(QStringLiteral("发送    "));
  toolSend_btn_->setPopupMode(QToolButton::MenuButtonPopup);
  toolSend_btn_->setCursor(Qt::PointingHandCursor);
  toolSend_btn_->setFocusPolicy(Qt::NoFocus);
  sendRow->addWidget(toolSend_btn_);
  lowerLayout->addLayout(sendRow);
  messageLayout->addWidget(lower, 3);
  chatRoom_sw_->addWidget(chatRoomNullPage_);
  chatRoom_sw_->addWidget(businessCardPage_);
  chatRoom_sw_->addWidget(chatMessagePage_);

  splitter_ = new QSplitter(Qt::Horizontal, body);
  splitter_->setObjectName(QStringLiteral("centerSplitter"));
  splitter_->setHandleWidth(1);
  splitter_->setChildrenCollapsible(false);
  splitter_->addWidget(centerMiddle_);
  splitter_->addWidget(centerRight_);
  splitter_->setStretchFactor(1, 1);
  bodyLayout->addWidget(splitter_, 1);

  search_le_->addAction(QIcon(QStringLiteral(":/image/search_normal.png")), QLineEdit::LeadingPosition);
  search_clear_ = search_le_->addAction(QIcon(QStringLiteral(":/image/search_clear.png")),
                                        QLineEdit::TrailingPosition);
  search_clear_->setVisible(false);
  connect(search_clear_, &QAction::triggered, search_le_, &QLineEdit::clear);
}

void MainWindow::InitTitle() { appName_lb_->setText(QStringLiteral("QN快信")); }

void MainWindow::InitTrayIcon() {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
  tray_ = new QSystemTrayIcon(logo_, this);
  tray_->setToolTip(QStringLiteral("QNChat"));
  QAction* quit = tray_menu_.addAction(QStringLiteral("退出"));
  connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit);
  tray_->setContextMenu(&tray_menu_);
  connect(tray_, &QSystemTrayIcon::activated, this, &MainWindow::OnTrayIconActivated);
  tray_->show();
}

void MainWindow::InitSendKeyMenu() {
  QAction* enter = send_key_menu_.addAction(QStringLiteral("按 Enter 键发送消息"));
  QAction* ctrlEnter = send_key_menu_.addAction(QStringLiteral("按 Ctrl + Enter 键发送消息"));
  const QIcon checked(QStringLiteral(":/image/checked.png"));
  const bool direct = SettingDialog::Instance()->DirectSend();
  QAction* current = direct ? enter : ctrlEnter;
  send_key_menu_.setDefaultAction(current);
  current->setIcon(checked);
  auto choose = [this, enter, ctrlEnter, checked](QAction* chosen) {
    send_key_menu_.setDefaultAction(chosen);
    enter->setIcon(chosen == enter ? checked : empty_icon_);
    ctrlEnter->setIcon(chosen == ctrlEnter ? checked : empty_icon_);
    SettingDialog::Instance()->SetDirectSend(chosen == enter);
  };
  connect(enter, &QAction::triggered, this, [choose, enter] { choose(enter); });
  connect(ctrlEnter, &QAction::triggered, this, [choose, ctrlEnter] { choose(ctrlEnter); });
  toolSend_btn_->setMenu(&send_key_menu_);
}

void MainWindow::InitScreenShotMenu() {
  QAction* hide = screenshot_menu_.addAction(QStringLiteral("截图时隐藏当前窗口"));
  const QIcon checked(QStringLiteral(":/image/checked.png"));
  if (SettingDialog::Instance()->HideOnScreenShot()) {
    screenshot_menu_.setDefaultAction(hide);
    hide->setIcon(checked);
  }
  connect(hide, &QAction::triggered, this, [this, hide, checked] {
    if (screenshot_menu_.defaultAction() == hide) {
      screenshot_menu_.setDefaultAction(nullptr);
      hide->setIcon(empty_icon_);
      SettingDialog::Instance()->SetHideOnScreenShot(false);
    } else {
      screenshot_menu_.setDefaultAction(hide);
      hide->setIcon(checked);
      SettingDialog::Instance()->SetHideOnScreenShot(true);
    }
  });
  screenShot_btn_->setMenu(&screenshot_menu_);
}

QRect MainWindow::TitleBarRect() const {
  return QRect(titleBar_->mapTo(this, QPoint(0, 0)), titleBar_->size());
}

QList<QWidget*> MainWindow::TitleBarChildren() const {
  return {renameHost_btn_, min_btn_, max_btn_, close_btn_};
}

ChatRoomWidget* MainWindow::CurrentChatRoom() const {
  if (chatRoom_sw_->currentWidget() != chatMessagePage_) return nullptr;
  return qobject_cast<ChatRoomWidget*>(chatMessage_sw_->currentWidget());
}

BusinessCardInfo MainWindow::KnownCard(const QString& uuid, const QString& nickName,
                                       const QString& deviceName) const {
  if (QTreeWidgetItem* item = contact_tw_->FindContactItem(uuid)) {
    if (item->type() == ContactList::kContactItemType) return contact_tw_->CardOfItem(item);
  }
  BusinessCardInfo card;
  card.uuid = uuid;
  card.nickName = nickName;
  card.device = deviceName;
  return card;
}

ChatListItem* MainWindow::RowFor(const BusinessCardInfo& card) {
  if (ChatListItem* row = chatListWidget_->FindChatItem(card.uuid)) {
    chatListWidget_->MoveChatItemToTop(row);
    return row;
  }
  chat_sw_->setCurrentWidget(chatMainPage_);
  return chatListWidget_->AddChatItem(card);
}

void MainWindow::Alert() {
  if (!isActiveWindow()) blink_timer_.start(500);
}

void MainWindow::Update(int ut, QString nickName, QString deviceName, QString uuid, int online,
                        QString txt, QString fileName) {
  // The local user's own identity is never replaced by what a peer announces.
  if (services_ && uuid == services_->GetLocalCard().uuid) return;
  BusinessCardInfo card;
  card.uuid = uuid;
  card.nickName = nickName;
  card.device = deviceName;
  if (ut == 0) {
    QTreeWidgetItem* group = nullptr;
    if (QTreeWidgetItem* item = contact_tw_->FindContactItem(uuid);
        item && item->type() == ContactList::kContactItemType) {
      // Names and fields edited here win over what the peer announces.
      card = contact_tw_->CardOfItem(item);
      group = item->parent();
      delete contact_tw_->TakeContactItem(item);
    } else {
      contact_btn_->AddNewMessageCount(1);
    }
    contact_tw_->AddContact(card, group, false);
    if (online) {
      chatListWidget_->SetChatOnline(card, true);
    } else {
      contact_tw_->SetContactOnline(uuid, false, list_text::ShownName(card));
      chatListWidget_->SetChatOnline(card, false);
    }
    if (topLevel_sw_->currentWidget() == contact_widget_)
      contact_sw_->setCurrentWidget(contact_tw_->ContactCount() > 0 ? contactMainPage_
                                                                    : contactNullPage_);
    return;
  }
  if (ut != 1 && ut != 2) return;
  // A message from someone not yet in the tree makes them a contact too.
  if (!contact_tw_->FindContactItem(uuid)) {
    contact_btn_->AddNewMessageCount(1);
    contact_tw_->AddContact(card, nullptr, false);
  }
  card = KnownCard(uuid, nickName, deviceName);
  ChatListItem* row = RowFor(card);
  const bool text = ut == 1;
  chatListWidget_->OnChatMessage(row, txt, text ? 0 : 1, text ? QString() : fileName);
  if (!isActiveWindow() || !chatListWidget_->IsChatSelected(card))
    Notify(card, text ? list_text::Summary(txt) : QStringLiteral("[文件]：") + fileName);
}

void MainWindow::Notify(const BusinessCardInfo& card, const QString& summary) {
  if (isActiveWindow()) return;
  if (!SettingDialog::Instance()->NotificationsEnabled()) return;
  notifier_->Show(card.uuid, list_text::ShownName(card), summary, tray_);
}

void MainWindow::OpenConversation(const QString& uuid) {
  if (ChatListItem* row = chatListWidget_->FindChatItem(uuid)) {
    if (isMinimized()) showNormal(); else show();
    raise();
    activateWindow();
    ShowChatPage();
    OpenRow(row);
  }
}

void MainWindow::UpdateBusinessCard(QString nickName, QString deviceName, QString uuid, int online,
                                    QString section, QString position, QString telephone,
                                    QString email) {
  if (services_ && uuid == services_->GetLocalCard().uuid) return;
  BusinessCardInfo card;
  card.nickName = nickName;
  card.device = deviceName;
  card.uuid = uuid;
  card.online = online;
  card.section = section;
  card.position = position;
  card.telephone = telephone;
  card.email = email;
  contact_tw_->UpdateContactCard(card);
  if (QTreeWidgetItem* item = contact_tw_->FindContactItem(uuid)) card = contact_tw_->CardOfItem(item);
  businessCardPage_->UpdateCard(card);
}

void MainWindow::OnRecvShareScreenUrl(QString, QString device, QString uuid) {
  BusinessCardInfo card = KnownCard(uuid, device, device);
  ChatListItem* row = RowFor(card);
  chatListWidget_->OnChatMessage(row, QStringLiteral("[对方发起了屏幕共享]"), 2, QString());
}

void MainWindow::OnSendMessageSucceed(qlonglong seq) { emit Sig_SendMessageSucceed(seq); }

void MainWindow::OnSendMessageFailed(qlonglong seq) { emit Sig_SendMessageFailed(seq); }

void MainWindow::AttachRoom(ChatRoomWidget* room) {
  if (!room || chatMessage_sw_->indexOf(room) >= 0) return;
  chatMessage_sw_->addWidget(room);
  connect(this, &MainWindow::Sig_ResizeChatRoom, room, &ChatRoomWidget::OnNeedResize);
  connect(this, &MainWindow::Sig_SendMessageSucceed, room, &ChatRoomWidget::OnSendMessageSucceed);
  connect(this, &MainWindow::Sig_SendMessageFailed, room, &ChatRoomWidget::OnSendMessageFailed);
}

void MainWindow::OpenRow(ChatListItem* row) {
  const BusinessCardInfo card = row->Card();
  if (ChatListWidget* widget = chatListWidget_->RowWidget(row))
    widget->SetOnline(services_ && services_->IsPeerOnline(card.uuid));
  row->AddUnread(-1);
  ChatRoomWidget* room = row->Room();
  if (room) {
    qDebug() << "聊天室已创建";
  } else {
    qDebug() << "聊天室还未创建";
    room = chatListWidget_->EnsureRoom(row);
  }
  chatRoom_sw_->setCurrentWidget(chatMessagePage_);
  chatMessage_sw_->setCurrentWidget(room);
  chat_btn_->SetRememberedWidget(room);
  if (row->InputPage()) inputForm_sw_->setCurrentWidget(row->InputPage());
  currentInput_ = row->Input();
  room->OnNeedResize();
  chatListWidget_->setCurrentItem(row);
  if (currentInput_) currentInput_->setFocus();
}

void MainWindow::on_chatListWidget_itemClicked(QListWidgetItem* item) {
  if (item) OpenRow(static_cast<ChatListItem*>(item));
}

void MainWindow::ShowChatPage() {
  chat_btn_->setChecked(true);
  topLevel_sw_->setCurrentWidget(chat_widget_);
  chat_sw_->setCurrentWidget(chatMainPage_);
}

void MainWindow::ShowContactPage() {
  topLevel_sw_->setCurrentWidget(contact_widget_);
  contact_sw_->setCurrentWidget(contactMainPage_);
}

void MainWindow::Slot_SendMessageTo(BusinessCardInfo card) {
  ShowChatPage();
  ChatListItem* row = chatListWidget_->FindChatItem(card.uuid);
  if (!row) row = chatListWidget_->AddChatItem(card);
  OpenRow(row);
}

void MainWindow::TranspondFile(const QString& filePath, const BusinessCardInfo& card) {
  topLevel_sw_->setCurrentWidget(chat_widget_);
  Slot_SendMessageTo(card);
  OnSendFile({QUrl::fromLocalFile(filePath)}, true);
}

void MainWindow::on_toolSend_btn_clicked() {
  ChatRoomWidget* room = CurrentChatRoom();
  if (!room || !currentInput_) return;
  InputTextEdit* input = currentInput_;
  std::unique_ptr<qn::MsgSendCtx> ctx;
  last_notice_.clear();
  if (!input->toPlainText().isEmpty()) {
    input->WritePastedImages();
    const QString text = input->ConvertToMessageText();
    if (text.toUtf8().size() > kMaxMessageBytes) {
      // Keep what was typed: the user shortens it instead of losing it. The
      // images still go out.
      last_notice_ = QStringLiteral("消息过长，单条消息不能超过 %1 字节，请删减后再发送")
                         .arg(kMaxMessageBytes);
      const QStringList images = input->ImageList();
      if (!images.isEmpty()) {
        room->SendMessage(nullptr, images);
        RemoveImages(input, images);
      }
      auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("提示"), last_notice_,
                                  QMessageBox::Ok, this);
      box->setObjectName(QStringLiteral("tooLongNotice"));
      box->setAttribute(Qt::WA_DeleteOnClose);
      box->open();
      return;
    }
    if (!text.isEmpty() && text != QStringLiteral("<br/>"))
      ctx = std::make_unique<qn::MsgSendCtx>(text, 0);
  }
  const QStringList images = input->ImageList();
  if (!ctx && images.isEmpty()) {
    input->Clear();
    return;
  }
  room->SendMessage(std::move(ctx), images);
  input->Clear();
  if (ChatListItem* row = static_cast<ChatListItem*>(chatListWidget_->currentItem()))
    chatListWidget_->MoveChatItemToTop(row);
}

void MainWindow::OnSendFile(QList<QUrl> urls, bool directSend) {
  if (ChatRoomWidget* room = CurrentChatRoom()) room->OnSendFile(urls, directSend);
}

void MainWindow::on_search_le_textChanged(QString arg1) {
  search_clear_->setVisible(!arg1.isEmpty());
  const QString text = arg1.trimmed();
  if (text.isEmpty()) {
    search_dialog_->hide();
  } else if (search_dialog_->isHidden()) {
    PlaceSearchPopup();
    QTimer::singleShot(0, this, [this] {
      activateWindow();
      search_le_->setFocus();
    });
  }
  qDebug() << "chat" << text;
  if (!text.isEmpty() && database_) search_dialog_->SetResults(database_->SearchContacts(text));
}

void MainWindow::PlaceSearchPopup() {
  search_dialog_->move(searchBox_->mapToGlobal(QPoint(0, searchBox_->height())));
  search_dialog_->show();
}

void MainWindow::on_chat_btn_toggled(bool checked) {
  if (!checked) return;
  chat_btn_->SetSelectedItemNewMessageCount(0);
  topLevel_sw_->setCurrentWidget(chat_widget_);
  if (chatListWidget_->count() == 0) {
    chat_sw_->setCurrentWidget(chatNullPage_);
    chatRoom_sw_->setCurrentWidget(chatRoomNullPage_);
    return;
  }
  chat_sw_->setCurrentWidget(chatMainPage_);
  if (QWidget* room = chat_btn_->RememberedWidget()) {
    chatRoom_sw_->setCurrentWidget(chatMessagePage_);
    chatMessage_sw_->setCurrentWidget(room);
  } else {
    chatRoom_sw_->setCurrentWidget(chatRoomNullPage_);
  }
}

void MainWindow::on_contact_btn_toggled(bool checked) {
  if (!checked) return;
  contact_btn_->SetNewMessageCount(0);
  if (contact_tw_->ContactCount() == 0) {
    topLevel_sw_->setCurrentWidget(contact_widget_);
    contact_sw_->setCurrentWidget(contactNullPage_);
  } else {
    ShowContactPage();
  }
  if (QWidget* page = contact_btn_->RememberedWidget())
    chatRoom_sw_->setCurrentWidget(page);
  else
    chatRoom_sw_->setCurrentWidget(chatRoomNullPage_);
}

void MainWindow::on_pickContact_btn_clicked() { contact_btn_->setChecked(true); }

void MainWindow::on_refresh_btn_1_clicked() { contact_sw_->setCurrentWidget(contactMainPage_); }

void MainWindow::on_refresh_btn_2_clicked() { contact_sw_->setCurrentWidget(contactMainPage_); }

FileManagementDialog* MainWindow::FileManager() const {
  return qobject_cast<FileManagementDialog*>(file_dialog_.data());
}

TranspondContacts MainWindow::TranspondTargets() const {
  TranspondContacts targets;
  // The conversation list is newest first already.
  for (int i = 0; i < chatListWidget_->count(); ++i) {
    if (ChatListItem* row = chatListWidget_->ItemAt(i)) targets.recentChats << row->Card();
  }
  for (QTreeWidgetItemIterator it(contact_tw_); *it; ++it) {
    if ((*it)->type() == ContactList::kContactItemType)
      targets.contacts << contact_tw_->CardOfItem(*it);
  }
  AppServices* services = services_;
  targets.isOnline = [services](const QString& uuid) {
    return services && services->IsPeerOnline(uuid);
  };
  return targets;
}

void MainWindow::on_file_btn_clicked() {
  if (!file_dialog_) {
    AppServices* services = services_;
    file_dialog_ = new FileManagementDialog(
        FileMgr::Instance(), [this] { return TranspondTargets(); },
        [services](const QString& path, const BusinessCardInfo& card) {
          if (services) services->TranspondFile(path, card);
        },
        this);
  }
  if (file_dialog_->isMinimized())
    file_dialog_->showNormal();
  else
    file_dialog_->show();
  file_dialog_->raise();
  file_dialog_->activateWindow();
}

void MainWindow::on_setting_btn_clicked() { SettingDialog::Instance()->ShowDialog(); }

void MainWindow::on_renameHost_btn_clicked() {
  RenameHostDialog::Instance(services_)->OpenForLocalName(host_lb_->text());
}

void MainWindow::on_createGroup_btn_clicked() { contact_tw_->CreateGroup(); }

void MainWindow::on_businessCard_btn_clicked() {
  businessCardPage_->ShowLocalCard();
  chatRoom_sw_->setCurrentWidget(businessCardPage_);
  contact_tw_->clearSelection();
}

void MainWindow::on_contact_tw_itemClicked(QTreeWidgetItem* item, int) {
  if (!item) return;
  if (item->type() == ContactList::kGroupItemType) {
    chatRoom_sw_->setCurrentWidget(chatRoomNullPage_);
    contact_btn_->SetRememberedWidget(nullptr);
    return;
  }
  if (double_clicked_) {
    double_clicked_ = false;
    return;
  }
  const BusinessCardInfo card = contact_tw_->CardOfItem(item);
  businessCardPage_->ShowCard(card);
  chatRoom_sw_->setCurrentWidget(businessCardPage_);
  if (services_) {
    if (auto peer = services_->GetChatPeer())
      peer->RequestBusinessInfo(card.device.toStdString(), card.uuid.toStdString());
  }
  contact_btn_->SetRememberedWidget(businessCardPage_);
}

void MainWindow::on_contact_tw_itemDoubleClicked(QTreeWidgetItem* item, int) {
  if (!item || item->type() != ContactList::kContactItemType) return;
  double_clicked_ = true;
}

void MainWindow::on_close_btn_clicked() {
  search_dialog_->hide();
  if (file_dialog_) file_dialog_->close();
  close();
}

void MainWindow::on_max_btn_clicked() {
  if (isMaximized())
    showNormal();
  else
    showMaximized();
  emit Sig_ResizeChatRoom();
}

void MainWindow::on_min_btn_clicked() { showMinimized(); }

void MainWindow::on_emoji_btn_clicked() {
  if (!emoji_dialog_) emoji_dialog_ = new EmojiDialog(this);
  if (emoji_dialog_->isVisible()) {
    emoji_dialog_->hide();
    return;
  }
  // Above the button, so the faces do not cover what is being typed.
  emoji_dialog_->adjustSize();
  const QPoint corner = emoji_btn_->mapToGlobal(QPoint(0, 0));
  emoji_dialog_->ShowAt(corner - QPoint(0, emoji_dialog_->height() + 4), currentInput_);
}

void MainWindow::RemoveImages(InputTextEdit* input, const QStringList& paths) {
  // The pictures went out on their own; only the text stays for the user.
  QTextDocument* document = input->document();
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.charFormat().isImageFormat()) continue;
      if (!paths.contains(fragment.charFormat().toImageFormat().name())) continue;
      QTextCursor cursor(document);
      cursor.setPosition(fragment.position());
      cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
      cursor.removeSelectedText();
      RemoveImages(input, paths);
      return;
    }
  }
}

void MainWindow::on_videoChat_btn_clicked() {
  if (CurrentChatRoom()) qDebug() << "[视频通话]";
}

void MainWindow::on_screenShot_btn_clicked() {
  const bool hide = SettingDialog::Instance()->HideOnScreenShot();
  if (hide) showMinimized();
  // A minimised window takes a moment to leave the screen on X11; grab only
  // once it has gone, or the picture still shows it.
  QTimer::singleShot(hide ? 400 : 0, this, [this, hide] {
    auto* shot = new ScreenShotWidget;
    connect(shot, &ScreenShotWidget::Sig_ClipBoard, this, [this] {
      ChatListItem* row = static_cast<ChatListItem*>(chatListWidget_->currentItem());
      if (topLevel_sw_->currentWidget() == chat_widget_ && row && row->isSelected() && row->Input())
        row->Input()->PasteClipboardImage();
    });
    // Finished, cancelled or saved: the window comes back either way.
    connect(shot, &QObject::destroyed, this, [this, hide] {
      if (hide || isMinimized()) showNormal();
      activateWindow();
      if (currentInput_) currentInput_->setFocus();
    });
  });
}

void MainWindow::on_screenShare_btn_clicked() {
  // While a share runs the same button ends it.
  if (sharing_ || screenShare_btn_->property("screenSharing").toBool()) {
    StopShareScreen();
    return;
  }
  auto* row = static_cast<ChatListItem*>(chatListWidget_->currentItem());
  if (!row || !CurrentChatRoom()) return;
  if (!share_dialog_) {
    share_dialog_ = new ShareScreenDialog(services_, this);
    connect(share_dialog_, &ShareScreenDialog::Sig_StartShareScreen, this,
            &MainWindow::OnStartShareScreen);
  }
  share_dialog_->ShowFor(row->Card());
}

void MainWindow::OnStartShareScreen(qint64 result, BusinessCardInfo card) {
  if (result < 0) {
    last_share_error_ = ShareScreenDialog::FailureText(result);
    // A source that failed to start still holds the core's only share slot;
    // give it back, or every later share would be refused as already running.
    if (result == -3 && services_) {
      if (auto peer = services_->GetChatPeer()) peer->CloseShareScreen();
    }
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("屏幕共享"), last_share_error_,
                                QMessageBox::NoButton, this);
    box->addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    box->setObjectName(QStringLiteral("shareFailedBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return;
  }
  last_share_error_.clear();
  sharing_ = true;
  share_card_ = card;
  screenShare_btn_->setProperty("screenSharing", true);
  screenShare_btn_->setToolTip(QStringLiteral("结束屏幕共享"));
  QssManager::Repolish(screenShare_btn_);
  SetShareHints(card.uuid, QStringLiteral("屏幕共享中"));
}

void MainWindow::StopShareScreen() {
  SetShareHints(share_card_.uuid, QString());
  if (services_) {
    if (auto peer = services_->GetChatPeer()) peer->CloseShareScreen();
  }
  if (ChatListItem* row = chatListWidget_->FindChatItem(share_card_.uuid)) {
    if (row->Room())
      AddRoomNotice(row->Room(), QStringLiteral("结束了屏幕共享"),
                    QStringLiteral(":/image/screenshare_chat_end.png"));
  }
  screenShare_btn_->setProperty("screenSharing", false);
  screenShare_btn_->setToolTip(QStringLiteral("屏幕共享"));
  QssManager::Repolish(screenShare_btn_);
  sharing_ = false;
  share_card_ = BusinessCardInfo();
}

void MainWindow::OnShareClosed(QString, QString uuid) {
  ChatListItem* row = chatListWidget_->FindChatItem(uuid);
  if (!row) return;
  row->SetHint(QString());
  ChatRoomWidget* room = row->Room();
  if (!room) return;
  // An offer not yet answered is withdrawn with the share.
  const bool wasOffered = room->RequestWidget()->isVisible() || !room->HintLabel()->isHidden();
  room->RequestWidget()->hide();
  room->SetShareText(QString());
  if (wasOffered)
    AddRoomNotice(room, QStringLiteral("对方结束了屏幕共享"),
                  QStringLiteral(":/image/screenshare_chat_end.png"));
}

void MainWindow::SetShareHints(const QString& uuid, const QString& text) {
  if (uuid.isEmpty()) return;
  ChatListItem* row = chatListWidget_->FindChatItem(uuid);
  if (!row) return;
  row->SetHint(text);
  if (row->Room()) row->Room()->SetShareText(text);
}

void MainWindow::AddRoomNotice(ChatRoomWidget* room, const QString& text, const QString& icon) {
  QListWidget* list = room->MessageList();
  auto* notice = new QWidget(list);
  notice->setObjectName(QStringLiteral("shareNotice"));
  auto* layout = new QHBoxLayout(notice);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(Scaled(6));
  auto* image = MakeLabel(notice, "shareNoticeIcon_lb");
  image->setPixmap(QPixmap(icon).scaled(Scaled(16), Scaled(16), Qt::KeepAspectRatio,
                                        Qt::SmoothTransformation));
  auto* label = MakeLabel(notice, "shareNotice_lb", text);
  label->setStyleSheet(QStringLiteral("color: #9AA0AA;"));
  layout->addStretch(1);
  layout->addWidget(image);
  layout->addWidget(label);
  layout->addStretch(1);
  auto* item = new QListWidgetItem(list);
  item->setFlags(Qt::NoItemFlags);
  item->setSizeHint(QSize(0, Scaled(30)));
  list->setItemWidget(item, notice);
  list->scrollToBottom();
}

void MainWindow::Slot_ToggleIcon() {
  if (!tray_) return;
  tray_->setIcon(tray_->icon().isNull() ? logo_ : empty_icon_);
}

void MainWindow::StopAlert() {
  blink_timer_.stop();
  if (tray_) tray_->setIcon(logo_);
}

void MainWindow::OnTrayIconActivated(QSystemTrayIcon::ActivationReason reason) {
  if (blink_timer_.isActive()) StopAlert();
  if (reason == QSystemTrayIcon::DoubleClick) {
    if (isMinimized()) showNormal(); else show();
  } else if (reason == QSystemTrayIcon::Trigger) {
    if (isMinimized()) showNormal(); else { show(); activateWindow(); }
  }
}

bool MainWindow::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) StopAlert();
  return frameless::FramelessWindow::event(event);
}

void MainWindow::moveEvent(QMoveEvent* event) {
  frameless::FramelessWindow::moveEvent(event);
  if (search_dialog_ && search_dialog_->isVisible()) PlaceSearchPopup();
}

void MainWindow::showEvent(QShowEvent* event) {
  frameless::FramelessWindow::showEvent(event);
  StopAlert();
  // Hidden (to the tray) while it had the focus, the window stays Qt's focus
  // window; when it is shown and focused again Qt sees no change and reports
  // no active window, so messages would blink and notify while the user reads
  // them.
  QTimer::singleShot(0, this, [this] {
    if (isVisible() && QGuiApplication::focusWindow() == windowHandle() && !isActiveWindow())
      QApplication::setActiveWindow(this);
  });
}

void MainWindow::changeEvent(QEvent* event) {
  frameless::FramelessWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  const bool maximized = isMaximized();
  if (Helper()) Helper()->SetShadow(!maximized);
  max_btn_->setProperty("isMaximized", maximized);
  SetBoolSetting(settings_key::kIsMaximized, maximized);
  QssManager::Repolish(max_btn_);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!SettingDialog::Instance()->DirectCloseChecked() && tray_ && tray_->isVisible()) {
    hide();
    event->ignore();
    return;
  }
  if (database_ && services_) {
    database_->SaveContact(services_->GetLocalCard());
    database_->Close();
  }
  QSettings settings(QStringLiteral("QN"), QStringLiteral("QNChat"));
  settings.setValue(QStringLiteral("MainWindowSplitterSize"), splitter_->saveState());
  settings.setValue(QStringLiteral("MainAppSize"), saveGeometry());
  event->accept();
  // The program ends with its window.
  QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

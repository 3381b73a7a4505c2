// The settings dialog: options (start at logon, close behaviour, desktop
// notifications), where received files go, the about page and the feedback
// form. It also caches the two flags the send key and the screenshot menu read
// during the session.
//
// One instance serves the program (Instance(): created on first use,
// parentless, kept until exit); tests construct their own. GUI thread only;
// the feedback answer arrives by a queued call of slot_feedBack.
#pragma once

#include <QPointer>
#include <QString>
#include <functional>
#include <string>

#include "ui/frameless/frameless_dialog.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTextEdit;
class QWidget;

class SettingDialog : public frameless::FramelessDialog {
  Q_OBJECT

 public:
  // Sends one feedback (trimmed content and contact, both non-empty) and
  // answers exactly once by invoking receiver's "slot_feedBack" by name,
  // queued, from any thread.
  using FeedbackSender =
      std::function<void(const QString& content, const QString& contact, QObject* receiver)>;

  // Code of the answer given while no feedback service is wired in.
  static constexpr int kFeedbackUnavailable = -1;

  static SettingDialog* Instance();

  explicit SettingDialog(QWidget* parent = nullptr);
  ~SettingDialog() override;

  // Shows the current save directory and start-at-logon state, then the dialog.
  void ShowDialog();

  // Enter sends (true) or Ctrl+Enter sends (false). Stored as "DirectSend".
  bool DirectSend() const { return direct_send_; }
  void SetDirectSend(bool directSend);
  // Minimise the main window while taking a screenshot.
  bool HideOnScreenShot() const { return hide_on_screenshot_; }
  void SetHideOnScreenShot(bool hide);
  // "关闭主窗口时直接关闭程序": closing the main window ends the program.
  bool DirectCloseChecked() const;
  // Desktop notifications for messages that arrive while the window is not active.
  bool NotificationsEnabled() const { return notifications_; }
  void SetNotificationsEnabled(bool enabled);

  // The later feedback client installs itself here; without one the form
  // answers that feedback cannot be sent yet.
  void SetFeedbackSender(FeedbackSender sender) { feedback_sender_ = std::move(sender); }

  // The write test for a save directory: creating a file in it succeeds. A
  // file of the test's name that is already there is left untouched.
  static bool IsWritableDir(const QString& dir);

  QRect TitleBarRect() const override;
  QList<QWidget*> TitleBarChildren() const override;

 public slots:
  // The feedback answer: restores the button and tells the user.
  void slot_feedBack(bool ret, int errCode, std::string errMsg, std::string result);
  void slot_openURL(const QString& url);

  // Closing goes through the save directory's check, whatever closes it.
  void reject() override;

 protected:
  // Seams for tests: the directory chooser (empty: cancelled) and the
  // information box.
  virtual QString ChooseDirectory(const QString& start);
  virtual void ShowInformation(const QString& text);

 private slots:
  void on_autoStart_cb_toggled(bool checked);
  void on_directCloseApp_cb_toggled(bool checked);
  void on_desktopNotify_cb_toggled(bool checked);
  void on_chooseFileSavePath_btn_clicked();
  void on_openFilePath_btn_clicked();
  void on_close_btn_clicked();
  void on_commit_btn_clicked();

 private:
  void BuildForm();
  QWidget* BuildFunctionPage();
  QWidget* BuildUpdatePage();
  QWidget* BuildAboutPage();
  QWidget* BuildFeedbackPage();
  void RefreshAutoStart();

  bool direct_send_ = true;
  bool hide_on_screenshot_ = false;
  bool notifications_ = true;
  FeedbackSender feedback_sender_;

  QWidget* titleBar_ = nullptr;
  QLabel* label_4_ = nullptr;
  QPushButton* close_btn_ = nullptr;
  QPushButton* functionSet_btn_ = nullptr;
  QPushButton* aboutUs_btn_ = nullptr;
  QPushButton* feedBack_btn_ = nullptr;
  QPushButton* checkUpdate_btn_ = nullptr;
  QButtonGroup* nav_group_ = nullptr;
  QStackedWidget* stackedWidget_ = nullptr;
  QWidget* functionSet_page_ = nullptr;
  QWidget* checkUpda_page_ = nullptr;
  QWidget* aboutUs_page_ = nullptr;
  QWidget* feedback_page_ = nullptr;
  QCheckBox* autoStart_cb_ = nullptr;
  QCheckBox* directCloseApp_cb_ = nullptr;
  QCheckBox* desktopNotify_cb_ = nullptr;
  QCheckBox* checkBox_2_ = nullptr;
  QLineEdit* fileSavePath_le_ = nullptr;
  QPushButton* chooseFileSavePath_btn_ = nullptr;
  QPushButton* openFilePath_btn_ = nullptr;
  QLabel* label_3_ = nullptr;
  QComboBox* syncMessage_cb_ = nullptr;
  QTextEdit* feedback_te_ = nullptr;
  QLineEdit* contact_le_ = nullptr;
  QPushButton* commit_btn_ = nullptr;
};

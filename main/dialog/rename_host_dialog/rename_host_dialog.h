// The small dialog that renames the local user (mode 1) or sets the remark
// the local user keeps for a contact (mode 2).
//
// One instance serves the program (Instance(): created on first use,
// parentless, hidden between uses); tests construct their own. GUI thread only.
#pragma once

#include <QString>

#include "ui/frameless/frameless_dialog.h"

class AppServices;
class QLabel;
class QLineEdit;
class QPushButton;

class RenameHostDialog : public frameless::FramelessDialog {
  Q_OBJECT

 public:
  enum Mode { kLocalName = 1, kRemark = 2 };

  // Longest name or remark accepted from the editor.
  static constexpr int kMaxNameLength = 32;

  // The program's instance; `services` is used on the first call only.
  static RenameHostDialog* Instance(AppServices* services);

  // `services` gives the local card (not owned; must outlive the dialog).
  explicit RenameHostDialog(AppServices* services, QWidget* parent = nullptr);
  ~RenameHostDialog() override;

  // Title "本机名称", the editor holding `current`.
  void OpenForLocalName(const QString& current);
  // Title "备注昵称", the editor holding the contact's shown name.
  void OpenForRemark(const QString& uuid, const QString& current);

  Mode mode() const { return mode_; }

  // The editor's text as it is stored: every blank removed.
  static QString CleanName(const QString& typed);

  QRect TitleBarRect() const override;
  QList<QWidget*> TitleBarChildren() const override;

 signals:
  void Sig_MyHostNameChanged();
  // An empty name clears the remark.
  void Sig_ContactNickNameChanged(QString uuid, QString name);

 private slots:
  void on_confirm_btn_clicked();
  void on_cancel_btn_clicked();

 private:
  void Open(const QString& title, const QString& current);

  AppServices* const services_;
  Mode mode_ = kLocalName;
  QString uuid_;  // the contact of mode 2

  QWidget* titleMainWidget_ = nullptr;
  QLabel* title_lb_ = nullptr;
  QPushButton* close_btn_ = nullptr;
  QLineEdit* rename_le_ = nullptr;
  QPushButton* cancel_btn_ = nullptr;
  QPushButton* confirm_btn_ = nullptr;
};

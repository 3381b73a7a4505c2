// Asks before the local user shares the whole screen with one contact:
// "向 <name> 共享屏幕", the mode buttons (only "全屏" is offered), "取消" and
// "发起屏幕共享". Starting calls the chat core's ShareScreen and reports its
// result; the main window (which makes it on first use and keeps it) records
// the share. GUI thread only.
#pragma once

#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>

#include "store/business_card_info.h"
#include "ui/frameless/frameless_dialog.h"

class AppServices;

class ShareScreenDialog : public frameless::FramelessDialog {
  Q_OBJECT

 public:
  // services gives the chat core (not owned; outlives the dialog).
  explicit ShareScreenDialog(AppServices* services, QWidget* parent = nullptr);

  // Keeps card, names it (remark when set, else nick name) and shows the dialog.
  void ShowFor(const BusinessCardInfo& card);
  BusinessCardInfo Card() const { return card_; }

  // What a negative ShareScreen result means to the user; empty for others.
  static QString FailureText(qint64 result);

  QLabel* NameLabel() const { return name_lb_; }
  QPushButton* ShareButton() const { return share_btn_; }
  QPushButton* CancelButton() const { return cancel_btn_; }
  QPushButton* AllAreaButton() const { return allArea_btn_; }
  QPushButton* PartAreaButton() const { return partArea_btn_; }

  QRect TitleBarRect() const override;
  QList<QWidget*> TitleBarChildren() const override;

 signals:
  // The share was asked of the core; result is its answer (a sequence
  // number, or -1 peer gone, -2 a share already runs, -3 no screen source,
  // -4 no chat core).
  void Sig_StartShareScreen(qint64 result, BusinessCardInfo card);

 private slots:
  void on_cancel_btn_clicked();
  void on_share_btn_clicked();
  void on_allArea_btn_toggled(bool checked);
  void on_partArea_btn_toggled(bool checked);

 private:
  AppServices* const services_;
  BusinessCardInfo card_;
  QWidget* title_widget_ = nullptr;
  QPushButton* close_btn_ = nullptr;
  QLabel* name_lb_ = nullptr;
  QPushButton* allArea_btn_ = nullptr;
  QPushButton* partArea_btn_ = nullptr;
  QButtonGroup* mode_group_ = nullptr;
  QPushButton* cancel_btn_ = nullptr;
  QPushButton* share_btn_ = nullptr;
};

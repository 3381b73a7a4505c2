// The bar at the top of a conversation that offers the contact's screen
// share: accept opens it through the application, reject only hides the bar.
// One per room, inside its message area. GUI thread only.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>

class AppServices;

class RequestPopup : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kShareScreen = 2;

  // services is not owned and outlives the bar; it may be null (nothing opens).
  explicit RequestPopup(AppServices* services, QWidget* parent = nullptr);

  // Shows text with the two buttons and raises the bar above the messages.
  void ShowRequest(int kind, const QString& text);
  int Kind() const { return kind_; }
  QLabel* MessageLabel() const { return message_lb_; }
  QPushButton* AcceptButton() const { return accept_btn_; }
  QPushButton* RejectButton() const { return reject_btn_; }

 signals:
  void Sig_AcceptedScreenShare();

 private slots:
  void on_reject_btn_clicked();
  void on_accept_btn_clicked();

 private:
  AppServices* services_;
  int kind_ = 0;
  QLabel* message_lb_ = nullptr;
  QPushButton* reject_btn_ = nullptr;
  QPushButton* accept_btn_ = nullptr;
};

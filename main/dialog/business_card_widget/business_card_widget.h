// The business card page of the main window: a contact's card (read-only,
// with "发消息") or the local user's own card (editable, with "保存" and the
// rename button). Everything a peer sends is shown as plain text.
//
// Built by the main window with the application's services (not owned; must
// outlive the page). GUI thread only.
#pragma once

#include <QString>

#include "store/business_card_info.h"

#include <QWidget>

class AppServices;
class QLabel;
class QLineEdit;
class QPushButton;

class BusinessCardWidget : public QWidget {
  Q_OBJECT

 public:
  // Longest value the local user may type into a field.
  static constexpr int kMaxFieldLength = 64;

  explicit BusinessCardWidget(AppServices* services, QWidget* parent = nullptr);
  ~BusinessCardWidget() override;

  // The local card, editable.
  void ShowLocalCard();
  // A contact's card, read-only.
  void ShowCard(const BusinessCardInfo& card);
  // A contact announced a new card: shown again if it is the one on the page.
  // The remark is the local user's own and is kept.
  void UpdateCard(const BusinessCardInfo& card);

  // "nick (remark)" when there is a remark, else the nick name.
  static QString NameText(const BusinessCardInfo& card);
  // A field as it is stored: every blank removed.
  static QString CleanField(const QString& typed);

  bool ShowsLocalCard() const { return local_; }
  const BusinessCardInfo& card() const { return card_; }

 signals:
  void Sig_SendMessageTo(BusinessCardInfo card);

 public slots:
  // The remark of a contact changed (an empty one was removed).
  void OnContactNickNameChanged(const QString& uuid, const QString& name);

 private slots:
  void on_sendTo_btn_clicked();
  void on_saveCard_btn_clicked();
  void on_renameHost_btn_clicked();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Show(const BusinessCardInfo& card, bool local);
  void ElideName();
  void UpdateSaveButton();

  AppServices* const services_;
  BusinessCardInfo card_;
  bool local_ = false;
  QString full_name_;  // name_lb_ shows it elided to its width

  QWidget* card_widget_ = nullptr;
  QLabel* headPortrait_lb_ = nullptr;
  QLabel* name_lb_ = nullptr;
  QPushButton* renameHost_btn_ = nullptr;
  QLineEdit* section_le_ = nullptr;
  QLineEdit* position_le_ = nullptr;
  QLineEdit* telephone_le_ = nullptr;
  QLineEdit* email_le_ = nullptr;
  QPushButton* sendTo_btn_ = nullptr;
  QPushButton* saveCard_btn_ = nullptr;
};

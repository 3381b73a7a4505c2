// A contact row of the forwarding dialog: avatar, shown name (plain text) and
// either a round check button (the lists to choose from) or a remove button
// (the "转发给" list). GUI thread only.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "store/business_card_info.h"

class ContactSelectWidget : public QWidget {
  Q_OBJECT

 public:
  enum class Mode { kSelect, kSelected };

  ContactSelectWidget(const BusinessCardInfo& card, bool online, Mode mode,
                      QWidget* parent = nullptr);

  BusinessCardInfo Card() const { return card_; }
  bool IsChecked() const { return pushButton_selected_->isChecked(); }
  // Sets the check without announcing it (the dialog keeps rows of one
  // contact in both lists alike).
  void SetChecked(bool checked);
  // Flips the check and announces it, as a click on the row does.
  void Toggle();
  QLabel* NameLabel() const { return name_lb_; }
  QPushButton* SelectButton() const { return pushButton_selected_; }
  QPushButton* DeleteButton() const { return pushButton_delete_; }

 signals:
  void sig_transpondSelected(bool state, BusinessCardInfo card);

 private:
  BusinessCardInfo card_;
  QLabel* label_headPortrait_ = nullptr;
  QLabel* name_lb_ = nullptr;
  QPushButton* pushButton_selected_ = nullptr;
  QPushButton* pushButton_delete_ = nullptr;
};

// Lets the user choose which local IPv4 address the messenger uses. Filled
// from the addresses its caller passes (ChatPeer::LocalAddresses()); emits the
// choice and closes. GUI thread only.
#pragma once

#include <QString>
#include <QStringList>

#include "ui/frameless/frameless_dialog.h"

class QComboBox;
class QLabel;
class QPushButton;

class IpSelectorDialog : public frameless::FramelessDialog {
  Q_OBJECT

 public:
  explicit IpSelectorDialog(const QStringList& addresses, QWidget* parent = nullptr);
  ~IpSelectorDialog() override;

  // The addresses offered: dotted IPv4 texts in their given order, each
  // once; anything else is dropped.
  static QStringList UsableAddresses(const QStringList& addresses);

  QString SelectedIp() const { return selected_; }

  QRect TitleBarRect() const override;
  QList<QWidget*> TitleBarChildren() const override;

 signals:
  void Sig_IpSelected(QString ip);

 private slots:
  void on_confirm_btn_clicked();
  void on_ipSelect_cbb_currentIndexChanged(const QString& arg1);

 private:
  QString selected_;

  QWidget* titleMainWidget_ = nullptr;
  QLabel* title_lb_ = nullptr;
  QPushButton* close_btn_ = nullptr;
  QLabel* label_ = nullptr;
  QComboBox* ipSelect_cbb_ = nullptr;
  QPushButton* confirm_btn_ = nullptr;
};

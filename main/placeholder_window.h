// The window ChatApp shows until the real main window exists: it has the
// slots ChatApp invokes by name and lists every call it receives as plain
// text, so the application's wiring can be seen and tested. GUI thread only.
#pragma once

#include <QString>
#include <QVariantList>
#include <QWidget>
#include <vector>

#include "store/business_card_info.h"

class QLabel;
class QPlainTextEdit;

class PlaceholderWindow : public QWidget {
  Q_OBJECT

 public:
  struct Invocation {
    QString slot;       // "Update", "UpdateBusinessCard", "Alert", "TranspondFile"
    QVariantList args;  // the arguments in order
  };

  explicit PlaceholderWindow(QWidget* parent = nullptr);

  // Every call received so far, oldest first.
  const std::vector<Invocation>& invocations() const { return invocations_; }

 public slots:
  void Update(int kind, QString nickName, QString deviceName, QString uuid, int online,
              QString txt, QString fileName);
  void UpdateBusinessCard(QString nickName, QString deviceName, QString uuid, int online,
                          QString section, QString position, QString telephone, QString email);
  void Alert();
  void TranspondFile(QString filePath, BusinessCardInfo card);

 signals:
  // After each recorded call.
  void Sig_Invoked(QString slot);

 private:
  void Record(const QString& slot, const QVariantList& args, const QString& line);

  QLabel* status_label_ = nullptr;
  QPlainTextEdit* log_view_ = nullptr;
  std::vector<Invocation> invocations_;
  int alerts_ = 0;
};

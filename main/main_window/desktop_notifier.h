// Desktop notifications for messages that arrive while the main window is not
// active, through the desktop's notification service
// (org.freedesktop.Notifications on the session bus). Activating a
// notification reports the contact it was about. Without a notification
// service the tray's own message balloon is used, or nothing is shown.
//
// Every bus call is asynchronous: a slow or missing service never holds up
// the interface. Owned by the main window; GUI thread only.
#pragma once

#include <QDBusContext>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QDBusPendingCallWatcher;
class QSystemTrayIcon;

class DesktopNotifier : public QObject, protected QDBusContext {
  Q_OBJECT

 public:
  explicit DesktopNotifier(QObject* parent);
  ~DesktopNotifier() override;

  // Shows (or replaces) the notification of contact uuid: title is the
  // contact's shown name, body the message summary as plain text. fallback
  // (may be null) shows it when there is no notification service.
  void Show(const QString& uuid, const QString& title, const QString& body,
            QSystemTrayIcon* fallback);

  // Plain text as the notification body, which a service announcing
  // "body-markup" reads as markup.
  static QString EscapeBody(const QString& text);

 signals:
  // The user activated the notification of contact uuid.
  void Sig_Activated(QString uuid);

 private slots:
  void OnActionInvoked(uint id, const QString& action);
  void OnNotificationClosed(uint id, uint reason);
  void OnTrayMessageClicked();

 private:
  struct Request {
    QString uuid;
    QString title;
    QString body;
    QPointer<QSystemTrayIcon> fallback;
  };
  // Per contact: the service's id of its notification on screen (0: none)
  // and, while a Notify for it is under way, the newest request after it.
  struct Shown {
    uint id = 0;
    bool pending = false;
    bool has_next = false;
    Request next;
  };

  void AskCapabilities();
  void OnCapabilities(QDBusPendingCallWatcher* watcher);
  void Send(const Request& request);
  void OnNotifyReply(QDBusPendingCallWatcher* watcher, const QString& uuid);
  void Fallback(const Request& request);

  bool connected_ = false;
  // Capabilities: unknown until the first answer; the requests made
  // meanwhile wait for it.
  bool caps_known_ = false;
  bool caps_asked_ = false;
  bool body_markup_ = false;
  QList<Request> waiting_;
  // The unique bus name of the service that answered, so that only it can
  // activate a conversation.
  QString service_owner_;
  QHash<QString, Shown> shown_;
  QHash<uint, QString> uuid_of_id_;
  QString last_fallback_uuid_;
};

#include "main/main_window/desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDebug>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr char kInterface[] = "org.freedesktop.Notifications";
constexpr char kAppName[] = "QN快信";
constexpr char kAppIcon[] = "qnchat";
constexpr char kDefaultAction[] = "default";
// A service that does not answer in this time counts as absent.
constexpr int kCallTimeoutMs = 5000;
constexpr int kTrayMessageMs = 5000;

QDBusMessage Call(const char* method) {
  return QDBusMessage::createMethodCall(QLatin1String(kService), QLatin1String(kPath),
                                        QLatin1String(kInterface), QLatin1String(method));
}

}  // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  connected_ = bus.isConnected();
  if (!connected_) return;
  // No sender name in the match: naming the service here would make Qt look
  // up its owner synchronously. The slots check the sender instead.
  bus.connect(QString(), QLatin1String(kPath), QLatin1String(kInterface),
              QStringLiteral("ActionInvoked"), this, SLOT(OnActionInvoked(uint, QString)));
  bus.connect(QString(), QLatin1String(kPath), QLatin1String(kInterface),
              QStringLiteral("NotificationClosed"), this, SLOT(OnNotificationClosed(uint, uint)));
}

DesktopNotifier::~DesktopNotifier() = default;

QString DesktopNotifier::EscapeBody(const QString& text) { return text.toHtmlEscaped(); }

void DesktopNotifier::Show(const QString& uuid, const QString& title, const QString& body,
                           QSystemTrayIcon* fallback) {
  Request request{uuid, title, body, QPointer<QSystemTrayIcon>(fallback)};
  if (!connected_) {
    Fallback(request);
    return;
  }
  if (!caps_known_) {
    waiting_.append(request);
    AskCapabilities();
    return;
  }
  Send(request);
}

void DesktopNotifier::AskCapabilities() {
  if (caps_asked_) return;
  caps_asked_ = true;
  auto* watcher = new QDBusPendingCallWatcher(
      QDBusConnection::sessionBus().asyncCall(Call("GetCapabilities"), kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::OnCapabilities);
}

void DesktopNotifier::OnCapabilities(QDBusPendingCallWatcher* watcher) {
  watcher->deleteLater();
  caps_asked_ = false;
  QDBusPendingReply<QStringList> reply = *watcher;
  const QList<Request> waiting = waiting_;
  waiting_.clear();
  if (reply.isError()) {
    // No service (or a broken one): asked again with the next message, since
    // a notification service may start later in the session.
    qDebug() << "[desktop notification] no service:" << reply.error().name();
    for (const Request& request : waiting) Fallback(request);
    return;
  }
  caps_known_ = true;
  body_markup_ = reply.value().contains(QStringLiteral("body-markup"));
  for (const Request& request : waiting) Send(request);
}

void DesktopNotifier::Send(const Request& request) {
  Shown& shown = shown_[request.uuid];
  if (shown.pending) {
    // Its id is not known yet; the newest text follows once it is.
    shown.has_next = true;
    shown.next = request;
    return;
  }
  shown.pending = true;
  QDBusMessage message = Call("Notify");
  QVariantMap hints;
  hints.insert(QStringLiteral("category"), QStringLiteral("im.received"));
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("QNChat"));
  message << QString::fromUtf8(kAppName) << shown.id << QLatin1String(kAppIcon) << request.title
          << (body_markup_ ? EscapeBody(request.body) : request.body)
          << QStringList{QLatin1String(kDefaultAction), QStringLiteral("打开")} << hints
          << qint32(-1);
  auto* watcher = new QDBusPendingCallWatcher(
      QDBusConnection::sessionBus().asyncCall(message, kCallTimeoutMs), this);
  // Kept for the fallback should the service have gone meanwhile.
  const Request copy = request;
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, copy](QDBusPendingCallWatcher* w) {
            QDBusPendingReply<uint> reply = *w;
            if (reply.isError()) {
              caps_known_ = false;
              Fallback(copy);
            }
            OnNotifyReply(w, copy.uuid);
          });
}

void DesktopNotifier::OnNotifyReply(QDBusPendingCallWatcher* watcher, const QString& uuid) {
  watcher->deleteLater();
  QDBusPendingReply<uint> reply = *watcher;
  Shown& shown = shown_[uuid];
  shown.pending = false;
  if (!reply.isError()) {
    if (shown.id != 0 && shown.id != reply.value()) uuid_of_id_.remove(shown.id);
    shown.id = reply.value();
    uuid_of_id_.insert(shown.id, uuid);
    service_owner_ = reply.reply().service();
  } else {
    if (shown.id != 0) uuid_of_id_.remove(shown.id);
    shown.id = 0;
  }
  if (shown.has_next) {
    shown.has_next = false;
    const Request next = shown.next;
    shown.next = Request();
    if (caps_known_)
      Send(next);
    else
      Show(next.uuid, next.title, next.body, next.fallback);
  }
}

void DesktopNotifier::Fallback(const Request& request) {
  QSystemTrayIcon* tray = request.fallback.data();
  if (!tray) return;
  last_fallback_uuid_ = request.uuid;
  connect(tray, &QSystemTrayIcon::messageClicked, this, &DesktopNotifier::OnTrayMessageClicked,
          Qt::UniqueConnection);
  tray->showMessage(request.title, request.body, QSystemTrayIcon::Information, kTrayMessageMs);
}

void DesktopNotifier::OnTrayMessageClicked() {
  if (!last_fallback_uuid_.isEmpty()) emit Sig_Activated(last_fallback_uuid_);
}

void DesktopNotifier::OnActionInvoked(uint id, const QString& action) {
  if (calledFromDBus() && message().service() != service_owner_) return;
  if (action != QLatin1String(kDefaultAction)) return;
  const QString uuid = uuid_of_id_.value(id);
  if (!uuid.isEmpty()) emit Sig_Activated(uuid);
}

void DesktopNotifier::OnNotificationClosed(uint id, uint reason) {
  Q_UNUSED(reason);
  if (calledFromDBus() && message().service() != service_owner_) return;
  const QString uuid = uuid_of_id_.take(id);
  if (uuid.isEmpty()) return;
  auto it = shown_.find(uuid);
  if (it != shown_.end() && it->id == id) it->id = 0;
}

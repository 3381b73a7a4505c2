#include "support/qt/dbus_mock.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include "support/qt/app_wait.h"

namespace qnchat_test {

bool HasDbusService(const QString& service) {
  return QDBusConnection::sessionBus().interface()->isServiceRegistered(service);
}

std::unique_ptr<ChildProcess> StartDbusMock(const std::vector<std::string>& args,
                                            const QString& service, int timeout_ms) {
  std::vector<std::string> all = {"/usr/bin/python3", "-m", "dbusmock"};
  all.insert(all.end(), args.begin(), args.end());
  QDBusServiceWatcher watcher(service, QDBusConnection::sessionBus(),
                              QDBusServiceWatcher::WatchForRegistration);
  bool registered = false;
  QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, [&] { registered = true; });
  auto child = std::make_unique<ChildProcess>(all);
  if (!RunUntil([&] { return registered || HasDbusService(service); }, timeout_ms)) return nullptr;
  return child;
}

void StopDbusMock(std::unique_ptr<ChildProcess>& mock, const QString& service, int timeout_ms) {
  QDBusServiceWatcher watcher(service, QDBusConnection::sessionBus(),
                              QDBusServiceWatcher::WatchForUnregistration);
  bool gone = false;
  QObject::connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, [&] { gone = true; });
  mock.reset();
  RunUntil([&] { return gone || !HasDbusService(service); }, timeout_ms);
}

QDBusMessage DbusMockCall(const QString& service, const QString& path, const QString& method,
                          const QVariantList& args) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      service, path, QStringLiteral("org.freedesktop.DBus.Mock"), method);
  call.setArguments(args);
  return QDBusConnection::sessionBus().call(call);
}

QList<QVariantList> DbusMockMethodCalls(const QString& service, const QString& path,
                                        const QString& method) {
  const QDBusMessage reply =
      DbusMockCall(service, path, QStringLiteral("GetMethodCalls"), {method});
  QList<QVariantList> calls;
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return calls;
  const QDBusArgument list = reply.arguments().at(0).value<QDBusArgument>();
  list.beginArray();
  while (!list.atEnd()) {
    // (t timestamp, av arguments)
    list.beginStructure();
    quint64 time;
    QVariantList args;
    list >> time >> args;
    list.endStructure();
    for (QVariant& a : args) {
      if (a.canConvert<QDBusVariant>()) a = a.value<QDBusVariant>().variant();
      if (a.userType() == qMetaTypeId<QDBusArgument>()) {
        const QDBusArgument inner = a.value<QDBusArgument>();
        if (inner.currentType() == QDBusArgument::ArrayType &&
            inner.currentSignature() == QLatin1String("as")) {
          QStringList strings;
          inner >> strings;
          a = strings;
        }
      }
    }
    calls << args;
  }
  list.endArray();
  return calls;
}

}  // namespace qnchat_test

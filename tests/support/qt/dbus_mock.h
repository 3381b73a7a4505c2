// A service played by python3-dbusmock on the test's session bus (see
// support/child_process.h for the private bus), and what it was called with.
// Called on the GUI thread (waits run its event loop).
#pragma once

#include <QDBusMessage>
#include <QList>
#include <QString>
#include <QVariantList>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace qnchat_test {

// Starts "python3 -m dbusmock" with args and waits (up to timeout_ms) until
// service is on the session bus; null when it did not come.
std::unique_ptr<ChildProcess> StartDbusMock(const std::vector<std::string>& args,
                                            const QString& service, int timeout_ms);
// Stops the mock and waits (up to timeout_ms) until service has left the bus.
void StopDbusMock(std::unique_ptr<ChildProcess>& mock, const QString& service, int timeout_ms);
bool HasDbusService(const QString& service);

// A call of the mock's control interface (org.freedesktop.DBus.Mock).
QDBusMessage DbusMockCall(const QString& service, const QString& path, const QString& method,
                          const QVariantList& args = QVariantList());
// The argument lists of every call of method the mock received, oldest first;
// variants unwrapped, string arrays as QStringList.
QList<QVariantList> DbusMockMethodCalls(const QString& service, const QString& path,
                                        const QString& method);

}  // namespace qnchat_test

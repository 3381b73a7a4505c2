#include "ui/frameless/compositing.h"

#include <QGuiApplication>
#include <QString>
#include <string>

// Xlib after Qt: its macros (None, Bool, Status) would break Qt's headers.
#include <X11/Xlib.h>

namespace frameless {

bool CompositingManagerRunning() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return true;
  // A connection of its own, opened once: Qt's is not reachable through
  // public headers. Asked on each show, since a compositor may come and go.
  static Display* const display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display));
  const Atom selection = XInternAtom(display, name.c_str(), False);
  return XGetSelectionOwner(display, selection) != 0L;
}

}  // namespace frameless

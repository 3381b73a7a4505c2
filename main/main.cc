#include <X11/Xlib.h>

#include "main/app_entry.h"
#include "main/main_window/feedback_sender.h"
#include "main/main_window/main_window_factory.h"

int main(int argc, char** argv) {
  // The video window talks to X from its own thread with its own connection;
  // Xlib must be made thread-safe before any connection exists.
  XInitThreads();
  return AppMain(argc, argv, [](ChatApp* app) {
    InstallFeedbackSender();
    return CreateMainWindow(app);
  });
}

#include "main/main_window/main_window_factory.h"

#include "main/chat_app.h"
#include "main/main_window/main_window.h"
#include "store/chat_database.h"

QWidget* CreateMainWindow(ChatApp* app) {
  auto* window = new MainWindow(app, ChatDatabase::Instance());
  QObject::connect(app, &ChatApp::Sig_SendMessageSucceed, window,
                   &MainWindow::OnSendMessageSucceed);
  QObject::connect(app, &ChatApp::Sig_SendMessageFailed, window, &MainWindow::OnSendMessageFailed);
  // A peer's share offer shows in its conversation with the request bar; its
  // end clears what the offer left there.
  QObject::connect(app, &ChatApp::Sig_RecvShareScreenUrl, window,
                   &MainWindow::OnRecvShareScreenUrl);
  QObject::connect(app, &ChatApp::Sig_ShareClosed, window, &MainWindow::OnShareClosed);
  return window;
}

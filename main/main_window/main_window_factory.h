// Makes the real main window for the application object and joins the
// application's signals to it. GUI thread.
#pragma once

class ChatApp;
class QWidget;

QWidget* CreateMainWindow(ChatApp* app);

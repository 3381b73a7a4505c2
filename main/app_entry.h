// The program's start-up sequence, in order: elevation check and hand-over,
// the single-instance lock, the support library, hooks and log sink, then
// RunApplication.
#pragma once

#include <functional>

class ChatApp;
class QWidget;

// Makes the program's main window for the application object; the executable
// passes the real window's maker (the shell itself does not know the window).
using MainWindowMaker = std::function<QWidget*(ChatApp* app)>;

// The process entry; returns the exit code. Without a maker the application
// shows its placeholder window.
int AppMain(int argc, char** argv, MainWindowMaker maker = {});

// The second stage: application information, the application object, the
// default font and the Qt event loop.
int RunApplication(int argc, char** argv, const MainWindowMaker& maker = {});

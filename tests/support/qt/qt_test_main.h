// Shared by the Qt test programs (linked through qnchat_add_test's QT flag).
#pragma once

#include <QApplication>

// Creates the application object the tests run in. The default makes a plain
// QApplication; a test program that needs its own subclass (the chat
// application) defines this function and the linker takes that one.
QApplication* CreateTestApplication(int& argc, char** argv);

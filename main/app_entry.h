// The program's start-up sequence, in order: elevation check and hand-over,
// the single-instance lock, the support library, hooks and log sink, then
// RunApplication.
#pragma once

// The process entry; returns the exit code.
int AppMain(int argc, char** argv);

// The second stage: application information, the application object, the
// default font and the Qt event loop.
int RunApplication(int argc, char** argv);

// The factor by which every fixed pixel size of the interface is multiplied.
#pragma once

// Logical dots per inch of the primary screen divided by 96. Computed on the
// first call (which needs a QGuiApplication) and reused afterwards, so a
// screen change while running does not resize fixed layouts halfway. 1.0 when
// no screen is there. GUI thread.
double DpiScale();

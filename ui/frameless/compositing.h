// Whether translucent window pixels are blended with what lies below. On X11
// that takes a compositing manager; without one the shadow band of a
// frameless window would show as a black frame. GUI thread only.
#pragma once

namespace frameless {

// True on platforms other than xcb, and on xcb while some client owns the
// compositing manager selection of the default screen.
bool CompositingManagerRunning();

}  // namespace frameless

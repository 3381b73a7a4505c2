#include "media/screen_capturer_x11.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <set>

#include "base/log.h"
#include "media/desktop_frame_x11.h"

namespace chat_capture {

// A shared-memory image. The client mapping goes with this object; the
// server's attachment is dropped by the capturer (or with its connection).
class ShmImage {
 public:
  ShmImage() { info_.shmid = -1; }
  ~ShmImage() {
    if (image_) image_->data = nullptr;  // not Xlib's to free
    image_.reset();
    if (info_.shmaddr) shmdt(info_.shmaddr);
  }
  ShmImage(const ShmImage&) = delete;
  ShmImage& operator=(const ShmImage&) = delete;

  XShmSegmentInfo info_{};
  XImagePtr image_;
};

namespace {

// Xlib reports protocol errors through one process-wide handler whose default
// ends the process. Failing requests of the capturer run inside this trap,
// which records the error instead; the mutex keeps two capturers from
// installing it over each other.
class XErrorTrap {
 public:
  explicit XErrorTrap(Display* display) : display_(display), lock_(Mutex()) {
    last_error_ = 0;
    previous_ = XSetErrorHandler(&XErrorTrap::Handle);
  }
  ~XErrorTrap() { XSetErrorHandler(previous_); }

  // Waits for the server to process every request so far; true when one of
  // them failed since the trap was set.
  bool SyncAndCheck() {
    XSync(display_, False);
    return last_error_ != 0;
  }
  int error() const { return last_error_; }

 private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static int Handle(Display*, XErrorEvent* event) {
    last_error_ = event->error_code;
    return 0;
  }

  static int last_error_;  // guarded by Mutex()
  Display* display_;
  std::lock_guard<std::mutex> lock_;
  XErrorHandler previous_;
};

int XErrorTrap::last_error_ = 0;

// Xlib reports a broken connection first to one process-wide handler, whose
// default ends the process, and only then to the display's own exit handler.
// For the capturers' displays this handler returns, so the display's exit
// handler can mark its capturer failed; every other display of the process
// (a toolkit's, say) still goes to the handler installed before.
class ConnectionLossHandler {
 public:
  // Call after opening the display. Installs the handler again when someone
  // replaced it meanwhile, keeping theirs as the one to pass others to.
  static void Add(Display* display) {
    std::lock_guard<std::mutex> lock(Mutex());
    Displays().insert(display);
    XIOErrorHandler current = XSetIOErrorHandler(&ConnectionLossHandler::Handle);
    if (current != &ConnectionLossHandler::Handle) Previous() = current;
  }
  // Call after closing the display: a connection that breaks while closing
  // still reaches the handler.
  static void Remove(Display* display) {
    std::lock_guard<std::mutex> lock(Mutex());
    Displays().erase(display);
  }

 private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::set<Display*>& Displays() {  // guarded by Mutex()
    static std::set<Display*> displays;
    return displays;
  }
  static XIOErrorHandler& Previous() {  // guarded by Mutex()
    static XIOErrorHandler previous = nullptr;
    return previous;
  }
  static int Handle(Display* display) {
    XIOErrorHandler previous;
    {
      std::lock_guard<std::mutex> lock(Mutex());
      if (Displays().count(display)) return 0;
      previous = Previous();
    }
    return previous ? previous(display) : 0;
  }
};

// The encoder reads blue, green, red, unused in memory order.
bool IsBgrx(const XImage& image) {
  return image.bits_per_pixel == 32 && image.byte_order == LSBFirst && image.red_mask == 0xFF0000 &&
         image.green_mask == 0xFF00 && image.blue_mask == 0xFF;
}

void LogUnsupportedFormat(const XImage& image) {
  LogMessage(kLogWarning, "Unsupported pixel format: depth %d, %d bits per pixel.", image.depth,
             image.bits_per_pixel);
}

}  // namespace

void ScreenCapturerX11::DisplayCloser::operator()(_XDisplay* display) const {
  if (!display) return;
  XCloseDisplay(display);
  ConnectionLossHandler::Remove(display);
}

ScreenCapturerX11::ScreenCapturerX11(const DesktopCaptureOptions& options)
    : use_shm_(options.use_shared_memory) {}

ScreenCapturerX11::~ScreenCapturerX11() {
  DropShmImage();
  // Closed here rather than by the member's destructor: a connection that
  // breaks while closing still calls back into this object.
  display_.reset();
}

void ScreenCapturerX11::Start(Callback* callback) { callback_ = callback; }

bool ScreenCapturerX11::EnsureDisplay() {
  if (display_lost_) {
    CloseLostDisplay();
    return false;
  }
  if (display_) return true;
  const char* name = getenv("DISPLAY");
  if (name && *name) display_.reset(XOpenDisplay(name));
  if (!display_) {
    if (!display_open_failed_) {
      LogMessage(kLogWarning, "Cannot open display \"%s\".", name ? name : "");
      display_open_failed_ = true;
    }
    return false;
  }
  // Xlib's default ends the process when the connection breaks; a share
  // whose server went away must not take the program with it.
  ConnectionLossHandler::Add(display_.get());
  XSetIOErrorExitHandler(display_.get(), &ScreenCapturerX11::OnConnectionLost, this);
  display_name_ = name;
  display_open_failed_ = false;
  return true;
}

void ScreenCapturerX11::OnConnectionLost(_XDisplay*, void* capturer) {
  static_cast<ScreenCapturerX11*>(capturer)->display_lost_ = true;
}

void ScreenCapturerX11::CloseLostDisplay() {
  if (!display_lost_ || !display_) return;
  LogMessage(kLogWarning, "Lost the connection to display \"%s\".", display_name_.c_str());
  // The server is gone with its attachment; frames still holding the image
  // keep their own mapping.
  shm_image_.reset();
  display_.reset();
  // The server dropped the Damage object with the connection.
  damage_ = 0;
  damage_tried_ = false;
  have_capture_ = false;
}

bool ScreenCapturerX11::LookUpMonitor(int index, DesktopRect* rect, std::string* key) {
  if (index < 0 || !EnsureDisplay()) return false;
  Display* display = display_.get();
  Window root = DefaultRootWindow(display);
  int major = 0, minor = 0;
  if (!XRRQueryVersion(display, &major, &minor) || major * 100 + minor < 105) return false;
  int count = 0;
  std::unique_ptr<XRRMonitorInfo, decltype(&XRRFreeMonitors)> monitors(
      XRRGetMonitors(display, root, True, &count), &XRRFreeMonitors);
  if (!monitors || index >= count || display_lost_) return false;
  const XRRMonitorInfo& monitor = monitors.get()[index];
  rect->left = monitor.x;
  rect->top = monitor.y;
  rect->right = monitor.x + monitor.width;
  rect->bottom = monitor.y + monitor.height;
  key->clear();
  if (monitor.noutput > 0) {
    std::unique_ptr<XRRScreenResources, decltype(&XRRFreeScreenResources)> resources(
        XRRGetScreenResourcesCurrent(display, root), &XRRFreeScreenResources);
    if (resources) {
      std::unique_ptr<XRROutputInfo, decltype(&XRRFreeOutputInfo)> output(
          XRRGetOutputInfo(display, resources.get(), monitor.outputs[0]), &XRRFreeOutputInfo);
      if (output && output->name) key->assign(output->name, output->nameLen);
    }
    if (display_lost_) return false;
  }
  if (key->empty()) {
    std::unique_ptr<char, decltype(&XFree)> name(XGetAtomName(display, monitor.name),
                                                 [](void* p) { return XFree(p); });
    if (name) key->assign(name.get());
  }
  return !display_lost_;
}

bool ScreenCapturerX11::SelectScreen(int screen) {
  if (screen == -1) {
    screen_ = -1;
    device_key_.clear();
    return true;
  }
  DesktopRect rect;
  std::string key;
  if (!LookUpMonitor(screen, &rect, &key)) {
    CloseLostDisplay();
    return false;
  }
  screen_ = screen;
  device_key_ = key;
  return true;
}

DesktopRect ScreenCapturerX11::GetScreenRect() {
  DesktopRect rect = QueryScreenRect();
  if (display_lost_) {
    CloseLostDisplay();
    return {};
  }
  return rect;
}

DesktopRect ScreenCapturerX11::QueryScreenRect() {
  if (!EnsureDisplay()) return {};
  Display* display = display_.get();
  Window root_return = 0;
  int x = 0, y = 0;
  unsigned width = 0, height = 0, border = 0, depth = 0;
  if (!XGetGeometry(display, DefaultRootWindow(display), &root_return, &x, &y, &width, &height,
                    &border, &depth)) {
    return {};
  }
  DesktopRect root{0, 0, static_cast<int>(width), static_cast<int>(height)};
  if (screen_ == -1) return root;

  DesktopRect rect;
  std::string key;
  if (!LookUpMonitor(screen_, &rect, &key) || key != device_key_) return {};
  // A monitor may reach past the root window while the screen is resized;
  // asking for pixels outside it is a protocol error.
  rect.left = std::max(rect.left, root.left);
  rect.top = std::max(rect.top, root.top);
  rect.right = std::min(rect.right, root.right);
  rect.bottom = std::min(rect.bottom, root.bottom);
  if (rect.IsEmpty()) return {};
  return rect;
}

void ScreenCapturerX11::DropShmImage() {
  if (!shm_image_) return;
  if (display_ && !display_lost_ && shm_image_->info_.shmaddr) {
    XShmDetach(display_.get(), &shm_image_->info_);
    XSync(display_.get(), False);
  }
  shm_image_.reset();
}

std::shared_ptr<ShmImage> ScreenCapturerX11::GetShmImage(int width, int height) {
  // Reuse the image unless a frame still holds it or the size changed; a new
  // segment per frame would cost a round trip and fresh pages every time.
  if (shm_image_ && shm_image_.use_count() == 1 && shm_image_->image_->width == width &&
      shm_image_->image_->height == height) {
    return shm_image_;
  }
  DropShmImage();
  if (display_lost_) return nullptr;

  Display* display = display_.get();
  bool has_shm = XShmQueryExtension(display);
  if (display_lost_) return nullptr;
  if (!has_shm) {
    LogMessage(kLogInfo, "MIT-SHM is not available, copying through the connection.");
    use_shm_ = false;
    return nullptr;
  }
  int screen = DefaultScreen(display);
  auto shm = std::make_shared<ShmImage>();
  shm->image_.reset(XShmCreateImage(display, DefaultVisual(display, screen),
                                    DefaultDepth(display, screen), ZPixmap, nullptr, &shm->info_,
                                    width, height));
  // Any failure below leaves shared memory for good; the copy through the
  // connection still works (or reports the same fault itself).
  if (!shm->image_) {
    LogMessage(kLogWarning, "Failed to create frame buffer.");
    use_shm_ = false;
    return nullptr;
  }
  if (!IsBgrx(*shm->image_)) {
    use_shm_ = false;
    return nullptr;
  }
  size_t size = static_cast<size_t>(shm->image_->bytes_per_line) * height;
  shm->info_.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
  if (shm->info_.shmid < 0) {
    LogMessage(kLogWarning, "Failed to create frame buffer.");
    use_shm_ = false;
    return nullptr;
  }
  void* address = shmat(shm->info_.shmid, nullptr, 0);
  if (address == reinterpret_cast<void*>(-1)) {
    shmctl(shm->info_.shmid, IPC_RMID, nullptr);
    LogMessage(kLogWarning, "Failed to create frame buffer.");
    use_shm_ = false;
    return nullptr;
  }
  shm->info_.shmaddr = static_cast<char*>(address);
  shm->image_->data = shm->info_.shmaddr;
  shm->info_.readOnly = False;
  bool attached;
  {
    XErrorTrap trap(display);
    attached = XShmAttach(display, &shm->info_) && !trap.SyncAndCheck();
  }
  // Marked for removal at once: the segment then goes when the last side
  // detaches, also if this process dies.
  shmctl(shm->info_.shmid, IPC_RMID, nullptr);
  if (display_lost_) return nullptr;
  if (!attached) {
    // A display on another machine cannot reach our memory.
    LogMessage(kLogInfo, "MIT-SHM attach failed, copying through the connection.");
    use_shm_ = false;
    return nullptr;
  }
  shm_image_ = std::move(shm);
  return shm_image_;
}

std::unique_ptr<DesktopFrame> ScreenCapturerX11::CaptureShm(const DesktopRect& rect) {
  std::shared_ptr<ShmImage> shm = GetShmImage(rect.width(), rect.height());
  if (!shm) return nullptr;
  Display* display = display_.get();
  bool ok;
  {
    XErrorTrap trap(display);
    // XShmGetImage waits for the reply, so the pixels are complete when it
    // returns and any error has been delivered to the trap.
    ok = XShmGetImage(display, DefaultRootWindow(display), shm->image_.get(), rect.left, rect.top,
                      AllPlanes) &&
         trap.error() == 0;
  }
  if (!ok || display_lost_) {
    if (!display_lost_) LogMessage(kLogWarning, "XShmGetImage failed");
    return nullptr;
  }
  XImage* image = shm->image_.get();
  uint8_t* data = reinterpret_cast<uint8_t*>(image->data);
  int stride = image->bytes_per_line;
  return std::make_unique<DesktopFrameX11>(std::move(shm), data, rect.width(), rect.height(),
                                           stride);
}

std::unique_ptr<DesktopFrame> ScreenCapturerX11::CaptureCopy(const DesktopRect& rect) {
  Display* display = display_.get();
  XImagePtr image;
  {
    XErrorTrap trap(display);
    image.reset(XGetImage(display, DefaultRootWindow(display), rect.left, rect.top, rect.width(),
                          rect.height(), AllPlanes, ZPixmap));
    if (trap.error() != 0) image.reset();
  }
  if (!image || display_lost_) {
    if (!display_lost_) LogMessage(kLogWarning, "XGetImage failed");
    return nullptr;
  }
  if (!IsBgrx(*image)) {
    LogUnsupportedFormat(*image);
    return nullptr;
  }
  return std::make_unique<DesktopFrameX11>(std::move(image));
}

void ScreenCapturerX11::EnsureDamage() {
  if (damage_tried_ || !display_ || display_lost_) return;
  damage_tried_ = true;
  Display* display = display_.get();
  int error_base = 0;
  if (!XDamageQueryExtension(display, &damage_event_base_, &error_base)) {
    LogMessage(kLogInfo, "No Damage extension: every frame is captured.");
    return;
  }
  XErrorTrap trap(display);
  // One event when the damage goes from empty to not empty; Capture empties
  // it again just before it copies the screen.
  const Damage damage = XDamageCreate(display, DefaultRootWindow(display), XDamageReportNonEmpty);
  if (trap.SyncAndCheck() || display_lost_) return;
  damage_ = damage;
  // The server reports the whole window as damaged on creation; the capture
  // that follows covers that, so the event (in the queue after the sync) is
  // no news.
  XEvent event;
  while (XCheckTypedEvent(display, damage_event_base_ + XDamageNotify, &event)) {
  }
}

bool ScreenCapturerX11::MayHaveChanged() {
  if (!have_capture_ || !damage_ || !display_ || display_lost_) return true;
  // A resized screen or a monitor that went away shows here, not as damage;
  // the round trip also notices a server that is gone. It comes first: the
  // reply follows every event for drawing the server did before it, so
  // those are all in the queue below.
  const bool same_rect = GetScreenRect() == last_rect_;
  if (!display_ || display_lost_) return true;
  Display* display = display_.get();
  while (XPending(display) > 0 && !display_lost_) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == damage_event_base_ + XDamageNotify) damaged_ = true;
  }
  return damaged_ || display_lost_ || !same_rect;
}

int ScreenCapturerX11::Capture() {
  DesktopRect rect = GetScreenRect();
  have_capture_ = false;
  if (rect.IsEmpty()) {
    LogMessage(kLogWarning, "Failed to get screen rect.");
    return 1;
  }
  EnsureDamage();
  if (damage_) {
    // Whatever is drawn from here on is news for the next frame; what was
    // drawn before is in this copy, which the server makes after this request.
    XDamageSubtract(display_.get(), damage_, 0, 0);
    damaged_ = false;
  }
  std::unique_ptr<DesktopFrame> frame;
  last_capture_used_shm_ = false;
  if (use_shm_) {
    frame = CaptureShm(rect);
    last_capture_used_shm_ = frame != nullptr;
  }
  if (!frame && !display_lost_) frame = CaptureCopy(rect);
  // Lost in the middle of this capture: neither path returned a frame.
  CloseLostDisplay();
  if (!frame) return 1;
  have_capture_ = true;
  last_rect_ = rect;
  if (callback_) callback_->OnCaptured(std::move(frame));
  return 0;
}

}  // namespace chat_capture

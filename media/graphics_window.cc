#include "media/graphics_window.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES2/gl2.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "base/log.h"

namespace {

const char kWindowClass[] = "QNChatConsoleGraphicsWindow";
const char kWindowTitle[] = "QN快信";

// Xlib reports a broken connection first to one process-wide handler, whose
// default ends the process, and only then to the display's own exit handler.
// For window displays this handler returns, so the exit handler can mark the
// window lost; every other display of the process still goes to the handler
// that was installed before (which may be another such chain).
class ConnectionLossHandler {
 public:
  static void Add(Display* display) {
    std::lock_guard<std::mutex> lock(Mutex());
    Displays().insert(display);
    XIOErrorHandler current = XSetIOErrorHandler(&ConnectionLossHandler::Handle);
    if (current != &ConnectionLossHandler::Handle) Previous() = current;
  }
  static void Remove(Display* display) {
    std::lock_guard<std::mutex> lock(Mutex());
    Displays().erase(display);
  }

 private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::set<Display*>& Displays() {
    static std::set<Display*> displays;
    return displays;
  }
  static XIOErrorHandler& Previous() {
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

// Protocol errors go to one process-wide handler whose default ends the
// process. The window's set-up requests run inside this trap, which records
// the error instead.
class XErrorTrap {
 public:
  explicit XErrorTrap(Display* display) : display_(display), lock_(Mutex()) {
    last_error_ = 0;
    previous_ = XSetErrorHandler(&XErrorTrap::Handle);
  }
  ~XErrorTrap() {
    XSync(display_, False);
    XSetErrorHandler(previous_);
  }
  // Waits for the server to process every request so far; the error code of
  // the last failed one since the trap was set, or 0.
  int SyncAndCheck() {
    XSync(display_, False);
    return last_error_;
  }

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

// Two triangles over the quad from (-1, 1) to (1, -1): position x, y, z and
// texture u, v.
const GLfloat kVertices[] = {
    -1.0f, 1.0f,  0.0f, 0.0f, 1.0f,  //
    1.0f,  1.0f,  0.0f, 1.0f, 1.0f,  //
    1.0f,  -1.0f, 0.0f, 1.0f, 0.0f,  //
    -1.0f, -1.0f, 0.0f, 0.0f, 0.0f,  //
};
const GLushort kIndices[] = {0, 1, 2, 0, 2, 3};
const GLsizei kVertexStride = 5 * sizeof(GLfloat);

const char kVertexShader[] = R"(
uniform mat4 model;
uniform mat4 view;
uniform mat4 proj;
attribute vec3 position;
attribute vec2 tex_coord;
varying vec2 v_tex_coord;
void main() {
  gl_Position = proj * (view * (model * vec4(position, 1.0)));
  v_tex_coord = tex_coord;
}
)";

// The player and the encoder produce BT.709 limited range: Y spans 16..235
// and chroma 16..240 around 128. Both are expanded before the BT.709 matrix,
// so black is black and white is white.
const char kFragmentShader[] = R"(
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif
varying vec2 v_tex_coord;
uniform sampler2D texture_y;
uniform sampler2D texture_u;
uniform sampler2D texture_v;
void main() {
  vec2 coord = vec2(v_tex_coord.x, 1.0 - v_tex_coord.y);
  float y = (texture2D(texture_y, coord).r - 16.0 / 255.0) * (255.0 / 219.0);
  float u = (texture2D(texture_u, coord).r - 128.0 / 255.0) * (255.0 / 224.0);
  float v = (texture2D(texture_v, coord).r - 128.0 / 255.0) * (255.0 / 224.0);
  vec3 rgb = vec3(y + 1.5748 * v, y - 0.1873 * u - 0.4681 * v, y + 1.8556 * u);
  gl_FragColor = vec4(clamp(rgb, 0.0, 1.0), 1.0);
}
)";

// 4 x 4 matrices as built for row vectors (v' = v M), row by row. Handed to
// GLSL without transposition they read as the transposed matrices, which is
// what column vectors (M v) need.
struct Matrix {
  float m[16];
};

Matrix Scaling(float x, float y, float z) {
  return Matrix{{x, 0, 0, 0, 0, y, 0, 0, 0, 0, z, 0, 0, 0, 0, 1}};
}

// Left-handed look-at.
Matrix LookAtLH(const float eye[3], const float at[3], const float up[3]) {
  auto normalize = [](float v[3]) {
    float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    for (int i = 0; i < 3; ++i) v[i] /= length;
  };
  auto cross = [](const float a[3], const float b[3], float out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
  };
  auto dot = [](const float a[3], const float b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  };
  float z[3] = {at[0] - eye[0], at[1] - eye[1], at[2] - eye[2]};
  normalize(z);
  float x[3];
  cross(up, z, x);
  normalize(x);
  float y[3];
  cross(z, x, y);
  return Matrix{{x[0], y[0], z[0], 0, x[1], y[1], z[1], 0, x[2], y[2], z[2], 0, -dot(x, eye),
                 -dot(y, eye), -dot(z, eye), 1}};
}

// Left-handed orthographic projection over a box.
Matrix OrthoOffCenterLH(float l, float r, float b, float t, float zn, float zf) {
  return Matrix{{2 / (r - l), 0, 0, 0, 0, 2 / (t - b), 0, 0, 0, 0, 1 / (zf - zn), 0,
                 (l + r) / (l - r), (t + b) / (b - t), zn / (zn - zf), 1}};
}

// Plane p of an I420 picture, checked against what the frame claims.
struct Plane {
  const uint8_t* data;
  int stride;
  int width;
  int height;
};

bool GetPlanes(const chat::ChatVideoFrame& frame, Plane planes[3]) {
  int width = frame.GetWidth();
  int height = frame.GetHeight();
  if (width <= 0 || height <= 0) return false;
  for (int p = 0; p < 3; ++p) {
    planes[p].data = frame.GetData(p);
    planes[p].stride = frame.GetStride(p);
    planes[p].width = p == 0 ? width : (width + 1) / 2;
    planes[p].height = p == 0 ? height : (height + 1) / 2;
    if (!planes[p].data || planes[p].stride < planes[p].width) return false;
  }
  return true;
}

// What draws pictures into the window. Used only on the window thread.
class Drawer {
 public:
  virtual ~Drawer() = default;
  virtual bool ready() const = 0;
  // Takes what it needs of the picture (the caller deletes it afterwards);
  // false when the picture cannot be used. The drawer keeps showing it until
  // the next.
  virtual bool Update(const chat::ChatVideoFrame& frame) = 0;
  // Black, then the picture (if any) letterboxed into the client area. The
  // caller syncs with the server afterwards.
  virtual void Render(int client_width, int client_height) = 0;
  // Drops everything. With lost set the X connection is gone; nothing may
  // talk to it any more.
  virtual void Release(bool lost = false) = 0;
};

// The picture's rectangle in the client area, in whole pixels: the pixels
// whose centres lie inside the letterboxed quad the OpenGL path draws.
struct PixelRect {
  int x, y, width, height;
};

PixelRect LetterboxRect(int picture_width, int picture_height, int client_width,
                        int client_height) {
  GraphicsWindow::DrawSize size =
      GraphicsWindow::Letterbox(picture_width, picture_height, client_width, client_height);
  auto first = [](float from) { return static_cast<int>(std::ceil(from - 0.5f)); };
  int x0 = first((client_width - size.width) / 2), x1 = first((client_width + size.width) / 2);
  int y0 = first((client_height - size.height) / 2), y1 = first((client_height + size.height) / 2);
  x0 = std::max(0, x0), y0 = std::max(0, y0);
  x1 = std::min(client_width, x1), y1 = std::min(client_height, y1);
  return PixelRect{x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0)};
}

const char kNoSharedMemory[] = "GraphicsWindow: no shared memory with the X server, using XPutImage";

// Draws on the processor: FFmpeg's scaler scales the picture to its
// rectangle in the client area and converts it (limited-range BT.709, exact
// to a level or so; libyuv's fast converter is 12 levels off in saturated
// blue) in one pass, into an X image of the client area's size, which goes
// to the server through shared memory where the server allows it, else in
// the request stream.
class CpuPipeline : public Drawer {
 public:
  // Largest picture side accepted.
  static constexpr int kMaxSide = 8192;

  CpuPipeline() = default;
  ~CpuPipeline() override { Release(); }
  CpuPipeline(const CpuPipeline&) = delete;
  CpuPipeline& operator=(const CpuPipeline&) = delete;

  // False (logged) when the window's visual is not 24-bit true colour.
  bool Initialize(Display* display, Window window);
  bool ready() const override { return display_ != nullptr; }
  bool Update(const chat::ChatVideoFrame& frame) override;
  void Render(int client_width, int client_height) override;
  void Release(bool lost = false) override;
  bool shared_memory() const { return use_shm_; }

 private:
  // An image of the client area's size; false when none could be made.
  bool EnsureImage(int width, int height);
  void DestroyImage();
  void Compose();

  Display* display_ = nullptr;
  Window window_ = 0;
  GC gc_ = nullptr;
  Visual* visual_ = nullptr;
  int depth_ = 0;
  bool use_shm_ = false;
  XImage* image_ = nullptr;
  XShmSegmentInfo shm_{};
  bool shm_attached_ = false;
  bool composed_ = false;  // image_ holds the current picture at its size
  // The picture, packed I420, kept for redraws at another size.
  std::vector<uint8_t> picture_;
  int picture_width_ = 0;
  int picture_height_ = 0;
  // Scales and converts the picture into its rectangle; rebuilt when either
  // size changes.
  SwsContext* scaler_ = nullptr;
  int scaler_key_[4] = {0, 0, 0, 0};  // picture width, height, rectangle width, height
};

}  // namespace

// The EGL surface and context and the GL objects of one window. Used only on
// the window thread.
class GraphicsWindow::Pipeline : public Drawer {
 public:
  Pipeline() = default;
  ~Pipeline() override { Release(); }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Opens EGL on the X display and picks a configuration; gives the X visual
  // the window must be created with. False (logged) when EGL is unusable.
  bool InitializeDisplay(Display* display, XVisualInfo* visual);
  // Creates the surface, the context and the GL objects for the window.
  // False (logged) on failure; the pipeline is then released.
  bool InitializeEGL(Window window);
  bool ready() const override { return context_ != EGL_NO_CONTEXT; }
  // GL_RENDERER of the context; "" when there is none.
  std::string RendererName() const;

  // Uploads the picture into the three textures; false (logged) when it
  // cannot be used. The textures keep the picture until the next one.
  bool Update(const chat::ChatVideoFrame& frame) override;
  // Clears to black, draws the picture (if one was uploaded) letterboxed and
  // presents.
  void Render(int client_width, int client_height) override;

  // Drops everything. With lost set the X connection is gone; EGL is not
  // asked to talk to it any more.
  void Release(bool lost = false) override;

 private:
  bool CreateProgram();
  bool UploadPlane(int index, const Plane& plane);

  EGLDisplay egl_display_ = EGL_NO_DISPLAY;
  EGLConfig config_ = nullptr;
  EGLSurface surface_ = EGL_NO_SURFACE;
  EGLContext context_ = EGL_NO_CONTEXT;
  GLuint program_ = 0;
  GLint model_location_ = -1;
  GLint view_location_ = -1;
  GLint proj_location_ = -1;
  GLuint vertex_buffer_ = 0;
  GLuint index_buffer_ = 0;
  GLuint textures_[3] = {0, 0, 0};
  int texture_width_[3] = {0, 0, 0};
  int texture_height_[3] = {0, 0, 0};
  bool have_picture_ = false;
  int picture_width_ = 0;
  int picture_height_ = 0;
  std::vector<uint8_t> rows_;  // tightly packed copy of a padded plane
};

bool GraphicsWindow::Pipeline::InitializeDisplay(Display* display, XVisualInfo* visual) {
  // Ask for the X11 platform by name where the library offers it, so the
  // choice does not depend on $EGL_PLATFORM.
  const char* client_extensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  auto get_platform_display = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (client_extensions && get_platform_display &&
      strstr(client_extensions, "EGL_EXT_platform_x11")) {
    egl_display_ = get_platform_display(EGL_PLATFORM_X11_EXT, display, nullptr);
  } else {
    egl_display_ = eglGetDisplay(reinterpret_cast<EGLNativeDisplayType>(display));
  }
  if (egl_display_ == EGL_NO_DISPLAY) {
    LogMessage(kLogError, "eglGetDisplay Failed! error: 0x%X", eglGetError());
    return false;
  }
  EGLint major = 0, minor = 0;
  if (!eglInitialize(egl_display_, &major, &minor)) {
    LogMessage(kLogError, "eglInitialize Failed! error: 0x%X", eglGetError());
    egl_display_ = EGL_NO_DISPLAY;
    return false;
  }
  const EGLint attributes[] = {EGL_SURFACE_TYPE, EGL_WINDOW_BIT, EGL_RENDERABLE_TYPE,
                               EGL_OPENGL_ES2_BIT, EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8,
                               EGL_BLUE_SIZE, 8, EGL_NONE};
  EGLint count = 0;
  if (!eglChooseConfig(egl_display_, attributes, nullptr, 0, &count) || count <= 0) {
    LogMessage(kLogError, "eglChooseConfig Failed! error: 0x%X", eglGetError());
    Release();
    return false;
  }
  std::vector<EGLConfig> configs(count);
  eglChooseConfig(egl_display_, attributes, configs.data(), count, &count);
  // The screen's own depth: a 32-bit visual would be see-through where a
  // compositor runs.
  int screen_depth = DefaultDepth(display, DefaultScreen(display));
  for (EGLConfig config : configs) {
    EGLint visual_id = 0;
    if (!eglGetConfigAttrib(egl_display_, config, EGL_NATIVE_VISUAL_ID, &visual_id) ||
        visual_id == 0) {
      continue;
    }
    XVisualInfo pattern{};
    pattern.visualid = static_cast<VisualID>(visual_id);
    int found = 0;
    XVisualInfo* info = XGetVisualInfo(display, VisualIDMask, &pattern, &found);
    if (!info) continue;
    bool fits = found > 0 && info->depth == screen_depth;
    if (fits) *visual = *info;
    XFree(info);
    if (fits) {
      config_ = config;
      return true;
    }
  }
  LogMessage(kLogError, "eglChooseConfig Failed! no configuration for depth %d", screen_depth);
  Release();
  return false;
}

bool GraphicsWindow::Pipeline::InitializeEGL(Window window) {
  surface_ = eglCreateWindowSurface(egl_display_, config_,
                                    static_cast<EGLNativeWindowType>(window), nullptr);
  if (surface_ == EGL_NO_SURFACE) {
    LogMessage(kLogError, "eglCreateWindowSurface Failed! error: 0x%X", eglGetError());
    Release();
    return false;
  }
  eglBindAPI(EGL_OPENGL_ES_API);
  const EGLint context_attributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
  context_ = eglCreateContext(egl_display_, config_, EGL_NO_CONTEXT, context_attributes);
  if (context_ == EGL_NO_CONTEXT) {
    LogMessage(kLogError, "eglCreateContext Failed! error: 0x%X", eglGetError());
    Release();
    return false;
  }
  if (!eglMakeCurrent(egl_display_, surface_, surface_, context_)) {
    LogMessage(kLogError, "eglMakeCurrent Failed! error: 0x%X", eglGetError());
    Release();
    return false;
  }
  // One picture per vertical blank where the display has one; the thread
  // draws only when something changed, so this paces nothing else.
  eglSwapInterval(egl_display_, 1);
  if (!CreateProgram()) {
    Release();
    return false;
  }
  glGenBuffers(1, &vertex_buffer_);
  glBindBuffer(GL_ARRAY_BUFFER, vertex_buffer_);
  glBufferData(GL_ARRAY_BUFFER, sizeof(kVertices), kVertices, GL_STATIC_DRAW);
  glGenBuffers(1, &index_buffer_);
  glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, index_buffer_);
  glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof(kIndices), kIndices, GL_STATIC_DRAW);
  glGenTextures(3, textures_);
  for (GLuint texture : textures_) {
    glBindTexture(GL_TEXTURE_2D, texture);
    // Clamped, not wrapped: linear filtering at an edge would otherwise mix in
    // the opposite edge, and OpenGL ES 2 samples a wrapped texture whose size
    // is not a power of two as black.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  if (GLenum error = glGetError(); error != GL_NO_ERROR) {
    LogMessage(kLogError, "InitializeEGL Failed! error: 0x%X", error);
    Release();
    return false;
  }
  LogMessage(kLogInfo, "InitializeEGL success");
  return true;
}

bool GraphicsWindow::Pipeline::CreateProgram() {
  auto compile = [](GLenum type, const char* source, const char* label) -> GLuint {
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok) return shader;
    char message[1024] = "";
    glGetShaderInfoLog(shader, sizeof(message), nullptr, message);
    fprintf(stderr, "%s error: %s\n", label, message);
    glDeleteShader(shader);
    return 0;
  };
  GLuint vertex_shader = compile(GL_VERTEX_SHADER, kVertexShader, "vs");
  GLuint fragment_shader = compile(GL_FRAGMENT_SHADER, kFragmentShader, "ps");
  if (!vertex_shader || !fragment_shader) {
    if (vertex_shader) glDeleteShader(vertex_shader);
    if (fragment_shader) glDeleteShader(fragment_shader);
    return false;
  }
  program_ = glCreateProgram();
  glAttachShader(program_, vertex_shader);
  glAttachShader(program_, fragment_shader);
  glBindAttribLocation(program_, 0, "position");
  glBindAttribLocation(program_, 1, "tex_coord");
  glLinkProgram(program_);
  glDeleteShader(vertex_shader);
  glDeleteShader(fragment_shader);
  GLint ok = GL_FALSE;
  glGetProgramiv(program_, GL_LINK_STATUS, &ok);
  if (!ok) {
    char message[1024] = "";
    glGetProgramInfoLog(program_, sizeof(message), nullptr, message);
    fprintf(stderr, "link error: %s\n", message);
    glDeleteProgram(program_);
    program_ = 0;
    return false;
  }
  glUseProgram(program_);
  glUniform1i(glGetUniformLocation(program_, "texture_y"), 0);
  glUniform1i(glGetUniformLocation(program_, "texture_u"), 1);
  glUniform1i(glGetUniformLocation(program_, "texture_v"), 2);
  model_location_ = glGetUniformLocation(program_, "model");
  view_location_ = glGetUniformLocation(program_, "view");
  proj_location_ = glGetUniformLocation(program_, "proj");
  return true;
}

bool GraphicsWindow::Pipeline::UploadPlane(int index, const Plane& plane) {
  const uint8_t* pixels = plane.data;
  // OpenGL ES 2 has no row length for unpacking: padded rows are packed first.
  if (plane.stride != plane.width) {
    rows_.resize(static_cast<size_t>(plane.width) * plane.height);
    for (int row = 0; row < plane.height; ++row) {
      memcpy(&rows_[static_cast<size_t>(row) * plane.width],
             plane.data + static_cast<size_t>(row) * plane.stride, plane.width);
    }
    pixels = rows_.data();
  }
  glBindTexture(GL_TEXTURE_2D, textures_[index]);
  const char* call = "glTexSubImage2D";
  if (plane.width == texture_width_[index] && plane.height == texture_height_[index]) {
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, plane.width, plane.height, GL_LUMINANCE,
                    GL_UNSIGNED_BYTE, pixels);
  } else {
    call = "glTexImage2D";
    glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, plane.width, plane.height, 0, GL_LUMINANCE,
                 GL_UNSIGNED_BYTE, pixels);
  }
  if (GLenum error = glGetError(); error != GL_NO_ERROR) {
    LogMessage(kLogError, "[%c texture] %s Failed! error: 0x%X", "yuv"[index], call, error);
    texture_width_[index] = texture_height_[index] = 0;
    return false;
  }
  texture_width_[index] = plane.width;
  texture_height_[index] = plane.height;
  return true;
}

std::string GraphicsWindow::Pipeline::RendererName() const {
  if (!ready()) return "";
  const GLubyte* name = glGetString(GL_RENDERER);
  return name ? reinterpret_cast<const char*>(name) : "";
}

bool GraphicsWindow::Pipeline::Update(const chat::ChatVideoFrame& frame) {
  if (!ready()) return false;
  Plane planes[3];
  if (frame.GetFormat() != chat::ChatVideoFrame::kFormatI420 || !GetPlanes(frame, planes)) {
    return false;
  }
  GLint max_size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
  if (planes[0].width > max_size || planes[0].height > max_size) {
    LogMessage(kLogWarning, "picture %dx%d larger than the textures (%d)", planes[0].width,
               planes[0].height, max_size);
    return false;
  }
  for (int p = 0; p < 3; ++p) {
    glActiveTexture(GL_TEXTURE0 + p);
    if (!UploadPlane(p, planes[p])) {
      have_picture_ = false;
      return false;
    }
  }
  have_picture_ = true;
  picture_width_ = planes[0].width;
  picture_height_ = planes[0].height;
  return true;
}

void GraphicsWindow::Pipeline::Render(int client_width, int client_height) {
  if (!ready()) return;
  glViewport(0, 0, client_width, client_height);
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  if (have_picture_ && client_width > 0 && client_height > 0) {
    glUseProgram(program_);
    glBindBuffer(GL_ARRAY_BUFFER, vertex_buffer_);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, index_buffer_);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, kVertexStride, nullptr);
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, kVertexStride,
                          reinterpret_cast<const void*>(3 * sizeof(GLfloat)));

    DrawSize size = Letterbox(picture_width_, picture_height_, client_width, client_height);
    const float eye[3] = {0, 0, -1}, at[3] = {0, 0, 0}, up[3] = {0, 1, 0};
    Matrix model = Scaling(size.width, size.height, 1);
    Matrix view = LookAtLH(eye, at, up);
    float w = static_cast<float>(client_width), h = static_cast<float>(client_height);
    Matrix proj = OrthoOffCenterLH(-w, w, -h, h, 0.1f, 100.0f);
    glUniformMatrix4fv(model_location_, 1, GL_FALSE, model.m);
    glUniformMatrix4fv(view_location_, 1, GL_FALSE, view.m);
    glUniformMatrix4fv(proj_location_, 1, GL_FALSE, proj.m);
    for (int p = 0; p < 3; ++p) {
      glActiveTexture(GL_TEXTURE0 + p);
      glBindTexture(GL_TEXTURE_2D, textures_[p]);
    }
    glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, nullptr);
  }
  eglSwapBuffers(egl_display_, surface_);
}

void GraphicsWindow::Pipeline::Release(bool lost) {
  if (egl_display_ == EGL_NO_DISPLAY) return;
  if (!lost) {
    if (context_ != EGL_NO_CONTEXT &&
        eglMakeCurrent(egl_display_, surface_, surface_, context_)) {
      if (program_) glDeleteProgram(program_);
      if (vertex_buffer_) glDeleteBuffers(1, &vertex_buffer_);
      if (index_buffer_) glDeleteBuffers(1, &index_buffer_);
      if (textures_[0]) glDeleteTextures(3, textures_);
    }
    eglMakeCurrent(egl_display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context_ != EGL_NO_CONTEXT) eglDestroyContext(egl_display_, context_);
    if (surface_ != EGL_NO_SURFACE) eglDestroySurface(egl_display_, surface_);
    eglTerminate(egl_display_);
  }
  // After a lost connection the EGL objects are left as they are: tearing
  // them down would talk to a server that is gone.
  egl_display_ = EGL_NO_DISPLAY;
  config_ = nullptr;
  surface_ = EGL_NO_SURFACE;
  context_ = EGL_NO_CONTEXT;
  program_ = vertex_buffer_ = index_buffer_ = 0;
  for (int p = 0; p < 3; ++p) textures_[p] = 0, texture_width_[p] = texture_height_[p] = 0;
  have_picture_ = false;
}

namespace {

bool CpuPipeline::Initialize(Display* display, Window window) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, window, &attributes)) return false;
  Visual* visual = attributes.visual;
  // libyuv writes 32-bit pixels B, G, R, A in memory: a little-endian
  // 0xAARRGGBB, which is what a 24-bit true-colour visual takes.
  if (!visual || visual->c_class != TrueColor ||
      attributes.depth != DefaultDepth(display, DefaultScreen(display)) || attributes.depth < 24 ||
      visual->red_mask != 0xFF0000 || visual->green_mask != 0xFF00 ||
      visual->blue_mask != 0xFF || ImageByteOrder(display) != LSBFirst) {
    LogMessage(kLogError, "GraphicsWindow: no 24-bit true-colour visual to draw into (depth %d)",
               attributes.depth);
    return false;
  }
  display_ = display;
  window_ = window;
  visual_ = visual;
  depth_ = attributes.depth;
  // The screen's own context: the window has the screen's depth, and there
  // is nothing to free (also when the connection is lost).
  gc_ = DefaultGC(display, DefaultScreen(display));
  use_shm_ = XShmQueryExtension(display);
  if (!use_shm_) LogMessage(kLogInfo, "%s", kNoSharedMemory);
  return true;
}

bool CpuPipeline::EnsureImage(int width, int height) {
  if (image_ && image_->width == width && image_->height == height) return true;
  DestroyImage();
  composed_ = false;
  if (width <= 0 || height <= 0) return false;
  if (use_shm_) {
    // The image keeps a pointer to the segment's description: it must be
    // the member, not a copy.
    shm_ = XShmSegmentInfo{};
    shm_.shmid = -1;
    shm_.shmaddr = reinterpret_cast<char*>(-1);
    XImage* image = XShmCreateImage(display_, visual_, depth_, ZPixmap, nullptr, &shm_, width,
                                    height);
    if (image && image->bits_per_pixel == 32) {
      shm_.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * height,
                          IPC_CREAT | 0600);
      if (shm_.shmid >= 0) {
        shm_.shmaddr = image->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
        shm_.readOnly = False;
        int error = -1;
        if (shm_.shmaddr != reinterpret_cast<char*>(-1)) {
          XErrorTrap trap(display_);
          XShmAttach(display_, &shm_);
          error = trap.SyncAndCheck();
        }
        // Freed once both sides have detached.
        shmctl(shm_.shmid, IPC_RMID, nullptr);
        if (error == 0) {
          image_ = image;
          shm_attached_ = true;
          return true;
        }
        if (shm_.shmaddr != reinterpret_cast<char*>(-1)) shmdt(shm_.shmaddr);
      }
    }
    if (image) {
      image->data = nullptr;
      XDestroyImage(image);
    }
    // A server on another machine, or in another IPC namespace: the images
    // go in the request stream from now on.
    LogMessage(kLogInfo, "%s", kNoSharedMemory);
    use_shm_ = false;
  }
  const size_t stride = static_cast<size_t>(width) * 4;
  char* data = static_cast<char*>(malloc(stride * height));
  if (!data) return false;
  image_ = XCreateImage(display_, visual_, depth_, ZPixmap, 0, data, width, height, 32,
                        static_cast<int>(stride));
  if (!image_) {
    free(data);
    return false;
  }
  image_->byte_order = LSBFirst;
  return true;
}

void CpuPipeline::DestroyImage() {
  if (!image_) return;
  if (shm_attached_) {
    if (display_) XShmDetach(display_, &shm_);
    shmdt(shm_.shmaddr);
    shm_attached_ = false;
    image_->data = nullptr;
  }
  XDestroyImage(image_);  // frees the malloc'ed pixels of a plain image
  image_ = nullptr;
}

bool CpuPipeline::Update(const chat::ChatVideoFrame& frame) {
  if (!ready()) return false;
  Plane planes[3];
  if (frame.GetFormat() != chat::ChatVideoFrame::kFormatI420 || !GetPlanes(frame, planes)) {
    return false;
  }
  if (planes[0].width > kMaxSide || planes[0].height > kMaxSide) {
    LogMessage(kLogWarning, "picture %dx%d larger than the window draws (%d)", planes[0].width,
               planes[0].height, kMaxSide);
    return false;
  }
  const size_t luma = static_cast<size_t>(planes[0].width) * planes[0].height;
  const size_t chroma = static_cast<size_t>(planes[1].width) * planes[1].height;
  picture_.resize(luma + 2 * chroma);
  uint8_t* y = picture_.data();
  uint8_t* u = y + luma;
  uint8_t* v = u + chroma;
  uint8_t* targets[3] = {y, u, v};
  for (int p = 0; p < 3; ++p) {
    for (int row = 0; row < planes[p].height; ++row) {
      memcpy(targets[p] + static_cast<size_t>(row) * planes[p].width,
             planes[p].data + static_cast<size_t>(row) * planes[p].stride, planes[p].width);
    }
  }
  picture_width_ = planes[0].width;
  picture_height_ = planes[0].height;
  composed_ = false;
  return true;
}

// Fills a rectangle of a 32-bit image with opaque black.
void FillBlack(uint8_t* pixels, int stride, int x, int y, int width, int height) {
  if (width <= 0 || height <= 0) return;
  for (int row = y; row < y + height; ++row) {
    uint32_t* line = reinterpret_cast<uint32_t*>(pixels + static_cast<size_t>(row) * stride) + x;
    std::fill(line, line + width, 0xFF000000u);
  }
}

void CpuPipeline::Compose() {
  const int width = image_->width, height = image_->height;
  const int stride = image_->bytes_per_line;
  uint8_t* pixels = reinterpret_cast<uint8_t*>(image_->data);
  if (picture_.empty()) {
    FillBlack(pixels, stride, 0, 0, width, height);
    return;
  }
  PixelRect rect = LetterboxRect(picture_width_, picture_height_, width, height);
  // The bars: whole rows above and below, the sides of the picture's rows.
  FillBlack(pixels, stride, 0, 0, width, rect.y);
  FillBlack(pixels, stride, 0, rect.y + rect.height, width, height - rect.y - rect.height);
  FillBlack(pixels, stride, 0, rect.y, rect.x, rect.height);
  FillBlack(pixels, stride, rect.x + rect.width, rect.y, width - rect.x - rect.width,
            rect.height);
  if (rect.width <= 0 || rect.height <= 0) return;

  const int key[4] = {picture_width_, picture_height_, rect.width, rect.height};
  if (!scaler_ || !std::equal(key, key + 4, scaler_key_)) {
    sws_freeContext(scaler_);
    // Bilinear like the OpenGL path's texture sampling; BGRA in memory is
    // the visual's 0xAARRGGBB.
    scaler_ = sws_getContext(picture_width_, picture_height_, AV_PIX_FMT_YUV420P, rect.width,
                             rect.height, AV_PIX_FMT_BGRA, SWS_FAST_BILINEAR, nullptr, nullptr,
                             nullptr);
    if (!scaler_) {
      LogMessage(kLogError, "GraphicsWindow: no scaler from %dx%d to %dx%d", picture_width_,
                 picture_height_, rect.width, rect.height);
      FillBlack(pixels, stride, rect.x, rect.y, rect.width, rect.height);
      return;
    }
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(scaler_, bt709, 0 /* limited */, bt709, 1 /* full */, 0, 1 << 16,
                             1 << 16);
    std::copy(key, key + 4, scaler_key_);
  }
  const int chroma_width = (picture_width_ + 1) / 2;
  const uint8_t* y = picture_.data();
  const uint8_t* u = y + static_cast<size_t>(picture_width_) * picture_height_;
  const uint8_t* v = u + static_cast<size_t>(chroma_width) * ((picture_height_ + 1) / 2);
  const uint8_t* source[4] = {y, u, v, nullptr};
  const int source_stride[4] = {picture_width_, chroma_width, chroma_width, 0};
  uint8_t* target[4] = {
      pixels + static_cast<size_t>(rect.y) * stride + static_cast<size_t>(rect.x) * 4, nullptr,
      nullptr, nullptr};
  const int target_stride[4] = {stride, 0, 0, 0};
  sws_scale(scaler_, source, source_stride, 0, picture_height_, target, target_stride);
}

void CpuPipeline::Render(int client_width, int client_height) {
  if (!ready() || !EnsureImage(client_width, client_height)) return;
  if (!composed_) {
    Compose();
    composed_ = true;
  }
  if (shm_attached_) {
    XShmPutImage(display_, window_, gc_, image_, 0, 0, 0, 0, client_width, client_height, False);
  } else {
    XPutImage(display_, window_, gc_, image_, 0, 0, 0, 0, client_width, client_height);
  }
}

void CpuPipeline::Release(bool lost) {
  if (!display_) return;
  // Lost, nothing may go to the server: only the local side is undone.
  if (lost) display_ = nullptr;
  DestroyImage();
  display_ = nullptr;
  gc_ = nullptr;
  window_ = 0;
  picture_.clear();
  picture_.shrink_to_fit();
  sws_freeContext(scaler_);
  scaler_ = nullptr;
  composed_ = false;
}

}  // namespace

GraphicsWindow::GraphicsWindow(Renderer renderer)
    : requested_renderer_(renderer), wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

GraphicsWindow::~GraphicsWindow() {
  Stop();
  if (wake_fd_ >= 0) close(wake_fd_);
}

bool GraphicsWindow::Create() {
  XInitThreads();
  if (!Start() && !IsStarted()) {
    LogMessage(kLogError, "GraphicsWindow: the window thread did not start");
    return false;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return init_state_ != InitState::kPending; });
  return init_state_ == InitState::kReady;
}

void GraphicsWindow::Show() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    visibility_request_ = VisibilityRequest::kShow;
  }
  Wake();
}

void GraphicsWindow::Hide() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    visibility_request_ = VisibilityRequest::kHide;
  }
  Wake();
}

void GraphicsWindow::SetFrame(std::unique_ptr<chat::ChatVideoFrame> frame) {
  if (!frame) return;
  std::unique_ptr<chat::ChatVideoFrame> replaced;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    replaced = std::move(pending_frame_);
    pending_frame_ = std::move(frame);
    new_frame_ = true;
  }
  // The replaced picture is freed outside the lock: the window thread need
  // not wait for the decoder's buffer to go back.
  replaced.reset();
  Wake();
}

void GraphicsWindow::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  Wake();
  Thread::Stop();
  std::unique_ptr<chat::ChatVideoFrame> pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending = std::move(pending_frame_);
    new_frame_ = false;
    // A later Create runs the window again.
    quit_ = false;
    init_state_ = InitState::kPending;
  }
}

void GraphicsWindow::Wake() {
  if (wake_fd_ < 0) return;
  uint64_t one = 1;
  ssize_t written = write(wake_fd_, &one, sizeof(one));
  (void)written;  // a full counter still wakes the thread
}

GraphicsWindow::Renderer GraphicsWindow::GetActiveRenderer() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return active_renderer_;
}

unsigned long GraphicsWindow::GetWindowId() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return window_id_;
}

uint64_t GraphicsWindow::GetDrawCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return draw_count_;
}

uint64_t GraphicsWindow::GetPictureCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return picture_count_;
}

uint64_t GraphicsWindow::WaitForDrawCount(uint64_t count, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                    [&] { return draw_count_ > count; });
  return draw_count_;
}

uint64_t GraphicsWindow::WaitForPictureCount(uint64_t count, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                    [&] { return picture_count_ > count; });
  return picture_count_;
}

GraphicsWindow::DrawSize GraphicsWindow::Letterbox(int picture_width, int picture_height,
                                                   int client_width, int client_height) {
  if (picture_width <= 0 || picture_height <= 0 || client_width <= 0 || client_height <= 0) {
    return DrawSize{0, 0};
  }
  float picture_aspect = static_cast<float>(picture_width) / picture_height;
  float client_aspect = static_cast<float>(client_width) / client_height;
  if (picture_aspect > client_aspect) {
    return DrawSize{static_cast<float>(client_width), client_width / picture_aspect};
  }
  return DrawSize{client_height * picture_aspect, static_cast<float>(client_height)};
}

void GraphicsWindow::Run() {
  pthread_setname_np(pthread_self(), "GraphicsWindow");
  RunWindow();
  std::lock_guard<std::mutex> lock(mutex_);
  window_id_ = 0;
  if (init_state_ == InitState::kPending) init_state_ = InitState::kFailed;
  changed_.notify_all();
}

namespace {

GraphicsWindow::Renderer ResolveRenderer(GraphicsWindow::Renderer requested) {
  if (requested != GraphicsWindow::Renderer::kAuto) return requested;
  const char* value = getenv("QNCHAT_VIDEO_RENDERER");
  if (!value || !*value || strcmp(value, "auto") == 0) return requested;
  if (strcmp(value, "opengl") == 0) return GraphicsWindow::Renderer::kOpenGl;
  if (strcmp(value, "cpu") == 0) return GraphicsWindow::Renderer::kCpu;
  LogMessage(kLogWarning, "GraphicsWindow: unknown QNCHAT_VIDEO_RENDERER \"%s\" ignored", value);
  return requested;
}

// Mesa's software rasterisers (and what other vendors call theirs).
bool IsSoftwareRenderer(const std::string& name) {
  return name.find("llvmpipe") != std::string::npos ||
         name.find("softpipe") != std::string::npos ||
         name.find("Software") != std::string::npos ||
         name.find("software") != std::string::npos;
}

// Set by Xlib, on the window thread, once the connection broke.
void OnConnectionLost(Display*, void* lost) {
  static_cast<std::atomic<bool>*>(lost)->store(true);
}

// Window-manager hints: caption, sizing border and minimise box; no window
// menu and no close function.
void SetWindowManagerHints(Display* display, Window window) {
  XSizeHints size_hints{};
  size_hints.flags = USPosition | USSize | PPosition | PSize | PMinSize;
  size_hints.x = GraphicsWindow::kInitialX;
  size_hints.y = GraphicsWindow::kInitialY;
  size_hints.width = GraphicsWindow::kInitialWidth;
  size_hints.height = GraphicsWindow::kInitialHeight;
  size_hints.min_width = 64;
  size_hints.min_height = 36;
  XWMHints wm_hints{};
  wm_hints.flags = InputHint | StateHint;
  wm_hints.input = True;
  wm_hints.initial_state = NormalState;
  std::string class_name = kWindowClass;
  XClassHint class_hint{class_name.data(), class_name.data()};
  // WM_NAME in the portable encoding, WM_NORMAL_HINTS, WM_HINTS, WM_CLASS.
  Xutf8SetWMProperties(display, window, kWindowTitle, kWindowTitle, nullptr, 0, &size_hints,
                       &wm_hints, &class_hint);
  Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  for (const char* name : {"_NET_WM_NAME", "_NET_WM_ICON_NAME"}) {
    XChangeProperty(display, window, XInternAtom(display, name, False), utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(kWindowTitle), strlen(kWindowTitle));
  }
  long pid = getpid();
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);

  enum : long {
    kHintsFunctions = 1,
    kHintsDecorations = 2,
    kFunctionResize = 2,
    kFunctionMove = 4,
    kFunctionMinimize = 8,
    kDecorationBorder = 2,
    kDecorationResizeHandle = 4,
    kDecorationTitle = 8,
    kDecorationMinimize = 32,
  };
  long motif_hints[5] = {
      kHintsFunctions | kHintsDecorations,
      kFunctionResize | kFunctionMove | kFunctionMinimize,
      kDecorationBorder | kDecorationResizeHandle | kDecorationTitle | kDecorationMinimize,
      0,  // input mode
      0,  // status
  };
  Atom motif = XInternAtom(display, "_MOTIF_WM_HINTS", False);
  XChangeProperty(display, window, motif, motif, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(motif_hints), 5);
}

}  // namespace

void GraphicsWindow::RunWindow() {
  const char* display_name = getenv("DISPLAY");
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    LogMessage(kLogError, "GraphicsWindow: cannot open display \"%s\"",
               display_name ? display_name : "");
    return;
  }
  // A display that goes away must not end the program.
  std::atomic<bool> lost{false};
  ConnectionLossHandler::Add(display);
  XSetIOErrorExitHandler(display, &OnConnectionLost, &lost);

  const Renderer wanted = ResolveRenderer(requested_renderer_);
  Pipeline pipeline;
  CpuPipeline cpu;
  XVisualInfo visual{};
  bool have_egl = wanted != Renderer::kCpu && pipeline.InitializeDisplay(display, &visual);
  int screen = DefaultScreen(display);
  Window root = RootWindow(display, screen);

  Window window = 0;
  Colormap colormap = 0;
  Atom wm_protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  Atom wm_delete_window = XInternAtom(display, "WM_DELETE_WINDOW", False);
  {
    XErrorTrap trap(display);
    XSetWindowAttributes attributes{};
    // Black until the first picture is drawn, also when nothing can draw.
    attributes.background_pixel = BlackPixel(display, screen);
    attributes.border_pixel = 0;
    attributes.event_mask = ExposureMask | StructureNotifyMask;
    unsigned long mask = CWBackPixel | CWBorderPixel | CWEventMask;
    int depth = CopyFromParent;
    Visual* x_visual = CopyFromParent;
    if (have_egl) {
      colormap = XCreateColormap(display, root, visual.visual, AllocNone);
      attributes.colormap = colormap;
      mask |= CWColormap;
      depth = visual.depth;
      x_visual = visual.visual;
    }
    window = XCreateWindow(display, root, kInitialX, kInitialY, kInitialWidth, kInitialHeight, 0,
                           depth, InputOutput, x_visual, mask, &attributes);
    if (window) {
      SetWindowManagerHints(display, window);
      XSetWMProtocols(display, window, &wm_delete_window, 1);
    }
    if (int error = trap.SyncAndCheck(); error != 0 || !window || lost) {
      LogMessage(kLogError, "GraphicsWindow: XCreateWindow Failed! error: %d", error);
      window = 0;
    }
  }
  Drawer* drawer = nullptr;
  Renderer active = Renderer::kAuto;
  if (window && !lost && have_egl && pipeline.InitializeEGL(window)) {
    std::string name = pipeline.RendererName();
    if (wanted == Renderer::kAuto && IsSoftwareRenderer(name)) {
      LogMessage(kLogInfo, "GraphicsWindow: OpenGL ES renderer \"%s\" runs on the processor, "
                 "drawing without it", name.c_str());
      pipeline.Release();
    } else {
      drawer = &pipeline;
      active = Renderer::kOpenGl;
    }
  }
  if (window && !lost && !drawer && wanted != Renderer::kOpenGl && cpu.Initialize(display, window)) {
    LogMessage(kLogInfo, "GraphicsWindow: drawing on the processor");
    drawer = &cpu;
    active = Renderer::kCpu;
  }
  if (!window || lost) pipeline.Release(lost);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    window_id_ = window;
    active_renderer_ = active;
    init_state_ = drawer ? InitState::kReady : InitState::kFailed;
    changed_.notify_all();
  }

  int client_width = kInitialWidth, client_height = kInitialHeight;
  bool mapped = false;
  bool dirty = false;        // the window needs drawing
  bool new_picture = false;  // uploaded and not yet drawn
  bool logged_loss = false;
  for (;;) {
    if (lost && !logged_loss) {
      LogMessage(kLogWarning, "GraphicsWindow: lost the connection to display \"%s\"",
                 display_name ? display_name : "");
      logged_loss = true;
      pipeline.Release(true);
      cpu.Release(true);
      window = 0;
    }
    // Everything Xlib has read or can read without waiting.
    while (window && !lost && XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      switch (event.type) {
        case Expose:
          // The last of a series; mapping the window sends one too.
          if (event.xexpose.count == 0) dirty = true;
          break;
        case ConfigureNotify:
          if (event.xconfigure.width != client_width || event.xconfigure.height != client_height) {
            client_width = event.xconfigure.width;
            client_height = event.xconfigure.height;
            dirty = true;
          }
          break;
        case MapNotify:
          mapped = true;
          break;
        case UnmapNotify:
          mapped = false;
          break;
        case ClientMessage:
          // No close button, but the window manager may still ask (a key
          // binding): the viewer goes away, the program stays.
          if (event.xclient.message_type == wm_protocols &&
              static_cast<Atom>(event.xclient.data.l[0]) == wm_delete_window) {
            LogMessage(kLogDebug, "GraphicsWindow: close requested, hiding");
            XWithdrawWindow(display, window, screen);
          }
          break;
        default:
          break;
      }
    }
    std::unique_ptr<chat::ChatVideoFrame> frame;
    VisibilityRequest visibility;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (quit_) break;
      visibility = visibility_request_;
      visibility_request_ = VisibilityRequest::kNone;
      // Hidden, the newest picture waits in place; it is drawn once shown.
      if (new_frame_ && mapped && drawer && drawer->ready()) {
        frame = std::move(pending_frame_);
        new_frame_ = false;
      }
    }
    if (window && visibility == VisibilityRequest::kShow) {
      XMapRaised(display, window);
    } else if (window && visibility == VisibilityRequest::kHide) {
      XWithdrawWindow(display, window, screen);
    }
    if (frame) {
      if (drawer->Update(*frame)) dirty = new_picture = true;
      frame.reset();
    }
    if (dirty && mapped && drawer && drawer->ready()) {
      dirty = false;
      drawer->Render(client_width, client_height);
      // The count moves once the server has the picture.
      XSync(display, False);
      if (!lost) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++draw_count_;
        if (new_picture) ++picture_count_;
        changed_.notify_all();
      }
      new_picture = false;
      continue;
    }
    if (visibility != VisibilityRequest::kNone) continue;  // its events may be waiting

    if (window && !lost) XFlush(display);
    pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {window && !lost ? ConnectionNumber(display) : -1,
                                              POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      uint64_t count;
      ssize_t got = read(wake_fd_, &count, sizeof(count));
      (void)got;
    }
  }

  if (!lost) {
    pipeline.Release();
    cpu.Release();
    if (window) XDestroyWindow(display, window);
    if (colormap) XFreeColormap(display, colormap);
  }
  XCloseDisplay(display);
  ConnectionLossHandler::Remove(display);
}

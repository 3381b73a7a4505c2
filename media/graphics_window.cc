#include "media/graphics_window.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GLES2/gl2.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

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

}  // namespace

// The EGL surface and context and the GL objects of one window. Used only on
// the window thread.
class GraphicsWindow::Pipeline {
 public:
  Pipeline() = default;
  ~Pipeline() { Release(); }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Opens EGL on the X display and picks a configuration; gives the X visual
  // the window must be created with. False (logged) when EGL is unusable.
  bool InitializeDisplay(Display* display, XVisualInfo* visual);
  // Creates the surface, the context and the GL objects for the window.
  // False (logged) on failure; the pipeline is then released.
  bool InitializeEGL(Window window);
  bool ready() const { return context_ != EGL_NO_CONTEXT; }

  // Uploads the picture into the three textures; false (logged) when it
  // cannot be used. The textures keep the picture until the next one.
  bool UpdateTextures(const chat::ChatVideoFrame& frame);
  // Clears to black, draws the picture (if one was uploaded) letterboxed and
  // presents.
  void Render(int client_width, int client_height);

  // Drops everything. With lost set the X connection is gone; EGL is not
  // asked to talk to it any more.
  void Release(bool lost = false);

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

bool GraphicsWindow::Pipeline::UpdateTextures(const chat::ChatVideoFrame& frame) {
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

GraphicsWindow::GraphicsWindow() : wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

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

  Pipeline pipeline;
  XVisualInfo visual{};
  bool have_egl = pipeline.InitializeDisplay(display, &visual);
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
  bool ready = window && have_egl && pipeline.InitializeEGL(window);
  if (!window || lost) pipeline.Release(lost);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    window_id_ = window;
    init_state_ = ready ? InitState::kReady : InitState::kFailed;
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
      if (new_frame_ && mapped && pipeline.ready()) {
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
      if (pipeline.UpdateTextures(*frame)) dirty = new_picture = true;
      frame.reset();
    }
    if (dirty && mapped && pipeline.ready()) {
      dirty = false;
      pipeline.Render(client_width, client_height);
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
    if (window) XDestroyWindow(display, window);
    if (colormap) XFreeColormap(display, colormap);
  }
  XCloseDisplay(display);
  ConnectionLossHandler::Remove(display);
}

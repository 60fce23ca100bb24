#include "tools/host/GlContext.h"

#include <windows.h>

#include "tools/host/GlApi.h"
// After GlApi.h (GLEW).
#include <GL/wglext.h>

#include <cstdio>

namespace mirandel::host {

// WGL draws through a device context, which only a window has: a small one
// that is never shown. Its pixel format is irrelevant to the drawing, which
// goes into framebuffer objects, but a window needs one before WGL accepts it.
struct GlContext::Handles {
  HWND window = nullptr;
  HDC dc = nullptr;
  HGLRC context = nullptr;
};

namespace {

constexpr const wchar_t* kWindowClass = L"MirandelHostGl";

// The host's own GLEW, filled for the current context: opengl32.dll exports
// only GL 1.1. False and `error` when what the host draws and reads with is
// missing.
bool loadEntryPoints(std::string* error) {
  // Core profiles report no extension string through glGetString; without this
  // GLEW would leave most post-1.1 entry points unloaded.
  glewExperimental = GL_TRUE;
  if (glewInit() != GLEW_OK || glGenFramebuffers == nullptr || glBindFramebuffer == nullptr ||
      glFramebufferTexture2D == nullptr || glCheckFramebufferStatus == nullptr ||
      glDeleteFramebuffers == nullptr) {
    if (error != nullptr) *error = "GLEW found no framebuffer object entry points";
    return false;
  }
  return true;
}

std::string lastErrorText(const char* what) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s failed (error %lu)", what,
                static_cast<unsigned long>(GetLastError()));
  return buf;
}

// Registered once per process; later calls find it registered.
bool registerWindowClass() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_OWNDC;  // the device context stays valid for the window's life
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowClass;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

std::unique_ptr<GlContext> GlContext::create(std::string* error) {
  auto fail = [&](const std::string& text) -> std::unique_ptr<GlContext> {
    if (error != nullptr) *error = text;
    return nullptr;
  };
  if (!registerWindowClass()) return fail(lastErrorText("RegisterClassExW"));
  auto handles = std::make_unique<Handles>();
  // From here the context object owns whatever is made, and its destructor
  // releases what there is.
  std::unique_ptr<GlContext> gl(new GlContext(std::move(handles)));
  Handles& h = *gl->handles_;
  h.window = CreateWindowExW(0, kWindowClass, L"", WS_OVERLAPPEDWINDOW, 0, 0, 64, 64, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
  if (h.window == nullptr) return fail(lastErrorText("CreateWindowExW"));
  h.dc = GetDC(h.window);
  if (h.dc == nullptr) return fail(lastErrorText("GetDC"));

  PIXELFORMATDESCRIPTOR pfd = {};
  pfd.nSize = sizeof pfd;
  pfd.nVersion = 1;
  pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  pfd.iPixelType = PFD_TYPE_RGBA;
  pfd.cColorBits = 32;
  pfd.cAlphaBits = 8;
  pfd.iLayerType = PFD_MAIN_PLANE;
  const int format = ChoosePixelFormat(h.dc, &pfd);
  if (format == 0) return fail(lastErrorText("ChoosePixelFormat"));
  if (!SetPixelFormat(h.dc, format, &pfd)) return fail(lastErrorText("SetPixelFormat"));

  // wglCreateContextAttribsARB is an extension entry point: it can only be
  // looked up while some context is current, so a legacy one is made first
  // and dropped once the real one exists.
  HGLRC legacy = wglCreateContext(h.dc);
  if (legacy == nullptr) return fail(lastErrorText("wglCreateContext"));
  if (!wglMakeCurrent(h.dc, legacy)) {
    std::string text = lastErrorText("wglMakeCurrent (legacy context)");
    wglDeleteContext(legacy);
    return fail(text);
  }
  // Through a generic function pointer: PROC and the extension's type differ.
  auto createAttribs = reinterpret_cast<PFNWGLCREATECONTEXTATTRIBSARBPROC>(
      reinterpret_cast<void (*)()>(wglGetProcAddress("wglCreateContextAttribsARB")));
  const int attribs[] = {WGL_CONTEXT_MAJOR_VERSION_ARB,
                         4,
                         WGL_CONTEXT_MINOR_VERSION_ARB,
                         1,
                         WGL_CONTEXT_PROFILE_MASK_ARB,
                         WGL_CONTEXT_CORE_PROFILE_BIT_ARB,
                         0};
  if (createAttribs != nullptr) h.context = createAttribs(h.dc, nullptr, attribs);
  wglMakeCurrent(nullptr, nullptr);
  wglDeleteContext(legacy);
  if (createAttribs == nullptr) return fail("the driver has no wglCreateContextAttribsARB");
  if (h.context == nullptr)
    return fail(lastErrorText("wglCreateContextAttribsARB(OpenGL 4.1 core)"));
  if (!wglMakeCurrent(h.dc, h.context)) return fail(lastErrorText("wglMakeCurrent"));
  if (!loadEntryPoints(error)) return nullptr;
  return gl;
}

GlContext::GlContext(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

GlContext::~GlContext() {
  Handles& h = *handles_;
  if (h.context != nullptr) {
    if (wglGetCurrentContext() == h.context) wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(h.context);
  }
  if (h.dc != nullptr) ReleaseDC(h.window, h.dc);
  if (h.window != nullptr) DestroyWindow(h.window);
}

bool GlContext::makeCurrent() { return wglMakeCurrent(handles_->dc, handles_->context) != FALSE; }

void GlContext::releaseCurrent() { wglMakeCurrent(nullptr, nullptr); }

}  // namespace mirandel::host

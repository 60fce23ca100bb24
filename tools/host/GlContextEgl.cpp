#include "tools/host/GlContext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <cstring>

namespace mirandel::host {

struct GlContext::Handles {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
};

namespace {

EGLDisplay surfacelessDisplay() {
  // EGL 1.5's entry point first, the extension's as a fallback; both take the
  // same arguments for this platform.
  auto get15 =
      reinterpret_cast<PFNEGLGETPLATFORMDISPLAYPROC>(eglGetProcAddress("eglGetPlatformDisplay"));
  if (get15 != nullptr) {
    EGLDisplay d = get15(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (d != EGL_NO_DISPLAY) return d;
  }
  auto getExt = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (getExt != nullptr) {
    return getExt(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  }
  return EGL_NO_DISPLAY;
}

std::string eglErrorText(const char* what) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s failed (EGL error 0x%04x)", what,
                static_cast<unsigned>(eglGetError()));
  return buf;
}

}  // namespace

std::unique_ptr<GlContext> GlContext::create(std::string* error) {
  auto fail = [&](const std::string& text) -> std::unique_ptr<GlContext> {
    if (error != nullptr) *error = text;
    return nullptr;
  };
  EGLDisplay display = surfacelessDisplay();
  if (display == EGL_NO_DISPLAY) return fail(eglErrorText("surfaceless EGL display"));
  EGLint major = 0, minor = 0;
  if (!eglInitialize(display, &major, &minor)) return fail(eglErrorText("eglInitialize"));
  const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
  if (extensions == nullptr || std::strstr(extensions, "EGL_KHR_surfaceless_context") == nullptr) {
    return fail("EGL_KHR_surfaceless_context is not supported");
  }
  if (!eglBindAPI(EGL_OPENGL_API)) {
    return fail(eglErrorText("eglBindAPI(EGL_OPENGL_API)"));
  }
  const EGLint configAttribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE,
                                  EGL_PBUFFER_BIT, EGL_NONE};
  EGLConfig config = nullptr;
  EGLint numConfigs = 0;
  if (!eglChooseConfig(display, configAttribs, &config, 1, &numConfigs) || numConfigs < 1) {
    config = nullptr;  // surfaceless contexts may do without a config (EGL_KHR_no_config_context)
  }
  const EGLint contextAttribs[] = {EGL_CONTEXT_MAJOR_VERSION,
                                   4,
                                   EGL_CONTEXT_MINOR_VERSION,
                                   1,
                                   EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                   EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                   EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttribs);
  if (context == EGL_NO_CONTEXT) {
    return fail(eglErrorText("eglCreateContext(OpenGL 4.1 core)"));
  }
  if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
    std::string text = eglErrorText("eglMakeCurrent without a surface");
    eglDestroyContext(display, context);
    return fail(text);
  }
  auto handles = std::make_unique<Handles>();
  handles->display = display;
  handles->context = context;
  return std::unique_ptr<GlContext>(new GlContext(std::move(handles)));
}

GlContext::GlContext(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}

GlContext::~GlContext() {
  eglMakeCurrent(handles_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  eglDestroyContext(handles_->display, handles_->context);
  // The display is deliberately left initialised. EGL hands every caller the
  // same display for the platform, so terminating it would pull it from under
  // any other context of the process; and terminating unloads Mesa's driver,
  // after which its few process-lifetime allocations can no longer be told
  // apart from real leaks in sanitizer builds.
  eglReleaseThread();
}

bool GlContext::makeCurrent() {
  return eglMakeCurrent(handles_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, handles_->context) ==
         EGL_TRUE;
}

void GlContext::releaseCurrent() {
  eglMakeCurrent(handles_->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

}  // namespace mirandel::host

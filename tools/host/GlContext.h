#pragma once
// An offscreen desktop OpenGL core context for a headless host. On Linux: EGL
// on Mesa's surfaceless platform, no window system and no surface. On Windows:
// WGL on a hidden window that is never shown. Drawing goes into framebuffer
// objects (Framebuffer.h); GlApi.h declares the GL functions the host calls.
#include <memory>
#include <string>

namespace mirandel::host {

struct GlVersion {
  int major = 0;
  int minor = 0;
  bool coreProfile = false;
  std::string renderer;
  std::string version;
};

class GlContext {
 public:
  // Creates an OpenGL 4.1 (or later) core profile context and makes it
  // current on the calling thread with no surface. Answers null and fills
  // `error` when the platform or the context is unavailable.
  static std::unique_ptr<GlContext> create(std::string* error);

  // Releases and destroys the context. The thread that created it.
  ~GlContext();

  GlContext(const GlContext&) = delete;
  GlContext& operator=(const GlContext&) = delete;

  // Makes the context current (again) on the calling thread.
  bool makeCurrent();
  // Leaves the calling thread without a current context.
  void releaseCurrent();

  // What the driver reports for the context; read while it is current.
  GlVersion version() const;

 private:
  struct Handles;  // the platform's display, window and context handles

  explicit GlContext(std::unique_ptr<Handles> handles);

  std::unique_ptr<Handles> handles_;
};

}  // namespace mirandel::host

#include "tools/host/GlContext.h"

#include "tools/host/GlApi.h"

namespace mirandel::host {

GlVersion GlContext::version() const {
  GlVersion v;
  glGetIntegerv(GL_MAJOR_VERSION, &v.major);
  glGetIntegerv(GL_MINOR_VERSION, &v.minor);
  GLint mask = 0;
  glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &mask);
  v.coreProfile = (mask & GL_CONTEXT_CORE_PROFILE_BIT) != 0;
  auto text = [](GLenum name) {
    const GLubyte* s = glGetString(name);
    return s != nullptr ? std::string(reinterpret_cast<const char*>(s)) : std::string();
  };
  v.renderer = text(GL_RENDERER);
  v.version = text(GL_VERSION);
  return v;
}

}  // namespace mirandel::host

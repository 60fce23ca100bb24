#include "ffglex/FFGLShader.h"

#include <vector>

#include "base/Log.h"

namespace ffglex {

bool FFGLShader::Compile(const char* vertexSource, const char* fragmentSource) {
  if (!vertexSource || !*vertexSource) return false;
  const bool hasFragment = fragmentSource && *fragmentSource;
  if (!hasFragment && transformFeedbackVaryings_.empty()) return false;

  if (CompileStage(GL_VERTEX_SHADER, vertexSource, vertexShader_) &&
      (!hasFragment || CompileStage(GL_FRAGMENT_SHADER, fragmentSource, fragmentShader_)) &&
      Link())
    return true;
  FreeGLResources();
  return false;
}

bool FFGLShader::CompileStage(GLenum stage, const char* source, GLuint& id) {
  id = glCreateShader(stage);
  glShaderSource(id, 1, &source, nullptr);
  glCompileShader(id);
  GLint status = GL_FALSE;
  glGetShaderiv(id, GL_COMPILE_STATUS, &status);
  if (status == GL_TRUE) return true;

  GLint length = 0;
  glGetShaderiv(id, GL_INFO_LOG_LENGTH, &length);
  std::vector<char> log(static_cast<std::size_t>(length > 0 ? length : 0) + 1, 0);
  glGetShaderInfoLog(id, length, nullptr, log.data());
  mirandel::debugLog(stage == GL_VERTEX_SHADER ? "Vertex Shader error: " : "Fragment Shader error: ",
                     log.data());
  return false;
}

bool FFGLShader::Link() {
  uniforms_.clear();
  program_ = glCreateProgram();
  glAttachShader(program_, vertexShader_);
  if (geometryShader_) glAttachShader(program_, geometryShader_);
  if (fragmentShader_) glAttachShader(program_, fragmentShader_);
  if (!transformFeedbackVaryings_.empty()) {
    std::vector<const char*> names;
    for (const std::string& v : transformFeedbackVaryings_) names.push_back(v.c_str());
    glTransformFeedbackVaryings(program_, static_cast<GLsizei>(names.size()), names.data(),
                                GL_INTERLEAVED_ATTRIBS);
  }
  glLinkProgram(program_);
  GLint status = GL_FALSE;
  glGetProgramiv(program_, GL_LINK_STATUS, &status);
  if (status == GL_TRUE) return true;

  char log[1024] = {0};
  GLsizei length = 0;
  glGetProgramInfoLog(program_, sizeof log - 1, &length, log);
  log[length >= 0 && length < static_cast<GLsizei>(sizeof log) ? length : 0] = 0;
  mirandel::debugLog("Fragment Shader error: ", log);
  return false;
}

GLint FFGLShader::FindUniform(const char* name) {
  auto it = uniforms_.find(name);
  if (it != uniforms_.end()) return it->second;
  const GLint location = glGetUniformLocation(program_, name);
  uniforms_.emplace(name, location);
  return location;
}

void FFGLShader::FreeGLResources() {
  if (vertexShader_) glDeleteShader(vertexShader_);
  if (fragmentShader_) glDeleteShader(fragmentShader_);
  if (geometryShader_) glDeleteShader(geometryShader_);
  if (program_) glDeleteProgram(program_);
  vertexShader_ = geometryShader_ = fragmentShader_ = program_ = 0;
  uniforms_.clear();
}

}  // namespace ffglex

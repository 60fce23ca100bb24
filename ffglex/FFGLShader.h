#pragma once
// A GLSL program: compiles and links from source, reports compiler and linker
// logs through debugLog, and caches uniform locations (misses included, so a
// name the program does not use costs GL one query). Host GL thread only.
#include <GL/glew.h>

#include <string>
#include <unordered_map>
#include <vector>

namespace ffglex {

class FFGLShader {
 public:
  FFGLShader() = default;
  FFGLShader(const FFGLShader&) = delete;
  FFGLShader& operator=(const FFGLShader&) = delete;

  // On false every GL object of the shader has been released.
  bool Compile(const char* vertexSource, const char* fragmentSource);
  GLint FindUniform(const char* name);
  GLuint GetGLID() const { return program_; }
  void FreeGLResources();

 private:
  bool CompileStage(GLenum stage, const char* source, GLuint& id);
  bool Link();

  GLuint vertexShader_ = 0;
  GLuint geometryShader_ = 0;
  GLuint fragmentShader_ = 0;
  GLuint program_ = 0;
  std::vector<std::string> transformFeedbackVaryings_;
  std::unordered_map<std::string, GLint> uniforms_;
};

}  // namespace ffglex

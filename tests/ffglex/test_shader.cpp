#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ffglex/FFGLScreenQuad.h"
#include "ffglex/FFGLShader.h"
#include "plugin/GLLoader.h"
#include "tools/host/GlContext.h"

namespace {

constexpr const char* kVertex = R"(#version 410 core
layout(location = 0) in vec4 p;
void main() { gl_Position = p; }
)";
constexpr const char* kFragment = R"(#version 410 core
uniform float used;
out vec4 c;
void main() { c = vec4(used); }
)";

int uniformQueries = 0;
PFNGLGETUNIFORMLOCATIONPROC realGetUniformLocation = nullptr;
GLint GLAPIENTRY countingGetUniformLocation(GLuint program, const GLchar* name) {
  ++uniformQueries;
  return realGetUniformLocation(program, name);
}

class Shader : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    context_ = mirandel::host::GlContext::create(&error).release();
    ASSERT_NE(context_, nullptr) << error;
    ASSERT_TRUE(mirandel::loadGLEntryPoints());
  }
  void SetUp() override {
    if (!context_) GTEST_SKIP();
  }
  static mirandel::host::GlContext* context_;
};
mirandel::host::GlContext* Shader::context_ = nullptr;

TEST_F(Shader, CompilesAndLinksAWorkingProgram) {
  ffglex::FFGLShader shader;
  ASSERT_TRUE(shader.Compile(kVertex, kFragment));
  EXPECT_NE(shader.GetGLID(), 0u);
  EXPECT_GE(shader.FindUniform("used"), 0);
  shader.FreeGLResources();
  EXPECT_EQ(shader.GetGLID(), 0u);
}

// A missing fragment stage must be refused before any GL object exists.
TEST_F(Shader, EmptySourcesAreRefusedWithoutTouchingGL) {
  ffglex::FFGLShader shader;
  EXPECT_FALSE(shader.Compile(kVertex, ""));
  EXPECT_FALSE(shader.Compile(nullptr, kFragment));
  EXPECT_EQ(shader.GetGLID(), 0u);
}

// Shader diagnostics go to the developer's output, one line per failure, and
// the fragment stage is not compiled after a broken vertex stage.
TEST_F(Shader, ABrokenVertexShaderLogsOneLineAndLeavesTheShaderEmpty) {
  ffglex::FFGLShader shader;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(shader.Compile("#version 410 core\nvoid main() { syntax error }\n", kFragment));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("Vertex Shader error: ", 0), 0u) << out;
  EXPECT_EQ(out.find("Fragment Shader error: "), std::string::npos) << out;
  EXPECT_EQ(shader.GetGLID(), 0u);
}

TEST_F(Shader, ALinkFailureIsReportedWithTheProgramLog) {
  // Both stages compile, but the varying's type differs between them.
  const char* vertex = R"(#version 410 core
layout(location = 0) in vec4 p;
out float shade;
void main() { shade = p.x; gl_Position = p; }
)";
  const char* fragment = R"(#version 410 core
in vec3 shade;
out vec4 c;
void main() { c = vec4(shade, 1.0); }
)";
  ffglex::FFGLShader shader;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(shader.Compile(vertex, fragment));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("Fragment Shader error: ", 0), 0u) << out;
  EXPECT_EQ(shader.GetGLID(), 0u);
}

// Looking a uniform up every frame costs a driver round trip; misses must be
// cached as well as hits.
TEST_F(Shader, UniformLookupsAreCachedIncludingMisses) {
  ffglex::FFGLShader shader;
  ASSERT_TRUE(shader.Compile(kVertex, kFragment));
  realGetUniformLocation = __glewGetUniformLocation;
  __glewGetUniformLocation = &countingGetUniformLocation;
  uniformQueries = 0;
  EXPECT_EQ(shader.FindUniform("notThere"), -1);
  EXPECT_EQ(shader.FindUniform("notThere"), -1);
  const GLint used = shader.FindUniform("used");
  EXPECT_EQ(shader.FindUniform("used"), used);
  __glewGetUniformLocation = realGetUniformLocation;
  EXPECT_EQ(uniformQueries, 2);
  shader.FreeGLResources();
}

TEST_F(Shader, AnEmptyQuadDrawsNothingAndAReleasedQuadIsEmpty) {
  ffglex::FFGLScreenQuad quad;
  quad.Draw();  // nothing bound, nothing drawn, no GL error
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  ASSERT_TRUE(quad.Initialise(false));
  quad.Release();
  quad.Draw();
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace

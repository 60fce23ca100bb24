#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>

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

// One GL context, made by the first test and kept current for the rest.
class Shader : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::string error;
    static const auto* context = mirandel::host::GlContext::create(&error).release();
    ASSERT_NE(context, nullptr) << error;
    ASSERT_TRUE(mirandel::loadGLEntryPoints());
  }
};

// A working program links; looking a uniform up every frame costs a driver
// round trip, so misses must be cached as well as hits.
TEST_F(Shader, LinksAWorkingProgramAndCachesUniformLookupsIncludingMisses) {
  ffglex::FFGLShader shader;
  ASSERT_TRUE(shader.Compile(kVertex, kFragment));
  EXPECT_NE(shader.GetGLID(), 0u);
  realGetUniformLocation = __glewGetUniformLocation;
  __glewGetUniformLocation = &countingGetUniformLocation;
  uniformQueries = 0;
  EXPECT_EQ(shader.FindUniform("notThere"), -1);
  EXPECT_EQ(shader.FindUniform("notThere"), -1);
  const GLint used = shader.FindUniform("used");
  EXPECT_GE(used, 0);
  EXPECT_EQ(shader.FindUniform("used"), used);
  __glewGetUniformLocation = realGetUniformLocation;
  EXPECT_EQ(uniformQueries, 2);
  shader.FreeGLResources();
  EXPECT_EQ(shader.GetGLID(), 0u);
}

// A missing fragment stage must be refused before any GL object exists, silently.
// Guards against a failed stage or link leaving a program behind or logging other than one line:
// a broken vertex stage stops first; a varying typed differently in each stage fails the link.
TEST_F(Shader, EmptySourcesAndCompileOrLinkFailuresLeaveTheShaderEmptyLoggingAtMostOneLine) {
  // The sources, and how the one line logged begins (empty: nothing is logged).
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {kVertex, "", ""},
      {nullptr, kFragment, ""},
      {"#version 410 core\nvoid main() { syntax error }\n", kFragment, "Vertex Shader error: "},
      {"#version 410 core\nlayout(location = 0) in vec4 p;\nout float shade;\n"
       "void main() { shade = p.x; gl_Position = p; }\n",
       "#version 410 core\nin vec3 shade;\nout vec4 c;\nvoid main() { c = vec4(shade, 1.0); }\n",
       "Fragment Shader error: "},
  };
  for (const auto& [vertex, fragment, line] : cases) {
    ffglex::FFGLShader shader;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(shader.Compile(vertex, fragment));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind(line, 0), 0u) << out;
    EXPECT_EQ(out.find("Shader error: ", std::strlen(line)), std::string::npos) << out;
    EXPECT_EQ(shader.GetGLID(), 0u);
  }
}

// Guards against drawing with no vertex buffer bound, before initialising or after a release.
TEST_F(Shader, AnEmptyQuadDrawsNothingAndAReleasedQuadIsEmpty) {
  ffglex::FFGLScreenQuad quad;
  quad.Draw();
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  ASSERT_TRUE(quad.Initialise(false));
  quad.Release();
  quad.Draw();
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace

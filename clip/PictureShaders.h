#pragma once
// The two GLSL programs that draw the phone's picture.
namespace mirandel::shaders {

inline constexpr const char* kVertex = R"(#version 410 core
layout(location = 0) in vec4 vPosition;
layout(location = 1) in vec2 vUV;
out vec2 uv;
void main() {
  uv = vUV;
  gl_Position = vPosition;
}
)";

// The phone encodes without film grain (grain costs bits and smears under
// compression); this rebuilds it per output pixel from integer hashes of the
// picture pixel and the picture number, strongest in the mid-tones.
inline constexpr const char* kFragment = R"(#version 410 core
uniform sampler2D picture;
uniform vec2 scale;
uniform float opacity;
uniform float grainAmount;
uniform uint grainSeed;
uniform vec2 texSize;
in vec2 uv;
out vec4 fragColor;

float grain(vec2 gp, float tone) {
  uvec2 c1 = uvec2(gp);
  uvec2 c2 = uvec2(gp + 0.5);
  uint h1 = (c1.x * 73856093u) ^ (c1.y * 19349663u) ^ (grainSeed * 2654435761u);
  h1 = (h1 ^ (h1 >> 13u)) * 0x5bd1e995u;
  uint h2 = (c2.x * 83492791u) ^ (c2.y * 29349667u) ^ ((grainSeed + 7u) * 2654435761u);
  h2 = (h2 ^ (h2 >> 13u)) * 0x5bd1e995u;
  float n = (float(h1 & 0xFFFFu) + float(h2 & 0xFFFFu)) / 131072.0 - 0.5;
  float mid = 1.0 - abs(2.0 * tone - 1.0);
  return n * grainAmount * (0.35 + 0.65 * mid);
}

void main() {
  vec2 t = (uv - 0.5) / scale + 0.5;
  if (t.x < 0.0 || t.y < 0.0 || t.x > 1.0 || t.y > 1.0) {
    fragColor = vec4(0.0);
    return;
  }
  vec4 c = texture(picture, vec2(t.x, 1.0 - t.y));
  if (grainAmount > 0.0) {
    vec2 gp = floor(vec2(t.x, 1.0 - t.y) * texSize);
    float tone = dot(c.rgb, vec3(0.2126, 0.7152, 0.0722));
    c.rgb = clamp(c.rgb + grain(gp, tone), 0.0, 1.0);
  }
  fragColor = vec4(c.rgb, 1.0) * opacity;
}
)";

}  // namespace mirandel::shaders

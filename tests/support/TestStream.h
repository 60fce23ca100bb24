#pragma once
// The phone emulator's stream as the tests that need real pictures run it.
#include "tools/phone/StreamSender.h"

namespace mirandel::test {

// 320x240 at 30 fps and 400 kb/s with a key picture every tenth: small enough for sanitizer
// builds, and a key picture often enough that damage and reconnects recover within a second.
inline phone::StreamOptions smallStream(CodecKind codec = kCodecH264) {
  phone::StreamOptions o;
  o.encoder.codec = codec;
  o.encoder.width = 320;
  o.encoder.height = 240;
  o.encoder.fps = 30;
  o.encoder.bitrateKbps = 400;
  o.encoder.keyInterval = 10;
  return o;
}

}  // namespace mirandel::test

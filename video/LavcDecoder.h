#pragma once
// The Linux decoder: FFmpeg's libavcodec software H.264 and HEVC decoders,
// set up for the lowest latency (one picture out per unit in).
#include <memory>

#include "video/DecoderBackend.h"

namespace mirandel {

std::unique_ptr<DecoderBackend> makeLavcBackend();

}  // namespace mirandel

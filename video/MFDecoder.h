#pragma once
// The Windows decoder: the first synchronous (software) Media Foundation
// H.264 or HEVC decoder transform, asked for low latency and for NV12 output,
// or P010 for 10-bit streams.
#include <memory>

#include "video/DecoderBackend.h"

namespace mirandel {

std::unique_ptr<DecoderBackend> makeMFBackend();

}  // namespace mirandel

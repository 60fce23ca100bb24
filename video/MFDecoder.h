#pragma once
// The Windows decoder: the first synchronous (software) Media Foundation
// H.264 or HEVC decoder transform, asked for low latency and for NV12 output,
// or P010 for 10-bit streams.
//
// A decoder that keeps pictures back (Wine's keeps one, more with
// B-pictures) gives each out with a later unit, carrying its own unit's
// stamps. Nothing drains it at a stream's end: a live stream ends only at a
// reconnect or a stop, and the pictures still inside are stale by then.
#include <memory>

#include "video/DecoderBackend.h"

namespace mirandel {

std::unique_ptr<DecoderBackend> makeMFBackend();

}  // namespace mirandel

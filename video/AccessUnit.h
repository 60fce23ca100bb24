#pragma once
// Records shared by the demultiplexer, the decoder and the video pipeline.
#include <cstdint>
#include <vector>

#include "base/Clock.h"

namespace mirandel {

// Which video codec a stream carries: 0 none yet, 1 H.264, 2 HEVC.
using CodecKind = std::uint32_t;
inline constexpr CodecKind kCodecNone = 0;
inline constexpr CodecKind kCodecH264 = 1;
inline constexpr CodecKind kCodecHevc = 2;

// One coded picture cut from the transport stream. Moved by value; the consumer gets it by
// non-const reference and may take `bytes`.
struct AccessUnit {
  std::vector<std::uint8_t> bytes;  // elementary-stream bytes, Annex-B start codes included
  std::int64_t pts = -1;            // 33-bit PTS (90 kHz) of the opening PES; -1 when it had none
  bool randomAccess = false;        // random_access_indicator with the opening PES
  bool corrupt = false;             // some of its PES data was damaged or incomplete
  bool discontinuity = false;       // a video packet was lost or damaged since the previous unit
  Nanos completedAt = 0;            // monotonic time at which the unit was emitted
};

// Running totals of the demultiplexer; never cleared by a reset.
struct DemuxCounters {
  std::uint64_t packets = 0;           // every 188-byte packet parsed, null packets included
  std::uint64_t syncLosses = 0;        // re-synchronisations
  std::uint64_t continuityErrors = 0;  // counter jumps and transport errors on the video PID
  std::uint64_t pesCount = 0;          // PES packets completed
  std::uint64_t auCount = 0;           // units emitted
  std::uint64_t markers = 0;           // end-of-picture markers seen
};

}  // namespace mirandel

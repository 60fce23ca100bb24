#pragma once
// Driving a Media Foundation decoder transform: the library looked up at run
// time, finding a codec's decoders, asking for low latency, the input type
// and samples, and one output call. The Windows decoder (MFDecoder.cpp) and
// the probe (tools/mfprobe) drive transforms through these. Windows only.
// clang-format off
#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mftransform.h>
// clang-format on

#include <optional>
#include <vector>

#include "video/AccessUnit.h"
#include "video/ComPtr.h"

namespace mirandel {

// Media Foundation, looked up at run time rather than imported: Windows N
// editions lack it until the Media Feature Pack is installed, and the
// plug-in must still load there (its pictures then fail with a reason). It
// starts once per process and is never shut down, so no clip pulls it from
// under another clip's decoder; every open fails when it did not start.
struct MediaFoundation {
  // The types the headers declare; taking them imports nothing.
  decltype(&MFTEnumEx) enumTransforms = nullptr;
  decltype(&MFCreateMediaType) createMediaType = nullptr;
  decltype(&MFCreateSample) createSample = nullptr;
  decltype(&MFCreateMemoryBuffer) createMemoryBuffer = nullptr;
  decltype(&MFCreateAlignedMemoryBuffer) createAlignedMemoryBuffer = nullptr;
  HRESULT started = E_FAIL;
};

// Any thread; loads and starts the library on the first call.
const MediaFoundation& mediaFoundation();

// Each thread that opens a decoder joins the multithreaded apartment once:
// the receive thread is a new one at every stream start. A thread that is
// already in another apartment stays there. The transform is flushed and
// released on the thread that made it (the pipeline resets its decoder at
// each session's end), so a transform bound to that apartment is never
// reached through a proxy from the host's thread.
void joinComApartment();

// 90 kHz stamps to Media Foundation's 100 ns times and back; rounding on the
// way back gives every stamp its own value again.
inline LONGLONG sampleTimeOf(std::int64_t pts) { return pts * 1000 / 9; }
inline std::int64_t ptsOf(LONGLONG time) { return (time * 9 + 500) / 1000; }

// The synchronous decoders of a codec, best first. Empty, with the
// enumeration's result, when there are none or the library did not start.
struct DecoderTransforms {
  HRESULT result = E_FAIL;
  std::vector<ComPtr<IMFActivate>> found;
};
DecoderTransforms findDecoderTransforms(CodecKind codec);

// Asks for each picture to come out as soon as it is decoded, through the
// attributes and the codec interface; a transform may take either, both or
// neither. Each answer is missing where the transform has no such interface.
struct LowLatencyAnswers {
  std::optional<HRESULT> attributes;
  std::optional<HRESULT> codecApi;
};
LowLatencyAnswers requestLowLatency(IMFTransform& transform);

// The codec's compressed input, progressive, with the size and rate of a
// 1080p30 stream until the stream's own parameter sets say otherwise.
HRESULT setInputType(IMFTransform& transform, CodecKind codec);

// A sample with a copy of the unit's bytes, its time when it has a pts, a
// thirtieth of a second long, a clean point when it is a key picture; empty
// when Media Foundation could not make one.
ComPtr<IMFSample> inputSample(const AccessUnit& unit, bool key);

// One ProcessOutput call on stream 0, offering `given` (null for a transform
// that provides its own samples).
struct OutputCall {
  HRESULT result = E_FAIL;
  bool noSample = false;   // the call succeeded without a picture
  ComPtr<IMFSample> made;  // a sample the transform made, ours to release
  // The sample the picture is in: `made`, else `given`.
  IMFSample* picture = nullptr;
};
OutputCall processOutput(IMFTransform& transform, IMFSample* given);

}  // namespace mirandel

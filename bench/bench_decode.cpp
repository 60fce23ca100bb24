// Decode latency per access unit at 1920 x 1080, H.264 and HEVC: time from
// handing a unit to the decoder until its BGRA picture has been delivered
// (decode, drain and conversion). Clips are encoded with the ffmpeg tool
// into the build tree on first use. Reported as median and p99 counters.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "video/Decoder.h"
#include "video/test_decoder_clips.h"

namespace {

using mirandel::AccessUnit;
using mirandel::CodecKind;

const std::vector<AccessUnit>& clipUnits(CodecKind codec) {
  static std::vector<AccessUnit> units[3];
  if (units[codec].empty()) {
    const std::string path = mirandel::test::makeClip(
        {codec, 1920, 1080, 60}, std::string(MIRANDEL_BINARY_DIR) + "/bench/decoder-clips");
    if (!path.empty()) units[codec] = mirandel::test::readAccessUnits(path);
  }
  return units[codec];
}

void decodeLatency(benchmark::State& state, CodecKind codec) {
  const auto& units = clipUnits(codec);
  if (units.empty()) {
    state.SkipWithError("could not encode the clip");
    return;
  }
  std::vector<double> ms;
  std::size_t frames = 0;
  for (auto _ : state) {
    auto decoder = mirandel::makeDecoder([&](const mirandel::Frame&) { ++frames; });
    for (const AccessUnit& original : units) {
      AccessUnit unit = original;
      const auto t0 = std::chrono::steady_clock::now();
      decoder->decode(unit, codec);
      ms.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
  }
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p99_ms"] = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
  state.counters["frames_per_unit"] = static_cast<double>(frames) / static_cast<double>(ms.size());
  state.SetItemsProcessed(static_cast<std::int64_t>(ms.size()));
}

BENCHMARK_CAPTURE(decodeLatency, H264_1080p, mirandel::kCodecH264)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(decodeLatency, Hevc_1080p, mirandel::kCodecHevc)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

// Decode latency per access unit at 1920 x 1080, H.264 and HEVC: time from
// handing a unit to the decoder until its BGRA picture has been delivered
// (decode, drain and conversion), as wall time and as this thread's CPU time
// (the CPU figure holds on a loaded machine). Reference: libavcodec with its
// default frame threading, which gives the same pictures only some units
// later (delay_units). Clips are encoded with the ffmpeg tool into the build
// tree on first use. Reported as median and p99 counters.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

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

double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

void report(benchmark::State& state, std::vector<double>& wall, std::vector<double>& cpu) {
  auto pick = [](std::vector<double>& v, std::size_t percent) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * percent / 100)];
  };
  state.counters["median_ms"] = pick(wall, 50);
  state.counters["p99_ms"] = pick(wall, 99);
  state.counters["cpu_median_ms"] = pick(cpu, 50);
  state.counters["cpu_p99_ms"] = pick(cpu, 99);
  state.SetItemsProcessed(static_cast<std::int64_t>(wall.size()));
}

void decodeLatency(benchmark::State& state, CodecKind codec) {
  const auto& units = clipUnits(codec);
  if (units.empty()) {
    state.SkipWithError("could not encode the clip");
    return;
  }
  std::vector<double> ms, cpu;
  std::size_t frames = 0;
  for (auto _ : state) {
    auto decoder = mirandel::makeDecoder([&](const mirandel::Frame&) { ++frames; });
    for (const AccessUnit& original : units) {
      AccessUnit unit = original;
      const double c0 = threadCpuMs();
      const auto t0 = std::chrono::steady_clock::now();
      decoder->decode(unit, codec);
      ms.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
      cpu.push_back(threadCpuMs() - c0);
    }
  }
  state.counters["frames_per_unit"] = static_cast<double>(frames) / static_cast<double>(ms.size());
  state.counters["delay_units"] = 0;
  report(state, ms, cpu);
}

// libavcodec as it comes: frame threads on every core. A picture is counted
// from its unit's submission until it comes out, however many units later.
void lavcFrameThreads(benchmark::State& state, CodecKind codec) {
  const auto& units = clipUnits(codec);
  if (units.empty()) {
    state.SkipWithError("could not encode the clip");
    return;
  }
  std::vector<double> ms, cpu;
  double delaySum = 0;
  std::size_t delayed = 0;
  for (auto _ : state) {
    const AVCodec* dec =
        avcodec_find_decoder(codec == mirandel::kCodecHevc ? AV_CODEC_ID_HEVC : AV_CODEC_ID_H264);
    AVCodecContext* ctx = avcodec_alloc_context3(dec);
    ctx->thread_count = 0;
    ctx->thread_type = FF_THREAD_FRAME;
    avcodec_open2(ctx, dec, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<std::chrono::steady_clock::time_point> sent(units.size());
    std::vector<double> sentCpu(units.size());
    auto collect = [&](std::size_t now) {
      while (avcodec_receive_frame(ctx, frame) == 0) {
        const auto i = static_cast<std::size_t>(frame->pts);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent[i])
                .count());
        cpu.push_back(threadCpuMs() - sentCpu[i]);
        delaySum += static_cast<double>(now - i);
        ++delayed;
        av_frame_unref(frame);
      }
    };
    for (std::size_t i = 0; i < units.size(); ++i) {
      av_new_packet(pkt, static_cast<int>(units[i].bytes.size()));
      std::copy(units[i].bytes.begin(), units[i].bytes.end(), pkt->data);
      pkt->pts = static_cast<std::int64_t>(i);
      sent[i] = std::chrono::steady_clock::now();
      sentCpu[i] = threadCpuMs();
      avcodec_send_packet(ctx, pkt);
      av_packet_unref(pkt);
      collect(i);
    }
    avcodec_send_packet(ctx, nullptr);
    collect(units.size());
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
  }
  state.counters["delay_units"] = delayed == 0 ? 0 : delaySum / static_cast<double>(delayed);
  report(state, ms, cpu);
}

BENCHMARK_CAPTURE(decodeLatency, H264_1080p, mirandel::kCodecH264)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(lavcFrameThreads, H264_1080p, mirandel::kCodecH264)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(decodeLatency, Hevc_1080p, mirandel::kCodecHevc)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK_CAPTURE(lavcFrameThreads, Hevc_1080p, mirandel::kCodecHevc)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

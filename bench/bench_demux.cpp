// Demultiplexing an H.264 transport stream held in memory: our TsDemuxer, fed in SRT-sized
// messages, against libavformat's MPEG-TS demuxer reading the same bytes through a memory
// AVIOContext, both with its parsers (as FFmpeg tools read) and without (demultiplexing only).
#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "video/TsDemuxer.h"

namespace {

const std::vector<std::uint8_t>& stream() {
  static const std::vector<std::uint8_t> bytes = [] {
    std::ifstream in(std::string(MIRANDEL_BENCH_FIXTURE), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
  }();
  return bytes;
}

void BM_TsDemuxer(benchmark::State& state) {
  const auto& ts = stream();
  if (ts.empty()) return state.SkipWithError("fixture missing");
  constexpr std::size_t kMessage = 7 * 188;
  std::uint64_t units = 0;
  for (auto _ : state) {
    mirandel::TsDemuxer demuxer([&](mirandel::AccessUnit& u) {
      benchmark::DoNotOptimize(u.bytes.data());
      ++units;
    });
    for (std::size_t i = 0; i < ts.size(); i += kMessage) {
      demuxer.feed(ts.data() + i, std::min(kMessage, ts.size() - i));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * ts.size()));
  state.counters["units/pass"] =
      static_cast<double>(units) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_TsDemuxer)->Unit(benchmark::kMillisecond);

struct MemoryReader {
  const std::vector<std::uint8_t>* data;
  std::size_t pos = 0;

  static int read(void* opaque, std::uint8_t* buf, int size) {
    auto* self = static_cast<MemoryReader*>(opaque);
    const std::size_t left = self->data->size() - self->pos;
    if (left == 0) return AVERROR_EOF;
    const std::size_t n = std::min(left, static_cast<std::size_t>(size));
    std::memcpy(buf, self->data->data() + self->pos, n);
    self->pos += n;
    return static_cast<int>(n);
  }
};

void BM_LibavformatMpegts(benchmark::State& state) {
  const bool parse = state.range(0) != 0;
  const auto& ts = stream();
  if (ts.empty()) return state.SkipWithError("fixture missing");
  const AVInputFormat* mpegts = av_find_input_format("mpegts");
  std::uint64_t packets = 0;
  for (auto _ : state) {
    MemoryReader reader{&ts};
    constexpr int kBuffer = 7 * 188 * 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
    AVIOContext* io =
        avio_alloc_context(buffer, kBuffer, 0, &reader, &MemoryReader::read, nullptr, nullptr);
    AVFormatContext* format = avformat_alloc_context();
    format->pb = io;
    if (!parse) format->flags |= AVFMT_FLAG_NOPARSE | AVFMT_FLAG_NOFILLIN;
    if (avformat_open_input(&format, nullptr, mpegts, nullptr) < 0) {
      state.SkipWithError("avformat_open_input failed");
      break;
    }
    AVPacket* packet = av_packet_alloc();
    while (av_read_frame(format, packet) >= 0) {
      benchmark::DoNotOptimize(packet->data);
      ++packets;
      av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    av_freep(&io->buffer);
    avio_context_free(&io);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * ts.size()));
  state.counters["units/pass"] = static_cast<double>(packets) /
                                 static_cast<double>(std::max<std::int64_t>(1, state.iterations()));
}
BENCHMARK(BM_LibavformatMpegts)->Arg(1)->ArgName("parsers")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibavformatMpegts)->Arg(0)->ArgName("parsers")->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Glass-to-glass latency of one live stream: the phone emulator's stamped 1080p H.264 test
// pattern over SRT (40 ms latency) to a picture you could see. Ours: the plug-in in the
// headless host, drawing at 60 fps into a 1920x1080 frame; the time is taken when the frame
// has been drawn and read back. Reference: FFmpeg receiving the same stream with its
// lowest-latency flags and decoding to raw BGRA on its standard output; the time is taken when
// a whole picture has been read from the pipe. Both read the stamp the emulator drew into the
// picture (send time on the steady clock) and report median, p95 and max in milliseconds; the
// benchmark's time column is the median. The two run one after the other against the same
// sender with identical settings, so neither takes CPU from the other.
//
// The sender, the plug-in's discovery and FFmpeg all use the network, so this program refuses
// to run outside a private network namespace: run it through bench/latency.sh.
// MIRANDEL_LATENCY_SECONDS sets the measured time per side (default 10).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "tools/host/FfglHost.h"
#include "tools/host/GlContext.h"
#include "tools/host/LatencySummary.h"
#include "tools/host/LiveRun.h"
#include "tools/host/PluginLibrary.h"
#include "tools/phone/Stamp.h"
#include "tools/phone/StreamSender.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace mirandel;

constexpr int kWidth = 1920, kHeight = 1080, kStreamFps = 30, kHostFps = 60;
constexpr int kSrtLatencyMs = 40;
// Start-up (connection, first key picture, buffers settling) is not what is measured.
constexpr double kWarmUpSeconds = 2.0;

double measuredSeconds() {
  const char* v = std::getenv("MIRANDEL_LATENCY_SECONDS");
  const double s = v ? std::atof(v) : 10.0;
  return s > 0 ? s : 10.0;
}

// Only loopback: nothing this program sends can leave the machine.
// (Asked through the socket layer: /sys may still show the namespace it was mounted in.)
bool inPrivateNamespace() {
  struct if_nameindex* names = if_nameindex();
  if (!names) return false;
  bool onlyLoopback = true;
  for (const struct if_nameindex* n = names; n->if_index != 0; ++n) {
    if (std::string(n->if_name) != "lo") onlyLoopback = false;
  }
  if_freenameindex(names);
  return onlyLoopback;
}

phone::StreamSender& sender() {
  static phone::StreamSender s;
  if (!s.running()) {
    phone::StreamOptions options;
    options.encoder.codec = kCodecH264;
    options.encoder.width = kWidth;
    options.encoder.height = kHeight;
    options.encoder.fps = kStreamFps;
    options.encoder.bitrateKbps = 6000;
    options.encoder.keyInterval = 60;
    s.start(options);
  }
  return s;
}

void report(benchmark::State& state, std::vector<double> samples, std::size_t skipped) {
  if (samples.size() <= skipped) {
    state.SkipWithError("no stamped pictures arrived");
    return;
  }
  samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(skipped));
  const host::LatencySummary s = host::summarise(samples);
  state.SetIterationTime(s.median / 1000.0);
  state.counters["median_ms"] = s.median;
  state.counters["p95_ms"] = s.p95;
  state.counters["max_ms"] = s.max;
  state.counters["pictures"] = static_cast<double>(s.count);
  state.counters["goal_ms"] = kSrtLatencyMs + 1000.0 / kStreamFps;
}

void pluginInHost(benchmark::State& state) {
  if (!sender().running()) {
    state.SkipWithError("the stream sender did not start");
    return;
  }
  for (auto _ : state) {
    std::string error;
    auto library = host::PluginLibrary::open(MIRANDEL_PLUGIN_FILE, &error);
    auto gl = host::GlContext::create(&error);
    if (!library || !gl) {
      state.SkipWithError(error.c_str());
      return;
    }
    host::FfglHost ffgl(*library);
    ffgl.initialise();
    const auto frameW = static_cast<std::uint32_t>(state.range(0));
    const auto frameH = static_cast<std::uint32_t>(state.range(1));
    auto instance = ffgl.instantiate({0, 0, frameW, frameH});
    auto target = host::Framebuffer::create(frameW, frameH, &error);
    if (!instance || !target) {
      state.SkipWithError("no clip or no framebuffer");
      return;
    }
    ffgl.setText(*instance, 1, "127.0.0.1");
    host::LiveRunOptions options;
    options.seconds = measuredSeconds() + kWarmUpSeconds + 2;  // + connecting
    options.fps = kHostFps;
    options.firstPictureTimeout = 15;
    std::FILE* quiet = std::fopen("/dev/null", "w");
    const host::LiveRunResult r = host::runLive(ffgl, *instance, *target, options, quiet);
    std::fclose(quiet);
    ffgl.deinstantiate(*instance);
    ffgl.deinitialise();
    const double warmUp = r.firstPictureAt < 0 ? 0 : kWarmUpSeconds * kStreamFps;
    report(state, r.latencyMs, static_cast<std::size_t>(warmUp));
    state.counters["host_frame_ms"] = host::summarise(r.frameMs).median;
  }
}

// FFmpeg as a child process writing raw BGRA pictures to a pipe; ended by its id.
class FfmpegReceiver {
 public:
  bool start() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // Its complaints about the pipe closing when it is ended are expected; a real failure
    // shows as no pictures.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string url = "srt://127.0.0.1:9010?latency=" + std::to_string(kSrtLatencyMs * 1000);
    const char* argv[] = {
        "ffmpeg", "-hide_banner", "-loglevel",  "error",    "-fflags",          "nobuffer",
        "-flags", "low_delay",    "-probesize", "32",       "-analyzeduration", "0",
        "-i",     url.c_str(),    "-f",         "rawvideo", "-pix_fmt",         "bgra",
        "-",      nullptr};
    const int rc =
        posix_spawnp(&pid_, "ffmpeg", &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      close(fds[0]);
      pid_ = -1;
      return false;
    }
    fd_ = fds[0];
    return true;
  }

  // Reads one whole picture; false at end of stream or when nothing comes within `timeoutMs`.
  bool readPicture(std::vector<std::uint8_t>& picture, int timeoutMs) {
    std::size_t have = 0;
    while (have < picture.size()) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) return false;
      const ssize_t n = read(fd_, picture.data() + have, picture.size() - have);
      if (n <= 0) return false;
      have += static_cast<std::size_t>(n);
    }
    return true;
  }

  ~FfmpegReceiver() {
    if (fd_ >= 0) close(fd_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

void ffmpegLowDelay(benchmark::State& state) {
  if (!sender().running()) {
    state.SkipWithError("the stream sender did not start");
    return;
  }
  for (auto _ : state) {
    FfmpegReceiver ffmpeg;
    if (!ffmpeg.start()) {
      state.SkipWithError("cannot start ffmpeg");
      return;
    }
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(kWidth) * kHeight * 4);
    std::vector<double> samples;
    std::optional<Clock::time_point> first;
    const auto end = Clock::now() + std::chrono::duration<double>(15);
    while (Clock::now() < end || first) {
      if (!ffmpeg.readPicture(picture, first ? 2000 : 15000)) break;
      const auto readAt = Clock::now();
      if (!first) first = readAt;
      if (readAt - *first > std::chrono::duration<double>(measuredSeconds() + kWarmUpSeconds)) {
        break;
      }
      const auto stamp = phone::readStamp(picture.data(), kWidth * 4u, kWidth, kHeight);
      if (!stamp) continue;
      const auto us =
          std::chrono::duration_cast<std::chrono::microseconds>(readAt.time_since_epoch());
      samples.push_back(
          static_cast<double>(us.count() - static_cast<std::int64_t>(stamp->sentMicros)) / 1000.0);
    }
    report(state, samples, static_cast<std::size_t>(kWarmUpSeconds * kStreamFps));
  }
}

// The host's frame size: 1920x1080 as in the main job, and a small frame that keeps Mesa's
// software rasteriser (the host's cost, not the plug-in's) out of the figure.
BENCHMARK(pluginInHost)
    ->Name("GlassToGlass/PluginInHost")
    ->ArgNames({"frameW", "frameH"})
    ->Args({kWidth, kHeight})
    ->Args({640, 360})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ffmpegLowDelay)
    ->Name("GlassToGlass/FfmpegLowDelay")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (!inPrivateNamespace()) {
    std::fprintf(stderr,
                 "bench_latency: run inside a private network namespace (bench/latency.sh)\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  sender().stop();
  return 0;
}

#include "tools/host/LiveRun.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "tools/host/ClockOffset.h"
#include "tools/host/PngFile.h"

namespace mirandel::host {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kStatusIndex = 3;
constexpr std::uint32_t kFpsIndex = 8;
constexpr std::uint32_t kFitIndex = 9;
constexpr std::uint32_t kPictureIndex = 13;
// The Picture text changes with every transport figure; one line a second is enough to read.
constexpr double kPictureLineInterval = 1.0;

std::int64_t micros(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

double secondsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// One watched text parameter; prints it when it changes.
struct WatchedText {
  const char* name;
  std::uint32_t index;
  std::string last;
  double printedAt = -1e9;
  std::string printed;
};

}  // namespace

bool parsePictureText(const std::string& text, std::uint32_t* width, std::uint32_t* height,
                      double* transportMs) {
  // The separator is matched as bytes, outside the scanf formats: Windows' C library reads
  // bytes above 0x7F in a format through the code page, and then never matches them.
  static const std::string kSeparator = " \xC2\xB7 ";  // " · "
  unsigned w = 0, h = 0;
  char codec[16] = {};
  double fps = 0, transport = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%ux%u %15s %lf fps%n", &w, &h, codec, &fps, &used) != 4 ||
      w == 0 || h == 0 || text.compare(used, kSeparator.size(), kSeparator) != 0 ||
      std::sscanf(text.c_str() + used + kSeparator.size(), "%lf ms transport", &transport) != 1) {
    return false;
  }
  *width = w;
  *height = h;
  *transportMs = transport;
  return true;
}

LiveRunResult runLive(const FfglHost& host, InstanceId instance, const Framebuffer& target,
                      const LiveRunOptions& options, std::FILE* out) {
  LiveRunResult result;
  host.setFloat(instance, kFitIndex, static_cast<float>(options.fit));

  std::FILE* log = nullptr;
  if (!options.latencyLog.empty()) {
    log = std::fopen(options.latencyLog.c_str(), "w");
    if (log) std::fprintf(log, "# frame sent_us drawn_us latency_ms\n");
  }

  WatchedText texts[] = {
      {"Status", kStatusIndex, {}}, {"FPS", kFpsIndex, {}}, {"Picture", kPictureIndex, {}}};
  std::uint32_t picW = target.width(), picH = target.height();
  std::optional<std::uint32_t> lastStamp;
  std::vector<RgbaImage> snapshots;
  double nextSnapshotAt = -1;
  const double snapshotSpacing =
      options.snapshots > 1 ? options.seconds / (options.snapshots + 1) : options.seconds;

  const auto period = std::chrono::duration<double>(1.0 / options.fps);
  const auto start = Clock::now();
  auto schedule = start;
  for (unsigned f = 0;; ++f) {
    const auto due = schedule + std::chrono::duration_cast<Clock::duration>(period * f);
    std::this_thread::sleep_until(due);
    const auto begun = Clock::now();
    const double t = secondsBetween(start, begun);
    if (t >= options.seconds) break;
    if (options.firstPictureTimeout > 0 && result.firstPictureAt < 0 &&
        t > options.firstPictureTimeout) {
      std::fprintf(out, "[%7.3f s] no picture after %.0f s, giving up\n", t,
                   options.firstPictureTimeout);
      break;
    }
    if (begun - due > period) {
      ++result.framesLate;
      // Catch up by dropping frames, as a host does, rather than drawing a burst.
      if (begun - due > 4 * period) {
        schedule = begun - std::chrono::duration_cast<Clock::duration>(period * f);
      }
    }

    host.setTime(instance, t);
    if (host.draw(instance, target) != kSuccess) ++result.framesFailed;
    ++result.framesDrawn;

    const Placement placement =
        placePicture(target.width(), target.height(), picW, picH, options.fit);
    const FrameRect rect = stampRect(placement, target.width(), target.height(), picW, picH);
    const RgbaImage region = target.readRegion(rect.x, rect.y, rect.width, rect.height);
    // Reading back waits for the frame to finish: this is when it would reach the glass.
    const auto drawnAt = Clock::now();
    // The same moment on the phone's steady clock, which the stamps carry.
    const std::int64_t drawnUs = options.phoneSteadyMinusSystemMicros
                                     ? systemMicros() + *options.phoneSteadyMinusSystemMicros
                                     : micros(drawnAt);
    result.frameMs.push_back(secondsBetween(begun, drawnAt) * 1000.0);
    const auto stamp = readDrawnStamp(region, rect, placement, picW, picH);
    if (stamp) {
      if (!lastStamp || stamp->frame != *lastStamp) {
        if (lastStamp && stamp->frame > *lastStamp + 1) {
          result.picturesSkipped += stamp->frame - *lastStamp - 1;
        }
        lastStamp = stamp->frame;
        ++result.picturesShown;
        const double ms =
            static_cast<double>(drawnUs - static_cast<std::int64_t>(stamp->sentMicros)) / 1000.0;
        result.latencyMs.push_back(ms);
        if (log) {
          std::fprintf(log, "%u %llu %lld %.3f\n", stamp->frame,
                       static_cast<unsigned long long>(stamp->sentMicros),
                       static_cast<long long>(drawnUs), ms);
        }
        if (result.firstPictureAt < 0) {
          result.firstPictureAt = t;
          std::fprintf(out, "[%7.3f s] first picture drawn (stamp frame %u, %.1f ms after send)\n",
                       t, stamp->frame, ms);
          nextSnapshotAt = t + 0.5;
        }
      }
    } else if (!region.pixels.empty() && region.pixels[3] != 0) {
      ++result.framesUnstamped;  // something opaque is drawn, yet no stamp reads back
    }

    if (!options.snapshotPrefix.empty() && nextSnapshotAt >= 0 && t >= nextSnapshotAt &&
        snapshots.size() < options.snapshots) {
      snapshots.push_back(target.read());  // written after the run, off the frame clock
      nextSnapshotAt = t + snapshotSpacing;
    }

    for (WatchedText& w : texts) {
      std::string now = host.getText(instance, w.index).value_or("");
      if (now == w.last) continue;
      w.last = std::move(now);
      if (w.index == kPictureIndex) {
        std::uint32_t pw = 0, ph = 0;
        double transport = 0;
        if (parsePictureText(w.last, &pw, &ph, &transport)) {
          picW = pw;
          picH = ph;
          result.transportMs.push_back(transport);
          if (t - w.printedAt < kPictureLineInterval) continue;
        }
      }
      w.printedAt = t;
      std::fprintf(out, "[%7.3f s] %s: %s\n", t, w.name, w.last.c_str());
      std::fflush(out);
    }
  }
  if (log) std::fclose(log);

  for (std::size_t i = 0; i < snapshots.size(); ++i) {
    const std::string path = options.snapshotPrefix + std::to_string(i + 1) + ".png";
    std::string error;
    if (writePng(path, snapshots[i], &error)) {
      result.snapshotFiles.push_back(path);
    } else {
      std::fprintf(out, "snapshot %s failed: %s\n", path.c_str(), error.c_str());
    }
  }
  return result;
}

void printLiveSummary(const LiveRunResult& r, double fps, std::FILE* out) {
  std::fprintf(out, "== summary\n");
  std::fprintf(out, "frames drawn:        %u at %.0f fps (%u late, %u failed)\n", r.framesDrawn,
               fps, r.framesLate, r.framesFailed);
  std::fprintf(out, "pictures shown:      %u (%u never reached the frame", r.picturesShown,
               r.picturesSkipped);
  if (r.framesUnstamped)
    std::fprintf(out, ", %u frames without a readable stamp", r.framesUnstamped);
  std::fprintf(out, ")\n");
  if (r.firstPictureAt >= 0) {
    std::fprintf(out, "first picture:       %.2f s after the clip was created\n", r.firstPictureAt);
  }
  std::fprintf(out, "host frame time:     %s  (draw and stamp read-back)\n",
               formatSummary(summarise(r.frameMs)).c_str());
  std::fprintf(out, "receive to decoded:  %s  (the \"Picture\" text's transport figure)\n",
               formatSummary(summarise(r.transportMs)).c_str());
  std::fprintf(out, "glass to glass:      %s  (stamp send to frame drawn)\n",
               formatSummary(summarise(r.latencyMs)).c_str());
  for (const std::string& f : r.snapshotFiles)
    std::fprintf(out, "snapshot:            %s\n", f.c_str());
}

}  // namespace mirandel::host

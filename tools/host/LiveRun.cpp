#include "tools/host/LiveRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
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
                      double* transportMs, double* fps) {
  // The separator is matched as bytes, outside the scanf formats: Windows' C library reads
  // bytes above 0x7F in a format through the code page, and then never matches them.
  static const std::string kSeparator = " \xC2\xB7 ";  // " · "
  unsigned w = 0, h = 0;
  char codec[16] = {};
  double rate = 0, transport = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%ux%u %15s %lf fps%n", &w, &h, codec, &rate, &used) != 4 ||
      w == 0 || h == 0 || text.compare(used, kSeparator.size(), kSeparator) != 0 ||
      std::sscanf(text.c_str() + used + kSeparator.size(), "%lf ms transport", &transport) != 1) {
    return false;
  }
  *width = w;
  *height = h;
  *transportMs = transport;
  if (fps) *fps = rate;
  return true;
}

namespace {

// One clip's part of a run: what it shows and what has been read back from it. Host thread.
struct ClipRun {
  LiveClip clip;
  std::string label;  // "" when the clip is alone, else "clip K "
  WatchedText texts[3] = {
      {"Status", kStatusIndex, {}}, {"FPS", kFpsIndex, {}}, {"Picture", kPictureIndex, {}}};
  std::uint32_t picW = 0, picH = 0;
  bool sizeKnown = false;  // picW and picH come from the "Picture" text, not the frame
  double fpsFigure = 0;    // of the latest streaming "Picture" text; 0 while not streaming
  std::optional<std::uint32_t> lastStamp;
  bool unstampedRun = false;  // the previous frame showed a picture without a readable stamp
  double lastNewPictureAt = -1;
  std::vector<double> tickLatencyMs;  // pictures shown since the last timeline line
  LatencyHistogram latency, frame, transport;
  std::unique_ptr<Framebuffer> preview;  // with habits.previewWidth
  std::vector<RgbaImage> snapshots;
  double nextSnapshotAt = -1;
  LiveRunResult result;
};

struct RunContext {
  const FfglHost& host;
  const LiveRunOptions& options;
  std::FILE* out;
  std::FILE* log;
  bool severalClips;
  double snapshotSpacing;
  const HostGlLeftovers* leftovers;  // with habits.glLeftovers
};

ViewportRecord viewportOf(const Framebuffer& f) { return {0, 0, f.width(), f.height()}; }

// The presses of habits.pressedEvents: one gesture a second, alternately held and clicked
// twice. Host thread.
class PressPlayer {
 public:
  explicit PressPlayer(const HostHabits& habits)
      : habits_(habits), nextAt_(habits.pressFromSeconds) {}

  // The writes of the frame at `t` to every clip; answers whether a press began.
  bool play(const FfglHost& host, const std::vector<ClipRun>& runs, double t) {
    if (habits_.pressedEvents.empty()) return false;
    std::vector<float> writes;
    bool began = false;
    if (release_) {
      writes = {0.0f};
      release_ = false;
    } else if (heldFrames_ > 0) {
      writes = {1.0f};
      release_ = --heldFrames_ == 0;
    } else if (t >= nextAt_) {
      began = true;
      nextAt_ += 1.0;
      if (clickNext_) {
        writes = {1.0f, 1.0f};
        release_ = true;
      } else {
        writes = {1.0f};
        heldFrames_ = habits_.holdFrames - 1;
        release_ = heldFrames_ == 0;
      }
      clickNext_ = !clickNext_;
    }
    for (const ClipRun& run : runs)
      for (std::uint32_t index : habits_.pressedEvents)
        for (float v : writes) host.setFloat(run.clip.instance, index, v);
    return began;
  }

 private:
  const HostHabits& habits_;
  double nextAt_;
  unsigned heldFrames_ = 0;
  bool release_ = false;
  bool clickNext_ = false;
};

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// Draws one clip for the frame at `t`, reads its stamps back and follows its texts.
void drawClip(const RunContext& c, ClipRun& run, std::size_t index, double t) {
  const Framebuffer& target = *run.clip.target;
  const InstanceId instance = run.clip.instance;
  LiveRunResult& result = run.result;
  const auto begun = Clock::now();
  c.host.setTime(instance, t);
  if (run.preview) {
    // A host's preview of the layer: the same clip drawn at another size in the same frame.
    c.host.resize(instance, viewportOf(*run.preview));
    if (c.leftovers) c.leftovers->leave();
    if (c.host.draw(instance, *run.preview) != kSuccess) ++result.framesFailed;
    c.host.resize(instance, viewportOf(target));
  }
  if (c.leftovers) c.leftovers->leave();
  if (c.host.draw(instance, target) != kSuccess) ++result.framesFailed;
  ++result.framesDrawn;

  const Placement placement =
      placePicture(target.width(), target.height(), run.picW, run.picH, c.options.fit);
  const FrameRect rect = stampRect(placement, target.width(), target.height(), run.picW, run.picH);
  const RgbaImage region = target.readRegion(rect.x, rect.y, rect.width, rect.height);
  // Reading back waits for the frame to finish: this is when it would reach the glass.
  const auto drawnAt = Clock::now();
  // The same moment on the phone's steady clock, which the stamps carry.
  const std::int64_t drawnUs = c.options.phoneSteadyMinusSystemMicros
                                   ? systemMicros() + *c.options.phoneSteadyMinusSystemMicros
                                   : micros(drawnAt);
  const double frameMs = secondsBetween(begun, drawnAt) * 1000.0;
  run.frame.add(frameMs);
  if (c.options.keepSamples) result.frameMs.push_back(frameMs);
  const auto stamp = readDrawnStamp(region, rect, placement, run.picW, run.picH);
  if (stamp) {
    run.unstampedRun = false;
    if (!run.lastStamp || stamp->frame != *run.lastStamp) {
      if (!run.lastStamp) {
        result.picturesSent = 1;
      } else if (stamp->frame > *run.lastStamp) {
        result.picturesSkipped += stamp->frame - *run.lastStamp - 1;
        result.picturesSent += stamp->frame - *run.lastStamp;
      } else {
        ++result.picturesSent;  // the phone started counting again
      }
      run.lastStamp = stamp->frame;
      ++result.picturesShown;
      const double ms =
          static_cast<double>(drawnUs - static_cast<std::int64_t>(stamp->sentMicros)) / 1000.0;
      run.latency.add(ms);
      if (c.options.keepSamples) result.latencyMs.push_back(ms);
      run.tickLatencyMs.push_back(ms);
      if (c.log) {
        if (c.severalClips) std::fprintf(c.log, "%zu ", index + 1);
        std::fprintf(c.log, "%u %llu %lld %.3f\n", stamp->frame,
                     static_cast<unsigned long long>(stamp->sentMicros),
                     static_cast<long long>(drawnUs), ms);
      }
      if (run.lastNewPictureAt >= 0) {
        result.longestGap = std::max(result.longestGap, t - run.lastNewPictureAt);
      }
      run.lastNewPictureAt = t;
      if (c.options.secondStamp) {
        const FrameRect lower = stampRect(placement, target.width(), target.height(), run.picW,
                                          run.picH, phone::StampCorner::kBottomRight);
        // A picture too small for the second stamp, or placed with that corner out of view,
        // cannot be checked.
        if (lower.width != 0) {
          const auto second =
              readDrawnStamp(target.readRegion(lower.x, lower.y, lower.width, lower.height), lower,
                             placement, run.picW, run.picH, phone::StampCorner::kBottomRight);
          if (second != stamp) {
            ++result.picturesDamaged;
            const std::string lowerText =
                second ? "frame " + std::to_string(second->frame) : std::string("unreadable");
            std::fprintf(c.out,
                         "[%7.3f s] %sdamaged picture: stamp frame %u, bottom-right stamp %s\n", t,
                         run.label.c_str(), stamp->frame, lowerText.c_str());
          }
        }
      }
      if (result.firstPictureAt < 0) {
        result.firstPictureAt = t;
        std::fprintf(c.out,
                     "[%7.3f s] %sfirst picture drawn (stamp frame %u, %.1f ms after send)\n", t,
                     run.label.c_str(), stamp->frame, ms);
        run.nextSnapshotAt = t + 0.5;
      }
    }
  } else if (!region.pixels.empty() && region.pixels[3] != 0) {
    ++result.framesUnstamped;  // something opaque is drawn, yet no stamp reads back
    // Where the stamp lies is known only once the text has given the picture's size.
    if (c.options.secondStamp && run.sizeKnown && !run.unstampedRun) {
      ++result.picturesDamaged;
      const std::string before =
          run.lastStamp ? "after frame " + std::to_string(*run.lastStamp) : std::string("first");
      std::fprintf(c.out, "[%7.3f s] %sdamaged picture: no readable stamp (%s)\n", t,
                   run.label.c_str(), before.c_str());
    }
    run.unstampedRun = true;
  }

  if (!c.options.snapshotPrefix.empty() && run.nextSnapshotAt >= 0 && t >= run.nextSnapshotAt &&
      run.snapshots.size() < c.options.snapshots) {
    run.snapshots.push_back(target.read());  // written after the run, off the frame clock
    run.nextSnapshotAt = t + c.snapshotSpacing;
  }

  for (WatchedText& w : run.texts) {
    std::string now = c.host.getText(instance, w.index).value_or("");
    if (now == w.last) continue;
    const bool wasReconnecting = startsWith(w.last, "reconnecting");
    w.last = std::move(now);
    if (w.index == kPictureIndex) {
      if (!wasReconnecting && startsWith(w.last, "reconnecting")) ++result.reconnects;
      std::uint32_t pw = 0, ph = 0;
      double transport = 0, fps = 0;
      if (parsePictureText(w.last, &pw, &ph, &transport, &fps)) {
        run.picW = pw;
        run.picH = ph;
        run.sizeKnown = true;
        run.fpsFigure = fps;
        run.transport.add(transport);
        if (c.options.keepSamples) result.transportMs.push_back(transport);
        if (t - w.printedAt < kPictureLineInterval) continue;
      } else {
        run.fpsFigure = 0;
      }
    }
    w.printedAt = t;
    std::fprintf(c.out, "[%7.3f s] %s%s: %s\n", t, run.label.c_str(), w.name, w.last.c_str());
    std::fflush(c.out);
  }
}

}  // namespace

std::vector<LiveRunResult> runLiveClips(const FfglHost& host, const std::vector<LiveClip>& clips,
                                        const LiveRunOptions& options, std::FILE* out,
                                        ProcessFigures* process) {
  std::vector<ClipRun> runs(clips.size());
  for (std::size_t i = 0; i < clips.size(); ++i) {
    ClipRun& run = runs[i];
    run.clip = clips[i];
    if (clips.size() > 1) run.label = "clip " + std::to_string(i + 1) + " ";
    run.picW = clips[i].target->width();
    run.picH = clips[i].target->height();
    host.setFloat(clips[i].instance, kFitIndex, static_cast<float>(options.fit));
    if (options.habits.previewWidth != 0 && options.habits.previewHeight != 0) {
      run.preview =
          Framebuffer::create(options.habits.previewWidth, options.habits.previewHeight, nullptr,
                              options.habits.glLeftovers ? Framebuffer::Encoding::kSrgb
                                                         : Framebuffer::Encoding::kPlain);
    }
  }
  std::optional<HostGlLeftovers> leftovers;
  if (options.habits.glLeftovers) leftovers.emplace();
  PressPlayer presses(options.habits);

  std::FILE* log = nullptr;
  if (!options.latencyLog.empty()) {
    log = std::fopen(options.latencyLog.c_str(), "w");
    if (log) {
      std::fprintf(log, "# %sframe sent_us drawn_us latency_ms\n", clips.size() > 1 ? "clip " : "");
    }
  }
  std::FILE* timeline = nullptr;
  if (!options.timeline.empty()) {
    timeline = std::fopen(options.timeline.c_str(), "w");
    if (timeline) {
      std::fprintf(timeline, "# seconds resident_mb cpu_percent");
      for (std::size_t i = 0; i < runs.size(); ++i) {
        std::fprintf(timeline, " clip%zu_median_ms", i + 1);
      }
      std::fprintf(timeline, "\n");
    }
  }
  const RunContext context{
      host,
      options,
      out,
      log,
      clips.size() > 1,
      options.snapshots > 1 ? options.seconds / (options.snapshots + 1) : options.seconds,
      leftovers ? &*leftovers : nullptr};

  const ProcessUsage usageAtStart = processUsage();
  ProcessUsage usageAtTick = usageAtStart;
  double lastTickAt = 0, nextTickAt = 1;
  // Once a second: the clips' fps figures add up to the pictures decoded (each figure counts
  // the pictures of the second before it), and the timeline gets its line. The part of a
  // second at the end adds its share; its line is left out when too short to say much.
  auto tick = [&](double t, double share) {
    const ProcessUsage usage = processUsage();
    if (share < 0.5 && timeline) {
      std::fclose(timeline);
      timeline = nullptr;
    }
    if (timeline) {
      std::fprintf(timeline, "%.2f %.1f %.1f", t, usage.residentMb,
                   t > lastTickAt
                       ? 100.0 * (usage.cpuSeconds - usageAtTick.cpuSeconds) / (t - lastTickAt)
                       : 0.0);
    }
    for (ClipRun& run : runs) {
      run.result.picturesDecoded += static_cast<unsigned>(run.fpsFigure * share + 0.5);
      if (timeline) {
        if (run.tickLatencyMs.empty()) {
          std::fprintf(timeline, " NaN");  // plotting tools break the line there
        } else {
          std::fprintf(timeline, " %.1f", summarise(run.tickLatencyMs).median);
        }
      }
      run.tickLatencyMs.clear();
    }
    if (timeline) std::fprintf(timeline, "\n");
    usageAtTick = usage;
    lastTickAt = t;
  };

  const auto period = std::chrono::duration<double>(1.0 / options.fps);
  const auto start = Clock::now();
  auto schedule = start;
  double t = 0;
  for (unsigned f = 0;; ++f) {
    const auto due = schedule + std::chrono::duration_cast<Clock::duration>(period * f);
    std::this_thread::sleep_until(due);
    const auto begun = Clock::now();
    t = secondsBetween(start, begun);
    if (t >= options.seconds) break;
    bool anyShown = false;
    for (const ClipRun& run : runs) anyShown = anyShown || run.result.firstPictureAt >= 0;
    if (options.firstPictureTimeout > 0 && !anyShown && t > options.firstPictureTimeout) {
      std::fprintf(out, "[%7.3f s] no picture after %.0f s, giving up\n", t,
                   options.firstPictureTimeout);
      break;
    }
    if (begun - due > period) {
      for (ClipRun& run : runs) ++run.result.framesLate;
      // Catch up by dropping frames, as a host does, rather than drawing a burst.
      if (begun - due > 4 * period) {
        schedule = begun - std::chrono::duration_cast<Clock::duration>(period * f);
      }
    }
    if (presses.play(host, runs, t))
      for (ClipRun& run : runs) ++run.result.presses;
    for (std::size_t i = 0; i < runs.size(); ++i) drawClip(context, runs[i], i, t);
    if (t >= nextTickAt) {
      tick(t, 1.0);
      while (nextTickAt <= t) nextTickAt += 1;
    }
  }
  // The seconds since the last tick count for their share of a second.
  tick(t, std::min(1.0, t - lastTickAt));
  if (log) std::fclose(log);
  if (timeline) std::fclose(timeline);
  if (process) {
    const ProcessUsage usage = processUsage();
    process->seconds = t;
    process->cpuSeconds = usage.cpuSeconds - usageAtStart.cpuSeconds;
    process->peakResidentMb = usage.peakResidentMb;
  }

  std::vector<LiveRunResult> results;
  for (std::size_t k = 0; k < runs.size(); ++k) {
    ClipRun& run = runs[k];
    for (std::size_t i = 0; i < run.snapshots.size(); ++i) {
      const std::string path = options.snapshotPrefix + std::to_string(i + 1) +
                               (runs.size() > 1 ? "-clip" + std::to_string(k + 1) : "") + ".png";
      std::string error;
      if (writePng(path, run.snapshots[i], &error)) {
        run.result.snapshotFiles.push_back(path);
      } else {
        std::fprintf(out, "snapshot %s failed: %s\n", path.c_str(), error.c_str());
      }
    }
    LiveRunResult& r = run.result;
    // Exact figures where every value was kept.
    r.latency = options.keepSamples ? summarise(r.latencyMs) : run.latency.summary();
    r.frame = options.keepSamples ? summarise(r.frameMs) : run.frame.summary();
    r.transport = options.keepSamples ? summarise(r.transportMs) : run.transport.summary();
    results.push_back(std::move(r));
  }
  return results;
}

LiveRunResult runLive(const FfglHost& host, InstanceId instance, const Framebuffer& target,
                      const LiveRunOptions& options, std::FILE* out) {
  return std::move(runLiveClips(host, {LiveClip{instance, &target}}, options, out).front());
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
               formatSummary(r.frame).c_str());
  std::fprintf(out, "receive to decoded:  %s  (the \"Picture\" text's transport figure)\n",
               formatSummary(r.transport).c_str());
  std::fprintf(out, "glass to glass:      %s  (stamp send to frame drawn)\n",
               formatSummary(r.latency).c_str());
  if (r.presses != 0)
    std::fprintf(out, "presses:             %u of each pressed button\n", r.presses);
  for (const std::string& f : r.snapshotFiles)
    std::fprintf(out, "snapshot:            %s\n", f.c_str());
}

void printClipsSummary(const std::vector<LiveRunResult>& results, const ProcessFigures& process,
                       double fps, std::FILE* out) {
  for (std::size_t k = 0; k < results.size(); ++k) {
    const LiveRunResult& r = results[k];
    std::fprintf(out, "== clip %zu\n", k + 1);
    std::fprintf(out, "frames drawn:        %u at %.0f fps (%u late, %u failed)\n", r.framesDrawn,
                 fps, r.framesLate, r.framesFailed);
    std::fprintf(out, "pictures:            sent %u, decoded %u, shown %u, damaged %u\n",
                 r.picturesSent, r.picturesDecoded, r.picturesShown, r.picturesDamaged);
    // Sent: the stamp numbers that the shown pictures span. Decoded: the fps figures, so
    // within a picture or so per second.
    std::fprintf(out,
                 "units dropped:       %u  (sent, never decoded: lost on the way, damaged, or "
                 "waiting for a key picture)\n",
                 r.picturesSent > r.picturesDecoded ? r.picturesSent - r.picturesDecoded : 0);
    std::fprintf(out, "never shown:         %u  (stamp numbers skipped between shown ones",
                 r.picturesSkipped);
    if (r.framesUnstamped)
      std::fprintf(out, "; %u frames without a readable stamp", r.framesUnstamped);
    std::fprintf(out, ")\n");
    std::fprintf(out, "reconnects:          %u  (longest without a new picture: %.2f s)\n",
                 r.reconnects, r.longestGap);
    if (r.firstPictureAt >= 0) {
      std::fprintf(out, "first picture:       %.2f s after the run began\n", r.firstPictureAt);
    }
    std::fprintf(out, "host frame time:     %s  (this clip's draw and stamp read-back)\n",
                 formatSummary(r.frame).c_str());
    std::fprintf(out, "receive to decoded:  %s\n", formatSummary(r.transport).c_str());
    std::fprintf(out, "glass to glass:      %s\n", formatSummary(r.latency).c_str());
    for (const std::string& f : r.snapshotFiles)
      std::fprintf(out, "snapshot:            %s\n", f.c_str());
  }
  std::fprintf(out, "== process (this host process only)\n");
  std::fprintf(out, "CPU:                 %.1f s in %.1f s, %.0f %% of one core\n",
               process.cpuSeconds, process.seconds,
               process.seconds > 0 ? 100.0 * process.cpuSeconds / process.seconds : 0.0);
  std::fprintf(out, "peak resident:       %.1f MB\n", process.peakResidentMb);
  unsigned shown = 0, damaged = 0;
  for (std::size_t k = 0; k < results.size(); ++k) {
    const LiveRunResult& r = results[k];
    shown += r.picturesShown;
    damaged += r.picturesDamaged;
    std::fprintf(out, "clip %zu: shown %u, damaged %u, reconnects %u, p95 %.1f ms\n", k + 1,
                 r.picturesShown, r.picturesDamaged, r.reconnects, r.latency.p95);
  }
  std::fprintf(out, "all clips: %zu clips, %u pictures shown, %u damaged, peak memory %.0f MB\n",
               results.size(), shown, damaged, process.peakResidentMb);
}

}  // namespace mirandel::host

#pragma once
// A live run of one clip, as a VJ host shows it: draws at the host's frame rate for a set
// time, prints the clip's "Status", "FPS" and "Picture" texts as they change, keeps a few
// snapshots, and measures glass-to-glass latency from the stamps the phone emulator draws
// into its pictures (frame finished minus the stamp's send time, both on the phone's steady
// clock: the host's own, or the system clock carried over, see ClockOffset.h).
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/host/DrawnStamp.h"
#include "tools/host/FfglHost.h"
#include "tools/host/LatencySummary.h"

namespace mirandel::host {

struct LiveRunOptions {
  double seconds = 20;
  double fps = 60;
  FitMode fit = FitMode::kFit;  // how the clip is set, and so where the stamp is looked for
  std::string snapshotPrefix;   // "<prefix>1.png" ...; empty: no snapshots
  unsigned snapshots = 3;
  std::string latencyLog;  // one line per picture shown: frame, sent µs, drawn µs; optional
  // End early when no picture has been shown this long after the start; 0 waits the full time.
  double firstPictureTimeout = 0;
  // The phone's steady clock minus the system clock, in µs, when the host's steady clock is
  // not the phone's: frames are then timed on the system clock plus this offset.
  std::optional<std::int64_t> phoneSteadyMinusSystemMicros;
};

struct LiveRunResult {
  unsigned framesDrawn = 0;
  unsigned framesFailed = 0;        // ProcessOpenGL did not answer success
  unsigned framesLate = 0;          // drawn more than one frame interval after their time
  unsigned picturesShown = 0;       // distinct stamped pictures that reached the frame
  unsigned picturesSkipped = 0;     // stamp numbers never shown between shown ones
  unsigned framesUnstamped = 0;     // frames with a picture on screen but no readable stamp
  double firstPictureAt = -1;       // seconds after the start; -1 when none was shown
  std::vector<double> latencyMs;    // per picture shown
  std::vector<double> frameMs;      // ProcessOpenGL plus the stamp read-back, per frame
  std::vector<double> transportMs;  // from each distinct "Picture" text
  std::vector<std::string> snapshotFiles;
};

// Draws `instance` into `target` until the time is up. Texts go to `out`. Host thread, with
// the GL context current.
LiveRunResult runLive(const FfglHost& host, InstanceId instance, const Framebuffer& target,
                      const LiveRunOptions& options, std::FILE* out);

void printLiveSummary(const LiveRunResult& result, double fps, std::FILE* out);

// The picture size and transport time in a "Picture" text of a streaming clip
// ("1920x1080 H.264 30 fps · 12.3 ms transport · sw"); false for any other text.
bool parsePictureText(const std::string& text, std::uint32_t* width, std::uint32_t* height,
                      double* transportMs);

}  // namespace mirandel::host

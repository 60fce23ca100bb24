#pragma once
// A live run of one clip or several, as a VJ host shows them: draws every clip into its own
// framebuffer at the host's frame rate for a set time, prints each clip's "Status", "FPS" and
// "Picture" texts as they change, keeps a few snapshots, and measures glass-to-glass latency
// from the stamps the phone emulator draws into its pictures (frame finished minus the
// stamp's send time, both on the phone's steady clock: the host's own, or the system clock
// carried over, see ClockOffset.h).
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/host/DrawnStamp.h"
#include "tools/host/FfglHost.h"
#include "tools/host/HostHabits.h"
#include "tools/host/LatencySummary.h"
#include "tools/host/ProcessUsage.h"

namespace mirandel::host {

struct LiveRunOptions {
  double seconds = 20;
  double fps = 60;
  FitMode fit = FitMode::kFit;  // how the clip is set, and so where the stamp is looked for
  // "<prefix>1.png" ...; with several clips "<prefix>1-clip2.png" ...; empty: no snapshots.
  std::string snapshotPrefix;
  unsigned snapshots = 3;
  // One line per picture shown: frame, sent µs, drawn µs, latency; with several clips the
  // clip's number (from 1) comes first. Optional.
  std::string latencyLog;
  // End early when no clip has shown a picture this long after the start; 0 waits the full
  // time.
  double firstPictureTimeout = 0;
  // The phone's steady clock minus the system clock, in µs, when the host's steady clock is
  // not the phone's: frames are then timed on the system clock plus this offset.
  std::optional<std::int64_t> phoneSteadyMinusSystemMicros;
  // The phones draw their stamp in the bottom-right corner too (mirandel-phone
  // --second-stamp): a picture shown with corners that disagree, or with no readable stamp,
  // counts as damaged.
  bool secondStamp = false;
  // Keep every latency, transport and frame time in the result; without, only their figures
  // are kept, in fixed memory (LatencyHistogram), for runs as long as a soak's.
  bool keepSamples = true;
  // One line a second: time, this process's resident memory and CPU use over that second,
  // and each clip's median latency over it ("NaN" when it showed no new picture). Optional.
  std::string timeline;
  // What this host does that a plain one does not.
  HostHabits habits;
};

// One clip of a run and the framebuffer it is drawn into, a layer of the host's.
struct LiveClip {
  InstanceId instance = nullptr;
  const Framebuffer* target = nullptr;
};

struct LiveRunResult {
  unsigned framesDrawn = 0;
  unsigned framesFailed = 0;        // ProcessOpenGL did not answer success
  unsigned framesLate = 0;          // host frames drawn more than one interval after their time
  unsigned picturesShown = 0;       // distinct stamped pictures that reached the frame
  unsigned picturesSkipped = 0;     // stamp numbers never shown between shown ones
  unsigned picturesSent = 0;        // the stamp numbers the shown ones span: sent meanwhile
  unsigned picturesDecoded = 0;     // the "Picture" text's fps figure, read once a second
  unsigned picturesDamaged = 0;     // with secondStamp: shown with disagreeing or no stamps
  unsigned framesUnstamped = 0;     // frames with a picture on screen but no readable stamp
  unsigned reconnects = 0;          // times the "Picture" text turned to "reconnecting (…)"
  unsigned presses = 0;             // of each of habits.pressedEvents
  double firstPictureAt = -1;       // seconds after the start; -1 when none was shown
  double longestGap = 0;            // seconds between two new pictures, after the first
  std::vector<double> latencyMs;    // per picture shown (with keepSamples)
  std::vector<double> frameMs;      // ProcessOpenGL plus the stamp read-back, per frame (same)
  std::vector<double> transportMs;  // from each distinct "Picture" text (same)
  LatencySummary latency, frame, transport;  // of those series, kept or not
  std::vector<std::string> snapshotFiles;
};

// What the whole process cost over a run.
struct ProcessFigures {
  double seconds = 0;     // wall time of the run
  double cpuSeconds = 0;  // CPU time of the run, all threads
  double peakResidentMb = 0;
};

// Draws `instance` into `target` until the time is up. Texts go to `out`. Host thread, with
// the GL context current.
LiveRunResult runLive(const FfglHost& host, InstanceId instance, const Framebuffer& target,
                      const LiveRunOptions& options, std::FILE* out);

// The same for several clips, one after the other in every host frame; their lines carry
// "clip K" (from 1). Answers one result per clip, in order; `process` gets the process's
// figures when given.
std::vector<LiveRunResult> runLiveClips(const FfglHost& host, const std::vector<LiveClip>& clips,
                                        const LiveRunOptions& options, std::FILE* out,
                                        ProcessFigures* process = nullptr);

void printLiveSummary(const LiveRunResult& result, double fps, std::FILE* out);

// Every clip's figures, then the process's, and last exactly one line per clip
// ("clip K: shown P, damaged D, reconnects R, p95 L ms") and one for them all
// ("all clips: N clips, P pictures shown, D damaged, peak memory M MB").
void printClipsSummary(const std::vector<LiveRunResult>& results, const ProcessFigures& process,
                       double fps, std::FILE* out);

// The picture size, frame rate and transport time in a "Picture" text of a streaming clip
// ("1920x1080 H.264 30 fps · 12.3 ms transport · sw"); false for any other text.
bool parsePictureText(const std::string& text, std::uint32_t* width, std::uint32_t* height,
                      double* transportMs, double* fps = nullptr);

}  // namespace mirandel::host

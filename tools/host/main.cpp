// mirandel-host: loads an FFGL plug-in headlessly, instantiates one clip in an
// offscreen OpenGL context and prints what a host would see of it.
//
//   mirandel-host <plugin> [--viewport WxH] [--frames N] [--fps R] [--snapshot out.png]
//                 [--unload]
//   mirandel-host <plugin> --run SECONDS [--viewport WxH] [--fps R] [--fit fit|fill|stretch]
//                 [--clips N] [--phone-ip ADDRESS[,ADDRESS...]] [--snapshots PREFIX]
//                 [--latency-log FILE] [--timeline FILE] [--second-stamp] [--param NAME=VALUE]
//                 [--first-picture-timeout SECONDS] [--phone-clock-offset MICROS]
//                 [--instantiate-first] [--deinitialise-first] [--preview WxH]
//                 [--press NAME[,NAME...]] [--gl-leftovers]
//   mirandel-host --clock-offset
//
// <plugin> is the plug-in file: MirandelLink.so on Linux, MirandelLink.dll on Windows.
//
// --run draws live for SECONDS at --fps, printing the clip's "Status", "FPS" and "Picture"
// texts as they change, writes snapshots PREFIX1.png ..., and ends with a summary that
// includes the glass-to-glass latency read from the phone emulator's stamps. --phone-ip types
// an address into "Phone IP" instead of letting the clip pick a discovered phone. It answers
// 1 when no picture was shown.
//
// --clips N creates N clips, each drawn into a framebuffer of its own (the viewport's size)
// in every frame; --phone-ip then gives one address per clip, separated by commas. With
// --clips (1 too), the summary has every clip's figures and this process's CPU time and peak
// resident memory, and ends with one line per clip and one for them all, and the run answers
// 1 when a clip showed no picture or a damaged one. --timeline writes a line a second
// (memory, CPU, each clip's median latency); --second-stamp counts pictures whose two stamps
// disagree as damaged (the phones run with mirandel-phone --second-stamp). --param sets a
// standard parameter of every clip, by name, before the run (--param Latency=0.375).
//
// The stamps carry the phone's steady clock. When this host's steady clock is another one
// (the Windows host under Wine: see ClockOffset.h), --phone-clock-offset gives the phone
// side's steady clock minus the system clock, as `mirandel-host --clock-offset` prints it on
// the phone's machine, and frames are timed through the system clock instead.
//
// Habits of real hosts, each on its own: --instantiate-first makes the clips before
// initialising the plug-in (code 18 before code 34), --deinitialise-first de-initialises
// while the clips live and de-instantiates them after, --preview WxH draws every clip a second
// time each frame at that size as its preview, with a Resize before each draw, --press holds
// the named event parameters (1 on every frame for 30 frames) and clicks them as two calls,
// alternately once a second from the third second, and --gl-leftovers leaves a host's GL
// state set before every draw (a mipmapping sampler, sRGB writes into sRGB layers, culling,
// blending, scissor, colour mask, unpack state). --fps 144 draws as a 144 Hz host.
//
// The plug-in file stays mapped until the process ends unless --unload is
// given: Mirandel Link's network worker may still be running when the file
// would be unmapped, so unloading is a test of the plug-in rather than the
// default.
//
// The plug-in starts network activity as soon as it creates a clip (Mirandel
// Link broadcasts discovery probes), so run this inside a private network
// namespace: unshare -n sh -c 'ip link set lo up; mirandel-host ...'
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/host/ClockOffset.h"
#include "tools/host/FfglHost.h"
#include "tools/host/GlContext.h"
#include "tools/host/LiveRun.h"
#include "tools/host/LogCollector.h"
#include "tools/host/PluginLibrary.h"
#include "tools/host/PngFile.h"
#include "tools/host/Report.h"

namespace {

using namespace mirandel::host;

struct Options {
  std::string plugin;
  std::uint32_t width = 1280, height = 720;
  unsigned frames = 0;
  double fps = 60.0;
  std::string snapshot;
  bool unload = false;
  double runSeconds = 0;  // > 0: live run instead of the report
  std::string fit = "fit";
  unsigned clips = 1;
  bool clipsGiven = false;            // --clips, even 1: a soak, with its summary
  std::vector<std::string> phoneIps;  // none, or one per clip
  std::string snapshotPrefix;
  std::string latencyLog;
  std::string timeline;
  bool secondStamp = false;
  std::vector<std::pair<std::string, float>> params;  // standard parameters set by name
  double firstPictureTimeout = 0;
  std::optional<std::int64_t> phoneClockOffset;
  bool instantiateFirst = false;
  bool deinitialiseFirst = false;
  std::vector<std::string> pressed;  // event parameters, by name
  HostHabits habits;
};

int usage(const char* why) {
  std::fprintf(stderr,
               "%s\nusage: mirandel-host <plugin> [--viewport WxH] [--frames N] [--fps R] "
               "[--snapshot out.png] [--unload]\n"
               "       mirandel-host <plugin> --run SECONDS [--viewport WxH] [--fps R] "
               "[--fit fit|fill|stretch] [--clips N] [--phone-ip ADDRESS[,ADDRESS...]] "
               "[--snapshots PREFIX] [--latency-log FILE] [--timeline FILE] [--second-stamp] "
               "[--param NAME=VALUE] "
               "[--first-picture-timeout SECONDS] [--phone-clock-offset MICROS] "
               "[--instantiate-first] [--deinitialise-first] [--preview WxH] "
               "[--press NAME[,NAME...]] [--gl-leftovers]\n"
               "       mirandel-host --clock-offset\n",
               why);
  return 2;
}

bool parseSize(const char* text, std::uint32_t* w, std::uint32_t* h) {
  unsigned a = 0, b = 0;
  char tail = 0;
  if (std::sscanf(text, "%ux%u%c", &a, &b, &tail) != 2 || a == 0 || b == 0 || a > 16384 ||
      b > 16384) {
    return false;
  }
  *w = a;
  *h = b;
  return true;
}

void printLog() {
  for (const auto& line : LogCollector::take()) std::printf("log: %s\n", line.c_str());
}

// The index of the parameter of that name and type; nullopt when there is none.
std::optional<std::uint32_t> parameterNamed(const FfglHost& host, const std::string& name,
                                            std::uint32_t type) {
  const std::uint32_t count = host.parameterCount();
  for (std::uint32_t index = 0; index < count && count != kFail; ++index)
    if (host.parameterName(index) == name) {
      if (host.parameterType(index) != type) return std::nullopt;
      return index;
    }
  return std::nullopt;
}

std::vector<std::string> commaList(const std::string& list) {
  std::vector<std::string> items;
  for (std::size_t from = 0;;) {
    const std::size_t comma = list.find(',', from);
    items.push_back(list.substr(from, comma - from));
    if (comma == std::string::npos) return items;
    from = comma + 1;
  }
}

FitMode fitMode(const std::string& name) {
  return name == "fill" ? FitMode::kFill : name == "stretch" ? FitMode::kStretch : FitMode::kFit;
}

// The live run: each clip finds (or is given) its phone and draws its stream.
int runLive(const FfglHost& host, const std::vector<InstanceId>& instances, const Options& opt) {
  std::string error;
  std::vector<std::unique_ptr<Framebuffer>> targets;
  std::vector<LiveClip> clips;
  for (std::size_t i = 0; i < instances.size(); ++i) {
    targets.push_back(Framebuffer::create(
        opt.width, opt.height, &error,
        opt.habits.glLeftovers ? Framebuffer::Encoding::kSrgb : Framebuffer::Encoding::kPlain));
    if (!targets.back()) {
      std::fprintf(stderr, "no framebuffer: %s\n", error.c_str());
      return 1;
    }
    clips.push_back({instances[i], targets.back().get()});
    if (i < opt.phoneIps.size()) {
      host.setText(instances[i], 1, opt.phoneIps[i].c_str());
      if (instances.size() > 1) {
        std::printf("== clip %zu: Phone IP set to %s\n", i + 1, opt.phoneIps[i].c_str());
      } else {
        std::printf("== Phone IP set to %s\n", opt.phoneIps[i].c_str());
      }
    }
  }
  for (const auto& [name, value] : opt.params) {
    const auto index = parameterNamed(host, name, kTypeStandard);
    if (!index) {
      std::fprintf(stderr, "no standard parameter named \"%s\"\n", name.c_str());
      return 1;
    }
    for (InstanceId i : instances) host.setFloat(i, *index, value);
    std::printf("== %s set to %g\n", name.c_str(), static_cast<double>(value));
  }
  LiveRunOptions live;
  live.habits = opt.habits;
  for (const std::string& name : opt.pressed) {
    const auto index = parameterNamed(host, name, kTypeEvent);
    if (!index) {
      std::fprintf(stderr, "no event parameter named \"%s\"\n", name.c_str());
      return 1;
    }
    live.habits.pressedEvents.push_back(*index);
  }
  live.seconds = opt.runSeconds;
  live.fps = opt.fps;
  live.fit = fitMode(opt.fit);
  live.snapshotPrefix = opt.snapshotPrefix;
  live.latencyLog = opt.latencyLog;
  live.timeline = opt.timeline;
  live.secondStamp = opt.secondStamp;
  // A soak's memory figure must not grow with the figures it takes.
  live.keepSamples = !opt.clipsGiven;
  live.firstPictureTimeout = opt.firstPictureTimeout;
  live.phoneSteadyMinusSystemMicros = opt.phoneClockOffset;
  if (opt.phoneClockOffset) {
    const double apart = static_cast<double>(*opt.phoneClockOffset - steadyMinusSystemMicros());
    std::printf(
        "== stamps timed on the system clock: the phone's steady clock is %.1f ms %s "
        "this host's\n",
        std::abs(apart) / 1000.0, apart >= 0 ? "ahead of" : "behind");
  }
  if (clips.size() > 1) {
    std::printf("== drawing %zu clips %.0f s at %.0f fps, each into %ux%u (%s)\n", clips.size(),
                opt.runSeconds, opt.fps, opt.width, opt.height, opt.fit.c_str());
  } else {
    std::printf("== drawing %.0f s at %.0f fps into %ux%u (%s)\n", opt.runSeconds, opt.fps,
                opt.width, opt.height, opt.fit.c_str());
  }
  std::fflush(stdout);
  ProcessFigures process;
  const std::vector<LiveRunResult> results = runLiveClips(host, clips, live, stdout, &process);
  if (!opt.clipsGiven) {
    printLiveSummary(results[0], opt.fps, stdout);
    return results[0].picturesShown > 0 && results[0].framesFailed == 0 ? 0 : 1;
  }
  printClipsSummary(results, process, opt.fps, stdout);
  for (const LiveRunResult& r : results) {
    if (r.picturesShown == 0 || r.framesFailed != 0 || r.picturesDamaged != 0) return 1;
  }
  return 0;
}

int run(const Options& opt) {
  std::string error;
  auto library = PluginLibrary::open(
      opt.plugin, &error,
      opt.unload ? PluginLibrary::Unload::kOnDestruction : PluginLibrary::Unload::kNever);
  if (!library) {
    std::fprintf(stderr, "cannot load %s: %s\n", opt.plugin.c_str(), error.c_str());
    return 1;
  }
  FfglHost host(*library);
  if (!host.collectLog()) std::printf("(the plug-in exports no SetLogCallback)\n");

  auto info = host.info();
  if (!info) {
    std::fprintf(stderr, "the plug-in answers no information record\n");
    return 1;
  }
  std::printf("== plug-in\n%s", formatInfo(*info).c_str());
  const auto initialise = [&] {
    if (host.initialise() == kSuccess) return true;
    std::fprintf(stderr, "initialise (code 34) failed\n");
    return false;
  };
  if (!opt.instantiateFirst && !initialise()) return 1;

  auto gl = GlContext::create(&error);
  if (!gl) {
    std::fprintf(stderr, "no OpenGL context: %s\n", error.c_str());
    return 1;
  }
  const GlVersion v = gl->version();
  std::printf("== OpenGL %d.%d %s: %s\n", v.major, v.minor, v.coreProfile ? "core" : "compat",
              v.renderer.c_str());

  auto instance = host.instantiate({0, 0, opt.width, opt.height});
  if (!instance) {
    std::fprintf(stderr, "instantiate (code 18) failed\n");
    printLog();
    return 1;
  }
  std::printf("== clip instantiated with viewport %ux%u\n", opt.width, opt.height);
  if (opt.instantiateFirst && !initialise()) return 1;
  if (opt.runSeconds > 0) {
    std::vector<InstanceId> instances{*instance};
    while (instances.size() < opt.clips) {
      auto another = host.instantiate({0, 0, opt.width, opt.height});
      if (!another) {
        std::fprintf(stderr, "instantiate (code 18) failed for clip %zu\n", instances.size() + 1);
        break;
      }
      instances.push_back(*another);
    }
    if (opt.clips > 1) std::printf("== %zu clips instantiated\n", instances.size());
    const int status = instances.size() == opt.clips ? runLive(host, instances, opt) : 1;
    std::printf("== host log\n");
    printLog();
    if (opt.deinitialiseFirst) host.deinitialise();
    for (InstanceId i : instances) host.deinstantiate(i);
    if (!opt.deinitialiseFirst) host.deinitialise();
    host.setLogCallback(nullptr);
    return status;
  }

  // Events first: reading the table must not be what raised them.
  const EventsAnswer pending = host.pendingEventCount(*instance);
  const EventsAnswer events = host.parameterEvents(*instance, pending.count);

  std::vector<ParameterRow> rows;
  const std::uint32_t count = host.parameterCount();
  for (std::uint32_t i = 0; i < count && count != kFail; ++i) {
    rows.push_back(host.parameterRow(i, *instance));
  }
  std::printf("== %u parameters\n%s", count, formatParameterTable(rows).c_str());
  std::printf("== %zu parameter events after instantiation\n%s", events.events.size(),
              formatEvents(events.events, rows).c_str());

  int status = 0;
  if (opt.frames > 0) {
    auto target = Framebuffer::create(opt.width, opt.height, &error);
    if (!target) {
      std::fprintf(stderr, "no framebuffer: %s\n", error.c_str());
      status = 1;
    } else {
      const auto period = std::chrono::duration<double>(1.0 / opt.fps);
      const auto start = std::chrono::steady_clock::now();
      DrawAnswer last;
      unsigned failed = 0;
      for (unsigned f = 0; f < opt.frames; ++f) {
        // Pace like a host at its frame rate, so time-based behaviour unfolds.
        std::this_thread::sleep_until(
            start + std::chrono::duration_cast<std::chrono::nanoseconds>(period * f));
        host.setTime(
            *instance,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        last = host.drawFrame(*instance, *target);
        if (last.result != kSuccess) ++failed;
      }
      std::printf("== drew %u frames (%u failed)\n", opt.frames, failed);
      if (failed != 0) status = 1;
      if (!opt.snapshot.empty()) {
        if (writePng(opt.snapshot, last.image, &error)) {
          std::printf("== snapshot %s (%ux%u)\n", opt.snapshot.c_str(), last.image.width,
                      last.image.height);
        } else {
          std::fprintf(stderr, "%s\n", error.c_str());
          status = 1;
        }
      }
    }
  }
  for (std::uint32_t i : {3u, 13u, 8u}) {
    if (i < rows.size()) {
      std::printf("%s: %s\n", rows[i].name.c_str(),
                  host.getText(*instance, i).value_or("(none)").c_str());
    }
  }

  std::printf("== host log\n");
  printLog();
  if (opt.deinitialiseFirst) host.deinitialise();
  host.deinstantiate(*instance);
  if (!opt.deinitialiseFirst) host.deinitialise();
  host.setLogCallback(nullptr);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--viewport" && hasValue) {
      if (!parseSize(argv[++i], &opt.width, &opt.height)) return usage("bad --viewport");
    } else if (a == "--frames" && hasValue) {
      opt.frames = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    } else if (a == "--fps" && hasValue) {
      opt.fps = std::strtod(argv[++i], nullptr);
      if (!(opt.fps > 0 && opt.fps <= 1000)) return usage("bad --fps");
    } else if (a == "--snapshot" && hasValue) {
      opt.snapshot = argv[++i];
    } else if (a == "--run" && hasValue) {
      opt.runSeconds = std::strtod(argv[++i], nullptr);
      if (!(opt.runSeconds > 0 && opt.runSeconds <= 3600)) return usage("bad --run");
    } else if (a == "--fit" && hasValue) {
      opt.fit = argv[++i];
      if (opt.fit != "fit" && opt.fit != "fill" && opt.fit != "stretch") {
        return usage("bad --fit");
      }
    } else if (a == "--phone-ip" && hasValue) {
      opt.phoneIps = commaList(argv[++i]);
    } else if (a == "--instantiate-first") {
      opt.instantiateFirst = true;
    } else if (a == "--deinitialise-first") {
      opt.deinitialiseFirst = true;
    } else if (a == "--preview" && hasValue) {
      if (!parseSize(argv[++i], &opt.habits.previewWidth, &opt.habits.previewHeight))
        return usage("bad --preview");
    } else if (a == "--press" && hasValue) {
      opt.pressed = commaList(argv[++i]);
    } else if (a == "--gl-leftovers") {
      opt.habits.glLeftovers = true;
    } else if (a == "--clips" && hasValue) {
      const long n = std::strtol(argv[++i], nullptr, 10);
      if (n < 1 || n > 16) return usage("bad --clips (1 to 16)");
      opt.clips = static_cast<unsigned>(n);
      opt.clipsGiven = true;
    } else if (a == "--timeline" && hasValue) {
      opt.timeline = argv[++i];
    } else if (a == "--second-stamp") {
      opt.secondStamp = true;
    } else if (a == "--param" && hasValue) {
      const std::string setting = argv[++i];
      const std::size_t equals = setting.find('=');
      char* end = nullptr;
      const float value =
          equals == std::string::npos ? 0.0f : std::strtof(setting.c_str() + equals + 1, &end);
      if (equals == 0 || equals == std::string::npos || end == setting.c_str() + equals + 1 ||
          *end != '\0' || !(value >= 0.0f && value <= 1.0f)) {
        return usage("bad --param (NAME=VALUE, the value from 0 to 1)");
      }
      opt.params.emplace_back(setting.substr(0, equals), value);
    } else if (a == "--snapshots" && hasValue) {
      opt.snapshotPrefix = argv[++i];
    } else if (a == "--latency-log" && hasValue) {
      opt.latencyLog = argv[++i];
    } else if (a == "--first-picture-timeout" && hasValue) {
      opt.firstPictureTimeout = std::strtod(argv[++i], nullptr);
    } else if (a == "--phone-clock-offset" && hasValue) {
      char* end = nullptr;
      opt.phoneClockOffset = std::strtoll(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0') return usage("bad --phone-clock-offset");
    } else if (a == "--clock-offset") {
      std::printf("%lld\n", static_cast<long long>(steadyMinusSystemMicros()));
      return 0;
    } else if (a == "--unload") {
      opt.unload = true;
    } else if (a == "-h" || a == "--help") {
      return usage("");
    } else if (!a.empty() && a[0] != '-' && opt.plugin.empty()) {
      opt.plugin = a;
    } else {
      return usage(("unknown argument " + a).c_str());
    }
  }
  if (opt.plugin.empty()) return usage("no plug-in file given");
  if (!opt.phoneIps.empty() && opt.phoneIps.size() != opt.clips) {
    return usage("--phone-ip needs one address per clip");
  }
  if (!opt.snapshot.empty() && opt.frames == 0) opt.frames = 1;
  return run(opt);
}

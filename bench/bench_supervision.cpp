// The cost of one supervision step of a connected clip, against the steps of
// an ordinary session as the reference (the flood of forged datagrams from
// other senders is in bench_forgeries.cpp, in the same program):
// - taking in very large rack descriptions, 10 MB in parts and 10,000
//   effects (refused: more than a sane rack holds), the largest a sane rack
//   may be, and what follows it: the requests for effects still loading,
//   single answers merged into the list, the host picking an effect (goal:
//   under 50 ms a step), the step that completes the phone emulator's own rack
//   as the reference;
// - a phone sending more than a rack holds (goal: every step under 50 ms):
//   80 merged replies of 999 new effects each, 80 ordinary replies at once,
//   and a description of 174,745 controls (or of the most a description may
//   hold) followed by 1,000 feedback datagrams.
// Networked (the clips stream, the hub listens on its port): run it through
// bench/supervision.sh, which gives it a private network namespace.
// Each step is timed alone; "worst ms" is the slowest step of the run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "bench/SupervisionSession.h"
#include "link/ControlCodec.h"
#include "rack/RackParser.h"

namespace {

using namespace mirandel;
using namespace mirandel::bench;

// An effect of `controls` controls (sliders, every fifth a switch, every
// seventh a menu of four choices), two actions and a layout; with no "params"
// when it is still loading; with nothing but its names when `controls` < 0.
std::string effectJson(int i, int controls, bool loaded) {
  const std::string n = std::to_string(i);
  if (controls < 0) return R"({"name": "Effect )" + n + R"(", "address": "fx)" + n + R"("})";
  std::string s = R"({"index": )" + n + R"(, "name": "Effect )" + n + R"(", "address": "fx)" + n +
                  R"(", "hero": "c0")";
  if (loaded) {
    s += R"(, "params": [)";
    for (int c = 0; c < controls; ++c) {
      const std::string k = std::to_string(c);
      if (c > 0) s += ", ";
      s += R"({"field": "c)" + k + R"(", "label": "Control )" + k + '"';
      if (c % 7 == 6)
        s += R"(, "type": "option", "value": "b", "options": ["a", "b", "c", "d"]})";
      else if (c % 5 == 4)
        s += R"(, "type": "bool", "value": true})";
      else
        s += R"(, "normalized": 0.5})";
    }
    s += "]";
  }
  return s + R"(, "actions": ["reset", "tap"], )" +
         R"("layout": [{"section": "Main", "fields": ["c0", "c1", "c2", "reset"]}]})";
}

std::string rackJson(int effects, int controls, bool loaded, int first = 0) {
  std::string s = R"({"name": "Big", "version": "1", "active": 0, "effects": [)";
  for (int i = first; i < first + effects; ++i) {
    if (i > first) s += ", ";
    s += effectJson(i, controls, loaded);
  }
  return s + "]}";
}

// The 10 MB description: effects of 50 controls, as many as make 10 MB.
const std::string& tenMegabytes() {
  static const std::string text = [] {
    const int perEffect = static_cast<int>(effectJson(0, 50, true).size()) + 2;
    return rackJson(10'000'000 / perEffect + 1, 50, true);
  }();
  return text;
}

// Everything of a description but its last part taken up; then the step that
// takes the last part, joins, parses, installs and maps, or refuses a
// description beyond what a sane rack holds. "taken": 1 when the clip
// installed it.
void completingStep(benchmark::State& state, const std::string& text) {
  StepTimer timer;
  for (auto _ : state) {
    state.PauseTiming();
    {
      Session s;
      s.takeDescription(text, false);
      s.describeInParts(text, Session::parts(text) - 1, 1);
      timer.time(state, [&] { s.clip().superviseClip(); });
      state.counters["taken"] = s.clip().statusText() != "Bad describe reply";
      state.counters["effects"] = static_cast<double>(s.clip().effects().size());
    }
    state.ResumeTiming();
  }
  timer.report(state);
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

void BM_CompletingTheEmulatorsRack(benchmark::State& state) { completingStep(state, sampleRack()); }
BENCHMARK(BM_CompletingTheEmulatorsRack)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_Completing10MBDescription(benchmark::State& state) {
  completingStep(state, tenMegabytes());
}
BENCHMARK(BM_Completing10MBDescription)->Unit(benchmark::kMillisecond)->Iterations(5);

// 10,000 effects, named only (fewer bytes than a sane rack may have) or with
// eight controls each.
void BM_Completing10000Effects(benchmark::State& state) {
  static const std::string loaded = rackJson(10000, 8, true);
  static const std::string named = rackJson(10000, -1, false);
  completingStep(state, state.range(0) ? loaded : named);
}
BENCHMARK(BM_Completing10000Effects)
    ->ArgName("withControls")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// Parsing alone, the bulk of a completing step: the emulator's rack, 10 MB,
// 10,000 effects named only and with eight controls each.
void BM_ParsingADescription(benchmark::State& state) {
  static const std::string texts[] = {sampleRack(), tenMegabytes(), rackJson(10000, -1, false),
                                      rackJson(10000, 8, true)};
  const std::string& text = texts[state.range(0)];
  for (auto _ : state) benchmark::DoNotOptimize(parseDescribeReply(text));
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}
BENCHMARK(BM_ParsingADescription)
    ->ArgName("emulator0_10MB1_named2_loaded3")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// The most a sane rack holds: the most effects, still loading; the most
// effects with as many controls as fit; one effect with as many as fit.
std::string largestSaneRack(int which) {
  if (which == 0) return rackJson(static_cast<int>(kMaxRackEffects), 0, false);
  const int effects = which == 1 ? static_cast<int>(kMaxRackEffects) : 1;
  auto fits = [&](int controls) {
    return static_cast<std::size_t>(effects * controls) <= kMaxRackControls &&
           rackJson(effects, controls, true).size() <= kMaxDescriptionBytes;
  };
  int controls = 1;
  while (fits(controls * 2)) controls *= 2;
  for (int step = controls / 2; step > 0; step /= 2)
    if (fits(controls + step)) controls += step;
  return rackJson(effects, controls, true);
}

void BM_CompletingTheLargestSaneRack(benchmark::State& state) {
  static const std::string racks[] = {largestSaneRack(0), largestSaneRack(1), largestSaneRack(2)};
  completingStep(state, racks[state.range(0)]);
}
BENCHMARK(BM_CompletingTheLargestSaneRack)
    ->ArgName("loading0_full1_oneEffect2")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// A step that takes a full inbox of parts (4 MiB) of the 10 MB description.
void BM_StepTakingAFullInboxOfParts(benchmark::State& state) {
  StepTimer timer;
  for (auto _ : state) {
    state.PauseTiming();
    {
      Session s;
      s.describeInParts(tenMegabytes(), 0, 64);
      timer.time(state, [&] { s.clip().superviseClip(); });
    }
    state.ResumeTiming();
  }
  timer.report(state);
}
BENCHMARK(BM_StepTakingAFullInboxOfParts)->Unit(benchmark::kMillisecond)->Iterations(10);

// With the most effects installed: a step that retries the describe requests
// (all loading), a step merging one answer, a step merging an answer of all
// effects but one, and the host picking the last effect and collecting its
// events.
void BM_WithTheMostEffects(benchmark::State& state) {
  const int what = static_cast<int>(state.range(0));
  const int most = static_cast<int>(kMaxRackEffects);
  static const std::string loading = rackJson(most, 4, false);
  static const std::string loaded = rackJson(most, 4, true);
  static const std::string one = rackJson(1, 4, true, most / 2);
  static const std::string allButOne = rackJson(most - 1, 4, true);
  StepTimer timer;
  for (auto _ : state) {
    state.PauseTiming();
    bool installed = false;
    {
      Session s;
      s.takeDescription(what == 0 || what == 1 ? loading : loaded, true);
      s.advance(4 * kSecond);
      switch (what) {
        case 0:  // describe retry
          timer.time(state, [&] { s.clip().superviseClip(); });
          break;
        case 1:  // one answer merged
          s.fromPhone("/mirandel/describe", {ControlArg::ofText(one)});
          timer.time(state, [&] { s.clip().superviseClip(); });
          break;
        case 2:  // all but one merged
          s.takeDescription(allButOne, false);
          s.describeInParts(allButOne, Session::parts(allButOne) - 1, 1);
          timer.time(state, [&] { s.clip().superviseClip(); });
          break;
        default:  // the host picks the last effect, then collects its events
          timer.time(state, [&] {
            s.clip().SetFloatParameter(param::kEffect, static_cast<float>(most - 1));
            for (ParamInfo& p : s.clip().Params()) benchmark::DoNotOptimize(p.pendingEvents.take());
          });
          break;
      }
      installed = s.clip().effects().size() == kMaxRackEffects;
    }
    state.ResumeTiming();
    if (!installed) {
      state.SkipWithError("the description was not taken");
      break;
    }
  }
  timer.report(state);
}
BENCHMARK(BM_WithTheMostEffects)
    ->ArgName("retry0_mergeOne1_mergeAll2_pick3")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// ---- A phone that sends more than a rack holds ----

// Steps of the clip until it has taken up everything queued (a step that
// takes up a description raises value-changed on "Status", refused or not),
// each timed alone. "steps": how many steps took descriptions; "all ms": the
// sum of every step.
struct Backlog {
  StepTimer timer;
  int steps = 0;
  void drain(benchmark::State& state, Session& s) {
    for (ParamInfo& p : s.clip().Params()) p.pendingEvents.take();  // the wake-ups' own
    for (int idle = 0; idle < 3;) {
      timer.time(state, [&] { s.clip().superviseClip(); });
      const bool took = s.clip().FindParamInfo(param::kStatus)->pendingEvents.take() != 0;
      steps += took;
      idle = took ? 0 : idle + 1;
    }
  }
  void report(benchmark::State& state, Session& s) const {
    timer.report(state);
    state.counters["all ms"] = timer.allMs;
    state.counters["steps"] = steps;
    state.counters["effects"] = static_cast<double>(s.clip().effects().size());
  }
};

// 999 effects addressed by number from `first` on, each with an empty
// control list (described, so the reply merges), about 40 bytes each.
std::string mergedReply(int first) {
  std::string s = R"({"name":"Big","version":"1","effects":[)";
  for (int i = first; i < first + 999; ++i)
    s += (i > first ? "," : "") + std::string(R"({"name":"e","address":"a)") + std::to_string(i) +
         R"(","params":[]})";
  return s + "]}";
}

// A rack of the most effects, then a flood from the phone's address: 80
// merged replies of 999 new effects each, about 40 KB each, all queued before
// the next step.
void BM_FloodOfMergedReplies(benchmark::State& state) {
  static const std::string base = rackJson(static_cast<int>(kMaxRackEffects), 0, true);
  static const std::vector<std::string> flood = [] {
    std::vector<std::string> replies;
    for (int k = 0; k < 80; ++k) replies.push_back(mergedReply(10000 + 999 * k));
    return replies;
  }();
  for (auto _ : state) {
    state.PauseTiming();
    {
      Session s;
      s.fromPhone("/mirandel/describe", {ControlArg::ofText(base)});
      s.clip().superviseClip();
      for (const std::string& reply : flood)
        s.fromPhone("/mirandel/describe", {ControlArg::ofText(reply)});
      Backlog backlog;
      backlog.drain(state, s);
      backlog.report(state, s);
    }
    state.ResumeTiming();
  }
  state.counters["reply KB"] = static_cast<double>(flood[0].size()) / 1e3;
}
BENCHMARK(BM_FloodOfMergedReplies)->Unit(benchmark::kMillisecond)->Iterations(1);

// 80 copies of the emulator's rack, queued before one step.
void BM_EightyOrdinaryReplies(benchmark::State& state) {
  static const std::string rack = sampleRack();
  for (auto _ : state) {
    state.PauseTiming();
    {
      Session s;
      for (int k = 0; k < 80; ++k) s.fromPhone("/mirandel/describe", {ControlArg::ofText(rack)});
      Backlog backlog;
      backlog.drain(state, s);
      backlog.report(state, s);
    }
    state.ResumeTiming();
  }
}
BENCHMARK(BM_EightyOrdinaryReplies)->Unit(benchmark::kMillisecond)->Iterations(5);

// One effect of `controls` controls as short as JSON allows ({} each, all
// with the same empty field), or named "c0", "c1", ... when `named`.
std::string manyControls(std::size_t controls, bool named) {
  std::string s = named ? R"({"active":0,"effects":[{"address":"fx","hero":"c0","params":[)"
                        : R"({"effects":[{"address":"fx","params":[)";
  for (std::size_t c = 0; c < controls; ++c) {
    if (c > 0) s += ',';
    s += named ? R"({"field":"c)" + std::to_string(c) + R"(","normalized":0.5})" : "{}";
  }
  return s + "]}]}";
}

// A description with a huge number of controls, then a burst of 1,000
// feedback datagrams of 32 bytes each: the description of 524,276 bytes with
// 174,745 controls seen from a phone (all feedback names a missing control,
// the most a lookup by scanning can cost), or the most controls a description
// may hold, named (every second feedback names one of them). "install ms":
// the step taking the description; "feedback ms": the step taking the burst.
void BM_HugeControlsThenFeedback(benchmark::State& state) {
  const bool atBound = state.range(0) == 1;
  static const std::string huge = manyControls(174745, false);
  static const std::string bound = manyControls(kMaxRackControls, true);
  const std::string& text = atBound ? bound : huge;
  std::vector<ControlMessage> burst;
  std::size_t longest = 0;
  for (int k = 0; k < 1000; ++k) {
    const std::string field = atBound && k % 2 == 0
                                  ? "c" + std::to_string(k * 97 % kMaxRackControls)
                                  : "missing" + std::to_string(k % 10);
    const std::vector<std::uint8_t> bytes =
        encode({"/mirandel/fx/" + field, {ControlArg::ofFloat(0.25f)}});
    ControlMessage m;
    if (decode(bytes.data(), bytes.size(), m)) burst.push_back(std::move(m));
    longest = std::max(longest, bytes.size());
  }
  StepTimer install, feedback;
  for (auto _ : state) {
    state.PauseTiming();
    {
      Session s;
      s.fromPhone("/mirandel/describe", {ControlArg::ofText(text)});
      install.time(state, [&] { s.clip().superviseClip(); });
      std::size_t controls = 0;
      for (const RackEffect& e : s.clip().effects()) controls += e.controls.size();
      state.counters["controls"] = static_cast<double>(controls);
      for (const ControlMessage& m : burst) s.fromPhone(m.address, m.args);
      feedback.time(state, [&] { s.clip().superviseClip(); });
    }
    state.ResumeTiming();
  }
  state.counters["install ms"] = install.worstMs;
  state.counters["feedback ms"] = feedback.worstMs;
  state.counters["KB"] = static_cast<double>(text.size()) / 1e3;
  state.counters["datagram bytes"] = static_cast<double>(longest);
}
BENCHMARK(BM_HugeControlsThenFeedback)
    ->ArgName("seen0_atBound1")
    ->DenseRange(0, 1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace

BENCHMARK_MAIN();

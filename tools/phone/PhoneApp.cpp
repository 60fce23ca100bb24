#include "tools/phone/PhoneApp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <sstream>
#include <stdexcept>

#include "link/ControlCodec.h"

namespace mirandel::phone {
namespace {

using nlohmann::json;

constexpr const char* kPrefix = "/mirandel/";
constexpr std::size_t kPrefixLength = 10;
constexpr const char* kOnRequest = "describeOnRequest";

std::string formatNumber(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

std::string argText(const ControlArg& a) {
  switch (a.kind) {
    case ArgKind::Int:
      return std::to_string(a.intValue);
    case ArgKind::Float:
      return formatNumber(a.floatValue);
    case ArgKind::String:
      return "\"" + a.text + "\"";
    case ArgKind::True:
      return "true";
    case ArgKind::False:
      return "false";
    default:
      return "-";
  }
}

// The number in a finite, int-sized range, or nullopt.
std::optional<int> intOf(const ControlArg& a) {
  double v = 0;
  if (!toNumber(a, v) || !std::isfinite(v) || v < -2147483648.0 || v > 2147483647.0) {
    return std::nullopt;
  }
  return static_cast<int>(v);
}

json effectForWire(const json& effect, bool withParams) {
  json out = effect;
  out.erase(kOnRequest);
  if (!withParams) out.erase("params");
  return out;
}

// The control record `field` of effect `effect` in a rack; null when either
// is unknown. Works on a const or a mutable rack.
template <typename Json>
Json* findControlIn(Json& rack, const std::string& effect, const std::string& field) {
  for (Json& e : rack["effects"]) {
    if (!e.is_object() || e.value("address", std::string()) != effect) continue;
    auto params = e.find("params");
    if (params == e.end() || !params->is_array()) return nullptr;
    for (Json& c : *params) {
      if (c.is_object() && c.value("field", std::string()) == field) return &c;
    }
    return nullptr;
  }
  return nullptr;
}

}  // namespace

std::optional<std::string> readTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> PhoneApp::splitText(const std::string& text, std::size_t partSize) {
  std::vector<std::string> pieces;
  const std::size_t size = std::max<std::size_t>(partSize, 1);
  const auto continuation = [&](std::size_t i) {
    return i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
  };
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = std::min(i + size, text.size());
    while (end > i && continuation(end)) --end;
    if (end == i) {  // one character wider than a piece: it goes whole
      end = i + 1;
      while (continuation(end)) ++end;
    }
    pieces.push_back(text.substr(i, end - i));
    i = end;
  }
  if (pieces.empty()) pieces.emplace_back();
  return pieces;
}

PhoneApp::PhoneApp(PhoneAppOptions options)
    : options_(std::move(options)), control_(options_.control), partRandom_(options_.partSeed) {
  rack_ = json::parse(options_.rackJson);
  if (!rack_.is_object() || !rack_.contains("effects") || !rack_["effects"].is_array()) {
    throw std::invalid_argument("rack description has no \"effects\" array");
  }
  const json active = rack_.value("active", json(0));
  rack_["active"] = active.is_number_integer() ? active.get<int>() : 0;
  installHandlers();
}

PhoneApp::~PhoneApp() { stop(); }

bool PhoneApp::start() {
  if (!control_.start()) return false;
  const bool streamReady =
      options_.streamNow ? startStream() : !options_.listenEarly || listenForStream();
  if (!streamReady) {
    control_.stop();
    return false;
  }
  {
    std::lock_guard lock(tickMutex_);
    if (!tickStop_) return true;
    tickStop_ = false;
  }
  lastTick_ = std::chrono::steady_clock::now();
  lastPictures_ = 0;
  ticker_ = std::thread([this] {
    std::unique_lock lock(tickMutex_);
    while (!tickStop_) {
      if (tickWake_.wait_for(lock, options_.statusInterval, [this] { return tickStop_; })) break;
      lock.unlock();
      tick();
      lock.lock();
    }
  });
  return true;
}

void PhoneApp::stop() {
  {
    std::lock_guard lock(tickMutex_);
    tickStop_ = true;
  }
  tickWake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
  control_.stop();
  stream_.stop();
}

void PhoneApp::event(const std::string& line) const {
  if (options_.onEvent) options_.onEvent(line);
}

void PhoneApp::noteClip(const std::string& sender) {
  std::string before;
  {
    std::lock_guard lock(mutex_);
    before = clip_;
    clip_ = sender;
  }
  if (before != sender) event("clip at " + sender);
}

std::string PhoneApp::clipAddress() const {
  std::lock_guard lock(mutex_);
  return clip_;
}

// --- handlers (emulator thread) ----------------------------------------------

void PhoneApp::installHandlers() {
  const auto bind = [this](void (PhoneApp::*fn)(const IncomingMessage&)) {
    return [this, fn](PhoneEmulator&, const IncomingMessage& m) {
      noteClip(m.sender);
      (this->*fn)(m);
    };
  };
  control_.on("/mirandel/describe", bind(&PhoneApp::handleDescribe));
  control_.on("/mirandel/patch", bind(&PhoneApp::handlePatch));
  control_.on("/mirandel/stream", bind(&PhoneApp::handleStreamRequest));
  control_.on("/mirandel/stream/quality", bind(&PhoneApp::handleQuality));
  control_.on("/mirandel/stream/grain", bind(&PhoneApp::handleOther));
  control_.setFallback(bind(&PhoneApp::handleOther));
}

void PhoneApp::handleDescribe(const IncomingMessage& m) {
  if (m.args.empty() || m.args[0].kind != ArgKind::String) return;
  const std::string& what = m.args[0].text;
  const std::optional<std::string> text = describeText(what);
  if (!text) {
    event("describe " + what + ": no such effect");
    return;
  }
  sendDescription(m.sender, *text);
}

void PhoneApp::sendDescription(const std::string& to, const std::string& text) {
  const std::string what = "describe " + std::to_string(text.size()) + " bytes to " + to;
  if (options_.partSize == 0) {
    control_.send(to, {"/mirandel/describe", {ControlArg::ofText(text)}});
    event(what + " whole");
    return;
  }
  const std::vector<std::string> pieces = splitText(text, options_.partSize);
  std::vector<std::int32_t> order(pieces.size());
  std::iota(order.begin(), order.end(), 0);
  std::int32_t transfer = 0;
  {
    std::lock_guard lock(mutex_);
    transfer = nextTransfer_++;
    if (options_.partOrder == PartOrder::Reversed) std::reverse(order.begin(), order.end());
    if (options_.partOrder == PartOrder::Shuffled) {
      std::shuffle(order.begin(), order.end(), partRandom_);
    }
  }
  const auto total = static_cast<std::int32_t>(pieces.size());
  for (std::int32_t index : order) {
    control_.send(to,
                  {"/mirandel/describe/part",
                   {ControlArg::ofInt(transfer), ControlArg::ofInt(total), ControlArg::ofInt(index),
                    ControlArg::ofText(pieces[static_cast<std::size_t>(index)])}});
  }
  event(what + " in " + std::to_string(total) + " parts (transfer " + std::to_string(transfer) +
        ")");
}

void PhoneApp::handlePatch(const IncomingMessage& m) {
  if (m.args.empty()) return;
  int index = -1;
  if (m.args[0].kind == ArgKind::String) {
    std::lock_guard lock(mutex_);
    const json& effects = rack_["effects"];
    for (std::size_t i = 0; i < effects.size(); ++i) {
      if (effects[i].value("address", std::string()) == m.args[0].text) {
        index = static_cast<int>(i);
        break;
      }
    }
  } else if (const auto n = intOf(m.args[0])) {
    index = *n;
  }
  std::string name;
  {
    std::lock_guard lock(mutex_);
    const json& effects = rack_["effects"];
    if (index < 0 || static_cast<std::size_t>(index) >= effects.size()) return;
    rack_["active"] = index;
    name = effects[static_cast<std::size_t>(index)].value("name", std::string());
  }
  event("clip patched to " + std::to_string(index) + " (" + name + ")");
}

// Owner's thread, from start(): callers are taken in at once, and get the stream's first
// (key) picture once it is asked for.
bool PhoneApp::listenForStream() {
  stream_.pause(true);
  if (!stream_.start(options_.stream)) {
    event("stream: cannot listen");
    return false;
  }
  event("listening on SRT port " + std::to_string(options_.stream.port) + ", streaming once asked");
  return true;
}

bool PhoneApp::startStream() {
  if (streamWanted_.exchange(true)) return true;
  if (options_.listenEarly && !options_.streamNow) {
    stream_.pause(false);
  } else if (!stream_.start(options_.stream)) {
    streamWanted_ = false;  // the next request tries again
    event("stream: cannot start");
    return false;
  }
  ++streamStarts_;
  const EncoderOptions& e = options_.stream.encoder;
  event(std::string("stream started: ") + (e.codec == kCodecHevc ? "HEVC " : "H.264 ") +
        std::to_string(e.width) + "x" + std::to_string(e.height) + " " + std::to_string(e.fps) +
        " fps on SRT port " + std::to_string(options_.stream.port));
  return true;
}

void PhoneApp::handleStreamRequest(const IncomingMessage& m) {
  if (m.args.empty()) return;
  if (intOf(m.args[0]) == 1) startStream();
}

void PhoneApp::handleQuality(const IncomingMessage& m) {
  if (m.args.empty()) {
    control_.send(m.sender, {"/mirandel/stream/quality", {ControlArg::ofInt(quality())}});
    return;
  }
  const auto q = intOf(m.args[0]);
  if (!q) return;
  const int clamped = std::clamp(*q, 0, 2);
  {
    std::lock_guard lock(mutex_);
    quality_ = clamped;
  }
  control_.send(m.sender, {"/mirandel/stream/quality", {ControlArg::ofInt(clamped)}});
  event("quality " + std::to_string(clamped));
}

void PhoneApp::handleOther(const IncomingMessage& m) {
  const std::string& a = m.address;
  if (a == "/mirandel/stream/grain") {
    if (!m.args.empty() && intOf(m.args[0]) == 0) {
      control_.send(m.sender,
                    {"/mirandel/stream/grain/add", {ControlArg::ofFloat(options_.grainAmount)}});
      event("grain left out of the stream, " + formatNumber(options_.grainAmount) + " to add");
    }
    return;
  }
  if (a == "/mirandel/zoom") {
    double z = 0;
    if (m.args.empty() || !toNumber(m.args[0], z) || !std::isfinite(z)) return;
    std::lock_guard lock(mutex_);
    zoom_ = static_cast<float>(std::clamp(z, 0.5, 8.0));
    return;
  }
  if (a == "/mirandel/rec") {
    const auto on = m.args.empty() ? std::nullopt : intOf(m.args[0]);
    if (!on) return;
    setRecording(*on != 0);
    return;
  }
  if (a == "/mirandel/snap") {
    ++snaps_;
    event("snap");
    return;
  }
  if (a == "/mirandel/flip") {
    const bool front = !frontCamera_.load();
    frontCamera_ = front;
    event(front ? "front camera" : "back camera");
    return;
  }
  if (a.compare(0, kPrefixLength, kPrefix) != 0) return;
  const std::string rest = a.substr(kPrefixLength);
  const std::size_t slash = rest.find('/');
  if (slash == std::string::npos) return;
  const std::string effect = rest.substr(0, slash);
  const std::string field = rest.substr(slash + 1);
  if (m.args.empty()) {
    event("action " + effect + "/" + field);
    return;
  }
  bool applied = false;
  {
    std::lock_guard lock(mutex_);
    json* record = findControlIn(rack_, effect, field);
    applied = record != nullptr && applyValue(*record, m.args[0]);
  }
  if (!applied) return;
  // The phone confirms every change it takes, whoever made it.
  control_.send(m.sender, {a, {m.args[0]}});
  event("clip set " + effect + "/" + field + " " + argText(m.args[0]));
}

// --- rack state ----------------------------------------------------------------

bool PhoneApp::applyValue(json& record, const ControlArg& value) {
  const std::string type = record.value("type", std::string("float"));
  if (type == "option") {
    if (value.kind != ArgKind::String) return false;
    record["value"] = value.text;
    return true;
  }
  double v = 0;
  if (!toNumber(value, v) || !std::isfinite(v)) return false;
  if (type == "bool") {
    record["value"] = v != 0;
  } else {
    record["normalized"] = std::clamp(v, 0.0, 1.0);
  }
  return true;
}

std::optional<std::string> PhoneApp::describeText(const std::string& what) const {
  std::lock_guard lock(mutex_);
  json out = json::object();
  for (const char* key : {"name", "version"}) {
    if (rack_.contains(key)) out[key] = rack_[key];
  }
  out["active"] = rack_["active"];
  json effects = json::array();
  for (const json& e : rack_["effects"]) {
    if (what == "rack") {
      const bool onRequest = e.is_object() && e.value(kOnRequest, false);
      effects.push_back(effectForWire(e, !onRequest));
    } else if (e.is_object() && e.value("address", std::string()) == what) {
      effects.push_back(effectForWire(e, true));
      break;
    }
  }
  if (what != "rack" && effects.empty()) return std::nullopt;
  out["effects"] = std::move(effects);
  return out.dump();
}

int PhoneApp::activeEffect() const {
  std::lock_guard lock(mutex_);
  return rack_["active"].get<int>();
}

json PhoneApp::controlState(const std::string& effect, const std::string& field) const {
  std::lock_guard lock(mutex_);
  const json* record = findControlIn(rack_, effect, field);
  return record ? *record : json();
}

int PhoneApp::quality() const {
  std::lock_guard lock(mutex_);
  return quality_;
}
bool PhoneApp::recording() const {
  std::lock_guard lock(mutex_);
  return recording_;
}
float PhoneApp::zoom() const {
  std::lock_guard lock(mutex_);
  return zoom_;
}

// --- the phone's own changes ----------------------------------------------------

bool PhoneApp::patchTo(int index) {
  std::string to;
  {
    std::lock_guard lock(mutex_);
    if (index < 0 || static_cast<std::size_t>(index) >= rack_["effects"].size()) return false;
    rack_["active"] = index;
    to = clip_;
  }
  if (!to.empty()) control_.send(to, {"/mirandel/patch", {ControlArg::ofInt(index)}});
  event("patch to " + std::to_string(index));
  return true;
}

bool PhoneApp::setControl(const std::string& effect, const std::string& field,
                          const ControlArg& value) {
  std::string to;
  {
    std::lock_guard lock(mutex_);
    json* record = findControlIn(rack_, effect, field);
    if (record == nullptr || !applyValue(*record, value)) return false;
    to = clip_;
  }
  const std::string address = kPrefix + effect + "/" + field;
  if (!to.empty()) control_.send(to, {address, {value}});
  event("set " + effect + "/" + field + " " + argText(value));
  return true;
}

bool PhoneApp::setMode(const std::string& effect, const std::string& field,
                       const std::string& choice) {
  {
    std::lock_guard lock(mutex_);
    const json* record = findControlIn(rack_, effect, field);
    if (record == nullptr || record->value("type", std::string()) != "option") return false;
    const json options = record->value("options", json::array());
    if (std::find(options.begin(), options.end(), json(choice)) == options.end()) return false;
  }
  return setControl(effect, field, ControlArg::ofText(choice));
}

void PhoneApp::setRecording(bool on) {
  std::string to;
  {
    std::lock_guard lock(mutex_);
    if (on && !recording_) recordingSince_ = std::chrono::steady_clock::now();
    recording_ = on;
    to = clip_;
  }
  if (!to.empty()) control_.send(to, {"/mirandel/rec", {ControlArg::ofInt(on ? 1 : 0)}});
  event(on ? "recording" : "recording stopped");
}

void PhoneApp::setQuality(int quality) {
  const int q = std::clamp(quality, 0, 2);
  std::string to;
  {
    std::lock_guard lock(mutex_);
    quality_ = q;
    to = clip_;
  }
  if (!to.empty()) control_.send(to, {"/mirandel/stream/quality", {ControlArg::ofInt(q)}});
  event("quality " + std::to_string(q));
}

// --- status (ticker thread) -------------------------------------------------------

void PhoneApp::tick() {
  const auto now = std::chrono::steady_clock::now();
  const std::uint64_t pictures = stream_.stats().picturesSent;
  const double seconds = std::chrono::duration<double>(now - lastTick_).count();
  const double fps = seconds > 0 && pictures >= lastPictures_
                         ? static_cast<double>(pictures - lastPictures_) / seconds
                         : 0.0;
  lastTick_ = now;
  lastPictures_ = pictures;

  std::string to;
  float zoom = 1;
  bool recording = false;
  double recordingSeconds = 0;
  {
    std::lock_guard lock(mutex_);
    to = clip_;
    zoom = zoom_;
    recording = recording_;
    if (recording_) recordingSeconds = std::chrono::duration<double>(now - recordingSince_).count();
  }
  if (to.empty()) return;
  const int target = options_.stream.encoder.fps;
  control_.send(
      to, {"/mirandel/status",
           {ControlArg::ofFloat(static_cast<float>(fps)), ControlArg::ofInt(target),
            ControlArg::ofInt(0), ControlArg::ofFloat(zoom), ControlArg::ofInt(recording ? 1 : 0),
            ControlArg::ofInt(static_cast<std::int32_t>(recordingSeconds)),
            ControlArg::ofText(frontCamera_ ? "front" : "back")}});
}

}  // namespace mirandel::phone

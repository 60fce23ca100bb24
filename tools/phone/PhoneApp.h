#pragma once
// The emulated phone application: its effect rack, its answers to a clip's
// requests, its once-a-second status and its live stream. Built on the
// scriptable control side (PhoneEmulator) and the stream (StreamSender); tests
// and the CLI drive the phone's own changes through it.
//
// Threads: handlers run on the emulator's thread; the status ticker has a
// thread of its own; the owner calls start/stop and the own-change operations.
// The stream's SRT listener is opened on whichever thread first asks for the
// stream (by start() with streamNow or listenEarly), so the owner starts the
// phone in the namespace it should live in.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "tools/phone/PhoneEmulator.h"
#include "tools/phone/StreamSender.h"

namespace mirandel::phone {

// How the pieces of a description sent in parts are ordered on the wire.
enum class PartOrder { InOrder, Reversed, Shuffled };

struct PhoneAppOptions {
  PhoneConfig control;
  // The rack as the phone knows it. Effects carrying "describeOnRequest": true
  // are listed without "params" in the whole-rack answer (the clip then asks
  // for them one by one); the key itself is never sent.
  std::string rackJson;
  // 0: every description goes whole in one "/mirandel/describe". Otherwise in
  // "/mirandel/describe/part" pieces of at most this many bytes of text.
  std::size_t partSize = 0;
  PartOrder partOrder = PartOrder::Shuffled;
  std::uint32_t partSeed = 1;
  // Answer to "/mirandel/stream/grain" 0.
  float grainAmount = 0.08f;
  StreamOptions stream;
  bool streamNow = false;  // stream from start(), without waiting to be asked
  // Listen for SRT callers from start(), but send nothing to them until asked by
  // "/mirandel/stream", as a phone application may; ignored with streamNow.
  bool listenEarly = false;
  std::chrono::milliseconds statusInterval{1000};
  // One line per notable event; may be empty. Emulator or ticker thread.
  std::function<void(const std::string&)> onEvent;
};

class PhoneApp {
 public:
  // Throws (nlohmann::json::exception, std::invalid_argument) when rackJson is
  // unreadable or has no "effects" array: a broken rack file is the operator's
  // error, reported before anything starts.
  explicit PhoneApp(PhoneAppOptions options);
  ~PhoneApp();
  PhoneApp(const PhoneApp&) = delete;
  PhoneApp& operator=(const PhoneApp&) = delete;

  // Opens the control socket (and the stream with streamNow, or its listener
  // with listenEarly) in the calling thread's network namespace and starts the
  // threads. False when the control port or the early stream cannot be
  // opened. Owner's thread.
  bool start();
  // Idempotent. Owner's thread.
  void stop();

  // --- the phone's own changes, reported to the connected clip. Any thread.
  // Makes effect `index` active and sends "/mirandel/patch" with it; false when
  // there is no such effect.
  bool patchTo(int index);
  // Sets a control ("normalized" for continuous controls, "value" for bool and
  // option controls) and sends it as control feedback; false when the effect
  // or the control is unknown or the value's kind does not fit the control.
  bool setControl(const std::string& effect, const std::string& field, const ControlArg& value);
  // A mode change: an option control set to one of its choices.
  bool setMode(const std::string& effect, const std::string& field, const std::string& choice);
  void setRecording(bool on);
  void setQuality(int quality);

  // --- inspection. Any thread.
  // The description the phone would send now for "rack" (whole) or for one
  // effect address; nullopt for an unknown address.
  std::optional<std::string> describeText(const std::string& what) const;
  int activeEffect() const;
  // The control's JSON record as the phone holds it now; null when unknown.
  nlohmann::json controlState(const std::string& effect, const std::string& field) const;
  int quality() const;
  bool recording() const;
  float zoom() const;
  std::string clipAddress() const;  // where status and own changes go
  int streamStarts() const { return streamStarts_.load(); }
  std::uint64_t snaps() const { return snaps_.load(); }
  bool frontCamera() const { return frontCamera_.load(); }

  PhoneEmulator& control() { return control_; }
  StreamSender& stream() { return stream_; }

  // The pieces of one description as they go on the wire, for tests: part
  // texts of at most `partSize` bytes, never splitting a UTF-8 character, in
  // index order.
  static std::vector<std::string> splitText(const std::string& text, std::size_t partSize);

 private:
  void installHandlers();
  void handleDescribe(const IncomingMessage& m);
  void handlePatch(const IncomingMessage& m);
  void handleStreamRequest(const IncomingMessage& m);
  void handleQuality(const IncomingMessage& m);
  void handleOther(const IncomingMessage& m);
  void sendDescription(const std::string& to, const std::string& text);
  bool startStream();
  bool listenForStream();
  void tick();
  void noteClip(const std::string& sender);
  void event(const std::string& line) const;
  // Applies `value` to a control record; false when its kind does not fit.
  static bool applyValue(nlohmann::json& record, const ControlArg& value);

  const PhoneAppOptions options_;
  PhoneEmulator control_;
  StreamSender stream_;
  std::atomic<int> streamStarts_{0};
  std::atomic<bool> streamWanted_{false};  // emulator thread (and start)
  std::atomic<std::uint64_t> snaps_{0};
  std::atomic<bool> frontCamera_{false};

  mutable std::mutex mutex_;
  nlohmann::json rack_;                                   // guarded by mutex_
  std::string clip_;                                      // guarded by mutex_; last clip heard from
  int quality_ = 1;                                       // guarded by mutex_
  bool recording_ = false;                                // guarded by mutex_
  std::chrono::steady_clock::time_point recordingSince_;  // guarded by mutex_
  float zoom_ = 1.0f;                                     // guarded by mutex_
  std::int32_t nextTransfer_ = 1;                         // guarded by mutex_
  std::mt19937 partRandom_;                               // guarded by mutex_
  std::uint64_t lastPictures_ = 0;                        // ticker thread
  std::chrono::steady_clock::time_point lastTick_;        // ticker thread

  std::mutex tickMutex_;
  std::condition_variable tickWake_;
  bool tickStop_ = true;  // guarded by tickMutex_
  std::thread ticker_;
};

// Reads a whole file; nullopt when it cannot be read.
std::optional<std::string> readTextFile(const std::string& path);

}  // namespace mirandel::phone

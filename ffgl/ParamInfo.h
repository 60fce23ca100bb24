#pragma once
// One host parameter's definition, as the host sees it.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "ffgl/FFGL.h"

struct ParamElement {
  std::string name;
  float value = 0.0f;
};

// Pending event bits of one parameter. The link worker raises bits from its own
// thread while the host thread collects them, so they are atomic; the wrapper
// only exists to keep ParamInfo copyable while the list is being built.
class PendingEvents {
 public:
  PendingEvents() = default;
  PendingEvents(const PendingEvents& other) : bits_(other.bits_.load()) {}
  PendingEvents& operator=(const PendingEvents& other) {
    bits_.store(other.bits_.load());
    return *this;
  }
  // Any thread.
  void raise(std::uint64_t bits) { bits_.fetch_or(bits, std::memory_order_acq_rel); }
  // Host thread: takes all pending bits, leaving none.
  std::uint64_t take() { return bits_.exchange(0, std::memory_order_acq_rel); }
  std::uint64_t peek() const { return bits_.load(std::memory_order_acquire); }

 private:
  std::atomic<std::uint64_t> bits_{0};
};

struct ParamInfo {
  FFUInt32 id = 0;
  std::string name;
  std::string displayName;  // shown instead of name when non-empty
  FFUInt32 type = FF_TYPE_STANDARD;
  std::vector<ParamElement> elements;
  std::vector<FFUInt32> elementSeparators;
  FFUInt32 usage = 0;
  bool visible = true;
  float rangeMin = 0.0f;
  float rangeMax = 1.0f;
  float defaultValue = 0.0f;
  std::string defaultText;
  std::vector<std::string> fileExtensions;
  PendingEvents pendingEvents;
  std::string group;
};

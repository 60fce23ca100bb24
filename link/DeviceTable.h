#pragma once
// The device table: folds "/mirandel/here" replies into one record per phone
// and keeps each phone's best route. Not thread-safe by itself; the hub holds
// its lock around every call.
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "link/ControlMessage.h"
#include "link/DeviceRecord.h"

namespace mirandel {

// A route heard within this window stays a candidate for bestAddress.
inline constexpr Nanos kRouteFreshness = 12 * kSecond;

class DeviceTable {
 public:
  // Anyone on the network can forge replies, each with a fresh identity or
  // from a fresh sender; without caps every forgery would live forever. When
  // full, the least recently seen record (route) makes room.
  struct Limits {
    std::size_t maxDevices = 64;
    std::size_t maxRoutesPerDevice = 16;
  };

  DeviceTable() = default;
  explicit DeviceTable(Limits limits) : limits_(limits) {}

  // Files one reply from `sender` (dotted text) heard at `now`. A reply
  // without arguments changes nothing.
  void fold(const std::string& sender, const std::vector<ControlArg>& args, Nanos now);

  // Copies of every record in identity order.
  std::vector<DeviceRecord> list() const;
  std::size_t size() const { return devices_.size(); }

 private:
  Limits limits_;
  std::map<std::string, DeviceRecord> devices_;
};

// The route class of a reply: its link text, or the sender's address when the
// reply names none.
LinkKind classifyRoute(const std::string& linkText, const std::string& sender);

}  // namespace mirandel

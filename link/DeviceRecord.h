#pragma once
// The discovery table's records: one per phone, with every route it was heard on.
#include <cstdint>
#include <map>
#include <string>

#include "base/Clock.h"

namespace mirandel {

// How a route reaches the phone; a higher value is preferred.
enum class LinkKind : std::int32_t { Wifi = 0, Other = 1, Wired = 2 };

struct RouteEntry {
  LinkKind kind = LinkKind::Other;  // from the latest reply over this route
  Nanos lastSeen = 0;
  friend bool operator==(const RouteEntry&, const RouteEntry&) = default;
};

struct DeviceRecord {
  std::string address;      // identity the record is filed under
  std::string bestAddress;  // route clips connect to
  std::string name;         // display name
  std::string extra;        // the reply's third argument, kept as is
  Nanos lastSeen = 0;
  Nanos firstSeen = 0;
  std::map<std::string, RouteEntry> routes;  // sender address text -> route
  friend bool operator==(const DeviceRecord&, const DeviceRecord&) = default;
};

}  // namespace mirandel

#include "link/DeviceTable.h"

#include <algorithm>

namespace mirandel {
namespace {

// Text of argument `i`, empty when absent or not a String.
const std::string& textAt(const std::vector<ControlArg>& args, std::size_t i) {
  static const std::string kEmpty;
  return i < args.size() && args[i].kind == ArgKind::String ? args[i].text : kEmpty;
}

// The least recently seen entry other than `keep`; end() when there is none.
template <typename Map>
typename Map::iterator leastRecent(Map& map, const std::string& keep) {
  auto victim = map.end();
  for (auto it = map.begin(); it != map.end(); ++it) {
    if (it->first == keep) continue;
    if (victim == map.end() || it->second.lastSeen < victim->second.lastSeen) victim = it;
  }
  return victim;
}

void chooseBest(DeviceRecord& record, Nanos now) {
  const std::string* pick = nullptr;
  int pickKind = -1;
  for (const auto& [address, route] : record.routes) {
    if (now - route.lastSeen > kRouteFreshness) continue;
    const int kind = static_cast<int>(route.kind);
    if (kind > pickKind || (kind == pickKind && address == record.bestAddress)) {
      pick = &address;
      pickKind = kind;
    }
  }
  if (pick) record.bestAddress = *pick;
}

}  // namespace

LinkKind classifyRoute(const std::string& linkText, const std::string& sender) {
  if (linkText == "wired") return LinkKind::Wired;
  if (linkText == "wifi") return LinkKind::Wifi;
  if (!linkText.empty()) return LinkKind::Other;
  return sender.rfind("169.254.", 0) == 0 ? LinkKind::Wired : LinkKind::Other;
}

void DeviceTable::fold(const std::string& sender, const std::vector<ControlArg>& args, Nanos now) {
  if (args.empty()) return;
  const std::string& claimed = textAt(args, 3);
  const std::string& identity = claimed.empty() ? sender : claimed;

  auto it = devices_.find(identity);
  if (it == devices_.end()) {
    if (limits_.maxDevices == 0) return;
    while (devices_.size() >= limits_.maxDevices) devices_.erase(leastRecent(devices_, identity));
    it = devices_.emplace(identity, DeviceRecord{}).first;
  }
  DeviceRecord& record = it->second;
  if (record.address.empty()) record.firstSeen = now;
  record.address = identity;
  record.name = textAt(args, 0);
  record.extra = textAt(args, 2);
  record.lastSeen = now;

  if (!record.routes.count(sender)) {
    while (limits_.maxRoutesPerDevice > 0 && record.routes.size() >= limits_.maxRoutesPerDevice) {
      record.routes.erase(leastRecent(record.routes, sender));
    }
  }
  RouteEntry& route = record.routes[sender];
  route.kind = classifyRoute(textAt(args, 4), sender);
  route.lastSeen = now;
  chooseBest(record, now);
}

std::vector<DeviceRecord> DeviceTable::list() const {
  std::vector<DeviceRecord> out;
  out.reserve(devices_.size());
  for (const auto& [identity, record] : devices_) out.push_back(record);
  return out;
}

}  // namespace mirandel

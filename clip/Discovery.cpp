#include "clip/Discovery.h"

#include <algorithm>
#include <string>

#include "base/ShownTexts.h"
#include "clip/ClipParams.h"

namespace mirandel {

bool takeDevices(Discovery& discovery, std::vector<DeviceRecord> snapshot) {
  // Phones announce themselves again and again; the host is only sent a new menu when a name
  // or an address in it changed.
  const bool sameMenu =
      std::equal(snapshot.begin(), snapshot.end(), discovery.devices.begin(),
                 discovery.devices.end(), [](const DeviceRecord& a, const DeviceRecord& b) {
                   return a.name == b.name && a.bestAddress == b.bestAddress;
                 });
  discovery.devices = std::move(snapshot);
  return !sameMenu;
}

void showDeviceMenu(const Discovery& discovery, CFFGLPluginManager& params) {
  const std::vector<DeviceRecord>& devices = discovery.devices;
  std::vector<std::string> names;
  std::vector<float> values;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    std::string text = devices[i].name;
    for (std::size_t j = 0; j < devices.size(); ++j)
      if (j != i && devices[j].name == devices[i].name) {
        text += "  " + devices[i].bestAddress;
        break;
      }
    names.push_back(std::move(text));
    values.push_back(static_cast<float>(i));
  }
  if (names.empty()) {
    names.push_back(text::kSearching);
    values.push_back(0.0f);
  }
  params.SetParamElements(param::kDevice, names, values, true);
}

}  // namespace mirandel

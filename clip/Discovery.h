#pragma once
// The phones the clip has found, and the "Device" menu that offers them. Host thread.
#include <vector>

#include "base/Clock.h"
#include "ffgl/PluginManager.h"
#include "link/DeviceRecord.h"

namespace mirandel {

struct Discovery {
  std::vector<DeviceRecord> devices;  // as the menu shows them
  bool seenThisStep = false;          // an announcement already refreshed devices
  float deviceValue = 0.0f;           // what the host's "Device" menu shows
  Nanos lastProbeAt = 0;
  Nanos lastDeviceCheckAt = 0;
};

// Takes `snapshot` (a copy of the discovery table) as the device list; answers whether a
// name or an address in the menu changed, so that the host must be sent it again.
bool takeDevices(Discovery& discovery, std::vector<DeviceRecord> snapshot);
// Shows the device list in "Device", a name shared by two phones with each one's address.
void showDeviceMenu(const Discovery& discovery, CFFGLPluginManager& params);

}  // namespace mirandel

#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include "tools/host/ProcessUsage.h"

namespace mirandel::host {

namespace {

double seconds(const FILETIME& t) {  // counted in 100 ns steps
  return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                             t.dwLowDateTime) /
         1e7;
}

}  // namespace

ProcessUsage processUsage() {
  ProcessUsage u;
  FILETIME created, exited, kernel, user;
  if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
    u.cpuSeconds = seconds(kernel) + seconds(user);
  }
  // The K32 form lives in kernel32, so no psapi import library is needed.
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    u.residentMb = static_cast<double>(counters.WorkingSetSize) / (1024.0 * 1024.0);
    u.peakResidentMb = static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
  }
  return u;
}

}  // namespace mirandel::host

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

#include "tools/host/ProcessUsage.h"

namespace mirandel::host {

ProcessUsage processUsage() {
  ProcessUsage u;
  rusage r{};
  if (getrusage(RUSAGE_SELF, &r) == 0) {
    u.cpuSeconds = static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
                   static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    u.peakResidentMb = static_cast<double>(r.ru_maxrss) / 1024.0;  // kilobytes on Linux
  }
  // The second field of statm is the resident size in pages.
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    unsigned long size = 0, resident = 0;
    if (std::fscanf(f, "%lu %lu", &size, &resident) == 2) {
      u.residentMb = static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
                     (1024.0 * 1024.0);
    }
    std::fclose(f);
  }
  return u;
}

}  // namespace mirandel::host

#pragma once
// What the host process itself costs: CPU time of all its threads (the plug-in's receive and
// decode threads, the GL driver's) and resident memory. Only this process is counted, so a
// phone emulator or relay running beside it stays out of the figures. getrusage and
// /proc/self on Linux, GetProcessTimes and the process memory counters on Windows.
namespace mirandel::host {

struct ProcessUsage {
  double cpuSeconds = 0;      // user and system time since the process started
  double residentMb = 0;      // resident now (the working set on Windows)
  double peakResidentMb = 0;  // the most it has been resident since it started
};

// Any thread.
ProcessUsage processUsage();

}  // namespace mirandel::host

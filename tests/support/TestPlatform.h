#pragma once
// What tests need of the operating system beyond the standard library. One
// implementation per platform (TestPlatformPosix.cpp, TestPlatformWin.cpp), so
// that a test source reads the same for Linux and Windows.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mirandel::test {

// How many threads this process has now.
int processThreadCount();

// Switches the C library's LC_NUMERIC to a German locale, whose decimal point
// is a comma; false when the system has none to offer. The caller restores
// the previous locale.
bool useCommaDecimalLocale();

// A buffer that ends at a page boundary followed by an inaccessible page, so a
// kernel that reads or writes one byte too far faults at once.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(std::size_t size);
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;
  std::uint8_t* data() { return data_; }
  std::size_t size() const { return size_; }

 private:
  std::size_t size_, total_ = 0;
  std::uint8_t* base_ = nullptr;
  std::uint8_t* data_ = nullptr;
};

// A child process running a program (argv[0], looked up in PATH when it names
// no folder), killed and reaped on destruction unless already gone.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // POSIX: sends `signal` and reaps the child. Windows: ends it (the signal is
  // ignored).
  void kill(int signal);
  // Positive while the child runs.
  int pid() const { return pid_; }

 private:
  int pid_ = -1;
  void* handle_ = nullptr;  // Windows: the process handle
};

}  // namespace mirandel::test

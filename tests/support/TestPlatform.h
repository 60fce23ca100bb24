#pragma once
// What tests need of the operating system beyond the standard library. One
// implementation per platform (TestPlatformPosix.cpp, TestPlatformWin.cpp), so
// that a test source reads the same for Linux and Windows.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mirandel::test {

// How many threads this process has, read once the count holds still: the
// system goes on listing a thread for a moment after a join has returned, so a
// single reading can count a thread that has already ended.
int processThreadCount();
// What the system lists at this instant, ended threads included.
int listedThreadCount();

// Switches the C library's LC_NUMERIC to a German locale, whose decimal point is a comma; false
// when the system has none to offer. The caller restores the previous locale.
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

#ifndef _WIN32
// A child process running a program (argv[0], looked up in PATH when it names no folder), killed
// and reaped on destruction unless already gone. Linux only: the programs the tests run this way
// (the phone emulator, SRT tools) are Linux programs, and Wine can start one but cannot end it.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // Sends `signal` and reaps the child.
  void kill(int signal);
  // Positive while the child runs.
  int pid() const { return pid_; }

 private:
  int pid_ = -1;
};
#endif

}  // namespace mirandel::test

// Linux side of the tests' platform helpers.
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

#include "support/TestPlatform.h"
#include "support/TestSupport.h"

extern char** environ;

namespace mirandel::test {

int listedThreadCount() {
  return static_cast<int>(
      std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}));
}

bool useCommaDecimalLocale() {
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) return true;
  // Not installed: compile one into the build tree.
  const std::string dir = binaryPath("locales");
  const std::string make = "[ -d '" + dir + "/de_DE.UTF-8' ] || { mkdir -p '" + dir +
                           "' && localedef -i de_DE -f UTF-8 '" + dir +
                           "/de_DE.UTF-8' >/dev/null 2>&1; }";
  if (std::system(make.c_str()) != 0) return false;
  ::setenv("LOCPATH", dir.c_str(), 1);
  return std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
}

GuardedBuffer::GuardedBuffer(std::size_t size) : size_(size) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t rounded = (size + page - 1) / page * page;
  total_ = rounded + page;
  base_ = static_cast<std::uint8_t*>(
      mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  mprotect(base_ + rounded, page, PROT_NONE);
  data_ = base_ + rounded - size;
}

GuardedBuffer::~GuardedBuffer() { munmap(base_, total_); }

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0) pid_ = pid;
}

ChildProcess::~ChildProcess() { kill(SIGKILL); }

void ChildProcess::kill(int signal) {
  if (pid_ <= 0) return;
  ::kill(pid_, signal);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace mirandel::test

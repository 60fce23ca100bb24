// Windows side of the tests' platform helpers.
#include <windows.h>
// After windows.h.
#include <tlhelp32.h>

#include <clocale>
#include <initializer_list>

#include "support/TestPlatform.h"

namespace mirandel::test {

int listedThreadCount() {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  const DWORD self = GetCurrentProcessId();
  int count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    count += entry.th32OwnerProcessID == self;
  CloseHandle(snapshot);
  return count;
}

bool useCommaDecimalLocale() {
  // The C runtime takes Windows' own locale names: the language-country form
  // of newer runtimes, or the English names that every runtime knows.
  for (const char* name : {"de-DE", "German_Germany.1252", "deu"})
    if (std::setlocale(LC_NUMERIC, name)) return true;
  return false;
}

GuardedBuffer::GuardedBuffer(std::size_t size) : size_(size) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const std::size_t page = info.dwPageSize;
  const std::size_t rounded = (size + page - 1) / page * page;
  total_ = rounded + page;
  base_ = static_cast<std::uint8_t*>(
      VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD previous = 0;
  VirtualProtect(base_ + rounded, page, PAGE_NOACCESS, &previous);
  data_ = base_ + rounded - size;
}

GuardedBuffer::~GuardedBuffer() { VirtualFree(base_, 0, MEM_RELEASE); }

}  // namespace mirandel::test

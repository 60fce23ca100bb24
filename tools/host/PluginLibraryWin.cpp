#include <windows.h>

#include "tools/host/PluginLibrary.h"

namespace mirandel::host {

namespace {

// Paths come as main's argv and the C library's file names take them: in the
// ANSI code page.
std::wstring wide(const std::string& text) {
  const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), n);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

std::string lastErrorText() {
  const DWORD code = GetLastError();
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string out = n != 0 && text != nullptr ? std::string(text, n) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) {
    out.pop_back();
  }
  return out + " (error " + std::to_string(code) + ")";
}

// Through a generic function pointer: FARPROC and the entry points' types differ.
template <typename Fn>
Fn entryPoint(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::open(const std::string& path, std::string* error,
                                                   Unload unload) {
  // A full path, so that LOAD_WITH_ALTERED_SEARCH_PATH looks for the file's own
  // imports in its folder, as hosts load plug-ins; a relative one would leave
  // that search undefined.
  const std::wstring name = wide(path);
  wchar_t full[MAX_PATH * 4];
  const DWORD n = GetFullPathNameW(name.c_str(), MAX_PATH * 4, full, nullptr);
  if (n == 0 || n >= MAX_PATH * 4) {
    if (error != nullptr) *error = "bad path " + path + ": " + lastErrorText();
    return nullptr;
  }
  HMODULE module = LoadLibraryExW(full, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    if (error != nullptr) *error = "cannot load " + path + ": " + lastErrorText();
    return nullptr;
  }
  const auto main = entryPoint<PlugMainFn>(module, "plugMain");
  if (main == nullptr) {
    if (error != nullptr) *error = "no plugMain in " + path + ": " + lastErrorText();
    FreeLibrary(module);
    return nullptr;
  }
  if (unload == Unload::kNever) {
    // Pinned: FreeLibrary then leaves the module mapped until the process
    // ends, as RTLD_NODELETE does.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(main)), &pinned);
  }
  // A missing SetLogCallback is allowed (null).
  const auto setLog = entryPoint<SetLogCallbackFn>(module, "SetLogCallback");
  return std::unique_ptr<PluginLibrary>(new PluginLibrary(module, path, main, setLog));
}

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

}  // namespace mirandel::host

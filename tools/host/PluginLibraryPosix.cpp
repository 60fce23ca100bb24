#include "tools/host/PluginLibrary.h"

#include <dlfcn.h>

namespace mirandel::host {

namespace {
std::string lastDlError() {
  const char* e = dlerror();
  return e != nullptr ? e : "unknown dynamic loader error";
}
}  // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::open(const std::string& path, std::string* error,
                                                   Unload unload) {
  dlerror();  // a stale error from an earlier call would be misreported below
  // RTLD_LOCAL: two plug-ins must not resolve each other's symbols.
  const int keep = unload == Unload::kNever ? RTLD_NODELETE : 0;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | keep);
  if (handle == nullptr) {
    if (error != nullptr) *error = lastDlError();
    return nullptr;
  }
  dlerror();
  void* main = dlsym(handle, "plugMain");
  if (main == nullptr) {
    if (error != nullptr) *error = "no plugMain in " + path + ": " + lastDlError();
    dlclose(handle);
    return nullptr;
  }
  void* setLog = dlsym(handle, "SetLogCallback");
  dlerror();  // a missing SetLogCallback is allowed; leave no error behind
  return std::unique_ptr<PluginLibrary>(
      new PluginLibrary(handle, path, reinterpret_cast<PlugMainFn>(main),
                        reinterpret_cast<SetLogCallbackFn>(setLog)));
}

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

}  // namespace mirandel::host

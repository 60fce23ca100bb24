#pragma once
// A plug-in file loaded into the process, with its two entry points resolved.
#include <memory>
#include <string>
#include <utility>

#include "tools/host/FfglAbi.h"

namespace mirandel::host {

class PluginLibrary {
 public:
  enum class Unload {
    // The destructor unloads the file, as a host does when it drops a plug-in.
    kOnDestruction,
    // The file stays mapped until the process ends. Sanitizer builds need
    // this: objects a plug-in or its dependencies keep for the life of the
    // process look leaked once their module is gone, and their allocation
    // stacks can no longer be symbolised.
    kNever,
  };

  // Loads the file and resolves plugMain and SetLogCallback (the latter is
  // optional in FFGL, so it may stay null). Answers null and fills `error` when
  // the file cannot be loaded or has no plugMain. Host thread.
  static std::unique_ptr<PluginLibrary> open(const std::string& path, std::string* error,
                                             Unload unload = Unload::kOnDestruction);

  // Releases the file; with kOnDestruction this unloads it, which is when the
  // plug-in tears down its process-wide state. Host thread, after every
  // instance is gone.
  ~PluginLibrary();

  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  PlugMainFn plugMain() const { return plugMain_; }
  SetLogCallbackFn setLogCallback() const { return setLogCallback_; }
  const std::string& path() const { return path_; }

 private:
  PluginLibrary(void* handle, std::string path, PlugMainFn plugMain,
                SetLogCallbackFn setLogCallback)
      : handle_(handle),
        path_(std::move(path)),
        plugMain_(plugMain),
        setLogCallback_(setLogCallback) {}

  void* handle_;
  std::string path_;
  PlugMainFn plugMain_;
  SetLogCallbackFn setLogCallback_;
};

}  // namespace mirandel::host

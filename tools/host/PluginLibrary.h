#pragma once
// A plug-in file loaded into the process, with its two entry points resolved.
#include <memory>
#include <string>

#include "tools/host/FfglAbi.h"

namespace mirandel::host {

class PluginLibrary {
 public:
  // Loads the file and resolves plugMain and SetLogCallback (the latter is
  // optional in FFGL, so it may stay null). Answers null and fills `error` when
  // the file cannot be loaded or has no plugMain. Host thread.
  static std::unique_ptr<PluginLibrary> open(const std::string& path, std::string* error);

  // Unloads the file, which is when the plug-in tears down its process-wide
  // state. Host thread, after every instance is gone.
  ~PluginLibrary();

  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  PlugMainFn plugMain() const { return plugMain_; }
  SetLogCallbackFn setLogCallback() const { return setLogCallback_; }
  const std::string& path() const { return path_; }

 private:
  PluginLibrary(void* handle, std::string path, PlugMainFn plugMain,
                SetLogCallbackFn setLogCallback);

  void* handle_;
  std::string path_;
  PlugMainFn plugMain_;
  SetLogCallbackFn setLogCallback_;
};

}  // namespace mirandel::host

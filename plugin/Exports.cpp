// The plug-in's two exported functions. Everything else is hidden.
#include "plugin/FFGL.h"

extern "C" {
__attribute__((visibility("default"))) FFMixed plugMain(FFUInt32, FFMixed, FFInstanceID) {
  FFMixed r;
  r.PointerValue = nullptr;
  r.UIntValue = FF_FAIL;
  return r;
}
__attribute__((visibility("default"))) void SetLogCallback(void (*)(const char*)) {}
}

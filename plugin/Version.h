#pragma once
// The plug-in's version, in one place: the information record answers it to
// hosts, the build takes it as the project's version, the Windows version
// resource shows it in the DLL's properties and the release archives carry it
// in their names. Plain macros, so that the resource compiler can read them.
#define MIRANDEL_VERSION_MAJOR 1
#define MIRANDEL_VERSION_MINOR 1

#define MIRANDEL_STRINGIFY_(x) #x
#define MIRANDEL_STRINGIFY(x) MIRANDEL_STRINGIFY_(x)
// "1.1"
#define MIRANDEL_VERSION_TEXT \
  MIRANDEL_STRINGIFY(MIRANDEL_VERSION_MAJOR) "." MIRANDEL_STRINGIFY(MIRANDEL_VERSION_MINOR)

# Cross-compiling for Windows x64 with Debian's mingw-w64 (scripts/build-windows.sh).
#
# The posix thread model compilers: GCC 12's win32 model has no std::thread,
# std::mutex or std::condition_variable. Every binary links its runtime
# statically (-static), so the plug-in DLL imports no libstdc++, libgcc or
# libwinpthread DLL that a host machine would not have.
#
# Libraries, headers and CMake packages are looked up only in the dependencies'
# prefix that scripts/windows-deps.sh fills (MIRANDEL_WINDOWS_DEPS, by default
# build/windows/deps of this tree) and never in the build machine's /usr: the
# host's Linux headers must not leak into a Windows build. System libraries
# (ws2_32, opengl32, mfplat, ...) are linked by name from the toolchain's own
# sysroot.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MIRANDEL_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MIRANDEL_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MIRANDEL_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${MIRANDEL_MINGW}-windres)
set(CMAKE_AR ${MIRANDEL_MINGW}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${MIRANDEL_MINGW}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${MIRANDEL_MINGW}-objdump CACHE FILEPATH "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

if(NOT MIRANDEL_WINDOWS_DEPS)
  if(DEFINED ENV{MIRANDEL_WINDOWS_DEPS})
    set(MIRANDEL_WINDOWS_DEPS "$ENV{MIRANDEL_WINDOWS_DEPS}")
  else()
    get_filename_component(MIRANDEL_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../build/windows/deps"
      ABSOLUTE)
  endif()
endif()
# try_compile projects read this file again; they need the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MIRANDEL_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH "${MIRANDEL_WINDOWS_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

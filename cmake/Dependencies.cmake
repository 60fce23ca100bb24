# Third-party libraries. Targets used by the tree, on every platform:
#   Threads::Threads, OpenGL::GL, GLEW::GLEW, nlohmann_json::nlohmann_json,
#   mirandel::srt (the SRT library), mirandel::png (libpng, for the headless host's
#   snapshots) and, in tests, GTest::gtest/gmock/gtest_main.
find_package(Threads REQUIRED)

if(WIN32)
  # The Windows build takes its libraries from the prefix that
  # scripts/windows-deps.sh fills (cmake/mingw-w64-x86_64.cmake roots every
  # search there): static SRT and GLEW, nlohmann JSON's headers, GoogleTest.
  # No pkg-config, no libavcodec (Media Foundation decodes), no EGL (the
  # plug-in draws in the host's WGL context); static zlib and libpng for the
  # headless host.
  set(MIRANDEL_DEPS_HINT "run scripts/windows-deps.sh (or scripts/build-windows.sh)")
  find_package(OpenGL REQUIRED)

  find_path(MIRANDEL_GLEW_INCLUDE_DIR GL/glew.h)
  find_library(MIRANDEL_GLEW_LIBRARY NAMES glew32s)
  if(NOT MIRANDEL_GLEW_INCLUDE_DIR OR NOT MIRANDEL_GLEW_LIBRARY)
    message(FATAL_ERROR "static GLEW not found in ${CMAKE_FIND_ROOT_PATH}: ${MIRANDEL_DEPS_HINT}")
  endif()
  add_library(GLEW::GLEW STATIC IMPORTED)
  set_target_properties(GLEW::GLEW PROPERTIES
    IMPORTED_LOCATION "${MIRANDEL_GLEW_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${MIRANDEL_GLEW_INCLUDE_DIR}"
    INTERFACE_COMPILE_DEFINITIONS "GLEW_STATIC;GLEW_NO_GLU"
    INTERFACE_LINK_LIBRARIES OpenGL::GL)

  find_path(MIRANDEL_JSON_INCLUDE_DIR nlohmann/json.hpp)
  if(NOT MIRANDEL_JSON_INCLUDE_DIR)
    message(FATAL_ERROR "nlohmann JSON not found in ${CMAKE_FIND_ROOT_PATH}: ${MIRANDEL_DEPS_HINT}")
  endif()
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${MIRANDEL_JSON_INCLUDE_DIR}")

  find_path(MIRANDEL_SRT_INCLUDE_DIR srt/srt.h)
  find_library(MIRANDEL_SRT_LIBRARY NAMES srt)
  if(NOT MIRANDEL_SRT_INCLUDE_DIR OR NOT MIRANDEL_SRT_LIBRARY)
    message(FATAL_ERROR "static SRT not found in ${CMAKE_FIND_ROOT_PATH}: ${MIRANDEL_DEPS_HINT}")
  endif()
  add_library(mirandel::srt STATIC IMPORTED)
  set_target_properties(mirandel::srt PROPERTIES
    IMPORTED_LOCATION "${MIRANDEL_SRT_LIBRARY}"
    IMPORTED_LINK_INTERFACE_LANGUAGES CXX
    INTERFACE_INCLUDE_DIRECTORIES "${MIRANDEL_SRT_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES "ws2_32;Threads::Threads")

  find_path(MIRANDEL_PNG_INCLUDE_DIR png.h)
  find_library(MIRANDEL_PNG_LIBRARY NAMES png16)
  find_library(MIRANDEL_ZLIB_LIBRARY NAMES z)
  if(NOT MIRANDEL_PNG_INCLUDE_DIR OR NOT MIRANDEL_PNG_LIBRARY OR NOT MIRANDEL_ZLIB_LIBRARY)
    message(FATAL_ERROR "static libpng and zlib not found in ${CMAKE_FIND_ROOT_PATH}: "
      "${MIRANDEL_DEPS_HINT}")
  endif()
  add_library(mirandel::png STATIC IMPORTED)
  set_target_properties(mirandel::png PROPERTIES
    IMPORTED_LOCATION "${MIRANDEL_PNG_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${MIRANDEL_PNG_INCLUDE_DIR}"
    INTERFACE_LINK_LIBRARIES "${MIRANDEL_ZLIB_LIBRARY}")

  if(MIRANDEL_BUILD_TESTS)
    find_package(GTest CONFIG)
    if(NOT GTest_FOUND)
      message(FATAL_ERROR "GoogleTest not found in ${CMAKE_FIND_ROOT_PATH}: ${MIRANDEL_DEPS_HINT}")
    endif()
    include(GoogleTest)
  endif()
else()
  find_package(PkgConfig REQUIRED)
  find_package(OpenGL REQUIRED COMPONENTS OpenGL EGL)
  find_package(GLEW REQUIRED)
  find_package(nlohmann_json 3.11 REQUIRED)
  pkg_check_modules(SRT REQUIRED IMPORTED_TARGET srt)
  add_library(mirandel::srt ALIAS PkgConfig::SRT)
  pkg_check_modules(AVCODEC REQUIRED IMPORTED_TARGET libavcodec libavutil)
  if(MIRANDEL_BUILD_TESTS OR MIRANDEL_BUILD_TOOLS OR MIRANDEL_BUILD_BENCH)
    # Only the tools, tests and benchmarks demultiplex, encode or rescale with FFmpeg.
    pkg_check_modules(AVTOOLS REQUIRED IMPORTED_TARGET libavformat libswscale libavcodec libavutil)
    pkg_check_modules(PNG REQUIRED IMPORTED_TARGET libpng)
    add_library(mirandel::png ALIAS PkgConfig::PNG)
  endif()
  if(MIRANDEL_BUILD_TESTS)
    find_package(GTest REQUIRED)
    include(GoogleTest)
  endif()
  if(MIRANDEL_BUILD_BENCH)
    find_package(benchmark REQUIRED)
  endif()
endif()

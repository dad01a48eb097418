# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the posix thread model, so that
# std::thread and std::mutex work). vantor.exe and the core's tests link libgcc, libstdc++ and
# winpthread statically, so they run without any of the toolchain's DLLs next to them; the Qt
# programs link them dynamically, as Qt's DLLs do (CMakeLists.txt chooses per target).
#
# VANTOR_QT_MINGW (cache variable or environment): a Qt for mingw-w64 (for example
# ../shared/qt6-mingw's archive unpacked into the build tree); its host tools (moc, rcc, uic) are
# the machine's own Qt of the same version (QT_HOST_PATH=/usr).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT VANTOR_QT_MINGW AND DEFINED ENV{VANTOR_QT_MINGW})
  set(VANTOR_QT_MINGW $ENV{VANTOR_QT_MINGW})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VANTOR_QT_MINGW)
if(VANTOR_QT_MINGW)
  # The package search is re-rooted under the find roots: the Qt folder must be one of them.
  list(APPEND CMAKE_FIND_ROOT_PATH ${VANTOR_QT_MINGW})
  set(QT_HOST_PATH /usr CACHE PATH "The host's Qt (moc, rcc, uic)")
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "The host Qt's CMake files")
endif()

# Executables are run (test discovery, the tests themselves) through Wine when it is installed.
find_program(VANTOR_WINE wine)
if(VANTOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTOR_WINE})
endif()

# Header-only host packages the cross build may use (CLI11, nlohmann-json): offered through a
# staging root that holds only their headers, so that no glibc header from /usr/include reaches
# the Windows build.
set(_stage ${CMAKE_BINARY_DIR}/mingw-host-headers)
if(CMAKE_BINARY_DIR AND EXISTS /usr/include/CLI/CLI.hpp)
  if(NOT EXISTS ${_stage}/usr/include/CLI)
    file(MAKE_DIRECTORY ${_stage}/usr/include ${_stage}/usr/share/cmake/CLI11)
    file(CREATE_LINK /usr/include/CLI ${_stage}/usr/include/CLI SYMBOLIC)
    file(WRITE ${_stage}/usr/share/cmake/CLI11/CLI11Config.cmake
      "if(NOT TARGET CLI11::CLI11)\n"
      "  add_library(CLI11::CLI11 INTERFACE IMPORTED)\n"
      "  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_stage}/usr/include)\n"
      "endif()\n"
      "set(CLI11_FOUND TRUE)\n")
  endif()
endif()
set(_json_config /usr/share/cmake/nlohmann_json)
if(CMAKE_BINARY_DIR AND EXISTS /usr/include/nlohmann/json.hpp)
  if(NOT EXISTS ${_stage}/usr/include/nlohmann)
    file(MAKE_DIRECTORY ${_stage}/usr/include ${_stage}${_json_config})
    file(CREATE_LINK /usr/include/nlohmann ${_stage}/usr/include/nlohmann SYMBOLIC)
    file(COPY ${_json_config}/nlohmann_jsonConfigVersion.cmake DESTINATION ${_stage}${_json_config})
    file(WRITE ${_stage}${_json_config}/nlohmann_jsonConfig.cmake
      "if(NOT TARGET nlohmann_json::nlohmann_json)\n"
      "  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)\n"
      "  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_stage}/usr/include)\n"
      "endif()\n"
      "set(nlohmann_json_FOUND TRUE)\n")
  endif()
endif()
if(EXISTS ${_stage})
  list(APPEND CMAKE_FIND_ROOT_PATH ${_stage})
endif()

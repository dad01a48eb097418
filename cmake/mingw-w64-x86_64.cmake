# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the posix thread model, so that
# std::thread and std::mutex work). libgcc, libstdc++ and winpthread are linked statically: the
# executables run on Windows and under Wine without any of the toolchain's DLLs next to them.
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

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Executables are run (test discovery, the tests themselves) through Wine when it is installed.
find_program(VANTOR_WINE wine)
if(VANTOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTOR_WINE})
endif()

# Header-only host packages the cross build may use (CLI11): offered through a staging root that
# holds only their headers, so that no glibc header from /usr/include reaches the Windows build.
if(CMAKE_BINARY_DIR AND EXISTS /usr/include/CLI/CLI.hpp)
  set(_stage ${CMAKE_BINARY_DIR}/mingw-host-headers)
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
  list(APPEND CMAKE_FIND_ROOT_PATH ${_stage})
endif()

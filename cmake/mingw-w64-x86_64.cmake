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

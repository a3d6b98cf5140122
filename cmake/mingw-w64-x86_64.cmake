# Cross-building for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which
# std::thread and std::mutex need). Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(pemo_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${pemo_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${pemo_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${pemo_mingw}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${pemo_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests and programs run under Wine on this machine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

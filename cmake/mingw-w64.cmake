# Cross-builds for 64-bit Windows with Debian's MinGW-w64 compilers (posix threads flavour);
# programs and tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZD_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZD_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZD_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZD_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZD_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# One Wine prefix per build folder, made on first use (scripts/wine-run).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
# The build folder runs as it is: the C and C++ runtimes, threads and zlib are linked in.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

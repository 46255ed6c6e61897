# Cross-builds the Windows programs with Debian's MinGW-w64 compiler (x86_64).
# Usage: cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# The "posix" thread model is needed: the default "win32" variant lacks std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LOADER_MINGW_TRIPLE x86_64-w64-mingw32 CACHE STRING "MinGW-w64 target triple")
find_program(CMAKE_C_COMPILER NAMES ${LOADER_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${LOADER_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${LOADER_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LOADER_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link the compiler's runtime (libgcc, libstdc++, winpthread) statically, so each .exe
# runs on its own, under Wine as on a bare Windows machine, without DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Test discovery runs each test program to list its tests, and ctest runs them: Wine runs
# them here, in a prefix of the build tree's own (created on first use, in about 6 s),
# quietly and without offering to download Mono or Gecko.
find_program(LOADER_WINE NAMES wine wine64)
get_filename_component(LOADER_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/wine-run.sh ABSOLUTE)
if(LOADER_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_COMMAND} -E env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all
      WINEDLLOVERRIDES=mscoree,mshtml= ${LOADER_WINE_RUN})
endif()

# Qt's Windows packages are not part of the cross environment.
set(LOADER_GUI OFF CACHE STRING "Build the Qt window (ON, OFF, AUTO)")

# List the tests when ctest runs rather than after each link, so that building needs no
# Wine and the prefix is ready (scripts/wine-tests.sh prepares it) when tests are listed.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# Cross build for 64-bit Windows (x64); see mingw-w64.cmake.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QM_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
# Programs built here run under 64-bit Wine (test discovery, ctest), started
# by its own loader: /usr/bin/wine starts the 32-bit one when the 32-bit Wine
# is installed.
find_program(QM_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(QM_WINE64 NAMES wine64 wine)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QM_WINE64})

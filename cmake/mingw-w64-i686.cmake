# Cross build for 32-bit Windows (x86); see mingw-w64.cmake. Its programs
# run under the 32-bit Wine only (bash scripts/windows x86-run).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QM_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

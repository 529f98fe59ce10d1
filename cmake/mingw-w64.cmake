# Cross build for Windows with Debian's MinGW-w64 (the POSIX thread model,
# which std::thread and std::mutex need), for the processor that the
# including toolchain file names in QM_MINGW:
#   cmake/mingw-w64-x86_64.cmake   64-bit Windows (x64)
#   cmake/mingw-w64-i686.cmake     32-bit Windows (x86)
# Usage:
#   cmake -S . -B build-windows \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#     -DQUILLMORE_WINDOWS_DEPS=<prefix of the cross-built libxml2, libxslt, gtest>
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QM_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${QM_MINGW}-windres)
set(CMAKE_AR ${QM_MINGW}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${QM_MINGW}-gcc-ranlib-posix CACHE FILEPATH "")

# Dependencies come from the MinGW sysroot and the cross-built prefix only,
# never from the build machine.
set(QUILLMORE_WINDOWS_DEPS "" CACHE PATH
    "Prefix of the cross-built libxml2, libxslt and GoogleTest")
set(CMAKE_FIND_ROOT_PATH /usr/${QM_MINGW} ${QUILLMORE_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

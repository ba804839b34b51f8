# SPDX-License-Identifier: Apache-2.0
# Cross build for 64-bit Windows with Debian's mingw-w64 (the POSIX-threads
# variant, which std::thread and std::mutex need):
#
#   cmake -S . -B build-mingw -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# (any build folder will do; scripts/build.sh mingw uses build-mingw/).
# Programs are linked statically: each .exe runs on a bare Windows with
# nothing to install.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(AFC_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${AFC_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${AFC_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${AFC_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${AFC_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# libz.a, not the import library of zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)

# Programs built here (tests included) run under Wine, in a prefix inside
# the build folder: CMakeLists.txt makes the build folder's wine.sh the
# emulator.

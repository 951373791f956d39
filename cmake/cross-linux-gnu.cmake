# Cross build for Linux on another processor with Debian's cross compiler for it
# (g++-TARGET-linux-gnu); CTest runs the tests under qemu-TARGET (Debian's qemu-user).
#   cmake -S . -B build-aarch64 -DDRAVOK_TARGET=aarch64 \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/cross-linux-gnu.cmake
# CI builds aarch64 (64-bit ARM) and s390x (big-endian) this way.
if(NOT DRAVOK_TARGET)
  message(FATAL_ERROR "give the target processor: -DDRAVOK_TARGET=aarch64 (or s390x, ...)")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DRAVOK_TARGET)
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${DRAVOK_TARGET})
set(CMAKE_CXX_COMPILER ${DRAVOK_TARGET}-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${DRAVOK_TARGET}-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${DRAVOK_TARGET} -L /usr/${DRAVOK_TARGET}-linux-gnu)

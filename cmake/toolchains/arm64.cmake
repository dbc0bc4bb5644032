# 64-bit ARM (Debian arm64): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm64.cmake
set(CONTROLLER_TARGET_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CONTROLLER_TARGET_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/DebianMultiarch.cmake)

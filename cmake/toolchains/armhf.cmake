# 32-bit ARM with hardware floating point (Debian armhf): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armhf.cmake
set(CONTROLLER_TARGET_TRIPLET arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CONTROLLER_TARGET_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/DebianMultiarch.cmake)

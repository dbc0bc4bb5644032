# 32-bit ARM with hardware floating point (Debian armhf): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armhf.cmake
set(CONTROLLER_TARGET_TRIPLET arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CONTROLLER_TARGET_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/DebianMultiarch.cmake)
# GCC notes at every std::vector insertion that parameter passing on this
# architecture changed in GCC 7.1; all of it is built by one GCC here.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

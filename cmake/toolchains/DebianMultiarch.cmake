# Cross-compiling for another Debian architecture with the distribution's own
# cross compiler and the target's multiarch packages (dpkg --add-architecture),
# so the target's headers and libraries sit beside the build machine's under
# /usr/include/<triplet> and /usr/lib/<triplet>. Included by the toolchain file
# of each architecture after it has set CONTROLLER_TARGET_TRIPLET,
# CMAKE_SYSTEM_PROCESSOR and CONTROLLER_TARGET_QEMU.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${CONTROLLER_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${CONTROLLER_TARGET_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${CONTROLLER_TARGET_TRIPLET})

# The host's pkg-config would hand out the build machine's libraries; the
# triplet's wrapper looks in the target's multiarch folder only.
set(PKG_CONFIG_EXECUTABLE ${CONTROLLER_TARGET_TRIPLET}-pkg-config CACHE FILEPATH "pkg-config of the target")

# Libraries, headers and CMake packages of the target only; programs (moc,
# rcc, lrelease, gzip) are the build machine's. Qt's CMake packages of the
# target name the host tools under /usr/lib/qt6, which are the build machine's
# on a multiarch system.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# Tests and anything else CMake runs of the target go through user-mode
# emulation; the target's dynamic loader and libraries are found where
# multiarch put them, so no -L prefix is needed.
find_program(CONTROLLER_TARGET_EMULATOR ${CONTROLLER_TARGET_QEMU} PATHS /usr/bin NO_CMAKE_FIND_ROOT_PATH)
if(CONTROLLER_TARGET_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CONTROLLER_TARGET_EMULATOR})
endif()

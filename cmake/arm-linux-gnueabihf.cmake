# Cross build for 32-bit Arm Linux (hard-float EABI) with Debian's arm-linux-gnueabihf tools.
# Programs built here run on the build machine through qemu-arm: CMake and CTest prefix every
# test command with CMAKE_CROSSCOMPILING_EMULATOR; -L lets dynamically linked ones find the
# Arm loader and libraries too, and ZF_EMULATED=1 lets the slowest tests pick a smaller input
# (tests/support/emulation.h).
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(ZF_ARM_TRIPLE arm-linux-gnueabihf)
set(ZF_ARM_SYSROOT /usr/${ZF_ARM_TRIPLE})
set(CMAKE_C_COMPILER ${ZF_ARM_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ZF_ARM_TRIPLE}-g++)

# GCC notes every std::pair or struct argument whose passing changed in GCC 7.1; nothing here
# is linked against objects that old.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")

# Headers and libraries come from the Arm tree only; programs (qemu, tools) from the host.
set(CMAKE_FIND_ROOT_PATH ${ZF_ARM_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ZF_QEMU_ARM qemu-arm)
if(ZF_QEMU_ARM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ZF_QEMU_ARM} -L ${ZF_ARM_SYSROOT} -E ZF_EMULATED=1)
endif()

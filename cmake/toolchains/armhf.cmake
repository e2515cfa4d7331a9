# Cross build for the board with Debian's arm-linux-gnueabihf toolchain
# (glibc). Where qemu-user is installed, the build's programs run on the PC
# through it, which is how the unit tests run on the board's instruction
# set, pointer size and struct layouts. A build that runs no tests does not
# need it.

include(${CMAKE_CURRENT_LIST_DIR}/cortex-a7.cmake)

set(CMAKE_C_COMPILER ${QV_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QV_CROSS_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${QV_CROSS_TRIPLET})

# -L makes qemu load the target's dynamic loader and libraries from the
# cross toolchain's tree instead of the PC's.
find_program(QV_QEMU_ARM qemu-arm)
if(QV_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QV_QEMU_ARM} -L /usr/${QV_CROSS_TRIPLET})
endif()

# The board's processor: i.MX6UL, one Cortex-A7 with NEON and hard float.
# Included by the toolchain files in this folder.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

# Debian's cross compiler for the board's instruction set; the C library
# comes from the toolchain file that includes this one.
set(QV_CROSS_TRIPLET arm-linux-gnueabihf)
set(QV_CPU_FLAGS "-mcpu=cortex-a7 -mfpu=neon-vfpv4 -mfloat-abi=hard")
set(CMAKE_C_FLAGS_INIT "${QV_CPU_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${QV_CPU_FLAGS}")

# The binary tools of the cross toolchain, whatever the compiler's name: the
# PC's own strip and ar do not understand ARM objects.
foreach(tool IN ITEMS ar ranlib nm objcopy objdump readelf strip)
  string(TOUPPER ${tool} var)
  find_program(CMAKE_${var} NAMES ${QV_CROSS_TRIPLET}-${tool} REQUIRED)
endforeach()

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

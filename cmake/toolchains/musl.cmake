# Cross build for the board against musl, the C library of OpenWrt, with
# Debian's musl-dev:armhf. It builds what ships (no tests): a call that only
# glibc has fails to link here before it reaches the firmware build.
#
# musl-dev provides arm-linux-musleabihf-gcc, a wrapper that points the
# arm-linux-gnueabihf compiler at musl's headers, start files and libc.so
# through a specs file. There is no C++ wrapper: C++ is compiled by the same
# cross g++ with musl's headers in place of glibc's and libstdc++'s header
# paths put back in front of them (only its header-only parts are used).
# Everything is linked by the C wrapper, as every shipped target is.

include(${CMAKE_CURRENT_LIST_DIR}/cortex-a7.cmake)

set(QV_MUSL_TRIPLET arm-linux-musleabihf)
set(CMAKE_C_COMPILER ${QV_MUSL_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QV_CROSS_TRIPLET}-g++)
# musl-dev has no sysroot to search; this root only keeps find_library and
# find_path from finding the PC's libraries and headers.
set(CMAKE_FIND_ROOT_PATH /usr/lib/${QV_MUSL_TRIPLET})

execute_process(COMMAND ${QV_CROSS_TRIPLET}-gcc -dumpversion
  OUTPUT_VARIABLE gcc_version OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${QV_CROSS_TRIPLET}-gcc -print-file-name=include
  OUTPUT_VARIABLE gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(cxx_include /usr/${QV_CROSS_TRIPLET}/include/c++/${gcc_version})

# musl-dev brings no kernel headers. The cross toolchain's (the kernel's own
# interface: MTD, MII, sockets...) are linked into a folder of their own,
# so that none of glibc's headers, which sit beside them, can be found.
# Every run of this file makes the links afresh.
set(QV_KERNEL_HEADERS ${CMAKE_BINARY_DIR}/kernel-headers)
file(MAKE_DIRECTORY ${QV_KERNEL_HEADERS})
foreach(dir IN ITEMS asm asm-generic drm linux misc mtd rdma sound video xen)
  file(CREATE_LINK /usr/${QV_CROSS_TRIPLET}/include/${dir} ${QV_KERNEL_HEADERS}/${dir} SYMBOLIC)
endforeach()
# The C wrapper's specs put musl's headers first; these come after them.
string(APPEND CMAKE_C_FLAGS_INIT " -isystem ${QV_KERNEL_HEADERS}")

# libstdc++'s headers first: they reach the C headers with #include_next.
# Its configuration header was made for glibc and asks for glibc's version
# macro, which musl does not have; musl-cxx.h answers it.
string(JOIN " " CMAKE_CXX_FLAGS_INIT ${CMAKE_CXX_FLAGS_INIT}
  -nostdinc
  -isystem ${cxx_include}
  -isystem ${cxx_include}/${QV_CROSS_TRIPLET}
  -isystem ${cxx_include}/backward
  -isystem /usr/include/${QV_MUSL_TRIPLET}
  -isystem ${QV_KERNEL_HEADERS}
  -isystem ${gcc_include}
  -include ${CMAKE_CURRENT_LIST_DIR}/musl-cxx.h)

# The compiler checks compile only: linking a C++ test program would ask
# for the glibc build of libstdc++.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

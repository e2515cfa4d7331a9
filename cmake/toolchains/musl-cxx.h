/* Read before every C++ source of the musl build (see musl.cmake).
 * libstdc++'s configuration header tests glibc's version with
 * __GLIBC_PREREQ; under musl no glibc feature is there. */
#ifndef __GLIBC_PREREQ
#define __GLIBC_PREREQ(major, minor) 0
#endif

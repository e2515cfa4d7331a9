# Checks on what the built files ask of the system: their NEEDED entries and
# their exported dynamic symbols. readelf reads any ELF, so the same checks
# serve the cross builds.

find_program(QV_READELF NAMES ${CMAKE_CXX_COMPILER_TARGET}-readelf readelf REQUIRED)
set(QV_LINK_CHECK ${CMAKE_CURRENT_LIST_DIR}/check-elf.sh)

# qv_check_needed(<target> <lib>...): the target's NEEDED entries are exactly
# <lib>... A program whose tests check it so needs more than libc, which
# tests/link checks every other program for.
function(qv_check_needed target)
  if(NOT QV_LINK_CHECKS)
    return()
  endif()
  add_test(NAME link.needed.${target}
    COMMAND sh ${QV_LINK_CHECK} needed ${QV_READELF} $<TARGET_FILE:${target}> ${ARGN})
  set_property(TARGET ${target} PROPERTY QV_NEEDED_CHECKED ON)
endfunction()

# qv_check_exports(<target> <symbol>...): the target exports exactly <symbol>...
function(qv_check_exports target)
  if(NOT QV_LINK_CHECKS)
    return()
  endif()
  add_test(NAME link.exports.${target}
    COMMAND sh ${QV_LINK_CHECK} exports ${QV_READELF} $<TARGET_FILE:${target}> ${ARGN})
endfunction()

# qv_check_exports_include(<target> <symbol>...): the target exports at least <symbol>...
function(qv_check_exports_include target)
  if(NOT QV_LINK_CHECKS)
    return()
  endif()
  add_test(NAME link.exports-include.${target}
    COMMAND sh ${QV_LINK_CHECK} exports-include ${QV_READELF} $<TARGET_FILE:${target}> ${ARGN})
endfunction()

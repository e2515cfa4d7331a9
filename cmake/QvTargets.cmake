# Build settings shared by every target.
#
# Everything that goes onto the device is built without exceptions, RTTI and
# thread-safe statics and is linked by the C driver, so nothing can quietly
# pull in libstdc++ (about 2 MB the flash does not have): a stray `new` or
# virtual destructor becomes a link error instead of a NEEDED entry.
# --no-as-needed makes the NEEDED check mean something whatever the
# toolchain's default is. No spare entries are reserved in the dynamic
# section (the linker's default of five is room for a prelinker, which the
# firmware does not use): they sit in the RELRO data, whose start decides
# whether a small file's read-only part fits its first page.

add_library(qv_warnings INTERFACE)
target_compile_options(qv_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wcast-qual $<$<BOOL:${QV_WERROR}>:-Werror>)

add_library(qv_device_options INTERFACE)
target_link_libraries(qv_device_options INTERFACE qv_warnings)
target_compile_options(qv_device_options INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
  -fvisibility=hidden)
target_link_options(qv_device_options INTERFACE -Wl,--no-as-needed -Wl,--spare-dynamic-tags=0)
# A sanitized shared library leaves the sanitizer's symbols to the program.
if(NOT QV_SANITIZE)
  target_link_options(qv_device_options INTERFACE -Wl,-z,defs)
endif()

# qv_device_target(<target>): a program or library that ships to the device.
function(qv_device_target target)
  target_link_libraries(${target} PRIVATE qv_device_options)
  set_target_properties(${target} PROPERTIES
    LINKER_LANGUAGE C
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  # Our libraries have no static objects to construct or destroy, so they
  # are linked without the C runtime's start files (crti, crtbeginS...).
  # Those bring init and fini code, four weak imports and their relocations:
  # about 500 bytes, enough to push a small library's read-only part past
  # the first page, which costs a further 4 KiB of padding in the file
  # because the RELRO data has to start on a page of its own. A static
  # object with a destructor would need the start files' __dso_handle and
  # then fails to link under -z defs instead of misbehaving.
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    target_link_options(${target} PRIVATE -nostartfiles)
  endif()
endfunction()

# Objects compiled with the device options but linked into a test.
function(qv_device_objects target)
  target_link_libraries(${target} PUBLIC qv_warnings)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    POSITION_INDEPENDENT_CODE ON)
endfunction()

# qv_budget(<target> <bytes>): the stripped bytes a shipped file may take
# on the flash, which scripts/footprint-report holds it to (a library by
# its name without the version).
function(qv_budget target bytes)
  if(NOT bytes MATCHES "^[1-9][0-9]*$")
    message(FATAL_ERROR "qv_budget(${target}): ${bytes} is no number of bytes")
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    set_property(GLOBAL APPEND PROPERTY QV_BUDGETS "$<TARGET_LINKER_FILE_NAME:${target}>=${bytes}")
  else()
    set_property(GLOBAL APPEND PROPERTY QV_BUDGETS "$<TARGET_FILE_NAME:${target}>=${bytes}")
  endif()
endfunction()

# qv_write_budgets(): the budgets of every shipped file, one name=bytes a
# line, in footprint-budgets of the build folder; called once the whole
# tree is read.
function(qv_write_budgets)
  get_property(budgets GLOBAL PROPERTY QV_BUDGETS)
  list(JOIN budgets "\n" text)
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/footprint-budgets CONTENT "${text}\n")
endfunction()

# qv_tool(<program> CORE <archive> SOURCES <file>... BUDGET <bytes>
#         [FAKE flash|mii] [LIBS <target>...] [PROGRAM_LIBS <library>...]
#         [EXPORTS <symbol>...])
# A program that ships. Its sources are the archive <archive>, which the
# tests link in front of their fakes; the program is the shared main
# (tools/main.cpp, which knows the program by its fixed name QV_PROGRAM)
# calling the archive's tool_main. The tests get the same main as the
# object library <program>_main, whose function is program_main. LIBS are
# the archive's, PROGRAM_LIBS only the program's (the tests link a fake in
# their place); EXPORTS go into the program's dynamic symbol table. BUDGET
# is its stripped size on the flash (qv_budget). FAKE says what of the
# kernel its case table runs it over on the PC: the fake flash (/dev/mtd3)
# or the fake driver of eth0's PHY; without it the table runs the program
# itself.
#
# Each program is listed in the global property QV_PROGRAMS, from which the
# link checks, the install check and the case tables take the programs
# that ship; the target's properties QV_CORE and QV_FAKE keep its archive
# and fake.
function(qv_tool program)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "CORE;BUDGET;FAKE" "SOURCES;LIBS;PROGRAM_LIBS;EXPORTS")
  if(NOT arg_BUDGET)
    message(FATAL_ERROR "qv_tool(${program}): no BUDGET")
  endif()
  if(arg_FAKE AND NOT arg_FAKE MATCHES "^(flash|mii)$")
    message(FATAL_ERROR "qv_tool(${program}): FAKE is flash or mii, not ${arg_FAKE}")
  endif()
  add_library(${arg_CORE} STATIC ${arg_SOURCES})
  target_include_directories(${arg_CORE} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${arg_CORE} PUBLIC ${arg_LIBS})
  qv_device_objects(${arg_CORE})
  if(BUILD_TESTING)
    add_library(${program}_main OBJECT ${PROJECT_SOURCE_DIR}/tools/main.cpp)
    target_compile_definitions(${program}_main PRIVATE QV_PROGRAM="${program}" main=program_main)
    qv_device_objects(${program}_main)
  endif()

  add_executable(${program} ${PROJECT_SOURCE_DIR}/tools/main.cpp)
  target_compile_definitions(${program} PRIVATE QV_PROGRAM="${program}")
  target_link_libraries(${program} PRIVATE ${arg_CORE} ${arg_PROGRAM_LIBS})
  foreach(symbol IN LISTS arg_EXPORTS)
    target_link_options(${program} PRIVATE -Wl,--export-dynamic-symbol=${symbol})
  endforeach()
  qv_device_target(${program})
  install(TARGETS ${program} RUNTIME DESTINATION sbin)

  qv_budget(${program} ${arg_BUDGET})
  set_target_properties(${program} PROPERTIES QV_CORE ${arg_CORE} QV_FAKE "${arg_FAKE}")
  set_property(GLOBAL APPEND PROPERTY QV_PROGRAMS ${program})
endfunction()

# When a target with C++ objects is linked by the C driver, CMake adds the
# C++ compiler's implicit libraries (libstdc++, libm) to its command line.
# The device's targets must not have them; targets linked by g++ (the tests)
# get libstdc++ from the driver itself.
set(CMAKE_CXX_IMPLICIT_LINK_LIBRARIES "")

# Sanitizer builds instrument everything, tests and shipped code alike.
if(QV_SANITIZE)
  add_compile_options(-fsanitize=${QV_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # The function-type check needs RTTI, which the device code has not.
    add_compile_options(-fno-sanitize=function)
  endif()
  add_link_options(-fsanitize=${QV_SANITIZE})
endif()
if(QV_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "the fuzz harnesses need clang (libFuzzer)")
  endif()
  # Coverage for the fuzzer in all code; the harnesses add the driver.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Building TAP files.
#
# A TAP is an ELF shared object that the firmware loads: C++17 without
# exceptions or RTTI, without the C start files (the TAP exports its own
# _init), bound to its own symbols first (two TAPs with the same names must
# not mix).  It takes its libc and loader calls from the firmware's process,
# as a plug-in does: linked with no library but the compiler's static
# helpers, so the file names no library (no NEEDED entry) and asks for no
# symbol versions; its undefined symbols are plain names that the loader
# binds to whatever C library the receiver has.  Which names those may be
# is in firmware/platform-calls.txt, and tests/tapfile checks every TAP
# against it, since the link itself no longer proves that each one resolves.

set(TAP_COMPILE_OPTIONS -fPIC -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-asynchronous-unwind-tables -fvisibility=hidden
    # no folder of the build machine in a TAP file: the same commit gives
    # the same bytes wherever it is built
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)
# The receiver's TAP code runs on every MIPS32 CPU: the base instruction set
# (release 1), not the toolchain's default release 2.
# Its code is optimised for size: a receiver loads the whole TAP file's
# code into a small memory, and the payload must start early in the file.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^mips")
  list(APPEND TAP_COMPILE_OPTIONS -march=mips32 -Os)
endif()

# Code that goes into TAPs and into the tests alike (the support library,
# the installer's units) is compiled with these options.
function(tap_code_options target)
  target_compile_options(${target} PRIVATE ${TAP_COMPILE_OPTIONS})
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# add_tap(<name> SOURCES <files...> [LIBRARIES <libs...>] [OUTPUT_DIRECTORY <dir>]
#         [OUTSIDE_PLATFORM])
# builds <dir>/<name>.tap (default dir: the build folder's top).  Every TAP
# is listed in the global properties TAP_TARGETS and TAP_FILES, whose files
# the tests hold to the platform's calls; OUTSIDE_PLATFORM leaves out a
# test TAP that calls beyond them on purpose (one that tries to escape the
# stand-in, say).
#
# The link: -nodefaultlibs leaves out libc, libstdc++ and libm (and with
# the C++ driver CMake adds none of them either); the 64-bit division
# helpers (tap_divide) and then libgcc.a come in statically for what the
# compiler calls by name.
function(add_tap name)
  cmake_parse_arguments(TAP "OUTSIDE_PLATFORM" "OUTPUT_DIRECTORY" "SOURCES;LIBRARIES" ${ARGN})
  if(NOT TAP_OUTPUT_DIRECTORY)
    set(TAP_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  endif()
  add_library(${name} MODULE ${TAP_SOURCES} $<TARGET_OBJECTS:tap_calls>)
  tap_code_options(${name})
  target_link_libraries(${name} PRIVATE ${TAP_LIBRARIES} tap_divide gcc)
  target_link_options(${name} PRIVATE -nostartfiles -nodefaultlibs -Wl,-Bsymbolic
      -Wl,--build-id=none)
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".tap" LINKER_LANGUAGE CXX
      LIBRARY_OUTPUT_DIRECTORY ${TAP_OUTPUT_DIRECTORY})
  if(NOT TAP_OUTSIDE_PLATFORM)
    set_property(GLOBAL APPEND PROPERTY TAP_TARGETS ${name})
    set_property(GLOBAL APPEND PROPERTY TAP_FILES ${TAP_OUTPUT_DIRECTORY}/${name}.tap)
  endif()
endfunction()

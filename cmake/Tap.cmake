# Building TAP files.
#
# A TAP is an ELF shared object that the firmware loads: C++17 without
# exceptions or RTTI, linked with the C driver so that it needs no
# libstdc++ at run time, without the C start files (the TAP exports its
# own _init), bound to its own symbols first (two TAPs with the same
# names must not mix), and with every undefined symbol resolved against
# libc at link time.

set(TAP_COMPILE_OPTIONS -fPIC -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -fno-asynchronous-unwind-tables -fvisibility=default
    # no folder of the build machine in a TAP file: the same commit gives
    # the same bytes wherever it is built
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)

# Code that goes into TAPs and into the tests alike (the support library,
# the installer's units) is compiled with these options.
function(tap_code_options target)
  target_compile_options(${target} PRIVATE ${TAP_COMPILE_OPTIONS})
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# add_tap(<name> SOURCES <files...> [LIBRARIES <libs...>] [OUTPUT_DIRECTORY <dir>])
# builds <dir>/<name>.tap (default dir: the build folder's top).
function(add_tap name)
  cmake_parse_arguments(TAP "" "OUTPUT_DIRECTORY" "SOURCES;LIBRARIES" ${ARGN})
  if(NOT TAP_OUTPUT_DIRECTORY)
    set(TAP_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  endif()
  add_library(${name} MODULE ${TAP_SOURCES} $<TARGET_OBJECTS:tap_calls>)
  tap_code_options(${name})
  target_link_libraries(${name} PRIVATE ${TAP_LIBRARIES})
  target_link_options(${name} PRIVATE -nostartfiles -static-libgcc -Wl,-Bsymbolic
      -Wl,-z,defs -Wl,--as-needed -Wl,--build-id=none)
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".tap" LINKER_LANGUAGE C
      LIBRARY_OUTPUT_DIRECTORY ${TAP_OUTPUT_DIRECTORY})
endfunction()

# The installer's payload: the time that stamps every archive entry, the
# tappack that packs it, and the packing of an installer TAP.

# SOURCE_DATE_EPOCH: the environment's when a packager sets it, otherwise
# the time of the last commit (a new commit reconfigures), otherwise the
# time of the top CMakeLists.txt (a source tree without git).
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(PAYLOAD_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE PAYLOAD_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE git_result ERROR_QUIET)
  execute_process(COMMAND git rev-parse --path-format=absolute --git-path logs/HEAD
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE git_head_log
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(git_head_log AND EXISTS ${git_head_log})
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${git_head_log})
  endif()
  if(NOT git_result EQUAL 0 OR NOT PAYLOAD_SOURCE_DATE_EPOCH)
    file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CMakeLists.txt PAYLOAD_SOURCE_DATE_EPOCH "%s" UTC)
  endif()
endif()
if(NOT PAYLOAD_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is no count of seconds: '${PAYLOAD_SOURCE_DATE_EPOCH}'")
endif()
# Rewritten only when the time changes, so that the packing reruns then.
set(PAYLOAD_EPOCH_FILE ${CMAKE_BINARY_DIR}/source-date-epoch.txt)
file(CONFIGURE OUTPUT ${PAYLOAD_EPOCH_FILE} CONTENT "${PAYLOAD_SOURCE_DATE_EPOCH}\n")

# tappack is a PC program: the PC build makes it, the receiver build uses
# the PC build's (cmake/PcBuild.cmake).
if(CMAKE_CROSSCOMPILING)
  set(TAPPACK ${PC_BUILD}/tappack)
  set(TAPPACK_DEPENDS ${TAPPACK})
else()
  set(TAPPACK $<TARGET_FILE:tappack>)
  set(TAPPACK_DEPENDS tappack)
endif()

# add_installer_tap(<name> FROM <TAP target> TREE <folder> [DEPENDS <files or targets...>])
# builds ${CMAKE_BINARY_DIR}/<name>.tap: the TAP file of the target,
# stripped of debug information, with the archive of the folder's
# contents as its payload.
function(add_installer_tap name)
  cmake_parse_arguments(P "" "FROM;TREE" "DEPENDS" ${ARGN})
  set(output ${CMAKE_BINARY_DIR}/${name}.tap)
  set(stripped ${CMAKE_CURRENT_BINARY_DIR}/${name}-stripped.tap)
  add_custom_command(OUTPUT ${output}
      # no debug information, nor the compiler's notes and MIPS procedure
      # descriptors, which only debuggers read
      COMMAND ${CMAKE_STRIP} --strip-debug -R .comment -R .pdr -o ${stripped} $<TARGET_FILE:${P_FROM}>
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${PAYLOAD_SOURCE_DATE_EPOCH}
              ${TAPPACK} pack ${stripped} ${P_TREE} ${output}
      DEPENDS ${P_FROM} ${TAPPACK_DEPENDS} ${P_DEPENDS} ${PAYLOAD_EPOCH_FILE}
      BYPRODUCTS ${stripped}
      COMMENT "Packing the payload into ${name}.tap"
      VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${output})
  # the shipped file is a TAP file like any other: the checks of every TAP cover it too
  set_property(GLOBAL APPEND PROPERTY TAP_TARGETS ${name})
  set_property(GLOBAL APPEND PROPERTY TAP_FILES ${output})
  if(TARGET pc_programs)
    add_dependencies(${name} pc_programs)
  endif()
endfunction()

# Run by the receiver build (cmake -P): brings the PC programs TARGETS up
# to date in the PC build folder PC_BUILD, configuring that folder from
# SOURCE_DIR first when it has never been configured.
if(NOT EXISTS ${PC_BUILD}/CMakeCache.txt)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${PC_BUILD} -DCMAKE_BUILD_TYPE=RelWithDebInfo
      RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot configure the PC build in ${PC_BUILD}")
  endif()
endif()
# A make of its own: the calling make shares no job slots with it, and it
# need not say which folder it enters.
set(ENV{MAKEFLAGS} "")
set(ENV{MAKELEVEL} "")
execute_process(COMMAND ${CMAKE_COMMAND} --build ${PC_BUILD} --target ${TARGETS} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot build ${TARGETS} in ${PC_BUILD}")
endif()

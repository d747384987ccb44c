# Run by the receiver build (cmake -P): brings the PC program TARGET up to
# date in the PC build folder HOST_BUILD, configuring that folder from
# SOURCE_DIR first when it has never been configured.
if(NOT EXISTS ${HOST_BUILD}/CMakeCache.txt)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${HOST_BUILD} -DCMAKE_BUILD_TYPE=RelWithDebInfo
      RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot configure the PC build in ${HOST_BUILD}")
  endif()
endif()
# A make of its own (the calling make shares no job slots with it).
set(ENV{MAKEFLAGS} "")
execute_process(COMMAND ${CMAKE_COMMAND} --build ${HOST_BUILD} --target ${TARGET} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cannot build ${TARGET} in ${HOST_BUILD}")
endif()

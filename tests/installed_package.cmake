# Installs the library into a scratch prefix, then builds and runs a consumer
# project against it with find_package.
set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
foreach(step
    "${CMAKE_COMMAND};--install;${BUILD};--prefix;${prefix}"
    "${CMAKE_COMMAND};-S;${SOURCE};-B;${WORK}/build;-G;Ninja;-DCMAKE_PREFIX_PATH=${prefix};-DCMAKE_BUILD_RPATH=${prefix}/lib"
    "${CMAKE_COMMAND};--build;${WORK}/build"
    "${WORK}/build/consumer")
  execute_process(COMMAND ${step} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${step} failed:\n${out}\n${err}")
  endif()
endforeach()
message(STATUS "installed package works: ${out}")

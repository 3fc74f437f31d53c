# Installs the library into a scratch prefix and consumes it as users do: a CMake
# project with find_package, the C example built with pkg-config, the installed tool,
# and the installed Python package, all without LD_LIBRARY_PATH.
set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
set(sim "KMT_DRIVER=sim:clock=virtual")
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
foreach(step
    "${CMAKE_COMMAND};--install;${BUILD};--prefix;${prefix}"
    # find_package: the version-checking consumer and the examples.
    "${CMAKE_COMMAND};-S;${SOURCE};-B;${WORK}/build;-G;Ninja;-DCMAKE_PREFIX_PATH=${prefix}"
    "${CMAKE_COMMAND};--build;${WORK}/build"
    "${WORK}/build/consumer"
    "${CMAKE_COMMAND};-S;${EXAMPLES};-B;${WORK}/examples;-G;Ninja;-DCMAKE_PREFIX_PATH=${prefix}"
    "${CMAKE_COMMAND};--build;${WORK}/examples"
    "${CMAKE_COMMAND};-E;env;${sim};${WORK}/examples/read_inputs"
    "${CMAKE_COMMAND};-E;env;${sim};${WORK}/examples/controller"
    # pkg-config, as the example's comment says.
    "sh;-c;cc ${EXAMPLES}/read_inputs.c -o ${WORK}/read_inputs $(pkg-config --cflags --libs kmtv1) -Wl,-rpath,$(pkg-config --variable=libdir kmtv1)"
    "${CMAKE_COMMAND};-E;env;${sim};${WORK}/read_inputs"
    # The installed tools find the library through their run path.
    "${CMAKE_COMMAND};-E;env;${sim};${prefix}/bin/kmtv1;list"
    "${CMAKE_COMMAND};-E;env;${sim};${prefix}/bin/kmtv1-demo"
    # The installed tool finds its helper programs under libexec.
    "${CMAKE_COMMAND};-E;env;${sim};--unset=KMTV1_EXEC_PATH;${prefix}/bin/kmtv1;doctor"
    # The installed Python package loads the library installed with it.
    "${CMAKE_COMMAND};-E;env;--unset=KMTV1_LIBRARY;${sim};PYTHONPATH=${prefix}/${PYTHON_DIR};${PYTHON};-c;import kmtv1\nprint(kmtv1.lib._name, kmtv1.list_controllers()[0].full_serial)")
  execute_process(COMMAND ${step} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${step} failed:\n${out}\n${err}")
  endif()
endforeach()
if(NOT out MATCHES "^${prefix}/${LIBDIR}/libkmtv1.so.1 KMTC0002SIM00001")
  message(FATAL_ERROR "the installed Python package loaded another library: ${out}")
endif()
message(STATUS "installed package works: ${out}")

# Fails unless each program links the shared library and holds none of the library's
# own code: a tool built on the exported functions, as a user's program would be.
# PROGRAMS: the programs; LIBRARY_SONAME: the shared library's name, e.g. libkmtv1.so.1.
foreach(program IN LISTS PROGRAMS)
  execute_process(COMMAND readelf -d ${program} OUTPUT_VARIABLE dynamic RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT dynamic MATCHES "NEEDED[^\n]*\\[${LIBRARY_SONAME}\\]")
    message(FATAL_ERROR "${program} does not link ${LIBRARY_SONAME}")
  endif()
  execute_process(COMMAND nm -C --defined-only ${program} OUTPUT_VARIABLE symbols
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "nm failed on ${program}")
  endif()
  # The library's internal namespaces and classes.
  string(REGEX MATCHALL
         "[^\n]*kmt::(device|sim|abi|d2xx|tty|platform)::[^\n]*|[^\n]*kmt::(Session|Transport|Library|Exchange|Driver|HandleTable|Platform)[^a-z_][^\n]*"
         internal "${symbols}")
  if(internal)
    list(JOIN internal "\n" internal)
    message(FATAL_ERROR "${program} holds the library's own code:\n${internal}")
  endif()
  message(STATUS "${program}: links ${LIBRARY_SONAME} and nothing of its inside")
endforeach()

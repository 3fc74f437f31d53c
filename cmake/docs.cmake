# The API reference (Doxygen). Optional: without doxygen the target is not there. The
# manual page kmtv1(1) is made with the other installed files (cmake/install.cmake),
# its extra sections from docs/kmtv1.h2m.

# kmtv1_doc: HTML reference of include/kmtv1.h into BUILD/doc/html; any undocumented
# export or parameter fails it (docs/Doxyfile.in). Not part of `all`: the docs stage
# builds it.
find_program(KMT_DOXYGEN doxygen)
if(KMT_DOXYGEN)
  configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/Doxyfile @ONLY)
  add_custom_target(kmtv1_doc
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${PROJECT_BINARY_DIR}/doc
    COMMAND ${KMT_DOXYGEN} ${PROJECT_BINARY_DIR}/Doxyfile
    DEPENDS ${PROJECT_SOURCE_DIR}/include/kmtv1.h ${PROJECT_SOURCE_DIR}/docs/Doxyfile.in
    COMMENT "API reference: ${PROJECT_BINARY_DIR}/doc/html/index.html"
    VERBATIM)
endif()


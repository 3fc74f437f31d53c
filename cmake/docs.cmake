# The API reference (Doxygen) and the manual page kmtv1(1) (help2man). Both optional:
# without the program the target is simply not there.

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

# kmtv1.1 from the tool's own --help and --version, with the sections of
# docs/kmtv1.h2m. The tool must run where it is built, so not when cross-compiling, and
# not in sanitizer builds (a sanitizer's report would fail the build, not a test).
find_program(KMT_HELP2MAN help2man)
if(KMT_HELP2MAN AND TARGET kmtv1-cli AND NOT CMAKE_CROSSCOMPILING AND NOT KMT_SANITIZE)
  set(kmt_man ${PROJECT_BINARY_DIR}/kmtv1.1)
  add_custom_command(OUTPUT ${kmt_man}
    COMMAND ${KMT_HELP2MAN} --no-info --no-discard-stderr --section=1
            "--name=drive a KMTC I/O controller from the command line"
            --include=${PROJECT_SOURCE_DIR}/docs/kmtv1.h2m --output=${kmt_man}
            $<TARGET_FILE:kmtv1-cli>
    DEPENDS kmtv1-cli ${PROJECT_SOURCE_DIR}/docs/kmtv1.h2m
    COMMENT "Manual page kmtv1.1"
    VERBATIM)
  add_custom_target(kmtv1_man ALL DEPENDS ${kmt_man})
  install(FILES ${kmt_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

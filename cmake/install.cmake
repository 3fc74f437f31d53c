# What `cmake --install` adds beyond the library, its header, its CMake package and the
# udev rule: a pkg-config file, the tools with a run path that finds the installed
# library, and the Python package.
#
# Every installed path is relative to the prefix, so `cmake --install build --prefix P`
# works for any P chosen at install time.

function(kmt_relative_to_prefix out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

# pkg-config: the prefix is found from the .pc file's own folder.
set(KMT_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH KMT_PC_TO_PREFIX /prefix/${KMT_PKGCONFIG_DIR} /prefix)
string(REGEX REPLACE "/$" "" KMT_PC_TO_PREFIX "${KMT_PC_TO_PREFIX}")
kmt_relative_to_prefix(KMT_PC_LIBDIR ${CMAKE_INSTALL_LIBDIR})
kmt_relative_to_prefix(KMT_PC_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
configure_file(${PROJECT_SOURCE_DIR}/cmake/kmtv1.pc.in ${PROJECT_BINARY_DIR}/kmtv1.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kmtv1.pc DESTINATION ${KMT_PKGCONFIG_DIR} COMPONENT development)

# The tools find the library in ../lib (or wherever the library directory lies
# relative to the program directory), not through LD_LIBRARY_PATH. A library directory
# the dynamic loader searches anyway (/usr/lib/<multiarch> with the prefix /usr, as in
# the Debian packages) needs no run path, and Debian forbids one there.
list(FIND CMAKE_C_IMPLICIT_LINK_DIRECTORIES "${CMAKE_INSTALL_FULL_LIBDIR}" kmt_system_libdir)
if(kmt_system_libdir EQUAL -1)
  set(KMT_LIBDIR_IS_SYSTEM OFF)
else()
  set(KMT_LIBDIR_IS_SYSTEM ON)
endif()
if(NOT WIN32 AND NOT KMT_LIBDIR_IS_SYSTEM)
  file(RELATIVE_PATH kmt_bin_to_lib /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
  set(KMT_TOOL_RPATH "$ORIGIN/${kmt_bin_to_lib}")
  if(APPLE)
    set(KMT_TOOL_RPATH "@loader_path/${kmt_bin_to_lib}")
  endif()
  foreach(tool kmtv1-cli kmtv1-demo)
    if(TARGET ${tool})
      set_target_properties(${tool} PROPERTIES INSTALL_RPATH "${KMT_TOOL_RPATH}")
    endif()
  endforeach()
endif()
install(TARGETS kmtv1-demo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

# Manual pages of the programs on the PATH (Linux): the tool's from its own --help by
# help2man, the demo's written by hand; compressed as Debian wants them. Sanitized builds
# leave them out (their tool may report at exit), and an install without them goes on.
find_program(KMT_HELP2MAN help2man)
find_program(KMT_GZIP gzip)
if(NOT WIN32 AND NOT CMAKE_CROSSCOMPILING AND NOT KMT_SANITIZE AND KMT_HELP2MAN AND KMT_GZIP
   AND TARGET kmtv1-cli)
  set(kmt_man ${PROJECT_BINARY_DIR}/man)
  add_custom_command(
    OUTPUT ${kmt_man}/kmtv1.1.gz ${kmt_man}/kmtv1-demo.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${kmt_man}
    COMMAND ${KMT_HELP2MAN} --no-info
            "--name=drive a KMTC I/O controller from the command line"
            --output=${kmt_man}/kmtv1.1 $<TARGET_FILE:kmtv1-cli>
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/man/kmtv1-demo.1 ${kmt_man}
    COMMAND ${KMT_GZIP} -9nf ${kmt_man}/kmtv1.1 ${kmt_man}/kmtv1-demo.1
    DEPENDS kmtv1-cli ${PROJECT_SOURCE_DIR}/packaging/man/kmtv1-demo.1
    COMMENT "Manual pages" VERBATIM)
  add_custom_target(kmtv1-man ALL DEPENDS ${kmt_man}/kmtv1.1.gz ${kmt_man}/kmtv1-demo.1.gz)
  install(FILES ${kmt_man}/kmtv1.1.gz ${kmt_man}/kmtv1-demo.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools OPTIONAL)
endif()

# The Python package (pure Python; nothing compiled). It goes where the prefix's
# interpreter looks: Debian's python3 reads <prefix>/lib/python3.X/dist-packages for
# /usr/local and /usr/lib/python3/dist-packages for /usr (the Debian packages), other
# builds <prefix>/lib/python3.X/site-packages.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(Python3_FOUND)
  execute_process(
    COMMAND ${Python3_EXECUTABLE} -c "import sysconfig; print(sysconfig.get_path('purelib'))"
    OUTPUT_VARIABLE kmt_purelib OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(kmt_site_kind "${kmt_purelib}" NAME)
  if(NOT kmt_site_kind STREQUAL "dist-packages")
    set(kmt_site_kind site-packages)
  endif()
  set(kmt_python_default
      lib/python${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}/${kmt_site_kind})
  if(kmt_site_kind STREQUAL "dist-packages" AND CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(kmt_python_default lib/python3/dist-packages)
  endif()
else()
  set(kmt_python_default lib/python3/site-packages)
endif()
set(KMT_PYTHON_INSTALL_DIR ${kmt_python_default}
    CACHE STRING "Where cmake --install puts the Python package (relative to the prefix)")
# The installed package loads the library installed with it, found relative to itself.
file(RELATIVE_PATH KMT_PYTHON_TO_LIB /prefix/${KMT_PYTHON_INSTALL_DIR}/kmtv1
     /prefix/${CMAKE_INSTALL_LIBDIR})
if(WIN32)
  file(RELATIVE_PATH KMT_PYTHON_TO_LIB /prefix/${KMT_PYTHON_INSTALL_DIR}/kmtv1
       /prefix/${CMAKE_INSTALL_BINDIR})
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/kmtv1 DESTINATION ${KMT_PYTHON_INSTALL_DIR}
        COMPONENT python
        FILES_MATCHING PATTERN "*.py" PATTERN "py.typed" PATTERN "__pycache__" EXCLUDE)
# In a library directory of the dynamic loader the package finds the library by its
# name, like every other program; recording the directory there would also tie the
# pure-Python package to one architecture's directory.
if(NOT KMT_LIBDIR_IS_SYSTEM)
  file(WRITE ${PROJECT_BINARY_DIR}/python/_installed.py
       "# Written by cmake --install: the library installed with this package.\n"
       "LIBRARY_DIR = \"${KMT_PYTHON_TO_LIB}\"\n")
  install(FILES ${PROJECT_BINARY_DIR}/python/_installed.py
          DESTINATION ${KMT_PYTHON_INSTALL_DIR}/kmtv1 COMPONENT python)
endif()
